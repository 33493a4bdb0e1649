#pragma once
// View > Waterfall: every block of the open recording as one row of a colour map,
// delay bin across, block down, power in dB in colour. The rows are read on a thread
// of the window's own with a file handle of its own (waterfall_reader.h), so the
// main window's reading position and state are untouched and both windows stay
// responsive. A click on a row asks the main window to show that block.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "waterfall_reader.h"

class ColourMapChart;
class Dialogs;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class WaterfallWindow : public QMainWindow {
    Q_OBJECT
public:
    // The most rows the window holds. A row takes 16 KiB here and as much again in the
    // map, so a recording of very short sweeps (a block of a few dozen bytes) must not
    // take the memory of all its rows: 8192 rows are some 300 MB in all, and more than
    // seven times the blocks of the longest recording "Acquire" makes.
    static constexpr int64_t DefaultMaxRows = 8192;

    // path: the recording; sweepsPerBlock and divisor: the main window's block
    // average; maxRows: the rows kept, the reading stopping after them. Messages go
    // through dialogs. Reading starts with start().
    WaterfallWindow(const QString& path, int32_t sweepsPerBlock, double divisor, Dialogs& dialogs,
                    QWidget* parent = nullptr, int64_t maxRows = DefaultMaxRows);
    ~WaterfallWindow() override;

    void start();
    // Asks the reading to stop before its next block; the rows read so far stay.
    void cancel();
    bool running() const { return running_; }
    // Processes events until the reading has ended and its rows are shown, or the
    // time is up; true when it has ended.
    bool waitUntilFinished(int timeoutMs);

    // Rows shown so far, and row r's dB values of bins 1..WaterfallBins.
    int64_t rowsShown() const { return shownRows_; }
    int64_t expectedRows() const { return expectedRows_; }
    std::vector<double> row(int64_t r) const;
    // How the reading ended (valid once running() is false after start()).
    WaterfallEnd end() const { return finalEnd_; }
    // True when the recording holds more rows than the window keeps: the reading then
    // stopped after the first maxRows, and end() tells Cancelled.
    bool limited() const { return limited_.load(); }

    // Marks the block of the main window that starts at firstSweep (any sweep, not
    // only a row's first).
    void markBlock(int32_t firstSweep);
    // As a click on row r.
    void chooseRow(int row);
    // The status line's text for the pointer over (bin column, row).
    QString hoverText(int column, int row) const;

    ColourMapChart* chart = nullptr;
    QLineEdit* colourFrom = nullptr;   // lowest dB of the colour scale
    QLineEdit* colourTo = nullptr;     // highest dB
    QPushButton* automaticButton = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* cancelButton = nullptr;
    QLabel* status = nullptr;

signals:
    // The main window is asked to show the block starting at firstSweep.
    void blockChosen(int32_t firstSweep);
    // Reading has ended and every row read is shown.
    void finished();

private:
    void startReading(const std::string& file);
    void poll();
    void takeRows();
    void showNewRows();
    void finish();
    // The scale in use into the boxes; keepTyped leaves a box that was typed into.
    void showColourRange(bool keepTyped = false);
    void applyColourRange();
    QString progressText() const;

    QString path_;
    int32_t sweepsPerBlock_;
    double divisor_;
    Dialogs& dialogs_;
    QTimer* timer_;

    // Shared with the reading thread, under mutex_.
    mutable std::mutex mutex_;
    std::vector<double> incoming_;       // rows made but not yet shown, WaterfallBins each
    int64_t incomingFirst_ = 0;          // row number of incoming_'s first row
    int64_t headerRows_ = -1;            // rows the header promises, -1 until read
    int32_t headerSamples_ = 0;
    bool done_ = false;
    WaterfallOutcome outcome_;

    const int64_t maxRows_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> limited_{false};
    std::thread thread_;
    bool running_ = false;

    // GUI thread only.
    std::vector<double> rows_;  // shown rows, WaterfallBins each
    int64_t shownRows_ = 0;
    int64_t chartRows_ = 0;  // rows handed to the chart
    QElapsedTimer chartClock_;
    int64_t expectedRows_ = 0;
    WaterfallEnd finalEnd_ = WaterfallEnd::Complete;
    bool withoutPower_ = false;  // the reading failed at a block without power
    QString startFailure_;  // why the reading could not start, empty when it did
};
