// "Acquire" with and without the gpsd reader, in the same run, interleaved: the time
// from the click to the start of the scan, and the whole run (20 sweeps at divider 2
// written to a file), for no reader at all (the reference), a reader with no gpsd, a
// reader on a port that never answers, and a reader on a live gpsd fed by gpsfake
// (when installed). Also the cost of taking the position on the GUI thread.
//
// Usage: bench_gps_acquire [runs per case] (default 40)

#include "dialogs.h"
#include "gps_reader.h"
#include "gpsd_fixture.h"
#include "settle_clock.h"
#include "sim_control.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class BenchDialogs final : public Dialogs {
public:
    QString saveName;
    void showMessage(QWidget*, const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    std::optional<QString> openFileName(QWidget*) override { return std::nullopt; }
    std::optional<QString> saveFileName(QWidget*) override { return saveName; }
};

bool writeGainTable(const QString& path)
{
    std::string text;
    for (int r = 0; r < 68; ++r)
        for (int j = 0; j < 16; ++j)
            text += std::to_string((3 * r + j) % 33) + (j < 15 ? " " : "\r\n");
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Case {
    const char* name;
    const GpsSource* source;
    std::vector<double> toScan, whole;  // ms
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    QTemporaryDir dir(QDir::current().filePath("bench_gps_XXXXXX"));
    if (!dir.isValid() || !QDir::setCurrent(dir.path()) || !writeGainTable(dir.filePath("digpot.cfg")))
        return 1;

    BenchDialogs dialogs;
    VirtualSettleClock clock;
    boardsim::reset();
    Clock::time_point clicked, scanStarted;
    boardsim::setScanSource([&](uint16_t* samples, int32_t count) {
        scanStarted = Clock::now();
        for (int32_t g = 0; g < count / 4; ++g) {
            samples[4 * g] = samples[4 * g + 1] = samples[4 * g + 2] = uint16_t(2048 + g % 50);
            samples[4 * g + 3] = g % 5000 == 0 ? 4000 : 100;
        }
    });
    TForm1 form(dialogs, clock);
    form.processMessages = [] {};
    form.Edit1->setText("2");
    form.Edit2->setText("20");
    dialogs.saveName = dir.filePath("run.txt");
    form.Button6Click();  // applies the settings; not timed

    // The readers: none, no gpsd, a silent port, a live gpsd.
    GpsReader absent(GpsdAddress{"127.0.0.1", std::to_string(gpsdfix::freePort())});
    gpsdfix::SilentPort silentPort;
    GpsReader silent(GpsdAddress{"127.0.0.1", std::to_string(silentPort.port())});
    gpsdfix::FakeGpsd gpsd;
    std::unique_ptr<GpsReader> live;
    const QString missing = gpsdfix::missingDaemon();
    if (missing.isEmpty() &&
        gpsd.start(dir.path(), gpsdfix::nmeaLog({48.1173, 11.5166667, 545.4, 46.9}, 60, 0), 0.02, false)) {
        live = std::make_unique<GpsReader>(GpsdAddress{"localhost", std::to_string(gpsd.port())});
        gpsdfix::waitUntil([&] { return positionAt(live->latest(), GpsClock::now()).fix.has_value(); },
                           std::chrono::seconds(15));
    }
    std::vector<Case> cases = {{"no reader (reference)", nullptr, {}, {}},
                               {"reader, no gpsd", &absent, {}, {}},
                               {"reader, silent port", &silent, {}, {}}};
    if (live)
        cases.push_back({"reader, live gpsd (fix)", live.get(), {}, {}});
    // The reference once more, last: the spread between the two is the noise of the order.
    cases.push_back({"no reader, again", nullptr, {}, {}});

    for (int run = 0; run < runs; ++run)
        for (Case& c : cases) {
            form.setGpsSource(c.source);
            QFile::remove(dialogs.saveName);
            clicked = Clock::now();
            form.Button6Click();
            const Clock::time_point done = Clock::now();
            if (form.statusText() != QLatin1String("DONE"))
                return 1;
            c.toScan.push_back(std::chrono::duration<double, std::milli>(scanStarted - clicked).count());
            c.whole.push_back(std::chrono::duration<double, std::milli>(done - clicked).count());
        }
    form.setGpsSource(nullptr);

    std::printf("Acquire, 20 sweeps at divider 2, %d runs per case, interleaved; medians in ms\n", runs);
    std::printf("%-26s | %12s %10s | %12s %10s | %10s %10s\n", "case", "click->scan", "vs ref", "whole run",
                "vs ref", "fastest", "vs ref");
    const double refScan = median(cases[0].toScan), refWhole = median(cases[0].whole);
    const double refFastest = *std::min_element(cases[0].whole.begin(), cases[0].whole.end());
    for (const Case& c : cases) {
        const double fastest = *std::min_element(c.whole.begin(), c.whole.end());
        std::printf("%-26s | %12.3f %+10.3f | %12.3f %+10.3f | %10.3f %+10.3f\n", c.name, median(c.toScan),
                    median(c.toScan) - refScan, median(c.whole), median(c.whole) - refWhole, fastest,
                    fastest - refFastest);
    }
    if (!live)
        std::printf("(no live gpsd: %s)\n",
                    missing.isEmpty() ? "gpsfake did not start" : qPrintable(missing));

    // Taking the position: what the run adds on the GUI thread, twice per run.
    const GpsSource* source = live ? static_cast<const GpsSource*>(live.get()) : &absent;
    form.setGpsSource(source);
    std::vector<double> takes;
    for (int i = 0; i < 20000; ++i) {
        const Clock::time_point t0 = Clock::now();
        const meta::PositionSample p = form.CurrentPosition();
        takes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (p.reason.size() > 1000)
            return 1;
    }
    form.setGpsSource(nullptr);
    std::sort(takes.begin(), takes.end());
    std::printf("taking the position (%s): median %.2f us, 99th percentile %.2f us, worst %.1f us\n",
                live ? "live gpsd" : "no gpsd", takes[takes.size() / 2], takes[takes.size() * 99 / 100],
                takes.back());
    return 0;
}
