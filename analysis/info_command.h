#pragma once
// `sounder info FILE...`: what each file is and what it holds, printed on stdout.

#include <string>
#include <vector>

namespace cli {

// Returns the exit status: 0 when every file was read, 2 when one was not a
// recording or could not be read (its line on stderr; the other files still reported).
int runInfo(const std::vector<std::string>& files);

}  // namespace cli
