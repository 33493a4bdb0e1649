#pragma once
// Conversion of one number token of a recording (the bytes of an item, without
// surrounding blanks) to its value. Pure functions: the text reader collects the
// token, these decide whether it is a number.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rt {

// Decimal "[+-]digits", or hexadecimal "[+-]$hex", "[+-]x hex", "[+-]0x hex" (x in
// either case), within the signed 32-bit range. Anything else: false, value untouched.
bool scanIntToken(const char* text, size_t length, int32_t& value);

// "[+-]digits[.digits][(E|e)[+-]digits]" with at least one mantissa digit ("1." and
// ".5" are numbers). Correctly rounded; a magnitude beyond the double range gives no
// value, one below it reads as (signed) 0. Anything else: false, value untouched.
bool scanRealToken(const char* text, size_t length, double& value);

// The decimal digits at the start of the 8 bytes at text (all 8 readable): how many
// (0..8) and the value they spell. Two forms with the same results: one byte after
// another, and all 8 bytes at once as one 64-bit word.
int leadingDigitsPlain(const char* text, uint64_t& value);
int leadingDigits(const char* text, uint64_t& value);

// Bytes from text on that scanQuickReal may look at.
inline constexpr size_t QuickRealReach = 32;

// The usual real of a recording, "[+-]digits[.digits]" with at most 19 digits that
// spell an integer m of at most 2^53: its value m / 10^fraction digits, exact
// operands and one correctly rounded division, so the very value scanRealToken
// gives. after is the byte that follows the number, which the caller judges (a
// number ends at a byte <= 0x20). False for anything else (an exponent, more digits,
// no digit), leaving the rest to scanRealToken. QuickRealReach bytes from text on
// must be readable.
bool scanQuickReal(const char* text, const char*& after, double& value);

// Lines of one such real each, the number followed by CR (and one LF after it), from
// text on, as many as follow up to count while they start at or before last (with
// QuickRealReach bytes readable from last on): their values into values, text moved
// past them. Stops before any other line; returns how many it read.
size_t scanQuickRealLines(const char*& text, const char* last, double* values, size_t count);

}  // namespace rt

// ---- Inline: the reader calls these for every item. ------------------------------

namespace rt {

inline int leadingDigitsPlain(const char* text, uint64_t& value)
{
    int count = 0;
    value = 0;
    while (count < 8 && static_cast<unsigned char>(text[count] - '0') < 10) {
        value = value * 10 + uint64_t(text[count] - '0');
        ++count;
    }
    return count;
}

inline int leadingDigits(const char* text, uint64_t& value)
{
    if constexpr (std::endian::native != std::endian::little) {
        return leadingDigitsPlain(text, value);
    } else {
        // Byte k of the word is text[k]. A byte is a digit when its xor with '0' is
        // below 10: high nibble 0 and low nibble + 6 without a carry into bit 4.
        constexpr uint64_t Ones = 0x0101010101010101;
        uint64_t word;
        std::memcpy(&word, text, 8);
        const uint64_t x = word ^ (Ones * '0');
        const uint64_t low = x & (Ones * 0x0f);
        const uint64_t notDigit = (x & (Ones * 0xf0)) | ((low + Ones * 6) & (Ones * 0x10));
        const int count = std::countr_zero(notDigit) / 8;  // 64 / 8 when all are digits
        // The digits moved to the top of the word (its last bytes) read as an
        // 8-digit number with leading zeros, byte 0 the highest digit (none left when
        // count is 0: two shifts, as one by 64 bits would be undefined). Pairs, then
        // fours, then the eight, each step without a carry between its lanes.
        const int shift = 4 * (8 - count);
        uint64_t d = (low << shift) << shift;
        d = d * 10 + (d >> 8);                                      // bytes 0, 2, 4, 6: two digits
        d = d & 0x00ff00ff00ff00ff;
        d = d * 100 + (d >> 16);                                    // 16-bit lanes 0 and 2: four digits
        d = d & 0x0000ffff0000ffff;
        value = (d * 10000 + (d >> 32)) & 0xffffffff;              // all eight
        return count;
    }
}

inline bool scanQuickReal(const char* text, const char*& after, double& value)
{
    static constexpr uint64_t Scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    static constexpr double Powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9, 1e10,
                                        1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const char* q = text;
    const bool negative = *q == '-';
    if (negative || *q == '+')
        ++q;
    // Reach: a sign, at most 19 integer digits read 8 at a time (a word of 8 past
    // them at most), a point, and the fraction's words up to 27 digits in all: under
    // 32 bytes. Past 19 digits the sum may wrap; it is not used then.
    uint64_t mantissa = 0;
    int digits = 0;
    int count = 8;
    while (count == 8 && digits <= 19) {
        uint64_t part = 0;
        count = leadingDigits(q, part);
        mantissa = mantissa * Scale[count] + part;
        digits += count;
        q += count;
    }
    int fraction = 0;
    if (*q == '.' && digits <= 19) {
        ++q;
        count = 8;
        while (count == 8 && digits <= 19) {
            uint64_t part = 0;
            count = leadingDigits(q, part);
            mantissa = mantissa * Scale[count] + part;
            digits += count;
            fraction += count;
            q += count;
        }
    }
    if (digits == 0 || digits > 19 || mantissa > (uint64_t(1) << 53))
        return false;
    // The sign is set as a bit: no branch on a sign that changes from line to line.
    const double magnitude = static_cast<double>(mantissa) / Powers[fraction];
    value = std::bit_cast<double>(std::bit_cast<uint64_t>(magnitude) | (uint64_t{negative} << 63));
    after = q;
    return true;
}

}  // namespace rt
