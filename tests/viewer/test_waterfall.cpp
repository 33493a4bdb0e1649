// View > Waterfall: its menu, its rows against the main window's profiles, the
// blocks chosen in it forward and backward, cancel, a bad line midway, and its
// lifetime with the recording.

#include "colour_map_chart.h"
#include "viewer_fixture.h"
#include "waterfall_window.h"
#include "without_threads.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

Sweep wavySweep(int s, int n)
{
    Sweep sweep(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        sweep[size_t(i)] = 0.4 * std::sin(0.21 * i * (1 + s % 3) + 0.5 * s) + 0.05 * std::cos(1.3 * i + s);
    return sweep;
}

}  // namespace

class Waterfall : public ViewerTest {
protected:
    std::string writeWavy(const std::string& name, int count, int present, int n)
    {
        std::vector<Sweep> sweeps;
        for (int s = 0; s < present; ++s)
            sweeps.push_back(wavySweep(s, n));
        return writeRecording(name, count, n, sweeps);
    }

    WaterfallWindow* openWaterfall()
    {
        form->Waterfall1->trigger();
        WaterfallWindow* window = form->waterfall();
        EXPECT_NE(window, nullptr);
        if (window) {
            EXPECT_TRUE(window->waitUntilFinished(20000));
        }
        return window;
    }

    // The main window's profile of the block shown, bins 1..2048, equal bit for bit.
    bool rowIsShownProfile(const WaterfallWindow& window, int row) const
    {
        const std::vector<double> values = window.row(row);
        return values.size() == size_t(WaterfallBins) &&
               std::memcmp(values.data(), form->power.data() + 1, WaterfallBins * sizeof(double)) == 0;
    }
};

TEST_F(Waterfall, ViewMenuFollowsCopyAndIsEnabledWhileARecordingIsOpen)
{
    EXPECT_EQ(form->menuBar()->actions().last()->text(), "View");
    ASSERT_EQ(form->View1->actions().size(), 1);
    EXPECT_EQ(form->View1->actions().front()->text(), "Waterfall");
    EXPECT_FALSE(form->Waterfall1->isEnabled());
    open(writeWavy("w.txt", 12, 12, 33));
    EXPECT_TRUE(form->Waterfall1->isEnabled());
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Waterfall - w.txt");
    form->Waterfall1->trigger();  // brought forward, not opened twice
    EXPECT_EQ(form->waterfall(), window);
    form->Close1Click();
    EXPECT_FALSE(form->Waterfall1->isEnabled());
    EXPECT_EQ(form->waterfall(), nullptr);
}

TEST_F(Waterfall, EveryRowIsTheMainWindowsProfileOfItsBlock)
{
    open(writeWavy("w.txt", 32, 32, 97));
    form->Button1Click();  // the profile itself on the chart
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->end(), WaterfallEnd::Complete);
    ASSERT_EQ(window->rowsShown(), 6);
    // The main window's reading position was not moved by the waterfall's.
    EXPECT_TRUE(rowIsShownProfile(*window, 0));
    for (int row = 1; row < 6; ++row) {
        goTo(QString::number(5 * row));
        ASSERT_TRUE(dialogs.messages.empty());
        EXPECT_TRUE(rowIsShownProfile(*window, row)) << "row " << row;
        EXPECT_EQ(window->chart->cell(0, row), window->row(row)[0]);
    }
    EXPECT_EQ(window->chart->markedRows(), std::make_pair(5.0, 5.0));
}

TEST_F(Waterfall, AChosenRowShowsItsBlockForwardAndBackward)
{
    open(writeWavy("w.txt", 40, 40, 31));
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->rowsShown(), 8);
    // From the block shown (first sweep), a click on a row: the block shown after it,
    // and whether the recording was reopened to reach it (Button2's refusal cleared).
    const struct { int from; int row; int shown; bool reopens; } cases[] = {
        {0, 1, 5, false}, {0, 6, 30, false}, {5, 2, 10, false}, {30, 1, 5, true},
        {30, 0, 0, true}, {20, 4, 20, false}, {7, 2, 10, true}, {7, 3, 15, false}, {7, 4, 20, false}, {7, 1, 5, true}, {35, 7, 35, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.from << " row " << c.row);
        form->Close1Click();
        ASSERT_EQ(form->waterfall(), nullptr);
        open(dir.filePath("w.txt").toStdString());
        window = openWaterfall();
        ASSERT_NE(window, nullptr);
        if (c.from > 0)
            goTo(QString::number(c.from));
        ASSERT_EQ(form->cursweep, c.from);
        goTo("-1");  // refused: the caption says "CANNOT" until a close
        ASSERT_EQ(form->Button2->text(), "CANNOT");
        window->chooseRow(c.row);
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form->cursweep, c.shown);
        EXPECT_EQ(form->Panel6->text(), QString::number(c.shown));
        EXPECT_EQ(form->Button2->text(), c.reopens ? "Go to sweep" : "CANNOT");
        EXPECT_EQ(form->waterfall(), window);  // a reopen keeps the waterfall
        EXPECT_TRUE(form->fileopen);
        EXPECT_EQ(window->chart->markedRows(), std::make_pair(c.shown / 5.0, c.shown / 5.0));
    }
}

TEST_F(Waterfall, ABadLineStopsItWithTheMainWindowsMessageKeepingTheRowsRead)
{
    std::vector<Sweep> sweeps;
    for (int s = 0; s < 30; ++s)
        sweeps.push_back(wavySweep(s, 21));
    std::string text = header(30, 21) + samples(sweeps);
    // Sweep 17, sample 4 (the header takes five lines).
    const size_t line = 5 + 17 * 21 + 3;
    size_t at = 0;
    for (size_t l = 0; l < line; ++l)
        at = text.find("\r\n", at) + 2;
    text.replace(at, text.find("\r\n", at) - at, "1,5");
    open(writeText("bad.txt", text));
    ASSERT_TRUE(dialogs.messages.empty());
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->end(), WaterfallEnd::Failed);
    EXPECT_EQ(window->rowsShown(), 3);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages.front(), "Invalid numeric input");
    // The main window gives the same message at that line.
    goTo("15");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages.back(), "Invalid numeric input");
}

TEST_F(Waterfall, TheStatusNamesWhatStoppedTheReading)
{
    // A bad item in sweep 12; the sweeps of block 2 all zero (no logarithm in any bin);
    // no samples per sweep at all; samples so far beyond any voltage that the transform
    // overflows. The message box gives the main window's message.
    std::vector<Sweep> sweeps, quiet;
    for (int s = 0; s < 30; ++s) {
        sweeps.push_back(wavySweep(s, 21));
        quiet.push_back(s / 5 == 2 ? Sweep(21, 0.0) : wavySweep(s, 21));
    }
    std::string bad = header(30, 21) + samples(sweeps);
    bad.insert(bad.find("\r\n", header(30, 21).size() + samples({sweeps.begin(), sweeps.begin() + 12}).size()), "x");
    std::string huge = header(30, 5);  // far beyond any voltage
    for (int i = 0; i < 150; ++i)
        huge += i % 2 ? "-1.7e308\r\n" : "1.7e308\r\n";
    const struct { const char* name; std::string text; const char* message; const char* status; } cases[] = {
        {"bad line", bad, "Invalid numeric input", "Stopped by a bad line: 2 of 6 blocks"},
        {"block without power", header(30, 21) + samples(quiet), "Floating point division by zero",
         "Stopped by a block without power: 2 of 6 blocks"},
        {"no samples per sweep", header(30, 0), "Floating point division by zero",
         "Stopped by a block without power: 0 of 6 blocks"},
        {"samples whose transform overflows", huge, "Invalid floating point operation",
         "Stopped by a bad line: 0 of 6 blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form = std::make_unique<TForm1>(dialogs);
        open(writeText("r.txt", c.text));
        dialogs.messages.clear();
        WaterfallWindow* window = openWaterfall();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->end(), WaterfallEnd::Failed);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], c.message);
        EXPECT_EQ(window->status->text(), c.status);
    }
}

TEST_F(Waterfall, ACutShortRecordingShowsTheBlocksItHolds)
{
    open(writeWavy("short.txt", 50, 17, 25));
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->end(), WaterfallEnd::CutShort);
    EXPECT_EQ(window->expectedRows(), 10);
    EXPECT_EQ(window->rowsShown(), 4);  // the fourth holds sweeps 15, 16 and zeros
    EXPECT_TRUE(window->status->text().contains("4 of 10 blocks")) << window->status->text().toStdString();
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Waterfall, CancelStopsTheReadingAndKeepsTheRowsRead)
{
    open(writeWavy("long.txt", 400, 400, 4000));
    form->Waterfall1->trigger();
    WaterfallWindow* window = form->waterfall();
    ASSERT_NE(window, nullptr);
    window->cancelButton->click();
    ASSERT_TRUE(window->waitUntilFinished(20000));
    EXPECT_EQ(window->end(), WaterfallEnd::Cancelled);
    EXPECT_LT(window->rowsShown(), window->expectedRows());
    EXPECT_TRUE(window->status->text().startsWith("Cancelled")) << window->status->text().toStdString();
    EXPECT_FALSE(window->cancelButton->isEnabled());
}

TEST_F(Waterfall, WhereNoThreadCanBeStartedTheWindowSaysSoAndTheProgramGoesOn)
{
    const std::string file = writeWavy("w.txt", 12, 12, 33);
    // The child reads as another user.
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
    chmod(file.c_str(), 0644);
    open(file);
    ASSERT_TRUE(form->fileopen);
    const int status = runInChildWithoutThreads([&] {
        const size_t before = dialogs.messages.size();
        form->Waterfall1->trigger();
        WaterfallWindow* window = form->waterfall();
        if (!window)
            return 10;
        const QString said = QStringLiteral("The recording cannot be read here: no thread can be started for it");
        if (window->running() || window->end() != WaterfallEnd::Failed || window->cancelButton->isEnabled())
            return 11;
        if (dialogs.messages.size() != before + 1 || !dialogs.messages.back().startsWith(said) ||
            window->status->text() != dialogs.messages.back())
            return 12;
        // The main window reads on; closing the recording closes the waterfall.
        goTo(QStringLiteral("5"));
        if (form->cursweep != 5)
            return 13;
        form->Close1Click();
        return form->waterfall() == nullptr && !form->fileopen ? 0 : 14;
    });
    if (status == NoThreadlessChild)
        GTEST_SKIP() << "no child process without threads can be made here";
    EXPECT_EQ(status, 0) << "10..14: the check that failed; 2: an exception; 134: aborted";
}

TEST_F(Waterfall, HoverNamesBlockSweepBinAndPowerAndTheColourScaleCanBeSet)
{
    open(writeWavy("w.txt", 12, 12, 33));
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    const QString power = QLocale().toString(window->row(1)[9], 'f', 1);
    EXPECT_EQ(window->hoverText(9, 1), "block 1, sweep 5, bin 10, " + power + " dB");
    EXPECT_EQ(window->hoverText(0, 7), "block 7, sweep 35, bin 1");  // no such row read

    EXPECT_TRUE(window->chart->colourRangeAutomatic());
    window->colourFrom->setText(QLocale().toString(-20.0));
    window->colourTo->setText(QLocale().toString(30.0));
    emit window->colourTo->returnPressed();
    EXPECT_FALSE(window->chart->colourRangeAutomatic());
    EXPECT_EQ(window->chart->colourRange(), std::make_pair(-20.0, 30.0));
    // Not a scale: the first not below the second, or not finite ("inf" and "nan" read as
    // numbers); or numbers the map cannot spread its colours over, which it would ignore
    // while the boxes claimed them (true: that message).
    const struct { const char* from; const char* to; bool beyondThePlot; } bad[] = {
        {"40", "30", false}, {"-inf", "30", false}, {"-20", "inf", false}, {"nan", "30", false},
        {"-1e300", "1e300", true}, {"0", "1e-300", true}, {"1e260", "1e261", true},
    };
    for (size_t i = 0; i < std::size(bad); ++i) {
        SCOPED_TRACE(testing::Message() << bad[i].from << " " << bad[i].to);
        window->colourFrom->setText(bad[i].from);
        window->colourTo->setText(bad[i].to);
        emit window->colourFrom->returnPressed();
        ASSERT_EQ(dialogs.messages.size(), i + 1);
        if (bad[i].beyondThePlot) {
            EXPECT_EQ(dialogs.messages.back(), QStringLiteral("The colour scale cannot run from %1 to %2 dB")
                                                   .arg(QLatin1String(bad[i].from), QLatin1String(bad[i].to)));
        }
        EXPECT_EQ(window->chart->colourRange(), std::make_pair(-20.0, 30.0));
        EXPECT_FALSE(window->chart->colourRangeAutomatic());
        // The boxes show the scale in use again.
        EXPECT_EQ(window->colourFrom->text(), QLocale().toString(-20.0, 'f', 1));
        EXPECT_EQ(window->colourTo->text(), QLocale().toString(30.0, 'f', 1));
    }
    window->automaticButton->click();
    EXPECT_TRUE(window->chart->colourRangeAutomatic());
    EXPECT_NE(window->chart->colourRange(), std::make_pair(-20.0, 30.0));
}

TEST_F(Waterfall, ANumberTypedIntoAColourBoxWhileRowsArriveStaysThere)
{
    // The automatic scale follows the rows as they arrive; a box being typed into keeps
    // what was typed, the other follows. Enter then takes both.
    open(writeWavy("w.txt", 40, 40, 31));
    form->Waterfall1->trigger();
    WaterfallWindow* window = form->waterfall();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->running());  // nothing shown before the event loop turns
    window->colourFrom->setText(QStringLiteral("-3"));
    window->colourFrom->setModified(true);  // as typing leaves it
    ASSERT_TRUE(window->waitUntilFinished(20000));
    EXPECT_EQ(window->rowsShown(), 8);
    EXPECT_TRUE(window->chart->colourRangeAutomatic());
    EXPECT_EQ(window->colourFrom->text(), "-3");
    EXPECT_EQ(window->colourTo->text(), QLocale().toString(window->chart->colourRange().second, 'f', 1));
    emit window->colourFrom->returnPressed();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(window->chart->colourRange().first, -3.0);
    // "Automatic" shows the fitted scale in both boxes again.
    window->automaticButton->click();
    EXPECT_EQ(window->colourFrom->text(), QLocale().toString(window->chart->colourRange().first, 'f', 1));
}

TEST_F(Waterfall, ARecordingOfMoreBlocksThanTheWindowHoldsShowsItsFirstOnes)
{
    open(writeWavy("w.txt", 40, 40, 31));
    // The limit of a test window: 3 of the 8 blocks; beside it one that takes them all.
    const struct { int64_t maxRows; int64_t shown; bool limited; WaterfallEnd end; } cases[] = {
        {3, 3, true, WaterfallEnd::Cancelled},
        {8, 8, false, WaterfallEnd::Complete},
        {1, 1, true, WaterfallEnd::Cancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.maxRows);
        WaterfallWindow window(dir.filePath("w.txt"), 5, 5.0, dialogs, nullptr, c.maxRows);
        window.start();
        ASSERT_TRUE(window.waitUntilFinished(20000));
        EXPECT_EQ(window.rowsShown(), c.shown);
        EXPECT_EQ(window.limited(), c.limited);
        EXPECT_EQ(window.end(), c.end);
        EXPECT_EQ(window.expectedRows(), 8);
        EXPECT_EQ(window.chart->rows(), c.shown);
        EXPECT_EQ(window.progress->value(), window.progress->maximum());
        EXPECT_EQ(window.status->text(), c.limited ? QStringLiteral("The first %1 of 8 blocks: the most the window holds")
                                                         .arg(c.shown)
                                                   : QStringLiteral("8 blocks of 5 sweeps"));
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

TEST_F(Waterfall, TheGridOfAHeaderOfMillionsOfShortSweepsIsAsTallAsTheWindowHolds)
{
    // One sample a sweep, two bytes an item: 60000 sweeps in 120 kB promise 12000 blocks,
    // each 32 kB in the window; the grid of 2^20 rows a bigger such file reached could
    // not even be allocated.
    const int64_t sweeps = 60000;
    std::string text = header(sweeps, 1);
    for (int64_t i = 0; i < sweeps; ++i)
        text += i % 2 ? "1\r" : "2\r";
    open(writeText("short.txt", text));
    form->Waterfall1->trigger();
    WaterfallWindow* window = form->waterfall();
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 2000 && window->expectedRows() == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    window->cancel();
    ASSERT_TRUE(window->waitUntilFinished(20000));
    EXPECT_EQ(window->expectedRows(), 12000);
    EXPECT_EQ(window->chart->rows(), WaterfallWindow::DefaultMaxRows);
    EXPECT_EQ(window->progress->maximum(), WaterfallWindow::DefaultMaxRows);
    EXPECT_LE(window->rowsShown(), WaterfallWindow::DefaultMaxRows);
}

TEST_F(Waterfall, ARecordingChangedOnDiskSinceItWasOpenedIsNotTakenForTheOneOpen)
{
    const QString changed =
        "The file on disk is no longer the recording opened: File > Close and File > Open read it anew";
    enum class Change { None, Replaced, Removed, WrittenInPlace, Touched };
    const struct { Change change; bool refused; } cases[] = {
        {Change::None, false},          {Change::Replaced, true}, {Change::Removed, true},
        {Change::WrittenInPlace, true}, {Change::Touched, true},
    };
    for (bool waterfallFirst : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "change " << int(c.change) << (waterfallFirst ? ", waterfall open" : ""));
            form = std::make_unique<TForm1>(dialogs);
            dialogs.messages.clear();
            const std::string file = writeWavy("w.txt", 40, 40, 31);
            open(file);
            WaterfallWindow* window = waterfallFirst ? openWaterfall() : nullptr;
            goTo("20");
            // Other sweeps under the same name: put in its place, or written over it.
            std::vector<Sweep> other;
            for (int s = 0; s < 40; ++s)
                other.push_back(wavySweep(s + 7, 33));
            if (c.change == Change::Replaced) {
                writeRecording("other.txt", 40, 33, other);
                ASSERT_EQ(std::rename(path("other.txt").c_str(), file.c_str()), 0);
            } else if (c.change == Change::Removed) {
                ASSERT_EQ(std::remove(file.c_str()), 0);
            } else if (c.change == Change::WrittenInPlace) {
                writeRecording("w.txt", 40, 33, other);
            } else if (c.change == Change::Touched) {
                const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
                ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
            }
            ASSERT_TRUE(dialogs.messages.empty());
            if (!waterfallFirst) {
                form->Waterfall1->trigger();
                if (c.refused) {
                    ASSERT_EQ(dialogs.messages.size(), 1u);
                    EXPECT_EQ(dialogs.messages[0], changed);
                    EXPECT_EQ(form->waterfall(), nullptr);
                } else {
                    EXPECT_TRUE(dialogs.messages.empty());
                    ASSERT_NE(form->waterfall(), nullptr);
                    EXPECT_TRUE(form->waterfall()->waitUntilFinished(20000));
                }
                EXPECT_TRUE(form->fileopen);
                continue;
            }
            ASSERT_NE(window, nullptr);
            // Backward (a reopen) and forward (reading on): neither shows the block of the
            // rows once the file is not the one they were read from.
            for (const auto& [row, shown] : {std::pair{1, 5}, std::pair{6, 30}}) {
                SCOPED_TRACE(row);
                dialogs.messages.clear();
                window->chooseRow(row);
                if (c.refused) {
                    ASSERT_EQ(dialogs.messages.size(), 1u);
                    EXPECT_EQ(dialogs.messages[0], changed);
                    EXPECT_EQ(form->cursweep, 20);
                    EXPECT_EQ(form->Panel6->text(), "20");
                } else {
                    EXPECT_TRUE(dialogs.messages.empty());
                    EXPECT_EQ(form->cursweep, shown);
                    EXPECT_TRUE(rowIsShownProfile(*window, row));
                }
                EXPECT_TRUE(form->fileopen);
                EXPECT_EQ(form->waterfall(), window);
            }
        }
    }
}

TEST_F(Waterfall, TheFrameFollowsTheBlockReadAlsoWhenItsDisplayFails)
{
    // Sweep 9, the last of block 5, is flat: in the time series the means fail after the
    // series is drawn. Sweep 4 as well, the last of block 0, which a reopen shows.
    std::vector<Sweep> sweeps;
    for (int s = 0; s < 40; ++s)
        sweeps.push_back(s == 9 || s == 4 ? Sweep(31, 0.25) : wavySweep(s, 31));
    open(writeRecording("flat.txt", 40, 31, sweeps));
    ASSERT_EQ(dialogs.messages.size(), 1u);  // block 0's last sweep is flat too
    dialogs.messages.clear();
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->rowsShown(), 8);
    // The last: back to block 10 by a reopen, whose block 0 fails to show on the way.
    const struct { int row; int shown; bool fails; } steps[] = {
        {1, 5, true}, {3, 15, false}, {0, 0, true}, {6, 30, false}, {2, 10, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "row " << step.row);
        dialogs.messages.clear();
        window->chooseRow(step.row);
        if (step.fails) {
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0], "Invalid floating point operation");
        } else {
            EXPECT_TRUE(dialogs.messages.empty());
        }
        EXPECT_EQ(form->cursweep, step.shown);
        EXPECT_EQ(form->Panel6->text(), QString::number(step.shown));
        EXPECT_EQ(window->chart->markedRows(), std::make_pair(step.shown / 5.0, step.shown / 5.0));
    }
}

TEST_F(Waterfall, TheColourBoxesReadBackWhatTheyShowInEveryLocale)
{
    // Right-to-left locales write a direction mark before the minus sign; the dB of a
    // profile's floor are below zero, so "from" holds one as shown.
    const char* locales[] = {"C", "de_DE", "he_IL", "ar_EG", "fa_IR", "ckb_IQ", "ps_AF"};
    const std::string file = writeWavy("w.txt", 12, 12, 33);
    for (const char* name : locales) {
        SCOPED_TRACE(name);
        QLocale::setDefault(QLocale(QString::fromLatin1(name)));
        form = std::make_unique<TForm1>(dialogs);
        dialogs.messages.clear();
        open(file);
        WaterfallWindow* window = openWaterfall();
        ASSERT_NE(window, nullptr);
        const auto [lowest, highest] = window->chart->colourRange();
        ASSERT_LT(lowest, 0.0);
        // Enter on the scale as shown fixes it at the numbers shown.
        emit window->colourFrom->returnPressed();
        EXPECT_TRUE(dialogs.messages.empty()) << (dialogs.messages.empty() ? "" : dialogs.messages[0].toStdString());
        EXPECT_FALSE(window->chart->colourRangeAutomatic());
        EXPECT_EQ(window->chart->colourRange(),
                  std::make_pair(std::round(lowest * 10) / 10, std::round(highest * 10) / 10));
        // A scale typed in the locale's own form, marks and all.
        window->colourFrom->setText(QLocale().toString(-42.5, 'f', 1));
        window->colourTo->setText(QLocale().toString(-7.25, 'f', 2));
        emit window->colourTo->returnPressed();
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(window->chart->colourRange(), std::make_pair(-42.5, -7.25));
    }
    QLocale::setDefault(QLocale::c());
}

TEST_F(Waterfall, AChosenRowAfterAReadStoppedPartWayIsReadFromAReopen)
{
    // A bad item in sweep 22: the waterfall holds blocks 0 to 15, and "Go to sweep" 20
    // stops inside sweep 22 after passing sweeps 10 to 19 (cursweep 15, block 5 still
    // shown).
    std::string text = header(40, 31);
    for (int s = 0; s < 40; ++s) {
        const Sweep sweep = wavySweep(s, 31);
        for (size_t i = 0; i < sweep.size(); ++i)
            text += s == 22 && i == 9 ? std::string("bad\r\n") : exactText(sweep[i]) + "\r\n";
    }
    open(writeText("bad.txt", text));
    WaterfallWindow* window = openWaterfall();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->rowsShown(), 4);
    dialogs.messages.clear();
    // Each row is the block its click shows, read anew from the start of the file.
    for (const int row : {3, 1, 3}) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        goTo("5");
        goTo("20");
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
        ASSERT_EQ(form->cursweep, 15);
        dialogs.messages.clear();
        window->chooseRow(row);
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form->cursweep, 5 * row);
        EXPECT_EQ(form->Panel6->text(), QString::number(5 * row));
        EXPECT_TRUE(rowIsShownProfile(*window, row));
        EXPECT_EQ(form->waterfall(), window);
        // The reopen left the file at the block after the one shown.
        form->Close1Click();
        open(dir.filePath("bad.txt").toStdString());
        window = openWaterfall();
        ASSERT_NE(window, nullptr);
        dialogs.messages.clear();
    }
}
