#pragma once
// Text files with I/O result codes, as both programs use them.
//
// Reading: every operation records its failure as a pending I/O result code;
// check() throws rt::InOutError for a pending code (and clears it). A failed
// conversion records 106 and is reported at the next check, after the rest of the
// line has been skipped. Reading goes through a large buffer.
//
// Writing: lines are built in a large buffer; a failure (disk full, ...) is
// recorded and thrown by the check after the line.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace rt {

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
    bool isOpen() const;
    // Closes; throws InOutError(103) when not open.
    void close();

    // One item: bytes <= 0x20 are skipped; at the end of the text (physical end
    // or Ctrl-Z) the item reads 0 without error. The token is at most 32 (integer)
    // or 64 (real) bytes. A token that does not convert records 106 and yields 0.
    // On a file that is not open, 104 is recorded.
    int32_t readInt();
    double readReal();
    // Skips the rest of the line: up to and including the next CR, and one LF
    // directly after it.
    void readLn();
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

    // Creates (or truncates) the file; throws InOutError on failure.
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

private:
    void flushBuffer();
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    int pending_ = 0;
};

}  // namespace rt
