// sounder info / convert --to viewer / convert --to sigmf (every datatype and layout,
// and each as an archive) on a recording of 1430 sweeps at clock divider 2 (7.15
// million lines, about 114 MB) written here by the recording writer, each beside
// `wc -l` and `cp` of the same file in the same run. Targets: each sounder command
// within 8x wc -l; each --archive within 1.2x the same conversion without it. Best of
// several runs, wall-clock and CPU time of the child (user + system).
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
    // Each SigMF conversion, then the same as an archive.
    for (const char* datatype : {"rf32_le", "ri16_le", "ru16_le"})
        for (const char* layout : {"interleaved", "collection"}) {
            std::vector<std::string> args = {SOUNDER_BINARY, "convert", path,   "--to", "sigmf", "--datatype",
                                             datatype,       "--layout", layout, "-o",   dir + "/s"};
            const Times plain = best(args);
            args.push_back("--archive");
            const Times archived = best(args);
            const double wall = plain.wallMs / wc.wallMs, cpu = plain.cpuMs / wc.cpuMs;
            const bool ok = std::min(wall, cpu) <= 8.0;
            const double archiveWall = archived.wallMs / plain.wallMs, archiveCpu = archived.cpuMs / plain.cpuMs;
            const bool archiveOk = std::min(archiveWall, archiveCpu) <= 1.2;
            met = met && ok && archiveOk;
            std::printf("  sounder convert --to sigmf %s %s: wall %.1f ms, cpu %.1f ms; ratio to wc -l: wall %.2f, "
                        "cpu %.2f (target <= 8): %s\n",
                        datatype, layout, plain.wallMs, plain.cpuMs, wall, cpu, ok ? "met" : "NOT met");
            std::printf("    --archive: wall %.1f ms, cpu %.1f ms; ratio to the same without: wall %.2f, cpu %.2f "
                        "(target <= 1.2): %s\n",
                        archived.wallMs, archived.cpuMs, archiveWall, archiveCpu, archiveOk ? "met" : "NOT met");
        }
    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return met ? 0 : 1;
}
