#pragma once
// Captures through the board library as the acquisition program does, and the front-end
// settings it programs, for the signal tests.

#include "sim_control.h"
#include "bus_driver.h"
#include "cbw.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace scanhelp {

// One blocking scan of inputs 0..3 into a fresh block, returned as a copy.
inline std::vector<uint16_t> scan(int32_t count)
{
    const HGLOBAL h = cbWinBufAlloc(2 * count);
    auto* samples = static_cast<uint16_t*>(GlobalLock(h));
    int32_t rate = 5'000'000;
    std::vector<uint16_t> out;
    if (samples && cbAInScan(0, 0, 3, count, &rate, BIP5VOLTS, h, EXTCLOCK) == 0)
        out.assign(samples, samples + count);
    GlobalUnlock(h);
    cbWinBufFree(h);
    return out;
}

inline double volts(uint16_t code) { return (code - 2048.0) / 2048.0 * 5.0; }

// Offset of the first group whose marker exceeds the threshold, -1 if none.
inline int32_t sweepStart(const std::vector<uint16_t>& s, int threshold = 3000)
{
    for (size_t o = 0; o + 3 < s.size(); o += 4)
        if (s[o + 3] > threshold)
            return static_cast<int32_t>(o);
    return -1;
}

// Groups at which the marker rises above the threshold (a scan that starts inside a
// pulse has no edge there).
inline std::vector<int32_t> markerEdges(const std::vector<uint16_t>& s, int threshold = 3000)
{
    std::vector<int32_t> edges;
    bool high = s.size() > 3 && s[3] > threshold;
    for (size_t o = 0; o + 3 < s.size(); o += 4) {
        const bool now = s[o + 3] > threshold;
        if (now && !high)
            edges.push_back(static_cast<int32_t>(o / 4));
        high = now;
    }
    return edges;
}

inline void setDivider(int divider) { busdriver::busWrite({{3, divider - 1}}); }
inline void setAttenuation(int db) { busdriver::busWrite({{7, boardsim::attenuatorCodeForDb(std::clamp(db, 0, 31))}}); }

// Both pots of a channel from the model's table, stepping down past unset rows.
inline void setChannelGain(int channel, int db)
{
    db = std::clamp(db, 3, 70);
    auto pots = boardsim::potsForGainDb(db);
    while (!pots && db > 3)
        pots = boardsim::potsForGainDb(--db);
    if (!pots)
        return;
    busdriver::setPot(2 * channel - 2, (*pots)[0]);
    busdriver::setPot(2 * channel - 1, (*pots)[1]);
}

}  // namespace scanhelp
