#pragma once
// The picture of `sounder analyze --plot`: per channel, the recording's averaged
// profile with its noise floor and the counting threshold, and beneath it the RMS
// delay spread of every block over the recording. Drawn with QCustomPlot, which
// needs a QApplication; makePlotApplication makes one that needs no display.

#include "recording_analysis.h"

#include <QCoreApplication>

#include <memory>
#include <string>

class QCustomPlot;

namespace cli {

inline constexpr int PlotWidth = 1600;
inline constexpr int PlotHeight = 1000;

// A QApplication on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
// argc must outlive the application.
std::unique_ptr<QCoreApplication> makePlotApplication(int& argc, char** argv);

// The bytes of the PNG file of a plot drawn at width x height.
std::string plotPngBytes(QCustomPlot& plot, int width, int height);

// The bytes of a PlotWidth x PlotHeight PNG file.
std::string analysisPlotPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings);

}  // namespace cli
