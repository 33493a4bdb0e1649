#pragma once
// Strict reader of the acquisition layout, the one "Acquire" writes: exactly four
// header lines ("NumSweeps,SweepSamples", "Attenuation", "Gain1,Gain2,Gain3", "0.0"),
// then one line "c1,c2,c3" of unsigned 16-bit codes per scan group. Every line ends
// with CR LF; numbers are in their shortest decimal form, as the writer makes them.
// Anything else is a fault naming its 1-based line number and what was expected.
// Reading goes through a buffer filled by read(2), like the viewer-layout reader.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>

namespace acq {

struct RecordingHeader {
    int32_t numSweeps = 0;
    int32_t sweepSamples = 0;
    int32_t attenuation = 0;
    int32_t gains[3] = {0, 0, 0};

    int clockDivider() const { return sweepSamples == 5000 ? 2 : 4; }
};

// Content that does not fit the layout: line is 1-based; expected says what should
// have been there ("three codes 0..65535 joined by \",\"", ...).
class FormatError : public std::runtime_error {
public:
    FormatError(int64_t line, std::string expected);
    int64_t line() const noexcept { return line_; }
    const std::string& expected() const noexcept { return expected_; }

private:
    int64_t line_;
    std::string expected_;
};

class AcquisitionReader {
public:
    AcquisitionReader();
    ~AcquisitionReader();
    AcquisitionReader(const AcquisitionReader&) = delete;
    AcquisitionReader& operator=(const AcquisitionReader&) = delete;

    // Opens a file (throws rt::InOutError) or a text in memory, and reads the header
    // (throws FormatError).
    void open(const std::string& path);
    void openMemory(std::string_view text);
    // Opens the file open as fd (which the reader takes over, closing it even when the
    // header fails) whose first bytes, head (at most 64 KiB), have been read from it
    // already: a pipe, whose bytes cannot be read twice. head is read first, then the rest.
    void openAfter(int fd, std::string_view head);

    const RecordingHeader& header() const { return header_; }

    // Reads up to maxLines sample lines, three codes each, into codes (channels 1, 2, 3
    // of each line in turn). Returns the number of lines read; 0 once the text has
    // ended. Throws FormatError for a malformed line (codes holds the lines before it
    // are not reported) and rt::InOutError for a failed read. A sample line beyond the
    // sweeps the header promised is a fault too. A file that ends inside a line (the
    // start of a line of codes, without its CR LF) ends before that line.
    size_t readLines(uint16_t* codes, size_t maxLines);

    // Sample lines read so far, and the 1-based number of the next line.
    int64_t linesRead() const { return linesRead_; }
    int64_t nextLineNumber() const { return 5 + linesRead_; }
    // Bytes taken from the file so far, and its size (0 for a text in memory of size 0).
    uint64_t bytesRead() const;
    uint64_t totalBytes() const;
    // Where a byte 0x1A ended the readable text: its offset in the file, and how many
    // bytes of the file stand after it unread (0 when it is the last byte). Absent
    // while no such byte has been met.
    std::optional<uint64_t> endOfTextOffset() const;
    uint64_t bytesAfterEndOfText() const;
    // The bytes of a last line the file ends inside of, left out; 0 when it ends at a line end.
    uint64_t cutLineBytes() const;

    // Called with every block of bytes as it is read, in order, the whole file once
    // (a digest computed while reading needs no second pass). Set before open.
    void setByteSink(std::function<void(const char*, size_t)> sink) { sink_ = std::move(sink); }

private:
    struct Impl;
    void readHeader();
    std::unique_ptr<Impl> impl_;
    RecordingHeader header_;
    int64_t linesRead_ = 0;
    int64_t linesPromised_ = 0;
    std::function<void(const char*, size_t)> sink_;
};

// How a file in this layout stands against its header.
struct SweepCount {
    int64_t whole = 0;          // whole sweeps present
    int64_t missing = 0;        // sweeps promised and not present (a partial one counts as missing)
    int64_t partialLines = 0;   // lines of an incomplete last sweep
};
SweepCount countSweeps(const RecordingHeader& header, int64_t sampleLines);

}  // namespace acq
