#pragma once
// `sounder analyze --paths OUT.csv`: one row per counted path of every block, its
// delay interpolated within the bins from its lobe, and with a calibration its gain in
// dB and its delay from the antenna. The results must have been made with
// AnalysisSettings::pathLobes.

#include "recording_analysis.h"

#include <string>
#include <vector>

namespace cli {

std::string pathTableCsv(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings);

}  // namespace cli
