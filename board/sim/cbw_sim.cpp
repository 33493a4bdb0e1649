// The board library's C entry points, served by the simulated board.
#include "board_kind.h"
#include "cbw.h"

#include "simulated_board.h"

using boardsim::simBoard;

extern "C" {

int cbDConfigPort(int BoardNum, int PortNum, int Direction)
{
    return simBoard().dConfigPort(BoardNum, PortNum, Direction);
}

int cbDOut(int BoardNum, int PortNum, uint16_t DataValue)
{
    return simBoard().dOut(BoardNum, PortNum, DataValue);
}

int cbDIn(int BoardNum, int PortNum, uint16_t* DataValue)
{
    return simBoard().dIn(BoardNum, PortNum, DataValue);
}

int cbAInScan(int BoardNum, int LowChan, int HighChan, int32_t Count, int32_t* Rate, int Gain, HGLOBAL MemHandle,
              int Options)
{
    return simBoard().aInScan(BoardNum, LowChan, HighChan, Count, Rate, Gain, MemHandle, Options);
}

HGLOBAL cbWinBufAlloc(int32_t NumPoints)
{
    return simBoard().winBufAlloc(NumPoints);
}

int cbWinBufFree(HGLOBAL MemHandle)
{
    return simBoard().winBufFree(MemHandle);
}

void* GlobalLock(HGLOBAL MemHandle)
{
    return simBoard().globalLock(MemHandle);
}

int GlobalUnlock(HGLOBAL MemHandle)
{
    return simBoard().globalUnlock(MemHandle);
}

const char* cbwBoardKind(void)
{
    return "simulated";
}

const char* cbwBoardFailure(void)
{
    return simBoard().failure().c_str();
}

}  // extern "C"
