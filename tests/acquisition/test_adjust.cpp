// "Auto Adjust" on the simulated board: the attenuation phase, the gain phase, what is
// shown and programmed after each decision, the redraw after each cycle, and its ends.

#include "capture_fixture.h"

#include <QObject>

namespace {

using namespace capfix;
using boardsim::Fn;

// Channel levels of one capture: each channel alternates between lo and hi volts.
struct Levels {
    std::array<double, 3> lo{};
    std::array<double, 3> hi{};
};

Levels flat(double ch1, double ch2 = -2.0, double ch3 = -2.0)
{
    return {{ch1, ch2, ch3}, {ch1, ch2, ch3}};
}

class AutoAdjust : public CaptureTest {
protected:
    // Every capture asks `levels` for its channel levels (scan number from 1); the
    // marker is high in group 0.
    void inject(std::function<Levels(int scan)> levels, bool marker = true)
    {
        boardsim::setScanSource([this, levels, marker](uint16_t* samples, int32_t count) {
            ++scans;
            gainAtScan.push_back(form->Gain1);
            attenuationAtScan.push_back(boardsim::attenuationDb());
            const Levels l = levels(scans);
            groupSource([&](int32_t g) {
                const auto& v = g % 2 ? l.hi : l.lo;
                return Group{code(v[0]), code(v[1]), code(v[2]), uint16_t(marker && g == 0 ? 4000 : 0)};
            })(samples, count);
        });
    }
    void recordEdits()
    {
        QObject::connect(form->Edit3, &QLineEdit::textChanged, [this](const QString& t) { edit3.push_back(t); });
        QObject::connect(form->Edit4, &QLineEdit::textChanged, [this](const QString& t) { edit4.push_back(t); });
    }
    int scans = 0;
    std::vector<int32_t> gainAtScan;
    std::vector<double> attenuationAtScan;
    std::vector<QString> edit3, edit4;
};

TEST_F(AutoAdjust, ChannelWithoutSignalClimbsToTheCap)
{
    startReady(2);
    form->Button2Click();  // delay profile view, one channel chosen
    form->setRadioItemIndex(0);
    recordEdits();
    inject([](int) { return flat(-0.1); });
    const int replots = form->Chart1->replotCount();
    form->Button5Click();

    // Cycle 1 settles the attenuator only; cycles 2..5 raise channel 1.
    EXPECT_EQ(scans, 5);
    EXPECT_EQ(edit4, (std::vector<QString>{"40", "50", "60", "70", "67"}));
    EXPECT_EQ(gainAtScan, (std::vector<int32_t>{30, 30, 40, 50, 60}));
    EXPECT_EQ(form->Gain1, 67);
    EXPECT_EQ(form->Gain2, 30);
    // The front-end holds the capped gain.
    EXPECT_EQ(boardsim::potValue(0), form->GainPotA(67, 1));
    EXPECT_EQ(boardsim::potValue(1), form->GainPotB(67, 1));
    // A redraw after every cycle, of all channels' time series; the caption stays.
    EXPECT_EQ(form->Chart1->replotCount(), replots + 5);
    EXPECT_TRUE(form->TimeSeriesMode);
    EXPECT_EQ(form->radioItemIndex(), 3);
    EXPECT_EQ(form->Button2->text(), "Time Series");
    EXPECT_EQ(form->Chart1->pointCount(form->Series2), 1000);
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -5.0);
    EXPECT_EQ(boardsim::liveBlocks(), 0);
    EXPECT_FALSE(form->CaptureInProgress);
}

TEST_F(AutoAdjust, ReversalHalvesTheStep)
{
    startReady(2);
    recordEdits();
    inject([](int scan) {
        switch (scan) {
        case 2: return flat(-3.5);  // too large: 30 - 10 = 20, step halved to 5
        case 3: return flat(-0.5);  // too small: 20 + 5 = 25, step halved to 2
        default: return flat(-2.0);
        }
    });
    form->Button5Click();
    EXPECT_EQ(scans, 4);
    EXPECT_EQ(edit4, (std::vector<QString>{"20", "25"}));
    EXPECT_EQ(form->Gain1, 25);
    EXPECT_EQ(boardsim::potValue(0), form->GainPotA(25, 1));
    EXPECT_EQ(form->Attenuation, 0);
}

TEST_F(AutoAdjust, AttenuationRisesWhileAMaximumIsAbove3_2)
{
    startReady(2);
    recordEdits();
    // Channel 1's positive side falls with the attenuation; its negative side is fine.
    inject([this](int) {
        Levels l = flat(-1.5);
        l.hi[0] = 4.0 - 0.06 * form->Attenuation;
        return l;
    });
    form->Button5Click();
    EXPECT_EQ(edit3, (std::vector<QString>{"5", "10", "15"}));
    EXPECT_EQ(form->Attenuation, 15);
    // Each new value reached the front-end before the next capture; the first capture
    // is taken at the setting, not at the 31 dB that start-up left in the attenuator.
    EXPECT_EQ(attenuationAtScan, (std::vector<double>{0, 5, 10, 15, 15}));
    EXPECT_EQ(gainAtScan, (std::vector<int32_t>{30, 30, 30, 30, 30}));
    EXPECT_TRUE(edit4.empty());
}

TEST_F(AutoAdjust, TheFirstCycleMeasuresWithTheAttenuatorAtTheSetting)
{
    // Channel 1 reaches 4 V at 0 dB and falls with the attenuation the front-end holds.
    struct Case {
        const char* what;
        const char* edit3;  // typed before the adjustment; null: as start-up left it
        std::vector<double> attenuationAtScan;
        int32_t attenuation;
        int attenuatorWritesAtStart;  // before the first capture, the settings check's included
    };
    const std::vector<Case> cases = {
        // Start-up sent 31 while the box reads 0: the adjustment sends 0 first. Measured
        // at 31 dB, it stopped at once with the setting 0 and the attenuator at 31.
        {"as after start-up", nullptr, {0, 5, 10, 15, 15}, 15, 1},
        // The settings check has sent the setting: nothing more is sent.
        {"a setting typed", "5", {5, 10, 15, 15}, 15, 1},
        {"typed 0 after another value", "0", {0, 5, 10, 15, 15}, 15, 1},
        // 40 is shown as 31 and sent so; a negative setting is held as index 0.
        {"beyond the attenuator", "40", {31, 31}, 31, 1},
        {"negative", "-3", {0, 2, 7, 12, 17, 17}, 17, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startReady(2);
        if (c.edit3) {
            form->Edit3->setText("1");
            form->ApplySettings();
            form->Edit3->setText(c.edit3);
        }
        attenuationAtScan.clear();
        scans = 0;
        const size_t writesBefore = boardsim::registerWrites().size();
        int attenuatorWrites = -1;  // register 7 writes before the first capture
        inject([&](int scan) {
            if (scan == 1) {
                attenuatorWrites = 0;
                const auto& writes = boardsim::registerWrites();
                for (size_t i = writesBefore; i < writes.size(); ++i)
                    attenuatorWrites += writes[i].address == 7 ? 1 : 0;
            }
            Levels l = flat(-1.5);
            l.hi[0] = 4.0 - 0.06 * boardsim::attenuationDb();
            return l;
        });
        form->Button5Click();
        EXPECT_EQ(attenuationAtScan, c.attenuationAtScan);
        EXPECT_EQ(form->Attenuation, c.attenuation);
        EXPECT_EQ(attenuatorWrites, c.attenuatorWritesAtStart);
        // The attenuator ends at the setting, within what it can take.
        EXPECT_EQ(boardsim::attenuationDb(), std::clamp(form->Attenuation, 0, 31));
        boardsim::clearScanSource();
    }
}

TEST_F(AutoAdjust, MissingMarkerEndsAtOnce)
{
    startReady(2);
    form->Edit3->setText("6");
    form->Edit4->setText("45");
    form->Edit5->setText("50");
    form->Edit6->setText("12");
    inject([](int) { return flat(-0.1); }, false);
    const int replots = form->Chart1->replotCount();
    form->Button5Click();
    EXPECT_EQ(current(), (Status{"Cannot continue, no SRF found", Yellow}));
    EXPECT_EQ(scans, 1);
    // The start values were already set, shown and sent to the front-end, replacing
    // the gains the settings check had just programmed.
    EXPECT_EQ(form->Gain1, 30);
    EXPECT_EQ(form->Gain3, 30);
    EXPECT_EQ(form->Edit4->text(), "30");
    EXPECT_EQ(form->Edit5->text(), "30");
    for (int channel = 1; channel <= 3; ++channel) {
        EXPECT_EQ(boardsim::potValue(2 * channel - 2), form->GainPotA(30, channel)) << "channel " << channel;
        EXPECT_EQ(boardsim::potValue(2 * channel - 1), form->GainPotB(30, channel)) << "channel " << channel;
    }
    EXPECT_EQ(form->Attenuation, 6);
    EXPECT_EQ(form->Chart1->replotCount(), replots);
    EXPECT_EQ(boardsim::liveBlocks(), 0);
}

TEST_F(AutoAdjust, StopsAfterFortyCyclesWithoutSettling)
{
    startReady(2);
    inject([](int) {
        Levels l = flat(-1.0);
        l.hi[2] = 4.5;  // beyond reach of any attenuation
        return l;
    });
    const int replots = form->Chart1->replotCount();
    form->Button5Click();
    EXPECT_EQ(scans, 40);
    EXPECT_EQ(current(), (Status{"Auto Adjust stopped: not settled after 40 cycles", Red}));
    EXPECT_EQ(form->Attenuation, 200);
    EXPECT_EQ(form->Edit3->text(), "200");
    EXPECT_EQ(boardsim::attenuationDb(), 31);  // the device applies at most 31 dB
    EXPECT_EQ(form->Chart1->replotCount(), replots + 40);
    EXPECT_FALSE(form->CaptureInProgress);
}

TEST_F(AutoAdjust, FailedAllocationSkipsTheDecisionButRedraws)
{
    startReady(2);
    inject([](int) { return flat(-2.0); });
    boardsim::failNextAlloc();
    const int replots = form->Chart1->replotCount();
    form->Button5Click();
    EXPECT_EQ(scans, 2);  // cycle 1 failed; cycles 2 and 3 settle everything
    EXPECT_EQ(form->Chart1->replotCount(), replots + 3);
    ASSERT_GE(processed.size(), 2u);
    EXPECT_EQ(processed[1], (Status{"Failed to allocate buffers", Red}));
    EXPECT_EQ(boardsim::liveBlocks(), 0);
    EXPECT_EQ(calls(Fn::WinBufFree), 2);
}

TEST_F(AutoAdjust, FailedScanDecidesNothingAndTheNextCycleTriesAgain)
{
    // A cycle whose scan fails measures nothing: what the sweep arrays still hold was
    // taken at other settings (or never), and deciding on it again moved the gains.
    struct Case {
        const char* what;
        int failAfterScan;  // the scan after this good one fails (0: the first; -1: every scan)
        std::vector<QString> edit4;
        int32_t gain1;
        int scansTaken;  // good scans
        Status status;
    };
    const std::vector<Case> cases = {
        // Stale zeros would have raised every gain to the cap: 40, 50, 60, 70, 67.
        {"every scan fails", -1, {}, 30, 0, {"Auto Adjust stopped: not settled after 40 cycles", Red}},
        // Scan 2 lowers the gain to 20; its -3.5 V, decided on again, gave 15.
        {"the scan after a decrease fails", 2, {"20"}, 20, 3, {"Locking buffer 1", White}},
        {"the first scan fails", 0, {}, 30, 2, {"Locking buffer 1", White}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startReady(2);
        recordEdits();
        edit4.clear();
        scans = 0;
        const int before = boardsim::scanCount();
        if (c.failAfterScan < 0)
            boardsim::failNextScan(5, 1000);
        else if (c.failAfterScan == 0)
            boardsim::failNextScan(5, 1);
        inject([&](int scan) {
            if (scan == c.failAfterScan)
                boardsim::failNextScan(5, 1);
            return scan == 2 && c.failAfterScan == 2 ? flat(-3.5) : flat(-2.0);
        });
        // The arrays as a capture at other settings left them: beyond every limit.
        for (auto* a : {&form->SweepVolts1, &form->SweepVolts2, &form->SweepVolts3})
            a->assign(a->size(), c.failAfterScan == 0 ? -4.5 : 0.0);
        const int replots = form->Chart1->replotCount();
        form->Button5Click();
        const int cycles = boardsim::scanCount() - before;
        EXPECT_EQ(scans, c.scansTaken);
        EXPECT_EQ(edit4, c.edit4);
        EXPECT_EQ(form->Gain1, c.gain1);
        EXPECT_EQ(form->Attenuation, 0);
        EXPECT_EQ(boardsim::potValue(0), form->GainPotA(c.gain1, 1));
        EXPECT_EQ(form->Chart1->replotCount(), replots + cycles);  // a failed cycle still redraws
        EXPECT_EQ(current(), c.status);
        EXPECT_EQ(boardsim::liveBlocks(), 0);
        boardsim::failNextScan(0);
        boardsim::clearScanSource();
    }
}

TEST_F(AutoAdjust, ALateSweepIsMeasuredOnlyAsFarAsItWasExtracted)
{
    // Channels at -2 V, inside every window; the arrays beyond what a capture fills
    // hold -4.5 V from an earlier one, which would keep raising the attenuation.
    struct Case {
        const char* what;
        int divider;
        int32_t markerGroup;  // the one sweep start of each capture
        int scans;
        int32_t attenuation;
        Status status;
    };
    const Case cases[] = {
        // 1000 of the 5000 elements filled: 100..1000 are measured, and they settle.
        {"divider 2, start at group 9000", 2, 9000, 2, 0, {"Locking buffer 1", White}},
        {"divider 4, start at group 4500", 4, 4500, 2, 0, {"Locking buffer 1", White}},
        // 50 filled: the window holds nothing of the capture, so nothing is decided.
        {"divider 2, start at group 9950", 2, 9950, 40, 0,
         {"Auto Adjust stopped: not settled after 40 cycles", Red}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startReady(c.divider);
        for (auto* a : {&form->SweepVolts1, &form->SweepVolts2, &form->SweepVolts3})
            a->assign(a->size(), -4.5);
        const int before = boardsim::scanCount();
        boardsim::setScanSource(groupSource([&](int32_t g) {
            return Group{code(-2.0), code(-2.0), code(-2.0), uint16_t(g == c.markerGroup ? 4000 : 0)};
        }));
        form->Button5Click();
        EXPECT_EQ(boardsim::scanCount() - before, c.scans);
        EXPECT_EQ(form->Attenuation, c.attenuation);
        EXPECT_EQ(form->Gain1, 30);
        EXPECT_EQ(current(), c.status);
        boardsim::clearScanSource();
    }
}

TEST_F(AutoAdjust, DividerFourMeasuresElements100To2500)
{
    startReady(4);
    boardsim::setScanSource(groupSource([](int32_t g) {
        // Outside the window (before element 100, after element 2500) channel 1 is at -4.5 V.
        const uint16_t ch1 = code(g < 99 || g >= 2500 ? -4.5 : -2.0);
        return Group{ch1, code(-2.0), code(-2.0), uint16_t(g == 0 ? 4000 : 0)};
    }));
    form->Button5Click();
    EXPECT_EQ(boardsim::scanCount(), 2);
    EXPECT_EQ(boardsim::lastScan()->count, 20000);
    EXPECT_EQ(boardsim::lastScan()->rateIn, 2500000);
    EXPECT_EQ(form->ScanRate, 2500000);
    EXPECT_EQ(form->Attenuation, 0);
    EXPECT_EQ(form->Gain1, 30);
}

TEST_F(AutoAdjust, ClicksDuringTheAdjustmentAreIgnored)
{
    startReady(2);
    inject([](int) { return flat(-2.0); });
    onProcessMessages = [&] {
        form->Button5Click();
        form->Button3Click();
        form->Button6Click();
    };
    form->Button5Click();
    EXPECT_EQ(scans, 2);
    EXPECT_EQ(dialogs.saveAsked, 0);
}

TEST_F(AutoAdjust, ClosingTheProgramDuringTheAdjustmentEndsItAtOnce)
{
    // Signals that never settle: without the close the adjustment runs all 40 cycles.
    struct Case {
        const char* how;
        int closeAtYield;  // the pending-messages point at which the program is closed
        int scans;         // captures taken in all
    };
    const Case cases[] = {
        {"Exit", 1, 0},
        {"frame", 1, 0},
        {"Exit", 3, 2},
        {"frame", 3, 2},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.how) + " at yield " + std::to_string(c.closeAtYield);
        startReady(2);
        form->show();
        inject([](int) {
            Levels l = flat(-1.0);
            l.hi[2] = 4.5;
            return l;
        });
        scans = 0;
        int yields = 0;
        closeAtYield(c.closeAtYield, c.how, yields);
        const int terminationsBefore = terminations;
        form->Button5->click();
        EXPECT_EQ(scans, c.scans) << what;
        EXPECT_EQ(yields, c.closeAtYield) << what;
        EXPECT_EQ(form->Attenuation, 5 * c.scans) << what;
        EXPECT_EQ(boardsim::liveBlocks(), 0) << what;
        EXPECT_FALSE(form->CaptureInProgress) << what;
        EXPECT_EQ(terminations - terminationsBefore, std::string(c.how) == "Exit" ? 1 : 0) << what;
        EXPECT_TRUE(dialogs.messages.empty()) << what;
        onProcessMessages = nullptr;
        form.reset();
    }
}

}  // namespace
