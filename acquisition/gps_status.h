#pragma once
// What the program knows of gpsd at one moment, and the pure rules over it: the
// position to record, and the one-line readout. The reader thread (gps_reader.h)
// fills a GpsState; the GUI thread only ever reads copies of it.

#include "recording_metadata.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

using GpsClock = std::chrono::steady_clock;

// Where gpsd is asked: localhost:2947, or SOUNDER_GPSD's "host:port".
struct GpsdAddress {
    std::string host = "localhost";
    std::string port = "2947";
    // As SOUNDER_GPSD takes it: an IPv6 address in brackets, so that its port stands apart.
    std::string text() const
    {
        return (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" + port;
    }
};

// "host:port", "[v6 address]:port", "host" (port 2947) or ":port" (localhost);
// nullopt for an empty host and port, a port that is not 1..65535, or anything else.
std::optional<GpsdAddress> parseGpsdAddress(const std::string& text);
// The address from SOUNDER_GPSD, localhost:2947 where it is unset or empty, nullopt
// where it holds something else than an address.
std::optional<GpsdAddress> gpsdAddressFromEnvironment();

struct GpsState {
    enum class Link {
        NotRead,      // no reader runs at all
        Connecting,   // the first attempt has not ended yet
        NoDaemon,     // the connection was refused or failed
        Silent,       // connected, but gpsd has sent nothing for a while
        Lost,         // gpsd closed the connection
        Connected,    // gpsd talks
    };
    Link link = Link::NotRead;
    std::string address;  // host:port asked
    std::string error;    // why the connection failed or was lost
    bool devicesKnown = false;  // gpsd has said which receivers it has
    int devices = 0;
    int satellitesUsed = -1;  // -1: not reported
    int satellitesSeen = -1;
    int mode = 0;  // of the latest report: 0 unknown, 1 no fix, 2 2D, 3 3D
    std::optional<meta::Position> fix;  // the latest fix (mode 2 or 3), its ageS unset
    GpsClock::time_point fixReceived{};  // when that fix arrived
};

// A fix older than this is not taken as the position.
inline constexpr double MaxFixAgeS = 5.0;

// The position at `now`: the latest fix with its age, or the reason there is none.
meta::PositionSample positionAt(const GpsState& state, GpsClock::time_point now);

// The readout: "GPS: 3D fix, 9 sats, 0.4 s" or "GPS: " and why there is no fix;
// `brief` says a connection's trouble without the address and the error text.
std::string gpsStatusLine(const GpsState& state, GpsClock::time_point now, bool brief = false);

// The source of readings: the reader thread in the program, fixed states in tests.
class GpsSource {
public:
    virtual ~GpsSource() = default;
    virtual GpsState latest() const = 0;
};
