// The acquisition layout read strictly, over a buffer filled by read(2). The
// buffer always has zero bytes after its data, so a sample line is parsed without
// bounds checks: a valid line has at most 19 bytes, the parser reads at most that
// far before it decides, and whenever fewer bytes than that remain the buffer is
// refilled first (or the text has ended and the zeros end the line). Well-formed lines
// go through the scan of acquisition_line_scan.h first; the line it stops
// at is decided here, so every fault and its line number come from one place.

#include "acquisition_reader.h"

#include "acquisition_line_scan.h"
#include "runtime_error.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace acq {

namespace {

// 64 KB a read: the copy out of the page cache then stays in the processor's cache,
// which measured several times faster here than reads of 1 MB.
constexpr size_t ReadBufferSize = size_t(1) << 16;
constexpr size_t MaxSampleLine = 19;  // "65535,65535,65535\r\n"
constexpr size_t MaxHeaderLine = 64;
constexpr size_t Padding = 64;  // the line scan reads 64 bytes from any line start
constexpr char EndOfText = 0x1A;

const char* const CodesExpected = "three codes 0..65535 joined by \",\" and ended by CR LF";

inline bool isDigit(char c) { return unsigned(c - '0') < 10; }

// One code in shortest form; nullptr when it is not one. Eight bytes are loaded at
// once (the buffer's zero padding keeps that inside it) and the length of the digit
// run found from them: a byte is flagged when it is below '0' (the subtraction
// borrows into its top bit) or above '9' (the addition carries into it). Carries and
// borrows only move upwards from a flagged byte, so the lowest flag is exact.
inline const char* parseCode(const char* p, uint32_t& value)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    const uint64_t flags =
        ((word + 0x4646464646464646ull) | (word - 0x3030303030303030ull)) & 0x8080808080808080ull;
    if (flags == 0)
        return nullptr;
    const int length = __builtin_ctzll(flags) >> 3;
    if (length == 0 || length > 5 || (p[0] == '0' && length > 1))
        return nullptr;
    // The digits moved to the top bytes, zeros below them, then combined in pairs,
    // quads and the whole eight at once (no branch on the length).
    const uint64_t digits = (word - 0x3030303030303030ull) << (64 - 8 * length);
    uint64_t v = digits * 10 + (digits >> 8);
    v = ((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
         ((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32))) >> 32;
    value = uint32_t(v);
    if (value > 65535)
        return nullptr;
    return p + length;
}

// What is wrong with the sample line at p (the fast parser refused it); end bounds the data.
std::string explainSampleLine(const char* p, const char* end)
{
    for (int k = 0; k < 3; ++k) {
        const char* start = p;
        while (p != end && isDigit(*p))
            ++p;
        const size_t digits = size_t(p - start);
        if (digits == 0) {
            if (p == end)
                return std::string(CodesExpected) + ", found the end of the file";
            return std::string(CodesExpected) + (k == 0 ? ", found no code" : ", found no code after \",\"");
        }
        if (digits > 1 && *start == '0')
            return "a code in shortest decimal form (no leading zeros)";
        if (digits > 5 || std::stoul(std::string(start, digits)) > 65535)
            return "a code 0..65535, found one above 65535";
        if (k < 2) {
            if (p != end && *p == ',') {
                ++p;
                continue;
            }
            if (p == end || *p == '\r' || *p == '\n')
                return std::string(CodesExpected) + ", found " + std::to_string(k + 1) +
                       (k == 0 ? " code" : " codes");
            return std::string(CodesExpected) + ", found another character after code " + std::to_string(k + 1);
        }
    }
    if (p == end)
        return "CR LF at the end of the line, found the end of the file";
    if (*p == '\n')
        return "CR LF at the end of the line, found LF alone";
    if (*p == ',')
        return std::string(CodesExpected) + ", found more than 3 codes";
    return "CR LF after the third code";
}

// Whether [p, end) is what a sample line begins with, short of its LF: up to three
// codes joined by "," (the last perhaps cut), each in shortest form and at most
// 65535, and after the third a CR.
bool isStartOfSampleLine(const char* p, const char* end)
{
    for (int k = 0; k < 3; ++k) {
        const char* start = p;
        uint32_t value = 0;
        while (p != end && isDigit(*p) && p - start < 6)
            value = value * 10 + uint32_t(*p++ - '0');
        if (value > 65535 || (p - start > 1 && *start == '0'))
            return false;
        if (p == end)
            return true;
        if (p == start || *p != (k < 2 ? ',' : '\r'))
            return false;
        ++p;
    }
    return p == end;
}

}  // namespace

FormatError::FormatError(int64_t line, std::string expected)
    : std::runtime_error("line " + std::to_string(line) + ": expected " + expected), line_(line),
      expected_(std::move(expected))
{
}

struct AcquisitionReader::Impl {
    int fd = -1;
    std::unique_ptr<char[]> buffer;  // ReadBufferSize + MaxHeaderLine of data, then Padding zeros
    const char* pos = nullptr;
    const char* end = nullptr;
    bool eof = false;
    uint64_t bytesRead = 0;
    uint64_t totalBytes = 0;
    std::optional<uint64_t> endOfTextAt;
    uint64_t cutLineBytes = 0;
    const std::function<void(const char*, size_t)>* sink = nullptr;

    ~Impl()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Keeps the bytes from pos and appends what the file gives; false when nothing more came.
    bool refill()
    {
        if (eof)
            return false;
        const size_t kept = size_t(end - pos);
        char* base = buffer.get();
        std::memmove(base, pos, kept);
        pos = base;
        end = base + kept;
        for (;;) {
            const ssize_t got = ::read(fd, base + kept, ReadBufferSize);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw rt::InOutError(rt::ioCodeFromErrno(errno));
            if (got == 0) {
                eof = true;
                std::memset(base + kept, 0, Padding);
                return false;
            }
            if (*sink)
                (*sink)(base + kept, size_t(got));
            bytesRead += uint64_t(got);
            end = base + kept + got;
            std::memset(base + kept + got, 0, Padding);
            return true;
        }
    }

    // At least want bytes available from pos, unless the text ends first.
    void ensure(size_t want)
    {
        while (size_t(end - pos) < want && refill()) {
        }
    }

    // One header line without its CR LF; throws FormatError naming what the line should hold.
    std::string_view headerLine(int line, const std::string& expected)
    {
        ensure(MaxHeaderLine);
        const size_t available = std::min(size_t(end - pos), MaxHeaderLine);
        const std::string_view window(pos, available);
        const size_t lf = window.find('\n');
        if (available == 0)
            throw FormatError(line, expected + ", found the end of the file");
        if (lf == std::string_view::npos || lf == 0 || window[lf - 1] != '\r') {
            if (lf != std::string_view::npos)
                throw FormatError(line, expected + " ended by CR LF, found LF alone");
            throw FormatError(line, expected + " ended by CR LF");
        }
        pos += lf + 1;
        return window.substr(0, lf - 1);
    }
};

namespace {

// Integers joined by "," in shortest decimal form (a "-" only before a non-zero value).
bool parseIntegers(std::string_view text, int32_t* values, int count)
{
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (p == end || *p != ',')
                return false;
            ++p;
        }
        const char* digits = p != end && *p == '-' ? p + 1 : p;
        if (digits == end || !isDigit(*digits) || (*digits == '0' && (digits != p || (digits + 1 != end && isDigit(digits[1])))))
            return false;
        const auto [next, error] = std::from_chars(p, end, values[i]);
        if (error != std::errc())
            return false;
        p = next;
    }
    return p == end;
}

}  // namespace

AcquisitionReader::AcquisitionReader() : impl_(std::make_unique<Impl>()) {}

AcquisitionReader::~AcquisitionReader() = default;

void AcquisitionReader::open(const std::string& path)
{
    impl_ = std::make_unique<Impl>();
    impl_->sink = &sink_;
    linesRead_ = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, path));
    impl_->fd = fd;
    if (!rt::readsAsFile(fd))
        throw rt::InOutError(rt::ioCodeFromErrno(EISDIR));
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        impl_->totalBytes = uint64_t(info.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    impl_->buffer.reset(new char[ReadBufferSize + MaxHeaderLine + Padding]);
    impl_->pos = impl_->end = impl_->buffer.get();
    readHeader();
}

void AcquisitionReader::openAfter(int fd, std::string_view head)
{
    impl_ = std::make_unique<Impl>();
    impl_->sink = &sink_;
    linesRead_ = 0;
    impl_->fd = fd;
    head = head.substr(0, ReadBufferSize);
    impl_->buffer.reset(new char[ReadBufferSize + MaxHeaderLine + Padding]);
    std::memcpy(impl_->buffer.get(), head.data(), head.size());
    std::memset(impl_->buffer.get() + head.size(), 0, Padding);
    impl_->pos = impl_->buffer.get();
    impl_->end = impl_->pos + head.size();
    impl_->bytesRead = head.size();
    if (sink_ && !head.empty())
        sink_(head.data(), head.size());
    readHeader();
}

void AcquisitionReader::openMemory(std::string_view text)
{
    impl_ = std::make_unique<Impl>();
    impl_->sink = &sink_;
    linesRead_ = 0;
    impl_->buffer.reset(new char[text.size() + Padding]);
    std::memcpy(impl_->buffer.get(), text.data(), text.size());
    std::memset(impl_->buffer.get() + text.size(), 0, Padding);
    impl_->pos = impl_->buffer.get();
    impl_->end = impl_->pos + text.size();
    impl_->eof = true;
    impl_->bytesRead = impl_->totalBytes = text.size();
    if (sink_)
        sink_(text.data(), text.size());
    readHeader();
}

void AcquisitionReader::readHeader()
{
    const std::string first = "\"NumSweeps,SweepSamples\": a sweep count of at least 1, \",\" and 2500 or 5000";
    int32_t sizes[2] = {0, 0};
    if (!parseIntegers(impl_->headerLine(1, first), sizes, 2) || sizes[0] < 1 ||
        (sizes[1] != 2500 && sizes[1] != 5000))
        throw FormatError(1, first);
    header_.numSweeps = sizes[0];
    header_.sweepSamples = sizes[1];

    const std::string second = "the attenuation, one integer";
    if (!parseIntegers(impl_->headerLine(2, second), &header_.attenuation, 1))
        throw FormatError(2, second);

    const std::string third = "\"Gain1,Gain2,Gain3\": three integers joined by \",\"";
    if (!parseIntegers(impl_->headerLine(3, third), header_.gains, 3))
        throw FormatError(3, third);

    const std::string fourth = "the text \"0.0\"";
    if (impl_->headerLine(4, fourth) != "0.0")
        throw FormatError(4, fourth);
    linesPromised_ = int64_t(header_.numSweeps) * header_.sweepSamples;
}

size_t AcquisitionReader::readLines(uint16_t* codes, size_t maxLines)
{
    Impl& in = *impl_;
    size_t done = 0;
    while (done < maxLines) {
        // Well-formed lines go the fast way; the line it stops at is decided below.
        const int64_t room = linesPromised_ - linesRead_ - int64_t(done);
        if (room > 0) {
            const size_t fast =
                scanSampleLines(in.pos, codes, size_t(std::min<int64_t>(room, int64_t(maxLines - done))));
            codes += 3 * fast;
            done += fast;
            if (done == maxLines)
                break;
        }
        if (size_t(in.end - in.pos) < MaxSampleLine) {
            in.ensure(MaxSampleLine);
            if (in.pos == in.end)
                break;
        }
        const char* p = in.pos;
        uint32_t a = 0, b = 0, c = 0;
        if (*p == EndOfText) {  // the readable text ends here, as for every reader of recordings
            in.endOfTextAt = in.bytesRead - uint64_t(in.end - p);
            in.eof = true;
            in.pos = in.end;
            break;
        }
        if (linesRead_ + int64_t(done) == linesPromised_) {
            linesRead_ += int64_t(done);
            throw FormatError(nextLineNumber(), "the end of the file (the header promises " +
                                                    std::to_string(header_.numSweeps) + " sweeps of " +
                                                    std::to_string(header_.sweepSamples) + " lines)");
        }
        if ((p = parseCode(p, a)) && *p++ == ',' && (p = parseCode(p, b)) && *p++ == ',' &&
            (p = parseCode(p, c)) && p[0] == '\r' && p[1] == '\n') {
            codes[0] = uint16_t(a);
            codes[1] = uint16_t(b);
            codes[2] = uint16_t(c);
            codes += 3;
            in.pos = p + 2;
            ++done;
            continue;
        }
        // A file that ends inside a line of codes (a write or a copy that stopped there)
        // ends at the line before it: the line is part of a sweep that is not whole.
        if (in.eof && isStartOfSampleLine(in.pos, in.end)) {
            in.cutLineBytes = uint64_t(in.end - in.pos);
            in.pos = in.end;
            break;
        }
        linesRead_ += int64_t(done);
        throw FormatError(nextLineNumber(), explainSampleLine(in.pos, in.end));
    }
    linesRead_ += int64_t(done);
    return done;
}

uint64_t AcquisitionReader::bytesRead() const { return impl_->bytesRead; }

uint64_t AcquisitionReader::totalBytes() const { return impl_->totalBytes; }

std::optional<uint64_t> AcquisitionReader::endOfTextOffset() const { return impl_->endOfTextAt; }

uint64_t AcquisitionReader::cutLineBytes() const { return impl_->cutLineBytes; }

uint64_t AcquisitionReader::bytesAfterEndOfText() const
{
    const std::optional<uint64_t> at = impl_->endOfTextAt;
    return at && impl_->totalBytes > *at + 1 ? impl_->totalBytes - *at - 1 : 0;
}

SweepCount countSweeps(const RecordingHeader& header, int64_t sampleLines)
{
    SweepCount count;
    if (header.sweepSamples <= 0)
        return count;
    count.whole = sampleLines / header.sweepSamples;
    count.partialLines = sampleLines % header.sweepSamples;
    count.missing = std::max<int64_t>(0, int64_t(header.numSweeps) - count.whole);
    return count;
}

}  // namespace acq
