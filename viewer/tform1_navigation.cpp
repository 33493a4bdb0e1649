// "Go to sweep": forward through the open recording to a block of five sweeps, shown
// on fixed scales; and the display mode button, which only picks the next redraw.

#include "tform1.h"

#include "dialogs.h"
#include "handler_guard.h"
#include "block_read.h"
#include "runtime_error.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <vector>

const char* const TForm1::PositionLostText =
    "The last reading stopped part-way through the recording, so its place in the file is not known: "
    "File > Close and File > Open read it anew";

void TForm1::Button2Click()
{
    runGuarded(dialogs_, this, [this] {
        const int32_t target = rt::strToInt(Edit1->text().toStdString());

        // Header values are whatever the file said: the bound is taken in 64 bits so
        // that nsweeps near the 32-bit limits cannot wrap it.
        if (int64_t{target} > int64_t{nsweeps} - avgcount || target < cursweep) {
            Button2->setText(QStringLiteral("CANNOT"));
            return;
        }
        // After a read that stopped part-way the sweeps counted are no longer those in
        // the file: what would be read next is no block of the recording.
        if (fileopen && positionLost_)
            throw rt::Error(PositionLostText);

        power.fill(0.0);
        // A target within the next block shows the next block; beyond it, the sweeps
        // in between are passed over so the file stands at the first line of target.
        const int64_t distance = int64_t{target} - cursweep;
        positionLost_ = true;
        if (distance > avgcount)
            skipSweeps(distance - avgcount);
        Panel6->setText(QString::number(cursweep));
        Edit1->setText(QString::number(int64_t{cursweep} + avgcount));

        ReadBlock();
        positionLost_ = false;

        cursweep += avgcount;
        Panel6->setText(QString::number(cursweep));
        Edit1->setText(QString::number(int64_t{cursweep} + avgcount));
        // The waterfall's frame follows the current sweep, also when the display of the
        // block then fails (a sweep without a strict extremum fails after it is drawn).
        markWaterfall();
        ShowBlock(true);
    });
}

void TForm1::skipSweeps(int64_t sweeps)
{
    std::vector<double> skipped;
    for (int64_t sweep = 0; sweep < sweeps; ++sweep) {
        // Sweeps without items, or past the end of the text, hold nothing to pass
        // over: counting them one by one would only let a header of millions of
        // sweeps hang the window.
        if (nsamples <= 0 || recfile.atEnd()) {
            cursweep = static_cast<int32_t>(cursweep + (sweeps - sweep));
            return;
        }
        // Item after item up to the end of the text, as the block read takes them
        // (the usual lines many at a time), into a store of its own: the block shown
        // stays as it is should a bad item stop the skip.
        if (skipped.empty())
            skipped.resize(MaxViewerSamples + 1);
        readViewerSweep(recfile, nsamples, skipped.data());
        ++cursweep;
    }
}

void TForm1::Button1Click()
{
    runGuarded(dialogs_, this, [this] {
        if (displaymode != 1) {
            displaymode = 1;
            Button1->setText(QStringLiteral("Delay"));
        } else {
            displaymode = 0;
            Button1->setText(QStringLiteral("T-Series"));
        }
    });
}
