// The sounder program where the system gives it no thread at all (a user's limit of
// processes reached): every command still does its whole work on the one thread it
// has, and its outputs are those of a run with threads, byte for byte.

#include "run_sounder.h"
#include "without_threads.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Runs the program in `dir` in a child that can start no thread: exec'd straight from
// the child, which cannot fork a shell either. The program's exit status, or
// NoThreadlessChild.
int runWithoutThreads(const TempDir& dir, const std::vector<std::string>& args)
{
    return runInChildWithoutThreads([&] {
        // The child is the user nobody where the test runs as root.
        if (::access(SOUNDER_BINARY, X_OK) != 0 || ::chdir(dir.file("").c_str()) != 0 ||
            ::access(".", W_OK) != 0)
            return NoThreadlessChild;
        const int err = ::open("threadless.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int out = ::open("threadless.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || out < 0 || ::dup2(err, 2) < 0 || ::dup2(out, 1) < 0)
            return NoThreadlessChild;
        // The leak checker of a sanitizer build stops the program with a thread of its own.
        const char* asan = std::getenv("ASAN_OPTIONS");
        ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "detect_leaks=0").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(SOUNDER_BINARY)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(SOUNDER_BINARY, argv.data());
        return NoThreadlessChild;
    });
}

std::string joined(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& a : args)
        line += (line.empty() ? "" : " ") + a;
    return line;
}

TEST(SounderWithoutThreads, EveryCommandDoesItsWholeWork)
{
    TempDir dir;
    ::chmod(dir.file("").c_str(), 0777);
    // Three sweeps at clock divider 2 of five promised: a recording cut short.
    writeBytes(dir.file("rec.txt"), recording(5, 5000, 3));
    ::chmod(dir.file("rec.txt").c_str(), 0644);

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> outputs;  // compared with those of a run with threads
    };
    const std::vector<Case> cases = {
        {{"analyze", "rec.txt", "--csv", "X.csv", "--json", "X.json", "--waterfall", "X.png", "--profiles", "X.npy",
          "--plot", "Xp.png"},
         {"X.csv", "X.png", "X.npy", "Xp.png"}},
        {{"analyze", "rec.txt", "rec.txt", "--csv", "X.csv", "--profiles", "X.npy", "--waterfall", "X.png"},
         {"X.csv", "X.1.npy", "X.2.npy", "X.1.png", "X.2.png"}},
        {{"convert", "rec.txt", "--to", "viewer", "-o", "X.txt"}, {"X.txt"}},
        {{"convert", "rec.txt", "--to", "sigmf", "-o", "X"}, {"X.sigmf-data"}},
        {{"convert", "rec.txt", "--to", "sigmf", "--layout", "collection", "-o", "X"},
         {"X-ch1.sigmf-data", "X-ch2.sigmf-data", "X-ch3.sigmf-data"}},
        {{"convert", "rec.txt", "--to", "sigmf", "--datatype", "ri16_le", "--archive", "-o", "X"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(joined(c.args));
        std::vector<std::string> threaded = c.args;
        for (std::string& a : threaded)
            if (a.front() == 'X')
                a = "T" + a.substr(1);
        const RunResult reference = runSounder(dir, joined(threaded));
        ASSERT_EQ(reference.status, 0) << reference.err;

        const int status = runWithoutThreads(dir, c.args);
        if (status == NoThreadlessChild)
            GTEST_SKIP() << "no child without threads can be made here";
        EXPECT_EQ(status, 0) << readBytes(dir.file("threadless.err"));
        for (const std::string& name : c.outputs) {
            const std::string made = readBytes(dir.file(name));
            EXPECT_FALSE(made.empty()) << name;
            EXPECT_TRUE(made == readBytes(dir.file("T" + name.substr(1)))) << name;
        }
        // No temporary file is left behind, and the info command finds the hashes good.
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
            EXPECT_NE(entry.path().filename().string().rfind(".snd-", 0), 0u) << entry.path();
        if (c.args[0] == "convert" && c.args[3] == "sigmf") {
            const std::string made = c.outputs.empty()          ? "X.sigmf"
                                     : c.outputs.size() > 1 ? "X.sigmf-collection"
                                                            : "X.sigmf-meta";
            const RunResult info = runSounder(dir, "info " + made);
            EXPECT_EQ(info.status, 0) << info.err;
            EXPECT_NE(info.out.find("SHA-512 matches"), std::string::npos) << info.out;
        }
    }
}

}  // namespace
