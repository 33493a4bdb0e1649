// Start-up of the acquisition window on the real settle clock. The bus protocol sets
// its floor: 192 settle intervals of 17.28 ms, 3.318 s. Prints the wall time against
// that floor (target at most 1.02x) and the CPU time spent meanwhile (target at most
// 10% of the wall time: the waits sleep rather than spin).
//
// Usage: bench_startup [runs]   (default 3)

#include "sim_control.h"
#include "dialogs.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Records messages instead of showing them: the benchmark runs without a user.
class SilentDialogs final : public Dialogs {
public:
    int messages = 0;
    void showMessage(QWidget*, const QString& text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    std::optional<QString> openFileName(QWidget*) override { return std::nullopt; }
    std::optional<QString> saveFileName(QWidget*) override { return std::nullopt; }
};

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool writeGainTable(const QString& path)
{
    std::string text;
    for (int r = 0; r < 68; ++r) {
        for (int j = 0; j < 16; ++j)
            text += std::to_string((3 * r + j) % 33) + (j < 15 ? " " : "\r\n");
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    QTemporaryDir dir;
    if (!dir.isValid() || !writeGainTable(dir.filePath("digpot.cfg")) || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "cannot prepare a working directory with digpot.cfg\n");
        return 1;
    }

    constexpr double floorSeconds = 192 * 0.01728;
    std::printf("start-up on the real settle clock; protocol floor %.4f s (192 x 17.28 ms)\n", floorSeconds);
    std::printf("%4s %10s %8s %10s %8s\n", "run", "wall [s]", "x floor", "cpu [s]", "cpu/wall");
    double worstRatio = 0, worstCpu = 0;
    for (int run = 1; run <= runs; ++run) {
        boardsim::reset();
        SilentDialogs dialogs;
        SteadySettleClock clock;
        const double cpu0 = cpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        TForm1 form(dialogs, clock);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = cpuSeconds() - cpu0;
        if (dialogs.messages != 0)
            return 1;
        const double ratio = wall / floorSeconds;
        worstRatio = std::max(worstRatio, ratio);
        worstCpu = std::max(worstCpu, cpu / wall);
        std::printf("%4d %10.4f %8.4f %10.4f %7.1f%%\n", run, wall, ratio, cpu, 100.0 * cpu / wall);
    }
    std::printf("worst: %.4fx floor (target <= 1.02x), cpu %.1f%% of wall (target <= 10%%)\n", worstRatio,
                100.0 * worstCpu);
    return 0;
}
