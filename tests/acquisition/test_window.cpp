// The main window: controls and texts, change flags, the message line, Exit and
// closing by the frame.

#include "form_fixture.h"
#include "line_chart.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class WindowTest : public fixture::FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        start();
    }
};

TEST_F(WindowTest, ControlsSitAtTheirDesignPlacesWithTheirTexts)
{
    EXPECT_EQ(form->windowTitle(), "Form1");
    EXPECT_EQ(form->GroupBox1->title(), "Graphs");
    EXPECT_EQ(form->GroupBox1->geometry(), QRect(8, 40, 665, 561));
    EXPECT_EQ(form->GroupBox2->title(), "Settings");
    EXPECT_EQ(form->GroupBox2->geometry(), QRect(680, 16, 217, 585));
    EXPECT_EQ(form->Panel2->geometry(), QRect(0, 0, 593, 33));
    EXPECT_EQ(form->Chart1->parentWidget(), form->GroupBox1);
    EXPECT_EQ(form->Chart1->geometry(), QRect(8, 24, 585, 521));
    EXPECT_EQ(form->RadioGroup1->title(), "chsel");
    EXPECT_EQ(form->RadioGroup1->geometry(), QRect(592, 16, 57, 217));

    const std::pair<QLabel*, const char*> labels[] = {
        {form->Label1, "Clock Divider"},       {form->Label2, "Number of Sweeps"}, {form->Label3, "Clocks per Sweep"},
        {form->Label4, "RF Attenuation (dB)"}, {form->Label6, "Channel 1 gain"},   {form->Label7, "Channel 2 gain"},
        {form->Label8, "Channel 3 gain"},      {form->Label5, "Samples per sec"},
    };
    const int labelTops[] = {24, 48, 72, 96, 120, 144, 168, 200};
    for (size_t i = 0; i < std::size(labels); ++i) {
        EXPECT_EQ(labels[i].first->text(), labels[i].second);
        EXPECT_EQ(labels[i].first->pos(), QPoint(8, labelTops[i])) << labels[i].second;
        EXPECT_EQ(labels[i].first->parentWidget(), form->GroupBox2);
    }
    const QLineEdit* edits[] = {form->Edit1, form->Edit2, form->Edit3, form->Edit4, form->Edit5, form->Edit6};
    const int editTops[] = {24, 48, 96, 120, 144, 168};
    for (size_t i = 0; i < std::size(edits); ++i)
        EXPECT_EQ(edits[i]->geometry(), QRect(120, editTops[i], 57, 21)) << i;
    EXPECT_EQ(form->Panel1->geometry(), QRect(120, 72, 57, 17));
    EXPECT_EQ(form->Panel3->geometry(), QRect(120, 200, 57, 17));

    const std::tuple<QPushButton*, const char*, QRect> buttons[] = {
        {form->Button2, "Delay Profile", QRect(592, 248, 65, 25)}, {form->Button1, "Hide", QRect(600, 528, 57, 25)},
        {form->Button5, "Auto Adjust", QRect(104, 352, 65, 25)},   {form->Button3, "Show", QRect(104, 384, 65, 25)},
        {form->Button7, "Exit", QRect(104, 416, 65, 25)},          {form->Button6, "Acquire", QRect(16, 504, 81, 25)},
    };
    for (const auto& [b, text, rect] : buttons) {
        EXPECT_EQ(b->text(), text);
        EXPECT_EQ(b->geometry(), rect) << text;
    }
}

TEST_F(WindowTest, FormSitsAtItsDesignPlaceWithItsFont)
{
    EXPECT_EQ(form->pos(), QPoint(111, 104));
    EXPECT_EQ(form->size(), QSize(911, 629));
    // MS Sans Serif where the system has it, Arial in its place otherwise.
    const QFont font = form->font();
    EXPECT_TRUE(font.family() == "MS Sans Serif" || font.family() == "Arial") << font.family().toStdString();
    EXPECT_EQ(font.pointSize(), 8);
    EXPECT_EQ(form->Panel1->parentWidget(), form->GroupBox2);
    EXPECT_EQ(form->Panel2->parentWidget(), form->centralWidget());
    EXPECT_EQ(form->Button2->parentWidget(), form->GroupBox1);
    EXPECT_EQ(form->Button1->parentWidget(), form->GroupBox1);
}

TEST_F(WindowTest, ChartHasThreeSeriesAndAFixedLeftAxis)
{
    ASSERT_EQ(form->Chart1->seriesCount(), 3);
    EXPECT_EQ(form->Chart1->seriesColour(form->Series1), QColor(255, 0, 0));
    EXPECT_EQ(form->Chart1->seriesColour(form->Series2), QColor(0, 128, 0));
    EXPECT_EQ(form->Chart1->seriesColour(form->Series3), QColor(255, 255, 0));
    EXPECT_EQ(form->Chart1->title(), "Time Series/Delay Profile of Chosen Channel");
    EXPECT_FALSE(form->Chart1->leftAxisAutomatic());
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -5.0);
    EXPECT_EQ(form->Chart1->leftAxisMaximum(), 5.0);
}

TEST_F(WindowTest, RadioGroupOffersFourItemsWithAllSelected)
{
    const char* items[] = {"ch 1", "ch 2", "ch 3", "all"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(form->RadioGroup1Items->button(i)->text(), items[i]);
    EXPECT_EQ(form->radioItemIndex(), 3);
    form->setRadioItemIndex(1);
    EXPECT_EQ(form->radioItemIndex(), 1);
    form->setRadioItemIndex(-1);
    EXPECT_EQ(form->radioItemIndex(), -1);
    form->setRadioItemIndex(7);
    EXPECT_EQ(form->radioItemIndex(), -1);
    form->setRadioItemIndex(0);
    EXPECT_EQ(form->radioItemIndex(), 0);
}

TEST_F(WindowTest, EveryTextChangeRaisesItsOwnFlagButTheSameTextDoesNot)
{
    form->Edit2->setText("0");  // already shown
    EXPECT_FALSE(form->NumSweepsChanged);
    form->Edit2->insert("7");  // as typed
    EXPECT_TRUE(form->NumSweepsChanged);
    EXPECT_FALSE(form->ClockDividerChanged || form->AttenuationChanged || form->Gain1Changed ||
                 form->Gain2Changed || form->Gain3Changed);

    form->Edit1->setText("4");
    form->Edit3->setText("1");
    form->Edit4->setText("31");
    form->Edit5->setText("32");
    form->Edit6->setText("33");
    EXPECT_TRUE(form->ClockDividerChanged && form->AttenuationChanged && form->Gain1Changed &&
                form->Gain2Changed && form->Gain3Changed);
    // Typing alone reaches nothing at the front-end.
    boardsim::clearTrace();
    form->Edit3->setText("9");
    EXPECT_TRUE(boardsim::portTrace().empty());
}

TEST_F(WindowTest, MessageLineStartsOnTheButtonFaceAndTakesTextAndColour)
{
    EXPECT_EQ(form->statusText(), "Messages");
    EXPECT_EQ(form->statusColour(), QApplication::palette().color(QPalette::Button));
    EXPECT_TRUE(form->Panel2->autoFillBackground());
    form->setStatus("DONE");
    form->setStatusColour(QColor(0, 255, 0));
    EXPECT_EQ(form->Panel2->text(), "DONE");
    EXPECT_EQ(form->statusColour(), QColor(0, 255, 0));
}

TEST_F(WindowTest, HideDoesNothingAndPanel3NeverChanges)
{
    form->show();
    boardsim::clearTrace();
    form->Button1->click();
    EXPECT_TRUE(boardsim::portTrace().empty());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->statusText(), "Messages");
    EXPECT_TRUE(dialogs.messages.empty());
    form->Panel1->click();
    form->Edit1->setText("4");
    form->Edit2->setText("1");
    form->ApplySettings();
    EXPECT_EQ(form->Panel3->text(), "Panel3");
}

TEST_F(WindowTest, ProcessMessagesCallsTheReplaceableStep)
{
    int calls = 0;
    form->processMessages = [&] { ++calls; };
    form->ProcessMessages();
    form->ProcessMessages();
    EXPECT_EQ(calls, 2);
}

TEST_F(WindowTest, ExitWithoutRecordingTerminatesAtOnce)
{
    form->Button7->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, ExitClosesAnOpenRecordingFirst)
{
    const QString name = path("run.txt");
    form->RecordFile.create(name.toStdString());
    form->RecordFile.writeText("100");
    form->RecordFile.writeLn();
    form->Recording = true;
    form->Button7->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(form->RecordFile.isOpen());
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("100\r\n"));
}

TEST_F(WindowTest, ExitStaysOpenWhenTheRecordingCannotBeClosed)
{
    form->RecordFile.create("/dev/full");
    form->RecordFile.writeText("1");
    form->Recording = true;
    form->Button7->click();
    EXPECT_EQ(terminations, 0);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Disk full");
    // The failed close still closed the file: a second Exit is not held up by it.
    form->Button7->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(WindowTest, ClosingByTheFrameClosesTheRecordingLikeExit)
{
    form->show();
    form->RecordFile.create("/dev/full");
    form->RecordFile.writeText("1");
    form->Recording = true;
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Disk full");

    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(WindowTest, EditBoxesAndTheMeasurementsBoxAreAnnouncedByTheirOwnTexts)
{
    const std::pair<QWidget*, QString> cases[] = {
        {form->Edit1, "Clock Divider"},     {form->Edit2, "Number of Sweeps"}, {form->Edit3, "RF Attenuation (dB)"},
        {form->Edit4, "Channel 1 gain"},    {form->Edit5, "Channel 2 gain"},   {form->Edit6, "Channel 3 gain"},
        {form->GroupBox3, "Measurements"},
    };
    for (const auto& [widget, name] : cases) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(a, nullptr) << name.toStdString();
        EXPECT_EQ(a->text(QAccessible::Name), name);
    }
}
