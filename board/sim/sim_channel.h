#pragma once
// A channel for the simulated sounder described in physical terms, read from the JSON
// file that SOUNDER_SIM_CHANNEL names (docs/simulated-channel.md):
//
//   {"schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8, "reference_volts": 20,
//    "system_delay_ns": 610.3515625, "noise_volts": 3e-6,
//    "channels": [{"paths": [{"delay_ns": 2441.40625, "gain_db": -70}]}, ...]}
//
// A path of delay tau (the system delay added) after de-ramping is a tone of
// bandwidth x tau cycles per sweep, of amplitude reference x 10^(gain_db / 20) volts at
// 0 dB net receiver gain; the front-end's gain and attenuation scale it as they scale
// every path. The reading is strict: a fault is never replaced by a default.

#include "sim_control.h"

#include <string>
#include <string_view>

namespace boardsim {

inline constexpr char SimChannelSchema[] = "sounder.sim-channel/1";
inline constexpr char SimChannelVariable[] = "SOUNDER_SIM_CHANNEL";

// Reads a description into a model of the default's marker and start; false with
// `fault` saying where and what is wrong ("line 3, column 7: expected ':'",
// "channels[0].paths[1]: \"gain_db\" must be a finite number", ...).
bool parseSimChannel(std::string_view text, SignalModel& model, std::string& fault);

// The same for the file at `path`; a file that cannot be read is a fault too.
bool readSimChannelFile(const std::string& path, SignalModel& model, std::string& fault);

}  // namespace boardsim
