#include "comedi_board.h"

#include "comedi_control.h"
#include "comedi_scan.h"
#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace boardcomedi {

namespace {

constexpr const char* kDefaultDevice = "/dev/comedi0";
constexpr int kFirstPort = FIRSTPORTA;
constexpr unsigned kPortLines = 24;  // ports A, B, C low and C high
// A board whose port fails on every bus write would otherwise fill the terminal.
constexpr int kReportedPortFailures = 5;

const char* comediError() { return comedi_strerror(comedi_errno()); }

unsigned lineMask(unsigned width) { return (1u << width) - 1; }

}  // namespace

ComediBoard& comediBoard()
{
    static ComediBoard board;
    return board;
}

void closeDevice() { comediBoard().closeDevice(); }

void setClockAllowance(std::chrono::milliseconds allowance) { comediBoard().setClockAllowance(allowance); }

std::chrono::milliseconds clockAllowance() { return comediBoard().clockAllowance(); }

void ComediBoard::closeDevice()
{
    if (device_)
        comedi_close(device_);
    device_ = nullptr;
    opened_ = false;
    path_.clear();
    dio_ = ai_ = -1;
    dioLines_ = aiInputs_ = 0;
    ports_ = freshPorts();
    portFailures_ = 0;
    failure_.clear();
}

bool ComediBoard::openDevice()
{
    if (opened_)
        return device_ != nullptr;
    opened_ = true;
    const char* named = std::getenv("SOUNDER_COMEDI_DEVICE");
    path_ = named && *named ? named : kDefaultDevice;
    device_ = comedi_open(path_.c_str());
    if (!device_) {
        // A file that opens but does not answer comedi's first request (a regular file,
        // /dev/null, a serial port) fails with "Inappropriate ioctl for device".
        const int error = comedi_errno();
        failure_ = "cannot open " + path_ + ": " +
                   (error == ENOTTY ? std::string("not a comedi device") : std::string(comedi_strerror(error)));
        report("%s (is the comedi driver loaded, and are you in the device's group? "
               "SOUNDER_COMEDI_DEVICE names another device)", failure_.c_str());
        return false;
    }
    failure_.clear();
    // The first digital subdevice with an 8255's 24 lines, else the first of all: some
    // boards (NI's E series) list a narrower digital port before their 8255.
    for (int sub = comedi_find_subdevice_by_type(device_, COMEDI_SUBD_DIO, 0); sub >= 0;
         sub = comedi_find_subdevice_by_type(device_, COMEDI_SUBD_DIO, static_cast<unsigned>(sub) + 1)) {
        const int channels = comedi_get_n_channels(device_, static_cast<unsigned>(sub));
        const unsigned lines = channels > 0 ? static_cast<unsigned>(channels) : 0;
        if (dio_ < 0 || (dioLines_ < kPortLines && lines >= kPortLines)) {
            dio_ = sub;
            dioLines_ = lines;
        }
        if (dioLines_ >= kPortLines)
            break;
    }
    ai_ = comedi_find_subdevice_by_type(device_, COMEDI_SUBD_AI, 0);
    if (ai_ >= 0) {
        const auto ai = static_cast<unsigned>(ai_);
        aiInputs_ = static_cast<unsigned>(std::max(comedi_get_n_channels(device_, ai), 0));
        // The data stream of the device file belongs to its read subdevice.
        const int reader = comedi_get_read_subdevice(device_);
        if (reader >= 0 && reader != ai_ && comedi_set_read_subdevice(device_, ai) < 0)
            report("%s: the analog input subdevice %d cannot become the read subdevice: %s", path_.c_str(), ai_,
                   comediError());
    }
    const char* driver = comedi_get_driver_name(device_);
    const char* boardName = comedi_get_board_name(device_);
    std::string found = path_ + " (driver " + (driver ? driver : "?") + ", board " +
                        (boardName ? boardName : "?") + "): ";
    if (dio_ >= 0)
        found += "digital I/O subdevice " + std::to_string(dio_) + " with " + std::to_string(dioLines_) + " lines";
    else
        found += "no digital I/O subdevice";
    if (ai_ >= 0)
        found += ", analog input subdevice " + std::to_string(ai_) + " with " + std::to_string(aiInputs_) +
                 " inputs, maxdata " + std::to_string(comedi_get_maxdata(device_, static_cast<unsigned>(ai_), 0));
    else
        found += ", no analog input subdevice";
    report("%s", found.c_str());
    // The ports may still work, but no sweep can be captured: said now, so that the
    // program can say it at start-up rather than fail every scan without a reason.
    if (ai_ < 0) {
        failure_ = path_ + " has no analog input subdevice for the scans";
    } else if (const int flags = comedi_get_subdevice_flags(device_, static_cast<unsigned>(ai_));
               flags >= 0 && !(flags & SDF_CMD_READ)) {
        failure_ = path_ + "'s analog input subdevice " + std::to_string(ai_) +
                   " takes no scan commands (streamed acquisition)";
    }
    return true;
}

std::array<ComediBoard::Port, 4> ComediBoard::freshPorts()
{
    return {Port{0, 8}, Port{8, 8}, Port{16, 4}, Port{20, 4}};
}

ComediBoard::Port* ComediBoard::findPort(int port)
{
    return port >= kFirstPort && port < kFirstPort + 4 ? &ports_[static_cast<size_t>(port - kFirstPort)] : nullptr;
}

int ComediBoard::portFailure(const char* call, int port)
{
    ++portFailures_;
    if (portFailures_ <= kReportedPortFailures)
        report("%s on port %d failed: %s", call, port, comediError());
    if (portFailures_ == kReportedPortFailures)
        report("further digital port failures are not reported");
    return CBW_DEVICEERROR;
}

// An 8255 clears every output latch when a port's direction changes, which would put
// address 0 on the address port until its next write. The lines are written back at
// once with what the program last wrote, so the bus keeps its idle address.
void ComediBoard::restoreOutputs()
{
    unsigned mask = 0;
    unsigned bits = 0;
    for (const Port& p : ports_) {
        if (p.output && p.latchKnown && p.base + p.width <= dioLines_) {
            mask |= lineMask(p.width) << p.base;
            bits |= static_cast<unsigned>(p.latch) << p.base;
        }
    }
    if (mask && comedi_dio_bitfield2(device_, static_cast<unsigned>(dio_), mask, &bits, 0) < 0)
        portFailure("comedi_dio_bitfield2", 0);
}

// After the arguments are checked: the device is open and the port lies on its
// digital subdevice, or the code that says why not.
int ComediBoard::portReady(const Port& p)
{
    if (!openDevice())
        return CBW_NODEVICE;
    if (dio_ < 0) {
        failure_ = path_ + " has no digital I/O subdevice for the front-end's ports";
        return CBW_NOSUBDEVICE;
    }
    if (p.base + p.width > dioLines_) {
        failure_ = path_ + "'s digital I/O subdevice has " + std::to_string(dioLines_) +
                   " lines, too few for the front-end's ports";
        return CBW_BADPORTNUM;
    }
    return CBW_NOERRORS;
}

int ComediBoard::dConfigPort(int board, int port, int direction)
{
    if (board != 0)
        return CBW_BADBOARD;
    Port* p = findPort(port);
    if (!p)
        return CBW_BADPORTNUM;
    if (direction != DIGITALOUT && direction != DIGITALIN)
        return CBW_BADDIRECTION;
    if (const int problem = portReady(*p))
        return problem;
    const unsigned comediDirection = direction == DIGITALOUT ? COMEDI_OUTPUT : COMEDI_INPUT;
    for (unsigned line = p->base; line < p->base + p->width; ++line)
        if (comedi_dio_config(device_, static_cast<unsigned>(dio_), line, comediDirection) < 0) {
            failure_ = "configuring port " + std::to_string(port) + " of " + path_ + " failed: " + comediError();
            return portFailure("comedi_dio_config", port);
        }
    p->output = direction == DIGITALOUT;
    restoreOutputs();
    return CBW_NOERRORS;
}

int ComediBoard::dOut(int board, int port, uint16_t value)
{
    if (board != 0)
        return CBW_BADBOARD;
    Port* p = findPort(port);
    if (!p)
        return CBW_BADPORTNUM;
    if (value > lineMask(p->width))
        return CBW_BADPORTVALUE;
    if (const int problem = portReady(*p))
        return problem;
    unsigned bits = value;
    if (comedi_dio_bitfield2(device_, static_cast<unsigned>(dio_), lineMask(p->width), &bits, p->base) < 0)
        return portFailure("comedi_dio_bitfield2", port);
    p->latch = value;
    p->latchKnown = true;
    return CBW_NOERRORS;
}

int ComediBoard::dIn(int board, int port, uint16_t* value)
{
    if (board != 0)
        return CBW_BADBOARD;
    Port* p = findPort(port);
    if (!p)
        return CBW_BADPORTNUM;
    if (!value)
        return CBW_NULLPOINTER;
    if (const int problem = portReady(*p))
        return problem;
    unsigned bits = 0;
    if (comedi_dio_bitfield2(device_, static_cast<unsigned>(dio_), 0, &bits, p->base) < 0)
        return portFailure("comedi_dio_bitfield2", port);
    *value = static_cast<uint16_t>(bits & lineMask(p->width));
    return CBW_NOERRORS;
}

int ComediBoard::aInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, HGLOBAL handle,
                         int options)
{
    if (board != 0)
        return CBW_BADBOARD;
    if (range != BIP5VOLTS)
        return CBW_BADRANGE;
    if (options & BACKGROUND)
        return CBW_BADOPTION;
    uint16_t* samples = blocks_.samples(handle);
    if (!samples)
        return CBW_BADHANDLE;
    if (count <= 0 || count > blocks_.size(handle))
        return CBW_BADCOUNT;
    if (low < 0 || low > high)
        return CBW_BADCHANNEL;
    const bool externalClock = options & EXTCLOCK;
    const int32_t requested = rate ? *rate : 0;
    if (!externalClock && requested <= 0)
        return CBW_BADRATE;
    if (!openDevice())
        return CBW_NODEVICE;
    if (ai_ < 0)
        return CBW_NOSUBDEVICE;
    if (static_cast<unsigned>(high) >= aiInputs_) {
        report("scan refused: analog input %d does not exist (the board has %u)", high, aiInputs_);
        return CBW_BADCHANNEL;
    }
    const int flags = comedi_get_subdevice_flags(device_, static_cast<unsigned>(ai_));
    if (flags < 0 || !(flags & SDF_CMD_READ)) {
        report("scan refused: analog input subdevice %d takes no scan commands", ai_);
        return CBW_NOSUBDEVICE;
    }
    ScanRequest request;
    request.subdevice = static_cast<unsigned>(ai_);
    request.low = low;
    request.high = high;
    request.count = count;
    request.scansPerSecond = requested > 0 ? requested : 0;
    request.externalClock = externalClock;
    request.allowanceMs = allowance_.count();
    int32_t timerRate = requested;
    const int result = runScan(device_, request, samples, &timerRate);
    if (result == CBW_NOERRORS && rate && !externalClock)
        *rate = timerRate;
    return result;
}

}  // namespace boardcomedi
