// Reading rules of recordings: items and their forms, on texts held in memory.

#include "reader_items.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

using namespace reader_test;

TEST(ReaderItems, OnlyTheFirstTokenOfAHeaderLineCounts)
{
    TextReader reader;
    reader.openMemory("5   trailing text, more\r\n-12\tx\r\n3.25 9\r\n");
    EXPECT_EQ(reader.readInt(), 5);
    reader.readLn();
    EXPECT_EQ(checkCode(reader), 0);
    EXPECT_EQ(reader.readInt(), -12);
    reader.readLn();
    EXPECT_EQ(reader.readReal(), 3.25);
    reader.readLn();
    EXPECT_EQ(checkCode(reader), 0);
}

TEST(ReaderItems, BlankLinesAndControlBytesBeforeAnItemAreSkipped)
{
    TextReader reader;
    reader.openMemory("\r\n\r\n  \t\r\n\x01\x1f 42\r\n");
    EXPECT_EQ(reader.readInt(), 42);
    reader.readLn();
    EXPECT_EQ(checkCode(reader), 0);
}

// Whether one more item stands in the text is known before it is read: the end of the
// text is otherwise noticed only by the read that meets it, which reads 0.
TEST(ReaderItems, ItemAheadTellsWhetherTheTextHoldsAnotherItem)
{
    struct Case {
        const char* text;
        bool ahead;  // after the first line has been read
    };
    const Case cases[] = {
        {"0.5\r\n", false},       {"0.5\r\n\r\n  \t\r\n", false}, {"0.5\r\n\x1a" "0.7\r\n", false},
        {"0.5\r\n0.7", true},     {"0.5\r\n\r\n 0\r\n", true},     {"0.5\r\njunk\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TextReader reader;
        reader.openMemory(c.text);
        EXPECT_TRUE(reader.itemAhead());
        EXPECT_EQ(reader.readReal(), 0.5);
        reader.readLn();
        EXPECT_FALSE(reader.atEnd());
        EXPECT_EQ(reader.itemAhead(), c.ahead);
        EXPECT_EQ(reader.atEnd(), !c.ahead);
        EXPECT_EQ(checkCode(reader), 0);
    }
}

TEST(ReaderItems, CommaJoinedNumbersFailAfterTheLineIsSkipped)
{
    TextReader reader;
    reader.openMemory("1,2500\r\n7\r\n");
    EXPECT_EQ(reader.readInt(), 0);
    EXPECT_EQ(reader.pending(), 106);
    reader.readLn();
    try {
        reader.check();
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 106);
        EXPECT_STREQ(e.what(), "Invalid numeric input");
    }
    // The failure was reported once; the line after it reads normally.
    EXPECT_EQ(reader.pending(), 0);
    EXPECT_EQ(reader.readInt(), 7);
}

TEST(ReaderItems, AcquisitionLayoutFailsAtItsFirstLine)
{
    const IntItem item = readIntItem("1,2500\r\n-3\r\n10,20,30\r\n0.0\r\n2048,2049,2050\r\n");
    EXPECT_EQ(item.code, 106);
    EXPECT_EQ(readIntItem("0.0\r\n").code, 106);
}

TEST(ReaderItems, IntegerFormsAndTheirRange)
{
    const std::pair<const char*, int32_t> valid[] = {
        {"0", 0}, {"+17", 17}, {"-17", -17}, {"007", 7},
        {"2147483647", 2147483647}, {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"$1F", 31}, {"x1f", 31}, {"X1F", 31}, {"0x1F", 31}, {"0X1f", 31}, {"-$10", -16}, {"+0x10", 16},
        {"$7FFFFFFF", 2147483647}, {"-$80000000", std::numeric_limits<int32_t>::min()}, {"0x0", 0}};
    for (const auto& [text, value] : valid) {
        const IntItem item = readIntItem(text);
        EXPECT_EQ(item.code, 0) << text;
        EXPECT_EQ(item.value, value) << text;
    }
}

TEST(ReaderItems, MalformedOrOutOfRangeIntegersFail)
{
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999", "$80000000", "$FFFFFFFF",
                             "0x100000000", "$", "x", "0x", "-", "+", "--1", "+-1", "1.0", "1e3", "12a", "$G",
                             "0x-1", "1,2", "0b101", "0$1"}) {
        const IntItem item = readIntItem(text);
        EXPECT_EQ(item.code, 106) << text;
        EXPECT_EQ(item.value, 0) << text;
    }
}

TEST(ReaderItems, RealFormsIncludingExponents)
{
    for (const char* text : {"1.5E-3", "1.5e-3", "-2e2", "+2E+2", "0.125", "-0.000001", "12", "1.", ".5", "-.5",
                             "0.0", "-0.365636", "123456789012.345", "1e22", "1e-22", "1e23", "4.9e-324",
                             "1.7976931348623157e308", "0.1000000000000000055511151231257827",
                             "123456789012345678901234567890"}) {
        const RealItem item = readRealItem(text);
        EXPECT_EQ(item.code, 0) << text;
        EXPECT_EQ(item.value, correctlyRounded(text)) << text;
    }
}

TEST(ReaderItems, NegativeZeroKeepsItsSign)
{
    const RealItem item = readRealItem("-0.0");
    EXPECT_EQ(item.value, 0.0);
    EXPECT_TRUE(std::signbit(item.value));
}

TEST(ReaderItems, MalformedRealsFail)
{
    for (const char* text : {".", "-", "e5", "E5", "1e", "1e+", "1.5.2", "--1", "1,5", "inf", "-inf", "nan",
                             "NaN", "infinity", "0x1p3", "$10", "1.5f", "1e5.0", ".e1", "1e--5"}) {
        const RealItem item = readRealItem(text);
        EXPECT_EQ(item.code, 106) << text;
        EXPECT_EQ(item.value, 0.0) << text;
    }
}

TEST(ReaderItems, RealsBeyondTheDoubleRangeFailAndTinyOnesReadAsZero)
{
    EXPECT_EQ(readRealItem("1e309").code, 106);
    EXPECT_EQ(readRealItem("-1e400").code, 106);
    const RealItem tiny = readRealItem("1e-400");
    EXPECT_EQ(tiny.code, 0);
    EXPECT_EQ(tiny.value, 0.0);
    const RealItem negativeTiny = readRealItem("-0.0000001e-330");
    EXPECT_EQ(negativeTiny.code, 0);
    EXPECT_TRUE(std::signbit(negativeTiny.value));
}

TEST(ReaderItems, RandomRealsAreCorrectlyRounded)
{
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> volts(-5.0, 5.0);
    std::uniform_int_distribution<int> digits(1, 17);
    char text[64];
    for (int i = 0; i < 20000; ++i) {
        const double v = volts(random) * std::pow(10.0, digits(random) - 9);
        const int length = std::snprintf(text, sizeof text, i % 2 ? "%.*f" : "%.*e", digits(random), v);
        const RealItem item = readRealItem(std::string(text, size_t(length)));
        ASSERT_EQ(item.code, 0) << text;
        ASSERT_EQ(item.value, correctlyRounded(text)) << text;
    }
}

TEST(ReaderTokens, TokensUpToTheLimitConvert)
{
    EXPECT_EQ(readIntItem(std::string(31, '0') + "9").value, 9);  // 32 bytes
    const RealItem real = readRealItem("0." + std::string(61, '0') + "1");  // 64 bytes
    EXPECT_EQ(real.code, 0);
    EXPECT_EQ(real.value, 1e-62);
}

TEST(ReaderTokens, LongerRunsFailWholeInsteadOfSplitting)
{
    EXPECT_EQ(readIntItem(std::string(32, '0') + "9").code, 106);  // 33 bytes
    EXPECT_EQ(readRealItem("1." + std::string(62, '0') + "e5").code, 106);

    // The whole over-long run is consumed: the next item on the line is the next token.
    TextReader reader;
    reader.openMemory("1." + std::string(100, '0') + "e5 7\r\n");
    EXPECT_EQ(reader.readReal(), 0.0);
    EXPECT_EQ(reader.readInt(), 7);
    EXPECT_EQ(reader.pending(), 106);
}
