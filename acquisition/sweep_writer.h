#pragma once
// The sample lines of a recording, written in batches: a recording run writes millions
// of lines, so the lines of a sweep are formatted together from a table of code texts
// and handed to the file a batch at a time. The text is exactly that of writeCodeLine:
// "c1,c2,c3" CR LF per scan group. The file is checked after every batch; a failed
// write leaves the file ending with a whole line and nothing is written after it, so
// the file holds the same lines as when every line is checked.

#include "text_io.h"

#include <cstdint>

// Writes one line per scan group for `groups` consecutive groups (four samples each,
// the fourth, the marker, not written) starting at `first`. Throws rt::InOutError.
void writeSweepLines(rt::TextWriter& file, const uint16_t* first, int32_t groups);
