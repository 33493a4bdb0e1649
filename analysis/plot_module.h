#pragma once
// The picture of `sounder analyze --plot` is drawn by a module of its own, loaded only
// by a run that draws one: Qt Widgets and QCustomPlot take some 20 ms to load and
// relocate, a tenth of a whole recording's analysis, which every other run is spared.
// The module gives one table of entry points; the tool and the module are built
// together, so the table's C++ types are the same on both sides.

#include "campaign_command.h"
#include "recording_analysis.h"

#include <QCoreApplication>

#include <memory>
#include <string>

namespace cli {

struct PlotModule {
    int version;  // PlotModuleVersion of the build that made the module
    // A QApplication that needs no display; argc must outlive it.
    std::unique_ptr<QCoreApplication> (*makeApplication)(int& argc, char** argv);
    // The bytes of the PNG file of one file's analysis.
    std::string (*drawPng)(const RecordingAnalysis& analysis, const AnalysisSettings& settings);
    // The bytes of the PNG file of a campaign.
    std::string (*drawCampaignPng)(const Campaign& campaign, const CampaignSettings& settings);
    // The bytes of the PNG file of one file's waterfall (its kept profiles), width x height.
    std::string (*drawWaterfallPng)(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width,
                                    int height);
    // Loads and caches what drawWaterfallPng will need, while the analysis runs.
    void (*prepareWaterfall)(const AnalysisSettings& settings, int width, int height);
};

inline constexpr int PlotModuleVersion = 4;
// The module's file name, and the entry point it exports (extern "C").
inline constexpr const char* PlotModuleFile = "sounder_plot.so";
inline constexpr const char* PlotModuleEntry = "sounder_plot_module";

// The module beside the tool (a build tree) or in ../lib/sounder/plot from it (an
// installation). Null when neither loads; problem then says why.
const PlotModule* loadPlotModule(std::string& problem);

}  // namespace cli
