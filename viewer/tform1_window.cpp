// The viewer's window: controls with their design texts and places, the main menu,
// start-up state, and the commands File > Exit, File > Close and Copy > To Clipboard.

#include "tform1.h"

#include "dialogs.h"
#include "handler_guard.h"
#include "design_font.h"
#include "line_chart.h"
#include "plain_text.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

namespace {

// Status fields are framed panels that centre their text, as the design has them.
QLabel* makePanel(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* panel = new QLabel(QString::fromLatin1(name), parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setAlignment(Qt::AlignCenter);
    panel->setGeometry(left, top, width, height);
    return panel;
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* text, int left, int top)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* text, int left, int top, int width,
                        int height)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, height);
    return button;
}

}  // namespace

TForm1::TForm1(Dialogs& dialogs, QWidget* parent) : QMainWindow(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Delay Profile"));
    setFont(designFont());
    move(262, 129);
    resize(728, 562);
    buildControls();
    buildMenus();
    showTextPlainly(this);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildControls()
{
    auto* client = new QWidget(this);
    setCentralWidget(client);

    Panel1 = makePanel(client, "Panel1", 8, 0, 449, 25);
    Label1 = makeLabel(client, "Label1", "nsweeps", 464, 0);
    Panel2 = makePanel(client, "Panel2", 520, 0, 33, 17);
    Label2 = makeLabel(client, "Label2", "nsamples", 568, 0);
    Panel3 = makePanel(client, "Panel3", 624, 0, 33, 17);
    Label3 = makeLabel(client, "Label3", "gain", 8, 32);
    Panel4 = makePanel(client, "Panel4", 48, 32, 49, 17);
    Label4 = makeLabel(client, "Label4", "Peak to Peak Voltage", 120, 32);
    Panel5 = makePanel(client, "Panel5", 240, 32, 185, 17);
    Label5 = makeLabel(client, "Label5", "Current sweep", 448, 32);
    Panel6 = makePanel(client, "Panel6", 528, 32, 65, 17);
    Button2 = makeButton(client, "Button2", "Go to sweep", 624, 32, 73, 17);

    Edit1 = new QLineEdit(QStringLiteral("Edit1"), client);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(624, 56, 73, 21);
    // Announced by the text of the button it goes with, its only label.
    Edit1->setAccessibleName(Button2->text());

    Chart1 = new LineChart(client);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setGeometry(8, 80, 641, 425);
    Chart1->setTitle(QStringLiteral("Power delay Profile for first 10 sweeps"));
    Series1 = Chart1->addSeries(Qt::black);

    // In the free strip under the chart, left-aligned with it; empty until a block
    // profile has been computed.
    Label6 = new QLabel(client);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setGeometry(8, 509, 641, 17);

    Button1 = makeButton(client, "Button1", "Delay", 656, 408, 57, 25);

    // A click and Enter in the target box are the same command.
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Edit1, &QLineEdit::returnPressed, Button2, &QPushButton::click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
}

void TForm1::buildMenus()
{
    File1 = menuBar()->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Open1 = File1->addAction(QStringLiteral("Open"));
    Exit1 = File1->addAction(QStringLiteral("Exit"));
    Close1 = File1->addAction(QStringLiteral("Close"));
    Copy1 = menuBar()->addMenu(QStringLiteral("Copy"));
    Copy1->setObjectName(QStringLiteral("Copy1"));
    ToClipboard1 = Copy1->addAction(QStringLiteral("To Clipboard"));
    View1 = menuBar()->addMenu(QStringLiteral("View"));
    View1->setObjectName(QStringLiteral("View1"));
    Waterfall1 = View1->addAction(QStringLiteral("Waterfall"));
    Waterfall1->setObjectName(QStringLiteral("Waterfall1"));
    Waterfall1->setEnabled(false);

    Open1->setObjectName(QStringLiteral("Open1"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    Close1->setObjectName(QStringLiteral("Close1"));
    ToClipboard1->setObjectName(QStringLiteral("ToClipboard1"));

    // The shortcuts users expect; the captions stay as designed.
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    ToClipboard1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));

    connect(Open1, &QAction::triggered, this, &TForm1::Open1Click);
    connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);
    connect(ToClipboard1, &QAction::triggered, this, &TForm1::ToClipboard1Click);
    connect(Waterfall1, &QAction::triggered, this, &TForm1::Waterfall1Click);
}

void TForm1::FormCreate()
{
    runGuarded(dialogs_, this, [this] {
        fileopen = false;
        Close1->setEnabled(false);
        displaymode = 0;
        Button1->setText(QStringLiteral("T-Series"));
        avgcount = 5;
        avgdivisor = 5.0;
    });
}

void TForm1::Exit1Click()
{
    runGuarded(dialogs_, this, [this] {
        // fileopen is left as it is: the program is ending.
        if (fileopen)
            recfile.close();
        QCoreApplication::quit();
        close();
    });
}

void TForm1::Close1Click()
{
    runGuarded(dialogs_, this, [this] {
        if (!fileopen)
            return;
        // A failed close leaves the menu and fileopen as they were.
        recfile.close();
        fileopen = false;
        positionLost_ = false;
        Close1->setEnabled(false);
        Open1->setEnabled(true);
        Button2->setText(QStringLiteral("Go to sweep"));
        Label6->clear();
        Waterfall1->setEnabled(false);
        if (!reopening_)
            closeWaterfall();
    });
}

void TForm1::ToClipboard1Click()
{
    runGuarded(dialogs_, this, [this] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard == nullptr)
            throw rt::Error("Cannot open clipboard");
        clipboard->setPixmap(Chart1->drawToBitmap());
    });
}
