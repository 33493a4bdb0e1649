#pragma once
// Parts of the sidecar's JSON for documents that carry them inside their own (the SigMF
// metadata of a converted recording), made by the same code as the sidecar itself.

#include "recording_metadata.h"

#include <QJsonObject>

#include <optional>

namespace meta {

QJsonObject settingsJson(const Settings& settings);
QJsonObject frontEndJson(const FrontEndSent& frontEnd);
// The sidecar as a whole: its software, times, scan, sweeps and result too.
QJsonObject recordingJson(const Recording& recording);
// A position as the sidecar writes it (latitude_deg, longitude_deg, altitude_m, ...).
QJsonObject positionJson(const Position& position);
// The GeoJSON point of a position, as SigMF's core:geolocation holds it:
// {"type": "Point", "coordinates": [longitude, latitude(, altitude above the ellipsoid)]}.
QJsonObject geolocationJson(const Position& position);
// The point of a recording: its position at the scan's start, else at its end; nullopt
// when it has neither (no fix, or a sidecar written before positions were recorded).
std::optional<QJsonObject> recordingGeolocation(const Recording& recording);

}  // namespace meta
