#pragma once
// The rows of the waterfall: the averaged delay profile of every block of a
// recording in the viewer's layout, read as the main window reads a block (the
// same item rules, transform and block mean), so row b is bit for bit the profile
// the main window shows for the block that starts at sweep b * sweeps per block.
// Qt-free; runs on a thread of its own with a file handle of its own.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Bins 1..WaterfallBins of a profile make a row: the positive delays.
inline constexpr int WaterfallBins = 2048;

// The blocks the main window can show stepping from the open: the one at sweep 0,
// then every block start t up to nsweeps - sweepsPerBlock ("Go to sweep" refuses
// any later one). A recording of fewer sweeps still has its first block.
int64_t waterfallRowCount(int32_t nsweeps, int32_t sweepsPerBlock);

// The CR bytes among size bytes, as std::count would give them, eight bytes a step.
uint64_t countCarriageReturns(const char* data, size_t size);

// Lowers the calling thread's scheduling priority below the window's, so that a
// reading which keeps every core busy never keeps the window waiting.
void yieldToTheWindow();

enum class WaterfallEnd {
    Complete,   // every row read
    CutShort,   // the text ended before the last row
    Cancelled,  // asked to stop
    Failed,     // a runtime error, message holds its text
};

struct WaterfallOutcome {
    WaterfallEnd end = WaterfallEnd::Complete;
    int64_t rows = 0;            // rows given to the row callback
    int64_t expectedRows = 0;    // rows the header promises (0 before the header)
    std::string message;         // the error text when Failed
    bool withoutPower = false;   // Failed at a block with a bin of no power (no logarithm)
};

struct WaterfallCallbacks {
    // The header has been read: the sweeps and rows it promises.
    std::function<void(int32_t nsweeps, int32_t nsamples, int64_t rows)> header;
    // Row `row` in dB, db[0 .. WaterfallBins - 1] holding bins 1 .. WaterfallBins.
    std::function<void(int64_t row, const double* db)> row;
};

// Reads the recording at path, giving each row in order as soon as it is made (the
// blocks are read on every core, at the priority yieldToTheWindow gives). cancel is
// looked at before every block. A malformed item ends the read with the message the
// main window gives for it; the rows given before it stand.
WaterfallOutcome readWaterfall(const std::string& path, int32_t sweepsPerBlock, double divisor,
                               const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks);

// The same rows and outcome, read on the calling thread alone, one block after another
// from the start of the file, as the main window reads them.
WaterfallOutcome readWaterfallInOrder(const std::string& path, int32_t sweepsPerBlock, double divisor,
                                      const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks);
