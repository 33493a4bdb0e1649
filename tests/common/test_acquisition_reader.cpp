// The strict acquisition-layout reader against what the writer makes and against
// each kind of fault, with the line number the fault names.

#include "acquisition_reader.h"
#include "recording_writer.h"
#include "runtime_error.h"
#include "temp_dir.h"
#include "text_io.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string Header = "2,2500\r\n31\r\n10,-3,0\r\n0.0\r\n";

std::string sweeps(int count)
{
    std::string text;
    for (int i = 0; i < count * 2500; ++i)
        text += std::to_string(i % 4096) + "," + std::to_string(4095 - i % 4096) + ",0\r\n";
    return text;
}

// The fault's line and expected text, or line 0 when the text reads through.
acq::FormatError readFault(const std::string& text)
{
    try {
        acq::AcquisitionReader reader;
        reader.openMemory(text);
        std::vector<uint16_t> codes(3 * 1000);
        while (reader.readLines(codes.data(), 1000) > 0) {
        }
    } catch (const acq::FormatError& e) {
        return e;
    }
    return acq::FormatError(0, "");
}

}  // namespace

TEST(AcquisitionReader, ReadsWhatTheWriterWrites)
{
    TempDir dir;
    const std::string path = dir.file("rec.txt");
    std::vector<uint16_t> groups;
    for (int i = 0; i < 2 * 2500; ++i)
        groups.insert(groups.end(), {uint16_t(i % 4096), uint16_t(65535 - i), uint16_t(0), uint16_t(4000)});
    {
        rt::TextWriter file;
        file.create(path);
        writeRecordingHeader(file, 2, 2500, -4, 10, 20, 30);
        writeSweepLines(file, groups.data(), 2 * 2500);
        file.close();
    }
    acq::AcquisitionReader reader;
    uint64_t sunk = 0;
    reader.setByteSink([&](const char*, size_t n) { sunk += n; });
    reader.open(path);
    EXPECT_EQ(reader.header().numSweeps, 2);
    EXPECT_EQ(reader.header().sweepSamples, 2500);
    EXPECT_EQ(reader.header().attenuation, -4);
    EXPECT_EQ(reader.header().gains[2], 30);
    EXPECT_EQ(reader.header().clockDivider(), 4);
    std::vector<uint16_t> codes(3 * 777);
    size_t line = 0;
    for (size_t got; (got = reader.readLines(codes.data(), 777)) > 0; line += got)
        for (size_t i = 0; i < got; ++i)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(codes[3 * i + c], groups[4 * (line + i) + c]) << "line " << line + i;
    EXPECT_EQ(line, 5000u);
    EXPECT_EQ(sunk, readBytes(path).size());
    EXPECT_EQ(reader.bytesRead(), reader.totalBytes());
}

TEST(AcquisitionReader, CutShortFileReadsItsWholeSweeps)
{
    acq::AcquisitionReader reader;
    reader.openMemory(Header + sweeps(1) + "1,2,3\r\n");
    std::vector<uint16_t> codes(3 * 5000);
    EXPECT_EQ(reader.readLines(codes.data(), 5000), 2501u);
    const acq::SweepCount count = acq::countSweeps(reader.header(), reader.linesRead());
    EXPECT_EQ(count.whole, 1);
    EXPECT_EQ(count.missing, 1);
    EXPECT_EQ(count.partialLines, 1);
}

// A file that ends inside a line (a write that stopped there) ends before that line.
TEST(AcquisitionReader, FileEndingInsideALineEndsBeforeIt)
{
    for (const std::string cut : {"1", "1,", "12,3", "1,2,3", "1,2,34", "65535,65535,65535\r"}) {
        acq::AcquisitionReader reader;
        reader.openMemory(Header + sweeps(1) + "1,2,3\r\n" + cut);
        std::vector<uint16_t> codes(3 * 5000);
        EXPECT_EQ(reader.readLines(codes.data(), 5000), 2501u) << cut;
        EXPECT_EQ(reader.readLines(codes.data(), 5000), 0u) << cut;
        EXPECT_EQ(reader.cutLineBytes(), cut.size()) << cut;
        EXPECT_EQ(acq::countSweeps(reader.header(), reader.linesRead()).whole, 1) << cut;
    }
}

TEST(AcquisitionReader, HeaderFaultsNameTheirLine)
{
    EXPECT_EQ(readFault("").line(), 1);
    EXPECT_EQ(readFault("5\r\n4000\r\n0\r\n20\r\n0.0\r\n").line(), 1);  // viewer layout
    EXPECT_EQ(readFault("2,2400\r\n31\r\n10,-3,0\r\n0.0\r\n").line(), 1);
    EXPECT_EQ(readFault("02,2500\r\n31\r\n10,-3,0\r\n0.0\r\n").line(), 1);
    EXPECT_EQ(readFault("2,2500\r\n31,1\r\n10,-3,0\r\n0.0\r\n").line(), 2);
    EXPECT_EQ(readFault("2,2500\r\n31\r\n10,-0,0\r\n0.0\r\n").line(), 3);
    EXPECT_EQ(readFault("2,2500\r\n31\r\n10,-3\r\n0.0\r\n").line(), 3);
    EXPECT_EQ(readFault("2,2500\r\n31\r\n10,-3,0\r\n0\r\n").line(), 4);
    EXPECT_EQ(readFault("2,2500\r\n31\r\n10,-3,0\r\n0.0\n").line(), 4);
    EXPECT_NE(std::string(readFault("2,2500\n31\n").what()).find("LF alone"), std::string::npos);
    EXPECT_NE(std::string(readFault("").what()).find("end of the file"), std::string::npos);
}

TEST(AcquisitionReader, SampleFaultsNameTheirLineAndWhatWasExpected)
{
    struct Row {
        std::string line;
        const char* says;
    };
    const Row rows[] = {
        {"1,2\r\n", "found 2 codes"},
        {"1,2,65536\r\n", "above 65535"},
        {"1,2,123456\r\n", "above 65535"},
        {"1,2,3\n", "LF alone"},
        {"1,02,3\r\n", "leading zeros"},
        {"1,2,3,4\r\n", "more than 3"},
        {"1,-2,3\r\n", "no code after"},
        {"1 ,2,3\r\n", "another character"},
    };
    for (const Row& row : rows) {
        const acq::FormatError fault = readFault(Header + "7,8,9\r\n" + row.line + sweeps(1));
        EXPECT_EQ(fault.line(), 6) << row.line;
        EXPECT_NE(std::string(fault.what()).find(row.says), std::string::npos) << row.line << fault.what();
    }
    // A last line that is not the start of a line of codes.
    for (const char* last : {"1,2,3\rx", "123456", "1,,2", "1;2", "1,2,3,"})
        EXPECT_EQ(readFault(Header + "7,8,9\r\n" + last).line(), 6) << last;
    // More lines than the header promises.
    EXPECT_EQ(readFault(Header + sweeps(2) + "1,2,3\r\n").line(), 5 + 5000);
    EXPECT_EQ(readFault(Header + sweeps(2)).line(), 0);
    // Ctrl-Z at a line start ends the readable text.
    EXPECT_EQ(readFault(Header + sweeps(1) + "\x1a" + "garbage").line(), 0);
}

TEST(AcquisitionReader, MissingFileIsAnIoError)
{
    TempDir dir;
    acq::AcquisitionReader reader;
    try {
        reader.open(dir.file("none.txt"));
        FAIL();
    } catch (const rt::InOutError& e) {
        EXPECT_EQ(e.code(), rt::io::FileNotFound);
    }
}

// A file whose first bytes were read already (a pipe) reads, with those bytes handed
// back, as the whole file does: the same codes and bytes, wherever the head ends; and
// the text reader, given the same, reads the same items.
TEST(AcquisitionReader, FileAfterItsHeadReadsAsTheWholeFile)
{
    TempDir dir;
    const std::string path = dir.file("rec.txt");
    const std::string text = Header + sweeps(2);
    writeBytes(path, text);
    for (const size_t headBytes : {size_t(0), size_t(1), size_t(7), size_t(26), size_t(256), size_t(70000)}) {
        SCOPED_TRACE(headBytes);
        const std::string head = text.substr(0, headBytes);
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, off_t(head.size()), SEEK_SET), off_t(head.size()));
        acq::AcquisitionReader reader;
        std::string sunk;
        reader.setByteSink([&](const char* bytes, size_t n) { sunk.append(bytes, n); });
        reader.openAfter(fd, head);
        EXPECT_EQ(reader.header().numSweeps, 2);
        EXPECT_EQ(reader.header().gains[1], -3);
        std::vector<uint16_t> codes(3 * 5000);
        size_t lines = 0;
        for (size_t got; (got = reader.readLines(codes.data() + 3 * lines, 5000 - lines)) > 0;)
            lines += got;
        ASSERT_EQ(lines, 5000u);
        for (size_t i = 0; i < lines; i += 997)
            EXPECT_EQ(codes[3 * i + 1], 4095 - i % 4096) << "line " << i;
        EXPECT_EQ(sunk, text);
        EXPECT_EQ(reader.bytesRead(), text.size());

        // The text reader over lines of one number each, read item by item.
        std::string numbers;
        for (int n = 1; n <= 20000; ++n)
            numbers += std::to_string(n * 3) + "\r\n";
        const std::string items = dir.file("items.txt");
        writeBytes(items, numbers);
        fd = ::open(items.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const std::string itemsHead = numbers.substr(0, headBytes);
        ASSERT_EQ(::lseek(fd, off_t(itemsHead.size()), SEEK_SET), off_t(itemsHead.size()));
        rt::TextReader file;
        file.openAfter(fd, itemsHead);
        int wrong = 0;
        for (int n = 1; n <= 20000; ++n) {
            wrong += file.readInt() != n * 3;
            file.readLn();
        }
        file.check();
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(file.readInt(), 0);
        EXPECT_TRUE(file.atEnd());
    }
}
