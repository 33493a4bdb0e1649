#pragma once
// What every subcommand shares: the failure that ends it with exit status 2 and one
// line on stderr, and the progress line shown on a terminal for large inputs.

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class OutputFile;

namespace cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitUsage = 1;
inline constexpr int ExitBadInput = 2;

// Bad input or an I/O failure; what() is the whole stderr line ("FILE: line 7: expected ...").
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command refused before it writes anything (an output that is also an input): its
// line on stderr, exit status 1.
class Refused : public Failure {
public:
    using Failure::Failure;
};

// A file a command writes, by the option that names it ("--csv") and its path as given;
// "-" is the standard output.
struct NamedOutput {
    std::string option;
    std::string path;
};

// Whether an output of this name is a stream, written in order and replacing nothing:
// "-" (the standard output), a device or a FIFO. Devices and pipes as two outputs
// (/dev/null twice, /dev/stdout beside "-") are no loss.
bool isStream(const std::string& path);

// Why the outputs cannot be written with these inputs, checked before anything is read:
// an output that is the same file as an input (the same path, or the same device and
// inode, through a link of either kind) gives "OUT: is also an input"; the same file
// named by two outputs (as above, or two names of a file not made yet: "x" and "./x",
// a link to where the other goes) "OUT: is named by both --a and --b"; more than one "-" "only
// one output can be - (the standard output)"; a pipe (or /dev/stdin) named as two inputs
// "IN: is named twice as an input; a pipe can be read only once". Empty when there is no
// such problem.
// Shown as "sounder: PROBLEM" with exit status 1 (outputsRefusal).
std::string outputsProblem(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs);

// The same problem printed on stderr as "sounder: PROBLEM": ExitUsage, or ExitOk (and
// nothing printed) when there is none.
int outputsRefusal(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs);

// Why recordings that each count once in a result (an average, a fit) cannot be taken as
// given: one that is the same file as one before it (the same path or the same device
// and inode, through a link of either kind), "B: is the same recording as A: each
// recording counts once". Empty when there is none; shown as outputsRefusal shows its.
std::string repeatedRecordingProblem(const std::vector<std::string>& recordings);

// The cached pages of the files that a command's outputs are about to replace, let go
// on a thread of its own beside the command's work (dropCachedPages): replacing a large
// file at the end then takes less. Nothing is started where none of the paths exists.
// done() and the destructor wait for the thread.
class ReplacedOutputs {
public:
    explicit ReplacedOutputs(std::vector<std::string> paths);
    ~ReplacedOutputs() { done(); }
    ReplacedOutputs(const ReplacedOutputs&) = delete;
    ReplacedOutputs& operator=(const ReplacedOutputs&) = delete;
    void done();

private:
    std::thread thread_;
};

// A command's outputs, each made whole under its temporary name, then renamed into place
// together (OutputFile::commitTogether): all of them stand, or none. A failure throws
// Failure naming the output ("OUT: Disk full").
class OutputGroup {
public:
    OutputGroup();
    ~OutputGroup();
    OutputGroup(const OutputGroup&) = delete;
    OutputGroup& operator=(const OutputGroup&) = delete;
    void add(const std::string& path, const std::string& bytes);
    void add(std::unique_ptr<OutputFile> file);  // written elsewhere
    void commit();

private:
    std::vector<std::unique_ptr<OutputFile>> files_;
};

// A text from an input (a file name, a string of a metadata file) as a terminal may
// show it: control characters (C0, DEL and U+0080..U+009F) written as \n, \r, \t,
// \x1b or \u009b, and bytes that are no UTF-8 as \xNN; all else as it is.
std::string printable(std::string_view text);

// A note on stderr that does not end the command ("FILE: 2 of 5 sweeps missing"),
// printable.
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
