// "Show": one capture of two sweeps, aligned on the sweep marker, converted to volts,
// its delay profiles computed and the chart redrawn. The chart redraw, the channel
// choice and the view toggle only draw what the last capture left in memory.

#include "tform1.h"

#include "status_colours.h"
#include "capture.h"
#include "delay_profile.h"
#include "line_chart.h"
#include "scoped_flag.h"

#include <QPushButton>

using namespace statuscolour;

namespace {

constexpr int PlottedPoints = 1000;  // per filled series

}  // namespace

void TForm1::Button3Click()
{
    // Pending messages are processed inside a capture; a click queued meanwhile is ignored.
    if (CaptureInProgress)
        return;
    ScopedFlag busy(CaptureInProgress);
    ShowGpsStatus();

    if (!ApplySettings())
        return;
    ScanRate = scanRateFor(ClockDivider);
    const int32_t count = twoSweepCount(ClockDivider);

    if (!MEMPREP(count)) {
        setStatus(QStringLiteral("Failed to allocate buffers"));
        setStatusColour(Red);
        ProcessMessages();
        return;
    }
    setStatus(QStringLiteral("Allocated buffers"));
    setStatusColour(Aqua);
    ProcessMessages();

    // From here on the buffer is given back on every path, a runtime error included.
    struct Release {
        TForm1& form;
        ~Release() { form.ReleaseSampleBuffer(); }
    } release{*this};

    // Closed (Exit or the frame) while pending messages ran, inside MEMPREP or just now:
    // the scan has not begun, and it is not taken for a window that has gone (with no
    // external clock it would hold the program, unseen, until the clock came).
    if (Closing)
        return;
    if (!ArmScan(count, ScanRate)) {
        setStatus(QStringLiteral("Failed to get a sweep"));
        setStatusColour(Red);
        return;
    }
    const std::optional<int32_t> start = FindSweepStart(0, DisplayMarkerThreshold, count);
    if (!start) {
        setStatus(QStringLiteral("Failed to find Start of Sweep"));
        setStatusColour(Yellow);
        return;
    }
    setStatus(QStringLiteral("Start of sweep at ") + QString::number(*start));
    ExtractSweep(*start, count);
    ComputeDelayProfiles();
    ShowMeasurements({DelayProfile1.data(), DelayProfile2.data(), DelayProfile3.data()});
    PlotChannels();
}

void TForm1::ComputeDelayProfiles()
{
    computeDelayProfile(SweepVolts1.data(), ClockDivider, Fourier, DelayProfile1.data());
    computeDelayProfile(SweepVolts2.data(), ClockDivider, Fourier, DelayProfile2.data());
    computeDelayProfile(SweepVolts3.data(), ClockDivider, Fourier, DelayProfile3.data());
}

void TForm1::PlotChannels()
{
    Chart1->clearSeries(Series1);
    Chart1->clearSeries(Series2);
    Chart1->clearSeries(Series3);

    const std::vector<double>* sources[3];
    if (TimeSeriesMode) {
        Chart1->setLeftAxisAutomatic(false);
        Chart1->setLeftAxisMinimum(-5);
        Chart1->setLeftAxisMaximum(5);
        Chart1->setBottomAxisAutomatic();
        sources[0] = &SweepVolts1;
        sources[1] = &SweepVolts2;
        sources[2] = &SweepVolts3;
    } else {
        Chart1->setLeftAxisAutomatic(false);
        Chart1->setLeftAxisMinimum(-20);
        Chart1->setLeftAxisMaximum(60);
        sources[0] = &DelayProfile1;
        sources[1] = &DelayProfile2;
        sources[2] = &DelayProfile3;
    }
    const int series[3] = {Series1, Series2, Series3};

    // Element k of a source (numbered from 1) is point k - 1 of its series.
    auto value = [&](int channel, int k) {
        const std::vector<double>& source = *sources[channel];
        return static_cast<size_t>(k) < source.size() ? source[static_cast<size_t>(k)] : 0.0;
    };
    const int choice = radioItemIndex();
    if (choice >= 0 && choice <= 2) {
        for (int k = 1; k <= PlottedPoints; ++k)
            Chart1->addPoint(series[choice], value(choice, k));
    } else if (choice == 3) {
        for (int k = 1; k <= PlottedPoints; ++k)
            for (int c = 0; c < 3; ++c)
                Chart1->addPoint(series[c], value(c, k));
    }
    // No item selected: the chart stays empty.
    Chart1->flush();
}

void TForm1::RadioGroup1Click()
{
    PlotChannels();
}

void TForm1::Button2Click()
{
    // The caption names the view the next click will show.
    if (TimeSeriesMode) {
        TimeSeriesMode = false;
        Button2->setText(QStringLiteral("Time Series"));
    } else {
        TimeSeriesMode = true;
        Button2->setText(QStringLiteral("Delay Profile"));
    }
    PlotChannels();
}
