#include "measurements.h"

#include "capture.h"
#include "metric_format.h"

MeasurementRow measurementRow(const DelayMetrics& metrics, int32_t clipped)
{
    return {metrics.peakBin ? std::to_string(*metrics.peakBin) : "-", oneDecimal(metrics.snrDb),
            oneDecimal(metrics.rmsSpreadBins), std::to_string(clipped)};
}
