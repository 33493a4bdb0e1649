#pragma once
// Per-channel code range and clipped count over lines of three interleaved codes, the
// figures `sounder info` reports; fast enough to keep pace with the reader.

#include <cstddef>
#include <cstdint>

namespace cli {

struct ChannelStats {
    uint16_t lowest = 65535;
    uint16_t highest = 0;
    int64_t clipped = 0;  // code 0 or 4095
};

// Adds lines of codes (channels 1, 2, 3 of each line in turn) to stats.
void addCodes(const uint16_t* codes, size_t lines, ChannelStats (&stats)[3]);

}  // namespace cli
