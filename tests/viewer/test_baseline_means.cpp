// The peak-to-peak measure: means of strict local extrema, and the field's text.

#include "baseline_means.h"
#include "metrics_text.h"
#include "peak_text.h"
#include "runtime_error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A 1-based store: slot 0 unused, then the given samples, then `spare` extra slots.
std::vector<double> store(std::initializer_list<double> samples, size_t spare = 0, double spareValue = 0.0)
{
    std::vector<double> x{std::nan("")};
    x.insert(x.end(), samples);
    x.insert(x.end(), spare, spareValue);
    return x;
}

rt::FloatError::Kind failureKind(double (*mean)(int32_t, std::span<const double>), int32_t n,
                                 const std::vector<double>& x)
{
    try {
        mean(n, x);
    } catch (const rt::FloatError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no floating-point failure";
    return rt::FloatError::Kind::DivisionByZero;
}

}  // namespace

TEST(BaselineMeans, SymmetricOscillationGivesPeakToPeakOfTwo)
{
    const auto x = store({0, 1, 0, -1, 0, 1, 0, -1, 0});
    EXPECT_DOUBLE_EQ(posmean(9, x), 1.0);
    EXPECT_DOUBLE_EQ(negmean(9, x), -1.0);
    EXPECT_EQ(peakToPeakText(posmean(9, x) - negmean(9, x), "."), "2.000");
}

TEST(BaselineMeans, EqualNeighboursAreNotExtrema)
{
    // The flat top (samples 2, 3) and the clipped run (7, 8) contribute nothing;
    // maxima are 3 (sample 5) and 0 (sample 9), minima 0 (sample 4) and -2 (10).
    const auto x = store({0, 2, 2, 0, 3, 0, -1, -1, 0, -2, 0});
    EXPECT_DOUBLE_EQ(posmean(11, x), 1.5);
    EXPECT_DOUBLE_EQ(negmean(11, x), -1.0);
}

TEST(BaselineMeans, FirstAndLastValidSampleNeverCount)
{
    // Samples 1 and n are the largest and smallest values, yet play no part.
    const auto x = store({9, 0, 1, 0, 1, 0, -9});
    EXPECT_DOUBLE_EQ(posmean(7, x), 1.0);
    EXPECT_DOUBLE_EQ(negmean(7, x), 0.0);
}

TEST(BaselineMeans, SamplesBeyondNPlayNoPart)
{
    // Left-overs of a longer sweep after sample n: were sample 6 consulted, sample 5
    // would become a maximum and sample 6 a minimum.
    auto x = store({0, 1, 0, -1, 0.5}, 20, 7.0);
    x[6] = -100.0;
    x[7] = 100.0;
    EXPECT_DOUBLE_EQ(posmean(5, x), 1.0);
    EXPECT_DOUBLE_EQ(negmean(5, x), -1.0);
}

TEST(BaselineMeans, OneSpikeMovesTheMeanByItsShare)
{
    std::vector<double> x{0.0};
    for (int i = 0; i < 100; ++i) {
        x.push_back(0.0);
        x.push_back(i == 50 ? -4.0 : -1.0);
    }
    x.push_back(0.0);
    const int32_t n = static_cast<int32_t>(x.size()) - 1;
    EXPECT_NEAR(negmean(n, x), -1.03, 1e-12);
    EXPECT_DOUBLE_EQ(posmean(n, x), 0.0);  // the zeros between the minima are maxima
}

TEST(BaselineMeans, NoExtremumIsZeroDividedByZero)
{
    const auto rising = store({1, 2, 3, 4, 5});
    EXPECT_EQ(failureKind(posmean, 5, rising), rt::FloatError::Kind::InvalidOperation);
    EXPECT_EQ(failureKind(negmean, 5, rising), rt::FloatError::Kind::InvalidOperation);

    // Fewer than three samples: the loop does not run, whatever the store holds.
    const auto zigzag = store({0, 5, 0, 5, 0});
    for (int32_t n : {2, 1, 0, -1, std::numeric_limits<int32_t>::min()}) {
        EXPECT_EQ(failureKind(posmean, n, zigzag), rt::FloatError::Kind::InvalidOperation) << n;
        EXPECT_EQ(failureKind(negmean, n, zigzag), rt::FloatError::Kind::InvalidOperation) << n;
    }
}

TEST(BaselineMeans, CountBeyondTheStoreReadsOnlyTheStore)
{
    // The store ends at sample 5; a count past it (up to the 32-bit limit) must not
    // read further: sample 5 is then the last valid one and cannot count.
    const auto x = store({0, 1, 0, 1, 0});
    EXPECT_DOUBLE_EQ(posmean(std::numeric_limits<int32_t>::max(), x), 1.0);
    EXPECT_DOUBLE_EQ(negmean(1000, x), 0.0);
}

TEST(PeakText, ThreeDecimalsAfterRoundingToSevenDigits)
{
    EXPECT_EQ(peakToPeakText(0.0, "."), "0.000");
    EXPECT_EQ(peakToPeakText(2.0, "."), "2.000");
    EXPECT_EQ(peakToPeakText(1.2346, "."), "1.235");
    EXPECT_EQ(peakToPeakText(-1.5, "."), "-1.500");
    EXPECT_EQ(peakToPeakText(1234.5678, "."), "1234.568");
    // From five digits before the point on, the seven digits run out before the
    // third decimal: the rest is zeros.
    EXPECT_EQ(peakToPeakText(12345.6789, "."), "12345.680");
    EXPECT_EQ(peakToPeakText(1234567.89, "."), "1234568.000");
    EXPECT_EQ(peakToPeakText(-123456.789, "."), "-123456.800");
}

TEST(PeakText, ValuesHalfwayRoundAwayFromZero)
{
    // A value exactly halfway between two texts (an odd multiple of 1/16 V at the third
    // decimal, as sweeps of whole A/D codes give) is rounded up in size, as a reading
    // rounded by hand or by the original program is; the nearest text otherwise.
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.3125, "0.313"},          // 128 codes of 5/2048 V
        {-0.3125, "-0.313"},
        {0.0625, "0.063"},
        {2.4375, "2.438"},
        {0.1875, "0.188"},
        {0.3124999999999999, "0.312"},  // just below halfway
        {0.31250000000000006, "0.313"},
        {12345.125, "12345.130"},   // halfway at the seventh digit
        {1234568.5, "1234569.000"},
        {1234567.5, "1234568.000"},
        {-1234568.5, "-1234569.000"},
        {12345678.5, "1.234568E+7"},
        {12345685.0, "1.234569E+7"},
        {0.0005, "0.001"},          // not halfway in binary: above it
        {1.0005, "1.000"},          // below it
    };
    for (const auto& c : cases)
        EXPECT_EQ(peakToPeakText(c.value, "."), c.text) << c.value;
}

TEST(PeakText, ScientificBeyondSevenDigitsBeforeThePoint)
{
    EXPECT_EQ(peakToPeakText(9999999.0, "."), "9999999.000");
    EXPECT_EQ(peakToPeakText(9999999.6, "."), "1E+7");  // rounds up to eight digits
    EXPECT_EQ(peakToPeakText(12345678.0, "."), "1.234568E+7");
    EXPECT_EQ(peakToPeakText(-2.5e20, "."), "-2.5E+20");
}

TEST(PeakText, SeparatorComesFromTheCaller)
{
    EXPECT_EQ(peakToPeakText(2.0, ","), "2,000");
    EXPECT_EQ(peakToPeakText(12345.6789, ","), "12345,680");
}

TEST(PeakText, TinyValuesShowWithoutSignAndNonFiniteValuesShowTheirName)
{
    EXPECT_EQ(peakToPeakText(-0.0001, "."), "0.000");
    EXPECT_EQ(peakToPeakText(0.0006, "."), "0.001");
    EXPECT_EQ(peakToPeakText(std::numeric_limits<double>::infinity(), "."), "INF");
    EXPECT_EQ(peakToPeakText(-std::numeric_limits<double>::infinity(), "."), "-INF");
    EXPECT_EQ(peakToPeakText(std::nan(""), "."), "NAN");
}

TEST(PeakText, ScientificFormUsesTheSameSeparatorAsTheFixedForm)
{
    EXPECT_EQ(peakToPeakText(1234.5678, ","), "1234,568");
    EXPECT_EQ(peakToPeakText(12345678.0, ","), "1,234568E+7");
    EXPECT_EQ(peakToPeakText(1.5e10, ","), "1,5E+10");
    EXPECT_EQ(peakToPeakText(1e10, ","), "1E+10");
    EXPECT_EQ(peakToPeakText(12345678.0, "."), "1.234568E+7");
}

TEST(MetricsText, AbsentMetricsReadAsDashesAndTheSeparatorIsTheLocales)
{
    EXPECT_EQ(delayMetricsText(DelayMetrics{}, "."), "Peak bin -, SNR - dB, mean excess - bins, RMS spread - bins");
    DelayMetrics m;
    m.peakBin = 96;
    m.snrDb = 61.06;
    m.meanExcessBins = 12.34;
    m.rmsSpreadBins = 25.35;
    EXPECT_EQ(delayMetricsText(m, ","), "Peak bin 96, SNR 61,1 dB, mean excess 12,3 bins, RMS spread 25,4 bins");
    m.meanExcessBins = 0.0;
    m.rmsSpreadBins = -0.0;
    EXPECT_EQ(delayMetricsText(m, "."), "Peak bin 96, SNR 61.1 dB, mean excess 0.0 bins, RMS spread 0.0 bins");
}
