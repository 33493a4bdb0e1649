#pragma once
// Drives the front-end bus through the board library with the same port calls, in the
// same order, as the acquisition program's bus primitives (minus the settle waits, which
// the simulated front-end does not time).

#include "cbw.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace busdriver {

constexpr int kIdle = 15;

// Start-up: data port input, port B output, port CH input, address port output at idle.
inline void configurePorts()
{
    cbDConfigPort(0, FIRSTPORTA, DIGITALIN);
    cbDConfigPort(0, FIRSTPORTB, DIGITALOUT);
    cbDConfigPort(0, FIRSTPORTCH, DIGITALIN);
    cbDConfigPort(0, FIRSTPORTCL, DIGITALOUT);
    cbDOut(0, FIRSTPORTCL, kIdle);
}

inline int busWrite(const std::vector<std::pair<int, int>>& pairs)
{
    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    for (auto [address, byte] : pairs) {
        cbDOut(0, FIRSTPORTA, static_cast<uint16_t>(byte));
        cbDOut(0, FIRSTPORTCL, static_cast<uint16_t>(address));
        cbDOut(0, FIRSTPORTCL, kIdle);
    }
    return cbDConfigPort(0, FIRSTPORTA, DIGITALIN);
}

inline int busRead(int address)
{
    cbDOut(0, FIRSTPORTCL, static_cast<uint16_t>(address));
    uint16_t word = 0;
    cbDIn(0, FIRSTPORTA, &word);
    cbDOut(0, FIRSTPORTCL, kIdle);
    return word;
}

inline void potFrame(int byte)
{
    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    cbDOut(0, FIRSTPORTA, 0xC0);
    cbDOut(0, FIRSTPORTCL, 2);
    cbDOut(0, FIRSTPORTA, static_cast<uint16_t>(byte));
    cbDOut(0, FIRSTPORTA, 0xC0);
    cbDOut(0, FIRSTPORTCL, kIdle);
    cbDConfigPort(0, FIRSTPORTA, DIGITALIN);
}

inline void setPot(int pot, int value)
{
    for (int byte : {0x80, 0x40 + pot, 0xA0, 0x40 + pot, 0x80 + value, 0x40 + pot})
        potFrame(byte);
}

inline void strobe(int address)
{
    cbDOut(0, FIRSTPORTCL, static_cast<uint16_t>(address));
    cbDOut(0, FIRSTPORTCL, kIdle);
}

inline int readClocksPerSweep() { return busRead(8) + 256 * busRead(9) + 65536 * busRead(10); }

}  // namespace busdriver
