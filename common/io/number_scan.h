#pragma once
// Conversion of one number token of a recording (the bytes of an item, without
// surrounding blanks) to its value. Pure functions: the text reader collects the
// token, these decide whether it is a number.

#include <cstddef>
#include <cstdint>

namespace rt {

// Decimal "[+-]digits", or hexadecimal "[+-]$hex", "[+-]x hex", "[+-]0x hex" (x in
// either case), within the signed 32-bit range. Anything else: false, value untouched.
bool scanIntToken(const char* text, size_t length, int32_t& value);

// "[+-]digits[.digits][(E|e)[+-]digits]" with at least one mantissa digit ("1." and
// ".5" are numbers). Correctly rounded; a magnitude beyond the double range gives no
// value, one below it reads as (signed) 0. Anything else: false, value untouched.
bool scanRealToken(const char* text, size_t length, double& value);

}  // namespace rt
