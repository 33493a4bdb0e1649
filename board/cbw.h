#ifndef SOUNDER_BOARD_CBW_H
#define SOUNDER_BOARD_CBW_H
/*
 * The data-acquisition board library: the functions the acquisition program calls.
 * Two libraries serve them under the same file name and soname: a simulated board and
 * sounder front-end (board/sim), and real boards through comedi (board/comedi). Which
 * one a program runs on is chosen when it is loaded.
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

/* Error codes (0: success) */
#define CBW_NOERRORS 0
#define CBW_BADBOARD 1      /* board number other than 0 */
#define CBW_BADPORTNUM 2    /* no such digital port */
#define CBW_BADDIRECTION 3  /* neither DIGITALOUT nor DIGITALIN */
#define CBW_BADPORTVALUE 4  /* value wider than the port */
#define CBW_NULLPOINTER 5   /* no address to write the result to */
#define CBW_BADCHANNEL 6    /* input numbers out of order or out of range */
#define CBW_BADRANGE 7      /* analog range not supported */
#define CBW_BADCOUNT 8      /* sample count not positive or beyond the block */
#define CBW_BADHANDLE 9     /* not a live memory block */
#define CBW_BADOPTION 10    /* scan option not supported (background scans) */
#define CBW_NOTLOCKED 11    /* unlock of a block that is not locked */
/* Real boards only */
#define CBW_NODEVICE 12     /* the board's device cannot be opened */
#define CBW_NOSUBDEVICE 13  /* the board has no digital port or no analog input */
#define CBW_DEVICEERROR 14  /* the driver failed a port operation */
#define CBW_BADRATE 15      /* a timed scan without a positive rate */
#define CBW_SCANREFUSED 16  /* the driver does not accept the scan's settings */
#define CBW_SCANFAILED 17   /* the scan ended before all samples were in */
#define CBW_SCANTIMEOUT 18  /* the samples did not arrive in time (no scan clock) */

/* Scan option the board does not support here: scans always block. */
#define BACKGROUND 1

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
