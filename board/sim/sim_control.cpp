// The test-facing control interface over the one simulated board.
#include "sim_control.h"

#include "simulated_board.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace boardsim {

void reset() { simBoard().reset(); }

const std::string& boardFailure() { return simBoard().failure(); }
void setBoardFailure(const std::string& text) { simBoard().setFailure(text); }

const std::vector<Call>& trace() { return simBoard().trace(); }

std::vector<PortCall> portTrace()
{
    std::vector<PortCall> out;
    for (const Call& c : simBoard().trace())
        if (c.fn == Fn::DConfigPort || c.fn == Fn::DOut || c.fn == Fn::DIn)
            out.push_back({c.fn, c.board, c.port, c.value});
    return out;
}

void clearTrace() { simBoard().clearTrace(); }

std::string toString(Fn fn)
{
    switch (fn) {
    case Fn::DConfigPort: return "cbDConfigPort";
    case Fn::DOut: return "cbDOut";
    case Fn::DIn: return "cbDIn";
    case Fn::AInScan: return "cbAInScan";
    case Fn::WinBufAlloc: return "cbWinBufAlloc";
    case Fn::WinBufFree: return "cbWinBufFree";
    case Fn::GlobalLock: return "GlobalLock";
    case Fn::GlobalUnlock: return "GlobalUnlock";
    }
    return "?";
}

std::string toString(const Call& c)
{
    std::ostringstream s;
    s << toString(c.fn) << '(';
    switch (c.fn) {
    case Fn::DConfigPort:
    case Fn::DOut:
        s << c.board << ", " << c.port << ", " << c.value;
        break;
    case Fn::DIn:
        s << c.board << ", " << c.port << ") read " << c.value << " (";
        break;
    case Fn::AInScan:
        s << c.board << ", " << c.lowChan << ", " << c.highChan << ", " << c.count << ", rate " << c.rate << ", "
          << c.range << ", handle " << c.handle << ", " << c.options;
        break;
    case Fn::WinBufAlloc:
        s << c.count << ") -> " << c.handle << " (";
        break;
    case Fn::WinBufFree:
    case Fn::GlobalLock:
    case Fn::GlobalUnlock:
        s << c.handle << " of " << c.count;
        break;
    }
    s << ") = " << c.result;
    return s.str();
}

std::string toString(const PortCall& c)
{
    std::ostringstream s;
    s << toString(c.fn) << '(' << c.board << ", " << c.port << ", " << c.value << ')';
    return s.str();
}

void PrintTo(const Call& call, std::ostream* os) { *os << toString(call); }
void PrintTo(const PortCall& call, std::ostream* os) { *os << toString(call); }

int portDirection(int port) { return simBoard().portDirection(port); }
uint16_t portLatch(int port) { return simBoard().portLatch(port); }

int frontEndRegister(int address) { return simBoard().frontEnd().reg(address); }
const std::vector<RegisterWrite>& registerWrites() { return simBoard().frontEnd().registerWrites(); }
const std::vector<int>& potFrameBytes() { return simBoard().frontEnd().potFrameBytes(); }
int potValue(int pot) { return simBoard().frontEnd().potValue(pot); }
int strobeCount() { return simBoard().frontEnd().strobeCount(); }
int protocolErrors() { return simBoard().frontEnd().protocolErrors(); }
int busConflicts() { return simBoard().frontEnd().busConflicts(); }
void setClocksPerSweep(int32_t clocks) { simBoard().frontEnd().setClocksPerSweep(clocks); }
int32_t clocksPerSweep() { return simBoard().frontEnd().clocksPerSweep(); }

int clockDivider() { return simBoard().frontEnd().divider(); }
double attenuationDb() { return simBoard().conditions().attenuationDb; }

double channelGainDb(int channel)
{
    if (channel < 1 || channel > 8)
        return 0;
    const FrontEnd& fe = simBoard().frontEnd();
    return gainDbForPots(fe.potSetting(2 * channel - 2), fe.potSetting(2 * channel - 1));
}

SignalModel signalModel() { return simBoard().sounder().model(); }
void setSignalModel(const SignalModel& model) { simBoard().sounder().setModel(model); }
double channelPeakVolts(int channel) { return simBoard().sounder().peakVolts(channel, simBoard().conditions()); }
void setSeed(uint64_t seed) { simBoard().sounder().setSeed(seed); }

void setScanSource(ScanSource source) { simBoard().setScanSource(std::move(source)); }
void clearScanSource() { simBoard().setScanSource(nullptr); }

ScanSource constantSource(uint16_t code)
{
    return [code](uint16_t* samples, int32_t count) { std::fill_n(samples, count, code); };
}

ScanSource markerSource(std::vector<int32_t> markerGroups, uint16_t channelCode, uint16_t markerHigh,
                        uint16_t markerLow)
{
    return [groups = std::move(markerGroups), channelCode, markerHigh, markerLow](uint16_t* samples, int32_t count) {
        for (int32_t i = 0; i < count; ++i)
            samples[i] = i % 4 == 3 ? markerLow : channelCode;
        for (int32_t g : groups)
            if (g >= 0 && g < count / 4)
                samples[4 * g + 3] = markerHigh;
    };
}

void failNextAlloc(int times) { simBoard().failNextAlloc(times); }
void failNextScan(int code, int times) { simBoard().failNextScan(code, times); }

int liveBlocks() { return simBoard().liveBlocks(); }
int lockedBlocks() { return simBoard().lockedBlocks(); }
int32_t blockSize(HGLOBAL handle) { return simBoard().blockSize(handle); }
std::optional<ScanArgs> lastScan() { return simBoard().lastScan(); }
int scanCount() { return simBoard().scanCount(); }

}  // namespace boardsim
