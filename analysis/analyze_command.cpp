#include "analyze_command.h"

#include "analysis_report.h"
#include "cli_support.h"
#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"

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

struct Outcome {
    std::optional<RecordingAnalysis> result;
    std::string failure;
};

// Runs analyzeRecording over the files on up to one worker per core, showing the
// progress of all of them together on a terminal.
std::vector<Outcome> analyzeAll(const std::vector<std::string>& files, const AnalysisSettings& settings)
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
               const PlotDrawer& drawPlot)
{
    std::vector<Outcome> outcomes = analyzeAll(files, settings);
    bool bad = false;
    for (const Outcome& o : outcomes)
        if (!o.result) {
            std::fprintf(stderr, "%s\n", o.failure.c_str());
            bad = true;
        }
    if (bad)
        return ExitBadInput;
    std::vector<RecordingAnalysis> results;
    results.reserve(outcomes.size());
    for (Outcome& o : outcomes)
        results.push_back(std::move(*o.result));

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
    if (!outputs.csvPath.empty())
        add(outputs.csvPath, analysisCsv(results, settings));
    if (!outputs.jsonPath.empty())
        add(outputs.jsonPath, analysisJson(results, settings));
    if (!outputs.plotPath.empty())
        for (size_t i = 0; i < results.size(); ++i)
            add(plotPathFor(outputs.plotPath, i, results.size()), drawPlot(results[i], settings));
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
