// The batched sample lines of a recording against the one-line writer of the format.

#include "recording_writer.h"
#include "runtime_error.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SweepLines : public ::testing::Test {
protected:
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    QTemporaryDir dir_;
};

TEST_F(SweepLines, SameTextAsOneLineAtATime)
{
    // Every 16-bit code in each channel position, the marker samples interleaved, and a
    // count that is not a whole number of batches.
    std::vector<uint16_t> samples;
    for (uint32_t i = 0; i < 65536 + 7; ++i)
        samples.insert(samples.end(), {uint16_t(i), uint16_t(65535 - i % 65536), uint16_t(i * 7), 9999});
    const int32_t groups = int32_t(samples.size() / 4);

    rt::TextWriter batched;
    batched.create(path("batched.txt"));
    writeSweepLines(batched, samples.data(), groups);
    writeSweepLines(batched, samples.data(), 0);  // nothing at all
    batched.close();

    rt::TextWriter single;
    single.create(path("single.txt"));
    for (int32_t g = 0; g < groups; ++g)
        writeCodeLine(single, samples[4 * g], samples[4 * g + 1], samples[4 * g + 2]);
    single.close();

    const std::string expected = contents(path("single.txt"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(contents(path("batched.txt")), expected);
    EXPECT_EQ(expected.substr(0, 13), "0,65535,0\r\n1,");
}

TEST_F(SweepLines, WriteFailureSurfaces)
{
    std::vector<uint16_t> samples(4 * 200000, 4095);
    rt::TextWriter file;
    file.create("/dev/full");
    try {
        writeSweepLines(file, samples.data(), 200000);
        FAIL() << "no error";
    } catch (const rt::InOutError& e) {
        EXPECT_EQ(e.code(), rt::io::DiskFull);
    }
    try {
        file.close();
    } catch (const rt::InOutError&) {
    }
    EXPECT_FALSE(file.isOpen());
}

}  // namespace
