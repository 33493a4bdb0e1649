// The fake comedilib's analog commands: the driver's command test, a command that
// delivers the programmed pattern through a pipe, and cancelling it.

#include "fake_state.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace fakecomedi::detail {

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

namespace {

// Writes the bytes in chunks; with a pace, each chunk not before its samples' time
// from the start.
void writeAll(int fd, std::vector<unsigned char> bytes, size_t sampleBytes, double nsPerSample, size_t stallBytes)
{
    const auto start = std::chrono::steady_clock::now();
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // a reader that gave up: EPIPE, no signal
    size_t sent = 0;
    const size_t end = stallBytes > 0 ? std::min(stallBytes, bytes.size()) : bytes.size();
    while (sent < end) {
        const size_t chunk = std::min(kWriteChunk, end - sent);
        if (nsPerSample > 0)
            std::this_thread::sleep_until(
                start + std::chrono::nanoseconds(static_cast<int64_t>(nsPerSample * double((sent + chunk) / sampleBytes))));
        const ssize_t n = write(fd, bytes.data() + sent, chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    if (stallBytes > 0) {
        // Nothing more, and no end either, until the reader closes its end (the cancel).
        pollfd reader{fd, 0, 0};
        while (poll(&reader, 1, -1) == 0 || (reader.revents & (POLLERR | POLLHUP)) == 0) {
        }
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

}  // namespace fakecomedi::detail

using namespace fakecomedi;
using namespace fakecomedi::detail;

extern "C" {

int comedi_fileno(comedi_t* it)
{
    if (!valid(it))
        return fail(EBADF);
    if (state().stream.readFd < 0)
        return fail(EINVAL);
    return state().stream.readFd;
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
    double nsPerSample = 0;
    if (s.config.paceTimedScans && cmd->scan_begin_src == TRIG_TIMER && cmd->scan_end_arg > 0)
        nsPerSample = double(cmd->scan_begin_arg) / cmd->scan_end_arg;
    if (s.config.extClockPeriodNs > 0 && cmd->scan_begin_src == TRIG_EXT && cmd->scan_end_arg > 0)
        nsPerSample = double(s.config.extClockPeriodNs) / cmd->scan_end_arg;
    s.stream.writer = std::thread(writeAll, fds[1], std::move(bytes), width, nsPerSample,
                                  s.config.stallAfterSamples * width);
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
