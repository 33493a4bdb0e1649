// Each receiver channel has two digital potentiometers in its gain chain:
//  - pot 2c-2 (setting a) switches a log ladder in the first amplifier, 1.8 dB per step;
//  - pot 2c-1 (setting b) is a linear divider ahead of the second amplifier: the wiper
//    sits at b of 32 steps, with half a step of end resistance below it, so the divider
//    never shorts the signal completely;
//  - the fixed amplification of the chain is 13 dB.
// The ladder gives coarse steps over 57.6 dB and the divider fine steps (below 0.9 dB
// for b >= 9) over more than a ladder step, so every gain from 3 to 70 dB has a pair
// within a fraction of a dB.
#include "pot_model.h"

#include "sim_control.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace boardsim {
namespace {

constexpr double kFixedGainDb = 13.0;
constexpr double kLadderStepDb = 1.8;
constexpr double kDividerEndSteps = 0.5;

int limitSetting(int v) { return std::clamp(v, 0, kPotSettings - 1); }

}  // namespace

double gainDbForPots(int a, int b)
{
    a = limitSetting(a);
    b = limitSetting(b);
    const double divider = (b + kDividerEndSteps) / (kPotSettings - 1 + kDividerEndSteps);
    return kFixedGainDb + kLadderStepDb * a + 20.0 * std::log10(divider);
}

std::optional<std::array<int, 2>> potsForGainDb(int gainDb)
{
    // A calibration keeps the divider as open as it can (less signal thrown away ahead
    // of the second amplifier): the highest divider setting among pairs within a
    // quarter of a dB; failing that, the closest pair within the tolerance.
    constexpr double kPreferredError = 0.25;
    std::optional<std::array<int, 2>> best;
    double bestError = 0;
    double closestError = 1e9;
    std::array<int, 2> closest{0, 0};
    for (int b = kPotSettings - 1; b >= 0 && !best; --b) {
        for (int a = 0; a < kPotSettings; ++a) {
            const double error = std::abs(gainDbForPots(a, b) - gainDb);
            if (error <= kPreferredError && (!best || error < bestError)) {
                best = std::array<int, 2>{a, b};
                bestError = error;
            }
            if (error < closestError) {
                closestError = error;
                closest = {a, b};
            }
        }
    }
    if (best)
        return best;
    if (closestError <= kGainTolerance)
        return closest;
    return std::nullopt;
}

// The program's attenuator table keeps bits 3 and 4 of the dB value in place and moves
// dB bit 0 to code bit 1, bit 1 to code bit 2, bit 2 to code bit 0.
int attenuatorCodeForDb(int db)
{
    db = std::clamp(db, 0, 31);
    return (db & 0x18) | ((db & 1) << 1) | ((db & 2) << 1) | ((db & 4) >> 2);
}

int attenuationDbForCode(int code)
{
    code &= 0x1F;
    return (code & 0x18) | ((code >> 1) & 1) | (((code >> 2) & 1) << 1) | ((code & 1) << 2);
}

std::string digpotTableText()
{
    std::string text;
    for (int db = kGainRowFirstDb; db <= kGainRowLastDb; ++db) {
        const auto pair = potsForGainDb(db);
        std::string row;
        for (int pot = 0; pot < kPotCount; ++pot) {
            const int value = pair ? (*pair)[pot % 2] : kGainSentinel;
            if (pot > 0)
                row += ' ';
            row += std::to_string(value);
        }
        text += row + "\r\n";
    }
    return text;
}

}  // namespace boardsim
