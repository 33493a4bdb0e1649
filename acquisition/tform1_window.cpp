// The main window: its controls at their design places and texts, the change flags
// of the settings boxes, the message line, Exit and closing the window.

#include "tform1.h"

#include "board_library_info.h"
#include "handler_guard.h"
#include "design_font.h"
#include "line_chart.h"
#include "plain_text.h"
#include "settle_clock.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QLabel* label(QWidget* parent, const char* text, int left, int top)
{
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

QLineEdit* edit(QWidget* parent, const char* text, int top)
{
    auto* e = new QLineEdit(QString::fromLatin1(text), parent);
    e->setGeometry(120, top, 57, 21);
    return e;
}

QPushButton* button(QWidget* parent, const char* text, int left, int top, int width, int height)
{
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setGeometry(left, top, width, height);
    return b;
}

// Closes the recording before the program ends. The attempt closes the file even when
// it fails, so the recording counts as closed from here on and a second Exit is not
// stopped by the same file again.
void closeRecording(TForm1& form)
{
    if (!form.Recording)
        return;
    form.Recording = false;
    if (form.RecordFile.isOpen())
        form.RecordFile.close();  // throws the I/O error of a failed close
}

}  // namespace

TForm1::TForm1(Dialogs& dialogs, SettleClock& clock, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), clock_(clock)
{
    processMessages = [] { QCoreApplication::processEvents(); };
    terminateApplication = [] { QCoreApplication::quit(); };
    SweepVolts1.assign(SweepCapacity + 1, 0.0);
    SweepVolts2.assign(SweepCapacity + 1, 0.0);
    SweepVolts3.assign(SweepCapacity + 1, 0.0);
    DelayProfile1.assign(4096 + 1, 0.0);
    DelayProfile2.assign(4096 + 1, 0.0);
    DelayProfile3.assign(4096 + 1, 0.0);

    buildWindow();
    showTextPlainly(this);
    guarded([this] { FormCreate(); });
    // A board the library could not open or configure is said once, after start-up.
    if (const std::string failure = boardFailure(); !failure.empty())
        dialogs_.showMessage(this, QStringLiteral("The data-acquisition board cannot be used: ") +
                                       QString::fromStdString(failure));
}

TForm1::~TForm1() = default;

void TForm1::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(designFont());
    move(111, 104);
    resize(911, 629);
    auto* client = new QWidget(this);
    setCentralWidget(client);

    GroupBox1 = new QGroupBox(QStringLiteral("Graphs"), client);
    GroupBox1->setGeometry(8, 40, 665, 561);
    Chart1 = new LineChart(GroupBox1);
    Chart1->setGeometry(8, 24, 585, 521);
    Chart1->setTitle(QStringLiteral("Time Series/Delay Profile of Chosen Channel"));
    Chart1->setLeftAxisAutomatic(false);
    Chart1->setLeftAxisMinimum(-5.0);
    Chart1->setLeftAxisMaximum(5.0);
    Chart1->setBottomAxisAutomatic();
    Series1 = Chart1->addSeries(QColor(255, 0, 0));
    Series2 = Chart1->addSeries(QColor(0, 128, 0));
    Series3 = Chart1->addSeries(QColor(255, 255, 0));

    RadioGroup1 = new QGroupBox(QStringLiteral("chsel"), GroupBox1);
    RadioGroup1->setGeometry(592, 16, 57, 217);
    RadioGroup1Items = new QButtonGroup(this);
    const char* items[] = {"ch 1", "ch 2", "ch 3", "all"};
    for (int i = 0; i < 4; ++i) {
        auto* item = new QRadioButton(QString::fromLatin1(items[i]), RadioGroup1);
        item->setGeometry(8, 20 + 48 * i, 45, 20);
        RadioGroup1Items->addButton(item, i);
    }
    RadioGroup1Items->button(3)->setChecked(true);
    Button2 = button(GroupBox1, "TimeSeries", 592, 248, 65, 25);
    Button1 = button(GroupBox1, "Hide", 600, 528, 57, 25);  // pressing it does nothing

    GroupBox2 = new QGroupBox(QStringLiteral("Settings"), client);
    GroupBox2->setGeometry(680, 16, 217, 585);
    Label1 = label(GroupBox2, "Clock Divider", 8, 24);
    Edit1 = edit(GroupBox2, "1", 24);
    Label2 = label(GroupBox2, "Number of Sweeps", 8, 48);
    Edit2 = edit(GroupBox2, "100", 48);
    Label3 = label(GroupBox2, "Clocks per Sweep", 8, 72);
    Panel1 = button(GroupBox2, "Panel1", 120, 72, 57, 17);
    Panel1->setFlat(true);
    Label4 = label(GroupBox2, "RF Attenuation (dB)", 8, 96);
    Edit3 = edit(GroupBox2, "0", 96);
    Label6 = label(GroupBox2, "Channel 1 gain", 8, 120);
    Edit4 = edit(GroupBox2, "20", 120);
    Label7 = label(GroupBox2, "Channel 2 gain", 8, 144);
    Edit5 = edit(GroupBox2, "20", 144);
    Label8 = label(GroupBox2, "Channel 3 gain", 8, 168);
    Edit6 = edit(GroupBox2, "20", 168);
    Label5 = label(GroupBox2, "Samples per sec", 8, 200);
    Panel3 = new QLabel(QStringLiteral("Panel3"), GroupBox2);  // never written
    Panel3->setGeometry(120, 200, 57, 17);
    // Each edit box is announced by the text of the label beside it.
    const std::pair<QLabel*, QLineEdit*> labelled[] = {{Label1, Edit1}, {Label2, Edit2}, {Label4, Edit3},
                                                       {Label6, Edit4}, {Label7, Edit5}, {Label8, Edit6}};
    for (const auto& [l, e] : labelled) {
        l->setBuddy(e);
        e->setAccessibleName(l->text());
    }
    buildMeasurements();
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel3->setAlignment(Qt::AlignCenter);
    Button5 = button(GroupBox2, "Auto Adjust", 104, 352, 65, 25);
    Button3 = button(GroupBox2, "Show", 104, 384, 65, 25);
    Button7 = button(GroupBox2, "Exit", 104, 416, 65, 25);
    Button6 = button(GroupBox2, "Acquire", 16, 504, 81, 25);
    buildGpsStatus();

    Panel2 = new QLabel(QStringLiteral("Messages"), client);
    Panel2->setGeometry(0, 0, 593, 33);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setAlignment(Qt::AlignCenter);
    Panel2->setAutoFillBackground(true);
    setStatusColour(QApplication::palette().color(QPalette::Button));

    // Every change of a box's text raises its flag, whether typed or set by the program.
    const std::pair<QLineEdit*, void (TForm1::*)()> edits[] = {
        {Edit1, &TForm1::Edit1Change}, {Edit2, &TForm1::Edit2Change}, {Edit3, &TForm1::Edit3Change},
        {Edit4, &TForm1::Edit4Change}, {Edit5, &TForm1::Edit5Change}, {Edit6, &TForm1::Edit6Change},
    };
    for (const auto& [box, handler] : edits)
        connect(box, &QLineEdit::textChanged, this, [this, h = handler] { guarded([this, h] { (this->*h)(); }); });

    const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
        {Panel1, &TForm1::Panel1Click},   {Button2, &TForm1::Button2Click}, {Button3, &TForm1::Button3Click},
        {Button5, &TForm1::Button5Click}, {Button6, &TForm1::Button6Click}, {Button7, &TForm1::Button7Click},
    };
    for (const auto& [b, handler] : buttons)
        connect(b, &QPushButton::clicked, this, [this, h = handler] { guarded([this, h] { (this->*h)(); }); });
    connect(RadioGroup1Items, &QButtonGroup::idClicked, this, [this] { guarded([this] { RadioGroup1Click(); }); });
}

void TForm1::guarded(const std::function<void()>& handler)
{
    runGuarded(dialogs_, this, handler);
}

void TForm1::ProcessMessages()
{
    if (processMessages)
        processMessages();
}

int TForm1::radioItemIndex() const
{
    return RadioGroup1Items->checkedId();
}

void TForm1::setRadioItemIndex(int index)
{
    if (QAbstractButton* item = RadioGroup1Items->button(index)) {
        item->setChecked(true);
        return;
    }
    // No such item: nothing is selected.
    if (QAbstractButton* checked = RadioGroup1Items->checkedButton()) {
        RadioGroup1Items->setExclusive(false);
        checked->setChecked(false);
        RadioGroup1Items->setExclusive(true);
    }
}

void TForm1::setStatus(const QString& text)
{
    Panel2->setText(text);
}

void TForm1::setStatusColour(const QColor& colour)
{
    QPalette palette = Panel2->palette();
    palette.setColor(QPalette::Window, colour);
    Panel2->setPalette(palette);
}

QString TForm1::statusText() const
{
    return Panel2->text();
}

QColor TForm1::statusColour() const
{
    return Panel2->palette().color(QPalette::Window);
}

void TForm1::Edit1Change() { ClockDividerChanged = true; }
void TForm1::Edit2Change() { NumSweepsChanged = true; }
void TForm1::Edit3Change() { AttenuationChanged = true; }
void TForm1::Edit4Change() { Gain1Changed = true; }
void TForm1::Edit5Change() { Gain2Changed = true; }
void TForm1::Edit6Change() { Gain3Changed = true; }

void TForm1::Button7Click()
{
    // A recording that cannot be closed keeps the program open with the message.
    closeRecording(*this);
    Closing = true;
    if (terminateApplication)
        terminateApplication();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing by the frame closes an open recording first, like Exit.
    bool closed = false;
    guarded([&] {
        closeRecording(*this);
        closed = true;
    });
    if (closed) {
        Closing = true;
        event->accept();
    } else {
        event->ignore();
    }
}
