#include "recording_place.h"

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/Geodesic.hpp>

#include <charconv>
#include <cmath>
#include <sys/stat.h>
#include <vector>

namespace cli {

namespace {

std::optional<double> number(const std::string& text)
{
    double v = 0.0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto [stop, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || stop != end || begin == end || !std::isfinite(v))
        return std::nullopt;
    return v;
}

}  // namespace

std::optional<Origin> parseOrigin(const std::string& text)
{
    // Spaces around each number are passed over; one inside a number ("4 8") is a typo
    // to refuse, not a digit to drop.
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    for (std::string& part : parts) {
        part.erase(0, part.find_first_not_of(" \t"));
        part.erase(part.find_last_not_of(" \t") + 1);
    }
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    const std::optional<double> lat = number(parts[0]), lon = number(parts[1]);
    if (!lat || !lon || *lat < -90.0 || *lat > 90.0 || *lon < -180.0 || *lon > 180.0)
        return std::nullopt;
    Origin o{*lat, *lon, std::nullopt};
    if (parts.size() == 3) {
        o.altitudeM = number(parts[2]);
        if (!o.altitudeM)
            return std::nullopt;
    }
    return o;
}

RecordingPlace placeOfRecording(const std::string& recordingPath, std::optional<uint64_t> recordingBytes)
{
    RecordingPlace place;
    const std::string path = meta::sidecarPath(recordingPath);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        place.note = "no sidecar";
        return place;
    }
    std::string error;
    const std::optional<meta::Recording> r = meta::readSidecar(path, &error);
    if (!r) {
        place.note = "sidecar unreadable: " + error;
        return place;
    }
    // A sidecar of another recording (one of another size) tells nothing of where this one was made.
    if (!recordingBytes) {
        struct stat recording {};
        if (::stat(recordingPath.c_str(), &recording) == 0 && S_ISREG(recording.st_mode))
            recordingBytes = uint64_t(recording.st_size);
    }
    if (recordingBytes && *recordingBytes != r->result.bytes) {
        place.note = "sidecar of another recording: it describes " + std::to_string(r->result.bytes) +
                     " bytes where this one has " + std::to_string(*recordingBytes);
        return place;
    }
    place.timeUtc = r->scanStartedUtc;
    if (r->timeSource)
        place.timeSource = r->timeSource->source;
    if (!r->positionStart && !r->positionEnd) {
        place.note = "sidecar records no position";
        return place;
    }
    for (const auto* sample : {&r->positionStart, &r->positionEnd})
        if (*sample && (*sample)->fix) {
            place.position = (*sample)->fix;
            return place;
        }
    place.note = "no position: " + (r->positionStart ? r->positionStart->reason : r->positionEnd->reason);
    return place;
}

double geodesicDistanceM(double latitude1, double longitude1, double latitude2, double longitude2)
{
    double s12 = 0.0;
    GeographicLib::Geodesic::WGS84().Inverse(latitude1, longitude1, latitude2, longitude2, s12);
    return s12;
}

double straightDistanceM(double latitude1, double longitude1, double height1, double latitude2, double longitude2,
                         double height2)
{
    const GeographicLib::Geocentric& earth = GeographicLib::Geocentric::WGS84();
    double x1, y1, z1, x2, y2, z2;
    earth.Forward(latitude1, longitude1, height1, x1, y1, z1);
    earth.Forward(latitude2, longitude2, height2, x2, y2, z2);
    return std::hypot(x2 - x1, y2 - y1, z2 - z1);
}

Distances distancesFrom(const Origin& origin, const meta::Position& p)
{
    Distances d;
    d.geodesicM = geodesicDistanceM(origin.latitudeDeg, origin.longitudeDeg, p.latitudeDeg, p.longitudeDeg);
    if (origin.altitudeM && p.altitudeM)
        d.straightM = straightDistanceM(origin.latitudeDeg, origin.longitudeDeg, *origin.altitudeM, p.latitudeDeg,
                                        p.longitudeDeg, *p.altitudeM);
    return d;
}

}  // namespace cli
