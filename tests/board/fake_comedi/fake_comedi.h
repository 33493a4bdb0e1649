#pragma once
// Control side of the fake comedilib that the comedi board library's tests link in
// place of the real one. It models one device with an 8255-style digital subdevice
// (24 lines; directions per group A 0-7, B 8-15, C low 16-19, C high 20-23; latched
// outputs; inputs that the test drives) and an analog-input subdevice that accepts or
// refuses command settings as the test chooses and delivers a programmed code pattern
// through a pipe, whose read end is what comedi_fileno gives.

#include <comedilib.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace fakecomedi {

struct Config {
    bool present = true;  // comedi_open of any other path fails, as does this one when false
    int openError = ENOENT;  // comedi_errno after comedi_open of this path failed
    std::string path = "/dev/comedi0";
    std::string driver = "fake_8255";
    std::string board = "fake board";
    bool hasDio = true;
    bool narrowDioFirst = false;  // an 8-line digital subdevice (1) before the 8255 (2)
    bool hasAi = true;
    bool aiCommands = true;  // the analog subdevice takes streaming commands (SDF_CMD_READ)
    unsigned aiInputs = 8;
    uint32_t maxdata = 4095;
    bool longSamples = false;  // 32-bit samples (SDF_LSAMPL)
    // 8255 behaviour: a direction change clears every output latch.
    bool configClearsOutputs = false;
    // Trigger sources the analog subdevice supports.
    unsigned scanBeginSources = TRIG_EXT | TRIG_TIMER | TRIG_FOLLOW;
    unsigned convertSources = TRIG_NOW | TRIG_TIMER;
    unsigned fastestConvertNs = 1000;
    unsigned fastestScanNs = 1000;
    // A timed command delivers its samples at the pace of its accepted scan period
    // (otherwise, and for the external clock, as fast as the pipe takes them).
    bool paceTimedScans = false;
    // The external scan clock's period (0: samples as fast as the pipe takes them).
    unsigned extClockPeriodNs = 0;
    // The stream stops after this many samples of a command, without ending, until the
    // command is cancelled (0: it goes to the end), as when a clock stops midway.
    size_t stallAfterSamples = 0;
    int bufferBytes = 65536;
    int maxBufferBytes = 1 << 20;
    // The ranges of every input, by index.
    std::vector<comedi_range> ranges = {{-10.0, 10.0, UNIT_volt}, {-5.0, 5.0, UNIT_volt}, {-1.0, 1.0, UNIT_volt}};
};

// Forgets everything (closing pipes) and starts over with this device.
void reset(const Config& config = {});

// What the outside drives on the lines that are inputs.
void driveInputs(uint32_t lines);

// The lines as the front-end sees them after each digital call since reset, from the
// state at reset on: which lines are outputs and the levels they drive (inputs 0).
struct LineState {
    uint32_t outputs = 0;
    uint32_t levels = 0;
    bool operator==(const LineState&) const = default;
};
std::vector<LineState> lineHistory();
LineState lines();

// The raw codes a command delivers, in order; fewer than the command asks for make the
// stream end early. With the clock stopped nothing is delivered and the stream stays open.
void setPattern(std::vector<uint32_t> raw);
void setClockStopped(bool stopped);

// The last command that comedi_command started, and how many commands were tested.
bool commandStarted();
comedi_cmd lastCommand();
std::vector<unsigned> lastChannelList();
int commandTests();
int bufferBytes();
int cancels();
bool deviceOpen();

}  // namespace fakecomedi
