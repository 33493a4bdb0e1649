#pragma once
// The values a SigMF conversion stores: each recorded code as its datatype holds it,
// little-endian: rf32_le volts, ri16_le code - 2048, ru16_le the code itself.

#include "convert_sigmf.h"

#include <cstddef>
#include <cstdint>

namespace cli {

// The highest code that code - 2048 holds in 16 bits (ri16_le).
inline constexpr int MaxRi16Code = 32767 + 2048;

// Volts of a code as float32: (code - 2048) * 5/2048. For every 16-bit code that is
// exact in float32 (at most 19 significant bits, the factor a power of two times 5),
// so it is the double-precision rule's value rounded to float32, bit for bit, in a form
// that vectorizes.
inline float codeToVoltsFloat(uint16_t code) { return float(int32_t(code) - 2048) * (5.0f / 2048.0f); }

// The values of `count` codes codes[0], codes[stride], codes[2 * stride], ... into out
// (stride is 1, every code in turn, or 3, one channel of scan groups), in the datatype's layout
// (count values of 4 or 2 bytes). False when a code does not fit the datatype (ri16_le:
// above MaxRi16Code); out is then not all written.
bool convertCodeValues(SigmfDatatype datatype, const uint16_t* codes, size_t stride, size_t count,
                       unsigned char* out);

}  // namespace cli
