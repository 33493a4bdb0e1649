// The "Measurements" readout: per channel the strongest path, its SNR, the RMS delay
// spread and the clipped samples of the sweep just extracted.
#include "tform1.h"

#include "capture.h"
#include "delay_profile.h"
#include "measurements.h"

#include <QGroupBox>
#include <QLabel>

#include <algorithm>

namespace {

QLabel* cell(QWidget* parent, const QString& text, int left, int top, int width)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(left, top, width, 17);
    return l;
}

constexpr int ColumnLeft[] = {44, 84, 132, 168};
constexpr int ColumnWidth[] = {36, 44, 32, 28};

}  // namespace

void TForm1::buildMeasurements()
{
    GroupBox3 = new QGroupBox(QStringLiteral("Measurements"), GroupBox2);
    // Qt names a group box inside another after the outer one's title: its own is set.
    GroupBox3->setAccessibleName(GroupBox3->title());
    GroupBox3->setGeometry(8, 224, 201, 120);
    const char* headers[] = {"peak", "SNR dB", "rms", "clip"};
    for (int c = 0; c < 4; ++c)
        cell(GroupBox3, QString::fromLatin1(headers[c]), ColumnLeft[c], 16, ColumnWidth[c]);
    for (int ch = 0; ch < 3; ++ch) {
        const int top = 40 + 24 * ch;
        cell(GroupBox3, QStringLiteral("ch %1").arg(ch + 1), 8, top, 32);
        for (int c = 0; c < 4; ++c)
            MeasurementLabels[ch][c] = cell(GroupBox3, QStringLiteral("-"), ColumnLeft[c], top, ColumnWidth[c]);
    }
}

void TForm1::ShowMeasurements(const std::array<const double*, 3>& profiles)
{
    // One sweep's profile, of the samples the divider gives, unwindowed.
    DelayMetricsParams params;
    params.transformSamples = ClockDivider == 4 ? 2500 : 4096;
    // A sweep that starts late in the capture fills fewer elements than the transform
    // takes; the rest of its profile comes from an earlier capture, so it gives no
    // numbers of this sweep ("-"), only the clipped samples of what was captured.
    const bool whole = SweepGroupsExtracted >= params.transformSamples;
    for (int ch = 0; ch < 3; ++ch) {
        const DelayMetrics metrics = whole ? computeDelayMetrics(profiles[ch], params) : DelayMetrics{};
        const MeasurementRow row = measurementRow(metrics, SweepClipped[ch]);
        const std::string* texts[] = {&row.peak, &row.snr, &row.rms, &row.clip};
        for (int c = 0; c < 4; ++c)
            MeasurementLabels[ch][c]->setText(QString::fromStdString(*texts[c]));
    }
}

void TForm1::MeasureExtractedSweep()
{
    // The readout's own profiles: DelayProfile1..3 keep what the view toggle draws.
    const std::array<const std::vector<double>*, 3> sweeps = {&SweepVolts1, &SweepVolts2, &SweepVolts3};
    for (int ch = 0; ch < 3; ++ch) {
        MeasurementProfiles[ch].resize(4096 + 1);
        computeDelayProfile(sweeps[ch]->data(), ClockDivider, Fourier, MeasurementProfiles[ch].data());
    }
    ShowMeasurements({MeasurementProfiles[0].data(), MeasurementProfiles[1].data(), MeasurementProfiles[2].data()});
}
