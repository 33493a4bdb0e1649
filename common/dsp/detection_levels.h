#pragma once
// The two levels a delay profile's bins are held against before they count: the margin
// over the noise floor that noise alone exceeds rarely enough, and the sidelobes that a
// strong path puts on the bins around it through the transform.

#include <cstdint>
#include <vector>

// The weighting of the samples before the 4096-point transform (periodic forms).
enum class TransformWindow { None, Hann, Blackman };

// The margin in dB over the noise floor (the median noise power) that the noise of a
// profile averaging `averagedSweeps` sweeps exceeds in any of `searchedBins` bins with a
// probability of at most falseAlarm. Each bin's noise power is taken as gamma
// distributed of shape averagedSweeps (exponential for one sweep), independent between
// bins: the per-bin probability is 1 - (1 - falseAlarm)^(1 / searchedBins), and the
// margin is the ratio of that upper quantile to the median. Arguments out of range
// (falseAlarm not in (0, 1), counts below 1) give NaN.
double falseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins);

// The same, remembered for the last arguments of the calling thread (the profiles of a
// recording ask for few combinations, over and over).
double cachedFalseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins);

// The sidelobe envelope of the transform of `samples` samples (1..4096, zero-padded to
// 4096 points) under `window`: element d (0..2048) is the most, in dB, that a single
// path whose strongest bin shows power 0 dB can put on a bin d bins from that one,
// over every position of the path between bins, and never less than at any greater
// distance (so it spans the nulls). Element 0 is 0 dB. Made once per combination; the
// reference stays valid for the program's life.
const std::vector<double>& sidelobeEnvelopeDb(TransformWindow window, int32_t samples);
