// "Acquire" with a real gpsd: gpsfake replays an NMEA log written here into a gpsd on
// a free local port, read by the program's own gpsd reader. Also gpsd stopped while the
// scan runs, no gpsd at all, and a port that accepts and never answers.

#include "capture_fixture.h"
#include "gps_reader.h"
#include "gpsd_fixture.h"
#include "recording_metadata.h"

#include <QFile>
#include <QLabel>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using namespace gpsdfix;

// South and west, with minutes to six places: what NMEA carries to 1e-7 degree.
constexpr Place Here{-52.20576130, -0.12757202, 45.3, 47.1};

class GpsdAcquire : public capfix::CaptureTest {
protected:
    void SetUp() override
    {
        capfix::CaptureTest::SetUp();
        const QString missing = missingDaemon();
        if (!missing.isEmpty())
            GTEST_SKIP() << "skipped: " << missing.toStdString();
    }
    void TearDown() override
    {
        if (form)
            form->setGpsSource(nullptr);
        reader.reset();
        capfix::CaptureTest::TearDown();
    }
    void read(const std::string& host, int port)
    {
        reader = std::make_unique<GpsReader>(GpsdAddress{host, std::to_string(port)});
        form->setGpsSource(reader.get());
    }
    bool waitFor(const std::function<bool(const GpsState&)>& done, std::chrono::milliseconds limit = 15s)
    {
        return waitUntil([&] { return done(reader->latest()); }, limit);
    }
    static bool hasFix(const GpsState& s) { return positionAt(s, GpsClock::now()).fix.has_value(); }

    // Marker pulses every 5000 groups; `duringScan` runs while the scan is under way.
    void scanWith(std::function<void()> duringScan)
    {
        boardsim::setScanSource([duringScan](uint16_t* samples, int32_t count) {
            if (duringScan)
                duringScan();
            for (int32_t g = 0; g < count / 4; ++g) {
                samples[4 * g] = samples[4 * g + 1] = samples[4 * g + 2] = 2048;
                samples[4 * g + 3] = g % 5000 == 0 ? 4000 : 100;
            }
        });
    }
    meta::Recording acquire(double* seconds = nullptr)
    {
        const QString file = path("drive.txt");
        dialogs.saveAnswers.push_back(file);
        const auto begin = std::chrono::steady_clock::now();
        form->Button6Click();
        if (seconds)
            *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_EQ(current().text, "DONE");
        QFile f(file + ".meta.json");
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        std::string error;
        const std::optional<meta::Recording> r = meta::fromJson(f.readAll().toStdString(), &error);
        EXPECT_TRUE(r) << error;
        return r.value_or(meta::Recording{});
    }

    std::unique_ptr<GpsReader> reader;
    FakeGpsd gpsd;
};

TEST_F(GpsdAcquire, SidecarHoldsTheLogsPositionAndTime)
{
    startReady(2, 2);
    ASSERT_TRUE(gpsd.start(path("."), nmeaLog(Here, 30, 0), 0.05, false));
    read("localhost", gpsd.port());
    ASSERT_TRUE(waitFor([](const GpsState& s) { return hasFix(s) && s.mode == 3; }))
        << gpsStatusLine(reader->latest(), GpsClock::now());
    scanWith({});
    const meta::Recording r = acquire();
    for (const auto* sample : {&r.positionStart, &r.positionEnd}) {
        ASSERT_TRUE(*sample && (*sample)->fix) << (*sample ? (*sample)->reason : "absent");
        const meta::Position& p = *(*sample)->fix;
        EXPECT_NEAR(p.latitudeDeg, Here.latitude, 1e-6);
        EXPECT_NEAR(p.longitudeDeg, Here.longitude, 1e-6);
        EXPECT_EQ(p.mode, 3);
        ASSERT_TRUE(p.altitudeMslM);
        EXPECT_NEAR(*p.altitudeMslM, Here.altitudeMsl, 1e-3);
        ASSERT_TRUE(p.altitudeM);
        EXPECT_NEAR(*p.altitudeM, Here.altitudeMsl + Here.geoidSeparation, 1e-3);
        ASSERT_TRUE(p.speedMps);
        EXPECT_NEAR(*p.speedMps, 10.0 * 1852.0 / 3600.0, 1e-3);
        // The time is one of the log's seconds.
        bool found = false;
        for (int s = 0; s < 30; ++s)
            found = found || p.gpsTimeUtc == logTimeUtc(s);
        EXPECT_TRUE(found) << p.gpsTimeUtc;
        EXPECT_GE(p.ageS, 0.0);
        EXPECT_LT(p.ageS, MaxFixAgeS);
    }
    // The log is dated 2025: the system clock is not taken for GPS time.
    ASSERT_TRUE(r.timeSource && r.timeSource->offsetS);
    EXPECT_EQ(r.timeSource->source, "system");
    EXPECT_GT(*r.timeSource->offsetS, 24.0 * 3600.0);
    EXPECT_TRUE(form->GpsLabel->text().startsWith("GPS: 3D fix, ")) << form->GpsLabel->text().toStdString();
}

TEST_F(GpsdAcquire, AFixLostDuringTheScanLeavesTheEndPositionNullWithItsReason)
{
    startReady(2, 1);
    ASSERT_TRUE(gpsd.start(path("."), nmeaLog(Here, 12, 400), 0.05, true));
    read("localhost", gpsd.port());
    ASSERT_TRUE(waitFor(hasFix)) << reader->latest().error;
    bool lost = false;
    scanWith([&] { lost = waitFor([](const GpsState& s) { return s.mode == 1; }); });
    const meta::Recording r = acquire();
    ASSERT_TRUE(lost);
    ASSERT_TRUE(r.positionStart && r.positionStart->fix);
    EXPECT_NEAR(r.positionStart->fix->latitudeDeg, Here.latitude, 1e-6);
    ASSERT_TRUE(r.positionEnd);
    EXPECT_FALSE(r.positionEnd->fix);
    EXPECT_EQ(r.positionEnd->reason.rfind("no fix", 0), 0u) << r.positionEnd->reason;
}

TEST_F(GpsdAcquire, GpsdStoppedDuringTheScanIsSaidInTheSidecar)
{
    startReady(2, 1);
    ASSERT_TRUE(gpsd.start(path("."), nmeaLog(Here, 30, 0), 0.05, false));
    read("localhost", gpsd.port());
    ASSERT_TRUE(waitFor(hasFix)) << reader->latest().error;
    bool seen = false;
    scanWith([&] {
        gpsd.stop();
        seen = waitFor([](const GpsState& s) { return s.link != GpsState::Link::Connected; }, 5s);
    });
    const meta::Recording r = acquire();
    ASSERT_TRUE(seen);
    ASSERT_TRUE(r.positionStart && r.positionStart->fix);
    ASSERT_TRUE(r.positionEnd);
    EXPECT_FALSE(r.positionEnd->fix);
    // Lost, or by then found gone by the next attempt to connect.
    const std::string where = "localhost:" + std::to_string(gpsd.port());
    EXPECT_TRUE(r.positionEnd->reason.rfind("gpsd at " + where + " lost", 0) == 0 ||
                r.positionEnd->reason.rfind("no gpsd at " + where, 0) == 0)
        << r.positionEnd->reason;
}

// Without a gpsd, and with a port that never answers, the run takes no longer than
// with no reader at all; the bound here only catches a run that waits for gpsd (the
// figures are bench_gps_acquire's).
TEST_F(GpsdAcquire, NoGpsdOrASilentOneNeitherDelaysTheRunNorGoesUnsaid)
{
    startReady(2, 1);
    scanWith({});
    double without = 0.0;
    acquire(&without);

    const int nobody = freePort();
    read("127.0.0.1", nobody);
    ASSERT_TRUE(waitFor([](const GpsState& s) { return s.link == GpsState::Link::NoDaemon; }, 5s));
    double absent = 0.0;
    meta::Recording r = acquire(&absent);
    ASSERT_TRUE(r.positionStart && r.positionEnd);
    EXPECT_FALSE(r.positionStart->fix);
    EXPECT_EQ(r.positionStart->reason.rfind("no gpsd at 127.0.0.1:" + std::to_string(nobody), 0), 0u)
        << r.positionStart->reason;
    EXPECT_LT(absent, without + 0.5);

    SilentPort silent;
    form->setGpsSource(nullptr);
    read("127.0.0.1", silent.port());
    ASSERT_TRUE(waitFor([](const GpsState& s) { return s.link == GpsState::Link::Connected; }, 5s));
    double quiet = 0.0;
    r = acquire(&quiet);  // connected, nothing heard yet
    EXPECT_FALSE(r.positionStart->fix);
    EXPECT_EQ(r.positionStart->reason, "no fix");
    EXPECT_LT(quiet, without + 0.5);
    ASSERT_TRUE(waitFor([](const GpsState& s) { return s.link == GpsState::Link::Silent; }, 6s));
    r = acquire(&quiet);
    EXPECT_EQ(r.positionEnd->reason, "gpsd at 127.0.0.1:" + std::to_string(silent.port()) + " does not answer");
    EXPECT_LT(quiet, without + 0.5);
}

}  // namespace
