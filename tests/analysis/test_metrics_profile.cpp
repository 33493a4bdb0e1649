// The sparse dB profile of sounder analyze gives the metrics of the full profile,
// exactly, over profiles of noise, paths, ties, plateaus and odd parameters.

#include "metrics_profile.h"

#include "delay_profile.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

template <class T>
bool same(const std::optional<T>& a, const std::optional<T>& b)
{
    return a.has_value() == b.has_value() && (!a || std::memcmp(&*a, &*b, sizeof(T)) == 0);
}

bool same(const DelayMetrics& a, const DelayMetrics& b)
{
    return same(a.noiseFloorDb, b.noiseFloorDb) && same(a.peakBin, b.peakBin) && same(a.peakDb, b.peakDb) &&
           same(a.snrDb, b.snrDb) && same(a.firstArrivalBin, b.firstArrivalBin) &&
           same(a.meanExcessBins, b.meanExcessBins) && same(a.rmsSpreadBins, b.rmsSpreadBins) &&
           same(a.maxExcess10Bins, b.maxExcess10Bins) && same(a.maxExcess20Bins, b.maxExcess20Bins) &&
           same(a.window90Bins, b.window90Bins) && a.countedBins == b.countedBins && a.pathCount == b.pathCount;
}

}  // namespace

TEST(MetricsProfile, GivesTheMetricsOfTheFullProfileExactly)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::exponential_distribution<double> noise(1.0);
    int withPaths = 0;
    std::vector<double> scratch(ProfileBins + 1, 0.0);
    for (int trial = 0; trial < 3000; ++trial) {
        DelayMetricsParams params;
        if (trial % 3 == 1) {
            params.thresholdDb = 40.0 * u(random);
            params.marginDb = 12.0 * u(random);
            params.firstDelayBin = 1 + int(u(random) * 50);
            params.noiseFirstBin = 1000 + int(u(random) * 1000);
            params.noiseLastBin = params.noiseFirstBin + int(u(random) * (2048 - params.noiseFirstBin));
        } else if (trial % 3 == 2) {
            // The derived margin of a block, and the sidelobes of a padded, windowed transform.
            params.averagedSweeps = 1 + int(u(random) * 20);
            params.falseAlarm = std::pow(10.0, -1.0 - 4.0 * u(random));
            params.transformSamples = u(random) < 0.5 ? 2500 : 4096;
            params.window = TransformWindow(int(u(random) * 3));
        }
        const int lastBin = std::min(ProfileBins, std::max(params.noiseLastBin, params.lastDelayBin + 1));
        std::vector<double> power(ProfileBins + 1, 1e-6);
        const double scale = std::pow(10.0, 8.0 * u(random) - 4.0);
        for (int k = 1; k <= lastBin; ++k)
            power[size_t(k)] = std::max(1e-6, scale * noise(random));
        const int paths = int(u(random) * 5);
        for (int p = 0; p < paths; ++p) {
            const int at = 1 + int(u(random) * (lastBin - 1));
            power[size_t(at)] = scale * std::pow(10.0, 6.0 * u(random));
            if (u(random) < 0.3 && at + 1 <= lastBin)
                power[size_t(at + 1)] = power[size_t(at)];  // a tie for the peak
        }
        if (trial % 7 == 0)
            for (int k = 1; k <= lastBin; ++k)
                power[size_t(k)] = 1e-6;  // the floor everywhere: a plateau
        if (trial % 5 == 0)
            for (int k = 1; k <= lastBin; ++k)  // a few distinct levels: ties at the median
                power[size_t(k)] = std::max(1e-6, scale * std::round(power[size_t(k)] / scale * 2.0));
        if (trial % 11 == 0)
            for (int k = 1; k <= lastBin; ++k)  // neighbours a rounding apart
                power[size_t(k)] = scale * (1.0 + double(k % 3) * 1e-16);

        if (trial % 13 == 0 && paths > 0)
            for (int k = 1; k <= lastBin; ++k)  // a ladder of powers about 20 dB under the first path
                power[size_t(k)] = power[size_t(1 + int(u(random) * (lastBin - 1)))] / 100.0 *
                                   (1.0 + double(k % 41 - 20) * 1.3e-8 + double(k % 7) * 1e-16);
        withPaths += paths > 0;

        std::vector<double> full(ProfileBins + 1, -60.0), sparse(ProfileBins + 1, -60.0);
        for (int k = 1; k <= lastBin; ++k)
            full[size_t(k)] = 10.0 * std::log10(power[size_t(k)]);
        const DelayMetrics expected = computeDelayMetrics(full.data(), params);
        const DelayMetrics got = cli::powerProfileMetrics(power.data(), lastBin, params, sparse.data());
        ASSERT_TRUE(same(expected, got)) << "trial " << trial;
        // The dB profile written gives them too, the floor found from it as well.
        ASSERT_TRUE(same(expected, computeDelayMetrics(sparse.data(), params))) << "trial " << trial;
        // With the room for the bins read only, holding whatever the trial before left
        // there (or values that would be wrong anywhere the metrics looked).
        if (trial % 2 == 1)
            std::fill(scratch.begin(), scratch.end(), trial % 4 == 1 ? 1e300 : std::nan(""));
        ASSERT_TRUE(same(expected, cli::powerProfileMetricsOnly(power.data(), lastBin, params, scratch.data())))
            << "trial " << trial;
    }
    EXPECT_GT(withPaths, 1000);
}

TEST(MetricsProfile, ConvertsFewerBinsThanTheWholeProfile)
{
    // Noise with one path: the path, the bins above the margin and the middle of the
    // noise, not all 2049; the path's neighbours, far below it, rank below it still.
    std::mt19937 random(6);
    std::exponential_distribution<double> noise(1.0);
    std::vector<double> power(ProfileBins + 1, 1e-6), db(ProfileBins + 1);
    for (int k = 1; k <= 2049; ++k)
        power[size_t(k)] = noise(random);
    power[100] = 1e6;
    const DelayMetrics m = cli::powerProfileMetrics(power.data(), 2049, {}, db.data());
    int converted = 0;
    for (int k = 1; k <= 2049; ++k)
        converted += db[size_t(k)] == 10.0 * std::log10(power[size_t(k)]);
    EXPECT_LT(converted, 100);
    EXPECT_EQ(db[100], 60.0);
    EXPECT_LT(db[99], 60.0);
    EXPECT_LT(db[101], 60.0);
    EXPECT_EQ(m.peakBin, 100);
    EXPECT_EQ(m.pathCount, 1);

    // A bin a rounding below the peak counts too, with a value 10 * log10 may round
    // to the peak's own: one path still, at the first of the two.
    power[101] = std::nextafter(1e6, 0.0);
    const DelayMetrics twin = cli::powerProfileMetrics(power.data(), 2049, {}, db.data());
    EXPECT_EQ(db[101], 10.0 * std::log10(power[101]));
    EXPECT_EQ(twin.peakBin, 100);
    EXPECT_EQ(twin.pathCount, 1);
    EXPECT_EQ(twin.countedBins, 2);
}

TEST(MetricsProfile, PowersBeyondTheSumsRangeGiveTheMetricsOfTheFullProfile)
{
    // Bins whose powers sum past the double range, or are not finite, send the profile
    // down the whole conversion; the metrics are those of the full profile still.
    struct Case {
        const char* what;
        std::vector<std::pair<int, double>> bins;
    };
    const std::vector<Case> cases = {
        {"two powers whose sum overflows", {{40, 1.5e308}, {41, 1.2e308}}},
        {"one power at the largest double", {{40, DBL_MAX}}},
        {"an infinite power", {{40, INFINITY}, {60, 1e3}}},
        {"a NaN power", {{40, NAN}, {60, 1e3}}},
        {"a noise bin overflowing the sum", {{1600, 1e308}, {1700, 1e308}, {60, 1e3}}},
    };
    std::mt19937 random(7);
    std::exponential_distribution<double> noise(1.0);
    for (const Case& c : cases) {
        std::vector<double> power(ProfileBins + 1, 1e-6);
        for (int k = 1; k <= 2049; ++k)
            power[size_t(k)] = noise(random);
        for (const auto& [bin, value] : c.bins)
            power[size_t(bin)] = value;
        std::vector<double> full(ProfileBins + 1, -60.0), db(ProfileBins + 1, -60.0);
        for (int k = 1; k <= 2049; ++k)
            full[size_t(k)] = 10.0 * std::log10(power[size_t(k)]);
        const DelayMetrics expected = computeDelayMetrics(full.data());
        EXPECT_TRUE(same(expected, cli::powerProfileMetrics(power.data(), 2049, {}, db.data()))) << c.what;
    }
}
