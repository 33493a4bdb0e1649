#pragma once
// The acquisition layout of a recording: four header lines, then one line of three
// raw A/D codes per scan group. Each line is checked as soon as it is ended, so a
// write failure stops the run at that line.

#include "text_io.h"

#include <cstdint>

// "NumSweeps,SweepSamples" / "Attenuation" / "Gain1,Gain2,Gain3" / "0.0".
void writeRecordingHeader(rt::TextWriter& file, int32_t numSweeps, int32_t sweepSamples,
                          int32_t attenuation, int32_t gain1, int32_t gain2, int32_t gain3);

// "c1,c2,c3": the codes of channels 1, 2 and 3 of one scan group.
void writeCodeLine(rt::TextWriter& file, uint16_t c1, uint16_t c2, uint16_t c3);
