// The gpsd reader against a stand-in that sends what each case scripts: reports a real
// gpsd never sends (cut short, garbage, wrong types, out of range) and changes of fix.
// What the reader then holds is what a sidecar would say. No gpsd is needed.

#include "gps_reader.h"
#include "gpsd_fixture.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>

namespace {

using namespace std::chrono_literals;
using gpsdfix::ScriptedGpsd;

std::string tpv(const std::string& fields)
{
    return "{\"class\":\"TPV\",\"device\":\"/dev/ttyS0\"," + fields + "}\n";
}

const std::string Fix3d = tpv("\"mode\":3,\"time\":\"2025-06-01T12:00:00.000Z\",\"lat\":52.5,\"lon\":13.4,"
                              "\"altHAE\":73.4,\"altMSL\":34.0,\"eph\":3.1,\"epv\":5.2");

// `count` steps of `bytes`, 100 ms apart.
std::vector<ScriptedGpsd::Step> repeated(const std::string& bytes, int count)
{
    return std::vector<ScriptedGpsd::Step>(size_t(count), {100ms, bytes});
}

std::vector<ScriptedGpsd::Step> after(std::vector<ScriptedGpsd::Step> first, const std::vector<ScriptedGpsd::Step>& then)
{
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST(GpsReader, TakesOnlyWholeReportsAndNeverRenewsAnOldFix)
{
    std::string binary;
    for (int b = 0; b < 256; ++b)
        binary += char(b);
    struct Case {
        const char* what;
        std::vector<ScriptedGpsd::Step> steps;
        double latitude;      // of the fix expected; NaN: none expected
        double minAgeS;       // its age at least: the time since the report that gave it
        int mode;             // of that fix
        const char* gpsTime;  // of that fix
        const char* reason;   // with no fix: how the reason begins
    };
    const double none = std::nan("");
    const Case cases[] = {
        {"a fix", {{0ms, Fix3d}}, 52.5, 0.0, 3, "2025-06-01T12:00:00.000Z", nullptr},
        // A slow link: the next report comes a piece at a time and never ends.
        {"a report cut short, its rest trickling in", after({{0ms, Fix3d}}, repeated("{\"cla", 15)), 52.5, 1.3, 3,
         "2025-06-01T12:00:00.000Z", nullptr},
        {"lines that are no reports", after({{0ms, Fix3d}}, repeated("garbage\r\n", 10)), 52.5, 0.9, 3,
         "2025-06-01T12:00:00.000Z", nullptr},
        {"binary bytes", after({{0ms, Fix3d}}, repeated(binary, 10)), 52.5, 0.9, 3, "2025-06-01T12:00:00.000Z",
         nullptr},
        {"a report cut short at a line end", after({{0ms, Fix3d}}, repeated("{\"class\":\"TPV\",\"mode\":3,\"lat\":\n", 10)),
         52.5, 0.9, 3, "2025-06-01T12:00:00.000Z", nullptr},
        {"a fix without time", {{0ms, tpv("\"mode\":3,\"lat\":-33.9,\"lon\":18.4")}}, -33.9, 0.0, 3, "", nullptr},
        {"a 2D fix after a 3D one", {{0ms, Fix3d}, {100ms, tpv("\"mode\":2,\"lat\":52.6,\"lon\":13.4")}}, 52.6, 0.0, 2,
         "", nullptr},
        {"two reports on one line",
         {{0ms, "{\"class\":\"TPV\",\"mode\":3,\"lat\":10,\"lon\":1}{\"class\":\"TPV\",\"mode\":3,\"lat\":11,\"lon\":1}\n"}},
         11.0, 0.0, 3, "", nullptr},
        {"a latitude as text", {{0ms, tpv("\"mode\":3,\"lat\":\"52.5\",\"lon\":13.4")}}, none, 0, 0, "", "no fix"},
        {"a latitude NaN", {{0ms, tpv("\"mode\":3,\"lat\":NaN,\"lon\":13.4")}}, none, 0, 0, "", "no fix"},
        {"a latitude out of range", {{0ms, tpv("\"mode\":3,\"lat\":91.5,\"lon\":13.4")}}, none, 0, 0, "", "no fix"},
        {"a huge latitude after a fix", {{0ms, Fix3d}, {100ms, tpv("\"mode\":3,\"lat\":1e308,\"lon\":13.4")}}, none, 0,
         0, "", "no fix"},
        {"a mode gpsd does not have", {{0ms, Fix3d}, {100ms, tpv("\"mode\":7,\"lat\":52.6,\"lon\":13.4")}}, none, 0,
         0, "", "no fix"},
        {"a mode as text", {{0ms, tpv("\"mode\":\"3\",\"lat\":52.5,\"lon\":13.4")}}, none, 0, 0, "", "no fix"},
        {"no fix after a fix", {{0ms, Fix3d}, {100ms, tpv("\"mode\":1,\"time\":\"2025-06-01T12:00:01.000Z\"")}}, none,
         0, 0, "", "no fix"},
        {"a fix without its position after no fix",
         {{0ms, Fix3d}, {100ms, tpv("\"mode\":1")}, {100ms, tpv("\"mode\":3,\"time\":\"2025-06-01T12:00:02.000Z\"")}},
         none, 0, 0, "", "no fix"},
    };
    // All at once: each case's stand-in and reader run side by side.
    std::vector<std::unique_ptr<ScriptedGpsd>> servers;
    std::vector<std::unique_ptr<GpsReader>> readers;
    for (const Case& c : cases) {
        servers.push_back(std::make_unique<ScriptedGpsd>(c.steps));
        readers.push_back(std::make_unique<GpsReader>(GpsdAddress{"127.0.0.1", std::to_string(servers.back()->port())}));
    }
    ASSERT_TRUE(gpsdfix::waitUntil(
        [&] {
            for (const auto& s : servers)
                if (!s->done())
                    return false;
            return true;
        },
        15s));
    std::this_thread::sleep_for(400ms);  // the last bytes read
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        const GpsState state = readers[i]->latest();
        EXPECT_EQ(state.link, GpsState::Link::Connected) << state.error;
        const meta::PositionSample p = positionAt(state, GpsClock::now());
        if (std::isnan(c.latitude)) {
            EXPECT_FALSE(p.fix) << p.fix->latitudeDeg;
            EXPECT_EQ(p.reason.rfind(c.reason, 0), 0u) << p.reason;
            continue;
        }
        ASSERT_TRUE(p.fix) << p.reason;
        EXPECT_DOUBLE_EQ(p.fix->latitudeDeg, c.latitude);
        EXPECT_GE(p.fix->ageS, c.minAgeS);
        EXPECT_EQ(p.fix->mode, c.mode);
        EXPECT_EQ(p.fix->gpsTimeUtc, c.gpsTime);
        EXPECT_EQ(p.fix->altitudeM.has_value(), c.mode == 3 && c.latitude == 52.5);
    }
}

// A wrong port named, with another service behind it that talks in lines: that is no
// gpsd answering, not a gpsd whose receiver has no fix.
TEST(GpsReader, AnotherServiceOnThePortIsNoGpsdAnswering)
{
    ScriptedGpsd server(after({{0ms, "SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"}},
                              repeated("Invalid SSH identification string.\r\n", 80)),
                        false);
    GpsReader reader(GpsdAddress{"127.0.0.1", std::to_string(server.port())});
    // While it goes on talking, after the 3 s without an answer.
    EXPECT_TRUE(gpsdfix::waitUntil([&] { return reader.latest().link == GpsState::Link::Silent; }, 4500ms))
        << positionAt(reader.latest(), GpsClock::now()).reason;
    EXPECT_EQ(positionAt(reader.latest(), GpsClock::now()).reason,
              "gpsd at 127.0.0.1:" + std::to_string(server.port()) + " does not answer");
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A report whose end is slow to come (gpsd stalled in the middle of a line) is waited
// for on the connection, not by reading again and again, and is taken when it ends.
TEST(GpsReader, WaitsForTheEndOfAReportWithoutSpinning)
{
    ScriptedGpsd server({{0ms, Fix3d}, {200ms, "{\"class\":\"TPV\",\"mode\":3,"}, {2000ms, "\"lat\":48.0,\"lon\":2.0}\n"}});
    GpsReader reader(GpsdAddress{"127.0.0.1", std::to_string(server.port())});
    const auto hasFix = [&](double latitude) {
        const meta::PositionSample p = positionAt(reader.latest(), GpsClock::now());
        return p.fix && p.fix->latitudeDeg == latitude;
    };
    ASSERT_TRUE(gpsdfix::waitUntil([&] { return hasFix(52.5); }, 5s));
    std::this_thread::sleep_for(500ms);  // the start of the next report read
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(1000ms);
    const double used = processCpuSeconds() - before;
    EXPECT_LT(used, 0.3) << "CPU seconds in 1 s of waiting";
    EXPECT_TRUE(hasFix(52.5));
    ASSERT_TRUE(gpsdfix::waitUntil([&] { return hasFix(48.0); }, 5s)) << "the report, once whole, not taken";
}

}  // namespace
