// The capture operations of the form on the simulated board: the buffer request with
// its texts, the scan call and the release. (The marker search and the conversion are
// tested on plain buffers and through the actions.)

#include "capture_fixture.h"

namespace {

using namespace capfix;
using boardsim::Fn;

class CaptureForm : public CaptureTest {};

TEST_F(CaptureForm, MemprepRequestsTwiceTheCountAndLocks)
{
    startReady();
    boardsim::clearTrace();
    ASSERT_TRUE(form->MEMPREP(40000));
    EXPECT_TRUE(form->BufferLocked);
    ASSERT_NE(form->SampleBufferHandle, 0);
    ASSERT_NE(form->SampleBuffer, nullptr);
    EXPECT_EQ(boardsim::blockSize(form->SampleBufferHandle), 80000);
    EXPECT_EQ(boardsim::liveBlocks(), 1);
    EXPECT_EQ(boardsim::lockedBlocks(), 1);
    // The text is shown before the request, with exactly one pass of pending messages.
    EXPECT_EQ(processed, (std::vector<Status>{{"Arrived at MEMPREP", White}}));
    EXPECT_EQ(current(), (Status{"Locking buffer 1", White}));
    const auto& trace = boardsim::trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].fn, Fn::WinBufAlloc);
    EXPECT_EQ(trace[0].count, 80000);
    EXPECT_EQ(trace[1].fn, Fn::GlobalLock);

    form->ReleaseSampleBuffer();
    EXPECT_EQ(boardsim::liveBlocks(), 0);
    EXPECT_TRUE(form->BufferLocked);  // only the next request changes it
    ASSERT_EQ(boardsim::trace().size(), 4u);
    EXPECT_EQ(boardsim::trace()[2].fn, Fn::GlobalUnlock);
    EXPECT_EQ(boardsim::trace()[3].fn, Fn::WinBufFree);
    EXPECT_EQ(boardsim::trace()[3].handle, trace[0].handle);
}

TEST_F(CaptureForm, MemprepFailureLocksNothing)
{
    startReady();
    form->BufferLocked = true;
    boardsim::failNextAlloc();
    boardsim::clearTrace();
    EXPECT_FALSE(form->MEMPREP(40000));
    EXPECT_FALSE(form->BufferLocked);
    EXPECT_EQ(form->SampleBufferHandle, 0);
    EXPECT_EQ(current(), (Status{"Arrived at MEMPREP", White}));
    EXPECT_EQ(processed.size(), 1u);
    EXPECT_EQ(calls(Fn::GlobalLock), 0);
    EXPECT_EQ(boardsim::liveBlocks(), 0);
}

TEST_F(CaptureForm, ArmScanPassesTheFixedParameters)
{
    startReady();
    boardsim::setScanSource(boardsim::constantSource(1234));
    ASSERT_TRUE(form->MEMPREP(20000));
    ASSERT_TRUE(form->ArmScan(20000, 2500000));
    const auto scan = boardsim::lastScan();
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->board, 0);
    EXPECT_EQ(scan->lowChan, 0);
    EXPECT_EQ(scan->highChan, 3);
    EXPECT_EQ(scan->count, 20000);
    EXPECT_EQ(scan->rateIn, 2500000);
    EXPECT_EQ(scan->range, BIP5VOLTS);
    EXPECT_EQ(scan->options, EXTCLOCK);
    EXPECT_EQ(scan->handle, form->SampleBufferHandle);
    EXPECT_EQ(current().text, "Locking buffer 1");  // success writes nothing
    // The scan filled the first half only.
    EXPECT_EQ(form->SampleBuffer[19999], 1234);
    EXPECT_NE(form->SampleBuffer[20000], 1234);
    form->ReleaseSampleBuffer();
}

}  // namespace
