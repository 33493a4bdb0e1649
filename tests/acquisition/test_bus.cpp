// The settle wait and the four bus primitives, against the simulated board's trace of
// port calls.

#include "form_fixture.h"
#include "settle_wait.h"

#include <cmath>
#include <limits>

using boardsim::Fn;
using boardsim::PortCall;
using fixture::IntervalNs;

namespace {

PortCall config(int port, int direction) { return {Fn::DConfigPort, 0, port, direction}; }
PortCall out(int port, int value) { return {Fn::DOut, 0, port, value}; }
PortCall in(int port, int value) { return {Fn::DIn, 0, port, value}; }

// A clock whose sleeps come back early, as a signalled sleep may.
class EarlyWakeClock final : public SettleClock {
public:
    int64_t nowNs() override { return now_ += 500; }
    void sleepNs(int64_t ns) override { now_ += ns / 3; }
    int64_t now_ = 0;
};

}  // namespace

// ---- The settle wait ----------------------------------------------------------------

TEST(SettleWaitTest, IntervalInDaysConvertsToNanosecondsNeverShort)
{
    EXPECT_EQ(settle::daysToNs(2.0E-7), IntervalNs);
    EXPECT_GE(settle::daysToNs(1.0 / 86400.0), 1'000'000'000);
    EXPECT_EQ(settle::daysToNs(0.0), 0);
    EXPECT_EQ(settle::daysToNs(-1.0), 0);
    EXPECT_EQ(settle::daysToNs(std::numeric_limits<double>::quiet_NaN()), 0);
    // Absurd intervals are capped instead of overflowing.
    EXPECT_GT(settle::daysToNs(1e300), 0);
    EXPECT_GT(settle::daysToNs(std::numeric_limits<double>::infinity()), 0);
}

TEST(SettleWaitTest, WaitsAtLeastTheIntervalMostlyAsleep)
{
    VirtualSettleClock clock(0, 1000);
    settle::waitAtLeast(clock, IntervalNs);
    EXPECT_GE(clock.peekNs(), IntervalNs);
    EXPECT_LT(clock.peekNs(), IntervalNs + 10'000);
    // One sleep covers all but the last millisecond, which is spun.
    EXPECT_GE(clock.sleeps(), 1);
    EXPECT_LE(clock.reads(), settle::SpinNs / 1000 + 5);
}

TEST(SettleWaitTest, WaitsTheIntervalAcrossLargeClockValues)
{
    // Just before the count would overflow, and where a time of day would restart.
    for (int64_t start : {std::numeric_limits<int64_t>::max() - 2 * IntervalNs, int64_t(86'399'990'000'000)}) {
        VirtualSettleClock clock(start, 1000);
        settle::waitAtLeast(clock, IntervalNs);
        EXPECT_GE(clock.peekNs() - start, IntervalNs) << start;
        EXPECT_LT(clock.peekNs() - start, IntervalNs + 10'000) << start;
    }
}

TEST(SettleWaitTest, EarlyWakeUpsDoNotShortenTheWait)
{
    EarlyWakeClock clock;
    settle::waitAtLeast(clock, IntervalNs);
    EXPECT_GE(clock.now_, IntervalNs);
}

// ---- Bus primitives -----------------------------------------------------------------

class BusTest : public fixture::FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        start();
        boardsim::clearTrace();
        t0 = clock.peekNs();
    }

    void expectAtRest() const
    {
        EXPECT_EQ(boardsim::portDirection(FIRSTPORTA), DIGITALIN);
        EXPECT_EQ(boardsim::portLatch(FIRSTPORTCL), 15);
    }

    int64_t t0 = 0;
};

TEST_F(BusTest, SettleWaitOnTheFormTakesOneInterval)
{
    form->SettleWait(TForm1::SettleInterval);
    EXPECT_EQ(intervalsSince(t0), 1);
    EXPECT_TRUE(boardsim::portTrace().empty());
}

TEST_F(BusTest, OnePairWriteIsExactlyTheProtocolSequence)
{
    EXPECT_EQ(form->BusWrite({{3, 1}}), 0);
    const std::vector<PortCall> expected = {config(10, 1), out(10, 1), out(12, 3), out(12, 15), config(10, 2)};
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(intervalsSince(t0), 1);
    EXPECT_EQ(boardsim::frontEndRegister(3), 1);
    expectAtRest();
}

TEST_F(BusTest, ThreePairWriteTurnsTheDataPortAroundOnce)
{
    form->BusWrite({{4, 0x11}, {5, 0x22}, {6, 0x03}});
    const std::vector<PortCall> expected = {
        config(10, 1),                             //
        out(10, 0x11), out(12, 4), out(12, 15),  //
        out(10, 0x22), out(12, 5), out(12, 15),  //
        out(10, 0x03), out(12, 6), out(12, 15),  //
        config(10, 2),
    };
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(intervalsSince(t0), 3);
    const auto& writes = boardsim::registerWrites();
    ASSERT_GE(writes.size(), 3u);
    const std::vector<boardsim::RegisterWrite> latched = {{4, 0x11}, {5, 0x22}, {6, 0x03}};
    EXPECT_EQ(std::vector<boardsim::RegisterWrite>(writes.end() - 3, writes.end()), latched);
    expectAtRest();
}

TEST_F(BusTest, ReadSelectsWaitsThreeIntervalsAndLeavesTheDirectionAlone)
{
    boardsim::setClocksPerSweep(0x0A0B0C);
    EXPECT_EQ(form->BusRead(9), 0x0B);
    const std::vector<PortCall> expected = {out(12, 9), in(10, 0x0B), out(12, 15)};
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(intervalsSince(t0), 4);
    EXPECT_EQ(boardsim::busConflicts(), 0);
    expectAtRest();
}

TEST_F(BusTest, PotFrameCarriesItsByteForOneIntervalBetweenRestBytes)
{
    form->PotFrame(0x80, true);
    const std::vector<PortCall> expected = {config(10, 1), out(10, 0xC0), out(12, 2), out(10, 0x80),
                                            out(10, 0xC0), out(12, 15),   config(10, 2)};
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(intervalsSince(t0), 5);
    expectAtRest();

    boardsim::clearTrace();
    const int64_t t1 = clock.peekNs();
    form->PotFrame(0x43, false);
    EXPECT_EQ(intervalsSince(t1), 4);
    EXPECT_EQ(boardsim::portTrace().size(), expected.size());
    EXPECT_EQ(boardsim::portTrace()[3], out(10, 0x43));
    expectAtRest();
}

TEST_F(BusTest, StrobeSelectsTheAddressForOneInterval)
{
    const int strobes = boardsim::strobeCount();
    form->BusStrobe(0);
    const std::vector<PortCall> expected = {out(12, 0), out(12, 15)};
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(intervalsSince(t0), 1);
    EXPECT_EQ(boardsim::strobeCount(), strobes + 1);
    expectAtRest();
}
