#include "number_scan.h"

#include <charconv>
#include <system_error>

namespace rt {

namespace {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Exact powers of ten up to 1e22 are the ones a double holds exactly.
constexpr double exactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

bool scanIntToken(const char* text, size_t length, int32_t& value)
{
    const char* p = text;
    const char* end = text + length;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (p != end && (*p == '$' || *p == 'x' || *p == 'X')) {
        base = 16;
        ++p;
    } else if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (p == end)
        return false;
    // The magnitude may reach 2^31 (for -2147483648); stop as soon as it passes it.
    constexpr uint64_t limit = uint64_t(1) << 31;
    uint64_t magnitude = 0;
    for (; p != end; ++p) {
        const int digit = base == 10 ? (isDigit(*p) ? *p - '0' : -1) : hexValue(*p);
        if (digit < 0)
            return false;
        magnitude = magnitude * uint64_t(base) + uint64_t(digit);
        if (magnitude > limit)
            return false;
    }
    if (!negative && magnitude == limit)
        return false;
    value = static_cast<int32_t>(negative ? -int64_t(magnitude) : int64_t(magnitude));
    return true;
}

bool scanRealToken(const char* text, size_t length, double& result)
{
    const char* p = text;
    const char* end = text + length;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* mantissa = p;  // from_chars takes no '+'

    // Grammar: digits [. digits] [(E|e) [+-] digits], at least one mantissa digit.
    const char* integerBegin = p;
    while (p != end && isDigit(*p))
        ++p;
    const char* integerEnd = p;
    const char* fractionBegin = p;
    const char* fractionEnd = p;
    if (p != end && *p == '.') {
        fractionBegin = ++p;
        while (p != end && isDigit(*p))
            ++p;
        fractionEnd = p;
    }
    if (integerBegin == integerEnd && fractionBegin == fractionEnd)
        return false;
    int64_t exponent = 0;
    if (p != end && (*p == 'E' || *p == 'e')) {
        ++p;
        bool negativeExponent = false;
        if (p != end && (*p == '+' || *p == '-')) {
            negativeExponent = *p == '-';
            ++p;
        }
        if (p == end || !isDigit(*p))
            return false;
        for (; p != end && isDigit(*p); ++p) {
            if (exponent < 1000000)
                exponent = exponent * 10 + (*p - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (p != end)
        return false;

    // Significant digits: from the first non-zero one on.
    const char* first = integerBegin;
    while (first != integerEnd && *first == '0')
        ++first;
    int64_t leadingPosition = integerEnd - first;  // value is 0.ddd x 10^leadingPosition
    const char* fractionFirst = fractionBegin;
    if (first == integerEnd) {
        while (fractionFirst != fractionEnd && *fractionFirst == '0')
            ++fractionFirst;
        if (fractionFirst == fractionEnd) {
            result = negative ? -0.0 : 0.0;
            return true;
        }
        leadingPosition = -(fractionFirst - fractionBegin);
    }
    const int64_t significant = (integerEnd - first) + (fractionEnd - fractionFirst);

    // Exact fast path: an integer mantissa of at most 15 digits (below 2^53) and a
    // power of ten that a double holds exactly give the correctly rounded value in
    // one operation.
    const int64_t scale = exponent - (fractionEnd - fractionBegin);
    if (significant <= 15 && scale >= -22 && scale <= 22) {
        uint64_t digits = 0;
        for (const char* d = first; d != integerEnd; ++d)
            digits = digits * 10 + uint64_t(*d - '0');
        for (const char* d = fractionFirst; d != fractionEnd; ++d)
            digits = digits * 10 + uint64_t(*d - '0');
        double value = static_cast<double>(digits);
        value = scale < 0 ? value / exactPowersOfTen[-scale] : value * exactPowersOfTen[scale];
        result = negative ? -value : value;
        return true;
    }

    double value = 0.0;
    const auto converted = std::from_chars(mantissa, end, value, std::chars_format::general);
    if (converted.ec == std::errc::result_out_of_range) {
        // Decide by the decimal magnitude: too large fails, too small is zero.
        if (leadingPosition + exponent > 0)
            return false;
        result = negative ? -0.0 : 0.0;
        return true;
    }
    if (converted.ec != std::errc() || converted.ptr != end)
        return false;
    result = negative ? -value : value;
    return true;
}

bool scanQuickRealStepwise(const char* text, const char*& after, double& value)
{
    using word_digits::Scale;
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
    value = word_digits::signedQuotient(mantissa, fraction, negative);
    after = q;
    return true;
}

size_t scanQuickRealLines(const char*& text, const char* last, double* values, size_t count)
{
    const char* p = text;
    size_t taken = 0;
    for (; taken < count && p <= last; ++taken) {
        const char* after = nullptr;
        if (static_cast<unsigned char>(*p) <= 0x20 ||
            !(scanPointedReal(p, after, values[taken]) || scanQuickRealStepwise(p, after, values[taken])) ||
            *after != '\r')
            break;
        p = after + 1;
        if (*p == '\n')
            ++p;
    }
    text = p;
    return taken;
}

}  // namespace rt
