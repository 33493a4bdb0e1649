#include "convert_viewer.h"

#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

namespace cli {

namespace {

constexpr int ViewerMaxSamples = 4000;

struct VoltsTexts {
    // 5/2048 is exact in binary, so every 12-bit code's volts is one exact double.
    std::array<std::array<char, 24>, 4096> text{};
    std::array<uint8_t, 4096> length{};
    VoltsTexts()
    {
        for (int code = 0; code < 4096; ++code) {
            char* begin = text[size_t(code)].data();
            const double volts = (double(code) - 2048.0) / 2048.0 * 5.0;
            length[size_t(code)] = uint8_t(std::to_chars(begin, begin + 24, volts).ptr - begin);
        }
    }
};

const VoltsTexts& voltsTable()
{
    static const VoltsTexts table;
    return table;
}

}  // namespace

std::string_view voltsText(uint16_t code)
{
    if (code < 4096)
        return {voltsTable().text[code].data(), voltsTable().length[code]};
    // Codes above the 12-bit scale are kept as they are, beyond +5 V.
    thread_local char wide[24];
    const double volts = (double(code) - 2048.0) / 2048.0 * 5.0;
    return {wide, size_t(std::to_chars(wide, wide + 24, volts).ptr - wide)};
}

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
        OutputFile out(outPath);
        // The sweep count is known at the end: line 1 is written as wide as the promised
        // count and rewritten then, padded with blanks (the viewer reads its first token).
        const std::string promised = std::to_string(header.numSweeps);
        out.write(promised + "\r\n" + std::to_string(nsamples) + "\r\n" + std::to_string(header.attenuation) +
                  "\r\n" + std::to_string(header.gains[channel - 1]) + "\r\n0.0\r\n");

        std::vector<uint16_t> sweep(3 * size_t(header.sweepSamples));
        std::vector<char> text(size_t(nsamples) * 26);
        Progress progress(inputPath, input.reader().totalBytes());
        int64_t lines = 0;
        for (;;) {
            // Whole sweeps only: a sweep is written once all its lines have been read.
            size_t got = 0;
            while (got < size_t(header.sweepSamples)) {
                const size_t n = input.readLines(sweep.data() + 3 * got, size_t(header.sweepSamples) - got);
                if (n == 0)
                    break;
                got += n;
            }
            lines += int64_t(got);
            if (got < size_t(header.sweepSamples))
                break;
            char* p = text.data();
            for (int i = 0; i < nsamples; ++i) {
                const std::string_view volts = voltsText(sweep[3 * size_t(i) + size_t(channel - 1)]);
                std::copy(volts.begin(), volts.end(), p);
                p += volts.size();
                *p++ = '\r';
                *p++ = '\n';
            }
            out.write(text.data(), size_t(p - text.data()));
            progress.update(input.reader().bytesRead());
        }
        progress.done();
        const acq::SweepCount count = reportSweeps(input, lines);
        if (count.whole != header.numSweeps) {
            std::string present = std::to_string(count.whole);
            present.resize(promised.size(), ' ');
            out.overwrite(0, present);
        }
        out.commit();
    } catch (const rt::InOutError& e) {
        failIo(outPath, e.code());
    }
}

}  // namespace cli
