#include "waterfall_reader.h"

#include "block_read.h"
#include "runtime_error.h"

#include <array>
#include <memory>

int64_t waterfallRowCount(int32_t nsweeps, int32_t sweepsPerBlock)
{
    if (sweepsPerBlock <= 0 || int64_t{nsweeps} < sweepsPerBlock)
        return 1;
    return (int64_t{nsweeps} - sweepsPerBlock) / sweepsPerBlock + 1;
}

namespace {

struct Work {
    std::array<double, MaxViewerSamples + 1> tseries{};
    std::array<double, ProfileBins + 1> power{};
    FourierArea area;
};

}  // namespace

WaterfallOutcome readWaterfall(const std::string& path, int32_t sweepsPerBlock, double divisor,
                               const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks)
{
    WaterfallOutcome outcome;
    const auto work = std::make_unique<Work>();
    int64_t row = 0;
    try {
        rt::TextReader file;
        file.open(path);
        const ViewerHeaderItems header = readViewerHeaderItems(file);
        outcome.expectedRows = waterfallRowCount(header.nsweeps, sweepsPerBlock);
        if (callbacks.header)
            callbacks.header(header.nsweeps, header.nsamples, outcome.expectedRows);
        for (; row < outcome.expectedRows; ++row) {
            if (cancel.load(std::memory_order_relaxed)) {
                outcome.end = WaterfallEnd::Cancelled;
                break;
            }
            work->power.fill(0.0);
            const int64_t present = readViewerBlock(file, header.nsamples, sweepsPerBlock, work->tseries.data(),
                                                    work->area, work->power.data());
            const bool whole = !file.atEnd() || present == int64_t{header.nsamples} * sweepsPerBlock;
            if (!whole && present == 0) {
                outcome.end = WaterfallEnd::CutShort;
                break;
            }
            try {
                powerToDb(work->power.data(), divisor);
            } catch (const rt::FloatError&) {
                // A block the text ended within reads its missing items as zeros; where
                // that leaves a bin without power the block has no profile to show.
                if (whole)
                    throw;
                outcome.end = WaterfallEnd::CutShort;
                break;
            }
            if (callbacks.row)
                callbacks.row(row, work->power.data() + 1);
            if (!whole) {
                ++row;
                outcome.end = row < outcome.expectedRows ? WaterfallEnd::CutShort : WaterfallEnd::Complete;
                break;
            }
        }
    } catch (const rt::Error& error) {
        outcome.end = WaterfallEnd::Failed;
        outcome.message = error.what();
    } catch (const std::bad_alloc&) {
        outcome.end = WaterfallEnd::Failed;
        outcome.message = "Out of memory";
    }
    outcome.rows = row;
    return outcome;
}
