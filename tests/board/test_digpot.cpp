// The shipped gain table digpot.cfg against the simulated potentiometer model, read by
// the acquisition program's rules; and the attenuator code model.
#include "sim_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 68;
constexpr int kColumns = 16;

std::string readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program's reading rules: skip bytes <= 32 before a number, a number runs to the
// next byte <= 32 (at most 32 of them), sixteen per row, then the rest of the line up to
// and including CR (and an LF right after it) is skipped.
std::vector<std::vector<int>> readTable(const std::string& text)
{
    std::vector<std::vector<int>> rows;
    size_t i = 0;
    auto number = [&]() {
        while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32)
            ++i;
        std::string token;
        while (i < text.size() && static_cast<unsigned char>(text[i]) > 32 && token.size() < 32)
            token += text[i++];
        size_t used = 0;
        const int value = token.empty() ? 0 : std::stoi(token, &used);
        EXPECT_EQ(used, token.size()) << "not an integer: " << token;
        return value;
    };
    for (int r = 0; r < kRows; ++r) {
        std::vector<int> row;
        for (int c = 0; c < kColumns; ++c)
            row.push_back(number());
        while (i < text.size() && text[i] != '\r')
            ++i;
        if (i < text.size())
            ++i;
        if (i < text.size() && text[i] == '\n')
            ++i;
        rows.push_back(row);
    }
    EXPECT_EQ(i, text.size()) << "text after the last row";
    return rows;
}

TEST(DigpotCfg, LayoutIs68LinesOf16BlankSeparatedIntegersWithCrLf)
{
    const std::string text = readFile(DIGPOT_CFG_PATH);
    ASSERT_FALSE(text.empty()) << DIGPOT_CFG_PATH;
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_FALSE(line.empty()) << "line " << count;
        EXPECT_EQ(line.back(), '\r') << "line " << count << " ends with CR LF";
        std::istringstream fields(line);
        std::vector<std::string> items{std::istream_iterator<std::string>(fields), {}};
        EXPECT_EQ(items.size(), 16u) << "line " << count;
    }
    EXPECT_EQ(count, kRows);
    EXPECT_EQ(text.back(), '\n');
}

TEST(DigpotCfg, EveryRowSetsItsGainWithinHalfADbOnEveryChannel)
{
    const auto rows = readTable(readFile(DIGPOT_CFG_PATH));
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
    for (int r = 0; r < kRows; ++r) {
        const int gainDb = r + 3;
        for (int channel = 1; channel <= 8; ++channel) {
            const int a = rows[r][2 * channel - 2];
            const int b = rows[r][2 * channel - 1];
            ASSERT_NE(a, 99) << gainDb << " dB, channel " << channel << ": every gain is reachable";
            ASSERT_NE(b, 99) << gainDb << " dB, channel " << channel;
            EXPECT_GE(a, 0);
            EXPECT_LE(a, 32);
            EXPECT_GE(b, 0);
            EXPECT_LE(b, 32);
            EXPECT_NEAR(boardsim::gainDbForPots(a, b), gainDb, 0.5) << "channel " << channel;
        }
    }
}

TEST(PotModel, EveryGainFrom3To70DbHasAPairWithinHalfADb)
{
    for (int gainDb = 3; gainDb <= 70; ++gainDb) {
        double best = 1e9;
        for (int a = 0; a <= 32; ++a)
            for (int b = 0; b <= 32; ++b)
                best = std::min(best, std::abs(boardsim::gainDbForPots(a, b) - gainDb));
        EXPECT_LE(best, 0.5) << gainDb;
        const auto pair = boardsim::potsForGainDb(gainDb);
        ASSERT_TRUE(pair.has_value()) << gainDb;
        EXPECT_NEAR(boardsim::gainDbForPots((*pair)[0], (*pair)[1]), gainDb, 0.5);
    }
}

TEST(PotModel, GainRisesWithEachSettingAndSettingsAreLimited)
{
    for (int a = 0; a < 32; ++a)
        for (int b = 0; b < 32; ++b) {
            EXPECT_LT(boardsim::gainDbForPots(a, b), boardsim::gainDbForPots(a + 1, b));
            EXPECT_LT(boardsim::gainDbForPots(a, b), boardsim::gainDbForPots(a, b + 1));
        }
    EXPECT_EQ(boardsim::gainDbForPots(-4, 50), boardsim::gainDbForPots(0, 32));
    EXPECT_FALSE(boardsim::potsForGainDb(200).has_value()) << "beyond the chain: the table's 99";
    EXPECT_FALSE(boardsim::potsForGainDb(-100).has_value());
}

TEST(AttenuatorModel, CodesMatchTheProgramTableBothWays)
{
    const int table[32] = {0,  2,  4,  6,  1,  3,  5,  7,  8,  10, 12, 14, 9,  11, 13, 15,
                           16, 18, 20, 22, 17, 19, 21, 23, 24, 26, 28, 30, 25, 27, 29, 31};
    for (int db = 0; db < 32; ++db) {
        EXPECT_EQ(boardsim::attenuatorCodeForDb(db), table[db]) << db;
        EXPECT_EQ(boardsim::attenuationDbForCode(table[db]), db) << db;
    }
    EXPECT_EQ(boardsim::attenuatorCodeForDb(40), 31);
    EXPECT_EQ(boardsim::attenuatorCodeForDb(-3), 0);
}

}  // namespace
