// What a recording's profiles count as paths, through the tool's own analysis: noise
// alone counts (almost) nothing, one path counts one whatever the window and the
// padding, and a weaker path counts beside a stronger one where it stands clear of
// the stronger one's sidelobes.

#include "recording_analysis.h"
#include "recording_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Path {
    double bin;     // where it lies in the profile (1-based, may fall between bins)
    double levelDb; // amplitude relative to the strongest
};

// A recording of `sweeps` sweeps at a divider whose channels all hold the paths over
// Gaussian noise of noiseCodes (standard deviation in codes) about 2048 + offsetCodes (a
// converter's offset), with a phase that moves from sweep to sweep.
std::string writeRecording(const std::string& name, int divider, int sweeps, const std::vector<Path>& paths,
                           double noiseCodes, unsigned seed = 7, double offsetCodes = 0.0)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("path_detection_" + std::to_string(::getpid()) + "_" + name))
                                 .string();
    const int samples = divider == 2 ? 5000 : 2500;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, noiseCodes);
    rt::TextWriter file;
    file.create(path);
    writeRecordingHeader(file, sweeps, samples, divider == 2 ? 31 : 63, 20, 21, 22);
    std::vector<uint16_t> groups(size_t(samples) * 4);
    for (int s = 0; s < sweeps; ++s) {
        for (int i = 0; i < samples; ++i) {
            double v = 0.0;
            for (size_t p = 0; p < paths.size(); ++p) {
                const double x = 2.0 * std::numbers::pi * double(i) / 4096.0;
                v += 600.0 * std::pow(10.0, paths[p].levelDb / 20.0) *
                     std::cos(x * (paths[p].bin - 1.0) + 0.7 * double(s) * double(p + 1));
            }
            for (int c = 0; c < 3; ++c) {
                const long code = std::lround(2048.0 + offsetCodes + v + noise(random));
                groups[4 * size_t(i) + size_t(c)] = uint16_t(std::clamp(code, 0L, 4095L));
            }
        }
        writeSweepLines(file, groups.data(), samples);
    }
    file.close();
    return path;
}

const char* windowName(cli::SampleWindow w)
{
    return w == cli::SampleWindow::None ? "none" : w == cli::SampleWindow::Hann ? "hann" : "blackman";
}

// Null-to-null main-lobe width in bins of the profile: 2, 4 and 6 bins of the samples'
// own transform, stretched by the zero padding.
double mainLobeBins(cli::SampleWindow w, int divider)
{
    const double own = w == cli::SampleWindow::None ? 2.0 : w == cli::SampleWindow::Hann ? 4.0 : 6.0;
    return own * 4096.0 / (divider == 2 ? 4096.0 : 2500.0);
}

}  // namespace

TEST(PathDetection, PathsAreCountedOnceAndSidelobesNever)
{
    const cli::SampleWindow windows[] = {cli::SampleWindow::None, cli::SampleWindow::Hann, cli::SampleWindow::Blackman};
    struct Case {
        std::string what;
        std::vector<Path> paths;
        int expected;
    };
    int n = 0;
    for (const int divider : {2, 4})
        for (const cli::SampleWindow w : windows) {
            const double apart = 2.0 * mainLobeBins(w, divider);
            const std::vector<Case> cases = {
                {"one path on a bin", {{301.0, 0.0}}, 1},
                {"one path between bins", {{301.5, 0.0}}, 1},
                {"one path a quarter off a bin", {{301.25, 0.0}}, 1},
                {"two equal paths two main lobes apart", {{301.0, 0.0}, {301.0 + std::round(apart), 0.0}}, 2},
                {"a path 15 dB under, 12 bins on", {{301.0, 0.0}, {313.0, -15.0}}, 2},
                {"a path 15 dB under, 12 bins on, between bins", {{301.5, 0.0}, {313.5, -15.0}}, 2},
            };
            for (const Case& c : cases) {
                const std::string file = writeRecording("paths" + std::to_string(n++), divider, 3, c.paths, 0.5);
                cli::AnalysisSettings settings;
                settings.channel = 1;
                settings.blockSweeps = 3;
                settings.window = w;
                const cli::RecordingAnalysis r = cli::analyzeRecording(file, settings);
                std::filesystem::remove(file);
                ASSERT_EQ(r.channels.size(), 1u);
                const std::string what = c.what + ", divider " + std::to_string(divider) + ", window " + windowName(w);
                for (size_t s = 0; s < r.channels[0].sweeps.size(); ++s)
                    EXPECT_EQ(r.channels[0].sweeps[s].pathCount, c.expected) << what << ", sweep " << s + 1;
                ASSERT_EQ(r.channels[0].blocks.size(), 1u);
                EXPECT_EQ(r.channels[0].blocks[0].pathCount, c.expected) << what << ", block";
            }
        }
}

TEST(PathDetection, NoiseAloneGivesMetricsInAtMostOnePercentOfProfiles)
{
    struct Case {
        int divider;
        std::optional<double> marginDb;
        double atMost;  // share of the sweeps and of the blocks with metrics
        double sweepsAtLeast;
        double blocksAtLeast;
    };
    // The last row holds a fixed 6 dB margin, which most noise sweeps and many blocks clear.
    const Case cases[] = {
        {2, std::nullopt, 0.01, 0.0, 0.0}, {4, std::nullopt, 0.01, 0.0, 0.0}, {4, 6.0, 1.0, 0.5, 0.05}};
    for (const Case& c : cases) {
        const int sweeps = 1000;
        const std::string file = writeRecording("noise" + std::to_string(c.divider), c.divider, sweeps, {}, 40.0, 11);
        cli::AnalysisSettings settings;
        settings.channel = 2;
        settings.metrics.marginDb = c.marginDb;
        const cli::RecordingAnalysis r = cli::analyzeRecording(file, settings);
        std::filesystem::remove(file);
        ASSERT_EQ(r.channels.size(), 1u);
        const auto share = [](const std::vector<DelayMetrics>& profiles) {
            size_t with = 0;
            for (const DelayMetrics& m : profiles)
                with += m.rmsSpreadBins.has_value();
            return double(with) / double(profiles.size());
        };
        const std::string what = "divider " + std::to_string(c.divider) +
                                 (c.marginDb ? ", margin " + std::to_string(*c.marginDb) : std::string(", derived margin"));
        ASSERT_EQ(r.channels[0].sweeps.size(), size_t(sweeps));
        ASSERT_EQ(r.channels[0].blocks.size(), size_t(sweeps / 5));
        EXPECT_LE(share(r.channels[0].sweeps), c.atMost) << what;
        EXPECT_LE(share(r.channels[0].blocks), c.atMost) << what;
        EXPECT_GE(share(r.channels[0].sweeps), c.sweepsAtLeast) << what;
        EXPECT_GE(share(r.channels[0].blocks), c.blocksAtLeast) << what;
    }
}

TEST(PathDetection, TheSweepsMeanIsNoPathNorDelay)
{
    // A converter's offset of 30 codes (0.7% of the range) puts the sweep's mean in bin 1,
    // and the zero padding of divider 4, or a Blackman window, spreads it over the bins
    // beside it, far over the noise: such a recording of noise alone gave delay metrics
    // in every sweep (some 11 "paths" unwindowed at divider 4). A path of its own counts
    // as it does without the offset, and noise on the skirt counts no more often than
    // noise alone.
    const cli::SampleWindow windows[] = {cli::SampleWindow::None, cli::SampleWindow::Hann, cli::SampleWindow::Blackman};
    int n = 0;
    for (const int divider : {2, 4})
        for (const cli::SampleWindow w : windows) {
            const std::string what = "divider " + std::to_string(divider) + ", window " + windowName(w);
            cli::AnalysisSettings settings;
            settings.channel = 3;
            settings.window = w;
            // An offset of 5 codes puts the skirt near the floor over tens of bins, where
            // noise on it passed the skirt's level + 6 dB in some 3% of the sweeps at
            // divider 4 unwindowed (P is 1e-3 a profile).
            for (const double offset : {5.0, 30.0}) {
                const std::string noise = writeRecording("mean" + std::to_string(n++), divider, 200, {}, 3.0, 5, offset);
                const cli::RecordingAnalysis alone = cli::analyzeRecording(noise, settings);
                std::filesystem::remove(noise);
                ASSERT_EQ(alone.channels.size(), 1u);
                int withMetrics = 0;
                for (const std::vector<DelayMetrics>* profiles : {&alone.channels[0].sweeps, &alone.channels[0].blocks})
                    for (const DelayMetrics& m : *profiles)
                        withMetrics += m.countedBins > 0;
                EXPECT_LE(withMetrics, 2) << what << ", offset " << offset << ": noise and the mean alone";
            }

            for (const double offset : {0.0, 30.0}) {
                const std::string file =
                    writeRecording("meanpath" + std::to_string(n++), divider, 5, {{41.0, 0.0}}, 3.0, 5, offset);
                const cli::RecordingAnalysis r = cli::analyzeRecording(file, settings);
                std::filesystem::remove(file);
                ASSERT_EQ(r.channels.size(), 1u);
                for (const DelayMetrics& m : r.channels[0].sweeps) {
                    EXPECT_EQ(m.pathCount, 1) << what << ", offset " << offset;
                    EXPECT_EQ(m.pathBins, std::vector<int32_t>{41}) << what << ", offset " << offset;
                    EXPECT_LE(m.maxExcess20Bins.value_or(99), 12) << what << ", offset " << offset;
                }
            }
        }
}
