#pragma once
// The input recording of a subcommand: the strict reader with its faults turned into
// the one stderr line that names the file ("FILE: line 7: expected ...").

#include "acquisition_reader.h"
#include "cli_support.h"

#include <optional>
#include <string>

namespace rt {
class TextReader;
}

namespace cli {

class RecordingInput {
public:
    explicit RecordingInput(std::string path) : path_(std::move(path)) {}
    ~RecordingInput();
    // Opens and reads the header; throws Failure.
    void open();
    // Opens file on the same input for the viewer layout's reader, once open() has
    // found no acquisition header: the file again, or for a pipe the bytes already
    // taken from it, then the rest. Throws rt::InOutError.
    void openText(rt::TextReader& file);
    // Lines of three codes, as AcquisitionReader::readLines; throws Failure.
    size_t readLines(uint16_t* codes, size_t maxLines);
    // Up to one sweep (the header's samples per sweep) of lines into codes; returns the
    // lines read, fewer than a sweep only where the text has ended. Throws Failure.
    size_t readSweep(uint16_t* codes);
    acq::AcquisitionReader& reader() { return reader_; }
    const acq::AcquisitionReader& reader() const { return reader_; }
    const acq::RecordingHeader& header() const { return reader_.header(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    acq::AcquisitionReader reader_;
    // A pipe whose first bytes have been read to tell its layout, kept for openText.
    int pipe_ = -1;
    std::string pipeHead_;
};

// The header of a file in the viewer layout, read by the viewer's own rules: five
// items (nsweeps, nsamples, an integer, the gain, a real), each followed by the rest of
// its line, and at least one sample after them. Absent when the file is not in that
// layout (or nsamples is outside 1..4000).
struct ViewerHeader {
    int32_t nsweeps = 0;
    int32_t nsamples = 0;
    int32_t gain = 0;
};
std::optional<ViewerHeader> readViewerHeader(rt::TextReader& file);

// "PATH: <text of the I/O result code>".
[[noreturn]] void failIo(const std::string& path, int code);

// The note on a file that holds fewer whole sweeps than its header declares:
// "PATH: cut short: P of D sweeps present", then, where the layout tells them (the
// acquisition layout), ", M missing" and " (L lines of an incomplete sweep left out)",
// naming also a last line the file ends inside of.
void noteCutShort(const std::string& path, int64_t present, int64_t declared, int64_t missing = 0,
                  int64_t partialLines = 0, uint64_t cutLineBytes = 0);

// States a cut-short recording on stderr; throws Failure when it holds no whole sweep.
acq::SweepCount reportSweeps(const RecordingInput& input, int64_t sampleLines);

}  // namespace cli
