#pragma once
// The delay metrics of a profile of linear powers, exactly those of its dB profile,
// made with as few logarithms as the metrics allow: a recording holds thousands of
// sweeps per channel, and a logarithm per bin costs as much as the transform itself.

#include "delay_metrics.h"

namespace cli {

// power[1..lastBin] (every bin at least the 1e-6 floor; lastBin covers the noise bins
// and the delay bins with one bin after them). Gives exactly what
// computeDelayMetrics gives for the full profile 10 * log10(power), computed from
// db[1..lastBin], which it writes: every bin whose value the metrics can depend on
// (the bins near the peak or above a lower bound of the counting level, the
// neighbours of those that stand within rounding of a neighbour's value, and the one
// or two noise bins at the middle of the noise, and bin 1, the sweep's mean, whose
// skirt is held against the bins beside it) holds its 10 * log10 exactly. The
// other noise bins, which only rank below or above the middle, hold a value that
// ranks the same way and, like theirs, neither counts nor is the peak; every other
// bin holds -inf, which is never a peak and never counts, as those bins would not,
// and compares with the bins beside it as their own values do.
DelayMetrics powerProfileMetrics(const double* power, int lastBin, const DelayMetricsParams& params, double* db);

// The same metrics with scratch (room for lastBin + 1 values, as db) written only where the
// metrics read it: the bins that can count or be the peak, and their neighbours (their
// own values, or -inf where that ranks them the same), and bin 1. Leaves out filling the rest
// and standing in for the noise bins, which a profile of noise, with almost nothing
// above the margin, spends most of its time on.
DelayMetrics powerProfileMetricsOnly(const double* power, int lastBin, const DelayMetricsParams& params,
                                     double* scratch);

}  // namespace cli
