// Any bytes as a channel description of the simulated sounder (SOUNDER_SIM_CHANNEL).
// Beyond not crashing: a refusal always says why, and a description that reads gives
// paths the sounder can compute with (finite tones and amplitudes, at most 3 channels).

#include "sim_channel.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    boardsim::SignalModel model;
    std::string fault;
    if (!boardsim::parseSimChannel(text, model, fault)) {
        if (fault.empty())
            std::abort();
        return 0;
    }
    for (const boardsim::ChannelModel& c : model.channels) {
        if (!(c.noiseVolts >= 0) || !std::isfinite(c.noiseVolts))
            std::abort();
        for (const boardsim::Path& p : c.paths)
            if (!std::isfinite(p.beatCycles) || p.beatCycles < 0 || !std::isfinite(p.amplitude) ||
                !(p.amplitude >= 0) || !std::isfinite(p.phase))
                std::abort();
    }
    return 0;
}
