#pragma once
// The rows of the profiles that `sounder analyze --waterfall` and `--profiles` give:
// float dB rows made from linear powers, and the .npy file that holds them.

#include "output_file.h"
#include "recording_analysis.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Reserves room for `count` rows in rows, in huge pages where the kernel gives them on
// request: a whole recording's rows are tens of MB, and at 4 KB a page, the faults on
// first writing them would cost as much as their logarithms.
void reserveProfileRows(std::vector<float>& rows, size_t count);

// Has the kernel back the whole of rows' reserved room with memory now, on the calling
// thread (meant for one beside the analysis): the analysis then writes its rows into
// memory that is there, rather than waiting on a fault for each fresh page, which on
// some machines costs a third of the run. Contents are untouched; where the kernel
// cannot (before Linux 5.14), nothing happens and the faults come as before.
void populateProfileRows(const float* room, size_t floats);

// Appends 10 * log10(power[0 .. ProfileRowBins - 1]) as floats to rows. Every power
// is at least the 1e-6 floor; powers beyond the float range give the largest float.
// Within a few units in the last place of the float result.
void appendDbRow(const double* power, std::vector<float>& rows);

// The header of a NumPy .npy file (format 1.0) of little-endian float32 values in C
// order with the given shape, padded so that the data starts at a multiple of 64.
std::string npyFloat32Header(const std::vector<uint64_t>& shape);

// The .npy file of a file's kept profiles, shape (channels, rows, ProfileRowBins),
// written to out straight from the rows (throws rt::InOutError as out does).
void writeProfilesNpy(OutputFile& out, const RecordingAnalysis& analysis);

// What the rows and bins of the kept profiles are, for the JSON summary.
std::string profileRowsName(ProfileRows rows);

}  // namespace cli
