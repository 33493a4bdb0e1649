#pragma once
// Where and when a recording was made, from its sidecar, and its distance from the
// transmitter: geodesic on the WGS84 ellipsoid (GeographicLib), and straight-line when
// both heights are known.

#include "recording_metadata.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// The transmitter: latitude, longitude (degrees, WGS84) and height above the ellipsoid (m).
struct Origin {
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    std::optional<double> altitudeM;
};

// "LAT,LON" or "LAT,LON,ALT" (decimal degrees, metres); nullopt for anything else,
// a latitude outside -90..90 or a longitude outside -180..180.
std::optional<Origin> parseOrigin(const std::string& text);

struct RecordingPlace {
    std::optional<meta::Position> position;  // at the scan's start, else at its end
    std::string timeUtc;                     // the scan's start, from the sidecar
    std::string timeSource;                  // "gps", "system", or empty when not recorded
    std::string note;                        // why there is no position (no sidecar, no fix, ...)
};

// The place of the recording at `recordingPath`, from NAME.meta.json beside it. A
// sidecar of another size than the recording is of another recording; the size is
// `recordingBytes` where given (what came through a pipe, which has none beforehand),
// else that of the file.
RecordingPlace placeOfRecording(const std::string& recordingPath,
                                std::optional<uint64_t> recordingBytes = std::nullopt);

// Geodesic distance on the WGS84 ellipsoid, metres.
double geodesicDistanceM(double latitude1, double longitude1, double latitude2, double longitude2);

// The straight line between two points given with heights above the ellipsoid, metres.
double straightDistanceM(double latitude1, double longitude1, double height1, double latitude2, double longitude2,
                         double height2);

struct Distances {
    double geodesicM = 0.0;
    std::optional<double> straightM;  // when the origin and the position both have a height
};
Distances distancesFrom(const Origin& origin, const meta::Position& position);

}  // namespace cli
