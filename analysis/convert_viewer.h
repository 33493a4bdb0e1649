#pragma once
// An acquisition-layout recording in the viewer layout: five header items (sweeps
// present, samples per sweep up to 4000, attenuation, the channel's gain, "0.0"), then
// the channel's first samples of each sweep in volts, one per CR LF line, each in the
// shortest text that reads back to the same double.

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// (code - 2048) / 2048 * 5 as its shortest round-trip text.
std::string_view voltsText(uint16_t code);

// channel 1..3. Throws Failure; out appears only when whole.
void convertToViewer(const std::string& input, int channel, const std::string& out);

}  // namespace cli
