#include "metrics_text.h"

#include <charconv>

namespace {

std::string oneDecimal(const std::optional<double>& value, std::string_view decimalPoint)
{
    if (!value)
        return "-";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed, 1);
    std::string printed(text, result.ptr);
    if (printed == "-0.0")
        printed = "0.0";
    printed.replace(printed.find('.'), 1, decimalPoint);
    return printed;
}

}  // namespace

std::string delayMetricsText(const DelayMetrics& metrics, std::string_view decimalPoint)
{
    const std::string peak = metrics.peakBin ? std::to_string(*metrics.peakBin) : "-";
    return "Peak bin " + peak + ", SNR " + oneDecimal(metrics.snrDb, decimalPoint) + " dB, mean excess " +
           oneDecimal(metrics.meanExcessBins, decimalPoint) + " bins, RMS spread " +
           oneDecimal(metrics.rmsSpreadBins, decimalPoint) + " bins";
}
