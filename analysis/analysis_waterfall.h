#pragma once
// The picture of `sounder analyze --waterfall`: per channel, the kept profiles as a
// colour map, delay across and sweep (or block) down, dB in colour on one scale for
// all channels. Drawn with QCustomPlot off screen (see analysis_plot.h).

#include "recording_analysis.h"

#include <string>

class QImage;

namespace cli {

// The bytes of a width x height PNG file of the analysis' kept profiles.
std::string analysisWaterfallPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width,
                                 int height);

// The bytes of a PNG file of an opaque picture, encoded for speed (the fastest
// deflate level, one row filter for all rows).
std::string waterfallPngBytes(const QImage& picture);

}  // namespace cli
