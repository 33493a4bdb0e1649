#pragma once
// The recording viewer's main window. Its handlers and methods hold the viewer's
// logic over the program-wide state below; the pure parts live in free functions
// beside them (baseline_means.h, peak_text.h, and the shared delay_profile.h).
//
// The class is defined across several files, one per concern:
//   tform1_window.cpp      window, controls, menus, FormCreate, Exit, Close, To Clipboard
//   tform1_loader.cpp      Open1Click, ReadBlock, ShowBlock
//   tform1_navigation.cpp  "Go to sweep" and the display mode button
//   tform1_waterfall.cpp   View > Waterfall and the blocks chosen in it

#include "fourier.h"
#include "text_io.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

class Dialogs;
class LineChart;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class WaterfallWindow;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate before returning.
    explicit TForm1(Dialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- Controls (design names) -------------------------------------------------
    QLabel* Panel1 = nullptr;  // file name of the open recording
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;
    QLabel* Panel2 = nullptr;  // nsweeps
    QLabel* Panel3 = nullptr;  // nsamples
    QLabel* Panel4 = nullptr;  // gain
    QLabel* Panel5 = nullptr;  // peak-to-peak voltage
    QLabel* Panel6 = nullptr;  // cursweep
    QLabel* Label6 = nullptr;  // delay metrics of the block shown, under the chart
    QPushButton* Button2 = nullptr;  // "Go to sweep"
    QLineEdit* Edit1 = nullptr;      // target sweep
    LineChart* Chart1 = nullptr;
    int Series1 = 0;                 // series number in Chart1
    QPushButton* Button1 = nullptr;  // display mode
    QMenu* File1 = nullptr;
    QAction *Open1 = nullptr, *Exit1 = nullptr, *Close1 = nullptr;
    QMenu* Copy1 = nullptr;
    QAction* ToClipboard1 = nullptr;
    QMenu* View1 = nullptr;            // after the designed menus
    QAction* Waterfall1 = nullptr;     // enabled while a recording is open

    // ---- Handlers: each runs inside the handler wrapper, so a runtime error ends it
    // with a message box and leaves everything done so far in place. -----------------
    void FormCreate();
    void Open1Click();
    void Exit1Click();
    void Close1Click();
    void ToClipboard1Click();
    void Button1Click();  // display mode toggle
    void Button2Click();  // "Go to sweep"
    void Waterfall1Click();
    // The block that starts at firstSweep, chosen in the waterfall: shown as typing
    // firstSweep into Edit1 and pressing Enter would show it; a block the forward-only
    // reading has passed reopens the recording first, as File > Close and File > Open
    // of the same file would.
    void showChosenBlock(int32_t firstSweep);
    // The waterfall window while it is open, else null.
    WaterfallWindow* waterfall() const;

    // ---- Block read and display (throw runtime errors; called by the handlers) -----
    // Reads the next avgcount sweeps, folding each one's power spectrum into power;
    // tseries ends with the last of them.
    void ReadBlock();
    // Turns power into dB and redraws Series1; fixedLeftAxis sets the left axis to
    // the mode's fixed range after the series is cleared.
    void ShowBlock(bool fixedLeftAxis);

    // ---- Viewer state --------------------------------------------------------------
    static constexpr int TSeriesLength = 4000;
    // "Go to sweep" after a read of the recording stopped part-way.
    static const char* const PositionLostText;
    static constexpr int PowerBins = 4096;

    rt::TextReader recfile;
    QString filename;
    bool fileopen = false;
    int32_t nsweeps = 0;
    int32_t nsamples = 0;
    int32_t gain = 0;
    int32_t cursweep = 0;
    int32_t avgcount = 0;
    double avgdivisor = 0.0;
    uint8_t displaymode = 0;  // 0 = time series, 1 = delay profile
    std::array<double, TSeriesLength + 1> tseries{};  // numbered from 1
    std::array<double, PowerBins + 1> power{};        // numbered by bin from 1
    FourierArea fourierArea;                           // fftdata, fftsize, fftsign

private:
    void buildControls();
    void buildMenus();
    // File > Open after the dialog: opens path, reads the header and the first block
    // and shows it (throws the runtime errors the open reports).
    void openRecording(const QString& path);
    // Tells the waterfall which block the window now shows.
    void markWaterfall();
    void closeWaterfall();
    // One sample item: the real, the rest of its line skipped, then the I/O check.
    double readSampleItem();
    // Reads and drops the items of `sweeps` whole sweeps, counting them in cursweep.
    void skipSweeps(int64_t sweeps);

    Dialogs& dialogs_;
    // The recording as File > Open found it: the waterfall reads it by its name, so
    // it shows the recording open only while that name leads to it unchanged.
    std::optional<rt::FileId> openedFile_;
    QPointer<WaterfallWindow> waterfall_;
    bool reopening_ = false;  // a reopen for the waterfall keeps the waterfall open
    // Sweeps of the block last read that came from the text (0..avgcount).
    int32_t blockSweepsWithData_ = 0;
    // A read of the open recording stopped part-way (a bad line, a read error): the
    // file no longer stands at the first line of sweep cursweep + 5, so a block read
    // from there would be made of pieces of two sweeps each. Cleared by a block read
    // that ends, and by File > Close.
    bool positionLost_ = false;
};
