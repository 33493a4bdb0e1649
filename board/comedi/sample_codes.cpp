#include "sample_codes.h"

#include <cstdint>
#include <cstring>

namespace boardcomedi {

namespace {
constexpr uint32_t kTop12 = 4095;
}

uint16_t toBoardCode(uint32_t raw, uint32_t maxdata)
{
    if (maxdata == 0)
        return 0;
    if (raw >= maxdata)
        return kTop12;
    if (maxdata == kTop12)
        return static_cast<uint16_t>(raw);
    if (maxdata == 65535)
        return static_cast<uint16_t>(raw >> 4);
    // Rounded to the nearest code; the product fits in 64 bits for any 32-bit code.
    const uint64_t scaled = (uint64_t{raw} * kTop12 + maxdata / 2) / maxdata;
    return static_cast<uint16_t>(scaled > kTop12 ? kTop12 : scaled);
}

void convertSamples(const unsigned char* bytes, size_t samples, size_t sampleBytes, const uint32_t* maxdata,
                    size_t channels, size_t firstPosition, uint16_t* out)
{
    size_t position = channels ? firstPosition % channels : 0;
    for (size_t i = 0; i < samples; ++i) {
        uint32_t raw = 0;
        if (sampleBytes == 4) {
            std::memcpy(&raw, bytes + 4 * i, 4);
        } else {
            uint16_t narrow = 0;
            std::memcpy(&narrow, bytes + 2 * i, 2);
            raw = narrow;
        }
        out[i] = toBoardCode(raw, maxdata[position]);
        if (++position == channels)
            position = 0;
    }
}

int64_t scanTimeLimitMs(int64_t scans, int64_t scansPerSecond, int64_t allowanceMs)
{
    int64_t limit = allowanceMs > 0 ? allowanceMs : 0;
    if (scans > 0 && scansPerSecond > 0)
        limit += (scans / scansPerSecond) * 1000 +
                 ((scans % scansPerSecond) * 1000 + scansPerSecond - 1) / scansPerSecond;
    return limit;
}

int64_t timedScanLimitMs(int64_t scans, int64_t periodNs, int64_t allowanceMs)
{
    const int64_t limit = allowanceMs > 0 ? allowanceMs : 0;
    if (scans <= 0 || periodNs <= 0)
        return limit;
    constexpr int64_t nsPerMs = 1'000'000;
    // scans x period in whole milliseconds, rounded up, split so that no product overflows.
    const int64_t whole = scans / nsPerMs;
    const int64_t rest = scans % nsPerMs;
    if (whole > (INT64_MAX - limit) / periodNs / 2 || periodNs > INT64_MAX / nsPerMs)
        return INT64_MAX;
    const int64_t ms = whole * periodNs + (rest * periodNs + nsPerMs - 1) / nsPerMs;
    return ms > INT64_MAX - limit ? INT64_MAX : limit + ms;
}

}  // namespace boardcomedi
