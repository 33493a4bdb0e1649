#include "analyze_command.h"

#include "analysis_report.h"
#include "cli_support.h"
#include "csv_text.h"
#include "output_file.h"
#include "path_table.h"
#include "profile_rows.h"
#include "recording_input.h"
#include "runtime_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
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

}  // namespace

// Runs analyzeRecording over the files on up to one worker per core, showing the
// progress of all of them together on a terminal.
std::vector<FileAnalysis> analyzeFiles(const std::vector<std::string>& files, const AnalysisSettings& settings,
                                       const std::function<void()>& meanwhile)
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
            try {
                outcomes[i].result = analyzeRecording(files[i], settings, &bytesDone);
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
    std::vector<std::thread> threads;
    running = workers;
    for (size_t w = 0; w < workers; ++w)
        threads.emplace_back(work);
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
            std::fprintf(stderr, "%s\n", o.failure.c_str());
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
        std::fprintf(stderr, "%s\n", line.c_str());
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
        const uint64_t rows = r.channels.empty() ? 0 : r.channels.front().profilesDb.size() / ProfileRowBins;
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
    const bool draws = !outputs.plotPath.empty() || !outputs.waterfallPath.empty();
    std::vector<Outcome> outcomes = analyzeFiles(files, settings, draws ? preparePictures : std::function<void()>());
    if (!allAnalyzed(outcomes))
        return ExitBadInput;
    std::vector<RecordingAnalysis> results;
    results.reserve(outcomes.size());
    for (Outcome& o : outcomes)
        results.push_back(std::move(*o.result));
    if (!applyCalibration(results, settings))
        return ExitBadInput;

    // Every output is made whole under its temporary name before any is renamed.
    std::vector<std::pair<std::unique_ptr<OutputFile>, std::string>> pending;
    const auto add = [&](const std::string& path, const std::string& bytes) {
        try {
            auto file = std::make_unique<OutputFile>(path);
            file->write(bytes);
            pending.emplace_back(std::move(file), path);
        } catch (const rt::InOutError& e) {
            failIo(path, e.code());
        }
    };
    // The profiles, by far the largest output, are written on a thread of their own
    // while the other outputs are made (a failed output leaves through Join).
    std::vector<std::unique_ptr<OutputFile>> npyFiles;
    std::string npyFailedPath;
    int npyFailure = 0;
    if (!outputs.profilesPath.empty())
        for (size_t i = 0; i < results.size(); ++i) {
            const std::string path = plotPathFor(outputs.profilesPath, i, results.size());
            try {
                npyFiles.push_back(std::make_unique<OutputFile>(path));
            } catch (const rt::InOutError& e) {
                failIo(path, e.code());
            }
        }
    std::thread npyWriter([&] {
        for (size_t i = 0; i < npyFiles.size(); ++i) {
            try {
                writeProfilesNpy(*npyFiles[i], results[i]);
            } catch (const rt::InOutError& e) {
                npyFailedPath = npyFiles[i]->path();
                npyFailure = e.code();
                return;
            }
        }
    });
    struct Join {
        std::thread& thread;
        ~Join()
        {
            if (thread.joinable())
                thread.join();
        }
    } joinWriter{npyWriter};
    if (!outputs.csvPath.empty())
        add(outputs.csvPath, analysisCsv(results, settings));
    if (!outputs.jsonPath.empty())
        add(outputs.jsonPath, withProfilesDescribed(analysisJson(results, settings), results, settings, outputs));
    if (!outputs.pathsPath.empty())
        add(outputs.pathsPath, pathTableCsv(results, settings));
    if (!outputs.plotPath.empty())
        for (size_t i = 0; i < results.size(); ++i)
            add(plotPathFor(outputs.plotPath, i, results.size()), drawPlot(results[i], settings));
    if (!outputs.waterfallPath.empty())
        for (size_t i = 0; i < results.size(); ++i)
            add(plotPathFor(outputs.waterfallPath, i, results.size()), drawWaterfall(results[i], settings));
    npyWriter.join();
    if (npyFailure != 0)
        failIo(npyFailedPath, npyFailure);
    for (std::unique_ptr<OutputFile>& file : npyFiles) {
        const std::string path = file->path();
        pending.emplace_back(std::move(file), path);
    }
    std::vector<OutputFile*> outputsMade;
    for (auto& entry : pending)
        outputsMade.push_back(entry.first.get());
    std::string failed;
    try {
        OutputFile::commitTogether(outputsMade, &failed);
    } catch (const rt::InOutError& e) {
        failIo(failed, e.code());
    }
    return ExitOk;
}

}  // namespace cli
