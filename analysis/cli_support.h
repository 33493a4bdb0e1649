#pragma once
// What every subcommand shares: the failure that ends it with exit status 2 and one
// line on stderr, and the progress line shown on a terminal for large inputs.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitUsage = 1;
inline constexpr int ExitBadInput = 2;

// Bad input or an I/O failure; what() is the whole stderr line ("FILE: line 7: expected ...").
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A note on stderr that does not end the command ("FILE: 2 of 5 sweeps missing").
void note(const std::string& text);

// "FILE: 42% 310 MB/s" rewritten in place on stderr, only when stderr is a terminal
// and the input is over 10 MB; cleared by done().
class Progress {
public:
    Progress(std::string label, uint64_t totalBytes);
    void update(uint64_t bytes)
    {
        if (shown_)
            show(bytes, false);
    }
    void done();

private:
    void show(uint64_t bytes, bool force);
    std::string label_;
    uint64_t total_;
    bool shown_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace cli
