// sounder analyze (all three channels, CSV and JSON) on the recording of 1430 sweeps
// at clock divider 2 (7.15 million lines, about 114 MB) that bench_sounder uses,
// written here by the recording writer, beside `wc -l` of the same file and beside a
// numpy + pandas script doing the same computation (analyze_numpy.py, run by
// /usr/bin/python3), all in the same run. Then four copies of the file in one call
// beside four calls one after another.
// Targets: analyze within 10x wc -l; at least 8x faster than the numpy script; four
// copies in one call at most 0.6x the wall time of four calls; with --waterfall and
// --profiles at most 1.3x the time of the same run without them. Then the peak memory of
// --waterfall --profiles over one file and over the four copies in one call (no target).
// Usage: bench_analyze [directory]   (default: a fresh directory under /tmp)

#include "bench_child.h"
#include "bench_recording.h"

#include <filesystem>
#include <thread>

namespace {

constexpr int Repeats = 3;

bool report(const char* what, double value, const char* relation, double target)
{
    const bool met = relation[0] == '<' ? value <= target : value >= target;
    std::printf("  %s: %.2f (target %s %.2f): %s\n", what, value, relation, target, met ? "met" : "NOT met");
    return met;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string dir = benchDirectory(argc, argv, "bench_analyze");
    if (dir.empty())
        return 1;
    const std::string path = dir + "/rec.txt";
    writeBenchRecording(path);
    std::printf("bench_analyze: %s, %.1f MB\n", path.c_str(), double(std::filesystem::file_size(path)) / 1e6);

    const auto analyze = [&](std::vector<std::string> files, const std::string& out) {
        std::vector<std::string> args = {SOUNDER_BINARY, "analyze"};
        args.insert(args.end(), files.begin(), files.end());
        for (const std::string& a : {std::string("--csv"), out + ".csv", std::string("--json"), out + ".json"})
            args.push_back(a);
        return args;
    };
    std::vector<std::string> copies;
    for (int i = 1; i <= 4; ++i) {
        copies.push_back(dir + "/copy" + std::to_string(i) + ".txt");
        std::filesystem::copy_file(path, copies.back(), std::filesystem::copy_options::overwrite_existing);
    }
    std::vector<std::vector<std::string>> oneByOne;
    for (const std::string& c : copies)
        oneByOne.push_back(analyze({c}, dir + "/each"));
    const bool haveNumpy = std::system("/usr/bin/python3 -c 'import numpy, pandas' 2>/dev/null") == 0;

    // Rounds of every case in turn, so that a machine busy for a while slows all alike;
    // the best of the rounds counts.
    // The same run with the profiles kept: the waterfall picture and the numpy file.
    std::vector<std::string> withProfiles = analyze({path}, dir + "/wp");
    for (const std::string& a : {std::string("--waterfall"), dir + "/wp.png", std::string("--profiles"), dir + "/wp.npy"})
        withProfiles.push_back(a);
    // Each of the two alone, to tell their costs apart (no target).
    std::vector<std::string> waterfallOnly = analyze({path}, dir + "/wo");
    for (const std::string& a : {std::string("--waterfall"), dir + "/wo.png"})
        waterfallOnly.push_back(a);
    std::vector<std::string> profilesOnly = analyze({path}, dir + "/po");
    for (const std::string& a : {std::string("--profiles"), dir + "/po.npy"})
        profilesOnly.push_back(a);
    ChildTimes wc, one, numpy, together, apart, profiles, waterfallAlone, profilesAlone;
    for (int round = 0; round < Repeats; ++round) {
        timeSequence({{"wc", "-l", path}}, wc);
        timeSequence({analyze({path}, dir + "/one")}, one);
        timeSequence({withProfiles}, profiles);
        timeSequence({waterfallOnly}, waterfallAlone);
        timeSequence({profilesOnly}, profilesAlone);
        if (haveNumpy && round < 2)
            timeSequence({{"/usr/bin/python3", ANALYZE_NUMPY_SCRIPT, path, dir + "/np.csv", dir + "/np.json"}}, numpy);
        timeSequence({analyze(copies, dir + "/four")}, together);
        timeSequence(oneByOne, apart);
    }

    std::printf("  wc -l:           wall %8.1f ms, cpu %8.1f ms\n", wc.wallMs, wc.cpuMs);
    std::printf("  sounder analyze: wall %8.1f ms, cpu %8.1f ms\n", one.wallMs, one.cpuMs);
    bool met = report("analyze / wc -l, wall", one.wallMs / wc.wallMs, "<=", 10.0);
    std::printf("  analyze --waterfall --profiles: wall %8.1f ms, cpu %8.1f ms\n", profiles.wallMs, profiles.cpuMs);
    met = report("with --waterfall --profiles / alone, wall", profiles.wallMs / one.wallMs, "<=", 1.3) && met;
    std::printf("    cpu %.2fx; --waterfall alone: wall %.1f ms (%.2fx), cpu %.1f ms; --profiles alone: wall %.1f ms "
                "(%.2fx), cpu %.1f ms\n",
                profiles.cpuMs / one.cpuMs, waterfallAlone.wallMs, waterfallAlone.wallMs / one.wallMs,
                waterfallAlone.cpuMs, profilesAlone.wallMs, profilesAlone.wallMs / one.wallMs, profilesAlone.cpuMs);
    if (haveNumpy) {
        std::printf("  numpy + pandas:  wall %8.1f ms, cpu %8.1f ms\n", numpy.wallMs, numpy.cpuMs);
        met = report("numpy / analyze, wall", numpy.wallMs / one.wallMs, ">=", 8.0) && met;
    } else {
        std::printf("  numpy + pandas: SKIPPED (/usr/bin/python3 lacks python3-numpy or python3-pandas)\n");
    }
    std::printf("  four copies, one call:   wall %8.1f ms, cpu %8.1f ms (%u cores)\n", together.wallMs, together.cpuMs,
                std::thread::hardware_concurrency());
    std::printf("  four copies, four calls: wall %8.1f ms, cpu %8.1f ms\n", apart.wallMs, apart.cpuMs);
    met = report("one call / four calls, wall", together.wallMs / apart.wallMs, "<=", 0.6) && met;

    // The memory of --waterfall --profiles over several files: each file's rows (33.5 MiB
    // here) go once written, so four files in one call take little more than one.
    std::vector<std::string> fourWithProfiles = analyze(copies, dir + "/fp");
    for (const std::string& a : {std::string("--waterfall"), dir + "/fp.png", std::string("--profiles"), dir + "/fp.npy"})
        fourWithProfiles.push_back(a);
    const long oneKb = childPeakKb(withProfiles), fourKb = childPeakKb(fourWithProfiles);
    std::printf("  peak memory with --waterfall --profiles: one file %.0f MiB, four copies in one call %.0f MiB "
                "(the rows of one file: %.1f MiB)\n",
                double(oneKb) / 1024.0, double(fourKb) / 1024.0, 3.0 * 1430 * 2048 * 4 / 1048576.0);

    if (argc <= 1)
        std::filesystem::remove_all(dir);
    return met ? 0 : 1;
}
