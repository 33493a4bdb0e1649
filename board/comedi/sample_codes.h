#pragma once
// A/D codes of the board's converter, turned into the 12-bit codes the program works
// with (0..4095, 2048 at 0 V). Pure routines, no device.

#include <cstddef>
#include <cstdint>

namespace boardcomedi {

// A 12-bit converter's codes pass as they are, a 16-bit one's lose their four low
// bits, any other is scaled. 0 and maxdata, the converter's clipped extremes, stay
// the extremes 0 and 4095.
uint16_t toBoardCode(uint32_t raw, uint32_t maxdata);

// Converts `samples` samples of `sampleBytes` (2 or 4) bytes each, in the machine's
// byte order, into `out`. Sample i came from the channel at position
// (firstPosition + i) % channels of the scan's channel list, whose maxdata is
// maxdata[position].
void convertSamples(const unsigned char* bytes, size_t samples, size_t sampleBytes, const uint32_t* maxdata,
                    size_t channels, size_t firstPosition, uint16_t* out);

// The time a scan may take before it is given up: the allowance for a clock that is
// late to start, plus the duration of `scans` scans at `scansPerSecond` (none when
// the rate is unknown), rounded up to whole milliseconds.
int64_t scanTimeLimitMs(int64_t scans, int64_t scansPerSecond, int64_t allowanceMs);

// The same for a timed scan, from the scan period the driver accepted (ns): a driver
// that cannot go as fast as asked lengthens the period, and the scan takes longer.
int64_t timedScanLimitMs(int64_t scans, int64_t periodNs, int64_t allowanceMs);

}  // namespace boardcomedi
