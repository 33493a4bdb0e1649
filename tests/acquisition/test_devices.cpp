// Front-end device encodings, and the device operations as the simulated front-end
// decodes them.

#include "form_fixture.h"
#include "frontend_protocol.h"

#include <vector>

using boardsim::RegisterWrite;

// ---- Encodings ----------------------------------------------------------------------

TEST(FrontendEncodingTest, DividerCodeIsDividerMinusOneWithinItsLimits)
{
    EXPECT_EQ(frontend::dividerCode(2), 1);
    EXPECT_EQ(frontend::dividerCode(4), 3);
    EXPECT_EQ(frontend::dividerCode(1), 0);
    EXPECT_EQ(frontend::dividerCode(0), 0);
    EXPECT_EQ(frontend::dividerCode(-7), 0);
    EXPECT_EQ(frontend::dividerCode(255), 254);
    EXPECT_EQ(frontend::dividerCode(256), 254);
    EXPECT_EQ(frontend::dividerCode(1000), 254);
    EXPECT_EQ(frontend::dividerCode(INT32_MIN), 0);
    EXPECT_EQ(frontend::dividerCode(INT32_MAX), 254);
}

TEST(FrontendEncodingTest, SweepCountIsThreeBytesLowFirstWithinItsLimits)
{
    using B = std::array<uint16_t, 3>;
    EXPECT_EQ(frontend::sweepCountBytes(100), (B{100, 0, 0}));
    EXPECT_EQ(frontend::sweepCountBytes(1430), (B{150, 5, 0}));
    EXPECT_EQ(frontend::sweepCountBytes(2860), (B{44, 11, 0}));
    EXPECT_EQ(frontend::sweepCountBytes(262143), (B{255, 255, 3}));
    EXPECT_EQ(frontend::sweepCountBytes(300000), (B{255, 255, 3}));
    EXPECT_EQ(frontend::sweepCountBytes(INT32_MAX), (B{255, 255, 3}));
    EXPECT_EQ(frontend::sweepCountBytes(0), (B{1, 0, 0}));
    EXPECT_EQ(frontend::sweepCountBytes(-5), (B{1, 0, 0}));
    EXPECT_EQ(frontend::sweepCountBytes(65536 + 256 + 1), (B{1, 1, 1}));
}

TEST(FrontendEncodingTest, AttenuatorCodesMoveTheLowThreeIndexBits)
{
    // Index bit 0 -> code bit 1, bit 1 -> bit 2, bit 2 -> bit 0; bits 3, 4 stay.
    for (int i = 0; i < 32; ++i) {
        const int expected = (i & 0x18) | ((i & 1) << 1) | ((i & 2) << 1) | ((i & 4) >> 2);
        EXPECT_EQ(frontend::attenuatorCode(i), expected) << i;
    }
    // The simulated attenuator decodes each code back to its attenuation.
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(boardsim::attenuationDbForCode(frontend::attenuatorCode(i)), i) << i;
    EXPECT_EQ(frontend::attenuatorCode(5), 3);
    EXPECT_EQ(frontend::attenuatorCode(-3), 0);
    EXPECT_EQ(frontend::attenuatorCode(40), 31);
}

TEST(FrontendEncodingTest, PotFramesNameThePotThreeTimesAroundTheValue)
{
    using B = std::array<uint16_t, 6>;
    EXPECT_EQ(frontend::potFrameBytes(3, 20), (B{0x80, 0x43, 0xA0, 0x43, 0x94, 0x43}));
    EXPECT_EQ(frontend::potFrameBytes(20, 99), (B{0x80, 0x4F, 0xA0, 0x4F, 0xA0, 0x4F}));
    EXPECT_EQ(frontend::potFrameBytes(-1, -4), (B{0x80, 0x40, 0xA0, 0x40, 0x80, 0x40}));
    EXPECT_EQ(frontend::potFrameBytes(15, 32), (B{0x80, 0x4F, 0xA0, 0x4F, 0xA0, 0x4F}));
}

TEST(FrontendEncodingTest, ClocksPerSweepJoinsThreeBytesLowFirst)
{
    EXPECT_EQ(frontend::clocksPerSweep(0x10, 0x27, 0x00), 10000);
    EXPECT_EQ(frontend::clocksPerSweep(0xFF, 0xFF, 0xFF), 16777215);
    // Only the 8 data lines count.
    EXPECT_EQ(frontend::clocksPerSweep(0x101, 0x200, 0x300), 1);
}

// ---- Device operations on the simulated front-end ---------------------------------

class DeviceTest : public fixture::FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        start();
        boardsim::clearTrace();
        writesBefore = boardsim::registerWrites().size();
        framesBefore = boardsim::potFrameBytes().size();
        t0 = clock.peekNs();
    }

    std::vector<RegisterWrite> newWrites() const
    {
        const auto& all = boardsim::registerWrites();
        return {all.begin() + static_cast<long>(writesBefore), all.end()};
    }
    std::vector<int> newFrames() const
    {
        const auto& all = boardsim::potFrameBytes();
        return {all.begin() + static_cast<long>(framesBefore), all.end()};
    }

    size_t writesBefore = 0;
    size_t framesBefore = 0;
    int64_t t0 = 0;
};

TEST_F(DeviceTest, ClockDividerIsOneWriteReturningTheFinalPortResult)
{
    EXPECT_EQ(form->SetClockDivider(4), 0);
    EXPECT_EQ(form->SetClockDivider(1000), 0);
    EXPECT_EQ(newWrites(), (std::vector<RegisterWrite>{{3, 3}, {3, 254}}));
    EXPECT_EQ(intervalsSince(t0), 2);
    EXPECT_EQ(boardsim::clockDivider(), 255);
    EXPECT_EQ(boardsim::portTrace().back(), (boardsim::PortCall{boardsim::Fn::DConfigPort, 0, 10, DIGITALIN}));
}

TEST_F(DeviceTest, SweepCountIsOneThreePairWrite)
{
    EXPECT_EQ(form->SetSweepCount(300000), 0);
    EXPECT_EQ(newWrites(), (std::vector<RegisterWrite>{{4, 255}, {5, 255}, {6, 3}}));
    EXPECT_EQ(intervalsSince(t0), 3);
    // One turn-around of the data port for all three bytes.
    int configs = 0;
    for (const auto& call : boardsim::portTrace())
        configs += call.fn == boardsim::Fn::DConfigPort;
    EXPECT_EQ(configs, 2);
}

TEST_F(DeviceTest, AttenuationWritesTheCodeOfTheClampedIndex)
{
    form->SetAttenuation(5);
    form->SetAttenuation(-3);
    form->SetAttenuation(40);
    EXPECT_EQ(newWrites(), (std::vector<RegisterWrite>{{7, 3}, {7, 0}, {7, 31}}));
    EXPECT_DOUBLE_EQ(boardsim::attenuationDb(), 31.0);
    EXPECT_EQ(intervalsSince(t0), 3);
}

TEST_F(DeviceTest, PotIsSixFramesInTwentyNineIntervals)
{
    form->SetPot(3, 20);
    EXPECT_EQ(newFrames(), (std::vector<int>{0x80, 0x43, 0xA0, 0x43, 0x94, 0x43}));
    EXPECT_EQ(boardsim::potValue(3), 20);
    EXPECT_EQ(intervalsSince(t0), 29);
    EXPECT_EQ(boardsim::protocolErrors(), 0);

    form->SetPot(20, 99);  // pot 15, value 32
    EXPECT_EQ(boardsim::potValue(15), 32);
    EXPECT_EQ(boardsim::portDirection(FIRSTPORTA), DIGITALIN);
}

TEST_F(DeviceTest, ClocksPerSweepReadsThreeBytesInTwelveIntervals)
{
    boardsim::setClocksPerSweep(10000);
    EXPECT_EQ(form->ReadClocksPerSweep(), 10000);
    EXPECT_EQ(intervalsSince(t0), 12);
    std::vector<int> selected;
    for (const auto& call : boardsim::portTrace())
        if (call.fn == boardsim::Fn::DOut && call.value != 15)
            selected.push_back(call.value);
    EXPECT_EQ(selected, (std::vector<int>{8, 9, 10}));

    boardsim::setClocksPerSweep(16777215);
    EXPECT_EQ(form->ReadClocksPerSweep(), 16777215);
    // Nothing was written on the way.
    EXPECT_TRUE(newWrites().empty());
}

TEST_F(DeviceTest, PulseStrobesAddressZeroOnce)
{
    const int before = boardsim::strobeCount();
    form->PulseAddress0();
    EXPECT_EQ(boardsim::strobeCount(), before + 1);
    EXPECT_EQ(intervalsSince(t0), 1);
    EXPECT_TRUE(newWrites().empty());
}
