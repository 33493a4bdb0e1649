// The margin over the noise floor against survival functions known in closed form,
// and the sidelobe envelope against the transforms' textbook sidelobe levels.

#include "detection_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

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

TEST(DetectionLevels, MarginIsTheUpperQuantileOverTheMedianOfTheNoise)
{
    // Gamma of shape 1 and 2 (scale 1/N) have the survival functions exp(-N x) and
    // exp(-2x)(1 + 2x).
    const std::function<double(double)> survival[] = {
        [](double x) { return std::exp(-x); },
        [](double x) { return std::exp(-2.0 * x) * (1.0 + 2.0 * x); },
    };
    struct Case {
        int sweeps;
        double falseAlarm;
        int bins;
    };
    const Case cases[] = {{1, 1e-3, 2046}, {1, 1e-2, 2046}, {1, 0.5, 1}, {2, 1e-3, 2046}, {2, 1e-6, 100}, {2, 0.1, 1}};
    for (const Case& c : cases) {
        const auto& q = survival[c.sweeps - 1];
        const double perBin = 1.0 - std::pow(1.0 - c.falseAlarm, 1.0 / c.bins);
        const double expected = 10.0 * std::log10(solve(q, perBin) / solve(q, 0.5));
        EXPECT_NEAR(falseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins), expected, 1e-9)
            << c.sweeps << " sweeps, " << c.falseAlarm << " over " << c.bins << " bins";
        EXPECT_EQ(cachedFalseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins),
                  falseAlarmMarginDb(c.sweeps, c.falseAlarm, c.bins));
    }
    // The defaults' margins, as the documentation's table gives them.
    const double table[][2] = {{1, 13.21}, {5, 7.16}, {20, 4.05}};
    for (const auto& row : table)
        EXPECT_NEAR(falseAlarmMarginDb(int64_t(row[0]), 1e-3, 2046), row[1], 0.005) << row[0] << " sweeps";
    // Averaging narrows the noise, so the margin shrinks; a rarer false alarm widens it.
    EXPECT_GT(falseAlarmMarginDb(5, 1e-3, 2046), falseAlarmMarginDb(6, 1e-3, 2046));
    EXPECT_GT(falseAlarmMarginDb(5, 1e-4, 2046), falseAlarmMarginDb(5, 1e-3, 2046));
    EXPECT_GT(falseAlarmMarginDb(100000, 1e-3, 2046), 0.0);
    for (const Case& bad : {Case{0, 1e-3, 10}, Case{1, 0.0, 10}, Case{1, 1.0, 10}, Case{1, 1e-3, 0}, Case{1, NAN, 5},
                            Case{1, 4.9e-324, 2046}, Case{20, 1e-321, 2046}})
        EXPECT_TRUE(std::isnan(falseAlarmMarginDb(bad.sweeps, bad.falseAlarm, bad.bins)));
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
