#pragma once
// Errors of the programs' small runtime layer. Routines never catch them; the one
// handler wrapper (handler_guard.h) shows their text and lets the program go on.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace rt {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text-file failure with its I/O result code (2 "File not found", 106 "Invalid numeric input", ...).
class InOutError : public Error {
public:
    explicit InOutError(int code);
    int code() const noexcept { return code_; }

private:
    int code_;
};

// A text that does not convert to an integer: "'%s' is not a valid integer value".
class ConvertError : public Error {
public:
    explicit ConvertError(const std::string& text);
};

// Unmasked floating-point faults: the logarithm of zero, a division by zero, 0/0.
class FloatError : public Error {
public:
    enum class Kind { DivisionByZero, InvalidOperation };
    explicit FloatError(Kind kind);
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

// I/O result codes used by the text files.
namespace io {
inline constexpr int FileNotFound = 2;
inline constexpr int InvalidFilename = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int NotOpenForOutput = 105;
inline constexpr int NotOpenForInput = 104;
inline constexpr int NotOpen = 103;
inline constexpr int InvalidNumericInput = 106;
}  // namespace io

// The message text of an I/O result code: "File not found", ..., "I/O error %d".
std::string ioErrorText(int code);

// The one mapping from system errors to I/O result codes, for every file
// operation (open, read, write, close) of all the programs:
//   ENOENT                                   2 "File not found"
//   ENOTDIR, ENAMETOOLONG, EISDIR, ELOOP     3 "Invalid filename"  (the path cannot name a file)
//   EMFILE, ENFILE                           4 "Too many open files"
//   EACCES, EPERM, EROFS, ETXTBSY            5 "File access denied" (EPERM: an immutable file)
//   ENOSPC, EDQUOT, EFBIG                  101 "Disk full"
//   any other errno e                IoErrorBase + e, shown as "I/O error N"
// The named codes are all below 1000, so an unnamed error (EIO 5, ENETDOWN 100, ...)
// can never show the text of a different cause. err <= 0 (no system error) maps to
// IoErrorBase itself.
inline constexpr int IoErrorBase = 1000;
int ioCodeFromErrno(int err);

// The mapping for a failed open or create of `path`, which also tells a missing
// file from a path that cannot name one: an empty name, a name ending in "/",
// ENOENT where the folder that would hold the file does not exist or is not a
// folder, and EINVAL (a name the file system does not accept) give 3 "Invalid
// filename"; everything else as ioCodeFromErrno.
int ioCodeFromOpenErrno(int err, const std::string& path);

// Whether the open file fd is read as a file: not a folder, nor a device (a device such
// as /dev/zero gives bytes for ever and would hold a reading for good); a pipe is. A
// reader refuses the others as a path that cannot name a file (EISDIR: "Invalid filename").
bool readsAsFile(int fd);

// Reads what is left of the open file fd into `text`, up to `limit` bytes: 0 when it was
// read whole, -1 when it holds more than `limit` bytes, else the I/O error code.
int readAllUpTo(int fd, size_t limit, std::string& text);

// Decimal text of an edit box or a menu target to a signed 32-bit integer: leading
// blanks, an optional sign, decimal digits; anything else (trailing blanks, an
// empty text, a value out of range) throws ConvertError naming the text.
int32_t strToInt(const std::string& text);

// Checked arithmetic: these raise FloatError where the hardware would trap.
double log10Checked(double x);          // x == 0: division by zero; x < 0 or NaN: invalid operation
double divideChecked(double a, double b);  // 0/0: invalid operation; a/0: division by zero

}  // namespace rt
