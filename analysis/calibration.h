#pragma once
// A back-to-back calibration (CAL.json, docs/calibration.md): the system's own power
// and delay per channel, measured with the transmitter cabled to the receiver through
// a known attenuator, and how it turns a recording's relative powers and bin delays
// into path gains in dB and delays from the antenna. Data and formulas are plain C++;
// the JSON is read and written with Qt Core. Used by `sounder calibrate`,
// `sounder analyze --cal` and `sounder info`, and open to any other command.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cal {

inline constexpr char Schema[] = "sounder.calibration/1";

struct Input {
    std::string file;      // as named on the command line
    std::string sha256;    // of the recording, lowercase hexadecimal
    std::string levelsFrom;  // "sidecar" or "header": where its gain and attenuation came from
};

struct ChannelReference {
    int channel = 1;
    // Power of the averaged back-to-back profile summed over the counted bins, with the
    // receiver gain and the attenuation taken out: dB at 0 dB net gain, through the
    // attenuator of the calibration.
    double referenceDb = 0;
    // The same for the strongest path's lobe alone.
    double peakReferenceDb = 0;
    // Where the strongest path's lobe has its power-weighted centre, in fractional bins
    // of the profile (bin k holds delay k - 1): the system's own delay.
    double delayBins = 0;
    double snrDb = 0;  // of the averaged profile, as a record of the conditions
};

struct Calibration {
    std::string tool;     // the program and version that made it
    std::string madeUtc;  // RFC 3339, UTC
    std::vector<Input> inputs;
    int clockDivider = 2;
    double throughDb = 0;     // the attenuator between transmitter and receiver, dB
    double cableDelayNs = 0;  // delay of the back-to-back run's through cabling, not in a measurement, ns
    std::string window = "none";  // sample window of the profiles
    double thresholdDb = 20;
    double marginDb = 6;
    std::vector<ChannelReference> channels;

    const ChannelReference* channel(int number) const;
};

std::string toJson(const Calibration& calibration);
// nullopt with `error` saying what is wrong: not JSON, not this schema, a field
// missing or of the wrong kind or out of range.
std::optional<Calibration> fromJson(const std::string& text, std::string* error);
// The file at `path`; `error` also names a file that cannot be read.
std::optional<Calibration> readCalibration(const std::string& path, std::string* error);
// Whether the text looks like a calibration (a JSON object naming this schema).
bool isCalibrationText(const std::string& text);

// What the front-end can be set to: a channel gain of the gain table's rows, an
// attenuation index. A header's setting beyond them reached the front-end limited to them.
inline constexpr int32_t LeastGainDb = 3, MostGainDb = 70;
inline constexpr int32_t LeastAttenuationDb = 0, MostAttenuationDb = 31;

// The receiver gain and RF attenuation a recording was made with.
struct FrontEndLevels {
    std::array<std::optional<double>, 3> gainDb;  // per channel; absent when not known
    double attenuationDb = 0;
    bool fromSidecar = false;  // else from the header, which holds the settings
};

// From the recording's sidecar (what the front-end was sent) when it has one that
// describes it, else from its header, limited to what the front-end can be set to,
// with a note on stderr. Throws cli::Failure for a
// sidecar that cannot be read or does not describe the recording.
// With sha256 (of the recording) the sidecar must name that digest too.
FrontEndLevels frontEndLevels(const std::string& recordingPath, int32_t headerAttenuation,
                              const std::array<int32_t, 3>& headerGains, uint64_t recordingBytes,
                              const std::string* sha256 = nullptr);

// A profile's power in dB with the gain taken out and the attenuation put back.
inline double levelsOut(double profileDb, double gainDb, double attenuationDb)
{
    return profileDb - gainDb + attenuationDb;
}

// Path gain in dB of a counted power (dB of the profile): levels out, minus the
// reference, minus the calibration's attenuator.
inline double pathGainDb(double countedPowerDb, double gainDb, double attenuationDb, const ChannelReference& ref,
                         double throughDb)
{
    return levelsOut(countedPowerDb, gainDb, attenuationDb) - ref.referenceDb - throughDb;
}

// The same for a single path's lobe, against the reference of the calibration's lobe.
inline double lobeGainDb(double lobePowerDb, double gainDb, double attenuationDb, const ChannelReference& ref,
                         double throughDb)
{
    return levelsOut(lobePowerDb, gainDb, attenuationDb) - ref.peakReferenceDb - throughDb;
}

// Delay from the antenna, in bins, of (fractional) bin k. The system delay holds the
// back-to-back run's through cabling, which a measured path does not pass: its delay, in
// ns, is added back, only where seconds per bin are known.
inline double antennaDelayBins(double bin, const ChannelReference& ref) { return bin - ref.delayBins; }
inline double antennaDelayNs(double bin, const ChannelReference& ref, double secondsPerBin, double cableDelayNs)
{
    return antennaDelayBins(bin, ref) * secondsPerBin * 1e9 + cableDelayNs;
}

}  // namespace cal
