// sounder analyze --cal --paths (calibrated columns and the path table) beside sounder
// analyze alone, both with CSV and JSON, on the recording of 1430 sweeps at clock
// divider 2 that bench_analyze uses, in the same run.
// Target: the calibrated run at most 1.15x the wall time of analyze alone.
// Usage: bench_calibrated [directory]   (default: a fresh directory under /tmp)

#include "bench_child.h"
#include "bench_recording.h"

#include <filesystem>
#include <fstream>

namespace {

constexpr int Repeats = 9;

// A calibration of divider 2 for the three channels (the recording has no sidecar,
// so its header's gain and attenuation are taken).
const char* const Calibration = R"({
  "schema": "sounder.calibration/1", "tool": "bench_calibrated", "made_utc": "2026-12-09T00:00:00Z",
  "inputs": [], "clock_divider": 2, "through_db": 60, "cable_delay_ns": 5,
  "processing": {"window": "none", "threshold_db": 20, "margin_db": 6},
  "channels": [
    {"channel": 1, "reference_db": 32.4, "peak_reference_db": 32.4, "delay_bins": 51, "snr_db": 80},
    {"channel": 2, "reference_db": 32.4, "peak_reference_db": 32.4, "delay_bins": 51, "snr_db": 80},
    {"channel": 3, "reference_db": 32.4, "peak_reference_db": 32.4, "delay_bins": 51, "snr_db": 80}]})";

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir = benchDirectory(argc, argv, "bench_calibrated");
    if (dir.empty())
        return 1;
    const std::string path = dir + "/rec.txt";
    writeBenchRecording(path);
    std::ofstream(dir + "/cal.json") << Calibration;
    std::printf("bench_calibrated: %s, %.1f MB\n", path.c_str(), double(std::filesystem::file_size(path)) / 1e6);

    const std::vector<std::string> plain = {SOUNDER_BINARY, "analyze", path, "--bandwidth", "1e8", "--csv",
                                            dir + "/plain.csv", "--json", dir + "/plain.json"};
    std::vector<std::string> calibrated = plain;
    calibrated.back() = dir + "/cal.out.json";
    calibrated[6] = dir + "/cal.out.csv";
    for (const std::string& a : {std::string("--cal"), dir + "/cal.json", std::string("--paths"), dir + "/paths.csv"})
        calibrated.push_back(a);

    // Rounds of both cases in turn; the best of the rounds counts.
    ChildTimes alone, withCal;
    for (int round = 0; round < Repeats; ++round) {
        timeSequence({plain}, alone);
        timeSequence({calibrated}, withCal);
    }
    std::printf("  sounder analyze:               wall %8.1f ms, cpu %8.1f ms\n", alone.wallMs, alone.cpuMs);
    std::printf("  sounder analyze --cal --paths: wall %8.1f ms, cpu %8.1f ms, %.1f MB of paths\n", withCal.wallMs,
                withCal.cpuMs, double(std::filesystem::file_size(dir + "/paths.csv")) / 1e6);
    const double ratio = withCal.wallMs / alone.wallMs;
    const bool met = ratio <= 1.15;
    std::printf("  calibrated / alone, wall: %.3f (target <= 1.15): %s\n", ratio, met ? "met" : "NOT met");
    std::printf("  calibrated / alone, cpu:  %.3f\n", withCal.cpuMs / alone.cpuMs);
    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return met ? 0 : 1;
}
