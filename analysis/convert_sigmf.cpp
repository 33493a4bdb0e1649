#include "convert_sigmf.h"

#include "adc_codes.h"
#include "digest.h"
#include "output_file.h"
#include "recording_input.h"
#include "recording_metadata_json.h"
#include "runtime_error.h"
#include "sidecar_report.h"
#include "sigmf_archive.h"
#include "sigmf_stages.h"
#include "sigmf_values.h"
#include "sounder_version.h"
#include "thread_start.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace cli {

namespace {

constexpr const char* SigmfVersion = "1.2.0";
constexpr const char* ExtensionVersion = "1.1.0";
// The codes of a slot of whole sweeps (one sweep at the least), and the slots in flight:
// enough for the reading to go on while a stage waits a time slice or two for a core.
constexpr size_t SlotCodeBytes = size_t(128) << 10;
constexpr size_t SlotCount = 16;

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
    // Beside the reading: SHA-512 (about 1 GB/s) is the slowest step.
    std::unique_ptr<digest::Hasher> sha512 = std::make_unique<digest::Hasher>(digest::Algorithm::Sha512);
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
    // RFC 3339 writes four digits of year: a time past 9999 (a sidecar's start moved on
    // by its sweep starts) has no such text, where "10000-01-01T..." was written.
    constexpr int64_t LastSecond = 253402300799;  // 9999-12-31T23:59:59Z
    if (seconds > LastSecond)
        return std::nullopt;
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

// The capture segments and the annotations of every sweep: alike in every stream.
struct SweepMeta {
    QJsonArray captures;
    QJsonArray annotations;
};

SweepMeta sweepMeta(const Source& source)
{
    SweepMeta m{captures(source), {}};
    for (int64_t k = 0; k < source.count.whole; ++k)
        m.annotations.append(QJsonObject{{"core:sample_start", qint64(k * source.header->sweepSamples)},
                                         {"core:sample_count", source.header->sweepSamples},
                                         {"core:label", QString("sweep %1").arg(k + 1)}});
    return m;
}

QJsonObject recordingMeta(const Source& source, const SigmfOptions& options, const Stream& stream,
                          const std::string& collection, const SweepMeta& sweeps)
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
    return QJsonObject{{"global", global}, {"captures", sweeps.captures}, {"annotations", sweeps.annotations}};
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

// A thread joined when it goes out of scope. Where the system gives no thread, the work
// is done here, before the constructor returns.
class JoinedThread {
public:
    explicit JoinedThread(const std::function<void()>& work) : thread_(rt::threadIfAny(work))
    {
        if (!thread_.joinable())
            work();
    }
    JoinedThread(JoinedThread&&) = default;
    ~JoinedThread()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

// The final file of an output, written whole under a temporary name.
class FinalSink : public DataSink {
public:
    // Nothing reads the data back soon: it goes to the disk past the page cache.
    explicit FinalSink(const std::string& path) : file_(path) { file_.bypassCache(); }
    void write(const char* data, size_t length) override { file_.write(data, length); }
    OutputFile& file() { return file_; }

private:
    OutputFile file_;
};

// Bytes appended to an output that holds more than them (an archive).
class AppendSink : public DataSink {
public:
    explicit AppendSink(OutputFile& file) : file_(file) {}
    void write(const char* data, size_t length) override { file_.write(data, length); }

private:
    OutputFile& file_;
};

// Bytes written one after another from `at` in an output that holds more than them (a
// member of an archive, beside others being written as well). Nothing reads them back
// soon: they are gathered into whole blocks that go past the page cache, the bytes up to
// the first whole block and after the last the usual way.
class PlacedSink : public DataSink {
public:
    PlacedSink(OutputFile& file, uint64_t at)
        : file_(file), at_(at), blocks_(static_cast<char*>(std::aligned_alloc(Block, Gathered)))
    {
        if (!blocks_)
            throw std::bad_alloc();
    }
    void write(const char* data, size_t length) override
    {
        if (used_ == 0 && at_ % Block != 0) {  // up to the first whole block
            const size_t n = std::min<size_t>(length, Block - at_ % Block);
            file_.writeAt(at_, data, n);
            at_ += n;
            data += n;
            length -= n;
        }
        while (length > 0) {
            const size_t n = std::min(length, Gathered - used_);
            std::memcpy(blocks_.get() + used_, data, n);
            used_ += n;
            data += n;
            length -= n;
            if (used_ == Gathered)
                writeBlocks(Gathered);
        }
    }
    void finish() override
    {
        writeBlocks(used_ / Block * Block);
        if (used_ > 0)
            file_.writeAt(at_, blocks_.get(), used_);
        at_ += used_;
        used_ = 0;
    }

private:
    static constexpr size_t Block = 4096, Gathered = size_t(1) << 20;
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    void writeBlocks(size_t length)
    {
        if (length == 0)
            return;
        if (!file_.writeAtUncached(at_, blocks_.get(), length))
            file_.writeAt(at_, blocks_.get(), length);
        at_ += length;
        used_ -= length;
        std::memmove(blocks_.get(), blocks_.get() + length, used_);
    }
    OutputFile& file_;
    uint64_t at_;  // where the first byte gathered goes
    std::unique_ptr<char, Free> blocks_;
    size_t used_ = 0;
};

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
    // BASE starts the files' names (and names the archive's folder): a name of its own, never a
    // folder, which would give hidden files (dd/.sigmf-meta, ..sigmf-meta) and an archive of
    // members outside any folder.
    if (const std::string leaf = fileName(base); leaf.empty() || leaf == "." || leaf == "..")
        throw Refused("sounder: -o " + base + ": BASE starts the files' names (BASE.sigmf-meta, ...): it cannot be "
                      "a folder; give FOLDER/NAME");
    // Elsewhere "-" is the standard output, which cannot hold the files of a recording.
    if (base == "-")
        throw Refused("sounder: -o -: BASE starts the files' names (BASE.sigmf-meta, ...); a SigMF recording "
                      "cannot go to the standard output: give a name");
    RecordingInput input(inputPath);
    input.open();
    Source source;
    source.header = &input.header();
    source.input = inputPath;
    const acq::RecordingHeader& h = input.header();
    // Said once the outputs are in place, so that a failure is the only line.
    std::string sidecarNote;
    // A sidecar of another recording (one of another size) says nothing true of this one.
    const auto ofAnotherSize = [](uint64_t described, uint64_t bytes) {
        return "describes a recording of " + std::to_string(described) + " bytes, not this one of " +
               std::to_string(bytes);
    };
    if (hasSidecar(inputPath)) {
        std::string error;
        source.sidecar = meta::readSidecar(meta::sidecarPath(inputPath), &error);
        struct stat info {};
        if (source.sidecar && ::stat(inputPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            uint64_t(info.st_size) != source.sidecar->result.bytes) {
            error = ofAnotherSize(source.sidecar->result.bytes, uint64_t(info.st_size));
            source.sidecar.reset();
        }
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
    // A collection names its recordings in its metadata, which is UTF-8 text: a name of other
    // bytes would stand there altered and name files that are not there.
    if (collection && QString::fromStdString(baseName).toStdString() != baseName)
        throw Failure(base + ": a collection names its recordings in its metadata, which is UTF-8 text, and this " +
                      "name is not UTF-8: give -o BASE in UTF-8, or write one recording (--channel N, or the " +
                      "interleaved layout)");
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
        ReplacedOutputs replaced(finals);
        // An archive's data members go straight into it behind headers of the most they can
        // hold (the sweeps promised, and no more than the input's lines could give at 7
        // bytes the shortest), made right at the end: several side by side, each written at
        // its place, where the archive is a regular file; else the first alone, the others
        // waiting in scratch files. An input of unknown size (a pipe) gives no bound.
        std::unique_ptr<OutputFile> archive;
        std::optional<DirectMember> direct;
        std::optional<PlacedMembers> placed;
        if (options.archive) {
            archive = std::make_unique<OutputFile>(archivePath);
            const uint64_t inputBytes = input.reader().totalBytes();
            const uint64_t lines =
                std::min<uint64_t>(uint64_t(h.numSweeps) * uint64_t(h.sweepSamples), inputBytes / 7);
            const uint64_t most = lines / uint64_t(h.sweepSamples) * uint64_t(h.sweepSamples) *
                                  streams[0].channels.size() * info(options.datatype).bytes;
            std::vector<std::string> paths;
            for (const Stream& s : streams)
                paths.push_back(baseName + "/" + s.name + ".sigmf-data");
            if (inputBytes > 0 && streams.size() > 1)
                placed = startPlacedMembers(*archive, baseName, paths, most);
            if (inputBytes > 0 && !placed)
                direct = startSigmfArchive(*archive, baseName, paths.front(), most);
            if (direct)  // its data past the page cache, as a data file's
                archive->bypassCache();
        }
        for (size_t k = 0; k < streams.size(); ++k) {
            Stream& s = streams[k];
            if (placed)
                s.data = std::make_unique<PlacedSink>(*archive, placed->members[k].dataAt);
            else if (direct && k == 0)
                s.data = std::make_unique<AppendSink>(*archive);
            else if (options.archive)
                s.data = std::make_unique<ScratchFile>(archivePath);
            else {
                current = folder + s.name + ".sigmf-data";
                s.data = std::make_unique<FinalSink>(current);
            }
        }
        // The codes are read on this thread into slots of whole sweeps and made into every
        // stream's values there; the writing of the data and the SHA-512 of each stream then
        // go on beside the reading, each on a thread of its own, straight from the slot.
        const size_t sweepSamples = size_t(h.sweepSamples);
        const size_t slotSweeps = std::max<size_t>(1, SlotCodeBytes / (3 * 2 * sweepSamples));
        const size_t typeBytes = info(options.datatype).bytes;
        // All three channels as recorded, on a little-endian machine: the codes are the values.
        const bool asRead = options.datatype == SigmfDatatype::Ru16 && streams.size() == 1 &&
                            streams[0].channels.size() == 3 && std::endian::native == std::endian::little;
        struct Slot {
            std::unique_ptr<uint16_t[]> codes;
            size_t groups = 0;
            std::vector<std::unique_ptr<unsigned char[]>> values;  // each stream's
        };
        std::vector<Slot> ring(SlotCount);
        for (Slot& slot : ring) {
            slot.codes.reset(new uint16_t[slotSweeps * sweepSamples * 3]);
            if (!asRead)
                for (const Stream& s : streams)
                    slot.values.emplace_back(
                        new unsigned char[slotSweeps * sweepSamples * s.channels.size() * typeBytes]);
        }
        const auto bytesOf = [&](const Slot& slot, size_t k) {
            return asRead ? reinterpret_cast<const char*>(slot.codes.get())
                          : reinterpret_cast<const char*>(slot.values[k].get());
        };
        const auto lengthOf = [&](const Slot& slot, size_t k) {
            return slot.groups * streams[k].channels.size() * typeBytes;
        };
        // Stage 0 writes each stream's data in turn; stage 1 + j hashes the streams k with
        // k % hashers == j, one hashing stage for each core beside this one: more would
        // only take turns on the cores with the reading, which everything waits for. A
        // failed write is told against the data file it was for (in an archive, the archive).
        const size_t cores = std::max(2u, std::thread::hardware_concurrency());
        const size_t hashers = std::min(streams.size(), cores - 1);
        std::string failedData;  // set before the failure reaches this thread
        SlotStages stages(ring.size(), 1 + hashers, [&](size_t stage, size_t index) {
            const Slot& slot = ring[index];
            if (stage > 0) {
                for (size_t k = stage - 1; k < streams.size(); k += hashers)
                    streams[k].sha512->add(bytesOf(slot, k), lengthOf(slot, k));
                return;
            }
            for (size_t k = 0; k < streams.size(); ++k) {
                try {
                    streams[k].data->write(bytesOf(slot, k), lengthOf(slot, k));
                } catch (const rt::InOutError&) {
                    failedData = options.archive ? archivePath : folder + streams[k].name + ".sigmf-data";
                    throw;
                }
            }
        });
        Progress progress(inputPath, input.reader().totalBytes());
        int64_t lines = 0;
        try {
            for (bool more = true; more;) {
                Slot& slot = ring[stages.take()];
                slot.groups = 0;
                while (more && slot.groups < slotSweeps * sweepSamples) {
                    const size_t got = input.readSweep(slot.codes.get() + 3 * slot.groups);
                    lines += int64_t(got);
                    more = got == sweepSamples;  // an incomplete sweep is left out
                    slot.groups += more ? sweepSamples : 0;
                    progress.update(input.reader().bytesRead());
                }
                for (size_t k = 0; k < streams.size() && !asRead; ++k) {
                    // Interleaved: every code in turn; a single channel: every third from its own.
                    const bool all = streams[k].channels.size() == 3;
                    if (!convertCodeValues(options.datatype, slot.codes.get() + (all ? 0 : streams[k].channels[0]),
                                           all ? 1 : 3, all ? 3 * slot.groups : slot.groups, slot.values[k].get()))
                        throw Failure(inputPath + ": a code above " + std::to_string(MaxRi16Code) +
                                      " does not fit ri16_le (code - 2048): convert with --datatype ru16_le or "
                                      "rf32_le");
                }
                for (size_t k = 0; k < streams.size(); ++k)
                    streams[k].bytes += lengthOf(slot, k);
                stages.give();
            }
            stages.finish();
            for (Stream& s : streams) {
                failedData = options.archive ? archivePath : folder + s.name + ".sigmf-data";
                s.data->finish();
            }
        } catch (const rt::InOutError&) {  // an I/O failure here is the writing stage's
            current = failedData;
            throw;
        }
        progress.done();
        source.count = reportSweeps(input, lines);
        // A pipe's size is known only now: a sidecar of another size is of another recording.
        if (const uint64_t read = input.reader().bytesRead();
            source.sidecar && input.reader().totalBytes() == 0 && read != source.sidecar->result.bytes) {
            sidecarNote = meta::sidecarPath(inputPath) + ": " + ofAnotherSize(source.sidecar->result.bytes, read) +
                          "; converted without it";
            source.sidecar.reset();
        }

        // The data goes on to the disk while the metadata is made: commit() then finds
        // little left to wait for.
        std::vector<OutputFile*> dataFiles;
        if (archive)
            dataFiles.push_back(archive.get());
        else
            for (Stream& s : streams)
                dataFiles.push_back(&static_cast<FinalSink*>(s.data.get())->file());
        std::exception_ptr syncFailure;
        std::string syncFailed;
        {
            const JoinedThread syncing([&] {
                for (OutputFile* file : dataFiles) {
                    try {
                        file->sync();
                    } catch (...) {
                        syncFailure = std::current_exception();
                        syncFailed = file->path();
                        return;
                    }
                }
            });
            // Each stream's metadata text on a thread of its own (the first on this one).
            const SweepMeta sweeps = sweepMeta(source);
            const auto makeMeta = [&](Stream& s) {
                s.dataSha512 = s.sha512->hex();
                s.meta = QJsonDocument(recordingMeta(source, options, s, collection ? baseName : std::string(), sweeps))
                             .toJson(QJsonDocument::Indented);
            };
            std::vector<JoinedThread> others;
            for (size_t k = 1; k < streams.size(); ++k)
                others.emplace_back([&, k] { makeMeta(streams[k]); });
            makeMeta(streams[0]);
        }
        if (syncFailure) {
            current = syncFailed;
            std::rethrow_exception(syncFailure);
        }
        const QByteArray collectionText = collection ? collectionJson(source, streams) : QByteArray();

        replaced.done();
        std::vector<std::unique_ptr<OutputFile>> outputs;
        if (options.archive) {
            // The folder BASE holds each recording's data, then each one's metadata, then
            // the collection.
            std::vector<ArchiveMember> members;
            const std::string inside = baseName + "/";
            if (placed)  // the streams of a collection, each of one channel: alike in length
                finishPlacedMembers(*archive, *placed, streams[0].bytes);
            else if (direct)
                finishDirectMember(*archive, *direct, streams[0].bytes);
            else
                members.push_back({inside, nullptr, 0, nullptr, true});
            for (Stream& s : streams)
                if (!placed && (!direct || &s != &streams[0]))
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
