// The margin over the noise floor against false-alarm chances known in closed form,
// and the sidelobe envelope against the transforms' textbook sidelobe levels.

#include "detection_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numbers>

namespace {

// x where survival(x) = p, survival falling from 1 at 0: by bisection.
double solve(const std::function<double(double)>& survival, double p)
{
    double low = 0.0, high = 1000.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = (low + high) / 2.0;
        (survival(mid) > p ? low : high) = mid;
    }
    return (low + high) / 2.0;
}

// The tables' file of common/ as computeSidelobeEnvelopeDb gives them now.
bool writeSidelobeTables(const char* path)
{
    FILE* f = std::fopen(path, "w");
    if (!f)
        return false;
    std::fprintf(f, "// The sidelobe envelopes of the acquisition program's transforms (4096 samples at\n"
                    "// divider 2, 2500 at divider 4, under each window), exactly as\n"
                    "// computeSidelobeEnvelopeDb gives them, so that no run spends 10 to 40 ms making one.\n"
                    "// Written by common_tests (DetectionLevels.BuiltSidelobeEnvelopesAreTheComputedOnes)\n"
                    "// with SOUNDER_WRITE_SIDELOBE_TABLES=FILE; that test checks them bit for bit.\n\n"
                    "struct BuiltTable {\n    TransformWindow window;\n    int32_t samples;\n"
                    "    double db[2049];\n};\n\nconst BuiltTable BuiltTables[] = {\n");
    const char* const names[] = {"None", "Hann", "Blackman"};
    for (int w = 0; w < 3; ++w)
        for (int samples : {4096, 2500}) {
            const std::vector<double> e = computeSidelobeEnvelopeDb(TransformWindow(w), samples);
            std::fprintf(f, "    {TransformWindow::%s, %d, {", names[w], samples);
            for (size_t i = 0; i < e.size(); ++i)
                std::fprintf(f, "%s%a,", i % 4 == 0 ? "\n        " : " ", e[i]);
            std::fprintf(f, "\n    }},\n");
        }
    std::fprintf(f, "};\n");
    return std::fclose(f) == 0;
}

}  // namespace

TEST(DetectionLevels, MarginKeepsTheFalseAlarmRateWithTheFloorItsNoiseBinsGive)
{
    // One sweep's noise is exponential, and the floor the median of n (odd) of its bins,
    // the j = (n + 1) / 2-th lowest: P(a bin above r x floor) = E[exp(-r floor)], which is
    // prod_{i=1..j} (n - i + 1) / (n - i + 1 + r); any of M bins by inclusion-exclusion.
    const auto exponential = [](int n, int bins, double r) {
        double none = 0.0, binomial = 1.0;
        for (int k = 0; k <= bins; ++k) {
            double each = 1.0;
            for (int i = 1; i <= (n + 1) / 2; ++i)
                each *= double(n - i + 1) / (double(n - i + 1) + k * r);
            none += (k % 2 == 0 ? 1.0 : -1.0) * binomial * each;
            binomial = binomial * double(bins - k) / double(k + 1);
        }
        return 1.0 - none;
    };
    // Two sweeps, one noise bin, one bin searched: the ratio of two gamma(2) values has
    // P(Y > r X) = 1 - I_t(2, 2) = 1 - 3t^2 + 2t^3, t = r / (1 + r).
    const auto twoSweeps = [](int, int, double r) {
        const double t = r / (1.0 + r);
        return 1.0 - 3.0 * t * t + 2.0 * t * t * t;
    };
    struct Case {
        int sweeps;
        double falseAlarm;
        int bins;
        int noiseBins;
        std::function<double(int, int, double)> chance;
    };
    const Case cases[] = {{1, 1e-3, 1, 1, exponential},  {1, 0.5, 1, 1, exponential},  {1, 1e-2, 3, 7, exponential},
                          {1, 1e-3, 4, 511, exponential}, {1, 0.1, 2, 3, exponential},  {2, 1e-3, 1, 1, twoSweeps},
                          {2, 0.2, 1, 1, twoSweeps},      {1, 0.999, 1, 1, exponential}, {1, 0.9, 3, 5, exponential}};
    for (const Case& c : cases) {
        const double ratio = solve([&](double r) { return c.chance(c.noiseBins, c.bins, r); }, c.falseAlarm);
        EXPECT_NEAR(falseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins, c.noiseBins), 10.0 * std::log10(ratio), 1e-4)
            << c.sweeps << " sweeps, " << c.falseAlarm << " over " << c.bins << " bins, floor of " << c.noiseBins;
        EXPECT_EQ(cachedFalseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins, c.noiseBins),
                  falseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins, c.noiseBins));
    }
    // The defaults (2046 bins searched, a floor of 512): for one sweep the chance over a
    // floor of the lower middle bin, the sum of the chances of each bin, is P to within
    // the P^2 the sum counts twice; the former margin, the plain ratio of the per-bin
    // quantile to the median, let half as many false alarms again through.
    const double sweepRatio = std::pow(10.0, falseAlarmMarginDb(1, 1e-3, 2046, 512) / 10.0);
    double each = 1.0;
    for (int i = 1; i <= 256; ++i)
        each *= double(512 - i + 1) / double(512 - i + 1 + sweepRatio);
    EXPECT_NEAR(2046.0 * each, 1e-3, 2e-6);
    // The documentation's table.
    const double table[][4] = {{1, 12.58, 13.35, 14.01}, {5, 6.66, 7.19, 7.65}, {20, 3.72, 4.06, 4.36}};
    for (const auto& row : table)
        for (int p = 0; p < 3; ++p)
            EXPECT_NEAR(falseAlarmMarginDb(int64_t(row[0]), std::pow(10.0, -2 - p), 2046, 512), row[p + 1], 0.005)
                << row[0] << " sweeps, P = 1e-" << 2 + p;
    // A floor of fewer bins is less sure, and asks for more; with all 4096 the margin
    // nears the plain ratio (the floor known exactly), from above.
    const double plain = 10.0 * std::log10(std::log(2046.0 / 1e-3) / std::log(2.0));
    EXPECT_GT(falseAlarmMarginDb(1, 1e-3, 2046, 4096), plain);
    EXPECT_LT(falseAlarmMarginDb(1, 1e-3, 2046, 4096), plain + 0.03);
    EXPECT_GT(falseAlarmMarginDb(1, 1e-3, 2046, 64), falseAlarmMarginDb(1, 1e-3, 2046, 512) + 0.5);
    // Averaging narrows the noise, so the margin shrinks; a rarer false alarm widens it.
    EXPECT_GT(falseAlarmMarginDb(5, 1e-3, 2046, 512), falseAlarmMarginDb(6, 1e-3, 2046, 512));
    EXPECT_GT(falseAlarmMarginDb(5, 1e-4, 2046, 512), falseAlarmMarginDb(5, 1e-3, 2046, 512));
    EXPECT_GT(falseAlarmMarginDb(100000, 1e-3, 2046, 512), 0.0);
    for (const double p : {1e-300, 0.5, 0.999999, 1.0 - 1e-10, 1.0 - 1e-15})
        for (const int noiseBins : {1, 8, 512})
            EXPECT_TRUE(std::isfinite(falseAlarmMarginDb(1, p, 2046, noiseBins))) << p << ", " << noiseBins;
    struct Bad {
        int sweeps;
        double falseAlarm;
        int bins;
        int noiseBins;
    };
    for (const Bad& bad : {Bad{0, 1e-3, 10, 5}, Bad{1, 0.0, 10, 5}, Bad{1, 1.0, 10, 5}, Bad{1, 1e-3, 0, 5},
                           Bad{1, 1e-3, 10, 0}, Bad{1, NAN, 5, 5}, Bad{1, 4.9e-324, 2046, 512},
                           Bad{20, 1e-321, 2046, 512}}) {
        EXPECT_TRUE(std::isnan(falseAlarmMarginDb(bad.sweeps, bad.falseAlarm, bad.bins, bad.noiseBins)));
        EXPECT_TRUE(std::isnan(cachedFalseAlarmMarginDb(bad.sweeps, bad.falseAlarm, bad.bins, bad.noiseBins)));
    }
}

TEST(DetectionLevels, MeanLeaksWhereTheTransformIsPaddedOrWindowed)
{
    // A component on bin 1 puts |W(d)|^2 on the bin d away: the window's coefficients on
    // the bins beside it over a whole number of periods (Hann a1 / 2 over a0, Blackman
    // a1 / 2 and a2 / 2 over a0), and for 2500 samples in 4096 points the Dirichlet
    // kernel sin(pi 2500 d / 4096) / (2500 sin(pi d / 4096)).
    const auto padded = [](int d) {
        const double x = std::numbers::pi * double(d) / 4096.0;
        return 20.0 * std::log10(std::abs(std::sin(2500.0 * x) / (2500.0 * std::sin(x))));
    };
    struct Case {
        TransformWindow window;
        int samples;
        int bins;
        double db;  // below -250: nothing
    };
    const Case cases[] = {
        {TransformWindow::None, 4096, 1, -300},
        {TransformWindow::None, 4096, 700, -300},
        {TransformWindow::Hann, 4096, 1, 20.0 * std::log10(0.5)},
        {TransformWindow::Hann, 4096, 2, -300},
        {TransformWindow::Blackman, 4096, 1, 20.0 * std::log10(0.25 / 0.42)},
        {TransformWindow::Blackman, 4096, 2, 20.0 * std::log10(0.04 / 0.42)},
        {TransformWindow::Blackman, 4096, 3, -300},
        {TransformWindow::None, 2500, 1, padded(1)},
        {TransformWindow::None, 2500, 2, padded(2)},
        {TransformWindow::None, 2500, 37, padded(37)},
        {TransformWindow::None, 2500, 2048, padded(2048)},
    };
    for (const Case& c : cases) {
        const std::vector<double>& leakage = meanLeakageDb(c.window, c.samples);
        ASSERT_EQ(leakage.size(), 2049u);
        EXPECT_EQ(leakage[0], 0.0);
        if (c.db < -250.0)
            EXPECT_LT(leakage[size_t(c.bins)], -250.0) << int(c.window) << ", " << c.samples << ", " << c.bins;
        else
            EXPECT_NEAR(leakage[size_t(c.bins)], c.db, 1e-9) << int(c.window) << ", " << c.samples << ", " << c.bins;
    }
}

TEST(DetectionLevels, SidelobeEnvelopeFollowsEachTransform)
{
    struct Case {
        TransformWindow window;
        int samples;
        double bins;       // a distance in profile bins ...
        double highestDb;  // ... beyond which the envelope is at most this
        double lowestDb;   // ... and at it at least this
    };
    const Case cases[] = {
        // Unpadded, unwindowed: a path between bins shows equal neighbours, and the
        // sinc's sidelobes fall as 1/d (-13.3 dB first sidelobe, scalloping 3.9 dB).
        {TransformWindow::None, 4096, 1, 0.0, -0.01},
        {TransformWindow::None, 4096, 12, -26.0, -28.0},
        // Padded by 4096/2500: the same sidelobes, 1.64 profile bins apart.
        {TransformWindow::None, 2500, 3, -8.0, -14.0},
        {TransformWindow::None, 2500, 12, -23.0, -28.0},
        // Hann: -31.5 dB first sidelobe, falling 18 dB an octave.
        {TransformWindow::Hann, 4096, 3, -28.0, -32.0},
        {TransformWindow::Hann, 4096, 12, -55.0, -75.0},
        // Blackman: below -58 dB past its main lobe of 3 bins each side.
        {TransformWindow::Blackman, 4096, 4, -56.0, -70.0},
        {TransformWindow::Blackman, 2500, 7, -56.0, -75.0},
    };
    for (const Case& c : cases) {
        const std::vector<double>& e = sidelobeEnvelopeDb(c.window, c.samples);
        ASSERT_EQ(e.size(), 2049u);
        EXPECT_EQ(e[0], 0.0);
        const size_t d = size_t(c.bins);
        EXPECT_LE(e[d], c.highestDb) << int(c.window) << " " << c.samples << " at " << d;
        EXPECT_GE(e[d], c.lowestDb) << int(c.window) << " " << c.samples << " at " << d;
        for (size_t i = 1; i < e.size(); ++i)
            ASSERT_LE(e[i], e[i - 1]) << "not falling at " << i;
        EXPECT_EQ(&sidelobeEnvelopeDb(c.window, c.samples), &e);
    }
}

TEST(DetectionLevels, BuiltSidelobeEnvelopesAreTheComputedOnes)
{
    if (const char* path = std::getenv("SOUNDER_WRITE_SIDELOBE_TABLES")) {
        ASSERT_TRUE(writeSidelobeTables(path)) << path;
    }
    // Every window at both dividers' sample counts, bit for bit, and the envelope in use
    // is the built one.
    const std::vector<BuiltSidelobeEnvelope> built = builtSidelobeEnvelopes();
    ASSERT_EQ(built.size(), 6u);
    for (const TransformWindow window : {TransformWindow::None, TransformWindow::Hann, TransformWindow::Blackman})
        for (const int samples : {4096, 2500}) {
            const BuiltSidelobeEnvelope* table = nullptr;
            for (const BuiltSidelobeEnvelope& b : built)
                if (b.window == window && b.samples == samples)
                    table = &b;
            ASSERT_NE(table, nullptr) << int(window) << " " << samples;
            const std::vector<double> computed = computeSidelobeEnvelopeDb(window, samples);
            ASSERT_EQ(computed.size(), 2049u);
            EXPECT_EQ(std::memcmp(computed.data(), table->db, sizeof(double) * computed.size()), 0)
                << int(window) << " " << samples << ": run with SOUNDER_WRITE_SIDELOBE_TABLES=FILE to write them anew";
            const std::vector<double>& inUse = sidelobeEnvelopeDb(window, samples);
            EXPECT_EQ(std::memcmp(inUse.data(), table->db, sizeof(double) * inUse.size()), 0);
        }
    // Another sample count is computed.
    EXPECT_EQ(sidelobeEnvelopeDb(TransformWindow::Hann, 3000), computeSidelobeEnvelopeDb(TransformWindow::Hann, 3000));
}
