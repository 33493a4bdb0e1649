#pragma once
// `sounder campaign FILE... --origin LAT,LON [--cal CAL.json] --csv OUT [--plot OUT.png]`: one row per
// recording (time, position, distance from the transmitter, median RMS delay spread
// and, where a path gain is known, the median path gain), and the fit of path gain
// against log10 distance over the recordings that have both.
//
// A recording's path gain needs a calibration (`--cal CAL.json`): the median over its
// blocks of the calibrated path gain `analyze --cal` gives (path_gain_db), of one
// channel (`--channel N`, default 1). CampaignSettings::pathGain is that one hook: a
// function from a recording's analysis to its median path gain in dB; without it no
// path gain is given and the fit is not made, and the output says why.

#include "analyze_command.h"
#include "path_loss_fit.h"
#include "recording_analysis.h"
#include "recording_place.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct CampaignSettings {
    Origin origin;
    AnalysisSettings analysis;
    std::string csvPath;
    std::string plotPath;  // empty: none
    // The median path gain of a recording in dB, or nullopt where it has none.
    std::function<std::optional<double>(const RecordingAnalysis&)> pathGain;
    std::string pathGainSource;  // what gives the path gain (a calibration file), named in the output
    int pathGainChannel = 1;     // the channel whose path gain is given and fitted
};

// The hook of a calibration (the one in the analysis settings, which then must hold
// one): the median over the blocks of `channel` of their calibrated path gain, for a
// recording whose front-end levels have been found (applyCalibration); nullopt where
// the recording has no such channel, no levels or no block with a counted power.
std::function<std::optional<double>(const RecordingAnalysis&)> calibratedPathGain(const cal::Calibration& calibration,
                                                                                int channel);

struct CampaignRow {
    std::string file;
    RecordingPlace place;
    std::optional<Distances> distance;
    std::array<std::optional<double>, 3> medianRmsSpreadBins;  // per channel, over the blocks
    std::optional<double> pathGainDb;
    bool inFit = false;
    std::string note;  // why the recording is left out of the fit
};

struct Campaign {
    std::vector<CampaignRow> rows;
    std::optional<PathLossFit> fit;
    std::string fitNote;  // why there is no fit
};

// The rows and the fit from each file's analysis and place (the same order).
Campaign buildCampaign(const std::vector<RecordingAnalysis>& results, const std::vector<RecordingPlace>& places,
                       const CampaignSettings& settings);

std::string campaignCsv(const Campaign& campaign, const CampaignSettings& settings);
// The summary printed on stdout: the fit or why there is none, and the files left out.
std::string campaignSummary(const Campaign& campaign, const CampaignSettings& settings);

// Draws the picture of a campaign: the bytes of a PNG file.
using CampaignDrawer = std::function<std::string(const Campaign&, const CampaignSettings&)>;

// Analyses the files (all cores), writes the CSV (and picture) under temporary names
// renamed when whole, prints the summary. Returns the exit status.
int runCampaign(const std::vector<std::string>& files, const CampaignSettings& settings, const CampaignDrawer& draw);

}  // namespace cli
