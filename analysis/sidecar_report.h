#pragma once
// The part of `sounder info` about a recording's metadata sidecar: what it says of the
// settings and the front-end, and whether the recording still is the file it describes.

#include <cstdint>
#include <string>

namespace cli {

// Whether NAME.meta.json exists beside the recording NAME.
bool hasSidecar(const std::string& recordingPath);

// Prints the sidecar of `recordingPath` and checks it against the recording as just
// read (its SHA-256, size in bytes and number of lines). Returns false, after one line
// on stderr, when the sidecar cannot be read or the recording does not match it.
bool reportSidecar(const std::string& recordingPath, const std::string& sha256, uint64_t bytes, int64_t lines);

}  // namespace cli
