#pragma once
// `sounder calibrate B2B... --through-db A [--cable-delay-ns D] -o CAL.json`: the
// system's reference power and delay per channel from back-to-back recordings (the
// transmitter cabled to the receiver through an attenuator of A dB), written as a
// calibration (calibration.h). A recording that cannot serve is refused with one line
// naming it and the reason, and nothing is written.

#include "recording_analysis.h"

#include <string>
#include <vector>

namespace cli {

struct CalibrateOptions {
    std::vector<std::string> files;
    double throughDb = 0;
    double cableDelayNs = 0;
    std::string outputPath;
    AnalysisSettings settings;  // the processing of the profiles (window, metrics, channel)
};

// The least SNR of a back-to-back profile, and how far below the strongest path every
// other one must lie.
inline constexpr double CalibrationLeastSnrDb = 30.0;

// The calibration the recordings give; throws Failure for a recording refused.
cal::Calibration calibrationOf(const CalibrateOptions& options);

// Makes the calibration and writes it; returns the exit status (Failure for a refusal
// or a failed write).
int runCalibrate(const CalibrateOptions& options);

}  // namespace cli
