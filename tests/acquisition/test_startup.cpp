// Start-up, the settings check before every action, and the clocks-per-sweep
// read-back, as the simulated front-end and the window see them.

#include "form_fixture.h"
#include "runtime_error.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using boardsim::Fn;
using boardsim::PortCall;
using boardsim::RegisterWrite;
using fixture::patternTable;

namespace {
const QColor Yellow(255, 255, 0);
const QColor Red(255, 0, 0);

// Every message of the message line, seen when its colour is set.
class MessageLog : public QObject {
public:
    explicit MessageLog(QLabel* panel) : panel_(panel) { panel->installEventFilter(this); }
    std::vector<std::pair<QString, QColor>> seen;
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object == panel_ && event->type() == QEvent::PaletteChange)
            seen.emplace_back(panel_->text(), panel_->palette().color(QPalette::Window));
        return false;
    }

private:
    QLabel* panel_;
};
}  // namespace

class StartupTest : public fixture::FormTest {};

TEST_F(StartupTest, ConfiguresThePortsBeforeAnyFrontEndStep)
{
    start();
    const auto calls = boardsim::portTrace();
    ASSERT_GE(calls.size(), 6u);
    const std::vector<PortCall> first = {
        {Fn::DConfigPort, 0, 10, DIGITALIN},  {Fn::DConfigPort, 0, 11, DIGITALOUT},
        {Fn::DConfigPort, 0, 13, DIGITALIN},  {Fn::DConfigPort, 0, 12, DIGITALOUT},
        {Fn::DOut, 0, 12, 15},                {Fn::DConfigPort, 0, 10, DIGITALOUT},
    };
    EXPECT_EQ(std::vector<PortCall>(calls.begin(), calls.begin() + 6), first);
    // It ends with the idle address set again, then the strobe of address 0.
    const std::vector<PortCall> last = {{Fn::DConfigPort, 0, 10, DIGITALIN},
                                        {Fn::DOut, 0, 12, 15},
                                        {Fn::DOut, 0, 12, 0},
                                        {Fn::DOut, 0, 12, 15}};
    EXPECT_EQ(std::vector<PortCall>(calls.end() - 4, calls.end()), last);
}

TEST_F(StartupTest, FrontEndStepsFollowTheStartUpOrder)
{
    start();
    // The addresses selected on the bus, in order: divider, the three read-back bytes,
    // the sweep count, the attenuator, 36 potentiometer frames (channels 1 to 3, two
    // pots each), then the strobe of address 0 as the last step.
    std::vector<int> selected;
    for (const auto& call : boardsim::portTrace())
        if (call.fn == Fn::DOut && call.port == FIRSTPORTCL && call.value != 15)
            selected.push_back(call.value);
    std::vector<int> expected = {3, 8, 9, 10, 4, 5, 6, 7};
    expected.insert(expected.end(), 36, 2);
    expected.push_back(0);
    EXPECT_EQ(selected, expected);
    // The pots are programmed channel by channel, A before B.
    std::vector<int> pots;
    const auto& frames = boardsim::potFrameBytes();
    for (size_t i = 1; i < frames.size(); i += 6)
        pots.push_back(frames[i] & 0x0F);
    EXPECT_EQ(pots, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(StartupTest, ProgramsTheFrontEndWithItsStartValues)
{
    const auto t = patternTable();
    start(t);
    EXPECT_TRUE(dialogs.messages.empty());
    const std::vector<RegisterWrite> writes = {{3, 0}, {4, 100}, {5, 0}, {6, 0}, {7, 31}};
    EXPECT_EQ(boardsim::registerWrites(), writes);
    EXPECT_EQ(boardsim::clockDivider(), 1);
    EXPECT_DOUBLE_EQ(boardsim::attenuationDb(), 31.0);
    for (int pot = 0; pot < 6; ++pot)
        EXPECT_EQ(boardsim::potValue(pot), t[27][pot]) << pot;  // the 30 dB row
    EXPECT_EQ(boardsim::potValue(6), -1);
    EXPECT_EQ(boardsim::potFrameBytes().size(), 36u);
    // Address 0 is strobed last (the trace test checks where); configuring the address
    // port with its power-on latch may select it once before.
    EXPECT_GE(boardsim::strobeCount(), 1);
    EXPECT_EQ(boardsim::protocolErrors(), 0);
    EXPECT_EQ(boardsim::busConflicts(), 0);
    // At least 192 settle intervals, and not one more.
    EXPECT_EQ(intervalsSince(0), 192);
}

TEST_F(StartupTest, WindowShowsTheStartValuesWithNothingPending)
{
    boardsim::setClocksPerSweep(12345);
    start();
    EXPECT_EQ(form->Edit1->text(), "0");
    EXPECT_EQ(form->Edit2->text(), "0");
    EXPECT_EQ(form->Edit3->text(), "0");
    EXPECT_EQ(form->Edit4->text(), "30");
    EXPECT_EQ(form->Edit5->text(), "30");
    EXPECT_EQ(form->Edit6->text(), "30");
    EXPECT_EQ(form->Panel1->text(), "12345");
    EXPECT_EQ(form->ClocksPerSweep, 0);  // shown, not stored
    EXPECT_EQ(form->Panel3->text(), "Panel3");
    EXPECT_EQ(form->Button2->text(), "Delay Profile");
    EXPECT_EQ(form->statusText(), "Messages");
    EXPECT_EQ(form->ClockDivider, 0);
    EXPECT_EQ(form->NumSweeps, 0);
    EXPECT_EQ(form->Attenuation, 0);
    EXPECT_EQ(form->Gain1 + form->Gain2 + form->Gain3, 90);
    EXPECT_FALSE(form->ClockDividerChanged || form->NumSweepsChanged || form->AttenuationChanged ||
                 form->Gain1Changed || form->Gain2Changed || form->Gain3Changed);
    EXPECT_FALSE(form->Recording);
    EXPECT_FALSE(form->BufferLocked);
    EXPECT_TRUE(form->TimeSeriesMode);
    EXPECT_EQ(form->ScanLowChan, 0);
    EXPECT_EQ(form->ScanHighChan, 3);
}

TEST_F(StartupTest, ClocksPerSweepIsReadBackOnEveryClick)
{
    start();
    boardsim::setClocksPerSweep(0x123456);
    form->Panel1->click();
    EXPECT_EQ(form->ClocksPerSweep, 0x123456);
    EXPECT_EQ(form->Panel1->text(), "1193046");
    boardsim::setClocksPerSweep(7);
    form->Panel1->click();
    EXPECT_EQ(form->Panel1->text(), "7");
}

// ---- ApplySettings -------------------------------------------------------------------

class ApplyTest : public fixture::FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        start();
        mark();
    }
    // Register writes from here on.
    void mark() { before_ = boardsim::registerWrites().size(); }
    std::vector<RegisterWrite> writes() const
    {
        const auto& all = boardsim::registerWrites();
        return {all.begin() + static_cast<long>(before_), all.end()};
    }

private:
    size_t before_ = 0;
};

TEST_F(ApplyTest, FirstCheckAfterStartUpCorrectsTheDividerThenRefusesZeroSweeps)
{
    MessageLog log(form->Panel2);
    EXPECT_FALSE(form->ApplySettings());
    const std::vector<std::pair<QString, QColor>> expected = {
        {"INVALID CLOCK DIVIDER, RESET TO 2", Yellow}, {"YOU MUST ENTER A POSITIVE NUMBER OF SWEEPS", Red}};
    EXPECT_EQ(log.seen, expected);
    EXPECT_EQ(form->statusText(), "YOU MUST ENTER A POSITIVE NUMBER OF SWEEPS");
    EXPECT_EQ(form->statusColour(), Red);
    EXPECT_EQ(form->ClockDivider, 2);
    EXPECT_EQ(form->Edit1->text(), "2");
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 1}}));
}

TEST_F(ApplyTest, DividerCorrectionIsYellowAndTheActionGoesOn)
{
    form->Edit2->setText("100");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->statusText(), "INVALID CLOCK DIVIDER, RESET TO 2");
    EXPECT_EQ(form->statusColour(), Yellow);
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 1}, {4, 100}, {5, 0}, {6, 0}}));
}

TEST_F(ApplyTest, DividerThreeIsSentThenCorrectedAndReSentOnceMore)
{
    form->Edit1->setText("3");
    form->Edit2->setText("10");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->Edit1->text(), "2");
    EXPECT_EQ(form->statusColour(), Yellow);
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 2}, {3, 1}, {4, 10}, {5, 0}, {6, 0}}));
    // The corrected box is pending again: the next check sends it once more, silently.
    EXPECT_TRUE(form->ClockDividerChanged);
    form->setStatus("Start of sweep at 12");
    mark();
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 1}}));
    EXPECT_EQ(form->statusText(), "Start of sweep at 12");
    EXPECT_FALSE(form->ClockDividerChanged);
}

TEST_F(ApplyTest, TooManySweepsAreLimitedByTheDivider)
{
    form->Edit1->setText("2");
    form->Edit2->setText("2000");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, 1430);
    EXPECT_EQ(form->Edit2->text(), "1430");
    EXPECT_EQ(form->statusText(), "TOO MANY SWEEPS, RESET TO 1430");
    EXPECT_EQ(form->statusColour(), Yellow);
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 1}, {4, 208}, {5, 7}, {6, 0}, {4, 150}, {5, 5}, {6, 0}}));

    form->Edit1->setText("4");
    form->Edit2->setText("3000");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, 2860);
    EXPECT_EQ(form->Edit2->text(), "2860");
    EXPECT_EQ(form->statusText(), "TOO MANY SWEEPS, RESET TO 2860");
}

TEST_F(ApplyTest, ANewDividerReChecksSweepsEnteredEarlier)
{
    form->Edit1->setText("4");
    form->Edit2->setText("2000");
    form->setStatus("x");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, 2000);
    EXPECT_EQ(form->statusText(), "x");

    form->Edit1->setText("2");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, 1430);
    EXPECT_EQ(form->Edit2->text(), "1430");
    EXPECT_EQ(form->statusText(), "TOO MANY SWEEPS, RESET TO 1430");
}

TEST_F(ApplyTest, SweepsThatAreNotPositiveAreRefusedAfterTheyWereSent)
{
    form->Edit1->setText("2");
    form->Edit2->setText("-5");
    EXPECT_FALSE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, -5);
    EXPECT_EQ(form->statusText(), "YOU MUST ENTER A POSITIVE NUMBER OF SWEEPS");
    EXPECT_EQ(form->statusColour(), Red);
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 1}, {4, 1}, {5, 0}, {6, 0}}));
}

TEST_F(ApplyTest, AttenuationIsLimitedFromAboveOnlyAndSilently)
{
    form->Edit1->setText("2");
    form->Edit2->setText("5");
    form->Edit3->setText("45");
    form->setStatus("x");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->Attenuation, 31);
    EXPECT_EQ(form->Edit3->text(), "31");
    EXPECT_EQ(form->statusText(), "x");
    EXPECT_EQ(writes().back(), (RegisterWrite{7, 31}));

    form->Edit3->setText("-3");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->Attenuation, -3);
    EXPECT_EQ(form->Edit3->text(), "-3");
    EXPECT_EQ(writes().back(), (RegisterWrite{7, 0}));
}

TEST_F(ApplyTest, GainsAreKeptAsEnteredAndClampedOnlyAtTheFrontEnd)
{
    const auto t = patternTable();
    form->Edit1->setText("2");
    form->Edit2->setText("5");
    form->Edit4->setText("80");
    form->Edit6->setText("-2");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->Gain1, 80);
    EXPECT_EQ(form->Gain3, -2);
    EXPECT_EQ(form->Edit4->text(), "80");
    EXPECT_EQ(boardsim::potValue(0), t[67][0]);
    EXPECT_EQ(boardsim::potValue(1), t[67][1]);
    EXPECT_EQ(boardsim::potValue(4), t[0][4]);
    EXPECT_EQ(boardsim::potValue(5), t[0][5]);
    EXPECT_FALSE(form->Gain1Changed || form->Gain3Changed);
}

TEST_F(ApplyTest, NothingPendingSendsNothingButTheChecks)
{
    form->Edit1->setText("4");
    form->Edit2->setText("100");
    ASSERT_TRUE(form->ApplySettings());
    mark();
    const size_t frames = boardsim::potFrameBytes().size();
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(boardsim::potFrameBytes().size(), frames);
}

TEST_F(ApplyTest, TextThatIsNotAnIntegerStopsTheCheckAtItsStep)
{
    form->Edit1->setText("4");
    form->Edit2->setText("abc");
    form->Edit3->setText("7");
    try {
        form->ApplySettings();
        FAIL() << "no error";
    } catch (const rt::ConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    // The divider steps ran; the sweeps stay pending; the attenuation was not reached.
    EXPECT_EQ(writes(), (std::vector<RegisterWrite>{{3, 3}}));
    EXPECT_EQ(form->ClockDivider, 4);
    EXPECT_TRUE(form->NumSweepsChanged);
    EXPECT_TRUE(form->AttenuationChanged);

    form->Edit2->setText("");
    EXPECT_THROW(form->ApplySettings(), rt::ConvertError);
    form->Edit2->setText("12");
    EXPECT_TRUE(form->ApplySettings());
    EXPECT_EQ(form->NumSweeps, 12);
    EXPECT_EQ(form->Attenuation, 7);
}

TEST_F(StartupTest, ABoardThatCannotBeUsedIsSaidOnceAfterStartUp)
{
    struct Case {
        std::string failure;
        std::vector<QString> messages;
        QString clockDivider;  // what start-up leaves in "Clock Divider"
    };
    // An unusable board fails every call (CBW_NODEVICE, 12), as a missing real board does.
    const Case cases[] = {
        {"", {}, QStringLiteral("0")},
        {"channel file line 3: expected a number",
         {QStringLiteral("The data-acquisition board cannot be used: channel file line 3: expected a number")},
         QStringLiteral("12")},
    };
    for (const Case& c : cases) {
        form.reset();
        dialogs.messages.clear();
        boardsim::reset();
        boardsim::setBoardFailure(c.failure);
        start();
        EXPECT_EQ(dialogs.messages, c.messages) << c.failure;
        // Start-up itself ran as always: the window shows what the board calls gave.
        EXPECT_EQ(form->Edit1->text(), c.clockDivider) << c.failure;
    }
}
