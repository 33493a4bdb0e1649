#include "peak_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

// std::to_chars rather than printf: the GUI toolkit installs the user's locale for
// the C library, and the separator must come only from decimalPoint.
std::string printed(double value, std::chars_format format, int precision)
{
    char text[160];
    const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
    return std::string(text, result.ptr);
}

// Digits kept beyond the rounding place to tell a value exactly halfway: a double that
// is halfway at the third decimal or the seventh digit has a few more, and one that is
// not differs from halfway by far more than this many places can hide.
constexpr int HalfwayDigits = 80;

// As printed, but a value exactly halfway between the two nearest texts is rounded away
// from zero (to_chars rounds it to the even digit): 0.3125 to "0.313", as a reading is
// rounded by hand.
std::string rounded(double value, std::chars_format format, int precision)
{
    const std::string exact = printed(value, format, precision + HalfwayDigits);
    const size_t point = exact.find('.');
    const size_t end = format == std::chars_format::scientific ? exact.find('e') : exact.size();
    if (point != std::string::npos && end != std::string::npos) {
        const size_t next = point + 1 + size_t(precision);
        const bool halfway = next < end && exact[next] == '5' &&
                             exact.find_first_not_of('0', next + 1) >= end;
        if (halfway)
            value = std::nextafter(value, value < 0 ? -HUGE_VAL : HUGE_VAL);
    }
    return printed(value, format, precision);
}

int exponentOf(const std::string& scientificText)
{
    return std::atoi(scientificText.c_str() + scientificText.find('e') + 1);
}

// 7 significant digits, trailing zeros of the fraction dropped: "1.5E+10".
std::string scientific(const std::string& sevenDigits, std::string_view decimalPoint)
{
    std::string mantissa = sevenDigits.substr(0, sevenDigits.find('e'));
    while (mantissa.back() == '0')
        mantissa.pop_back();
    if (mantissa.back() == '.')
        mantissa.pop_back();
    if (const auto point = mantissa.find('.'); point != std::string::npos)
        mantissa.replace(point, 1, decimalPoint);
    const int exponent = exponentOf(sevenDigits);
    return mantissa + (exponent < 0 ? "E-" : "E+") + std::to_string(std::abs(exponent));
}

}  // namespace

std::string peakToPeakText(double value, std::string_view decimalPoint)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";

    // Rounding to 7 significant digits first tells how many digits stand before the
    // point once rounded (9999999.6 becomes 1.000000e+07: eight digits).
    const std::string sevenDigits = rounded(value, std::chars_format::scientific, 6);
    const int exponent = exponentOf(sevenDigits);
    if (exponent >= 7)
        return scientific(sevenDigits, decimalPoint);

    // Below 10^4 three decimals keep within 7 significant digits, so one rounding of
    // the value itself gives them; from 10^4 on the 7-digit value is what is shown.
    double shown = value;
    if (exponent >= 4)
        std::from_chars(sevenDigits.data(), sevenDigits.data() + sevenDigits.size(), shown);
    std::string text = rounded(shown, std::chars_format::fixed, 3);
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    text.replace(text.find('.'), 1, decimalPoint);
    return text;
}
