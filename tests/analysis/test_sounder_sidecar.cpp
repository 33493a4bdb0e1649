// `sounder info` and `convert --to sigmf` on a recording with its metadata sidecar:
// the sidecar's settings and front-end are shown and carried over, and a recording
// changed since it was written is told apart.

#include "digest.h"
#include "recording_metadata.h"
#include "run_sounder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string Recording = recording(2, 2500, 2, 31);

meta::Recording sidecarFor(const std::string& bytes)
{
    meta::Recording r;
    r.softwareName = "quenlo";
    r.softwareVersion = "1.2.3";
    r.boardLibraryPath = "/usr/lib/sounder/libcbw32.so";
    r.boardLibrarySimulated = true;
    r.scanStartedUtc = "2026-12-08T09:00:00.000Z";
    r.writtenUtc = "2026-12-08T09:00:02.000Z";
    r.recordingFile = "rec.txt";
    r.settings = {2, 2500, 31, {10, 20, 30}, 4};
    r.frontEnd.dividerCode = 3;
    r.frontEnd.sweepCount = 2;
    r.frontEnd.attenuationDb = 7;
    r.frontEnd.attenuatorCode = 13;
    r.frontEnd.channels[0] = {10, 10};
    r.frontEnd.channels[1] = {20, 19};
    r.frontEnd.channels[2] = {30, std::nullopt};
    r.frontEnd.pots[0] = 5;
    r.frontEnd.pots[3] = 21;
    r.frontEnd.clocksPerSweep = 10000;
    r.scan = {120000, 2500000, 2500, 2800};
    r.sweepsRequested = 2;
    r.sweepStartGroups = {4, 2504};
    r.result.status = "DONE";
    r.result.lines = 4 + 5000;
    r.result.bytes = bytes.size();
    r.result.sha256 = digest::hexDigest(digest::Algorithm::Sha256, bytes);
    return r;
}

TempDir& withSidecar(TempDir& dir, const std::string& bytes = Recording)
{
    writeBytes(dir.file("rec.txt"), bytes);
    EXPECT_EQ(meta::writeSidecar(dir.file("rec.txt.meta.json"), sidecarFor(Recording)), "");
    return dir;
}

}  // namespace

TEST(SounderSidecar, InfoShowsTheSidecarAndChecksTheDigest)
{
    TempDir dir;
    RunResult run = runSounder(withSidecar(dir), "info rec.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* text : {"settings: 2 sweeps of 2500 samples, clock divider 4, attenuation 31 dB",
                             "attenuator 7 dB (code 13)", "ch 2: gain asked 20 dB, table row 19 dB, pots 2 = not sent, 3 = 21",
                             "ch 3: gain asked 30 dB, no usable table row", "sweep starts (scan group): 4 2504",
                             "matches the recording", "simulated board library /usr/lib/sounder/libcbw32.so"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;

    // One code changed, same length: the digest tells.
    std::string changed = Recording;
    changed[changed.size() - 3] = changed[changed.size() - 3] == '1' ? '2' : '1';
    TempDir dir2;
    run = runSounder(withSidecar(dir2, changed), "info rec.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("DOES NOT MATCH"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "rec.txt: the recording is not the one its sidecar describes (sha256 differs)\n");

    // The recording as written, its sidecar edited since: what differs is said, not a
    // digest that matches.
    const struct {
        int64_t moreLines;
        uint64_t moreBytes;
        const char* differs;
    } edits[] = {{1, 0, "line count differs"}, {0, 1, "size differs"}, {-1, 1, "size and line count differ"}};
    for (const auto& e : edits) {
        SCOPED_TRACE(e.differs);
        TempDir edited;
        writeBytes(edited.file("rec.txt"), Recording);
        meta::Recording r = sidecarFor(Recording);
        r.result.lines += e.moreLines;
        r.result.bytes += e.moreBytes;
        ASSERT_EQ(meta::writeSidecar(edited.file("rec.txt.meta.json"), r), "");
        run = runSounder(edited, "info rec.txt");
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.out.find("sha256 " + r.result.sha256 + ": the recording's, but the sidecar's size or line "
                                                             "count DOES NOT MATCH it"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.err, std::string("rec.txt: the recording is not the one its sidecar describes (") + e.differs + ")\n");
    }
}

TEST(SounderSidecar, AnUnreadableSidecarIsNamedAndTheRecordingStillShown)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Recording);
    writeBytes(dir.file("rec.txt.meta.json"), "{\"schema\": \"sounder.recording/1\", \"software\": 3}");
    const RunResult run = runSounder(dir, "info rec.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("acquisition layout"), std::string::npos);
    EXPECT_EQ(run.err, "rec.txt.meta.json: software is not an object\n");
}

// A folder or a FIFO under a sidecar's name is no sidecar, named as such by every command
// that reads one, where a FIFO held each of them waiting for a writer for good.
TEST(SounderSidecar, AFolderOrAFifoUnderTheSidecarsNameIsNoSidecar)
{
    if (std::system("timeout --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no timeout here to keep a FIFO from holding the test";
    const struct Command {
        const char* args;
        const char* err;  // what stderr holds
        int status;
    } commands[] = {
        {"info rec.txt", "rec.txt.meta.json: not a file\n", 2},
        {"calibrate rec.txt --through-db 30 -o cal.json", "rec.txt.meta.json: not a file\n", 2},
        {"campaign rec.txt --origin 1,2 --csv c.csv", "", 0},
        {"convert rec.txt --to sigmf", "rec.txt.meta.json: not a file; converted without it", 0},
        {"analyze rec.txt --csv out.csv", "", 0},
    };
    for (const bool fifo : {false, true}) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), Recording);
        if (fifo)
            ASSERT_EQ(::mkfifo(dir.file("rec.txt.meta.json").c_str(), 0600), 0);
        else
            std::filesystem::create_directory(dir.file("rec.txt.meta.json"));
        for (const Command& c : commands) {
            SCOPED_TRACE(std::string(fifo ? "fifo: " : "folder: ") + c.args);
            const int raw = std::system(("cd '" + dir.file("") + "' && timeout 20 '" + SOUNDER_BINARY + "' " + c.args +
                                         " >out.log 2>err.log")
                                            .c_str());
            const std::string err = readBytes(dir.file("err.log"));
            ASSERT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << err;
            EXPECT_NE(err.find(c.err), std::string::npos) << err;
        }
        EXPECT_NE(readBytes(dir.file("c.csv")).find("sidecar unreadable: not a file"), std::string::npos);
    }
}

TEST(SounderSidecar, SigmfCarriesTheFrontEndUnderItsExtension)
{
    TempDir dir;
    const RunResult run = runSounder(withSidecar(dir), "convert rec.txt --to sigmf -o out");
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject global =
        QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(dir.file("out.sigmf-meta")))).object()["global"].toObject();
    const QJsonObject frontEnd = global["sounder:front_end"].toObject();
    EXPECT_EQ(frontEnd["attenuation_db"].toInt(), 7);
    EXPECT_EQ(frontEnd["attenuator_code"].toInt(), 13);
    EXPECT_EQ(frontEnd["channels"].toArray().at(1).toObject()["table_gain_db"].toInt(), 19);
    EXPECT_EQ(global["sounder:sidecar_settings"].toObject()["clock_divider"].toInt(), 4);
    EXPECT_EQ(global["sounder:scan_started_utc"].toString(), "2026-12-08T09:00:00.000Z");
    EXPECT_TRUE(global["sounder:board_library"].toObject()["simulated"].toBool());

    // Without a sidecar the extension has only what the recording says.
    TempDir bare;
    writeBytes(bare.file("rec.txt"), Recording);
    ASSERT_EQ(runSounder(bare, "convert rec.txt --to sigmf -o out").status, 0);
    const QJsonObject bareGlobal =
        QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(bare.file("out.sigmf-meta")))).object()["global"].toObject();
    EXPECT_FALSE(bareGlobal.contains("sounder:front_end"));
    EXPECT_TRUE(bareGlobal.contains("sounder:settings"));

    // A sidecar of another recording (here one sweep longer) is named and left out: its
    // rate, times and front-end are not this recording's.
    TempDir other;
    const std::string shorter = recording(2, 2500, 1, 31);
    const RunResult cut = runSounder(withSidecar(other, shorter), "convert rec.txt --to sigmf -o out");
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_NE(cut.err.find("rec.txt.meta.json: describes a recording of " + std::to_string(Recording.size()) +
                           " bytes, not this one of " + std::to_string(shorter.size()) + "; converted without it"),
              std::string::npos)
        << cut.err;
    const QJsonObject otherGlobal =
        QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(other.file("out.sigmf-meta")))).object()["global"].toObject();
    EXPECT_FALSE(otherGlobal.contains("sounder:front_end"));
    EXPECT_FALSE(otherGlobal.contains("core:sample_rate"));
    EXPECT_TRUE(otherGlobal.contains("sounder:settings"));
}

// The sidecar named to info in place of its recording is told for what it is.
TEST(SounderSidecar, InfoOfTheSidecarItselfNamesItsRecording)
{
    TempDir dir;
    withSidecar(dir);
    std::filesystem::copy_file(dir.file("rec.txt.meta.json"), dir.file("copy.json"));
    struct Case {
        const char* file;
        const char* says;
    } cases[] = {
        {"rec.txt.meta.json", "rec.txt.meta.json: the metadata sidecar of a recording, not a recording or a "
                              "calibration: sounder info rec.txt shows it\n"},
        {"copy.json", "copy.json: the metadata sidecar of a recording, not a recording or a calibration: sounder "
                      "info RECORDING shows it beside RECORDING.meta.json\n"},
    };
    for (const Case& c : cases) {
        const RunResult run = runSounder(dir, std::string("info ") + c.file);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, c.says);
    }
}


// A back-to-back recording given through a pipe calibrates as the file does: its
// digest is taken as it is read, where a first reading for the digest left nothing for
// the analysis ("found the end of the file" from /dev/stdin, and a FIFO waited for a
// second writer for good); a sidecar beside a FIFO is checked against what came through.
TEST(SounderSidecar, CalibrateTakesARecordingThroughAPipe)
{
    if (std::system("timeout --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no timeout here to keep a FIFO from holding the test";
    TempDir dir;
    std::string b2b = "2,2500\r\n31\r\n10,20,30\r\n0.0\r\n";
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < 2500; ++i) {
            const std::string code = std::to_string(int(2048 + 300 * std::cos(2 * M_PI * i * 96 / 4096 + s)));
            b2b += code + "," + code + "," + code + "\r\n";
        }
    writeBytes(dir.file("b2b.txt"), b2b);
    meta::Recording sidecar = sidecarFor(b2b);
    sidecar.result.bytes = b2b.size();
    sidecar.result.sha256 = digest::hexDigest(digest::Algorithm::Sha256, b2b);
    ASSERT_EQ(meta::writeSidecar(dir.file("b2b.txt.meta.json"), sidecar), "");
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    ASSERT_EQ(meta::writeSidecar(dir.file("pipe.meta.json"), sidecar), "");
    const std::string sounder = std::string("timeout 60 '") + SOUNDER_BINARY + "' calibrate ";
    const std::string options = " --through-db 30 --channel 1 -o ";
    const struct {
        const char* name;
        std::string command;
        const char* levelsFrom;
    } runs[] = {
        {"file", sounder + "b2b.txt" + options + "file.json", "sidecar"},
        {"stdin", "cat b2b.txt | " + sounder + "/dev/stdin" + options + "stdin.json", "header"},
        {"fifo", "(timeout 60 cat b2b.txt > pipe &); " + sounder + "pipe" + options + "fifo.json", "sidecar"},
    };
    std::optional<double> reference;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        const int raw = std::system(("cd '" + dir.file("") + "' && " + run.command + " 2>err.log").c_str());
        ASSERT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << readBytes(dir.file("err.log"));
        const QJsonObject c = QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(dir.file(std::string(run.name) + ".json")))).object();
        const QJsonObject input = c["inputs"].toArray().at(0).toObject();
        EXPECT_EQ(input["sha256"].toString().toStdString(), sidecar.result.sha256);
        EXPECT_EQ(input["levels_from"].toString().toStdString(), run.levelsFrom);
        // The header and the sidecar both say 10 dB of gain and differ in the attenuation (31 against 7).
        const double db = c["channels"].toArray().at(0).toObject()["reference_db"].toDouble();
        if (std::string(run.levelsFrom) == "sidecar") {
            if (reference) {
                EXPECT_EQ(db, *reference);
            }
            reference = db;
        }
    }
}

// The sidecar's texts reach the terminal with their control characters shown.
TEST(SounderSidecar, InfoShowsTheSidecarsTextsEscaped)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Recording);
    meta::Recording r = sidecarFor(Recording);
    r.softwareName = "quenlo\x1b[2J";
    r.softwareVersion = "1\n2";
    EXPECT_EQ(meta::writeSidecar(dir.file("rec.txt.meta.json"), r), "");
    const RunResult run = runSounder(dir, "info rec.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("by quenlo\\x1b[2J 1\\n2 on "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
}

// A named pipe where the sidecar would be is no sidecar: every command that looks for
// one says so and goes on, where opening it waited for a writer for good.
// info of a recording coming through a named pipe, beside its sidecar, which it matches
// (its size being what came through, where the none known beforehand was told): the pipe is
// opened once, by the reading of the recording, where a first look for a calibration
// opened and closed it, which ended a writer that wrote in between (SIGPIPE) and left
// info waiting for another for good. The reader's opens are counted by inotify.
TEST(SounderSidecar, InfoOfARecordingThroughANamedPipeOpensItOnce)
{
    if (std::system("timeout --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no timeout here to keep a FIFO from holding the test";
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Recording);
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    meta::Recording sidecar = sidecarFor(Recording);
    sidecar.recordingFile = "pipe";
    ASSERT_EQ(meta::writeSidecar(dir.file("pipe.meta.json"), sidecar), "");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Opens and the writer's close watched too: alike events in a row are told as one.
    if (watch < 0 ||
        ::inotify_add_watch(watch, dir.file("pipe").c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        GTEST_SKIP() << "no inotify here to count the opens of the pipe";
    const int raw = std::system(("cd '" + dir.file("") + "' && (timeout 20 cat rec.txt > pipe &); timeout 10 '" +
                                 SOUNDER_BINARY + "' info pipe >out.log 2>err.log")
                                    .c_str());
    // What came through is the recording the sidecar describes, its size too.
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << "124: waited for a writer";
    const std::string out = readBytes(dir.file("out.log"));
    EXPECT_EQ(readBytes(dir.file("err.log")), "");
    for (const char* text : {"pipe: acquisition layout", "sweeps: 2 of 2 present, complete", "matches the recording"})
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    int readerCloses = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;)
        for (const char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            readerCloses += (event->mask & IN_CLOSE_NOWRITE) != 0;
            at += sizeof(inotify_event) + event->len;
        }
    ::close(watch);
    EXPECT_EQ(readerCloses, 1) << "the pipe was opened for reading more than once";
}
