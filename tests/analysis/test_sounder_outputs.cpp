// `sounder`'s outputs never destroy its inputs and go where the user points: an output
// that is an input is refused before anything is read, "-" is the standard output, and
// links, devices and FIFOs are written as they are.

#include "run_sounder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <numbers>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(SounderOutputs, AnOutputThatIsAnInputIsRefusedAndTheInputKept)
{
    struct Case {
        std::string args;
        std::string refused;  // the output named in the refusal
    };
    const Case cases[] = {
        {"analyze rec.txt --csv rec.txt", "rec.txt"},
        {"analyze rec.txt --json hard.txt", "hard.txt"},
        {"analyze rec.txt --csv out.csv --json soft.txt", "soft.txt"},
        {"analyze other.txt rec.txt --csv ./rec.txt", "./rec.txt"},
        {"analyze rec.txt --json rec.txt.meta.json", "rec.txt.meta.json"},
        {"convert rec.txt --to viewer -o rec.txt", "rec.txt"},
        {"convert rec.txt --to viewer -o hard.txt", "hard.txt"},
        {"convert rec.txt --to sigmf -o soft", "soft.sigmf-data"},
        {"calibrate b2b.txt --through-db 30 -o b2b.txt", "b2b.txt"},
        {"calibrate b2b.txt rec.txt --through-db 30 -o hard.txt", "hard.txt"},
        {"campaign rec.txt --origin 1,2 --csv rec.txt", "rec.txt"},
        {"campaign rec.txt --origin 1,2 --csv out.csv --plot soft.txt", "soft.txt"},
        {"campaign rec.txt --origin 1,2 --cal cal.json --csv cal.json", "cal.json"},
        {"analyze rec.txt --cal cal.json --csv out.csv --json cal.json", "cal.json"},
    };
    // A back-to-back run the calibration is made from: a path at bin 97 well within range.
    std::string b2b = "2,5000\r\n31\r\n20,20,20\r\n0.0\r\n";
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < 5000; ++i) {
            const std::string code =
                std::to_string(int(2048 + 300 * std::cos(2 * std::numbers::pi * i * 96 / 4096 + s)));
            b2b += code + "," + code + "," + code + "\r\n";
        }
    for (const Case& c : cases) {
        TempDir dir;
        const std::string rec = recording(3, 2500, 3);
        writeBytes(dir.file("rec.txt"), rec);
        writeBytes(dir.file("other.txt"), rec);
        writeBytes(dir.file("b2b.txt"), b2b);
        ASSERT_EQ(runSounder(dir, "calibrate b2b.txt --through-db 30 -o cal.json").status, 0) << c.args;
        const std::string calibration = readBytes(dir.file("cal.json"));
        ASSERT_EQ(::link(dir.file("rec.txt").c_str(), dir.file("hard.txt").c_str()), 0);
        std::filesystem::create_symlink("rec.txt", dir.file("soft.txt"));
        std::filesystem::create_symlink("rec.txt", dir.file("soft.sigmf-data"));
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(run.err, "sounder: " + c.refused + ": is also an input\n") << c.args;
        EXPECT_EQ(readBytes(dir.file("rec.txt")), rec) << c.args;
        EXPECT_EQ(readBytes(dir.file("b2b.txt")), b2b) << c.args;
        EXPECT_EQ(readBytes(dir.file("cal.json")), calibration) << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv"))) << c.args;
    }
}

TEST(SounderOutputs, OutputsGoWhereTheyArePointed)
{
    struct Case {
        std::string args;
        std::string stdoutStarts;  // what the standard output begins with
        std::string fileStarts;    // and the file "target.csv" (empty: not made)
    };
    const Case cases[] = {
        {"analyze rec.txt --csv -", "file,channel,kind", ""},
        {"analyze rec.txt --json - --csv target.csv", "{", "file,channel,kind"},
        {"analyze rec.txt --csv link.csv", "", "file,channel,kind"},
        {"analyze rec.txt --csv /dev/stdout", "file,channel,kind", ""},
        {"analyze rec.txt --csv /dev/null --json -", "{", ""},
        {"convert rec.txt --to viewer -o -", "3\r\n2500\r\n", ""},
        {"convert rec.txt --to viewer -o link.csv", "", "3\r\n2500\r\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
        std::filesystem::create_symlink("target.csv", dir.file("link.csv"));
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 0) << c.args << ": " << run.err;
        EXPECT_EQ(run.out.substr(0, c.stdoutStarts.size()), c.stdoutStarts) << c.args;
        if (c.stdoutStarts.empty()) {
            EXPECT_TRUE(run.out.empty()) << c.args;
        }
        if (c.fileStarts.empty()) {
            EXPECT_FALSE(std::filesystem::exists(dir.file("target.csv"))) << c.args;
        } else {
            EXPECT_EQ(readBytes(dir.file("target.csv")).substr(0, c.fileStarts.size()), c.fileStarts) << c.args;
        }
        EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.csv"))) << c.args;
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    }
}

// Two outputs that would go to one file are refused before anything is read, however
// the names spell it, whether the file is there yet or not: else one would be lost
// under the other while the run said it had written both.
// A recording that counts once in a result (the calibration's average, the campaign's
// fit) named twice, however spelled, is refused before anything is read or written;
// analyze, whose rows stand each on its own, takes it.
TEST(SounderOutputs, ARecordingNamedTwiceIsRefusedWhereItWouldCountTwice)
{
    struct Case {
        std::string args;
        std::string says;  // empty: accepted
    };
    const Case cases[] = {
        {"calibrate b2b.txt b2b.txt --through-db 30 -o cal.json",
         "b2b.txt: is the same recording as b2b.txt: each recording counts once"},
        {"calibrate b2b.txt sub/../b2b.txt --through-db 30 -o cal.json",
         "sub/../b2b.txt: is the same recording as b2b.txt: each recording counts once"},
        {"calibrate hard.txt other.txt b2b.txt --through-db 30 -o cal.json",
         "b2b.txt: is the same recording as hard.txt: each recording counts once"},
        {"campaign rec.txt other.txt ./rec.txt --origin 1,2 --csv out.csv",
         "./rec.txt: is the same recording as rec.txt: each recording counts once"},
        {"campaign soft.txt rec.txt --origin 1,2 --csv out.csv",
         "rec.txt: is the same recording as soft.txt: each recording counts once"},
        {"campaign rec.txt other.txt --origin 1,2 --csv out.csv", ""},
        {"analyze rec.txt rec.txt --csv out.csv", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
        writeBytes(dir.file("other.txt"), recording(3, 2500, 3));
        writeBytes(dir.file("b2b.txt"), recording(3, 2500, 3));
        std::filesystem::create_directory(dir.file("sub"));
        ASSERT_EQ(::link(dir.file("b2b.txt").c_str(), dir.file("hard.txt").c_str()), 0);
        std::filesystem::create_symlink("rec.txt", dir.file("soft.txt"));
        const RunResult run = runSounder(dir, c.args);
        if (c.says.empty()) {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(std::filesystem::exists(dir.file("out.csv")));
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "sounder: " + c.says + "\n");
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv")));
            EXPECT_FALSE(std::filesystem::exists(dir.file("cal.json")));
        }
    }
}

TEST(SounderOutputs, TwoNamesOfOneOutputAreRefused)
{
    struct Case {
        std::string args;
        std::string says;
    };
    const Case cases[] = {
        {"analyze rec.txt --csv x --json x", "x: is named by both --csv and --json"},
        {"analyze rec.txt --csv ./x --json x", "x: is named by both --csv and --json"},
        {"analyze rec.txt --csv sub/../x --plot x", "x: is named by both --csv and --plot"},
        {"analyze rec.txt --csv dangling --json x", "x: is named by both --csv and --json"},
        {"analyze rec.txt --csv old --json hard", "hard: is named by both --csv and --json"},
        {"analyze rec.txt --csv sub/x --json linked/x", "linked/x: is named by both --csv and --json"},
        {"campaign rec.txt --origin 1,2 --csv ./x --plot x", "x: is named by both --csv and --plot"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
        std::filesystem::create_directory(dir.file("sub"));
        std::filesystem::create_directory_symlink("sub", dir.file("linked"));
        std::filesystem::create_symlink("x", dir.file("dangling"));
        writeBytes(dir.file("old"), "old");
        ASSERT_EQ(::link(dir.file("old").c_str(), dir.file("hard").c_str()), 0);
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(run.err, "sounder: " + c.says + "\n") << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.file("x"))) << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.file("sub/x"))) << c.args;
        EXPECT_EQ(readBytes(dir.file("old")), "old") << c.args;
    }
    // Names alike but for the folder stay two outputs.
    TempDir dir;
    writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
    std::filesystem::create_directory(dir.file("sub"));
    const RunResult run = runSounder(dir, "analyze rec.txt --csv x --json sub/x");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readBytes(dir.file("x")).rfind("file,channel,kind", 0), 0u);
    EXPECT_EQ(readBytes(dir.file("sub/x")).rfind("{", 0), 0u);
}

// Several files give a picture or .npy each, numbered OUT.1, OUT.2, ...: a stream has no
// name to number, so it is refused rather than made into files beside it ("-.1" here,
// "/dev/null.1" in /dev). One file writes to a stream as to any output.
TEST(SounderOutputs, OutputsPerFileOfSeveralFilesNeedAName)
{
    const struct {
        const char* args;
        const char* says;
        const char* numbered;  // the file the numbering would have made
    } cases[] = {
        {"analyze a.txt b.txt --json o.json --profiles -", "--profiles -: several files give one each", "-.1"},
        {"analyze a.txt b.txt --json o.json --waterfall /dev/null", "--waterfall /dev/null: several files give one each",
         "/dev/null.1"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeBytes(dir.file("a.txt"), recording(3, 2500, 3));
        writeBytes(dir.file("b.txt"), recording(3, 2500, 3));
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
        const std::string numbered = c.numbered[0] == '/' ? c.numbered : dir.file(c.numbered);
        EXPECT_FALSE(std::filesystem::exists(numbered)) << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.file("o.json"))) << c.args;
    }
    TempDir dir;
    writeBytes(dir.file("a.txt"), recording(3, 2500, 3));
    const RunResult one = runSounder(dir, "analyze a.txt --json o.json --profiles -");
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out.rfind("\x93NUMPY", 0), 0u);
}

// Streams that cannot be shared, refused before anything is opened (by every command):
// a pipe named as two inputs would be read by both in turns (nothing writes to this one: opening it
// would wait for ever).
TEST(SounderOutputs, StreamsNamedTwiceAreRefused)
{
    const struct {
        const char* args;
        const char* says;
    } cases[] = {
        {"analyze rec.txt --csv - --json -", "only one output can be - (the standard output)"},
        {"analyze pipe pipe --csv o.csv", "pipe: is named twice as an input; a pipe can be read only once"},
        {"analyze rec.txt ./pipe pipe --csv o.csv", "pipe: is named twice as an input; a pipe can be read only once"},
        {"analyze /dev/stdin rec.txt /dev/stdin --csv o.csv </dev/null",
         "/dev/stdin: is named twice as an input; a pipe can be read only once"},
        // info too, where the second reading waited for another writer for good.
        {"info pipe pipe", "pipe: is named twice as an input; a pipe can be read only once"},
        {"info rec.txt ./pipe rec.txt pipe", "pipe: is named twice as an input; a pipe can be read only once"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
        ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(run.err, std::string("sounder: ") + c.says + "\n") << c.args;
        EXPECT_TRUE(run.out.empty()) << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.file("o.csv"))) << c.args;
    }
}

TEST(SounderOutputs, AFifoTakesTheCsvInOrder)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), recording(3, 2500, 3));
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = readBytes(dir.file("pipe")); });
    const RunResult run = runSounder(dir, "analyze rec.txt --csv pipe --json whole.json");
    reader.join();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(got.rfind("file,channel,kind", 0), 0u);
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 1 + 3 * (3 + 1));
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("pipe").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A run stopped midway (Ctrl-C, kill, a closed terminal) removes the temporary files of
// its outputs and then ends as the signal ends it: nothing is left under a final name,
// nor hidden beside it. The recording comes through a FIFO held open after its first
// half, so the run is surely midway when the signal comes.
TEST(SounderOutputs, AStoppedRunLeavesNoTemporaryFile)
{
    const std::string rec = recording(3, 2500, 3);
    const std::string firstHalf = rec.substr(0, rec.size() / 2);
    const struct {
        const char* args;
        int signal;
    } cases[] = {
        {"convert rec.txt --to sigmf --layout collection -o c", SIGTERM},
        {"convert rec.txt --to viewer -o v.txt", SIGINT},
        {"analyze rec.txt --csv o.csv --profiles p.npy", SIGHUP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        const std::string fifo = dir.file("rec.txt");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string folder = dir.file("");
        const std::string command = std::string("exec '") + SOUNDER_BINARY + "' " + c.args + " >/dev/null 2>&1";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(folder.c_str()) == 0)
                ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        // Should a check below fail, the program is not left waiting on its FIFO.
        struct Reap {
            pid_t pid;
            bool done = false;
            ~Reap()
            {
                if (!done) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, nullptr, 0);
                }
            }
        } reap{pid};
        // The FIFO opened for writing once the program has it open for reading.
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 20000; ++tries)
            if ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
                ::usleep(500);
        ASSERT_GE(fd, 0);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        ASSERT_EQ(::write(fd, firstHalf.data(), firstHalf.size()), ssize_t(firstHalf.size()));
        // Midway: the program waits for the rest, its outputs begun under temporary names.
        const auto temporaries = [&] {
            size_t n = 0;
            for (const auto& e : std::filesystem::directory_iterator(folder))
                n += e.path().filename().string().rfind(".snd-", 0) == 0;
            return n;
        };
        for (int tries = 0; temporaries() == 0 && tries < 20000; ++tries)
            ::usleep(500);
        EXPECT_GT(temporaries(), 0u);
        ASSERT_EQ(::kill(pid, c.signal), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        reap.done = true;
        ::close(fd);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        std::string left;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().filename() != "rec.txt")
                left += " " + e.path().filename().string();
        EXPECT_EQ(left, "") << "rec.txt only";
    }
}
