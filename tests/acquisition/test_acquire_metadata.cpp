// The metadata sidecar that "Acquire" writes beside its recording: checked against
// the recording itself and against what the simulated front-end latched.

#include "capture_fixture.h"
#include "recording_metadata.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>

#include <algorithm>

namespace {

using namespace capfix;

class AcquireMetadata : public CaptureTest {
protected:
    QString file() const { return path(QStringLiteral("run 1.txt")); }
    QString sidecar() const { return file() + QStringLiteral(".meta.json"); }

    // Channel codes that vary with the group, some at the clipping codes.
    static Group codesOf(int32_t g, uint16_t marker)
    {
        return {uint16_t(g % 4096), uint16_t(1000 + g % 7), uint16_t(g % 3 == 0 ? 4095 : 2000), marker};
    }
    void injectMarkers(std::vector<int32_t> groups)
    {
        boardsim::setScanSource(groupSource([groups](int32_t g) {
            const bool on = std::find(groups.begin(), groups.end(), g) != groups.end();
            return codesOf(g, on ? 4000 : 2000);
        }));
    }
    void acquire()
    {
        dialogs.saveAnswers.push_back(file());
        form->Button6Click();
    }
    QByteArray bytesOf(const QString& name) const
    {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    meta::Recording readSidecar() const
    {
        std::string error;
        const std::optional<meta::Recording> r = meta::fromJson(bytesOf(sidecar()).toStdString(), &error);
        EXPECT_TRUE(r) << error;
        return r.value_or(meta::Recording{});
    }
    QStringList filesInDir() const { return QDir(path(".")).entryList(QDir::Files | QDir::Hidden); }
};

TEST_F(AcquireMetadata, DescribesTheRecordingAsWritten)
{
    startReady(4, 2);
    form->Edit3->setText("12");
    form->Edit4->setText("25");
    injectMarkers({37, 2600});
    acquire();
    ASSERT_EQ(current().text, "DONE");
    ASSERT_TRUE(dialogs.messages.empty());

    const meta::Recording r = readSidecar();
    EXPECT_EQ(r.softwareName, "quenlo");
    EXPECT_FALSE(r.softwareVersion.empty());
    EXPECT_TRUE(r.boardLibrarySimulated);
    EXPECT_NE(r.boardLibraryPath.find("libcbw32.so"), std::string::npos) << r.boardLibraryPath;
    EXPECT_EQ(r.recordingFile, "run 1.txt");
    EXPECT_EQ(r.scanStartedUtc.size(), std::string("2026-12-08T12:00:00.000Z").size());
    EXPECT_EQ(r.scanStartedUtc.back(), 'Z');
    EXPECT_LE(r.scanStartedUtc, r.writtenUtc);

    EXPECT_EQ(r.settings.numSweeps, 2);
    EXPECT_EQ(r.settings.sweepSamples, 2500);
    EXPECT_EQ(r.settings.attenuation, 12);
    EXPECT_EQ(r.settings.gains, (std::array<int32_t, 3>{25, 30, 30}));
    EXPECT_EQ(r.settings.clockDivider, 4);
    EXPECT_EQ(r.scan.samples, (2 + 10) * 2500 * 4);
    EXPECT_EQ(r.scan.scanRateHz, 2500000);
    EXPECT_EQ(r.scan.markerThreshold, 2800);
    EXPECT_EQ(r.sweepsRequested, 2);
    EXPECT_EQ(r.sweepStartGroups, (std::vector<int64_t>{37, 2600}));

    // The recording as it is on disk.
    const QByteArray bytes = bytesOf(file());
    EXPECT_EQ(r.result.status, "DONE");
    EXPECT_FALSE(r.result.reason);
    EXPECT_EQ(r.result.bytes, uint64_t(bytes.size()));
    EXPECT_EQ(r.result.lines, bytes.count('\n'));
    EXPECT_EQ(r.result.lines, 4 + 2 * 2500);
    EXPECT_EQ(r.result.sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString());

    // Code ranges of the written sweeps only, counted here from the groups written.
    std::array<meta::ChannelCodes, 3> expected{{{65535, 0, 0}, {65535, 0, 0}, {65535, 0, 0}}};
    for (int32_t start : {37, 2600})
        for (int32_t g = start; g < start + 2500; ++g) {
            const Group c = codesOf(g, 0);
            for (int ch = 0; ch < 3; ++ch) {
                expected[ch].lowest = std::min<int32_t>(expected[ch].lowest, c[ch]);
                expected[ch].highest = std::max<int32_t>(expected[ch].highest, c[ch]);
                expected[ch].clipped += c[ch] == 0 || c[ch] == 4095;
            }
        }
    for (int ch = 0; ch < 3; ++ch) {
        ASSERT_TRUE(r.result.channels[ch]) << ch;
        EXPECT_EQ(r.result.channels[ch]->lowest, expected[ch].lowest) << ch;
        EXPECT_EQ(r.result.channels[ch]->highest, expected[ch].highest) << ch;
        EXPECT_EQ(r.result.channels[ch]->clipped, expected[ch].clipped) << ch;
    }
    EXPECT_GT(expected[2].clipped, 0);
}

TEST_F(AcquireMetadata, FrontEndIsWhatTheFrontEndLatched)
{
    // Channel 2 asks for more than the table's top row, channel 3 for a gain whose
    // rows are unusable down to 3 dB except the lowest ones.
    gain::Table table = fixture::patternTable();
    for (int r = 10; r < gain::Rows; ++r)
        table[r][gain::potA(3)] = gain::Unusable;
    start(table);
    form->Edit1->setText("4");
    form->Edit2->setText("1");
    form->Edit3->setText("9");
    form->Edit5->setText("90");
    form->Edit6->setText("40");
    injectMarkers({5});
    acquire();
    ASSERT_EQ(current().text, "DONE");
    const meta::FrontEndSent f = readSidecar().frontEnd;

    EXPECT_EQ(f.dividerCode, boardsim::frontEndRegister(3));
    EXPECT_EQ(f.dividerCode, 3);
    const int latchedCount = boardsim::frontEndRegister(4) | boardsim::frontEndRegister(5) << 8 |
                             boardsim::frontEndRegister(6) << 16;
    EXPECT_EQ(f.sweepCount, latchedCount);
    EXPECT_EQ(f.sweepCount, 1);
    EXPECT_EQ(f.attenuatorCode, boardsim::frontEndRegister(7));
    EXPECT_EQ(f.attenuationDb, 9);
    EXPECT_EQ(boardsim::attenuationDbForCode(*f.attenuatorCode), 9);
    EXPECT_EQ(f.clocksPerSweep, boardsim::clocksPerSweep());
    for (int p = 0; p < meta::Pots; ++p) {
        const int latched = boardsim::potValue(p);
        EXPECT_EQ(f.pots[p].value_or(-1), latched) << "pot " << p;
    }
    EXPECT_EQ(f.channels[0].requestedGainDb, 30);
    EXPECT_EQ(f.channels[0].tableGainDb, 30);
    EXPECT_EQ(f.channels[1].requestedGainDb, 90);
    EXPECT_EQ(f.channels[1].tableGainDb, 70);  // clamped to the top row
    EXPECT_EQ(f.channels[2].requestedGainDb, 40);
    EXPECT_EQ(f.channels[2].tableGainDb, 12);  // stepped down past the unusable rows
    EXPECT_EQ(boardsim::potValue(gain::potA(3)), table[12 - 3][gain::potA(3)]);
}

TEST_F(AcquireMetadata, StartUpAttenuationIsRecordedAsSentNotAsShown)
{
    // Before any settings change the attenuator holds what start-up sent (31 dB)
    // while the box, and so the header, say 0: the sidecar tells them apart.
    startReady(4, 1);
    form->Edit3->setText("0");
    form->AttenuationChanged = false;
    injectMarkers({0});
    acquire();
    ASSERT_EQ(current().text, "DONE");
    const meta::Recording r = readSidecar();
    EXPECT_EQ(r.settings.attenuation, 0);
    EXPECT_EQ(r.frontEnd.attenuationDb, 31);
    EXPECT_EQ(r.frontEnd.attenuationDb, boardsim::attenuationDbForCode(boardsim::frontEndRegister(7)));
}

TEST_F(AcquireMetadata, FailedRunDescribesTheSweepsItWrote)
{
    startReady(4, 3);
    injectMarkers({100});  // the second sweep has no marker
    acquire();
    ASSERT_EQ(current().text, "FAILED");
    const meta::Recording r = readSidecar();
    EXPECT_EQ(r.result.status, "FAILED");
    EXPECT_EQ(r.result.reason, "Ran off end of data array");
    EXPECT_EQ(r.sweepsRequested, 3);
    EXPECT_EQ(r.sweepStartGroups, (std::vector<int64_t>{100}));
    EXPECT_EQ(r.result.lines, 4 + 2500);
    EXPECT_EQ(r.result.sha256,
              QCryptographicHash::hash(bytesOf(file()), QCryptographicHash::Sha256).toHex().toStdString());
}

TEST_F(AcquireMetadata, NoSweepWrittenLeavesTheCodeRangesEmpty)
{
    startReady(4, 1);
    injectMarkers({});
    acquire();
    ASSERT_EQ(current().text, "FAILED");
    const meta::Recording r = readSidecar();
    EXPECT_TRUE(r.sweepStartGroups.empty());
    EXPECT_EQ(r.result.lines, 4);
    for (const auto& c : r.result.channels)
        EXPECT_FALSE(c);
}

TEST_F(AcquireMetadata, NoSidecarWithoutARecording)
{
    startReady(4, 1);
    injectMarkers({0});
    form->Button6Click();  // the save dialog is cancelled
    EXPECT_TRUE(filesInDir().filter("meta").isEmpty()) << filesInDir().join(", ").toStdString();

    dialogs.saveAnswers.push_back(path("no such folder/rec.txt"));
    form->Button6->click();  // through the handler wrapper, which shows the message
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(QFile::exists(path("no such folder/rec.txt.meta.json")));
    EXPECT_TRUE(filesInDir().filter("meta").isEmpty());
}

TEST_F(AcquireMetadata, AnOldSidecarGoesWhenItsRecordingIsWrittenAnew)
{
    startReady(4, 1);
    injectMarkers({0});
    struct Case {
        const char* what;
        bool link;  // the old sidecar a link to another file, which must stay as it was
    };
    for (const Case c : {Case{"a file", false}, Case{"a link", true}}) {
        QFile::remove(sidecar());
        QFile::remove(path("elsewhere.json"));
        {
            QFile old(c.link ? path("elsewhere.json") : sidecar());
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("stale");
        }
        if (c.link) {
            ASSERT_TRUE(QFile::link(path("elsewhere.json"), sidecar()));
        }
        acquire();
        EXPECT_FALSE(QFileInfo(sidecar()).isSymLink()) << c.what;
        EXPECT_EQ(readSidecar().result.status, "DONE") << c.what;
        if (c.link) {
            EXPECT_EQ(bytesOf(path("elsewhere.json")), "stale") << c.what;
        }
    }
}

TEST_F(AcquireMetadata, ASidecarNameThatIsTheRecordingIsNeverWrittenOverIt)
{
    startReady(4, 1);
    injectMarkers({0});
    {
        QFile old(file());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::link(file(), sidecar()));
    acquire();
    EXPECT_EQ(current(), (Status{"DONE", LimeGreen}));
    EXPECT_EQ(bytesOf(file()).count('\n'), 4 + 2500);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].endsWith(": it is the recording itself")) << dialogs.messages[0].toStdString();
}

TEST_F(AcquireMetadata, UnwritableSidecarLeavesTheRecordingAndSaysWhy)
{
    startReady(4, 1);
    injectMarkers({0});
    // A folder under the sidecar's name: the rename into place fails.
    ASSERT_TRUE(QDir(path(".")).mkdir(QStringLiteral("run 1.txt.meta.json")));
    acquire();
    EXPECT_EQ(current(), (Status{"DONE", LimeGreen}));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].startsWith("The recording's metadata could not be written to "))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains("run 1.txt.meta.json"));
    EXPECT_EQ(bytesOf(file()).count('\n'), 4 + 2500);
    // Nothing half-written is left beside it.
    EXPECT_EQ(filesInDir(), QStringList{"digpot.cfg"} << "run 1.txt");
}

}  // namespace
