// "Go to sweep" and the display mode button. The stepping recordings make the
// peak-to-peak field name the last sweep shown: sweep s reads (s + 1) / 50.

#include "viewer_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace {

QString lastSweepShown(int s)
{
    return QString::number((s + 1) / 50.0, 'f', 3);
}

}  // namespace

class Navigation : public ViewerTest {
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        open(writeStepping("steps.txt", 100, 11));
        ASSERT_TRUE(dialogs.messages.empty());
    }
};

TEST_F(Navigation, StepsBlockByBlockOnFixedScale)
{
    form->Button2Click();  // Edit1 holds 5 after the open
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->Panel6->text(), "5");
    EXPECT_EQ(form->Edit1->text(), "10");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(9));
    EXPECT_EQ(points(), 4000);
    EXPECT_FALSE(form->Chart1->leftAxisAutomatic());
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -1.25);
    EXPECT_EQ(form->Chart1->leftAxisMaximum(), 1.25);

    form->Button2Click();
    EXPECT_EQ(form->Panel6->text(), "10");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(14));
}

TEST_F(Navigation, DistantTargetSkipsTheSweepsBetween)
{
    goTo("5");
    goTo("20");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->cursweep, 20);
    EXPECT_EQ(form->Panel6->text(), "20");
    EXPECT_EQ(form->Edit1->text(), "25");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(24));
    EXPECT_EQ(pointY(0), 0.25);
}

TEST_F(Navigation, TargetWithinTheNextBlockShowsTheNextBlock)
{
    goTo("5");
    goTo("7");
    EXPECT_EQ(form->Panel6->text(), "10");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(14));
    goTo("10");  // the current block itself
    EXPECT_EQ(form->Panel6->text(), "15");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(19));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Navigation, TargetBelowCurrentSweepIsRefusedAndTheRefusalStays)
{
    goTo("5");
    const QString shown = form->Panel5->text();
    goTo("3");
    EXPECT_EQ(form->Button2->text(), "CANNOT");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->cursweep, 5);
    EXPECT_EQ(form->Panel6->text(), "5");
    EXPECT_EQ(form->Edit1->text(), "3");
    EXPECT_EQ(form->Panel5->text(), shown);

    // A later step redraws but keeps the caption; File > Close restores it.
    goTo("10");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(14));
    EXPECT_EQ(form->Button2->text(), "CANNOT");
    form->Close1Click();
    EXPECT_EQ(form->Button2->text(), "Go to sweep");
}

TEST_F(Navigation, LastFullBlockIsTheBound)
{
    goTo("96");
    EXPECT_EQ(form->Button2->text(), "CANNOT");
    EXPECT_EQ(form->cursweep, 0);
    goTo("95");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->Panel6->text(), "95");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(99));
}

TEST_F(Navigation, TargetMustBeADecimalInteger)
{
    for (const char* text : {"Edit1", "", "5 ", "1e1", "99999999999"}) {
        goTo(QString::fromLatin1(text));
        ASSERT_EQ(dialogs.messages.size(), 1u) << text;
        EXPECT_EQ(dialogs.messages.back().toStdString(), "'" + std::string(text) + "' is not a valid integer value");
        dialogs.messages.clear();
    }
    EXPECT_EQ(form->cursweep, 0);
    EXPECT_EQ(form->Button2->text(), "Go to sweep");

    goTo("  5");  // leading blanks are fine
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->Panel6->text(), "5");
}

TEST_F(Navigation, ClosedRecordingFailsAtTheFirstRead)
{
    goTo("5");
    const QString shown = form->Panel5->text();
    form->Close1Click();
    goTo("20");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "I/O error 104");
    EXPECT_EQ(form->Panel5->text(), shown);
    EXPECT_EQ(form->cursweep, 5);
}

TEST_F(Navigation, ClosedRecordingWithinTheNextBlockClearsPowerAndRedrawsNothing)
{
    goTo("5");
    const double firstShown = pointY(0);
    form->Close1Click();
    goTo("10");  // no sweeps to pass: the block read itself meets the closed file
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "I/O error 104");
    for (size_t k = 1; k <= 4096; ++k)
        ASSERT_EQ(form->power[k], 0.0) << "bin " << k;
    // The fields set before the block read keep their values; the chart is untouched.
    EXPECT_EQ(form->Panel6->text(), "5");
    EXPECT_EQ(form->Edit1->text(), "10");
    EXPECT_EQ(form->cursweep, 5);
    ASSERT_EQ(points(), 4000);
    EXPECT_EQ(pointY(0), firstShown);
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(9));
}

TEST_F(Navigation, BadItemWhileSkippingKeepsTheSweepsSkippedSoFar)
{
    std::string text = header(40, 5);
    for (int s = 0; s < 40; ++s)
        text += s == 12 ? "0.1\r\n-0.1\r\nbad\r\n-0.1\r\n0.1\r\n" : "0.1\r\n-0.1\r\n0.1\r\n-0.1\r\n0.1\r\n";
    form = std::make_unique<TForm1>(dialogs);
    open(writeText("bad.txt", text));
    goTo("20");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
    EXPECT_EQ(form->cursweep, 7);  // sweeps 5..11 were passed
    EXPECT_EQ(form->Panel6->text(), "0");
}

TEST_F(Navigation, BlockPastTheEndOfTheFileReadsZeros)
{
    // The header promises 100 sweeps; the file holds 12.
    std::vector<Sweep> sweeps;
    for (int s = 0; s < 12; ++s)
        sweeps.push_back(alternatingSweep(s, 11));
    form = std::make_unique<TForm1>(dialogs);
    open(writeRecording("short.txt", 100, 11, sweeps));
    goTo("15");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Floating point division by zero");
    // The block was read and counted; its display stopped in the logarithm.
    EXPECT_EQ(form->cursweep, 15);
    EXPECT_EQ(form->Panel6->text(), "15");
    EXPECT_EQ(form->Edit1->text(), "20");
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(4));  // not redrawn
}

TEST_F(Navigation, DelayModeStepsOnTheDecibelScale)
{
    form->Button1Click();
    EXPECT_EQ(form->Button1->text(), "Delay");
    goTo("5");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(points(), 1024);
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -10.0);
    EXPECT_EQ(form->Chart1->leftAxisMaximum(), 60.0);
    EXPECT_EQ(form->Panel5->text(), lastSweepShown(4));  // still the open's value
}

TEST_F(Navigation, ModeButtonTogglesWithoutRedrawing)
{
    form->Chart1->flush();
    const int replots = form->Chart1->replotCount();
    EXPECT_EQ(form->Button1->text(), "T-Series");
    form->Button1Click();
    EXPECT_EQ(form->displaymode, 1);
    EXPECT_EQ(form->Button1->text(), "Delay");
    form->Button1Click();
    EXPECT_EQ(form->displaymode, 0);
    EXPECT_EQ(form->Button1->text(), "T-Series");
    form->Chart1->flush();
    EXPECT_EQ(form->Chart1->replotCount(), replots);
    EXPECT_EQ(points(), 4000);
}

TEST(NavigationWithoutRecording, EveryTargetIsRefused)
{
    ScriptedDialogs dialogs;
    TForm1 form(dialogs);
    form.Button2Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "'Edit1' is not a valid integer value");
    for (const char* target : {"0", "-5", "-2147483648", "2147483647"}) {
        form.Edit1->setText(QString::fromLatin1(target));
        form.Button2Click();
        EXPECT_EQ(form.Button2->text(), "CANNOT") << target;
    }
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(ViewerTest, HeaderCountsAtThe32BitLimitsNeitherWrapNorHang)
{
    // Sweeps without items: the skip to the last block of 2^31 - 1 sweeps passes
    // them at once, and the bound nsweeps - 5 does not wrap.
    const int32_t most = std::numeric_limits<int32_t>::max();
    open(writeText("huge.txt", header(most, 0)));
    dialogs.messages.clear();
    goTo(QString::number(most - 5));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Floating point division by zero");
    EXPECT_EQ(form->cursweep, most - 5);
    EXPECT_EQ(form->Edit1->text(), QString::number(int64_t{most}));

    goTo(QString::number(most - 4));
    EXPECT_EQ(form->Button2->text(), "CANNOT");

    form = std::make_unique<TForm1>(dialogs);
    open(writeText("negative.txt", header(std::numeric_limits<int32_t>::min(), 11)));
    goTo("0");
    EXPECT_EQ(form->Button2->text(), "CANNOT");
}

TEST_F(ViewerTest, AReadStoppedPartWayLetsNoBlockBeReadFromWhereItStopped)
{
    // Stepping sweeps of 11 samples; one item of sweep 12 (or of the first block, or
    // a header item) is no number. Where the read stopped, the file stands inside a
    // sweep (or the header): a block read from there would take each of its sweeps
    // from two.
    const auto recording = [](int badSweep, bool badHeader) {
        std::string text = header(40, 11);
        if (badHeader)
            text.replace(text.find("\r\n4\r\n"), 5, "\r\nfour\r\n");
        for (int s = 0; s < 40; ++s) {
            Sweep sweep = alternatingSweep(s, 11);
            for (size_t i = 0; i < sweep.size(); ++i)
                text += s == badSweep && i == 4 ? std::string("bad\r\n") : exactText(sweep[i]) + "\r\n";
        }
        return text;
    };
    struct Case {
        const char* what;
        int badSweep;
        bool badHeader;
        const char* stoppingTarget;  // "" when the open itself stops
        int cursweepAfter;
    };
    const Case cases[] = {
        {"bad item while passing sweeps", 12, false, "20", 7},
        {"bad item in the block read", 12, false, "10", 5},
        {"bad item in the first block", 3, false, "", 0},
        {"bad header item", -1, true, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form = std::make_unique<TForm1>(dialogs);
        dialogs.messages.clear();
        const std::string file = writeText("stops.txt", recording(c.badSweep, c.badHeader));
        open(file);
        if (*c.stoppingTarget != '\0') {
            ASSERT_TRUE(dialogs.messages.empty());
            goTo("5");
            goTo(QString::fromLatin1(c.stoppingTarget));
        }
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
        EXPECT_EQ(form->cursweep, c.cursweepAfter);
        const QString sweepShown = form->Panel6->text();
        const QString peakShown = form->Panel5->text();
        const int pointsShown = points();
        const std::array<double, TForm1::PowerBins + 1> power = form->power;

        // Every target the bounds let through is refused with the way back; nothing
        // is read, cleared or redrawn.
        for (const char* target : {"25", "30", "35"}) {
            goTo(QString::fromLatin1(target));
            ASSERT_EQ(dialogs.messages.size(), 2u) << target;
            EXPECT_EQ(dialogs.messages[1], TForm1::PositionLostText);
            dialogs.messages.pop_back();
            EXPECT_EQ(form->cursweep, c.cursweepAfter) << target;
            EXPECT_EQ(form->Panel6->text(), sweepShown) << target;
            EXPECT_EQ(form->Panel5->text(), peakShown) << target;
            EXPECT_EQ(points(), pointsShown) << target;
            EXPECT_EQ(form->power, power) << target;
        }
        // The bounds still come first; then File > Close and File > Open read anew.
        goTo("36");
        EXPECT_EQ(form->Button2->text(), "CANNOT");
        EXPECT_EQ(dialogs.messages.size(), 1u);
        form->Close1Click();
        if (c.badSweep < 5)
            continue;  // the first block stops again: covered by the open's own tests
        dialogs.messages.clear();
        open(file);
        goTo("5");
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(form->Panel6->text(), "5");
        EXPECT_EQ(form->Panel5->text(), lastSweepShown(9));
    }
}
