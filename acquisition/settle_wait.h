#pragma once
// The bus settle wait on a monotonic clock: the interval is given in days, as the
// front-end's timing has always been expressed.

#include <cstdint>

class SettleClock;

namespace settle {

inline constexpr double NsPerDay = 86400.0 * 1e9;
// Below this much remaining time the wait spins on the clock instead of sleeping, so
// a late wake-up of the scheduler does not stretch the interval.
inline constexpr int64_t SpinNs = 1'000'000;

// Nanoseconds of an interval in days, rounded up so the wait is never shorter than
// asked. Negative or NaN intervals give 0; absurdly long ones are capped (about a
// century) so the arithmetic cannot overflow.
int64_t daysToNs(double days);

// Returns once at least `ns` has elapsed on the clock since the call: sleeps most of
// the time and reads the clock in a tight loop for the last part.
void waitAtLeast(SettleClock& clock, int64_t ns);

}  // namespace settle
