#pragma once
// The delay metrics of a whole recording: every sweep's profile, computed as the
// acquisition program computes it, the block averages over consecutive sweeps and
// the metrics of each. Qt-free; one call per file, so several files can run at once
// on threads of their own with results identical to one at a time.

#include "delay_metrics.h"
#include "delay_profile.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

using SampleWindow = TransformWindow;

struct AnalysisSettings {
    // The transform's samples, window and each profile's count of averaged sweeps are
    // set for each file and profile from the fields below.
    DelayMetricsParams metrics;
    int channel = 0;  // 1..3, or 0 for every channel the file holds
    int blockSweeps = 5;
    SampleWindow window = SampleWindow::None;
    std::optional<double> bandwidthHz;
};

// Weight of sample n (0..count-1) of a window over count samples: the periodic
// (DFT-even) form, 1 throughout for None.
double windowWeight(SampleWindow window, int n, int count);

struct ChannelAnalysis {
    int channel = 1;
    std::vector<DelayMetrics> sweeps;  // one per sweep, in file order
    std::vector<DelayMetrics> blocks;  // one per block
    // The recording's averaged profile (linear mean of every sweep's power, then dB),
    // bins 1..ProfileBins; bins the metrics never read are left at -60 dB.
    std::vector<double> averageDb;
    DelayMetrics average;
};

struct RecordingAnalysis {
    std::string path;
    bool viewerLayout = false;
    int clockDivider = 2;     // the viewer layout states none: 0 there
    int samplesUsed = 4096;   // samples entering each transform
    int64_t sweeps = 0;
    std::vector<ChannelAnalysis> channels;

    // Block b (0-based) covers sweeps b*blockSweeps .. min(sweeps, (b+1)*blockSweeps) - 1;
    // the last block holds the sweeps left over and is averaged over its own count.
    int64_t blockCount(int blockSweeps) const { return (sweeps + blockSweeps - 1) / blockSweeps; }
};

// Reads and analyses one file of either layout. bytesDone, when given, grows by the
// bytes read as they are read (a progress line over several files). Throws Failure
// with the stderr line naming the file (and line) for bad input and I/O failures.
// Settings must be valid (see analysisSettingsProblem).
RecordingAnalysis analyzeRecording(const std::string& path, const AnalysisSettings& settings,
                                   std::atomic<uint64_t>* bytesDone = nullptr);

// Seconds per bin of a file when the bandwidth is given: the divider's sweep length
// over 4096 x bandwidth; for the viewer layout, which states no divider, its samples
// per sweep stand in.
std::optional<double> secondsPerBin(const RecordingAnalysis& analysis, const AnalysisSettings& settings);

// Why settings cannot be used, or an empty string.
std::string analysisSettingsProblem(const AnalysisSettings& settings);

}  // namespace cli
