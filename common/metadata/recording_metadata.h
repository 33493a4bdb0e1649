#pragma once
// The metadata sidecar of a recording, NAME.meta.json beside NAME: what the file holds,
// how the front-end was set when it was made, and how to check that it is intact. One
// schema, written by the acquisition program and read by the sounder tool; the JSON
// itself is documented in docs/recording-metadata.md.
//
// The data types are plain C++; the JSON is made and read with Qt Core.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meta {

inline constexpr char Schema[] = "sounder.recording/1";
inline constexpr char SidecarSuffix[] = ".meta.json";
inline constexpr int Pots = 16;

// What the front-end was last sent on the bus, value by value as it went out; a value
// never sent is absent. The device operations keep it up to date.
struct ChannelGainSent {
    std::optional<int32_t> requestedGainDb;  // the gain last asked for
    // The table row used after the clamp to 3..70 dB and the step-down past unusable
    // rows, as its gain in dB; absent when even the 3 dB row is unusable (the
    // potentiometers then kept their values).
    std::optional<int32_t> tableGainDb;
};

struct FrontEndSent {
    std::optional<int32_t> dividerCode;     // byte at the divider register
    std::optional<int32_t> sweepCount;      // after the clamp to 1..262143
    std::optional<int32_t> attenuationDb;   // attenuator index after the clamp to 0..31
    std::optional<int32_t> attenuatorCode;  // the byte that index is sent as
    std::array<ChannelGainSent, 3> channels;
    std::array<std::optional<int32_t>, Pots> pots;  // potentiometer values as sent (0..32)
    std::optional<int32_t> clocksPerSweep;  // the last read-back
};

struct Settings {  // the values in the recording's header, and the divider
    int32_t numSweeps = 0;
    int32_t sweepSamples = 0;
    int32_t attenuation = 0;
    std::array<int32_t, 3> gains{};
    int32_t clockDivider = 0;
};

struct Scan {
    int64_t samples = 0;  // samples captured, all four inputs
    int32_t scanRateHz = 0;
    int32_t samplesPerSweep = 0;  // scan groups per recorded sweep
    int32_t markerThreshold = 0;  // a sweep starts where the marker code exceeds this
};

struct ChannelCodes {
    int32_t lowest = 0;
    int32_t highest = 0;
    int64_t clipped = 0;  // samples at code 0 or 4095
};

struct Result {
    std::string status;                 // "DONE" or "FAILED"
    std::optional<std::string> reason;  // the message shown for a failed run
    int64_t lines = 0;
    uint64_t bytes = 0;
    std::string sha256;  // of the recording as written, lowercase hexadecimal
    std::array<std::optional<ChannelCodes>, 3> channels;  // absent when no sweep was written
};

// A position fix from the GPS receiver, as gpsd reported it.
struct Position {
    double latitudeDeg = 0.0;   // WGS84
    double longitudeDeg = 0.0;  // WGS84
    std::optional<double> altitudeM;     // above the WGS84 ellipsoid
    std::optional<double> altitudeMslM;  // above mean sea level
    int mode = 0;                        // 2 (2D) or 3 (3D)
    std::optional<double> horizontalErrorM;  // gpsd's estimates (95 %)
    std::optional<double> verticalErrorM;
    std::optional<double> speedMps;
    std::optional<double> trackDeg;  // course over ground, true north
    std::string gpsTimeUtc;          // the fix's time, RFC 3339 UTC; empty when it had none
    double ageS = 0.0;               // how old the fix was when it was taken
};

// p as a sidecar holds it: none where its latitude, longitude or mode is out of range
// (a receiver's nonsense is no fix), and each optional value the sidecar reader would
// refuse left out, so that a sidecar written is always one that reads.
std::optional<Position> positionToRecord(Position p);

// The position at one moment: a fix, or why there was none.
struct PositionSample {
    std::optional<Position> fix;
    std::string reason;  // with no fix: "no gpsd at localhost:2947 (...)", "no fix", ...
};

// Where the recording's times come from: "gps" when the fix's time agreed with the
// system clock within a second, else "system" (with the offset seen, when a fix had a
// time to compare).
struct TimeSource {
    std::string source = "system";
    std::optional<double> offsetS;  // system clock minus GPS time, seconds
};

struct Recording {
    std::string softwareName;
    std::string softwareVersion;
    std::string boardLibraryPath;
    bool boardLibrarySimulated = false;
    std::string scanStartedUtc;  // RFC 3339, UTC
    std::string writtenUtc;
    std::string recordingFile;  // the recording's file name, without its folder
    Settings settings;
    FrontEndSent frontEnd;
    Scan scan;
    int32_t sweepsRequested = 0;
    std::vector<int64_t> sweepStartGroups;  // scan group in the capture where each written sweep starts
    Result result;
    // Absent in sidecars written before positions were recorded.
    std::optional<PositionSample> positionStart;  // when the scan started
    std::optional<PositionSample> positionEnd;    // when it ended
    std::optional<TimeSource> timeSource;
};

// Lowest and highest code and clipped samples of channels 0..2 over `groups` scan
// groups of four samples from `first`, added to `codes` (empty entries start fresh).
void addChannelCodes(const uint16_t* first, int64_t groups, std::array<std::optional<ChannelCodes>, 3>& codes);

// "system" or "gps" for a fix's time against the system clock read at the same moment
// (both in seconds since 1970): "gps" when they agree within a second.
TimeSource timeSourceFor(const PositionSample& sample, double systemSeconds);

// The JSON text of a sidecar (UTF-8, indented).
std::string toJson(const Recording& recording);

// Reads a sidecar; nullopt with `error` saying what is wrong when the text is not JSON,
// not this schema, or a required field is missing or of the wrong kind.
std::optional<Recording> fromJson(const std::string& text, std::string* error);

// Reads the sidecar file at `path`: nullopt with `error` naming the fault ("File not
// found", "not JSON (...)", ...) when it cannot be read or is not a valid sidecar.
std::optional<Recording> readSidecar(const std::string& path, std::string* error);

// NAME.meta.json for a recording NAME.
std::string sidecarPath(const std::string& recordingPath);

// Writes the sidecar under a temporary name in the same folder and renames it into
// place. Returns an empty string, or what went wrong.
std::string writeSidecar(const std::string& path, const Recording& recording);

}  // namespace meta
