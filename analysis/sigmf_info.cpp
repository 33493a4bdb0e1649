#include "sigmf_info.h"

#include "cli_support.h"
#include "digest.h"
#include "runtime_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <unistd.h>

namespace cli {

namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string stem(const std::string& path, const std::string& suffix) { return path.substr(0, path.size() - suffix.size()); }

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<QJsonObject> parseObject(const std::string& text, std::string* error)
{
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = parse.error != QJsonParseError::NoError ? "not JSON (" + parse.errorString().toStdString() + ")"
                                                          : std::string("not a JSON object");
        return std::nullopt;
    }
    return doc.object();
}

// Bytes per value of a SigMF datatype ("rf32_le" 4, "cf32_le" 8, "ru8" 1); 0 when unknown.
size_t sampleBytes(const QString& datatype)
{
    static const QRegularExpression form("^(c|r)(f64|f32|i32|i16|u32|u16|i8|u8)(_le|_be)?$");
    const QRegularExpressionMatch m = form.match(datatype);
    if (!m.hasMatch() || (m.captured(2).endsWith('8') != m.captured(3).isEmpty()))
        return 0;
    const size_t bits = m.captured(2).mid(1).toUInt();
    return bits / 8 * (m.captured(1) == "c" ? 2 : 1);
}

std::string text(const QJsonValue& v) { return v.toString().toStdString(); }

// Opens a file to read; -1 with `code` the I/O error where it cannot be. A file named on
// the command line is read as any input is, a pipe too; one found by its name beside it
// (the data of a metadata file, the recordings of a collection) must be a file: a FIFO
// there, like a folder or a device, is an invalid name, never waited on for a writer.
int openToRead(const std::string& path, bool named, int& code)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (named ? 0 : O_NONBLOCK));
    if (fd < 0) {
        code = rt::ioCodeFromOpenErrno(errno, path);
        return -1;
    }
    struct stat info {};
    if (!rt::readsAsFile(fd) || (!named && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode))) {
        ::close(fd);
        code = rt::ioCodeFromErrno(EISDIR);
        return -1;
    }
    if (!named)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Reads a file whole (a metadata or collection file), or hashes it as it goes (a data file).
std::string readWhole(const std::string& path, bool named = false)
{
    int code = 0;
    const int fd = openToRead(path, named, code);
    if (fd < 0)
        throw Failure(path + ": " + rt::ioErrorText(code));
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int err = errno;
            ::close(fd);
            throw Failure(path + ": " + rt::ioErrorText(rt::ioCodeFromErrno(err)));
        }
        if (got == 0)
            break;
        bytes.append(buffer, size_t(got));
        if (bytes.size() > (size_t(64) << 20)) {
            ::close(fd);
            throw Failure(path + ": over 64 MiB, not a SigMF metadata file");
        }
    }
    ::close(fd);
    return bytes;
}

std::optional<DataFacts> hashFile(const std::string& path, std::string* error, bool named = false)
{
    int code = 0;
    const int fd = openToRead(path, named, code);
    if (fd < 0) {
        *error = rt::ioErrorText(code);
        return std::nullopt;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    DataFacts facts;
    digest::Hasher sha512(digest::Algorithm::Sha512);
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = rt::ioErrorText(rt::ioCodeFromErrno(errno));
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        sha512.add(buffer.data(), size_t(got));
        facts.size += uint64_t(got);
    }
    ::close(fd);
    facts.sha512 = sha512.hex();
    return facts;
}

// A stream's name is that of a recording beside the collection (in its folder, or in
// the archive's folder): a name with a folder in it names none.
bool isRecordingName(const std::string& name)
{
    // A NUL (\u0000 in the JSON) would end the file's name there: "r\u0000" would read the
    // file r, which the stream does not name.
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The name N of a recording that lies in a folder of its own name, "N/N" + suffix: the
// place SigMF 1.0 gives each recording of an archive, which 1.2 allows beside a
// collection in the archive's top-level folder.
std::optional<std::string> inOwnFolder(const std::string& path, const std::string& suffix)
{
    const size_t slash = path.find('/');
    if (slash == std::string::npos || !endsWith(path, suffix))
        return std::nullopt;
    const std::string name = path.substr(0, slash);
    if (path.compare(slash + 1, std::string::npos, name + suffix) != 0)
        return std::nullopt;
    return name;
}

// Whether a recording is distributed as its metadata alone (core:metadata_only true),
// without a data file.
bool metadataOnly(const std::string& metaText)
{
    std::string error;
    const std::optional<QJsonObject> root = parseObject(metaText, &error);
    return root && (*root)["global"].toObject().value("core:metadata_only").toBool(false);
}

// A stream of a collection: a SigMF Recording Object {"name": N, "hash": H}, or the
// Recording Tuple ["N", "H"] that SigMF 1.0 wrote and 1.2 still allows (exactly the two
// texts, in that order). Empty texts for anything else.
struct StreamRef {
    std::string name, hash;
};
StreamRef streamRef(const QJsonValue& v)
{
    if (v.isArray()) {
        const QJsonArray tuple = v.toArray();
        if (tuple.size() != 2 || !tuple[0].isString() || !tuple[1].isString())
            return {};
        return {text(tuple[0]), text(tuple[1])};
    }
    const QJsonObject s = v.toObject();
    return {text(s["name"]), text(s["hash"])};
}

// The data file that the metadata of a Non-Conforming Dataset names (core:dataset): a
// file's name beside the metadata, never one with a folder in it; empty where none is named.
std::string datasetName(const std::string& metaText)
{
    std::string error;
    const std::optional<QJsonObject> root = parseObject(metaText, &error);
    const QJsonValue name = root ? (*root)["global"].toObject().value("core:dataset") : QJsonValue();
    return name.isString() && isRecordingName(text(name)) ? text(name) : std::string();
}

const char MetadataOnlyLine[] = "  data: none, the metadata distributed alone (core:metadata_only)";

// The report of a recording whose metadata lies beside its data file BASE.sigmf-data. A
// recording of its metadata alone has no data file to find; where one is there anyway
// it is checked as any other.
void reportBeside(const std::string& base, const std::string& metaText, SigmfReport& report, bool dataNamed = false)
{
    std::string dataPath = base + ".sigmf-data";
    struct stat info {};
    // Without BASE.sigmf-data, the file a Non-Conforming Dataset's metadata names.
    if (const std::string ncd = datasetName(metaText);
        !ncd.empty() && ::lstat(dataPath.c_str(), &info) != 0 && errno == ENOENT)
        dataPath = folderOf(base) + ncd;
    if (::lstat(dataPath.c_str(), &info) != 0 && errno == ENOENT && metadataOnly(metaText)) {
        reportRecording(base, metaText, std::nullopt, report);
        report.lines.push_back(MetadataOnlyLine);
        return;
    }
    std::string error;
    const std::optional<DataFacts> data = hashFile(dataPath, &error, dataNamed);
    if (!data)
        report.faults.push_back(dataPath + ": " + error);
    reportRecording(base, metaText, data, report, dataPath);
}

// `missing` says of a stream's metadata file that is not there: "File not found" beside
// a collection file, "not in the archive" in an archive; `unreadable` holds, by stream,
// why a metadata file beside a collection could not be read where that is known.
void reportCollectionText(const std::string& label, const std::string& collectionText,
                          const std::map<std::string, std::string>& metaHashes, SigmfReport& report,
                          std::vector<std::string>* names, const std::string& missing,
                          const std::map<std::string, std::string>& unreadable = {})
{
    std::string error;
    const std::optional<QJsonObject> root = parseObject(collectionText, &error);
    const QJsonObject collection = root ? (*root)["collection"].toObject() : QJsonObject();
    if (!root || collection.isEmpty() || !collection["core:version"].isString() ||
        !collection["core:streams"].isArray()) {
        report.faults.push_back(label + ": not a SigMF collection (" +
                                (root ? std::string("no collection object with core:version and core:streams")
                                      : error) +
                                ")");
        return;
    }
    const QJsonArray streams = collection["core:streams"].toArray();
    report.lines.push_back(label + ": SigMF collection " + text(collection["core:version"]) + " of " +
                           std::to_string(streams.size()) + " recordings");
    for (const QJsonValue& v : streams) {
        const auto [name, hash] = streamRef(v);
        if (name.empty() || hash.empty()) {
            report.faults.push_back(label + ": a stream without name and hash");
            continue;
        }
        if (!isRecordingName(name)) {
            report.faults.push_back(label + ": stream \"" + name +
                                    "\" is not the name of a recording beside the collection");
            continue;
        }
        if (names)
            names->push_back(name);
        const auto found = metaHashes.find(name);
        if (found == metaHashes.end()) {
            const auto why = unreadable.find(name);
            report.faults.push_back(label + ": " + name + ".sigmf-meta: " +
                                    (why != unreadable.end() ? why->second : missing));
        }
        else if (found->second != QString::fromStdString(hash).toLower().toStdString())
            report.faults.push_back(label + ": " + name + ".sigmf-meta is not the file it names (sha512 differs)");
        else
            report.lines.push_back("  stream " + name + ": metadata SHA-512 matches");
    }
}

}  // namespace

bool isSigmfPath(const std::string& path)
{
    for (const char* suffix : {".sigmf-meta", ".sigmf-data", ".sigmf-collection", ".sigmf"})
        if (endsWith(path, suffix))
            return true;
    return false;
}

void reportRecording(const std::string& label, const std::string& metaText, const std::optional<DataFacts>& data,
                     SigmfReport& report, const std::string& dataLabel)
{
    const std::string dataName = dataLabel.empty() ? label + ".sigmf-data" : dataLabel;
    std::string error;
    const std::optional<QJsonObject> root = parseObject(metaText, &error);
    const QJsonObject global = root ? (*root)["global"].toObject() : QJsonObject();
    if (!root || !global["core:datatype"].isString() || !global["core:version"].isString() ||
        !(*root)["captures"].isArray() || !(*root)["annotations"].isArray()) {
        report.faults.push_back(label + ".sigmf-meta: not SigMF metadata (" +
                                (root ? std::string("no global with core:datatype and core:version, captures and "
                                                    "annotations")
                                      : error) +
                                ")");
        return;
    }
    // A field of the wrong kind or out of range is a fault of the metadata, named as
    // such: read as its default it would describe another recording.
    const std::string metaLabel = label + ".sigmf-meta: ";
    const QString datatype = global["core:datatype"].toString();
    if (sampleBytes(datatype) == 0)
        report.faults.push_back(metaLabel + "core:datatype \"" + datatype.toStdString() + "\" is not a SigMF datatype");
    const QJsonValue channelsValue = global["core:num_channels"];
    const int64_t channels = channelsValue.isUndefined() ? 1 : channelsValue.toInteger(0);
    const bool channelsKnown = channelsValue.isUndefined() || (channels >= 1 && channels <= INT32_MAX);
    if (!channelsKnown)
        report.faults.push_back(metaLabel + "core:num_channels is not a whole number of 1 or more");
    std::string line = label + ": SigMF recording " + text(global["core:version"]) + ", " + datatype.toStdString() +
                       ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    // The receiver channels the values hold: distinct channels 1..3, one per channel.
    const QJsonValue oursValue = global["sounder:channels"];
    const QJsonArray ours = oursValue.toArray();
    bool oursKnown = oursValue.isUndefined() ||
                     (oursValue.isArray() && !ours.isEmpty() && (!channelsKnown || ours.size() == channels));
    for (qsizetype i = 0; oursKnown && i < ours.size(); ++i) {
        const int64_t ch = ours[i].toInteger(0);
        oursKnown = ch >= 1 && ch <= 3;
        for (qsizetype k = 0; oursKnown && k < i; ++k)
            oursKnown = ours[k].toInteger(0) != ch;
    }
    if (!oursKnown) {
        report.faults.push_back(metaLabel + "sounder:channels is not a list of distinct receiver channels 1..3, one "
                                            "per channel of the recording");
    } else if (!ours.isEmpty()) {
        line += " (";
        for (qsizetype i = 0; i < ours.size(); ++i)
            line += (i ? ", ch " : "ch ") + std::to_string(ours[i].toInteger());
        line += ")";
    }
    // Bytes per sample of all channels; 0 when not known.
    const uint64_t bytes = channelsKnown ? sampleBytes(datatype) * uint64_t(std::max<int64_t>(channels, 1)) : 0;
    // The bytes of a Non-Conforming Dataset that are no samples: a header before each
    // capture's samples (core:header_bytes) and a trailer (core:trailing_bytes).
    uint64_t padding = 0;
    bool paddingKnown = true;
    const auto addPadding = [&](const QJsonValue& v) {
        const int64_t n = v.isUndefined() ? 0 : v.toInteger(-1);
        paddingKnown = paddingKnown && n >= 0 && uint64_t(n) <= UINT64_MAX - padding;
        padding += paddingKnown ? uint64_t(n) : 0;
    };
    addPadding(global["core:trailing_bytes"]);
    for (const QJsonValue& capture : (*root)["captures"].toArray())
        addPadding(capture.toObject().value("core:header_bytes"));
    if (!paddingKnown)
        report.faults.push_back(metaLabel + "core:header_bytes and core:trailing_bytes are not whole numbers of bytes");
    const bool padded = data && paddingKnown && data->size >= padding;
    if (data && paddingKnown && !padded)
        report.faults.push_back(dataName + ": " + std::to_string(data->size) + " bytes, fewer than the " +
                                std::to_string(padding) + " of its headers and trailer");
    const uint64_t sampleData = padded ? data->size - padding : 0;
    if (padded && bytes > 0)
        line += ", " + std::to_string(sampleData / bytes) + " samples";
    const QJsonValue rate = global["core:sample_rate"];
    if (rate.isDouble() && rate.toDouble() > 0.0)
        line += ", " + QString::number(rate.toDouble(), 'g', 15).toStdString() + " samples/s";
    else if (!rate.isUndefined())
        report.faults.push_back(metaLabel + "core:sample_rate is not a positive number of samples per second");
    report.lines.push_back(line);
    const QJsonArray captures = (*root)["captures"].toArray();
    for (qsizetype i = 0; i < captures.size(); ++i) {
        const QJsonValue datetime = captures[i].toObject().value("core:datetime");
        if (!datetime.isUndefined() && !datetime.isString()) {
            report.faults.push_back(metaLabel + "capture " + std::to_string(i + 1) + ": core:datetime is not a text");
            break;
        }
    }
    if (!captures.isEmpty() && captures[0].toObject()["core:datetime"].isString())
        report.lines.push_back("  starts " + text(captures[0].toObject()["core:datetime"]) + ", " +
                               std::to_string(captures.size()) + " capture segment" + (captures.size() == 1 ? "" : "s"));
    if (global["core:hw"].isString())
        report.lines.push_back("  hardware: " + text(global["core:hw"]));
    if (!global["sounder:sweeps_written"].isUndefined() || !global["sounder:sweeps_missing"].isUndefined()) {
        // Sweep counts of a recording: whole numbers 0..2^31 - 1, as a header holds them.
        const auto count = [&](const char* name) -> std::optional<int64_t> {
            const int64_t n = global[name].toInteger(-1);
            if (n < 0 || n > INT32_MAX)
                return std::nullopt;
            return n;
        };
        const std::optional<int64_t> written = count("sounder:sweeps_written");
        const std::optional<int64_t> missing =
            global["sounder:sweeps_missing"].isUndefined() ? std::optional<int64_t>(0) : count("sounder:sweeps_missing");
        if (!written || !missing)
            report.faults.push_back(metaLabel + "sounder:sweeps_written and sounder:sweeps_missing are not whole "
                                                "numbers of sweeps");
        else
            report.lines.push_back("  sweeps: " + std::to_string(*written) + " of " + std::to_string(*written + *missing) +
                                   (*missing == 0 ? " present, complete"
                                                  : " present, cut short (" + std::to_string(*missing) + " missing)"));
    }
    if (global["sounder:code_from_value"].isString())
        report.lines.push_back("  back to codes: " + text(global["sounder:code_from_value"]));
    if (!data)
        return;
    if (padded && bytes > 0 && sampleData % bytes != 0)
        report.faults.push_back(dataName + ": " + std::to_string(sampleData) + " bytes" +
                                (padding ? " of samples" : "") + ", not whole samples of " + std::to_string(bytes) +
                                " bytes");
    if (!global["core:sha512"].isUndefined() && !global["core:sha512"].isString()) {
        report.faults.push_back(metaLabel + "core:sha512 is not a text of hexadecimal digits");
        return;
    }
    if (!global["core:sha512"].isString()) {
        report.lines.push_back("  data: " + std::to_string(data->size) + " bytes, no SHA-512 to check it against");
        return;
    }
    if (global["core:sha512"].toString().toLower().toStdString() != data->sha512) {
        report.lines.push_back("  data: " + std::to_string(data->size) + " bytes, SHA-512 DOES NOT MATCH");
        report.faults.push_back(dataName + ": the data is not the one its metadata describes (sha512 differs)");
    } else {
        report.lines.push_back("  data: " + std::to_string(data->size) + " bytes, SHA-512 matches");
    }
}

SigmfReport reportArchive(const std::string& path, const std::vector<ArchiveEntry>& entries)
{
    SigmfReport report;
    report.lines.push_back(path + ": SigMF archive, " + std::to_string(entries.size()) + " files");
    std::map<std::string, const ArchiveEntry*> byPath;
    for (const ArchiveEntry& e : entries)
        byPath[e.path] = &e;
    int recordings = 0;
    for (const ArchiveEntry& e : entries) {
        if (endsWith(e.path, ".sigmf-collection")) {
            if (!e.text) {
                report.faults.push_back(path + ": " + e.path + ": too large for a collection");
                continue;
            }
            std::map<std::string, std::string> metaHashes;
            const std::string folder = folderOf(e.path);
            for (const ArchiveEntry& m : entries)
                if (endsWith(m.path, ".sigmf-meta") && folderOf(m.path) == folder)
                    metaHashes[stem(m.path.substr(folder.size()), ".sigmf-meta")] = m.sha512;
            // In the top-level folder a collection names the recordings beside it, and
            // those each in a folder of its own name.
            if (folder.empty())
                for (const ArchiveEntry& m : entries)
                    if (const std::optional<std::string> name = inOwnFolder(m.path, ".sigmf-meta"))
                        metaHashes.emplace(*name, m.sha512);
            reportCollectionText(path + ": " + e.path, *e.text, metaHashes, report, nullptr, "not in the archive");
        } else if (endsWith(e.path, ".sigmf-meta")) {
            ++recordings;
            const std::string base = stem(e.path, ".sigmf-meta");
            std::string dataPath = base + ".sigmf-data";
            // Without BASE.sigmf-data, the file a Non-Conforming Dataset's metadata names.
            if (const std::string ncd = e.text ? datasetName(*e.text) : std::string();
                !byPath.count(dataPath) && !ncd.empty())
                dataPath = folderOf(e.path) + ncd;
            const auto data = byPath.find(dataPath);
            std::optional<DataFacts> facts;
            const bool alone = data == byPath.end() && e.text && metadataOnly(*e.text);
            if (data != byPath.end())
                facts = DataFacts{data->second->size, data->second->sha512};
            else if (!alone)
                report.faults.push_back(path + ": " + dataPath + ": not in the archive");
            if (!e.text) {
                report.faults.push_back(path + ": " + e.path + ": too large for SigMF metadata");
                continue;
            }
            reportRecording(path + ": " + base, *e.text, facts, report, path + ": " + dataPath);
            if (alone)
                report.lines.push_back(MetadataOnlyLine);
            // A recording of a collection comes with it: an archive cut short after the
            // recordings, or with the collection taken out, has lost it.
            std::string error;
            const std::optional<QJsonObject> root = parseObject(*e.text, &error);
            const QJsonValue collection = root ? (*root)["global"].toObject().value("core:collection") : QJsonValue();
            const std::string collectionFile = text(collection) + ".sigmf-collection";
            if (collection.isString() && isRecordingName(text(collection)) &&
                !byPath.count(folderOf(e.path) + collectionFile) &&
                !(inOwnFolder(e.path, ".sigmf-meta") && byPath.count(collectionFile)))
                report.faults.push_back(path + ": " + e.path + ": names the collection " + text(collection) +
                                        ", which is not in the archive");
        }
    }
    // A data file without its metadata is a recording nobody can read.
    for (const ArchiveEntry& e : entries)
        if (endsWith(e.path, ".sigmf-data") && !byPath.count(stem(e.path, ".sigmf-data") + ".sigmf-meta"))
            report.faults.push_back(path + ": " + stem(e.path, ".sigmf-data") +
                                    ".sigmf-meta: not in the archive, which holds its data");
    if (recordings == 0)
        report.faults.push_back(path + ": no SigMF recording in the archive");
    return report;
}

bool infoSigmf(const std::string& path)
{
    SigmfReport report;
    if (endsWith(path, ".sigmf")) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw Failure(path + ": " + rt::ioErrorText(rt::ioCodeFromOpenErrno(errno, path)));
        const bool file = rt::readsAsFile(fd);
        ::close(fd);
        if (!file)
            throw Failure(path + ": " + rt::ioErrorText(rt::ioCodeFromErrno(EISDIR)));
        std::string error;
        const std::optional<std::vector<ArchiveEntry>> entries = readArchiveFile(path, &error);
        if (!entries)
            throw Failure(path + ": " + error);
        report = reportArchive(path, *entries);
    } else if (endsWith(path, ".sigmf-collection")) {
        const std::string collectionText = readWhole(path, true);
        // The streams' metadata files lie beside the collection.
        std::string error;
        // (Or, where there is none of that name, in a folder of its own name: an
        // archive's recordings so placed, extracted beside its collection.)
        std::map<std::string, std::string> metaHashes, unreadable, bases;
        std::vector<std::string> names;
        if (const std::optional<QJsonObject> root = parseObject(collectionText, &error))
            for (const QJsonValue& v : (*root)["collection"].toObject()["core:streams"].toArray()) {
                const std::string name = streamRef(v).name;
                if (!isRecordingName(name))
                    continue;
                std::string base = folderOf(path) + name;
                struct stat info {};
                if (const std::string own = folderOf(path) + name + "/" + name;
                    ::lstat((base + ".sigmf-meta").c_str(), &info) != 0 && errno == ENOENT &&
                    ::lstat((own + ".sigmf-meta").c_str(), &info) == 0)
                    base = own;
                if (const std::optional<DataFacts> m = hashFile(base + ".sigmf-meta", &error)) {
                    metaHashes[name] = m->sha512;
                    bases[name] = base;
                } else {
                    unreadable[name] = error;
                }
            }
        reportCollectionText(path, collectionText, metaHashes, report, &names, rt::ioErrorText(2), unreadable);
        for (const std::string& name : names) {
            if (!metaHashes.count(name))
                continue;
            const std::string& base = bases[name];
            reportBeside(base, readWhole(base + ".sigmf-meta"), report);
        }
    } else {
        const bool metaNamed = endsWith(path, ".sigmf-meta");
        const std::string base = stem(path, metaNamed ? ".sigmf-meta" : ".sigmf-data");
        reportBeside(base, readWhole(base + ".sigmf-meta", metaNamed), report, !metaNamed);
    }
    for (const std::string& line : report.lines)
        std::printf("%s\n", printable(line).c_str());
    std::fflush(stdout);
    for (const std::string& fault : report.faults)
        std::fprintf(stderr, "%s\n", printable(fault).c_str());
    return report.faults.empty();
}

}  // namespace cli
