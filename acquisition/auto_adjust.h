#pragma once
// The decisions of the automatic gain adjustment, free of the form: measuring a sweep
// window, deciding whether the RF attenuation must rise, and one gain step of a channel.
// First the attenuation rises in 5 dB steps until no channel exceeds +-3.2 V; then each
// channel's gain moves by a step that halves on every reversal until its most negative
// value lies strictly between -3.2 V and -0.8 V, or until the gain reaches the cap.

#include <array>
#include <cstdint>
#include <optional>

namespace adjust {

inline constexpr int32_t WindowFirst = 100;      // first sweep element measured
inline constexpr double AttenuationLimit = 3.2;  // +-volts of the attenuation phase
inline constexpr double GainLowLimit = -3.2;     // the window of a channel's minimum
inline constexpr double GainHighLimit = -0.8;
inline constexpr int32_t InitialGain = 30;
inline constexpr int32_t GainCap = 67;
inline constexpr int32_t InitialStep = 10;
inline constexpr int32_t AttenuationStep = 5;
// The adjustment gives up after this many cycles without settling.
inline constexpr int MaxCycles = 40;

// Last sweep element measured: 5000 at clock divider 2, else 2500.
inline constexpr int32_t windowLast(int32_t clockDivider) { return clockDivider == 2 ? 5000 : 2500; }

struct Extremes {
    double min = 1000.0;
    double max = -1000.0;
};

// Extremes of sweep[first..last] (numbered from 1). An empty window keeps 1000 / -1000.
Extremes measureWindow(const double* sweep, int32_t first, int32_t last);

// The attenuation must rise when any channel lies beyond +-3.2 V; values exactly at the
// limits count as inside.
bool attenuationTooLow(const std::array<Extremes, 3>& channels);

// A channel's adjustment state, from the start of one run of the adjustment.
struct ChannelState {
    int32_t gain = InitialGain;
    int32_t step = InitialStep;
    bool up = true;     // direction of the last gain change
    bool done = false;  // settled (in the window or at the cap): never looked at again
};

// What one gain step asks the form to do.
struct GainStep {
    // The gain to show and program, when it changed.
    std::optional<int32_t> newGain;
    // After newGain, the cap is shown and programmed as well (the channel is then done).
    bool capped = false;
};

// One decision for a channel not yet done, from its most negative value `min`:
// strictly inside the window -> done; too large (min <= -0.8 V but not inside) -> gain
// down by the step; too small -> gain up by the step, capped at 67 (then done). The step
// halves (truncating) whenever the direction reverses.
GainStep gainStep(ChannelState& channel, double min);

}  // namespace adjust
