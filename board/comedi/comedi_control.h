#pragma once
// What tests of the comedi board library may change beyond the board API. The program
// never calls these.

#include <chrono>

namespace boardcomedi {

// Closes the device and forgets what was found on it and every port's state, so the
// next board call opens the device again (memory blocks stay).
void closeDevice();

// How long a scan may wait beyond its expected duration before it is given up (for a
// clock that never arrives): 10 s unless a test shortens it.
void setClockAllowance(std::chrono::milliseconds allowance);
std::chrono::milliseconds clockAllowance();

}  // namespace boardcomedi
