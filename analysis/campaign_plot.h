#pragma once
// The picture of `sounder campaign --plot`, drawn by the plot module.

#include "campaign_command.h"

#include <string>

namespace cli {

inline constexpr int CampaignPlotWidth = 1400;
inline constexpr int CampaignPlotHeight = 1000;

// The bytes of a PNG file: path gain against distance with the fit, and the median
// RMS delay spreads against distance.
std::string campaignPlotPng(const Campaign& campaign, const CampaignSettings& settings);

}  // namespace cli
