// View > Waterfall of the viewer-layout conversion (`sounder convert --to viewer`) of the
// 1430-sweep divider-2 recording that the sounder benchmarks use, beside `wc -l` of the
// converted file in the same run, with the main window's event loop watched all the
// while: a timer due every 2 ms records the longest wait between its ticks.
// Targets: the waterfall complete within 10x wc -l; no stall of the event loop over 50 ms.
// Usage: bench_waterfall [directory]   (default: a fresh directory under /tmp)

#include "../analysis/bench_recording.h"
#include "bench_support.h"
#include "tform1.h"
#include "waterfall_window.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <sys/resource.h>

namespace {

constexpr int Repeats = 7;

// User + system time of this process (every thread) or of its waited-for children.
double cpuMilliseconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Run {
    double ms = 0.0;
    double cpuMs = 0.0;
    double longestStallMs = 0.0;
    int64_t rows = 0;
};

Run wcOnce(const std::string& path)
{
    const std::string command = "wc -l '" + path + "' > /dev/null";
    Run run;
    const double cpuStart = cpuMilliseconds(RUSAGE_CHILDREN);
    const auto start = BenchClock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "wc failed\n");
    run.ms = millisecondsSince(start);
    run.cpuMs = cpuMilliseconds(RUSAGE_CHILDREN) - cpuStart;
    return run;
}

Run waterfallOnce(TForm1& form)
{
    Run run;
    const double cpuStart = cpuMilliseconds(RUSAGE_SELF);
    const auto start = BenchClock::now();
    QEventLoop loop;
    QElapsedTimer sinceTick;
    QTimer ticks;
    ticks.setInterval(2);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    form.Waterfall1->trigger();
    WaterfallWindow* window = form.waterfall();
    if (window == nullptr)
        return run;
    QObject::connect(window, &WaterfallWindow::finished, &loop, &QEventLoop::quit);
    sinceTick.start();
    ticks.start();
    loop.exec();
    ticks.stop();
    run.ms = millisecondsSince(start);
    run.cpuMs = cpuMilliseconds(RUSAGE_SELF) - cpuStart;
    run.rows = window->rowsShown();
    // Closed and gone before the next run, which would otherwise bring this one forward.
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1])
                 : std::filesystem::temp_directory_path() / ("veskar_waterfall_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string acquisition = (dir / "rec.txt").string();
    const std::string path = (dir / "rec.ch1.txt").string();
    writeBenchRecording(acquisition);
    const std::string convert = std::string("'") + SOUNDER_BINARY + "' convert '" + acquisition + "' --to viewer -o '" +
                                path + "'";
    if (std::system(convert.c_str()) != 0) {
        std::fprintf(stderr, "sounder convert failed\n");
        return 1;
    }
    std::printf("bench_waterfall: %s, %.1f MB\n", path.c_str(), std::filesystem::file_size(path) / 1e6);

    BenchDialogs dialogs;
    dialogs.answer = QString::fromStdString(path);
    TForm1 form(dialogs);
    form.show();
    form.Open1Click();

    std::vector<double> wc, waterfall, wcCpu, waterfallCpu;
    double stall = 0.0;
    int64_t rows = 0;
    wcOnce(path);  // brings the file into the page cache
    for (int r = 0; r < Repeats; ++r) {
        const Run count = wcOnce(path);
        wc.push_back(count.ms);
        wcCpu.push_back(count.cpuMs);
        const Run run = waterfallOnce(form);
        waterfall.push_back(run.ms);
        waterfallCpu.push_back(run.cpuMs);
        stall = std::max(stall, run.longestStallMs);
        rows = run.rows;
    }
    if (dialogs.messages != 0 || rows != 286) {
        std::fprintf(stderr, "the waterfall did not read every block (%lld rows)\n", static_cast<long long>(rows));
        return 1;
    }
    const double wcBest = *std::min_element(wc.begin(), wc.end());
    const double best = *std::min_element(waterfall.begin(), waterfall.end());
    std::printf("  wc -l                  best %8.1f ms  median %8.1f ms\n", wcBest, median(wc));
    std::printf("  waterfall, 286 rows    best %8.1f ms  median %8.1f ms\n", best, median(waterfall));
    const bool fast = best / wcBest <= 10.0;
    const bool responsive = stall <= 50.0;
    // Processor time (every thread of the waterfall and the window; wc with its shell):
    // steadier than the wall clock on a busy machine, and the share the window leaves
    // to the rest of the machine.
    std::printf("  cpu: wc -l best %.1f ms, waterfall best %.1f ms (%.2f x)\n",
                *std::min_element(wcCpu.begin(), wcCpu.end()), *std::min_element(waterfallCpu.begin(), waterfallCpu.end()),
                *std::min_element(waterfallCpu.begin(), waterfallCpu.end()) / *std::min_element(wcCpu.begin(), wcCpu.end()));
    std::printf("  waterfall / wc -l: %.2f (target <= 10.00): %s\n", best / wcBest, fast ? "met" : "NOT met");
    std::printf("  longest event-loop stall over all runs: %.1f ms (target <= 50.0): %s\n", stall,
                responsive ? "met" : "NOT met");
    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return fast && responsive ? 0 : 1;
}
