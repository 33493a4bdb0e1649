// The reader's fast line scan and the reader as a whole against a plain reference
// parser written from the layout's rules, on random and mutated lines: the scan may
// leave a line to the exact parser, but whatever it takes must be right.

#include "acquisition_line_scan.h"
#include "acquisition_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Codes = std::array<uint16_t, 3>;

// "a,b,c" then CR LF: codes of 1..5 digits, no leading zero but "0" itself, at most 65535.
std::optional<Codes> referenceLine(const std::string& line)
{
    if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n")
        return std::nullopt;
    Codes codes{};
    size_t at = 0;
    const size_t body = line.size() - 2;
    for (int k = 0; k < 3; ++k) {
        const size_t stop = k < 2 ? line.find(',', at) : body;
        if (stop == std::string::npos || stop > body)
            return std::nullopt;
        const std::string digits = line.substr(at, stop - at);
        if (digits.empty() || digits.size() > 5 || (digits.size() > 1 && digits[0] == '0'))
            return std::nullopt;
        for (char c : digits)
            if (c < '0' || c > '9')
                return std::nullopt;
        const unsigned value = unsigned(std::stoul(digits));
        if (value > 65535)
            return std::nullopt;
        codes[size_t(k)] = uint16_t(value);
        at = stop + 1;
    }
    return codes;
}

// Whether a piece without its LF is the start of some right line: one of the ends a
// line could be cut before makes it whole.
bool beginsLine(const std::string& piece)
{
    for (const char* rest : {"\n", "\r\n", ",0\r\n", ",0,0\r\n", "0\r\n", "0,0\r\n"})
        if (referenceLine(piece + rest))
            return true;
    return false;
}

// A line that is mostly right: valid codes of any width, then now and then one byte
// changed, dropped or added from the characters that matter.
std::string randomLine(std::mt19937& random)
{
    auto code = [&] {
        switch (random() % 8) {
        case 0:
        case 1: return std::to_string(random() % 10);
        case 6: return std::to_string(random() % 65536);
        case 7: return std::to_string(random() % 100000);  // sometimes above 65535
        default: return std::to_string(random() % 4096);
        }
    };
    std::string line = code() + "," + code() + "," + code() + "\r\n";
    static const char Alphabet[] = "0123456789,\r\n\x1a -+.\x00";
    const int changes = random() % 3 == 0 ? int(random() % 3) + 1 : 0;
    for (int i = 0; i < changes; ++i) {
        const size_t at = random() % (line.size() + 1);
        const char c = Alphabet[random() % (sizeof Alphabet - 1)];
        switch (random() % 3) {
        case 0:
            if (at < line.size())
                line[at] = c;
            break;
        case 1:
            if (at < line.size())
                line.erase(at, 1);
            break;
        default: line.insert(at, 1, c);
        }
    }
    return line;
}

TEST(AcquisitionLineScan, TakesOnlyRightLinesAndEveryShortOne)
{
    if (!acq::sampleLineScanAvailable())
        GTEST_SKIP() << "the line scan needs SSSE3";
    std::mt19937 random(20261208);
    int taken = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        const std::string line = randomLine(random);
        // The line, then either another line or the end of the data (zero bytes).
        std::string buffer = line + (trial % 2 ? "7,8,9\r\n" : "");
        const size_t data = buffer.size();
        buffer.resize(data + 64, '\0');
        const char* pos = buffer.data();
        uint16_t codes[6] = {1, 1, 1, 1, 1, 1};
        const size_t n = acq::scanSampleLines(pos, codes, 1);
        // The first line is what the first LF ends (a mutation may have moved it).
        const size_t lf = buffer.find('\n');
        const std::string first = buffer.substr(0, lf < data ? lf + 1 : data);
        const std::optional<Codes> expected = referenceLine(first);
        if (n == 1) {
            ++taken;
            ASSERT_TRUE(expected) << testing::PrintToString(first);
            EXPECT_EQ((Codes{codes[0], codes[1], codes[2]}), *expected) << testing::PrintToString(first);
            EXPECT_EQ(pos, buffer.data() + first.size());
            EXPECT_EQ(codes[3], 1) << "wrote past its line";
        } else {
            ASSERT_EQ(n, 0u);
            EXPECT_EQ(pos, buffer.data());
            // Lines of codes up to four digits are what the board gives: the scan takes them all.
            const bool short_codes = expected && (*expected)[0] < 10000 && (*expected)[1] < 10000 &&
                                     (*expected)[2] < 10000;
            EXPECT_FALSE(short_codes) << testing::PrintToString(first);
        }
    }
    EXPECT_GT(taken, 40000);
}

TEST(AcquisitionLineScan, StopsAtTheEndOfTheData)
{
    if (!acq::sampleLineScanAvailable())
        GTEST_SKIP() << "the line scan needs SSSE3";
    std::string buffer = "4095,4095,4095\r\n0,0,0\r\n4095,4095,409";  // the last line cut short
    const size_t data = buffer.size();
    buffer.resize(data + 64, '\0');
    const char* pos = buffer.data();
    std::vector<uint16_t> codes(3 * 8);
    EXPECT_EQ(acq::scanSampleLines(pos, codes.data(), 8), 2u);
    EXPECT_EQ(pos, buffer.data() + 23);
    EXPECT_EQ(codes[0], 4095);
    EXPECT_EQ(codes[5], 0);
}

// Runs of lines in one buffer, so that lines start anywhere in the scan's 64-byte
// windows and cross their ends: the scan takes exactly the lines before the first it
// may leave (a wrong line or one with a five-digit code), or maxLines of them.
TEST(AcquisitionLineScan, TakesEveryLineOfARunUpToTheFirstItLeaves)
{
    if (!acq::sampleLineScanAvailable())
        GTEST_SKIP() << "the line scan needs SSSE3";
    std::mt19937 random(64);
    for (int trial = 0; trial < 20000; ++trial) {
        std::string buffer;
        const int count = int(random() % 40) + 1;
        for (int i = 0; i < count; ++i) {
            std::string line = randomLine(random);
            if (random() % 8 != 0)
                while (!referenceLine(line))
                    line = randomLine(random);
            buffer += line;
        }
        // The lines are the pieces that each LF ends (a mutation may have moved one).
        std::vector<size_t> starts;
        std::vector<std::optional<Codes>> lines;
        for (size_t at = 0; at < buffer.size();) {
            const size_t lf = buffer.find('\n', at);
            const size_t next = lf == std::string::npos ? buffer.size() : lf + 1;
            starts.push_back(at);
            lines.push_back(lf == std::string::npos ? std::nullopt : referenceLine(buffer.substr(at, next - at)));
            at = next;
        }
        starts.push_back(buffer.size());
        const size_t data = buffer.size();
        buffer.resize(data + 64, '\0');
        const size_t maxLines = size_t(random() % 48) + 1;
        size_t expected = 0;
        while (expected < std::min(maxLines, lines.size()) && lines[expected] && (*lines[expected])[0] < 10000 &&
               (*lines[expected])[1] < 10000 && (*lines[expected])[2] < 10000)
            ++expected;
        std::vector<uint16_t> codes(3 * maxLines + 3, 7);
        const char* pos = buffer.data();
        ASSERT_EQ(acq::scanSampleLines(pos, codes.data(), maxLines), expected) << trial << testing::PrintToString(buffer.substr(0, data));
        EXPECT_EQ(pos, buffer.data() + starts[expected]) << trial;
        for (size_t i = 0; i < expected; ++i)
            ASSERT_EQ((Codes{codes[3 * i], codes[3 * i + 1], codes[3 * i + 2]}), *lines[i]) << trial << " line " << i;
        EXPECT_EQ(codes[3 * expected], 7) << "wrote past the lines taken";
    }
}

// Whole recordings whose lines are random and mutated: the reader (scan and exact
// parser together, over batches of any size) gives the reference's codes, or a fault
// on the reference's first bad line.
TEST(AcquisitionLineScan, ReaderAgreesWithTheReferenceLineByLine)
{
    std::mt19937 random(8);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::string header = "1,2500\r\n0\r\n0,0,0\r\n0.0\r\n";
        std::string body;
        const int lines = int(random() % 60) + 1;
        for (int i = 0; i < lines; ++i) {
            // Mostly right lines, so that faults come late as well as early.
            std::string line = randomLine(random);
            if (random() % 4 != 0)
                while (!referenceLine(line))
                    line = randomLine(random);
            body += line;
        }
        // The reference's lines are the pieces that each LF ends; a last piece without one
        // is left out where a line of codes could begin so (a file that ends inside a
        // line), and is bad otherwise.
        std::vector<uint16_t> expected;
        int64_t firstBad = 0;
        for (size_t at = 0, number = 5; at < body.size() && firstBad == 0; ++number) {
            const size_t lf = body.find('\n', at);
            const std::string piece = body.substr(at, lf == std::string::npos ? std::string::npos : lf + 1 - at);
            if (const std::optional<Codes> codes = referenceLine(piece))
                expected.insert(expected.end(), codes->begin(), codes->end());
            else if (lf != std::string::npos || !beginsLine(piece))
                firstBad = int64_t(number);
            at += piece.size();
        }
        const std::string text = header + body;
        if (text.find('\x1a') != std::string::npos)
            continue;  // the end-of-text mark has its own rule, tested with the reader
        const size_t batch = size_t(random() % 16) + 1;
        std::vector<uint16_t> got;
        int64_t faultLine = 0;
        try {
            acq::AcquisitionReader reader;
            reader.openMemory(text);
            std::vector<uint16_t> codes(3 * batch);
            for (size_t n; (n = reader.readLines(codes.data(), batch)) > 0;)
                got.insert(got.end(), codes.begin(), codes.begin() + 3 * n);
        } catch (const acq::FormatError& e) {
            faultLine = e.line();
        }
        ASSERT_EQ(faultLine, firstBad) << testing::PrintToString(text);
        if (firstBad == 0) {
            ASSERT_EQ(got, expected) << testing::PrintToString(text);
        }
    }
}

}  // namespace
