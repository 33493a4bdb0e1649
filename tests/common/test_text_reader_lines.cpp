// Reading rules of recordings: the end of the text, line ends and the reader's
// state, on texts held in memory.

#include "reader_items.h"

#include <gtest/gtest.h>

#include <vector>

using namespace reader_test;

TEST(ReaderEnd, ItemsAtTheEndReadZeroWithoutError)
{
    TextReader reader;
    reader.openMemory("3\r\n");
    EXPECT_EQ(reader.readInt(), 3);
    reader.readLn();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reader.readInt(), 0);
        EXPECT_EQ(reader.readReal(), 0.0);
        reader.readLn();
        EXPECT_EQ(checkCode(reader), 0);
    }
}

TEST(ReaderEnd, AtEndTurnsTrueWhenAReadMeetsTheEnd)
{
    TextReader reader;
    EXPECT_FALSE(reader.atEnd());
    reader.openMemory("5\r\n6\r\n");
    EXPECT_EQ(reader.readInt(), 5);
    reader.readLn();
    EXPECT_FALSE(reader.atEnd());
    EXPECT_EQ(reader.readInt(), 6);
    reader.readLn();
    EXPECT_EQ(reader.readInt(), 0);
    EXPECT_TRUE(reader.atEnd());
    reader.close();
    EXPECT_FALSE(reader.atEnd());

    // Ctrl-Z ends the text as soon as it is met, even with bytes after it.
    reader.openMemory("7 \x1a 8\r\n");
    EXPECT_EQ(reader.readInt(), 7);
    reader.readLn();
    EXPECT_TRUE(reader.atEnd());
}

TEST(ReaderEnd, EmptyAndBlankTextsReadZero)
{
    for (const char* text : {"", "   ", "\r\n\r\n", "\n"}) {
        EXPECT_EQ(readIntItem(text).value, 0);
        EXPECT_EQ(readIntItem(text).code, 0);
    }
}

TEST(ReaderEnd, CtrlZEndsTheTextWhereverItIs)
{
    // Before an item, inside a token, and inside the rest of a line.
    EXPECT_EQ(readIntItem("\x1a" "5\r\n").value, 0);
    EXPECT_EQ(readIntItem("\x1a" "5\r\n").code, 0);

    TextReader inToken;
    inToken.openMemory("12\x1a" "34\r\n56\r\n");
    EXPECT_EQ(inToken.readInt(), 12);
    inToken.readLn();
    EXPECT_EQ(inToken.readInt(), 0);
    EXPECT_EQ(checkCode(inToken), 0);

    TextReader inLine;
    inLine.openMemory("5 abc\x1a\r\n7\r\n");
    EXPECT_EQ(inLine.readInt(), 5);
    inLine.readLn();
    EXPECT_EQ(inLine.readInt(), 0);
    EXPECT_EQ(checkCode(inLine), 0);

    TextReader afterCr;
    afterCr.openMemory("5\r\x1a\n7\r\n");
    EXPECT_EQ(afterCr.readInt(), 5);
    afterCr.readLn();
    EXPECT_EQ(afterCr.readInt(), 0);
}

TEST(ReaderLines, LfAloneIsNoLineEnd)
{
    TextReader reader;
    reader.openMemory("1\n2\n3\n");
    EXPECT_EQ(reader.readInt(), 1);
    reader.readLn();
    EXPECT_EQ(reader.readInt(), 0);
    EXPECT_EQ(reader.readInt(), 0);
    EXPECT_EQ(checkCode(reader), 0);
}

TEST(ReaderLines, CrAloneEndsALine)
{
    TextReader reader;
    reader.openMemory("1 x\r2 y\r3 z\r");
    for (int expected = 1; expected <= 3; ++expected) {
        EXPECT_EQ(reader.readInt(), expected);
        reader.readLn();
    }
    EXPECT_EQ(checkCode(reader), 0);
}

TEST(ReaderLines, OnlyOneLfAfterTheCrBelongsToTheLine)
{
    TextReader reader;
    reader.openMemory("1\r\n\n2 tail\r\r\n3");
    EXPECT_EQ(reader.readInt(), 1);
    reader.readLn();
    EXPECT_EQ(reader.readInt(), 2);  // the lone LF is skipped as a blank
    reader.readLn();                 // up to the first CR only
    reader.readLn();                 // the second CR and its LF
    EXPECT_EQ(reader.readInt(), 3);
}

TEST(ReaderLines, AnyLineEndMayBeCrLfCrOrLfAlone)
{
    struct Case {
        const char* text;
        std::vector<int32_t> firsts;  // the first item of each line, read with the skip
    };
    const Case cases[] = {
        {"1 a\r\n2 b\r\n3 c\r\n", {1, 2, 3}},
        {"1 a\n2 b\n3 c\n", {1, 2, 3}},
        {"1 a\r2 b\r3 c", {1, 2, 3}},
        {"1 a\n2 b\r\n3 c\r4", {1, 2, 3, 4}},
        {"1 a\r\n\n2 b\n", {1, 2}},           // one LF after the CR; the next is a blank
        {"1 a\x1a\n2 b\n", {1, 0}},            // Ctrl-Z inside the rest of a line ends the text
        {"1\n", {1, 0, 0}},                      // after the end every item reads 0
        {"1 a", {1, 0}},
    };
    for (const Case& c : cases) {
        TextReader reader;
        reader.openMemory(c.text);
        std::vector<int32_t> got;
        for (size_t i = 0; i < c.firsts.size(); ++i) {
            got.push_back(reader.readInt());
            reader.readLnAnyLineEnd();
        }
        EXPECT_EQ(got, c.firsts) << c.text;
        EXPECT_EQ(checkCode(reader), 0) << c.text;
    }
    TextReader closed;
    closed.readLnAnyLineEnd();
    EXPECT_EQ(checkCode(closed), rt::io::NotOpenForInput);
}

TEST(ReaderLines, ItemsWithoutReadLnFollowEachOtherOnALine)
{
    TextReader reader;
    reader.openMemory("1 2.5\t-3\r\n");
    EXPECT_EQ(reader.readInt(), 1);
    EXPECT_EQ(reader.readReal(), 2.5);
    EXPECT_EQ(reader.readInt(), -3);
}

TEST(ReaderState, ReadingWhatIsNotOpenRecords104)
{
    TextReader reader;
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.readInt(), 0);
    EXPECT_EQ(reader.readReal(), 0.0);
    reader.readLn();
    try {
        reader.check();
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 104);
        EXPECT_STREQ(e.what(), "I/O error 104");
    }

    reader.openMemory("5\r\n");
    reader.close();
    reader.readReal();
    EXPECT_EQ(checkCode(reader), 104);
}

TEST(ReaderState, ClosingWhatIsNotOpenThrows103)
{
    TextReader reader;
    try {
        reader.close();
        FAIL() << "no error";
    } catch (const InOutError& e) {
        EXPECT_EQ(e.code(), 103);
    }
}

TEST(ReaderState, TheFirstPendingCodeIsKept)
{
    TextReader reader;
    reader.openMemory("abc\r\n");
    reader.readInt();
    reader.close();
    reader.readInt();  // 104, but 106 came first
    EXPECT_EQ(checkCode(reader), 106);
    EXPECT_EQ(checkCode(reader), 0);
}

TEST(ReaderState, ReopeningStartsAfresh)
{
    TextReader reader;
    reader.openMemory("x\r\n");
    reader.readInt();
    reader.openMemory("8\r\n");
    EXPECT_EQ(reader.pending(), 0);
    EXPECT_EQ(reader.readInt(), 8);
}

TEST(ReaderState, MemoryTextIsCopied)
{
    TextReader reader;
    {
        std::string text = "123\r\n";
        reader.openMemory(text);
        text.assign("999\r\n");
    }
    EXPECT_EQ(reader.readInt(), 123);
}
