// The calibration's pieces: the lobe of a tone anywhere between two bins, and the
// reading of CAL.json, which refuses what is not a whole calibration.
#include "calibration.h"
#include "frontend_protocol.h"
#include "gain_table.h"
#include "path_lobe.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

// The powers of a 4096-point transform of `used` samples of a cosine of `bin - 1`
// cycles per 4096 samples, by direct sums over bins around it.
std::vector<double> tonePowers(double bin, int used)
{
    std::vector<double> power(4097, 1e-6);
    for (int k = std::max(1, int(bin) - 12); k <= std::min(4096, int(bin) + 12); ++k) {
        std::complex<double> sum;
        for (int n = 0; n < used; ++n)
            sum += std::cos(2 * std::numbers::pi * (bin - 1) * n / 4096.0) *
                   std::polar(1.0, 2 * std::numbers::pi * (k - 1) * n / 4096.0);
        power[size_t(k)] = std::max(1e-6, std::norm(sum));
    }
    return power;
}

TEST(PathLobe, FollowsATonePlacedAnywhereBetweenBins)
{
    // Unpadded (4096 samples) and zero-padded (2500 samples) sweeps; a tone's lobe
    // centre moves with it to within a fifth of a bin, and the lobe's power changes by
    // far less than the strongest bin's (up to 3.9 dB when unpadded).
    struct Case {
        int used;
        double maxCentreError, maxPowerSpreadDb;
    };
    for (const Case c : {Case{4096, 0.2, 1.0}, Case{2500, 0.2, 0.6}}) {
        double lowest = 1e300, highest = -1e300;
        for (double fraction = 0.0; fraction < 1.0; fraction += 0.125) {
            const double bin = 300.0 + fraction;
            const std::vector<double> power = tonePowers(bin, c.used);
            int32_t peak = 300;
            for (int k = 290; k <= 310; ++k)
                if (power[size_t(k)] > power[size_t(peak)])
                    peak = k;
            const cli::PathLobe lobe = cli::pathLobe(power.data(), peak, 2048);
            EXPECT_NEAR(lobe.centreBin, bin, c.maxCentreError) << c.used << " " << fraction;
            lowest = std::min(lowest, lobe.powerDb);
            highest = std::max(highest, lobe.powerDb);
        }
        EXPECT_LT(highest - lowest, c.maxPowerSpreadDb) << c.used;
    }
    // A tone exactly on a bin: the lobe is that bin alone, its power all of the tone's.
    const std::vector<double> onBin = tonePowers(400.0, 4096);
    const cli::PathLobe lobe = cli::pathLobe(onBin.data(), 400, 2048);
    EXPECT_NEAR(lobe.centreBin, 400.0, 1e-9);
    EXPECT_NEAR(lobe.powerDb, 10 * std::log10(2048.0 * 2048.0), 1e-6);
}

TEST(PathLobe, StopsAtTheDipBetweenTwoPaths)
{
    std::vector<double> power(4097, 1e-6);
    const double values[] = {1, 10, 100, 10, 5, 50, 2};  // bins 100..106
    for (int i = 0; i < 7; ++i)
        power[size_t(100 + i)] = values[i];
    const cli::PathLobe first = cli::pathLobe(power.data(), 102, 2048);
    // The dip at bin 104 joins neither path; the floor at bin 99 is part of the first.
    EXPECT_NEAR(first.centreBin, (99 * 1e-6 + 100 * 1 + 101 * 10 + 102 * 100 + 103 * 10) / (121 + 1e-6), 1e-12);
    EXPECT_NEAR(first.powerDb, 10 * std::log10(121 + 1e-6), 1e-12);
    const cli::PathLobe second = cli::pathLobe(power.data(), 105, 2048);
    EXPECT_NEAR(second.centreBin, (105 * 50 + 106 * 2 + 107 * 1e-6) / (52 + 1e-6), 1e-9);
    EXPECT_NEAR(second.powerDb, 10 * std::log10(52 + 1e-6), 1e-9);
}

const char* const Whole = R"({"schema": "sounder.calibration/1", "tool": "sounder calibrate 1", "made_utc":
 "2026-12-09T03:00:00Z", "inputs": [{"file": "b2b.txt", "sha256": "ab", "levels_from": "sidecar"}],
 "clock_divider": 2, "through_db": 60, "cable_delay_ns": 5, "processing": {"window": "none",
 "threshold_db": 20, "margin_db": 6}, "channels": [{"channel": 1, "reference_db": 38.5,
 "peak_reference_db": 38.4, "delay_bins": 51.0, "snr_db": 80}]})";

TEST(CalibrationFile, ReadsWhatItWritesAndRefusesTheRest)
{
    std::string error;
    const std::optional<cal::Calibration> c = cal::fromJson(Whole, &error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->clockDivider, 2);
    EXPECT_EQ(c->throughDb, 60);
    ASSERT_NE(c->channel(1), nullptr);
    EXPECT_EQ(c->channel(2), nullptr);
    EXPECT_EQ(c->channel(1)->delayBins, 51.0);
    const std::optional<cal::Calibration> again = cal::fromJson(cal::toJson(*c), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(cal::toJson(*again), cal::toJson(*c));
    EXPECT_TRUE(cal::isCalibrationText(Whole));

    struct Case {
        std::string from, to, error;
    };
    const Case cases[] = {
        {"{", "[", "not JSON"},
        {"sounder.calibration/1", "sounder.recording/1", "not a calibration"},
        {"\"clock_divider\": 2", "\"clock_divider\": 3", "\"clock_divider\" must be 2 or 4"},
        {"\"clock_divider\": 2", "\"clock_divider\": \"2\"", "\"clock_divider\" must be a number"},
        {"\"through_db\": 60", "\"through_db\": -1", "\"through_db\" is out of range"},
        {"\"channel\": 1", "\"channel\": 1.5", "channels: \"channel\" must be 1, 2 or 3"},
        {"\"channel\": 1", "\"channel\": 4", "channels: \"channel\" is out of range"},
        // Far out of the range of an integer, which the divider and the channel become.
        {"\"clock_divider\": 2", "\"clock_divider\": 1e300", "\"clock_divider\" is out of range"},
        {"\"clock_divider\": 2", "\"clock_divider\": -1e300", "\"clock_divider\" is out of range"},
        {"\"channel\": 1", "\"channel\": -1e300", "channels: \"channel\" is out of range"},
        {"\"channel\": 1", "\"channel\": 1e300", "channels: \"channel\" is out of range"},
        {"\"delay_bins\": 51.0", "\"delay_bins\": null", "channels: \"delay_bins\" must be a number"},
        {"\"window\": \"none\"", "\"window\": 0", "processing: \"window\" must be a text"},
        {"\"inputs\": [", "\"inputs\": 3, \"x\": [", "\"inputs\" must be a list"},
        {"[{\"channel\": 1", "[{\"channel\": 1, \"reference_db\": 1, \"peak_reference_db\": 1, \"delay_bins\": 2, "
                              "\"snr_db\": 3}, {\"channel\": 1", "channels: channel 1 given twice"},
    };
    for (const Case& k : cases) {
        std::string text = Whole;
        const size_t at = text.find(k.from);
        ASSERT_NE(at, std::string::npos) << k.from;
        text.replace(at, k.from.size(), k.to);
        error.clear();
        EXPECT_FALSE(cal::fromJson(text, &error)) << k.to;
        EXPECT_EQ(error.substr(0, k.error.size()), k.error) << k.to;
    }
}

// A calibration that an editor saved with a UTF-8 byte-order mark reads as without it
// (the JSON parser passes over one at the start); a fault in one is placed at its byte
// in the file, mark and all. The mark alone, twice, or anywhere but at the start, is no JSON.
TEST(CalibrationFile, AByteOrderMarkAtTheStartIsPassedOver)
{
    const std::string mark = "\xEF\xBB\xBF";
    std::string error;
    const std::optional<cal::Calibration> marked = cal::fromJson(mark + Whole, &error);
    ASSERT_TRUE(marked) << error;
    EXPECT_EQ(cal::toJson(*marked), cal::toJson(*cal::fromJson(Whole, nullptr)));
    EXPECT_TRUE(cal::isCalibrationText(mark + Whole));

    std::string plainError, markedError;
    EXPECT_FALSE(cal::fromJson("{\"schema\" 1}", &plainError));
    EXPECT_FALSE(cal::fromJson(mark + "{\"schema\" 1}", &markedError));
    const size_t at = plainError.find("at byte ");
    ASSERT_NE(at, std::string::npos) << plainError;
    const long plainByte = std::stol(plainError.substr(at + 8));
    EXPECT_EQ(markedError, plainError.substr(0, at + 8) + std::to_string(plainByte + 3) + ")");

    for (const std::string& text : {mark, " " + mark + Whole, mark + mark + Whole}) {
        error.clear();
        EXPECT_FALSE(cal::fromJson(text, &error));
        EXPECT_EQ(error.substr(0, 8), "not JSON") << error;
    }
}

// A CAL.json that names no file is named as every input is.
TEST(CalibrationFile, APathThatNamesNoFileIsSaidSo)
{
    TempDir dir;
    writeBytes(dir.file("cal.json"), Whole);
    std::filesystem::create_directory(dir.file("folder.json"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.json"));
    writeBytes(dir.file("large.json"), std::string(Whole) + std::string(size_t(5) << 20, ' '));
    const std::pair<std::string, std::string> cases[] = {
        {"cal.json", ""},
        {"none.json", "File not found"},
        {"nofolder/cal.json", "Invalid filename"},
        {"folder.json", "Invalid filename"},
        {"zero.json", "Invalid filename"},
        {"large.json", "over 4 MiB, not a calibration"},
    };
    for (const auto& [name, says] : cases) {
        SCOPED_TRACE(name);
        std::string error;
        const std::optional<cal::Calibration> c = cal::readCalibration(dir.file(name), &error);
        EXPECT_EQ(c.has_value(), says.empty());
        EXPECT_EQ(error, says);
    }
}

TEST(CalibrationFile, FormulasTakeTheLevelsAndTheReferenceOut)
{
    const cal::ChannelReference ref{1, -10.0, -10.5, 51.25, 80};
    // Counted power 25 dB at gain 50, attenuation 5: 25 - 50 + 5 = -20 at 0 dB net gain,
    // 10 dB under the reference, which itself stood behind 60 dB.
    EXPECT_DOUBLE_EQ(cal::pathGainDb(25, 50, 5, ref, 60), -70.0);
    EXPECT_DOUBLE_EQ(cal::lobeGainDb(25, 50, 5, ref, 60), -69.5);
    EXPECT_DOUBLE_EQ(cal::antennaDelayBins(251.25, ref), 200.0);
    // 200 bins of 10 ns after the system's own delay, and the 5 ns of the back-to-back
    // run's through cabling, which that delay holds and the measured path does not.
    EXPECT_DOUBLE_EQ(cal::antennaDelayNs(251.25, ref, 1e-8, 5.0), 2005.0);
    EXPECT_DOUBLE_EQ(cal::antennaDelayNs(251.25, ref, 1e-8, 0.0), 2000.0);
    EXPECT_DOUBLE_EQ(cal::antennaDelayNs(51.25, ref, 1e-8, 5.0), 5.0);
}

// Without a sidecar the header's settings are taken as they reached the front-end: a gain
// beyond the gain table's rows, an attenuation beyond the attenuator's, limited as the
// acquisition program limits them, and said so in the one line on stderr.
TEST(CalibrationFile, HeaderSettingsAreTakenWithTheFrontEndsLimits)
{
    EXPECT_EQ(cal::LeastGainDb, gain::MinGainDb);
    EXPECT_EQ(cal::MostGainDb, gain::MaxGainDb);
    EXPECT_EQ(cal::MostAttenuationDb, frontend::MaxAttenIndex);
    TempDir dir;
    const std::string path = dir.file("rec.txt");
    struct Case {
        int32_t attenuation;
        std::array<int32_t, 3> gains;
        double hadAttenuation;
        std::array<double, 3> hadGains;
        std::string says;  // what the note adds to the usual one
    };
    const Case cases[] = {
        {10, {30, 3, 70}, 10, {30, 3, 70}, ""},
        {-3, {80, 2, 50}, 0, {70, 3, 50}, " (attenuation -3 dB as 0 dB, ch 1 gain 80 dB as 70 dB, ch 2 gain 2 dB as "
                                          "3 dB, the front-end's limits)"},
        {45, {50, 50, -10}, 31, {50, 50, 3}, " (attenuation 45 dB as 31 dB, ch 3 gain -10 dB as 3 dB, the front-end's "
                                             "limits)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.says);
        testing::internal::CaptureStderr();
        const cal::FrontEndLevels levels = cal::frontEndLevels(path, k.attenuation, k.gains, 100);
        const std::string note = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(levels.fromSidecar);
        EXPECT_EQ(levels.attenuationDb, k.hadAttenuation);
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(levels.gainDb[c], k.hadGains[c]) << c;
        EXPECT_EQ(note, path + ": no sidecar: gain and attenuation taken from the header, which holds the settings, "
                               "not what the front-end had" + k.says + "\n");
    }
}

}  // namespace
