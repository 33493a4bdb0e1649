// View > Waterfall: the blocks of the open recording in a window of their own, read
// on a thread of that window's own; a row chosen there is shown here.

#include "tform1.h"

#include "dialogs.h"
#include "handler_guard.h"
#include "runtime_error.h"
#include "waterfall_window.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>

namespace {

constexpr const char* ChangedOnDisk =
    "The file on disk is no longer the recording opened: File > Close and File > Open read it anew";

// The waterfall reads the recording by its name, and a reopen opens that name again:
// both show the recording open here only while it is as it was opened (not written
// since) and its name still leads to it (not to a file put in its place, nor to none).
bool unchangedOnDisk(const rt::TextReader& file, const std::optional<rt::FileId>& opened, const QString& name)
{
    return opened && file.fileId() == opened && rt::fileIdOf(QFile::encodeName(name).toStdString()) == opened;
}

}  // namespace

void TForm1::Waterfall1Click()
{
    runGuarded(dialogs_, this, [this] {
        if (!fileopen)
            return;
        if (waterfall_) {
            // The recording it shows is the one open: it is brought forward, not read again.
            waterfall_->raise();
            waterfall_->activateWindow();
            return;
        }
        if (!unchangedOnDisk(recfile, openedFile_, filename))
            throw rt::Error(ChangedOnDisk);
        waterfall_ = new WaterfallWindow(filename, avgcount, avgdivisor, dialogs_, this);
        waterfall_->setAttribute(Qt::WA_DeleteOnClose);
        connect(waterfall_, &WaterfallWindow::blockChosen, this, &TForm1::showChosenBlock);
        markWaterfall();
        waterfall_->show();
        waterfall_->start();
    });
}

void TForm1::markWaterfall()
{
    if (waterfall_)
        waterfall_->markBlock(cursweep);
}

void TForm1::closeWaterfall()
{
    if (!waterfall_)
        return;
    // Closing deletes the window, which stops and waits for its reading thread.
    WaterfallWindow* window = waterfall_;
    waterfall_ = nullptr;
    window->close();
}

void TForm1::showChosenBlock(int32_t firstSweep)
{
    // The block shown is the one chosen, unless a read stopped part-way since: a
    // "Go to sweep" that stopped while passing sweeps counted them in cursweep
    // without showing its block.
    if (!fileopen || (firstSweep == cursweep && !positionLost_))
        return;
    // The rows are those of the recording as it was opened: a file written since, or
    // another under its name, would show other blocks than the one chosen, reading on
    // or reopened. Everything stays as it is.
    if (!unchangedOnDisk(recfile, openedFile_, filename)) {
        dialogs_.showMessage(this, QString::fromLatin1(ChangedOnDisk));
        return;
    }
    // Forward reading reaches a block at c + 5 or beyond c + 5 (c the block shown);
    // any other start is behind the reading position. A read that stopped part-way
    // left the file at no known sweep: the reopen finds one again.
    if (positionLost_ || int64_t{firstSweep} < int64_t{cursweep} + avgcount) {
        reopening_ = true;
        Close1Click();
        reopening_ = false;
        if (fileopen)
            return;  // the close failed, and said so
        runGuarded(dialogs_, this, [this] { openRecording(filename); });
        if (!fileopen)
            closeWaterfall();
        // Once the open has read the first block (cursweep 0, from a later block before)
        // the file stands after it, even if showing that block failed: the chosen block
        // is read on from there.
        if (!fileopen || cursweep != 0 || firstSweep == cursweep)
            return;
    }
    Edit1->setText(QString::number(firstSweep));
    Button2Click();
}

WaterfallWindow* TForm1::waterfall() const
{
    return waterfall_;
}
