#pragma once
// The sounder front-end's bus protocol: which board ports form the bus, the register
// address map, and the byte encodings of every value the front-end takes or reports.
// Pure data and functions; the form's bus and device methods sequence them.

#include "cbw.h"

#include <array>
#include <cstdint>

namespace frontend {

// ---- The bus on the board's digital ports -------------------------------------------
// 8 data lines: an input at rest, an output only while a write is under way, so the
// front-end can drive them for reads.
inline constexpr int DataPort = FIRSTPORTA;
// 4 address lines, always an output; the rest value selects nothing.
inline constexpr int AddressPort = FIRSTPORTCL;
// Configured at start-up, never used by the bus.
inline constexpr int SparePortOut = FIRSTPORTB;
inline constexpr int SparePortIn = FIRSTPORTCH;

// ---- Register addresses ---------------------------------------------------------------
inline constexpr uint16_t AddrPulse = 0;    // strobed once at start-up
inline constexpr uint16_t AddrPot = 2;      // digital potentiometer interface
inline constexpr uint16_t AddrDivider = 3;  // sampling clock divider
inline constexpr uint16_t AddrSweeps0 = 4;  // sweep count, low byte
inline constexpr uint16_t AddrSweeps1 = 5;  // sweep count, middle byte
inline constexpr uint16_t AddrSweeps2 = 6;  // sweep count, high byte
inline constexpr uint16_t AddrAtten = 7;    // RF attenuator
inline constexpr uint16_t AddrClocks0 = 8;  // clocks per sweep, low byte (read)
inline constexpr uint16_t AddrClocks1 = 9;  // clocks per sweep, middle byte (read)
inline constexpr uint16_t AddrClocks2 = 10; // clocks per sweep, high byte (read)
inline constexpr uint16_t AddrIdle = 15;    // nothing selected: the address port's rest value

// ---- Potentiometer frames ---------------------------------------------------------------
// While the potentiometer interface is selected the data lines rest with bits 7 and 6
// high; each frame carries its byte for one interval in between.
inline constexpr uint16_t PotFrameRest = 0xC0;
// Bytes naming a potentiometer: bit 7 low, bit 6 high, number in bits 0..3.
inline constexpr uint16_t PotSelectMark = 0x40;
// Command and value bytes: bit 7 high, bit 6 low, payload in bits 0..5.
inline constexpr uint16_t PotCommandMark = 0x80;
inline constexpr uint16_t PotWriteCommand = 0xA0;

// ---- Value ranges at the front-end --------------------------------------------------------
inline constexpr int32_t MaxDividerCode = 254;
inline constexpr int32_t MinSweepCount = 1;
inline constexpr int32_t MaxSweepCount = 262143;  // 18 bits
inline constexpr int32_t MaxAttenIndex = 31;
inline constexpr int32_t MaxPot = 15;
inline constexpr int32_t MaxPotValue = 32;  // 33 settings

// Attenuator codes by attenuation in dB: index bits 3 and 4 stay in place, index bit 0
// goes to code bit 1, bit 1 to code bit 2 and bit 2 to code bit 0.
inline constexpr std::array<uint16_t, 32> AttenCode = {
    0,  2,  4,  6,  1,  3,  5,  7,  8,  10, 12, 14, 9,  11, 13, 15,
    16, 18, 20, 22, 17, 19, 21, 23, 24, 26, 28, 30, 25, 27, 29, 31,
};

// Divider code: divider - 1, with dividers below 1 giving 0 and above 255 giving 254.
uint16_t dividerCode(int32_t divider);

// Sweep count limited to 1..262143, as (low, middle, high) bytes.
std::array<uint16_t, 3> sweepCountBytes(int32_t count);

// The values the devices take: an attenuation index limited to 0..31, a potentiometer
// number to 0..15, a potentiometer value to 0..32. The one place of these limits: the
// codes below and the record of what was sent both use them.
int32_t attenuationIndexSent(int32_t index);
int32_t potSent(int32_t pot);
int32_t potValueSent(int32_t value);

// Attenuator code of an attenuation index limited to 0..31.
uint16_t attenuatorCode(int32_t index);

// The six frame bytes that program potentiometer `pot` (limited to 0..15) with
// `value` (limited to 0..32).
std::array<uint16_t, 6> potFrameBytes(int32_t pot, int32_t value);

// Clocks per sweep from the three bytes read at addresses 8, 9 and 10.
int32_t clocksPerSweep(uint16_t low, uint16_t middle, uint16_t high);

}  // namespace frontend
