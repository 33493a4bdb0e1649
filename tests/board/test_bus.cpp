// The simulated front-end decodes the bus as the acquisition program drives it.
#include "sim_control.h"
#include "bus_driver.h"
#include "cbw.h"

#include <gtest/gtest.h>

using boardsim::Fn;
using boardsim::PortCall;
using boardsim::RegisterWrite;
namespace bd = busdriver;

namespace {

class Bus : public ::testing::Test {
protected:
    void SetUp() override
    {
        boardsim::reset();
        bd::configurePorts();
        boardsim::clearTrace();
    }
};

TEST_F(Bus, OnePairWriteLatchesTheRegister)
{
    EXPECT_EQ(bd::busWrite({{3, 1}}), 0);
    const std::vector<PortCall> expected{{Fn::DConfigPort, 0, 10, 1},
                                         {Fn::DOut, 0, 10, 1},
                                         {Fn::DOut, 0, 12, 3},
                                         {Fn::DOut, 0, 12, 15},
                                         {Fn::DConfigPort, 0, 10, 2}};
    EXPECT_EQ(boardsim::portTrace(), expected);
    EXPECT_EQ(boardsim::frontEndRegister(3), 1);
    EXPECT_EQ(boardsim::clockDivider(), 2);
    EXPECT_EQ(boardsim::registerWrites(), (std::vector<RegisterWrite>{{3, 1}}));

    bd::busWrite({{3, 3}});
    EXPECT_EQ(boardsim::clockDivider(), 4);
}

TEST_F(Bus, ThreePairWriteLatchesEachByteAtItsAddress)
{
    bd::busWrite({{4, 150}, {5, 5}, {6, 0}});
    EXPECT_EQ(boardsim::registerWrites(), (std::vector<RegisterWrite>{{4, 150}, {5, 5}, {6, 0}}));
    EXPECT_EQ(boardsim::frontEndRegister(4) + 256 * boardsim::frontEndRegister(5) +
                  65536 * boardsim::frontEndRegister(6),
              1430);
    EXPECT_EQ(boardsim::protocolErrors(), 0);
}

TEST_F(Bus, NothingLatchedWhileTheDataPortIsAnInput)
{
    cbDOut(0, FIRSTPORTA, 9);  // into the latch of an input port
    bd::strobe(7);
    EXPECT_EQ(boardsim::frontEndRegister(7), -1);
    EXPECT_TRUE(boardsim::registerWrites().empty());

    cbDConfigPort(0, FIRSTPORTCL, DIGITALIN);  // released address lines read idle
    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    cbDOut(0, FIRSTPORTCL, 7);
    cbDConfigPort(0, FIRSTPORTA, DIGITALIN);
    EXPECT_EQ(boardsim::frontEndRegister(7), -1);
}

TEST_F(Bus, AttenuatorCodeDecodesToDb)
{
    for (int db : {0, 5, 13, 31}) {
        bd::busWrite({{7, boardsim::attenuatorCodeForDb(db)}});
        EXPECT_EQ(boardsim::attenuationDb(), db);
    }
    bd::busWrite({{7, 3}});
    EXPECT_EQ(boardsim::attenuationDb(), 5) << "code 3 is 5 dB";
}

TEST_F(Bus, ClocksPerSweepReadBack)
{
    EXPECT_EQ(bd::readClocksPerSweep(), 10000);
    boardsim::setClocksPerSweep(0x123456);
    EXPECT_EQ(bd::busRead(8), 0x56);
    EXPECT_EQ(bd::busRead(9), 0x34);
    EXPECT_EQ(bd::busRead(10), 0x12);
    boardsim::setClocksPerSweep(0x7FFFFFFF);
    EXPECT_EQ(bd::readClocksPerSweep(), 0xFFFFFF) << "24 bits";
    EXPECT_EQ(boardsim::portDirection(FIRSTPORTA), DIGITALIN);
    EXPECT_EQ(boardsim::busConflicts(), 0);
}

TEST_F(Bus, PotCommandSetsThePot)
{
    bd::setPot(3, 20);
    EXPECT_EQ(boardsim::potFrameBytes(), (std::vector<int>{0x80, 0x43, 0xA0, 0x43, 0x94, 0x43}));
    EXPECT_EQ(boardsim::potValue(3), 20);
    EXPECT_EQ(boardsim::potValue(2), -1);

    bd::setPot(15, 32);  // value byte 0xA0, like the write byte
    bd::setPot(0, 0);    // value byte 0x80, like the start byte
    EXPECT_EQ(boardsim::potValue(15), 32);
    EXPECT_EQ(boardsim::potValue(0), 0);
    EXPECT_EQ(boardsim::protocolErrors(), 0);
}

TEST_F(Bus, ChannelGainFollowsItsPots)
{
    const double powerOn = boardsim::channelGainDb(2);
    EXPECT_DOUBLE_EQ(powerOn, boardsim::gainDbForPots(16, 16)) << "pots power on at mid-scale";
    bd::setPot(2, 10);
    bd::setPot(3, 29);
    EXPECT_DOUBLE_EQ(boardsim::channelGainDb(2), boardsim::gainDbForPots(10, 29));
    EXPECT_NEAR(boardsim::channelGainDb(2), 30.0, 0.5);
    EXPECT_DOUBLE_EQ(boardsim::channelGainDb(1), powerOn);
}

TEST_F(Bus, MalformedFrameIsCountedAndIgnored)
{
    bd::potFrame(0x80);
    // The byte is still on the lines when the interface is deselected.
    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    cbDOut(0, FIRSTPORTA, 0xC0);
    cbDOut(0, FIRSTPORTCL, 2);
    cbDOut(0, FIRSTPORTA, 0x45);
    cbDOut(0, FIRSTPORTCL, 15);
    cbDConfigPort(0, FIRSTPORTA, DIGITALIN);
    EXPECT_EQ(boardsim::protocolErrors(), 1);
    EXPECT_EQ(boardsim::potFrameBytes(), (std::vector<int>{0x80}));

    // Selected without data: lines not at rest.
    bd::strobe(2);
    EXPECT_EQ(boardsim::protocolErrors(), 2);

    // The broken command left no trace: the rest of it does not set the pot.
    for (int byte : {0xA0, 0x45, 0x90, 0x45})
        bd::potFrame(byte);
    EXPECT_EQ(boardsim::potValue(5), -1);
    EXPECT_GE(boardsim::protocolErrors(), 3);

    const int errors = boardsim::protocolErrors();
    bd::setPot(5, 7);
    EXPECT_EQ(boardsim::potValue(5), 7) << "a complete command after garbage still works";
    EXPECT_EQ(boardsim::protocolErrors(), errors);
}

TEST_F(Bus, MalformedCommandsAreIgnored)
{
    struct Case {
        const char* what;
        std::vector<int> bytes;
    };
    const std::vector<Case> cases{
        {"value above 32", {0x80, 0x44, 0xA0, 0x44, 0xA1, 0x44}},
        {"pot number changes", {0x80, 0x44, 0xA0, 0x45, 0x81, 0x45}},
        {"last pot number differs", {0x80, 0x44, 0xA0, 0x44, 0x81, 0x46}},
        {"no write byte", {0x80, 0x44, 0x44, 0x81, 0x44}},
        {"number byte with bit 4", {0x80, 0x54, 0xA0, 0x54, 0x81, 0x54}},
    };
    for (const Case& c : cases) {
        boardsim::reset();
        bd::configurePorts();
        for (int byte : c.bytes)
            bd::potFrame(byte);
        for (int pot = 0; pot < 16; ++pot)
            EXPECT_EQ(boardsim::potValue(pot), -1) << c.what << ", pot " << pot;
        EXPECT_GE(boardsim::protocolErrors(), 1) << c.what;
    }
}

TEST_F(Bus, StartByteResynchronisesAnInterruptedCommand)
{
    for (int byte : {0x80, 0x41, 0xA0})
        bd::potFrame(byte);
    bd::setPot(6, 12);
    EXPECT_EQ(boardsim::protocolErrors(), 1);
    EXPECT_EQ(boardsim::potValue(6), 12);
    EXPECT_EQ(boardsim::potValue(1), -1);
}

TEST_F(Bus, StrobeOfAddressZeroIsCounted)
{
    EXPECT_EQ(boardsim::strobeCount(), 0);
    bd::strobe(0);
    EXPECT_EQ(boardsim::strobeCount(), 1);
    bd::strobe(1);
    bd::busWrite({{3, 1}});
    EXPECT_EQ(boardsim::strobeCount(), 1);
    bd::strobe(0);
    EXPECT_EQ(boardsim::strobeCount(), 2);
}

}  // namespace
