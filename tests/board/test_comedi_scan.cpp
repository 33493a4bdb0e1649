// The comedi board library's scan on a fake analog-input subdevice: the command it
// gives the driver, the codes it delivers for each converter width, and the failures
// that must end a scan with a code and a line on stderr instead of a hang.

#include "comedi_fixture.h"
#include "sample_codes.h"

#include <chrono>
#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr int32_t kCount = 4000;  // 1000 groups of inputs 0..3
constexpr int32_t kRate = 5'000'000;

class ComediScan : public ComediBoardTest {
protected:
    void SetUp() override
    {
        ComediBoardTest::SetUp();
        handle_ = cbWinBufAlloc(2 * kCount);
        ASSERT_NE(handle_, 0);
        samples_ = static_cast<uint16_t*>(GlobalLock(handle_));
        ASSERT_NE(samples_, nullptr);
    }
    void TearDown() override
    {
        GlobalUnlock(handle_);
        cbWinBufFree(handle_);
        ComediBoardTest::TearDown();
    }

    int scan(int32_t count = kCount, int options = EXTCLOCK, int32_t rate = kRate)
    {
        rate_ = rate;
        return cbAInScan(0, 0, 3, count, &rate_, BIP5VOLTS, handle_, options);
    }

    // A pattern over the whole code range of a converter, its ends included.
    static std::vector<uint32_t> ramp(uint32_t maxdata, size_t samples)
    {
        std::vector<uint32_t> raw(samples);
        for (size_t i = 0; i < samples; ++i)
            raw[i] = static_cast<uint32_t>((uint64_t{maxdata} * i) / (samples - 1));
        return raw;
    }

    void expectCodes(const std::vector<uint32_t>& raw, uint32_t maxdata)
    {
        for (size_t i = 0; i < raw.size(); ++i) {
            const double exact = raw[i] * 4095.0 / maxdata;
            const long expected = maxdata == 65535 ? static_cast<long>(raw[i] >> 4) : std::lround(exact);
            ASSERT_EQ(samples_[i], expected) << "sample " << i << " raw " << raw[i];
        }
    }

    HGLOBAL handle_ = 0;
    uint16_t* samples_ = nullptr;
    int32_t rate_ = 0;
};

TEST_F(ComediScan, CommandIsExternallyClockedScanOfTheFourInputsAtFiveVolts)
{
    fakecomedi::setPattern(ramp(4095, kCount));
    ASSERT_EQ(scan(), CBW_NOERRORS);
    const comedi_cmd cmd = fakecomedi::lastCommand();
    EXPECT_EQ(cmd.start_src, unsigned{TRIG_NOW});
    EXPECT_EQ(cmd.scan_begin_src, unsigned{TRIG_EXT});
    EXPECT_EQ(cmd.convert_src, unsigned{TRIG_NOW});
    EXPECT_EQ(cmd.scan_end_src, unsigned{TRIG_COUNT});
    EXPECT_EQ(cmd.scan_end_arg, 4u);
    EXPECT_EQ(cmd.stop_src, unsigned{TRIG_COUNT});
    EXPECT_EQ(cmd.stop_arg, 1000u);
    const std::vector<unsigned> expected = {CR_PACK(0, 1, AREF_GROUND), CR_PACK(1, 1, AREF_GROUND),
                                            CR_PACK(2, 1, AREF_GROUND), CR_PACK(3, 1, AREF_GROUND)};
    EXPECT_EQ(fakecomedi::lastChannelList(), expected);  // range 1 of the fake is -5..5 V
    EXPECT_EQ(rate_, kRate);  // the external clock's rate is not known: left as passed
    EXPECT_GE(fakecomedi::cancels(), 1);  // the board is left idle
    EXPECT_EQ(fakecomedi::bufferBytes(), 1 << 20);  // the largest buffer a user may have
}

TEST_F(ComediScan, TwelveBitCodesPassAsTheyAre)
{
    const auto raw = ramp(4095, kCount);
    fakecomedi::setPattern(raw);
    ASSERT_EQ(scan(), CBW_NOERRORS);
    expectCodes(raw, 4095);
    EXPECT_EQ(samples_[0], 0);
    EXPECT_EQ(samples_[kCount - 1], 4095);
    EXPECT_EQ(samples_[kCount], 0);  // the block's second half is not written
}

TEST_F(ComediScan, SixteenBitCodesLoseTheirLowBits)
{
    fakecomedi::Config config;
    config.maxdata = 65535;
    useDevice(config);
    const auto raw = ramp(65535, kCount);
    fakecomedi::setPattern(raw);
    ASSERT_EQ(scan(), CBW_NOERRORS);
    expectCodes(raw, 65535);
    EXPECT_EQ(samples_[0], 0);
    EXPECT_EQ(samples_[kCount - 1], 4095);
}

TEST_F(ComediScan, OtherWidthsAreScaledWithTheirExtremesKept)
{
    for (uint32_t maxdata : {1023u, 16383u}) {
        fakecomedi::Config config;
        config.maxdata = maxdata;
        useDevice(config);
        const auto raw = ramp(maxdata, kCount);
        fakecomedi::setPattern(raw);
        ASSERT_EQ(scan(), CBW_NOERRORS) << maxdata;
        expectCodes(raw, maxdata);
        EXPECT_EQ(samples_[0], 0);
        EXPECT_EQ(samples_[kCount - 1], 4095);
    }
}

TEST_F(ComediScan, ThirtyTwoBitSamplesOfAnEighteenBitConverter)
{
    fakecomedi::Config config;
    config.maxdata = 262143;
    config.longSamples = true;
    useDevice(config);
    const auto raw = ramp(262143, kCount);
    fakecomedi::setPattern(raw);
    ASSERT_EQ(scan(), CBW_NOERRORS);
    expectCodes(raw, 262143);
}

TEST_F(ComediScan, CountThatIsNoWholeNumberOfGroupsFillsExactlyCount)
{
    fakecomedi::setPattern(ramp(4095, 12));
    ASSERT_EQ(scan(10), CBW_NOERRORS);
    EXPECT_EQ(fakecomedi::lastCommand().stop_arg, 3u);
    EXPECT_NE(samples_[9], 0);
    EXPECT_EQ(samples_[10], 0);
}

TEST_F(ComediScan, DriverWithoutImmediateConversionsGetsItsFastestTimer)
{
    fakecomedi::Config config;
    config.convertSources = TRIG_TIMER | TRIG_EXT;
    config.fastestConvertNs = 2500;
    useDevice(config);
    fakecomedi::setPattern(ramp(4095, kCount));
    ASSERT_EQ(scan(), CBW_NOERRORS);
    EXPECT_EQ(fakecomedi::lastCommand().convert_src, unsigned{TRIG_TIMER});
    EXPECT_EQ(fakecomedi::lastCommand().convert_arg, 2500u);
}

TEST_F(ComediScan, TimedScanWritesBackTheRateTheDriverChose)
{
    fakecomedi::setPattern(ramp(4095, kCount));
    // 300000 scans/s is 3333 ns, which the fake's 100 ns timer makes 3400 ns.
    ASSERT_EQ(scan(kCount, 0, 300'000), CBW_NOERRORS);
    EXPECT_EQ(fakecomedi::lastCommand().scan_begin_src, unsigned{TRIG_TIMER});
    EXPECT_EQ(fakecomedi::lastCommand().scan_begin_arg, 3400u);
    EXPECT_EQ(rate_, 294118);
    EXPECT_EQ(scan(kCount, 0, 0), CBW_BADRATE);
}

// A timed scan asked for faster than the board goes: the driver lengthens the period,
// and the scan is given the time its samples take at that period.
TEST_F(ComediScan, TimedScanSlowerThanAskedIsWaitedForAtTheDriversRate)
{
    fakecomedi::Config config;
    config.fastestScanNs = 1'000'000;  // 1000 scans/s at most
    config.paceTimedScans = true;
    useDevice(config);
    boardcomedi::setClockAllowance(std::chrono::milliseconds(300));
    constexpr int32_t count = 2000;  // 500 scans: half a second at 1000 scans/s
    fakecomedi::setPattern(ramp(4095, count));
    int result = 0;
    const std::string err = stderrOf([&] { result = scan(count, 0, 1'000'000); });
    EXPECT_EQ(result, CBW_NOERRORS) << err;
    EXPECT_EQ(fakecomedi::lastCommand().scan_begin_arg, 1'000'000u);
    EXPECT_EQ(rate_, 1000);
    expectCodes(ramp(4095, count), 4095);
}

TEST_F(ComediScan, RefusedExternalClockFailsWithTheReason)
{
    fakecomedi::Config config;
    config.scanBeginSources = TRIG_TIMER | TRIG_FOLLOW;
    useDevice(config);
    fakecomedi::setPattern(ramp(4095, kCount));
    int result = 0;
    const std::string err = stderrOf([&] { result = scan(); });
    EXPECT_EQ(result, CBW_SCANREFUSED);
    EXPECT_FALSE(fakecomedi::commandStarted());
    EXPECT_NE(err.find("cbw32 (comedi): scan refused: the driver does not support scan_begin_src TRIG_EXT "
                       "(the external scan clock)\n"),
              std::string::npos)
        << err;
}

TEST_F(ComediScan, ShortReadFailsWithHowManyArrived)
{
    fakecomedi::setPattern(ramp(4095, 1000));
    int result = 0;
    const std::string err = stderrOf([&] { result = scan(); });
    EXPECT_EQ(result, CBW_SCANFAILED);
    EXPECT_NE(err.find("cbw32 (comedi): scan failed: the board ended the scan after 1000 of 4000 samples\n"),
              std::string::npos)
        << err;
    EXPECT_GE(fakecomedi::cancels(), 1);
}

TEST_F(ComediScan, ClockThatNeverArrivesEndsTheScanAfterTheLimit)
{
    fakecomedi::setClockStopped(true);
    boardcomedi::setClockAllowance(std::chrono::milliseconds(300));
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string err = stderrOf([&] { result = scan(); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, CBW_SCANTIMEOUT);
    EXPECT_GE(waited, std::chrono::milliseconds(300));  // it waited for the clock, then gave up
    EXPECT_NE(err.find("scan failed: 0 of 4000 samples arrived within 0.3 s: is the sweep clock connected to "
                       "the external scan-clock input?\n"),
              std::string::npos)
        << err;
    // The board is idle again: the next scan runs.
    fakecomedi::setClockStopped(false);
    fakecomedi::setPattern(ramp(4095, kCount));
    EXPECT_EQ(scan(), CBW_NOERRORS);
}

// An external clock slower than the rate given, or of no rate given: the scan waits as
// long as samples keep arriving, the allowance counted from the last of them.
TEST_F(ComediScan, ExternalClockSlowerThanExpectedIsWaitedForWhileSamplesArrive)
{
    struct Case {
        int32_t rate;  // as passed; 0: not known
    };
    for (const Case c : {Case{0}, Case{kRate}}) {
        fakecomedi::Config config;
        config.extClockPeriodNs = 250'000;  // 4000 scans/s: 2000 scans in half a second
        useDevice(config);
        boardcomedi::setClockAllowance(std::chrono::milliseconds(300));
        constexpr int32_t count = 2 * kCount;  // 2000 scans, arriving in chunks of 512
        fakecomedi::setPattern(ramp(4095, count));
        int result = 0;
        const std::string err = stderrOf([&] { result = scan(count, EXTCLOCK, c.rate); });
        EXPECT_EQ(result, CBW_NOERRORS) << "rate " << c.rate << ": " << err;
        expectCodes(ramp(4095, count), 4095);
    }
}

// A clock that stops midway: the scan ends the allowance after the last samples,
// saying how many came and that the clock stopped.
TEST_F(ComediScan, ClockThatStopsMidwayEndsTheScanAfterTheAllowance)
{
    fakecomedi::Config config;
    config.stallAfterSamples = 4096;
    useDevice(config);
    boardcomedi::setClockAllowance(std::chrono::milliseconds(300));
    fakecomedi::setPattern(ramp(4095, 2 * kCount));
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string err = stderrOf([&] { result = scan(2 * kCount); });
    EXPECT_EQ(result, CBW_SCANTIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_NE(err.find("scan failed: 4096 of 8000 samples arrived in "), std::string::npos) << err;
    // (the times as measured: at least the allowance without samples)
    EXPECT_NE(err.find(" s, then none for "), std::string::npos) << err;
    EXPECT_NE(err.find(" s: did the sweep clock stop?\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("then none for 0.0 s"), std::string::npos) << err;
    EXPECT_EQ(err.find("then none for 0.1 s"), std::string::npos) << err;
    EXPECT_GE(fakecomedi::cancels(), 1);
}

TEST_F(ComediScan, TimeLimitIsTheAllowancePlusTheExpectedDuration)
{
    EXPECT_EQ(boardcomedi::clockAllowance(), std::chrono::seconds(10));
    // Acquire's largest scan: 7.2 M groups at 5 M groups/s.
    EXPECT_EQ(boardcomedi::scanTimeLimitMs(7'200'000, 5'000'000, 10'000), 11'440);
    EXPECT_EQ(boardcomedi::scanTimeLimitMs(10'000, 5'000'000, 10'000), 10'002);
    EXPECT_EQ(boardcomedi::scanTimeLimitMs(1, 3, 10'000), 10'334);  // rounded up
    EXPECT_EQ(boardcomedi::scanTimeLimitMs(1'000, 0, 10'000), 10'000);  // rate unknown
    // A timed scan by its period in ns.
    EXPECT_EQ(boardcomedi::timedScanLimitMs(500, 1'000'000, 300), 800);
    EXPECT_EQ(boardcomedi::timedScanLimitMs(3, 333'333, 0), 1);  // rounded up
    EXPECT_EQ(boardcomedi::timedScanLimitMs(7'200'000, 200, 10'000), 11'440);
    EXPECT_EQ(boardcomedi::timedScanLimitMs(2, 4'000'000'000, 0), 8'000);  // longer than a second each
    EXPECT_EQ(boardcomedi::timedScanLimitMs(INT32_MAX, 4'294'967'295, 10'000), 9'223'372'040'413);
}

TEST_F(ComediScan, MissingDeviceFailsTheScan)
{
    fakecomedi::Config config;
    config.present = false;
    useDevice(config);
    int result = 0;
    const std::string err = stderrOf([&] { result = scan(); });
    EXPECT_EQ(result, CBW_NODEVICE);
    EXPECT_NE(err.find("cbw32 (comedi): cannot open /dev/comedi0"), std::string::npos) << err;
}

TEST_F(ComediScan, BoardWithoutFiveVoltRangeRefusesTheScan)
{
    fakecomedi::Config config;
    config.ranges = {{-10.0, 10.0, UNIT_volt}};
    useDevice(config);
    int result = 0;
    const std::string err = stderrOf([&] { result = scan(); });
    EXPECT_EQ(result, CBW_BADRANGE);
    EXPECT_NE(err.find("analog input 0 has no -5..5 V range (the nearest is -10..10 V)"), std::string::npos) << err;
}

TEST_F(ComediScan, ArgumentsAreCheckedBeforeTheDevice)
{
    int32_t rate = kRate;
    EXPECT_EQ(cbAInScan(0, 0, 3, kCount, &rate, BIP5VOLTS, handle_ + 1, EXTCLOCK), CBW_BADHANDLE);
    EXPECT_EQ(cbAInScan(0, 0, 3, 2 * kCount + 1, &rate, BIP5VOLTS, handle_, EXTCLOCK), CBW_BADCOUNT);
    EXPECT_EQ(cbAInScan(0, 0, 3, 0, &rate, BIP5VOLTS, handle_, EXTCLOCK), CBW_BADCOUNT);
    EXPECT_EQ(cbAInScan(0, 3, 0, kCount, &rate, BIP5VOLTS, handle_, EXTCLOCK), CBW_BADCHANNEL);
    EXPECT_EQ(cbAInScan(0, 0, 3, kCount, &rate, 1, handle_, EXTCLOCK), CBW_BADRANGE);
    EXPECT_EQ(cbAInScan(0, 0, 3, kCount, &rate, BIP5VOLTS, handle_, EXTCLOCK | BACKGROUND), CBW_BADOPTION);
    EXPECT_EQ(cbAInScan(1, 0, 3, kCount, &rate, BIP5VOLTS, handle_, EXTCLOCK), CBW_BADBOARD);
    EXPECT_FALSE(fakecomedi::deviceOpen());
    EXPECT_EQ(cbAInScan(0, 0, 8, kCount, &rate, BIP5VOLTS, handle_, EXTCLOCK), CBW_BADCHANNEL);
    EXPECT_EQ(fakecomedi::commandTests(), 0);
}

TEST(ComediMemory, BlocksLockAndFreeAsInTheSimulatedLibrary)
{
    const HGLOBAL handle = cbWinBufAlloc(100);
    ASSERT_NE(handle, 0);
    auto* samples = static_cast<uint16_t*>(GlobalLock(handle));
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(std::accumulate(samples, samples + 100, 0), 0);  // zeroed
    EXPECT_EQ(GlobalUnlock(handle), CBW_NOERRORS);
    EXPECT_EQ(GlobalUnlock(handle), CBW_NOTLOCKED);
    EXPECT_EQ(cbWinBufFree(handle), CBW_NOERRORS);
    EXPECT_EQ(cbWinBufFree(handle), CBW_BADHANDLE);
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(cbWinBufAlloc(0), 0);
    EXPECT_EQ(cbWinBufAlloc(-5), 0);
}

}  // namespace
