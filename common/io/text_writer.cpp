// The writing side of recordings: lines built in a large buffer and handed to
// write(2) in whole lines, so that a failure leaves the file ending at a line end.

#include "text_io.h"

#include "runtime_error.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace rt {

namespace {

constexpr size_t WriteBufferSize = size_t(1) << 20;
// Lines are handed over once this much is buffered; the rest of the buffer holds
// the line being built.
constexpr size_t FlushThreshold = WriteBufferSize - (size_t(64) << 10);

constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr auto makeSmallDecimals()
{
    std::array<std::array<char, 4>, 10000> table{};
    for (int v = 0; v < 10000; ++v) {
        char digits[4] = {};
        int length = 0;
        for (int rest = v; length == 0 || rest > 0; rest /= 10)
            digits[length++] = char('0' + rest % 10);
        for (int i = 0; i < length; ++i)
            table[v][i] = digits[length - 1 - i];
    }
    return table;
}

// Shortest decimal form, written backwards from `end`; returns the first byte.
char* formatDecimal(uint64_t magnitude, char* end)
{
    char* p = end;
    while (magnitude >= 100) {
        const unsigned pair = unsigned(magnitude % 100) * 2;
        magnitude /= 100;
        p -= 2;
        std::memcpy(p, DigitPairs + pair, 2);
    }
    if (magnitude >= 10) {
        p -= 2;
        std::memcpy(p, DigitPairs + unsigned(magnitude) * 2, 2);
    } else {
        *--p = char('0' + magnitude);
    }
    return p;
}

}  // namespace

alignas(64) constinit const std::array<std::array<char, 4>, 10000> SmallDecimals = makeSmallDecimals();

TextWriter::TextWriter() = default;

TextWriter::~TextWriter()
{
    if (fd_ < 0)
        return;
    // A writer dropped without close still delivers its lines.
    if (!failed_ && used_ > 0)
        writeOut(buffer_.get(), used_);
    ::close(fd_);
}

void TextWriter::create(const std::string& path)
{
    if (fd_ >= 0) {
        try {
            close();
        } catch (const InOutError&) {
            // The earlier file is given up for the new one.
        }
    }
    pending_ = 0;
    failed_ = 0;
    used_ = lineEnd_ = 0;
    written_ = 0;
    // Opened without waiting: a FIFO that nothing reads from would otherwise hold the
    // open (and the program) until a reader comes, which may be never. It is refused
    // at once, as a socket is; the writes then wait as usual.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        throw InOutError(errno == ENXIO ? io::AccessDenied : ioCodeFromOpenErrno(errno, path));
    if (const int flags = ::fcntl(fd, F_GETFL); flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!buffer_)
        buffer_.reset(new char[WriteBufferSize]);  // no need to clear it
    struct stat info {};
    pipe_ = ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
    fd_ = fd;
    setWritable(true);
}

bool TextWriter::isOpen() const { return fd_ >= 0; }

void TextWriter::fail(int code)
{
    setWritable(false);
    if (failed_ == 0)
        failed_ = code;
    if (pending_ == 0)
        pending_ = code;
}

namespace {

// While it lives, a write to a pipe whose reader has gone fails with EPIPE on this
// thread instead of raising SIGPIPE, which would end the program; a SIGPIPE that such a
// write raises is taken back, one that was pending before is left.
class PipeSignalBlock {
public:
    explicit PipeSignalBlock(bool active) : active_(active)
    {
        if (!active_)
            return;
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~PipeSignalBlock()
    {
        if (!active_)
            return;
        if (!wasPending_) {
            const timespec none{0, 0};
            while (::sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

private:
    bool active_;
    bool wasPending_ = false;
    sigset_t pipe_{};
    sigset_t previous_{};
};

}  // namespace

// Hands data to the file. On a failure, a line cut short by a partial write is
// taken back, so the file ends with the last whole line that reached it.
bool TextWriter::writeOut(const char* data, size_t length)
{
    const PipeSignalBlock pipeSignal(pipe_);
    const uint64_t start = written_;
    size_t done = 0;
    while (done < length) {
        const ssize_t put = ::write(fd_, data + done, length - done);
        if (put > 0) {
            done += size_t(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        const int code = put < 0 ? ioCodeFromErrno(errno) : io::DiskFull;
        if (done > 0) {
            const void* lastLf = ::memrchr(data, '\n', done);
            const size_t keep = lastLf ? size_t(static_cast<const char*>(lastLf) - data) + 1 : 0;
            if (keep < done && ::ftruncate(fd_, off_t(start + keep)) == 0)
                done = keep;
        }
        written_ = start + done;
        if (sink_)
            sink_(data, done);
        fail(code);
        return false;
    }
    written_ = start + done;
    if (sink_)
        sink_(data, done);
    return true;
}

// Writes the buffered whole lines and keeps the line being built.
void TextWriter::flushLines()
{
    if (lineEnd_ == 0)
        return;
    writeOut(buffer_.get(), lineEnd_);
    std::memmove(buffer_.get(), buffer_.get() + lineEnd_, used_ - lineEnd_);
    used_ -= lineEnd_;
    lineEnd_ = 0;
}

// False when nothing may be added: not open (105 recorded) or failed earlier.
bool TextWriter::makeRoom(size_t length)
{
    if (fd_ < 0) {
        if (pending_ == 0)
            pending_ = io::NotOpenForOutput;
        return false;
    }
    if (failed_)
        return false;
    if (WriteBufferSize - used_ >= length)
        return true;
    flushLines();
    if (failed_)
        return false;
    if (WriteBufferSize - used_ >= length)
        return true;
    // A line longer than the buffer goes out in pieces.
    if (!writeOut(buffer_.get(), used_))
        return false;
    used_ = 0;
    return WriteBufferSize >= length;
}

void TextWriter::append(const char* text, size_t length)
{
    while (length > 0) {
        const size_t piece = std::min(length, WriteBufferSize);
        if (!makeRoom(piece))
            return;
        std::memcpy(buffer_.get() + used_, text, piece);
        used_ += piece;
        text += piece;
        length -= piece;
    }
}

void TextWriter::writeIntSlow(int64_t value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    const uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    char* first = formatDecimal(magnitude, end);
    if (value < 0)
        *--first = '-';
    append(first, size_t(end - first));
}

void TextWriter::writeLnSlow()
{
    append("\r\n", 2);
    if (fd_ < 0)
        return;
    if (failed_) {
        // Every line after a failure is a line lost: report it again.
        if (pending_ == 0)
            pending_ = failed_;
        return;
    }
    lineEnd_ = used_;
    if (used_ >= FlushThreshold)
        flushLines();
}

void TextWriter::throwPending() { throw InOutError(std::exchange(pending_, 0)); }

void TextWriter::setWritable(bool writable)
{
    limit_ = writable ? WriteBufferSize : 0;
    flushAt_ = writable ? FlushThreshold : 0;
}

void TextWriter::close()
{
    if (fd_ < 0)
        throw InOutError(io::NotOpen);
    if (!failed_ && used_ > 0)
        writeOut(buffer_.get(), used_);
    used_ = lineEnd_ = 0;
    setWritable(false);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR && pending_ == 0)
        pending_ = ioCodeFromErrno(errno);
    check();
}

}  // namespace rt
