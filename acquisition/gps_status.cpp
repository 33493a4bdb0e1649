#include "gps_status.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

std::optional<GpsdAddress> parseGpsdAddress(const std::string& text)
{
    GpsdAddress a;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        a.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return std::nullopt;
        port = rest.empty() ? std::string() : rest.substr(1);
        if (!rest.empty() && port.empty())
            return std::nullopt;
    } else {
        const size_t colon = text.rfind(':');
        if (colon != std::string::npos && text.find(':') != colon)
            return std::nullopt;  // a bare IPv6 address needs its brackets
        a.host = text.substr(0, colon);
        if (colon != std::string::npos) {
            port = text.substr(colon + 1);
            if (port.empty())
                return std::nullopt;
        }
    }
    if (a.host.empty() && port.empty())
        return std::nullopt;
    if (a.host.empty())
        a.host = "localhost";
    for (const char c : a.host)
        if (c <= ' ' || c == '[' || c == ']' || c == '/')
            return std::nullopt;
    if (!port.empty()) {
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            return std::nullopt;
        a.port = std::to_string(value);
    }
    return a;
}

std::optional<GpsdAddress> gpsdAddressFromEnvironment()
{
    const char* text = std::getenv("SOUNDER_GPSD");
    if (text && *text)
        return parseGpsdAddress(text);
    return GpsdAddress{};
}

namespace {

double secondsBetween(GpsClock::time_point from, GpsClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::string satellites(const GpsState& s)
{
    if (s.satellitesUsed >= 0)
        return std::to_string(s.satellitesUsed) + " sats";
    if (s.satellitesSeen >= 0)
        return std::to_string(s.satellitesSeen) + " sats seen";
    return std::string();
}

// Why there is no usable fix, or empty when there is one.
std::string whyNoFix(const GpsState& s, GpsClock::time_point now)
{
    switch (s.link) {
    case GpsState::Link::NotRead: return "GPS not read" + (s.error.empty() ? "" : " (" + s.error + ")");
    case GpsState::Link::Connecting: return "connecting to gpsd at " + s.address;
    case GpsState::Link::NoDaemon:
        return "no gpsd at " + s.address + (s.error.empty() ? "" : " (" + s.error + ")");
    case GpsState::Link::Silent: return "gpsd at " + s.address + " does not answer";
    case GpsState::Link::Lost:
        return "gpsd at " + s.address + " lost" + (s.error.empty() ? "" : " (" + s.error + ")");
    case GpsState::Link::Connected: break;
    }
    if (s.devicesKnown && s.devices == 0)
        return "gpsd has no receiver";
    if (s.mode < 2 || !s.fix) {
        const std::string sats = satellites(s);
        return sats.empty() ? "no fix" : "no fix (" + sats + ")";
    }
    const double age = secondsBetween(s.fixReceived, now);
    if (age > MaxFixAgeS) {
        char text[64];
        std::snprintf(text, sizeof text, "last fix %.0f s old", age);
        return text;
    }
    return std::string();
}

}  // namespace

meta::PositionSample positionAt(const GpsState& state, GpsClock::time_point now)
{
    meta::PositionSample sample;
    sample.reason = whyNoFix(state, now);
    if (sample.reason.empty()) {
        sample.fix = state.fix;
        sample.fix->ageS = secondsBetween(state.fixReceived, now);
    }
    return sample;
}

std::string gpsStatusLine(const GpsState& state, GpsClock::time_point now, bool brief)
{
    const meta::PositionSample p = positionAt(state, now);
    if (!p.fix) {
        if (state.link == GpsState::Link::NotRead)
            return "GPS: not read";
        // The line keeps to the settings' width: the address and the error text are
        // the sidecar's (and the tooltip's).
        if (brief) {
            switch (state.link) {
            case GpsState::Link::Connecting: return "GPS: connecting to gpsd";
            case GpsState::Link::NoDaemon: return "GPS: no gpsd";
            case GpsState::Link::Silent: return "GPS: no answer from gpsd";
            case GpsState::Link::Lost: return "GPS: gpsd lost";
            case GpsState::Link::NotRead:
            case GpsState::Link::Connected: break;
            }
        }
        return "GPS: " + p.reason;
    }
    char text[96];
    const std::string sats = satellites(state);
    std::snprintf(text, sizeof text, "GPS: %dD fix, %s%s%.1f s", p.fix->mode >= 3 ? 3 : 2, sats.c_str(),
                  sats.empty() ? "" : ", ", p.fix->ageS);
    return text;
}
