// Movable memory blocks, scan arguments, failure injection and scan data injection.
#include "sim_control.h"
#include "cbw.h"

#include <gtest/gtest.h>

#include <algorithm>

using boardsim::Fn;

namespace {

constexpr uint16_t kUnwritten = 0xBEEF;  // beyond any A/D code

class Memory : public ::testing::Test {
protected:
    void SetUp() override { boardsim::reset(); }
    void TearDown() override { boardsim::reset(); }
};

TEST_F(Memory, BlockLifecycle)
{
    const HGLOBAL h = cbWinBufAlloc(1000);
    ASSERT_NE(h, 0);
    EXPECT_EQ(boardsim::liveBlocks(), 1);
    EXPECT_EQ(boardsim::lockedBlocks(), 0);
    EXPECT_EQ(boardsim::blockSize(h), 1000);

    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(boardsim::lockedBlocks(), 1);
    samples[0] = 1;
    samples[999] = 2;  // the whole block is usable
    EXPECT_EQ(samples[500], 0) << "a fresh block is zeroed";

    EXPECT_EQ(GlobalUnlock(h), 0);
    EXPECT_EQ(boardsim::lockedBlocks(), 0);
    EXPECT_EQ(GlobalUnlock(h), CBW_NOTLOCKED);
    EXPECT_EQ(cbWinBufFree(h), 0);
    EXPECT_EQ(boardsim::liveBlocks(), 0);

    EXPECT_EQ(cbWinBufFree(h), CBW_BADHANDLE) << "double free";
    EXPECT_EQ(GlobalLock(h), nullptr) << "a freed handle gives no address";
    EXPECT_EQ(GlobalUnlock(h), CBW_BADHANDLE);
    EXPECT_NE(cbWinBufAlloc(10), h) << "handles are not reused";
}

TEST_F(Memory, AllocationRefusals)
{
    EXPECT_EQ(cbWinBufAlloc(0), 0);
    EXPECT_EQ(cbWinBufAlloc(-5), 0);
    EXPECT_EQ(cbWinBufAlloc(INT32_MAX), 0) << "beyond the board's memory";
    EXPECT_EQ(boardsim::liveBlocks(), 0);

    boardsim::failNextAlloc(2);
    EXPECT_EQ(cbWinBufAlloc(100), 0);
    EXPECT_EQ(cbWinBufAlloc(100), 0);
    const HGLOBAL h = cbWinBufAlloc(100);
    EXPECT_NE(h, 0);
    EXPECT_EQ(boardsim::liveBlocks(), 1);

    const auto& t = boardsim::trace();
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[3].fn, Fn::WinBufAlloc);
    EXPECT_EQ(t[3].count, 100);
    EXPECT_EQ(t[3].handle, 0);
    EXPECT_EQ(t[5].handle, h);
}

TEST_F(Memory, LargestRecordingBufferIsAvailable)
{
    const HGLOBAL h = cbWinBufAlloc(2 * 28'800'000);
    ASSERT_NE(h, 0);
    cbWinBufFree(h);
}

TEST_F(Memory, ScanFillsExactlyCountSamples)
{
    const HGLOBAL h = cbWinBufAlloc(80);
    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    std::fill_n(samples, 80, kUnwritten);
    int32_t rate = 5'000'000;
    ASSERT_EQ(cbAInScan(0, 0, 3, 40, &rate, BIP5VOLTS, h, EXTCLOCK), 0);
    for (int i = 0; i < 40; ++i)
        EXPECT_LE(samples[i], 4095) << i;
    for (int i = 40; i < 80; ++i)
        EXPECT_EQ(samples[i], kUnwritten) << "the scan wrote beyond its count at " << i;

    const auto scan = boardsim::lastScan();
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(scan->count, 40);
    EXPECT_EQ(scan->rateIn, 5'000'000);
    EXPECT_EQ(scan->handle, h);
    EXPECT_EQ(scan->options, EXTCLOCK);
    EXPECT_EQ(scan->highChan, 3);
    EXPECT_EQ(rate, scan->rateOut);
    EXPECT_EQ(boardsim::scanCount(), 1);

    const boardsim::Call& call = boardsim::trace().back();
    EXPECT_EQ(call.fn, Fn::AInScan);
    EXPECT_EQ(call.rate, 5'000'000);
    EXPECT_EQ(call.count, 40);
}

TEST_F(Memory, ScanArgumentErrors)
{
    const HGLOBAL h = cbWinBufAlloc(100);
    int32_t rate = 1;
    EXPECT_EQ(cbAInScan(1, 0, 3, 40, &rate, BIP5VOLTS, h, EXTCLOCK), CBW_BADBOARD);
    EXPECT_EQ(cbAInScan(0, 3, 0, 40, &rate, BIP5VOLTS, h, EXTCLOCK), CBW_BADCHANNEL);
    EXPECT_EQ(cbAInScan(0, 0, 8, 40, &rate, BIP5VOLTS, h, EXTCLOCK), CBW_BADCHANNEL);
    EXPECT_EQ(cbAInScan(0, 0, 3, 40, &rate, 5, h, EXTCLOCK), CBW_BADRANGE);
    EXPECT_EQ(cbAInScan(0, 0, 3, 40, &rate, BIP5VOLTS, h, EXTCLOCK | BACKGROUND), CBW_BADOPTION);
    EXPECT_EQ(cbAInScan(0, 0, 3, 40, &rate, BIP5VOLTS, h + 1, EXTCLOCK), CBW_BADHANDLE);
    EXPECT_EQ(cbAInScan(0, 0, 3, 101, &rate, BIP5VOLTS, h, EXTCLOCK), CBW_BADCOUNT);
    EXPECT_EQ(cbAInScan(0, 0, 3, 0, &rate, BIP5VOLTS, h, EXTCLOCK), CBW_BADCOUNT);
    EXPECT_EQ(rate, 1) << "no rate written back by a failed scan";
    EXPECT_EQ(boardsim::lastScan()->result, CBW_BADCOUNT);
    EXPECT_EQ(cbAInScan(0, 0, 3, 100, nullptr, BIP5VOLTS, h, EXTCLOCK), 0) << "the rate is optional";
}

TEST_F(Memory, InjectedScanFailureLeavesTheBufferAlone)
{
    const HGLOBAL h = cbWinBufAlloc(40);
    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    std::fill_n(samples, 40, kUnwritten);
    int32_t rate = 0;
    boardsim::failNextScan(42);
    EXPECT_EQ(cbAInScan(0, 0, 3, 40, &rate, BIP5VOLTS, h, EXTCLOCK), 42);
    EXPECT_TRUE(std::all_of(samples, samples + 40, [](uint16_t s) { return s == kUnwritten; }));
    EXPECT_EQ(cbAInScan(0, 0, 3, 40, &rate, BIP5VOLTS, h, EXTCLOCK), 0) << "only the next scan fails";
}

TEST_F(Memory, ScanSourceReplacesTheSounderUntilCleared)
{
    const HGLOBAL h = cbWinBufAlloc(400);
    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    int32_t rate = 0;

    boardsim::setScanSource(boardsim::constantSource(1234));
    cbAInScan(0, 0, 3, 400, &rate, BIP5VOLTS, h, EXTCLOCK);
    EXPECT_TRUE(std::all_of(samples, samples + 400, [](uint16_t s) { return s == 1234; }));

    boardsim::setScanSource(boardsim::markerSource({0, 7, 99, 100}, 2100, 3001, 2000));
    cbAInScan(0, 0, 3, 400, &rate, BIP5VOLTS, h, EXTCLOCK);
    for (int g = 0; g < 100; ++g) {
        const bool marked = g == 0 || g == 7 || g == 99;
        EXPECT_EQ(samples[4 * g + 3], marked ? 3001 : 2000) << g;
        EXPECT_EQ(samples[4 * g], 2100);
    }

    boardsim::clearScanSource();
    cbAInScan(0, 0, 3, 400, &rate, BIP5VOLTS, h, EXTCLOCK);
    EXPECT_FALSE(std::all_of(samples, samples + 400, [](uint16_t s) { return s == 2100 || s == 2000; }));
}

TEST_F(Memory, ResetReleasesBlocks)
{
    cbWinBufAlloc(10);
    GlobalLock(cbWinBufAlloc(10));
    EXPECT_EQ(boardsim::liveBlocks(), 2);
    boardsim::reset();
    EXPECT_EQ(boardsim::liveBlocks(), 0);
    EXPECT_EQ(boardsim::lockedBlocks(), 0);
}

}  // namespace
