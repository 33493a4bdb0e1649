#include "sidecar_report.h"

#include "cli_support.h"
#include "recording_metadata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>

namespace cli {

namespace {

std::string value(const std::optional<int32_t>& v) { return v ? std::to_string(*v) : std::string("not sent"); }

void printFrontEnd(const meta::FrontEndSent& f)
{
    std::printf("    front-end as last sent: divider code %s, sweep count %s, attenuator %s dB (code %s), "
                "clocks per sweep read back %s\n",
                value(f.dividerCode).c_str(), value(f.sweepCount).c_str(), value(f.attenuationDb).c_str(),
                value(f.attenuatorCode).c_str(), f.clocksPerSweep ? std::to_string(*f.clocksPerSweep).c_str() : "never");
    for (int c = 0; c < 3; ++c) {
        const meta::ChannelGainSent& g = f.channels[size_t(c)];
        const int a = 2 * c, b = 2 * c + 1;  // channel c + 1's potentiometers
        std::string row = g.tableGainDb ? "table row " + std::to_string(*g.tableGainDb) + " dB"
                                        : std::string(g.requestedGainDb ? "no usable table row" : "no table row");
        std::printf("    ch %d: gain asked %s dB, %s, pots %d = %s, %d = %s\n", c + 1, value(g.requestedGainDb).c_str(),
                    row.c_str(), a, value(f.pots[size_t(a)]).c_str(), b, value(f.pots[size_t(b)]).c_str());
    }
}

// ---- Where and when --------------------------------------------------------------------

std::string metres(const char* what, const std::optional<double>& v)
{
    if (!v)
        return std::string();
    char text[64];
    std::snprintf(text, sizeof text, ", %s %.1f m", what, *v);
    return text;
}

void printPosition(const char* moment, const std::optional<meta::PositionSample>& sample)
{
    if (!sample)
        return;
    if (!sample->fix) {
        std::printf("    position at scan %s: none (%s)\n", moment, printable(sample->reason).c_str());
        return;
    }
    const meta::Position& p = *sample->fix;
    std::printf("    position at scan %s: %.7f %c, %.7f %c", moment, std::abs(p.latitudeDeg), p.latitudeDeg < 0 ? 'S' : 'N',
                std::abs(p.longitudeDeg), p.longitudeDeg < 0 ? 'W' : 'E');
    if (p.altitudeM)
        std::printf(", %.1f m above the ellipsoid", *p.altitudeM);
    if (p.altitudeMslM)
        std::printf(" (%.1f m above sea level)", *p.altitudeMslM);
    std::printf("; %dD fix%s%s", p.mode, metres("error", p.horizontalErrorM).c_str(),
                metres("vertical", p.verticalErrorM).c_str());
    if (p.speedMps)
        std::printf(", %.1f m/s", *p.speedMps);
    if (p.trackDeg)
        std::printf(" track %.1f deg", *p.trackDeg);
    std::printf("; GPS time %s, %.1f s old\n", p.gpsTimeUtc.empty() ? "none" : printable(p.gpsTimeUtc).c_str(), p.ageS);
}

void printWhereAndWhen(const meta::Recording& r)
{
    if (!r.positionStart && !r.positionEnd && !r.timeSource)
        return;  // written before positions were recorded
    printPosition("start", r.positionStart);
    printPosition("end", r.positionEnd);
    if (r.timeSource) {
        std::printf("    time source: %s", printable(r.timeSource->source).c_str());
        if (r.timeSource->offsetS)
            std::printf(" (system clock %+.3f s from GPS time)", *r.timeSource->offsetS);
        std::printf("\n");
    }
}

}  // namespace

bool hasSidecar(const std::string& recordingPath)
{
    struct stat info{};
    return ::stat(meta::sidecarPath(recordingPath).c_str(), &info) == 0;
}

bool reportSidecar(const std::string& recordingPath, const std::string& sha256, uint64_t bytes, int64_t lines)
{
    const std::string path = meta::sidecarPath(recordingPath);
    std::string error;
    const std::optional<meta::Recording> r = meta::readSidecar(path, &error);
    if (!r) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", printable(path).c_str(), printable(error).c_str());
        return false;
    }
    std::printf("  sidecar %s: written %s by %s %s on %s board library %s\n", printable(path).c_str(),
                printable(r->writtenUtc).c_str(), printable(r->softwareName).c_str(),
                printable(r->softwareVersion).c_str(), r->boardLibrarySimulated ? "the simulated" : "the",
                printable(r->boardLibraryPath).c_str());
    const meta::Settings& s = r->settings;
    std::printf("    settings: %d sweeps of %d samples, clock divider %d, attenuation %d dB, gains %d, %d, %d dB\n",
                s.numSweeps, s.sweepSamples, s.clockDivider, s.attenuation, s.gains[0], s.gains[1], s.gains[2]);
    printFrontEnd(r->frontEnd);
    std::printf("    scan started %s: %lld samples at %d Hz; %zu of %d sweeps written, %s", printable(r->scanStartedUtc).c_str(),
                (long long)r->scan.samples, r->scan.scanRateHz, r->sweepStartGroups.size(), r->sweepsRequested,
                printable(r->result.status).c_str());
    if (r->result.reason)
        std::printf(" (%s)", printable(*r->result.reason).c_str());
    std::printf("\n");
    printWhereAndWhen(*r);
    if (!r->sweepStartGroups.empty()) {
        std::printf("    sweep starts (scan group):");
        const size_t shown = std::min<size_t>(r->sweepStartGroups.size(), 8);
        for (size_t k = 0; k < shown; ++k)
            std::printf(" %lld", (long long)r->sweepStartGroups[k]);
        if (shown < r->sweepStartGroups.size())
            std::printf(" ... %lld", (long long)r->sweepStartGroups.back());
        std::printf("\n");
    }
    const bool same = r->result.sha256 == sha256 && r->result.bytes == bytes && r->result.lines == lines;
    if (same) {
        std::printf("    sha256 %s: matches the recording\n", sha256.c_str());
        return true;
    }
    // What differs is said: a digest that matches beside a size or line count that does
    // not is a sidecar edited since, not a recording changed.
    const bool sameDigest = r->result.sha256 == sha256;
    const bool sameBytes = r->result.bytes == bytes, sameLines = r->result.lines == lines;
    const char* differs = !sameDigest             ? "sha256 differs"
                          : !sameBytes && !sameLines ? "size and line count differ"
                          : !sameBytes            ? "size differs"
                                                  : "line count differs";
    std::printf("    sha256 %s: %s (now %s, %llu bytes, %lld lines; sidecar: %llu bytes, %lld lines)\n",
                printable(r->result.sha256).c_str(),
                sameDigest ? "the recording's, but the sidecar's size or line count DOES NOT MATCH it"
                           : "DOES NOT MATCH the recording",
                sha256.c_str(), (unsigned long long)bytes, (long long)lines, (unsigned long long)r->result.bytes,
                (long long)r->result.lines);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: the recording is not the one its sidecar describes (%s)\n",
                 printable(recordingPath).c_str(), differs);
    return false;
}

}  // namespace cli
