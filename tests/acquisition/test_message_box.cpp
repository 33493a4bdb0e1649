// The production message box: typed text and file names are shown as they are, never
// as markup, and the box is a standard QMessageBox with its text for assistive technology.

#include "dialogs.h"
#include "form_fixture.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

namespace {

struct Seen {
    bool found = false;
    Qt::TextFormat format = Qt::AutoText;
    QString text;
};

// Shows the message and, once the box is up, notes what it shows and closes it.
Seen shownMessage(const QString& text)
{
    fixture::ensureApplication();
    Seen seen;
    QTimer::singleShot(0, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = {true, box->textFormat(), box->text()};
            box->button(QMessageBox::Ok)->click();
        }
    });
    QtDialogs dialogs;
    dialogs.showMessage(nullptr, text);
    return seen;
}

}  // namespace

TEST(QtMessageBox, ShowsMarkupAsTypedText)
{
    const QString typed = QStringLiteral("'<b>12</b>' is not a valid integer value");
    const Seen seen = shownMessage(typed);
    ASSERT_TRUE(seen.found) << "no message box came up";
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.text, typed);
}
