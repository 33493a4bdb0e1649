#include "frontend_protocol.h"

#include <algorithm>

namespace frontend {

uint16_t dividerCode(int32_t divider)
{
    if (divider < 1)
        return 0;
    // 255 would be a legal byte, but the front-end's divider stops at 254.
    if (divider > 255)
        return static_cast<uint16_t>(MaxDividerCode);
    return static_cast<uint16_t>(divider - 1);
}

std::array<uint16_t, 3> sweepCountBytes(int32_t count)
{
    const int32_t c = std::clamp(count, MinSweepCount, MaxSweepCount);
    return {static_cast<uint16_t>(c % 256), static_cast<uint16_t>((c / 256) % 256),
            static_cast<uint16_t>(c / 65536)};
}

int32_t attenuationIndexSent(int32_t index) { return std::clamp(index, 0, MaxAttenIndex); }

int32_t potSent(int32_t pot) { return std::clamp(pot, 0, MaxPot); }

int32_t potValueSent(int32_t value) { return std::clamp(value, 0, MaxPotValue); }

uint16_t attenuatorCode(int32_t index)
{
    return AttenCode[static_cast<size_t>(attenuationIndexSent(index))];
}

std::array<uint16_t, 6> potFrameBytes(int32_t pot, int32_t value)
{
    const auto p = static_cast<uint16_t>(potSent(pot));
    const auto v = static_cast<uint16_t>(potValueSent(value));
    const auto select = static_cast<uint16_t>(PotSelectMark + p);
    return {PotCommandMark, select, PotWriteCommand, select, static_cast<uint16_t>(PotCommandMark + v), select};
}

int32_t clocksPerSweep(uint16_t low, uint16_t middle, uint16_t high)
{
    // Each byte comes from the 8 data lines; wider words are cut to those lines.
    return int32_t(low & 0xFF) + 256 * int32_t(middle & 0xFF) + 65536 * int32_t(high & 0xFF);
}

}  // namespace frontend
