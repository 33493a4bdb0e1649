// The capture actions on the simulated board, timed.
//
// 1. "Acquire" of 1430 sweeps at clock divider 2 (7,150,000 sample lines): the time from
//    the file name being given to the end of the run (create, header, lines, close),
//    beside writing the same bytes with one fwrite in the same run (target at most
//    1.5x); and the peak resident memory of the run against the idle program (target:
//    idle + the 115.2 MB buffer + at most 15 MB).
// 2. "Show" at divider 2 on a virtual settle clock, end to end except the scan itself
//    (target under 30 ms).
//
// Usage: bench_capture [acquire runs] [show clicks] [directory for the recordings]
//        (defaults 2, 200, a temporary directory under the current one)

#include "sim_control.h"
#include "dialogs.h"
#include "digest.h"
#include "recording_metadata.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// CPU time of the process (user + system): steadier than wall time on a busy machine.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Times {
    double wall = 0;
    double cpu = 0;
};

// Answers the save dialog with a preset name and notes when it was asked: the
// recording is written from that moment on.
class BenchDialogs final : public Dialogs {
public:
    QString saveName;
    Clock::time_point asked;
    double askedCpu = 0;
    int messages = 0;
    void showMessage(QWidget*, const QString& text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    std::optional<QString> openFileName(QWidget*) override { return std::nullopt; }
    std::optional<QString> saveFileName(QWidget*) override
    {
        asked = Clock::now();
        askedCpu = cpuSeconds();
        return saveName;
    }
};

// A /proc/self/status field in kB, -1 when absent.
long statusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    return -1;
}

// Resets the peak resident size to the present one (Linux clear_refs 5).
void resetPeak()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

bool prepareGainTable(const QString& path)
{
#ifdef SOUNDER_DIGPOT_CFG
    if (QFile::exists(QStringLiteral(SOUNDER_DIGPOT_CFG)))
        return QFile::copy(QStringLiteral(SOUNDER_DIGPOT_CFG), path);
#endif
    std::string text;
    for (int r = 0; r < 68; ++r)
        for (int j = 0; j < 16; ++j)
            text += std::to_string((3 * r + j) % 33) + (j < 15 ? " " : "\r\n");
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

std::string readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

Times fwriteTimes(const std::string& bytes, const QString& path)
{
    QFile::remove(path);
    const auto t0 = Clock::now();
    const double c0 = cpuSeconds();
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return {-1, -1};
    const size_t put = std::fwrite(bytes.data(), 1, bytes.size(), f);
    const bool ok = std::fclose(f) == 0 && put == bytes.size();
    const Times t{secondsSince(t0), cpuSeconds() - c0};
    QFile::remove(path);
    return ok ? t : Times{-1, -1};
}

// What the sidecar adds to a run, part by part: the SHA-256 taken as the bytes go out,
// the code ranges over the written sweeps, and making and writing the JSON.
void benchSidecar(TForm1& form, const std::string& bytes, double writeSeconds)
{
    auto best = [](auto fn) {
        double b = 1e300;
        for (int i = 0; i < 3; ++i) {
            const auto t0 = Clock::now();
            fn();
            b = std::min(b, secondsSince(t0));
        }
        return b;
    };
    const double hash = best([&] { (void)digest::hexDigest(digest::Algorithm::Sha256, bytes); });
    const std::vector<uint16_t> groups(size_t(4) * 1430 * 5000, 2048);
    const double codes = best([&] {
        std::array<std::optional<meta::ChannelCodes>, 3> c;
        for (int k = 0; k < 1430; ++k)
            meta::addChannelCodes(groups.data() + size_t(4) * 5000 * k, 5000, c);
    });
    const double json = best([&] { form.WriteRecordingMetadata(false, QString()); });
    const double total = hash + codes + json;
    std::printf("     sidecar: sha256 %.1f ms + code ranges %.1f ms + JSON written %.1f ms = %.1f ms, "
                "%.1f%% of the writing time %.3f s\n"
                "              (the sha256 is taken on another core while the lines are formatted)\n",
                hash * 1e3, codes * 1e3, json * 1e3, total * 1e3, 100 * total / writeSeconds, writeSeconds);
}

int benchAcquire(int runs, const QString& dir)
{
    std::printf("Acquire: 1430 sweeps at divider 2 (7,150,000 lines)\n");
    BenchDialogs dialogs;
    SteadySettleClock clock;  // the settings check's bus writes take real time; not measured
    boardsim::reset();
    TForm1 form(dialogs, clock);
    form.processMessages = [] {};
    form.Edit1->setText("2");
    form.Edit2->setText("1430");
    QCoreApplication::processEvents();
    const long idleHwm = statusKb("VmHWM");
    const long idleRss = statusKb("VmRSS");
    std::printf("idle: VmRSS %.1f MB, VmHWM %.1f MB\n", idleRss / 1024.0, idleHwm / 1024.0);
    std::printf("%4s | %9s %9s | %9s %9s | %6s %6s | %9s %9s\n", "run", "write", "cpu", "fwrite", "cpu",
                "wall x", "cpu x", "peak MB", "+run MB");

    double bestWall = 1e9, bestCpu = 1e9, worstPeakGrowth = 0;
    long worstPeak = 0;
    for (int run = 1; run <= runs; ++run) {
        const QString name = QDir(dir).filePath(QStringLiteral("acquire.txt"));
        const QString same = QDir(dir).filePath(QStringLiteral("same-bytes.txt"));
        QFile::remove(name);
        dialogs.saveName = name;
        const long rssBefore = statusKb("VmRSS");
        resetPeak();
        form.Button6Click();
        const Times write{secondsSince(dialogs.asked), cpuSeconds() - dialogs.askedCpu};
        const long peak = statusKb("VmHWM");
        if (form.statusText() != QLatin1String("DONE") || dialogs.messages) {
            std::fprintf(stderr, "run %d ended with \"%s\"\n", run, qPrintable(form.statusText()));
            return 1;
        }
        const std::string bytes = readAll(name);
        if (run == 1)
            benchSidecar(form, bytes, write.wall);
        QFile::remove(name);
        QFile::remove(name + ".meta.json");
        // The same bytes, twice, the better of the two (as the run's figure is one of several).
        Times fw = fwriteTimes(bytes, same);
        const Times again = fwriteTimes(bytes, same);
        fw = {std::min(fw.wall, again.wall), std::min(fw.cpu, again.cpu)};
        const double growth = (peak - rssBefore) / 1024.0;
        bestWall = std::min(bestWall, write.wall / fw.wall);
        bestCpu = std::min(bestCpu, write.cpu / fw.cpu);
        worstPeak = std::max(worstPeak, peak);
        worstPeakGrowth = std::max(worstPeakGrowth, growth);
        std::printf("%4d | %9.3f %9.3f | %9.3f %9.3f | %6.2f %6.2f | %9.1f %9.1f\n", run, write.wall, write.cpu,
                    fw.wall, fw.cpu, write.wall / fw.wall, write.cpu / fw.cpu, peak / 1024.0, growth);
        if (run == 1)
            std::printf("     (file %.1f MB; times in s; x = writing / one fwrite)\n", bytes.size() / 1e6);
    }
    std::printf("best ratio: wall %.2fx, cpu %.2fx (target <= 1.5x)\n", bestWall, bestCpu);
    std::printf("peak %.1f MB = idle %.1f MB + %.1f MB (limit: idle + 115.2 + 15 = %.1f MB)\n", worstPeak / 1024.0,
                idleHwm / 1024.0, worstPeak / 1024.0 - idleHwm / 1024.0, idleHwm / 1024.0 + 115.2 + 15);
    std::printf("largest growth during a run: %.1f MB\n", worstPeakGrowth);
    return 0;
}

int benchShow(int clicks)
{
    std::printf("\nShow at divider 2 on a virtual settle clock, window shown offscreen\n");
    BenchDialogs dialogs;
    VirtualSettleClock clock;
    boardsim::reset();

    // One capture of the simulated sounder, replayed by every scan so that the scan
    // costs only a copy, which is timed and taken off.
    std::vector<uint16_t> captured(40000);
    {
        const HGLOBAL h = cbWinBufAlloc(80000);
        int32_t rate = 5000000;
        auto* samples = static_cast<uint16_t*>(GlobalLock(h));
        if (!h || !samples || cbAInScan(0, 0, 3, 40000, &rate, BIP5VOLTS, h, EXTCLOCK) != 0)
            return 1;
        std::copy(samples, samples + 40000, captured.begin());
        GlobalUnlock(h);
        cbWinBufFree(h);
    }
    double scanSeconds = 0;
    boardsim::setScanSource([&](uint16_t* samples, int32_t count) {
        const auto t0 = Clock::now();
        std::copy_n(captured.begin(), std::min<int32_t>(count, 40000), samples);
        scanSeconds += secondsSince(t0);
    });

    TForm1 form(dialogs, clock);
    form.show();
    form.Edit1->setText("2");
    form.Edit2->setText("1");
    form.Button3Click();  // applies the settings once; not timed
    QCoreApplication::processEvents();

    std::vector<double> times;
    for (int i = 0; i < clicks; ++i) {
        scanSeconds = 0;
        const auto t0 = Clock::now();
        form.Button3Click();
        times.push_back((secondsSince(t0) - scanSeconds) * 1e3);
    }
    if (!form.statusText().startsWith(QLatin1String("Start of sweep at "))) {
        std::fprintf(stderr, "Show ended with \"%s\"\n", qPrintable(form.statusText()));
        return 1;
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) { return times[std::min(times.size() - 1, size_t(q * double(times.size())))]; };
    std::printf("%d clicks without the scan [ms]: median %.2f, p95 %.2f, max %.2f (target < 30)\n", clicks,
                at(0.5), at(0.95), times.back());
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const int clicks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    QTemporaryDir work(QDir::current().filePath(QStringLiteral("bench_capture-XXXXXX")));
    const QString recordings = argc > 3 ? QString::fromLocal8Bit(argv[3]) : work.path();
    if (!work.isValid() || !prepareGainTable(work.filePath(QStringLiteral("digpot.cfg"))) ||
        !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "cannot prepare a working directory with digpot.cfg\n");
        return 1;
    }
    if (const int rc = benchAcquire(runs, recordings))
        return rc;
    return benchShow(clicks);
}
