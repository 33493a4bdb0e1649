// quenlo on the comedi board library (its objects over the fake comedilib, loaded in
// the simulated library's place through LD_LIBRARY_PATH): a missing device leaves
// start-up as it always runs and is then said once in a message box.

#include "board_library_info.h"
#include "fake_comedi.h"
#include "gain_table.h"
#include "scripted_dialogs.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(QuenloOnComedi, AMissingDeviceIsSaidOnceAfterStartUp)
{
    if (loadedBoardLibrary().kind != "comedi")
        GTEST_SKIP() << "the comedi board library is not the one loaded (run with LD_LIBRARY_PATH naming it)";
    static int argc = 1;
    static char name[] = "quenlo_on_fake_comedi";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        // A table of zeros: start-up reads it before it touches the board.
        QFile table(QStringLiteral("digpot.cfg"));
        ASSERT_TRUE(table.open(QIODevice::WriteOnly));
        for (int r = 0; r < gain::Rows; ++r) {
            QByteArray row;
            for (int j = 0; j < gain::Columns; ++j)
                row += j ? " 0" : "0";
            table.write(row + "\r\n");
        }
    }
    // The library opens the device once per process: the missing one is the case here
    // (a board that can be used gives no message: the simulated board's start-up tests).
    fakecomedi::Config config;
    config.present = false;
    fakecomedi::reset(config);
    ScriptedDialogs dialogs;
    VirtualSettleClock clock;
    {
        TForm1 form(dialogs, clock);
        // The divider's write failed as start-up has it: the window shows its code.
        EXPECT_NE(form.Edit1->text(), QStringLiteral("0"));
        // Nothing reached the front-end, so the record of what was sent holds nothing.
        EXPECT_FALSE(form.FrontEndSent.dividerCode);
        EXPECT_FALSE(form.FrontEndSent.sweepCount);
        EXPECT_FALSE(form.FrontEndSent.attenuatorCode);
        for (const auto& pot : form.FrontEndSent.pots)
            EXPECT_FALSE(pot);
    }
    const std::vector<QString> expected = {QStringLiteral(
        "The data-acquisition board cannot be used: cannot open /dev/comedi0: No such file or directory")};
    EXPECT_EQ(dialogs.messages, expected);
    QDir::setCurrent(previous);
}
