#pragma once
// One blocking analog scan as a comedi command: channels low..high at the -5..5 V
// range against ground, paced by the external scan clock or by the driver's timer,
// read from the device until every sample is in or the time limit has passed.

#include <comedilib.h>

#include <cstdint>

namespace boardcomedi {

struct ScanRequest {
    unsigned subdevice = 0;
    int low = 0;
    int high = 0;
    int32_t count = 0;           // samples, all channels together
    int32_t scansPerSecond = 0;  // the requested rate: the timer's, or the clock expected
    bool externalClock = false;
    int64_t allowanceMs = 10'000;  // beyond the expected duration
};

// Fills out[0..count) with 12-bit codes. Returns CBW_NOERRORS, or a CBW_ code after a
// line on stderr. For a timed scan *timerRate receives the rate the driver chose.
int runScan(comedi_t* device, const ScanRequest& request, uint16_t* out, int32_t* timerRate);

}  // namespace boardcomedi
