#pragma once
// The one-line readout of a block's delay metrics under the chart:
// "Peak bin 96, SNR 61.1 dB, mean excess 12.3 bins, RMS spread 25.4 bins".
// A metric the profile does not give (no bin above the noise margin) reads "-".

#include "delay_metrics.h"

#include <string>
#include <string_view>

// decimalPoint is the user's locale separator, as in the peak-to-peak field.
std::string delayMetricsText(const DelayMetrics& metrics, std::string_view decimalPoint);
