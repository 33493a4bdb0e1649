#pragma once
// The per-channel readout of the "Measurements" box: delay metrics of a channel's
// profile and the clipped samples of the sweep it came from. Qt-free.

#include "delay_metrics.h"

#include <cstdint>
#include <string>

// The four cells of one channel's row: peak bin, SNR (one decimal), RMS delay spread
// in bins (one decimal), clipped samples; "-" for what the profile does not give.
struct MeasurementRow {
    std::string peak, snr, rms, clip;
};
MeasurementRow measurementRow(const DelayMetrics& metrics, int32_t clipped);
