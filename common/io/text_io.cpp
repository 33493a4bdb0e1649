// The reading side of recordings: items, line ends and result codes over a large
// buffer filled by read(2).

#include "text_io.h"

#include "number_scan.h"
#include "runtime_error.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

constexpr size_t ReadBufferSize = size_t(1) << 20;
constexpr size_t IntTokenLimit = 32;
constexpr size_t RealTokenLimit = 64;
constexpr unsigned char EndOfText = 0x1A;  // Ctrl-Z

}  // namespace

struct TextReader::Impl {
    bool open = false;
    int fd = -1;               // -1 when the text comes from memory
    std::string memory;        // text of openMemory
    std::unique_ptr<char[]> buffer;
    const char* pos = nullptr;
    const char* end = nullptr;
    bool finished = false;     // physical end, Ctrl-Z or a read error: nothing more to read
    int readError = 0;         // code of a failed read(2), handed to the pending code

    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        open = false;
        memory.clear();
        pos = end = nullptr;
        finished = false;
        readError = 0;
    }

    // Makes more bytes available; false at the end of the text.
    bool refill()
    {
        if (finished || fd < 0) {
            finished = true;
            return false;
        }
        if (!buffer)
            buffer.reset(new char[ReadBufferSize]);  // no need to clear it
        for (;;) {
            const ssize_t got = ::read(fd, buffer.get(), ReadBufferSize);
            if (got > 0) {
                pos = buffer.get();
                end = pos + got;
                return true;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                readError = ioCodeFromErrno(errno);
            finished = true;
            pos = end = nullptr;
            return false;
        }
    }

    // Ctrl-Z: the rest of the text does not exist.
    void endText()
    {
        finished = true;
        pos = end = nullptr;
    }

    // Skips bytes <= 0x20; false when the text ends first.
    bool skipBlanks()
    {
        for (;;) {
            while (pos != end) {
                const unsigned char c = static_cast<unsigned char>(*pos);
                if (c > 0x20)
                    return true;
                if (c == EndOfText) {
                    endText();
                    return false;
                }
                ++pos;
            }
            if (!refill())
                return false;
        }
    }

    // Collects the token at pos into token[0..limit). Returns its length, or
    // limit + 1 when the run of bytes > 0x20 is longer than limit (the whole run is
    // consumed then, so it never turns into two numbers).
    size_t collectToken(char* token, size_t limit)
    {
        size_t length = 0;
        for (;;) {
            while (pos != end) {
                const unsigned char c = static_cast<unsigned char>(*pos);
                if (c <= 0x20) {
                    if (c == EndOfText)
                        endText();
                    return length;
                }
                if (length < limit)
                    token[length] = static_cast<char>(c);
                if (length <= limit)
                    ++length;
                ++pos;
            }
            if (!refill())
                return length;
        }
    }

    // The token at pos: in place when it ends inside the buffer (the usual case),
    // else gathered into scratch. length is limit + 1 for a run that is too long.
    const char* takeToken(char* scratch, size_t limit, size_t& length)
    {
        if (size_t(end - pos) > limit) {
            const char* start = pos;
            const char* q = pos;
            const char* stop = pos + limit + 1;
            while (q != stop && static_cast<unsigned char>(*q) > 0x20)
                ++q;
            if (q != stop) {
                length = size_t(q - start);
                // The buffer stays as it is until the next refill, so start remains valid.
                if (static_cast<unsigned char>(*q) == EndOfText)
                    endText();
                else
                    pos = q;
                return start;
            }
        }
        length = collectToken(scratch, limit);
        return scratch;
    }

    // The common real item "[+-]digits[.digits]" (at most 19 digits, ending inside
    // the buffer) in one pass. False, with nothing consumed, for anything else; the
    // general path then decides. scanQuickReal gives the value scanRealToken would.
    bool quickReal(double& value)
    {
        static_assert(QuickRealReach <= RealTokenLimit);
        const char* after = nullptr;
        if (size_t(end - pos) <= RealTokenLimit || !scanQuickReal(pos, after, value))
            return false;
        const unsigned char next = static_cast<unsigned char>(*after);
        if (next > 0x20)
            return false;
        if (next == EndOfText)
            endText();
        else
            pos = after;
        return true;
    }

    // readReal then readLn for that item, when the item is a quick real followed
    // directly by CR (and LF): the usual line of a recording. False, with nothing
    // consumed, for anything else.
    bool quickRealLine(double& value)
    {
        const char* after = nullptr;
        if (!open || size_t(end - pos) <= RealTokenLimit || static_cast<unsigned char>(*pos) <= 0x20 ||
            !scanQuickReal(pos, after, value) || *after != '\r')
            return false;
        // after is within QuickRealReach of pos, so the byte past the CR is in the buffer.
        pos = after + 1;
        if (*pos == '\n')
            ++pos;
        return true;
    }

    // quickRealLine for up to count lines in turn, stopping at the first it cannot
    // take; how many it took.
    size_t quickRealLines(double* values, size_t count)
    {
        if (!open || size_t(end - pos) <= RealTokenLimit)
            return 0;
        // The last start a token may have here: its reach stays inside the buffer.
        return scanQuickRealLines(pos, end - RealTokenLimit - 1, values, count);
    }

    // Up to and including the next CR, and one LF directly after it.
    void skipLine()
    {
        for (;;) {
            if (pos != end) {
                // Right after an item the line end usually comes next.
                const char* cr = pos;
                if (*pos != '\r') {
                    const size_t available = size_t(end - pos);
                    cr = static_cast<const char*>(std::memchr(pos, '\r', available));
                    const size_t span = cr ? size_t(cr - pos) : available;
                    if (std::memchr(pos, EndOfText, span)) {
                        endText();
                        return;
                    }
                }
                if (cr) {
                    pos = cr + 1;
                    if (pos == end && !refill())
                        return;
                    if (*pos == '\n')
                        ++pos;
                    return;
                }
                pos = end;
            }
            if (!refill())
                return;
        }
    }

    // Up to and including the next CR or LF, and one LF directly after a CR.
    void skipLineAnyEnd()
    {
        for (;;) {
            while (pos != end) {
                const unsigned char c = static_cast<unsigned char>(*pos);
                if (c == EndOfText) {
                    endText();
                    return;
                }
                ++pos;
                if (c == '\n')
                    return;
                if (c == '\r') {
                    if (pos == end && !refill())
                        return;
                    if (*pos == '\n')
                        ++pos;
                    return;
                }
            }
            if (!refill())
                return;
        }
    }
};

TextReader::TextReader() : impl_(std::make_unique<Impl>()) {}

TextReader::~TextReader() { impl_->reset(); }

void TextReader::open(const std::string& path)
{
    impl_->reset();
    pending_ = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw InOutError(ioCodeFromOpenErrno(errno, path));
    // A folder opens for reading but is no file: "Invalid filename"; nor is a device.
    if (!readsAsFile(fd)) {
        ::close(fd);
        throw InOutError(ioCodeFromErrno(EISDIR));
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    impl_->fd = fd;
    impl_->open = true;
}

void TextReader::openMemory(std::string_view text)
{
    impl_->reset();
    pending_ = 0;
    impl_->memory.assign(text);
    impl_->pos = impl_->memory.data();
    impl_->end = impl_->pos + impl_->memory.size();
    impl_->open = true;
}

void TextReader::openAfter(int fd, std::string_view head)
{
    openMemory(head);
    impl_->fd = fd;
}

bool TextReader::isOpen() const { return impl_->open; }

namespace {

FileId fileIdFrom(const struct stat& info)
{
    return FileId{uint64_t(info.st_dev), uint64_t(info.st_ino), int64_t(info.st_size),
                  int64_t(info.st_mtim.tv_sec) * 1000000000 + int64_t(info.st_mtim.tv_nsec)};
}

}  // namespace

std::optional<FileId> fileIdOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return fileIdFrom(info);
}

std::optional<FileId> TextReader::fileId() const
{
    struct stat info {};
    if (!impl_->open || impl_->fd < 0 || ::fstat(impl_->fd, &info) != 0)
        return std::nullopt;
    return fileIdFrom(info);
}

bool TextReader::atEnd() const { return impl_->open && impl_->finished; }

void TextReader::close()
{
    if (!impl_->open)
        throw InOutError(io::NotOpen);
    const int fd = impl_->fd;
    impl_->fd = -1;
    impl_->reset();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw InOutError(ioCodeFromErrno(errno));
}

namespace {
// The first code stays pending until a check reports it.
inline void record(int& pending, int code)
{
    if (pending == 0)
        pending = code;
}
}  // namespace

bool TextReader::itemAhead()
{
    if (!impl_->open)
        return false;
    const bool ahead = impl_->skipBlanks();
    // A read error met on the way is pending, as after a read.
    if (impl_->readError)
        record(pending_, std::exchange(impl_->readError, 0));
    return ahead;
}

int32_t TextReader::readInt()
{
    if (!impl_->open) {
        record(pending_, io::NotOpenForInput);
        return 0;
    }
    int32_t value = 0;
    if (impl_->skipBlanks()) {
        char scratch[IntTokenLimit];
        size_t length = 0;
        const char* token = impl_->takeToken(scratch, IntTokenLimit, length);
        if (length > IntTokenLimit || !scanIntToken(token, length, value)) {
            value = 0;
            record(pending_, io::InvalidNumericInput);
        }
    }
    if (impl_->readError)
        record(pending_, std::exchange(impl_->readError, 0));
    return value;
}

double TextReader::readReal()
{
    if (!impl_->open) {
        record(pending_, io::NotOpenForInput);
        return 0.0;
    }
    double value = 0.0;
    if (impl_->skipBlanks() && !impl_->quickReal(value)) {
        char scratch[RealTokenLimit];
        size_t length = 0;
        const char* token = impl_->takeToken(scratch, RealTokenLimit, length);
        if (length > RealTokenLimit || !scanRealToken(token, length, value)) {
            value = 0.0;
            record(pending_, io::InvalidNumericInput);
        }
    }
    if (impl_->readError)
        record(pending_, std::exchange(impl_->readError, 0));
    return value;
}

double TextReader::readRealLine()
{
    double value = 0.0;
    if (impl_->quickRealLine(value))
        return value;
    value = readReal();
    readLn();
    return value;
}

size_t TextReader::readRealLines(double* values, size_t count)
{
    return pending_ == 0 ? impl_->quickRealLines(values, count) : 0;
}

void TextReader::readLn()
{
    if (!impl_->open) {
        record(pending_, io::NotOpenForInput);
        return;
    }
    impl_->skipLine();
    if (impl_->readError)
        record(pending_, std::exchange(impl_->readError, 0));
}

void TextReader::readLnAnyLineEnd()
{
    if (!impl_->open) {
        record(pending_, io::NotOpenForInput);
        return;
    }
    impl_->skipLineAnyEnd();
    if (impl_->readError)
        record(pending_, std::exchange(impl_->readError, 0));
}

void TextReader::check()
{
    if (pending_ != 0)
        throw InOutError(std::exchange(pending_, 0));
}

}  // namespace rt
