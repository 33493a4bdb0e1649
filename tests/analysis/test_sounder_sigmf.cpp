// convert --to sigmf over every datatype and layout, as files and as an archive, on a
// cut-short recording: the values give back the recorded codes by the rule the
// metadata states, the hashes hold, the archive has its members in order, info reads
// it all back; and the failures leave nothing under a final name.

#include "digest.h"
#include "recording_metadata.h"
#include "run_sounder.h"
#include "sigmf_archive.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Three promised sweeps of 2500, two whole and 700 lines of the third.
const std::string CutShort = recording(3, 2500, 2) + [] {
    std::string tail;
    for (int i = 5000; i < 5700; ++i)
        tail += std::to_string(i % 4096) + "," + std::to_string((i * 7) % 4096) + "," +
                std::to_string(4095 - i % 4096) + "\r\n";
    return tail;
}();

int recordedCode(int line, int channel)
{
    const int codes[3] = {line % 4096, (line * 7) % 4096, 4095 - line % 4096};
    return codes[channel];
}

// The code back from value k of a data file by the datatype's rule.
int codeOf(const std::string& data, const std::string& datatype, size_t k)
{
    if (datatype == "rf32_le") {
        uint32_t bits = 0;
        for (int b = 0; b < 4; ++b)
            bits |= uint32_t(uint8_t(data[4 * k + size_t(b)])) << (8 * b);
        float volts;
        std::memcpy(&volts, &bits, 4);
        const double code = double(volts) / 5.0 * 2048.0 + 2048.0;
        return code == std::floor(code) ? int(code) : -1;  // exact, or not a code at all
    }
    const int raw = uint8_t(data[2 * k]) | (uint8_t(data[2 * k + 1]) << 8);
    return datatype == "ri16_le" ? int16_t(raw) + 2048 : raw;
}

QJsonObject jsonOf(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object(); }

std::string sha512(const std::string& bytes) { return digest::hexDigest(digest::Algorithm::Sha512, bytes); }

std::set<std::string> filesIn(const TempDir& dir)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
        if (entry.path().filename().string().rfind("std", 0) != 0)
            names.insert(entry.path().filename().string());
    return names;
}

struct Layout {
    const char* args;
    std::vector<std::string> streams;             // recording names, in order
    std::vector<std::vector<int>> channels;       // input channels (0..2) of each
};

}  // namespace

TEST(SounderSigmf, EveryDatatypeAndLayoutGivesBackTheCodes)
{
    const Layout layouts[] = {
        {"", {"rec"}, {{0, 1, 2}}},
        {"--layout interleaved", {"rec"}, {{0, 1, 2}}},
        {"--layout collection", {"rec-ch1", "rec-ch2", "rec-ch3"}, {{0}, {1}, {2}}},
        {"--channel 2", {"rec-ch2"}, {{1}}},
    };
    for (const char* datatype : {"rf32_le", "ri16_le", "ru16_le"})
        for (const Layout& layout : layouts) {
            const std::string label = std::string(datatype) + " " + layout.args;
            TempDir dir, packed;
            writeBytes(dir.file("rec.txt"), CutShort);
            writeBytes(packed.file("rec.txt"), CutShort);
            const std::string args = std::string("convert rec.txt --to sigmf --datatype ") + datatype + " " + layout.args;
            const RunResult run = runSounder(dir, args);
            ASSERT_EQ(run.status, 0) << label << ": " << run.err;
            EXPECT_NE(run.err.find("2 of 3 sweeps present, 1 missing"), std::string::npos) << run.err;
            const bool collection = layout.streams.size() > 1;

            std::set<std::string> expected{"rec.txt"};
            if (collection)
                expected.insert("rec.sigmf-collection");
            for (const std::string& name : layout.streams) {
                expected.insert(name + ".sigmf-meta");
                expected.insert(name + ".sigmf-data");
            }
            EXPECT_EQ(filesIn(dir), expected) << label;

            for (size_t s = 0; s < layout.streams.size(); ++s) {
                const std::string data = readBytes(dir.file(layout.streams[s] + ".sigmf-data"));
                const QJsonObject meta = jsonOf(readBytes(dir.file(layout.streams[s] + ".sigmf-meta")));
                const QJsonObject global = meta["global"].toObject();
                const std::vector<int>& channels = layout.channels[s];
                EXPECT_EQ(global["core:datatype"].toString().toStdString(), datatype) << label;
                EXPECT_EQ(global["core:num_channels"].toInt(), int(channels.size())) << label;
                EXPECT_EQ(global["core:sha512"].toString().toStdString(), sha512(data)) << label;
                EXPECT_EQ(global["sounder:sweeps_written"].toInt(), 2) << label;
                EXPECT_EQ(global["sounder:sweeps_missing"].toInt(), 1) << label;
                EXPECT_EQ(global["core:collection"].toString(), collection ? "rec" : "") << label;
                EXPECT_EQ(meta["annotations"].toArray().size(), 2) << label;
                EXPECT_FALSE(global.contains("core:sample_rate")) << label << ": no sidecar, no rate";
                const size_t valueBytes = std::string(datatype) == "rf32_le" ? 4 : 2;
                ASSERT_EQ(data.size(), 5000 * channels.size() * valueBytes) << label;
                for (size_t line = 0; line < 5000; ++line)
                    for (size_t i = 0; i < channels.size(); ++i)
                        ASSERT_EQ(codeOf(data, datatype, line * channels.size() + i),
                                  recordedCode(int(line), channels[i]))
                            << label << " line " << line << " channel " << channels[i];
            }
            if (collection) {
                const QJsonObject c = jsonOf(readBytes(dir.file("rec.sigmf-collection")))["collection"].toObject();
                const QJsonArray streams = c["core:streams"].toArray();
                ASSERT_EQ(streams.size(), 3) << label;
                for (int s = 0; s < 3; ++s) {
                    EXPECT_EQ(streams[s].toObject()["name"].toString().toStdString(), layout.streams[size_t(s)]);
                    EXPECT_EQ(streams[s].toObject()["hash"].toString().toStdString(),
                              sha512(readBytes(dir.file(layout.streams[size_t(s)] + ".sigmf-meta"))));
                }
            }
            // Read back by info, every hash checked.
            const std::string primary = collection ? "rec.sigmf-collection" : layout.streams[0] + ".sigmf-meta";
            RunResult info = runSounder(dir, "info " + primary);
            EXPECT_EQ(info.status, 0) << label << ": " << info.err;
            size_t matches = 0;
            for (size_t at = 0; (at = info.out.find("data: ", at)) != std::string::npos; ++at)
                matches += info.out.compare(info.out.find(',', at), 18, ", SHA-512 matches\n") == 0;
            EXPECT_EQ(matches, layout.streams.size()) << label << "\n" << info.out;
            EXPECT_NE(info.out.find("cut short (1 missing)"), std::string::npos) << info.out;

            // The same as one archive: the folder, the data files, the metadata files, the
            // collection, byte for byte the files above.
            const RunResult archived = runSounder(packed, args + " --archive");
            ASSERT_EQ(archived.status, 0) << label << ": " << archived.err;
            EXPECT_EQ(filesIn(packed), (std::set<std::string>{"rec.txt", "rec.sigmf"})) << label;
            std::string error;
            const auto entries = cli::readArchiveFile(packed.file("rec.sigmf"), &error);
            ASSERT_TRUE(entries) << error;
            std::vector<std::string> names;
            for (const std::string& name : layout.streams)
                names.push_back(name + ".sigmf-data");
            for (const std::string& name : layout.streams)
                names.push_back(name + ".sigmf-meta");
            if (collection)
                names.push_back("rec.sigmf-collection");
            ASSERT_EQ(entries->size(), names.size()) << label;
            for (size_t i = 0; i < names.size(); ++i) {
                EXPECT_EQ((*entries)[i].path, "rec/" + names[i]) << label;
                EXPECT_EQ((*entries)[i].sha512, sha512(readBytes(dir.file(names[i])))) << label << " " << names[i];
            }
            info = runSounder(packed, "info rec.sigmf");
            EXPECT_EQ(info.status, 0) << label << ": " << info.err;
            EXPECT_NE(info.out.find("rec.sigmf: SigMF archive, " + std::to_string(names.size()) + " files"),
                      std::string::npos)
                << info.out;
        }
}

TEST(SounderSigmf, TheSidecarGivesRateTimeAndHardware)
{
    struct Row {
        std::vector<int64_t> starts;
        std::vector<std::pair<int, const char*>> segments;  // sample start, datetime
        std::optional<meta::PositionSample> start, end;     // positions in the sidecar
        std::vector<double> point;  // the geolocation's coordinates; empty: none
        const char* scanStart = "2026-12-08T09:00:00.000Z";
    };
    meta::Position withHeight;
    withHeight.latitudeDeg = 48.1234567;
    withHeight.longitudeDeg = -11.7654321;
    withHeight.altitudeM = 592.25;
    meta::Position flat;
    flat.latitudeDeg = -33.5;
    flat.longitudeDeg = 151.25;
    const meta::PositionSample noFix{std::nullopt, "no fix"};
    const Row rows[] = {
        // Back to back in the capture: one segment, 4 groups at 2.5 MHz after the scan start.
        {{4, 2504}, {{0, "2026-12-08T09:00:00.000001600Z"}}, std::nullopt, std::nullopt, {}},
        // A gap before the second sweep: a segment of its own, each with the start position.
        {{4, 3000},
         {{0, "2026-12-08T09:00:00.000001600Z"}, {2500, "2026-12-08T09:00:00.001200000Z"}},
         meta::PositionSample{withHeight, ""},
         meta::PositionSample{flat, ""},
         {-11.7654321, 48.1234567, 592.25}},
        // No fix at the start: the end position, a 2D one without a height.
        {{4, 3000},
         {{0, "2026-12-08T09:00:00.000001600Z"}, {2500, "2026-12-08T09:00:00.001200000Z"}},
         noFix,
         meta::PositionSample{flat, ""},
         {151.25, -33.5}},
        // No fix at all: no point.
        {{4, 2504}, {{0, "2026-12-08T09:00:00.000001600Z"}}, noFix, noFix, {}},
        // A segment past the year 9999, which RFC 3339 cannot write, has no time.
        {{4, 3000},
         {{0, "9999-12-31T23:59:59.999001600Z"}, {2500, ""}},
         std::nullopt,
         std::nullopt,
         {},
         "9999-12-31T23:59:59.999000Z"},
    };
    const auto expectPoint = [](const QJsonObject& object, const std::vector<double>& point) {
        if (point.empty()) {
            EXPECT_FALSE(object.contains("core:geolocation"));
            return;
        }
        const QJsonObject geolocation = object["core:geolocation"].toObject();
        EXPECT_EQ(geolocation["type"].toString(), "Point");
        const QJsonArray coordinates = geolocation["coordinates"].toArray();
        ASSERT_EQ(coordinates.size(), qsizetype(point.size()));
        for (size_t i = 0; i < point.size(); ++i)
            EXPECT_EQ(coordinates[qsizetype(i)].toDouble(), point[i]) << i;
    };
    for (const Row& row : rows) {
        TempDir dir;
        const std::string text = recording(2, 2500, 2);
        writeBytes(dir.file("rec.txt"), text);
        meta::Recording r;
        r.softwareName = "quenlo";
        r.softwareVersion = "1.2.3";
        r.boardLibraryPath = "/usr/lib/sounder/libcbw32.so";
        r.boardLibrarySimulated = true;
        r.scanStartedUtc = row.scanStart;
        r.writtenUtc = "2026-12-08T09:00:02.000Z";
        r.recordingFile = "rec.txt";
        r.settings = {2, 2500, 31, {10, 20, 30}, 4};
        r.scan = {120000, 2500000, 2500, 2800};
        r.sweepsRequested = 2;
        r.sweepStartGroups = row.starts;
        r.result.status = "DONE";
        r.result.lines = 4 + 5000;
        r.result.bytes = text.size();
        r.result.sha256 = digest::hexDigest(digest::Algorithm::Sha256, text);
        r.positionStart = row.start;
        r.positionEnd = row.end;
        ASSERT_EQ(meta::writeSidecar(dir.file("rec.txt.meta.json"), r), "");
        const RunResult run = runSounder(dir, "convert rec.txt --to sigmf --layout collection");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        // A whole recording as an archive: its first data file is the size its header
        // foresaw, and the archive holds the same bytes.
        ASSERT_EQ(runSounder(dir, "convert rec.txt --to sigmf --layout collection --archive").status, 0);
        std::string error;
        const auto entries = cli::readArchiveFile(dir.file("rec.sigmf"), &error);
        ASSERT_TRUE(entries) << error;
        ASSERT_EQ(entries->size(), 7u);
        EXPECT_EQ((*entries)[0].path, "rec/rec-ch1.sigmf-data");
        EXPECT_EQ((*entries)[0].size, 2u * 2500 * 4);
        for (const auto& entry : *entries)
            EXPECT_EQ(entry.sha512, sha512(readBytes(dir.file(entry.path.substr(4))))) << entry.path;
        EXPECT_EQ(runSounder(dir, "info rec.sigmf").status, 0);
        for (const char* name : {"rec-ch1", "rec-ch3"}) {
            const QJsonObject meta = jsonOf(readBytes(dir.file(std::string(name) + ".sigmf-meta")));
            const QJsonObject global = meta["global"].toObject();
            EXPECT_EQ(global["core:sample_rate"].toDouble(), 2500000.0);
            EXPECT_NE(global["core:hw"].toString().indexOf("simulated board library /usr/lib/sounder/libcbw32.so"), -1)
                << global["core:hw"].toString().toStdString();
            const QJsonArray captures = meta["captures"].toArray();
            ASSERT_EQ(captures.size(), qsizetype(row.segments.size()));
            for (size_t k = 0; k < row.segments.size(); ++k) {
                const QJsonObject c = captures[qsizetype(k)].toObject();
                EXPECT_EQ(c["core:sample_start"].toInt(), row.segments[k].first);
                EXPECT_EQ(c["core:datetime"].toString().toStdString(), row.segments[k].second);
                EXPECT_EQ(c.contains("core:datetime"), row.segments[k].second[0] != '\0');
                EXPECT_EQ(c["core:global_index"].toInteger(), row.starts[k]);
                expectPoint(c, row.point);
            }
            expectPoint(global, row.point);
        }
    }
}

TEST(SounderSigmf, FailuresLeaveNothingUnderAFinalName)
{
    struct Row {
        const char* name;
        std::string recording;
        std::string command;  // run in the folder, sounder as $S
        const char* says;
    };
    // A code above 34815 (code - 2048 beyond int16) on channel 2 of the second sweep.
    std::string wide = recording(2, 2500, 2);
    wide.replace(wide.rfind("\r\n", wide.size() - 3) + 2, std::string::npos, "1,40000,3\r\n");
    const Row rows[] = {
        {"code beyond ri16", wide, "$S convert rec.txt --to sigmf --datatype ri16_le --layout collection",
         "rec.txt: a code above 34815 does not fit ri16_le"},
        // File-size limits (blocks of 512 bytes): each 30 KB channel fits in 64 KiB, the
        // archive of 90 KB does not; nor does a channel in 20 KiB.
        {"full disk, archive", recording(3, 2500, 3),
         "ulimit -f 128 && trap '' XFSZ && $S convert rec.txt --to sigmf --layout collection --archive",
         "rec.sigmf: Disk full"},
        {"full disk, collection", recording(3, 2500, 3),
         "ulimit -f 40 && trap '' XFSZ && $S convert rec.txt --to sigmf --layout collection",
         "rec-ch1.sigmf-data: Disk full"},  // the file that did not fit, the first
    };
    for (const Row& row : rows) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), row.recording);
        std::string command = row.command;
        command.replace(command.find("$S"), 2, std::string("'") + SOUNDER_BINARY + "'");
        const std::string full = "cd '" + dir.file("") + "' && (" + command + ") >/dev/null 2>'" + dir.file("stderr.log") + "'";
        const int raw = std::system(full.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2) << row.name;
        const std::string err = readBytes(dir.file("stderr.log"));
        EXPECT_NE(err.find(row.says), std::string::npos) << row.name << ": " << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << row.name << ": one line: " << err;
        EXPECT_EQ(filesIn(dir), (std::set<std::string>{"rec.txt"})) << row.name;
    }

    // A recording cut short as an archive on a stream (BASE.sigmf a named pipe, or a link
    // to a device): its header, written for the sweeps promised, cannot be rewritten
    // there; said as such, where the failure was "I/O error 1029".
    for (const bool pipe : {true, false})
        for (const char* layout : {"--layout interleaved", "--layout collection", "--channel 2"}) {
            SCOPED_TRACE(std::string(pipe ? "pipe " : "device ") + layout);
            TempDir cut;
            writeBytes(cut.file("rec.txt"), recording(3, 2500, 2));
            if (pipe)
                ASSERT_EQ(::mkfifo(cut.file("out.sigmf").c_str(), 0600), 0);
            else
                std::filesystem::create_symlink("/dev/null", cut.file("out.sigmf"));
            const int raw = std::system(("cd '" + cut.file("") + "' && " +
                                         (pipe ? "(timeout 20 cat out.sigmf >/dev/null &); timeout 20 " : "") + "'" +
                                         SOUNDER_BINARY + "' convert rec.txt --to sigmf --archive " + layout +
                                         " -o out 2>err.log")
                                            .c_str());
            EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
            const std::string err = readBytes(cut.file("err.log"));
            EXPECT_NE(err.find("out.sigmf: written as a stream whose tar header of out/out"), std::string::npos) << err;
            EXPECT_NE(err.find(" (cut short): write the archive to a file\n"), std::string::npos) << err;
        }

    // The input is never an output.
    TempDir dir;
    writeBytes(dir.file("rec.sigmf"), recording(2, 2500, 2));
    RunResult run = runSounder(dir, "convert rec.sigmf --to sigmf --archive");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "sounder: rec.sigmf: is also an input\n");
    EXPECT_EQ(readBytes(dir.file("rec.sigmf")), recording(2, 2500, 2));

    // A changed data byte or metadata file is told by info.
    writeBytes(dir.file("rec.txt"), recording(2, 2500, 2));
    ASSERT_EQ(runSounder(dir, "convert rec.txt --to sigmf --layout collection").status, 0);
    std::string data = readBytes(dir.file("rec-ch2.sigmf-data"));
    data[100] = char(data[100] ^ 1);
    writeBytes(dir.file("rec-ch2.sigmf-data"), data);
    run = runSounder(dir, "info rec.sigmf-collection");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "rec-ch2.sigmf-data: the data is not the one its metadata describes (sha512 differs)\n");
    writeBytes(dir.file("rec-ch3.sigmf-meta"), readBytes(dir.file("rec-ch3.sigmf-meta")) + " ");
    run = runSounder(dir, "info rec.sigmf-collection");
    EXPECT_NE(run.err.find("rec.sigmf-collection: rec-ch3.sigmf-meta is not the file it names (sha512 differs)"),
              std::string::npos)
        << run.err;
    run = runSounder(dir, "info none.sigmf");
    EXPECT_EQ(run.err, "none.sigmf: File not found\n");
    writeBytes(dir.file("junk.sigmf"), "not a tar archive at all");
    run = runSounder(dir, "info junk.sigmf");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("junk.sigmf: ", 0), 0u) << run.err;
    // A folder or a device given as any SigMF file names no file, as for every input.
    std::filesystem::create_directory(dir.file("folder.sigmf"));
    std::filesystem::create_directory(dir.file("folder.sigmf-meta"));
    std::filesystem::create_directory(dir.file("folder.sigmf-collection"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.sigmf"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.sigmf-meta"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.sigmf-collection"));
    for (const char* name : {"folder.sigmf", "folder.sigmf-meta", "folder.sigmf-collection", "zero.sigmf",
                             "zero.sigmf-meta", "zero.sigmf-collection"}) {
        run = runSounder(dir, std::string("info ") + name);
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.err, std::string(name) + ": Invalid filename\n");
    }
}

TEST(SounderSigmf, AnArchiveOfAPipedRecordingHoldsWhatTheFileGives)
{
    // Read from a pipe, the input's size (and so the most its data can come to) is not
    // known beforehand: the data members go through scratch files and come out the same.
    for (const char* layout : {"--layout interleaved", "--layout collection", "--channel 3"}) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), CutShort);
        const std::string args = std::string(" --to sigmf --datatype ri16_le --archive ") + layout;
        ASSERT_EQ(runSounder(dir, "convert rec.txt" + args).status, 0) << layout;
        const std::string piped = "cd '" + dir.file("") + "' && cat rec.txt | '" + SOUNDER_BINARY +
                                  "' convert /dev/stdin" + args + " -o rec 2>/dev/null >/dev/null";
        std::filesystem::rename(dir.file("rec.sigmf"), dir.file("file.sigmf"));
        const int raw = std::system(piped.c_str());
        ASSERT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << layout;
        std::string error;
        const auto fromFile = cli::readArchiveFile(dir.file("file.sigmf"), &error);
        const auto fromPipe = cli::readArchiveFile(dir.file("rec.sigmf"), &error);
        ASSERT_TRUE(fromFile && fromPipe) << error;
        ASSERT_EQ(fromPipe->size(), fromFile->size()) << layout;
        size_t dataMembers = 0;
        for (size_t i = 0; i < fromFile->size(); ++i) {
            EXPECT_EQ((*fromPipe)[i].path, (*fromFile)[i].path) << layout;
            if ((*fromFile)[i].path.find(".sigmf-data") != std::string::npos) {
                ++dataMembers;
                EXPECT_EQ((*fromPipe)[i].sha512, (*fromFile)[i].sha512) << layout << " " << (*fromFile)[i].path;
                const size_t channels = std::string(layout).find("interleaved") != std::string::npos ? 3 : 1;
                EXPECT_EQ((*fromFile)[i].size, 5000 * channels * 2) << layout;  // the two whole sweeps
            }
        }
        EXPECT_EQ(dataMembers, std::string(layout).find("collection") != std::string::npos ? 3u : 1u) << layout;
    }
}

TEST(SounderSigmf, UsageErrors)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), recording(2, 2500, 2));
    for (const char* args : {"convert rec.txt --to sigmf --datatype cf32_le", "convert rec.txt --to sigmf --layout split",
                             "convert rec.txt --to sigmf --channel 2 --layout collection",
                             "convert rec.txt --to sigmf --channel 0", "convert rec.txt --to viewer --archive",
                             "convert rec.txt --to viewer --datatype ru16_le", "convert rec.txt --to sigmf -o -",
                             "convert rec.txt --to sigmf --archive -o -"}) {
        const RunResult run = runSounder(dir, args);
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_FALSE(run.err.empty()) << args;
    }
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"rec.txt"}));
    // A BASE that is a folder would start no name: hidden files (sub/.sigmf-meta,
    // ..sigmf-meta) or an archive whose members lie outside any folder.
    std::filesystem::create_directory(dir.file("sub"));
    for (const char* base : {"''", ".", "..", "sub/", "sub/.", "sub/..", "./"}) {
        for (const char* form : {"", " --archive", " --layout collection"}) {
            const std::string args = std::string("convert rec.txt --to sigmf -o ") + base + form;
            const RunResult run = runSounder(dir, args);
            EXPECT_EQ(run.status, 1) << args;
            EXPECT_NE(run.err.find(": BASE starts the files' names"), std::string::npos) << args << ": " << run.err;
            EXPECT_EQ(filesIn(dir), (std::set<std::string>{"rec.txt", "sub"})) << args;
            EXPECT_TRUE(std::filesystem::is_empty(dir.file("sub"))) << args;
        }
    }
}

// A stream's metadata file beside a collection that cannot be read is told with the
// reason, as any input is: not found, a folder standing in its place, no permission.
TEST(SounderSigmf, InfoOfACollectionTellsWhyAStreamsMetadataIsUnreadable)
{
    struct Case {
        const char* name;
        void (*spoil)(const std::string& meta);
        const char* said;
    };
    const Case cases[] = {
        {"missing", [](const std::string& meta) { std::filesystem::remove(meta); }, "File not found"},
        {"a folder",
         [](const std::string& meta) {
             std::filesystem::remove(meta);
             std::filesystem::create_directory(meta);
         },
         "Invalid filename"},
        {"no permission", [](const std::string& meta) { std::filesystem::permissions(meta, std::filesystem::perms::none); },
         "File access denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "no permission" && ::geteuid() == 0) {
            std::printf("no permission: not checked as root, who reads any file\n");
            continue;
        }
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(2, 2500, 2));
        ASSERT_EQ(runSounder(dir, "convert rec.txt --to sigmf --layout collection").status, 0);
        c.spoil(dir.file("rec-ch2.sigmf-meta"));
        const RunResult run = runSounder(dir, "info rec.sigmf-collection");
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(std::string("rec.sigmf-collection: rec-ch2.sigmf-meta: ") + c.said + "\n"),
                  std::string::npos)
            << run.err;
        if (std::filesystem::exists(dir.file("rec-ch2.sigmf-meta")))
            std::filesystem::permissions(dir.file("rec-ch2.sigmf-meta"), std::filesystem::perms::owner_all);
    }
}

// The files info finds by their names beside the one named (the data of a metadata file,
// the metadata of a data file, a collection's recordings) must be files: a FIFO there is
// an invalid name, where info waited on it for a writer for good.
TEST(SounderSigmf, InfoWaitsOnNoFifoBesideTheFileNamed)
{
    if (std::system("timeout --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no timeout here to keep a FIFO from holding the test";
    const struct Case {
        const char* named;
        const char* fifo;
        const char* said;
    } cases[] = {
        {"rec-ch1.sigmf-meta", "rec-ch1.sigmf-data", "rec-ch1.sigmf-data: Invalid filename\n"},
        {"rec-ch1.sigmf-data", "rec-ch1.sigmf-meta", "rec-ch1.sigmf-meta: Invalid filename\n"},
        {"rec.sigmf-collection", "rec-ch2.sigmf-meta", "rec.sigmf-collection: rec-ch2.sigmf-meta: Invalid filename\n"},
        {"rec.sigmf-collection", "rec-ch3.sigmf-data", "rec-ch3.sigmf-data: Invalid filename\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.named) + " beside the FIFO " + c.fifo);
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(2, 2500, 2));
        ASSERT_EQ(runSounder(dir, "convert rec.txt --to sigmf --layout collection").status, 0);
        std::filesystem::remove(dir.file(c.fifo));
        ASSERT_EQ(::mkfifo(dir.file(c.fifo).c_str(), 0600), 0);
        const int raw = std::system(("cd '" + dir.file("") + "' && timeout 20 '" + SOUNDER_BINARY + "' info " +
                                     c.named + " >out.log 2>err.log")
                                        .c_str());
        const std::string err = readBytes(dir.file("err.log"));
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2) << err;
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
    }
}
