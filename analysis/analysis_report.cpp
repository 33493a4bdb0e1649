#include "analysis_report.h"

#include "sounder_version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace cli {

namespace {

enum class Delay { None, Absolute, Excess };

// One metric: its name, its unit, how to read it, and whether it is a delay (then
// also given in ns and m when the bandwidth is known). An absolute delay is that of
// bin k, k - 1 bins; an excess is already a number of bins.
struct Metric {
    const char* name;
    const char* unit;
    std::optional<double> (*get)(const DelayMetrics&);
    Delay delay;
};

template <class T>
std::optional<double> asDouble(const std::optional<T>& value)
{
    return value ? std::optional<double>(double(*value)) : std::nullopt;
}

const Metric Metrics[] = {
    {"noise_floor", "db", [](const DelayMetrics& m) { return m.noiseFloorDb; }, Delay::None},
    {"peak", "bin", [](const DelayMetrics& m) { return asDouble(m.peakBin); }, Delay::Absolute},
    {"peak", "db", [](const DelayMetrics& m) { return m.peakDb; }, Delay::None},
    {"snr", "db", [](const DelayMetrics& m) { return m.snrDb; }, Delay::None},
    {"first_arrival", "bin", [](const DelayMetrics& m) { return asDouble(m.firstArrivalBin); }, Delay::Absolute},
    {"mean_excess", "bins", [](const DelayMetrics& m) { return m.meanExcessBins; }, Delay::Excess},
    {"rms_spread", "bins", [](const DelayMetrics& m) { return m.rmsSpreadBins; }, Delay::Excess},
    {"max_excess_10db", "bins", [](const DelayMetrics& m) { return asDouble(m.maxExcess10Bins); }, Delay::Excess},
    {"max_excess_20db", "bins", [](const DelayMetrics& m) { return asDouble(m.maxExcess20Bins); }, Delay::Excess},
    {"window90", "bins", [](const DelayMetrics& m) { return asDouble(m.window90Bins); }, Delay::Excess},
    {"counted", "bins", [](const DelayMetrics& m) { return std::optional<double>(m.countedBins); }, Delay::None},
    {"paths", "count", [](const DelayMetrics& m) { return std::optional<double>(m.pathCount); }, Delay::None},
};

// A column of the outputs: a metric in its own unit, or a delay in ns or metres.
struct Column {
    const Metric* metric;
    enum class Unit { Own, Nanoseconds, Metres } unit;
    std::string name;
};

std::vector<Column> columnsFor(const AnalysisSettings& settings)
{
    std::vector<Column> columns;
    for (const Metric& m : Metrics) {
        columns.push_back({&m, Column::Unit::Own, std::string(m.name) + "_" + m.unit});
        if (m.delay != Delay::None && settings.bandwidthHz) {
            columns.push_back({&m, Column::Unit::Nanoseconds, std::string(m.name) + "_ns"});
            columns.push_back({&m, Column::Unit::Metres, std::string(m.name) + "_m"});
        }
    }
    return columns;
}

std::optional<double> valueOf(const Column& column, const DelayMetrics& m, std::optional<double> secondsPerBin)
{
    std::optional<double> v = column.metric->get(m);
    if (!v || column.unit == Column::Unit::Own)
        return v;
    if (!secondsPerBin)
        return std::nullopt;
    const double bins = column.metric->delay == Delay::Absolute ? *v - 1.0 : *v;
    const double seconds = bins * *secondsPerBin;
    return column.unit == Column::Unit::Nanoseconds ? seconds * 1e9 : seconds * SpeedOfLightMetresPerSecond;
}

void appendNumber(std::string& text, double value)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    text.append(buffer, end);
}

// A file name as one CSV field: quoted when it holds a comma, a quote or a line end.
std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

QJsonValue jsonNumber(std::optional<double> value) { return value ? QJsonValue(*value) : QJsonValue(); }

// The margin over the floor for a profile averaging `sweeps` sweeps.
double marginFor(DelayMetricsParams params, int64_t sweeps)
{
    params.averagedSweeps = sweeps;
    return effectiveMarginDb(params);
}

}  // namespace

const char* windowName(SampleWindow window)
{
    switch (window) {
    case SampleWindow::Hann:
        return "hann";
    case SampleWindow::Blackman:
        return "blackman";
    case SampleWindow::None:
        break;
    }
    return "none";
}

std::optional<double> quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const double position = q * double(values.size() - 1);
    const size_t below = size_t(std::floor(position));
    const size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = position - double(below);
    return values[below] + (values[above] - values[below]) * fraction;
}

std::string analysisCsv(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings)
{
    const std::vector<Column> columns = columnsFor(settings);
    std::string text = "file,channel,kind,number,first_sweep,sweeps";
    for (const Column& c : columns)
        text += "," + c.name;
    text += "\r\n";
    // Room for the rows as they usually come (some 140 bytes each), made once.
    size_t rows = 0;
    for (const RecordingAnalysis& r : results)
        for (const ChannelAnalysis& channel : r.channels)
            rows += channel.sweeps.size() + channel.blocks.size();
    text.reserve(text.size() + rows * (40 + 12 * columns.size()));
    for (const RecordingAnalysis& r : results) {
        const std::string file = csvField(r.path);
        const std::optional<double> perBin = secondsPerBin(r, settings);
        for (const ChannelAnalysis& channel : r.channels) {
            const auto row = [&](const char* kind, size_t number, int64_t firstSweep, int64_t sweeps,
                                 const DelayMetrics& m) {
                text += file + "," + std::to_string(channel.channel) + "," + kind + "," + std::to_string(number) + "," +
                        std::to_string(firstSweep) + "," + std::to_string(sweeps);
                for (const Column& c : columns) {
                    text += ',';
                    if (const std::optional<double> v = valueOf(c, m, perBin))
                        appendNumber(text, *v);
                }
                text += "\r\n";
            };
            for (size_t s = 0; s < channel.sweeps.size(); ++s)
                row("sweep", s + 1, int64_t(s) + 1, 1, channel.sweeps[s]);
            const int64_t block = settings.blockSweeps;
            for (size_t b = 0; b < channel.blocks.size(); ++b) {
                const int64_t first = int64_t(b) * block;
                row("block", b + 1, first + 1, std::min(block, r.sweeps - first), channel.blocks[b]);
            }
        }
    }
    return text;
}

std::string analysisJson(const std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings)
{
    const DelayMetricsParams& p = settings.metrics;
    QJsonObject parameters{
        {"threshold_db", p.thresholdDb},
        {"margin_db", jsonNumber(p.marginDb)},
        {"false_alarm", p.falseAlarm},
        // The margins applied to a sweep's and to a whole block's profile.
        {"sweep_margin_db", marginFor(p, 1)},
        {"block_margin_db", marginFor(p, settings.blockSweeps)},
        {"noise_bins", QJsonArray{p.noiseFirstBin, p.noiseLastBin}},
        {"delay_bins", QJsonArray{p.firstDelayBin, p.lastDelayBin}},
        {"block_sweeps", settings.blockSweeps},
        {"window", windowName(settings.window)},
        {"bandwidth_hz", jsonNumber(settings.bandwidthHz)},
        {"power_floor", 1e-6},
    };
    const std::vector<Column> columns = columnsFor(settings);
    QJsonArray files;
    for (const RecordingAnalysis& r : results) {
        const std::optional<double> perBin = secondsPerBin(r, settings);
        QJsonArray channels;
        for (const ChannelAnalysis& channel : r.channels) {
            QJsonObject metrics;
            for (const Column& c : columns) {
                std::vector<double> values;
                for (const DelayMetrics& m : channel.blocks)
                    if (const std::optional<double> v = valueOf(c, m, perBin))
                        values.push_back(*v);
                metrics[QString::fromStdString(c.name)] = QJsonObject{
                    {"median", jsonNumber(quantile(values, 0.5))},
                    {"p10", jsonNumber(quantile(values, 0.1))},
                    {"p90", jsonNumber(quantile(values, 0.9))},
                    {"blocks", int(values.size())},
                };
            }
            channels.append(QJsonObject{{"channel", channel.channel},
                                        {"sweeps", qint64(channel.sweeps.size())},
                                        {"blocks", qint64(channel.blocks.size())},
                                        {"metrics", metrics}});
        }
        files.append(QJsonObject{
            {"file", QString::fromStdString(r.path)},
            {"layout", r.viewerLayout ? "viewer" : "acquisition"},
            {"clock_divider", r.viewerLayout ? QJsonValue() : QJsonValue(r.clockDivider)},
            {"samples_per_transform", r.samplesUsed},
            {"seconds_per_bin", jsonNumber(perBin)},
            {"sweeps", qint64(r.sweeps)},
            {"channels", channels},
        });
    }
    const QJsonObject root{
        {"tool", QString("sounder analyze ") + SOUNDER_VERSION},
        {"parameters", parameters},
        {"files", files},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

}  // namespace cli
