#pragma once
// Numbers of a delay profile: noise floor, strongest path, SNR and the spread of the
// channel in delay, all in bins (bin k holds delay k - 1). One routine for both
// windows and the sounder tool, so their numbers agree.

#include "detection_levels.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct DelayMetricsParams {
    // Noise floor: median linear power over these bins (the far quarter of the
    // positive delays, which a sounder's paths do not reach).
    int32_t noiseFirstBin = 1537;
    int32_t noiseLastBin = 2048;
    // Peak search and counting run over firstDelayBin..lastDelayBin: bins 1-2 hold
    // the sweep's mean and its skirt, and bins past 2048 are negative delays. (Where
    // padding or a window spreads the mean further, the bins it explains do not count.)
    int32_t firstDelayBin = 3;
    int32_t lastDelayBin = 2048;
    double thresholdDb = 20.0;  // a bin counts within this many dB of the peak ...
    // ... and at least this many dB above the floor. Absent: the margin that noise alone
    // exceeds in any searched bin with probability falseAlarm, for a profile averaging
    // averagedSweeps sweeps (falseAlarmMarginDb).
    std::optional<double> marginDb;
    double falseAlarm = 1e-3;
    int64_t averagedSweeps = 1;
    // The transform that made the profile, for the sidelobes of its paths: the samples
    // entering the 4096-point transform (the rest zeros) and their window.
    int32_t transformSamples = 4096;
    TransformWindow window = TransformWindow::None;
    // A local maximum is a path when it stands more than this many dB above the
    // sidelobes every stronger path puts there.
    double sidelobeMarginDb = 6.0;
};

// The margin over the floor that params give: marginDb, or the one derived from the
// false-alarm probability (NaN for params that delayMetricsParamsProblem rejects).
double effectiveMarginDb(const DelayMetricsParams& params);

struct DelayMetrics {
    // Absent only when the profile holds no finite value where they are looked for.
    std::optional<double> noiseFloorDb;
    std::optional<int32_t> peakBin;
    std::optional<double> peakDb;
    std::optional<double> snrDb;  // peak - floor

    // Absent when no bin counts (a profile of noise, or a peak within the margin).
    std::optional<int32_t> firstArrivalBin;  // k0
    std::optional<double> meanExcessBins;
    std::optional<double> rmsSpreadBins;
    std::optional<int32_t> maxExcess10Bins;
    std::optional<int32_t> maxExcess20Bins;
    std::optional<int32_t> window90Bins;
    int32_t countedBins = 0;
    int32_t pathCount = 0;

    // The power of the profile summed over the counted bins (linear, then dB), in the
    // profile's own dB; absent when no bin counts.
    std::optional<double> countedPowerDb;
    // The bin of each path that pathCount counts, in order of delay.
    std::vector<int32_t> pathBins;
    double marginDb = 0.0;  // the margin over the floor that was applied
};

// Why params cannot be used (empty or reversed ranges, bins outside 1..4096, a
// negative or non-finite threshold or margin, a false-alarm probability outside (0, 1),
// fewer than one averaged sweep, transform samples outside 1..4096), or nullptr when
// they can.
const char* delayMetricsParamsProblem(const DelayMetricsParams& params);

// profileDb[1..4096] in dB. Params that delayMetricsParamsProblem rejects give a
// result with nothing present. Non-finite bins are never a peak and never count.
DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params = {});

// The same for a caller that has found the noise floor already: noiseFloorDb must be
// what the median over the noise bins of profileDb is (noiseFloorOfMiddleDb of its
// middle values), absent when none of them is finite.
DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params,
                                 std::optional<double> noiseFloorDb);

// The same again for a caller that also knows which few delay bins can matter:
// candidates[0..candidateCount) in ascending order within firstDelayBin..lastDelayBin,
// holding the highest finite delay bin (the peak and any bin equal to it) and every
// delay bin at or above max(floor + margin, peak - max(20 dB, threshold)). The other
// bins are looked at only as neighbours of the counted ones. Gives what the two calls
// above give, without a pass over the whole delay range.
DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params,
                                 std::optional<double> noiseFloorDb, const int32_t* candidates,
                                 size_t candidateCount);

// The median of count (at least 1) finite noise values in dB from the middle ones in
// ascending order: upperDb, the value of rank count / 2 from 0, for an odd count; for
// an even count the dB of the mean of the linear powers of lowerDb (the rank below)
// and upperDb.
double noiseFloorOfMiddleDb(double lowerDb, double upperDb, size_t count);

// Seconds per bin of a sweep of bandwidth bandwidthHz: samples per sweep (5000 at
// divider 2, 2500 at divider 4) over 4096 x bandwidth. Absent for another divider
// or a bandwidth that is not a positive finite number.
std::optional<double> delaySecondsPerBin(int32_t clockDivider, double bandwidthHz);

inline constexpr double SpeedOfLightMetresPerSecond = 299792458.0;
