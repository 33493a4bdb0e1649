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

// The sample lines of a sweep: one line "c1,c2,c3" per scan group (four samples each,
// the fourth, the marker, not written) for `groups` consecutive groups from `first`.
// A recording run writes millions of lines, so they are formatted in batches from a
// table of code texts and the file is checked after every batch; since a failed write
// leaves the file ending with a whole line and nothing is written after it, the file
// holds the same lines as when every line is checked. Throws rt::InOutError.
void writeSweepLines(rt::TextWriter& file, const uint16_t* first, int32_t groups);
