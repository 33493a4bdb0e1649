// The viewer's window: start state, controls, menus, File > Close, File > Exit,
// Copy > To Clipboard, and the keyboard ways into the commands.

#include "viewer_fixture.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

// Runs `action` inside the event loop and tells whether the loop ended because the
// application was asked to quit (rather than by the guard). Closing the last window
// is kept from ending the loop, so only an explicit quit request counts.
bool actionQuitsTheApplication(const std::function<void()>& action)
{
    const bool quitOnClose = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QTimer::singleShot(0, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    const int code = QApplication::exec();
    QGuiApplication::setQuitOnLastWindowClosed(quitOnClose);
    return code == 0;
}

QStringList captions(const QList<QAction*>& actions)
{
    QStringList texts;
    for (const QAction* action : actions)
        texts << action->text();
    return texts;
}

bool hasDarkPixel(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 64)
                return true;
    return false;
}

}  // namespace

TEST_F(ViewerTest, StartsWithDesignTextsAndStartState)
{
    EXPECT_EQ(form->windowTitle(), "Delay Profile");
    EXPECT_EQ(form->size(), QSize(728, 562));
    EXPECT_EQ(form->pos(), QPoint(262, 129));

    const struct {
        QWidget* widget;
        const char* text;
        QRect place;
    } fields[] = {
        {form->Panel1, "Panel1", {8, 0, 449, 25}},      {form->Panel2, "Panel2", {520, 0, 33, 17}},
        {form->Panel3, "Panel3", {624, 0, 33, 17}},     {form->Panel4, "Panel4", {48, 32, 49, 17}},
        {form->Panel5, "Panel5", {240, 32, 185, 17}},   {form->Panel6, "Panel6", {528, 32, 65, 17}},
        {form->Button2, "Go to sweep", {624, 32, 73, 17}}, {form->Edit1, "Edit1", {624, 56, 73, 21}},
        {form->Button1, "T-Series", {656, 408, 57, 25}},
    };
    for (const auto& field : fields) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(field.widget))
            text = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(field.widget))
            text = button->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(field.widget))
            text = edit->text();
        EXPECT_EQ(text, field.text) << field.widget->objectName().toStdString();
        EXPECT_EQ(field.widget->geometry(), field.place) << field.widget->objectName().toStdString();
    }

    const struct {
        QLabel* label;
        const char* text;
        QPoint place;
    } labels[] = {{form->Label1, "nsweeps", {464, 0}},
                  {form->Label2, "nsamples", {568, 0}},
                  {form->Label3, "gain", {8, 32}},
                  {form->Label4, "Peak to Peak Voltage", {120, 32}},
                  {form->Label5, "Current sweep", {448, 32}}};
    for (const auto& label : labels) {
        EXPECT_EQ(label.label->text(), label.text);
        EXPECT_EQ(label.label->pos(), label.place) << label.text;
    }

    EXPECT_FALSE(form->fileopen);
    EXPECT_EQ(form->displaymode, 0);
    EXPECT_EQ(form->avgcount, 5);
    EXPECT_EQ(form->avgdivisor, 5.0);
    EXPECT_EQ(form->nsweeps, 0);
    EXPECT_EQ(form->cursweep, 0);
    EXPECT_FALSE(form->recfile.isOpen());
}

TEST_F(ViewerTest, ChartHasOneBlackSeriesUnderItsTitle)
{
    EXPECT_EQ(form->Chart1->geometry(), QRect(8, 80, 641, 425));
    EXPECT_EQ(form->Chart1->title(), "Power delay Profile for first 10 sweeps");
    ASSERT_EQ(form->Chart1->seriesCount(), 1);
    EXPECT_EQ(form->Chart1->seriesColour(form->Series1), QColor(Qt::black));
    EXPECT_EQ(points(), 0);
    EXPECT_TRUE(form->Chart1->leftAxisAutomatic());
}

TEST_F(ViewerTest, MenusListTheirItemsInDesignOrderWithShortcuts)
{
    EXPECT_EQ(captions(form->menuBar()->actions()), QStringList({"File", "Copy", "View"}));
    EXPECT_EQ(captions(form->File1->actions()), QStringList({"Open", "Exit", "Close"}));
    EXPECT_EQ(captions(form->Copy1->actions()), QStringList({"To Clipboard"}));
    EXPECT_TRUE(form->Open1->isEnabled());
    EXPECT_FALSE(form->Close1->isEnabled());
    EXPECT_TRUE(form->ToClipboard1->isEnabled());

    EXPECT_EQ(form->Open1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(form->Close1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
    EXPECT_EQ(form->Exit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(form->ToClipboard1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));

    // The menu items are wired to their commands.
    form->Open1->trigger();
    EXPECT_EQ(dialogs.openAsked, 1);
}

TEST_F(ViewerTest, CopyPutsTheChartOnTheClipboardAtItsSize)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    form->ToClipboard1Click();
    EXPECT_TRUE(dialogs.messages.empty());
    QImage copied = clipboard->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.size(), form->Chart1->size());
    EXPECT_TRUE(hasDarkPixel(copied));  // the title, on an empty chart too

    open(writeStepping("steps.txt", 10, 101));
    clipboard->clear();
    form->ToClipboard1->trigger();
    copied = clipboard->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.size(), QSize(641, 425));
}

TEST_F(ViewerTest, CloseKeepsEverythingShownAndEnablesOpen)
{
    open(writeStepping("steps.txt", 10, 101));
    form->Edit1->setText("-1");
    form->Button2Click();
    ASSERT_EQ(form->Button2->text(), "CANNOT");
    const QStringList shown = {form->Panel1->text(), form->Panel2->text(), form->Panel3->text(),
                               form->Panel4->text(), form->Panel5->text(), form->Panel6->text()};

    form->Close1->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->fileopen);
    EXPECT_FALSE(form->recfile.isOpen());
    EXPECT_TRUE(form->Open1->isEnabled());
    EXPECT_FALSE(form->Close1->isEnabled());
    EXPECT_EQ(form->Button2->text(), "Go to sweep");
    EXPECT_EQ(QStringList({form->Panel1->text(), form->Panel2->text(), form->Panel3->text(), form->Panel4->text(),
                           form->Panel5->text(), form->Panel6->text()}),
              shown);
    EXPECT_EQ(form->Edit1->text(), "-1");
    EXPECT_EQ(points(), 4000);
    EXPECT_EQ(form->nsweeps, 10);
    EXPECT_EQ(form->nsamples, 101);
}

TEST_F(ViewerTest, CloseWithoutRecordingDoesNothing)
{
    form->Edit1->setText("0");
    form->Button2Click();
    form->Close1Click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->fileopen);
    EXPECT_FALSE(form->Close1->isEnabled());
    EXPECT_EQ(form->Button2->text(), "CANNOT");  // only a real close resets it
}

TEST_F(ViewerTest, ExitClosesTheRecordingAndEndsTheProgram)
{
    open(writeStepping("steps.txt", 10, 101));
    form->show();
    EXPECT_TRUE(actionQuitsTheApplication([this] { form->Exit1Click(); }));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->recfile.isOpen());
    EXPECT_TRUE(form->fileopen);  // the program is ending: not reset
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ViewerTest, ExitWithoutRecordingEndsTheProgram)
{
    form->show();
    EXPECT_TRUE(actionQuitsTheApplication([this] { form->Exit1->trigger(); }));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(ViewerTest, EnterInTheTargetBoxPressesGoToSweep)
{
    open(writeStepping("steps.txt", 20, 11));
    form->Edit1->setText("10");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(form->Edit1, &press);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->Panel6->text(), "10");
    EXPECT_EQ(form->Edit1->text(), "15");

    // The button's own click does the same.
    form->Button2->click();
    EXPECT_EQ(form->Panel6->text(), "15");
}

TEST_F(ViewerTest, TheSweepBoxIsAnnouncedByTheTextOfItsButton)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(form->Edit1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), "Go to sweep");
}
