// Built without floating-point contraction (see CMakeLists.txt), as the profiles are.

#include "metrics_profile.h"

#include "delay_profile.h"
#include "select_rank.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace cli {

namespace {

// How far below the counting level a bin is still converted: estimates of the floor
// and the peak made here in linear terms differ from the metrics' own by rounding
// only (some 1e-14 dB), far inside these bounds.
constexpr double LevelSlackDb = 1e-6;
constexpr double PowerSlack = 1.0 - 1e-9;

inline double decibels(double power) { return 10.0 * std::log10(power); }

}  // namespace

void metricsProfileDb(const double* power, int lastBin, const DelayMetricsParams& params, double* db)
{
    bool finite = true;
    for (int k = 1; k <= lastBin; ++k)
        finite &= power[k] < INFINITY;
    // A power beyond the double range (a viewer-layout file of absurd volts) is left out
    // of the floor and the peak by the metrics; the bounds below cannot tell, so such a
    // profile is converted whole.
    if (!finite || delayMetricsParamsProblem(params) != nullptr) {
        for (int k = 1; k <= lastBin; ++k)
            db[k] = decibels(power[k]);
        return;
    }

    // The noise floor: the median power over the noise bins, all of which are converted.
    std::array<double, ProfileBins> noise;
    const int noiseCount = params.noiseLastBin - params.noiseFirstBin + 1;
    std::copy(power + params.noiseFirstBin, power + params.noiseLastBin + 1, noise.begin());
    const auto middle = noise.begin() + noiseCount / 2;
    selectRank(noise.data(), size_t(noiseCount), size_t(noiseCount / 2));
    double floorPower = *middle;
    if (noiseCount % 2 == 0)
        floorPower = (*std::max_element(noise.begin(), middle) + floorPower) / 2.0;

    double peakPower = 0.0;
    for (int k = params.firstDelayBin; k <= params.lastDelayBin; ++k)
        peakPower = std::max(peakPower, power[k]);

    // Bins below both the floor + margin and 20 dB (or the threshold) under the peak
    // neither count nor are the peak; the others and their neighbours are converted.
    const double level = std::max(decibels(floorPower) + params.marginDb,
                                  decibels(peakPower) - std::max(20.0, params.thresholdDb)) -
                         LevelSlackDb;
    const double lowestPower = std::min(std::pow(10.0, level / 10.0), peakPower) * PowerSlack;

    std::fill(db + 1, db + lastBin + 1, -INFINITY);
    for (int k = params.noiseFirstBin; k <= params.noiseLastBin; ++k)
        db[k] = decibels(power[k]);
    for (int k = params.firstDelayBin; k <= params.lastDelayBin; ++k) {
        if (!(power[k] >= lowestPower))
            continue;
        for (int j = std::max(1, k - 1); j <= std::min(lastBin, k + 1); ++j)
            if (db[j] == -INFINITY)
                db[j] = decibels(power[j]);
    }
}

}  // namespace cli
