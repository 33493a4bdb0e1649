// The waterfall's rows read from recordings of every kind: whole, cut short within a
// block and between blocks, bad items midway and in the header, blocks without power,
// and a cancel partway.

#include "block_read.h"
#include "delay_profile.h"
#include "runtime_error.h"
#include "waterfall_reader.h"
#include "without_threads.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

std::string number(double v)
{
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

double sample(int s, int i) { return std::sin(0.37 * i + 0.9 * s) * (1.0 + 0.1 * s) + 0.01 * ((i * 31 + s) % 7); }

// nsweeps in the header; `present` sweeps of nsamples written; the item at overall
// position `badItem` (0-based, -1 none) written as a word; the sweeps of block
// `zeroBlock` (-1 none) all zeros.
std::string recording(int nsweeps, int nsamples, int present, int badItem = -1, int zeroBlock = -1)
{
    std::string text = std::to_string(nsweeps) + "\r\n" + std::to_string(nsamples) + "\r\n4\r\n37\r\n0.0\r\n";
    int item = 0;
    for (int s = 0; s < present; ++s)
        for (int i = 0; i < nsamples; ++i, ++item)
            text += (item == badItem ? std::string("volts") : number(s / 5 == zeroBlock ? 0.0 : sample(s, i))) + "\r\n";
    return text;
}

// The profile of the block at firstSweep computed straight from the samples.
std::vector<double> expectedRow(int firstSweep, int nsamples, int present)
{
    std::vector<double> tseries(MaxViewerSamples + 1, 0.0), power(ProfileBins + 1, 0.0);
    FourierArea area;
    for (int s = firstSweep; s < firstSweep + 5; ++s) {
        for (int i = 1; i <= nsamples; ++i)
            tseries[size_t(i)] = s < present ? sample(s, i - 1) : 0.0;
        foldSweepPower(tseries.data(), nsamples, area, power.data());
    }
    powerToDb(power.data(), 5.0);
    return std::vector<double>(power.begin() + 1, power.begin() + 1 + WaterfallBins);
}

struct Case {
    const char* name;
    std::string text;
    WaterfallEnd end;
    int64_t rows;
    int64_t expectedRows;
    const char* message;
};

}  // namespace

TEST(WaterfallReader, RowCountIsTheBlocksGoToSweepReaches)
{
    const struct { int32_t nsweeps; int64_t rows; } cases[] = {
        {0, 1}, {3, 1}, {5, 1}, {9, 1}, {10, 2}, {14, 2}, {15, 3}, {1430, 286}, {-7, 1}, {2147483647, 429496729},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waterfallRowCount(c.nsweeps, 5), c.rows) << c.nsweeps;
}

TEST(WaterfallReader, EndsAsTheRecordingDoes)
{
    const Case cases[] = {
        {"whole", recording(23, 40, 23), WaterfallEnd::Complete, 4, 4, ""},
        {"fewer than a block", recording(3, 40, 3), WaterfallEnd::Complete, 1, 1, ""},
        {"cut within the third block", recording(30, 40, 12), WaterfallEnd::CutShort, 3, 6, ""},
        {"cut between blocks", recording(30, 40, 10), WaterfallEnd::CutShort, 2, 6, ""},
        {"bad item in sweep 12", recording(30, 40, 30, 12 * 40 + 7), WaterfallEnd::Failed, 2, 6,
         "Invalid numeric input"},
        {"bad header", "20\r\nforty\r\n", WaterfallEnd::Failed, 0, 0, "Invalid numeric input"},
        {"a block without power", recording(20, 3, 20, -1, 2), WaterfallEnd::Failed, 2, 4,
         "Floating point division by zero"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.filePath("r.txt").toStdString();
        std::ofstream(path, std::ios::binary) << c.text;
        std::atomic<bool> cancel{false};
        std::vector<std::vector<double>> rows;
        WaterfallCallbacks callbacks;
        callbacks.row = [&](int64_t row, const double* db) {
            EXPECT_EQ(row, int64_t(rows.size()));
            rows.emplace_back(db, db + WaterfallBins);
        };
        const WaterfallOutcome outcome = readWaterfall(path, 5, 5.0, cancel, callbacks);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.rows, c.rows);
        EXPECT_EQ(int64_t(rows.size()), c.rows);
        EXPECT_EQ(outcome.expectedRows, c.expectedRows);
        EXPECT_EQ(outcome.message, c.message);
    }
}

TEST(WaterfallReader, RowsAreTheBlockProfilesBitForBitAlsoWhereTheTextEnds)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.txt").toStdString();
    std::ofstream(path, std::ios::binary) << recording(30, 57, 13);
    std::atomic<bool> cancel{false};
    std::vector<std::vector<double>> rows;
    WaterfallCallbacks callbacks;
    callbacks.row = [&](int64_t, const double* db) { rows.emplace_back(db, db + WaterfallBins); };
    readWaterfall(path, 5, 5.0, cancel, callbacks);
    ASSERT_EQ(rows.size(), 3u);  // the third block holds sweeps 10..12 and two of zeros
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(std::memcmp(rows[size_t(r)].data(), expectedRow(5 * r, 57, 13).data(), WaterfallBins * sizeof(double)), 0)
            << "row " << r;
}

TEST(WaterfallReader, CancelStopsBeforeTheNextBlockKeepingTheRowsRead)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.txt").toStdString();
    std::ofstream(path, std::ios::binary) << recording(50, 20, 50);
    for (const int stopAfter : {1, 2, 7}) {
        std::atomic<bool> cancel{false};
        int64_t given = 0;
        WaterfallCallbacks callbacks;
        callbacks.row = [&](int64_t, const double*) {
            if (++given == stopAfter)
                cancel = true;
        };
        const WaterfallOutcome outcome = readWaterfall(path, 5, 5.0, cancel, callbacks);
        EXPECT_EQ(outcome.end, WaterfallEnd::Cancelled);
        EXPECT_EQ(outcome.rows, stopAfter);
        EXPECT_EQ(given, stopAfter);
    }
}

// The rows do not depend on how the items are laid out on their lines: blank lines,
// lines ended by CR alone, a second item on a line (dropped with the rest of it), blanks
// before an item, a Ctrl-Z after the last line. Every layout reads as the plain one.
TEST(WaterfallReader, EveryLayoutOfTheItemsGivesTheSameRows)
{
    const int nsamples = 23, sweeps = 42;  // 8 rows
    const auto layout = [&](const std::string& lineEnd, int variant) {
        std::string text;
        for (const std::string& item : {std::to_string(sweeps), std::to_string(nsamples), std::string("4"),
                                        std::string("37"), std::string("0.0")})
            text += item + lineEnd;
        for (int s = 0; s < sweeps; ++s)
            for (int i = 0; i < nsamples; ++i) {
                const bool here = (s * nsamples + i) % 97 == 50;
                if (variant == 1 && here)
                    text += lineEnd;  // an empty line before the item
                if (variant == 3 && here)
                    text += "   \t";
                text += number(sample(s, i));
                if (variant == 2 && here)
                    text += " 99.5";
                text += lineEnd;
            }
        if (variant == 4)
            text += "\x1a" "1.0\r\n";
        return text;
    };
    const struct { const char* name; std::string text; } cases[] = {
        {"plain", layout("\r\n", 0)},         {"blank lines", layout("\r\n", 1)},
        {"CR alone", layout("\r", 0)},        {"two items on a line", layout("\r\n", 2)},
        {"blanks before an item", layout("\r\n", 3)}, {"Ctrl-Z after the last line", layout("\r\n", 4)},
    };
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.txt").toStdString();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        std::atomic<bool> cancel{false};
        std::vector<std::vector<double>> rows;
        WaterfallCallbacks callbacks;
        callbacks.row = [&](int64_t row, const double* db) {
            EXPECT_EQ(row, int64_t(rows.size()));
            rows.emplace_back(db, db + WaterfallBins);
        };
        const WaterfallOutcome outcome = readWaterfall(path, 5, 5.0, cancel, callbacks);
        EXPECT_EQ(outcome.end, WaterfallEnd::Complete);
        ASSERT_EQ(rows.size(), 8u);
        for (int r = 0; r < 8; ++r)
            EXPECT_EQ(std::memcmp(rows[size_t(r)].data(), expectedRow(5 * r, nsamples, sweeps).data(),
                                  WaterfallBins * sizeof(double)), 0)
                << "row " << r;
    }
}

namespace {

// A sweep read item after item as the main window has always read it: the real, the
// rest of its line, the check; the end of the text stops it.
int64_t sweepItemByItem(rt::TextReader& file, int32_t nsamples, double* tseries)
{
    const int32_t stored = std::clamp<int32_t>(nsamples, 0, MaxViewerSamples);
    for (int64_t i = 1; i <= nsamples; ++i) {
        const double value = file.readReal();
        file.readLn();
        file.check();
        if (i <= stored)
            tseries[i] = value;
        if (file.atEnd()) {
            for (int64_t j = i + 1; j <= stored; ++j)
                tseries[j] = 0.0;
            return i - 1;
        }
    }
    return std::max<int64_t>(nsamples, 0);
}

struct SweepResult {
    std::vector<double> tseries;
    int64_t present = -1;
    std::string message;
    double next = 0.0;  // the item after the sweep, to compare where each stopped
    bool operator==(const SweepResult& other) const
    {
        return std::memcmp(tseries.data(), other.tseries.data(), tseries.size() * sizeof(double)) == 0 &&
               present == other.present && message == other.message && next == other.next;
    }
};

template <class Read>
SweepResult readOneSweep(const std::string& text, int32_t nsamples, Read read)
{
    SweepResult result;
    result.tseries.assign(MaxViewerSamples + 1, -7.0);
    rt::TextReader file;
    file.openMemory(text);
    try {
        result.present = read(file, nsamples, result.tseries.data());
        result.next = file.readReal();
    } catch (const rt::Error& error) {
        result.message = error.what();
    }
    return result;
}

}  // namespace

TEST(BlockRead, ASweepReadsAsItemAfterItemWould)
{
    // Sweeps of usual lines with, now and then, an odd line: a bad item, text after the
    // number, blank lines, LF alone, an exponent, the text ending early; shorter and
    // longer than the store.
    uint64_t seed = 5;
    const auto next = [&] { return (seed = seed * 6364136223846793005u + 1442695040888963407u) >> 33; };
    int compared = 0;
    for (int32_t nsamples : {0, 1, 7, 2500, MaxViewerSamples, MaxViewerSamples + 300}) {
        for (int variant = 0; variant < 12; ++variant) {
            std::string text;
            const int64_t lines = int64_t(std::max(nsamples, 1)) + 3 - (variant == 11 ? nsamples / 2 : 0);
            for (int64_t i = 0; i < lines; ++i) {
                const std::string value = number(sample(variant, int(i)));
                const uint64_t odd = variant == 0 ? 1 : next() % 400;
                text += odd == 0 && variant % 3 == 0 ? "volts\r\n"
                        : odd == 1                   ? value + " tail\r\n"
                        : odd == 2                   ? "\r\n\r\n" + value + "\r\n"
                        : odd == 3                   ? value + "\n"
                        : odd == 4                   ? value + "e0\r\n"
                                                     : value + "\r\n";
            }
            const SweepResult expected = readOneSweep(text, nsamples, sweepItemByItem);
            const SweepResult actual = readOneSweep(text, nsamples, readViewerSweep);
            EXPECT_TRUE(actual == expected) << nsamples << " samples, variant " << variant << ": " << actual.message
                                            << " / " << expected.message;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 72);
}

TEST(WaterfallReader, LineEndsCountedEightBytesAStepAsOneByOne)
{
    uint64_t seed = 11;
    const auto next = [&] { return (seed = seed * 6364136223846793005u + 1442695040888963407u) >> 33; };
    for (int trial = 0; trial < 3000; ++trial) {
        std::string bytes(size_t(next() % 1200), '\0');
        const uint64_t density = 1 + next() % 20;
        for (char& c : bytes)
            c = next() % density == 0 ? '\r' : char(next() % 256);
        const size_t from = bytes.empty() ? 0 : size_t(next() % bytes.size());
        ASSERT_EQ(countCarriageReturns(bytes.data() + from, bytes.size() - from),
                  uint64_t(std::count(bytes.begin() + long(from), bytes.end(), '\r')))
            << bytes.size() << " from " << from;
    }
}

// The ends of the blocks are found a chunk of the file (1 MiB) at a time while the
// blocks already bounded are read: a block that ends on a chunk's last byte, with its
// LF first in the next chunk or without one, reads as the reading from the start does.
TEST(WaterfallReader, ABlockEndingWhereAScannedChunkEndsReadsTheSame)
{
    constexpr size_t Chunk = size_t(1) << 20;
    const int nsamples = 2000, sweeps = 40;  // 8 blocks of about 150 kB
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.txt").toStdString();
    for (const std::string lineEnd : {"\r\n", "\r"}) {
        for (const int shiftBy : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << (lineEnd.size() == 2 ? "CR LF" : "CR") << ", shift " << shiftBy);
            std::string header;
            for (const char* item : {"40", "2000", "4", "37", "0.0"})
                header += item + lineEnd;
            std::vector<std::string> lines;
            for (int s = 0; s < sweeps; ++s)
                for (int i = 0; i < nsamples; ++i)
                    lines.push_back(number(sample(s, i)) + lineEnd);
            // The last block end inside the first chunk, moved by blanks before the first
            // item onto the chunk's last byte (and one or two bytes before it).
            size_t at = header.size(), end = 0, blockLines = size_t(nsamples) * 5;
            for (size_t l = 0; l < lines.size(); ++l) {
                at += lines[l].size();
                if ((l + 1) % blockLines == 0 && at - lineEnd.size() + 1 <= header.size() + Chunk)
                    end = at - lineEnd.size();  // the CR
            }
            ASSERT_GT(end, 0u);
            const size_t blanks = header.size() + Chunk - 1 - end - size_t(shiftBy);
            lines[0] = std::string(blanks, ' ') + lines[0];
            std::string text = header;
            for (const std::string& line : lines)
                text += line;
            std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

            std::vector<std::vector<double>> rows[2];
            std::atomic<bool> cancel{false};
            for (int way = 0; way < 2; ++way) {
                WaterfallCallbacks callbacks;
                callbacks.row = [&](int64_t, const double* db) { rows[way].emplace_back(db, db + WaterfallBins); };
                const WaterfallOutcome outcome = way == 0 ? readWaterfall(path, 5, 5.0, cancel, callbacks)
                                                          : readWaterfallInOrder(path, 5, 5.0, cancel, callbacks);
                EXPECT_EQ(outcome.end, WaterfallEnd::Complete);
                EXPECT_EQ(outcome.rows, 8);
            }
            ASSERT_EQ(rows[0].size(), 8u);
            EXPECT_TRUE(rows[0] == rows[1]);
        }
    }
}

TEST(WaterfallReader, WhereNoThreadCanBeStartedTheRowsAreReadOnTheCallingThread)
{
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"whole, many pieces", recording(60, 40, 60)},
        {"cut short", recording(60, 40, 33)},
        {"bad item in sweep 27", recording(60, 40, 60, 27 * 40 + 3)},
    };
    char folder[] = "/tmp/waterfall-threads-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    chmod(folder, 0755);  // read by the child as another user
    const std::string path = std::string(folder) + "/r.txt";
    bool skipped = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        chmod(path.c_str(), 0644);
        std::atomic<bool> cancel{false};
        std::vector<std::vector<double>> expected;
        WaterfallCallbacks inOrder;
        inOrder.row = [&](int64_t, const double* db) { expected.emplace_back(db, db + WaterfallBins); };
        const WaterfallOutcome wanted = readWaterfallInOrder(path, 5, 5.0, cancel, inOrder);
        ASSERT_GT(expected.size(), 4u);
        const int status = runInChildWithoutThreads([&] {
            std::vector<std::vector<double>> rows;
            WaterfallCallbacks callbacks;
            callbacks.row = [&](int64_t, const double* db) { rows.emplace_back(db, db + WaterfallBins); };
            const WaterfallOutcome outcome = readWaterfall(path, 5, 5.0, cancel, callbacks);
            const bool same = outcome.end == wanted.end && outcome.rows == wanted.rows &&
                              outcome.expectedRows == wanted.expectedRows && outcome.message == wanted.message &&
                              rows == expected;
            return same ? 0 : 10;
        });
        if (status == NoThreadlessChild) {
            skipped = true;
            break;
        }
        EXPECT_EQ(status, 0) << "0: the same rows and outcome; 10: others; 2: an exception; 134: aborted";
    }
    std::remove(path.c_str());
    rmdir(folder);
    if (skipped)
        GTEST_SKIP() << "no child process without threads can be made here";
}

// Another recording put in the place of the one read, while it is read: the rows are all
// of the recording the reading started on, also those read from the start again where
// the pieces read on every core end (a recording cut short, a bad line midway).
TEST(WaterfallReader, ARecordingReplacedWhileReadGivesOnlyItsOwnRows)
{
    const struct { const char* name; std::string text; } cases[] = {
        {"cut short", recording(50, 33, 40)},
        {"bad line midway", recording(50, 33, 50, 31 * 33 + 5)},
        {"whole", recording(50, 33, 50)},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("r.txt").toStdString();
    const std::string other = dir.filePath("other.txt").toStdString();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        std::atomic<bool> cancel{false};
        std::vector<std::vector<double>> expected, rows;
        WaterfallCallbacks keep;
        keep.row = [&](int64_t, const double* db) { expected.emplace_back(db, db + WaterfallBins); };
        const WaterfallOutcome reference = readWaterfallInOrder(path, 5, 5.0, cancel, keep);
        ASSERT_GT(expected.size(), 1u);

        // Another recording, whole and of other sweeps, takes the name once the first row is given.
        std::string replacement = recording(50, 33, 50);
        replacement.replace(replacement.find("\r\n", 100) - 1, 1, "9");
        std::ofstream(other, std::ios::binary | std::ios::trunc) << replacement;
        WaterfallCallbacks callbacks;
        callbacks.row = [&](int64_t row, const double* db) {
            if (row == 0) {
                EXPECT_EQ(std::rename(other.c_str(), path.c_str()), 0);
            }
            rows.emplace_back(db, db + WaterfallBins);
        };
        const WaterfallOutcome outcome = readWaterfall(path, 5, 5.0, cancel, callbacks);
        EXPECT_EQ(outcome.end, reference.end);
        EXPECT_EQ(outcome.message, reference.message);
        ASSERT_EQ(rows.size(), expected.size());
        for (size_t r = 0; r < rows.size(); ++r)
            EXPECT_EQ(std::memcmp(rows[r].data(), expected[r].data(), WaterfallBins * sizeof(double)), 0) << "row " << r;
    }
}
