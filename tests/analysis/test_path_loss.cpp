// Where recordings were made, in the tool's own terms: the --origin text, geodesic and
// straight distances on WGS84, the log-distance fit of path gain and the campaign's
// rows over synthetic recordings.

#include "campaign_command.h"
#include "path_loss_fit.h"
#include "recording_place.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// A fix the given metres due north of the origin 10, 20: a metre of meridian arc near
// 10 degrees is about 1 / 110600 degree.
meta::Position northOfOrigin(double metres)
{
    meta::Position p;
    p.latitudeDeg = 10.0 + metres / 110600.0;
    p.longitudeDeg = 20.0;
    p.mode = 3;
    return p;
}

TEST(Origin, ReadsLatLonAndHeightOrRefuses)
{
    struct Case {
        const char* text;
        bool ok;
        double lat, lon;
        std::optional<double> alt;
    } cases[] = {
        {"48.1173,11.5166667", true, 48.1173, 11.5166667, std::nullopt},
        {"-52.2, -0.125, 45.5", true, -52.2, -0.125, 45.5},
        {"+90,-180", true, 90.0, -180.0, std::nullopt},
        {"90.0001,0", false, 0, 0, std::nullopt},
        {"0,180.5", false, 0, 0, std::nullopt},
        {"48.1", false, 0, 0, std::nullopt},
        {"1,2,3,4", false, 0, 0, std::nullopt},
        {"1,,3", false, 0, 0, std::nullopt},
        {"1,2,", false, 0, 0, std::nullopt},
        {"north,2", false, 0, 0, std::nullopt},
        {"nan,2", false, 0, 0, std::nullopt},
        {"1e1,2", true, 10.0, 2.0, std::nullopt},
        {" 48.5 ,\t11 , 3 ", true, 48.5, 11.0, 3.0},
        {"4 8,11", false, 0, 0, std::nullopt},
        {"48,1 1", false, 0, 0, std::nullopt},
        {"48,11,5 0", false, 0, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<cli::Origin> o = cli::parseOrigin(c.text);
        ASSERT_EQ(o.has_value(), c.ok);
        if (o) {
            EXPECT_EQ(o->latitudeDeg, c.lat);
            EXPECT_EQ(o->longitudeDeg, c.lon);
            EXPECT_EQ(o->altitudeM, c.alt);
        }
    }
}

TEST(Distance, GeodesicOnTheEllipsoidNotASphere)
{
    struct Case {
        const char* name;
        double lat1, lon1, lat2, lon2, metres, tolerance;
    } cases[] = {
        // A sphere of any one radius gets these two equal; WGS84 does not.
        {"1 degree along the equator", 0, 0, 0, 1, 6378137.0 * M_PI / 180.0, 1e-3},
        {"1 degree of latitude from the equator", 0, 0, 1, 0, 110574.3886, 1e-3},
        {"JFK to LHR", 40.6, -73.8, 51.6, -0.5, 5551759.400, 1e-2},
        {"the same point", 48.1, 11.5, 48.1, 11.5, 0.0, 1e-9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(cli::geodesicDistanceM(c.lat1, c.lon1, c.lat2, c.lon2), c.metres, c.tolerance);
    }
    EXPECT_NEAR(cli::straightDistanceM(48.1, 11.5, 500.0, 48.1, 11.5, 600.0), 100.0, 1e-6);
    EXPECT_NEAR(cli::straightDistanceM(0, 0, 0, 0, 1, 0), 2.0 * 6378137.0 * std::sin(M_PI / 360.0), 1e-6);

    cli::Origin origin{0.0, 0.0, std::nullopt};
    meta::Position p;
    p.longitudeDeg = 1.0;
    p.altitudeM = 50.0;
    cli::Distances d = cli::distancesFrom(origin, p);
    EXPECT_NEAR(d.geodesicM, 6378137.0 * M_PI / 180.0, 1e-3);
    EXPECT_FALSE(d.straightM);  // the origin has no height
    origin.altitudeM = 50.0;
    d = cli::distancesFrom(origin, p);
    ASSERT_TRUE(d.straightM);
    EXPECT_NEAR(*d.straightM, 2.0 * (6378137.0 + 50.0) * std::sin(M_PI / 360.0), 1e-6);
}

// 50 recordings between 10 m and 10 km whose path gains follow -(PL0 + 10 n log10 d)
// with noise of a known deviation.
struct Synthetic {
    std::vector<cli::PathGainPoint> points;
    double n, pl0, sigma;
};
Synthetic synthetic(double n, double pl0, double sigma, unsigned seed)
{
    Synthetic s{{}, n, pl0, sigma};
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> decades(1.0, 4.0);
    std::normal_distribution<double> noise(0.0, sigma);
    for (int i = 0; i < 50; ++i) {
        const double d = std::pow(10.0, decades(random));
        s.points.push_back({d, -(pl0 + 10.0 * n * std::log10(d)) + noise(random)});
    }
    return s;
}

TEST(PathLossFit, RecoversTheExponentAndTheNoiseOfSyntheticRecordings)
{
    for (const Synthetic& s : {synthetic(2.0, 40.0, 1.0, 1), synthetic(3.5, 31.0, 1.0, 2), synthetic(2.7, 47.0, 2.0, 3)}) {
        SCOPED_TRACE(s.n);
        std::string why;
        const std::optional<cli::PathLossFit> fit = cli::fitPathLoss(s.points, &why);
        ASSERT_TRUE(fit) << why;
        EXPECT_NEAR(fit->exponent, s.n, 0.05 * s.sigma);
        EXPECT_NEAR(fit->residualStdDb, s.sigma, 0.3);
        // Extrapolated a decade below the nearest recording: its error is some 0.45 sigma.
        EXPECT_NEAR(-fit->interceptGainDb, s.pl0, 1.5 * s.sigma);
        EXPECT_EQ(fit->points, 50);
    }
    // Exact points: the fit is exact.
    std::vector<cli::PathGainPoint> exact;
    for (double d : {1.0, 10.0, 100.0, 1000.0})
        exact.push_back({d, -20.0 - 30.0 * std::log10(d)});
    const std::optional<cli::PathLossFit> fit = cli::fitPathLoss(exact, nullptr);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->exponent, 3.0, 1e-12);
    EXPECT_NEAR(fit->interceptGainDb, -20.0, 1e-12);
    EXPECT_NEAR(fit->residualStdDb, 0.0, 1e-12);
}

TEST(PathLossFit, SaysWhyItCannotBeMade)
{
    const std::pair<std::vector<cli::PathGainPoint>, const char*> cases[] = {
        {{}, "fewer than 3"},
        {{{10, -60}, {100, -80}}, "fewer than 3"},
        {{{10, -60}, {10, -61}, {10, -59}}, "one distance"},
        {{{0, -60}, {10, -61}, {100, -59}}, "distance 0"},
        {{{5, NAN}, {10, -61}, {100, -59}}, "no finite path gain"},
    };
    for (const auto& [points, text] : cases) {
        std::string why;
        EXPECT_FALSE(cli::fitPathLoss(points, &why));
        EXPECT_NE(why.find(text), std::string::npos) << why;
    }
}

// The campaign over 50 synthetic recordings placed due north of the origin at their
// distance, a path gain per recording through the calibration hook, and two more
// without a position.
TEST(Campaign, RowsAndFitOverSyntheticRecordings)
{
    const Synthetic s = synthetic(3.0, 38.0, 1.0, 7);
    cli::CampaignSettings settings;
    settings.origin = {10.0, 20.0, std::nullopt};
    std::map<std::string, double> gains;
    std::vector<cli::RecordingAnalysis> results;
    std::vector<cli::RecordingPlace> places;
    for (size_t i = 0; i < s.points.size() + 2; ++i) {
        cli::RecordingAnalysis r;
        r.path = "rec" + std::to_string(i) + ".txt";
        cli::ChannelAnalysis ch;
        ch.channel = 2;
        for (double spread : {3.0, 1.0 + double(i), 2.0}) {
            DelayMetrics m{};
            m.rmsSpreadBins = spread;
            ch.blocks.push_back(m);
        }
        r.channels.push_back(ch);
        cli::RecordingPlace place;
        place.timeUtc = "2026-12-08T10:00:00.000Z";
        if (i < s.points.size()) {
            place.position = northOfOrigin(s.points[i].distanceM);
            gains[r.path] = s.points[i].pathGainDb;
        } else {
            place.note = "no position: no fix";
            gains[r.path] = -50.0;  // has a gain, but no distance
        }
        results.push_back(r);
        places.push_back(place);
    }

    const cli::Campaign without = cli::buildCampaign(results, places, settings);
    EXPECT_FALSE(without.fit);
    EXPECT_EQ(without.fitNote, "no path gain: no calibration given");
    EXPECT_NE(cli::campaignSummary(without, settings).find("fit not made: no path gain"), std::string::npos);

    settings.pathGain = [&](const cli::RecordingAnalysis& r) -> std::optional<double> { return gains.at(r.path); };
    settings.pathGainSource = "synthetic";
    const cli::Campaign c = cli::buildCampaign(results, places, settings);
    ASSERT_EQ(c.rows.size(), 52u);
    ASSERT_TRUE(c.fit) << c.fitNote;
    EXPECT_EQ(c.fit->points, 50);
    EXPECT_NEAR(c.fit->exponent, 3.0, 0.05);
    EXPECT_NEAR(c.fit->residualStdDb, 1.0, 0.3);
    for (size_t i = 0; i < c.rows.size(); ++i) {
        SCOPED_TRACE(i);
        const cli::CampaignRow& row = c.rows[i];
        EXPECT_EQ(row.medianRmsSpreadBins[1], i == 0 ? 2.0 : i == 1 ? 2.0 : 3.0);  // median of 3, 1 + i, 2
        EXPECT_FALSE(row.medianRmsSpreadBins[0]);
        if (i < 50) {
            ASSERT_TRUE(row.distance);
            EXPECT_NEAR(row.distance->geodesicM, s.points[i].distanceM, 0.002 * s.points[i].distanceM);
            EXPECT_TRUE(row.inFit);
        } else {
            EXPECT_FALSE(row.inFit);
            EXPECT_EQ(row.note, "no position: no fix");
        }
    }
    const std::string summary = cli::campaignSummary(c, settings);
    EXPECT_NE(summary.find("fit over 50 recordings (path gain from synthetic): path-loss exponent n = 3.0"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("left out: rec51.txt (no position: no fix)"), std::string::npos) << summary;
}

// The fields of a CSV text as a reader that knows quoting sees them, row by row.
std::vector<std::vector<std::string>> readCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                rows.back().back() += text[++i];
            else if (c == '"')
                quoted = false;
            else
                rows.back().back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    if (rows.back().size() == 1 && rows.back().front().empty())
        rows.pop_back();
    return rows;
}

// Whatever a sidecar's texts hold, each recording stays one row of the table with
// every field in its column.
TEST(Campaign, SidecarTextsStayInTheirFields)
{
    const std::pair<std::string, std::string> cases[] = {
        {"2026-12-08T10:00:00.000Z", "gps"},
        {"x,y", "system"},
        {"say \"now\"", "g,p\"s"},
        {"one\r\ntwo", "\n"},
        {"", ""},
    };
    cli::CampaignSettings settings;
    settings.origin = {10.0, 20.0, std::nullopt};
    std::vector<cli::RecordingAnalysis> results;
    std::vector<cli::RecordingPlace> places;
    for (const auto& [time, source] : cases) {
        cli::RecordingAnalysis r;
        r.path = "rec, " + std::to_string(results.size()) + ".txt";
        results.push_back(r);
        cli::RecordingPlace place;
        place.timeUtc = time;
        place.timeSource = source;
        place.note = "no position: " + time;
        places.push_back(place);
    }
    const cli::Campaign c = cli::buildCampaign(results, places, settings);
    const std::vector<std::vector<std::string>> rows = readCsv(cli::campaignCsv(c, settings));
    ASSERT_EQ(rows.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string>& row = rows[i + 1];
        ASSERT_EQ(row.size(), rows[0].size());
        EXPECT_EQ(row[0], results[i].path);
        EXPECT_EQ(row[1], cases[i].first);
        EXPECT_EQ(row[2], cases[i].second);
        EXPECT_EQ(row.back(), places[i].note);
    }
}

// A recording made at the transmitter's place has no log distance: it is left out of
// the fit, with a note, and the fit is made over the others.
TEST(Campaign, ARecordingAtTheOriginIsLeftOutOfTheFitNotTheFit)
{
    cli::CampaignSettings settings;
    settings.origin = {10.0, 20.0, std::nullopt};
    // Metres due north of the origin, and each recording's path gain: n = 2, G0 = -30 dB.
    const double metres[] = {0.0, 100.0, 1000.0, 10000.0, 0.0};
    std::vector<cli::RecordingAnalysis> results;
    std::vector<cli::RecordingPlace> places;
    std::map<std::string, double> gains;
    for (const double d : metres) {
        cli::RecordingAnalysis r;
        r.path = "rec" + std::to_string(results.size()) + ".txt";
        cli::RecordingPlace place;
        place.position = northOfOrigin(d);
        gains[r.path] = d > 0.0 ? -30.0 - 20.0 * std::log10(d) : -20.0;
        results.push_back(r);
        places.push_back(place);
    }
    settings.pathGain = [&](const cli::RecordingAnalysis& r) -> std::optional<double> { return gains.at(r.path); };
    settings.pathGainSource = "synthetic";
    const cli::Campaign c = cli::buildCampaign(results, places, settings);
    ASSERT_TRUE(c.fit) << c.fitNote;
    EXPECT_EQ(c.fit->points, 3);
    EXPECT_NEAR(c.fit->exponent, 2.0, 0.01);
    for (const size_t i : {size_t(0), size_t(4)}) {
        EXPECT_FALSE(c.rows[i].inFit);
        EXPECT_EQ(c.rows[i].note, "at the origin (distance 0 m): no log distance to fit");
        EXPECT_EQ(c.rows[i].pathGainDb, -20.0);  // still in the table
    }
    EXPECT_TRUE(c.rows[1].inFit);
    const std::string summary = cli::campaignSummary(c, settings);
    EXPECT_NE(summary.find("fit over 3 recordings"), std::string::npos) << summary;
    EXPECT_NE(summary.find("left out: rec4.txt (at the origin (distance 0 m)"), std::string::npos) << summary;
    const std::vector<std::vector<std::string>> rows = readCsv(cli::campaignCsv(c, settings));
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[1][12], "no");
    EXPECT_EQ(rows[2][12], "yes");
}

// The summary names the calibration and the origin as they are, however long, and the
// fit's numbers follow them.
TEST(Campaign, SummaryLinesAreWrittenWholeWhateverTheirLength)
{
    std::vector<cli::RecordingAnalysis> results;
    std::vector<cli::RecordingPlace> places;
    for (const double d : {10.0, 100.0, 1000.0}) {
        cli::RecordingAnalysis r;
        r.path = "rec" + std::to_string(results.size()) + ".txt";
        cli::RecordingPlace place;
        place.position = northOfOrigin(d);
        results.push_back(r);
        places.push_back(place);
    }
    const struct Case {
        std::string source;
        std::optional<double> altitude;
        std::string origin;
    } cases[] = {
        {"cal.json, ch 1", 12.25, "origin 10.0000000, 20.0000000, 12.2 m; 3 recordings\n"},
        {std::string(300, 'c') + "/cal.json, ch 2", std::nullopt, "origin 10.0000000, 20.0000000; 3 recordings\n"},
        {"cal.json, ch 3", 1e300, "origin 10.0000000, 20.0000000, 1" + std::string(300, '0') + ".0 m; 3 recordings\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.source.substr(0, 20));
        cli::CampaignSettings settings;
        settings.origin = {10.0, 20.0, k.altitude};
        settings.pathGain = [](const cli::RecordingAnalysis& r) -> std::optional<double> {
            return -40.0 - 20.0 * double(r.path[3] - '0');  // n = 2 over 10, 100 and 1000 m
        };
        settings.pathGainSource = k.source;
        const cli::Campaign c = cli::buildCampaign(results, places, settings);
        ASSERT_TRUE(c.fit) << c.fitNote;
        const std::string summary = cli::campaignSummary(c, settings);
        // %.1f of 1e300 is the double's exact decimal value, not 1 and 300 zeros: compare its length and ends.
        const std::string first = summary.substr(0, summary.find('\n') + 1);
        EXPECT_EQ(first.size(), k.origin.size()) << first;
        EXPECT_EQ(first.substr(0, 30), k.origin.substr(0, 30));
        EXPECT_EQ(first.substr(first.size() - 20), k.origin.substr(k.origin.size() - 20));
        EXPECT_NE(summary.find("fit over 3 recordings (path gain from " + k.source +
                               "): path-loss exponent n = 2.000, path gain at 1 m -20.00 dB (PL0 20.00 dB), "
                               "residual standard deviation 0.00 dB\n"),
                  std::string::npos)
            << summary;
    }
}

// The summary shows file names and a sidecar's reasons as every message does: control
// characters and line ends written out, never sent to the terminal as they stand.
TEST(Campaign, SummaryShowsNamesAndReasonsPrintably)
{
    const struct Case {
        std::string file, reason, shown;
    } cases[] = {
        {"plain.txt", "no position: no fix", "left out: plain.txt (no position: no fix)\n"},
        {"two\nlines.txt", "no sidecar", "left out: two\\nlines.txt (no sidecar)\n"},
        {"r\xc3\xa9sum\xc3\xa9.txt", "no position: no fix (4 sats)",
         "left out: r\xc3\xa9sum\xc3\xa9.txt (no position: no fix (4 sats))\n"},
        {"esc.txt", "no position: \x1b[2J\x1b]0;title\x07\r\nleft out: fake.txt (x)",
         "left out: esc.txt (no position: \\x1b[2J\\x1b]0;title\\x07\\r\\nleft out: fake.txt (x))\n"},
    };
    cli::CampaignSettings settings;
    settings.origin = {10.0, 20.0, std::nullopt};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        cli::RecordingAnalysis r;
        r.path = k.file;
        cli::RecordingPlace place;
        place.note = k.reason;
        const cli::Campaign c = cli::buildCampaign({r}, {place}, settings);
        const std::string summary = cli::campaignSummary(c, settings);
        EXPECT_NE(summary.find(k.shown), std::string::npos) << summary;
        EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 3) << summary;
        EXPECT_EQ(summary.find('\x1b'), std::string::npos) << summary;
        EXPECT_EQ(summary.find('\r'), std::string::npos) << summary;
    }
}

}  // namespace
