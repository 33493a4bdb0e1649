#pragma once
// What `sounder analyze` writes: a CSV table of every sweep and every block, and a
// JSON summary (the parameters used, and per file and channel the median, 10th and
// 90th percentile of each metric over the blocks). Several files go into one table
// (its first column names the file) and one summary (one entry per file, in the
// order they were given).

#include "recording_analysis.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The q-quantile (0..1) of values, interpolated linearly between the two nearest
// order statistics (numpy's default); absent for no values.
std::optional<double> quantile(std::vector<double> values, double q);

// The CSV text: a header row naming every column with its unit, then per file and
// channel one row per sweep and then one per block.
std::string analysisCsv(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings);

// The JSON text (UTF-8, indented).
std::string analysisJson(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings);

const char* windowName(SampleWindow window);

}  // namespace cli
