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

/*
 * Also optional: "" while the board can be used, else the text of the library's last
 * failure to open or configure it ("cannot open /dev/comedi0: No such file or
 * directory"). The text stays valid until the next board call.
 */
const char* cbwBoardFailure(void);

#ifdef __cplusplus
}
#endif

#endif
