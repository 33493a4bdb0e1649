// "Auto Adjust": sets the RF attenuation and then the three channel gains from
// captured sweeps, one capture per cycle. Every change is shown in its edit box and
// sent to the front-end at once, and the chart shows the time series after each cycle.

#include "tform1.h"

#include "status_colours.h"
#include "auto_adjust.h"
#include "capture.h"
#include "frontend_protocol.h"
#include "scoped_flag.h"

#include <QLineEdit>

#include <algorithm>
#include <array>

using namespace statuscolour;

void TForm1::Button5Click()
{
    if (CaptureInProgress)
        return;
    ScopedFlag busy(CaptureInProgress);

    if (!ApplySettings())
        return;
    ScanRate = scanRateFor(ClockDivider);
    const int32_t count = twoSweepCount(ClockDivider);
    const int32_t windowLast = adjust::windowLast(ClockDivider);

    bool attenuatorDone = false;
    std::array<adjust::ChannelState, 3> channels{};  // gain 30, step 10, last move up
    QLineEdit* const gainEdits[3] = {Edit4, Edit5, Edit6};
    int32_t* const gains[3] = {&Gain1, &Gain2, &Gain3};
    const std::vector<double>* const sweeps[3] = {&SweepVolts1, &SweepVolts2, &SweepVolts3};

    auto applyGain = [&](int c, int32_t gain) {
        *gains[c] = gain;
        gainEdits[c]->setText(QString::number(gain));
        SetChannelGain(c + 1, gain);
    };
    for (int c = 0; c < 3; ++c)
        applyGain(c, adjust::InitialGain);

    // The attenuation phase starts from the present setting; it is not reset. The
    // attenuator must hold that setting for the first cycle to measure at it: start-up
    // leaves it at 31 dB while the setting reads 0, and from there the phase ended at
    // once on signals 31 dB too small, never sent the attenuator anything and raised the
    // gains against 31 dB that the window and the recordings did not show.
    if (FrontEndSent.attenuationDb != frontend::attenuationIndexSent(Attenuation))
        SetAttenuation(Attenuation);
    auto settled = [&] { return channels[0].done && channels[1].done && channels[2].done && attenuatorDone; };
    for (int cycle = 1; !settled(); ++cycle) {
        // Closed while a cycle yielded: nothing more is measured or sent to the front-end.
        if (Closing)
            return;
        if (cycle > adjust::MaxCycles) {
            // Signals beyond reach (attenuator at its end, a step run down to 0) or
            // captures failing over and over would otherwise keep it going for ever.
            setStatus(QStringLiteral("Auto Adjust stopped: not settled after %1 cycles").arg(adjust::MaxCycles));
            setStatusColour(Red);
            return;
        }

        bool measure = true;
        int32_t measuredLast = windowLast;
        if (!MEMPREP(count)) {
            setStatus(QStringLiteral("Failed to allocate buffers"));
            setStatusColour(Red);
            ProcessMessages();
            measure = false;
        } else if (Closing) {
            ReleaseSampleBuffer();
            return;
        } else {
            if (!ArmScan(count, ScanRate)) {
                // The arrays still hold an earlier capture, taken at other settings (or
                // none at all): deciding on them again would move the attenuation and
                // gains on samples that were never taken at these settings, so a board
                // whose scans fail drove every gain to the cap. Like a failed allocation,
                // the cycle measures and decides nothing, and the next one tries again.
                setStatus(QStringLiteral("Failed to get a sweep"));
                setStatusColour(Red);
                measure = false;
            } else {
                const std::optional<int32_t> start = FindSweepStart(0, DisplayMarkerThreshold, count);
                if (!start) {
                    setStatus(QStringLiteral("Cannot continue, no SRF found"));
                    setStatusColour(Yellow);
                    ReleaseSampleBuffer();
                    return;
                }
                ExtractSweep(*start, count);
                MeasureExtractedSweep();
                // A sweep that starts late in the capture fills fewer elements than the
                // window holds; the rest are an earlier capture's, taken at other settings,
                // and are not measured. With none of the window filled, nothing is decided.
                measuredLast = std::min(windowLast, SweepGroupsExtracted);
                measure = measuredLast >= adjust::WindowFirst;
            }
            ReleaseSampleBuffer();
        }

        if (measure) {
            std::array<adjust::Extremes, 3> extremes;
            for (int c = 0; c < 3; ++c) {
                const std::vector<double>& s = *sweeps[c];
                const int32_t last = std::min<int32_t>(measuredLast, static_cast<int32_t>(s.size()) - 1);
                extremes[c] = adjust::measureWindow(s.data(), adjust::WindowFirst, last);
            }
            if (!attenuatorDone) {
                // No gain changes in this phase, not even in the cycle that ends it.
                if (adjust::attenuationTooLow(extremes)) {
                    Attenuation += adjust::AttenuationStep;
                    Edit3->setText(QString::number(Attenuation));
                    SetAttenuation(Attenuation);
                } else {
                    attenuatorDone = true;
                }
            } else {
                for (int c = 0; c < 3; ++c) {
                    if (channels[c].done)
                        continue;
                    const adjust::GainStep step = adjust::gainStep(channels[c], extremes[c].min);
                    if (step.newGain)
                        applyGain(c, *step.newGain);
                    if (step.capped)
                        applyGain(c, adjust::GainCap);
                }
            }
        }

        TimeSeriesMode = true;
        setRadioItemIndex(3);
        PlotChannels();
    }
}
