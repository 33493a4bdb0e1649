// `sounder analyze --profiles OUT.npy` and `--waterfall OUT.png`: the profiles kept
// per sweep or per block, the .npy file as numpy reads it, the JSON's description of
// it, the picture's size, and the options' misuse.

#include "analyze_command.h"
#include "cli_support.h"
#include "analyze_fixture.h"
#include "profile_rows.h"
#include "waterfall_cells.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace {

// The shape and the float32 values of a .npy file as this test reads it, with its
// header's dictionary.
struct Npy {
    std::string dict;
    size_t dataOffset = 0;
    std::vector<float> values;
};

Npy readNpy(const std::string& bytes)
{
    Npy npy;
    if (bytes.size() < 10 || bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)) != 0)
        return npy;
    const size_t length = uint8_t(bytes[8]) | size_t(uint8_t(bytes[9])) << 8;
    npy.dict = bytes.substr(10, length);
    npy.dataOffset = 10 + length;
    if (bytes.size() < npy.dataOffset)
        return npy;
    npy.values.resize((bytes.size() - npy.dataOffset) / sizeof(float));
    if (!npy.values.empty())
        std::memcpy(npy.values.data(), bytes.data() + npy.dataOffset, npy.values.size() * sizeof(float));
    return npy;
}

uint32_t be32(const std::string& png, size_t at)
{
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
}

bool haveNumpy() { return std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") == 0; }

}  // namespace

TEST(SounderProfiles, NpyHeaderIsWhatNumpyExpects)
{
    const struct { std::vector<uint64_t> shape; const char* dims; } cases[] = {
        {{3, 1430, 2048}, "(3, 1430, 2048)"}, {{1, 0, 2048}, "(1, 0, 2048)"}, {{7}, "(7,)"}, {{}, "()"},
    };
    for (const auto& c : cases) {
        const std::string header = cli::npyFloat32Header(c.shape);
        SCOPED_TRACE(c.dims);
        EXPECT_EQ(header.size() % 64, 0u);
        EXPECT_EQ(header.back(), '\n');
        const Npy npy = readNpy(header);
        EXPECT_EQ(npy.dataOffset, header.size());
        const std::string expected = std::string("{'descr': '<f4', 'fortran_order': False, 'shape': ") + c.dims + ", }";
        EXPECT_EQ(npy.dict.substr(0, expected.size()), expected);
        EXPECT_EQ(npy.dict.find_first_not_of(' ', expected.size()), npy.dict.size() - 1);
    }
}

TEST(SounderProfiles, EverySweepsProfileOrEveryBlocksInFloatDecibels)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    // Rows: sweeps, or blocks of 3 sweeps (7 sweeps: 3, 3 and the one left over).
    const struct { const char* options; int rows; bool blocks; } cases[] = {
        {"", 7, false}, {" --waterfall-blocks --block 3", 3, true}, {" --channel 2", 7, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const RunResult run = runSounder(dir, std::string("analyze rec.txt --profiles p.npy --json o.json") + c.options);
        ASSERT_EQ(run.status, 0) << run.err;
        const Npy npy = readNpy(readBytes(dir.file("p.npy")));
        const std::vector<int> channels = std::string(c.options).find("--channel 2") != std::string::npos
                                              ? std::vector<int>{2}
                                              : std::vector<int>{1, 2, 3};
        const std::string dims = "(" + std::to_string(channels.size()) + ", " + std::to_string(c.rows) + ", 2048)";
        EXPECT_NE(npy.dict.find("'shape': " + dims), std::string::npos) << npy.dict;
        ASSERT_EQ(npy.values.size(), channels.size() * size_t(c.rows) * 2048);
        double worst = 0.0;
        for (size_t ci = 0; ci < channels.size(); ++ci)
            for (int row = 0; row < c.rows; ++row) {
                const std::vector<double> expected =
                    c.blocks ? blockProfile(r, 3 * row, std::min(3, r.sweeps - 3 * row), channels[ci])
                             : sweepProfile(r, row, channels[ci]);
                for (int k = 1; k <= 2048; ++k) {
                    const float v = npy.values[(ci * size_t(c.rows) + size_t(row)) * 2048 + size_t(k - 1)];
                    worst = std::max(worst, std::abs(double(v) - expected[size_t(k)]));
                }
            }
        EXPECT_LT(worst, 1e-3);

        const QJsonObject file = QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(dir.file("o.json"))))
                                     .object()["files"].toArray()[0].toObject()["profiles"].toObject();
        EXPECT_EQ(file["npy"].toString(), "p.npy");
        EXPECT_EQ(file["shape"].toArray(), (QJsonArray{qint64(channels.size()), c.rows, 2048}));
        EXPECT_EQ(file["axis1"].toString(), c.blocks ? "blocks" : "sweeps");
        EXPECT_EQ(file["dtype"].toString(), "float32");
    }
}

TEST(SounderProfiles, NumpyLoadsTheProfiles)
{
    if (!haveNumpy())
        GTEST_SKIP() << "python3 with numpy is not installed";
    TempDir dir;
    Recording r;
    r.sweeps = 4;
    r.write(dir.file("rec.txt"));
    ASSERT_EQ(runSounder(dir, "analyze rec.txt --profiles p.npy").status, 0);
    const std::string script = dir.file("load.py");
    writeBytes(script, "import numpy, sys\n"
                       "a = numpy.load(sys.argv[1])\n"
                       "print(a.dtype, a.shape, a.flags['C_CONTIGUOUS'])\n"
                       "for c, s, k in [(0, 0, 96), (1, 3, 106), (2, 2, 155), (0, 1, 2047)]:\n"
                       "    print(repr(float(a[c, s, k])))\n");
    const std::string out = dir.file("numpy.txt");
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + dir.file("p.npy") + "' > '" + out + "'").c_str()), 0);
    std::istringstream lines(readBytes(out));
    std::string first;
    std::getline(lines, first);
    EXPECT_EQ(first, "float32 (3, 4, 2048) True");
    const struct { int c, s, k; } points[] = {{0, 0, 96}, {1, 3, 106}, {2, 2, 155}, {0, 1, 2047}};
    for (const auto& p : points) {
        double v = 0.0;
        ASSERT_TRUE(lines >> v);
        // Index k is bin k + 1; the path of channel c + 1 lies at bin 97 + 10 c.
        EXPECT_NEAR(v, sweepProfile(r, p.s, p.c + 1)[size_t(p.k + 1)], 1e-3) << p.c << " " << p.s << " " << p.k;
    }
}

TEST(SounderProfiles, WaterfallIsAPngOfTheSizeAsked)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    const struct { const char* options; uint32_t width, height; } cases[] = {
        {"", 1600, 1000}, {" --waterfall-size 800x600 --bandwidth 1e8", 800, 600}, {" --waterfall-blocks", 1600, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        std::filesystem::remove(dir.file("w.png"));
        const RunResult run = runSounder(dir, std::string("analyze rec.txt --waterfall w.png") + c.options);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.err.empty()) << run.err;
        const std::string png = readBytes(dir.file("w.png"));
        ASSERT_GT(png.size(), 24u);
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
        EXPECT_EQ(be32(png, 16), c.width);
        EXPECT_EQ(be32(png, 20), c.height);
        EXPECT_GT(png.size(), 20000u);  // a drawing, not a blank page
    }
}

TEST(SounderProfiles, MisusedOptionsWriteNothing)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    const struct { const char* args; int status; } cases[] = {
        {"analyze rec.txt --csv o.csv --waterfall-blocks", 1},
        {"analyze rec.txt --profiles p.npy --waterfall-size 100x100", 1},
        {"analyze rec.txt --profiles p.npy --waterfall-size wide", 1},
        {"analyze rec.txt --csv o.csv --profiles missing/p.npy", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(std::filesystem::exists(dir.file("o.csv")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("p.npy")));
    }
}

// What runs on the calling thread while the files are analysed (the picture made
// ready) runs once, and neither it nor its failure changes a file's results.
TEST(SounderProfiles, WorkMeanwhileLeavesTheResultsAlone)
{
    TempDir dir;
    Recording r;
    r.sweeps = 9;
    r.write(dir.file("rec.txt"));
    cli::AnalysisSettings settings;
    settings.keepProfiles = cli::ProfileRows::Sweeps;
    const std::vector<std::string> files = {dir.file("rec.txt"), dir.file("rec.txt")};
    const std::vector<cli::FileAnalysis> plain = cli::analyzeFiles(files, settings);
    ASSERT_TRUE(plain[0].result && plain[1].result);
    std::atomic<int> calls{0};
    const struct { const char* name; bool throws; } cases[] = {{"returns", false}, {"throws", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls = 0;
        const std::vector<cli::FileAnalysis> outcomes = cli::analyzeFiles(files, settings, [&] {
            ++calls;
            if (c.throws)
                throw std::runtime_error("the preparation failed");
        });
        EXPECT_EQ(calls.load(), 1);
        ASSERT_EQ(outcomes.size(), plain.size());
        for (size_t f = 0; f < outcomes.size(); ++f) {
            ASSERT_TRUE(outcomes[f].result) << outcomes[f].failure;
            const cli::RecordingAnalysis& got = *outcomes[f].result;
            const cli::RecordingAnalysis& want = *plain[f].result;
            EXPECT_EQ(got.sweeps, 9);
            ASSERT_EQ(got.channels.size(), want.channels.size());
            for (size_t ch = 0; ch < got.channels.size(); ++ch) {
                ASSERT_EQ(got.channels[ch].profilesDb.size(), 9u * 2048u);
                EXPECT_EQ(std::memcmp(got.channels[ch].profilesDb.data(), want.channels[ch].profilesDb.data(),
                                      want.channels[ch].profilesDb.size() * sizeof(float)),
                          0);
            }
        }
    }
}

// The waterfall's cells taken row by row in batches of any size are the cells taken at
// once, and each is the largest of the rows x bins it stands for.
TEST(WaterfallCells, RowByRowInAnyBatchesIsTheLargestOfEachCellsRowsAndBins)
{
    const struct { int rows; cli::MapPixels pixels; } cases[] = {
        {1430, {453, 880}}, {7, {453, 880}}, {1, {100, 100}}, {286, {-14, 80}}, {1000, {2048, 1000}},
        {1001, {2049, 3}}, {0, {453, 880}},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> db(-60.0f, 20.0f);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " rows in " + std::to_string(c.pixels.width) + " x " +
                     std::to_string(c.pixels.height));
        std::vector<float> rows(size_t(c.rows) * 2048);
        for (float& v : rows)
            v = db(random);
        cli::WaterfallCells whole(c.rows, c.pixels);
        whole.addRows(rows.data(), c.rows);
        cli::WaterfallCells batched(c.rows, c.pixels);
        while (batched.rowsAdded() < c.rows) {
            const int n = std::min(c.rows - batched.rowsAdded(), int(random() % 40) + 1);
            batched.addRows(rows.data() + size_t(batched.rowsAdded()) * 2048, n);
        }
        EXPECT_TRUE(whole.completeFor(c.rows, c.pixels));
        EXPECT_FALSE(whole.completeFor(c.rows + 1, c.pixels));
        EXPECT_FALSE(whole.completeFor(c.rows, {c.pixels.width + 1, c.pixels.height}));
        ASSERT_EQ(whole.columns() * whole.binsPerColumn() >= 2048, true);
        ASSERT_LT((whole.columns() - 1) * whole.binsPerColumn(), 2048);
        ASSERT_GE(whole.cellRows() * whole.rowsPerCellRow(), c.rows);
        int mismatches = 0;
        for (int r = 0; r < whole.cellRows(); ++r)
            for (int k = 0; k < whole.columns(); ++k) {
                float largest = -INFINITY;
                for (int row = r * whole.rowsPerCellRow(); row < std::min(c.rows, (r + 1) * whole.rowsPerCellRow()); ++row)
                    for (int bin = k * whole.binsPerColumn(); bin < std::min(2048, (k + 1) * whole.binsPerColumn());
                         ++bin)
                        largest = std::max(largest, rows[size_t(row) * 2048 + size_t(bin)]);
                mismatches += whole.cell(k, r) != largest || batched.cell(k, r) != largest;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

// The profiles are written to the .npy while the recording is read, and the picture's
// cells made meanwhile: the same file and cells as made from the whole result, for a
// whole recording, and for one cut short of the sweeps its header promises (whose rows
// the header cannot place, unless its blocks come out as promised), in rows of sweeps
// and of blocks.
TEST(SounderProfiles, WrittenWhileReadingIsWhatTheWholeResultGives)
{
    const struct { const char* name; int promised; cli::ProfileRows rows; bool asPromised; } cases[] = {
        {"whole, sweeps", 7, cli::ProfileRows::Sweeps, true},
        {"whole, blocks", 7, cli::ProfileRows::Blocks, true},
        {"cut short, sweeps", 9, cli::ProfileRows::Sweeps, false},
        {"cut short, blocks as promised", 9, cli::ProfileRows::Blocks, true},  // 3 blocks of 3 promised, 3 made
        {"cut short, fewer blocks", 8, cli::ProfileRows::Blocks, true},
        {"cut short, blocks", 10, cli::ProfileRows::Blocks, false},  // 4 promised
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Recording r;
        r.write(dir.file("rec.txt"));
        if (c.promised != r.sweeps) {
            std::string text = readBytes(dir.file("rec.txt"));
            text.replace(0, 1, std::to_string(c.promised));  // "7,5000"
            writeBytes(dir.file("rec.txt"), text);
        }
        cli::AnalysisSettings settings;
        settings.keepProfiles = c.rows;
        settings.blockSweeps = 3;
        cli::AnalyzeOutputs outputs;
        outputs.profilesPath = dir.file("p.npy");
        outputs.waterfallPath = dir.file("w.png");
        const cli::RecordingAnalysis whole = cli::analyzeRecording(dir.file("rec.txt"), settings);
        int drawn = 0;
        const cli::PlotDrawer checkCells = [&](const cli::RecordingAnalysis& a, const cli::AnalysisSettings&) {
            ++drawn;
            const cli::MapPixels pixels = cli::waterfallMapPixels(1600, 1000, int(a.channels.size()));
            for (size_t k = 0; k < a.channels.size(); ++k) {
                const cli::ChannelAnalysis& ch = a.channels[k];
                const int rows = int(ch.profileRows);
                EXPECT_EQ(rows, c.rows == cli::ProfileRows::Sweeps ? 7 : 3);
                // Made while reading where the header told how many rows would come; the
                // rows then are let go, all being in the .npy file and the cells.
                EXPECT_EQ(ch.waterfallCells && ch.waterfallCells->completeFor(rows, pixels), c.asPromised);
                EXPECT_EQ(ch.profilesDb.size(), c.asPromised ? 0u : size_t(rows) * 2048);
                if (!ch.waterfallCells || !ch.waterfallCells->completeFor(rows, pixels))
                    continue;
                cli::WaterfallCells atOnce(rows, pixels);
                atOnce.addRows(whole.channels[k].profilesDb.data(), rows);
                int mismatches = 0;
                for (int y = 0; y < atOnce.cellRows(); ++y)
                    for (int x = 0; x < atOnce.columns(); ++x)
                        mismatches += atOnce.cell(x, y) != ch.waterfallCells->cell(x, y);
                EXPECT_EQ(mismatches, 0);
            }
            return std::string("picture");
        };
        ASSERT_EQ(cli::runAnalyze({dir.file("rec.txt")}, settings, outputs, {}, checkCells), cli::ExitOk);
        EXPECT_EQ(drawn, 1);

        std::string expected =
            cli::npyFloat32Header({whole.channels.size(), whole.channels[0].profilesDb.size() / 2048, 2048});
        for (const cli::ChannelAnalysis& ch : whole.channels)
            expected.append(reinterpret_cast<const char*>(ch.profilesDb.data()), ch.profilesDb.size() * sizeof(float));
        EXPECT_TRUE(readBytes(dir.file("p.npy")) == expected) << "the .npy differs from the whole result's";
        EXPECT_EQ(readBytes(dir.file("w.png")), "picture");
    }
}

// Over several files, each file's rows go as soon as they stand in its .npy file and its
// picture's cells (a run over a day's recordings holds the rows of the files being read,
// not of all of them), and the files are still what the whole results give; a .npy file
// written whole at the end (a FIFO here) keeps them until then.
TEST(SounderProfiles, EachFilesRowsGoOnceTheyAreWritten)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    const std::vector<std::string> files = {dir.file("rec.txt"), dir.file("rec.txt"), dir.file("rec.txt")};
    cli::AnalysisSettings settings;
    settings.keepProfiles = cli::ProfileRows::Sweeps;
    const cli::RecordingAnalysis whole = cli::analyzeRecording(dir.file("rec.txt"), settings);
    std::string expected = cli::npyFloat32Header({3, 7, 2048});
    for (const cli::ChannelAnalysis& ch : whole.channels)
        expected.append(reinterpret_cast<const char*>(ch.profilesDb.data()), ch.profilesDb.size() * sizeof(float));
    for (const bool toFile : {true, false}) {
        SCOPED_TRACE(toFile ? "to files" : "to a FIFO");
        cli::AnalyzeOutputs outputs;
        outputs.waterfallPath = dir.file("w.png");
        outputs.profilesPath = dir.file("p.npy");
        std::string fromFifo;
        std::thread reader;
        if (!toFile) {
            // One file through the FIFO: its rows are written whole after the analysis.
            ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
            outputs.profilesPath = dir.file("pipe");
            reader = std::thread([&] { fromFifo = readBytes(dir.file("pipe")); });
        }
        const std::vector<std::string> run = toFile ? files : std::vector<std::string>{files.front()};
        int drawn = 0;
        const cli::PlotDrawer check = [&](const cli::RecordingAnalysis& a, const cli::AnalysisSettings&) {
            ++drawn;
            for (const cli::ChannelAnalysis& ch : a.channels) {
                EXPECT_EQ(ch.profileRows, 7);
                EXPECT_EQ(ch.profilesDb.size(), toFile ? 0u : 7u * 2048u);
            }
            return std::string("picture");
        };
        EXPECT_EQ(cli::runAnalyze(run, settings, outputs, {}, check), cli::ExitOk);
        if (reader.joinable()) {
            // Should the run not have opened the FIFO, a writer that comes and goes ends the read.
            if (const int fd = ::open(dir.file("pipe").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
                ::close(fd);
            reader.join();
        }
        EXPECT_EQ(drawn, int(run.size()));
        if (toFile) {
            for (int i = 1; i <= 3; ++i)
                EXPECT_TRUE(readBytes(dir.file("p." + std::to_string(i) + ".npy")) == expected) << i;
        } else {
            EXPECT_TRUE(fromFifo == expected);
        }
    }
}

// A recording that comes through a pipe, whose size is not known ahead: the rows, the
// picture and the metrics are those of the same recording read from its file.
TEST(SounderProfiles, ARecordingThroughAPipeGivesWhatItsFileGives)
{
    TempDir dir;
    Recording r;
    r.write(dir.file("rec.txt"));
    const std::string bytes = readBytes(dir.file("rec.txt"));
    // The run may refuse the pipe without reading it: the writer then meets no reader.
    const auto oldPipeAction = std::signal(SIGPIPE, SIG_IGN);
    for (const std::string rows : {"", " --waterfall-blocks"}) {
        SCOPED_TRACE(rows);
        const RunResult file = runSounder(dir, "analyze rec.txt --csv f.csv --profiles f.npy --waterfall f.png" + rows);
        ASSERT_EQ(file.status, 0) << file.err;
        ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
        std::thread writer([&] {
            const int fd = ::open(dir.file("pipe").c_str(), O_WRONLY);
            for (size_t at = 0; fd >= 0 && at < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
                if (n <= 0)
                    break;
                at += size_t(n);
            }
            if (fd >= 0)
                ::close(fd);
        });
        const RunResult piped = runSounder(dir, "analyze pipe --csv p.csv --profiles p.npy --waterfall p.png" + rows);
        if (const int fd = ::open(dir.file("pipe").c_str(), O_RDONLY | O_NONBLOCK); fd >= 0)
            ::close(fd);  // lets a writer the run never met go
        writer.join();
        std::filesystem::remove(dir.file("pipe"));
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_TRUE(readBytes(dir.file("p.npy")) == readBytes(dir.file("f.npy")));
        EXPECT_EQ(readBytes(dir.file("p.png")).substr(0, 24), readBytes(dir.file("f.png")).substr(0, 24));
        // The same rows after each one's file name.
        const auto afterName = [](const std::string& csv) {
            std::string out;
            for (size_t at = 0; at < csv.size();) {
                const size_t end = csv.find('\n', at);
                const std::string line = csv.substr(at, end - at);
                out += line.substr(line.find(',')) + "\n";
                at = end == std::string::npos ? csv.size() : end + 1;
            }
            return out;
        };
        EXPECT_EQ(afterName(readBytes(dir.file("p.csv"))), afterName(readBytes(dir.file("f.csv"))));
    }
    std::signal(SIGPIPE, oldPipeAction);
}

// A .npy file that does not fit on the disk, whether written while the recording is read
// or afterwards (a recording cut short): one line naming it, status 2, nothing written.
// A recording cut short takes less room than its header promised: what fits then is
// written, though the rows did not fit where the header would have put them.
TEST(SounderProfiles, AFullDiskLeavesNoOutput)
{
    // Limits in blocks of 512 bytes; the file of 3 x 7 rows of 8 KB takes 172 KB, and
    // its rows as 9 promised sweeps would place them reach 205 KB.
    const struct { const char* name; int promised; int limit; bool fits; } cases[] = {
        {"written while read", 7, 100, false},
        {"written after", 9, 100, false},
        {"fits once cut short", 9, 370, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Recording r;
        r.write(dir.file("rec.txt"));
        std::string text = readBytes(dir.file("rec.txt"));
        text.replace(0, 1, std::to_string(c.promised));  // "7,5000"
        writeBytes(dir.file("rec.txt"), text);
        const std::string command = "cd '" + dir.file("") + "' && (ulimit -f " + std::to_string(c.limit) +
                                    " && trap '' XFSZ && '" + SOUNDER_BINARY +
                                    "' analyze rec.txt --csv o.csv --profiles p.npy) >/dev/null 2>'" +
                                    dir.file("stderr.log") + "'";
        const int raw = std::system(command.c_str());
        const std::string err = readBytes(dir.file("stderr.log"));
        int entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("")))
            ++entries;
        if (c.fits) {
            EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << err;
            cli::AnalysisSettings settings;
            settings.keepProfiles = cli::ProfileRows::Sweeps;
            const cli::RecordingAnalysis whole = cli::analyzeRecording(dir.file("rec.txt"), settings);
            const std::string npy = readBytes(dir.file("p.npy"));
            EXPECT_EQ(npy.size(), cli::npyFloat32Header({3, 7, 2048}).size() + 3 * 7 * 2048 * sizeof(float));
            EXPECT_EQ(readNpy(npy).values.size(), 3u * 7u * 2048u);
            EXPECT_EQ(std::memcmp(readNpy(npy).values.data() + 2 * 7 * 2048, whole.channels[2].profilesDb.data(),
                                  7 * 2048 * sizeof(float)),
                      0);
            EXPECT_EQ(entries, 4) << "rec.txt, stderr.log, o.csv and p.npy";
            continue;
        }
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
        EXPECT_NE(err.find("p.npy: Disk full"), std::string::npos) << err;
        EXPECT_EQ(entries, 2) << "rec.txt and stderr.log only";
    }
}
