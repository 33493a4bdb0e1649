#pragma once
// The two levels a delay profile's bins are held against before they count: the margin
// over the noise floor that noise alone exceeds rarely enough, and the sidelobes that a
// strong path puts on the bins around it through the transform.

#include <cstdint>
#include <vector>

// The weighting of the samples before the 4096-point transform (periodic forms).
enum class TransformWindow { None, Hann, Blackman };

// The margin in dB over the noise floor that the noise of a profile averaging
// `averagedSweeps` sweeps exceeds in any of `searchedBins` bins with a probability of at
// most falseAlarm. Each bin's noise power is taken as gamma distributed of shape
// averagedSweeps (exponential for one sweep), independent between bins, and the floor
// as the median of `noiseBins` such bins (for an even count the lower of the two middle
// ones, which the mean of the two never falls below): the floor is itself a random
// value, lower than the noise's median as often as higher, and a low one lets noise
// count. The margin is the ratio to the floor at which the chance over every floor the
// noise bins can give is falseAlarm; with many noise bins it nears the plain ratio of
// the per-bin upper quantile 1 - (1 - falseAlarm)^(1 / searchedBins) to the median.
// Arguments out of range (falseAlarm not in (0, 1), counts below 1) give NaN, and so
// does a falseAlarm so small that its share per bin is not a double above 0 (below
// some 1e-320). Takes some milliseconds.
double falseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins, int32_t noiseBins);

// The same, remembered for every combination asked for in the program (the profiles of
// a recording ask for few, over and over).
double cachedFalseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins, int32_t noiseBins);

// The sidelobe envelope of the transform of `samples` samples (1..4096, zero-padded to
// 4096 points) under `window`: element d (0..2048) is the most, in dB, that a single
// path whose strongest bin shows power 0 dB can put on a bin d bins from that one,
// over every position of the path between bins, and never less than at any greater
// distance (so it spans the nulls). Element 0 is 0 dB. Made once per combination; the
// reference stays valid for the program's life.
// For the transforms of the acquisition program's sweeps (4096 samples at divider 2,
// 2500 at divider 4, under each window) the envelope is taken from tables built into the
// program, which hold exactly what computeSidelobeEnvelopeDb gives; others are computed
// on first use (some 10 to 40 ms).
const std::vector<double>& sidelobeEnvelopeDb(TransformWindow window, int32_t samples);

// What a component lying exactly on a bin (the sweep's mean, on bin 1) puts on the bin d
// bins away (0..2048), in dB of its own bin, for the transform of `samples` samples
// under `window`: nothing (-300 dB) past bin 1 for 4096 samples unwindowed, a skirt of
// sidelobes for 2500 samples zero-padded, two bins for Blackman. Made on first use.
const std::vector<double>& meanLeakageDb(TransformWindow window, int32_t samples);

// The envelope computed afresh, from the window's transform at every 1/64 of a bin.
std::vector<double> computeSidelobeEnvelopeDb(TransformWindow window, int32_t samples);

// The envelopes built into the program, in the order of the tables' file.
struct BuiltSidelobeEnvelope {
    TransformWindow window;
    int32_t samples;
    const double* db;  // 2049 values
};
std::vector<BuiltSidelobeEnvelope> builtSidelobeEnvelopes();
