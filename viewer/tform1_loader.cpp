// File > Open: the header into the status fields, the first block of five sweeps,
// and the block's display. The block read and display serve "Go to sweep" as well.

#include "tform1.h"

#include "baseline_means.h"
#include "block_read.h"
#include "delay_profile.h"
#include "dialogs.h"
#include "handler_guard.h"
#include "line_chart.h"
#include "metrics_text.h"
#include "peak_text.h"
#include "runtime_error.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace {

// A header item: the value is taken before the check, so a token that does not
// convert leaves the reader's 0 in place when the check then ends the open.
void readIntItem(rt::TextReader& file, int32_t& target)
{
    target = file.readInt();
    file.readLn();
    file.check();
}

}  // namespace

void TForm1::Open1Click()
{
    runGuarded(dialogs_, this, [this] {
        const std::optional<QString> chosen = dialogs_.openFileName(this);
        if (!chosen)
            return;
        openRecording(*chosen);
    });
}

void TForm1::openRecording(const QString& path)
{
    filename = path;
    const std::string name = QFile::encodeName(filename).toStdString();
    // A pipe or a socket is no recording to view: opening a FIFO waits for a writer
    // with the window frozen, what the waterfall's own reading takes of it the main
    // window never sees, and a reopen cannot go back to its start. Refused as a
    // device is.
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)))
        throw rt::InOutError(rt::io::InvalidFilename);
    recfile.open(name);
    openedFile_ = recfile.fileId();
    // Until the first block has been read the file stands at no sweep's first line.
    positionLost_ = true;

    // From here on the recording counts as open, even if its header turns out bad:
    // File > Close is then the way out.
    fileopen = true;
    Open1->setEnabled(false);
    Close1->setEnabled(true);
    Waterfall1->setEnabled(true);

    readIntItem(recfile, nsweeps);
    Panel2->setText(QString::number(nsweeps));
    readIntItem(recfile, nsamples);
    Panel3->setText(QString::number(nsamples));
    int32_t unused = 0;
    readIntItem(recfile, unused);
    readIntItem(recfile, gain);
    Panel4->setText(QString::number(gain));
    recfile.readReal();
    recfile.readLn();
    recfile.check();

    power.fill(0.0);
    ReadBlock();
    positionLost_ = false;

    cursweep = 0;
    Panel6->setText(QString::number(cursweep));
    Edit1->setText(QString::number(int64_t{cursweep} + avgcount));
    // The waterfall's frame follows the current sweep, also when the display of the
    // block then fails.
    markWaterfall();
    ShowBlock(false);
    Panel1->setText(filename);
}

double TForm1::readSampleItem()
{
    return readViewerSampleItem(recfile);
}

void TForm1::ReadBlock()
{
    const int64_t items = readViewerBlock(recfile, nsamples, avgcount, tseries.data(), fourierArea, power.data());
    // Past the end of the text a sweep reads as zeros: only the sweeps before it (the
    // last perhaps in part) bring noise into the block's average.
    blockSweepsWithData_ =
        nsamples > 0 ? static_cast<int32_t>(std::min<int64_t>(avgcount, (items + nsamples - 1) / nsamples)) : 0;
}

void TForm1::ShowBlock(bool fixedLeftAxis)
{
    // An all-zero bin fails here, before the chart is touched.
    powerToDb(power.data(), avgdivisor);
    // The block's profile: the stored samples, zero-padded, unwindowed. Its noise is
    // averaged over the sweeps that held data, fewer than avgcount in a block that runs
    // past the end of the recording, and the margin over the floor is the one for them
    // (taken for five, noise alone would be counted as delay in most such blocks).
    DelayMetricsParams params;
    params.averagedSweeps = std::max<int64_t>(1, blockSweepsWithData_);
    params.transformSamples = std::clamp<int32_t>(nsamples, 1, std::min<int32_t>(TSeriesLength, ProfileBins));
    Label6->setText(QString::fromStdString(
        delayMetricsText(computeDelayMetrics(power.data(), params), QLocale().decimalPoint().toStdString())));

    Chart1->clearSeries(Series1);
    if (fixedLeftAxis) {
        Chart1->setLeftAxisAutomatic(false);
        Chart1->setLeftAxisMinimum(displaymode == 1 ? -10.0 : -1.25);
        Chart1->setLeftAxisMaximum(displaymode == 1 ? 60.0 : 1.25);
    }

    if (displaymode == 1) {
        for (int k = 1; k <= 1024; ++k)
            Chart1->addPoint(Series1, power[static_cast<size_t>(k)]);
        return;
    }

    // The whole store is drawn, including entries an earlier, longer recording left
    // beyond nsamples; the means see only the first nsamples.
    for (int i = 1; i <= TSeriesLength; ++i)
        Chart1->addPoint(Series1, tseries[static_cast<size_t>(i)]);
    const double low = negmean(nsamples, tseries);
    const double high = posmean(nsamples, tseries);
    Panel5->setText(QString::fromStdString(peakToPeakText(high - low, QLocale().decimalPoint().toStdString())));
}
