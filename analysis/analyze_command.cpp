#include "analyze_command.h"

#include "analysis_report.h"
#include "cli_support.h"
#include "csv_text.h"
#include "output_file.h"
#include "path_table.h"
#include "profile_rows.h"
#include "recording_input.h"
#include "runtime_error.h"
#include "thread_start.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace cli {

namespace {

uint64_t fileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
}

using Outcome = FileAnalysis;

// The kept rows of the files, taken as they are made while the recordings are read:
// - the .npy files of the profiles: the rows of each file go to their places
//   (channel-major, as the file holds them), so that little is left to write once the
//   analysis ends;
// - the cells of the waterfall pictures, so that the picture is left only its drawing.
// A file whose rows end short of what its header promised, or that is not followed,
// has both made whole afterwards, from its result. A file whose rows were all taken
// has them let go as soon as its analysis ends: a run over many files then holds the
// rows of those being read, not of all of them.
class RowsFollower {
public:
    // npyFiles: one per file, or null where they are not followed; picture: the
    // waterfall's size, when one is drawn; rowsWanted: the rows are needed after the
    // analysis in any case (a .npy file written whole at the end).
    RowsFollower(std::vector<std::unique_ptr<OutputFile>>* npyFiles, std::vector<ProfileRowsProgress>& progress,
                 std::optional<MapPixels> picture, bool rowsWanted)
        : npyFiles_(npyFiles),
          progress_(progress),
          picture_(picture),
          rowsWanted_(rowsWanted),
          npyWritten_(progress.size(), 0),
          failures_(progress.size(), 0),
          cells_(progress.size()),
          finished_(progress.size(), false)
    {
    }

    // Until every file's analysis has ended: what has been made is taken.
    void follow()
    {
        constexpr auto Pause = std::chrono::milliseconds(2);
        std::vector<bool> ended(progress_.size(), false);
        for (bool allEnded = false; !allEnded;) {
            allEnded = true;
            for (size_t i = 0; i < progress_.size(); ++i) {
                ended[i] = progress_[i].ended.load(std::memory_order_acquire);
                allEnded = allEnded && ended[i];
            }
            bool took = false;
            for (size_t i = 0; i < progress_.size(); ++i)
                took = takeMade(i) || took;
            // Ended before this round's take: every row is taken now.
            for (size_t i = 0; i < progress_.size(); ++i)
                if (ended[i] && !finished_[i]) {
                    finished_[i] = true;
                    letRowsGo(i);
                }
            if (!allEnded && !took)
                std::this_thread::sleep_for(Pause);
        }
    }

    // After the analysis: the cells made go to their results' channels.
    void giveCells(std::vector<RecordingAnalysis>& results)
    {
        for (size_t i = 0; i < results.size() && i < cells_.size(); ++i)
            for (size_t c = 0; c < cells_[i].size() && c < results[i].channels.size(); ++c)
                results[i].channels[c].waterfallCells = std::move(cells_[i][c]);
    }

    // After the analysis: each .npy file made whole, its header last. A failed write
    // throws rt::InOutError; failedPath names the file.
    void finishNpy(const std::vector<RecordingAnalysis>& results, std::string& failedPath)
    {
        for (size_t i = 0; npyFiles_ && i < npyFiles_->size(); ++i) {
            OutputFile& file = *(*npyFiles_)[i];
            failedPath = file.path();
            const RecordingAnalysis& r = results[i];
            const size_t rows = r.channels.empty() ? 0 : size_t(r.channels.front().profileRows);
            // A write that failed while the rows were followed fails the file, unless the
            // file is written afresh anyway (rows other than promised: a smaller file).
            const bool placed = room(i) > 0 && rows == room(i);
            if (placed && failures_[i] != 0)
                throw rt::InOutError(failures_[i]);
            if (placed && npyWritten_[i] == rows) {
                const std::string header = npyHeader(r.channels.size(), rows);
                file.writeAt(0, header.data(), header.size());
            } else {
                file.resize(0);
                writeProfilesNpy(file, r);
            }
        }
    }

private:
    // File i's rows, all taken, go where nothing after the analysis needs them: all the
    // rows its header promised stand in its .npy file (where one is followed), and its
    // picture's cells are whole (where one is drawn).
    void letRowsGo(size_t i)
    {
        ProfileRowsProgress& p = progress_[i];
        const std::lock_guard<std::mutex> lock(p.mutex);
        const size_t done = p.done.load(std::memory_order_acquire);
        if (rowsWanted_ || p.room == 0 || done != p.room || p.kept.empty())
            return;
        if (npyFiles_ && (failures_[i] != 0 || npyWritten_[i] != done))
            return;
        if (picture_) {
            for (const std::optional<WaterfallCells>& cells : cells_[i])
                if (!cells || !cells->completeFor(int(done), mapPixels(p.first.size())))
                    return;
        }
        p.first.clear();
        for (std::vector<float>* rows : p.kept)
            std::vector<float>().swap(*rows);
    }
    // The pixels of each channel's map in the picture of a file of `channels` channels.
    MapPixels mapPixels(size_t channels) const
    {
        return waterfallMapPixels(picture_->width, picture_->height, int(channels));
    }
    static std::string npyHeader(size_t channels, size_t rows)
    {
        return npyFloat32Header({uint64_t(channels), uint64_t(rows), uint64_t(ProfileRowBins)});
    }
    size_t room(size_t i)
    {
        const std::lock_guard<std::mutex> lock(progress_[i].mutex);
        return progress_[i].room;
    }
    // Takes file i's rows made since the last call; true when there were any.
    bool takeMade(size_t i)
    {
        ProfileRowsProgress& p = progress_[i];
        const std::lock_guard<std::mutex> lock(p.mutex);
        const size_t done = p.done.load(std::memory_order_acquire);
        if (p.room == 0)
            return false;
        bool took = false;
        if (picture_) {
            if (cells_[i].empty()) {
                const MapPixels pixels = mapPixels(p.first.size());
                for (size_t c = 0; c < p.first.size(); ++c)
                    cells_[i].emplace_back(std::in_place, int(p.room), pixels);
            }
            for (size_t c = 0; c < p.first.size(); ++c) {
                WaterfallCells& cells = *cells_[i][c];
                if (size_t(cells.rowsAdded()) < done) {
                    const size_t from = size_t(cells.rowsAdded());
                    cells.addRows(p.first[c] + from * ProfileRowBins, int(done - from));
                    took = true;
                }
            }
        }
        if (npyFiles_ && failures_[i] == 0 && done > npyWritten_[i]) {
            constexpr size_t RowBytes = ProfileRowBins * sizeof(float);
            const uint64_t start = npyHeader(p.first.size(), p.room).size();
            try {
                for (size_t c = 0; c < p.first.size(); ++c)
                    (*npyFiles_)[i]->writeAt(start + (c * p.room + npyWritten_[i]) * RowBytes,
                                          reinterpret_cast<const char*>(p.first[c] + npyWritten_[i] * ProfileRowBins),
                                          (done - npyWritten_[i]) * RowBytes);
                npyWritten_[i] = done;
                took = true;
            } catch (const rt::InOutError& e) {
                failures_[i] = e.code();  // said once the analysis has ended
            }
        }
        return took;
    }

    std::vector<std::unique_ptr<OutputFile>>* npyFiles_;  // null where not followed
    std::vector<ProfileRowsProgress>& progress_;
    std::optional<MapPixels> picture_;
    bool rowsWanted_;
    std::vector<size_t> npyWritten_;  // rows of each file written to its .npy
    std::vector<int> failures_;       // the code of a failed .npy write, 0 while none
    std::vector<std::vector<std::optional<WaterfallCells>>> cells_;  // per file and channel
    std::vector<bool> finished_;  // each file's rows all taken (and let go where they could)
};

}  // namespace

// Runs analyzeRecording over the files on up to one worker per core, showing the
// progress of all of them together on a terminal.
std::vector<FileAnalysis> analyzeFiles(const std::vector<std::string>& files, const AnalysisSettings& settings,
                                       const std::function<void()>& meanwhile, std::vector<ProfileRowsProgress>* rows)
{
    std::vector<Outcome> outcomes(files.size());
    uint64_t total = 0;
    for (const std::string& f : files)
        total += fileSize(f);
    Progress progress(files.size() == 1 ? files.front() : std::to_string(files.size()) + " files", total);

    std::atomic<uint64_t> bytesDone{0};
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    size_t running = 0;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min<size_t>(files.size(), cores);
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            ProfileRowsProgress* progress = rows ? &(*rows)[i] : nullptr;
            struct Ended {
                ProfileRowsProgress* progress;
                ~Ended()
                {
                    if (progress)
                        progress->ended.store(true, std::memory_order_release);
                }
            } ended{progress};
            try {
                outcomes[i].result = analyzeRecording(files[i], settings, &bytesDone, progress);
                if (progress) {
                    const std::lock_guard<std::mutex> lock(progress->mutex);
                    for (ChannelAnalysis& channel : outcomes[i].result->channels)
                        progress->kept.push_back(&channel.profilesDb);
                }
            } catch (const Failure& failure) {
                outcomes[i].failure = failure.what();
            } catch (const std::bad_alloc&) {
                outcomes[i].failure = files[i] + ": not enough memory to analyze it";
            } catch (const std::exception& e) {
                // Nothing else is expected here; a worker must not end the program.
                outcomes[i].failure = files[i] + ": " + e.what();
            }
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };
    // Each worker is counted as running before it starts (and uncounted should it not
    // start). The system may give fewer threads than asked for (a limit of the user's
    // processes): those there are take every file; with none at all, this thread
    // analyzes them all first, and what goes on meanwhile follows.
    const auto count = [&](bool starting) {
        const std::lock_guard<std::mutex> lock(mutex);
        starting ? ++running : --running;
    };
    std::vector<std::thread> threads;
    while (threads.size() < workers) {
        count(true);
        std::thread worker = rt::threadIfAny(work);
        if (!worker.joinable()) {
            count(false);
            break;
        }
        threads.push_back(std::move(worker));
    }
    if (threads.empty()) {
        count(true);
        work();
    }
    if (meanwhile) {
        try {
            meanwhile();
        } catch (const std::exception&) {
            // It only saves time later; the workers must be waited for in any case.
        }
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            finished.wait_for(lock, std::chrono::milliseconds(250));
            progress.update(bytesDone.load(std::memory_order_relaxed));
        }
    }
    for (std::thread& t : threads)
        t.join();
    progress.done();
    return outcomes;
}

bool allAnalyzed(const std::vector<FileAnalysis>& outcomes)
{
    bool good = true;
    for (const FileAnalysis& o : outcomes)
        if (!o.result) {
            std::fprintf(stderr, "%s\n", printable(o.failure).c_str());
            good = false;
        }
    return good;
}

bool applyCalibration(std::vector<RecordingAnalysis>& results, const AnalysisSettings& settings, int onlyChannel)
{
    const auto calibrated = [onlyChannel](const ChannelAnalysis& ch) {
        return onlyChannel == 0 || ch.channel == onlyChannel;
    };
    if (!settings.calibration)
        return true;
    const cal::Calibration& c = *settings.calibration;
    const std::string& calPath = settings.calibrationPath;
    bool good = true;
    const auto refuse = [&](const std::string& line) {
        std::fprintf(stderr, "%s\n", printable(line).c_str());
        good = false;
    };
    if (c.window != windowName(settings.window))
        refuse(calPath + ": made with --window " + c.window + ", not " + windowName(settings.window) +
               ": the powers would not compare");
    // The threshold decides which bins count, so the reference and the measurement must share it.
    if (c.thresholdDb != settings.metrics.thresholdDb) {
        std::string line = calPath + ": made with --threshold-db ";
        appendNumber(line, c.thresholdDb);
        line += ", not ";
        appendNumber(line, settings.metrics.thresholdDb);
        refuse(line + ": the powers would not compare");
    }
    for (RecordingAnalysis& r : results) {
        if (r.viewerLayout) {
            refuse(r.path + ": the viewer layout states no gain, attenuation or divider: a calibration cannot apply");
            continue;
        }
        if (r.clockDivider != c.clockDivider) {
            refuse(r.path + ": recorded at clock divider " + std::to_string(r.clockDivider) + ", " + calPath +
                   " calibrates divider " + std::to_string(c.clockDivider));
            continue;
        }
        std::string lacking;
        for (const ChannelAnalysis& ch : r.channels)
            if (calibrated(ch) && !c.channel(ch.channel))
                lacking += (lacking.empty() ? "" : ", ") + std::to_string(ch.channel);
        if (!lacking.empty()) {
            refuse(r.path + ": ch " + lacking + ": " + calPath + " holds no calibration of " +
                   (lacking.size() > 1 ? "them" : "it"));
            continue;
        }
        try {
            r.levels = cal::frontEndLevels(r.path, r.headerAttenuation, r.headerGains, r.bytes);
        } catch (const Failure& failure) {
            refuse(failure.what());
            continue;
        }
        for (const ChannelAnalysis& ch : r.channels)
            if (calibrated(ch) && !r.levels->gainDb[size_t(ch.channel - 1)])
                refuse(r.path + ": ch " + std::to_string(ch.channel) + ": the sidecar does not say what gain the "
                                "front-end was sent");
        // A clipped channel's powers are short of what reached the receiver: measured,
        // but said to be so (settings.countClipped counts them).
        std::string clipped;
        for (const ChannelAnalysis& ch : r.channels)
            if (calibrated(ch) && ch.clipped > 0)
                clipped += (clipped.empty() ? "" : ", ") + std::to_string(ch.channel);
        if (!clipped.empty())
            note(r.path + ": ch " + clipped + ": clipped samples (code 0 or 4095): the path gains read low; record "
                                              "with less gain or more attenuation");
    }
    return good;
}

namespace {

// The JSON summary with, when profiles were kept, what their rows and bins are and
// where they went.
std::string withProfilesDescribed(const std::string& json, const std::vector<RecordingAnalysis>& results,
                                  const AnalysisSettings& settings, const AnalyzeOutputs& outputs)
{
    if (settings.keepProfiles == ProfileRows::None)
        return json;
    QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    QJsonArray files = root.value("files").toArray();
    for (qsizetype i = 0; i < files.size() && size_t(i) < results.size(); ++i) {
        const RecordingAnalysis& r = results[size_t(i)];
        const uint64_t rows = r.channels.empty() ? 0 : uint64_t(r.channels.front().profileRows);
        QJsonArray channels;
        for (const ChannelAnalysis& c : r.channels)
            channels.append(c.channel);
        const auto pathOf = [&](const std::string& path) {
            return path.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(plotPathFor(path, size_t(i), results.size())));
        };
        QJsonObject file = files[i].toObject();
        file["profiles"] = QJsonObject{
            {"npy", pathOf(outputs.profilesPath)},
            {"waterfall", pathOf(outputs.waterfallPath)},
            {"shape", QJsonArray{qint64(r.channels.size()), qint64(rows), ProfileRowBins}},
            {"dtype", "float32"},
            {"axis0", "channel, in the order of channels"},
            {"channels", channels},
            {"axis1", QString::fromStdString(profileRowsName(settings.keepProfiles))},
            {"axis1_meaning", settings.keepProfiles == ProfileRows::Blocks
                                  ? QString("row b: block b + 1, sweeps b*%1+1 .. (b+1)*%1, the mean of their powers")
                                        .arg(settings.blockSweeps)
                                  : QString("row s: sweep s + 1")},
            {"axis2", "delay bin: index i is bin i + 1, transform bin i, delay i bins"},
            {"unit", "dB: 10 log10 of the power, floored at 1e-6 (-60 dB)"},
        };
        files[i] = file;
    }
    root["files"] = files;
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}


}  // namespace

std::string plotPathFor(const std::string& plotPath, size_t index, size_t count)
{
    if (count <= 1)
        return plotPath;
    const size_t slash = plotPath.rfind('/');
    const size_t dot = plotPath.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string number = "." + std::to_string(index + 1);
    return hasExtension ? plotPath.substr(0, dot) + number + plotPath.substr(dot) : plotPath + number;
}

int runAnalyze(const std::vector<std::string>& files, const AnalysisSettings& settings, const AnalyzeOutputs& outputs,
               const PlotDrawer& drawPlot, const PlotDrawer& drawWaterfall,
               const std::function<void()>& preparePictures)
{
    // The profiles' files are begun first, to take the rows as they are made.
    std::vector<std::unique_ptr<OutputFile>> npyFiles;
    if (!outputs.profilesPath.empty())
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string path = plotPathFor(outputs.profilesPath, i, files.size());
            try {
                npyFiles.push_back(std::make_unique<OutputFile>(path));
            } catch (const rt::InOutError& e) {
                failIo(path, e.code());
            }
        }
    // Only a file of its own can be written out of order (not standard output, a pipe
    // or a device): those take the whole file once the analysis has ended.
    bool followNpy = !npyFiles.empty();
    for (const std::unique_ptr<OutputFile>& f : npyFiles)
        followNpy = followNpy && !f->direct();
    std::optional<MapPixels> picture;
    if (!outputs.waterfallPath.empty())
        picture = MapPixels{outputs.waterfallWidth, outputs.waterfallHeight};
    const bool follow = followNpy || picture;
    std::vector<ProfileRowsProgress> progress(follow ? files.size() : 0);
    RowsFollower follower(followNpy ? &npyFiles : nullptr, progress, picture, !npyFiles.empty() && !followNpy);
    const bool draws = !outputs.plotPath.empty() || !outputs.waterfallPath.empty();
    const auto meanwhile = [&] {
        // The files being read first make the threads they make (see
        // ProfileRowsProgress::setUp); the pictures' libraries load after.
        const size_t first = std::min<size_t>(progress.size(), std::max(1u, std::thread::hardware_concurrency()));
        for (size_t i = 0; i < first; ++i)
            while (!progress[i].setUp.load(std::memory_order_acquire) &&
                   !progress[i].ended.load(std::memory_order_acquire))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (draws && preparePictures) {
            try {
                preparePictures();
            } catch (const std::exception&) {
                // Only saves time; the pictures' drawing says what is wrong.
            }
        }
        if (follow)
            follower.follow();
    };
    std::vector<Outcome> outcomes = analyzeFiles(files, settings, meanwhile, follow ? &progress : nullptr);
    if (!allAnalyzed(outcomes))
        return ExitBadInput;
    std::vector<RecordingAnalysis> results;
    results.reserve(outcomes.size());
    for (Outcome& o : outcomes)
        results.push_back(std::move(*o.result));
    follower.giveCells(results);
    if (!applyCalibration(results, settings))
        return ExitBadInput;

    // Every output is made whole under its temporary name before any is renamed.
    OutputGroup pending;
    // What is left of the profiles, by far the largest output, is written on a thread
    // of its own while the other outputs are made (a failed output leaves through Join).
    std::string npyFailedPath;
    int npyFailure = 0;
    // It is also handed to the disk there, so that the commit at the end waits for
    // little of it.
    const auto writeNpy = [&] {
        try {
            if (followNpy) {
                follower.finishNpy(results, npyFailedPath);
            } else {
                for (size_t i = 0; i < npyFiles.size(); ++i) {
                    npyFailedPath = npyFiles[i]->path();
                    writeProfilesNpy(*npyFiles[i], results[i]);
                }
            }
            for (const std::unique_ptr<OutputFile>& file : npyFiles) {
                npyFailedPath = file->path();
                file->sync();
            }
        } catch (const rt::InOutError& e) {
            npyFailure = e.code();
        }
    };
    std::thread npyWriter = rt::threadIfAny(writeNpy);
    if (!npyWriter.joinable())
        writeNpy();  // no thread to be had: written first, here
    struct Join {
        std::thread& thread;
        ~Join()
        {
            if (thread.joinable())
                thread.join();
        }
    } joinWriter{npyWriter};
    if (!outputs.csvPath.empty())
        pending.add(outputs.csvPath, analysisCsv(results, settings));
    if (!outputs.jsonPath.empty())
        pending.add(outputs.jsonPath,
                    withProfilesDescribed(analysisJson(results, settings), results, settings, outputs));
    if (!outputs.pathsPath.empty())
        pending.add(outputs.pathsPath, pathTableCsv(results, settings));
    if (!outputs.plotPath.empty())
        for (size_t i = 0; i < results.size(); ++i)
            pending.add(plotPathFor(outputs.plotPath, i, results.size()), drawPlot(results[i], settings));
    if (!outputs.waterfallPath.empty())
        for (size_t i = 0; i < results.size(); ++i)
            pending.add(plotPathFor(outputs.waterfallPath, i, results.size()), drawWaterfall(results[i], settings));
    if (npyWriter.joinable())
        npyWriter.join();
    if (npyFailure != 0)
        failIo(npyFailedPath, npyFailure);
    for (std::unique_ptr<OutputFile>& file : npyFiles)
        pending.add(std::move(file));
    pending.commit();
    return ExitOk;
}

}  // namespace cli
