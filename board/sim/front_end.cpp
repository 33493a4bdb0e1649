#include "front_end.h"

namespace boardsim {

namespace {
constexpr int kDefaultClocksPerSweep = 10000;
constexpr int kPowerOnDividerCode = 1;  // divide by 2
constexpr int kPotMidScale = 16;
constexpr int kMaxPotValue = 32;
constexpr size_t kMaxLog = size_t{1} << 20;  // the logs stop growing here
}  // namespace

void FrontEnd::reset()
{
    clocks_ = kDefaultClocksPerSweep;
    regs_.fill(-1);
    pots_.fill(-1);
    writes_.clear();
    frameBytes_.clear();
    strobes_ = protocolErrors_ = busConflicts_ = 0;
    address_ = bus::kAddrIdle;
    driven_ = false;
    data_ = 0;
    cycleLatched_ = cycleUndriven_ = false;
    cycleByte_ = 0;
    cycleLines_.clear();
    potStep_ = potNumber_ = potValuePending_ = 0;
}

void FrontEnd::busChanged(int address, bool dataDriven, uint8_t data)
{
    if (address != address_) {
        endCycle();
        address_ = address;
        driven_ = dataDriven;
        data_ = data;
        beginCycle();
    } else if (dataDriven != driven_ || data != data_) {
        driven_ = dataDriven;
        data_ = data;
        duringCycle(dataDriven, data);
    }
}

std::optional<uint8_t> FrontEnd::drivenData() const
{
    if (address_ >= bus::kAddrClocks0 && address_ <= bus::kAddrClocks2) {
        const int shift = 8 * (address_ - bus::kAddrClocks0);
        return static_cast<uint8_t>((clocks_ >> shift) & 0xFF);
    }
    return std::nullopt;
}

void FrontEnd::beginCycle()
{
    cycleLatched_ = false;
    cycleUndriven_ = false;
    cycleLines_.clear();
    if (address_ == bus::kAddrPulse)
        ++strobes_;
    duringCycle(driven_, data_);
}

void FrontEnd::duringCycle(bool driven, uint8_t data)
{
    if (address_ >= bus::kAddrDivider && address_ <= bus::kAddrAtten) {
        // A transparent latch: it follows the lines while the board drives them.
        if (driven) {
            cycleLatched_ = true;
            cycleByte_ = data;
        }
    } else if (address_ >= bus::kAddrClocks0 && address_ <= bus::kAddrClocks2) {
        if (driven)
            ++busConflicts_;
    } else if (address_ == bus::kAddrPot) {
        if (!driven)
            cycleUndriven_ = true;
        else if ((cycleLines_.empty() || cycleLines_.back() != data) && cycleLines_.size() < 4)
            cycleLines_.push_back(data);  // four values already make the frame malformed
    }
}

void FrontEnd::endCycle()
{
    if (address_ >= bus::kAddrDivider && address_ <= bus::kAddrAtten) {
        if (cycleLatched_) {
            regs_[address_] = cycleByte_;
            if (writes_.size() < kMaxLog)
                writes_.push_back({address_, cycleByte_});
        }
    } else if (address_ == bus::kAddrPot) {
        // A frame: lines at rest, exactly one byte, back at rest, all while driven.
        const bool wellFormed = !cycleUndriven_ && cycleLines_.size() == 3 &&
                                cycleLines_[0] == bus::kPotRest && cycleLines_[2] == bus::kPotRest;
        if (wellFormed) {
            if (frameBytes_.size() < kMaxLog)
                frameBytes_.push_back(cycleLines_[1]);
            potFrame(cycleLines_[1]);
        } else {
            ++protocolErrors_;
            potStep_ = 0;
        }
    }
    cycleLines_.clear();
}

// A command is six frames: 0x80, 0x40+p, 0xA0, 0x40+p, 0x80+v, 0x40+p.
void FrontEnd::potFrame(int byte)
{
    const bool isNumber = (byte & 0xF0) == bus::kPotNumberTag;
    switch (potStep_) {
    case 0:
        if (byte != bus::kPotStart)
            return potSequenceError(byte);
        break;
    case 1:
        if (!isNumber)
            return potSequenceError(byte);
        potNumber_ = byte & 0x0F;
        break;
    case 2:
        if (byte != bus::kPotWrite)
            return potSequenceError(byte);
        break;
    case 3:
    case 5:
        if (!isNumber || (byte & 0x0F) != potNumber_)
            return potSequenceError(byte);
        break;
    case 4:
        if (byte < bus::kPotValueTag || byte > bus::kPotValueTag + kMaxPotValue)
            return potSequenceError(byte);
        potValuePending_ = byte - bus::kPotValueTag;
        break;
    }
    if (potStep_ == 5) {
        pots_[potNumber_] = potValuePending_;
        potStep_ = 0;
    } else {
        ++potStep_;
    }
}

// The broken command is dropped; a start byte begins the next one at once.
void FrontEnd::potSequenceError(int byte)
{
    ++protocolErrors_;
    potStep_ = byte == bus::kPotStart ? 1 : 0;
}

int FrontEnd::reg(int address) const
{
    return address >= 0 && address < 16 ? regs_[address] : -1;
}

int FrontEnd::potValue(int pot) const
{
    return pot >= 0 && pot < 16 ? pots_[pot] : -1;
}

int FrontEnd::divider() const
{
    const int code = regs_[bus::kAddrDivider];
    return (code < 0 ? kPowerOnDividerCode : code) + 1;
}

int FrontEnd::attenuatorCode() const
{
    const int code = regs_[bus::kAddrAtten];
    return code < 0 ? 0 : code & 0x1F;
}

int FrontEnd::potSetting(int pot) const
{
    const int v = potValue(pot);
    return v < 0 ? kPotMidScale : v;
}

}  // namespace boardsim
