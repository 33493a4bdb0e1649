#include "analysis_report.h"

#include "csv_text.h"
#include "recording_metadata_json.h"
#include "sounder_version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

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



QJsonValue jsonNumber(std::optional<double> value) { return value ? QJsonValue(*value) : QJsonValue(); }

// What a calibrated column is computed from: a row's metrics and strongest lobe, and
// the channel's reference and levels.
struct CalibratedRow {
    const DelayMetrics& metrics;
    const std::optional<PathLobe>& peakLobe;
    const cal::ChannelReference& reference;
    const cal::Calibration& calibration;
    double gainDb;
    double attenuationDb;
    std::optional<double> secondsPerBin;
};

struct CalibratedColumn {
    std::string name;
    std::function<std::optional<double>(const CalibratedRow&)> get;
};

// A delay from the antenna of (fractional) bin k, in bins, ns or metres.
enum class DelayUnit { Bins, Nanoseconds, Metres };
std::optional<double> antennaDelay(std::optional<double> bin, const CalibratedRow& row, DelayUnit unit)
{
    if (!bin)
        return std::nullopt;
    if (unit == DelayUnit::Bins)
        return cal::antennaDelayBins(*bin, row.reference);
    if (!row.secondsPerBin)
        return std::nullopt;
    const double ns = cal::antennaDelayNs(*bin, row.reference, *row.secondsPerBin, row.calibration.cableDelayNs);
    return unit == DelayUnit::Nanoseconds ? ns : ns * 1e-9 * SpeedOfLightMetresPerSecond;
}

std::vector<CalibratedColumn> calibratedColumnsFor(const AnalysisSettings& settings)
{
    std::vector<CalibratedColumn> columns;
    if (!settings.calibration)
        return columns;
    columns.push_back({"path_gain_db", [](const CalibratedRow& r) -> std::optional<double> {
                           if (!r.metrics.countedPowerDb)
                               return std::nullopt;
                           return cal::pathGainDb(*r.metrics.countedPowerDb, r.gainDb, r.attenuationDb, r.reference,
                                                  r.calibration.throughDb);
                       }});
    columns.push_back({"peak_gain_db", [](const CalibratedRow& r) -> std::optional<double> {
                           if (!r.peakLobe)
                               return std::nullopt;
                           return cal::lobeGainDb(r.peakLobe->powerDb, r.gainDb, r.attenuationDb, r.reference,
                                                  r.calibration.throughDb);
                       }});
    std::vector<DelayUnit> units{DelayUnit::Bins};
    if (settings.bandwidthHz)
        units.insert(units.end(), {DelayUnit::Nanoseconds, DelayUnit::Metres});
    const auto suffix = [](DelayUnit u) { return u == DelayUnit::Bins ? "_bins" : u == DelayUnit::Nanoseconds ? "_ns" : "_m"; };
    for (DelayUnit u : units)
        columns.push_back({std::string("peak_antenna_delay") + suffix(u), [u](const CalibratedRow& r) {
                               return antennaDelay(r.peakLobe ? std::optional<double>(r.peakLobe->centreBin)
                                                              : std::nullopt,
                                                   r, u);
                           }});
    for (DelayUnit u : units)
        columns.push_back({std::string("first_arrival_antenna_delay") + suffix(u), [u](const CalibratedRow& r) {
                               return antennaDelay(asDouble(r.metrics.firstArrivalBin), r, u);
                           }});
    return columns;
}

// The calibration's reference and the levels of one channel of a recording, or
// nothing without a calibration.
struct ChannelCalibration {
    const cal::ChannelReference* reference = nullptr;
    double gainDb = 0;
    double attenuationDb = 0;
};

ChannelCalibration channelCalibration(const RecordingAnalysis& r, int channel, const AnalysisSettings& settings)
{
    ChannelCalibration c;
    if (!settings.calibration || !r.levels)
        return c;
    c.reference = settings.calibration->channel(channel);
    c.gainDb = r.levels->gainDb[size_t(channel - 1)].value_or(0.0);
    c.attenuationDb = r.levels->attenuationDb;
    return c;
}

const std::optional<PathLobe> NoLobe;

const std::optional<PathLobe>& lobeAt(const std::vector<std::optional<PathLobe>>& lobes, size_t i)
{
    return i < lobes.size() ? lobes[i] : NoLobe;
}

// ---- Where each recording was made (last columns, the same on every row of a file) ----

std::string placeHeader(const AnalysisSettings& settings)
{
    std::string text = ",latitude,longitude,altitude_m";
    if (settings.origin)
        text += settings.origin->altitudeM ? ",distance_m,straight_distance_m" : ",distance_m";
    return text;
}

std::string placeFields(const RecordingPlace& place, const AnalysisSettings& settings)
{
    std::string text;
    const auto field = [&text](std::optional<double> v) {
        text += ',';
        if (v)
            appendNumber(text, *v);
    };
    const std::optional<meta::Position>& p = place.position;
    field(p ? std::optional<double>(p->latitudeDeg) : std::nullopt);
    field(p ? std::optional<double>(p->longitudeDeg) : std::nullopt);
    field(p ? p->altitudeM : std::nullopt);
    if (settings.origin) {
        const std::optional<Distances> d = p ? std::optional<Distances>(distancesFrom(*settings.origin, *p)) : std::nullopt;
        field(d ? std::optional<double>(d->geodesicM) : std::nullopt);
        if (settings.origin->altitudeM)
            field(d ? d->straightM : std::nullopt);
    }
    return text;
}

QJsonObject placeJson(const RecordingPlace& place, const AnalysisSettings& settings)
{
    QJsonObject o{{"position", place.position ? QJsonValue(meta::positionJson(*place.position)) : QJsonValue()},
                  {"position_note", place.note.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(place.note))}};
    if (settings.origin) {
        const std::optional<Distances> d =
            place.position ? std::optional<Distances>(distancesFrom(*settings.origin, *place.position)) : std::nullopt;
        o.insert("distance_m", jsonNumber(d ? std::optional<double>(d->geodesicM) : std::nullopt));
        o.insert("straight_distance_m", jsonNumber(d ? d->straightM : std::nullopt));
    }
    return o;
}

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
    const std::vector<CalibratedColumn> calibrated = calibratedColumnsFor(settings);
    std::string text = "file,channel,kind,number,first_sweep,sweeps";
    for (const Column& c : columns)
        text += "," + c.name;
    for (const CalibratedColumn& c : calibrated)
        text += "," + c.name;
    text += placeHeader(settings);
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
        const std::string place = placeFields(r.place, settings);
        for (const ChannelAnalysis& channel : r.channels) {
            const ChannelCalibration calibration = channelCalibration(r, channel.channel, settings);
            const auto row = [&](const char* kind, size_t number, int64_t firstSweep, int64_t sweeps,
                                 const DelayMetrics& m, const std::optional<PathLobe>& lobe) {
                text += file + "," + std::to_string(channel.channel) + "," + kind + "," + std::to_string(number) + "," +
                        std::to_string(firstSweep) + "," + std::to_string(sweeps);
                for (const Column& c : columns) {
                    text += ',';
                    if (const std::optional<double> v = valueOf(c, m, perBin))
                        appendNumber(text, *v);
                }
                if (calibration.reference) {
                    const CalibratedRow cr{m, lobe, *calibration.reference, *settings.calibration,
                                           calibration.gainDb, calibration.attenuationDb, perBin};
                    for (const CalibratedColumn& c : calibrated) {
                        text += ',';
                        if (const std::optional<double> v = c.get(cr))
                            appendNumber(text, *v);
                    }
                }
                text += place;
                text += "\r\n";
            };
            for (size_t s = 0; s < channel.sweeps.size(); ++s)
                row("sweep", s + 1, int64_t(s) + 1, 1, channel.sweeps[s], lobeAt(channel.sweepPeakLobes, s));
            const int64_t block = settings.blockSweeps;
            for (size_t b = 0; b < channel.blocks.size(); ++b) {
                const int64_t first = int64_t(b) * block;
                row("block", b + 1, first + 1, std::min(block, r.sweeps - first), channel.blocks[b],
                    lobeAt(channel.blockPeakLobes, b));
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
        // The probability the margin was derived from; none where it was given in dB.
        {"false_alarm", p.marginDb ? QJsonValue() : QJsonValue(p.falseAlarm)},
        // The margins applied to a sweep's and to a whole block's profile.
        {"sweep_margin_db", marginFor(p, 1)},
        {"block_margin_db", marginFor(p, settings.blockSweeps)},
        {"noise_bins", QJsonArray{p.noiseFirstBin, p.noiseLastBin}},
        {"delay_bins", QJsonArray{p.firstDelayBin, p.lastDelayBin}},
        {"block_sweeps", settings.blockSweeps},
        {"window", windowName(settings.window)},
        {"bandwidth_hz", jsonNumber(settings.bandwidthHz)},
        {"origin", settings.origin ? QJsonValue(QJsonArray{settings.origin->latitudeDeg, settings.origin->longitudeDeg,
                                                           jsonNumber(settings.origin->altitudeM)})
                                   : QJsonValue()},
        {"power_floor", 1e-6},
    };
    if (settings.calibration) {
        const cal::Calibration& c = *settings.calibration;
        parameters["calibration"] = QJsonObject{{"file", QString::fromStdString(settings.calibrationPath)},
                                                {"made_utc", QString::fromStdString(c.madeUtc)},
                                                {"clock_divider", c.clockDivider},
                                                {"through_db", c.throughDb},
                                                {"cable_delay_ns", c.cableDelayNs}};
    }
    const std::vector<CalibratedColumn> calibrated = calibratedColumnsFor(settings);
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
            QJsonObject entry{{"channel", channel.channel},
                              {"sweeps", qint64(channel.sweeps.size())},
                              {"blocks", qint64(channel.blocks.size())}};
            const ChannelCalibration calibration = channelCalibration(r, channel.channel, settings);
            if (calibration.reference) {
                for (const CalibratedColumn& c : calibrated) {
                    std::vector<double> values;
                    for (size_t b = 0; b < channel.blocks.size(); ++b) {
                        const CalibratedRow cr{channel.blocks[b], lobeAt(channel.blockPeakLobes, b),
                                               *calibration.reference, *settings.calibration,
                                               calibration.gainDb, calibration.attenuationDb, perBin};
                        if (const std::optional<double> v = c.get(cr))
                            values.push_back(*v);
                    }
                    metrics[QString::fromStdString(c.name)] = QJsonObject{
                        {"median", jsonNumber(quantile(values, 0.5))},
                        {"p10", jsonNumber(quantile(values, 0.1))},
                        {"p90", jsonNumber(quantile(values, 0.9))},
                        {"blocks", int(values.size())},
                    };
                }
                entry["gain_db"] = calibration.gainDb;
                entry["attenuation_db"] = calibration.attenuationDb;
            }
            entry["metrics"] = metrics;
            channels.append(entry);
        }
        QJsonObject file{
            {"file", QString::fromStdString(r.path)},
            {"layout", r.viewerLayout ? "viewer" : "acquisition"},
            {"clock_divider", r.viewerLayout ? QJsonValue() : QJsonValue(r.clockDivider)},
            {"samples_per_transform", r.samplesUsed},
            {"seconds_per_bin", jsonNumber(perBin)},
            {"sweeps", qint64(r.sweeps)},
            {"channels", channels},
        };
        if (r.levels)
            file["levels_from"] = r.levels->fromSidecar ? "sidecar" : "header";
        file.insert("place", placeJson(r.place, settings));
        files.append(file);
    }
    const QJsonObject root{
        {"tool", QString("sounder analyze ") + SOUNDER_VERSION},
        {"parameters", parameters},
        {"files", files},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

}  // namespace cli
