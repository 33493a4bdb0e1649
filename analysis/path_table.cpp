#include "path_table.h"

#include "csv_text.h"

#include <algorithm>
#include <charconv>

namespace cli {

namespace {

// A number as the next field of a row.
void appendField(std::string& text, double value)
{
    text += ',';
    appendNumber(text, value);
}

}  // namespace

std::string pathTableCsv(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings)
{
    const bool bandwidth = settings.bandwidthHz.has_value();
    const cal::Calibration* calibration = settings.calibration ? &*settings.calibration : nullptr;
    std::string text = "file,channel,block,first_sweep,sweeps,path,peak_bin,delay_bins,power_db";
    if (bandwidth)
        text += ",delay_ns,delay_m";
    if (calibration) {
        text += ",gain_db,antenna_delay_bins";
        if (bandwidth)
            text += ",antenna_delay_ns,antenna_delay_m";
    }
    text += "\r\n";
    for (const RecordingAnalysis& r : results) {
        const std::string file = csvField(r.path);
        const std::optional<double> perBin = secondsPerBin(r, settings);
        for (const ChannelAnalysis& channel : r.channels) {
            const cal::ChannelReference* ref = calibration ? calibration->channel(channel.channel) : nullptr;
            const double gain = r.levels ? r.levels->gainDb[size_t(channel.channel - 1)].value_or(0.0) : 0.0;
            const double attenuation = r.levels ? r.levels->attenuationDb : 0.0;
            for (size_t b = 0; b < channel.blocks.size() && b < channel.blockPathLobes.size(); ++b) {
                const std::vector<int32_t>& bins = channel.blocks[b].pathBins;
                const std::vector<PathLobe>& lobes = channel.blockPathLobes[b];
                const int64_t first = int64_t(b) * settings.blockSweeps;
                const int64_t sweeps = std::min<int64_t>(settings.blockSweeps, r.sweeps - first);
                for (size_t p = 0; p < lobes.size() && p < bins.size(); ++p) {
                    const PathLobe& lobe = lobes[p];
                    text += file + "," + std::to_string(channel.channel) + "," + std::to_string(b + 1) + "," +
                            std::to_string(first + 1) + "," + std::to_string(sweeps) + "," + std::to_string(p + 1) +
                            "," + std::to_string(bins[p]);
                    const double delayBins = lobe.centreBin - 1.0;
                    appendField(text, delayBins);
                    appendField(text, lobe.powerDb);
                    if (bandwidth) {
                        if (perBin) {
                            appendField(text, delayBins * *perBin * 1e9);
                            appendField(text, delayBins * *perBin * SpeedOfLightMetresPerSecond);
                        } else {
                            text += ",,";
                        }
                    }
                    if (calibration && ref) {
                        appendField(text, cal::lobeGainDb(lobe.powerDb, gain, attenuation, *ref,
                                                           calibration->throughDb));
                        appendField(text, cal::antennaDelayBins(lobe.centreBin, *ref));
                        if (bandwidth && perBin) {
                            const double ns =
                                cal::antennaDelayNs(lobe.centreBin, *ref, *perBin, calibration->cableDelayNs);
                            appendField(text, ns);
                            appendField(text, ns * 1e-9 * SpeedOfLightMetresPerSecond);
                        } else if (bandwidth) {
                            text += ",,";
                        }
                    }
                    text += "\r\n";
                }
            }
        }
    }
    return text;
}

}  // namespace cli
