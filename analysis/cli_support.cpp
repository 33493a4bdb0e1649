#include "cli_support.h"

#include <cstdio>
#include <unistd.h>

namespace cli {

void note(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

Progress::Progress(std::string label, uint64_t totalBytes)
    : label_(std::move(label)), total_(totalBytes), shown_(totalBytes > 10'000'000 && ::isatty(2) == 1),
      start_(std::chrono::steady_clock::now()), last_(start_)
{
}

void Progress::show(uint64_t bytes, bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(250))
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
    std::fprintf(stderr, "\r%s: %3d%% %.0f MB/s", label_.c_str(), int(100.0 * double(bytes) / double(total_)), rate);
    std::fflush(stderr);
}

void Progress::done()
{
    if (shown_) {
        show(total_, true);
        std::fprintf(stderr, "\n");
        shown_ = false;
    }
}

}  // namespace cli
