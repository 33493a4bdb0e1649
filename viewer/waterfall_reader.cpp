#include "waterfall_reader.h"

#include "block_read.h"
#include "runtime_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

void yieldToTheWindow()
{
    // Linux gives each thread a nice value of its own; a failure leaves the thread as it was.
    // Nice 10: the scan and the workers (three threads on two cores) then leave the window
    // its turn at once even on a machine busy with other work; at nice 2 its event loop
    // waited twice as long under such a load.
    static_cast<void>(::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10));
}

int64_t waterfallRowCount(int32_t nsweeps, int32_t sweepsPerBlock)
{
    if (sweepsPerBlock <= 0 || int64_t{nsweeps} < sweepsPerBlock)
        return 1;
    return (int64_t{nsweeps} - sweepsPerBlock) / sweepsPerBlock + 1;
}

uint64_t countCarriageReturns(const char* data, size_t size)
{
    // A byte lane's count stays below 32 and the eight lanes' sum below 256, so the
    // multiply that adds the lanes up carries nothing out of its top byte.
    constexpr uint64_t Ones = 0x0101010101010101;
    uint64_t total = 0;
    size_t at = 0;
    while (size - at >= 8) {
        uint64_t lanes = 0;
        for (int w = 0; w < 31 && size - at >= 8; ++w, at += 8) {
            uint64_t word;
            std::memcpy(&word, data + at, 8);
            // A byte equal to CR is a zero byte of x: high bit set exactly there.
            const uint64_t x = word ^ (Ones * '\r');
            lanes += (~(((x & (Ones * 0x7f)) + Ones * 0x7f) | x) & (Ones * 0x80)) >> 7;
        }
        total += (lanes * Ones) >> 56;
    }
    for (; at < size; ++at)
        total += data[at] == '\r' ? 1 : 0;
    return total;
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
// block after another. Rows before `skipRows` are read but not given again. The file is
// `fd` where that is not -1 (a descriptor of its own at the file's start, taken over),
// else the one path names.
WaterfallOutcome readSerially(const std::string& path, int fd, int32_t sweepsPerBlock, double divisor,
                              const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks, int64_t skipRows)
{
    WaterfallOutcome outcome;
    const auto work = std::make_unique<Work>();
    int64_t row = 0;
    try {
        rt::TextReader file;
        if (fd >= 0)
            file.openAfter(fd, {});
        else
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
    } catch (const rt::FloatError& error) {
        outcome.end = WaterfallEnd::Failed;
        outcome.message = error.what();
        // A bin without power; the other failure, a transform that overflows, comes of
        // samples far beyond any voltage: a bad line.
        outcome.withoutPower = error.kind() == rt::FloatError::Kind::DivisionByZero;
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

// Finds, a chunk of the file at a time, where each of the first `count` runs of
// `lines` lines from byte `from` on ends, until the file ends. A Ctrl-Z ends the text
// early, as only a sequential read can tell: no run end is given from the chunk that
// holds it on. An end is given only once it is final (a CR at a chunk's end waits for
// the next chunk's first byte, which may be its LF).
class LineRunScanner {
public:
    LineRunScanner(const File& file, uint64_t from, uint64_t lines, int64_t count)
        : file_(file), offset_(from), lines_(lines), count_(count), next_(lines)
    {
        if (count <= 0 || lines == 0)
            done_ = true;
    }

    bool done() const { return done_; }

    // Scans the next chunk, adding the run ends it settles to ends.
    void step(std::vector<uint64_t>& ends)
    {
        if (done_)
            return;
        chunk_.resize(ChunkBytes);
        const ssize_t got = ::pread(file_.fd(), chunk_.data(), chunk_.size(), off_t(offset_));
        if (got <= 0) {
            if (waiting_)
                give(ends, *waiting_);
            done_ = true;
            return;
        }
        const char* data = chunk_.data();
        const size_t size = size_t(got);
        if (std::memchr(data, EndOfText, size)) {
            done_ = true;
            return;
        }
        size_t at = 0;
        if (waiting_) {
            uint64_t end = *waiting_;
            waiting_.reset();
            if (data[0] == '\n')
                ++end, at = 1;
            give(ends, end);
        }
        // Line ends are counted a stretch at a time; only a stretch that holds a run's
        // end is walked through one line end after another.
        constexpr size_t Stretch = 4096;
        while (at < size && !done_) {
            const size_t stretchEnd = std::min(size, at + Stretch);
            const uint64_t here = countCarriageReturns(data + at, stretchEnd - at);
            if (seen_ + here < next_) {
                seen_ += here;
                at = stretchEnd;
                continue;
            }
            while (at < stretchEnd && !done_) {
                const char* cr = static_cast<const char*>(std::memchr(data + at, '\r', stretchEnd - at));
                if (!cr) {
                    at = stretchEnd;
                    break;
                }
                at = size_t(cr - data) + 1;
                if (++seen_ == next_) {
                    next_ += lines_;
                    if (at == size) {
                        waiting_ = offset_ + at;
                    } else {
                        const bool lf = data[at] == '\n';
                        give(ends, offset_ + at + (lf ? 1 : 0));
                        at += lf ? 1 : 0;
                    }
                }
            }
        }
        offset_ += size;
    }

private:
    static constexpr size_t ChunkBytes = size_t(1) << 20;

    void give(std::vector<uint64_t>& ends, uint64_t end)
    {
        ends.push_back(end);
        if (++given_ == count_)
            done_ = true;
    }

    const File& file_;
    uint64_t offset_;
    const uint64_t lines_;
    const int64_t count_;
    uint64_t seen_ = 0;  // line ends so far
    uint64_t next_;      // the line end that ends the next run
    int64_t given_ = 0;
    std::optional<uint64_t> waiting_;  // a run's end at a chunk's last byte, a CR
    bool done_ = false;
    std::string chunk_;
};

// The ends of LineRunScanner, all at once.
std::vector<uint64_t> lineRunEnds(const File& file, uint64_t from, uint64_t lines, int64_t count)
{
    LineRunScanner scanner(file, from, lines, count);
    std::vector<uint64_t> ends;
    while (!scanner.done())
        scanner.step(ends);
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
int64_t readInParallel(const File& file, int32_t sweepsPerBlock, double divisor,
                       const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks, bool& headerGiven,
                       int64_t& expectedRows)
{
    if (sweepsPerBlock <= 0)
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
    // Where the blocks end is found a chunk of the file at a time, on this thread, while
    // the workers read the pieces whose ends are known: the four blocks of a piece, or
    // what is left of them once the whole file is scanned.
    LineRunScanner scanner(file, headerEnd[0], uint64_t(header.nsamples) * uint64_t(sweepsPerBlock), expected);
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<uint64_t> ends;  // under mutex, as the pieces
    std::vector<Piece> pieces;   // one per piece whose blocks' ends are all known
    bool scanned = false;        // ends is complete
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        yieldToTheWindow();
        const auto area = std::make_unique<Work>();
        std::string bytes;
        while (!stop.load() && !cancel.load()) {
            const int64_t p = next.fetch_add(1);
            const int64_t first = p * BlocksPerPiece;
            int64_t last = 0;
            uint64_t from = 0, to = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait(lock, [&] {
                    return scanned || int64_t(ends.size()) >= first + BlocksPerPiece || stop.load() || cancel.load();
                });
                const int64_t blocks = int64_t(ends.size());
                if (first >= blocks || stop.load() || cancel.load())
                    break;
                last = std::min(blocks, first + BlocksPerPiece);
                from = first == 0 ? headerEnd[0] : ends[size_t(first - 1)];
                to = ends[size_t(last - 1)];
            }
            Piece piece;
            try {
                rt::TextReader reader;
                bool whole = file.read(from, to, bytes);
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
    const int64_t expectedPieces = (expected + BlocksPerPiece - 1) / BlocksPerPiece;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<std::thread> workers;
    // Under a limit of threads or processes the reading goes on with the workers that
    // could be started; with none, the rows are read on this thread from the start.
    try {
        for (unsigned w = 0; w < cores && int64_t(w) < expectedPieces; ++w)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
    }
    if (workers.empty())
        return 0;

    // The rows are given in order, as the pieces before them are done: those done so far
    // after every chunk scanned, then all the others, waiting for each. False once a
    // piece is not clean or the reading is cancelled.
    int64_t given = 0;
    int64_t piece = 0;
    const auto giveRows = [&](bool wait) {
        for (;; ++piece) {
            Piece done;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (piece >= int64_t(pieces.size()))
                    return true;
                if (wait)
                    ready.wait(lock, [&] { return pieces[size_t(piece)].done || cancel.load() || workers.empty(); });
                if (!pieces[size_t(piece)].done)
                    return !wait && !cancel.load();
                done = std::move(pieces[size_t(piece)]);
            }
            if (!done.clean || cancel.load())
                return false;
            // Cancel is looked at before every row, as the reading from the start does.
            const int64_t rows = int64_t(done.rows.size()) / WaterfallBins;
            for (int64_t r = 0; r < rows; ++r, ++given) {
                if (cancel.load())
                    return false;
                if (callbacks.row)
                    callbacks.row(given, done.rows.data() + r * WaterfallBins);
            }
        }
    };
    bool going = true;
    std::vector<uint64_t> found;
    while (going && !scanner.done() && !cancel.load()) {
        found.clear();
        scanner.step(found);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ends.insert(ends.end(), found.begin(), found.end());
            pieces.resize(ends.size() / BlocksPerPiece);
        }
        ready.notify_all();
        going = giveRows(false);
    }
    {
        // Scanned, or stopped: the last blocks make a piece of their own.
        const std::lock_guard<std::mutex> lock(mutex);
        scanned = true;
        if (going && scanner.done())
            pieces.resize((ends.size() + BlocksPerPiece - 1) / BlocksPerPiece);
        else
            stop = true;
    }
    ready.notify_all();
    if (going && !stop.load())
        giveRows(true);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    ready.notify_all();
    for (std::thread& t : workers)
        t.join();
    return given;
}

}  // namespace

WaterfallOutcome readWaterfall(const std::string& path, int32_t sweepsPerBlock, double divisor,
                               const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks)
{
    // Both readings read the file that path names as the reading starts, through one
    // open of it: rows read on every core and those the reading from the start then gives
    // are of one recording even if another takes its name meanwhile.
    const File file(path);
    if (!file.isOpen() || !rt::readsAsFile(file.fd()))
        return readSerially(path, -1, sweepsPerBlock, divisor, cancel, callbacks, 0);  // tells why
    bool headerGiven = false;
    int64_t expectedRows = 0;
    const int64_t given = readInParallel(file, sweepsPerBlock, divisor, cancel, callbacks, headerGiven, expectedRows);
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
    // A descriptor of its own, at the start: the parallel reading only ever used pread.
    const int own = ::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        WaterfallOutcome outcome;
        outcome.end = WaterfallEnd::Failed;
        outcome.rows = given;
        outcome.expectedRows = expectedRows;
        outcome.message = rt::InOutError(rt::ioCodeFromErrno(errno)).what();
        return outcome;
    }
    return readSerially(path, own, sweepsPerBlock, divisor, cancel, rest, given);
}

WaterfallOutcome readWaterfallInOrder(const std::string& path, int32_t sweepsPerBlock, double divisor,
                                      const std::atomic<bool>& cancel, const WaterfallCallbacks& callbacks)
{
    return readSerially(path, -1, sweepsPerBlock, divisor, cancel, callbacks, 0);
}
