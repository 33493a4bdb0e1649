#include "auto_adjust.h"

namespace adjust {

Extremes measureWindow(const double* sweep, int32_t first, int32_t last)
{
    Extremes e;
    for (int32_t i = first; i <= last; ++i) {
        if (sweep[i] < e.min)
            e.min = sweep[i];
        if (sweep[i] > e.max)
            e.max = sweep[i];
    }
    return e;
}

bool attenuationTooLow(const std::array<Extremes, 3>& channels)
{
    for (const Extremes& e : channels)
        if (e.min < -AttenuationLimit || e.max > AttenuationLimit)
            return true;
    return false;
}

GainStep gainStep(ChannelState& channel, double min)
{
    GainStep result;
    if (GainLowLimit < min && min < GainHighLimit) {
        channel.done = true;
        return result;
    }
    if (min <= GainHighLimit) {
        // Too large a signal: lower the gain.
        channel.gain -= channel.step;
        result.newGain = channel.gain;
        if (channel.up)
            channel.step /= 2;
        channel.up = false;
        return result;
    }
    // Too small a signal: raise the gain, up to the cap.
    channel.gain += channel.step;
    result.newGain = channel.gain;
    if (!channel.up)
        channel.step /= 2;
    channel.up = true;
    if (channel.gain > GainCap) {
        channel.gain = GainCap;
        result.capped = true;
        channel.done = true;
    }
    return result;
}

}  // namespace adjust
