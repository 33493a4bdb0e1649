// "Show" on the simulated board: one capture, its texts and colours, the arrays it
// fills, the profiles and the redraw, and every way it can stop.

#include "capture_fixture.h"

#include <QLabel>
#include <cmath>

namespace {

using namespace capfix;
using boardsim::Fn;

class Show : public CaptureTest {
protected:
    // Channels at fixed codes, the marker above 3000 only in the listed groups.
    void injectMarkers(std::vector<int32_t> groups, Group channels = {1024, 2048, 3072, 0})
    {
        boardsim::setScanSource(groupSource([groups, channels](int32_t g) {
            Group codes = channels;
            codes[3] = std::find(groups.begin(), groups.end(), g) != groups.end() ? 3001 : 3000;
            return codes;
        }));
    }
    void fillArrays(double value)
    {
        for (auto* a : {&form->SweepVolts1, &form->SweepVolts2, &form->SweepVolts3, &form->DelayProfile1,
                        &form->DelayProfile2, &form->DelayProfile3})
            a->assign(a->size(), value);
    }
    // The chart and all arrays as they stand.
    struct Picture {
        std::vector<std::vector<double>> arrays;
        std::vector<int> points;
        int replots = 0;
        bool operator==(const Picture&) const = default;
    };
    Picture picture() const
    {
        Picture p;
        for (auto* a : {&form->SweepVolts1, &form->SweepVolts2, &form->SweepVolts3, &form->DelayProfile1,
                        &form->DelayProfile2, &form->DelayProfile3})
            p.arrays.push_back(*a);
        for (int s : {form->Series1, form->Series2, form->Series3})
            p.points.push_back(form->Chart1->pointCount(s));
        p.replots = form->Chart1->replotCount();
        return p;
    }
    void expectBufferGivenBack()
    {
        EXPECT_EQ(boardsim::liveBlocks(), 0);
        EXPECT_EQ(calls(Fn::WinBufFree), calls(Fn::WinBufAlloc));
        EXPECT_EQ(calls(Fn::GlobalUnlock), calls(Fn::GlobalLock));
    }
};

TEST_F(Show, CapturesAlignsAndDraws)
{
    startReady(2);
    injectMarkers({1234, 6000});
    fillArrays(7.0);
    const int replots = form->Chart1->replotCount();
    form->Button3Click();

    EXPECT_EQ(current(), (Status{"Start of sweep at 4936", Aqua}));
    // Texts made visible before the blocking scan, in order.
    EXPECT_EQ(processed, (std::vector<Status>{{"Arrived at MEMPREP", White}, {"Allocated buffers", Aqua}}));
    const auto scan = boardsim::lastScan();
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->count, 40000);
    EXPECT_EQ(scan->rateIn, 5000000);
    EXPECT_EQ(form->ScanRate, 5000000);
    EXPECT_EQ(boardsim::blockSize(scan->handle), 0);  // freed
    expectBufferGivenBack();

    // (40000 - 4936) / 4 = 8766 elements written, older values beyond.
    EXPECT_EQ(form->SweepVolts1[1], -2.5);
    EXPECT_EQ(form->SweepVolts2[8766], 0.0);
    EXPECT_EQ(form->SweepVolts3[8766], 2.5);
    EXPECT_EQ(form->SweepVolts1[8767], 7.0);
    // Constant -2.5 V over the 4096 transformed samples: all power in bin 1.
    EXPECT_NEAR(form->DelayProfile1[1], 10.0 * std::log10(std::pow(4096 * 2.5, 2)), 1e-6);
    EXPECT_EQ(form->DelayProfile1[2], -60.0);
    EXPECT_EQ(form->DelayProfile2[1], -60.0);  // 0 V: every bin at the floor
    EXPECT_EQ(form->DelayProfile2[4096], -60.0);

    EXPECT_GT(form->Chart1->replotCount(), replots);
    for (int s : {form->Series1, form->Series2, form->Series3})
        EXPECT_EQ(form->Chart1->pointCount(s), 1000);
    EXPECT_EQ(form->Chart1->pointY(form->Series1, 0), -2.5);
    EXPECT_EQ(form->Chart1->pointY(form->Series3, 999), 2.5);
    EXPECT_FALSE(form->CaptureInProgress);
}

TEST_F(Show, MarkerInFirstAndLastGroup)
{
    startReady(2);
    injectMarkers({0});
    form->Button3Click();
    EXPECT_EQ(current(), (Status{"Start of sweep at 0", Aqua}));

    fillArrays(7.0);
    injectMarkers({9999});
    form->Button3Click();
    EXPECT_EQ(current(), (Status{"Start of sweep at 39996", Aqua}));
    EXPECT_EQ(form->SweepVolts1[1], -2.5);  // one element per channel
    EXPECT_EQ(form->SweepVolts1[2], 7.0);   // the rest kept, and drawn as they stand
    EXPECT_EQ(form->Chart1->pointY(form->Series1, 1), 7.0);
    expectBufferGivenBack();
}

TEST_F(Show, DividerFourCapturesHalfAsMuch)
{
    startReady(4);
    injectMarkers({4999});
    form->Button3Click();
    EXPECT_EQ(current().text, "Start of sweep at 19996");
    EXPECT_EQ(boardsim::lastScan()->count, 20000);
    EXPECT_EQ(boardsim::lastScan()->rateIn, 2500000);
    EXPECT_EQ(form->ScanRate, 2500000);
}

TEST_F(Show, RateWrittenBackIsNotUsed)
{
    startReady(2);
    injectMarkers({10});
    form->Button3Click();
    form->Button3Click();
    EXPECT_EQ(boardsim::lastScan()->rateIn, 5000000);
    EXPECT_EQ(form->ScanRate, 5000000);
}

TEST_F(Show, MarkerMissingLeavesEverything)
{
    startReady(2);
    injectMarkers({});  // 3000 everywhere: equal to the threshold is no start
    fillArrays(1.5);
    const Picture before = picture();
    form->Button3Click();
    EXPECT_EQ(current(), (Status{"Failed to find Start of Sweep", Yellow}));
    EXPECT_EQ(picture(), before);
    expectBufferGivenBack();
}

TEST_F(Show, ScanFailureLeavesEverything)
{
    startReady(2);
    injectMarkers({10});
    fillArrays(1.5);
    const Picture before = picture();
    boardsim::failNextScan(1);
    form->Button3Click();
    EXPECT_EQ(current(), (Status{"Failed to get a sweep", Red}));
    // The board's own text was shown in red and replaced at once.
    ASSERT_FALSE(status->entries.empty());
    EXPECT_EQ(status->entries.back(), (Status{"Failed to arm board 1", Red}));
    EXPECT_EQ(picture(), before);
    expectBufferGivenBack();
}

TEST_F(Show, AllocationFailureReleasesNothing)
{
    startReady(2);
    fillArrays(1.5);
    const Picture before = picture();
    boardsim::failNextAlloc();
    boardsim::clearTrace();
    form->Button3Click();
    EXPECT_EQ(current(), (Status{"Failed to allocate buffers", Red}));
    EXPECT_EQ(processed.back(), (Status{"Failed to allocate buffers", Red}));
    EXPECT_EQ(processed.size(), 2u);
    EXPECT_EQ(calls(Fn::AInScan), 0);
    EXPECT_EQ(calls(Fn::WinBufFree), 0);
    EXPECT_EQ(calls(Fn::GlobalUnlock), 0);
    EXPECT_EQ(picture(), before);
}

TEST_F(Show, RefusedSettingsCaptureNothing)
{
    start();
    form->Edit1->setText("2");  // no number of sweeps entered
    boardsim::clearTrace();
    form->Button3Click();
    EXPECT_EQ(form->statusText(), "YOU MUST ENTER A POSITIVE NUMBER OF SWEEPS");
    EXPECT_EQ(calls(Fn::WinBufAlloc), 0);
    EXPECT_EQ(calls(Fn::AInScan), 0);
}

TEST_F(Show, ClickDuringACaptureIsIgnored)
{
    startReady(2);
    injectMarkers({5});
    int nested = 0;
    onProcessMessages = [&] {
        // A queued click runs at a point where pending messages are processed.
        if (nested++ == 0) {
            form->Button3Click();
            form->Button6Click();
            form->Button5Click();
        }
    };
    form->Button3Click();
    EXPECT_EQ(boardsim::scanCount(), 1);
    EXPECT_EQ(calls(Fn::WinBufAlloc), 1);
    EXPECT_EQ(dialogs.saveAsked, 0);
    EXPECT_EQ(current().text, "Start of sweep at 20");
    expectBufferGivenBack();
    // Once the capture is over, the next click runs.
    form->Button3Click();
    EXPECT_EQ(boardsim::scanCount(), 2);
}

TEST_F(Show, ClosingTheProgramBeforeTheScanTakesNoScan)
{
    // Pending messages run inside MEMPREP and once more after "Allocated buffers".
    struct Case {
        const char* how;
        int closeAtYield;
    };
    const Case cases[] = {{"Exit", 1}, {"frame", 1}, {"Exit", 2}, {"frame", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " at yield " + std::to_string(c.closeAtYield));
        startReady(2);
        form->show();
        injectMarkers({5});
        fillArrays(0.25);
        const Picture before = picture();
        const int scansBefore = boardsim::scanCount();
        int yields = 0;
        closeAtYield(c.closeAtYield, c.how, yields);
        form->Button3->click();
        EXPECT_EQ(boardsim::scanCount(), scansBefore);
        EXPECT_TRUE(picture() == before);
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_FALSE(form->CaptureInProgress);
        expectBufferGivenBack();
        onProcessMessages = nullptr;
        form.reset();
    }
}

TEST_F(Show, FlagClearedWhenTheSettingsCheckThrows)
{
    startReady(2);
    form->Edit2->setText("abc");
    form->Button3->click();  // through the handler wrapper
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "'abc' is not a valid integer value");
    EXPECT_FALSE(form->CaptureInProgress);
    form->Edit2->setText("1");
    injectMarkers({1});
    form->Button3->click();
    EXPECT_EQ(current().text, "Start of sweep at 4");
}

}  // namespace

TEST_F(Show, MarkupTypedIntoABoxIsQuotedAsTypedAndNoLabelRendersMarkup)
{
    startReady(2);
    form->Edit2->setText("<b>12</b>");
    form->Button3->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "'<b>12</b>' is not a valid integer value");
    for (const QLabel* label : form->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}
