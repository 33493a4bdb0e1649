#pragma once
// Control interface of the simulated board and sounder front-end behind the board
// library (cbw.h). Tests use it to set the sounder's signals or raw scan codes, make
// the next allocation or scan fail, read back what the front-end latched, and inspect
// the ordered trace of every library call. Everything runs on the caller's thread.

#include "cbw.h"

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace boardsim {

// ---- Power-on state -------------------------------------------------------------

// Back to power-on: ports are inputs with every latch bit high (so the address port
// shows the idle address as soon as it drives), no front-end register or
// potentiometer written, clocks per sweep 10000, default signal model and seed, no
// scan source or failure injected, empty trace. Live memory blocks are released.
void reset();

// Why the board cannot be used, or empty: the channel description that
// SOUNDER_SIM_CHANNEL names (read at power-on and by reset()) does not read. While it
// is set, every library call fails with CBW_NODEVICE.
const std::string& boardFailure();
// The board library's failure text (cbwBoardFailure): "" while the board can be used.
void setBoardFailure(const std::string& text);

// ---- Call trace -----------------------------------------------------------------

enum class Fn { DConfigPort, DOut, DIn, AInScan, WinBufAlloc, WinBufFree, GlobalLock, GlobalUnlock };

// One library call as made, with its result.
//   DConfigPort: board, port, value = direction
//   DOut:        board, port, value = value written
//   DIn:         board, port, value = value delivered (0 if the call failed)
//   AInScan:     board, lowChan, highChan, count, rate (as passed in), range, handle, options
//   WinBufAlloc: count = samples requested, handle = handle returned (0 on failure)
//   WinBufFree / GlobalLock / GlobalUnlock: handle, count = block size (0 if unknown)
// result: the value returned (GlobalLock: 0 when an address was given, else 1).
struct Call {
    Fn fn = Fn::DConfigPort;
    int board = 0;
    int port = 0;
    int value = 0;
    int lowChan = 0;
    int highChan = 0;
    int32_t count = 0;
    int32_t rate = 0;
    int range = 0;
    int options = 0;
    HGLOBAL handle = 0;
    int result = 0;
    bool operator==(const Call&) const = default;
};

// The digital-port part of a call, for asserting bus sequences.
struct PortCall {
    Fn fn = Fn::DOut;
    int board = 0;
    int port = 0;
    int value = 0;
    bool operator==(const PortCall&) const = default;
};

// The trace keeps the first 2^20 calls since reset() or clearTrace(), and the
// front-end's logs below their first 2^20 entries since reset(), so that a program left
// running on the simulated board stays small.
const std::vector<Call>& trace();
// Only the cbDConfigPort / cbDOut / cbDIn calls, in order.
std::vector<PortCall> portTrace();
void clearTrace();

std::string toString(Fn fn);
std::string toString(const Call& call);
std::string toString(const PortCall& call);
// So that gtest prints readable values.
void PrintTo(const Call& call, std::ostream* os);
void PrintTo(const PortCall& call, std::ostream* os);

// ---- Digital ports ----------------------------------------------------------------

// DIGITALOUT or DIGITALIN (power-on: DIGITALIN); 0 for a port the board does not have.
int portDirection(int port);
// The port's output latch (the last value written with cbDOut); all ones at power-on.
uint16_t portLatch(int port);

// ---- Front-end --------------------------------------------------------------------

// The byte last latched at a write register (addresses 3..7), -1 if never written.
int frontEndRegister(int address);
// Every register write the front-end accepted, in order: (address, byte).
struct RegisterWrite {
    int address = 0;
    int value = 0;
    bool operator==(const RegisterWrite&) const = default;
};
const std::vector<RegisterWrite>& registerWrites();
// Every byte decoded from a complete potentiometer frame at address 2, in order.
const std::vector<int>& potFrameBytes();
// Setting of potentiometer 0..15, -1 if never set (the hardware then sits at mid-scale).
int potValue(int pot);
// Times address 0 was selected.
int strobeCount();
// Malformed potentiometer frames or frame sequences, each ignored.
int protocolErrors();
// Times the data port was driven by the board while a read register was selected.
int busConflicts();

// Clocks per sweep reported at addresses 8..10 (24 bits) and used for the sweep period.
void setClocksPerSweep(int32_t clocks);
int32_t clocksPerSweep();

// Values in effect (power-on defaults where a register or pot was never written).
int clockDivider();        // divider register + 1; 2 at power-on
double attenuationDb();    // decoded attenuator register; 0 at power-on
double channelGainDb(int channel);  // channel 1..8 from pots 2c-2, 2c-1

// ---- Models shared with the gain table ------------------------------------------

// Gain of one channel in dB for its potentiometer pair (a on pot 2c-2, b on 2c-1),
// each limited to 0..32.
double gainDbForPots(int a, int b);
// The RF attenuation in dB that an attenuator code (0..31) selects.
int attenuationDbForCode(int code);
// The attenuator code for an attenuation in dB (0..31), as the program encodes it.
int attenuatorCodeForDb(int db);
// Best pair for a gain: {a, b} within 0.5 dB, or nullopt (the table's 99).
std::optional<std::array<int, 2>> potsForGainDb(int gainDb);

// ---- Sounder signal ---------------------------------------------------------------

// One propagation path. After de-ramping, a path is a tone whose frequency is
// proportional to its delay: beatCycles cycles per sweep.
struct Path {
    double beatCycles = 0;
    double amplitude = 0;  // volts at the receiver output for a net gain of 0 dB
    double phase = 0;      // radians at the start of a sweep
};

struct ChannelModel {
    std::vector<Path> paths;
    // Receiver noise, rms volts for 0 dB channel gain; it follows the channel gain
    // but not the RF attenuation (it arises after the attenuator).
    double noiseVolts = 0;
};

struct SignalModel {
    std::array<ChannelModel, 3> channels;  // inputs 0, 1, 2
    uint16_t markerHigh = 4000;  // input 3 during the pulse at a sweep start
    uint16_t markerLow = 2000;   // input 3 otherwise
    int markerPulseGroups = 4;   // scan groups the pulse lasts
    int startClock = -1;         // clock within the sweep at which a scan starts; -1 random
};

SignalModel defaultSignalModel();
SignalModel signalModel();
void setSignalModel(const SignalModel& model);
// Volts a channel's sum of paths reaches at most before clipping, at the present
// gain and attenuation (the sum of path amplitudes, scaled). Channel 1..3.
double channelPeakVolts(int channel);

// Seed of the noise and start-phase generator (reset() restores the default).
void setSeed(uint64_t seed);

// ---- Scan data injection ----------------------------------------------------------

// Fills the first `count` samples of a scan, inputs lowChan..highChan repeated.
using ScanSource = std::function<void(uint16_t* samples, int32_t count)>;
// Replaces the sounder for all following scans; an empty function restores it.
void setScanSource(ScanSource source);
void clearScanSource();
// Every sample `code`.
ScanSource constantSource(uint16_t code);
// Groups of four: channels at channelCode, the marker at markerHigh in the listed
// groups and at markerLow elsewhere.
ScanSource markerSource(std::vector<int32_t> markerGroups, uint16_t channelCode = 2048,
                        uint16_t markerHigh = 4000, uint16_t markerLow = 2048);

// ---- Failure injection --------------------------------------------------------------

// The next `times` cbWinBufAlloc calls return 0.
void failNextAlloc(int times = 1);
// The next `times` cbAInScan calls return `code` and leave the buffer alone (code 0
// cancels a pending failure). A failure is injected before the arguments are checked.
void failNextScan(int code, int times = 1);

// ---- Memory blocks and scans ----------------------------------------------------------

// A fresh block holds zeros; a scan writes its first `count` samples only.
int liveBlocks();    // allocated and not freed
int lockedBlocks();  // live and locked at least once more than unlocked
int32_t blockSize(HGLOBAL handle);  // samples, 0 if not a live handle

struct ScanArgs {
    int board = 0;
    int lowChan = 0;
    int highChan = 0;
    int32_t count = 0;
    int32_t rateIn = 0;
    int32_t rateOut = 0;  // written back (the same as rateIn when not written)
    int range = 0;
    HGLOBAL handle = 0;
    int options = 0;
    int result = 0;
};
// Arguments of the last cbAInScan call (made, whatever its result).
std::optional<ScanArgs> lastScan();
int scanCount();

}  // namespace boardsim
