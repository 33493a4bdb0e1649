#include "capture.h"

std::optional<int32_t> findSweepStart(const uint16_t* buffer, int32_t from, int32_t threshold, int32_t count)
{
    if (buffer == nullptr || from < 0)
        return std::nullopt;
    int64_t offset = from;  // 64-bit: offset + 4 never wraps near the top of the range
    for (;;) {
        // Compared as an unsigned 16-bit code against the signed threshold.
        if (static_cast<int32_t>(buffer[offset + MarkerInput]) > threshold)
            return static_cast<int32_t>(offset);
        offset += GroupSamples;
        if (offset >= count)
            return std::nullopt;
    }
}

int32_t extractSweep(const uint16_t* buffer, int32_t start, int32_t count, double* volts1, double* volts2,
                     double* volts3, int32_t capacity)
{
    if (buffer == nullptr || start < 0)
        return 0;
    int32_t i = 1;
    for (int64_t offset = start; offset < count && i <= capacity; offset += GroupSamples, ++i) {
        volts1[i] = codeToVolts(buffer[offset]);
        volts2[i] = codeToVolts(buffer[offset + 1]);
        volts3[i] = codeToVolts(buffer[offset + 2]);
    }
    return i - 1;
}
