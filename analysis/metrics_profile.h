#pragma once
// The dB profile that computeDelayMetrics reads, made from linear powers with as few
// logarithms as the metrics allow: a recording holds thousands of sweeps per channel,
// and a logarithm per bin costs as much as the transform itself.

#include "delay_metrics.h"

namespace cli {

// power[1..lastBin] (every bin at least the 1e-6 floor; lastBin covers the noise bins
// and the delay bins with one bin after them). Writes db[1..lastBin] such that
// computeDelayMetrics(db, params) gives exactly what it gives for the full profile
// 10 * log10(power): every bin the metrics can depend on (the noise bins, the bins
// near the peak or above a lower bound of the counting level, and the neighbours of
// these) holds its 10 * log10 exactly; every other bin holds -inf, which is never a
// peak and never counts, as those bins would not either.
void metricsProfileDb(const double* power, int lastBin, const DelayMetricsParams& params, double* db);

}  // namespace cli
