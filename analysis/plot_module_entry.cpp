// The entry point of the plot module.

#include "analysis_plot.h"
#include "campaign_plot.h"
#include "analysis_waterfall.h"
#include "plot_module.h"

extern "C" __attribute__((visibility("default"))) const cli::PlotModule* sounder_plot_module()
{
    static const cli::PlotModule module{cli::PlotModuleVersion, cli::makePlotApplication, cli::analysisPlotPng,
                                          cli::campaignPlotPng, cli::analysisWaterfallPng,
                                          cli::prepareWaterfall};
    return &module;
}
