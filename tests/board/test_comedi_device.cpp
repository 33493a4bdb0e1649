// The shipped comedi board library on a real device: where /dev/comedi0 is the
// kernel's comedi_test driver (no digital port, no external clock), a timed scan of
// its simulated inputs. Elsewhere the test reports itself skipped.

#include "cbw.h"

#include <comedilib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr const char* kDevice = "/dev/comedi0";

TEST(ComediDevice, TimedScanOnTheComediTestDriver)
{
    comedi_t* device = comedi_open(kDevice);
    if (!device)
        GTEST_SKIP() << kDevice << " cannot be opened here: " << comedi_strerror(comedi_errno());
    const char* driver = comedi_get_driver_name(device);
    const std::string name = driver ? driver : "";
    comedi_close(device);
    if (name != "comedi_test")
        GTEST_SKIP() << kDevice << " is driven by " << name << ", not comedi_test";

    constexpr int32_t count = 4000;
    const HGLOBAL handle = cbWinBufAlloc(count);
    ASSERT_NE(handle, 0);
    auto* samples = static_cast<uint16_t*>(GlobalLock(handle));
    int32_t rate = 10'000;
    ASSERT_EQ(cbAInScan(0, 0, 3, count, &rate, BIP5VOLTS, handle, 0), CBW_NOERRORS);
    EXPECT_GT(rate, 0);
    EXPECT_TRUE(std::all_of(samples, samples + count, [](uint16_t code) { return code <= 4095; }));
    // The driver's inputs are waveforms: not every code is the same.
    EXPECT_NE(*std::min_element(samples, samples + count), *std::max_element(samples, samples + count));
    GlobalUnlock(handle);
    cbWinBufFree(handle);
}

}  // namespace
