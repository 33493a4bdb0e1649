// The sounder tool on recordings whose sidecars hold positions: `info` shows them,
// `analyze` adds each file's latitude, longitude, height and distance, and
// `campaign` lists the recordings and says why no fit is made without path gains, and
// with a calibration gives each recording's path gain and fits it against distance.

#include "analyze_fixture.h"
#include "calibration.h"
#include "digest.h"
#include "recording_metadata.h"
#include "recording_place.h"
#include "run_sounder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <sys/stat.h>

namespace {

const std::string Bytes = recording(2, 2500, 2, 31);

meta::Position here(double latitude, double longitude)
{
    meta::Position p;
    p.latitudeDeg = latitude;
    p.longitudeDeg = longitude;
    p.altitudeM = 592.25;
    p.altitudeMslM = 545.5;
    p.mode = 3;
    p.horizontalErrorM = 4.5;
    p.speedMps = 11.5;
    p.trackDeg = 84.5;
    p.gpsTimeUtc = "2026-12-08T09:00:00.000Z";
    p.ageS = 0.25;
    return p;
}

// A recording and its sidecar; no position at all when `start` and `end` are absent.
// With gainDb the sidecar says the front-end was sent that gain on every channel.
void writeRecording(const TempDir& dir, const std::string& name, std::optional<meta::PositionSample> start,
                    std::optional<meta::PositionSample> end, std::optional<int32_t> gainDb = std::nullopt)
{
    writeBytes(dir.file(name), Bytes);
    meta::Recording r;
    r.softwareName = "quenlo";
    r.softwareVersion = "1";
    r.scanStartedUtc = "2026-12-08T09:00:00.000Z";
    r.writtenUtc = "2026-12-08T09:00:02.000Z";
    r.recordingFile = name;
    r.settings = {2, 2500, 31, {10, 20, 30}, 4};
    r.scan = {120000, 2500000, 2500, 2800};
    r.sweepsRequested = 2;
    r.sweepStartGroups = {4, 2504};
    r.result.status = "DONE";
    r.result.lines = 4 + 5000;
    r.result.bytes = Bytes.size();
    r.result.sha256 = digest::hexDigest(digest::Algorithm::Sha256, Bytes);
    r.positionStart = start;
    r.positionEnd = end;
    if (start)
        r.timeSource = meta::TimeSource{"gps", 0.125};
    if (gainDb) {
        r.frontEnd.attenuationDb = 31;
        for (meta::ChannelGainSent& channel : r.frontEnd.channels)
            channel.requestedGainDb = channel.tableGainDb = *gainDb;
    }
    ASSERT_EQ(meta::writeSidecar(dir.file(name + ".meta.json"), r), "");
}

TEST(SounderPlace, InfoShowsThePositionsAndTheTimeSource)
{
    TempDir dir;
    writeRecording(dir, "rec.txt", meta::PositionSample{here(48.1173, -11.5), ""},
                   meta::PositionSample{std::nullopt, "no fix (4 sats)"});
    const RunResult run = runSounder(dir, "info rec.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* text :
         {"position at scan start: 48.1173000 N, 11.5000000 W, 592.2 m above the ellipsoid (545.5 m above sea level); "
          "3D fix, error 4.5 m, 11.5 m/s track 84.5 deg; GPS time 2026-12-08T09:00:00.000Z, 0.2 s old",
          "position at scan end: none (no fix (4 sats))", "time source: gps (system clock +0.125 s from GPS time)"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

// In a language that writes a decimal comma the tool's texts and pictures are those of
// any other: numbers keep their point (a comma there would run into the commas between
// latitude and longitude). The locale is made here where the system can make one.
TEST(SounderPlace, NumbersAreWrittenAlikeInEveryLocale)
{
    TempDir dir;
    writeRecording(dir, "rec.txt", meta::PositionSample{here(48.1173, -11.5), ""}, std::nullopt);
    const std::string locales = dir.file("locales");
    std::filesystem::create_directory(locales);
    const std::string make = "localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "no German locale can be made here (localedef and the locales package)";
    const std::vector<std::string> commands = {"info rec.txt", "analyze rec.txt --plot p.png --json p.json"};
    std::vector<RunResult> plain, german;
    std::vector<std::string> pictures[2];
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            ::setenv("LOCPATH", locales.c_str(), 1);
            ::setenv("LC_ALL", "de_DE.UTF-8", 1);
        }
        for (const std::string& command : commands) {
            std::filesystem::remove(dir.file("p.png"));
            (pass == 0 ? plain : german).push_back(runSounder(dir, command));
            pictures[pass].push_back(readBytes(dir.file("p.png")));
        }
        ::unsetenv("LOCPATH");
        ::unsetenv("LC_ALL");
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(german[i].status, 0) << commands[i] << ": " << german[i].err;
        EXPECT_EQ(german[i].out, plain[i].out) << commands[i];
        EXPECT_EQ(german[i].err, plain[i].err) << commands[i];
        EXPECT_TRUE(pictures[0][i] == pictures[1][i]) << commands[i];
    }
    EXPECT_NE(plain[0].out.find("592.2 m above the ellipsoid"), std::string::npos) << plain[0].out;
}

TEST(SounderPlace, AnalyzeAddsPositionAndDistanceColumnsPerFile)
{
    TempDir dir;
    writeRecording(dir, "a.txt", meta::PositionSample{here(0.0, 1.0), ""}, std::nullopt);
    writeRecording(dir, "b.txt", meta::PositionSample{std::nullopt, "no fix"},
                   meta::PositionSample{here(1.0, 0.0), ""});
    writeRecording(dir, "c.txt", std::nullopt, std::nullopt);
    struct Case {
        const char* origin;
        std::vector<std::string> extra;  // columns after the position
    } cases[] = {{"", {}}, {" --origin 0,0", {"distance_m"}}, {" --origin 0,0,592.25", {"distance_m", "straight_distance_m"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin);
        const RunResult run = runSounder(dir, std::string("analyze a.txt b.txt c.txt --csv out.csv") + c.origin);
        ASSERT_EQ(run.status, 0) << run.err;
        const Csv csv(readBytes(dir.file("out.csv")));
        std::vector<std::string> tail = {"latitude", "longitude", "altitude_m"};
        tail.insert(tail.end(), c.extra.begin(), c.extra.end());
        ASSERT_GE(csv.header.size(), tail.size());
        EXPECT_EQ(std::vector<std::string>(csv.header.end() - long(tail.size()), csv.header.end()), tail);
        int seen[3] = {};
        for (const auto& row : csv.rows) {
            const std::string file = csv.at(row, "file");
            const int k = file == "a.txt" ? 0 : file == "b.txt" ? 1 : 2;
            ++seen[k];
            const char* lat[] = {"0", "1", ""};
            const char* lon[] = {"1", "0", ""};
            EXPECT_EQ(csv.at(row, "latitude"), lat[k]);
            EXPECT_EQ(csv.at(row, "longitude"), lon[k]);
            EXPECT_EQ(csv.at(row, "altitude_m"), k == 2 ? "" : "592.25");
            if (c.extra.empty())
                continue;
            // 1 degree along the equator, and 1 degree of latitude from it, on WGS84.
            const double expected[] = {111319.49079327357, 110574.38855779878};
            if (k == 2)
                EXPECT_EQ(csv.at(row, "distance_m"), "");
            else
                EXPECT_NEAR(std::stod(csv.at(row, "distance_m")), expected[k], 1e-3);
            if (c.extra.size() == 2 && k != 2) {
                // The chord between the two points 592.25 m above the ellipsoid.
                const double chord = cli::straightDistanceM(0.0, 0.0, 592.25, lat[k][0] - '0', lon[k][0] - '0', 592.25);
                EXPECT_NEAR(std::stod(csv.at(row, "straight_distance_m")), chord, 1e-6);
                EXPECT_GT(chord, expected[k]);  // higher than the ellipsoid: longer than the arc on it
                EXPECT_LT(chord, expected[k] * (1.0 + 592.25 / 6378137.0));
            }
        }
        EXPECT_GT(seen[0], 0);
        EXPECT_GT(seen[1], 0);
        EXPECT_GT(seen[2], 0);
    }
    const RunResult bad = runSounder(dir, "analyze a.txt --csv out.csv --origin 91,0");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--origin must be LAT,LON"), std::string::npos) << bad.err;
}

TEST(SounderPlace, CampaignListsEveryRecordingAndSaysWhyThereIsNoFit)
{
    TempDir dir;
    writeRecording(dir, "a.txt", meta::PositionSample{here(0.0, 0.01), ""}, std::nullopt);
    writeRecording(dir, "b.txt", meta::PositionSample{here(0.0, 0.02), ""}, std::nullopt);
    writeRecording(dir, "c.txt", meta::PositionSample{std::nullopt, "no gpsd at localhost:2947"},
                   meta::PositionSample{std::nullopt, "no gpsd at localhost:2947"});
    writeBytes(dir.file("d.txt"), Bytes);  // no sidecar
    // A sidecar of another recording: e.txt was cut to one sweep after it was written.
    writeRecording(dir, "e.txt", meta::PositionSample{here(0.0, 0.03), ""}, std::nullopt);
    const std::string cut = recording(2, 2500, 1, 31);
    writeBytes(dir.file("e.txt"), cut);
    const RunResult run =
        runSounder(dir, "campaign a.txt b.txt c.txt d.txt e.txt --origin 0,0 --csv camp.csv --plot camp.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv csv(readBytes(dir.file("camp.csv")));
    ASSERT_EQ(csv.rows.size(), 5u);
    EXPECT_EQ(csv.at(csv.rows[4], "distance_m"), "");
    EXPECT_EQ(csv.at(csv.rows[4], "note"), "sidecar of another recording: it describes " +
                                               std::to_string(Bytes.size()) + " bytes where this one has " +
                                               std::to_string(cut.size()));
    const char* files[] = {"a.txt", "b.txt", "c.txt", "d.txt"};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(files[i]);
        const auto& row = csv.rows[i];
        EXPECT_EQ(csv.at(row, "file"), files[i]);
        EXPECT_EQ(csv.at(row, "in_fit"), "no");
        EXPECT_EQ(csv.at(row, "path_gain_db"), "");
        EXPECT_FALSE(csv.at(row, "median_rms_spread_bins_ch1").empty() && csv.at(row, "median_rms_spread_bins_ch2").empty() &&
                     csv.at(row, "median_rms_spread_bins_ch3").empty());
    }
    EXPECT_NEAR(std::stod(csv.at(csv.rows[0], "distance_m")), 1113.1949, 1e-3);
    EXPECT_NEAR(std::stod(csv.at(csv.rows[1], "distance_m")), 2226.3898, 1e-3);
    EXPECT_EQ(csv.at(csv.rows[0], "time_source"), "gps");
    EXPECT_EQ(csv.at(csv.rows[2], "note"), "no position: no gpsd at localhost:2947");
    EXPECT_EQ(csv.at(csv.rows[3], "note"), "no sidecar");
    for (const char* text : {"fit not made: no path gain: no calibration given",
                             "left out: c.txt (no position: no gpsd at localhost:2947)", "left out: d.txt (no sidecar)"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    const std::string png = readBytes(dir.file("camp.png"));
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");

    // An output on the standard output has it to itself: the summary goes to stderr, also
    // where the output names the standard output's file.
    for (const char* args : {"campaign a.txt b.txt c.txt d.txt e.txt --origin 0,0 --csv -",
                             "campaign a.txt b.txt c.txt d.txt e.txt --origin 0,0 --csv /dev/stdout",
                             "campaign a.txt b.txt c.txt d.txt e.txt --origin 0,0 --csv camp2.csv --plot -"}) {
        SCOPED_TRACE(args);
        const RunResult piped = runSounder(dir, args);
        ASSERT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(piped.out, std::string(args).find("--csv ") != std::string::npos &&
                                     std::string(args).find("--plot -") == std::string::npos
                                 ? readBytes(dir.file("camp.csv"))
                                 : png);
        EXPECT_NE(piped.err.find("fit not made: no path gain: no calibration given"), std::string::npos) << piped.err;
        EXPECT_NE(piped.err.find("left out: d.txt (no sidecar)"), std::string::npos) << piped.err;
    }

    for (const char* args : {"campaign a.txt --csv x.csv", "campaign a.txt --origin 0,0", "campaign a.txt --origin x,y --csv x.csv"}) {
        const RunResult usage = runSounder(dir, args);
        EXPECT_EQ(usage.status, 1) << args;
    }
}

cal::Calibration calibrationOf(int divider, std::vector<int> channels)
{
    cal::Calibration c;
    c.tool = "sounder calibrate test";
    c.madeUtc = "2026-12-08T08:00:00Z";
    c.inputs.push_back({"b2b.txt", std::string(64, '0'), "sidecar"});
    c.clockDivider = divider;
    c.throughDb = 60;
    for (int channel : channels)
        c.channels.push_back({channel, -12.5 + channel, -13.0 + channel, 600.25, 45});
    return c;
}

double number(const Csv& csv, const std::vector<std::string>& row, const std::string& name)
{
    const std::string text = csv.at(row, name);
    return text.empty() ? NAN : std::stod(text);
}

// Fifty recordings 100 m to 10 km from the transmitter, all of the same samples, whose
// sidecars say the receiver gain was higher the farther they were made: their path
// gains fall by 10 n log10(d) with n = 3 (to the table's 1 dB steps).
TEST(SounderPlace, CampaignWithACalibrationFitsThePathLossExponent)
{
    TempDir dir;
    writeBytes(dir.file("cal.json"), cal::toJson(calibrationOf(4, {1, 2, 3})));
    const double n = 3.0;
    const double metresPerDegree = 111319.490793;  // along the equator of WGS84
    std::string files;
    std::vector<int> gains;
    for (int i = 0; i < 50; ++i) {
        const double d = 100.0 * std::pow(100.0, i / 49.0);
        gains.push_back(5 + int(std::lround(10.0 * n * std::log10(d / 100.0))));
        const std::string name = "r" + std::to_string(i) + ".txt";
        writeRecording(dir, name, meta::PositionSample{here(0.0, d / metresPerDegree), ""}, std::nullopt, gains.back());
        files += name + " ";
    }
    writeRecording(dir, "nowhere.txt", meta::PositionSample{std::nullopt, "no fix"}, std::nullopt, 20);
    const RunResult run = runSounder(dir, "campaign " + files + "nowhere.txt --origin 0,0 --cal cal.json --csv camp.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv csv(readBytes(dir.file("camp.csv")));
    ASSERT_EQ(csv.rows.size(), 51u);

    // Each path gain is the median of the block path gains analyze --cal gives.
    const RunResult analyzed = runSounder(dir, "analyze r0.txt --cal cal.json --channel 1 --csv r0.csv");
    ASSERT_EQ(analyzed.status, 0) << analyzed.err;
    const Csv blocks(readBytes(dir.file("r0.csv")));
    ASSERT_EQ(blocks.of("block", 1).size(), 1u);
    const double gain0 = number(blocks, blocks.of("block", 1)[0], "path_gain_db");
    ASSERT_TRUE(std::isfinite(gain0));
    for (size_t i = 0; i < 50; ++i) {
        SCOPED_TRACE(csv.at(csv.rows[i], "file"));
        EXPECT_NEAR(number(csv, csv.rows[i], "path_gain_db"), gain0 - (gains[i] - gains[0]), 1e-9);
        EXPECT_EQ(csv.at(csv.rows[i], "in_fit"), "yes");
    }
    EXPECT_EQ(csv.at(csv.rows[50], "in_fit"), "no");
    EXPECT_FALSE(csv.at(csv.rows[50], "path_gain_db").empty());

    // "... path-loss exponent n = 3.000, path gain at 1 m G dB (PL0 ...), residual standard deviation S dB"
    const size_t at = run.out.find("fit over 50 recordings (path gain from cal.json, ch 1): path-loss exponent n = ");
    ASSERT_NE(at, std::string::npos) << run.out;
    const double fitted = std::stod(run.out.substr(run.out.find("n = ", at) + 4));
    EXPECT_NEAR(fitted, n, 0.05) << run.out;
    const double intercept = std::stod(run.out.substr(run.out.find("at 1 m ", at) + 7));
    EXPECT_NEAR(intercept, gain0 + 10.0 * n * 2.0, 0.5) << run.out;  // 100 m is 2 decades from 1 m
    const double residual = std::stod(run.out.substr(run.out.find("deviation ", at) + 10));
    EXPECT_LT(residual, 0.4) << run.out;
    EXPECT_NE(run.out.find("left out: nowhere.txt (no position: no fix)"), std::string::npos) << run.out;
}

// A calibration that does not serve the recordings is refused as analyze --cal refuses
// it: status 2, one line, and no table written; the channel it does hold can be chosen.
TEST(SounderPlace, CampaignRefusesACalibrationThatDoesNotServe)
{
    TempDir dir;
    writeRecording(dir, "a.txt", meta::PositionSample{here(0.0, 0.01), ""}, std::nullopt, 30);
    writeBytes(dir.file("div2.json"), cal::toJson(calibrationOf(2, {1, 2, 3})));
    writeBytes(dir.file("ch2.json"), cal::toJson(calibrationOf(4, {2})));
    writeBytes(dir.file("foreign.json"), R"({"schema": "sigmf", "channels": []})");
    const struct {
        const char* options;
        const char* line;
    } cases[] = {
        {"--cal div2.json", "a.txt: recorded at clock divider 4, div2.json calibrates divider 2"},
        {"--cal ch2.json", "a.txt: ch 1: ch2.json holds no calibration of it"},
        {"--cal ch2.json --channel 3", "a.txt: ch 3: ch2.json holds no calibration of it"},
        {"--cal missing.json", "missing.json: "},
        {"--cal foreign.json", "foreign.json: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const RunResult run = runSounder(dir, std::string("campaign a.txt --origin 0,0 --csv camp.csv ") + c.options);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("camp.csv")));
    }
    const RunResult chosen = runSounder(dir, "campaign a.txt --origin 0,0 --csv camp.csv --cal ch2.json --channel 2");
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    const Csv csv(readBytes(dir.file("camp.csv")));
    ASSERT_EQ(csv.rows.size(), 1u);
    EXPECT_FALSE(csv.at(csv.rows[0], "path_gain_db").empty());
    EXPECT_NE(chosen.out.find("fit not made: "), std::string::npos) << chosen.out;  // one recording is no fit
    EXPECT_EQ(runSounder(dir, "campaign a.txt --origin 0,0 --csv camp.csv --cal ch2.json --channel 4").status, 1);
}

}  // namespace

// A recording through a named pipe has no size beforehand: its sidecar is held against
// what came through, so a sidecar of another recording gives neither its position nor
// its metadata, where every one was taken as this recording's.
TEST(SounderPlace, ARecordingThroughAPipeIsHeldAgainstItsSidecarOnceRead)
{
    if (std::system("timeout --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no timeout here to keep a FIFO from holding the test";
    TempDir dir;
    writeRecording(dir, "same.txt", meta::PositionSample{here(0.0, 0.01), ""}, std::nullopt);
    writeBytes(dir.file("other.txt"), recording(2, 2500, 1, 31));  // cut to one sweep after it was written
    ASSERT_EQ(::mkfifo(dir.file("p").c_str(), 0600), 0);
    std::filesystem::copy_file(dir.file("same.txt.meta.json"), dir.file("p.meta.json"));
    const std::string another = "sidecar of another recording: it describes " + std::to_string(Bytes.size()) +
                                " bytes where this one has " + std::to_string(readBytes(dir.file("other.txt")).size());
    for (const char* fed : {"same.txt", "other.txt"}) {
        SCOPED_TRACE(fed);
        const bool same = std::string(fed) == "same.txt";
        const auto run = [&](const std::string& args) {
            const int raw = std::system(("cd '" + dir.file("") + "' && (timeout 20 cat " + fed + " > p &); timeout 20 '" +
                                         SOUNDER_BINARY + "' " + args + " >out.log 2>err.log")
                                            .c_str());
            EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << args << ": " << readBytes(dir.file("err.log"));
            return readBytes(dir.file("err.log"));
        };
        run("analyze p --csv out.csv --json out.json");
        const Csv csv(readBytes(dir.file("out.csv")));
        ASSERT_FALSE(csv.rows.empty());
        EXPECT_EQ(csv.at(csv.rows[0], "latitude"), same ? "0" : "");
        EXPECT_EQ(readBytes(dir.file("out.json")).find(another) != std::string::npos, !same);

        run("campaign p --origin 0,0 --csv camp.csv");
        const Csv camp(readBytes(dir.file("camp.csv")));
        ASSERT_EQ(camp.rows.size(), 1u);
        EXPECT_EQ(camp.at(camp.rows[0], "note"), same ? "" : another);

        const std::string said = run("convert p --to sigmf -o out");
        const std::string sigmf = readBytes(dir.file("out.sigmf-meta"));
        EXPECT_EQ(sigmf.find("core:geolocation") != std::string::npos, same) << sigmf;
        EXPECT_EQ(sigmf.find("core:sample_rate") != std::string::npos, same) << sigmf;
        EXPECT_EQ(said.find("p.meta.json: describes a recording of " + std::to_string(Bytes.size()) +
                            " bytes, not this one of ") != std::string::npos,
                  !same)
            << said;
    }
}
