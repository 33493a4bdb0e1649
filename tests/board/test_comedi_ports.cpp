// The comedi board library's digital ports on a fake 8255: what the front-end bus sees
// on the 24 lines, read-back of driven inputs, and a device that is missing.

#include "board_kind.h"
#include "bus_driver.h"
#include "comedi_fixture.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace {

using fakecomedi::LineState;

constexpr uint32_t kA = 0xFF;
constexpr uint32_t kB = 0xFF00;
constexpr uint32_t kCL = 0xF0000;

uint32_t address(uint32_t value) { return value << 16; }

// The states the lines went through since history entry `from`, without repeats.
std::vector<LineState> changesSince(size_t from)
{
    const std::vector<LineState> all = fakecomedi::lineHistory();
    std::vector<LineState> changes;
    for (size_t i = from > 0 ? from - 1 : 0; i < all.size(); ++i)
        if (changes.empty() || !(changes.back() == all[i]))
            changes.push_back(all[i]);
    return changes;
}

using ComediPorts = ComediBoardTest;

TEST_F(ComediPorts, StartUpLeavesDataPortInputAndIdleAddress)
{
    busdriver::configurePorts();
    EXPECT_EQ(fakecomedi::lines(), (LineState{kB | kCL, address(15)}));
}

TEST_F(ComediPorts, BusWriteChangesExactlyTheBusLinesInOrder)
{
    busdriver::configurePorts();
    const size_t before = fakecomedi::lineHistory().size();
    EXPECT_EQ(busdriver::busWrite({{3, 1}}), CBW_NOERRORS);

    // Data port drives (its latch still 0), the byte, the address, idle, data port released.
    const std::vector<LineState> expected = {
        {kB | kCL, address(15)},
        {kA | kB | kCL, address(15)},
        {kA | kB | kCL, address(15) | 1},
        {kA | kB | kCL, address(3) | 1},
        {kA | kB | kCL, address(15) | 1},
        {kB | kCL, address(15)},
    };
    EXPECT_EQ(changesSince(before), expected);
}

TEST_F(ComediPorts, DirectionChangeOnAn8255KeepsTheIdleAddress)
{
    // A real 8255 clears its output latches when a direction changes; the library
    // writes them back at once, so the address lines return to 15 before any other call.
    fakecomedi::Config config;
    config.configClearsOutputs = true;
    useDevice(config);
    busdriver::configurePorts();
    busdriver::busWrite({{7, 0x55}});
    const size_t before = fakecomedi::lineHistory().size();
    EXPECT_EQ(busdriver::busWrite({{3, 1}}), CBW_NOERRORS);

    const std::vector<LineState> expected = {
        {kB | kCL, address(15)},
        {kA | kB | kCL, 0},                     // the 8255's own clearing
        {kA | kB | kCL, address(15) | 0x55},    // written back: idle address, last byte
        {kA | kB | kCL, address(15) | 1},
        {kA | kB | kCL, address(3) | 1},
        {kA | kB | kCL, address(15) | 1},
        {kB | kCL, 0},
        {kB | kCL, address(15)},
    };
    EXPECT_EQ(changesSince(before), expected);
}

TEST_F(ComediPorts, ReadBackSeesTheDrivenInputs)
{
    busdriver::configurePorts();
    fakecomedi::driveInputs(0x5A | 0xFF00 | 0xA00000);
    EXPECT_EQ(busdriver::busRead(8), 0x5A);

    uint16_t word = 0;
    EXPECT_EQ(cbDIn(0, FIRSTPORTCH, &word), CBW_NOERRORS);
    EXPECT_EQ(word, 0xA);
    // An output port reads back what it drives, not the outside.
    EXPECT_EQ(cbDOut(0, FIRSTPORTB, 0x33), CBW_NOERRORS);
    EXPECT_EQ(cbDIn(0, FIRSTPORTB, &word), CBW_NOERRORS);
    EXPECT_EQ(word, 0x33);
    EXPECT_EQ(cbDIn(0, FIRSTPORTCL, &word), CBW_NOERRORS);
    EXPECT_EQ(word, 15);
}

TEST_F(ComediPorts, BadArgumentsChangeNoLine)
{
    busdriver::configurePorts();
    const LineState before = fakecomedi::lines();
    uint16_t word = 0;
    EXPECT_EQ(cbDOut(1, FIRSTPORTA, 1), CBW_BADBOARD);
    EXPECT_EQ(cbDOut(0, 9, 1), CBW_BADPORTNUM);
    EXPECT_EQ(cbDOut(0, FIRSTPORTCL, 16), CBW_BADPORTVALUE);
    EXPECT_EQ(cbDOut(0, FIRSTPORTA, 256), CBW_BADPORTVALUE);
    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, 3), CBW_BADDIRECTION);
    EXPECT_EQ(cbDIn(0, FIRSTPORTA, nullptr), CBW_NULLPOINTER);
    EXPECT_EQ(cbDIn(0, 14, &word), CBW_BADPORTNUM);
    EXPECT_EQ(fakecomedi::lines(), before);
}

TEST_F(ComediPorts, FoundDeviceIsReportedOnceOnStderr)
{
    const std::string first = stderrOf([] { busdriver::configurePorts(); });
    EXPECT_NE(first.find("cbw32 (comedi): /dev/comedi0 (driver fake_8255, board fake board): digital I/O "
                         "subdevice 2 with 24 lines, analog input subdevice 0 with 8 inputs, maxdata 4095\n"),
              std::string::npos)
        << first;
    const std::string later = stderrOf([] { busdriver::busWrite({{3, 1}}); });
    EXPECT_EQ(later, "");
}

TEST_F(ComediPorts, TwentyFourLinePortIsPreferredToANarrowerOne)
{
    fakecomedi::Config config;
    config.narrowDioFirst = true;
    useDevice(config);
    const std::string err = stderrOf([] { busdriver::configurePorts(); });
    EXPECT_NE(err.find("digital I/O subdevice 2 with 24 lines"), std::string::npos) << err;
    EXPECT_EQ(busdriver::busWrite({{3, 1}}), CBW_NOERRORS);
    EXPECT_EQ(fakecomedi::lines(), (LineState{kB | kCL, address(15)}));
}

TEST_F(ComediPorts, EnvironmentNamesAnotherDevice)
{
    fakecomedi::Config config;
    config.path = "/dev/comedi3";
    useDevice(config);
    setenv("SOUNDER_COMEDI_DEVICE", "/dev/comedi3", 1);
    const std::string err = stderrOf([] { EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, DIGITALIN), CBW_NOERRORS); });
    EXPECT_NE(err.find("/dev/comedi3 (driver fake_8255"), std::string::npos) << err;
}

// A device that cannot be opened, by why: one line on stderr saying so, every call
// failing, the same text as the board's failure.
TEST_F(ComediPorts, MissingDeviceFailsWithOneClearLine)
{
    struct Case {
        int error;
        const char* why;
    };
    const Case cases[] = {
        {ENOENT, "No such file or directory"},
        {EACCES, "Permission denied"},
        {ENOTTY, "not a comedi device"},  // a regular file, /dev/null
        {ENODEV, "No such device"},
    };
    for (const Case& c : cases) {
        fakecomedi::Config config;
        config.present = false;
        config.openError = c.error;
        useDevice(config);
        uint16_t word = 0xBEEF;
        const std::string err = stderrOf([&] {
            EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, DIGITALIN), CBW_NODEVICE);
            EXPECT_EQ(cbDOut(0, FIRSTPORTCL, 15), CBW_NODEVICE);
            EXPECT_EQ(cbDIn(0, FIRSTPORTA, &word), CBW_NODEVICE);
        });
        EXPECT_EQ(word, 0xBEEF);  // a failed read leaves the word alone
        const std::string failure = std::string("cannot open /dev/comedi0: ") + c.why;
        EXPECT_EQ(err.rfind("cbw32 (comedi): " + failure + " (", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(cbwBoardFailure(), failure);
    }
}

// A board whose analog input cannot stream a scan: the ports work, and the board's
// failure says from the first call on why no sweep can be captured.
TEST_F(ComediPorts, BoardThatCannotScanSaysSoFromItsFirstCall)
{
    struct Case {
        bool hasAi, aiCommands;
        const char* failure;
    };
    const Case cases[] = {
        {true, true, ""},
        {false, true, "/dev/comedi0 has no analog input subdevice for the scans"},
        {true, false, "/dev/comedi0's analog input subdevice 0 takes no scan commands (streamed acquisition)"},
    };
    for (const Case& c : cases) {
        fakecomedi::Config config;
        config.hasAi = c.hasAi;
        config.aiCommands = c.aiCommands;
        useDevice(config);
        stderrOf([] { busdriver::configurePorts(); });
        EXPECT_EQ(cbwBoardFailure(), std::string(c.failure));
        EXPECT_EQ(busdriver::busWrite({{3, 1}}), CBW_NOERRORS) << c.failure;
        const HGLOBAL handle = cbWinBufAlloc(400);
        int32_t rate = 1000;
        const int scan = cbAInScan(0, 0, 3, 400, &rate, BIP5VOLTS, handle, EXTCLOCK);
        cbWinBufFree(handle);
        if (*c.failure) {
            EXPECT_EQ(scan, CBW_NOSUBDEVICE) << c.failure;
        }
        EXPECT_EQ(cbwBoardFailure(), std::string(c.failure));
    }
}

TEST_F(ComediPorts, BoardWithoutDigitalPortRefusesPortCalls)
{
    fakecomedi::Config config;
    config.hasDio = false;
    useDevice(config);
    const std::string err = stderrOf([] { EXPECT_EQ(cbDOut(0, FIRSTPORTCL, 15), CBW_NOSUBDEVICE); });
    EXPECT_NE(err.find("no digital I/O subdevice"), std::string::npos) << err;
}

}  // namespace
