// "Acquire" on the simulated board: the recording written from one long capture,
// aligned sweep by sweep on the marker, and every way the run can stop.

#include "capture_fixture.h"

#include <QFile>

#include <unistd.h>

namespace {

using namespace capfix;
using boardsim::Fn;

// Channel codes that tell which scan group a line came from.
Group groupCodes(int32_t g, uint16_t marker)
{
    return {uint16_t(g % 4096), uint16_t(g / 4096), uint16_t(4095 - g % 4096), marker};
}

std::string lineOf(int32_t g)
{
    const Group c = groupCodes(g, 0);
    return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

class Acquire : public CaptureTest {
protected:
    // Marker codes by group: `high` in the listed groups, 2000 elsewhere.
    void injectMarkers(std::vector<int32_t> groups, uint16_t high = 4000)
    {
        boardsim::setScanSource(groupSource([groups, high](int32_t g) {
            const bool on = std::find(groups.begin(), groups.end(), g) != groups.end();
            return groupCodes(g, on ? high : 2000);
        }));
    }
    QString file() const { return path(QStringLiteral("rec.txt")); }
    void answerSave() { dialogs.saveAnswers.push_back(file()); }

    // The file split at CR LF; `complete` is false when bytes follow the last CR LF.
    std::vector<std::string> lines(bool* complete = nullptr) const
    {
        QFile f(file());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const std::string bytes = f.readAll().toStdString();
        std::vector<std::string> result;
        size_t from = 0;
        for (size_t at; (at = bytes.find("\r\n", from)) != std::string::npos; from = at + 2)
            result.push_back(bytes.substr(from, at - from));
        if (complete)
            *complete = from == bytes.size();
        return result;
    }
    void expectBufferGivenBack()
    {
        EXPECT_EQ(boardsim::liveBlocks(), 0);
        EXPECT_EQ(calls(Fn::WinBufFree), calls(Fn::WinBufAlloc));
        EXPECT_EQ(calls(Fn::GlobalUnlock), calls(Fn::GlobalLock));
    }
};

TEST_F(Acquire, WritesHeaderAndAlignedSweeps)
{
    startReady(4, 2);
    injectMarkers({100, 2650});
    answerSave();
    form->Button6Click();

    EXPECT_EQ(current(), (Status{"DONE", LimeGreen}));
    EXPECT_EQ(form->SweepSamples, 2500);
    EXPECT_EQ(boardsim::lastScan()->count, (2 + 10) * 2500 * 4);
    EXPECT_EQ(boardsim::lastScan()->rateIn, 2500000);
    EXPECT_EQ(form->RecordFileName, file());
    EXPECT_FALSE(form->Recording);
    EXPECT_FALSE(form->RecordFile.isOpen());
    EXPECT_EQ(processed.size(), 1u);  // only inside the buffer request
    expectBufferGivenBack();

    bool complete = false;
    const auto l = lines(&complete);
    EXPECT_TRUE(complete);
    ASSERT_EQ(l.size(), 4u + 2 * 2500);
    EXPECT_EQ(std::vector<std::string>(l.begin(), l.begin() + 4),
              (std::vector<std::string>{"2,2500", "0", "30,30,30", "0.0"}));
    EXPECT_EQ(l[4], lineOf(100));
    EXPECT_EQ(l[4 + 2499], lineOf(2599));
    EXPECT_EQ(l[4 + 2500], lineOf(2650));  // the second search starts right after the first sweep
    EXPECT_EQ(l.back(), lineOf(2650 + 2499));
}

TEST_F(Acquire, HeaderHoldsTheSettingsAsTheyStand)
{
    startReady(4, 1);
    form->Edit3->setText("-3");
    form->Edit4->setText("80");
    form->Edit6->setText("7");
    injectMarkers({0});
    answerSave();
    form->Button6Click();
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u + 2500);
    EXPECT_EQ(l[0], "1,2500");
    EXPECT_EQ(l[1], "-3");
    EXPECT_EQ(l[2], "80,30,7");
    EXPECT_EQ(l[4], lineOf(0));
}

TEST_F(Acquire, ThresholdIsStrictAndSweepsMayFollowBackToBack)
{
    startReady(4, 3);
    boardsim::setScanSource(groupSource([](int32_t g) {
        // 2800 is no start, 2801 is; then markers every 2500 groups exactly.
        const uint16_t marker = g == 10 ? 2800 : (g == 11 || g == 2511 || g == 5011) ? 2801 : 0;
        return groupCodes(g, marker);
    }));
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current().text, "DONE");
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u + 3 * 2500);
    EXPECT_EQ(l[4], lineOf(11));
    EXPECT_EQ(l[4 + 2500], lineOf(2511));
    EXPECT_EQ(l[4 + 5000], lineOf(5011));
}

TEST_F(Acquire, NoMarkerAnywhereLeavesTheHeaderOnly)
{
    startReady(4, 2);
    injectMarkers({}, 0);
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"FAILED", Red}));
    ASSERT_GE(status->entries.size(), 2u);
    EXPECT_EQ(status->entries[status->entries.size() - 2], (Status{"Failed to find start of sweep", Yellow}));
    EXPECT_EQ(status->entries.back(), (Status{"Ran off end of data array", Red}));
    bool complete = false;
    EXPECT_EQ(lines(&complete).size(), 4u);
    EXPECT_TRUE(complete);
    EXPECT_FALSE(form->Recording);
    expectBufferGivenBack();
}

TEST_F(Acquire, MissingMarkerKeepsTheWholeSweepsBefore)
{
    startReady(4, 3);
    injectMarkers({5, 2600});
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"FAILED", Red}));
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u + 2 * 2500);
    EXPECT_EQ(l[0], "3,2500");  // still the number asked for
}

TEST_F(Acquire, SweepRunningPastTheCaptureIsNotWritten)
{
    // 1 + 10 sweeps captured: 27500 groups. A start after group 25000 cannot end inside.
    startReady(4, 1);
    injectMarkers({25001});
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"FAILED", Red}));
    EXPECT_EQ(status->entries.back(), (Status{"Ran off end of data array", Red}));
    EXPECT_EQ(lines().size(), 4u);
    expectBufferGivenBack();

    // Starting exactly one sweep before the end still fits.
    injectMarkers({25000});
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"DONE", LimeGreen}));
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u + 2500);
    EXPECT_EQ(l.back(), lineOf(27499));
}

TEST_F(Acquire, SearchNeverLooksPastTheCapture)
{
    // Two sweeps asked, 30000 groups captured; the first sweep ends at the very end of
    // the capture. Whatever lies in the half the scan never fills is not looked at.
    startReady(4, 2);
    boardsim::setScanSource([](uint16_t* samples, int32_t count) {
        groupSource([](int32_t g) { return groupCodes(g, g == 27500 ? 4000 : 0); })(samples, count);
        samples[count + 3] = 4000;  // a marker-like code in the spare half
    });
    answerSave();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"FAILED", Red}));
    ASSERT_GE(status->entries.size(), 2u);
    EXPECT_EQ(status->entries[status->entries.size() - 2], (Status{"Failed to find start of sweep", Yellow}));
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u + 2500);
    EXPECT_EQ(l.back(), lineOf(29999));
}

TEST_F(Acquire, CancelledDialogWritesNothing)
{
    startReady(4, 1);
    injectMarkers({0});
    form->Button6Click();
    EXPECT_EQ(dialogs.saveAsked, 1);
    EXPECT_EQ(current(), (Status{"Locking buffer 1", White}));
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->Recording);
    expectBufferGivenBack();
}

TEST_F(Acquire, ExistingFileIsReplaced)
{
    startReady(4, 1);
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(200000, 'x'));
    }
    injectMarkers({3});
    answerSave();
    form->Button6Click();
    bool complete = false;
    EXPECT_EQ(lines(&complete).size(), 4u + 2500);
    EXPECT_TRUE(complete);
}

TEST_F(Acquire, TheGainTableIsNeverReplacedByARecording)
{
    startReady(4, 1);
    injectMarkers({3});
    QFile table(path(QStringLiteral("digpot.cfg")));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QByteArray tableBytes = table.readAll();
    table.close();
    ASSERT_TRUE(QFile::link(path(QStringLiteral("digpot.cfg")), path(QStringLiteral("table link"))));
    ASSERT_EQ(::link(QFile::encodeName(path(QStringLiteral("digpot.cfg"))).constData(),
                     QFile::encodeName(path(QStringLiteral("table copy"))).constData()),
              0);

    struct Case {
        QString name;
        bool thenCancel;  // the second answer is a cancel rather than another name
    };
    const Case cases[] = {
        {QStringLiteral("digpot.cfg"), false},
        {path(QStringLiteral("digpot.cfg")), false},
        {QStringLiteral("./digpot.cfg"), true},
        {path(QStringLiteral("table link")), false},   // a symbolic link to it
        {path(QStringLiteral("table copy")), true},    // a second name of the same file
    };
    for (const Case& c : cases) {
        QFile::remove(file());
        dialogs.messages.clear();
        dialogs.saveAsked = 0;
        dialogs.saveAnswers.push_back(c.name);
        if (c.thenCancel)
            dialogs.saveAnswers.push_back(std::nullopt);
        else
            answerSave();
        form->Button6->click();

        const std::string what = c.name.toStdString();
        EXPECT_EQ(dialogs.saveAsked, 2) << what;
        ASSERT_EQ(dialogs.messages.size(), 1u) << what;
        EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("digpot.cfg"))) << dialogs.messages[0].toStdString();
        ASSERT_TRUE(table.open(QIODevice::ReadOnly));
        EXPECT_EQ(table.readAll(), tableBytes) << what;
        table.close();
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("digpot.cfg.meta.json")))) << what;
        if (c.thenCancel) {
            EXPECT_FALSE(QFile::exists(file())) << what;
            EXPECT_EQ(current(), (Status{"Locking buffer 1", White})) << what;
        } else {
            EXPECT_EQ(current(), (Status{"DONE", LimeGreen})) << what;
            EXPECT_EQ(lines().size(), 4u + 2500) << what;
        }
        EXPECT_FALSE(form->Recording) << what;
        expectBufferGivenBack();
    }
}

TEST_F(Acquire, RefusedSettingsSayCannotAcquire)
{
    start();
    form->Edit1->setText("4");
    boardsim::clearTrace();
    form->Button6Click();
    EXPECT_EQ(form->statusText(), "CANNOT ACQUIRE");
    EXPECT_EQ(form->statusColour(), Red);  // left by the settings check
    EXPECT_EQ(calls(Fn::WinBufAlloc), 0);
    EXPECT_EQ(dialogs.saveAsked, 0);
}

TEST_F(Acquire, AllocationFailure)
{
    startReady(4, 1);
    boardsim::failNextAlloc();
    boardsim::clearTrace();
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"Failed to allocate buffers", Red}));
    EXPECT_EQ(processed.back(), current());
    EXPECT_EQ(calls(Fn::AInScan), 0);
    EXPECT_EQ(calls(Fn::WinBufFree), 0);
    EXPECT_EQ(dialogs.saveAsked, 0);
}

TEST_F(Acquire, ScanFailure)
{
    startReady(4, 1);
    boardsim::failNextScan(3);
    form->Button6Click();
    EXPECT_EQ(current(), (Status{"FAILED TO SAMPLE", Red}));
    EXPECT_EQ(processed.back(), current());
    EXPECT_EQ(status->entries.back(), (Status{"Failed to arm board 1", Red}));
    EXPECT_EQ(dialogs.saveAsked, 0);
    expectBufferGivenBack();
}

TEST_F(Acquire, HeaderStatesTheClampedCount)
{
    startReady(2, 2000);
    injectMarkers({}, 0);  // header only: the count is what matters here
    answerSave();
    form->Button6Click();
    EXPECT_EQ(boardsim::lastScan()->count, (1430 + 10) * 5000 * 4);
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "1430,5000");
    expectBufferGivenBack();
}

TEST_F(Acquire, ClickDuringTheCaptureIsIgnored)
{
    startReady(4, 1);
    injectMarkers({0});
    onProcessMessages = [&] {
        form->Button6Click();
        form->Button3Click();
    };
    answerSave();
    form->Button6Click();
    EXPECT_EQ(boardsim::scanCount(), 1);
    EXPECT_EQ(dialogs.saveAsked, 1);
    EXPECT_EQ(current().text, "DONE");
    EXPECT_FALSE(form->CaptureInProgress);
}

TEST_F(Acquire, ClosingTheProgramBeforeTheScanTakesNoScanAndAsksNoName)
{
    // The one point before the scan at which pending messages run is inside MEMPREP.
    const char* const hows[] = {"Exit", "frame"};
    for (const char* how : hows) {
        startReady(4, 1);
        form->show();
        injectMarkers({0});
        const int scansBefore = boardsim::scanCount();
        const int terminationsBefore = terminations;
        onProcessMessages = [&] {
            if (std::string(how) == "Exit")
                form->Button7->click();
            else
                EXPECT_TRUE(form->close()) << how;
        };
        dialogs.saveAsked = 0;
        answerSave();
        form->Button6->click();
        EXPECT_EQ(boardsim::scanCount(), scansBefore) << how;
        EXPECT_EQ(dialogs.saveAsked, 0) << how;
        EXPECT_FALSE(QFile::exists(file())) << how;
        EXPECT_TRUE(dialogs.messages.empty()) << how;
        EXPECT_EQ(terminations - terminationsBefore, std::string(how) == "Exit" ? 1 : 0) << how;
        EXPECT_FALSE(form->CaptureInProgress) << how;
        expectBufferGivenBack();
        onProcessMessages = nullptr;
        dialogs.saveAnswers.clear();
        form.reset();
    }
}

}  // namespace
