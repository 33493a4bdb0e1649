#pragma once
// An acquisition-layout recording as a SigMF 1.x recording: BASE.sigmf-data holds the
// three channels' codes as recorded, interleaved in scan order, unsigned 16-bit
// little-endian (ru16_le); BASE.sigmf-meta describes it, one annotation per sweep.

#include <string>

namespace cli {

inline constexpr const char* SigmfNamespace = "sounder";

// Throws Failure; each file appears only when whole.
void convertToSigmf(const std::string& input, const std::string& base);

}  // namespace cli
