#include "recording_input.h"

#include "runtime_error.h"
#include "text_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// A pipe or socket: its bytes can be read once only.
bool isPipe(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

// The acquisition header is four lines, each looked for within 64 bytes of its start:
// so many first bytes of a file decide whether it has one, and what is wrong with it.
constexpr size_t LayoutHeadBytes = 4 * 64;

// Up to `limit` first bytes of fd (fewer only where the file ends); closes fd and
// throws rt::InOutError when a read fails.
std::string readHead(int fd, size_t limit)
{
    std::string head(limit, '\0');
    size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd, head.data() + got, limit - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            throw rt::InOutError(rt::ioCodeFromErrno(err));
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    head.resize(got);
    return head;
}

}  // namespace

std::optional<ViewerHeader> readViewerHeader(rt::TextReader& file)
{
    constexpr int32_t MaxSamples = 4000;  // what the viewer's arrays hold per sweep
    ViewerHeader header;
    try {
        header.nsweeps = file.readInt();
        file.readLn();
        file.check();
        header.nsamples = file.readInt();
        file.readLn();
        file.check();
        file.readInt();
        file.readLn();
        file.check();
        header.gain = file.readInt();
        file.readLn();
        file.check();
        file.readReal();
        file.readLn();
        file.check();
    } catch (const rt::InOutError&) {
        return std::nullopt;
    }
    if (file.atEnd() || header.nsweeps < 1 || header.nsamples < 1 || header.nsamples > MaxSamples)
        return std::nullopt;
    return header;
}

void failIo(const std::string& path, int code) { throw Failure(path + ": " + rt::ioErrorText(code)); }

RecordingInput::~RecordingInput()
{
    if (pipe_ >= 0)
        ::close(pipe_);
}

void RecordingInput::open()
{
    try {
        if (!isPipe(path_)) {
            reader_.open(path_);
            return;
        }
        // A pipe is read once: its layout is told from its first bytes, which then go to
        // the reader of that layout ahead of the rest.
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, path_));
        std::string head = readHead(fd, LayoutHeadBytes);
        try {
            acq::AcquisitionReader probe;
            probe.openMemory(head);
        } catch (const acq::FormatError&) {
            pipe_ = fd;
            pipeHead_ = std::move(head);
            throw;
        }
        reader_.openAfter(fd, head);
    } catch (const rt::InOutError& e) {
        failIo(path_, e.code());
    } catch (const acq::FormatError& e) {
        throw Failure(path_ + ": " + e.what() + " (not a recording in the acquisition layout)");
    }
}

void RecordingInput::openText(rt::TextReader& file)
{
    if (pipe_ < 0) {
        file.open(path_);
        return;
    }
    const int fd = pipe_;
    pipe_ = -1;
    file.openAfter(fd, pipeHead_);
    pipeHead_.clear();
}

size_t RecordingInput::readLines(uint16_t* codes, size_t maxLines)
{
    try {
        return reader_.readLines(codes, maxLines);
    } catch (const rt::InOutError& e) {
        failIo(path_, e.code());
    } catch (const acq::FormatError& e) {
        throw Failure(path_ + ": " + e.what());
    }
}

size_t RecordingInput::readSweep(uint16_t* codes)
{
    const size_t samples = size_t(header().sweepSamples);
    size_t got = 0;
    while (got < samples) {
        const size_t n = readLines(codes + 3 * got, samples - got);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

void noteCutShort(const std::string& path, int64_t present, int64_t declared, int64_t missing, int64_t partialLines,
                  uint64_t cutLineBytes)
{
    std::string leftOut;
    if (partialLines > 0)
        leftOut = std::to_string(partialLines) + " lines of an incomplete sweep";
    if (cutLineBytes > 0)
        leftOut += (leftOut.empty() ? "" : " and ") + std::string("a last line cut after ") +
                   std::to_string(cutLineBytes) + (cutLineBytes == 1 ? " byte" : " bytes");
    note(path + ": cut short: " + std::to_string(present) + " of " + std::to_string(declared) + " sweeps present" +
         (missing > 0 ? ", " + std::to_string(missing) + " missing" : std::string()) +
         (leftOut.empty() ? std::string() : " (" + leftOut + " left out)"));
}

acq::SweepCount reportSweeps(const RecordingInput& input, int64_t sampleLines)
{
    const acq::SweepCount count = acq::countSweeps(input.header(), sampleLines);
    if (count.missing > 0)
        noteCutShort(input.path(), count.whole, input.header().numSweeps, count.missing, count.partialLines,
                     input.reader().cutLineBytes());
    if (count.whole == 0)
        throw Failure(input.path() + ": holds no whole sweep to convert");
    return count;
}

}  // namespace cli
