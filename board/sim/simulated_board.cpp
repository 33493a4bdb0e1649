#include "simulated_board.h"

#include <algorithm>

namespace boardsim {

namespace {

constexpr int kFirstPort = FIRSTPORTA;
constexpr int kAnalogInputs = 8;
constexpr int32_t kSounderClockHz = 10'000'000;
// The trace stops growing here, so that a program left running on the simulated board
// does not fill the memory; tests never come near it.
constexpr size_t kMaxTrace = size_t{1} << 20;

uint16_t undriven(int width) { return static_cast<uint16_t>((1u << width) - 1); }  // pull-ups

}  // namespace

SimBoard& simBoard()
{
    static SimBoard board;
    return board;
}

SimBoard::SimBoard() { reset(); }

void SimBoard::reset()
{
    // Latches power on with every line high: an address port turned to output then
    // shows the idle address 15 at once instead of selecting register 0.
    ports_ = {Port{8, DIGITALIN, 0xFF}, Port{8, DIGITALIN, 0xFF}, Port{4, DIGITALIN, 0x0F}, Port{4, DIGITALIN, 0x0F}};
    frontEnd_.reset();
    sounder_.reset();
    blocks_.clear();  // handles keep counting up, so a stale one never comes back
    trace_.clear();
    scanSource_ = nullptr;
    allocFailures_ = scanFailures_ = scanFailureCode_ = 0;
    lastScan_.reset();
    scans_ = 0;
    failure_.clear();
}

int SimBoard::record(const Call& call)
{
    if (trace_.size() < kMaxTrace)
        trace_.push_back(call);
    return call.result;
}

SimBoard::Port* SimBoard::findPort(int port)
{
    return port >= kFirstPort && port < kFirstPort + 4 ? &ports_[port - kFirstPort] : nullptr;
}

const SimBoard::Port* SimBoard::findPort(int port) const
{
    return port >= kFirstPort && port < kFirstPort + 4 ? &ports_[port - kFirstPort] : nullptr;
}

// The front-end sees the address port only while it is driven (idle address 15
// otherwise, from the pull-ups) and the data port's byte only while it is an output.
void SimBoard::busChanged()
{
    const Port& data = ports_[FIRSTPORTA - kFirstPort];
    const Port& addr = ports_[FIRSTPORTCL - kFirstPort];
    const int address = addr.direction == DIGITALOUT ? (addr.latch & 0x0F) : bus::kAddrIdle;
    frontEnd_.busChanged(address, data.direction == DIGITALOUT, static_cast<uint8_t>(data.latch & 0xFF));
}

int SimBoard::dConfigPort(int board, int port, int direction)
{
    Call call{.fn = Fn::DConfigPort, .board = board, .port = port, .value = direction};
    Port* p = findPort(port);
    if (board != 0)
        call.result = CBW_BADBOARD;
    else if (!p)
        call.result = CBW_BADPORTNUM;
    else if (direction != DIGITALOUT && direction != DIGITALIN)
        call.result = CBW_BADDIRECTION;
    else {
        p->direction = direction;
        busChanged();
    }
    return record(call);
}

int SimBoard::dOut(int board, int port, uint16_t value)
{
    Call call{.fn = Fn::DOut, .board = board, .port = port, .value = value};
    Port* p = findPort(port);
    if (board != 0)
        call.result = CBW_BADBOARD;
    else if (!p)
        call.result = CBW_BADPORTNUM;
    else if (value > undriven(p->width))
        call.result = CBW_BADPORTVALUE;
    else {
        // An input port keeps the value in its latch; it appears once the port drives.
        p->latch = value;
        busChanged();
    }
    return record(call);
}

int SimBoard::dIn(int board, int port, uint16_t* value)
{
    Call call{.fn = Fn::DIn, .board = board, .port = port};
    const Port* p = findPort(port);
    if (board != 0)
        call.result = CBW_BADBOARD;
    else if (!p)
        call.result = CBW_BADPORTNUM;
    else if (!value)
        call.result = CBW_NULLPOINTER;
    else {
        uint16_t lines = undriven(p->width);
        if (p->direction == DIGITALOUT)
            lines = p->latch;
        else if (port == FIRSTPORTA)
            lines = frontEnd_.drivenData().value_or(lines);
        *value = lines;
        call.value = lines;
    }
    return record(call);
}

HGLOBAL SimBoard::winBufAlloc(int32_t samples)
{
    Call call{.fn = Fn::WinBufAlloc, .count = samples};
    if (allocFailures_ > 0)
        --allocFailures_;
    else
        call.handle = blocks_.alloc(samples);
    record(call);
    return call.handle;
}

int SimBoard::winBufFree(HGLOBAL handle)
{
    Call call{.fn = Fn::WinBufFree, .count = blocks_.size(handle), .handle = handle};
    call.result = blocks_.free(handle);
    return record(call);
}

void* SimBoard::globalLock(HGLOBAL handle)
{
    Call call{.fn = Fn::GlobalLock, .count = blocks_.size(handle), .handle = handle};
    uint16_t* samples = blocks_.lock(handle);
    if (!samples)
        call.result = 1;
    record(call);
    return samples;
}

int SimBoard::globalUnlock(HGLOBAL handle)
{
    Call call{.fn = Fn::GlobalUnlock, .count = blocks_.size(handle), .handle = handle};
    call.result = blocks_.unlock(handle);
    return record(call);
}

ScanConditions SimBoard::conditions() const
{
    ScanConditions c;
    c.clocksPerSweep = frontEnd_.clocksPerSweep();
    c.divider = frontEnd_.divider();
    for (int ch = 1; ch <= 3; ++ch)
        c.gainDb[ch - 1] = gainDbForPots(frontEnd_.potSetting(2 * ch - 2), frontEnd_.potSetting(2 * ch - 1));
    c.attenuationDb = attenuationDbForCode(frontEnd_.attenuatorCode());
    return c;
}

void SimBoard::failNextScan(int code, int times)
{
    scanFailureCode_ = code;
    scanFailures_ = code != 0 ? std::max(times, 0) : 0;
}

int SimBoard::scanError(int board, int low, int high, int32_t count, int range, HGLOBAL handle, int options)
{
    if (board != 0)
        return CBW_BADBOARD;
    if (low < 0 || high >= kAnalogInputs || low > high)
        return CBW_BADCHANNEL;
    if (range != BIP5VOLTS)
        return CBW_BADRANGE;
    if (options & BACKGROUND)
        return CBW_BADOPTION;
    const int32_t size = blocks_.size(handle);
    if (size == 0)
        return CBW_BADHANDLE;
    if (count <= 0 || count > size)
        return CBW_BADCOUNT;
    return CBW_NOERRORS;
}

int SimBoard::aInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, HGLOBAL handle,
                      int options)
{
    const int32_t rateIn = rate ? *rate : 0;
    Call call{.fn = Fn::AInScan, .board = board, .lowChan = low, .highChan = high, .count = count,
              .rate = rateIn, .range = range, .options = options, .handle = handle};
    ScanArgs args{board, low, high, count, rateIn, rateIn, range, handle, options, 0};
    ++scans_;

    if (scanFailures_ > 0) {
        --scanFailures_;
        call.result = scanFailureCode_;
    } else {
        call.result = scanError(board, low, high, count, range, handle, options);
    }
    if (call.result == CBW_NOERRORS) {
        uint16_t* samples = blocks_.samples(handle);
        const ScanConditions c = conditions();
        if (scanSource_)
            scanSource_(samples, count);
        else
            sounder_.fill(samples, count, low, high, c);
        // The external clock runs at the sounder clock over the divider, one group per tick.
        if (rate && (options & EXTCLOCK)) {
            *rate = kSounderClockHz / std::max(c.divider, 1);
            args.rateOut = *rate;
        }
    }
    args.result = call.result;
    lastScan_ = args;
    return record(call);
}

int SimBoard::portDirection(int port) const
{
    const Port* p = findPort(port);
    return p ? p->direction : 0;
}

uint16_t SimBoard::portLatch(int port) const
{
    const Port* p = findPort(port);
    return p ? p->latch : 0;
}

}  // namespace boardsim
