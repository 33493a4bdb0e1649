// The simulated channel described by a file (SOUNDER_SIM_CHANNEL): its reading rules,
// the paths it puts into the scans, the refusal of a faulty file, and the channel
// without the variable, which stays what it always was, code for code.
#include "scan_helpers.h"
#include "sim_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <numbers>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sh = scanhelp;

namespace {

uint64_t fnv1a(const std::vector<uint16_t>& codes)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint16_t c : codes)
        for (int b = 0; b < 2; ++b) {
            h ^= (c >> (8 * b)) & 0xFF;
            h *= 0x100000001b3ull;
        }
    return h;
}

class SimChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("SOUNDER_SIM_CHANNEL");
        boardsim::reset();
        busdriver::configurePorts();
    }
    void TearDown() override
    {
        ::unsetenv("SOUNDER_SIM_CHANNEL");
        boardsim::reset();
        for (const std::string& f : files_)
            std::remove(f.c_str());
    }
    std::string writeFile(const std::string& text)
    {
        const std::string path = testing::TempDir() + "sim_channel_" + std::to_string(::getpid()) + "_" +
                                 std::to_string(files_.size()) + ".json";
        std::ofstream(path, std::ios::binary) << text;
        files_.push_back(path);
        return path;
    }
    std::vector<std::string> files_;
};

// Scans of the channel as it stands without a description, by divider, gain and
// attenuation, from a fixed clock of the sweep. The hashes were taken from the channel
// before descriptions could be read; any change to its codes shows here.
TEST_F(SimChannel, WithoutTheVariableTheCodesAreThoseOfBefore)
{
    struct Case {
        int divider, gain, attenuation, startClock;
        uint64_t hash;
    };
    const Case cases[] = {
        {2, 30, 10, 0, 0x73da60502aa0ada1ull},
        {2, 50, 0, 1234, 0xdc40918cf1a37b2dull},
        {4, 40, 5, 0, 0x94c497f113ffffa7ull},
        {4, 30, 31, 777, 0x242a7d59dc93b7b9ull},
    };
    for (const Case& c : cases) {
        boardsim::reset();
        busdriver::configurePorts();
        sh::setDivider(c.divider);
        sh::setAttenuation(c.attenuation);
        for (int ch = 1; ch <= 3; ++ch)
            sh::setChannelGain(ch, c.gain);
        boardsim::SignalModel m = boardsim::signalModel();
        m.startClock = c.startClock;
        boardsim::setSignalModel(m);
        const std::vector<uint16_t> codes = sh::scan(4 * 12000);
        ASSERT_EQ(codes.size(), 4u * 12000);
        EXPECT_EQ(fnv1a(codes), c.hash) << "divider " << c.divider << " gain " << c.gain;
        EXPECT_TRUE(boardsim::boardFailure().empty());
    }
}


const char* const kTwoPaths = R"({
  "schema": "sounder.sim-channel/1",
  "bandwidth_hz": 1e8,
  "reference_volts": 20,
  "system_delay_ns": 610.3515625,
  "noise_volts": 2e-6,
  "channels": [
    {"paths": [{"delay_ns": 2441.40625, "gain_db": -70},
               {"delay_ns": 3173.828125, "gain_db": -76, "phase_rad": 1.5}]},
    {"paths": [], "noise_volts": 1e-5}
  ]
})";

TEST_F(SimChannel, ADescriptionGivesPhysicalPaths)
{
    boardsim::SignalModel m;
    std::string fault;
    ASSERT_TRUE(boardsim::parseSimChannel(kTwoPaths, m, fault)) << fault;
    // 100 MHz x (610.35 + 2441.41) ns = 305.18 cycles per sweep; 20 V x 10^(-70/20).
    ASSERT_EQ(m.channels[0].paths.size(), 2u);
    EXPECT_DOUBLE_EQ(m.channels[0].paths[0].beatCycles, 1e8 * (610.3515625 + 2441.40625) * 1e-9);
    EXPECT_DOUBLE_EQ(m.channels[0].paths[1].beatCycles, 1e8 * (610.3515625 + 3173.828125) * 1e-9);
    EXPECT_NEAR(m.channels[0].paths[0].amplitude, 20 * 3.16227766e-4, 1e-9);
    EXPECT_NEAR(m.channels[0].paths[1].amplitude, 20 * 1.58489319e-4, 1e-9);
    EXPECT_DOUBLE_EQ(m.channels[0].paths[1].phase, 1.5);
    EXPECT_DOUBLE_EQ(m.channels[0].noiseVolts, 2e-6);
    EXPECT_TRUE(m.channels[1].paths.empty());
    EXPECT_DOUBLE_EQ(m.channels[1].noiseVolts, 1e-5);
    EXPECT_TRUE(m.channels[2].paths.empty());  // not described: noise only
    EXPECT_DOUBLE_EQ(m.channels[2].noiseVolts, 2e-6);
    EXPECT_EQ(m.markerHigh, boardsim::defaultSignalModel().markerHigh);
}

// The scans follow amplitude = reference x 10^((path gain + gain - attenuation) / 20):
// a path's tone, measured by correlation over one sweep, at two settings.
TEST_F(SimChannel, TheScansFollowTheDescription)
{
    const std::string path = writeFile(R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8,
        "reference_volts": 20, "noise_volts": 0,
        "channels": [{"paths": [{"delay_ns": 2441.40625, "gain_db": -60}]}]})");
    ::setenv("SOUNDER_SIM_CHANNEL", path.c_str(), 1);
    struct Setting {
        int gain, attenuation;
    };
    for (const Setting s : {Setting{30, 10}, Setting{40, 0}}) {
        boardsim::reset();
        ASSERT_EQ(boardsim::boardFailure(), "");
        busdriver::configurePorts();
        sh::setDivider(2);
        sh::setAttenuation(s.attenuation);
        sh::setChannelGain(1, s.gain);
        const std::vector<uint16_t> codes = sh::scan(4 * 12000);
        const int32_t start = sh::sweepStart(codes);
        ASSERT_GE(start, 0);
        const double cycles = 1e8 * 2441.40625e-9;  // per 5000 groups
        std::complex<double> sum;
        for (int n = 0; n < 5000; ++n)
            sum += sh::volts(codes[size_t(start) + 4 * size_t(n)]) *
                   std::polar(1.0, -2 * std::numbers::pi * cycles * n / 5000.0);
        const double amplitude = 2 * std::abs(sum) / 5000;
        const double expected = 20 * std::pow(10.0, (-60 + boardsim::channelGainDb(1) - s.attenuation) / 20);
        EXPECT_NEAR(amplitude, expected, 0.01 * expected) << s.gain;
    }
}

// The example shipped beside the documentation reads, and is the channel described there.
TEST_F(SimChannel, TheShippedExampleReads)
{
    boardsim::SignalModel fromExample, fromText;
    std::string fault;
    ASSERT_TRUE(boardsim::readSimChannelFile(SIM_CHANNEL_EXAMPLE, fromExample, fault)) << fault;
    ASSERT_TRUE(boardsim::parseSimChannel(kTwoPaths, fromText, fault)) << fault;
    for (size_t c = 0; c < 3; ++c) {
        ASSERT_EQ(fromExample.channels[c].paths.size(), fromText.channels[c].paths.size());
        for (size_t p = 0; p < fromText.channels[c].paths.size(); ++p) {
            EXPECT_DOUBLE_EQ(fromExample.channels[c].paths[p].beatCycles, fromText.channels[c].paths[p].beatCycles);
            EXPECT_DOUBLE_EQ(fromExample.channels[c].paths[p].amplitude, fromText.channels[c].paths[p].amplitude);
        }
        EXPECT_DOUBLE_EQ(fromExample.channels[c].noiseVolts, fromText.channels[c].noiseVolts);
    }
}

// Each fault: refused with where and what, never a default in its place.
TEST_F(SimChannel, FaultsAreNamed)
{
    struct Case {
        const char* text;
        const char* fault;
    };
    const std::string head = R"("schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8, "reference_volts": 1, )";
    const Case cases[] = {
        {"", "line 1, column 1: expected a value"},
        {"{", "line 1, column 2: expected a name in quotes"},
        {"[]", "the description must be an object"},
        {"{} x", "line 1, column 4: text after the end of the description"},
        {"{\"a\": 1, \"a\": 2}", "line 1, column 13: \"a\" given twice"},
        {"{\"a\": 01}", "line 1, column 8: expected '}'"},
        {"{\"a\": 1e999}", "line 1, column 7: a number out of range"},
        {"{\"a\": [1,]}", "line 1, column 10: expected a value"},
        {"{\"a\": \"\\q\"}", "line 1, column 9: an unknown escape in quotes"},
        {"{\n\"a\":\ttrue,}", "line 2, column 11: expected a name in quotes"},
        {"{}", "\"schema\" is missing"},
        {"{\"schema\": \"sounder.sim-channel/2\"}", "\"schema\" must be \"sounder.sim-channel/1\""},
        {R"({"schema": "sounder.sim-channel/1", "reference_volts": 1, "channels": []})", "\"bandwidth_hz\" is missing"},
        {R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": -1})", "\"bandwidth_hz\" must be more than 0"},
        {R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": "1e8"})", "\"bandwidth_hz\" must be a number"},
        {R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": 1, "reference_volts": 0})",
         "\"reference_volts\" must be more than 0"},
        {R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8, "reference_volts": 1e308,
             "channels": [{"paths": [{"delay_ns": 5, "gain_db": 100}]}]})",
         "channels[0].paths[0]: the amplitude (\"reference_volts\" x 10^(\"gain_db\" / 20)) is beyond any receiver"},
        // Each path alone is finite; their sum is not.
        {R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8, "reference_volts": 1e303,
             "channels": [{"paths": []}, {"paths": [{"delay_ns": 5, "gain_db": 0}, {"delay_ns": 9, "gain_db": 0}]}]})",
         "channels[1].paths[1]: the amplitude (\"reference_volts\" x 10^(\"gain_db\" / 20)) is beyond any receiver"},
        {nullptr, nullptr},
    };
    const Case tails[] = {
        {"\"channels\": []}", "\"channels\" must be a list of 1 to 3 channels"},
        {"\"channels\": [{\"paths\": []}, {}, {}, {}]}", "\"channels\" must be a list of 1 to 3 channels"},
        {"\"system_delay_ns\": -1, \"channels\": [{\"paths\": []}]}", "\"system_delay_ns\" must be 0 or more"},
        {"\"channels\": [{\"paths\": []}], \"doppler_hz\": 3}", "unknown field \"doppler_hz\""},
        {"\"channels\": [{\"paths\": []}, 5]}", "channels[1] must be an object"},
        {"\"channels\": [{}]}", "channels[0]: \"paths\" is missing"},
        {"\"channels\": [{\"paths\": [{\"gain_db\": -3}]}]}", "channels[0].paths[0]: \"delay_ns\" is missing"},
        {"\"channels\": [{\"paths\": [{\"delay_ns\": 5}]}]}", "channels[0].paths[0]: \"gain_db\" is missing"},
        {"\"channels\": [{\"paths\": [{\"delay_ns\": 5, \"gain_db\": 200}]}]}",
         "channels[0].paths[0]: \"gain_db\" must lie within -400..100"},
        {"\"channels\": [{\"paths\": []}, {\"paths\": [{\"delay_ns\": 5, \"gain_db\": 0, \"gain\": 1}]}]}",
         "channels[1].paths[0]: unknown field \"gain\""},
        {"\"channels\": [{\"paths\": [], \"noise_volts\": -1}]}", "channels[0]: \"noise_volts\" must be 0 or more"},
    };
    for (const Case& c : cases) {
        if (!c.text)
            break;
        boardsim::SignalModel m;
        std::string fault;
        EXPECT_FALSE(boardsim::parseSimChannel(c.text, m, fault)) << c.text;
        EXPECT_EQ(fault, c.fault) << c.text;
    }
    for (const Case& c : tails) {
        boardsim::SignalModel m;
        std::string fault;
        EXPECT_FALSE(boardsim::parseSimChannel("{" + head + c.text, m, fault)) << c.text;
        EXPECT_EQ(fault, c.fault) << c.text;
    }
}

// What the variable may name besides a file: a folder is refused at once, a FIFO that
// no program writes reads as nothing written (never waiting for a writer that may not
// come), and a pipe written (as from a shell's process substitution) is read.
TEST_F(SimChannel, FoldersAndPipesAreReadWithoutWaiting)
{
    enum class Kind { Folder, FifoWithoutWriter, PipeWithWriter };
    struct Case {
        Kind kind;
        const char* fault;  // nullptr: the description reads
    };
    const Case cases[] = {
        {Kind::Folder, "a folder, not a file"},
        {Kind::FifoWithoutWriter, "nothing was written to it (a FIFO or pipe that no program writes)"},
        {Kind::PipeWithWriter, nullptr},
    };
    for (const Case& c : cases) {
        std::string path;
        int pipeEnds[2] = {-1, -1};
        if (c.kind == Kind::Folder) {
            path = testing::TempDir();
        } else if (c.kind == Kind::FifoWithoutWriter) {
            path = testing::TempDir() + "sim_channel_fifo_" + std::to_string(::getpid());
            ::unlink(path.c_str());
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            ASSERT_EQ(::pipe(pipeEnds), 0);
            const std::string text = kTwoPaths;
            ASSERT_EQ(::write(pipeEnds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
            ::close(pipeEnds[1]);  // the writer is done: the text, then the end
            path = "/proc/self/fd/" + std::to_string(pipeEnds[0]);
        }
        auto reading = std::async(std::launch::async, [&] {
            boardsim::SignalModel m;
            std::string fault;
            const bool read = boardsim::readSimChannelFile(path, m, fault);
            return std::make_pair(read, read ? std::to_string(m.channels[0].paths.size()) : fault);
        });
        if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << path << ": the reading waits for a writer";
            // Let the waiting open go on, so that the test can end.
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
        }
        const auto [read, what] = reading.get();
        if (c.fault) {
            EXPECT_FALSE(read) << path;
            EXPECT_EQ(what, c.fault) << path;
        } else {
            EXPECT_TRUE(read) << path << ": " << what;
            EXPECT_EQ(what, "2") << path;  // kTwoPaths' first channel
        }
        if (c.kind == Kind::FifoWithoutWriter)
            ::unlink(path.c_str());
        if (pipeEnds[0] >= 0)
            ::close(pipeEnds[0]);
    }
}

// A faulty or unreadable file: one line on stderr, the text kept, and every library
// call fails until a reset finds a usable description (or none).
TEST_F(SimChannel, AFaultyFileLeavesTheBoardUnusable)
{
    const std::string bad = writeFile("{\"schema\": 3}");
    const std::string missing = testing::TempDir() + "no_such_channel.json";
    for (const std::string& path : {bad, missing}) {
        ::setenv("SOUNDER_SIM_CHANNEL", path.c_str(), 1);
        testing::internal::CaptureStderr();
        boardsim::reset();
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string failure = boardsim::boardFailure();
        ASSERT_NE(failure, "");
        EXPECT_NE(failure.find(path), std::string::npos) << failure;
        EXPECT_NE(failure.find(path == bad ? "\"schema\" must be" : "No such file"), std::string::npos) << failure;
        EXPECT_EQ(said, "libcbw32 (simulated board): " + failure + "\n");

        uint16_t v = 0;
        EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, DIGITALOUT), CBW_NODEVICE);
        EXPECT_EQ(cbDOut(0, FIRSTPORTA, 1), CBW_NODEVICE);
        EXPECT_EQ(cbDIn(0, FIRSTPORTA, &v), CBW_NODEVICE);
        EXPECT_EQ(cbWinBufAlloc(400), HGLOBAL(0));
        EXPECT_EQ(GlobalLock(HGLOBAL(1)), nullptr);
        int32_t rate = 0;
        EXPECT_EQ(cbAInScan(0, 0, 3, 400, &rate, BIP5VOLTS, HGLOBAL(1), EXTCLOCK), CBW_NODEVICE);
        EXPECT_EQ(boardsim::portDirection(FIRSTPORTA), DIGITALIN);  // nothing changed
    }
    ::unsetenv("SOUNDER_SIM_CHANNEL");
    boardsim::reset();
    EXPECT_EQ(boardsim::boardFailure(), "");
    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, DIGITALOUT), CBW_NOERRORS);
}

}  // namespace
