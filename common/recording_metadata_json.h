#pragma once
// Parts of the sidecar's JSON for documents that carry them inside their own (the SigMF
// metadata of a converted recording), made by the same code as the sidecar itself.

#include "recording_metadata.h"

#include <QJsonObject>

namespace meta {

QJsonObject settingsJson(const Settings& settings);
QJsonObject frontEndJson(const FrontEndSent& frontEnd);
// The sidecar as a whole: its software, times, scan, sweeps and result too.
QJsonObject recordingJson(const Recording& recording);

}  // namespace meta
