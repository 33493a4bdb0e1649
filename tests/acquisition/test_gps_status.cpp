// The gpsd address, the position a state gives and the readout line, over states
// built by hand; and the readout and sidecar positions of the form over a source
// whose state the test sets.

#include "capture_fixture.h"
#include "gps_reader.h"
#include "gps_status.h"
#include "recording_metadata.h"
#include "without_threads.h"

#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>

#include <cstdlib>
#include <mutex>

namespace {

using namespace std::chrono_literals;

TEST(GpsdAddress, ReadsHostAndPortOrRefuses)
{
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        const char* port;
    } cases[] = {
        {"localhost:2947", "localhost", "2947"},
        {"gps.example:12000", "gps.example", "12000"},
        {"10.0.0.7", "10.0.0.7", "2947"},
        {":40000", "localhost", "40000"},
        {"[::1]:3000", "::1", "3000"},
        {"[fe80::1]", "fe80::1", "2947"},
        {"host:0", nullptr, nullptr},
        {"host:65536", nullptr, nullptr},
        {"host:12x", nullptr, nullptr},
        {"host:", nullptr, nullptr},
        {"::1:3000", nullptr, nullptr},
        {"[::1", nullptr, nullptr},
        {"[::1]x", nullptr, nullptr},
        {"", nullptr, nullptr},
        {"a b:1", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<GpsdAddress> a = parseGpsdAddress(c.text);
        ASSERT_EQ(a.has_value(), c.host != nullptr);
        if (a) {
            EXPECT_EQ(a->host, c.host);
            EXPECT_EQ(a->port, c.port);
        }
    }
}

GpsState withFix(int mode, GpsClock::time_point received)
{
    GpsState s;
    s.link = GpsState::Link::Connected;
    s.address = "localhost:2947";
    s.devicesKnown = true;
    s.devices = 1;
    s.satellitesUsed = 7;
    s.mode = mode;
    meta::Position p;
    p.latitudeDeg = 48.1173;
    p.longitudeDeg = 11.5166667;
    p.mode = mode;
    s.fix = p;
    s.fixReceived = received;
    return s;
}

TEST(GpsStatus, PositionAndReadoutOfEachState)
{
    const GpsClock::time_point now = GpsClock::now();
    auto state = [&](auto change) {
        GpsState s = withFix(3, now - 400ms);
        change(s);
        return s;
    };
    struct Case {
        const char* name;
        GpsState state;
        bool fix;
        const char* reason;  // the sidecar's reason (with no fix)
        const char* line;    // the readout
    } cases[] = {
        {"3D fix", state([](GpsState&) {}), true, "", "GPS: 3D fix, 7 sats, 0.4 s"},
        {"2D fix, only seen", state([](GpsState& s) { s.mode = 2; s.fix->mode = 2; s.satellitesUsed = -1; s.satellitesSeen = 5; }),
         true, "", "GPS: 2D fix, 5 sats seen, 0.4 s"},
        {"no reader", GpsState{}, false, "GPS not read", "GPS: not read"},
        {"no thread for the reader", state([](GpsState& s) { s.link = GpsState::Link::NotRead; s.error = "no thread"; }),
         false, "GPS not read (no thread)", "GPS: not read"},
        {"refused", state([](GpsState& s) { s.link = GpsState::Link::NoDaemon; s.error = "can't connect"; }), false,
         "no gpsd at localhost:2947 (can't connect)", "GPS: no gpsd"},
        {"silent", state([](GpsState& s) { s.link = GpsState::Link::Silent; }), false,
         "gpsd at localhost:2947 does not answer", "GPS: no answer from gpsd"},
        {"lost", state([](GpsState& s) { s.link = GpsState::Link::Lost; s.error = "connection closed"; }), false,
         "gpsd at localhost:2947 lost (connection closed)", "GPS: gpsd lost"},
        {"no receiver", state([](GpsState& s) { s.devices = 0; }), false, "gpsd has no receiver",
         "GPS: gpsd has no receiver"},
        {"fix lost", state([](GpsState& s) { s.mode = 1; }), false, "no fix (7 sats)", "GPS: no fix (7 sats)"},
        {"never a fix", state([](GpsState& s) { s.fix.reset(); s.mode = 0; s.satellitesUsed = -1; }), false,
         "no fix", "GPS: no fix"},
        {"stale", state([&](GpsState& s) { s.fixReceived = now - 12s; }), false, "last fix 12 s old",
         "GPS: last fix 12 s old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const meta::PositionSample p = positionAt(c.state, now);
        ASSERT_EQ(p.fix.has_value(), c.fix);
        if (p.fix)
            EXPECT_NEAR(p.fix->ageS, 0.4, 1e-9);
        else
            EXPECT_EQ(p.reason, c.reason);
        EXPECT_EQ(gpsStatusLine(c.state, now, true), c.line);
        // In full, the line says what the sidecar says.
        EXPECT_EQ(gpsStatusLine(c.state, now, false), c.fix ? c.line : c.state.link == GpsState::Link::NotRead
                                                                           ? std::string("GPS: not read")
                                                                           : "GPS: " + std::string(c.reason));
    }
}

// The program's reader asks the gpsd SOUNDER_GPSD names; one it cannot read as an
// address is not replaced by localhost's gpsd, whose positions would pass for the
// named one's.
TEST(GpsReader, AsksTheGpsdThatSounderGpsdNamesOrNone)
{
    struct Case {
        const char* value;    // nullptr: unset
        const char* address;  // asked; nullptr: none, the reason says why
    } cases[] = {
        {nullptr, "localhost:2947"},
        {"", "localhost:2947"},
        {"127.0.0.1:1", "127.0.0.1:1"},
        {"[::1]:2", "[::1]:2"},
        {"[fe80::1%eth0]", "[fe80::1%eth0]:2947"},
        {"127.0.0.1:99999", nullptr},
        {"gps host:2947", nullptr},
        {"[::1", nullptr},
        {"localhost:", nullptr},
    };
    const char* before = std::getenv("SOUNDER_GPSD");
    const std::string kept = before ? before : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "unset");
        if (c.value)
            ::setenv("SOUNDER_GPSD", c.value, 1);
        else
            ::unsetenv("SOUNDER_GPSD");
        GpsReader reader;
        const GpsState s = reader.latest();
        if (c.address) {
            EXPECT_EQ(s.address, c.address);
            EXPECT_NE(s.link, GpsState::Link::NotRead);
            continue;
        }
        EXPECT_EQ(s.link, GpsState::Link::NotRead);
        EXPECT_EQ(positionAt(s, GpsClock::now()).reason,
                  "GPS not read (SOUNDER_GPSD \"" + std::string(c.value) + "\" is no host:port)");
        EXPECT_EQ(gpsStatusLine(s, GpsClock::now(), true), "GPS: not read");
    }
    if (before)
        ::setenv("SOUNDER_GPSD", kept.c_str(), 1);
    else
        ::unsetenv("SOUNDER_GPSD");
}

TEST(GpsReader, WhereNoThreadCanBeStartedTheProgramGoesOnAndTheSidecarSaysWhy)
{
    const int status = runInChildWithoutThreads([] {
        const auto begun = std::chrono::steady_clock::now();
        {
            GpsReader reader(GpsdAddress{"127.0.0.1", "1"});
            const GpsState s = reader.latest();
            if (s.link != GpsState::Link::NotRead)
                return 10;
            const std::string reason = positionAt(s, GpsClock::now()).reason;
            if (reason.rfind("GPS not read (no thread can be started for it: ", 0) != 0)
                return 11;
        }
        // Its end does not wait for a thread that never ran (a second at most otherwise).
        return std::chrono::steady_clock::now() - begun < 900ms ? 0 : 12;
    });
    if (status == NoThreadlessChild)
        GTEST_SKIP() << "no child process without threads can be made here";
    EXPECT_EQ(status, 0) << "10..12: the check that failed; 2: an exception; 134: aborted";
}

// A source whose state the test sets, from any thread.
class FixedSource : public GpsSource {
public:
    GpsState latest() const override
    {
        std::lock_guard lock(mutex_);
        return state_;
    }
    void set(const GpsState& s)
    {
        std::lock_guard lock(mutex_);
        state_ = s;
    }

private:
    mutable std::mutex mutex_;
    GpsState state_;
};

class FormGps : public capfix::CaptureTest {
protected:
    meta::Recording acquire()
    {
        const QString file = path("run.txt");
        dialogs.saveAnswers.push_back(file);
        form->Button6Click();
        QFile f(file + ".meta.json");
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        std::string error;
        const std::optional<meta::Recording> r = meta::fromJson(f.readAll().toStdString(), &error);
        EXPECT_TRUE(r) << error;
        return r.value_or(meta::Recording{});
    }
    void markersEvery(int32_t groups, std::function<void()> duringScan = {})
    {
        boardsim::setScanSource([=](uint16_t* samples, int32_t count) {
            if (duringScan)
                duringScan();
            for (int32_t g = 0; g < count / 4; ++g) {
                samples[4 * g] = samples[4 * g + 1] = samples[4 * g + 2] = 2048;
                samples[4 * g + 3] = g % groups == 0 ? 4000 : 100;
            }
        });
    }
    FixedSource source;
};

TEST_F(FormGps, ReadoutSitsInFreeSpaceOfSettingsAndFollowsTheSource)
{
    startReady();
    const QRect gps = form->GpsLabel->geometry();
    EXPECT_EQ(form->GpsLabel->parentWidget(), form->GroupBox2);
    EXPECT_TRUE(QRect(QPoint(0, 0), form->GroupBox2->size()).contains(gps));
    for (QObject* child : form->GroupBox2->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && w != form->GpsLabel) {
            EXPECT_FALSE(w->geometry().intersects(gps)) << w->metaObject()->className() << " "
                                                        << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(form->GpsLabel->text(), "GPS: not read");
    // The longest lines the readout shows fit its width in the window's font.
    const QFontMetrics metrics(form->GpsLabel->font());
    for (const char* line : {"GPS: 3D fix, 12 sats seen, 4.9 s", "GPS: no fix (12 sats seen)", "GPS: last fix 99999 s old",
                             "GPS: gpsd has no receiver", "GPS: connecting to gpsd", "GPS: no answer from gpsd"})
        EXPECT_LE(metrics.horizontalAdvance(QString::fromLatin1(line)), form->GpsLabel->width()) << line;
    source.set(withFix(3, GpsClock::now()));
    form->setGpsSource(&source);
    EXPECT_TRUE(form->GpsLabel->text().startsWith("GPS: 3D fix, 7 sats, ")) << form->GpsLabel->text().toStdString();
    form->setGpsSource(nullptr);
}

TEST_F(FormGps, SidecarHoldsThePositionsAtTheScansStartAndEnd)
{
    startReady(2, 2);
    const GpsState before = withFix(3, GpsClock::now());
    source.set(before);
    form->setGpsSource(&source);
    // The fix is lost while the scan runs.
    markersEvery(5000, [&] {
        GpsState lost = before;
        lost.mode = 1;
        source.set(lost);
    });
    const meta::Recording r = acquire();
    ASSERT_EQ(current().text, "DONE");
    ASSERT_TRUE(r.positionStart && r.positionStart->fix);
    EXPECT_EQ(r.positionStart->fix->latitudeDeg, 48.1173);
    EXPECT_EQ(r.positionStart->fix->longitudeDeg, 11.5166667);
    ASSERT_TRUE(r.positionEnd);
    EXPECT_FALSE(r.positionEnd->fix);
    EXPECT_EQ(r.positionEnd->reason, "no fix (7 sats)");
    ASSERT_TRUE(r.timeSource);
    EXPECT_EQ(r.timeSource->source, "system");  // the fix had no time
    EXPECT_EQ(form->GpsLabel->text(), "GPS: no fix (7 sats)");
    form->setGpsSource(nullptr);
}

TEST_F(FormGps, WithoutASourceTheSidecarSaysSo)
{
    startReady(2, 1);
    markersEvery(5000);
    const meta::Recording r = acquire();
    ASSERT_EQ(current().text, "DONE");
    ASSERT_TRUE(r.positionStart && r.positionEnd);
    EXPECT_FALSE(r.positionStart->fix);
    EXPECT_EQ(r.positionStart->reason, "GPS not read");
    EXPECT_EQ(r.positionEnd->reason, "GPS not read");
}

}  // namespace
