#include "metrics_text.h"

#include "metric_format.h"

std::string delayMetricsText(const DelayMetrics& metrics, std::string_view decimalPoint)
{
    const std::string peak = metrics.peakBin ? std::to_string(*metrics.peakBin) : "-";
    return "Peak bin " + peak + ", SNR " + oneDecimal(metrics.snrDb, decimalPoint) + " dB, mean excess " +
           oneDecimal(metrics.meanExcessBins, decimalPoint) + " bins, RMS spread " +
           oneDecimal(metrics.rmsSpreadBins, decimalPoint) + " bins";
}
