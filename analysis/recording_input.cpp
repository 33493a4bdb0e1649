#include "recording_input.h"

#include "runtime_error.h"
#include "text_io.h"

namespace cli {

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

void RecordingInput::open()
{
    try {
        reader_.open(path_);
    } catch (const rt::InOutError& e) {
        failIo(path_, e.code());
    } catch (const acq::FormatError& e) {
        throw Failure(path_ + ": " + e.what() + " (not a recording in the acquisition layout)");
    }
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

void noteCutShort(const std::string& path, int64_t present, int64_t declared, int64_t missing, int64_t partialLines)
{
    note(path + ": cut short: " + std::to_string(present) + " of " + std::to_string(declared) + " sweeps present" +
         (missing > 0 ? ", " + std::to_string(missing) + " missing" : std::string()) +
         (partialLines > 0 ? " (" + std::to_string(partialLines) + " lines of an incomplete sweep left out)"
                           : std::string()));
}

acq::SweepCount reportSweeps(const RecordingInput& input, int64_t sampleLines)
{
    const acq::SweepCount count = acq::countSweeps(input.header(), sampleLines);
    if (count.missing > 0)
        noteCutShort(input.path(), count.whole, input.header().numSweeps, count.missing, count.partialLines);
    if (count.whole == 0)
        throw Failure(input.path() + ": holds no whole sweep to convert");
    return count;
}

}  // namespace cli
