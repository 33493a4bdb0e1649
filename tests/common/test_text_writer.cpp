// Writing recordings: exact bytes of the acquisition layout and write failures.

#include "recording_writer.h"
#include "runtime_error.h"
#include "temp_dir.h"
#include "text_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using rt::InOutError;
using rt::TextWriter;

namespace {

int closeCode(TextWriter& writer)
{
    try {
        writer.close();
    } catch (const InOutError& e) {
        return e.code();
    }
    return 0;
}

int createCode(const std::string& path)
{
    TextWriter writer;
    try {
        writer.create(path);
    } catch (const InOutError& e) {
        EXPECT_FALSE(writer.isOpen());
        return e.code();
    }
    return 0;
}

std::string codeLine(unsigned a, unsigned b, unsigned c)
{
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "\r\n";
}

}  // namespace

TEST(RecordingWriter, HeaderAndCodeLinesHaveTheirExactBytes)
{
    TempDir dir;
    const std::string path = dir.file("rec.txt");
    TextWriter writer;
    writer.create(path);
    writeRecordingHeader(writer, 1430, 5000, -3, 70, 0, -12);
    writeCodeLine(writer, 0, 4095, 2048);
    writeCodeLine(writer, 65535, 10, 9);
    writer.close();
    EXPECT_EQ(readBytes(path), "1430,5000\r\n-3\r\n70,0,-12\r\n0.0\r\n0,4095,2048\r\n65535,10,9\r\n");
}

TEST(RecordingWriter, OneSweepAtDividerFourHasHeaderAndSweepLines)
{
    TempDir dir;
    const std::string path = dir.file("one.txt");
    TextWriter writer;
    writer.create(path);
    writeRecordingHeader(writer, 1, 2500, 31, 40, 41, 42);
    std::string expected = "1,2500\r\n31\r\n40,41,42\r\n0.0\r\n";
    for (unsigned i = 0; i < 2500; ++i) {
        writeCodeLine(writer, uint16_t(i), uint16_t(4095 - i), uint16_t(i * 13 % 4096));
        expected += codeLine(i, 4095 - i, i * 13 % 4096);
    }
    writer.close();
    const std::string bytes = readBytes(path);
    EXPECT_EQ(bytes, expected);
    size_t lines = 0;
    for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, 4u + 2500u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");  // nothing after the last line
}

TEST(TextWriterFormat, IntegersInTheirShortestForm)
{
    TempDir dir;
    const std::string path = dir.file("ints.txt");
    const int64_t values[] = {0, 7, -7, 9, 10, 99, 100, 999, 1000, 9999, 10000, 65535, -10000, 123456789,
                              std::numeric_limits<int32_t>::min(), std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::min()};
    TextWriter writer;
    writer.create(path);
    std::string expected;
    for (int64_t v : values) {
        writer.writeInt(v);
        writer.writeChar(';');
        expected += std::to_string(v) + ";";
    }
    writer.writeText("0.0");
    writer.writeLn();
    writer.check();
    writer.close();
    EXPECT_EQ(readBytes(path), expected + "0.0\r\n");
}

TEST(TextWriterFormat, ManyLinesAcrossBufferLoadsArriveInOrder)
{
    TempDir dir;
    const std::string path = dir.file("many.txt");
    TextWriter writer;
    writer.create(path);
    std::string expected;
    for (unsigned i = 0; i < 400000; ++i) {
        writeCodeLine(writer, uint16_t(i % 4096), uint16_t(i % 65536), uint16_t(i % 7));
        expected += codeLine(i % 4096, i % 65536, i % 7);
    }
    // A line far longer than the buffer goes out in pieces, unchanged.
    const std::string longText(3 << 20, 'z');
    writer.writeText(longText);
    writer.writeLn();
    writer.check();
    expected += longText + "\r\n";
    writer.close();
    EXPECT_EQ(readBytes(path), expected);
}

TEST(TextWriterFile, CreateReplacesAnExistingFile)
{
    TempDir dir;
    const std::string path = dir.file("old.txt");
    writeBytes(path, "a much longer earlier content\r\n");
    TextWriter writer;
    writer.create(path);
    writer.writeInt(5);
    writer.writeLn();
    writer.close();
    EXPECT_EQ(readBytes(path), "5\r\n");
}

TEST(TextWriterFile, CreateFailuresCarryTheirCodes)
{
    TempDir dir;
    TextWriter writer;
    try {
        writer.create(dir.file("missing_dir/rec.txt"));
        FAIL() << "created";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 3);
        EXPECT_STREQ(e.what(), "Invalid filename");
    }
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(createCode(dir.file("")), 3);         // a folder
    EXPECT_EQ(createCode(""), 3);
    EXPECT_EQ(createCode(dir.file("new.txt/")), 3);  // names a folder, not a file
    EXPECT_EQ(createCode(dir.file(std::string(300, 'n'))), 3);
    if (::geteuid() != 0) {
        ::chmod(dir.file("").c_str(), 0500);
        EXPECT_EQ(createCode(dir.file("locked.txt")), 5);
        ::chmod(dir.file("").c_str(), 0700);
    }
}

TEST(TextWriterFile, AFifoIsWrittenWhileReadAndRefusedAtOnceWithoutAReader)
{
    TempDir dir;
    const std::string fifo = dir.file("live");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = dir.file("sock");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // Should the open wait for a reader after all, one comes after a while, so the
    // test fails rather than hanging.
    std::atomic<bool> opened{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !opened; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!opened) {
            const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ::close(fd);
        }
    });
    const int withoutReader = createCode(fifo);
    opened = true;
    rescue.join();
    EXPECT_EQ(withoutReader, 5);
    EXPECT_EQ(createCode(socketPath), 5);
    ::close(listener);

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TextWriter writer;
    writer.create(fifo);
    writeCodeLine(writer, 1, 2, 3);
    writer.close();
    char bytes[64] = {};
    EXPECT_EQ(::read(reader, bytes, sizeof bytes - 1), 7);
    EXPECT_STREQ(bytes, "1,2,3\r\n");
    ::close(reader);
}

TEST(TextWriterFailure, AReaderOfAFifoThatGoesFailsTheWriteAndTheProgramGoesOn)
{
    TempDir dir;
    const std::string fifo = dir.file("live");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool atClose : {true, false}) {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        TextWriter writer;
        writer.create(fifo);
        ::close(reader);
        int code = 0;
        if (atClose) {
            writeCodeLine(writer, 4, 5, 6);  // still buffered: it goes out at the close
            code = closeCode(writer);
        } else {
            // More than the buffer holds: the lines go out while they are written.
            for (int i = 0; i < 200000 && code == 0; ++i) {
                try {
                    writeCodeLine(writer, 4095, 4095, 4095);  // checks its line
                } catch (const InOutError& e) {
                    code = e.code();
                }
            }
            closeCode(writer);
        }
        EXPECT_EQ(code, rt::IoErrorBase + EPIPE) << atClose;
        EXPECT_FALSE(writer.isOpen());
        sigset_t pending;
        sigemptyset(&pending);
        ASSERT_EQ(::sigpending(&pending), 0);
        EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << atClose;  // none left to arrive later
    }
}

TEST(TextWriterFile, WritingOrClosingWhatIsNotOpen)
{
    TextWriter writer;
    writer.writeInt(1);
    writer.writeLn();
    try {
        writer.check();
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 105);
    }
    EXPECT_EQ(closeCode(writer), 103);
}

TEST(TextWriterFile, AWriterLeftOpenStillDeliversItsLines)
{
    TempDir dir;
    const std::string path = dir.file("dropped.txt");
    {
        TextWriter writer;
        writer.create(path);
        writeCodeLine(writer, 1, 2, 3);
    }
    EXPECT_EQ(readBytes(path), "1,2,3\r\n");
}

TEST(TextWriterFailure, DiskFullSurfacesAtTheCheckOfALine)
{
    TextWriter writer;
    writer.create("/dev/full");
    int lines = 0;
    try {
        for (; lines < 1000000; ++lines)
            writeCodeLine(writer, 4095, 4095, 4095);
        FAIL() << "no failure";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 101);
        EXPECT_STREQ(e.what(), "Disk full");
    }
    // Every later line is lost and says so; the close after the report succeeds.
    EXPECT_THROW(writeCodeLine(writer, 1, 2, 3), InOutError);
    EXPECT_EQ(closeCode(writer), 0);
    EXPECT_FALSE(writer.isOpen());
}

TEST(TextWriterFailure, DiskFullAtCloseIsReportedAndTheFileIsClosed)
{
    TextWriter writer;
    writer.create("/dev/full");
    writeRecordingHeader(writer, 2, 5000, 0, 10, 10, 10);  // still buffered
    EXPECT_EQ(closeCode(writer), 101);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(closeCode(writer), 103);
}

// A file size limit makes the system accept part of a buffer load and refuse the
// rest: the file must still end with a whole line.
TEST(TextWriterFailure, APartlyWrittenLoadIsCutBackToTheLastWholeLine)
{
    TempDir dir;
    const std::string path = dir.file("limited.txt");
    const rlim_t limit = (rlim_t(1) << 20) + 5;  // inside a line of the second load
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);

    TextWriter writer;
    std::string seen;  // what the byte sink was given: exactly what the file keeps
    writer.setByteSink([&](const char* b, size_t n) { seen.append(b, n); });
    writer.create(path);
    int code = 0;
    try {
        for (int i = 0; i < 1000000; ++i)
            writeCodeLine(writer, 1234, 567, 89);  // 13 bytes a line
    } catch (const InOutError& e) {
        code = e.code();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    writer.close();

    EXPECT_EQ(code, 101);  // EFBIG: the file may grow no further
    const std::string bytes = readBytes(path);
    ASSERT_FALSE(bytes.empty());
    EXPECT_LE(bytes.size(), size_t(limit));
    EXPECT_EQ(bytes.size() % 13, 0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 13), "1234,567,89\r\n");
    EXPECT_TRUE(seen == bytes) << seen.size() << " bytes seen, " << bytes.size() << " in the file";
    EXPECT_EQ(writer.bytesWritten(), bytes.size());
}

TEST(TextWriterSink, SeesEveryByteInOrderAcrossBufferLoads)
{
    TempDir dir;
    const std::string path = dir.file("sink.txt");
    std::string seen;
    int calls = 0;
    TextWriter writer;
    writer.setByteSink([&](const char* b, size_t n) {
        seen.append(b, n);
        ++calls;
    });
    writer.create(path);
    writeRecordingHeader(writer, 3, 2500, -4, 1, 2, 3);
    for (unsigned i = 0; i < 300000; ++i)
        writeCodeLine(writer, i % 4096, (i * 7) % 4096, 4095 - i % 4096);
    writer.close();
    const std::string bytes = readBytes(path);
    EXPECT_GT(calls, 2);  // several loads, not one
    EXPECT_TRUE(seen == bytes);
    EXPECT_EQ(writer.bytesWritten(), bytes.size());

    // A second file through the same writer starts its count afresh.
    seen.clear();
    writer.create(dir.file("second.txt"));
    writeCodeLine(writer, 1, 2, 3);
    writer.close();
    EXPECT_EQ(seen, "1,2,3\r\n");
    EXPECT_EQ(writer.bytesWritten(), 7u);
}

// A real file system that fills up: a small tmpfs, which only the superuser may
// mount (and only where the container lets it).
TEST(TextWriterFailure, AFileSystemThatFillsUpIsDiskFull)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs the superuser";
    TempDir dir;
    const std::string mountPoint = dir.file("");
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);

    const std::string path = dir.file("rec.txt");
    int code = 0;
    int lines = 0;
    {
        TextWriter writer;
        writer.create(path);
        try {
            for (; lines < 1000000; ++lines)
                writeCodeLine(writer, 1234, 567, 89);  // 13 bytes a line
        } catch (const InOutError& e) {
            code = e.code();
        }
        closeCode(writer);
    }
    const std::string bytes = readBytes(path);
    ::umount2(mountPoint.c_str(), MNT_DETACH);

    EXPECT_EQ(code, 101);
    EXPECT_LT(lines, 1000000);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.size() % 13, 0u);  // the file ends with a whole line
    EXPECT_EQ(bytes.substr(bytes.size() - 13), "1234,567,89\r\n");
}
