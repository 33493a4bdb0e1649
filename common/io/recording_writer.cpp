#include "recording_writer.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

void writeRecordingHeader(rt::TextWriter& file, int32_t numSweeps, int32_t sweepSamples,
                          int32_t attenuation, int32_t gain1, int32_t gain2, int32_t gain3)
{
    file.writeInt(numSweeps);
    file.writeChar(',');
    file.writeInt(sweepSamples);
    file.writeLn();
    file.check();

    file.writeInt(attenuation);
    file.writeLn();
    file.check();

    file.writeInt(gain1);
    file.writeChar(',');
    file.writeInt(gain2);
    file.writeChar(',');
    file.writeInt(gain3);
    file.writeLn();
    file.check();

    // Line 4 carries no setting: always the same text, never a formatted real.
    file.writeText("0.0");
    file.writeLn();
    file.check();
}

// Millions of these lines make a recording: the writer's inline paths keep each
// write a few instructions while the line fits its buffer.
void writeCodeLine(rt::TextWriter& file, uint16_t c1, uint16_t c2, uint16_t c3)
{
    file.writeInt(c1);
    file.writeChar(',');
    file.writeInt(c2);
    file.writeChar(',');
    file.writeInt(c3);
    file.writeLn();
    file.check();
}

namespace {

// Lines per batch: at most 19 bytes each (five digits per code above the 12-bit scale).
constexpr int BatchLines = 2048;
constexpr size_t MaxLineBytes = 19;

inline char* putCode(char* p, uint16_t code)
{
    if (code < rt::SmallDecimals.size()) {
        std::memcpy(p, rt::SmallDecimals[code].data(), 4);  // the entry always has four bytes to copy
        return p + 1 + (code >= 10) + (code >= 100) + (code >= 1000);
    }
    return std::to_chars(p, p + 5, code).ptr;
}

}  // namespace

void writeSweepLines(rt::TextWriter& file, const uint16_t* first, int32_t groups)
{
    char batch[BatchLines * MaxLineBytes + 4];
    const uint16_t* group = first;
    for (int32_t done = 0; done < groups;) {
        const int32_t lines = groups - done < BatchLines ? groups - done : BatchLines;
        char* p = batch;
        for (int32_t i = 0; i < lines; ++i, group += 4) {
            p = putCode(p, group[0]);
            *p++ = ',';
            p = putCode(p, group[1]);
            *p++ = ',';
            p = putCode(p, group[2]);
            *p++ = '\r';
            *p++ = '\n';
        }
        // The last line end goes through writeLn, so the file counts the batch as whole lines.
        file.writeText(std::string_view(batch, static_cast<size_t>(p - batch) - 2));
        file.writeLn();
        file.check();
        done += lines;
    }
}
