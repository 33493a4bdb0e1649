#include "waterfall_window.h"

#include "colour_map_chart.h"
#include "dialogs.h"
#include "plain_text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <system_error>

namespace {

// Rows reach the window this often, and the map shows them at most this often.
constexpr int PollMilliseconds = 40;
constexpr int ChartMilliseconds = 250;

QString decibels(double value) { return QLocale().toString(value, 'f', 1); }

// A number of dB as typed or as decibels() wrote it. The locales written right to left
// put a direction mark before the minus sign (U+200E, U+200F or U+061C) that their own
// reading refuses: the marks are dropped first, so "from" reads back as shown there.
double readDecibels(QString text, bool* ok)
{
    for (const char16_t mark : {u'\u200E', u'\u200F', u'\u061C'})
        text.remove(QChar(mark));
    return QLocale().toDouble(text, ok);
}

}  // namespace

WaterfallWindow::WaterfallWindow(const QString& path, int32_t sweepsPerBlock, double divisor, Dialogs& dialogs,
                                 QWidget* parent, int64_t maxRows)
    : QMainWindow(parent), path_(path), sweepsPerBlock_(sweepsPerBlock), divisor_(divisor), dialogs_(dialogs),
      timer_(new QTimer(this)), maxRows_(std::max<int64_t>(1, maxRows))
{
    setObjectName(QStringLiteral("Waterfall"));
    setWindowFlag(Qt::Window);
    // The main window's close ends the program whether or not this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Waterfall - ") + QFileInfo(path).fileName());
    resize(900, 640);

    auto* client = new QWidget(this);
    setCentralWidget(client);
    auto* layout = new QVBoxLayout(client);

    auto* controls = new QHBoxLayout;
    auto* fromLabel = new QLabel(QStringLiteral("Colours from"), client);
    colourFrom = new QLineEdit(client);
    colourFrom->setObjectName(QStringLiteral("colourFrom"));
    colourFrom->setAccessibleName(QStringLiteral("Colours from dB"));
    auto* toLabel = new QLabel(QStringLiteral("to"), client);
    colourTo = new QLineEdit(client);
    colourTo->setObjectName(QStringLiteral("colourTo"));
    colourTo->setAccessibleName(QStringLiteral("Colours to dB"));
    auto* unitLabel = new QLabel(QStringLiteral("dB"), client);
    automaticButton = new QPushButton(QStringLiteral("Automatic"), client);
    automaticButton->setObjectName(QStringLiteral("automaticButton"));
    for (QLineEdit* edit : {colourFrom, colourTo})
        edit->setMaximumWidth(70);
    fromLabel->setBuddy(colourFrom);
    toLabel->setBuddy(colourTo);
    progress = new QProgressBar(client);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 1);
    progress->setValue(0);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), client);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    controls->addWidget(fromLabel);
    controls->addWidget(colourFrom);
    controls->addWidget(toLabel);
    controls->addWidget(colourTo);
    controls->addWidget(unitLabel);
    controls->addWidget(automaticButton);
    controls->addStretch(1);
    controls->addWidget(progress);
    controls->addWidget(cancelButton);
    layout->addLayout(controls);

    chart = new ColourMapChart(client);
    chart->setObjectName(QStringLiteral("chart"));
    chart->setAxisLabels(QStringLiteral("delay bin"),
                         QStringLiteral("block (%1 sweeps each)").arg(sweepsPerBlock_), QStringLiteral("power (dB)"));
    chart->setSecondRowAxis(QStringLiteral("first sweep"), sweepsPerBlock_);
    layout->addWidget(chart, 1);

    status = new QLabel(this);
    status->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(status, 1);
    showTextPlainly(this);

    connect(cancelButton, &QPushButton::clicked, this, &WaterfallWindow::cancel);
    connect(automaticButton, &QPushButton::clicked, this, [this] {
        chart->setColourRangeAutomatic();
        showColourRange();
    });
    connect(colourFrom, &QLineEdit::returnPressed, this, &WaterfallWindow::applyColourRange);
    connect(colourTo, &QLineEdit::returnPressed, this, &WaterfallWindow::applyColourRange);
    connect(chart, &ColourMapChart::cellHovered, this,
            [this](int column, int row) { status->setText(hoverText(column, row)); });
    connect(chart, &ColourMapChart::cellLeft, this, [this] { status->setText(progressText()); });
    connect(chart, &ColourMapChart::cellClicked, this, [this](int, int row) { chooseRow(row); });
    connect(timer_, &QTimer::timeout, this, &WaterfallWindow::poll);
}

WaterfallWindow::~WaterfallWindow()
{
    cancel_ = true;
    if (thread_.joinable())
        thread_.join();
}

void WaterfallWindow::start()
{
    if (running_ || thread_.joinable())
        return;
    running_ = true;
    cancelButton->setEnabled(true);
    status->setText(QStringLiteral("Reading the recording"));
    const std::string file = QFile::encodeName(path_).toStdString();
    try {
        startReading(file);
    } catch (const std::system_error& error) {
        // A limit of threads or processes: the window stays, empty, and says why.
        running_ = false;
        cancelButton->setEnabled(false);
        startFailure_ = QStringLiteral("The recording cannot be read here: no thread can be started for it (") +
                        QString::fromLocal8Bit(error.code().message().c_str()) + QStringLiteral(")");
        finalEnd_ = WaterfallEnd::Failed;
        status->setText(progressText());
        dialogs_.showMessage(this, startFailure_);
        emit finished();
        return;
    }
    timer_->start(PollMilliseconds);
}

void WaterfallWindow::startReading(const std::string& file)
{
    thread_ = std::thread([this, file] {
        yieldToTheWindow();
        WaterfallCallbacks callbacks;
        callbacks.header = [this](int32_t, int32_t nsamples, int64_t rows) {
            const std::lock_guard<std::mutex> lock(mutex_);
            headerRows_ = rows;
            headerSamples_ = nsamples;
        };
        callbacks.row = [this](int64_t row, const double* db) {
            if (row >= maxRows_) {
                // The reader looks at cancel before its next row or block.
                limited_ = true;
                cancel_ = true;
                return;
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            incoming_.insert(incoming_.end(), db, db + WaterfallBins);
        };
        const WaterfallOutcome outcome = readWaterfall(file, sweepsPerBlock_, divisor_, cancel_, callbacks);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            outcome_ = outcome;
            done_ = true;
        }
        // The window finishes at once rather than at its next poll (a call still queued
        // when the window goes is dropped with it).
        QMetaObject::invokeMethod(this, &WaterfallWindow::poll, Qt::QueuedConnection);
    });
}

void WaterfallWindow::cancel()
{
    cancel_ = true;
}

bool WaterfallWindow::waitUntilFinished(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (running_ && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return !running_;
}

std::vector<double> WaterfallWindow::row(int64_t r) const
{
    if (r < 0 || r >= shownRows_)
        return {};
    const auto first = rows_.begin() + r * WaterfallBins;
    return std::vector<double>(first, first + WaterfallBins);
}

void WaterfallWindow::poll()
{
    if (!running_)
        return;
    takeRows();
    bool ended = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ended = done_;
    }
    if (ended)
        finish();
}

void WaterfallWindow::takeRows()
{
    std::vector<double> arrived;
    int64_t header = -1;
    int32_t samples = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        arrived.swap(incoming_);
        header = headerRows_;
        samples = headerSamples_;
    }
    if (header > 0 && expectedRows_ == 0) {
        expectedRows_ = header;
        // The grid is as tall as the rows the file can hold (an item takes two bytes
        // at least) and the window keeps, not as tall as a header may claim.
        const int64_t rowBytes = 2 * int64_t{sweepsPerBlock_} * std::max<int32_t>(1, samples);
        const int64_t bound = QFileInfo(path_).size() / rowBytes + 1;
        chart->setGrid(WaterfallBins, int(std::min({expectedRows_, bound, maxRows_})), 1.0);
        progress->setRange(0, int(std::min(expectedRows_, maxRows_)));
    }
    const int64_t count = int64_t(arrived.size()) / WaterfallBins;
    if (count == 0)
        return;
    rows_.insert(rows_.end(), arrived.begin(), arrived.end());
    shownRows_ += count;
    progress->setValue(int(std::min<int64_t>(shownRows_, progress->maximum())));
    status->setText(progressText());
    // The map is redrawn whole for any new row: a few times a second is enough.
    if (!chartClock_.isValid() || chartClock_.elapsed() >= ChartMilliseconds)
        showNewRows();
}

void WaterfallWindow::showNewRows()
{
    chartClock_.start();
    for (; chartRows_ < shownRows_; ++chartRows_)
        chart->setRow(int(chartRows_), rows_.data() + chartRows_ * WaterfallBins);
    // A box typed into since it was last set keeps what was typed.
    if (chart->colourRangeAutomatic())
        showColourRange(true);
}

void WaterfallWindow::finish()
{
    timer_->stop();
    if (thread_.joinable())
        thread_.join();
    takeRows();
    showNewRows();
    WaterfallOutcome outcome;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        outcome = outcome_;
    }
    running_ = false;
    finalEnd_ = outcome.end;
    withoutPower_ = outcome.withoutPower;
    cancelButton->setEnabled(false);
    if (outcome.end == WaterfallEnd::Complete)
        progress->setValue(progress->maximum());
    status->setText(progressText());
    if (outcome.end == WaterfallEnd::Failed)
        dialogs_.showMessage(this, QString::fromStdString(outcome.message));
    emit finished();
}

QString WaterfallWindow::progressText() const
{
    if (!startFailure_.isEmpty())
        return startFailure_;
    const QString of = QStringLiteral("%1 of %2 blocks").arg(shownRows_).arg(expectedRows_);
    if (running_)
        return QStringLiteral("Reading: ") + of;
    if (limited_)
        return QStringLiteral("The first %1 of %2 blocks: the most the window holds").arg(shownRows_).arg(expectedRows_);
    switch (finalEnd_) {
    case WaterfallEnd::Complete:
        return QStringLiteral("%1 blocks of %2 sweeps").arg(shownRows_).arg(sweepsPerBlock_);
    case WaterfallEnd::CutShort:
        return QStringLiteral("The recording ends early: ") + of;
    case WaterfallEnd::Cancelled:
        return QStringLiteral("Cancelled: ") + of;
    case WaterfallEnd::Failed:
        return (withoutPower_ ? QStringLiteral("Stopped by a block without power: ")
                              : QStringLiteral("Stopped by a bad line: ")) +
               of;
    }
    return of;
}

QString WaterfallWindow::hoverText(int column, int row) const
{
    QString text = QStringLiteral("block %1, sweep %2, bin %3")
                       .arg(row)
                       .arg(int64_t{row} * sweepsPerBlock_)
                       .arg(column + 1);
    if (row >= 0 && row < shownRows_ && column >= 0 && column < WaterfallBins)
        text += QStringLiteral(", ") + decibels(rows_[size_t(row) * WaterfallBins + size_t(column)]) +
                QStringLiteral(" dB");
    return text;
}

void WaterfallWindow::markBlock(int32_t firstSweep)
{
    // A block need not start at a row's first sweep: the frame then straddles two rows.
    const double first = double(firstSweep) / sweepsPerBlock_;
    chart->markRows(std::make_pair(first, first));
}

void WaterfallWindow::chooseRow(int row)
{
    if (row < 0 || row >= shownRows_)
        return;
    emit blockChosen(int32_t(int64_t{row} * sweepsPerBlock_));
}

void WaterfallWindow::showColourRange(bool keepTyped)
{
    const auto [lowest, highest] = chart->colourRange();
    // setText clears the box's modified flag: it is set only by typing.
    if (!keepTyped || !colourFrom->isModified())
        colourFrom->setText(decibels(lowest));
    if (!keepTyped || !colourTo->isModified())
        colourTo->setText(decibels(highest));
}

void WaterfallWindow::applyColourRange()
{
    bool okFrom = false, okTo = false;
    const double from = readDecibels(colourFrom->text(), &okFrom);
    const double to = readDecibels(colourTo->text(), &okTo);
    // "inf" and "nan" read as numbers too, but give no scale.
    if (!okFrom || !okTo || !std::isfinite(from) || !std::isfinite(to) || !(from < to)) {
        dialogs_.showMessage(this, QStringLiteral("The colour scale needs two numbers of dB, the first below the second"));
        showColourRange();
        return;
    }
    if (!chart->setColourRange(from, to)) {
        dialogs_.showMessage(this, QStringLiteral("The colour scale cannot run from %1 to %2 dB")
                                       .arg(colourFrom->text().trimmed(), colourTo->text().trimmed()));
        showColourRange();
    }
}
