// Digital ports of the simulated board: directions, latches, what cbDIn delivers, the
// error codes of bad arguments and the call trace.
#include "sim_control.h"
#include "bus_driver.h"
#include "cbw.h"

#include <gtest/gtest.h>

using boardsim::Fn;
using boardsim::PortCall;

namespace {

class Ports : public ::testing::Test {
protected:
    void SetUp() override { boardsim::reset(); }
};

TEST_F(Ports, PowerOnAllInputsWithLatchesHigh)
{
    for (int port : {FIRSTPORTA, FIRSTPORTB})
        EXPECT_EQ(boardsim::portLatch(port), 0xFF) << port;
    for (int port : {FIRSTPORTCL, FIRSTPORTCH})
        EXPECT_EQ(boardsim::portLatch(port), 0x0F) << port;
    for (int port : {FIRSTPORTA, FIRSTPORTB, FIRSTPORTCL, FIRSTPORTCH})
        EXPECT_EQ(boardsim::portDirection(port), DIGITALIN) << port;
    EXPECT_EQ(boardsim::portDirection(14), 0);
}

TEST_F(Ports, TurningTheAddressPortToOutputSelectsNothing)
{
    busdriver::configurePorts();
    EXPECT_EQ(boardsim::strobeCount(), 0);
    EXPECT_EQ(boardsim::protocolErrors(), 0);
    EXPECT_TRUE(boardsim::registerWrites().empty());
}

TEST_F(Ports, DirectionAndLatchFollowCalls)
{
    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTB, DIGITALOUT), 0);
    EXPECT_EQ(cbDOut(0, FIRSTPORTB, 0x5A), 0);
    EXPECT_EQ(boardsim::portDirection(FIRSTPORTB), DIGITALOUT);
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTB), 0x5A);

    uint16_t word = 0;
    EXPECT_EQ(cbDIn(0, FIRSTPORTB, &word), 0);
    EXPECT_EQ(word, 0x5A) << "an output port reads back its latch";

    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTB, DIGITALIN), 0);
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTB), 0x5A) << "the latch survives a direction change";
    EXPECT_EQ(cbDIn(0, FIRSTPORTB, &word), 0);
    EXPECT_EQ(word, 0xFF) << "nothing drives port B: pull-ups";
    EXPECT_EQ(cbDIn(0, FIRSTPORTCH, &word), 0);
    EXPECT_EQ(word, 0x0F) << "a 4-bit port";
}

TEST_F(Ports, DataPortReadsFrontEndWhileInputAndLatchWhileOutput)
{
    busdriver::configurePorts();
    EXPECT_EQ(busdriver::busRead(8), 10000 & 0xFF);
    EXPECT_EQ(busdriver::busRead(15), 0xFF) << "no register drives the lines at idle";

    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    cbDOut(0, FIRSTPORTA, 0x33);
    cbDOut(0, FIRSTPORTCL, 8);
    uint16_t word = 0;
    cbDIn(0, FIRSTPORTA, &word);
    EXPECT_EQ(word, 0x33);
    EXPECT_EQ(boardsim::busConflicts(), 1) << "board and front-end both drove the lines";
}

TEST_F(Ports, BadArgumentsFailAndChangeNothing)
{
    uint16_t word = 7;
    EXPECT_EQ(cbDConfigPort(1, FIRSTPORTA, DIGITALOUT), CBW_BADBOARD);
    EXPECT_EQ(cbDConfigPort(0, 9, DIGITALOUT), CBW_BADPORTNUM);
    EXPECT_EQ(cbDConfigPort(0, 14, DIGITALOUT), CBW_BADPORTNUM);
    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, 0), CBW_BADDIRECTION);
    EXPECT_EQ(cbDConfigPort(0, FIRSTPORTA, 3), CBW_BADDIRECTION);
    EXPECT_EQ(boardsim::portDirection(FIRSTPORTA), DIGITALIN);

    EXPECT_EQ(cbDOut(-1, FIRSTPORTA, 1), CBW_BADBOARD);
    EXPECT_EQ(cbDOut(0, 0, 1), CBW_BADPORTNUM);
    EXPECT_EQ(cbDOut(0, FIRSTPORTA, 256), CBW_BADPORTVALUE);
    EXPECT_EQ(cbDOut(0, FIRSTPORTCL, 16), CBW_BADPORTVALUE);
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTA), 0xFF);
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTCL), 0x0F);

    EXPECT_EQ(cbDIn(2, FIRSTPORTA, &word), CBW_BADBOARD);
    EXPECT_EQ(cbDIn(0, 20, &word), CBW_BADPORTNUM);
    EXPECT_EQ(word, 7) << "a failed read leaves the word alone";
    EXPECT_EQ(cbDIn(0, FIRSTPORTA, nullptr), CBW_NULLPOINTER);
}

TEST_F(Ports, TraceRecordsEveryCallInOrderWithResults)
{
    uint16_t word = 0;
    cbDConfigPort(0, FIRSTPORTA, DIGITALOUT);
    cbDOut(0, FIRSTPORTA, 1);
    cbDOut(0, FIRSTPORTCL, 3);
    cbDIn(0, FIRSTPORTA, &word);
    cbDOut(3, FIRSTPORTCL, 15);

    const std::vector<PortCall> expected{{Fn::DConfigPort, 0, FIRSTPORTA, DIGITALOUT},
                                         {Fn::DOut, 0, FIRSTPORTA, 1},
                                         {Fn::DOut, 0, FIRSTPORTCL, 3},
                                         {Fn::DIn, 0, FIRSTPORTA, 1},
                                         {Fn::DOut, 3, FIRSTPORTCL, 15}};
    EXPECT_EQ(boardsim::portTrace(), expected);
    ASSERT_EQ(boardsim::trace().size(), 5u);
    EXPECT_EQ(boardsim::trace()[0].result, 0);
    EXPECT_EQ(boardsim::trace()[4].result, CBW_BADBOARD);
    EXPECT_EQ(boardsim::toString(boardsim::trace()[1]), "cbDOut(0, 10, 1) = 0");

    boardsim::clearTrace();
    EXPECT_TRUE(boardsim::trace().empty());
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTCL), 3) << "clearing the trace keeps the board state";
}

TEST_F(Ports, ResetRestoresPowerOn)
{
    busdriver::configurePorts();
    busdriver::busWrite({{3, 3}});
    boardsim::setClocksPerSweep(1234);
    boardsim::reset();
    EXPECT_EQ(boardsim::portDirection(FIRSTPORTCL), DIGITALIN);
    EXPECT_EQ(boardsim::portLatch(FIRSTPORTCL), 0x0F);
    EXPECT_EQ(boardsim::frontEndRegister(3), -1);
    EXPECT_TRUE(boardsim::registerWrites().empty());
    EXPECT_EQ(boardsim::clocksPerSweep(), 10000);
    EXPECT_TRUE(boardsim::trace().empty());
}

}  // namespace
