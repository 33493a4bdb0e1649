// The "Measurements" readout: filled by "Show" and by "Auto Adjust" cycles, and what
// it shows of the simulated sounder's paths.

#include "capture_fixture.h"
#include "measurements.h"

#include <QGroupBox>
#include <QLabel>

#include <cmath>

namespace {

using namespace capfix;

class Measurements : public CaptureTest {
protected:
    QString cellText(int channel, int column) const { return form->MeasurementLabels[channel][column]->text(); }

    // One path per channel, at beatCycles per sweep: a tone that lies at
    // beatCycles x 4096 / samples per sweep, which is bin that + 1.
    static void singlePathScene(const std::array<double, 3>& beatCycles)
    {
        boardsim::SignalModel model = boardsim::defaultSignalModel();
        for (int ch = 0; ch < 3; ++ch) {
            double total = 0;
            for (const auto& p : model.channels[ch].paths)
                total += p.amplitude;
            model.channels[ch].paths = {boardsim::Path{beatCycles[ch], total, 0.4}};
        }
        boardsim::setSignalModel(model);
    }
};

TEST_F(Measurements, BoxSitsInTheSettingsWithDashesBeforeTheFirstSweep)
{
    startReady(2);
    ASSERT_NE(form->GroupBox3, nullptr);
    EXPECT_EQ(form->GroupBox3->title(), "Measurements");
    EXPECT_EQ(form->GroupBox3->parentWidget(), form->GroupBox2);
    EXPECT_EQ(form->GroupBox3->geometry(), QRect(8, 224, 201, 120));
    QStringList texts;
    for (const QLabel* l : form->GroupBox3->findChildren<QLabel*>())
        texts << l->text();
    for (const char* t : {"peak", "SNR dB", "rms", "clip", "ch 1", "ch 2", "ch 3"})
        EXPECT_TRUE(texts.contains(t)) << t;
    for (int ch = 0; ch < 3; ++ch)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(cellText(ch, c), "-");
}

TEST_F(Measurements, ShowPutsThePathWhereTheSounderHasIt)
{
    for (int divider : {2, 4}) {
        startReady(divider);
        const std::array<double, 3> beats = {110.4, 185.6, 320.7};
        singlePathScene(beats);
        form->Button3Click();
        ASSERT_TRUE(current().text.startsWith("Start of sweep at ")) << current().text.toStdString();
        const int samples = divider == 2 ? 5000 : 2500;
        for (int ch = 0; ch < 3; ++ch) {
            const int expected = static_cast<int>(std::lround(beats[ch] * 4096.0 / samples)) + 1;
            EXPECT_NEAR(cellText(ch, 0).toInt(), expected, 1) << "divider " << divider << " ch " << ch + 1;
            EXPECT_GT(cellText(ch, 1).toDouble(), 20.0);
            EXPECT_NE(cellText(ch, 2), "");
            EXPECT_EQ(cellText(ch, 3), "0");
        }
        // The readout shows the same profile the chart draws.
        const DelayMetrics m = computeDelayMetrics(form->DelayProfile1.data());
        EXPECT_EQ(cellText(0, 0).toInt(), *m.peakBin);
    }
}

TEST_F(Measurements, ClippedSamplesAreCountedPerChannelOfTheSweep)
{
    startReady(4);
    // Channels all at the top code, the marker at the start of the scan.
    boardsim::setScanSource(boardsim::markerSource({0}, 4095));
    form->Button3Click();
    ASSERT_TRUE(current().text.startsWith("Start of sweep at ")) << current().text.toStdString();
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(cellText(ch, 3), "2500");  // one sweep at divider 4, not the whole capture
}

TEST_F(Measurements, ASweepTooShortForTheTransformGivesNoNumbers)
{
    // The transform takes 4096 elements at divider 2 and 2500 at divider 4; a sweep that
    // starts later fills fewer, and the rest of its profile is an earlier capture's.
    struct Case {
        int divider;
        int32_t markerGroup;  // of 10000 groups at divider 2, 5000 at divider 4
        bool numbers;
        const char* clip;  // channel 1 at the top code: the groups extracted, at most a sweep
    };
    const Case cases[] = {
        {2, 5904, true, "4096"}, {2, 5905, false, "4095"}, {2, 9000, false, "1000"},
        {4, 2500, true, "2500"}, {4, 2501, false, "2499"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("divider " + std::to_string(c.divider) + ", start at group " + std::to_string(c.markerGroup));
        startReady(c.divider);
        boardsim::setScanSource(groupSource([&](int32_t g) {
            const uint16_t tone = uint16_t(2048 + std::lround(1500 * std::sin(0.3 * g)));
            return Group{4095, tone, tone, uint16_t(g == c.markerGroup ? 4000 : 0)};
        }));
        form->Button3Click();
        ASSERT_TRUE(current().text.startsWith("Start of sweep at ")) << current().text.toStdString();
        EXPECT_EQ(cellText(1, 0) != "-", c.numbers) << cellText(1, 0).toStdString();
        EXPECT_EQ(cellText(1, 1) != "-", c.numbers) << cellText(1, 1).toStdString();
        EXPECT_EQ(cellText(0, 3), c.clip);
        boardsim::clearScanSource();
    }
}

TEST_F(Measurements, AutoAdjustFillsTheReadoutButLeavesTheDrawnProfilesAlone)
{
    startReady(2);
    for (int k = 1; k <= 4096; ++k)
        form->DelayProfile1[k] = 7.0;
    form->Button5Click();
    EXPECT_NE(cellText(0, 0), "-");
    EXPECT_NE(cellText(2, 1), "-");
    for (int k = 1; k <= 4096; ++k)
        ASSERT_EQ(form->DelayProfile1[k], 7.0) << k;
}

TEST(MeasurementRow, CellsAndClipCount)
{
    DelayMetrics m;
    EXPECT_EQ(measurementRow(m, 3).peak, "-");
    EXPECT_EQ(measurementRow(m, 3).rms, "-");
    EXPECT_EQ(measurementRow(m, 3).clip, "3");
    m.peakBin = 96;
    m.snrDb = 41.26;
    m.rmsSpreadBins = 0.0;
    const MeasurementRow row = measurementRow(m, 0);
    EXPECT_EQ(row.peak, "96");
    EXPECT_EQ(row.snr, "41.3");
    EXPECT_EQ(row.rms, "0.0");

}

}  // namespace
