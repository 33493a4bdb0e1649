#include "measurements.h"

#include "capture.h"

#include <charconv>

namespace {

std::string oneDecimal(const std::optional<double>& value)
{
    if (!value)
        return "-";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed, 1);
    const std::string printed(text, result.ptr);
    return printed == "-0.0" ? "0.0" : printed;
}

}  // namespace

int32_t countClippedVolts(const double* volts, int32_t n)
{
    const double low = codeToVolts(0);
    const double high = codeToVolts(4095);
    int32_t clipped = 0;
    for (int32_t i = 1; i <= n; ++i)
        clipped += volts[i] == low || volts[i] == high;
    return clipped;
}

MeasurementRow measurementRow(const DelayMetrics& metrics, int32_t clipped)
{
    return {metrics.peakBin ? std::to_string(*metrics.peakBin) : "-", oneDecimal(metrics.snrDb),
            oneDecimal(metrics.rmsSpreadBins), std::to_string(clipped)};
}
