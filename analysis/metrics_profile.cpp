// Built without floating-point contraction (see CMakeLists.txt), as the profiles are.

#include "metrics_profile.h"

#include "delay_profile.h"
#include "finite_bins.h"
#include "select_rank.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace cli {

namespace {

// How far below the counting level a bin is still converted: estimates of the floor
// and the peak made here in linear terms differ from the metrics' own by rounding
// only (some 1e-14 dB), far inside these bounds.
constexpr double LevelSlackDb = 1e-6;
constexpr double PowerSlack = 1.0 - 1e-9;
// Noise bins whose power is this far from the middle of the noise (relative) stand
// clearly below or above the median; the logarithm is monotonic to far better.
constexpr double MedianSlack = 2e-9;
// Below every value a profile can hold: a noise bin clearly below the median.
constexpr double FarBelowDb = -1e300;

inline double decibels(double power) { return 10.0 * std::log10(power); }

// Whether every p[1..last] is finite (not +inf, not NaN): their sum is, in four running
// sums so that no addition waits for the one before. Powers whose sum overflows (each
// near the end of the double range) count as not finite too, which only sends the
// profile down the path that converts it whole.
bool allFinite(const double* p, int last)
{
    double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
    int k = 1;
    for (; k + 3 <= last; k += 4) {
        a += p[k];
        b += p[k + 1];
        c += p[k + 2];
        d += p[k + 3];
    }
    for (; k <= last; ++k)
        a += p[k];
    return std::isfinite((a + b) + (c + d));
}

// The largest of p[first..last], at least 0 (the powers are finite and compare). Four
// running maxima, each over every fourth bin, so that no comparison waits for the one
// before; the largest value is the same in any order.
double largestOf(const double* p, int first, int last)
{
    double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
    int k = first;
    for (; k + 3 <= last; k += 4) {
        a = std::max(a, p[k]);
        b = std::max(b, p[k + 1]);
        c = std::max(c, p[k + 2]);
        d = std::max(d, p[k + 3]);
    }
    for (; k <= last; ++k)
        a = std::max(a, p[k]);
    return std::max(std::max(a, b), std::max(c, d));
}

// -inf into d[first..last], copied from a row of them (the library's copy moves more
// bytes at a time than a loop of stores).
void fillWithMinusInfinity(double* d, int first, int last)
{
    static const std::array<double, ProfileBins + 1> minusInfinity = [] {
        std::array<double, ProfileBins + 1> row;
        row.fill(-INFINITY);
        return row;
    }();
    if (last >= first)
        std::memcpy(d + first, minusInfinity.data(), sizeof(double) * size_t(last - first + 1));
}

// wholeProfile: db[1..lastBin] is written as powerProfileMetrics states; else only
// the bins the metrics read (powerProfileMetricsOnly).
DelayMetrics metricsOfPowers(const double* power, int lastBin, const DelayMetricsParams& params, double* db,
                             bool wholeProfile)
{
    const bool finite = allFinite(power, lastBin);
    // A power beyond the double range (a viewer-layout file of absurd volts) is left out
    // of the floor and the peak by the metrics; the bounds below cannot tell, so such a
    // profile is converted whole.
    if (!finite || delayMetricsParamsProblem(params) != nullptr) {
        for (int k = 1; k <= lastBin; ++k)
            db[k] = decibels(power[k]);
        return computeDelayMetrics(db, params);
    }

    // The noise floor: the median power over the noise bins, all of which are converted.
    std::array<double, ProfileBins> noise;
    const int noiseCount = params.noiseLastBin - params.noiseFirstBin + 1;
    std::copy(power + params.noiseFirstBin, power + params.noiseLastBin + 1, noise.begin());
    const auto middle = noise.begin() + noiseCount / 2;
    selectRank(noise.data(), size_t(noiseCount), size_t(noiseCount / 2));
    const double upperMiddle = *middle;
    const double lowerMiddle = noiseCount % 2 == 0 ? *std::max_element(noise.begin(), middle) : upperMiddle;
    const double floorPower = noiseCount % 2 == 0 ? (lowerMiddle + upperMiddle) / 2.0 : upperMiddle;
    // The floor the metrics take from the dB values: those of the middle bins rank
    // where their powers do, the logarithm being monotonic.
    const double floorDb = noiseFloorOfMiddleDb(decibels(lowerMiddle), decibels(upperMiddle), size_t(noiseCount));

    const double peakPower = largestOf(power, params.firstDelayBin, params.lastDelayBin);

    // Bins below both the floor + margin and 20 dB (or the threshold) under the peak
    // neither count nor are the peak; the others and their neighbours are converted.
    const double level = std::max(decibels(floorPower) + effectiveMarginDb(params),
                                  decibels(peakPower) - std::max(20.0, params.thresholdDb)) -
                         LevelSlackDb;
    const double lowestPower = std::min(std::pow(10.0, level / 10.0), peakPower) * PowerSlack;
    // A neighbour below lowestPower by more than PowerSlack is below every bin that can
    // count by more than rounding, as its stand-in is (-inf, or a noise value no higher
    // than its own); only one within rounding of the level is needed.
    const double nearLevel = lowestPower * PowerSlack;

    if (!wholeProfile) {
        // The metrics read the bins that can count or be the peak and, of the bins
        // that count, the neighbours: those are the only ones written.
        std::array<int32_t, ProfileBins> high;
        const size_t highCount =
            finiteBinsAtOrAbove(power, params.firstDelayBin, params.lastDelayBin, lowestPower, high.data());
        for (size_t i = 0; i < highCount; ++i)
            db[high[i]] = decibels(power[high[i]]);
        const auto isHigh = [&](int j) {
            return j >= params.firstDelayBin && j <= params.lastDelayBin && power[j] >= lowestPower;
        };
        for (size_t i = 0; i < highCount; ++i)
            for (const int j : {high[i] - 1, high[i] + 1})
                if (j >= 1 && j <= lastBin && !isHigh(j))
                    db[j] = power[j] >= nearLevel ? decibels(power[j]) : -INFINITY;
        db[1] = decibels(power[1]);  // the sweep's mean, whose skirt is no path
        return computeDelayMetrics(db, params, floorDb, high.data(), highCount);
    }

    // The noise bins decide the floor by their order only, apart from the middle one or
    // two: a bin clearly below the middle holds a value below every other, one clearly
    // above a value between the middle and its own (so it is never the peak nor
    // counts where it would not); only the bins near the middle are converted.
    const double belowMiddle = lowerMiddle * (1.0 - MedianSlack);
    const double aboveMiddle = upperMiddle * (1.0 + MedianSlack);
    const double aboveMiddleDb = decibels(upperMiddle * (1.0 + MedianSlack / 2.0));
    // Noise comes in random order: the bins are chosen without a branch on each power,
    // listed, and then converted.
    std::array<int, ProfileBins> convert;
    size_t converting = 0;
    fillWithMinusInfinity(db, 1, lastBin);
    for (int k = params.noiseFirstBin; k <= params.noiseLastBin; ++k) {
        const double p = power[k];
        db[k] = p < belowMiddle ? FarBelowDb : aboveMiddleDb;
        convert[converting] = k;
        converting += size_t(p >= belowMiddle) & size_t(p <= aboveMiddle);
    }
    // The bins that can count or be the peak, exactly.
    std::array<uint8_t, ProfileBins + 2> chosen{};
    for (size_t i = 0; i < converting; ++i)
        chosen[size_t(convert[i])] = 1;
    std::array<int32_t, ProfileBins> high;
    const size_t highCount =
        finiteBinsAtOrAbove(power, params.firstDelayBin, params.lastDelayBin, lowestPower, high.data());
    for (size_t i = 0; i < highCount; ++i)
        if (!chosen[size_t(high[i])]) {
            chosen[size_t(high[i])] = 1;
            convert[converting++] = high[i];
        }
    // Their neighbours decide whether a bin that counts is a path, by comparison with
    // it alone (see nearLevel).
    const auto addNeighbour = [&](int j) {
        if (j >= 1 && j <= lastBin && !chosen[size_t(j)] && power[j] >= nearLevel) {
            chosen[size_t(j)] = 1;
            convert[converting++] = j;
        }
    };
    for (size_t i = 0; i < highCount; ++i) {
        addNeighbour(high[i] - 1);
        addNeighbour(high[i] + 1);
    }
    // The sweep's mean, whose skirt is no path.
    if (!chosen[1]) {
        chosen[1] = 1;
        convert[converting++] = 1;
    }
    for (size_t i = 0; i < converting; ++i)
        db[convert[i]] = decibels(power[convert[i]]);
    // The peak and every delay bin that can count are among the high ones, the others
    // standing below lowestPower, and so in dB below the level the metrics gather at.
    return computeDelayMetrics(db, params, floorDb, high.data(), highCount);
}

}  // namespace

DelayMetrics powerProfileMetrics(const double* power, int lastBin, const DelayMetricsParams& params, double* db)
{
    return metricsOfPowers(power, lastBin, params, db, true);
}

DelayMetrics powerProfileMetricsOnly(const double* power, int lastBin, const DelayMetricsParams& params,
                                     double* scratch)
{
    return metricsOfPowers(power, lastBin, params, scratch, false);
}

}  // namespace cli
