// `sounder analyze` on generated recordings with known paths: every row of the CSV
// holds what the shared routines give for that sweep or block, the JSON its
// percentiles, the options change what they should, bad input and bad options leave
// nothing behind, and several files in one call give what each gives alone.

#include "analyze_fixture.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <tuple>

namespace {

double hann(int n, int count) { return 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(n) / double(count)); }

void expectRowIs(const Csv& csv, const std::vector<std::string>& row, const DelayMetrics& m, const std::string& what)
{
    for (const auto& [name, value] : expectedFields(m))
        EXPECT_EQ(csv.at(row, name), value) << what << " " << name;
}

// Blocks are compared with a reference that goes through dB and back, so within rounding.
void expectRowNear(const Csv& csv, const std::vector<std::string>& row, const DelayMetrics& m, const std::string& what)
{
    for (const auto& [name, value] : expectedFields(m)) {
        const std::string got = csv.at(row, name);
        ASSERT_EQ(got.empty(), value.empty()) << what << " " << name;
        if (!value.empty()) {
            EXPECT_NEAR(std::stod(got), std::stod(value), 1e-9 * std::max(1.0, std::abs(std::stod(value))))
                << what << " " << name;
        }
    }
}

QJsonObject readJson(const std::string& path)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(path))).object();
}

bool onlyFiles(const TempDir& dir, std::vector<std::string> names)
{
    std::vector<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
        if (entry.path().filename().string().rfind("std", 0) != 0)
            present.push_back(entry.path().filename().string());
    std::sort(present.begin(), present.end());
    std::sort(names.begin(), names.end());
    return present == names;
}

}  // namespace

TEST(SounderAnalyze, CsvHoldsEverySweepAndBlockAsTheRoutinesComputeThem)
{
    TempDir dir;
    Recording r;  // 7 sweeps at divider 2: blocks of 5 and of 2
    r.write(dir.file("rec.txt"));
    const RunResult run = runSounder(dir, "analyze rec.txt --csv out.csv --bandwidth 100e6");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const Csv csv(readBytes(dir.file("out.csv")));
    ASSERT_EQ(csv.rows.size(), 3u * (7 + 2));
    for (const std::string column : {"file", "channel", "kind", "number", "first_sweep", "sweeps", "rms_spread_bins",
                                     "rms_spread_ns", "rms_spread_m", "peak_ns", "snr_db"})
        EXPECT_LT(csv.column(column), csv.header.size()) << column;
    for (const auto& row : csv.rows)
        EXPECT_EQ(row.size(), csv.header.size());

    const double nsPerBin = 5000.0 / (4096.0 * 100e6) * 1e9;
    for (int c = 1; c <= 3; ++c) {
        const auto sweeps = csv.of("sweep", c);
        ASSERT_EQ(sweeps.size(), 7u);
        for (int s = 0; s < 7; ++s) {
            const DelayMetrics m = computeDelayMetrics(sweepProfile(r, s, c).data());
            const std::string what = "ch " + std::to_string(c) + " sweep " + std::to_string(s + 1);
            EXPECT_EQ(csv.at(sweeps[size_t(s)], "file"), "rec.txt");
            EXPECT_EQ(csv.at(sweeps[size_t(s)], "number"), std::to_string(s + 1));
            expectRowIs(csv, sweeps[size_t(s)], m, what);
            // The known paths: the strongest where it was put, the echo 12 dB down counted too.
            EXPECT_EQ(m.peakBin, pathBin(c)) << what;
            EXPECT_GT(*m.snrDb, 30.0) << what;
            EXPECT_EQ(m.firstArrivalBin, pathBin(c)) << what;
            EXPECT_EQ(m.pathCount, 2) << what;
            EXPECT_NEAR(std::stod(csv.at(sweeps[size_t(s)], "rms_spread_ns")), *m.rmsSpreadBins * nsPerBin, 1e-9);
            EXPECT_NEAR(std::stod(csv.at(sweeps[size_t(s)], "peak_ns")), (pathBin(c) - 1) * nsPerBin, 1e-9);
            EXPECT_NEAR(std::stod(csv.at(sweeps[size_t(s)], "peak_m")),
                        (pathBin(c) - 1) * nsPerBin * 1e-9 * SpeedOfLightMetresPerSecond, 1e-6);
        }
        const auto blocks = csv.of("block", c);
        ASSERT_EQ(blocks.size(), 2u);
        EXPECT_EQ(csv.at(blocks[0], "first_sweep"), "1");
        EXPECT_EQ(csv.at(blocks[0], "sweeps"), "5");
        EXPECT_EQ(csv.at(blocks[1], "first_sweep"), "6");
        EXPECT_EQ(csv.at(blocks[1], "sweeps"), "2");
        // Each block's margin is that of noise averaged over its own sweeps.
        DelayMetricsParams five, two;
        five.averagedSweeps = 5;
        two.averagedSweeps = 2;
        expectRowNear(csv, blocks[0], computeDelayMetrics(blockProfile(r, 0, 5, c).data(), five), "block 1");
        expectRowNear(csv, blocks[1], computeDelayMetrics(blockProfile(r, 5, 2, c).data(), two), "block 2");
    }
}

TEST(SounderAnalyze, JsonGivesTheParametersAndPercentilesOverBlocks)
{
    TempDir dir;
    Recording r;
    r.sweeps = 9;
    r.samples = 2500;  // divider 4: 2500 samples zero-padded
    r.write(dir.file("rec.txt"));
    const RunResult run = runSounder(dir, "analyze rec.txt --json out.json --csv out.csv --block 2 --threshold-db 15 "
                                          "--margin-db 3 --noise-bins 1000:2000 --first-bin 5");
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject root = readJson(dir.file("out.json"));
    const QJsonObject p = root["parameters"].toObject();
    EXPECT_EQ(p["threshold_db"].toDouble(), 15.0);
    EXPECT_EQ(p["margin_db"].toDouble(), 3.0);
    EXPECT_TRUE(p["false_alarm"].isNull());  // the margin was not derived from it
    EXPECT_EQ(p["sweep_margin_db"].toDouble(), 3.0);
    EXPECT_EQ(p["block_margin_db"].toDouble(), 3.0);
    {
        // Without --margin-db the margins follow from the false-alarm probability.
        const RunResult derived = runSounder(dir, "analyze rec.txt --json derived.json --false-alarm 1e-3");
        ASSERT_EQ(derived.status, 0) << derived.err;
        const QJsonObject d = readJson(dir.file("derived.json"))["parameters"].toObject();
        EXPECT_TRUE(d["margin_db"].isNull());
        EXPECT_EQ(d["false_alarm"].toDouble(), 1e-3);
        EXPECT_NEAR(d["sweep_margin_db"].toDouble(), 13.35, 0.005);
        EXPECT_NEAR(d["block_margin_db"].toDouble(), 7.19, 0.005);
    }
    EXPECT_EQ(p["noise_bins"].toArray(), (QJsonArray{1000, 2000}));
    EXPECT_EQ(p["delay_bins"].toArray(), (QJsonArray{5, 2048}));
    EXPECT_EQ(p["block_sweeps"].toInt(), 2);
    EXPECT_EQ(p["window"].toString(), "none");
    EXPECT_TRUE(p["bandwidth_hz"].isNull());

    DelayMetricsParams params;
    params.thresholdDb = 15.0;
    params.marginDb = 3.0;
    params.noiseFirstBin = 1000;
    params.noiseLastBin = 2000;
    params.firstDelayBin = 5;
    const Csv csv(readBytes(dir.file("out.csv")));
    const QJsonArray files = root["files"].toArray();
    ASSERT_EQ(files.size(), 1);
    const QJsonObject file = files[0].toObject();
    EXPECT_EQ(file["file"].toString(), "rec.txt");
    EXPECT_EQ(file["clock_divider"].toInt(), 4);
    EXPECT_EQ(file["samples_per_transform"].toInt(), 2500);
    EXPECT_EQ(file["sweeps"].toInt(), 9);
    const QJsonArray channels = file["channels"].toArray();
    ASSERT_EQ(channels.size(), 3);
    for (int c = 1; c <= 3; ++c) {
        const QJsonObject channel = channels[c - 1].toObject();
        EXPECT_EQ(channel["channel"].toInt(), c);
        EXPECT_EQ(channel["blocks"].toInt(), 5);  // 2+2+2+2+1
        const auto sweeps = csv.of("sweep", c);
        ASSERT_EQ(sweeps.size(), 9u);
        for (int s = 0; s < 9; ++s)
            expectRowIs(csv, sweeps[size_t(s)], computeDelayMetrics(sweepProfile(r, s, c).data(), params), "sweep");
        // The percentiles of the block rows, interpolated linearly between order statistics.
        std::vector<double> spreads;
        for (const auto& row : csv.of("block", c))
            spreads.push_back(std::stod(csv.at(row, "rms_spread_bins")));
        ASSERT_EQ(spreads.size(), 5u);
        std::sort(spreads.begin(), spreads.end());
        const QJsonObject rms = channel["metrics"].toObject()["rms_spread_bins"].toObject();
        EXPECT_EQ(rms["median"].toDouble(), spreads[2]);
        EXPECT_DOUBLE_EQ(rms["p10"].toDouble(), spreads[0] + 0.4 * (spreads[1] - spreads[0]));
        EXPECT_DOUBLE_EQ(rms["p90"].toDouble(), spreads[3] + 0.6 * (spreads[4] - spreads[3]));
        EXPECT_EQ(rms["blocks"].toInt(), 5);
        const QJsonObject peak = channel["metrics"].toObject()["peak_bin"].toObject();
        EXPECT_EQ(peak["median"].toDouble(), pathBin(c));
    }
}

// The false-alarm probability holds over recordings of noise alone: the share of sweeps
// (and of blocks) in which anything is counted as a path is the probability asked for.
// Each case's count lies within about four standard deviations of the expected one, so
// that a margin worked out for the wrong number of bins, of sweeps averaged or of degrees
// of freedom, which misses by a factor of several, fails. Seeded: the same noise every run.
TEST(SounderAnalyze, NoiseAloneIsCountedAsPathsAtTheFalseAlarmRateAsked)
{
    TempDir dir;
    constexpr int Sweeps = 300, Samples = 2500, Channels = 3;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(2048.0, 40.0);
    std::string text = std::to_string(Sweeps) + "," + std::to_string(Samples) + "\r\n31\r\n10,20,30\r\n0.0\r\n";
    for (int i = 0; i < Sweeps * Samples; ++i)
        for (int c = 0; c < Channels; ++c)
            text += std::to_string(std::clamp(int(std::lround(noise(random))), 0, 4095)) + (c < 2 ? "," : "\r\n");
    writeBytes(dir.file("noise.txt"), text);

    const struct {
        double falseAlarm;
        const char* kind;
    } cases[] = {{0.1, "sweep"}, {0.1, "block"}, {0.02, "sweep"}, {0.02, "block"}};
    for (const auto& c : cases) {
        const std::string args = "analyze noise.txt --csv o.csv --false-alarm " + std::to_string(c.falseAlarm);
        const RunResult run = runSounder(dir, args);
        ASSERT_EQ(run.status, 0) << run.err;
        const Csv csv(readBytes(dir.file("o.csv")));
        int trials = 0, alarms = 0;
        for (const auto& row : csv.rows)
            if (csv.at(row, "kind") == c.kind) {
                ++trials;
                alarms += csv.at(row, "counted_bins") != "0";
            }
        const double expected = trials * c.falseAlarm;
        const double spread = 4.0 * std::sqrt(expected * (1.0 - c.falseAlarm)) + 1.0;
        EXPECT_EQ(trials, std::string(c.kind) == "sweep" ? Channels * Sweeps : Channels * Sweeps / 5) << args;
        EXPECT_NEAR(alarms, expected, spread) << args << ", " << c.kind << "s";
    }
}

TEST(SounderAnalyze, ChannelBlockAndWindowOptions)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    RunResult run = runSounder(dir, "analyze rec.txt --channel 2 --block 3 --csv one.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv one(readBytes(dir.file("one.csv")));
    ASSERT_EQ(one.rows.size(), 7u + 3u);
    EXPECT_TRUE(one.of("sweep", 1).empty());
    const auto blocks = one.of("block", 2);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(one.at(blocks[2], "first_sweep"), "7");
    EXPECT_EQ(one.at(blocks[2], "sweeps"), "1");
    // A block of one sweep is that sweep.
    expectRowNear(one, blocks[2], computeDelayMetrics(sweepProfile(r, 6, 2).data()), "last block");

    // A window is applied to the samples before the transform.
    run = runSounder(dir, "analyze rec.txt --window hann --csv hann.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv windowed(readBytes(dir.file("hann.csv")));
    for (int c = 1; c <= 3; ++c) {
        const auto rows = windowed.of("sweep", c);
        ASSERT_EQ(rows.size(), 7u);
        for (int s = 0; s < 7; ++s) {
            DelayMetricsParams hannParams;
            hannParams.window = TransformWindow::Hann;
            const DelayMetrics m = computeDelayMetrics(sweepProfile(r, s, c, hann).data(), hannParams);
            expectRowIs(windowed, rows[size_t(s)], m, "hann");
            EXPECT_EQ(m.peakBin, pathBin(c));
        }
        EXPECT_NE(windowed.at(rows[0], "noise_floor_db"), one.at(one.rows[0], "noise_floor_db"));
    }
}

TEST(SounderAnalyze, ViewerLayoutIsAnalyzedAsItsOneChannel)
{
    // The viewer layout of a divider-4 recording holds its 2500 samples in volts, which
    // the viewer pads to 4096 points as the acquisition program does at divider 4.
    TempDir dir;
    Recording r;
    r.samples = 2500;
    r.write(dir.file("rec.txt"));
    ASSERT_EQ(runSounder(dir, "convert rec.txt --to viewer --channel 3 -o view.txt").status, 0);
    RunResult run = runSounder(dir, "analyze view.txt --csv v.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    run = runSounder(dir, "analyze rec.txt --channel 3 --csv a.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv viewer(readBytes(dir.file("v.csv"))), acquisition(readBytes(dir.file("a.csv")));
    const auto v = viewer.of("sweep", 1), a = acquisition.of("sweep", 3);
    ASSERT_EQ(v.size(), 7u);
    ASSERT_EQ(a.size(), 7u);
    for (size_t s = 0; s < 7; ++s)
        for (const auto& [name, value] : expectedFields(DelayMetrics{}))
            EXPECT_EQ(viewer.at(v[s], name), acquisition.at(a[s], name)) << s << " " << name;
    run = runSounder(dir, "analyze view.txt --channel 2 --csv x.csv");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "view.txt: a viewer-layout recording holds one series, channel 1: it has no channel 2\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.csv")));

    // Sweeps of three samples, the file ending before a sample of the second: the
    // second is not there, however few of its samples are missing.
    const std::string header = "2\r\n3\r\n0\r\n20\r\n0.0\r\n";
    for (const int present : {6, 5, 4}) {
        SCOPED_TRACE(present);
        std::string text = header;
        for (int i = 0; i < present; ++i)
            text += "0.25\r\n";
        writeBytes(dir.file("three.txt"), text);
        run = runSounder(dir, "analyze three.txt --csv t.csv");
        ASSERT_EQ(run.status, 0) << run.err;
        const Csv csv(readBytes(dir.file("t.csv")));
        EXPECT_EQ(csv.of("sweep", 1).size(), present == 6 ? 2u : 1u);
        EXPECT_EQ(run.err, present == 6 ? "" : "three.txt: cut short: 1 of 2 sweeps present\n");
    }
}

// A path lies at the same delay whichever layout holds its sweep: a bin of the viewer
// layout is as long as a bin of the sweep it came from, including a divider-2 sweep of
// 5000 samples of which the layout keeps 4000 (their bin is 5000 / (4096 B), not 4000 / (4096 B)).
TEST(SounderAnalyze, ViewerLayoutGivesTheDelaysOfItsSweepInNanoseconds)
{
    for (const int samples : {2500, 5000}) {
        SCOPED_TRACE(samples);
        TempDir dir;
        Recording r;
        r.samples = samples;
        r.write(dir.file("rec.txt"));
        ASSERT_EQ(runSounder(dir, "convert rec.txt --to viewer --channel 2 -o view.txt").status, 0);
        RunResult run = runSounder(dir, "analyze view.txt --csv v.csv --json v.json --bandwidth 1e8");
        ASSERT_EQ(run.status, 0) << run.err;
        run = runSounder(dir, "analyze rec.txt --channel 2 --csv a.csv --bandwidth 1e8");
        ASSERT_EQ(run.status, 0) << run.err;
        const Csv viewer(readBytes(dir.file("v.csv"))), acquisition(readBytes(dir.file("a.csv")));
        const auto v = viewer.of("sweep", 1), a = acquisition.of("sweep", 2);
        ASSERT_EQ(v.size(), a.size());
        const double nsPerBin = double(samples) / 4096.0 * 10.0;  // B = 100 MHz
        for (size_t s = 0; s < v.size(); ++s) {
            EXPECT_EQ(viewer.at(v[s], "peak_bin"), std::to_string(pathBin(2)));
            EXPECT_EQ(viewer.at(v[s], "peak_bin"), acquisition.at(a[s], "peak_bin"));
            EXPECT_DOUBLE_EQ(std::stod(viewer.at(v[s], "peak_ns")), (pathBin(2) - 1) * nsPerBin);
            EXPECT_EQ(viewer.at(v[s], "peak_ns"), acquisition.at(a[s], "peak_ns"));
            EXPECT_EQ(viewer.at(v[s], "peak_m"), acquisition.at(a[s], "peak_m"));
        }
        const QJsonObject file = readJson(dir.file("v.json"))["files"].toArray().at(0).toObject();
        EXPECT_DOUBLE_EQ(file["seconds_per_bin"].toDouble(), nsPerBin * 1e-9);
    }
}

TEST(SounderAnalyze, BadOptionsGiveStatusOneAndNoOutput)
{
    TempDir dir;
    Recording r;
    r.sweeps = 1;
    r.write(dir.file("rec.txt"));
    for (const char* args :
         {"analyze", "analyze rec.txt", "analyze --csv o.csv", "analyze rec.txt --csv o.csv --channel 4",
          "analyze rec.txt --csv o.csv --channel x", "analyze rec.txt --csv o.csv --block 0",
          "analyze rec.txt --csv o.csv --bandwidth -5", "analyze rec.txt --csv o.csv --bandwidth nan",
          "analyze rec.txt --csv o.csv --bandwidth 1e-300",
          "analyze rec.txt --csv o.csv --threshold-db -1", "analyze rec.txt --csv o.csv --margin-db abc",
          "analyze rec.txt --csv o.csv --noise-bins 2000:1000", "analyze rec.txt --csv o.csv --noise-bins 5",
          "analyze rec.txt --csv o.csv --noise-bins 1:4097", "analyze rec.txt --csv o.csv --first-bin 0",
          "analyze rec.txt --csv o.csv --first-bin 3000", "analyze rec.txt --csv o.csv --window kaiser",
          "analyze rec.txt --csv o.csv --false-alarm 0", "analyze rec.txt --csv o.csv --false-alarm 1",
          "analyze rec.txt --csv o.csv --false-alarm nan", "analyze rec.txt --csv o.csv --margin-db -2",
          "analyze rec.txt --csv o.csv --false-alarm 4.9e-324", "analyze rec.txt --csv o.csv --false-alarm 1e-321",
          "analyze rec.txt --csv o.csv --bogus"}) {
        const RunResult run = runSounder(dir, args);
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args << ": " << run.err;
    }
    EXPECT_TRUE(onlyFiles(dir, {"rec.txt"}));
    const RunResult help = runSounder(dir, "analyze --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--noise-bins"), std::string::npos);
    EXPECT_NE(runSounder(dir, "--help").out.find("analyze FILE..."), std::string::npos);
}

// A number of the right kind that is out of reach is told so, not called of the wrong kind.
TEST(SounderAnalyze, BadOptionsSayWhatIsWrongWithThem)
{
    TempDir dir;
    Recording r;
    r.sweeps = 1;
    r.write(dir.file("rec.txt"));
    const std::pair<const char*, const char*> rows[] = {
        {"--bandwidth -5", "sounder: --bandwidth must be a positive number of Hz"},
        {"--bandwidth 0", "sounder: --bandwidth must be a positive number of Hz"},
        {"--bandwidth 1e-300", "sounder: --bandwidth is too small to give the delays in ns and metres"},
        {"--false-alarm 0", "sounder: --false-alarm must be a probability between 0 and 1"},
        {"--false-alarm 4.9e-324", "sounder: --false-alarm is too small to give a margin over the noise floor"},
        {"--margin-db 6 --false-alarm 1e-2",
         "sounder: --margin-db and --false-alarm each set the margin over the floor: give one of them"},
    };
    for (const auto& [option, says] : rows) {
        const RunResult run = runSounder(dir, std::string("analyze rec.txt --csv o.csv ") + option);
        EXPECT_EQ(run.status, 1) << option;
        EXPECT_EQ(run.err.substr(0, run.err.find(" (see")), says) << option;
    }
    EXPECT_TRUE(onlyFiles(dir, {"rec.txt"}));
}

TEST(SounderAnalyze, BadFilesGiveStatusTwoTheirLineAndNoOutput)
{
    TempDir dir;
    Recording r;
    r.sweeps = 2;
    r.write(dir.file("good.txt"));
    const std::string good = readBytes(dir.file("good.txt"));
    writeBytes(dir.file("broken.txt"), good.substr(0, good.find("\r\n", 40000) + 2) + "1,2\r\n" + good.substr(good.find("\r\n", 40000) + 2));
    writeBytes(dir.file("short.txt"), good.substr(0, good.find("\r\n", 20000) + 2));  // not one whole sweep
    writeBytes(dir.file("junk.txt"), "hello\r\n");
    struct Row {
        const char* args;
        const char* says;
    };
    const Row rows[] = {
        {"none.txt", "none.txt: File not found\n"},
        {"junk.txt", "junk.txt: line 1: expected"},
        {"short.txt", "short.txt: holds no whole sweep to analyze\n"},
        {"broken.txt", "broken.txt: line "},
        {"good.txt broken.txt", "broken.txt: line "},
    };
    for (const Row& row : rows) {
        const RunResult run =
            runSounder(dir, std::string("analyze ") + row.args + " --csv o.csv --json o.json --plot o.png");
        EXPECT_EQ(run.status, 2) << row.args;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << row.args << ": " << run.err;
        EXPECT_TRUE(onlyFiles(dir, {"good.txt", "broken.txt", "short.txt", "junk.txt"})) << row.args;
    }
    // Every bad file says so, not only the first.
    const RunResult both = runSounder(dir, "analyze junk.txt none.txt --csv o.csv");
    EXPECT_NE(both.err.find("junk.txt: line 1:"), std::string::npos) << both.err;
    EXPECT_NE(both.err.find("none.txt: File not found"), std::string::npos) << both.err;
    // An output that cannot be written.
    const RunResult unwritable = runSounder(dir, "analyze good.txt --csv nofolder/o.csv --json o.json");
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_EQ(unwritable.err, "nofolder/o.csv: Invalid filename\n");
    EXPECT_TRUE(onlyFiles(dir, {"good.txt", "broken.txt", "short.txt", "junk.txt"}));
}

TEST(SounderAnalyze, PlotIsA1600By1000Png)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    const RunResult run = runSounder(dir, "analyze rec.txt --plot out.png --bandwidth 1e8");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const std::string png = readBytes(dir.file("out.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    const auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 1600u);
    EXPECT_EQ(be32(20), 1000u);
    EXPECT_GT(png.size(), 20000u);  // a drawing, not a blank page
}

// The picture's module is looked for beside the program and in ../lib/sounder/plot from it;
// without it, or with a file that is not it, only a run that draws fails, and it writes
// nothing.
TEST(SounderAnalyze, PlotModuleIsFoundBesideOrInLibAndItsAbsenceIsReported)
{
    namespace fs = std::filesystem;
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    fs::create_directories(dir.file("bin"));
    fs::copy_file(SOUNDER_BINARY, dir.file("bin/sounder"));
    const auto run = [&](const std::string& args) {
        const std::string err = dir.file("stderr.log");
        const std::string command = "cd '" + dir.file("") + "' && bin/sounder " + args + " >/dev/null 2>'" + err + "'";
        const int raw = std::system(command.c_str());
        return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readBytes(err));
    };

    auto [status, err] = run("analyze rec.txt --csv o.csv --plot o.png");
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("--plot: the plot module does not load"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir.file("o.csv")));
    EXPECT_FALSE(fs::exists(dir.file("o.png")));
    std::tie(status, err) = run("analyze rec.txt --csv o.csv");
    EXPECT_EQ(status, 0) << err;  // only the picture needs the module
    EXPECT_TRUE(fs::exists(dir.file("o.csv")));

    {
        std::ofstream bogus(dir.file("bin/sounder_plot.so"));
        bogus << "not a module\n";
    }
    std::tie(status, err) = run("analyze rec.txt --plot o.png");
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("sounder_plot.so"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir.file("o.png")));

    fs::remove(dir.file("bin/sounder_plot.so"));
    fs::create_directories(dir.file("lib/sounder/plot"));
    fs::copy_file(SOUNDER_PLOT_MODULE, dir.file("lib/sounder/plot/sounder_plot.so"));
    std::tie(status, err) = run("analyze rec.txt --plot o.png");
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(readBytes(dir.file("o.png")).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST(SounderAnalyze, SeveralFilesGiveWhatEachGivesAlone)
{
    TempDir dir;
    const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt"};
    for (size_t i = 0; i < names.size(); ++i) {
        Recording r;
        r.seed = unsigned(10 + i);
        r.sweeps = 6 + int(i);
        r.samples = i == 1 ? 2500 : 5000;
        r.write(dir.file(names[i]));
    }
    RunResult run = runSounder(dir, "analyze a.txt b.txt c.txt --csv all.csv --json all.json --plot all.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string all = readBytes(dir.file("all.csv"));
    const QJsonArray files = readJson(dir.file("all.json"))["files"].toArray();
    ASSERT_EQ(files.size(), 3);
    std::string joined;
    for (size_t i = 0; i < names.size(); ++i) {
        run = runSounder(dir, "analyze " + names[i] + " --csv one.csv --json one.json");
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string one = readBytes(dir.file("one.csv"));
        joined += i == 0 ? one : one.substr(one.find('\n') + 1);  // one header row
        EXPECT_EQ(files[int(i)].toObject(), readJson(dir.file("one.json"))["files"].toArray()[0].toObject()) << i;
        EXPECT_TRUE(std::filesystem::exists(dir.file("all." + std::to_string(i + 1) + ".png")));
    }
    EXPECT_EQ(all, joined);
    EXPECT_FALSE(std::filesystem::exists(dir.file("all.png")));
}
