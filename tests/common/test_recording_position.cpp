// Positions and the time source in the sidecar: both ways through the JSON, what a
// reader refuses, sidecars without them, the GeoJSON point and the time source rule.

#include "recording_metadata.h"
#include "recording_metadata_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

meta::Recording minimal()
{
    meta::Recording r;
    r.softwareName = "quenlo";
    r.softwareVersion = "1";
    r.scanStartedUtc = "2026-12-08T10:00:00.000Z";
    r.writtenUtc = "2026-12-08T10:00:01.000Z";
    r.recordingFile = "a.txt";
    r.result.status = "DONE";
    return r;
}

meta::Position fullFix()
{
    meta::Position p;
    p.latitudeDeg = 48.1173004321;
    p.longitudeDeg = -11.5166667891;
    p.altitudeM = 592.3;
    p.altitudeMslM = 545.4;
    p.mode = 3;
    p.horizontalErrorM = 17.1;
    p.verticalErrorM = 48.3;
    p.speedMps = 11.524;
    p.trackDeg = 84.4;
    p.gpsTimeUtc = "2026-12-08T09:59:59.000Z";
    p.ageS = 0.25;
    return p;
}

meta::Recording roundTrip(const meta::Recording& r)
{
    std::string error;
    const std::optional<meta::Recording> back = meta::fromJson(meta::toJson(r), &error);
    EXPECT_TRUE(back) << error;
    return back.value_or(meta::Recording{});
}

TEST(RecordingPosition, RoundTripsFixesReasonsAndTimeSource)
{
    meta::Position twoD;
    twoD.latitudeDeg = -90.0;
    twoD.longitudeDeg = 180.0;
    twoD.mode = 2;
    twoD.ageS = 3.5;
    struct Case {
        const char* name;
        std::optional<meta::PositionSample> start, end;
        std::optional<meta::TimeSource> time;
    } cases[] = {
        {"both fixes", meta::PositionSample{fullFix(), ""}, meta::PositionSample{twoD, ""},
         meta::TimeSource{"gps", 0.125}},
        {"end lost", meta::PositionSample{fullFix(), ""}, meta::PositionSample{std::nullopt, "no fix (4 satellites)"},
         meta::TimeSource{"system", -3600.5}},
        {"no gpsd", meta::PositionSample{std::nullopt, "no gpsd at localhost:2947 (Connection refused)"},
         meta::PositionSample{std::nullopt, "no gpsd at localhost:2947 (Connection refused)"},
         meta::TimeSource{"system", std::nullopt}},
        {"older sidecar", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        meta::Recording r = minimal();
        r.positionStart = c.start;
        r.positionEnd = c.end;
        r.timeSource = c.time;
        const meta::Recording b = roundTrip(r);
        for (const auto& [was, is] : {std::pair{&r.positionStart, &b.positionStart}, {&r.positionEnd, &b.positionEnd}}) {
            ASSERT_EQ(was->has_value(), is->has_value());
            if (!*was)
                continue;
            ASSERT_EQ((*was)->fix.has_value(), (*is)->fix.has_value());
            if (!(*was)->fix) {
                EXPECT_EQ((*was)->reason, (*is)->reason);
                continue;
            }
            const meta::Position &p = *(*was)->fix, &q = *(*is)->fix;
            EXPECT_EQ(p.latitudeDeg, q.latitudeDeg);  // exact: JSON numbers keep 17 digits
            EXPECT_EQ(p.longitudeDeg, q.longitudeDeg);
            EXPECT_EQ(p.altitudeM, q.altitudeM);
            EXPECT_EQ(p.altitudeMslM, q.altitudeMslM);
            EXPECT_EQ(p.mode, q.mode);
            EXPECT_EQ(p.horizontalErrorM, q.horizontalErrorM);
            EXPECT_EQ(p.verticalErrorM, q.verticalErrorM);
            EXPECT_EQ(p.speedMps, q.speedMps);
            EXPECT_EQ(p.trackDeg, q.trackDeg);
            EXPECT_EQ(p.gpsTimeUtc, q.gpsTimeUtc);
            EXPECT_EQ(p.ageS, q.ageS);
        }
        ASSERT_EQ(r.timeSource.has_value(), b.timeSource.has_value());
        if (r.timeSource) {
            EXPECT_EQ(r.timeSource->source, b.timeSource->source);
            EXPECT_EQ(r.timeSource->offsetS, b.timeSource->offsetS);
        }
        // An older sidecar has no "position" member at all.
        EXPECT_EQ(meta::toJson(r).find("\"position\"") != std::string::npos, c.start.has_value());
    }
}

TEST(RecordingPosition, RefusesPositionsOutOfRangeOrOfTheWrongKind)
{
    meta::Recording r = minimal();
    r.positionStart = meta::PositionSample{fullFix(), ""};
    r.positionEnd = meta::PositionSample{std::nullopt, "no fix"};
    r.timeSource = meta::TimeSource{"gps", 0.0};
    const QJsonObject good = meta::recordingJson(r);
    struct Case {
        const char* name;
        std::function<void(QJsonObject&)> spoil;
        const char* error;
    } cases[] = {
        {"latitude past the pole", [](QJsonObject& o) { o["latitude_deg"] = 90.5; }, "position.start.latitude_deg"},
        {"longitude as text", [](QJsonObject& o) { o["longitude_deg"] = "11.5"; }, "position.start.longitude_deg"},
        {"mode 1D", [](QJsonObject& o) { o["mode"] = "1D"; }, "position.start.mode"},
        {"negative error", [](QJsonObject& o) { o["horizontal_error_m"] = -1.0; }, "position.start.horizontal_error_m"},
        {"no age", [](QJsonObject& o) { o.remove("age_s"); }, "position.start.age_s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonObject root = good;
        QJsonObject position = root["position"].toObject();
        QJsonObject start = position["start"].toObject();
        c.spoil(start);
        position["start"] = start;
        root["position"] = position;
        std::string error;
        EXPECT_FALSE(meta::fromJson(QJsonDocument(root).toJson().toStdString(), &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    const std::pair<const char*, QJsonValue> roots[] = {
        {"time_source", QJsonValue("ntp")}, {"position", QJsonValue(3)}, {"time_offset_s", QJsonValue("1")}};
    for (const auto& [key, value] : roots) {
        SCOPED_TRACE(key);
        QJsonObject root = good;
        root[QLatin1String(key)] = value;
        std::string error;
        EXPECT_FALSE(meta::fromJson(QJsonDocument(root).toJson().toStdString(), &error));
        EXPECT_NE(error.find(key), std::string::npos) << error;
    }
}

// What a receiver gives is kept as a sidecar holds it: a latitude, longitude or mode out
// of range is no fix, and an optional value out of the reader's range is left out, so
// that every sidecar written reads back (and with what was kept, unchanged).
TEST(RecordingPosition, WhatIsRecordedIsWhatASidecarReads)
{
    const double nan = std::nan("");
    const double inf = INFINITY;
    const struct {
        const char* what;
        std::function<void(meta::Position&)> change;
        bool fix;                                          // still a fix
        std::function<bool(const meta::Position&)> kept;  // what the kept fix shows
    } cases[] = {
        {"a whole fix", [](meta::Position&) {}, true, [](const meta::Position& p) { return p.altitudeM == 592.3; }},
        {"the poles and the date line", [](meta::Position& p) { p.latitudeDeg = -90.0; p.longitudeDeg = 180.0; }, true,
         [](const meta::Position& p) { return p.latitudeDeg == -90.0; }},
        {"latitude past the pole", [](meta::Position& p) { p.latitudeDeg = 90.5; }, false, {}},
        {"longitude past the date line", [](meta::Position& p) { p.longitudeDeg = -180.25; }, false, {}},
        {"latitude not a number", [nan](meta::Position& p) { p.latitudeDeg = nan; }, false, {}},
        {"no mode", [](meta::Position& p) { p.mode = 0; }, false, {}},
        {"altitude beyond orbit", [](meta::Position& p) { p.altitudeM = 2e8; }, true,
         [](const meta::Position& p) { return !p.altitudeM && p.altitudeMslM == 545.4; }},
        {"a negative error", [](meta::Position& p) { p.horizontalErrorM = -1.0; }, true,
         [](const meta::Position& p) { return !p.horizontalErrorM && p.verticalErrorM == 48.3; }},
        {"a track of two turns", [](meta::Position& p) { p.trackDeg = 720.0; }, true,
         [](const meta::Position& p) { return !p.trackDeg && p.speedMps == 11.524; }},
        {"an endless speed", [inf](meta::Position& p) { p.speedMps = inf; }, true,
         [](const meta::Position& p) { return !p.speedMps; }},
        {"an age not a number", [nan](meta::Position& p) { p.ageS = nan; }, true,
         [](const meta::Position& p) { return p.ageS == 0.0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        meta::Position p = fullFix();
        c.change(p);
        const std::optional<meta::Position> kept = meta::positionToRecord(p);
        ASSERT_EQ(kept.has_value(), c.fix);
        if (!kept)
            continue;
        EXPECT_TRUE(c.kept(*kept));
        meta::Recording r = minimal();
        r.positionStart = meta::PositionSample{kept, {}};
        std::string error;
        const std::optional<meta::Recording> back = meta::fromJson(meta::toJson(r), &error);
        ASSERT_TRUE(back) << error;
        ASSERT_TRUE(back->positionStart && back->positionStart->fix);
        const meta::Position& read = *back->positionStart->fix;
        EXPECT_EQ(read.latitudeDeg, kept->latitudeDeg);
        EXPECT_EQ(read.altitudeM, kept->altitudeM);
        EXPECT_EQ(read.horizontalErrorM, kept->horizontalErrorM);
        EXPECT_EQ(read.trackDeg, kept->trackDeg);
        EXPECT_EQ(read.speedMps, kept->speedMps);
        EXPECT_EQ(read.ageS, kept->ageS);
    }
}

TEST(RecordingPosition, GeolocationIsAGeoJsonPointLongitudeFirst)
{
    meta::Position p = fullFix();
    QJsonObject point = meta::geolocationJson(p);
    EXPECT_EQ(point["type"].toString(), "Point");
    const QJsonArray with = point["coordinates"].toArray();
    ASSERT_EQ(with.size(), 3);
    EXPECT_EQ(with[0].toDouble(), p.longitudeDeg);
    EXPECT_EQ(with[1].toDouble(), p.latitudeDeg);
    EXPECT_EQ(with[2].toDouble(), *p.altitudeM);  // above the ellipsoid, not sea level
    p.altitudeM.reset();
    EXPECT_EQ(meta::geolocationJson(p)["coordinates"].toArray().size(), 2);

    // A recording's point: the start's fix, else the end's, else none.
    meta::Recording r = minimal();
    EXPECT_FALSE(meta::recordingGeolocation(r));
    r.positionStart = meta::PositionSample{std::nullopt, "no fix"};
    r.positionEnd = meta::PositionSample{p, ""};
    ASSERT_TRUE(meta::recordingGeolocation(r));
    EXPECT_EQ((*meta::recordingGeolocation(r))["coordinates"].toArray()[1].toDouble(), p.latitudeDeg);
    meta::Position start = fullFix();
    start.latitudeDeg = 1.5;
    r.positionStart = meta::PositionSample{start, ""};
    EXPECT_EQ((*meta::recordingGeolocation(r))["coordinates"].toArray()[1].toDouble(), 1.5);
    r.positionStart = meta::PositionSample{std::nullopt, "no fix"};
    r.positionEnd = meta::PositionSample{std::nullopt, "no fix"};
    EXPECT_FALSE(meta::recordingGeolocation(r));
}

TEST(RecordingPosition, TimeSourceIsGpsOnlyWithinASecond)
{
    // 2026-12-08T09:59:59Z in seconds since 1970.
    const double fixTime = 1796723999.0;
    struct Case {
        const char* name;
        double systemMinusFix;  // system clock minus the fix's time, as taken
        double age;
        const char* source;
        std::optional<double> offset;
    } cases[] = {
        {"in step", 0.25, 0.25, "gps", 0.0},
        {"just within", 1.75, 0.75, "gps", 1.0},
        {"clock behind", -1.5, 0.0, "system", -1.5},
        {"clock ahead an hour", 3600.0, 0.0, "system", 3600.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const meta::TimeSource t =
            meta::timeSourceFor(meta::PositionSample{[&] {
                                    meta::Position p = fullFix();
                                    p.ageS = c.age;
                                    return p;
                                }(),
                                                     ""},
                                fixTime + c.systemMinusFix);
        EXPECT_EQ(t.source, c.source);
        ASSERT_TRUE(t.offsetS);
        EXPECT_NEAR(*t.offsetS, *c.offset, 1e-6);
    }
    meta::Position noTime = fullFix();
    noTime.gpsTimeUtc.clear();
    for (const meta::PositionSample& s : {meta::PositionSample{std::nullopt, "no fix"}, meta::PositionSample{noTime, ""}}) {
        const meta::TimeSource t = meta::timeSourceFor(s, fixTime);
        EXPECT_EQ(t.source, "system");
        EXPECT_FALSE(t.offsetS);
    }
}

}  // namespace
