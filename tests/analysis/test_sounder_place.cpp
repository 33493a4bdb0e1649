// The sounder tool on recordings whose sidecars hold positions: `info` shows them,
// `analyze` adds each file's latitude, longitude, height and distance, and
// `campaign` lists the recordings and says why no fit is made without path gains.

#include "analyze_fixture.h"
#include "digest.h"
#include "recording_metadata.h"
#include "recording_place.h"
#include "run_sounder.h"

#include <gtest/gtest.h>

#include <cmath>

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
void writeRecording(const TempDir& dir, const std::string& name, std::optional<meta::PositionSample> start,
                    std::optional<meta::PositionSample> end)
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
    const RunResult run = runSounder(dir, "campaign a.txt b.txt c.txt d.txt --origin 0,0 --csv camp.csv --plot camp.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv csv(readBytes(dir.file("camp.csv")));
    ASSERT_EQ(csv.rows.size(), 4u);
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

    for (const char* args : {"campaign a.txt --csv x.csv", "campaign a.txt --origin 0,0", "campaign a.txt --origin x,y --csv x.csv"}) {
        const RunResult usage = runSounder(dir, args);
        EXPECT_EQ(usage.status, 1) << args;
    }
}

}  // namespace
