// The board library's C entry points, served by a comedi device.
#include "board_kind.h"
#include "cbw.h"

#include "comedi_board.h"

using boardcomedi::comediBoard;

extern "C" {

int cbDConfigPort(int BoardNum, int PortNum, int Direction)
{
    return comediBoard().dConfigPort(BoardNum, PortNum, Direction);
}

int cbDOut(int BoardNum, int PortNum, uint16_t DataValue)
{
    return comediBoard().dOut(BoardNum, PortNum, DataValue);
}

int cbDIn(int BoardNum, int PortNum, uint16_t* DataValue)
{
    return comediBoard().dIn(BoardNum, PortNum, DataValue);
}

int cbAInScan(int BoardNum, int LowChan, int HighChan, int32_t Count, int32_t* Rate, int Gain, HGLOBAL MemHandle,
              int Options)
{
    return comediBoard().aInScan(BoardNum, LowChan, HighChan, Count, Rate, Gain, MemHandle, Options);
}

HGLOBAL cbWinBufAlloc(int32_t NumPoints)
{
    return comediBoard().blocks().alloc(NumPoints);
}

int cbWinBufFree(HGLOBAL MemHandle)
{
    return comediBoard().blocks().free(MemHandle);
}

void* GlobalLock(HGLOBAL MemHandle)
{
    return comediBoard().blocks().lock(MemHandle);
}

int GlobalUnlock(HGLOBAL MemHandle)
{
    return comediBoard().blocks().unlock(MemHandle);
}

const char* cbwBoardKind(void)
{
    return "comedi";
}

const char* cbwBoardFailure(void)
{
    return comediBoard().failure().c_str();
}

}  // extern "C"
