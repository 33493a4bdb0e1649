// One capture: a locked sample buffer, one blocking scan into it, the sweep marker
// search and the conversion of a sweep to volts. Nothing above this file touches the
// sample buffer; every action that obtained a buffer gives it back on each path.

#include "tform1.h"

#include "status_colours.h"
#include "capture.h"

#include <algorithm>
#include <climits>

using namespace statuscolour;

namespace {

constexpr int ScanRange = BIP5VOLTS;
constexpr int ScanOptions = EXTCLOCK;  // paced by the external clock, not in the background

}  // namespace

bool TForm1::MEMPREP(int32_t count)
{
    setStatus(QStringLiteral("Arrived at MEMPREP"));
    setStatusColour(White);
    ProcessMessages();

    // Twice the samples the scan fills: the second half is never written by the board.
    const int64_t samples = 2 * static_cast<int64_t>(count);
    SampleBufferHandle = samples > 0 && samples <= INT32_MAX ? cbWinBufAlloc(static_cast<int32_t>(samples)) : 0;
    if (SampleBufferHandle == 0) {
        BufferLocked = false;
        return BufferLocked;
    }
    setStatus(QStringLiteral("Locking buffer 1"));
    SampleBuffer = static_cast<uint16_t*>(GlobalLock(SampleBufferHandle));
    if (SampleBuffer == nullptr) {
        // A block that cannot be locked is no buffer: give it back and report the
        // allocation as failed, so no caller ever reads through a null address.
        cbWinBufFree(SampleBufferHandle);
        SampleBufferHandle = 0;
        BufferLocked = false;
        return BufferLocked;
    }
    BufferLocked = true;
    return BufferLocked;
}

bool TForm1::ArmScan(int32_t count, int32_t rate)
{
    // The library may write the rate back; the copy keeps the caller's rate unchanged.
    int32_t rateCopy = rate;
    const int result =
        cbAInScan(BoardNum, ScanLowChan, ScanHighChan, count, &rateCopy, ScanRange, SampleBufferHandle, ScanOptions);
    if (result == 0)
        return true;
    setStatus(QStringLiteral("Failed to arm board 1"));
    setStatusColour(Red);
    return false;
}

std::optional<int32_t> TForm1::FindSweepStart(int32_t from, int32_t threshold, int32_t count) const
{
    return findSweepStart(SampleBuffer, from, threshold, count);
}

void TForm1::ExtractSweep(int32_t start, int32_t count)
{
    // The arrays are numbered from 1: their capacity is one less than their size.
    const size_t size = std::min({SweepVolts1.size(), SweepVolts2.size(), SweepVolts3.size()});
    const int32_t capacity = size == 0 ? 0 : static_cast<int32_t>(size) - 1;
    SweepGroupsExtracted =
        extractSweep(SampleBuffer, start, count, SweepVolts1.data(), SweepVolts2.data(), SweepVolts3.data(), capacity);
    // The readout's clipped samples, from the codes of the sweep's groups (one sweep, not the
    // whole extraction).
    CodeRange ranges[3];
    const int32_t groups = std::clamp(std::min(SweepGroupsExtracted, sweepGroups(ClockDivider)), 0, capacity);
    if (groups > 0)
        addCodeRanges(SampleBuffer + start, static_cast<size_t>(groups), GroupSamples, ranges);
    for (int ch = 0; ch < 3; ++ch)
        SweepClipped[ch] = static_cast<int32_t>(ranges[ch].clipped);
}

void TForm1::ReleaseSampleBuffer()
{
    GlobalUnlock(SampleBufferHandle);
    cbWinBufFree(SampleBufferHandle);
    // The address is no longer valid; BufferLocked keeps the result of the last MEMPREP.
    SampleBuffer = nullptr;
}
