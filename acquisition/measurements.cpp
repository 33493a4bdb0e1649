#include "measurements.h"

#include "capture.h"
#include "metric_format.h"

int32_t countClippedVolts(const double* volts, int32_t n)
{
    const double low = codeToVolts(CodeLowest);
    const double high = codeToVolts(CodeHighest);
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
