#pragma once
// `sounder analyze FILE...`: the delay metrics of whole recordings, written as CSV,
// JSON and a picture. Files are analysed on worker threads, one file per worker and
// at most one worker per core; each file's result depends on nothing but the file
// and the settings, so it is the same as in a run of that file alone.

#include "recording_analysis.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct AnalyzeOutputs {
    std::string csvPath;   // empty: none
    std::string jsonPath;
    std::string plotPath;
    std::string pathsPath;  // the path table (needs AnalysisSettings::pathLobes)
    std::string waterfallPath;  // --waterfall OUT.png
    int waterfallWidth = 1600;  // its size in pixels
    int waterfallHeight = 1000;
    std::string profilesPath;   // --profiles OUT.npy
};

// Checks that the settings' calibration serves every result (its divider, its
// channels, its processing) and gives each its front-end levels. Returns false after
// one line on stderr per problem. With onlyChannel (1..3) that channel alone must be
// calibrated: the others are measured but not calibrated.
bool applyCalibration(std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings, int onlyChannel = 0);

// Draws one file's picture and gives the bytes of its PNG file.
using PlotDrawer = std::function<std::string(const RecordingAnalysis&, const AnalysisSettings&)>;

// Where the picture of file `index` (0-based) of `count` goes: the path itself for one
// file; for several, the file's number inserted before the extension
// ("out.png" -> "out.1.png", "out.2.png", ...).
std::string plotPathFor(const std::string& plotPath, size_t index, size_t count);

// One file's analysis, or the stderr line of why it failed.
struct FileAnalysis {
    std::optional<RecordingAnalysis> result;
    std::string failure;
};
// Analyses the files on up to one worker per core, with a progress line on a terminal.
// meanwhile, when given, runs on the calling thread while the workers run (work that
// needs no result, such as loading what a picture will need, or reading the rows as
// they are made); should it throw, the analysis goes on as without it. rows, when
// given, holds one entry per file, told of that file's kept rows (each entry's
// `ended` set once its file's analysis has ended).
std::vector<FileAnalysis> analyzeFiles(const std::vector<std::string>& files, const AnalysisSettings& settings,
                                       const std::function<void()>& meanwhile = {},
                                       std::vector<ProfileRowsProgress>* rows = nullptr);
// Prints the stderr line of every file that failed; true when none did.
bool allAnalyzed(const std::vector<FileAnalysis>& outcomes);

// Analyses every file, then writes the outputs, each under a temporary name renamed
// only once all are whole. Returns the exit status: 0, or 2 when a file was bad (its
// line on stderr, every bad file reported, and no output written). Throws Failure
// for a failed write of an output.
// drawWaterfall draws the picture of --waterfall; with several files the waterfalls
// and profiles are numbered as the pictures are. preparePictures, when given, runs
// while the files are analysed (see analyzeFiles) when a picture is to be drawn.
int runAnalyze(const std::vector<std::string>& files, const AnalysisSettings& settings, const AnalyzeOutputs& outputs,
               const PlotDrawer& drawPlot, const PlotDrawer& drawWaterfall = {},
               const std::function<void()>& preparePictures = {});

}  // namespace cli
