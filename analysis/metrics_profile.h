#pragma once
// The dB profile that computeDelayMetrics reads, made from linear powers with as few
// logarithms as the metrics allow: a recording holds thousands of sweeps per channel,
// and a logarithm per bin costs as much as the transform itself.

#include "delay_metrics.h"

namespace cli {

// power[1..lastBin] (every bin at least the 1e-6 floor; lastBin covers the noise bins
// and the delay bins with one bin after them). Writes db[1..lastBin] such that
// computeDelayMetrics(db, params) gives exactly what it gives for the full profile
// 10 * log10(power): every bin whose value the metrics can depend on (the bins near
// the peak or above a lower bound of the counting level, their neighbours, and the
// one or two noise bins at the middle of the noise) holds its 10 * log10 exactly.
// The other noise bins, which only rank below or above the middle, hold a value that
// ranks the same way and, like theirs, neither counts nor is the peak; every other
// bin holds -inf, which is never a peak and never counts, as those bins would not.
void metricsProfileDb(const double* power, int lastBin, const DelayMetricsParams& params, double* db);

}  // namespace cli
