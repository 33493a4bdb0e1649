#pragma once
// The acquisition program's main window. Its handlers and methods hold the program's
// logic over the program-wide settings and arrays below; the pure parts live in
// free functions beside them (frontend_protocol.h, gain_table.h, capture.h, ...).
//
// The class is defined across several files, one per concern:
//   tform1_window.cpp    window, controls, change flags, Exit, Hide
//   tform1_bus.cpp       SettleWait and the bus primitives
//   tform1_devices.cpp   divider, sweep count, attenuator, potentiometers, read-back
//   tform1_gain.cpp      LoadGainTable, GainPotA/B, SetChannelGain
//   tform1_startup.cpp   FormCreate, ApplySettings, Panel1Click
//   tform1_capture.cpp   MEMPREP, ArmScan, FindSweepStart, ExtractSweep, ReleaseSampleBuffer
//   tform1_display.cpp   Show, PlotChannels, channel choice, view toggle
//   tform1_measure.cpp   the "Measurements" readout
//   tform1_record.cpp    Acquire
//   tform1_metadata.cpp  the metadata sidecar beside each recording
//   tform1_gps.cpp       the "GPS" readout and the positions of a run
//   tform1_adjust.cpp    Auto Adjust

#include "cbw.h"
#include "fourier.h"
#include "gps_status.h"
#include "recording_metadata.h"
#include "text_io.h"

#include <QColor>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Dialogs;
class GpsSource;
class QTimer;
class LineChart;
class SettleClock;
class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate before returning (inside the handler wrapper: a gain table that
    // cannot be read shows its message and leaves the design texts in place).
    TForm1(Dialogs& dialogs, SettleClock& clock, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- Controls (design names) -------------------------------------------------
    QGroupBox* GroupBox1 = nullptr;  // "Graphs"
    LineChart* Chart1 = nullptr;
    int Series1 = 0, Series2 = 1, Series3 = 2;  // series numbers in Chart1
    QGroupBox* RadioGroup1 = nullptr;  // "chsel"
    QButtonGroup* RadioGroup1Items = nullptr;  // ids 0..3: "ch 1", "ch 2", "ch 3", "all"
    QPushButton* Button2 = nullptr;  // view toggle
    QPushButton* Button1 = nullptr;  // "Hide"
    QGroupBox* GroupBox2 = nullptr;  // "Settings"
    QGroupBox* GroupBox3 = nullptr;  // "Measurements", inside "Settings"
    // Per channel (ch 1..3) the cells peak, SNR dB, rms, clip; "-" before the first sweep.
    std::array<std::array<QLabel*, 4>, 3> MeasurementLabels{};
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr,
           *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr,
              *Edit6 = nullptr;
    QPushButton* Panel1 = nullptr;  // clickable "Clocks per Sweep" value field
    QLabel* Panel3 = nullptr;       // "Samples per sec": never written
    QPushButton *Button5 = nullptr, *Button3 = nullptr, *Button7 = nullptr, *Button6 = nullptr;
    QLabel* Panel2 = nullptr;  // the message line
    QLabel* GpsLabel = nullptr;  // one line in "Settings" between "Exit" and "Acquire"

    // Selected item of RadioGroup1: 0..3, or -1 when none.
    int radioItemIndex() const;
    void setRadioItemIndex(int index);
    // The message line: text and background colour.
    void setStatus(const QString& text);
    void setStatusColour(const QColor& colour);
    QString statusText() const;
    QColor statusColour() const;

    // ---- Program-wide settings and flags -----------------------------------------
    int32_t ClockDivider = 0;
    int32_t NumSweeps = 0;
    int32_t Attenuation = 0;
    int32_t Gain1 = 0, Gain2 = 0, Gain3 = 0;
    int32_t ClocksPerSweep = 0;
    bool ClockDividerChanged = false, NumSweepsChanged = false, AttenuationChanged = false;
    bool Gain1Changed = false, Gain2Changed = false, Gain3Changed = false;
    static constexpr int DioBoardNum = 0;
    static constexpr int BoardNum = 0;
    int32_t ScanLowChan = 0, ScanHighChan = 0;
    bool Recording = false;
    rt::TextWriter RecordFile;
    QString RecordFileName;
    bool BufferLocked = false;
    bool TimeSeriesMode = false;
    int32_t ScanRate = 0;
    int32_t SweepSamples = 0;
    bool CaptureInProgress = false;  // a capture action is running; new ones are ignored
    // Exit or the window's frame has closed the program: an action under way (one that
    // yields to pending messages) ends at its next step instead of going on unseen.
    bool Closing = false;
    // The start-up sequence ran to its end. When it did not (the gain table could not be
    // read), the ports were never configured and nothing reached the front-end, so no
    // setting can: the capture actions are refused rather than run on settings that
    // the front-end never got.
    bool StartUpDone = false;

    // Gain calibration table: rows 0..67 (3..70 dB), columns 0..15 (potentiometers).
    std::array<std::array<int32_t, 16>, 68> GainTable{};

    // Sample buffer of the capture under way.
    HGLOBAL SampleBufferHandle = 0;
    uint16_t* SampleBuffer = nullptr;

    // Sweep arrays (volts) and delay profiles (dB), numbered from 1; slot 0 unused.
    static constexpr int SweepCapacity = 40000;
    std::vector<double> SweepVolts1, SweepVolts2, SweepVolts3;           // SweepCapacity + 1
    std::vector<double> DelayProfile1, DelayProfile2, DelayProfile3;     // 4096 + 1
    FourierArea Fourier;

    // ---- Event handlers -----------------------------------------------------------
    void FormCreate();
    void Edit1Change();
    void Edit2Change();
    void Edit3Change();
    void Edit4Change();
    void Edit5Change();
    void Edit6Change();
    void Panel1Click();
    void Button7Click();  // Exit
    void Button3Click();  // Show
    void Button5Click();  // Auto Adjust
    void Button6Click();  // Acquire
    void Button2Click();  // view toggle
    void RadioGroup1Click();

    // ---- Bus ----------------------------------------------------------------------
    static constexpr double SettleInterval = 2.0E-7;  // days (17.28 ms)
    void SettleWait(double interval);
    // (address, byte) pairs; returns the result of the final port call, which sets
    // the data port back to input.
    // The last call's result code; allSent (when given) tells whether every board call
    // of the write succeeded.
    int BusWrite(const std::vector<std::pair<uint16_t, uint16_t>>& pairs, bool* allSent = nullptr);
    uint16_t BusRead(uint16_t address);
    bool PotFrame(uint16_t byte, bool trailingWait);  // whether every board call succeeded
    void BusStrobe(uint16_t address);

    // ---- Devices --------------------------------------------------------------------
    // What the front-end was last sent, value by value; recorded beside each recording.
    meta::FrontEndSent FrontEndSent;
    int SetClockDivider(int32_t divider);
    int SetSweepCount(int32_t count);
    void SetAttenuation(int32_t index);
    void SetPot(int32_t pot, int32_t value);
    int32_t ReadClocksPerSweep();
    void PulseAddress0();

    // ---- Gain table ---------------------------------------------------------------
    void LoadGainTable();
    int32_t GainPotA(int32_t gainDb, int32_t channel) const;
    int32_t GainPotB(int32_t gainDb, int32_t channel) const;
    void SetChannelGain(int32_t channel, int32_t gainDb);

    // ---- Start-up and settings ------------------------------------------------------
    bool ApplySettings();
    // The red message of an action refused because start-up did not run to its end.
    void ShowStartUpFailed();

    // ---- Capture --------------------------------------------------------------------
    bool MEMPREP(int32_t count);
    bool ArmScan(int32_t count, int32_t rate);
    std::optional<int32_t> FindSweepStart(int32_t from, int32_t threshold, int32_t count) const;
    void ExtractSweep(int32_t start, int32_t count);
    void ReleaseSampleBuffer();

    // ---- Recording metadata -----------------------------------------------------------
    // Everything the sidecar of the recording being written will hold; filled as the
    // run goes. WriteRecordingMetadata then writes NAME.meta.json beside it.
    struct RunRecord {
        std::string scanStartedUtc;
        int64_t samples = 0;
        int32_t rate = 0;
        meta::Settings settings;
        std::vector<int64_t> sweepStarts;  // scan group of each written sweep
        std::array<std::optional<meta::ChannelCodes>, 3> codes;
        std::string sha256;
        int64_t lines = 0;
        uint64_t bytes = 0;
        std::optional<meta::PositionSample> positionStart, positionEnd;
        std::optional<meta::TimeSource> timeSource;
    };
    RunRecord Run;
    void WriteRecordingMetadata(bool failed, const QString& reason);

    // ---- Display --------------------------------------------------------------------
    void ComputeDelayProfiles();
    void PlotChannels();

    // ---- Measurements readout --------------------------------------------------------
    // Fills the readout from the three channels' profiles and the sweep just extracted.
    void ShowMeasurements(const std::array<const double*, 3>& profiles);
    // Profiles the extracted sweep into the readout's own arrays and shows them.
    void MeasureExtractedSweep();
    std::array<std::vector<double>, 3> MeasurementProfiles;
    int32_t SweepGroupsExtracted = 0;  // groups the last ExtractSweep converted
    std::array<int32_t, 3> SweepClipped{};  // clipped samples of that sweep, per channel

    // ---- GPS ------------------------------------------------------------------------
    // Where positions come from (the gpsd reader in the program; none: "GPS not read").
    // The form does not own it; it must outlive the form or be set back to null.
    void setGpsSource(const GpsSource* source);
    // The latest state and the position in it now, read without waiting for gpsd.
    meta::PositionSample CurrentPosition() const;
    // Shows the readout from the latest state.
    void ShowGpsStatus();
    // Takes the position of the run at the scan's start (with the time source) or end.
    void NoteRunPosition(bool atStart);

    // Lets the GUI process its pending messages once (replaceable by tests).
    std::function<void()> processMessages;
    void ProcessMessages();

    // Asks the application to terminate (Exit); replaceable by tests.
    std::function<void()> terminateApplication;

    Dialogs& dialogs() { return dialogs_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildMeasurements();
    void buildGpsStatus();
    // Runs a handler inside the wrapper that shows runtime errors in a message box.
    void guarded(const std::function<void()>& handler);

    Dialogs& dialogs_;
    SettleClock& clock_;
    const GpsSource* gps_ = nullptr;
    QTimer* gpsTimer_ = nullptr;
};
