// The decision steps of the automatic gain adjustment, without the form.

#include "auto_adjust.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace adjust;

TEST(MeasureWindow, ExtremesOfTheWindowOnly)
{
    std::vector<double> sweep(5001, 0.0);
    sweep[99] = -4.9;  // before the window
    sweep[100] = -1.0;
    sweep[2500] = 2.0;
    sweep[5000] = -2.0;
    const Extremes wide = measureWindow(sweep.data(), 100, 5000);
    EXPECT_EQ(wide.min, -2.0);
    EXPECT_EQ(wide.max, 2.0);
    const Extremes narrow = measureWindow(sweep.data(), 100, 2499);
    EXPECT_EQ(narrow.min, -1.0);
    EXPECT_EQ(narrow.max, 0.0);
    const Extremes empty = measureWindow(sweep.data(), 100, 99);
    EXPECT_EQ(empty.min, 1000.0);
    EXPECT_EQ(empty.max, -1000.0);
}

TEST(AttenuationDecision, LimitsAreInside)
{
    EXPECT_FALSE(attenuationTooLow({Extremes{-3.2, 3.2}, Extremes{-1, 1}, Extremes{0, 0}}));
    EXPECT_TRUE(attenuationTooLow({Extremes{-1, 1}, Extremes{-1, 3.21}, Extremes{0, 0}}));
    EXPECT_TRUE(attenuationTooLow({Extremes{-1, 1}, Extremes{-1, 1}, Extremes{-3.3, 0}}));
    // A channel whose negative side is fine still counts by its maximum.
    EXPECT_TRUE(attenuationTooLow({Extremes{-0.1, 4.0}, Extremes{-1, 1}, Extremes{-1, 1}}));
}

TEST(GainStep, NoSignalClimbsToTheCap)
{
    ChannelState ch;
    std::vector<int32_t> shown;
    for (int cycle = 0; cycle < 10 && !ch.done; ++cycle) {
        const GainStep step = gainStep(ch, -0.1);
        ASSERT_TRUE(step.newGain.has_value());
        shown.push_back(*step.newGain);
        if (step.capped)
            shown.push_back(GainCap);
    }
    EXPECT_EQ(shown, (std::vector<int32_t>{40, 50, 60, 70, 67}));
    EXPECT_TRUE(ch.done);
    EXPECT_EQ(ch.gain, 67);
}

TEST(GainStep, ReversalsHalveTheStep)
{
    ChannelState ch;
    // Too large at 30: down by 10, and the first decrease already halves (last move was up).
    GainStep s = gainStep(ch, -3.5);
    EXPECT_EQ(s.newGain, 20);
    EXPECT_EQ(ch.step, 5);
    EXPECT_FALSE(ch.up);
    // Too small: up by 5, reversal halves to 2.
    s = gainStep(ch, -0.5);
    EXPECT_EQ(s.newGain, 25);
    EXPECT_EQ(ch.step, 2);
    // Same direction again: no halving.
    s = gainStep(ch, -0.5);
    EXPECT_EQ(s.newGain, 27);
    EXPECT_EQ(ch.step, 2);
    s = gainStep(ch, -3.2);  // at the limit: not inside, too large
    EXPECT_EQ(s.newGain, 25);
    EXPECT_EQ(ch.step, 1);
    s = gainStep(ch, -0.8);  // at the limit: min <= -0.8 counts as too large, same direction
    EXPECT_EQ(s.newGain, 24);
    EXPECT_EQ(ch.step, 1);
    s = gainStep(ch, 0.0);
    EXPECT_EQ(s.newGain, 25);
    EXPECT_EQ(ch.step, 0);
    s = gainStep(ch, -4.0);  // step 0: the gain no longer moves
    EXPECT_EQ(s.newGain, 25);
    EXPECT_FALSE(ch.done);
    s = gainStep(ch, -2.0);
    EXPECT_FALSE(s.newGain.has_value());
    EXPECT_TRUE(ch.done);
    EXPECT_EQ(ch.gain, 25);
}

TEST(GainStep, CapOnlyOnTheWayUp)
{
    ChannelState ch{65, 5, true, false};
    GainStep s = gainStep(ch, -0.2);
    EXPECT_EQ(s.newGain, 70);
    EXPECT_TRUE(s.capped);
    EXPECT_EQ(ch.gain, 67);
    ChannelState low{4, 10, false, false};
    s = gainStep(low, -4.0);
    EXPECT_EQ(s.newGain, -6);  // nothing limits the way down here
    EXPECT_FALSE(s.capped);
    EXPECT_FALSE(low.done);
    ChannelState exact{57, 10, true, false};
    s = gainStep(exact, -0.2);
    EXPECT_EQ(s.newGain, 67);  // reaching 67 exactly is not above the cap
    EXPECT_FALSE(s.capped);
    EXPECT_FALSE(exact.done);
}

TEST(WindowLast, PerDivider)
{
    EXPECT_EQ(windowLast(2), 5000);
    EXPECT_EQ(windowLast(4), 2500);
}

}  // namespace
