#pragma once
// The sounder front-end as seen from the bus: it watches the address lines and the
// data lines and reacts to what the board shows on them. A write register latches the
// byte on the data lines while its address is selected and the board drives the data
// port; the clocks-per-sweep registers drive the data lines while selected; the
// potentiometer interface decodes frames and frame sequences; address 0 is a strobe.

#include "sim_control.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace boardsim {

namespace bus {
constexpr int kAddrPulse = 0;
constexpr int kAddrPot = 2;
constexpr int kAddrDivider = 3;
constexpr int kAddrSweeps0 = 4;
constexpr int kAddrSweeps2 = 6;
constexpr int kAddrAtten = 7;
constexpr int kAddrClocks0 = 8;
constexpr int kAddrClocks2 = 10;
constexpr int kAddrIdle = 15;

constexpr int kPotRest = 0xC0;        // lines of the pot interface between frame bytes
constexpr int kPotStart = 0x80;       // first byte of a command
constexpr int kPotWrite = 0xA0;       // third byte: write the wiper
constexpr int kPotNumberTag = 0x40;   // 0x40 + pot number
constexpr int kPotValueTag = 0x80;    // 0x80 + value
}  // namespace bus

class FrontEnd {
public:
    FrontEnd() { reset(); }
    void reset();

    // The board's side of the bus after any port change: the address lines (15 when
    // the address port is not driven), whether the board drives the data lines, and
    // the byte it drives.
    void busChanged(int address, bool dataDriven, uint8_t data);
    // What the front-end drives on the data lines, if anything.
    std::optional<uint8_t> drivenData() const;

    void setClocksPerSweep(int32_t clocks) { clocks_ = clocks & 0xFFFFFF; }
    int32_t clocksPerSweep() const { return clocks_; }

    int reg(int address) const;
    const std::vector<RegisterWrite>& registerWrites() const { return writes_; }
    const std::vector<int>& potFrameBytes() const { return frameBytes_; }
    int potValue(int pot) const;
    int strobeCount() const { return strobes_; }
    int protocolErrors() const { return protocolErrors_; }
    int busConflicts() const { return busConflicts_; }

    // Values in effect, power-on defaults where nothing was written.
    int divider() const;
    int attenuatorCode() const;
    int potSetting(int pot) const;  // 16 (mid-scale) when never set

private:
    void beginCycle();
    void duringCycle(bool driven, uint8_t data);
    void endCycle();
    void potFrame(int byte);
    void potSequenceError(int byte);

    int32_t clocks_ = 0;
    std::array<int, 16> regs_{};
    std::array<int, 16> pots_{};
    std::vector<RegisterWrite> writes_;
    std::vector<int> frameBytes_;
    int strobes_ = 0;
    int protocolErrors_ = 0;
    int busConflicts_ = 0;

    // The bus as last seen.
    int address_ = bus::kAddrIdle;
    bool driven_ = false;
    uint8_t data_ = 0;

    // The cycle of the selected address.
    bool cycleLatched_ = false;          // write register: a driven byte was seen
    uint8_t cycleByte_ = 0;
    bool cycleUndriven_ = false;         // pot interface: lines released mid-frame
    std::vector<int> cycleLines_;        // pot interface: successive line values

    // Potentiometer command decoding: which byte of the six comes next.
    int potStep_ = 0;
    int potNumber_ = 0;
    int potValuePending_ = 0;
};

}  // namespace boardsim
