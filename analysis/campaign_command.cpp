#include "campaign_command.h"

#include "analysis_report.h"
#include "cli_support.h"
#include "csv_text.h"
#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// Whether an output goes to the standard output: "-", or a name of the file it is. The
// null device is not taken for it: with both sent there, nothing is to be kept apart.
bool writesStandardOutput(const std::string& path)
{
    if (path == "-")
        return true;
    struct stat named {}, out {}, null {};
    if (path.empty() || ::stat(path.c_str(), &named) != 0 || ::fstat(STDOUT_FILENO, &out) != 0)
        return false;
    if (S_ISCHR(named.st_mode) && ::stat("/dev/null", &null) == 0 && null.st_rdev == named.st_rdev)
        return false;
    return named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

void appendOptional(std::string& text, std::optional<double> value)
{
    if (value)
        appendNumber(text, *value);
}

// printf's text of any length: a file name or a number of hundreds of digits is
// written whole, never cut at a buffer's end.
template <typename... Args>
std::string formatted(const char* format, Args... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
        return {};
    std::string text(size_t(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(size_t(length));
    return text;
}

}  // namespace

std::function<std::optional<double>(const RecordingAnalysis&)> calibratedPathGain(const cal::Calibration& calibration,
                                                                                int channel)
{
    return [calibration, channel](const RecordingAnalysis& r) -> std::optional<double> {
        const cal::ChannelReference* reference = calibration.channel(channel);
        if (!reference || !r.levels || channel < 1 || channel > 3)
            return std::nullopt;
        const std::optional<double> gainDb = r.levels->gainDb[size_t(channel - 1)];
        if (!gainDb)
            return std::nullopt;
        for (const ChannelAnalysis& ch : r.channels) {
            if (ch.channel != channel)
                continue;
            std::vector<double> gains;
            for (const DelayMetrics& m : ch.blocks)
                if (m.countedPowerDb)
                    gains.push_back(cal::pathGainDb(*m.countedPowerDb, *gainDb, r.levels->attenuationDb, *reference,
                                                    calibration.throughDb));
            return quantile(gains, 0.5);
        }
        return std::nullopt;
    };
}

Campaign buildCampaign(const std::vector<RecordingAnalysis>& results, const std::vector<RecordingPlace>& places,
                       const CampaignSettings& settings)
{
    Campaign c;
    std::vector<PathGainPoint> points;
    for (size_t i = 0; i < results.size(); ++i) {
        const RecordingAnalysis& r = results[i];
        CampaignRow row;
        row.file = r.path;
        row.place = i < places.size() ? places[i] : RecordingPlace{};
        if (row.place.position)
            row.distance = distancesFrom(settings.origin, *row.place.position);
        for (const ChannelAnalysis& channel : r.channels) {
            std::vector<double> spreads;
            for (const DelayMetrics& m : channel.blocks)
                if (m.rmsSpreadBins)
                    spreads.push_back(*m.rmsSpreadBins);
            if (channel.channel >= 1 && channel.channel <= 3)
                row.medianRmsSpreadBins[size_t(channel.channel - 1)] = quantile(spreads, 0.5);
        }
        if (settings.pathGain)
            row.pathGainDb = settings.pathGain(r);
        // A recording at the transmitter has no log distance: it stays in the table and
        // out of the fit, which the others still make.
        const bool atOrigin = row.distance && !(row.distance->geodesicM > 0.0);
        if (!row.place.position)
            row.note = row.place.note;
        else if (atOrigin)
            row.note = "at the origin (distance 0 m): no log distance to fit";
        else if (settings.pathGain && !row.pathGainDb)
            row.note = "no path gain";
        row.inFit = row.distance && !atOrigin && row.pathGainDb;
        if (row.inFit)
            points.push_back({row.distance->geodesicM, *row.pathGainDb});
        c.rows.push_back(std::move(row));
    }
    if (!settings.pathGain)
        c.fitNote = "no path gain: no calibration given";
    else
        c.fit = fitPathLoss(points, &c.fitNote);
    return c;
}

std::string campaignCsv(const Campaign& c, const CampaignSettings& settings)
{
    std::string text = "file,time_utc,time_source,latitude,longitude,altitude_m,distance_m,straight_distance_m,"
                       "median_rms_spread_bins_ch1,median_rms_spread_bins_ch2,median_rms_spread_bins_ch3,"
                       "path_gain_db,in_fit,note\r\n";
    (void)settings;
    for (const CampaignRow& row : c.rows) {
        const std::optional<meta::Position>& p = row.place.position;
        text += csvField(row.file) + "," + csvField(row.place.timeUtc) + "," + csvField(row.place.timeSource) + ",";
        appendOptional(text, p ? std::optional<double>(p->latitudeDeg) : std::nullopt);
        text += ',';
        appendOptional(text, p ? std::optional<double>(p->longitudeDeg) : std::nullopt);
        text += ',';
        appendOptional(text, p ? p->altitudeM : std::nullopt);
        text += ',';
        appendOptional(text, row.distance ? std::optional<double>(row.distance->geodesicM) : std::nullopt);
        text += ',';
        appendOptional(text, row.distance ? row.distance->straightM : std::nullopt);
        for (const std::optional<double>& s : row.medianRmsSpreadBins) {
            text += ',';
            appendOptional(text, s);
        }
        text += ',';
        appendOptional(text, row.pathGainDb);
        text += row.inFit ? ",yes," : ",no,";
        text += csvField(row.note) + "\r\n";
    }
    return text;
}

std::string campaignSummary(const Campaign& c, const CampaignSettings& settings)
{
    std::string text =
        formatted("origin %.7f, %.7f", settings.origin.latitudeDeg, settings.origin.longitudeDeg);
    if (settings.origin.altitudeM)
        text += formatted(", %.1f m", *settings.origin.altitudeM);
    text += "; " + std::to_string(c.rows.size()) + (c.rows.size() == 1 ? " recording\n" : " recordings\n");
    if (c.fit) {
        text += formatted("fit over %d recordings (path gain from %s): path-loss exponent n = %.3f, path gain at 1 m "
                          "%.2f dB (PL0 %.2f dB), residual standard deviation %.2f dB\n",
                          c.fit->points, printable(settings.pathGainSource).c_str(), c.fit->exponent,
                          c.fit->interceptGainDb, -c.fit->interceptGainDb, c.fit->residualStdDb);
    } else {
        text += "fit not made: " + printable(c.fitNote) + "\n";
    }
    // File names and a sidecar's reasons are shown as every message shows them: a
    // control character or a line end in them neither acts on the terminal nor makes a
    // line of its own.
    for (const CampaignRow& row : c.rows)
        if (!row.place.position || (row.distance && !(row.distance->geodesicM > 0.0)))
            text += "left out: " + printable(row.file) + " (" + printable(row.note) + ")\n";
    return text;
}

int runCampaign(const std::vector<std::string>& files, const CampaignSettings& settings, const CampaignDrawer& draw)
{
    std::vector<FileAnalysis> outcomes = analyzeFiles(files, settings.analysis);
    if (!allAnalyzed(outcomes))
        return ExitBadInput;
    std::vector<RecordingAnalysis> results;
    std::vector<RecordingPlace> places;
    for (FileAnalysis& o : outcomes) {
        places.push_back(o.result->place);
        results.push_back(std::move(*o.result));
    }
    if (!applyCalibration(results, settings.analysis, settings.pathGainChannel))
        return ExitBadInput;
    const Campaign campaign = buildCampaign(results, places, settings);

    // The table and the plot stand together or not at all.
    OutputGroup outputs;
    outputs.add(settings.csvPath, campaignCsv(campaign, settings));
    if (!settings.plotPath.empty())
        outputs.add(settings.plotPath, draw(campaign, settings));
    outputs.commit();
    // An output on the standard output has it to itself, whether named "-" or by a name of
    // the file the standard output is (/dev/stdout, /dev/fd/1).
    std::FILE* summary =
        writesStandardOutput(settings.csvPath) || writesStandardOutput(settings.plotPath) ? stderr : stdout;
    std::fflush(stdout);
    std::fprintf(summary, "%s", campaignSummary(campaign, settings).c_str());
    return ExitOk;
}

}  // namespace cli
