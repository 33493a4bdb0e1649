#include "convert_viewer.h"

#include "adc_codes.h"
#include "block_pipeline.h"
#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <vector>

namespace cli {

namespace {

constexpr int ViewerMaxSamples = 4000;

// A line of text per 12-bit code, CR LF included, in a fixed slot of 16 bytes: the
// longest ("-4.99755859375\r\n") just fits, so a line is written with one 16-byte
// copy and the output moves on by its length. 5/2048 is exact in binary, so every
// code's volts is one exact double.
constexpr size_t VoltsSlot = 16;

struct VoltsLines {
    alignas(64) std::array<std::array<char, VoltsSlot>, 4096> text{};
    std::array<uint8_t, 4096> length{};
    VoltsLines()
    {
        for (int code = 0; code < 4096; ++code) {
            char* begin = text[size_t(code)].data();
            const double volts = codeToVolts(code);
            char* end = std::to_chars(begin, begin + VoltsSlot - 2, volts).ptr;
            *end++ = '\r';
            *end++ = '\n';
            length[size_t(code)] = uint8_t(end - begin);
        }
    }
};

const VoltsLines& voltsLines()
{
    static const VoltsLines lines;
    return lines;
}

}  // namespace

std::string_view voltsText(uint16_t code)
{
    if (code < 4096)
        return {voltsLines().text[code].data(), size_t(voltsLines().length[code] - 2)};
    // Codes above the 12-bit scale are kept as they are, beyond +5 V.
    thread_local char wide[24];
    const double volts = codeToVolts(code);
    return {wide, size_t(std::to_chars(wide, wide + 24, volts).ptr - wide)};
}

namespace {

// The volts lines of count samples, every third code from codes, into text; returns
// the bytes written.
size_t voltsLinesOf(const uint16_t* codes, int count, char* text)
{
    char* p = text;
    const VoltsLines& lines = voltsLines();
    for (int i = 0; i < count; ++i) {
        const uint16_t code = codes[3 * size_t(i)];
        if (code < 4096) {
            std::memcpy(p, lines.text[code].data(), VoltsSlot);
            p += lines.length[code];
            continue;
        }
        const std::string_view volts = voltsText(code);
        std::memcpy(p, volts.data(), volts.size());
        p += volts.size();
        *p++ = '\r';
        *p++ = '\n';
    }
    return size_t(p - text);
}

}  // namespace

void convertToViewer(const std::string& inputPath, int channel, const std::string& outPath)
{
    RecordingInput input(inputPath);
    input.open();
    const acq::RecordingHeader& header = input.header();
    const int nsamples = std::min(header.sweepSamples, ViewerMaxSamples);
    if (header.sweepSamples > ViewerMaxSamples)
        note(inputPath + ": at clock divider " + std::to_string(header.clockDivider()) + " a sweep has " +
             std::to_string(header.sweepSamples) + " samples; the viewer holds " + std::to_string(ViewerMaxSamples) +
             ", so the last " + std::to_string(header.sweepSamples - ViewerMaxSamples) +
             " samples of each sweep are left out");

    try {
        ReplacedOutputs replaced({outPath});
        OutputFile out(outPath);
        // The sweep count is known at the end: line 1 is written as wide as the promised
        // count and rewritten then, padded with blanks (the viewer reads its first token).
        const std::string promised = std::to_string(header.numSweeps);
        out.write(promised + "\r\n" + std::to_string(nsamples) + "\r\n" + std::to_string(header.attenuation) +
                  "\r\n" + std::to_string(header.gains[channel - 1]) + "\r\n0.0\r\n");
        // The lines go to the disk past the page cache: the viewer reads a few sweeps at a time.
        out.bypassCache();

        // The codes are read on this thread into blocks of whole sweeps; the second thread
        // turns each sweep into text and writes it while the next sweeps are read.
        const size_t sweepBytes = 3 * sizeof(uint16_t) * size_t(header.sweepSamples);
        // A line takes at most 26 bytes (a code above the 12-bit scale), and a 16-byte copy.
        std::vector<char> text(size_t(nsamples) * 26 + VoltsSlot);
        auto writeSweeps = [&](unsigned char* block, size_t used) {
            for (size_t at = 0; at < used; at += sweepBytes) {
                const uint16_t* codes = reinterpret_cast<const uint16_t*>(block + at) + (channel - 1);
                out.write(text.data(), voltsLinesOf(codes, nsamples, text.data()));
            }
        };
        BlockPipeline sweeps(std::max<size_t>(1, (size_t(256) << 10) / sweepBytes) * sweepBytes, writeSweeps);
        Progress progress(inputPath, input.reader().totalBytes());
        int64_t lines = 0;
        unsigned char* block = sweeps.take();
        size_t used = 0;
        for (;;) {
            if (used + sweepBytes > sweeps.blockBytes()) {
                sweeps.give(used);
                block = sweeps.take();
                used = 0;
            }
            // Whole sweeps only: a sweep is written once all its lines have been read.
            uint16_t* sweep = reinterpret_cast<uint16_t*>(block + used);
            const size_t got = input.readSweep(sweep);
            lines += int64_t(got);
            if (got < size_t(header.sweepSamples))
                break;
            used += sweepBytes;
            progress.update(input.reader().bytesRead());
        }
        sweeps.give(used);
        sweeps.finish();
        progress.done();
        const acq::SweepCount count = reportSweeps(input, lines);
        if (count.whole != header.numSweeps && out.direct())
            throw Failure(outPath + ": written as a stream whose first line promises " + promised +
                          " sweeps, but the recording holds " + std::to_string(count.whole));
        if (count.whole != header.numSweeps) {
            std::string present = std::to_string(count.whole);
            present.resize(promised.size(), ' ');
            out.overwrite(0, present);
        }
        replaced.done();
        out.commit();
    } catch (const rt::InOutError& e) {
        failIo(outPath, e.code());
    }
}

}  // namespace cli
