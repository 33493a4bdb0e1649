// Reading recordings from files: opening, and items and line ends that straddle the
// reader's buffer.

#include "runtime_error.h"
#include "temp_dir.h"
#include "text_io.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fcntl.h>
#include <cstdio>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using rt::InOutError;
using rt::TextReader;

namespace {

constexpr size_t BufferBytes = size_t(1) << 20;

int openCode(const std::string& path)
{
    TextReader reader;
    try {
        reader.open(path);
    } catch (const InOutError& e) {
        EXPECT_FALSE(reader.isOpen());
        return e.code();
    }
    return 0;
}

}  // namespace

TEST(ReaderOpen, MissingFileIsFileNotFound)
{
    TempDir dir;
    TextReader reader;
    try {
        reader.open(dir.file("absent.txt"));
        FAIL() << "opened";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
}

TEST(ReaderOpen, APathThatCannotNameAFileIsInvalidFilename)
{
    TempDir dir;
    writeBytes(dir.file("plain.txt"), "1\r\n");
    EXPECT_EQ(openCode(dir.file("no_such_dir/x.txt")), 3);    // a missing folder
    EXPECT_EQ(openCode(dir.file("plain.txt/x.txt")), 3);      // a file used as a folder
    EXPECT_EQ(openCode(dir.file(std::string(300, 'n'))), 3);  // a name too long
    EXPECT_EQ(openCode(""), 3);
    EXPECT_EQ(openCode(dir.file("")), 3);  // a folder opened as a file
    EXPECT_EQ(openCode(dir.file("absent/")), 3);
    // A device is no file: /dev/zero, blanks without end, would hold a read for good.
    EXPECT_EQ(openCode("/dev/zero"), 3);
    EXPECT_EQ(openCode("/dev/null"), 3);
}

TEST(ReaderOpen, UnreadableFileIsAccessDenied)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempDir dir;
    const std::string path = dir.file("locked.txt");
    writeBytes(path, "1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    EXPECT_EQ(openCode(path), 5);
}

TEST(ReaderOpen, ReadsAFileAndClosesIt)
{
    TempDir dir;
    const std::string path = dir.file("view.txt");
    writeBytes(path, "2\r\n4000\r\n0\r\n30\r\n0.0\r\n-0.5\r\n");
    TextReader reader;
    reader.open(path);
    EXPECT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.readInt(), 2);
    reader.readLn();
    EXPECT_EQ(reader.readInt(), 4000);
    reader.readLn();
    reader.readInt();
    reader.readLn();
    EXPECT_EQ(reader.readInt(), 30);
    reader.readLn();
    EXPECT_EQ(reader.readReal(), 0.0);
    reader.readLn();
    EXPECT_EQ(reader.readReal(), -0.5);
    reader.readLn();
    reader.check();
    EXPECT_EQ(reader.readReal(), 0.0);  // past the end
    reader.check();
    reader.close();
    EXPECT_FALSE(reader.isOpen());
}

TEST(ReaderOpen, TheFileOpenIsToldFromAnotherUnderItsNameAndFromItsLaterSelf)
{
    TempDir dir;
    const std::string path = dir.file("view.txt");
    enum class Then { Nothing, LinkedTo, Replaced, Removed, RewrittenInPlace, Touched };
    // Whether the name (or a link to the file) still leads to the file as opened, and
    // whether the file open is still as it was.
    const struct { Then then; bool nameSame; bool openSame; } cases[] = {
        {Then::Nothing, true, true},           {Then::LinkedTo, true, true}, {Then::Replaced, false, true},
        {Then::Removed, false, true},          {Then::RewrittenInPlace, false, false},
        {Then::Touched, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.then));
        writeBytes(path, "1\r\n");
        TextReader reader;
        reader.open(path);
        const std::optional<rt::FileId> open = reader.fileId();
        ASSERT_TRUE(open.has_value());
        EXPECT_EQ(open->size, 3);
        std::string name = path;
        if (c.then == Then::LinkedTo) {
            name = dir.file("link");
            std::remove(name.c_str());
            ASSERT_EQ(::symlink(path.c_str(), name.c_str()), 0);
        } else if (c.then == Then::Replaced) {
            writeBytes(dir.file("other"), "2\r\n");
            ASSERT_EQ(std::rename(dir.file("other").c_str(), path.c_str()), 0);
        } else if (c.then == Then::Removed) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
        } else if (c.then == Then::RewrittenInPlace) {
            writeBytes(path, "33\r\n");
        } else if (c.then == Then::Touched) {
            const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        }
        EXPECT_EQ(rt::fileIdOf(name) == open, c.nameSame);
        EXPECT_EQ(reader.fileId() == open, c.openSame);
        reader.close();
        EXPECT_FALSE(reader.fileId().has_value());
    }
    TextReader memory;
    memory.openMemory("1\r\n");
    EXPECT_FALSE(memory.fileId().has_value());
    EXPECT_FALSE(rt::fileIdOf(dir.file("none")).has_value());
}

// A line end or a token at every position around the end of the first buffer load.
TEST(ReaderBuffer, LineEndsAndTokensAcrossTheBufferBoundary)
{
    TempDir dir;
    const std::string path = dir.file("edge.txt");
    for (int shift = -6; shift <= 6; ++shift) {
        // Line 1: "7" and filler, so that line 2 starts at BufferBytes + shift - 3.
        const size_t lineTwo = BufferBytes + size_t(shift) - 3;
        std::string bytes = "7 " + std::string(lineTwo - 4, 'x') + "\r\n";
        bytes += "-12345.5\r\n88 tail\r\n";
        writeBytes(path, bytes);
        TextReader reader;
        reader.open(path);
        EXPECT_EQ(reader.readInt(), 7);
        reader.readLn();
        EXPECT_EQ(reader.readReal(), -12345.5) << shift;
        reader.readLn();
        EXPECT_EQ(reader.readInt(), 88) << shift;
        reader.readLn();
        EXPECT_EQ(reader.pending(), 0) << shift;
        EXPECT_EQ(reader.readInt(), 0);
        reader.close();
    }
}

TEST(ReaderBuffer, OverlongTokenAcrossTheBoundaryStillFails)
{
    TempDir dir;
    const std::string path = dir.file("long.txt");
    std::string bytes(BufferBytes - 20, ' ');
    bytes += std::string(50, '1') + "\r\n5\r\n";
    writeBytes(path, bytes);
    TextReader reader;
    reader.open(path);
    EXPECT_EQ(reader.readInt(), 0);
    reader.readLn();
    EXPECT_THROW(reader.check(), InOutError);
    EXPECT_EQ(reader.readInt(), 5);
}

TEST(ReaderBuffer, ManyLinesReadBackExactly)
{
    TempDir dir;
    const std::string path = dir.file("sweeps.txt");
    std::mt19937 random(9);
    std::uniform_real_distribution<double> volts(-1.25, 1.25);
    std::vector<std::string> texts;
    std::string bytes;
    for (int i = 0; i < 300000; ++i) {
        char text[40];
        const int length = std::snprintf(text, sizeof text, i % 3 ? "%.6f" : "%.17g", volts(random));
        texts.emplace_back(text, size_t(length));
        bytes += texts.back() + (i % 7 ? "\r\n" : "  rest of line\r\n");
    }
    writeBytes(path, bytes);
    TextReader reader;
    reader.open(path);
    for (const std::string& text : texts) {
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        ASSERT_EQ(reader.readReal(), expected) << text;
        reader.readLn();
        reader.check();
    }
    EXPECT_EQ(reader.readReal(), 0.0);
    reader.close();
}

TEST(ReaderBuffer, CtrlZInALaterBufferLoadEndsTheText)
{
    TempDir dir;
    const std::string path = dir.file("ctrlz.txt");
    std::string bytes;
    while (bytes.size() < BufferBytes + 100)
        bytes += "1\r\n";
    bytes += "\x1a" "2\r\n3\r\n";
    writeBytes(path, bytes);
    TextReader reader;
    reader.open(path);
    int64_t sum = 0;
    for (size_t i = 0; i < bytes.size() / 3 + 10; ++i) {
        sum += reader.readInt();
        reader.readLn();
    }
    reader.check();
    EXPECT_EQ(sum, int64_t((BufferBytes + 100 + 2) / 3));
}
