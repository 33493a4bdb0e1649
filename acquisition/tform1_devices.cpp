// The front-end's devices: clock divider, sweep count, RF attenuator, digital
// potentiometers and the clocks-per-sweep read-back. Values the front-end cannot take
// are clamped here, on their way to it; the settings they came from keep theirs.

#include "tform1.h"

#include "frontend_protocol.h"

#include <algorithm>

using namespace frontend;

// Each operation notes in FrontEndSent what it put on the bus, once every board call of
// the write has succeeded, with the values the protocol limited them to.

int TForm1::SetClockDivider(int32_t divider)
{
    const uint16_t code = dividerCode(divider);
    bool sent = false;
    const int result = BusWrite({{AddrDivider, code}}, &sent);
    if (sent)
        FrontEndSent.dividerCode = code;
    return result;
}

int TForm1::SetSweepCount(int32_t count)
{
    const auto bytes = sweepCountBytes(count);
    bool sent = false;
    // One run, low byte first.
    const int result = BusWrite({{AddrSweeps0, bytes[0]}, {AddrSweeps1, bytes[1]}, {AddrSweeps2, bytes[2]}}, &sent);
    if (sent)
        FrontEndSent.sweepCount = int32_t(bytes[0]) | int32_t(bytes[1]) << 8 | int32_t(bytes[2]) << 16;
    return result;
}

void TForm1::SetAttenuation(int32_t index)
{
    const uint16_t code = attenuatorCode(index);
    bool sent = false;
    BusWrite({{AddrAtten, code}}, &sent);
    if (sent) {
        FrontEndSent.attenuationDb = attenuationIndexSent(index);
        FrontEndSent.attenuatorCode = code;
    }
}

void TForm1::SetPot(int32_t pot, int32_t value)
{
    const auto frames = potFrameBytes(pot, value);
    // The last frame ends the transfer; no trailing wait after it.
    bool sent = true;
    for (size_t i = 0; i < frames.size(); ++i)
        sent &= PotFrame(frames[i], i + 1 < frames.size());
    if (sent)
        FrontEndSent.pots[size_t(potSent(pot))] = potValueSent(value);
}

int32_t TForm1::ReadClocksPerSweep()
{
    const uint16_t b0 = BusRead(AddrClocks0);
    const uint16_t b1 = BusRead(AddrClocks1);
    const uint16_t b2 = BusRead(AddrClocks2);
    const int32_t clocks = clocksPerSweep(b0, b1, b2);
    FrontEndSent.clocksPerSweep = clocks;
    return clocks;
}

void TForm1::PulseAddress0()
{
    BusStrobe(AddrPulse);
}
