// The simulated sounder's outputs: sweep marker timing, code range, clipping, levels
// that follow gain and attenuation, noise, determinism and the delay of each path.
#include "scan_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <set>

namespace sh = scanhelp;

namespace {

class Signal : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::reset();
        busdriver::configurePorts();
    }
    void TearDown() override { boardsim::reset(); }

    // A noise-free channel 1 with a single path; channels 2 and 3 silent.
    static void singlePath(double beatCycles, double amplitude, double noise = 0)
    {
        boardsim::SignalModel m = boardsim::signalModel();
        m.channels = {};
        m.channels[0].paths = {{beatCycles, amplitude, 0.0}};
        m.channels[0].noiseVolts = noise;
        boardsim::setSignalModel(m);
    }
};

struct PeriodCase {
    int32_t clocks;
    int divider;
};

class MarkerPeriod : public Signal, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(MarkerPeriod, SweepsFollowEveryClocksOverDividerGroups)
{
    const auto [clocks, divider] = GetParam();
    boardsim::setClocksPerSweep(clocks);
    sh::setDivider(divider);
    const auto samples = sh::scan(4 * 6 * clocks / divider);
    const auto edges = sh::markerEdges(samples);
    ASSERT_GE(edges.size(), 5u);
    const double period = static_cast<double>(clocks) / divider;
    for (size_t i = 1; i < edges.size(); ++i) {
        const int32_t gap = edges[i] - edges[i - 1];
        EXPECT_GE(gap, std::floor(period)) << i;
        EXPECT_LE(gap, std::ceil(period)) << i;
    }
    // Over several sweeps a fractional period averages out exactly.
    EXPECT_NEAR(static_cast<double>(edges.back() - edges.front()) / (edges.size() - 1), period, 1.0);

    // A short pulse of four groups, at the high level; otherwise low, well under 2800.
    const auto model = boardsim::signalModel();
    for (int32_t g = edges[1] - 2; g < edges[1] + 6; ++g) {
        const bool inPulse = g >= edges[1] && g < edges[1] + model.markerPulseGroups;
        EXPECT_EQ(samples[4 * g + 3], inPulse ? model.markerHigh : model.markerLow) << g;
    }
    EXPECT_LT(model.markerLow, 2800);
    EXPECT_GT(model.markerHigh, 3000);
}

INSTANTIATE_TEST_SUITE_P(Dividers, MarkerPeriod,
                         ::testing::Values(PeriodCase{10000, 2}, PeriodCase{10000, 4}, PeriodCase{20000, 2},
                                           PeriodCase{10000, 3}, PeriodCase{7000, 1}));

TEST_F(Signal, PowerOnDividerIsTwo)
{
    const auto edges = sh::markerEdges(sh::scan(80000));
    ASSERT_GE(edges.size(), 3u);
    EXPECT_EQ(edges[2] - edges[1], 5000);
}

TEST_F(Signal, NoClocksPerSweepMeansNoSweeps)
{
    boardsim::setClocksPerSweep(0);
    const auto samples = sh::scan(40000);
    EXPECT_EQ(sh::sweepStart(samples, 2800), -1);
}

TEST_F(Signal, ScanStartsAtRandomPhaseUnlessFixed)
{
    std::set<int32_t> starts;
    for (int i = 0; i < 6; ++i)
        starts.insert(sh::sweepStart(sh::scan(40000)));
    EXPECT_GT(starts.size(), 3u) << "the scan starts anywhere in a sweep";

    auto m = boardsim::signalModel();
    m.startClock = 2000;  // 2000 clocks into a sweep: 4000 groups to the next at divider 2
    boardsim::setSignalModel(m);
    EXPECT_EQ(sh::sweepStart(sh::scan(40000)), 4 * 4000);
    m.startClock = 0;
    boardsim::setSignalModel(m);
    EXPECT_EQ(sh::sweepStart(sh::scan(40000)), 0);
}

TEST_F(Signal, SameSeedSameSamples)
{
    boardsim::setSeed(7);
    const auto a = sh::scan(40000);
    boardsim::setSeed(7);
    const auto b = sh::scan(40000);
    boardsim::setSeed(8);
    const auto c = sh::scan(40000);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    boardsim::reset();
    busdriver::configurePorts();
    const auto d = sh::scan(40000);
    boardsim::reset();
    busdriver::configurePorts();
    EXPECT_EQ(sh::scan(40000), d) << "reset restores the default seed";
}

TEST_F(Signal, UnconnectedInputsReadZeroVolts)
{
    const HGLOBAL h = cbWinBufAlloc(64);
    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    int32_t rate = 0;
    ASSERT_EQ(cbAInScan(0, 4, 7, 64, &rate, BIP5VOLTS, h, EXTCLOCK), 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(samples[i], 2048);
    ASSERT_EQ(cbAInScan(0, 3, 3, 64, &rate, BIP5VOLTS, h, EXTCLOCK), 0);
    const auto m = boardsim::signalModel();
    for (int i = 0; i < 64; ++i)
        EXPECT_TRUE(samples[i] == m.markerHigh || samples[i] == m.markerLow) << "only the marker";
}

TEST_F(Signal, LevelFollowsGainAndAttenuation)
{
    singlePath(100, 0.01);
    struct Setting {
        int gain;
        int attenuation;
    };
    for (const Setting s : {Setting{30, 0}, Setting{40, 0}, Setting{46, 13}, Setting{50, 31}, Setting{20, 7}}) {
        sh::setChannelGain(1, s.gain);
        sh::setAttenuation(s.attenuation);
        EXPECT_EQ(boardsim::attenuationDb(), s.attenuation);
        const double expected = 0.01 * std::pow(10.0, (boardsim::channelGainDb(1) - s.attenuation) / 20.0);
        EXPECT_NEAR(boardsim::channelPeakVolts(1), expected, 1e-9);

        const auto samples = sh::scan(40000);
        double peak = 0;
        for (size_t o = 0; o < samples.size(); o += 4)
            peak = std::max(peak, std::abs(sh::volts(samples[o])));
        const double lsb = 5.0 / 2048;
        EXPECT_NEAR(peak, expected, 1.5 * lsb) << "gain " << s.gain << " attenuation " << s.attenuation;
    }
}

TEST_F(Signal, ChannelsClipAtTheRangeEnds)
{
    singlePath(100, 0.5);  // 16 V at 30 dB
    sh::setChannelGain(1, 30);
    sh::setAttenuation(0);
    const auto samples = sh::scan(40000);
    int low = 0, high = 0;
    for (size_t o = 0; o < samples.size(); o += 4) {
        ASSERT_LE(samples[o], 4095);
        low += samples[o] == 0;
        high += samples[o] == 4095;
    }
    EXPECT_GT(low, 1000);
    EXPECT_GT(high, 1000);
}

TEST_F(Signal, NonsenseModelStillGivesCodesInRange)
{
    boardsim::SignalModel m = boardsim::signalModel();
    m.channels[0].paths = {{100, std::nan(""), 0.0}};
    m.channels[1].paths = {{100, 1e300, 0.0}};
    m.channels[2].noiseVolts = -1e30;
    m.startClock = 123456789;
    boardsim::setSignalModel(m);
    const auto samples = sh::scan(40000);
    ASSERT_EQ(samples.size(), 40000u);
    for (uint16_t code : samples)
        ASSERT_LE(code, 4095);
}

TEST_F(Signal, NoiseFollowsGainButNotAttenuation)
{
    singlePath(100, 0.0, 1e-4);
    for (int attenuation : {0, 20}) {
        sh::setChannelGain(1, 40);
        sh::setAttenuation(attenuation);
        const auto samples = sh::scan(400000);
        double sum = 0, sumSq = 0;
        const double n = samples.size() / 4.0;
        for (size_t o = 0; o < samples.size(); o += 4) {
            const double v = sh::volts(samples[o]);
            sum += v;
            sumSq += v * v;
        }
        const double rms = std::sqrt(sumSq / n - (sum / n) * (sum / n));
        const double expected = 1e-4 * std::pow(10.0, boardsim::channelGainDb(1) / 20.0);
        EXPECT_NEAR(rms, expected, 0.05 * expected) << attenuation;
    }
}

// The de-ramped tone of a path lands in the profile bin its delay gives: k cycles per
// sweep of N groups is bin 4096 k / N of a 4096-point transform from the sweep start.
TEST_F(Signal, PathDelayGivesProfileBin)
{
    singlePath(200, 0.01, 1e-5);
    for (int divider : {2, 4}) {
        sh::setDivider(divider);
        const auto samples = sh::scan(divider == 2 ? 40000 : 20000);
        const int32_t start = sh::sweepStart(samples);
        ASSERT_GE(start, 0);
        const int used = divider == 2 ? 4096 : 2500;
        ASSERT_LE(start + 4 * used, static_cast<int32_t>(samples.size()));
        auto power = [&](int bin) {
            std::complex<double> acc = 0;
            for (int i = 0; i < used; ++i)
                acc += sh::volts(samples[start + 4 * i]) * std::polar(1.0, 2 * std::numbers::pi * bin * i / 4096);
            return 10 * std::log10(std::norm(acc));
        };
        const int expectedBin = static_cast<int>(std::lround(4096.0 * 200 * divider / 10000));
        const double peak = power(expectedBin);
        EXPECT_GT(peak, power(expectedBin - 8) + 10) << divider;
        EXPECT_GT(peak, power(expectedBin + 8) + 10) << divider;
        EXPECT_GT(peak, power(900) + 40) << divider;
    }
}

}  // namespace
