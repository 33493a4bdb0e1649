#pragma once
// The channel gain stage and the RF attenuator of the simulated front-end, and the
// gain calibration table derived from them (digpot.cfg). The public model functions
// (gainDbForPots, potsForGainDb, attenuationDbForCode, ...) are declared in sim_control.h.

#include <string>

namespace boardsim {

constexpr int kPotSettings = 33;     // a potentiometer takes 0..32
constexpr int kPotCount = 16;        // two per channel, eight channels
constexpr int kGainRowFirstDb = 3;   // the table's rows: 3 dB ..
constexpr int kGainRowLastDb = 70;   // .. 70 dB
constexpr int kGainSentinel = 99;    // a row that cannot be set
constexpr double kGainTolerance = 0.5;  // dB

// The whole calibration table as the acquisition program reads it: one row per dB
// from 3 to 70, sixteen blank-separated settings (pots 0..15), CR LF line ends.
std::string digpotTableText();

}  // namespace boardsim
