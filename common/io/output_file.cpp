#include "output_file.h"

#include "runtime_error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {
constexpr size_t BufferSize = size_t(1) << 20;
// How much is written before the disk is asked to start on it: small enough that
// commit() finds little left for its fsync even in a file of a few megabytes.
constexpr uint64_t WriteBackStep = uint64_t(2) << 20;
// Blocks written past the page cache: their size, address and offset a multiple of this
// (a page, which every file system that takes direct I/O accepts).
constexpr size_t UncachedBlock = 4096;
constexpr int MaxLinks = 40;  // as the kernel's own limit on a chain of links

[[noreturn]] void fail(int err) { throw rt::InOutError(rt::ioCodeFromErrno(err)); }

// The temporary files being made, for the signal handler to remove: fixed slots, each
// taken and given back with a lock-free flag, read without locks or allocation. A slot's
// path is the very pattern mkostemp fills in, so that it names the file as soon as the
// file is there.
constexpr size_t TemporarySlots = 256;
constexpr size_t TemporaryPathRoom = 4096;
struct TemporarySlot {
    std::atomic<int> state{0};  // 0 free, 1 taken, 2 its path names the file (made or being made)
    char path[TemporaryPathRoom];
};
TemporarySlot temporaryFiles[TemporarySlots];
std::atomic<int> makingTemporaries{0};  // threads in makeTemporary
std::atomic<bool> stopping{false};      // the signal handler has begun
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler reads these");

void releaseTemporary(int& slot)
{
    if (slot >= 0)
        temporaryFiles[size_t(slot)].state.store(0, std::memory_order_release);
    slot = -1;
}

// Makes a temporary file from pattern (ending in XXXXXX, filled in with its name) and
// holds it in a slot for the signal handler (slot -1 where none is free or the path is
// too long: that file stays on a signal). The descriptor, or -1 with errno set.
int makeTemporary(std::string& pattern, int& slot)
{
    makingTemporaries.fetch_add(1);
    if (stopping.load()) {
        // The program is being stopped: no file is made now, the signal ends it at once.
        makingTemporaries.fetch_sub(1);
        for (;;)
            ::pause();
    }
    slot = -1;
    for (size_t i = 0; i < TemporarySlots && slot < 0 && pattern.size() < TemporaryPathRoom; ++i) {
        int free = 0;
        if (temporaryFiles[i].state.compare_exchange_strong(free, 1, std::memory_order_acquire))
            slot = int(i);
    }
    int fd = -1;
    int err = 0;
    if (slot >= 0) {
        TemporarySlot& held = temporaryFiles[size_t(slot)];
        std::memcpy(held.path, pattern.c_str(), pattern.size() + 1);
        held.state.store(2, std::memory_order_release);
        fd = ::mkostemp(held.path, O_CLOEXEC);
        err = errno;
        if (fd >= 0)
            pattern = held.path;
        else
            releaseTemporary(slot);
    } else {
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        err = errno;
    }
    makingTemporaries.fetch_sub(1);
    errno = err;
    return fd;
}

// Removes every temporary file held, then ends the program as the signal would have.
// Only async-signal-safe calls.
extern "C" void removeTemporariesAndStop(int signal)
{
    stopping.store(true);
    // A file being made on another thread is held in a few microseconds; the wait is
    // bounded, should this thread be the one that was making it.
    for (int i = 0; i < 2000 && makingTemporaries.load() > 0; ++i) {
        const timespec pause{0, 50'000};
        ::nanosleep(&pause, nullptr);
    }
    for (TemporarySlot& slot : temporaryFiles)
        if (slot.state.load(std::memory_order_acquire) == 2)
            ::unlink(slot.path);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

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

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// path with every symbolic link at its end followed, as far as the links go (the last
// one may name a file not yet made). ELOOP for a chain too long.
std::string followLinks(std::string path)
{
    for (int i = 0; i < MaxLinks; ++i) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(size_t(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return path;
        target.resize(size_t(length));
        path = !target.empty() && target.front() == '/' ? target : folderOf(path) + target;
    }
    throw rt::InOutError(rt::io::InvalidFilename);
}

// The open descriptor of this process that a name stands for by its number (/dev/stdout,
// /dev/fd/3, /proc/self/fd/1, or a link to one of those), -1 for any other name.
int descriptorNamed(std::string path)
{
    const std::string ownDescriptors = "/proc/" + std::to_string(::getpid()) + "/fd";
    for (int i = 0; i < MaxLinks; ++i) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return -1;
        const std::string folder = folderOf(path);
        const std::string leaf = path.substr(folder.size());
        if (char* real = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr)) {
            const bool descriptors = ownDescriptors == real;
            std::free(real);
            if (descriptors && !leaf.empty() && leaf.size() < 10 &&
                leaf.find_first_not_of("0123456789") == std::string::npos)
                return std::atoi(leaf.c_str());
        }
        std::string target(size_t(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return -1;
        target.resize(size_t(length));
        path = !target.empty() && target.front() == '/' ? target : folder + target;
    }
    return -1;
}

// Runs work(0), ..., work(count - 1) at once, each on a thread of its own (at most 16
// at a time; those a thread cannot be had for, here), and returns when all are done.
// work does not throw.
void atOnce(size_t count, const std::function<void(size_t)>& work)
{
    constexpr size_t MaxThreads = 16;
    if (count < 2) {
        for (size_t k = 0; k < count; ++k)
            work(k);
        return;
    }
    for (size_t first = 0; first < count; first += MaxThreads) {
        std::vector<std::thread> threads;
        for (size_t k = first; k < std::min(count, first + MaxThreads); ++k) {
            try {
                threads.emplace_back(work, k);
            } catch (const std::system_error&) {
                work(k);
            }
        }
        for (std::thread& t : threads)
            t.join();
    }
}

// Puts backup (made by link or rename before the group's renames) back over path, or
// removes path where nothing stood there before. Best effort: this runs on a failure.
void restore(const std::string& path, const std::string& backup)
{
    if (backup.empty())
        ::unlink(path.c_str());
    else
        ::rename(backup.c_str(), path.c_str());
}
}  // namespace

void removeTemporaryFilesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        // A signal the program was started to ignore (nohup, a background job) stays so.
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

void dropCachedPages(const std::string& path)
{
#ifdef POSIX_FADV_DONTNEED
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    // Non-blocking, and checked again once open: the name may have changed in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
#else
    (void)path;
#endif
}

std::string outputTarget(const std::string& path) { return followLinks(path); }

void giveOutputPermissions(int fd, const struct stat* replaced)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, replaced ? replaced->st_mode & 07777 : 0666 & ~mask);
}

bool sameFile(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    struct stat ia {}, ib {};
    return ::stat(a.c_str(), &ia) == 0 && ::stat(b.c_str(), &ib) == 0 && ia.st_dev == ib.st_dev &&
           ia.st_ino == ib.st_ino;
}

OutputFile::OutputFile(std::string finalPath) : finalPath_(std::move(finalPath)), buffer_(new char[BufferSize])
{
    if (finalPath_ == "-") {
        fd_ = STDOUT_FILENO;
        direct_ = true;
        ownsFd_ = false;
        return;
    }
    if (finalPath_.empty() || finalPath_.back() == '/')
        throw rt::InOutError(rt::io::InvalidFilename);
    struct stat info {};
    if (::stat(finalPath_.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        // A device or a pipe takes the bytes as they come (the kernel resolves any link,
        // /dev/stdout included); it is neither truncated nor replaced.
        fd_ = ::open(finalPath_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, finalPath_));
        direct_ = true;
        return;
    }
    // A name of an open descriptor of this process (/dev/stdout with the standard output sent
    // to a file, perhaps to be appended to) is written through that descriptor, in order, as
    // "-" is: a file put in place of the one it leads to would drop what that one held.
    if (const int named = descriptorNamed(finalPath_); named >= 0 && ::fcntl(named, F_GETFD) != -1) {
        fd_ = named;
        direct_ = true;
        ownsFd_ = false;
        return;
    }
    targetPath_ = followLinks(finalPath_);
    // A folder cannot be replaced by a file: the rename at the end would move it aside.
    const bool replaces = ::stat(targetPath_.c_str(), &info) == 0;
    if (replaces && S_ISDIR(info.st_mode))
        throw rt::InOutError(rt::ioCodeFromErrno(EISDIR));
    tempPath_ = folderOf(targetPath_) + ".snd-XXXXXX";
    fd_ = makeTemporary(tempPath_, temporarySlot_);
    if (fd_ < 0)  // a missing folder is a name that cannot be, not a missing file
        throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, targetPath_));
    giveOutputPermissions(fd_, replaces ? &info : nullptr);
}

OutputFile::~OutputFile()
{
    closeUncached();
    if (fd_ >= 0 && ownsFd_)
        ::close(fd_);
    if (!direct_ && !tempPath_.empty())
        ::unlink(tempPath_.c_str());
    releaseTemporary(temporarySlot_);
}

void OutputFile::FreeAligned::operator()(char* p) const { std::free(p); }

void OutputFile::bypassCache()
{
#ifdef O_DIRECT
    if (direct_ || aligned_)
        return;
    flush();
    char* block = static_cast<char*>(std::aligned_alloc(UncachedBlock, BufferSize));
    if (!block)
        return;
    aligned_.reset(block);
    // Up to the next whole block the usual way (a header before the bytes, say).
    leadIn_ = (UncachedBlock - written_ % UncachedBlock) % UncachedBlock;
    if (leadIn_ == 0)
        startUncached();
#endif
}

void OutputFile::startUncached()
{
#ifdef O_DIRECT
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_DIRECT) != 0)
        aligned_.reset();
#endif
}

// The first length bytes of the aligned buffer (a multiple of UncachedBlock) to the
// disk, past the cache; where the file system refuses that after all, the usual way.
void OutputFile::writeUncached(size_t length)
{
    if (writeAll(fd_, aligned_.get(), length)) {
        written_ += length;
        writeBackFrom_ = written_;  // nothing of it waits in the cache
        wroteUncached_ = true;
        used_ -= length;
        std::memmove(aligned_.get(), aligned_.get() + length, used_);
        return;
    }
    if (errno != EINVAL || wroteUncached_)
        fail(errno);
    leaveBypass();  // the flag taken but not the writes: every byte the usual way
}

// Back to the page cache: the whole blocks gathered go past it, the rest the usual way.
void OutputFile::endBypass()
{
    if (!aligned_)
        return;
    const size_t whole = used_ / UncachedBlock * UncachedBlock;
    if (whole > 0)
        writeUncached(whole);
    leaveBypass();
}

// The bytes gathered and not yet written, written the usual way from here on.
void OutputFile::leaveBypass()
{
    if (!aligned_)
        return;
    const std::unique_ptr<char, FreeAligned> rest = std::move(aligned_);
    leadIn_ = 0;
#ifdef O_DIRECT
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) != 0)
        fail(errno);
#endif
    const size_t left = used_;
    used_ = 0;
    if (left > 0 && !writeAll(fd_, rest.get(), left))
        fail(errno);
    written_ += left;
}

void OutputFile::write(const char* data, size_t length)
{
    if (aligned_ && leadIn_ > 0) {
        const size_t n = std::min(length, leadIn_);
        if (!writeAll(fd_, data, n))
            fail(errno);
        written_ += n;
        leadIn_ -= n;
        data += n;
        length -= n;
        if (leadIn_ == 0)
            startUncached();
    }
    if (aligned_) {
        while (length > 0) {
            const size_t n = std::min(length, BufferSize - used_);
            std::memcpy(aligned_.get() + used_, data, n);
            used_ += n;
            data += n;
            length -= n;
            if (used_ == BufferSize)
                writeUncached(BufferSize);
            if (!aligned_ && length > 0)  // refused: the rest the usual way
                return write(data, length);
        }
        return;
    }
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
    if (aligned_) {
        endBypass();
        startWriteBack();
        return;
    }
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
    if (!direct_ && written_ - writeBackFrom_ >= WriteBackStep) {
        ::sync_file_range(fd_, off_t(writeBackFrom_), off_t(written_ - writeBackFrom_), SYNC_FILE_RANGE_WRITE);
        writeBackFrom_ = written_;
    }
#endif
}

void OutputFile::overwrite(uint64_t offset, std::string_view text)
{
    if (direct_)
        fail(ESPIPE);
    flush();
    if (::pwrite(fd_, text.data(), text.size(), off_t(offset)) != ssize_t(text.size()))
        fail(errno ? errno : EIO);
}

void OutputFile::writeAt(uint64_t offset, const char* data, size_t length)
{
    if (direct_)
        fail(ESPIPE);
    flush();
    while (length > 0) {
        const ssize_t done = ::pwrite(fd_, data, length, off_t(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            fail(done < 0 ? errno : EIO);
        data += done;
        length -= size_t(done);
        offset += uint64_t(done);
        placedSinceWriteBack_ += uint64_t(done);
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // As startWriteBack, over the whole file: the bytes lie anywhere in it.
    if (placedSinceWriteBack_ >= WriteBackStep) {
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
        placedSinceWriteBack_ = 0;
    }
#endif
}

bool OutputFile::writeAtUncached(uint64_t offset, const char* data, size_t length)
{
#ifdef O_DIRECT
    if (direct_)
        fail(ESPIPE);
    if (uncachedFd_ == -1 && !tempPath_.empty()) {
        uncachedFd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CLOEXEC | O_DIRECT);
        if (uncachedFd_ < 0)
            uncachedFd_ = -2;
    }
    bool wrote = false;
    while (uncachedFd_ >= 0 && length > 0) {
        const ssize_t done = ::pwrite(uncachedFd_, data, length, off_t(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0 && errno == EINVAL && !wroteUncached_ && !wrote) {
            closeUncached();  // the flag taken but not the writes
            uncachedFd_ = -2;
            return false;
        }
        if (done <= 0)
            fail(done < 0 ? errno : EIO);
        wrote = true;
        data += done;
        length -= size_t(done);
        offset += uint64_t(done);
    }
    if (wrote)
        wroteUncached_ = true;
    return uncachedFd_ >= 0;
#else
    (void)offset, (void)data, (void)length;
    return false;
#endif
}

void OutputFile::closeUncached()
{
    if (uncachedFd_ >= 0)
        ::close(uncachedFd_);
    uncachedFd_ = -1;
}

void OutputFile::readAt(uint64_t offset, char* data, size_t length)
{
    if (direct_)
        fail(ESPIPE);
    flush();
    while (length > 0) {
        const ssize_t got = ::pread(fd_, data, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            fail(got < 0 ? errno : EIO);  // nothing written there
        data += got;
        length -= size_t(got);
        offset += uint64_t(got);
    }
}

void OutputFile::resize(uint64_t size)
{
    if (direct_)
        fail(ESPIPE);
    flush();
    if (::ftruncate(fd_, off_t(size)) != 0 || ::lseek(fd_, off_t(size), SEEK_SET) < 0)
        fail(errno);
    written_ = size;
    writeBackFrom_ = std::min(writeBackFrom_, size);
}

void OutputFile::sync()
{
    if (direct_)
        return;
    flush();
    if (::fsync(fd_) != 0 && errno != EINVAL)
        fail(errno);
}

void OutputFile::finishTemporary()
{
    flush();
    closeUncached();
    if (::fsync(fd_) != 0 && errno != EINVAL)
        fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        fail(errno);
}

void OutputFile::commit()
{
    if (fd_ < 0)
        fail(EBADF);
    if (direct_) {
        flush();
        if (ownsFd_) {
            const int fd = fd_;
            fd_ = -1;
            if (::close(fd) != 0 && errno != EINTR)
                fail(errno);
        }
        return;
    }
    finishTemporary();
    if (::rename(tempPath_.c_str(), targetPath_.c_str()) != 0)
        fail(errno);
    tempPath_.clear();
    releaseTemporary(temporarySlot_);
}

void OutputFile::commitTogether(const std::vector<OutputFile*>& outputs, std::string* failedPath)
{
    OutputFile* current = nullptr;
    const auto failWith = [&](int err) {
        if (failedPath && current)
            *failedPath = current->path();
        fail(err);
    };
    // Every file made whole first: a failure here leaves every final name as it was. The
    // files are synced at once, each on a thread of its own, so that the file system
    // writes them together rather than one after another.
    for (OutputFile* out : outputs) {
        current = out;
        if (out->fd_ < 0)
            failWith(EBADF);
    }
    std::vector<std::exception_ptr> failures(outputs.size());
    const auto finish = [&](size_t i) {
        try {
            if (outputs[i]->direct_)
                outputs[i]->flush();
            else
                outputs[i]->finishTemporary();
        } catch (...) {
            failures[i] = std::current_exception();
        }
    };
    // Streams first, in order, on this thread; then the files at once.
    std::vector<size_t> files;
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i]->direct_)
            finish(i);
        else
            files.push_back(i);
    }
    atOnce(files.size(), [&](size_t k) { finish(files[k]); });
    for (size_t i = 0; i < outputs.size(); ++i)
        if (failures[i]) {
            current = outputs[i];
            if (failedPath)
                *failedPath = current->path();
            std::rethrow_exception(failures[i]);
        }
    // The files that stand under the final names now are kept under a second name
    // until all the new ones are in place.
    struct Step {
        OutputFile* out;
        std::string backup;  // empty: nothing stood there
        bool movedAway = false;  // the old file was renamed to backup (no hard links here)
        bool renamed = false;
    };
    std::vector<Step> steps;
    const auto undo = [&] {
        for (Step& s : steps) {
            if (s.renamed || s.movedAway)
                restore(s.out->targetPath_, s.backup);
            else if (!s.backup.empty())
                ::unlink(s.backup.c_str());
        }
    };
    for (OutputFile* out : outputs) {
        if (out->direct_)
            continue;
        current = out;
        Step step{out, {}};
        struct stat info {};
        if (::lstat(out->targetPath_.c_str(), &info) == 0) {
            // A folder made under the name since the output was begun stays where it is.
            if (S_ISDIR(info.st_mode)) {
                undo();
                failWith(EISDIR);
            }
            // A hard link keeps the old file under its name until the rename replaces it.
            std::string backup = folderOf(out->targetPath_) + ".snd-XXXXXX";
            const int fd = ::mkostemp(backup.data(), O_CLOEXEC);
            if (fd < 0) {
                const int err = errno;
                undo();
                failWith(err);
            }
            ::close(fd);
            step.backup = backup;
            if (::unlink(backup.c_str()) != 0 || ::link(out->targetPath_.c_str(), backup.c_str()) != 0) {
                // A file system without hard links: the old file moves to the second name.
                if (::rename(out->targetPath_.c_str(), backup.c_str()) != 0) {
                    const int err = errno;
                    ::unlink(backup.c_str());
                    undo();
                    failWith(err);
                }
                step.movedAway = true;
            }
        }
        steps.push_back(step);
    }
    for (Step& s : steps) {
        current = s.out;
        if (::rename(s.out->tempPath_.c_str(), s.out->targetPath_.c_str()) != 0) {
            const int err = errno;
            undo();
            failWith(err);
        }
        s.renamed = true;
        s.out->tempPath_.clear();
        releaseTemporary(s.out->temporarySlot_);
    }
    // The old files go at once too: removing one drops all it held in memory.
    atOnce(steps.size(), [&](size_t k) {
        if (!steps[k].backup.empty())
            ::unlink(steps[k].backup.c_str());
    });
    for (OutputFile* out : outputs)
        if (out->direct_ && out->ownsFd_ && out->fd_ >= 0) {
            ::close(out->fd_);
            out->fd_ = -1;
        }
}
