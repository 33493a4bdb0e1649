#include "settle_clock.h"
#include "settle_wait.h"

#include <chrono>
#include <cmath>
#include <thread>

int64_t SteadySettleClock::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadySettleClock::sleepNs(int64_t ns)
{
    if (ns > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

namespace settle {

int64_t daysToNs(double days)
{
    constexpr double capNs = 100.0 * 365.25 * NsPerDay;
    if (!(days > 0.0))  // also NaN
        return 0;
    const double ns = std::ceil(days * NsPerDay);
    return ns >= capNs ? static_cast<int64_t>(capNs) : static_cast<int64_t>(ns);
}

void waitAtLeast(SettleClock& clock, int64_t ns)
{
    const int64_t start = clock.nowNs();
    for (;;) {
        // Unsigned difference: correct even where the clock's count wraps.
        const auto elapsed =
            static_cast<int64_t>(static_cast<uint64_t>(clock.nowNs()) - static_cast<uint64_t>(start));
        const int64_t remaining = ns - elapsed;
        if (remaining <= 0)
            return;
        if (remaining > SpinNs)
            clock.sleepNs(remaining - SpinNs);
    }
}

}  // namespace settle
