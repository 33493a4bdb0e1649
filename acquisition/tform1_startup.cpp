// Start-up, the settings check before every action, and the clocks-per-sweep
// read-back: the only roads by which settings reach the front-end.

#include "tform1.h"

#include "status_colours.h"
#include "frontend_protocol.h"
#include "runtime_error.h"

#include <QLineEdit>
#include <QPushButton>

using namespace statuscolour;

namespace {

constexpr int32_t SweepLimitDivider2 = 1430;
constexpr int32_t SweepLimitDivider4 = 2860;
constexpr int32_t MaxAttenuation = 31;

// An edit box's text as a decimal integer; anything else ends the caller with
// "'...' is not a valid integer value".
int32_t valueOf(const QLineEdit* edit)
{
    return rt::strToInt(edit->text().toStdString());
}

QString text(int32_t value)
{
    return QString::number(value);
}

}  // namespace

void TForm1::FormCreate()
{
    // A table that cannot be read ends start-up here: the window then opens with its
    // design texts and nothing is sent to the front-end.
    LoadGainTable();
    Recording = false;

    cbDConfigPort(DioBoardNum, frontend::DataPort, DIGITALIN);
    cbDConfigPort(DioBoardNum, frontend::SparePortOut, DIGITALOUT);
    cbDConfigPort(DioBoardNum, frontend::SparePortIn, DIGITALIN);
    cbDConfigPort(DioBoardNum, frontend::AddressPort, DIGITALOUT);
    cbDOut(DioBoardNum, frontend::AddressPort, frontend::AddrIdle);

    Gain1 = 30;
    Gain2 = 30;
    Gain3 = 30;
    Attenuation = 0;
    ClockDivider = 1;
    NumSweeps = 100;

    // The divider and the sweep count take the result codes of their writes (0 when
    // the port calls succeed), which is what the window then shows; the front-end
    // keeps divider 1 and 100 sweeps.
    ClockDivider = SetClockDivider(ClockDivider);
    Edit1->setText(text(ClockDivider));
    Panel1->setText(text(ReadClocksPerSweep()));
    NumSweeps = SetSweepCount(NumSweeps);
    Edit2->setText(text(NumSweeps));

    Attenuation = 0;
    Edit3->setText(text(Attenuation));
    // The attenuator starts at its highest attenuation while the box shows 0.
    SetAttenuation(MaxAttenuation - Attenuation);

    Edit4->setText(text(Gain1));
    SetChannelGain(1, Gain1);
    Edit5->setText(text(Gain2));
    SetChannelGain(2, Gain2);
    Edit6->setText(text(Gain3));
    SetChannelGain(3, Gain3);

    cbDOut(DioBoardNum, frontend::AddressPort, frontend::AddrIdle);

    // Setting the boxes above raised their flags; nothing is pending yet.
    BufferLocked = false;
    ClockDividerChanged = false;
    NumSweepsChanged = false;
    AttenuationChanged = false;
    Gain1Changed = false;
    Gain2Changed = false;
    Gain3Changed = false;

    ScanLowChan = 0;
    ScanHighChan = 3;
    PulseAddress0();

    TimeSeriesMode = true;
    Button2->setText(QStringLiteral("Delay Profile"));
    StartUpDone = true;
}

void TForm1::ShowStartUpFailed()
{
    setStatus(QStringLiteral("START-UP FAILED (digpot.cfg NOT READ): RESTART THE PROGRAM"));
    setStatusColour(Red);
}

bool TForm1::ApplySettings()
{
    // A start-up that stopped at the gain table left the ports unconfigured: no write
    // reaches the front-end, and a capture would show or record settings it never got.
    if (!StartUpDone) {
        ShowStartUpFailed();
        return false;
    }
    // Every step runs in turn; a later message replaces an earlier one. A box that
    // does not hold an integer ends the check at its step with its flag still set.
    if (ClockDividerChanged) {
        ClockDivider = valueOf(Edit1);
        SetClockDivider(ClockDivider);
        ClockDividerChanged = false;
    }
    if (ClockDivider != 2 && ClockDivider != 4) {
        setStatus(QStringLiteral("INVALID CLOCK DIVIDER, RESET TO 2"));
        setStatusColour(Yellow);
        ClockDivider = 2;
        Edit1->setText(text(ClockDivider));
        SetClockDivider(ClockDivider);
    }

    if (NumSweepsChanged) {
        NumSweeps = valueOf(Edit2);
        SetSweepCount(NumSweeps);
        NumSweepsChanged = false;
    }
    // The limits are tested every time, so a new divider re-checks an older count.
    if (ClockDivider == 2 && NumSweeps > SweepLimitDivider2) {
        NumSweeps = SweepLimitDivider2;
        Edit2->setText(text(NumSweeps));
        SetSweepCount(NumSweeps);
        setStatus(QStringLiteral("TOO MANY SWEEPS, RESET TO 1430"));
        setStatusColour(Yellow);
    }
    if (ClockDivider == 4 && NumSweeps > SweepLimitDivider4) {
        NumSweeps = SweepLimitDivider4;
        Edit2->setText(text(NumSweeps));
        SetSweepCount(NumSweeps);
        setStatus(QStringLiteral("TOO MANY SWEEPS, RESET TO 2860"));
        setStatusColour(Yellow);
    }

    if (AttenuationChanged) {
        Attenuation = valueOf(Edit3);
        // Only the upper end is corrected; a negative value stays as entered and the
        // attenuator clamps it on its own.
        if (Attenuation > MaxAttenuation) {
            Attenuation = MaxAttenuation;
            Edit3->setText(text(Attenuation));
        }
        SetAttenuation(Attenuation);
        AttenuationChanged = false;
    }

    // The gains are kept as entered; the table lookup clamps them.
    if (Gain1Changed) {
        Gain1 = valueOf(Edit4);
        SetChannelGain(1, Gain1);
        Gain1Changed = false;
    }
    if (Gain2Changed) {
        Gain2 = valueOf(Edit5);
        SetChannelGain(2, Gain2);
        Gain2Changed = false;
    }
    if (Gain3Changed) {
        Gain3 = valueOf(Edit6);
        SetChannelGain(3, Gain3);
        Gain3Changed = false;
    }

    if (NumSweeps <= 0) {
        setStatus(QStringLiteral("YOU MUST ENTER A POSITIVE NUMBER OF SWEEPS"));
        setStatusColour(Red);
        return false;
    }
    return true;
}

void TForm1::Panel1Click()
{
    // Without the start-up the address port was never driven: no register is selected and
    // the lines read back are no value of the front-end's (all ones showed 16777215).
    if (!StartUpDone) {
        ShowStartUpFailed();
        return;
    }
    ClocksPerSweep = ReadClocksPerSweep();
    Panel1->setText(text(ClocksPerSweep));
}
