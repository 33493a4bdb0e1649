// The quick reading of the usual real lines gives exactly what the general reading
// gives: the same bits for every number, the same codes, the same place in the text.

#include "adc_codes.h"
#include "number_scan.h"
#include "reader_items.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace reader_test;

namespace {

uint64_t bitsOf(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Compares scanQuickReal with its stepwise form and with scanRealToken on token; true
// when the quick form took it.
bool quickAgreesWithGeneral(const std::string& token)
{
    std::string padded = token + "\r\n";
    padded.resize(padded.size() + rt::QuickRealReach, '\0');
    const char* after = nullptr;
    const char* afterStepwise = nullptr;
    double quick = 0.0, stepwise = 0.0;
    const bool taken = rt::scanQuickReal(padded.data(), after, quick);
    EXPECT_EQ(taken, rt::scanQuickRealStepwise(padded.data(), afterStepwise, stepwise)) << token;
    if (!taken)
        return false;
    EXPECT_EQ(after, afterStepwise) << token;
    EXPECT_EQ(bitsOf(quick), bitsOf(stepwise)) << token;
    if (after != padded.data() + token.size())
        return false;
    double general = 0.0;
    EXPECT_TRUE(rt::scanRealToken(token.data(), token.size(), general)) << token;
    EXPECT_EQ(bitsOf(quick), bitsOf(general)) << token;
    return true;
}

std::string shortest(double value)
{
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string fixed(double value, int decimals)
{
    char text[400];
    const int n = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return std::string(text, size_t(n));
}

}  // namespace

TEST(QuickReals, LeadingDigitsOfAWordAgreeWithTheBytewiseForm)
{
    // Every count of digits before every byte value, then random words weighted to digits.
    std::mt19937_64 random(3);
    std::vector<std::string> words;
    for (int count = 0; count <= 8; ++count)
        for (int byte = 0; byte < 256; ++byte) {
            std::string word(8, '0');
            for (int i = 0; i < count; ++i)
                word[size_t(i)] = char('0' + random() % 10);
            if (count < 8)
                word[size_t(count)] = char(byte);
            words.push_back(word);
        }
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int n = 0; n < 2'000'000; ++n) {
        std::string word(8, ' ');
        for (char& c : word)
            c = random() % 4 == 0 ? char(anyByte(random)) : char('0' + random() % 10);
        words.push_back(word);
    }
    for (const std::string& word : words) {
        uint64_t plain = 0, wide = 0;
        const int plainCount = rt::leadingDigitsPlain(word.data(), plain);
        const int wideCount = rt::leadingDigits(word.data(), wide);
        ASSERT_EQ(plainCount, wideCount) << word;
        ASSERT_EQ(plain, wide) << word;
    }
}

TEST(QuickReals, EveryCodeOfTheBoardInVoltsAndTheExampleRecording)
{
    // Every 16-bit code (the 12-bit ones are the board's: all of the quick form).
    int taken = 0;
    for (int code = 0; code < 65536; ++code) {
        const std::string token = shortest(codeToVolts(uint16_t(code)));
        const bool quick = quickAgreesWithGeneral(token);
        quickAgreesWithGeneral("+" + token);
        if (code <= CodeHighest)
            taken += quick ? 1 : 0;
    }
    EXPECT_EQ(taken, CodeHighest + 1);

    std::ifstream example(SOUNDER_EXAMPLES_DIR "/example_recording.txt");
    if (!example)
        GTEST_SKIP() << "no example recording";
    int lines = 0, quick = 0;
    for (std::string line; std::getline(example, line); ++lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        quick += quickAgreesWithGeneral(line) ? 1 : 0;
    }
    EXPECT_GT(lines, 50000);
    EXPECT_EQ(quick, lines);
}

TEST(QuickReals, MillionsOfGeneratedNumbersGiveTheGeneralReadersBits)
{
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> power(-30, 30), decimals(0, 21), length(1, 22);
    int quick = 0, tried = 0;
    const auto trial = [&](const std::string& token) {
        ++tried;
        quick += quickAgreesWithGeneral(token) ? 1 : 0;
    };
    for (int n = 0; n < 1'000'000; ++n) {
        // Shortest forms over many magnitudes (exponent forms are the general path's).
        const double value = unit(random) * std::pow(10.0, power(random));
        trial(shortest(value));
        // Fixed decimals, rounding at every place, values near and past 2^53.
        trial(fixed(value, decimals(random)));
        trial(fixed(double(random() >> (random() % 64)), int(random() % 4)));
        // Digit strings of any length with the point anywhere, leading zeros, a sign.
        std::string digits;
        const int count = length(random);
        for (int i = 0; i < count; ++i)
            digits += char('0' + (i < 3 && random() % 3 == 0 ? 0 : random() % 10));
        const size_t point = size_t(random() % (digits.size() + 2));
        if (point <= digits.size())
            digits.insert(point, ".");
        const char* signs[] = {"", "-", "+"};
        trial(signs[random() % 3] + digits);
    }
    // The quick form must carry the bulk of these, or the test proves little.
    EXPECT_GT(quick, 2'000'000);
    EXPECT_EQ(tried, 4'000'000);
}

TEST(QuickReals, FormsBeyondTheQuickOnesAreLeftToTheGeneralReader)
{
    const char* tokens[] = {"", "-", "+", ".", "-.", "1e5", "1.5E-3", "12345678901234567890", "9007199254740993",
                            "0.00000000000000000001", "1.2.3", "--1", "1,5", "$10", "1x", "inf", "nan",
                            "123456789012345678.90", "9007199254740993.0"};
    for (const char* token : tokens)
        EXPECT_FALSE(quickAgreesWithGeneral(token)) << token;
    // At the edges of what it takes: 19 digits, 2^53 itself.
    for (const char* token : {"9007199254740992", "0.000000000000000001", "1234567.890123456", "-0", "-0.0", "5.",
                              ".5"})
        EXPECT_TRUE(quickAgreesWithGeneral(token)) << token;
}

// One step of reading a line: the value, the code check() reports, whether the text ended.
struct LineRead {
    uint64_t bits;
    int code;
    bool atEnd;
    bool operator==(const LineRead&) const = default;
};

// The same text read line by line in three ways: readReal + readLn, readRealLine, and
// readRealLines with readRealLine where it stops. Every line must come out the same.
void expectTheSameLines(const std::string& text, int lines, const std::string& path = {})
{
    TextReader general, single, many;
    for (TextReader* reader : {&general, &single, &many}) {
        if (path.empty())
            reader->openMemory(text);
        else
            reader->open(path);
    }
    std::vector<double> batch;
    size_t batchAt = 0;
    for (int line = 0; line < lines; ++line) {
        LineRead expected{bitsOf(general.readReal()), 0, false};
        general.readLn();
        expected.code = checkCode(general);
        expected.atEnd = general.atEnd();

        LineRead one{bitsOf(single.readRealLine()), checkCode(single), single.atEnd()};
        ASSERT_EQ(one, expected) << "line " << line;

        if (batchAt == batch.size()) {
            batch.assign(1 + size_t(line % 37), 0.0);
            batch.resize(many.readRealLines(batch.data(), batch.size()));
            batchAt = 0;
        }
        LineRead fromMany{0, 0, false};
        if (batchAt < batch.size()) {
            fromMany.bits = bitsOf(batch[batchAt++]);
            ASSERT_EQ(many.pending(), 0);
        } else {
            fromMany.bits = bitsOf(many.readRealLine());
        }
        fromMany.code = checkCode(many);
        fromMany.atEnd = many.atEnd();
        ASSERT_EQ(fromMany, expected) << "line " << line;
    }
}

// Random lines: mostly usual numbers, among them bad items, blank lines, items with
// text after them, LF alone, CR alone, tabs before the number, overlong runs, Ctrl-Z.
std::string randomLines(std::mt19937_64& random, int lines, bool withCtrlZ)
{
    std::string text;
    std::uniform_int_distribution<int> code(0, 4095);
    for (int i = 0; i < lines; ++i) {
        const std::string number = shortest(codeToVolts(uint16_t(code(random))));
        switch (random() % 24) {
        case 0: text += "1.5e3\r\n"; break;
        case 1: text += "abc\r\n"; break;
        case 2: text += "\r\n"; break;
        case 3: text += number + " 7 x\r\n"; break;
        case 4: text += number + "\n"; break;
        case 5: text += number + "\r"; break;
        case 6: text += "\t " + number + "\r\n"; break;
        case 7: text += std::string(70, '1') + "\r\n"; break;
        case 8: text += number + "x\r\n"; break;
        case 9: text += withCtrlZ && random() % 50 == 0 ? "\x1a" : "-\r\n"; break;
        case 10: text += number + "\r\r\n"; break;
        default: text += number + "\r\n"; break;
        }
    }
    return text;
}

TEST(QuickReals, LinesReadTheSameWayEveryWayInMemory)
{
    std::mt19937_64 random(23);
    for (int round = 0; round < 40; ++round) {
        const std::string text = randomLines(random, 3000, round % 4 == 3);
        expectTheSameLines(text, 3100);
    }
    // Only usual lines: the quick path takes nearly all of them.
    std::string usual;
    for (int i = 0; i < 5000; ++i)
        usual += shortest(codeToVolts(uint16_t(i % 4096))) + "\r\n";
    expectTheSameLines(usual, 5010);
    TextReader reader;
    reader.openMemory(usual);
    std::vector<double> values(5000);
    EXPECT_GE(reader.readRealLines(values.data(), values.size()), 4990u);
}

TEST(QuickReals, LinesReadTheSameWayAcrossTheFileBuffer)
{
    // Lines in a file of several buffer loads, so that every kind of line meets a
    // buffer end somewhere; a pending code stops the many-lines read.
    std::mt19937_64 random(29);
    TempDir dir;
    const std::string path = dir.file("lines.txt");
    for (int round = 0; round < 3; ++round) {
        const std::string text = randomLines(random, 250'000, round == 2);
        std::ofstream(path, std::ios::binary) << text;
        expectTheSameLines(text, 250'100, path);
    }
    TextReader reader;
    reader.openMemory("x\r\n" + std::string(200, '1') + "\r\n");
    reader.readReal();
    ASSERT_EQ(reader.pending(), 106);
    double value = 0;
    EXPECT_EQ(reader.readRealLines(&value, 1), 0u);
    TextReader closed;
    EXPECT_EQ(closed.readRealLines(&value, 1), 0u);
}
