// The per-channel code figures, counted a vector at a time, against a plain count row
// by row: lines of three codes and scan groups of four (the marker not counted), any
// number of rows, codes across the whole 16-bit range, and more clipped samples than a
// 16-bit lane counter holds. And the volts of every code, against the rule's own order.

#include "adc_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

void expectSameAsPlainCount(const std::vector<uint16_t>& codes, size_t rows, int rowCodes)
{
    CodeRange plain[3], counted[3];
    for (size_t i = 0; i < rows; ++i)
        for (int c = 0; c < 3; ++c) {
            const uint16_t code = codes[size_t(rowCodes) * i + size_t(c)];
            plain[c].lowest = std::min(plain[c].lowest, code);
            plain[c].highest = std::max(plain[c].highest, code);
            plain[c].clipped += code == 0 || code == 4095;
        }
    addCodeRanges(codes.data(), rows, rowCodes, counted);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(counted[c].lowest, plain[c].lowest) << "ch " << c + 1 << ", " << rows << " rows of " << rowCodes;
        EXPECT_EQ(counted[c].highest, plain[c].highest) << "ch " << c + 1 << ", " << rows << " rows of " << rowCodes;
        EXPECT_EQ(counted[c].clipped, plain[c].clipped) << "ch " << c + 1 << ", " << rows << " rows of " << rowCodes;
    }
}

TEST(CodeStats, MatchesAPlainCountForAnyNumberOfLines)
{
    std::mt19937 random(3);
    for (int rowCodes : {3, 4})
        for (size_t lines : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 23, 24, 100, 1001}) {
            std::vector<uint16_t> codes(size_t(rowCodes) * lines);
            for (uint16_t& code : codes)
                switch (random() % 4) {
                case 0: code = uint16_t(random() % 2 ? 0 : 4095); break;
                case 1: code = uint16_t(random()); break;  // beyond the 12-bit scale too
                default: code = uint16_t(1 + random() % 4094);
                }
            expectSameAsPlainCount(codes, lines, rowCodes);
        }
    // Each channel with its own range, so a lane folded into the wrong channel shows;
    // in groups, a marker far outside them all, so a marker lane counted shows too.
    for (int rowCodes : {3, 4}) {
        std::vector<uint16_t> codes;
        for (int i = 0; i < 40; ++i) {
            codes.insert(codes.end(), {uint16_t(100 + i), uint16_t(2000 + i), uint16_t(60000 + i)});
            if (rowCodes == 4)
                codes.push_back(uint16_t(i % 2 ? 0 : 65535));
        }
        expectSameAsPlainCount(codes, 40, rowCodes);
        CodeRange ranges[3];
        addCodeRanges(codes.data(), 40, rowCodes, ranges);
        EXPECT_EQ(ranges[0].lowest, 100) << rowCodes;
        EXPECT_EQ(ranges[2].highest, 60039) << rowCodes;
        EXPECT_EQ(ranges[0].clipped + ranges[1].clipped + ranges[2].clipped, 0) << rowCodes;
    }
}

TEST(CodeStats, CountsMoreClippedSamplesThanALaneCounterHolds)
{
    for (int rowCodes : {3, 4}) {
        const size_t lines = 8 * 70000 + 5;
        const size_t stride = size_t(rowCodes);
        std::vector<uint16_t> codes(stride * lines, 4095);
        for (size_t i = 0; i < lines; i += 2)
            codes[stride * i + 1] = 0;
        codes[stride * 1000 + 2] = 17;
        expectSameAsPlainCount(codes, lines, rowCodes);
        CodeRange stats[3];
        addCodeRanges(codes.data(), lines, rowCodes, stats);
        EXPECT_EQ(stats[0].clipped, int64_t(lines)) << rowCodes;
        EXPECT_EQ(stats[2].clipped, int64_t(lines) - 1) << rowCodes;
        EXPECT_EQ(stats[2].lowest, 17) << rowCodes;
    }
}

TEST(CodeVolts, EveryCodeGivesTheBitsOfTheRuleInItsOwnOrder)
{
    for (uint32_t code = 0; code <= 65535; ++code) {
        const double rule = (static_cast<double>(code) - 2048.0) / 2048.0 * 5.0;
        ASSERT_EQ(codeToVolts(uint16_t(code)), rule) << code;
    }
    EXPECT_TRUE(isClippedCode(0));
    EXPECT_TRUE(isClippedCode(4095));
    EXPECT_FALSE(isClippedCode(1) || isClippedCode(4094) || isClippedCode(4096) || isClippedCode(65535));
}

}  // namespace
