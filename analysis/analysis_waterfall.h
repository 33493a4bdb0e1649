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

// Draws a picture like the one analysisWaterfallPng would draw for these settings and
// throws it away: what a first picture loads and caches (Qt's fonts and their glyphs)
// is then ready, so that the picture after the analysis takes only its own drawing.
// Run while the analysis runs on another core.
void prepareWaterfall(const AnalysisSettings& settings, int width, int height);

// The bytes of a PNG file of an opaque picture, encoded for speed (the fastest
// deflate level, one row filter for all rows).
std::string waterfallPngBytes(const QImage& picture);

// The same picture's PNG file with its rows deflated in up to `parts` parts on up to
// `threads` threads at once, joined into one stream (each part starting from the
// 32 KB before it, so it compresses as the whole would): the same pixels as
// waterfallPngBytes in a fraction of the time on a machine of as many cores.
std::string waterfallPngBytesInParts(const QImage& picture, int parts, int threads);

}  // namespace cli
