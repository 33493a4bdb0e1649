#pragma once
// The channel gain calibration table: which pair of potentiometer settings gives which
// gain. Pure lookup, step-down and reading; the form applies them to its own table.

#include <array>
#include <cstdint>
#include <optional>

namespace rt {
class TextReader;
}

namespace gain {

inline constexpr int Rows = 68;     // 3 dB .. 70 dB in steps of 1 dB
inline constexpr int Columns = 16;  // one per potentiometer
inline constexpr int32_t MinGainDb = 3;
inline constexpr int32_t MaxGainDb = 70;
inline constexpr int32_t MinChannel = 1;
inline constexpr int32_t MaxChannel = 8;
// A table value meaning "this gain cannot be set on this channel".
inline constexpr int32_t Unusable = 99;
// The table's file, opened by this bare name: it is looked for in the current directory.
inline constexpr char FileName[] = "digpot.cfg";

using Table = std::array<std::array<int32_t, Columns>, Rows>;

// Potentiometer A and B of a channel: columns 2c - 2 and 2c - 1.
inline constexpr int32_t potA(int32_t channel) { return 2 * channel - 2; }
inline constexpr int32_t potB(int32_t channel) { return 2 * channel - 1; }

// The value in the row of `gainDb` (limited to 3..70) and the given column. A column
// outside 0..15 is taken as the nearest one, so no lookup leaves the table.
int32_t lookup(const Table& table, int32_t gainDb, int32_t column);

// The two settings a channel gets for a requested gain.
struct Setting {
    int32_t gainDb;  // the row actually used (at or below the request)
    int32_t a;
    int32_t b;
};

// Channel limited to 1..8, gain to 3..70; then the highest gain at or below that one
// whose two values are both free of the sentinel. None when even the 3 dB row holds
// the sentinel for this channel.
std::optional<Setting> settingFor(const Table& table, int32_t channel, int32_t gainDb);

// Reads the table row by row, 16 numbers then the rest of the line (ended by CR LF, CR
// or LF alone), checking the reader after every number and every line end. Values are
// stored as they are read, so rows read before a failure keep theirs. Throws rt::InOutError on the first failure.
void read(rt::TextReader& reader, Table& table);

}  // namespace gain
