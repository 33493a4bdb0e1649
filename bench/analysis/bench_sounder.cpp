// sounder info / convert --to viewer / convert --to sigmf (every datatype in every layout:
// interleaved, collection, one channel; each again as an archive) on a recording of 1430
// sweeps at clock divider 2 (7.15 million lines, about 114 MB) written here by the
// recording writer, beside `wc -l` and `cp` of the same file in the same run. Targets:
// each sounder command within 8x wc -l; each --archive within 1.2x the same conversion
// without it. Every command runs several times, each run beside one of `wc -l`, so the
// reference sees the same load; best and median of the runs, wall-clock and CPU time of
// the child (user + system). The targets are judged on the best runs. Beside each
// interleaved conversion, the SHA-512 of the data it wrote: the floor of that conversion.
// Usage: bench_sounder [directory]   (default: a fresh directory under /tmp)
// With BENCH_SOUNDER_BEFORE=/path/to/another/sounder, each SigMF conversion is also
// timed with that program in the same rounds (a build before a change, say).

#include "bench_child.h"
#include "bench_recording.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int Repeats = 7;

struct Samples {
    std::vector<double> wall, cpu;
    void add(const std::vector<std::string>& args)
    {
        const double before = childrenCpuMs();
        const auto start = std::chrono::steady_clock::now();
        if (!runChild(args)) {
            std::fprintf(stderr, "failed: %s\n", args[0].c_str());
            std::exit(1);
        }
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        wall.push_back(spent.count());
        cpu.push_back(childrenCpuMs() - before);
    }
};

double best(std::vector<double> v) { return *std::min_element(v.begin(), v.end()); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string figures(const Samples& s)
{
    char text[160];
    std::snprintf(text, sizeof text, "wall %.1f ms (median %.1f), cpu %.1f ms (median %.1f)", best(s.wall),
                  median(s.wall), best(s.cpu), median(s.cpu));
    return text;
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
    const char* beforeBinary = std::getenv("BENCH_SOUNDER_BEFORE");
    const std::vector<std::string> wcArgs = {"wc", "-l", path};
    Samples wc, cp;
    for (int r = 0; r < Repeats; ++r) {
        wc.add(wcArgs);
        cp.add({"cp", path, dir + "/copy.txt"});
    }
    std::printf("  wc -l: %s\n  cp: %s\n", figures(wc).c_str(), figures(cp).c_str());
    bool met = true;
    // Runs `args` (and `other`, where given) Repeats times, each run beside one of wc -l;
    // prints the figures and their ratios to wc -l of the same rounds; returns the samples.
    auto timeBesideWc = [&](const char* name, const std::vector<std::string>& args, Samples* other,
                            const std::vector<std::string>& otherArgs, bool judged) {
        Samples s, ref;
        for (int r = 0; r < Repeats; ++r) {
            ref.add(wcArgs);
            s.add(args);
            if (other)
                other->add(otherArgs);
        }
        const double wall = best(s.wall) / best(ref.wall), cpu = best(s.cpu) / best(ref.cpu);
        const bool ok = std::min(wall, cpu) <= 8.0;
        if (judged)
            met = met && ok;
        const char* verdict = !judged ? "" : ok ? " (target <= 8): met" : " (target <= 8): NOT met";
        std::printf("  %s: %s; wc -l beside it: %s; ratio: wall %.2f, cpu %.2f%s\n", name, figures(s).c_str(),
                    figures(ref).c_str(), wall, cpu, verdict);
        return s;
    };
    timeBesideWc("sounder info", {SOUNDER_BINARY, "info", path}, nullptr, {}, true);
    timeBesideWc("sounder convert --to viewer",
                 {SOUNDER_BINARY, "convert", path, "--to", "viewer", "-o", dir + "/v.txt"}, nullptr, {}, true);
    // Each SigMF conversion, then the same as an archive.
    for (const char* datatype : {"rf32_le", "ri16_le", "ru16_le"})
        for (const char* layout : {"--layout interleaved", "--layout collection", "--channel 2"}) {
            const std::string spaced(layout);
            const std::string option = spaced.substr(0, spaced.find(' ')), value = spaced.substr(spaced.find(' ') + 1);
            auto command = [&](const std::string& binary, bool archive) {
                std::vector<std::string> args = {binary, "convert", path, "--to", "sigmf", "--datatype", datatype,
                                                 option, value, "-o", dir + "/s"};
                if (archive)
                    args.push_back("--archive");
                return args;
            };
            const std::string name = std::string("sounder convert --to sigmf ") + datatype + " " + layout;
            Samples before, archived, beforeArchived;
            timeBesideWc(name.c_str(), command(SOUNDER_BINARY, false), beforeBinary ? &before : nullptr,
                         beforeBinary ? command(beforeBinary, false) : std::vector<std::string>{}, true);
            // What no conversion can go under: the SHA-512 of the data it writes (the metadata
            // must state it), by the same library, beside wc -l.
            if (option == "--layout" && value == "interleaved") {
                const std::string data = dir + "/s.sigmf-data";
                char label[160];
                std::snprintf(label, sizeof label, "    floor: openssl dgst -sha512 of its data (%.1f MB)",
                              double(std::filesystem::file_size(data)) / 1e6);
                timeBesideWc(label, {"openssl", "dgst", "-sha512", "-out", "/dev/null", data}, nullptr, {}, false);
            }
            // The archive beside the same conversion without it, run for run.
            Samples again;
            for (int r = 0; r < Repeats; ++r) {
                again.add(command(SOUNDER_BINARY, false));
                archived.add(command(SOUNDER_BINARY, true));
                if (beforeBinary)
                    beforeArchived.add(command(beforeBinary, true));
            }
            const double wall = best(archived.wall) / best(again.wall), cpu = best(archived.cpu) / best(again.cpu);
            const bool ok = std::min(wall, cpu) <= 1.2;
            met = met && ok;
            std::printf("    --archive: %s; without it beside it: %s; ratio: wall %.2f, cpu %.2f "
                        "(target <= 1.2): %s\n",
                        figures(archived).c_str(), figures(again).c_str(), wall, cpu, ok ? "met" : "NOT met");
            if (beforeBinary)
                std::printf("    before (%s): %s; --archive: %s\n", beforeBinary, figures(before).c_str(),
                            figures(beforeArchived).c_str());
        }
    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return met ? 0 : 1;
}
