#pragma once
// Conversion of one number token of a recording (the bytes of an item, without
// surrounding blanks) to its value. Pure functions: the text reader collects the
// token, these decide whether it is a number; the quick forms for the usual reals
// read straight from the reader's buffer and leave anything else to scanRealToken.

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
// The same numbers and results a word of digits at a time with no further shortcut:
// scanQuickReal reads the most usual ones ("d.ddd", at most 7 integer and 15 digits in
// all) from two words with the point taken out, and the others this way.
bool scanQuickRealStepwise(const char* text, const char*& after, double& value);
// The two-word form alone: false, leaving the number to scanQuickRealStepwise, where it
// does not apply.
bool scanPointedReal(const char* text, const char*& after, double& value);

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

namespace word_digits {

constexpr uint64_t Ones = 0x0101010101010101;

inline uint64_t load(const char* text)
{
    uint64_t word;
    std::memcpy(&word, text, 8);
    return word;
}

// Little-endian words, byte k of the word being text[k]: the number of leading digit
// bytes (0..8), and in digits each byte's value as a digit. A byte is a digit when its
// xor with '0' is below 10: high nibble 0 and low nibble + 6 without a carry into bit 4.
inline int count(uint64_t word, uint64_t& digits)
{
    const uint64_t x = word ^ (Ones * '0');
    digits = x & (Ones * 0x0f);
    const uint64_t notDigit = (x & (Ones * 0xf0)) | ((digits + Ones * 6) & (Ones * 0x10));
    return std::countr_zero(notDigit) / 8;  // 64 / 8 when all are digits
}

// The number the first n (0..8) of digits spell. They are moved to the top of the word
// (its last bytes) to read as an 8-digit number with leading zeros, byte 0 the highest
// digit (none left when n is 0: two shifts, as one by 64 bits would be undefined).
// Pairs, then fours, then the eight, each step without a carry between its lanes.
inline uint64_t value(uint64_t digits, int n)
{
    const int shift = 4 * (8 - n);
    uint64_t d = (digits << shift) << shift;
    d = d * 10 + (d >> 8);  // bytes 0, 2, 4, 6: two digits each
    d = d & 0x00ff00ff00ff00ff;
    d = d * 100 + (d >> 16);  // 16-bit lanes 0 and 2: four digits each
    d = d & 0x0000ffff0000ffff;
    return (d * 10000 + (d >> 32)) & 0xffffffff;  // all eight
}

inline constexpr uint64_t Scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
inline constexpr double Powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9, 1e10,
                                    1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};

// m / 10^fraction with the sign set as a bit: no branch on a sign that changes from
// line to line. m and 10^fraction are exact, the division correctly rounded.
inline double signedQuotient(uint64_t mantissa, int fraction, bool negative)
{
    const double magnitude = static_cast<double>(mantissa) / Powers[fraction];
    return std::bit_cast<double>(std::bit_cast<uint64_t>(magnitude) | (uint64_t{negative} << 63));
}

}  // namespace word_digits

inline int leadingDigits(const char* text, uint64_t& value)
{
    if constexpr (std::endian::native != std::endian::little) {
        return leadingDigitsPlain(text, value);
    } else {
        uint64_t digits = 0;
        const int n = word_digits::count(word_digits::load(text), digits);
        value = word_digits::value(digits, n);
        return n;
    }
}

inline bool scanPointedReal(const char* text, const char*& after, double& value)
{
    if constexpr (std::endian::native == std::endian::little) {
        namespace w = word_digits;
        const char* q = text;
        const bool negative = *q == '-';
        if (negative || *q == '+')
            ++q;
        // k integer digits and a point in the first word; the digits without the point
        // are then the first word's k bytes and the bytes after the point: low holds
        // digits 0..7, high digits 8..15 (bytes 9..16 of q). Reach: 18 bytes from text.
        uint64_t digits = 0;
        const uint64_t first = w::load(q);
        const int k = w::count(first, digits);
        if (k < 8 && q[k] == '.') {
            const uint64_t keep = (uint64_t(1) << (8 * k)) - 1;
            const uint64_t low = (first & keep) | (w::load(q + 1) & ~keep);
            uint64_t lowDigits = 0, highDigits = 0;
            const int n = w::count(low, lowDigits);
            uint64_t mantissa = 0;
            int total = n;
            if (n < 8) {
                mantissa = w::value(lowDigits, n);
            } else {
                const int m = w::count(w::load(q + 9), highDigits);
                mantissa = w::value(lowDigits, 8) * w::Scale[m] + w::value(highDigits, m);
                total = 8 + m;  // 16 digits: the word-at-a-time form decides
            }
            // At most 15 digits: below 10^15 < 2^53, exact as a double.
            if (total > 0 && total <= 15) {
                value = w::signedQuotient(mantissa, total - k, negative);
                after = q + total + 1;
                return true;
            }
        }
    }
    return false;
}

inline bool scanQuickReal(const char* text, const char*& after, double& value)
{
    return scanPointedReal(text, after, value) || scanQuickRealStepwise(text, after, value);
}

}  // namespace rt
