#pragma once
// The board's A/D codes: 12 bits over +-5 V. What a code means in volts, which codes
// are clipped samples, and the lowest code, highest code and clipped samples of each
// channel over rows of codes: a recording's lines (channels 1, 2, 3) or a scan's
// groups (channels 1, 2, 3, then the sweep marker, which is not counted).

#include <cstddef>
#include <cstdint>

// The ends of the 12-bit scale: a sample there is clipped.
inline constexpr uint16_t CodeLowest = 0;
inline constexpr uint16_t CodeHighest = 4095;

inline bool isClippedCode(uint16_t code) { return code == CodeLowest || code == CodeHighest; }

// A code of the +-5 V range: (code - 2048) / 2048 * 5. Every step of that is exact in
// doubles for any 16-bit code, and so is one multiply of code - 2048 by 5/2048 (exact in
// binary), which gives the same bits in one operation and vectorizes. Codes are used as
// delivered: above 4095 goes beyond +5 V.
inline double codeToVolts(uint16_t code)
{
    return static_cast<double>(int32_t(code) - 2048) * (5.0 / 2048.0);
}

struct CodeRange {
    uint16_t lowest = 65535;
    uint16_t highest = 0;
    int64_t clipped = 0;  // samples at CodeLowest or CodeHighest
};

// Adds `rows` rows of `rowCodes` codes each (3: a recording's line, 4: a scan group),
// channels 1, 2, 3 first in every row, to ranges[0..2]. rowCodes is 3 or 4.
void addCodeRanges(const uint16_t* codes, size_t rows, int rowCodes, CodeRange (&ranges)[3]);
