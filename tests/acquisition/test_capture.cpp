// The marker search and the conversion of a sweep to volts, on hand-built scan buffers.

#include "capture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A scan of `groups` groups whose channels hold `channelCode` and whose markers are low,
// followed by an equally long spare half (as the capture buffer is allocated).
std::vector<uint16_t> scan(int32_t groups, uint16_t channelCode = 2048, uint16_t marker = 0)
{
    std::vector<uint16_t> buffer(static_cast<size_t>(groups) * 4 * 2, 0);
    for (int32_t g = 0; g < groups; ++g) {
        for (int c = 0; c < 3; ++c)
            buffer[static_cast<size_t>(4 * g + c)] = channelCode;
        buffer[static_cast<size_t>(4 * g + 3)] = marker;
    }
    return buffer;
}

void setMarker(std::vector<uint16_t>& buffer, int32_t group, uint16_t code)
{
    buffer[static_cast<size_t>(4 * group + 3)] = code;
}

TEST(CodeToVolts, ScaleEnds)
{
    EXPECT_EQ(codeToVolts(0), -5.0);
    EXPECT_EQ(codeToVolts(2048), 0.0);
    EXPECT_EQ(codeToVolts(4095), 4.99755859375);
    EXPECT_EQ(codeToVolts(1024), -2.5);
    // Codes are not masked or clipped: beyond the 12-bit scale the line goes on.
    EXPECT_EQ(codeToVolts(6144), 10.0);
    EXPECT_EQ(codeToVolts(65535), (65535.0 - 2048.0) / 2048.0 * 5.0);
}

TEST(FindSweepStart, ThresholdIsStrict)
{
    auto buffer = scan(100);
    setMarker(buffer, 10, 3000);
    setMarker(buffer, 20, 3001);
    EXPECT_EQ(findSweepStart(buffer.data(), 0, 3000, 400), 80);
    // The recording threshold: 2800 is not a start, 2801 is.
    auto rec = scan(100);
    setMarker(rec, 5, 2800);
    setMarker(rec, 6, 2801);
    EXPECT_EQ(findSweepStart(rec.data(), 0, 2800, 400), 24);
    EXPECT_EQ(findSweepStart(rec.data(), 0, 3000, 400), std::nullopt);
}

TEST(FindSweepStart, MarkerHighInFirstGroupIsAStart)
{
    auto buffer = scan(100, 2048, 4095);  // high everywhere: no edge detection
    EXPECT_EQ(findSweepStart(buffer.data(), 0, 3000, 400), 0);
    EXPECT_EQ(findSweepStart(buffer.data(), 40, 3000, 400), 40);
}

TEST(FindSweepStart, LastGroupFoundAndNothingBeyondTheScan)
{
    auto buffer = scan(100);
    setMarker(buffer, 99, 3500);
    EXPECT_EQ(findSweepStart(buffer.data(), 0, 3000, 400), 396);
    // A marker in the spare half is never seen by a search from inside the scan.
    auto spare = scan(100);
    setMarker(spare, 100, 4000);
    EXPECT_EQ(findSweepStart(spare.data(), 0, 3000, 400), std::nullopt);
}

TEST(FindSweepStart, NoneAnywhere)
{
    auto buffer = scan(100, 4095, 3000);  // channels high do not count: only the marker
    EXPECT_EQ(findSweepStart(buffer.data(), 0, 3000, 400), std::nullopt);
}

TEST(FindSweepStart, GroupAtFromExaminedBeforeTheBound)
{
    auto buffer = scan(100);
    setMarker(buffer, 100, 4000);  // first group of the spare half
    // A search starting at the end of the scan still looks at its first group.
    EXPECT_EQ(findSweepStart(buffer.data(), 400, 3000, 400), 400);
    setMarker(buffer, 100, 0);
    EXPECT_EQ(findSweepStart(buffer.data(), 400, 3000, 400), std::nullopt);
    // Searches resume where asked: earlier markers are not looked at.
    setMarker(buffer, 2, 4000);
    setMarker(buffer, 50, 4000);
    EXPECT_EQ(findSweepStart(buffer.data(), 12, 3000, 400), 200);
    EXPECT_EQ(findSweepStart(buffer.data(), -4, 3000, 400), std::nullopt);
}

TEST(ExtractSweep, ConvertsChannelsFromTheStartOn)
{
    auto buffer = scan(10);
    for (int32_t g = 0; g < 10; ++g) {
        buffer[static_cast<size_t>(4 * g)] = static_cast<uint16_t>(g);
        buffer[static_cast<size_t>(4 * g + 1)] = 2048;
        buffer[static_cast<size_t>(4 * g + 2)] = static_cast<uint16_t>(4095 - g);
        buffer[static_cast<size_t>(4 * g + 3)] = 4095;
    }
    std::vector<double> v1(11, 99.0), v2(11, 99.0), v3(11, 99.0);
    EXPECT_EQ(extractSweep(buffer.data(), 12, 40, v1.data(), v2.data(), v3.data(), 10), 7);
    EXPECT_EQ(v1[0], 99.0);  // slot 0 unused
    EXPECT_EQ(v1[1], codeToVolts(3));
    EXPECT_EQ(v2[1], 0.0);
    EXPECT_EQ(v3[1], codeToVolts(4092));
    EXPECT_EQ(v1[7], codeToVolts(9));
    EXPECT_EQ(v3[7], codeToVolts(4086));
    // Elements beyond the last one written keep their older values.
    EXPECT_EQ(v1[8], 99.0);
    EXPECT_EQ(v2[10], 99.0);
}

TEST(ExtractSweep, StartAtLastGroupWritesOneElement)
{
    auto buffer = scan(100, 0);
    std::vector<double> v1(101, 1.5), v2(101, 1.5), v3(101, 1.5);
    EXPECT_EQ(extractSweep(buffer.data(), 396, 400, v1.data(), v2.data(), v3.data(), 100), 1);
    EXPECT_EQ(v1[1], -5.0);
    EXPECT_EQ(v3[1], -5.0);
    EXPECT_EQ(v1[2], 1.5);
}

TEST(ExtractSweep, NeverWritesPastTheArrays)
{
    auto buffer = scan(100, 4095);
    std::vector<double> v1(11, 0.0), v2(11, 0.0), v3(11, 0.0);
    EXPECT_EQ(extractSweep(buffer.data(), 0, 400, v1.data(), v2.data(), v3.data(), 10), 10);
    EXPECT_EQ(v1[10], 4.99755859375);
    EXPECT_EQ(extractSweep(buffer.data(), -8, 400, v1.data(), v2.data(), v3.data(), 10), 0);
}

TEST(CaptureSizes, PerDivider)
{
    EXPECT_EQ(sweepGroups(2), 5000);
    EXPECT_EQ(sweepGroups(4), 2500);
    EXPECT_EQ(sweepGroups(3), 2500);  // any divider other than 2 is treated as 4
    EXPECT_EQ(scanRateFor(2), 5000000);
    EXPECT_EQ(scanRateFor(4), 2500000);
    EXPECT_EQ(twoSweepCount(2), 40000);
    EXPECT_EQ(twoSweepCount(4), 20000);
}

}  // namespace
