// Recording reader and writer speed on files of the sizes the programs meet.
//   Reader: 5.7 million lines of one real each, read as "Go to sweep" does (item,
//   rest of line, check), against `wc -l` on the same file (target: within 6x).
//   Writer: 7.15 million lines of three codes through writeCodeLine, against one
//   fwrite of the same bytes (target: within 1.5x).
// Usage: bench_text_io [directory]   (default: a fresh directory under /tmp)
// Each figure is the best of several runs, in wall-clock time and in CPU time
// (user + system, of this process or of the wc child); CPU time is the steadier
// figure on a busy machine.

#include "recording_writer.h"
#include "text_io.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr long ReaderLines = 5'700'000;
constexpr long WriterLines = 7'150'000;
constexpr int Repeats = 5;

struct Times {
    double wallMs = 1e300;
    double cpuMs = 1e300;
};

double cpuMilliseconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// who: RUSAGE_SELF, or RUSAGE_CHILDREN when the body runs a program.
template <class Body>
Times best(int who, Body&& body)
{
    Times times;
    for (int r = 0; r < Repeats; ++r) {
        const double cpuStart = cpuMilliseconds(who);
        const auto start = Clock::now();
        body();
        const std::chrono::duration<double, std::milli> spent = Clock::now() - start;
        times.wallMs = std::min(times.wallMs, spent.count());
        times.cpuMs = std::min(times.cpuMs, cpuMilliseconds(who) - cpuStart);
    }
    return times;
}

void report(const char* what, const Times& ours, const char* other, const Times& theirs, double target)
{
    const double wallRatio = ours.wallMs / theirs.wallMs;
    const double cpuRatio = ours.cpuMs / theirs.cpuMs;
    std::printf("  %s: wall %.1f ms, cpu %.1f ms; %s: wall %.1f ms, cpu %.1f ms\n", what, ours.wallMs, ours.cpuMs,
                other, theirs.wallMs, theirs.cpuMs);
    std::printf("  ratio: wall %.2f, cpu %.2f (target <= %.1f): %s\n", wallRatio, cpuRatio, target,
                std::min(wallRatio, cpuRatio) <= target ? "met" : "NOT met");
}

// wc -l on the file, started directly (no shell), its output discarded.
void runWcLines(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char wc[] = "wc";
    char lines[] = "-l";
    std::string file = path;
    char* argv[] = {wc, lines, file.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "wc", &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        ::waitpid(child, &status, 0);
    } else {
        std::perror("wc");
    }
    posix_spawn_file_actions_destroy(&actions);
}

void makeViewerFile(const std::string& path)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::mt19937 random(11);
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    for (long i = 0; i < ReaderLines; ++i)
        std::fprintf(out, "%.6f\r\n", 0.8 * ((i * 37 % 1000) / 1000.0 - 0.5) + noise(random));
    std::fclose(out);
}

void benchReader(const std::string& dir)
{
    const std::string path = dir + "/viewer.txt";
    makeViewerFile(path);
    const Times wcTimes = best(RUSAGE_CHILDREN, [&] { runWcLines(path); });
    double sum = 0.0;
    const Times readTimes = best(RUSAGE_SELF, [&] {
        rt::TextReader reader;
        reader.open(path);
        sum = 0.0;
        for (long i = 0; i < ReaderLines; ++i) {
            sum += reader.readReal();
            reader.readLn();
            reader.check();
        }
        reader.close();
    });
    std::printf("reader, %ld lines of one real (%.1f MB), item + line end + check per line [sum %.3f]\n",
                ReaderLines, double(std::filesystem::file_size(path)) / 1e6, sum);
    report("TextReader", readTimes, "wc -l", wcTimes, 6.0);
    std::filesystem::remove(path);
}

void benchWriter(const std::string& dir)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> code(0, 4095);
    std::vector<uint16_t> codes(3 * WriterLines);
    for (uint16_t& c : codes)
        c = uint16_t(code(random));

    std::string expected;
    expected.reserve(size_t(WriterLines) * 17);
    char line[32];
    for (long i = 0; i < WriterLines; ++i) {
        const int n = std::snprintf(line, sizeof line, "%u,%u,%u\r\n", codes[3 * i], codes[3 * i + 1], codes[3 * i + 2]);
        expected.append(line, size_t(n));
    }

    const std::string writerPath = dir + "/codes.txt";
    const std::string fwritePath = dir + "/fwrite.txt";
    const Times writerTimes = best(RUSAGE_SELF, [&] {
        ::unlink(writerPath.c_str());
        rt::TextWriter writer;
        writer.create(writerPath);
        for (long i = 0; i < WriterLines; ++i)
            writeCodeLine(writer, codes[3 * i], codes[3 * i + 1], codes[3 * i + 2]);
        writer.close();
    });
    const Times fwriteTimes = best(RUSAGE_SELF, [&] {
        ::unlink(fwritePath.c_str());
        std::FILE* out = std::fopen(fwritePath.c_str(), "wb");
        std::fwrite(expected.data(), 1, expected.size(), out);
        std::fclose(out);
    });

    std::ifstream back(writerPath, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    std::printf("writer, %ld lines of three codes (%.1f MB), writeCodeLine per line; bytes %s\n", WriterLines,
                double(expected.size()) / 1e6, written == expected ? "identical" : "DIFFER");
    report("TextWriter", writerTimes, "one fwrite", fwriteTimes, 1.5);
    std::filesystem::remove(writerPath);
    std::filesystem::remove(fwritePath);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir;
    if (argc > 1) {
        dir = argv[1];
    } else {
        char pattern[] = "/tmp/bench_text_io_XXXXXX";
        if (!::mkdtemp(pattern))
            return 1;
        dir = pattern;
    }
    benchReader(dir);
    benchWriter(dir);
    if (argc <= 1)
        std::filesystem::remove(dir);
    return 0;
}
