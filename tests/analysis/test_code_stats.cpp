// The per-channel code figures of `sounder info`, counted eight lines at a time,
// against a plain count line by line: any number of lines, codes across the whole
// 16-bit range, and more clipped samples than a 16-bit lane counter holds.

#include "code_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

void expectSameAsPlainCount(const std::vector<uint16_t>& codes, size_t lines)
{
    cli::ChannelStats plain[3], counted[3];
    for (size_t i = 0; i < lines; ++i)
        for (int c = 0; c < 3; ++c) {
            const uint16_t code = codes[3 * i + size_t(c)];
            plain[c].lowest = std::min(plain[c].lowest, code);
            plain[c].highest = std::max(plain[c].highest, code);
            plain[c].clipped += code == 0 || code == 4095;
        }
    cli::addCodes(codes.data(), lines, counted);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(counted[c].lowest, plain[c].lowest) << "ch " << c + 1 << ", " << lines << " lines";
        EXPECT_EQ(counted[c].highest, plain[c].highest) << "ch " << c + 1 << ", " << lines << " lines";
        EXPECT_EQ(counted[c].clipped, plain[c].clipped) << "ch " << c + 1 << ", " << lines << " lines";
    }
}

TEST(CodeStats, MatchesAPlainCountForAnyNumberOfLines)
{
    std::mt19937 random(3);
    for (size_t lines : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 100, 1001}) {
        std::vector<uint16_t> codes(3 * lines);
        for (uint16_t& code : codes)
            switch (random() % 4) {
            case 0: code = uint16_t(random() % 2 ? 0 : 4095); break;
            case 1: code = uint16_t(random()); break;  // beyond the 12-bit scale too
            default: code = uint16_t(1 + random() % 4094);
            }
        expectSameAsPlainCount(codes, lines);
    }
    // Each channel with its own range, so a lane folded into the wrong channel shows.
    std::vector<uint16_t> codes;
    for (int i = 0; i < 40; ++i)
        codes.insert(codes.end(), {uint16_t(100 + i), uint16_t(2000 + i), uint16_t(60000 + i)});
    expectSameAsPlainCount(codes, 40);
}

TEST(CodeStats, CountsMoreClippedSamplesThanALaneCounterHolds)
{
    const size_t lines = 8 * 70000 + 5;
    std::vector<uint16_t> codes(3 * lines, 4095);
    for (size_t i = 0; i < lines; i += 2)
        codes[3 * i + 1] = 0;
    codes[3 * 1000 + 2] = 17;
    expectSameAsPlainCount(codes, lines);
    cli::ChannelStats stats[3];
    cli::addCodes(codes.data(), lines, stats);
    EXPECT_EQ(stats[0].clipped, int64_t(lines));
    EXPECT_EQ(stats[2].clipped, int64_t(lines) - 1);
    EXPECT_EQ(stats[2].lowest, 17);
}

}  // namespace
