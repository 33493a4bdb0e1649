#pragma once
// The delay metrics of a whole recording: every sweep's profile, computed as the
// acquisition program computes it, the block averages over consecutive sweeps and
// the metrics of each. Qt-free; one call per file, so several files can run at once
// on threads of their own with results identical to one at a time.

#include "delay_metrics.h"
#include "delay_profile.h"
#include "calibration.h"
#include "path_lobe.h"
#include "recording_place.h"
#include "waterfall_cells.h"

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

using SampleWindow = TransformWindow;

// Whether the profiles themselves are kept (for --waterfall and --profiles), one row
// per sweep or per block, bins 1..ProfileRowBins in float dB. Nothing is kept unless
// asked: a run without them is not slowed.
enum class ProfileRows { None, Sweeps, Blocks };
inline constexpr int ProfileRowBins = 2048;

struct AnalysisSettings {
    // The transform's samples, window and each profile's count of averaged sweeps are
    // set for each file and profile from the fields below.
    DelayMetricsParams metrics;
    int channel = 0;  // 1..3, or 0 for every channel the file holds
    int blockSweeps = 5;
    SampleWindow window = SampleWindow::None;
    std::optional<double> bandwidthHz;
    // The lobes of the paths as well: the strongest path's of every sweep, block and the
    // averaged profile, and every counted path's of each block and the averaged profile.
    bool pathLobes = false;
    bool countClipped = false;  // samples at code 0 or 4095 per channel, whole sweeps only
    // A calibration to apply (needs pathLobes), and the file it was read from.
    std::optional<cal::Calibration> calibration;
    std::string calibrationPath;
    std::optional<Origin> origin;  // the transmitter: distances in the outputs
    ProfileRows keepProfiles = ProfileRows::None;
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

    // With AnalysisSettings::pathLobes: the strongest path's lobe of each sweep and
    // block (absent where the profile has no peak), and each counted path's lobe of
    // every block (in the order of DelayMetrics::pathBins); the same for the average.
    std::vector<std::optional<PathLobe>> sweepPeakLobes;
    std::vector<std::optional<PathLobe>> blockPeakLobes;
    std::vector<std::vector<PathLobe>> blockPathLobes;
    std::optional<PathLobe> averagePeakLobe;
    std::vector<PathLobe> averagePathLobes;
    int64_t clipped = 0;  // with AnalysisSettings::countClipped
    // With keepProfiles: the rows, ProfileRowBins floats each, 10 * log10 of the
    // floored power of each sweep, or of the block's mean power; profileRows of them.
    // `sounder analyze` lets profilesDb go (empty) once the rows stand in their .npy file
    // and the picture's cells are made, so that many files take the memory of a few:
    // profileRows still says how many there were.
    std::vector<float> profilesDb;
    int64_t profileRows = 0;
    // The waterfall picture's cells of these rows, where they were made as the rows
    // were (see WaterfallCells::completeFor for whether they fit a picture).
    std::optional<WaterfallCells> waterfallCells;
};

struct RecordingAnalysis {
    std::string path;
    bool viewerLayout = false;
    int clockDivider = 2;     // the viewer layout states none: 0 there
    int samplesUsed = 4096;   // samples entering each transform
    int64_t sweeps = 0;
    std::vector<ChannelAnalysis> channels;
    // The acquisition layout's header settings (zeros for the viewer layout).
    int32_t headerAttenuation = 0;
    std::array<int32_t, 3> headerGains{};
    uint64_t bytes = 0;  // size of the file
    std::optional<cal::FrontEndLevels> levels;  // set where a calibration is applied
    RecordingPlace place;  // where and when, from the sidecar

    // Block b (0-based) covers sweeps b*blockSweeps .. min(sweeps, (b+1)*blockSweeps) - 1;
    // the last block holds the sweeps left over and is averaged over its own count.
    int64_t blockCount(int blockSweeps) const { return (sweeps + blockSweeps - 1) / blockSweeps; }
};

// The kept rows of one file as they are made, for a reader on another thread (the
// .npy file written while the recording is read). Once `room` is non-zero, each
// channel's rows stand from first[c] on, room rows each, never moved while the
// analysis runs, and rows [0, done) of every channel are whole. A file in the viewer
// layout, which does not state its sweeps, is not followed: room stays 0. The rows
// may end short of room (a recording cut short).
struct ProfileRowsProgress {
    // Held by the reader while it reads rows, and by the analysis when it gives the
    // rows up (a failed analysis, before they are freed); guards first and room.
    std::mutex mutex;
    std::vector<const float*> first;
    size_t room = 0;                 // the rows the file is to give, 0 while not followed
    // Set once the analysis has ended well (before `ended`): each channel's rows in the
    // result, which the reader may let go once it has taken all it needs of them.
    std::vector<std::vector<float>*> kept;
    std::atomic<size_t> done{0};     // rows whole in every channel
    // The analysis makes threads of its own only as it begins (to back the rows' room
    // with memory); set once they are made. A library loaded meanwhile on another
    // thread would hold them up: the C library makes no thread while one loads.
    std::atomic<bool> setUp{false};
    std::atomic<bool> ended{false};  // set by the caller once analyzeRecording has returned or thrown
};

// Reads and analyses one file of either layout. bytesDone, when given, grows by the
// bytes read as they are read (a progress line over several files); rows, when given
// with keepProfiles, tells of the kept rows as they are made; byteSink, when given, sees
// every byte of a recording in the acquisition layout as it is read, in order (its
// digest without a second reading, which a pipe would not give). Throws Failure with the
// stderr line naming the file (and line) for bad input and I/O failures. Settings
// must be valid (see analysisSettingsProblem).
RecordingAnalysis analyzeRecording(const std::string& path, const AnalysisSettings& settings,
                                   std::atomic<uint64_t>* bytesDone = nullptr, ProfileRowsProgress* rows = nullptr,
                                   std::function<void(const char*, size_t)> byteSink = {});

// Seconds per bin of a file when the bandwidth is given: the divider's sweep length
// over 4096 x bandwidth; for the viewer layout, which states no divider, 5000 for a
// series of more than 2500 samples (a divider-2 sweep cut to 4000), else its samples
// per sweep.
std::optional<double> secondsPerBin(const RecordingAnalysis& analysis, const AnalysisSettings& settings);

// Why settings cannot be used, or an empty string.
std::string analysisSettingsProblem(const AnalysisSettings& settings);

}  // namespace cli
