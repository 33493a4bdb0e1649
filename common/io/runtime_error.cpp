#include "runtime_error.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {
std::string floatText(FloatError::Kind kind)
{
    return kind == FloatError::Kind::DivisionByZero ? "Floating point division by zero"
                                                    : "Invalid floating point operation";
}
}  // namespace

InOutError::InOutError(int code) : Error(ioErrorText(code)), code_(code) {}

ConvertError::ConvertError(const std::string& text) : Error("'" + text + "' is not a valid integer value") {}

FloatError::FloatError(Kind kind) : Error(floatText(kind)), kind_(kind) {}

std::string ioErrorText(int code)
{
    switch (code) {
    case io::FileNotFound: return "File not found";
    case io::InvalidFilename: return "Invalid filename";
    case io::TooManyOpenFiles: return "Too many open files";
    case io::AccessDenied: return "File access denied";
    case io::ReadBeyondEnd: return "Read beyond end of file";
    case io::DiskFull: return "Disk full";
    case io::InvalidNumericInput: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
    }
}

int ioCodeFromErrno(int err)
{
    switch (err) {
    case ENOENT: return io::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EISDIR:
    case ELOOP: return io::InvalidFilename;
    case EMFILE:
    case ENFILE: return io::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return io::AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return io::DiskFull;
    default: return err > 0 ? IoErrorBase + err : IoErrorBase;
    }
}

namespace {
// True when the folder part of path exists and is a folder ("." for a bare name).
bool folderExists(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    if (folder.empty())
        folder = "/";
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
}  // namespace

bool readsAsFile(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) != 0 || !(S_ISDIR(info.st_mode) || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode));
}

int readAllUpTo(int fd, size_t limit, std::string& text)
{
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return ioCodeFromErrno(errno);
        if (got == 0)
            return 0;
        text.append(block, size_t(got));
        if (text.size() > limit)
            return -1;
    }
}

int ioCodeFromOpenErrno(int err, const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return io::InvalidFilename;
    if (err == EINVAL)
        return io::InvalidFilename;
    if (err == ENOENT && !folderExists(path))
        return io::InvalidFilename;
    return ioCodeFromErrno(err);
}

int32_t strToInt(const std::string& text)
{
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    if (first == last || *first < '0' || *first > '9')
        throw ConvertError(text);
    int64_t magnitude = 0;
    for (const char* p = first; p != last; ++p) {
        if (*p < '0' || *p > '9')
            throw ConvertError(text);
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > int64_t(INT32_MAX) + 1)
            throw ConvertError(text);
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX || value < INT32_MIN)
        throw ConvertError(text);
    return static_cast<int32_t>(value);
}

double log10Checked(double x)
{
    if (x == 0.0)
        throw FloatError(FloatError::Kind::DivisionByZero);
    if (!(x > 0.0))
        throw FloatError(FloatError::Kind::InvalidOperation);
    return std::log10(x);
}

double divideChecked(double a, double b)
{
    if (b == 0.0) {
        if (a == 0.0 || std::isnan(a))
            throw FloatError(FloatError::Kind::InvalidOperation);
        throw FloatError(FloatError::Kind::DivisionByZero);
    }
    return a / b;
}

}  // namespace rt
