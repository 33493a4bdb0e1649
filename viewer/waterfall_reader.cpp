#include "waterfall_reader.h"

#include "block_read.h"
#include "runtime_error.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

void yieldToTheWindow()
{
    // Linux gives each thread a nice value of its own; a failure leaves the thread as it was.
    static_cast<void>(::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 2));
}

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

namespace {

// The reference reading: the file from its start as the main window reads it, one
// block after another. Rows before `skipRows` are read but not given again.
WaterfallOutcome readSerially(const std::string& path, int32_t sweepsPerBlock, double divisor,
                              const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks, int64_t skipRows)
{
    WaterfallOutcome outcome;
    const auto work = std::make_unique<Work>();
    int64_t row = 0;
    try {
        rt::TextReader file;
        file.open(path);
        const ViewerHeaderItems header = readViewerHeaderItems(file);
        outcome.expectedRows = waterfallRowCount(header.nsweeps, sweepsPerBlock);
        if (callbacks.header && skipRows == 0)
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
            if (callbacks.row && row >= skipRows)
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

}  // namespace


// ---- Reading on every core ------------------------------------------------------------
// A well-formed recording holds one item per line, so the blocks can be found by counting
// line ends (a CR and one LF right after it, as the reader skips them) and read at once,
// each by the very reader and block read the main window uses, over its own bytes. A
// piece is taken as read only if its items used up its bytes exactly; any other piece,
// a bad item, a block without power, a Ctrl-Z or the end of the text sends the reading
// back to readSerially, which gives the rows not given yet and the outcome.

namespace {

constexpr int BlocksPerPiece = 4;
constexpr char EndOfText = 0x1a;

class File {
public:
    explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    // Bytes [from, to) into text; false when the file gives fewer.
    bool read(uint64_t from, uint64_t to, std::string& text) const
    {
        text.resize(to - from);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::pread(fd_, text.data() + done, text.size() - done, off_t(from + done));
            if (got <= 0)
                return false;
            done += size_t(got);
        }
        return true;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Where each of the first `count` runs of `lines` lines from byte `from` on ends; fewer
// where the file ends first. Empty when the text holds a Ctrl-Z (which ends it early,
// as only a sequential read can tell).
std::vector<uint64_t> lineRunEnds(const File& file, uint64_t from, uint64_t lines, int64_t count)
{
    std::vector<uint64_t> ends;
    if (count <= 0 || lines == 0)
        return ends;
    ends.reserve(size_t(std::min<int64_t>(count, 1 << 20)));
    std::string chunk;
    uint64_t offset = from, seen = 0, next = lines;
    bool afterCr = false;  // the chunk before ended with a CR: an LF first belongs to it
    for (;;) {
        chunk.resize(1 << 20);
        const ssize_t got = ::pread(file.fd(), chunk.data(), chunk.size(), off_t(offset));
        if (got <= 0)
            break;
        const char* data = chunk.data();
        const size_t size = size_t(got);
        if (std::memchr(data, EndOfText, size))
            return {};
        size_t at = 0;
        if (afterCr && !ends.empty() && ends.back() == offset && data[0] == '\n') {
            ++ends.back();
            at = 1;
        }
        afterCr = false;
        // Line ends are counted a small stretch at a time; only a stretch that holds a
        // run's end is walked through one line end after another.
        constexpr size_t Stretch = 4096;
        while (at < size) {
            const size_t stretchEnd = std::min(size, at + Stretch);
            const uint64_t here = uint64_t(std::count(data + at, data + stretchEnd, '\r'));
            if (seen + here < next) {
                seen += here;
                at = stretchEnd;
                continue;
            }
            while (at < stretchEnd) {
                const char* cr = static_cast<const char*>(std::memchr(data + at, '\r', stretchEnd - at));
                if (!cr) {
                    at = stretchEnd;
                    break;
                }
                at = size_t(cr - data) + 1;
                if (++seen == next) {
                    uint64_t end = offset + at;
                    if (at < size && data[at] == '\n')
                        ++end, ++at;
                    else if (at == size)
                        afterCr = true;
                    ends.push_back(end);
                    if (int64_t(ends.size()) == count)
                        return ends;
                    next += lines;
                }
            }
        }
        offset += size;
    }
    return ends;
}

// True when the reader stands at the end of its text with nothing more in it.
bool usedUp(rt::TextReader& reader)
{
    if (reader.atEnd())
        return false;  // the text ended inside the piece
    reader.readReal();
    return reader.atEnd() && reader.pending() == 0;
}

struct Piece {
    bool done = false;
    bool clean = false;
    std::vector<double> rows;  // WaterfallBins per row
};

// The rows readable on every core, given in order; the rows given so far.
int64_t readInParallel(const std::string& path, int32_t sweepsPerBlock, double divisor,
                       const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks, bool& headerGiven,
                       int64_t& expectedRows)
{
    const File file(path);
    if (!file.isOpen() || sweepsPerBlock <= 0)
        return 0;
    const std::vector<uint64_t> headerEnd = lineRunEnds(file, 0, 5, 1);
    std::string text;
    if (headerEnd.size() != 1 || !file.read(0, headerEnd[0], text))
        return 0;
    ViewerHeaderItems header;
    try {
        rt::TextReader reader;
        reader.openMemory(text);
        header = readViewerHeaderItems(reader);
        if (!usedUp(reader))
            return 0;
    } catch (const rt::Error&) {
        return 0;
    }
    if (header.nsamples <= 0)
        return 0;
    const int64_t expected = waterfallRowCount(header.nsweeps, sweepsPerBlock);
    expectedRows = expected;
    if (callbacks.header) {
        callbacks.header(header.nsweeps, header.nsamples, expected);
        headerGiven = true;
    }
    if (cancel.load())
        return 0;
    // Where every block whose lines are all there ends.
    const std::vector<uint64_t> ends =
        lineRunEnds(file, headerEnd[0], uint64_t(header.nsamples) * uint64_t(sweepsPerBlock), expected);
    const int64_t blocks = int64_t(ends.size());
    const int64_t pieceCount = (blocks + BlocksPerPiece - 1) / BlocksPerPiece;
    std::vector<Piece> pieces(static_cast<size_t>(pieceCount));
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        yieldToTheWindow();
        const auto area = std::make_unique<Work>();
        std::string bytes;
        for (int64_t p; !stop.load() && !cancel.load() && (p = next.fetch_add(1)) < pieceCount;) {
            const int64_t first = p * BlocksPerPiece, last = std::min(blocks, first + BlocksPerPiece);
            Piece piece;
            try {
                rt::TextReader reader;
                bool whole = file.read(first == 0 ? headerEnd[0] : ends[size_t(first - 1)], ends[size_t(last - 1)], bytes);
                if (whole) {
                    reader.openMemory(bytes);
                    for (int64_t b = first; b < last && whole; ++b) {
                        area->power.fill(0.0);
                        const int64_t present = readViewerBlock(reader, header.nsamples, sweepsPerBlock,
                                                                area->tseries.data(), area->area, area->power.data());
                        whole = present == int64_t{header.nsamples} * sweepsPerBlock;
                        powerToDb(area->power.data(), divisor);
                        piece.rows.insert(piece.rows.end(), area->power.begin() + 1,
                                          area->power.begin() + 1 + WaterfallBins);
                    }
                }
                piece.clean = whole && usedUp(reader);
            } catch (const rt::Error&) {
                piece.clean = false;  // told again, with its message, by the reading from the start
            } catch (const std::bad_alloc&) {
                piece.clean = false;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            pieces[size_t(p)] = std::move(piece);
            pieces[size_t(p)].done = true;
            ready.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        ready.notify_all();
    };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < cores && int64_t(w) < pieceCount; ++w)
        workers.emplace_back(work);

    // The rows are given in order, as the pieces before them are done.
    int64_t given = 0;
    for (int64_t p = 0; p < pieceCount; ++p) {
        Piece piece;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return pieces[size_t(p)].done || cancel.load() || workers.empty(); });
            if (!pieces[size_t(p)].done)
                break;
            piece = std::move(pieces[size_t(p)]);
        }
        if (!piece.clean || cancel.load())
            break;
        // Cancel is looked at before every row, as the reading from the start does.
        const int64_t rows = int64_t(piece.rows.size()) / WaterfallBins;
        for (int64_t r = 0; r < rows && !cancel.load(); ++r, ++given)
            if (callbacks.row)
                callbacks.row(given, piece.rows.data() + r * WaterfallBins);
    }
    stop = true;
    for (std::thread& t : workers)
        t.join();
    return given;
}

}  // namespace

WaterfallOutcome readWaterfall(const std::string& path, int32_t sweepsPerBlock, double divisor,
                               const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks)
{
    bool headerGiven = false;
    int64_t expectedRows = 0;
    const int64_t given = readInParallel(path, sweepsPerBlock, divisor, cancel, callbacks, headerGiven, expectedRows);
    WaterfallCallbacks rest = callbacks;
    if (headerGiven)
        rest.header = nullptr;
    if (cancel.load() || (given > 0 && given == expectedRows)) {
        WaterfallOutcome outcome;
        outcome.end = cancel.load() ? WaterfallEnd::Cancelled : WaterfallEnd::Complete;
        outcome.rows = given;
        outcome.expectedRows = expectedRows;
        return outcome;
    }
    return readSerially(path, sweepsPerBlock, divisor, cancel, rest, given);
}

WaterfallOutcome readWaterfallInOrder(const std::string& path, int32_t sweepsPerBlock, double divisor,
                                      const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks)
{
    return readSerially(path, sweepsPerBlock, divisor, cancel, callbacks, 0);
}
