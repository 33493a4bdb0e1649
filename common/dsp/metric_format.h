#pragma once
// How the windows print a metric: one decimal, "-" when absent, never "-0.0".

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

inline std::string oneDecimal(const std::optional<double>& value, std::string_view decimalPoint = ".")
{
    if (!value)
        return "-";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed, 1);
    std::string printed(text, result.ptr);
    if (printed == "-0.0")
        printed = "0.0";
    if (const size_t point = printed.find('.'); point != std::string::npos)
        printed.replace(point, 1, decimalPoint);
    return printed;
}
