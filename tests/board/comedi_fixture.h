#pragma once
// A fresh fake comedi device and a board library that opens it anew, for each test.

#include "cbw.h"
#include "comedi_control.h"
#include "fake_comedi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

class ComediBoardTest : public ::testing::Test {
protected:
    void SetUp() override { useDevice({}); }

    void TearDown() override
    {
        boardcomedi::closeDevice();
        boardcomedi::setClockAllowance(std::chrono::seconds(10));
        unsetenv("SOUNDER_COMEDI_DEVICE");
    }

    // Starts over with this device; the library opens it on its next call.
    void useDevice(const fakecomedi::Config& config)
    {
        boardcomedi::closeDevice();
        fakecomedi::reset(config);
    }

    // Runs `calls` and returns what they wrote on stderr.
    template <class Calls>
    static std::string stderrOf(Calls calls)
    {
        ::testing::internal::CaptureStderr();
        calls();
        return ::testing::internal::GetCapturedStderr();
    }
};
