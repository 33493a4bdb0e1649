#include "recording_metadata.h"
#include "recording_metadata_json.h"

#include "adc_codes.h"
#include "output_file.h"
#include "runtime_error.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meta {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }
std::string text(const QString& s) { return s.toStdString(); }

QJsonValue optional(const std::optional<int32_t>& v) { return v ? QJsonValue(*v) : QJsonValue(); }
QJsonValue optional(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(); }

}  // namespace

QJsonObject frontEndJson(const FrontEndSent& f)
{
    QJsonArray channels;
    for (int c = 0; c < 3; ++c) {
        const ChannelGainSent& g = f.channels[size_t(c)];
        // Channel c (1-based) has potentiometers 2c - 2 (A) and 2c - 1 (B).
        const int a = 2 * (c + 1) - 2, b = a + 1;
        channels.append(QJsonObject{
            {"channel", c + 1},
            {"requested_gain_db", optional(g.requestedGainDb)},
            {"table_gain_db", optional(g.tableGainDb)},
            {"table_row", g.tableGainDb ? QJsonValue(*g.tableGainDb - 3) : QJsonValue()},
            {"pot_a", QJsonObject{{"number", a}, {"value", optional(f.pots[size_t(a)])}}},
            {"pot_b", QJsonObject{{"number", b}, {"value", optional(f.pots[size_t(b)])}}},
        });
    }
    QJsonArray pots;
    for (const auto& p : f.pots)
        pots.append(optional(p));
    return QJsonObject{
        {"divider_code", optional(f.dividerCode)},
        {"sweep_count", optional(f.sweepCount)},
        {"attenuation_db", optional(f.attenuationDb)},
        {"attenuator_code", optional(f.attenuatorCode)},
        {"channels", channels},
        {"pots", pots},
        {"clocks_per_sweep", optional(f.clocksPerSweep)},
    };
}

QJsonObject settingsJson(const Settings& s)
{
    return QJsonObject{{"num_sweeps", s.numSweeps},
                       {"sweep_samples", s.sweepSamples},
                       {"attenuation", s.attenuation},
                       {"gains", QJsonArray{s.gains[0], s.gains[1], s.gains[2]}},
                       {"clock_divider", s.clockDivider}};
}

namespace {

// ---- Reading --------------------------------------------------------------------------

// Field access that records the first thing wrong and goes on with defaults, so one
// message names the first fault.
class Fields {
public:
    explicit Fields(std::string* error) : error_(error) {}
    bool ok() const { return !failed_; }

    QJsonObject object(const QJsonObject& o, const char* key, const char* where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isObject())
            fail(where, key, "an object");
        return v.toObject();
    }
    QJsonArray array(const QJsonObject& o, const char* key, const char* where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isArray())
            fail(where, key, "an array");
        return v.toArray();
    }
    std::string string(const QJsonObject& o, const char* key, const char* where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString())
            fail(where, key, "a string");
        return text(v.toString());
    }
    std::optional<std::string> optionalString(const QJsonObject& o, const char* key, const char* where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isNull() || v.isUndefined())
            return std::nullopt;
        if (!v.isString())
            fail(where, key, "a string or null");
        return text(v.toString());
    }
    bool boolean(const QJsonObject& o, const char* key, const char* where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isBool())
            fail(where, key, "true or false");
        return v.toBool();
    }
    int64_t integer(const QJsonValue& v, const char* where, const char* key, int64_t low, int64_t high)
    {
        // JSON numbers are doubles: whole numbers up to 2^53 come through exactly. The
        // range is checked before the cast, which is undefined for a double beyond int64.
        const double d = v.toDouble();
        if (!v.isDouble() || !(d >= double(low) && d <= double(high)) || d != std::trunc(d)) {
            fail(where, key, "a whole number in range");
            return 0;
        }
        return int64_t(d);
    }
    int64_t integer(const QJsonObject& o, const char* key, const char* where, int64_t low, int64_t high)
    {
        return integer(o.value(QLatin1String(key)), where, key, low, high);
    }
    void invalid(const char* where, const char* key, const char* what) { fail(where, key, what); }
    double real(const QJsonValue& v, const char* where, const char* key, double low, double high)
    {
        const double d = v.toDouble();
        if (!v.isDouble() || !std::isfinite(d) || d < low || d > high) {
            fail(where, key, "a number in range");
            return 0.0;
        }
        return d;
    }
    std::optional<int32_t> optionalInt(const QJsonObject& o, const char* key, const char* where, int32_t low,
                                       int32_t high)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isNull() || v.isUndefined())
            return std::nullopt;
        return int32_t(integer(v, where, key, low, high));
    }

private:
    void fail(const char* where, const char* key, const char* what)
    {
        if (failed_)
            return;
        failed_ = true;
        if (error_)
            *error_ = std::string(where) + (where[0] ? "." : "") + key + " is not " + what;
    }
    std::string* error_;
    bool failed_ = false;
};

constexpr int64_t Big = int64_t(1) << 53;
constexpr int32_t IntMax = 2147483647;
constexpr int32_t IntMin = -IntMax - 1;

void readFrontEnd(Fields& f, const QJsonObject& o, FrontEndSent& fe)
{
    const char* w = "front_end";
    fe.dividerCode = f.optionalInt(o, "divider_code", w, 0, 255);
    fe.sweepCount = f.optionalInt(o, "sweep_count", w, 0, IntMax);
    fe.attenuationDb = f.optionalInt(o, "attenuation_db", w, 0, 31);
    fe.attenuatorCode = f.optionalInt(o, "attenuator_code", w, 0, 255);
    fe.clocksPerSweep = f.optionalInt(o, "clocks_per_sweep", w, IntMin, IntMax);
    const QJsonArray channels = f.array(o, "channels", w);
    for (int c = 0; c < 3 && c < channels.size(); ++c) {
        const QJsonObject ch = channels.at(c).toObject();
        fe.channels[size_t(c)].requestedGainDb = f.optionalInt(ch, "requested_gain_db", "front_end.channels", IntMin, IntMax);
        fe.channels[size_t(c)].tableGainDb = f.optionalInt(ch, "table_gain_db", "front_end.channels", 3, 70);
    }
    const QJsonArray pots = f.array(o, "pots", w);
    for (int p = 0; p < Pots && p < pots.size(); ++p) {
        const QJsonValue v = pots.at(p);
        if (!v.isNull())
            fe.pots[size_t(p)] = int32_t(f.integer(v, w, "pots", 0, 32));
    }
}

std::optional<double> optionalReal(Fields& f, const QJsonObject& o, const char* key, const char* where, double low,
                                   double high)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isNull() || v.isUndefined())
        return std::nullopt;
    return f.real(v, where, key, low, high);
}

// The ranges a sidecar's position values are read in, and kept in when written.
struct Range {
    double low, high;
    bool holds(double v) const { return std::isfinite(v) && v >= low && v <= high; }
};
constexpr Range LatitudeRange{-90.0, 90.0}, LongitudeRange{-180.0, 180.0}, AltitudeRange{-1e6, 1e8},
    ErrorRange{0.0, 1e9}, SpeedRange{-1e6, 1e6}, TrackRange{-360.0, 360.0}, AgeRange{-1e9, 1e9};

std::optional<Position> readPosition(Fields& f, const QJsonValue& value, const char* where)
{
    if (value.isNull() || value.isUndefined())
        return std::nullopt;
    if (!value.isObject()) {
        f.invalid("position", where + std::strlen("position."), "an object or null");
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    Position p;
    p.latitudeDeg = f.real(o.value("latitude_deg"), where, "latitude_deg", LatitudeRange.low, LatitudeRange.high);
    p.longitudeDeg =
        f.real(o.value("longitude_deg"), where, "longitude_deg", LongitudeRange.low, LongitudeRange.high);
    p.altitudeM = optionalReal(f, o, "altitude_m", where, AltitudeRange.low, AltitudeRange.high);
    p.altitudeMslM = optionalReal(f, o, "altitude_msl_m", where, AltitudeRange.low, AltitudeRange.high);
    const std::string mode = f.string(o, "mode", where);
    if (mode != "2D" && mode != "3D")
        f.invalid(where, "mode", "\"2D\" or \"3D\"");
    p.mode = mode == "3D" ? 3 : 2;
    p.horizontalErrorM = optionalReal(f, o, "horizontal_error_m", where, ErrorRange.low, ErrorRange.high);
    p.verticalErrorM = optionalReal(f, o, "vertical_error_m", where, ErrorRange.low, ErrorRange.high);
    p.speedMps = optionalReal(f, o, "speed_mps", where, SpeedRange.low, SpeedRange.high);
    p.trackDeg = optionalReal(f, o, "track_deg", where, TrackRange.low, TrackRange.high);
    p.gpsTimeUtc = f.optionalString(o, "gps_time_utc", where).value_or(std::string());
    p.ageS = f.real(o.value("age_s"), where, "age_s", AgeRange.low, AgeRange.high);
    return p;
}

}  // namespace

std::optional<Position> positionToRecord(Position p)
{
    if (!LatitudeRange.holds(p.latitudeDeg) || !LongitudeRange.holds(p.longitudeDeg) || (p.mode != 2 && p.mode != 3))
        return std::nullopt;
    const auto keep = [](std::optional<double>& v, Range r) {
        if (v && !r.holds(*v))
            v.reset();
    };
    keep(p.altitudeM, AltitudeRange);
    keep(p.altitudeMslM, AltitudeRange);
    keep(p.horizontalErrorM, ErrorRange);
    keep(p.verticalErrorM, ErrorRange);
    keep(p.speedMps, SpeedRange);
    keep(p.trackDeg, TrackRange);
    p.ageS = AgeRange.holds(p.ageS) ? p.ageS : std::clamp(std::isfinite(p.ageS) ? p.ageS : 0.0, AgeRange.low,
                                                                   AgeRange.high);
    return p;
}

namespace {

void readPositions(Fields& f, const QJsonObject& root, Recording& r)
{
    const QJsonValue position = root.value("position");
    if (!position.isUndefined() && !position.isNull()) {
        const QJsonObject o = f.object(root, "position", "");
        const std::pair<const char*, std::optional<PositionSample>*> moments[] = {
            {"start", &r.positionStart}, {"end", &r.positionEnd}};
        for (const auto& [name, sample] : moments) {
            PositionSample s;
            const std::string where = std::string("position.") + name;
            s.fix = readPosition(f, o.value(QLatin1String(name)), where.c_str());
            const std::string reasonKey = std::string(name) + "_reason";
            s.reason = f.optionalString(o, reasonKey.c_str(), "position").value_or(std::string());
            *sample = s;
        }
    }
    const QJsonValue source = root.value("time_source");
    if (!source.isUndefined() && !source.isNull()) {
        TimeSource t;
        t.source = f.string(root, "time_source", "");
        if (t.source != "gps" && t.source != "system")
            f.invalid("", "time_source", "\"gps\" or \"system\"");
        t.offsetS = optionalReal(f, root, "time_offset_s", "", -1e12, 1e12);
        r.timeSource = t;
    }
}

}  // namespace

void addChannelCodes(const uint16_t* first, int64_t groups, std::array<std::optional<ChannelCodes>, 3>& codes)
{
    if (groups <= 0)
        return;
    CodeRange ranges[3];
    addCodeRanges(first, size_t(groups), 4, ranges);
    for (int c = 0; c < 3; ++c) {
        std::optional<ChannelCodes>& s = codes[size_t(c)];
        if (!s)
            s = ChannelCodes{ranges[c].lowest, ranges[c].highest, 0};
        s->lowest = std::min<int32_t>(s->lowest, ranges[c].lowest);
        s->highest = std::max<int32_t>(s->highest, ranges[c].highest);
        s->clipped += ranges[c].clipped;
    }
}

QJsonObject positionJson(const Position& p)
{
    return QJsonObject{
        {"latitude_deg", p.latitudeDeg},
        {"longitude_deg", p.longitudeDeg},
        {"altitude_m", optional(p.altitudeM)},
        {"altitude_msl_m", optional(p.altitudeMslM)},
        {"mode", p.mode >= 3 ? "3D" : "2D"},
        {"horizontal_error_m", optional(p.horizontalErrorM)},
        {"vertical_error_m", optional(p.verticalErrorM)},
        {"speed_mps", optional(p.speedMps)},
        {"track_deg", optional(p.trackDeg)},
        {"gps_time_utc", p.gpsTimeUtc.empty() ? QJsonValue() : QJsonValue(text(p.gpsTimeUtc))},
        {"age_s", p.ageS},
    };
}

QJsonObject geolocationJson(const Position& p)
{
    QJsonArray coordinates{p.longitudeDeg, p.latitudeDeg};
    if (p.altitudeM)
        coordinates.append(*p.altitudeM);
    return QJsonObject{{"type", "Point"}, {"coordinates", coordinates}};
}

std::optional<QJsonObject> recordingGeolocation(const Recording& r)
{
    for (const auto* sample : {&r.positionStart, &r.positionEnd})
        if (*sample && (*sample)->fix)
            return geolocationJson(*(*sample)->fix);
    return std::nullopt;
}

TimeSource timeSourceFor(const PositionSample& sample, double systemSeconds)
{
    TimeSource t;
    if (!sample.fix || sample.fix->gpsTimeUtc.empty())
        return t;
    const QDateTime gps = QDateTime::fromString(text(sample.fix->gpsTimeUtc), Qt::ISODateWithMs);
    if (!gps.isValid())
        return t;
    // The fix was made ageS before it was taken, when the system clock read systemSeconds.
    const double gpsSeconds = double(gps.toMSecsSinceEpoch()) / 1000.0 + sample.fix->ageS;
    t.offsetS = systemSeconds - gpsSeconds;
    if (std::abs(*t.offsetS) <= 1.0)
        t.source = "gps";
    return t;
}

namespace {

void addPositions(const Recording& r, QJsonObject& root)
{
    if (r.positionStart || r.positionEnd) {
        QJsonObject position;
        const std::pair<const char*, const std::optional<PositionSample>*> moments[] = {
            {"start", &r.positionStart}, {"end", &r.positionEnd}};
        for (const auto& [name, sample] : moments) {
            const bool fix = *sample && (*sample)->fix;
            position.insert(QLatin1String(name), fix ? QJsonValue(positionJson(*(*sample)->fix)) : QJsonValue());
            position.insert(QLatin1String(name) + QLatin1String("_reason"),
                            fix || !*sample ? QJsonValue() : QJsonValue(text((*sample)->reason)));
        }
        root.insert("position", position);
    }
    if (r.timeSource) {
        root.insert("time_source", text(r.timeSource->source));
        root.insert("time_offset_s", optional(r.timeSource->offsetS));
    }
}

}  // namespace

QJsonObject recordingJson(const Recording& r)
{
    QJsonArray starts;
    for (const int64_t s : r.sweepStartGroups)
        starts.append(qint64(s));
    QJsonArray codes;
    for (int c = 0; c < 3; ++c) {
        const auto& s = r.result.channels[size_t(c)];
        codes.append(s ? QJsonObject{{"channel", c + 1},
                                     {"lowest_code", s->lowest},
                                     {"highest_code", s->highest},
                                     {"clipped", qint64(s->clipped)}}
                       : QJsonObject{{"channel", c + 1}, {"lowest_code", QJsonValue()},
                                     {"highest_code", QJsonValue()}, {"clipped", 0}});
    }
    QJsonObject root{
        {"schema", Schema},
        {"software", QJsonObject{{"name", text(r.softwareName)}, {"version", text(r.softwareVersion)}}},
        {"board_library", QJsonObject{{"path", text(r.boardLibraryPath)}, {"simulated", r.boardLibrarySimulated}}},
        {"scan_started_utc", text(r.scanStartedUtc)},
        {"written_utc", text(r.writtenUtc)},
        {"recording", text(r.recordingFile)},
        {"settings", settingsJson(r.settings)},
        {"front_end", frontEndJson(r.frontEnd)},
        {"scan", QJsonObject{{"samples", qint64(r.scan.samples)},
                             {"scan_rate_hz", r.scan.scanRateHz},
                             {"channels", QJsonArray{"ch 1", "ch 2", "ch 3", "marker"}},
                             {"range_volts", QJsonArray{-5, 5}},
                             {"code_bits", 12},
                             {"code_to_volts", "(code - 2048) / 2048 * 5"},
                             {"marker_threshold_code", r.scan.markerThreshold},
                             {"samples_per_sweep", r.scan.samplesPerSweep}}},
        {"sweeps", QJsonObject{{"requested", r.sweepsRequested},
                               {"written", qint64(r.sweepStartGroups.size())},
                               {"start_groups", starts}}},
        {"result", QJsonObject{{"status", text(r.result.status)},
                               {"reason", r.result.reason ? QJsonValue(text(*r.result.reason)) : QJsonValue()},
                               {"lines", qint64(r.result.lines)},
                               {"bytes", qint64(r.result.bytes)},
                               {"sha256", text(r.result.sha256)},
                               {"channels", codes}}},
    };
    addPositions(r, root);
    return root;
}

std::string toJson(const Recording& r)
{
    return QJsonDocument(recordingJson(r)).toJson(QJsonDocument::Indented).toStdString();
}

std::optional<Recording> fromJson(const std::string& json, std::string* error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &parseError);
    if (document.isNull() || !document.isObject()) {
        if (error)
            *error = document.isNull() ? "not JSON (" + text(parseError.errorString()) + " at byte " +
                                             std::to_string(parseError.offset) + ")"
                                       : "not a JSON object";
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root.value("schema").toString() != QLatin1String(Schema)) {
        if (error)
            *error = std::string("schema is not \"") + Schema + "\"";
        return std::nullopt;
    }
    Fields f(error);
    Recording r;
    const QJsonObject software = f.object(root, "software", "");
    r.softwareName = f.string(software, "name", "software");
    r.softwareVersion = f.string(software, "version", "software");
    const QJsonObject board = f.object(root, "board_library", "");
    r.boardLibraryPath = f.string(board, "path", "board_library");
    r.boardLibrarySimulated = f.boolean(board, "simulated", "board_library");
    r.scanStartedUtc = f.string(root, "scan_started_utc", "");
    r.writtenUtc = f.string(root, "written_utc", "");
    r.recordingFile = f.string(root, "recording", "");

    const QJsonObject settings = f.object(root, "settings", "");
    r.settings.numSweeps = int32_t(f.integer(settings, "num_sweeps", "settings", IntMin, IntMax));
    r.settings.sweepSamples = int32_t(f.integer(settings, "sweep_samples", "settings", IntMin, IntMax));
    r.settings.attenuation = int32_t(f.integer(settings, "attenuation", "settings", IntMin, IntMax));
    r.settings.clockDivider = int32_t(f.integer(settings, "clock_divider", "settings", IntMin, IntMax));
    const QJsonArray gains = f.array(settings, "gains", "settings");
    for (int c = 0; c < 3; ++c)
        r.settings.gains[size_t(c)] = int32_t(f.integer(gains.at(c), "settings", "gains", IntMin, IntMax));

    readFrontEnd(f, f.object(root, "front_end", ""), r.frontEnd);

    const QJsonObject scan = f.object(root, "scan", "");
    r.scan.samples = f.integer(scan, "samples", "scan", 0, Big);
    r.scan.scanRateHz = int32_t(f.integer(scan, "scan_rate_hz", "scan", 0, IntMax));
    r.scan.samplesPerSweep = int32_t(f.integer(scan, "samples_per_sweep", "scan", 0, IntMax));
    r.scan.markerThreshold = int32_t(f.integer(scan, "marker_threshold_code", "scan", 0, 65535));

    const QJsonObject sweeps = f.object(root, "sweeps", "");
    r.sweepsRequested = int32_t(f.integer(sweeps, "requested", "sweeps", IntMin, IntMax));
    const QJsonArray starts = f.array(sweeps, "start_groups", "sweeps");
    r.sweepStartGroups.reserve(size_t(starts.size()));
    for (const QJsonValue& v : starts)
        r.sweepStartGroups.push_back(f.integer(v, "sweeps", "start_groups", 0, Big));

    const QJsonObject result = f.object(root, "result", "");
    r.result.status = f.string(result, "status", "result");
    r.result.reason = f.optionalString(result, "reason", "result");
    r.result.lines = f.integer(result, "lines", "result", 0, Big);
    r.result.bytes = uint64_t(f.integer(result, "bytes", "result", 0, Big));
    r.result.sha256 = f.string(result, "sha256", "result");
    const QJsonArray codes = f.array(result, "channels", "result");
    for (int c = 0; c < 3 && c < codes.size(); ++c) {
        const QJsonObject o = codes.at(c).toObject();
        const std::optional<int32_t> low = f.optionalInt(o, "lowest_code", "result.channels", 0, 65535);
        const std::optional<int32_t> high = f.optionalInt(o, "highest_code", "result.channels", 0, 65535);
        if (low && high)
            r.result.channels[size_t(c)] =
                ChannelCodes{*low, *high, f.integer(o, "clipped", "result.channels", 0, Big)};
    }
    readPositions(f, root, r);
    if (!f.ok())
        return std::nullopt;
    return r;
}

std::optional<Recording> readSidecar(const std::string& path, std::string* error)
{
    // A sidecar is a few kilobytes; anything far larger is not one.
    constexpr uint64_t Limit = uint64_t(64) << 20;
    auto failed = [error](const std::string& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // Not blocking: a named pipe under the sidecar's name would hold the open until some
    // writer came, and it is refused below as what it is, not a file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return failed(rt::ioErrorText(rt::ioCodeFromOpenErrno(errno, path)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        return failed(rt::ioErrorText(rt::ioCodeFromErrno(errno)));
    if (!S_ISREG(info.st_mode))
        return failed("not a file");
    if (uint64_t(info.st_size) > Limit)
        return failed("too large for a sidecar");
    std::string text;
    if (const int code = rt::readAllUpTo(fd, Limit, text))
        return failed(code < 0 ? "too large for a sidecar" : rt::ioErrorText(code));
    return fromJson(text, error);
}

std::string sidecarPath(const std::string& recordingPath) { return recordingPath + SidecarSuffix; }

std::string writeSidecar(const std::string& path, const Recording& recording)
{
    try {
        const std::string json = toJson(recording);
        OutputFile file(path);
        file.write(json);
        file.commit();
        return {};
    } catch (const rt::InOutError& e) {
        return rt::ioErrorText(e.code());
    }
}

}  // namespace meta
