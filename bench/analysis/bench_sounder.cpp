// sounder info / convert --to viewer / convert --to sigmf on a recording of 1430
// sweeps at clock divider 2 (7.15 million lines, about 114 MB) written here by the
// recording writer, each beside `wc -l` and `cp` of the same file in the same run.
// Target: each sounder command within 8x wc -l. Best of several runs, wall-clock and
// CPU time of the child (user + system).
// Usage: bench_sounder [directory]   (default: a fresh directory under /tmp)

#include "bench_child.h"
#include "bench_recording.h"

#include <filesystem>

namespace {

constexpr int Repeats = 3;
using Times = ChildTimes;

Times best(const std::vector<std::string>& args)
{
    Times t;
    for (int r = 0; r < Repeats; ++r)
        timeSequence({args}, t);
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir = benchDirectory(argc, argv, "bench_sounder");
    if (dir.empty())
        return 1;
    const std::string path = dir + "/rec.txt";
    writeBenchRecording(path);
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
