#include "output_file.h"

#include "runtime_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t BufferSize = size_t(1) << 20;

[[noreturn]] void fail(int err) { throw rt::InOutError(rt::ioCodeFromErrno(err)); }

bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t done = ::write(fd, data, length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        data += done;
        length -= size_t(done);
    }
    return true;
}
}  // namespace

OutputFile::OutputFile(std::string finalPath) : finalPath_(std::move(finalPath)), buffer_(new char[BufferSize])
{
    const size_t slash = finalPath_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : finalPath_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? finalPath_ : finalPath_.substr(slash + 1);
    tempPath_ = dir + "." + name + ".part-XXXXXX";
    fd_ = ::mkstemp(tempPath_.data());
    if (fd_ < 0)  // a missing folder is a name that cannot be, not a missing file
        throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, finalPath_));
    // mkstemp makes the file private; the result gets the permissions of any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(tempPath_.c_str());
    }
}

void OutputFile::write(const char* data, size_t length)
{
    // A large block goes straight to the file rather than through the buffer: copying
    // it first costs more than the call it would save.
    constexpr size_t DirectWrite = size_t(32) << 10;
    if (used_ + length > BufferSize)
        flush();
    if (used_ == 0 && length >= DirectWrite) {
        if (!writeAll(fd_, data, length))
            fail(errno);
        written_ += length;
        startWriteBack();
        return;
    }
    std::memcpy(buffer_.get() + used_, data, length);
    used_ += length;
}

void OutputFile::copyFrom(int fd, uint64_t offset, uint64_t length)
{
    flush();
    off_t from = off_t(offset);
    uint64_t left = length;
    while (left > 0) {
        const ssize_t done = ::copy_file_range(fd, &from, fd_, nullptr, size_t(std::min<uint64_t>(left, 1u << 30)), 0);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            // Between file systems that cannot: through a buffer.
            std::unique_ptr<char[]> piece(new char[BufferSize]);
            while (left > 0) {
                const ssize_t got = ::pread(fd, piece.get(), size_t(std::min<uint64_t>(left, BufferSize)), from);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    fail(got < 0 ? errno : EIO);
                if (!writeAll(fd_, piece.get(), size_t(got)))
                    fail(errno);
                from += got;
                left -= uint64_t(got);
                written_ += uint64_t(got);
            }
            break;
        }
        if (done <= 0)
            fail(done < 0 ? errno : EIO);
        left -= uint64_t(done);
        written_ += uint64_t(done);
        startWriteBack();
    }
    startWriteBack();
}

void OutputFile::flush()
{
    if (used_ > 0 && !writeAll(fd_, buffer_.get(), used_))
        fail(errno);
    written_ += used_;
    used_ = 0;
    startWriteBack();
}

void OutputFile::startWriteBack()
{
#ifdef SYNC_FILE_RANGE_WRITE
    // The disk starts on what is written while the next bytes are made, so that the
    // fsync of commit() waits for the tail only. Advice only: a failure here shows at fsync.
    constexpr uint64_t WriteBackStep = uint64_t(8) << 20;
    if (written_ - writeBackFrom_ >= WriteBackStep) {
        ::sync_file_range(fd_, off_t(writeBackFrom_), off_t(written_ - writeBackFrom_), SYNC_FILE_RANGE_WRITE);
        writeBackFrom_ = written_;
    }
#endif
}

void OutputFile::overwrite(uint64_t offset, std::string_view text)
{
    flush();
    if (::pwrite(fd_, text.data(), text.size(), off_t(offset)) != ssize_t(text.size()))
        fail(errno ? errno : EIO);
}

void OutputFile::commit()
{
    flush();
    if (::fsync(fd_) != 0 && errno != EINVAL)
        fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int err = errno;
        ::unlink(tempPath_.c_str());
        fail(err);
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        const int err = errno;
        ::unlink(tempPath_.c_str());
        fail(err);
    }
}
