// View > Waterfall: the blocks of the open recording in a window of their own, read
// on a thread of that window's own; a row chosen there is shown here.

#include "tform1.h"

#include "dialogs.h"
#include "handler_guard.h"
#include "waterfall_window.h"

#include <QAction>
#include <QLineEdit>

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
    if (!fileopen || firstSweep == cursweep)
        return;
    // Forward reading reaches a block at c + 5 or beyond c + 5 (c the block shown);
    // any other start is behind the reading position.
    if (int64_t{firstSweep} < int64_t{cursweep} + avgcount) {
        reopening_ = true;
        Close1Click();
        reopening_ = false;
        if (fileopen)
            return;  // the close failed, and said so
        bool opened = false;
        runGuarded(dialogs_, this, [this, &opened] {
            openRecording(filename);
            opened = true;
        });
        if (!fileopen)
            closeWaterfall();
        if (!opened || firstSweep == cursweep)
            return;
    }
    Edit1->setText(QString::number(firstSweep));
    Button2Click();
}

WaterfallWindow* TForm1::waterfall() const
{
    return waterfall_;
}
