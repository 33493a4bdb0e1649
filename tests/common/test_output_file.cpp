// Where an OutputFile's bytes end up on a real file system: links written through,
// devices and FIFOs written in order, names as long as the file system takes, and a
// group of outputs that goes into place whole or not at all.

#include "output_file.h"
#include "runtime_error.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool isLink(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

mode_t kindOf(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
}

// The names in dir, apart from the ones the case made.
size_t entries(const TempDir& dir)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("")))
        ++n;
    return n;
}

}  // namespace

TEST(OutputFile, WritesWhereTheNameLeads)
{
    struct Case {
        std::string what;
        std::function<std::string(const TempDir&)> prepare;  // gives the output's name
        std::function<void(const TempDir&, const std::string&)> check;
        size_t entriesAfter;
    };
    const std::string text = "new bytes\n";
    const std::vector<Case> cases = {
        {"a new file", [](const TempDir& d) { return d.file("out.txt"); },
         [&](const TempDir& d, const std::string&) { EXPECT_EQ(readBytes(d.file("out.txt")), text); }, 1},
        {"a file replaced",
         [](const TempDir& d) {
             writeBytes(d.file("out.txt"), "old");
             return d.file("out.txt");
         },
         [&](const TempDir& d, const std::string&) { EXPECT_EQ(readBytes(d.file("out.txt")), text); }, 1},
        {"a private file replaced: it stays private",
         [](const TempDir& d) {
             writeBytes(d.file("out.txt"), "old");
             ::chmod(d.file("out.txt").c_str(), 0600);
             return d.file("out.txt");
         },
         [&](const TempDir& d, const std::string&) {
             struct stat info {};
             ASSERT_EQ(::stat(d.file("out.txt").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07777, mode_t(0600));
             EXPECT_EQ(readBytes(d.file("out.txt")), text);
         },
         1},
        {"a link to a file: the file replaced, the link kept",
         [](const TempDir& d) {
             writeBytes(d.file("target.txt"), "old");
             std::filesystem::create_symlink("target.txt", d.file("link.txt"));
             return d.file("link.txt");
         },
         [&](const TempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d.file("link.txt")));
             EXPECT_EQ(readBytes(d.file("target.txt")), text);
         },
         2},
        {"a chain of links to a file not yet made",
         [](const TempDir& d) {
             std::filesystem::create_directory(d.file("sub"));
             std::filesystem::create_symlink("sub/second.txt", d.file("first.txt"));
             std::filesystem::create_symlink("made.txt", d.file("sub/second.txt"));
             return d.file("first.txt");
         },
         [&](const TempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d.file("first.txt")));
             EXPECT_TRUE(isLink(d.file("sub/second.txt")));
             EXPECT_EQ(readBytes(d.file("sub/made.txt")), text);
         },
         2},
        {"a name of 255 bytes",
         [](const TempDir& d) { return d.file(std::string(251, 'n') + ".csv"); },
         [&](const TempDir& d, const std::string& name) { EXPECT_EQ(readBytes(name), text) << d.file(""); }, 1},
        {"/dev/null, left a device", [](const TempDir&) { return std::string("/dev/null"); },
         [](const TempDir&, const std::string&) { EXPECT_EQ(kindOf("/dev/null"), mode_t(S_IFCHR)); }, 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string name = c.prepare(dir);
        {
            OutputFile out(name);
            out.write(text);
            out.commit();
        }
        c.check(dir, name);
        EXPECT_EQ(entries(dir), c.entriesAfter) << c.what << ": a temporary file left behind";
    }
}

TEST(OutputFile, FifoIsWrittenInOrderAndStaysAFifo)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] { got = readBytes(fifo); });
    std::string sent;
    {
        OutputFile out(fifo);
        EXPECT_TRUE(out.direct());
        for (int i = 0; i < 20000; ++i) {
            const std::string line = std::to_string(i) + "\n";
            out.write(line);
            sent += line;
        }
        EXPECT_THROW(out.overwrite(0, "x"), rt::InOutError);
        out.commit();
    }
    reader.join();
    EXPECT_EQ(got, sent);
    EXPECT_EQ(kindOf(fifo), mode_t(S_IFIFO));
    EXPECT_EQ(entries(dir), 1u);
}

// A name of one of the program's open descriptors (/dev/stdout sent to a file with >>,
// /dev/fd/N) is written through that descriptor: the file it leads to keeps what it held
// and is not replaced.
TEST(OutputFile, ANameOfAnOpenDescriptorIsWrittenThroughIt)
{
    struct Case {
        std::string what;
        std::function<std::string(const TempDir&, int)> name;
    };
    const std::vector<Case> cases = {
        {"/dev/fd/N", [](const TempDir&, int fd) { return "/dev/fd/" + std::to_string(fd); }},
        {"/proc/self/fd/N", [](const TempDir&, int fd) { return "/proc/self/fd/" + std::to_string(fd); }},
        {"a link to /dev/fd/N",
         [](const TempDir& d, int fd) {
             std::filesystem::create_symlink("/dev/fd/" + std::to_string(fd), d.file("link"));
             return d.file("link");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string log = dir.file("log.txt");
        writeBytes(log, "earlier\n");
        struct stat before {}, after {};
        ASSERT_EQ(::stat(log.c_str(), &before), 0);
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        {
            OutputFile out(c.name(dir, fd));
            EXPECT_TRUE(out.direct());
            out.write("new bytes\n");
            out.commit();
        }
        ::close(fd);
        EXPECT_EQ(readBytes(log), "earlier\nnew bytes\n");
        ASSERT_EQ(::stat(log.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    }
}

TEST(OutputFile, PlacedWritesReadsAndResizeMakeTheFileAsTold)
{
    // Each step on a file being made, and the file that results.
    struct Step {
        char kind;  // w: write(), a: writeAt, r: readAt (expects text), z: resize, s: sync
        uint64_t at;
        std::string text;
    };
    struct Case {
        std::vector<Step> steps;
        std::string result;
    };
    const std::vector<Case> cases = {
        {{{'w', 0, "head"}, {'a', 8, "far"}, {'w', 0, "more"}}, std::string("headmore") + "far"},
        {{{'a', 3, "x"}, {'w', 0, "ab"}}, std::string("ab\0x", 4)},  // a gap reads as zeros
        {{{'w', 0, "abcdef"}, {'a', 1, "XY"}, {'r', 0, "aXYd"}, {'w', 0, "g"}}, "aXYdefg"},
        {{{'w', 0, "abcdefgh"}, {'z', 3, ""}, {'w', 0, "Z"}}, "abcZ"},  // cut, then on from the end
        {{{'w', 0, "ab"}, {'z', 4, ""}, {'w', 0, "c"}}, std::string("ab\0\0c", 5)},  // grown with zeros
        {{{'a', 100000, std::string(70000, 'q')}, {'z', 100005, ""}, {'r', 99999, std::string("\0", 1) + "qqqqq"}},
         std::string(100000, '\0') + "qqqqq"},
        // A sync on the way hands over what is buffered and changes nothing of the result.
        {{{'w', 0, "abc"}, {'s', 0, ""}, {'w', 0, "def"}, {'s', 0, ""}, {'s', 0, ""}}, "abcdef"},
        {{{'w', 0, "ab"}, {'s', 0, ""}, {'a', 4, "z"}, {'r', 0, std::string("ab\0\0z", 5)}, {'w', 0, "cd"}},
         "abcdz"},
        {{{'w', 0, std::string(3 << 20, 'm')}, {'s', 0, ""}, {'z', 2, ""}, {'s', 0, ""}, {'w', 0, "n"}}, "mmn"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        TempDir dir;
        {
            OutputFile out(dir.file("f.bin"));
            for (const Step& step : cases[i].steps) {
                if (step.kind == 'w')
                    out.write(step.text);
                else if (step.kind == 'a')
                    out.writeAt(step.at, step.text.data(), step.text.size());
                else if (step.kind == 'z')
                    out.resize(step.at);
                else if (step.kind == 's') {
                    out.sync();
                    EXPECT_FALSE(std::filesystem::exists(dir.file("f.bin"))) << "case " << i << ": whole only at commit";
                } else {
                    std::string got(step.text.size(), '?');
                    out.readAt(step.at, got.data(), got.size());
                    EXPECT_EQ(got, step.text) << "case " << i;
                }
            }
            out.commit();
        }
        EXPECT_EQ(readBytes(dir.file("f.bin")), cases[i].result) << "case " << i;
    }
    // Reading beyond what is written is a failure, and a stream cannot be written in place.
    TempDir dir;
    OutputFile out(dir.file("g.bin"));
    out.write("abc");
    char byte = 0;
    EXPECT_THROW(out.readAt(3, &byte, 1), rt::InOutError);
    OutputFile null("/dev/null");
    EXPECT_THROW(null.writeAt(0, "x", 1), rt::InOutError);
    EXPECT_THROW(null.resize(0), rt::InOutError);
    null.write("x");
    EXPECT_NO_THROW(null.sync());  // a stream has nothing to sync
}

TEST(OutputFile, AGroupStandsWholeOrTheOldOneStays)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("a"));
    std::filesystem::create_directory(dir.file("b"));
    writeBytes(dir.file("a/x.sigmf-data"), "old data");
    writeBytes(dir.file("a/x.sigmf-meta"), "old meta");
    {
        // Both go into place.
        OutputFile data(dir.file("a/x.sigmf-data")), meta(dir.file("a/x.sigmf-meta"));
        data.write("new data");
        meta.write("new meta");
        OutputFile::commitTogether({&data, &meta});
    }
    EXPECT_EQ(readBytes(dir.file("a/x.sigmf-data")), "new data");
    EXPECT_EQ(readBytes(dir.file("a/x.sigmf-meta")), "new meta");
    {
        // The second rename fails (its folder is gone): the first output's old file is back.
        OutputFile data(dir.file("a/x.sigmf-data")), meta(dir.file("b/x.sigmf-meta"));
        data.write("newer data");
        meta.write("newer meta");
        std::filesystem::remove_all(dir.file("b"));
        std::string failed;
        EXPECT_THROW(OutputFile::commitTogether({&data, &meta}, &failed), rt::InOutError);
        EXPECT_EQ(failed, dir.file("b/x.sigmf-meta"));
    }
    EXPECT_EQ(readBytes(dir.file("a/x.sigmf-data")), "new data");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("a")), {}), 2);
    {
        // Where nothing stood, nothing stands after a failure.
        std::filesystem::create_directory(dir.file("b"));
        OutputFile data(dir.file("a/y.sigmf-data")), meta(dir.file("b/y.sigmf-meta"));
        data.write("d");
        meta.write("m");
        std::filesystem::remove_all(dir.file("b"));
        EXPECT_THROW(OutputFile::commitTogether({&data, &meta}), rt::InOutError);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("a/y.sigmf-data")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("a")), {}), 2);
    // Many at once: each whole under its name, each old one replaced.
    {
        std::vector<std::unique_ptr<OutputFile>> many;
        std::vector<OutputFile*> group;
        for (int i = 0; i < 40; ++i) {
            const std::string name = dir.file("a/m" + std::to_string(i));
            if (i % 3 == 0)
                writeBytes(name, "old");
            many.push_back(std::make_unique<OutputFile>(name));
            many.back()->write(std::string(size_t(i) * 1000, char('a' + i % 26)));
            group.push_back(many.back().get());
        }
        OutputFile::commitTogether(group);
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(readBytes(dir.file("a/m" + std::to_string(i))), std::string(size_t(i) * 1000, char('a' + i % 26)));
        std::filesystem::remove(dir.file("a/m" + std::to_string(i)));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("a")), {}), 2);
    // A failure while the files are made whole names the output that failed, and nothing
    // goes into place: here a device that is always full, beside files synced meanwhile.
    if (::access("/dev/full", W_OK) == 0) {
        {
            OutputFile first(dir.file("a/z1.sigmf-data")), full("/dev/full"), last(dir.file("a/z2.sigmf-meta"));
            first.write("one");
            full.write("never fits");
            last.write("two");
            std::string failed;
            EXPECT_THROW(OutputFile::commitTogether({&first, &full, &last}, &failed), rt::InOutError);
            EXPECT_EQ(failed, "/dev/full");
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("a")), {}), 2);
    }
}

TEST(OutputFile, SameFileSeesThroughLinks)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), "r");
    ASSERT_EQ(::link(dir.file("rec.txt").c_str(), dir.file("hard.txt").c_str()), 0);
    std::filesystem::create_symlink("rec.txt", dir.file("soft.txt"));
    writeBytes(dir.file("other.txt"), "r");
    const std::pair<std::string, bool> cases[] = {
        {"rec.txt", true}, {"hard.txt", true}, {"soft.txt", true}, {"other.txt", false}, {"missing.txt", false}};
    for (const auto& [name, same] : cases)
        EXPECT_EQ(sameFile(dir.file(name), dir.file("rec.txt")), same) << name;
}

TEST(OutputFile, DroppingCachedPagesLeavesEveryKindOfNameAsItWas)
{
    // A file about to be replaced, through a link too; a FIFO without a writer (opening
    // it to read would wait for one), a folder and a missing name are let be.
    TempDir dir;
    const std::string bytes(3 << 20, 'k');
    writeBytes(dir.file("old.bin"), bytes);
    std::filesystem::create_symlink("old.bin", dir.file("link.bin"));
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    const std::pair<const char*, mode_t> cases[] = {{"old.bin", S_IFREG},  {"link.bin", S_IFLNK},
                                                    {"pipe", S_IFIFO},     {"folder", S_IFDIR},
                                                    {"missing.bin", 0}};
    for (const auto& [name, kind] : cases) {
        dropCachedPages(dir.file(name));
        EXPECT_EQ(kindOf(dir.file(name)), kind) << name;
    }
    EXPECT_EQ(readBytes(dir.file("old.bin")), bytes);
    EXPECT_EQ(entries(dir), 4u);
}

TEST(OutputFile, BytesPastTheCacheMakeTheSameFile)
{
    // Pieces of these sizes written in turn past the page cache (blocks of 4 KiB gathered
    // in a buffer of 1 MiB), then what ends the bypass; the file holds every byte in order.
    struct Case {
        std::vector<size_t> pieces;
        char end;  // c: commit, s: sync then more pieces, a: writeAt, z: resize
    };
    const Case cases[] = {
        {{}, 'c'},
        {{1}, 'c'},
        {{4096}, 'c'},
        {{1 << 20}, 'c'},
        {{(1 << 20) + 1, 5}, 'c'},
        {{40000, 40000, 40000, 120000, 7, 3 << 20, 4095}, 'c'},
        {{100000, 2 << 20}, 's'},
        {{(1 << 20) + 4096 * 3 + 11}, 'a'},
        {{(2 << 20) + 100}, 'z'},
    };
    // Each on a file system that may or may not take direct writes (then written as usual).
    for (const std::string& folder : {std::string(), std::string("/dev/shm")}) {
        if (!folder.empty() && !std::filesystem::is_directory(folder))
            continue;
        for (size_t i = 0; i < std::size(cases); ++i) {
            TempDir dir;
            const std::string path = folder.empty() ? dir.file("f.bin") : folder + "/sounder_bypass_test.bin";
            std::string expected;
            uint8_t next = 0;
            const auto piece = [&](size_t n) {
                std::string text(n, '\0');
                for (char& c : text)
                    c = char(next = uint8_t(next * 31 + 7));
                expected += text;
                return text;
            };
            {
                OutputFile out(path);
                out.bypassCache();
                for (const size_t n : cases[i].pieces)
                    out.write(piece(n));
                if (cases[i].end == 's') {
                    out.sync();
                    out.write(piece(5000));
                } else if (cases[i].end == 'a') {
                    out.writeAt(10, "patch", 5);
                    expected.replace(10, 5, "patch");
                    out.write(piece(3));
                } else if (cases[i].end == 'z') {
                    out.resize(4097);
                    expected.resize(4097);
                    out.write(piece(9));
                }
                out.commit();
            }
            EXPECT_EQ(readBytes(path), expected) << folder << " case " << i;
            if (!folder.empty())
                std::filesystem::remove(path);
        }
    }
    // Bytes written before stay, and those up to the next whole block go the usual way.
    for (const size_t head : {size_t(3), size_t(512), size_t(4096), size_t(5000)}) {
        for (const size_t rest : {size_t(10), size_t(4093), size_t(3 << 20)}) {
            TempDir dir;
            const std::string before(head, 'h'), after = std::string(rest - 1, 'd') + "e";
            OutputFile out(dir.file("late.bin"));
            out.write(before);
            out.bypassCache();
            out.write(after.substr(0, rest / 2));
            out.write(after.substr(rest / 2));
            out.overwrite(0, "H");
            out.commit();
            EXPECT_EQ(readBytes(dir.file("late.bin")), "H" + before.substr(1) + after) << head << " then " << rest;
        }
    }
}

TEST(OutputFile, WholeBlocksPlacedPastTheCacheStandWhereTold)
{
    // Whole blocks past the cache beside positional and ordinary writes (an archive's
    // members); where the file system refuses them, the same bytes by writeAt.
    constexpr size_t Block = 4096;
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    const std::unique_ptr<char, Free> blocks(static_cast<char*>(std::aligned_alloc(Block, 4 * Block)));
    ASSERT_TRUE(blocks);
    for (size_t i = 0; i < 4 * Block; ++i)
        blocks.get()[i] = char('a' + i % 23);
    const std::string bytes(blocks.get(), 4 * Block);
    for (const std::string& folder : {std::string(), std::string("/dev/shm")}) {
        if (!folder.empty() && !std::filesystem::is_directory(folder))
            continue;
        TempDir dir;
        const std::string path = folder.empty() ? dir.file("a.bin") : folder + "/sounder_placed_test.bin";
        std::string expected(7 * Block, '\0');
        {
            OutputFile out(path);
            out.write("head");
            expected.replace(0, 4, "head");
            const auto place = [&](uint64_t at, size_t from, size_t length) {
                if (!out.writeAtUncached(at, blocks.get() + from, length))
                    out.writeAt(at, blocks.get() + from, length);
                expected.replace(at, length, bytes.substr(from, length));
            };
            place(4 * Block, 0, 2 * Block);
            out.writeAt(Block + 7, "between", 7);
            expected.replace(Block + 7, 7, "between");
            place(Block * 2, Block, Block);
            place(6 * Block, 2 * Block, Block);
            std::string back(2 * Block, '?');
            out.readAt(4 * Block, back.data(), back.size());
            EXPECT_EQ(back, bytes.substr(0, 2 * Block)) << folder;
            out.commit();
        }
        EXPECT_EQ(readBytes(path), expected) << folder;
        if (!folder.empty())
            std::filesystem::remove(path);
    }
}

// A name that leads to a folder is refused, never replaced: not when the output is
// begun (the folder there already, or behind a link), nor at the commit (a folder made
// under the name meanwhile, alone or in a group). The folder and what it holds stay,
// and no temporary file is left.
TEST(OutputFile, AFolderUnderTheNameIsNeverReplaced)
{
    const struct {
        const char* what;
        bool link;       // the name is a link to the folder
        bool later;      // the folder is made after the output is begun
        bool together;   // committed in a group with another output
    } cases[] = {
        {"a folder", false, false, false},
        {"a link to a folder", true, false, false},
        {"a folder made before the commit", false, true, false},
        {"a folder made before a group's commit", false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string folder = dir.file("out");
        const auto makeFolder = [&] {
            std::filesystem::create_directory(folder);
            writeBytes(folder + "/kept.txt", "kept");
        };
        if (!c.later)
            makeFolder();
        std::string name = folder;
        if (c.link) {
            ::symlink("out", dir.file("link").c_str());
            name = dir.file("link");
        }
        writeBytes(dir.file("other.txt"), "old other");
        bool refused = false;
        int code = 0;
        try {
            OutputFile out(name);
            OutputFile other(dir.file("other.txt"));
            out.write("new bytes\n");
            other.write("new other");
            if (c.later)
                makeFolder();
            if (c.together)
                OutputFile::commitTogether({&other, &out});
            else
                out.commit();
        } catch (const rt::InOutError& e) {
            refused = true;
            code = e.code();
        }
        EXPECT_TRUE(refused);
        EXPECT_EQ(code, rt::io::InvalidFilename);
        EXPECT_EQ(kindOf(folder), mode_t(S_IFDIR));
        EXPECT_EQ(readBytes(folder + "/kept.txt"), "kept");
        EXPECT_EQ(readBytes(dir.file("other.txt")), "old other");
        EXPECT_EQ(entries(dir), c.link ? 3u : 2u) << "out, other.txt (and link) only";
    }
}
