#pragma once
// Timing of child programs for the benchmarks: wall-clock and CPU time (user +
// system) of a command run with its output to /dev/null, best of several runs.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

struct ChildTimes {
    double wallMs = 1e300;
    double cpuMs = 1e300;
};

inline double childrenCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Runs args with stdout and stderr to /dev/null; false when it could not run or failed.
// usage, when given, gets the child's resource use (its peak resident memory among it).
inline bool runChild(std::vector<std::string> args, rusage* usage = nullptr)
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
    const bool ok = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                    ::wait4(pid, &status, 0, usage) >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return ok;
}

// Runs args as runChild does; the child's peak resident memory in KiB, or -1 when it
// could not run or failed.
inline long childPeakKb(std::vector<std::string> args)
{
    rusage usage{};
    return runChild(std::move(args), &usage) ? long(usage.ru_maxrss) : -1;
}

// Runs each command of a sequence in turn and keeps the better of this run and
// what best already holds. Exits when a command fails.
inline void timeSequence(const std::vector<std::vector<std::string>>& sequence, ChildTimes& best)
{
    const double cpu = childrenCpuMs();
    const auto start = std::chrono::steady_clock::now();
    for (const auto& args : sequence)
        if (!runChild(args)) {
            std::fprintf(stderr, "failed: %s\n", args[0].c_str());
            std::exit(1);
        }
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    best.wallMs = std::min(best.wallMs, spent.count());
    best.cpuMs = std::min(best.cpuMs, childrenCpuMs() - cpu);
}

// The folder a benchmark writes its recordings to: the first argument, or a fresh one
// under the temporary folder named from prefix. Empty when none can be made.
inline std::string benchDirectory(int argc, char** argv, const char* prefix)
{
    if (argc > 1 && argv[1][0] != '\0')
        return argv[1];
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}
