// "Go to sweep" to the last block of a long recording (1430 sweeps of 4000 samples,
// about 60 MB), beside `wc -l` and a plain fscanf loop over the same file, in the
// same run and with the file in the page cache. Target: within 6x of wc -l.
// Usage: bench_go_to_sweep [directory]   (default: a fresh directory under /tmp)

#include "bench_support.h"
#include "line_chart.h"
#include "tform1.h"

#include <QApplication>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int Sweeps = 1430;
constexpr int Samples = 4000;
constexpr int Repeats = 5;

double wcMilliseconds(const std::string& path)
{
    const std::string command = "wc -l '" + path + "' > /dev/null";
    const auto start = BenchClock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "wc failed\n");
    return millisecondsSince(start);
}

double fscanfMilliseconds(const std::string& path, long& items)
{
    const auto start = BenchClock::now();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    double value = 0.0;
    items = 0;
    while (std::fscanf(in, "%lf", &value) == 1)
        ++items;
    std::fclose(in);
    return millisecondsSince(start);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1])
                 : std::filesystem::temp_directory_path() / ("veskar_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "long_recording.txt").string();
    writeBenchRecording(path, Sweeps, Samples);
    std::printf("recording: %d sweeps x %d samples, %.1f MB\n", Sweeps, Samples,
                std::filesystem::file_size(path) / 1e6);

    BenchDialogs dialogs;
    dialogs.answer = QString::fromStdString(path);
    TForm1 form(dialogs);

    std::vector<double> wc, scan, go;
    long items = 0;
    wcMilliseconds(path);  // brings the file into the page cache
    for (int r = 0; r < Repeats; ++r) {
        wc.push_back(wcMilliseconds(path));
        scan.push_back(fscanfMilliseconds(path, items));

        form.Close1Click();
        form.Open1Click();
        form.Edit1->setText(QString::number(Sweeps - 5));
        const auto start = BenchClock::now();
        form.Button2Click();
        go.push_back(millisecondsSince(start));
        form.Chart1->flush();
    }
    if (dialogs.messages != 0 || form.cursweep != Sweeps - 5) {
        std::fprintf(stderr, "the step did not reach the last block (cursweep %d)\n", form.cursweep);
        return 1;
    }

    const double wcBest = *std::min_element(wc.begin(), wc.end());
    const double goBest = *std::min_element(go.begin(), go.end());
    std::printf("wc -l                 best %8.1f ms  median %8.1f ms\n", wcBest, median(wc));
    std::printf("fscanf loop           best %8.1f ms  median %8.1f ms  (%ld items)\n",
                *std::min_element(scan.begin(), scan.end()), median(scan), items);
    std::printf("Go to sweep %-5d     best %8.1f ms  median %8.1f ms\n", Sweeps - 5, goBest, median(go));
    std::printf("Go to sweep / wc -l   %.2fx (target: within 6x)\n", goBest / wcBest);

    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return 0;
}
