#ifndef SOUNDER_BOARD_CBW_H
#define SOUNDER_BOARD_CBW_H
/*
 * The data-acquisition board library: the functions the acquisition program calls.
 * This implementation is backed by a simulated board and sounder front-end; another
 * library with the same functions can be linked in its place.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Digital ports */
#define FIRSTPORTA 10
#define FIRSTPORTB 11
#define FIRSTPORTCL 12
#define FIRSTPORTCH 13

/* Port directions */
#define DIGITALOUT 1
#define DIGITALIN 2

/* Analog range: bipolar +-5 V */
#define BIP5VOLTS 0

/* Scan options: conversions paced by the external clock input */
#define EXTCLOCK 4

/* Handle of a movable memory block (0: none) */
typedef int32_t HGLOBAL;

/* All functions return 0 on success, an error code otherwise. */
int cbDConfigPort(int BoardNum, int PortNum, int Direction);
int cbDOut(int BoardNum, int PortNum, uint16_t DataValue);
int cbDIn(int BoardNum, int PortNum, uint16_t* DataValue);
/* Scans inputs LowChan..HighChan repeatedly until Count samples are in the buffer;
   returns only when they are. */
int cbAInScan(int BoardNum, int LowChan, int HighChan, int32_t Count, int32_t* Rate, int Gain,
              HGLOBAL MemHandle, int Options);
/* A movable block of NumPoints 16-bit samples; 0 on failure. */
HGLOBAL cbWinBufAlloc(int32_t NumPoints);
int cbWinBufFree(HGLOBAL MemHandle);

/* Movable memory: the address of the block while locked. */
void* GlobalLock(HGLOBAL MemHandle);
int GlobalUnlock(HGLOBAL MemHandle);

#ifdef __cplusplus
}
#endif

#endif
