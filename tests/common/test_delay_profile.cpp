// Delay profiles of the acquisition program and the viewer's averaged profile.

#include "delay_profile.h"
#include "runtime_error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr double FloorDb = -60.0;

// Sweep arrays numbered from 1, as long as the acquisition program's (5000 samples).
std::vector<double> randomSweep(unsigned seed, size_t samples = 5000)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> volts(-1.0, 1.0);
    std::vector<double> sweep(samples + 1, 0.0);
    for (size_t i = 1; i <= samples; ++i)
        sweep[i] = volts(random);
    return sweep;
}

std::vector<double> profileOf(const std::vector<double>& sweep, int divider)
{
    static FourierArea area;
    std::vector<double> profile(ProfileBins + 1, 123.0);
    computeDelayProfile(sweep.data(), divider, area, profile.data());
    return profile;
}

std::vector<double> foldedPower(const std::vector<std::vector<double>>& sweeps, int32_t nsamples)
{
    static FourierArea area;
    std::vector<double> power(ProfileBins + 1, 0.0);
    for (const auto& sweep : sweeps)
        foldSweepPower(sweep.data(), nsamples, area, power.data());
    return power;
}

}  // namespace

TEST(AcquisitionProfile, AllZeroSweepSitsAtTheFloor)
{
    const std::vector<double> zeros(5001, 0.0);
    for (int divider : {2, 4}) {
        const std::vector<double> profile = profileOf(zeros, divider);
        for (int k = 1; k <= ProfileBins; ++k)
            ASSERT_DOUBLE_EQ(profile[size_t(k)], FloorDb) << k;
    }
}

TEST(AcquisitionProfile, ConstantSweepAtDividerTwoFillsOnlyTheFirstBin)
{
    const double v = 0.3;
    const std::vector<double> sweep(5001, v);
    const std::vector<double> profile = profileOf(sweep, 2);
    EXPECT_NEAR(profile[1], 10.0 * std::log10((4096 * v) * (4096 * v)), 1e-9);
    for (int k = 2; k <= ProfileBins; ++k)
        ASSERT_DOUBLE_EQ(profile[size_t(k)], FloorDb) << k;
}

TEST(AcquisitionProfile, DividerFourUsesOnlyTheFirst2500Samples)
{
    std::vector<double> sweep = randomSweep(1);
    const std::vector<double> before = profileOf(sweep, 4);
    for (size_t i = 2501; i <= 5000; ++i)
        sweep[i] = 4.0;
    EXPECT_EQ(profileOf(sweep, 4), before);

    // The same as the first 2500 samples followed by zeros at divider 2.
    for (size_t i = 2501; i <= 5000; ++i)
        sweep[i] = 0.0;
    EXPECT_EQ(profileOf(sweep, 2), before);
}

TEST(AcquisitionProfile, DividerTwoUsesOnlyTheFirst4096Samples)
{
    std::vector<double> sweep = randomSweep(2);
    const std::vector<double> before = profileOf(sweep, 2);
    for (size_t i = 4097; i <= 5000; ++i)
        sweep[i] = -3.0;
    EXPECT_EQ(profileOf(sweep, 2), before);
    // Samples up to 4096 do count.
    sweep[4096] += 1.0;
    EXPECT_NE(profileOf(sweep, 2), before);
}

TEST(AcquisitionProfile, PowersBelowTheFloorAreRaisedToIt)
{
    std::vector<double> sweep(5001, 0.0);
    sweep[1] = 5e-4;  // power 2.5e-7 in every bin
    const std::vector<double> profile = profileOf(sweep, 2);
    for (int k = 1; k <= ProfileBins; ++k)
        ASSERT_DOUBLE_EQ(profile[size_t(k)], FloorDb) << k;
    sweep[1] = 2e-3;  // power 4e-6: above the floor
    EXPECT_NEAR(profileOf(sweep, 2)[7], 10.0 * std::log10(4e-6), 1e-9);
}

TEST(AcquisitionProfile, MirrorBinsHoldEqualValues)
{
    for (int divider : {2, 4}) {
        const std::vector<double> profile = profileOf(randomSweep(3), divider);
        for (int k = 2; k <= 2048; ++k)
            ASSERT_NEAR(profile[size_t(k)], profile[size_t(4098 - k)], 1e-9) << k;
    }
}

TEST(ViewerProfile, FiveIdenticalSweepsAverageToTheirOwnPower)
{
    const std::vector<double> sweep = randomSweep(4, 4000);
    std::vector<double> single = foldedPower({sweep}, 4000);
    std::vector<double> five = foldedPower({sweep, sweep, sweep, sweep, sweep}, 4000);
    for (int k = 1; k <= ProfileBins; ++k)
        ASSERT_NEAR(five[size_t(k)], 5.0 * single[size_t(k)], 1e-12 * single[size_t(k)]) << k;
    powerToDb(five.data(), 5.0);
    for (int k = 1; k <= ProfileBins; ++k)
        ASSERT_NEAR(five[size_t(k)], 10.0 * std::log10(single[size_t(k)]), 1e-9) << k;
}

TEST(ViewerProfile, PowerIsAddedToWhatIsThere)
{
    const std::vector<double> sweep = randomSweep(5, 4000);
    const std::vector<double> once = foldedPower({sweep}, 4000);
    const std::vector<double> twice = foldedPower({sweep, sweep}, 4000);
    for (int k = 1; k <= ProfileBins; ++k)
        ASSERT_EQ(twice[size_t(k)], 2.0 * once[size_t(k)]) << k;
    EXPECT_EQ(twice[0], 0.0);  // slot 0 is not a bin
}

TEST(ViewerProfile, OnlyTheSweepsOwnSamplesEnterTheTransform)
{
    // Samples beyond nsamples, and whatever the work area held before, count for nothing.
    std::vector<double> sweep = randomSweep(6, 4000);
    const std::vector<double> clean = foldedPower({sweep}, 2500);
    for (size_t i = 2501; i <= 4000; ++i)
        sweep[i] = 9.0;
    static FourierArea area;
    area.fftdata.fill(std::numeric_limits<double>::quiet_NaN());
    std::vector<double> power(ProfileBins + 1, 0.0);
    foldSweepPower(sweep.data(), 2500, area, power.data());
    EXPECT_EQ(power, clean);
}

TEST(ViewerProfile, NoSamplesGiveAllZeroPowerAndTheDbConversionFails)
{
    const std::vector<double> sweep = randomSweep(7, 4000);
    for (int32_t nsamples : {0, -1, std::numeric_limits<int32_t>::min()}) {
        std::vector<double> power = foldedPower({sweep}, nsamples);
        for (int k = 1; k <= ProfileBins; ++k)
            ASSERT_EQ(power[size_t(k)], 0.0) << nsamples;
        try {
            powerToDb(power.data(), 5.0);
            FAIL() << "no error";
        } catch (const rt::FloatError& e) {
            EXPECT_EQ(e.kind(), rt::FloatError::Kind::DivisionByZero);
            EXPECT_STREQ(e.what(), "Floating point division by zero");
        }
    }
}

TEST(ViewerProfile, CountsBeyondTheSweepStoreAreCut)
{
    // Exactly MaxViewerSamples samples exist; a larger count must not read past them.
    const std::vector<double> sweep = randomSweep(8, MaxViewerSamples);
    EXPECT_EQ(foldedPower({sweep}, 4096), foldedPower({sweep}, MaxViewerSamples));
    EXPECT_EQ(foldedPower({sweep}, std::numeric_limits<int32_t>::max()), foldedPower({sweep}, MaxViewerSamples));
}

TEST(ViewerProfile, DbConversionStopsAtTheFirstEmptyBin)
{
    std::vector<double> power(ProfileBins + 1, 50.0);
    power[10] = 0.0;
    EXPECT_THROW(powerToDb(power.data(), 5.0), rt::FloatError);
    for (int k = 1; k < 10; ++k)
        EXPECT_DOUBLE_EQ(power[size_t(k)], 10.0) << k;  // 10*log10(50/5)
    EXPECT_EQ(power[11], 50.0);                          // not reached
}

TEST(ViewerProfile, DbConversionHasNoFloor)
{
    std::vector<double> power(ProfileBins + 1, 5e-12);
    powerToDb(power.data(), 5.0);
    EXPECT_NEAR(power[1], -120.0, 1e-9);
    EXPECT_NEAR(power[4096], -120.0, 1e-9);
}

TEST(ViewerProfile, ZeroDivisorIsADivisionFault)
{
    std::vector<double> power(ProfileBins + 1, 1.0);
    EXPECT_THROW(powerToDb(power.data(), 0.0), rt::FloatError);
}
