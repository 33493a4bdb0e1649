#pragma once
// The pure half of a capture: reading A/D codes of a scan buffer. A scan repeats the
// board inputs 0..3, so four consecutive samples form a scan group: channels 1, 2, 3,
// then the sweep marker. Offsets count samples of all four inputs (multiples of 4).

#include "adc_codes.h"

#include <cstdint>
#include <optional>

// Samples per scan group and the position of the marker within a group.
inline constexpr int32_t GroupSamples = 4;
inline constexpr int32_t MarkerInput = 3;

// Marker thresholds: a sweep starts in the first group whose marker code is strictly above.
inline constexpr int32_t DisplayMarkerThreshold = 3000;  // "Show" and "Auto Adjust"
inline constexpr int32_t RecordMarkerThreshold = 2800;   // "Acquire"

// Scan groups of one sweep: 5000 at clock divider 2, 2500 at any other divider.
inline constexpr int32_t sweepGroups(int32_t clockDivider) { return clockDivider == 2 ? 5000 : 2500; }
// Conversions per second passed to the scan.
inline constexpr int32_t scanRateFor(int32_t clockDivider) { return clockDivider == 2 ? 5000000 : 2500000; }
// Samples of a two-sweep capture ("Show", "Auto Adjust").
inline constexpr int32_t twoSweepCount(int32_t clockDivider) { return clockDivider == 2 ? 40000 : 20000; }

// The first group at or after offset `from` whose marker code is strictly above `threshold`.
// The group at `from` is examined before any bound test (so a search from an offset at the
// end of the capture still looks at one group: the caller's buffer must hold it); the search
// ends, not found, once the next offset reaches `count`. `from` must be >= 0.
std::optional<int32_t> findSweepStart(const uint16_t* buffer, int32_t from, int32_t threshold, int32_t count);

// Converts channels 1..3 of the groups from offset `start` up to the end of the scan
// (`count` samples) into volts: element 1 of each array is the group at `start`. Arrays are
// numbered from 1 and hold `capacity` elements after slot 0; conversion stops there, so a
// long scan never writes past them. Elements beyond the last one written keep their values.
// Returns the number of elements written per channel.
int32_t extractSweep(const uint16_t* buffer, int32_t start, int32_t count, double* volts1, double* volts2,
                     double* volts3, int32_t capacity);
