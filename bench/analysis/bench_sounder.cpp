// sounder info / convert --to viewer / convert --to sigmf on a recording of 1430
// sweeps at clock divider 2 (7.15 million lines, about 114 MB) written here by the
// recording writer, each beside `wc -l` and `cp` of the same file in the same run.
// Target: each sounder command within 8x wc -l. Best of several runs, wall-clock and
// CPU time of the child (user + system).
// Usage: bench_sounder [directory]   (default: a fresh directory under /tmp)

#include "recording_writer.h"
#include "text_io.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int Repeats = 3;

struct Times {
    double wallMs = 1e300;
    double cpuMs = 1e300;
};

double childCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Runs argv with stdout and stderr to /dev/null; exits on failure.
void run(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) < 0 ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", args[0].c_str());
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
}

Times best(const std::vector<std::string>& args)
{
    Times t;
    for (int r = 0; r < Repeats; ++r) {
        const double cpu = childCpuMs();
        const auto start = std::chrono::steady_clock::now();
        run(args);
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        t.wallMs = std::min(t.wallMs, spent.count());
        t.cpuMs = std::min(t.cpuMs, childCpuMs() - cpu);
    }
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "";
    if (dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench_sounder_XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return 1;
        dir = pattern;
    }
    const std::string path = dir + "/rec.txt";
    {
        // 1430 sweeps of 5000 groups, codes spread over the 12-bit scale.
        constexpr int Sweeps = 1430, Samples = 5000;
        std::mt19937 random(8);
        std::vector<uint16_t> groups(size_t(Samples) * 4);
        rt::TextWriter file;
        file.create(path);
        writeRecordingHeader(file, Sweeps, Samples, 31, 20, 20, 20);
        for (int s = 0; s < Sweeps; ++s) {
            for (uint16_t& code : groups)
                code = uint16_t(random() % 4096);
            writeSweepLines(file, groups.data(), Samples);
        }
        file.close();
    }
    std::printf("bench_sounder: %s, %.1f MB\n", path.c_str(), double(std::filesystem::file_size(path)) / 1e6);
    const Times wc = best({"wc", "-l", path});
    const Times cp = best({"cp", path, dir + "/copy.txt"});
    std::printf("  wc -l: wall %.1f ms, cpu %.1f ms; cp: wall %.1f ms, cpu %.1f ms\n", wc.wallMs, wc.cpuMs, cp.wallMs,
                cp.cpuMs);
    struct Case {
        const char* name;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"sounder info", {SOUNDER_BINARY, "info", path}},
        {"sounder convert --to viewer", {SOUNDER_BINARY, "convert", path, "--to", "viewer", "-o", dir + "/v.txt"}},
        {"sounder convert --to sigmf", {SOUNDER_BINARY, "convert", path, "--to", "sigmf", "-o", dir + "/s"}},
    };
    bool met = true;
    for (const Case& c : cases) {
        const Times t = best(c.args);
        const double wall = t.wallMs / wc.wallMs, cpu = t.cpuMs / wc.cpuMs;
        const bool ok = std::min(wall, cpu) <= 8.0;
        met = met && ok;
        std::printf("  %s: wall %.1f ms, cpu %.1f ms; ratio to wc -l: wall %.2f, cpu %.2f (target <= 8): %s\n", c.name,
                    t.wallMs, t.cpuMs, wall, cpu, ok ? "met" : "NOT met");
    }
    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return met ? 0 : 1;
}
