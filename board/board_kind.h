#ifndef SOUNDER_BOARD_KIND_H
#define SOUNDER_BOARD_KIND_H
/*
 * Optional beside the board API: the board libraries of this project name what they
 * drive ("simulated", "comedi"), so that a recording can say what made it. A program
 * looks the function up in the loaded library and does without it where it is absent.
 */

#ifdef __cplusplus
extern "C" {
#endif

const char* cbwBoardKind(void);

#ifdef __cplusplus
}
#endif

#endif
