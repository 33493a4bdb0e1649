#pragma once
// The fake comedilib's state, shared by its two halves (device and digital port in
// fake_comedi.cpp, analog commands in fake_command.cpp).

#include "fake_comedi.h"

#include <thread>
#include <vector>

struct comedi_t_struct {
    int unused = 0;
};

namespace fakecomedi::detail {

constexpr int kAi = 0;
constexpr int kOther = 1;  // of no interest, or a narrow digital port before the 8255
constexpr unsigned kNarrowDioLines = 8;
constexpr int kDio = 2;
constexpr int kSubdevices = 3;
constexpr unsigned kDioLines = 24;
constexpr uint32_t kAllLines = (1u << kDioLines) - 1;
constexpr size_t kWriteChunk = 4096;  // several reads per scan, as from a device

struct Stream {
    int readFd = -1;
    int writeFd = -1;  // owned by the writer thread while there is one
    std::thread writer;
};

struct State {
    Config config;
    comedi_t_struct handle;
    bool open = false;
    int lastError = 0;
    uint32_t outputs = 0;
    uint32_t latch = 0;
    uint32_t driven = 0;
    std::vector<LineState> history;
    std::vector<uint32_t> pattern;
    bool clockStopped = false;
    bool started = false;
    comedi_cmd last{};
    std::vector<unsigned> lastList;
    int tests = 0;
    int cancels = 0;
    int readSubdevice = kAi;
    Stream stream;
};

// Never destroyed: the board library may still call in while statics are torn down.
inline State& state()
{
    static State* s = new State;
    return *s;
}

inline int fail(int error)
{
    state().lastError = error;
    return -1;
}

inline bool valid(comedi_t* it) { return it == &state().handle && state().open; }

inline int aiIndex() { return state().config.hasAi ? kAi : -1; }
inline int dioIndex() { return state().config.hasDio ? kDio : -1; }
inline bool narrowDio(int sub) { return sub == kOther && state().config.narrowDioFirst; }

void recordLines();
void stopStream();

}  // namespace fakecomedi::detail
