#pragma once
// Text files with I/O result codes, as both programs use them.
//
// Reading: every operation records its failure as a pending I/O result code;
// check() throws rt::InOutError for a pending code (and clears it). A failed
// conversion records 106 and is reported at the next check, after the rest of the
// line has been skipped. Reading goes through a large buffer.
//
// Writing: lines are built in a large buffer; a failure (disk full, ...) is
// recorded and thrown by the check after the line. Only whole lines are handed to
// the file, and after a failure nothing more is written (a file with a gap would
// be worse than a short one): every later line records the failure again. Writing
// to a writer that is not open records 105.
//
// Choices where the reading rules leave room:
// - A run of more than 32 (integer) or 64 (real) bytes > 0x20 is not cut into two
//   numbers: the whole run is consumed and the item fails with 106. Cutting it
//   would silently read "1.000...0e5" as 1.0.
// - Hexadecimal integers ("$1F", "x1f", "0X1F", optionally signed) must fit the
//   signed 32-bit range like decimal ones: "$FFFFFFFF" fails with 106 instead of
//   wrapping to -1.
// - Reals: optional sign, digits, optional "." and digits (at least one digit in
//   all, so "1." and ".5" are accepted), optional exponent "E"/"e" with optional
//   sign and at least one digit. No "inf", "nan" or hexadecimal reals. A value too
//   large for a double fails with 106; one too small reads as 0. Conversion is
//   correctly rounded.
// - A read error of the file ends the text there and records its code.

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

// A file as the system tells one from another, whatever its name (device and inode),
// and the state of its contents (size and time of the last change): two FileIds of
// one file differ once it has been written.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileId&) const = default;
};

// The file that path names now (through links); nullopt when it names none.
std::optional<FileId> fileIdOf(const std::string& path);

class TextReader {
public:
    TextReader();
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // Opens for reading; throws InOutError (2, 3, 4, 5, ...) on failure.
    void open(const std::string& path);
    // Reads the text from memory instead of a file (tests, fuzzing).
    void openMemory(std::string_view text);
    // Reads the file open as fd (which the reader takes over) whose first bytes, head,
    // have been read from it already (a pipe, whose bytes cannot be read twice): head
    // first, then the rest of the file.
    void openAfter(int fd, std::string_view head);
    bool isOpen() const;
    // True once the text has ended (physical end, Ctrl-Z or a read error): every
    // further item reads as 0 without error, so a caller may stop reading a run of
    // items that can only be zeros. The end is noticed by the read that meets it
    // (the last line having been read is not enough), and a read error is already
    // pending by then. False when not open.
    bool atEnd() const;
    // Skips the blanks before the next item; false when the text ends first, which is
    // then noticed here as by a read (atEnd() true, a read error pending), so that a
    // caller can tell whether one more item stands in the text before reading it.
    bool itemAhead();
    // Closes; throws InOutError(103) when not open.
    void close();
    // The file open for reading as it stands now, which its name may no longer lead
    // to (replaced or removed since); nullopt for a text in memory or when not open.
    std::optional<FileId> fileId() const;

    // One item: bytes <= 0x20 are skipped; at the end of the text (physical end
    // or Ctrl-Z) the item reads 0 without error. The token is at most 32 (integer)
    // or 64 (real) bytes. A token that does not convert records 106 and yields 0.
    // On a file that is not open, 104 is recorded.
    int32_t readInt();
    double readReal();
    // Skips the rest of the line: up to and including the next CR, and one LF
    // directly after it.
    void readLn();
    // readLn() for text whose lines may also end with LF alone: up to and including
    // the next CR or LF, and one LF directly after a CR.
    void readLnAnyLineEnd();
    // readReal() then readLn(), in one call: what a line holding one real takes.
    double readRealLine();
    // Lines of one real in the usual form ("[+-]digits[.digits]", at most 19 digits,
    // then CR and optionally one LF), as many as follow up to count, each read into
    // values as readRealLine() would read it. Stops before any other line, and where
    // the buffer needs more bytes, for readRealLine() to take; returns how many it
    // read. Such lines record no code and never meet the end of the text; nothing is
    // read while a code is pending.
    size_t readRealLines(double* values, size_t count);
    // Throws InOutError for a pending result code and clears it.
    void check();
    // Pending result code, 0 when none.
    int pending() const { return pending_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int pending_ = 0;
};

class TextWriter {
public:
    TextWriter();
    ~TextWriter();
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    // Creates (or truncates) the file; throws InOutError on failure. A FIFO with no
    // reader (or a socket) is refused at once with "File access denied".
    void create(const std::string& path);
    bool isOpen() const;
    // Integers in their shortest decimal form.
    void writeInt(int64_t value);
    void writeChar(char c);
    void writeText(std::string_view text);
    // Ends the line with CR LF.
    void writeLn();
    // Throws InOutError for a recorded failure (and clears it).
    void check();
    // Writes out what is buffered and closes; throws InOutError on failure.
    // After a failed close the file is closed all the same.
    void close();

    // Called with every run of bytes as it reaches the file, in order, so that a
    // digest of the file as written needs no second read. Kept across create().
    void setByteSink(std::function<void(const char*, size_t)> sink) { sink_ = std::move(sink); }
    // Bytes that have reached the file since create().
    uint64_t bytesWritten() const { return written_; }

private:
    void append(const char* text, size_t length);
    bool makeRoom(size_t length);
    void flushLines();
    bool writeOut(const char* data, size_t length);
    void fail(int code);
    void setWritable(bool writable);
    void writeIntSlow(int64_t value);
    void writeLnSlow();
    [[noreturn]] void throwPending();

    int fd_ = -1;
    bool pipe_ = false;      // a FIFO or socket: a reader that goes away fails the write
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    size_t lineEnd_ = 0;     // buffer bytes up to the last line end
    uint64_t written_ = 0;   // bytes that have reached the file
    int pending_ = 0;
    int failed_ = 0;         // code of a write failure; nothing more is written after it
    // The inline paths below fill the buffer up to these; both are 0 while nothing
    // may be written (not open, failed), which sends every write to the slow path.
    size_t limit_ = 0;
    size_t flushAt_ = 0;
    std::function<void(const char*, size_t)> sink_;
};

// A recording run writes millions of short lines: the common cases are inline.

// "0".."9999", left-aligned in 4 bytes.
extern const std::array<std::array<char, 4>, 10000> SmallDecimals;

inline void TextWriter::writeInt(int64_t value)
{
    if (uint64_t(value) < 10000 && used_ + 4 <= limit_) {
        std::memcpy(buffer_.get() + used_, SmallDecimals[size_t(value)].data(), 4);
        used_ += 1 + size_t(value >= 10) + size_t(value >= 100) + size_t(value >= 1000);
        return;
    }
    writeIntSlow(value);
}

inline void TextWriter::writeChar(char c)
{
    if (used_ < limit_)
        buffer_[used_++] = c;
    else
        append(&c, 1);
}

inline void TextWriter::writeText(std::string_view text)
{
    const size_t n = text.size();
    if (used_ + n <= limit_) {
        char* out = buffer_.get() + used_;
        const char* in = text.data();
        // Short texts as two overlapping fixed-size copies: no call to memcpy.
        if (n >= 8 && n <= 16) {
            std::memcpy(out, in, 8);
            std::memcpy(out + n - 8, in + n - 8, 8);
        } else if (n >= 4 && n < 8) {
            std::memcpy(out, in, 4);
            std::memcpy(out + n - 4, in + n - 4, 4);
        } else {
            std::memcpy(out, in, n);
        }
        used_ += n;
        return;
    }
    append(text.data(), text.size());
}

inline void TextWriter::writeLn()
{
    if (used_ + 2 <= flushAt_) {
        std::memcpy(buffer_.get() + used_, "\r\n", 2);
        used_ += 2;
        lineEnd_ = used_;
        return;
    }
    writeLnSlow();
}

inline void TextWriter::check()
{
    if (pending_ != 0)
        throwPending();
}

}  // namespace rt
