// Delay metrics against profiles whose answers are known in closed form.

#include "delay_metrics.h"
#include "delay_profile.h"
#include "finite_bins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr double NoiseDb = -100.0;

// A profile numbered from 1: the noise level everywhere, then the given bins set.
struct Profile {
    std::vector<double> db = std::vector<double>(ProfileBins + 1, NoiseDb);
    Profile& at(int32_t bin, double value)
    {
        db[size_t(bin)] = value;
        return *this;
    }
    DelayMetrics metrics(const DelayMetricsParams& params = {}) const
    {
        return computeDelayMetrics(db.data(), params);
    }
};

void expectNoDelayMetrics(const DelayMetrics& m)
{
    EXPECT_EQ(m.countedBins, 0);
    EXPECT_EQ(m.pathCount, 0);
    EXPECT_FALSE(m.firstArrivalBin);
    EXPECT_FALSE(m.meanExcessBins);
    EXPECT_FALSE(m.rmsSpreadBins);
    EXPECT_FALSE(m.maxExcess10Bins);
    EXPECT_FALSE(m.maxExcess20Bins);
    EXPECT_FALSE(m.window90Bins);
}

TEST(DelayMetrics, OnePathHasNoSpread)
{
    const DelayMetrics m = Profile{}.at(96, -20.0).metrics();
    ASSERT_TRUE(m.peakBin && m.noiseFloorDb && m.snrDb && m.rmsSpreadBins);
    EXPECT_EQ(*m.peakBin, 96);
    EXPECT_DOUBLE_EQ(*m.noiseFloorDb, NoiseDb);
    EXPECT_DOUBLE_EQ(*m.snrDb, 80.0);
    EXPECT_EQ(*m.firstArrivalBin, 96);
    EXPECT_DOUBLE_EQ(*m.meanExcessBins, 0.0);
    EXPECT_DOUBLE_EQ(*m.rmsSpreadBins, 0.0);
    EXPECT_EQ(*m.maxExcess10Bins, 0);
    EXPECT_EQ(*m.maxExcess20Bins, 0);
    EXPECT_EQ(*m.window90Bins, 0);
    EXPECT_EQ(m.countedBins, 1);
    EXPECT_EQ(m.pathCount, 1);
}

TEST(DelayMetrics, TwoEqualPathsSpreadHalfTheirDistance)
{
    for (const auto& [a, b] : {std::pair{10, 11}, std::pair{40, 70}, std::pair{3, 2048}}) {
        SCOPED_TRACE(testing::Message() << a << ".." << b);
        const DelayMetrics m = Profile{}.at(a, 5.0).at(b, 5.0).metrics();
        ASSERT_TRUE(m.meanExcessBins && m.rmsSpreadBins);
        EXPECT_EQ(*m.peakBin, a);  // the first of equal bins is the peak
        EXPECT_EQ(*m.firstArrivalBin, a);
        EXPECT_NEAR(*m.meanExcessBins, (b - a) / 2.0, 1e-9);
        EXPECT_NEAR(*m.rmsSpreadBins, (b - a) / 2.0, 1e-9);
        EXPECT_EQ(*m.maxExcess10Bins, b - a);
        EXPECT_EQ(*m.window90Bins, b - a);
        // Neighbouring bins are one path: the second is not higher than the first.
        EXPECT_EQ(m.pathCount, b - a >= 2 ? 2 : 1);
    }
}

TEST(DelayMetrics, ExponentialDecayMatchesTruncatedGeometricMoments)
{
    // P_n = r^n for n = 0..N-1, N the bins within 20 dB: a geometric series cut at N.
    for (const double dbPerBin : {0.25, 0.5, 2.0}) {
        SCOPED_TRACE(dbPerBin);
        const int32_t k0 = 50;
        const int32_t n = int32_t(20.0 / dbPerBin) + 1;
        Profile profile;
        for (int32_t i = 0; i < 400; ++i)
            profile.at(k0 + i, -10.0 - dbPerBin * i);
        const DelayMetrics m = profile.metrics();
        const double r = std::pow(10.0, -dbPerBin / 10.0);
        const double rn = std::pow(r, n);
        const double mean = r / (1 - r) - n * rn / (1 - rn);
        const double variance = r / ((1 - r) * (1 - r)) - double(n) * n * rn / ((1 - rn) * (1 - rn));
        ASSERT_TRUE(m.meanExcessBins && m.rmsSpreadBins);
        EXPECT_EQ(m.countedBins, n);
        EXPECT_EQ(*m.firstArrivalBin, k0);
        EXPECT_NEAR(*m.meanExcessBins, mean, 1e-9);
        EXPECT_NEAR(*m.rmsSpreadBins, std::sqrt(variance), 1e-9);
        EXPECT_EQ(*m.maxExcess10Bins, int32_t(10.0 / dbPerBin));
        EXPECT_EQ(*m.maxExcess20Bins, n - 1);
        EXPECT_EQ(m.pathCount, 1);
    }
}

TEST(DelayMetrics, WindowCutsFivePercentOnEachSide)
{
    // Powers 1, 30, 1 (linear): each outer bin holds 3%, so both are cut.
    const DelayMetrics narrow = Profile{}.at(100, 0.0).at(101, 10.0 * std::log10(30.0)).at(102, 0.0).metrics();
    EXPECT_EQ(*narrow.window90Bins, 0);
    // Powers 3, 14, 3: each outer bin holds 15%, so both stay inside.
    const DelayMetrics wide = Profile{}.at(100, 0.0).at(101, 10.0 * std::log10(14.0 / 3.0)).at(102, 0.0).metrics();
    EXPECT_EQ(*wide.window90Bins, 2);
}

TEST(DelayMetrics, ThresholdAndMarginEdgesCountInclusively)
{
    // A bin exactly at the threshold counts; a hair below does not.
    EXPECT_EQ(Profile{}.at(20, 0.0).at(30, -20.0).metrics().countedBins, 2);
    EXPECT_EQ(Profile{}.at(20, 0.0).at(30, -20.001).metrics().countedBins, 1);
    DelayMetricsParams tight;
    tight.thresholdDb = 5.0;
    EXPECT_EQ(*Profile{}.at(20, 0.0).at(30, -6.0).metrics(tight).maxExcess10Bins, 10);
    EXPECT_EQ(Profile{}.at(20, 0.0).at(30, -6.0).metrics(tight).countedBins, 1);

    // A bin exactly the margin above the floor counts, a hair below does not; here the
    // threshold is wide so that the margin alone decides.
    DelayMetricsParams deep;
    deep.thresholdDb = 200.0;
    deep.marginDb = 6.0;
    const double floor = *Profile{}.at(20, 0.0).metrics(deep).noiseFloorDb;
    EXPECT_EQ(Profile{}.at(20, 0.0).at(30, floor + 6.0).metrics(deep).countedBins, 2);
    EXPECT_EQ(Profile{}.at(20, 0.0).at(30, floor + 5.999).metrics(deep).countedBins, 1);
    // The maximum excess at 20 dB ignores bins that do not clear the floor by the margin.
    DelayMetricsParams wideMargin;
    wideMargin.marginDb = 95.0;
    const DelayMetrics m = Profile{}.at(20, 0.0).at(30, -10.0).metrics(wideMargin);
    EXPECT_EQ(*m.maxExcess20Bins, 0);
    EXPECT_EQ(m.countedBins, 1);
}

TEST(DelayMetrics, PeakSearchStartsAtTheFirstDelayBin)
{
    // Bins 1-2 (the sweep's mean) and negative delays are stronger but are not paths.
    const DelayMetrics m = Profile{}.at(1, 50.0).at(2, 40.0).at(3000, 60.0).at(200, 0.0).metrics();
    EXPECT_EQ(*m.peakBin, 200);
    EXPECT_EQ(m.countedBins, 1);
    DelayMetricsParams fromOne;
    fromOne.firstDelayBin = 1;
    EXPECT_EQ(*Profile{}.at(1, 50.0).at(200, 0.0).metrics(fromOne).peakBin, 1);
}

TEST(DelayMetrics, PeakIsTheFirstStrongestFiniteBinOfAnyRange)
{
    // Ranges of every length and start, ties, and bins that are NaN or infinite,
    // against a plain scan.
    std::mt19937 random(1407);
    for (int trial = 0; trial < 4000; ++trial) {
        Profile p;
        for (int32_t k = 1; k <= ProfileBins; ++k) {
            switch (random() % 16) {
            case 0: p.at(k, std::nan("")); break;
            case 1: p.at(k, INFINITY); break;
            case 2: p.at(k, -INFINITY); break;
            default: p.at(k, double(random() % 40) - 60.0);  // many ties
            }
        }
        DelayMetricsParams params;
        params.firstDelayBin = int32_t(1 + random() % 64);
        params.lastDelayBin = params.firstDelayBin + int32_t(random() % (trial % 2 ? 12 : 2100));
        if (trial % 7 == 0)  // nothing finite in the range
            for (int32_t k = params.firstDelayBin; k <= params.lastDelayBin; ++k)
                p.at(k, k % 2 ? INFINITY : std::nan(""));
        int32_t expected = 0;
        for (int32_t k = params.firstDelayBin; k <= params.lastDelayBin; ++k)
            if (std::isfinite(p.db[size_t(k)]) && (expected == 0 || p.db[size_t(k)] > p.db[size_t(expected)]))
                expected = k;
        const DelayMetrics m = p.metrics(params);
        if (expected == 0) {
            EXPECT_FALSE(m.peakBin) << trial;
        } else {
            ASSERT_TRUE(m.peakBin) << trial;
            EXPECT_EQ(*m.peakBin, expected) << trial;
        }
    }
}

TEST(DelayMetrics, BinsAtOrAboveALevelAreEveryFiniteOneOfAnyRangeInOrder)
{
    // Against a plain scan: ranges of every length and start, levels at, between and
    // beyond the values, NaN and infinite bins; every group of four bins in any mix.
    // The output has exactly the room the range needs, so a write past it is caught
    // by the guard after it (and by the sanitizer build).
    std::mt19937 random(2049);
    for (int trial = 0; trial < 6000; ++trial) {
        std::vector<double> db(size_t(ProfileBins) + 1);
        for (double& x : db) {
            switch (random() % 12) {
            case 0: x = std::nan(""); break;
            case 1: x = INFINITY; break;
            case 2: x = -INFINITY; break;
            default: x = double(random() % 8) - 4.0;
            }
        }
        const int32_t first = int32_t(1 + random() % 64);
        const int32_t last = std::min<int32_t>(ProfileBins, first + int32_t(random() % (trial % 3 ? 9 : 4000)));
        const double level = trial % 5 == 0 ? -INFINITY : double(random() % 10) - 5.5 + (trial % 2 ? 0.5 : 0.0);
        std::vector<int32_t> expected;
        for (int32_t k = first; k <= last; ++k)
            if (db[size_t(k)] >= level && db[size_t(k)] < INFINITY)
                expected.push_back(k);
        const size_t room = size_t(last - first + 1);
        std::vector<int32_t> out(room + 1, -7);
        const size_t count = finiteBinsAtOrAbove(db.data(), first, last, level, out.data());
        ASSERT_EQ(count, expected.size()) << trial;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << trial;
        EXPECT_EQ(out[room], -7) << trial;
    }
}

TEST(DelayMetrics, CandidateBinsGiveTheMetricsOfTheWholeSearch)
{
    // The peak and every bin at or above the gathering level listed (with or without
    // bins below it, NaN and infinite bins among them): the same numbers as the search
    // over the whole delay range, down to the path bins.
    std::mt19937 random(3);
    for (int trial = 0; trial < 3000; ++trial) {
        Profile p;
        for (int32_t k = 1; k <= ProfileBins; ++k) {
            switch (random() % 64) {
            case 0: p.at(k, std::nan("")); break;
            case 1: p.at(k, INFINITY); break;
            case 2: p.at(k, -INFINITY); break;
            default: p.at(k, double(random() % (trial % 2 ? 30 : 3000)) / (trial % 2 ? 1.0 : 100.0) - 60.0);
            }
        }
        DelayMetricsParams params;
        params.marginDb = double(random() % 20);
        params.thresholdDb = double(random() % 40);
        params.firstDelayBin = int32_t(1 + random() % 20);
        params.lastDelayBin = params.firstDelayBin + int32_t(random() % 2000);
        const std::optional<double> floor = -60.0 + double(random() % 20);
        const DelayMetrics whole = computeDelayMetrics(p.db.data(), params, floor);
        if (!whole.peakBin)
            continue;
        const double peak = *whole.peakDb;
        const double level = std::max(*floor + *params.marginDb, peak - std::max(20.0, params.thresholdDb));
        // Listed: the peak's equals and those at the level, and some others below it.
        std::vector<int32_t> listed;
        for (int32_t k = params.firstDelayBin; k <= params.lastDelayBin; ++k) {
            const double x = p.db[size_t(k)];
            if ((x >= std::min(level, peak) && x < INFINITY) || (trial % 3 == 0 && random() % 8 == 0))
                listed.push_back(k);
        }
        const DelayMetrics got = computeDelayMetrics(p.db.data(), params, floor, listed.data(), listed.size());
        ASSERT_EQ(got.peakBin, whole.peakBin) << trial;
        EXPECT_EQ(got.peakDb, whole.peakDb) << trial;
        EXPECT_EQ(got.countedBins, whole.countedBins) << trial;
        EXPECT_EQ(got.pathBins, whole.pathBins) << trial;
        EXPECT_EQ(got.firstArrivalBin, whole.firstArrivalBin) << trial;
        EXPECT_EQ(got.rmsSpreadBins, whole.rmsSpreadBins) << trial;
        EXPECT_EQ(got.meanExcessBins, whole.meanExcessBins) << trial;
        EXPECT_EQ(got.maxExcess10Bins, whole.maxExcess10Bins) << trial;
        EXPECT_EQ(got.maxExcess20Bins, whole.maxExcess20Bins) << trial;
        EXPECT_EQ(got.window90Bins, whole.window90Bins) << trial;
        EXPECT_EQ(got.countedPowerDb, whole.countedPowerDb) << trial;
    }
}

TEST(DelayMetrics, NoiseFloorIsTheMedianOverTheNoiseBins)
{
    Profile profile;
    // Odd count: the median value itself.
    DelayMetricsParams odd;
    odd.noiseFirstBin = 1001;
    odd.noiseLastBin = 1003;
    profile.at(1001, -50.0).at(1002, -70.0).at(1003, -90.0);
    EXPECT_DOUBLE_EQ(*profile.metrics(odd).noiseFloorDb, -70.0);
    // Even count: the mean of the two middle powers (1 and 3 -> 2, i.e. 3.01 dB).
    DelayMetricsParams even;
    even.noiseFirstBin = 1001;
    even.noiseLastBin = 1004;
    profile.at(1001, 0.0).at(1002, 10.0 * std::log10(3.0)).at(1003, 20.0).at(1004, -30.0);
    EXPECT_NEAR(*profile.metrics(even).noiseFloorDb, 10.0 * std::log10(2.0), 1e-12);
}

TEST(DelayMetrics, PureNoiseReportsEveryDelayMetricAbsent)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> jitter(-2.5, 2.5);
    Profile flat, noisy;
    for (int32_t k = 1; k <= ProfileBins; ++k)
        noisy.at(k, -80.0 + jitter(random));
    for (const Profile* profile : {&flat, &noisy}) {
        const DelayMetrics m = profile->metrics();
        expectNoDelayMetrics(m);
        ASSERT_TRUE(m.snrDb);  // the peak and its SNR are still reported
        EXPECT_TRUE(std::isfinite(*m.snrDb));
        EXPECT_LT(*m.snrDb, 6.0);
    }
}

TEST(DelayMetrics, NoiseAloneCountsWithTheStatedFalseAlarmRateWhateverItsFloorRests)
{
    // Profiles of noise alone, each bin the mean of N exponential powers: the share that
    // counts any bin is the false-alarm probability asked for, at most, also where the
    // floor rests on few noise bins (whose median is far from sure: the margin of a
    // floor known exactly let 22% of these sweeps and 14% of the blocks count with 8
    // noise bins at P = 0.02, 3.5 times the rate asked for with 64, and 31% with 2).
    struct Case {
        int32_t noiseFirstBin;
        int64_t sweeps;
        double falseAlarm;
        int profiles;
    };
    const Case cases[] = {{2041, 1, 0.02, 2000}, {2041, 5, 0.02, 2000}, {1985, 1, 0.02, 2000}, {2047, 1, 0.05, 1000},
                          {1537, 1, 0.05, 1000}};
    std::mt19937_64 random(5);
    std::gamma_distribution<double> noise;
    for (const Case& c : cases) {
        noise = std::gamma_distribution<double>(double(c.sweeps), 1.0 / double(c.sweeps));
        DelayMetricsParams params;
        params.noiseFirstBin = c.noiseFirstBin;
        params.averagedSweeps = c.sweeps;
        params.falseAlarm = c.falseAlarm;
        Profile profile;
        int counting = 0;
        for (int i = 0; i < c.profiles; ++i) {
            for (int32_t k = 1; k <= 2049; ++k)  // the delay bins and the one past them
                profile.at(k, 10.0 * std::log10(noise(random)));
            counting += profile.metrics(params).countedBins > 0;
        }
        // Three standard deviations over the rate asked for.
        const double atMost =
            c.falseAlarm + 3.0 * std::sqrt(c.falseAlarm * (1.0 - c.falseAlarm) / double(c.profiles));
        EXPECT_LE(double(counting) / double(c.profiles), atMost)
            << "noise bins " << c.noiseFirstBin << "..2048, " << c.sweeps << " sweeps, P = " << c.falseAlarm;
    }
}

TEST(DelayMetrics, UnusableInputGivesAbsentValuesNeverNaN)
{
    Profile nan;
    for (int32_t k = 1; k <= ProfileBins; ++k)
        nan.at(k, std::nan(""));
    const DelayMetrics none = nan.metrics();
    expectNoDelayMetrics(none);
    EXPECT_FALSE(none.peakBin || none.noiseFloorDb || none.snrDb);

    // NaN and infinite bins are skipped; the finite path still counts.
    const DelayMetrics some = Profile{}.at(40, std::nan("")).at(41, INFINITY).at(60, 0.0).metrics();
    EXPECT_EQ(*some.peakBin, 60);
    EXPECT_EQ(some.countedBins, 1);

    DelayMetricsParams reversed;
    reversed.noiseFirstBin = 2000;
    reversed.noiseLastBin = 1000;
    DelayMetricsParams outside;
    outside.lastDelayBin = 4097;
    DelayMetricsParams negative;
    negative.marginDb = -1.0;
    for (const auto& params : {reversed, outside, negative}) {
        EXPECT_NE(delayMetricsParamsProblem(params), nullptr);
        const DelayMetrics m = Profile{}.at(60, 0.0).metrics(params);
        expectNoDelayMetrics(m);
        EXPECT_FALSE(m.peakBin);
    }
    EXPECT_EQ(delayMetricsParamsProblem(DelayMetricsParams{}), nullptr);
}

TEST(DelayMetrics, ProfileOfASweepWithOneToneFindsItsBin)
{
    // A tone of 95 cycles over 4096 samples lands in transform bin 95, profile bin 96.
    std::vector<double> sweep(5001, 0.0);
    for (size_t i = 1; i <= 5000; ++i)
        sweep[i] = 0.5 * std::cos(2.0 * M_PI * 95.0 * double(i - 1) / 4096.0);
    static FourierArea area;
    std::vector<double> profile(ProfileBins + 1);
    computeDelayProfile(sweep.data(), 2, area, profile.data());
    const DelayMetrics m = computeDelayMetrics(profile.data());
    EXPECT_EQ(*m.peakBin, 96);
    EXPECT_DOUBLE_EQ(*m.noiseFloorDb, -60.0);  // the profile's floor of 1e-6
    EXPECT_DOUBLE_EQ(*m.rmsSpreadBins, 0.0);
}

TEST(DelayMetrics, SecondsPerBinFollowTheDivider)
{
    EXPECT_DOUBLE_EQ(*delaySecondsPerBin(2, 1e6), 5000.0 / (4096.0 * 1e6));
    EXPECT_DOUBLE_EQ(*delaySecondsPerBin(4, 1e6), 2500.0 / (4096.0 * 1e6));
    EXPECT_FALSE(delaySecondsPerBin(3, 1e6));
    EXPECT_FALSE(delaySecondsPerBin(2, 0.0));
    EXPECT_FALSE(delaySecondsPerBin(2, -5.0));
    EXPECT_FALSE(delaySecondsPerBin(2, INFINITY));
}

}  // namespace
