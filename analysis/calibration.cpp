#include "calibration.h"

#include "cli_support.h"
#include "recording_metadata.h"
#include "runtime_error.h"
#include "text_io.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cal {

namespace {

QJsonObject channelJson(const ChannelReference& c)
{
    return {{"channel", c.channel},
            {"reference_db", c.referenceDb},
            {"peak_reference_db", c.peakReferenceDb},
            {"delay_bins", c.delayBins},
            {"snr_db", c.snrDb}};
}

// Reads fields of one object, the first fault kept.
class Reader {
public:
    Reader(const QJsonObject& o, std::string where) : o_(o), where_(std::move(where)) {}
    bool ok() const { return fault_.empty(); }
    const std::string& fault() const { return fault_; }

    double number(const char* name, double low, double high)
    {
        const QJsonValue v = o_.value(name);
        if (!v.isDouble()) {
            fail(std::string("\"") + name + "\" must be a number");
            return 0;
        }
        const double x = v.toDouble();
        // Out of range it reads as the lowest value allowed, which every caller may
        // turn into an integer, as it may not 1e300.
        if (!std::isfinite(x) || x < low || x > high) {
            fail(std::string("\"") + name + "\" is out of range");
            return low;
        }
        return x;
    }
    std::string text(const char* name)
    {
        const QJsonValue v = o_.value(name);
        if (!v.isString()) {
            fail(std::string("\"") + name + "\" must be a text");
            return {};
        }
        return v.toString().toStdString();
    }
    QJsonArray array(const char* name)
    {
        const QJsonValue v = o_.value(name);
        if (!v.isArray())
            fail(std::string("\"") + name + "\" must be a list");
        return v.toArray();
    }
    void fail(const std::string& what)
    {
        if (fault_.empty())
            fault_ = (where_.empty() ? std::string() : where_ + ": ") + what;
    }

private:
    QJsonObject o_;
    std::string where_;
    std::string fault_;
};

}  // namespace

const ChannelReference* Calibration::channel(int number) const
{
    for (const ChannelReference& c : channels)
        if (c.channel == number)
            return &c;
    return nullptr;
}

std::string toJson(const Calibration& c)
{
    QJsonArray inputs;
    for (const Input& i : c.inputs)
        inputs.append(QJsonObject{{"file", QString::fromStdString(i.file)},
                                  {"sha256", QString::fromStdString(i.sha256)},
                                  {"levels_from", QString::fromStdString(i.levelsFrom)}});
    QJsonArray channels;
    for (const ChannelReference& ch : c.channels)
        channels.append(channelJson(ch));
    const QJsonObject root{
        {"schema", Schema},
        {"tool", QString::fromStdString(c.tool)},
        {"made_utc", QString::fromStdString(c.madeUtc)},
        {"inputs", inputs},
        {"clock_divider", c.clockDivider},
        {"through_db", c.throughDb},
        {"cable_delay_ns", c.cableDelayNs},
        {"processing", QJsonObject{{"window", QString::fromStdString(c.window)},
                                   {"threshold_db", c.thresholdDb},
                                   {"margin_db", c.marginDb}}},
        {"channels", channels},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool isCalibrationText(const std::string& text)
{
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(text));
    return d.isObject() && d.object().value("schema").toString() == Schema;
}

std::optional<Calibration> fromJson(const std::string& text, std::string* error)
{
    const auto refuse = [&](const std::string& what) -> std::optional<Calibration> {
        if (error)
            *error = what;
        return std::nullopt;
    };
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return refuse("not JSON (" + parseError.errorString().toStdString() + " at byte " +
                      std::to_string(parseError.offset) + ")");
    if (!document.isObject())
        return refuse("not a calibration (no JSON object)");
    const QJsonObject root = document.object();
    if (root.value("schema").toString() != Schema)
        return refuse(std::string("not a calibration (schema is not \"") + Schema + "\")");
    Calibration c;
    Reader r(root, "");
    c.tool = r.text("tool");
    c.madeUtc = r.text("made_utc");
    const double divider = r.number("clock_divider", 2, 4);
    c.clockDivider = int(divider);
    if (r.ok() && divider != 2 && divider != 4)
        r.fail("\"clock_divider\" must be 2 or 4");
    c.throughDb = r.number("through_db", 0, 400);
    c.cableDelayNs = r.number("cable_delay_ns", -1e9, 1e9);
    for (const QJsonValue& v : r.array("inputs")) {
        Reader in(v.toObject(), "inputs");
        if (!v.isObject())
            in.fail("each input must be an object");
        c.inputs.push_back({in.text("file"), in.text("sha256"), in.text("levels_from")});
        if (!in.ok())
            r.fail(in.fault());
    }
    Reader p(root.value("processing").toObject(), "processing");
    if (!root.value("processing").isObject())
        r.fail("\"processing\" must be an object");
    c.window = p.text("window");
    c.thresholdDb = p.number("threshold_db", 0, 1e6);
    c.marginDb = p.number("margin_db", 0, 1e6);
    if (!p.ok())
        r.fail(p.fault());
    const QJsonArray channels = r.array("channels");
    if (r.ok() && channels.isEmpty())
        r.fail("\"channels\" holds no channel");
    for (const QJsonValue& v : channels) {
        Reader ch(v.toObject(), "channels");
        if (!v.isObject())
            ch.fail("each channel must be an object");
        ChannelReference ref;
        const double number = ch.number("channel", 1, 3);
        ref.channel = int(number);
        if (ch.ok() && number != double(ref.channel))
            ch.fail("\"channel\" must be 1, 2 or 3");
        ref.referenceDb = ch.number("reference_db", -1e4, 1e4);
        ref.peakReferenceDb = ch.number("peak_reference_db", -1e4, 1e4);
        ref.delayBins = ch.number("delay_bins", 1, 4096);
        ref.snrDb = ch.number("snr_db", -1e4, 1e4);
        if (ch.ok() && c.channel(ref.channel))
            ch.fail("channel " + std::to_string(ref.channel) + " given twice");
        if (!ch.ok())
            r.fail(ch.fault());
        c.channels.push_back(ref);
    }
    if (!r.ok())
        return refuse(r.fault());
    return c;
}

std::optional<Calibration> readCalibration(const std::string& path, std::string* error)
{
    // A calibration is a few kilobytes; anything far larger is not one.
    constexpr size_t Limit = size_t(4) << 20;
    const auto refuse = [error](const std::string& why) -> std::optional<Calibration> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // Named as every input is: a missing folder, a folder or a device names no file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return refuse(rt::ioErrorText(rt::ioCodeFromOpenErrno(errno, path)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (!rt::readsAsFile(fd))
        return refuse(rt::ioErrorText(rt::ioCodeFromErrno(EISDIR)));
    std::string text;
    if (const int code = rt::readAllUpTo(fd, Limit, text))
        return refuse(code < 0 ? "over 4 MiB, not a calibration" : rt::ioErrorText(code));
    return fromJson(text, error);
}

FrontEndLevels frontEndLevels(const std::string& recordingPath, int32_t headerAttenuation,
                              const std::array<int32_t, 3>& headerGains, uint64_t recordingBytes,
                              const std::string* sha256)
{
    FrontEndLevels levels;
    const std::string sidecar = meta::sidecarPath(recordingPath);
    struct stat info {};
    if (::stat(sidecar.c_str(), &info) == 0) {
        std::string error;
        const std::optional<meta::Recording> r = meta::readSidecar(sidecar, &error);
        if (!r)
            throw cli::Failure(sidecar + ": " + error);
        if (r->result.bytes != recordingBytes)
            throw cli::Failure(sidecar + ": describes a recording of " + std::to_string(r->result.bytes) +
                               " bytes, not this one of " + std::to_string(recordingBytes));
        if (sha256 && r->result.sha256 != *sha256)
            throw cli::Failure(sidecar + ": describes a recording of another SHA-256 than this one");
        if (!r->frontEnd.attenuationDb)
            throw cli::Failure(sidecar + ": does not say what attenuation the front-end was sent");
        levels.attenuationDb = *r->frontEnd.attenuationDb;
        for (size_t c = 0; c < 3; ++c)
            if (const std::optional<int32_t> g = r->frontEnd.channels[c].tableGainDb)
                levels.gainDb[c] = *g;
        levels.fromSidecar = true;
        return levels;
    }
    // A setting beyond the front-end's range is kept in the header as it was typed (a
    // gain of 80 dB), and reached the front-end limited (70 dB): that is what was had.
    std::string limited;
    const auto limit = [&limited](int32_t setting, int32_t least, int32_t most, const std::string& what) {
        const int32_t had = std::clamp(setting, least, most);
        if (had != setting)
            limited += (limited.empty() ? "" : ", ") + what + " " + std::to_string(setting) + " dB as " +
                       std::to_string(had) + " dB";
        return had;
    };
    levels.attenuationDb = limit(headerAttenuation, LeastAttenuationDb, MostAttenuationDb, "attenuation");
    for (size_t c = 0; c < 3; ++c)
        levels.gainDb[c] = limit(headerGains[c], LeastGainDb, MostGainDb, "ch " + std::to_string(c + 1) + " gain");
    cli::note(recordingPath + ": no sidecar: gain and attenuation taken from the header, which holds the settings, "
                              "not what the front-end had" +
              (limited.empty() ? std::string() : " (" + limited + ", the front-end's limits)"));
    return levels;
}

}  // namespace cal
