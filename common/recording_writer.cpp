#include "recording_writer.h"

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
