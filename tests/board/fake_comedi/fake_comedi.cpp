// A fake comedilib: the functions the comedi board library calls, over the model
// described in fake_comedi.h. This half: the device, its queries and the digital port.

#include "fake_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fakecomedi {

using namespace detail;

namespace {

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

}  // namespace

void detail::recordLines() { state().history.push_back(lines()); }

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
using namespace fakecomedi::detail;

extern "C" {

comedi_t* comedi_open(const char* fn)
{
    State& s = state();
    if (!s.config.present || !fn || s.config.path != fn) {
        s.lastError = fn && s.config.path == fn ? s.config.openError : ENOENT;
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
        return SDF_READABLE | (state().config.aiCommands ? SDF_CMD_READ : 0) |
               (state().config.longSamples ? SDF_LSAMPL : 0);
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

}  // extern "C"
