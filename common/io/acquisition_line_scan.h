#pragma once
// The fast path of the acquisition-layout reader: sample lines "c1,c2,c3\r\n" whose
// codes have one to four digits in shortest form (all a 12-bit board gives), parsed
// sixteen bytes at a time. It takes only lines that the reader's exact per-line
// parser takes too, with the same codes, and stops at the first line it does not
// take (a fault, a five-digit code, the end of the data, the end-of-text mark),
// which that parser then decides.

#include <cstddef>
#include <cstdint>

namespace acq {

// Whether scanSampleLines does anything on this processor (it needs SSSE3).
bool sampleLineScanAvailable();

// Parses up to maxLines lines from pos, three codes each into codes, and moves pos
// past them. Returns the number of lines taken (0 where the scan is not available).
// At least 64 bytes must be readable from every line start up to the end of the data,
// and the data must be followed by a byte that no line holds (the reader's zero padding).
size_t scanSampleLines(const char*& pos, uint16_t* codes, size_t maxLines);

}  // namespace acq
