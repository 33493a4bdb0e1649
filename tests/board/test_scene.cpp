// The default scene works for the acquisition program's three actions: the gain
// adjustment converges, the live delay profile stands well above the noise inside the
// display range, and a recording scan holds clean, regular sweeps.
#include "scan_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace sh = scanhelp;

namespace {

class Scene : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::reset();
        busdriver::configurePorts();
    }
    void TearDown() override { boardsim::reset(); }
};

struct Adjustment {
    bool converged = false;
    int cycles = 0;
    int attenuation = 0;
    std::array<int, 4> gain{0, 30, 30, 30};
    std::array<double, 4> lastMin{};
    std::array<bool, 4> capped{};
};

// The adjustment rules the acquisition program applies: attenuation up by 5 dB while any
// channel leaves +-3.2 V, then each gain by a step halved on every reversal until the
// channel's most negative sample lies between -3.2 and -0.8 V (gain capped at 67).
Adjustment autoAdjust(int divider, int attenuation)
{
    const int32_t count = divider == 2 ? 40000 : 20000;
    const int window = divider == 2 ? 5000 : 2500;
    Adjustment a;
    a.attenuation = attenuation;
    std::array<bool, 4> done{};  // 0: attenuator
    std::array<int, 4> step{0, 10, 10, 10};
    std::array<bool, 4> up{false, true, true, true};
    for (int c = 1; c <= 3; ++c)
        sh::setChannelGain(c, 30);
    std::array<std::vector<double>, 3> sweep;
    for (auto& s : sweep)
        s.assign(count / 4 + 1, 0.0);

    while (!(done[0] && done[1] && done[2] && done[3]) && a.cycles < 30) {
        ++a.cycles;
        const auto samples = sh::scan(count);
        const int32_t start = sh::sweepStart(samples);
        if (start < 0)
            return a;
        for (int32_t o = start, i = 1; o < count; o += 4, ++i)
            for (int c = 0; c < 3; ++c)
                sweep[c][i] = sh::volts(samples[o + c]);
        std::array<double, 3> lo{}, hi{};
        for (int c = 0; c < 3; ++c) {
            lo[c] = 1000.0;
            hi[c] = -1000.0;
            for (int i = 100; i <= window; ++i) {
                lo[c] = std::min(lo[c], sweep[c][i]);
                hi[c] = std::max(hi[c], sweep[c][i]);
            }
        }
        if (!done[0]) {
            const bool over = std::any_of(lo.begin(), lo.end(), [](double v) { return v < -3.2; }) ||
                              std::any_of(hi.begin(), hi.end(), [](double v) { return v > 3.2; });
            if (over)
                sh::setAttenuation(a.attenuation += 5);
            else
                done[0] = true;
            continue;
        }
        for (int c = 1; c <= 3; ++c) {
            a.lastMin[c] = lo[c - 1];
            if (done[c])
                continue;
            if (lo[c - 1] > -3.2 && lo[c - 1] < -0.8) {
                done[c] = true;
            } else if (lo[c - 1] <= -0.8) {
                sh::setChannelGain(c, a.gain[c] -= step[c]);
                step[c] /= up[c] ? 2 : 1;
                up[c] = false;
            } else {
                sh::setChannelGain(c, a.gain[c] += step[c]);
                step[c] /= up[c] ? 1 : 2;
                up[c] = true;
                if (a.gain[c] > 67) {
                    sh::setChannelGain(c, a.gain[c] = 67);
                    done[c] = a.capped[c] = true;
                }
            }
        }
    }
    a.converged = done[0] && done[1] && done[2] && done[3];
    return a;
}

TEST_F(Scene, GainAdjustmentSettlesEveryChannelFromNoAttenuation)
{
    for (int divider : {2, 4}) {
        boardsim::reset();
        busdriver::configurePorts();
        sh::setDivider(divider);
        sh::setAttenuation(0);
        const Adjustment a = autoAdjust(divider, 0);
        ASSERT_TRUE(a.converged) << divider;
        EXPECT_LE(a.cycles, 10) << divider;
        EXPECT_GE(a.attenuation, 5) << "channel 1 is too strong at 30 dB gain";
        EXPECT_LE(a.attenuation, 31);
        EXPECT_GT(*std::max_element(a.gain.begin() + 1, a.gain.end()), 30) << "a weak channel needs more gain";
        for (int c = 1; c <= 3; ++c) {
            EXPECT_FALSE(a.capped[c]) << "channel " << c << " settled inside the window";
            EXPECT_GT(a.lastMin[c], -3.2) << c;
            EXPECT_LT(a.lastMin[c], -0.8) << c;
        }
    }
}

TEST_F(Scene, GainAdjustmentEndsFromStartUpAttenuation)
{
    sh::setDivider(2);
    sh::setAttenuation(31);  // what start-up leaves in the front-end
    const Adjustment a = autoAdjust(2, 31);
    ASSERT_TRUE(a.converged);
    EXPECT_LE(a.cycles, 10);
    EXPECT_EQ(a.attenuation, 31);
}

// 10 log10 of the power in bin k of the 4096-point transform of one sweep, as shown live.
double profileDb(const std::vector<uint16_t>& s, int32_t start, int channel, int used, int bin)
{
    std::complex<double> acc = 0;
    for (int i = 0; i < used; ++i)
        acc += sh::volts(s[start + 4 * i + channel]) * std::polar(1.0, 2 * std::numbers::pi * bin * i / 4096);
    return 10 * std::log10(std::max(std::norm(acc), 1e-6));
}

TEST_F(Scene, DelayProfilePeaksStandWellAboveTheNoiseInsideTheDisplay)
{
    for (int divider : {2, 4}) {
        boardsim::reset();
        busdriver::configurePorts();
        sh::setDivider(divider);
        sh::setAttenuation(0);
        autoAdjust(divider, 0);
        const int32_t count = divider == 2 ? 40000 : 20000;
        const auto samples = sh::scan(count);
        const int32_t start = sh::sweepStart(samples);
        ASSERT_GE(start, 0);
        const int used = divider == 2 ? 4096 : 2500;
        if (start + 4 * used > count)
            continue;  // a late start: the profile would mix in old samples
        const auto model = boardsim::signalModel();
        for (int c = 0; c < 3; ++c) {
            double strongest = -100;
            for (const auto& p : model.channels[c].paths) {
                const int bin = static_cast<int>(std::lround(4096.0 * p.beatCycles * divider / 10000));
                strongest = std::max(strongest, profileDb(samples, start, c, used, bin));
            }
            const double floor = profileDb(samples, start, c, used, 1500);  // far from every path
            EXPECT_GT(strongest, 40) << "divider " << divider << " channel " << c + 1;
            EXPECT_LT(strongest, 62) << "divider " << divider << " channel " << c + 1;
            EXPECT_GT(strongest - floor, 35) << "divider " << divider << " channel " << c + 1;
        }
    }
}

TEST_F(Scene, RecordingScanHoldsRegularCleanSweeps)
{
    sh::setDivider(2);
    sh::setAttenuation(10);
    for (int c = 1; c <= 3; ++c)
        sh::setChannelGain(c, 30);
    const int sweeps = 20;
    const auto samples = sh::scan((sweeps + 10) * 5000 * 4);
    const int32_t start = sh::sweepStart(samples, 2800);
    ASSERT_GE(start, 0);
    ASSERT_LT(start, 4 * 5000);
    for (int k = 1; k < sweeps; ++k) {
        const int32_t s = start + k * 4 * 5000;
        EXPECT_GT(samples[s + 3], 2800) << "marker of sweep " << k;
        EXPECT_LE(samples[s - 1], 2800) << "marker low before sweep " << k;
        int worst = 0;
        for (int i = 0; i < 4 * 5000; ++i)
            worst = std::max(worst, std::abs(samples[s + i] - samples[start + i]));
        EXPECT_LE(worst, 3) << "sweep " << k << " repeats the first apart from noise";
    }
}

}  // namespace
