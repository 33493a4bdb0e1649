#pragma once
// The picture of `sounder analyze --waterfall`: per channel, the kept profiles as a
// colour map, delay across and sweep (or block) down, dB in colour on one scale for
// all channels. Drawn with QCustomPlot off screen (see analysis_plot.h).

#include "recording_analysis.h"

#include <string>

namespace cli {

// The bytes of a width x height PNG file of the analysis' kept profiles.
std::string analysisWaterfallPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width,
                                 int height);

}  // namespace cli
