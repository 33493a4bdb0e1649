// A fake comedilib: the functions the comedi board library calls, over the model
// described in fake_comedi.h. Only what the board library uses is here.

#include "fake_comedi.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

struct comedi_t_struct {
    int unused = 0;
};

namespace fakecomedi {

namespace {

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
State& state()
{
    static State* s = new State;
    return *s;
}

int fail(int error)
{
    state().lastError = error;
    return -1;
}

bool valid(comedi_t* it) { return it == &state().handle && state().open; }

int aiIndex() { return state().config.hasAi ? kAi : -1; }
int dioIndex() { return state().config.hasDio ? kDio : -1; }
bool narrowDio(int sub) { return sub == kOther && state().config.narrowDioFirst; }

uint32_t groupOf(unsigned line)
{
    if (line < 8)
        return 0xFFu;
    if (line < 16)
        return 0xFF00u;
    if (line < 20)
        return 0xF0000u;
    return 0xF00000u;
}

void recordLines() { state().history.push_back(lines()); }

void stopStream()
{
    Stream& s = state().stream;
    // Closing the read end first ends a writer blocked on a full pipe (EPIPE).
    if (s.readFd >= 0)
        close(s.readFd);
    s.readFd = -1;
    if (s.writer.joinable()) {
        s.writer.join();
        s.writeFd = -1;
    } else if (s.writeFd >= 0) {
        close(s.writeFd);
        s.writeFd = -1;
    }
}

void writeAll(int fd, std::vector<unsigned char> bytes)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // a reader that gave up: EPIPE, no signal
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + sent, std::min(kWriteChunk, bytes.size() - sent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    close(fd);  // the end of the stream, as when the board's scan count is reached
}

bool singleSource(unsigned source) { return source && !(source & (source - 1)); }

int testCommand(comedi_cmd& c)
{
    const Config& config = state().config;
    if (static_cast<int>(c.subdev) != aiIndex())
        return fail(EINVAL);
    bool changed = false;
    auto keep = [&](unsigned& source, unsigned allowed) {
        const unsigned asked = source;
        source &= allowed;
        if (!source || source != asked)
            changed = true;
    };
    keep(c.start_src, TRIG_NOW | TRIG_INT | TRIG_EXT);
    keep(c.scan_begin_src, config.scanBeginSources);
    keep(c.convert_src, config.convertSources);
    keep(c.scan_end_src, TRIG_COUNT);
    keep(c.stop_src, TRIG_COUNT | TRIG_NONE);
    if (changed)
        return 1;
    for (unsigned source : {c.start_src, c.scan_begin_src, c.convert_src, c.scan_end_src, c.stop_src})
        if (!singleSource(source))
            return 2;
    auto atLeast = [&](unsigned& arg, unsigned least) {
        if (arg < least) {
            arg = least;
            changed = true;
        }
    };
    if (c.start_src == TRIG_NOW && c.start_arg != 0) {
        c.start_arg = 0;
        changed = true;
    }
    if (c.scan_begin_src == TRIG_TIMER)
        atLeast(c.scan_begin_arg, config.fastestScanNs);
    if (c.convert_src == TRIG_TIMER)
        atLeast(c.convert_arg, config.fastestConvertNs);
    if (c.scan_begin_src == TRIG_TIMER && c.convert_src == TRIG_TIMER)
        atLeast(c.scan_begin_arg, c.convert_arg * c.chanlist_len);
    if (c.scan_end_arg != c.chanlist_len) {
        c.scan_end_arg = c.chanlist_len;
        changed = true;
    }
    if (c.stop_src == TRIG_COUNT)
        atLeast(c.stop_arg, 1);
    if (changed)
        return 3;
    // The timer runs in steps of 100 ns.
    if (c.scan_begin_src == TRIG_TIMER && c.scan_begin_arg % 100 != 0) {
        c.scan_begin_arg += 100 - c.scan_begin_arg % 100;
        return 4;
    }
    if (!c.chanlist || c.chanlist_len == 0)
        return 5;
    for (unsigned i = 0; i < c.chanlist_len; ++i)
        if (CR_CHAN(c.chanlist[i]) >= config.aiInputs || CR_RANGE(c.chanlist[i]) >= config.ranges.size())
            return 5;
    return 0;
}

}  // namespace

void reset(const Config& config)
{
    stopStream();
    State& s = state();
    s.config = config;
    s.open = false;
    s.lastError = 0;
    s.outputs = s.latch = s.driven = 0;  // every line an input, as after power-on
    s.history.clear();
    s.pattern.clear();
    s.clockStopped = false;
    s.started = false;
    s.last = comedi_cmd{};
    s.lastList.clear();
    s.tests = s.cancels = 0;
    s.readSubdevice = kAi;
    recordLines();
}

void driveInputs(uint32_t lines) { state().driven = lines & kAllLines; }

LineState lines() { return {state().outputs, state().latch & state().outputs}; }

std::vector<LineState> lineHistory() { return state().history; }

void setPattern(std::vector<uint32_t> raw) { state().pattern = std::move(raw); }

void setClockStopped(bool stopped) { state().clockStopped = stopped; }

bool commandStarted() { return state().started; }

comedi_cmd lastCommand() { return state().last; }

std::vector<unsigned> lastChannelList() { return state().lastList; }

int commandTests() { return state().tests; }

int bufferBytes() { return state().config.bufferBytes; }

int cancels() { return state().cancels; }

bool deviceOpen() { return state().open; }

}  // namespace fakecomedi

using namespace fakecomedi;

extern "C" {

comedi_t* comedi_open(const char* fn)
{
    State& s = state();
    if (!s.config.present || !fn || s.config.path != fn) {
        s.lastError = ENOENT;
        return nullptr;
    }
    s.open = true;
    return &s.handle;
}

int comedi_close(comedi_t* it)
{
    if (!valid(it))
        return fail(EBADF);
    stopStream();
    state().open = false;
    return 0;
}

void comedi_perror(const char* s) { std::fprintf(stderr, "%s: %s\n", s, std::strerror(state().lastError)); }

const char* comedi_strerror(int errnum) { return std::strerror(errnum); }

int comedi_errno(void) { return state().lastError; }

int comedi_fileno(comedi_t* it)
{
    if (!valid(it))
        return fail(EBADF);
    if (state().stream.readFd < 0)
        return fail(EINVAL);
    return state().stream.readFd;
}

const char* comedi_get_driver_name(comedi_t* it) { return valid(it) ? state().config.driver.c_str() : nullptr; }

const char* comedi_get_board_name(comedi_t* it) { return valid(it) ? state().config.board.c_str() : nullptr; }

int comedi_get_read_subdevice(comedi_t* it) { return valid(it) ? state().readSubdevice : fail(EBADF); }

int comedi_set_read_subdevice(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it))
        return fail(EBADF);
    if (static_cast<int>(subdevice) != aiIndex())
        return fail(EINVAL);
    state().readSubdevice = static_cast<int>(subdevice);
    return 0;
}

int comedi_find_subdevice_by_type(comedi_t* it, int type, unsigned int subd)
{
    if (!valid(it))
        return fail(EBADF);
    for (int i = static_cast<int>(subd); i < kSubdevices; ++i) {
        if ((type == COMEDI_SUBD_AI && i == aiIndex()) ||
            (type == COMEDI_SUBD_DIO && (i == dioIndex() || narrowDio(i))) ||
            (type == COMEDI_SUBD_UNUSED && i == kOther && !narrowDio(i)))
            return i;
    }
    return fail(ENODEV);
}

int comedi_get_subdevice_flags(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it))
        return fail(EBADF);
    const int sub = static_cast<int>(subdevice);
    if (sub == aiIndex())
        return SDF_READABLE | SDF_CMD_READ | (state().config.longSamples ? SDF_LSAMPL : 0);
    if (sub == dioIndex() || narrowDio(sub))
        return SDF_READABLE | SDF_WRITABLE;
    return fail(EINVAL);
}

int comedi_get_n_channels(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it))
        return fail(EBADF);
    const int sub = static_cast<int>(subdevice);
    if (sub == aiIndex())
        return static_cast<int>(state().config.aiInputs);
    if (sub == dioIndex())
        return static_cast<int>(kDioLines);
    if (narrowDio(sub))
        return static_cast<int>(kNarrowDioLines);
    return fail(EINVAL);
}

lsampl_t comedi_get_maxdata(comedi_t* it, unsigned int subdevice, unsigned int chan)
{
    if (!valid(it))
        return 0;
    const int sub = static_cast<int>(subdevice);
    if (sub == aiIndex() && chan < state().config.aiInputs)
        return state().config.maxdata;
    if (sub == dioIndex() && chan < kDioLines)
        return 1;
    return 0;
}

int comedi_find_range(comedi_t* it, unsigned int subd, unsigned int chan, unsigned int unit, double min, double max)
{
    if (!valid(it))
        return fail(EBADF);
    if (static_cast<int>(subd) != aiIndex() || chan >= state().config.aiInputs)
        return fail(EINVAL);
    const auto& ranges = state().config.ranges;
    int best = -1;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const comedi_range& r = ranges[i];
        if (r.unit != unit || r.min > min || r.max < max)
            continue;
        if (best < 0 || r.max - r.min < ranges[static_cast<size_t>(best)].max - ranges[static_cast<size_t>(best)].min)
            best = static_cast<int>(i);
    }
    return best >= 0 ? best : fail(EINVAL);
}

comedi_range* comedi_get_range(comedi_t* it, unsigned int subdevice, unsigned int chan, unsigned int range)
{
    if (!valid(it) || static_cast<int>(subdevice) != aiIndex() || chan >= state().config.aiInputs ||
        range >= state().config.ranges.size())
        return nullptr;
    return &state().config.ranges[range];
}

int comedi_get_buffer_size(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it) || static_cast<int>(subdevice) != aiIndex())
        return fail(EINVAL);
    return state().config.bufferBytes;
}

int comedi_get_max_buffer_size(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it) || static_cast<int>(subdevice) != aiIndex())
        return fail(EINVAL);
    return state().config.maxBufferBytes;
}

int comedi_set_buffer_size(comedi_t* it, unsigned int subdevice, unsigned int len)
{
    if (!valid(it) || static_cast<int>(subdevice) != aiIndex())
        return fail(EINVAL);
    if (len > static_cast<unsigned>(state().config.maxBufferBytes))
        return fail(EPERM);  // beyond the limit only for the administrator
    state().config.bufferBytes = static_cast<int>(len);
    return static_cast<int>(len);
}

int comedi_dio_config(comedi_t* it, unsigned int subd, unsigned int chan, unsigned int dir)
{
    if (!valid(it))
        return fail(EBADF);
    if (static_cast<int>(subd) != dioIndex() || chan >= kDioLines || (dir != COMEDI_INPUT && dir != COMEDI_OUTPUT))
        return fail(EINVAL);
    State& s = state();
    if (dir == COMEDI_OUTPUT)
        s.outputs |= groupOf(chan);
    else
        s.outputs &= ~groupOf(chan);
    if (s.config.configClearsOutputs)
        s.latch = 0;
    recordLines();
    return 0;
}

int comedi_dio_bitfield2(comedi_t* it, unsigned int subd, unsigned int write_mask, unsigned int* bits,
                         unsigned int base_channel)
{
    if (!valid(it))
        return fail(EBADF);
    if (static_cast<int>(subd) != dioIndex() || !bits || base_channel >= kDioLines)
        return fail(EINVAL);
    State& s = state();
    if (write_mask) {
        const auto mask = static_cast<uint32_t>((uint64_t{write_mask} << base_channel) & kAllLines);
        const auto value = static_cast<uint32_t>((uint64_t{*bits} << base_channel) & kAllLines);
        s.latch = (s.latch & ~mask) | (value & mask);
        recordLines();
    }
    // Output lines read back their latch, input lines what the outside drives.
    const uint32_t present = (s.latch & s.outputs) | (s.driven & ~s.outputs);
    *bits = present >> base_channel;
    return 0;
}

int comedi_command_test(comedi_t* it, comedi_cmd* cmd)
{
    if (!valid(it) || !cmd)
        return fail(EBADF);
    ++state().tests;
    return testCommand(*cmd);
}

int comedi_command(comedi_t* it, comedi_cmd* cmd)
{
    if (!valid(it) || !cmd)
        return fail(EBADF);
    State& s = state();
    if (s.stream.readFd >= 0)
        return fail(EBUSY);
    comedi_cmd checked = *cmd;
    if (testCommand(checked) != 0)
        return fail(EINVAL);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return fail(errno);
    s.started = true;
    s.last = *cmd;
    s.lastList.assign(cmd->chanlist, cmd->chanlist + cmd->chanlist_len);
    s.last.chanlist = nullptr;
    s.stream.readFd = fds[0];
    s.stream.writeFd = fds[1];
    if (s.clockStopped)
        return 0;  // the stream stays open and empty
    const size_t asked = size_t{cmd->stop_arg} * cmd->scan_end_arg;
    const size_t samples = std::min(asked, s.pattern.size());
    const size_t width = s.config.longSamples ? 4 : 2;
    std::vector<unsigned char> bytes(samples * width);
    for (size_t i = 0; i < samples; ++i) {
        if (width == 4) {
            const uint32_t raw = s.pattern[i];
            std::memcpy(bytes.data() + 4 * i, &raw, 4);
        } else {
            const auto raw = static_cast<uint16_t>(s.pattern[i]);
            std::memcpy(bytes.data() + 2 * i, &raw, 2);
        }
    }
    s.stream.writer = std::thread(writeAll, fds[1], std::move(bytes));
    return 0;
}

int comedi_cancel(comedi_t* it, unsigned int subdevice)
{
    if (!valid(it))
        return fail(EBADF);
    if (static_cast<int>(subdevice) != aiIndex())
        return fail(EINVAL);
    ++state().cancels;
    stopStream();
    return 0;
}

}  // extern "C"
