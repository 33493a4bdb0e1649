#include "convert_sigmf.h"

#include "adc_codes.h"
#include "block_pipeline.h"
#include "digest.h"
#include "output_file.h"
#include "recording_input.h"
#include "recording_metadata_json.h"
#include "runtime_error.h"
#include "sidecar_report.h"
#include "sigmf_archive.h"
#include "sounder_version.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace cli {

namespace {

constexpr const char* SigmfVersion = "1.2.0";
constexpr const char* ExtensionVersion = "1.1.0";
constexpr int MaxRi16Code = 32767 + 2048;  // the highest code code - 2048 holds in 16 bits

struct DatatypeInfo {
    const char* name;
    size_t bytes;           // per value
    const char* stored;     // what a value is
    const char* toCode;     // the rule back to the code recorded
};

const DatatypeInfo& info(SigmfDatatype datatype)
{
    static const DatatypeInfo table[] = {
        {"rf32_le", 4, "volts, (code - 2048) / 2048 * 5, exact in float32 for every code",
         "code = value / 5 * 2048 + 2048"},
        {"ri16_le", 2, "code - 2048, the 12-bit A/D code centred on zero", "code = value + 2048"},
        {"ru16_le", 2, "the 12-bit A/D code as recorded, 0..4095", "code = value"},
    };
    return table[int(datatype)];
}

std::string fileName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// One recording of the output: its name (the base without the folder) and the input
// channels (0..2) it holds, in order.
struct Stream {
    std::string name;
    std::vector<int> channels;
    // On a thread of its own: SHA-512 (about 1 GB/s) is the slowest step.
    std::unique_ptr<digest::ConcurrentHasher> sha512 =
        std::make_unique<digest::ConcurrentHasher>(digest::Algorithm::Sha512);
    std::unique_ptr<DataSink> data;
    uint64_t bytes = 0;
    std::string dataSha512;
    QByteArray meta;  // the metadata file's text, once made
};

// What is known of the recording for its metadata.
struct Source {
    const acq::RecordingHeader* header = nullptr;
    acq::SweepCount count;
    std::string input;
    std::optional<meta::Recording> sidecar;
};

// "2026-12-08T09:00:00.000Z" moved on by `groups` scan groups at `rateHz`, to the
// nanosecond; nullopt when the text is not an RFC 3339 UTC time.
std::optional<std::string> datetimeAfter(const std::string& start, int64_t groups, int64_t rateHz)
{
    const QString text = QString::fromStdString(start);
    if (text.size() < 20 || !text.endsWith('Z') || text[19] != (text.size() == 20 ? QChar('Z') : QChar('.')))
        return std::nullopt;
    const QDateTime whole = QDateTime::fromString(text.left(19), "yyyy-MM-ddTHH:mm:ss");
    if (!whole.isValid())
        return std::nullopt;
    int64_t seconds = QDateTime(whole.date(), whole.time(), Qt::UTC).toSecsSinceEpoch();
    int64_t nanos = 0;
    const QString fraction = text.size() > 21 ? text.mid(20, text.size() - 21) : QString();
    if (fraction.size() > 9)
        return std::nullopt;
    for (int i = 0; i < 9; ++i) {
        const QChar c = i < fraction.size() ? fraction[i] : QChar('0');
        if (!c.isDigit())
            return std::nullopt;
        nanos = nanos * 10 + c.digitValue();
    }
    if (rateHz > 0) {
        const __int128 offset = __int128(groups) * 1'000'000'000 / rateHz;
        const __int128 total = __int128(seconds) * 1'000'000'000 + nanos + offset;
        seconds = int64_t(total / 1'000'000'000);
        nanos = int64_t(total % 1'000'000'000);
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, ".%09lld", (long long)nanos);
    const QString date =
        QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss") + digits + "Z";
    return date.toStdString();
}

// The fields of one capture segment. Every field a segment carries is added here.
QJsonObject captureSegment(const Source& source, int64_t sweep)
{
    QJsonObject capture{{"core:sample_start", qint64(sweep * source.header->sweepSamples)}};
    if (!source.sidecar)
        return capture;
    const meta::Recording& s = *source.sidecar;
    const int64_t group = sweep < int64_t(s.sweepStartGroups.size()) ? s.sweepStartGroups[size_t(sweep)] : 0;
    capture.insert("core:global_index", qint64(group));
    if (const std::optional<std::string> when = datetimeAfter(s.scanStartedUtc, group, s.scan.scanRateHz))
        capture.insert("core:datetime", QString::fromStdString(*when));
    // Where the receiver was: the scan's start position (else its end), in every segment.
    if (const std::optional<QJsonObject> point = meta::recordingGeolocation(s))
        capture.insert("core:geolocation", *point);
    return capture;
}

// A segment at every sweep that does not follow on from the one before in the capture
// (the sidecar's sweep starts); one segment at sample 0 without a sidecar.
QJsonArray captures(const Source& source)
{
    QJsonArray segments{captureSegment(source, 0)};
    if (!source.sidecar || int64_t(source.sidecar->sweepStartGroups.size()) < source.count.whole)
        return segments;
    const std::vector<int64_t>& starts = source.sidecar->sweepStartGroups;
    for (int64_t k = 1; k < source.count.whole; ++k)
        if (starts[size_t(k)] != starts[size_t(k - 1)] + source.header->sweepSamples)
            segments.append(captureSegment(source, k));
    return segments;
}

QString channelNames(const std::vector<int>& channels)
{
    QStringList names;
    for (int c : channels)
        names.append(QString("ch %1").arg(c + 1));
    return names.join(", ");
}

QJsonObject extensionsField() { return QJsonObject{{"name", SigmfNamespace}, {"version", ExtensionVersion}, {"optional", true}}; }

QJsonObject recordingMeta(const Source& source, const SigmfOptions& options, const Stream& stream,
                          const std::string& collection)
{
    const acq::RecordingHeader& h = *source.header;
    const DatatypeInfo& type = info(options.datatype);
    const QString ns = QString::fromLatin1(SigmfNamespace);
    QJsonObject global{
        {"core:datatype", type.name},
        {"core:num_channels", int(stream.channels.size())},
        {"core:version", SigmfVersion},
        {"core:recorder", QString("quenlo; converted by sounder ") + SOUNDER_VERSION},
        {"core:description",
         QString("Channel sounder recording %1: receiver channel%2 %3%4, one sample per scan group; each value is %5 "
                 "(%6)")
             .arg(QString::fromLocal8Bit(fileName(source.input).c_str()), stream.channels.size() > 1 ? "s" : "",
                  channelNames(stream.channels), stream.channels.size() > 1 ? " interleaved in scan order" : "",
                  type.stored, type.toCode)},
        {"core:sha512", QString::fromStdString(stream.dataSha512)},
        {"core:extensions", QJsonArray{extensionsField()}},
        {ns + ":channels", [&] {
             QJsonArray list;
             for (int c : stream.channels)
                 list.append(c + 1);
             return list;
         }()},
        {ns + ":code_from_value", type.toCode},
        {ns + ":settings",
         QJsonObject{{"num_sweeps", h.numSweeps},
                     {"sweep_samples", h.sweepSamples},
                     {"clock_divider", h.clockDivider()},
                     {"attenuation_db", h.attenuation},
                     {"gains_db", QJsonArray{h.gains[0], h.gains[1], h.gains[2]}}}},
        {ns + ":sweeps_written", qint64(source.count.whole)},
        {ns + ":sweeps_missing", qint64(source.count.missing)},
    };
    if (!collection.empty())
        global.insert("core:collection", QString::fromStdString(collection));
    if (source.sidecar) {
        const meta::Recording& s = *source.sidecar;
        if (s.scan.scanRateHz > 0)
            global.insert("core:sample_rate", double(s.scan.scanRateHz));
        global.insert("core:hw", QString("channel sounder receiver on a data-acquisition board, through the %1board "
                                         "library %2")
                                     .arg(s.boardLibrarySimulated ? "simulated " : "",
                                          QString::fromStdString(s.boardLibraryPath)));
        // What the recording's own header cannot say: the front-end as it was sent.
        // The core namespace's place for the recording system's location.
        if (const std::optional<QJsonObject> point = meta::recordingGeolocation(s))
            global.insert("core:geolocation", *point);
        global.insert(ns + ":sidecar_settings", meta::settingsJson(s.settings));
        global.insert(ns + ":front_end", meta::frontEndJson(s.frontEnd));
        global.insert(ns + ":scan_started_utc", QString::fromStdString(s.scanStartedUtc));
        global.insert(ns + ":board_library",
                      QJsonObject{{"path", QString::fromStdString(s.boardLibraryPath)}, {"simulated", s.boardLibrarySimulated}});
    }
    QJsonArray annotations;
    for (int64_t k = 0; k < source.count.whole; ++k)
        annotations.append(QJsonObject{{"core:sample_start", qint64(k * h.sweepSamples)},
                                       {"core:sample_count", h.sweepSamples},
                                       {"core:label", QString("sweep %1").arg(k + 1)}});
    return QJsonObject{{"global", global}, {"captures", captures(source)}, {"annotations", annotations}};
}

QByteArray collectionJson(const Source& source, const std::vector<Stream>& streams)
{
    QJsonArray list;
    for (const Stream& s : streams)
        list.append(QJsonObject{{"name", QString::fromStdString(s.name)},
                                {"hash", QString::fromStdString(digest::hexDigest(
                                             digest::Algorithm::Sha512, {s.meta.constData(), size_t(s.meta.size())}))}});
    const QJsonObject collection{
        {"core:version", SigmfVersion},
        {"core:description",
         QString("Channel sounder recording %1: one recording per receiver channel")
             .arg(QString::fromLocal8Bit(fileName(source.input).c_str()))},
        {"core:extensions", QJsonArray{extensionsField()}},
        {"core:streams", list},
    };
    return QJsonDocument(QJsonObject{{"collection", collection}}).toJson(QJsonDocument::Indented);
}

// The final file of an output, written whole under a temporary name.
class FinalSink : public DataSink {
public:
    explicit FinalSink(const std::string& path) : file_(path) {}
    void write(const char* data, size_t length) override { file_.write(data, length); }
    OutputFile& file() { return file_; }

private:
    OutputFile file_;
};

// Stores a value little-endian at p.
template <class T>
void storeLe(unsigned char* p, T value)
{
    using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint16_t>;
    U bits = std::bit_cast<U>(value);
    if constexpr (std::endian::native == std::endian::big)
        bits = sizeof(U) == 4 ? U(__builtin_bswap32(uint32_t(bits))) : U(__builtin_bswap16(uint16_t(bits)));
    std::memcpy(p, &bits, sizeof bits);
}

// Bytes appended to an output that holds more than them (an archive).
class AppendSink : public DataSink {
public:
    explicit AppendSink(OutputFile& file) : file_(file) {}
    void write(const char* data, size_t length) override { file_.write(data, length); }

private:
    OutputFile& file_;
};

// The values of the `Count` channels from `first` of each scan group in `codes`, in
// the datatype's layout, little-endian, into out. Returns the bytes written, or 0
// when a code does not fit the datatype.
template <SigmfDatatype Type, size_t Count>
size_t convertGroups(const uint16_t* codes, size_t groups, size_t first, unsigned char* out)
{
    constexpr size_t Bytes = Type == SigmfDatatype::Rf32 ? 4 : 2;
    bool fits = true;
    for (size_t g = 0; g < groups; ++g)
        for (size_t i = 0; i < Count; ++i) {
            const uint16_t code = codes[3 * g + first + i];
            unsigned char* p = out + (g * Count + i) * Bytes;
            if constexpr (Type == SigmfDatatype::Rf32)
                // Volts of a 16-bit code need at most 19 significant bits: exact in float32.
                storeLe(p, static_cast<float>(codeToVolts(code)));
            else if constexpr (Type == SigmfDatatype::Ri16) {
                fits = fits && code <= MaxRi16Code;
                storeLe(p, int16_t(int32_t(code) - 2048));
            } else
                storeLe(p, code);
        }
    return fits ? groups * Count * Bytes : 0;
}

size_t convertCodes(const uint16_t* codes, size_t groups, const std::vector<int>& channels, SigmfDatatype datatype,
                    unsigned char* out)
{
    const size_t first = size_t(channels.front());
    const bool all = channels.size() == 3;
    size_t bytes = 0;
    switch (datatype) {
    case SigmfDatatype::Rf32:
        bytes = all ? convertGroups<SigmfDatatype::Rf32, 3>(codes, groups, 0, out)
                    : convertGroups<SigmfDatatype::Rf32, 1>(codes, groups, first, out);
        break;
    case SigmfDatatype::Ri16:
        bytes = all ? convertGroups<SigmfDatatype::Ri16, 3>(codes, groups, 0, out)
                    : convertGroups<SigmfDatatype::Ri16, 1>(codes, groups, first, out);
        break;
    case SigmfDatatype::Ru16:
        bytes = all ? convertGroups<SigmfDatatype::Ru16, 3>(codes, groups, 0, out)
                    : convertGroups<SigmfDatatype::Ru16, 1>(codes, groups, first, out);
        break;
    }
    return bytes;
}

}  // namespace

const char* sigmfDatatypeName(SigmfDatatype datatype) { return info(datatype).name; }

bool sigmfDatatypeFromName(const std::string& name, SigmfDatatype& datatype)
{
    for (SigmfDatatype d : {SigmfDatatype::Rf32, SigmfDatatype::Ri16, SigmfDatatype::Ru16})
        if (name == info(d).name) {
            datatype = d;
            return true;
        }
    return false;
}

std::string defaultSigmfBase(const std::string& input)
{
    const size_t start = input.rfind('/') == std::string::npos ? 0 : input.rfind('/') + 1;
    const size_t dot = input.rfind('.');
    // A leading dot names a hidden file, not an extension.
    return dot == std::string::npos || dot <= start ? input : input.substr(0, dot);
}

void convertToSigmf(const std::string& inputPath, const std::string& base, const SigmfOptions& options)
{
    RecordingInput input(inputPath);
    input.open();
    Source source;
    source.header = &input.header();
    source.input = inputPath;
    const acq::RecordingHeader& h = input.header();
    // Said once the outputs are in place, so that a failure is the only line.
    std::string sidecarNote;
    if (hasSidecar(inputPath)) {
        std::string error;
        source.sidecar = meta::readSidecar(meta::sidecarPath(inputPath), &error);
        if (!source.sidecar)
            sidecarNote = meta::sidecarPath(inputPath) + ": " + error + "; converted without it";
    } else {
        sidecarNote = inputPath + ": no metadata sidecar (" + fileName(meta::sidecarPath(inputPath)) +
                      "): the SigMF metadata has no sample rate, time or hardware";
    }

    const std::string folder = folderOf(base);
    const std::string baseName = fileName(base);
    std::vector<Stream> streams;
    if (options.channel > 0) {
        streams.push_back({});
        streams.back().name = baseName + "-ch" + std::to_string(options.channel);
        streams.back().channels = {options.channel - 1};
    } else if (options.layout == SigmfLayout::Collection) {
        for (int c = 0; c < 3; ++c) {
            streams.push_back({});
            streams.back().name = baseName + "-ch" + std::to_string(c + 1);
            streams.back().channels = {c};
        }
    } else {
        streams.push_back({});
        streams.back().name = baseName;
        streams.back().channels = {0, 1, 2};
    }
    const bool collection = streams.size() > 1;
    const std::string collectionPath = base + ".sigmf-collection";
    const std::string archivePath = base + ".sigmf";
    std::vector<std::string> finals;
    if (options.archive)
        finals.push_back(archivePath);
    else
        for (const Stream& s : streams) {
            finals.push_back(folder + s.name + ".sigmf-data");
            finals.push_back(folder + s.name + ".sigmf-meta");
        }
    if (collection && !options.archive)
        finals.push_back(collectionPath);
    std::vector<NamedOutput> named;
    for (const std::string& path : finals)
        named.push_back({"-o", path});
    if (const std::string problem = outputsProblem(named, {inputPath, meta::sidecarPath(inputPath)});
        !problem.empty())
        throw Refused("sounder: " + problem);

    // The file an I/O failure is told against: in an archive, the archive.
    std::string current = options.archive ? archivePath : finals.front();
    try {
        // An archive's first data member goes straight into it behind a header of the most
        // it can hold (the sweeps promised, and no more than the input's lines could give at
        // 7 bytes the shortest), made right at the end; the others wait in scratch files.
        std::unique_ptr<OutputFile> archive;
        std::optional<DirectMember> direct;
        if (options.archive) {
            archive = std::make_unique<OutputFile>(archivePath);
            const uint64_t lines = std::min<uint64_t>(uint64_t(h.numSweeps) * uint64_t(h.sweepSamples),
                                                      input.reader().totalBytes() / 7);
            const uint64_t most = lines / uint64_t(h.sweepSamples) * uint64_t(h.sweepSamples) *
                                  streams[0].channels.size() * info(options.datatype).bytes;
            direct = startSigmfArchive(*archive, baseName, baseName + "/" + streams[0].name + ".sigmf-data", most);
        }
        for (Stream& s : streams) {
            if (direct && &s == &streams[0])
                s.data = std::make_unique<AppendSink>(*archive);
            else if (options.archive)
                s.data = std::make_unique<ScratchFile>(archivePath);
            else {
                current = folder + s.name + ".sigmf-data";
                s.data = std::make_unique<FinalSink>(current);
            }
        }
        // The codes are read on this thread straight into blocks of whole sweeps; the
        // second thread turns each block into every stream's values, hashes and writes them.
        const size_t sweepBytes = 3 * 2 * size_t(h.sweepSamples);
        const size_t blockBytes = std::max<size_t>(1, (size_t(256) << 10) / sweepBytes) * sweepBytes;
        std::vector<unsigned char> values(blockBytes / 6 * 3 * info(options.datatype).bytes);
        const bool asRead = options.datatype == SigmfDatatype::Ru16 && !collection && streams[0].channels.size() == 3 &&
                            std::endian::native == std::endian::little;
        auto consume = [&](unsigned char* block, size_t used) {
            const uint16_t* codes = reinterpret_cast<const uint16_t*>(block);
            for (Stream& s : streams) {
                const unsigned char* bytes = block;
                size_t length = used;
                if (!asRead) {
                    length = convertCodes(codes, used / 6, s.channels, options.datatype, values.data());
                    if (length == 0 && used > 0)
                        throw Failure(inputPath + ": a code above " + std::to_string(MaxRi16Code) +
                                      " does not fit ri16_le (code - 2048): convert with --datatype ru16_le or "
                                      "rf32_le");
                    bytes = values.data();
                }
                s.sha512->add(bytes, length);
                s.data->write(reinterpret_cast<const char*>(bytes), length);
                s.bytes += length;
            }
        };
        BlockPipeline pipeline(blockBytes, consume);
        Progress progress(inputPath, input.reader().totalBytes());
        int64_t lines = 0;
        unsigned char* block = pipeline.take();
        size_t used = 0;
        for (;;) {
            if (used + sweepBytes > pipeline.blockBytes()) {
                pipeline.give(used);
                block = pipeline.take();
                used = 0;
            }
            const size_t got = input.readSweep(reinterpret_cast<uint16_t*>(block + used));
            lines += int64_t(got);
            if (got < size_t(h.sweepSamples))
                break;  // an incomplete sweep is left out
            used += sweepBytes;
            progress.update(input.reader().bytesRead());
        }
        pipeline.give(used);
        pipeline.finish();
        progress.done();
        source.count = reportSweeps(input, lines);

        for (Stream& s : streams) {
            s.dataSha512 = s.sha512->hex();
            s.meta = QJsonDocument(recordingMeta(source, options, s, collection ? baseName : std::string()))
                         .toJson(QJsonDocument::Indented);
        }
        const QByteArray collectionText = collection ? collectionJson(source, streams) : QByteArray();

        std::vector<std::unique_ptr<OutputFile>> outputs;
        if (options.archive) {
            // The folder BASE holds each recording's data, then each one's metadata, then
            // the collection.
            std::vector<ArchiveMember> members;
            const std::string inside = baseName + "/";
            if (direct)
                finishDirectMember(*archive, *direct, streams[0].bytes);
            else
                members.push_back({inside, nullptr, 0, nullptr, true});
            for (Stream& s : streams)
                if (!direct || &s != &streams[0])
                    members.push_back(
                        {inside + s.name + ".sigmf-data", nullptr, 0, static_cast<ScratchFile*>(s.data.get())});
            for (Stream& s : streams)
                members.push_back({inside + s.name + ".sigmf-meta", s.meta.constData(), size_t(s.meta.size()), nullptr});
            if (collection)
                members.push_back({inside + baseName + ".sigmf-collection", collectionText.constData(),
                                   size_t(collectionText.size()), nullptr});
            writeSigmfArchive(*archive, members);
            outputs.push_back(std::move(archive));
        } else {
            for (Stream& s : streams) {
                current = folder + s.name + ".sigmf-meta";
                outputs.push_back(std::make_unique<OutputFile>(current));
                outputs.back()->write(s.meta.constData(), size_t(s.meta.size()));
            }
            if (collection) {
                current = collectionPath;
                outputs.push_back(std::make_unique<OutputFile>(current));
                outputs.back()->write(collectionText.constData(), size_t(collectionText.size()));
            }
        }
        // Data first, then the metadata that describes it, the collection last.
        std::vector<OutputFile*> order;
        if (!options.archive)
            for (Stream& s : streams)
                order.push_back(&static_cast<FinalSink*>(s.data.get())->file());
        for (const auto& output : outputs)
            order.push_back(output.get());
        OutputFile::commitTogether(order, &current);
    } catch (const rt::InOutError& e) {
        failIo(current, e.code());
    }
    if (!sidecarNote.empty())
        note(sidecarNote);
}

}  // namespace cli
