#pragma once
// The real board behind the library's C functions: a comedi device, its first digital
// I/O subdevice as an 8255's four ports and its first analog-input subdevice for the
// scan. The device is opened on first use; what was found is reported once on stderr.

#include "block_table.h"
#include "cbw.h"

#include <comedilib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace boardcomedi {

class ComediBoard {
public:
    int dConfigPort(int board, int port, int direction);
    int dOut(int board, int port, uint16_t value);
    int dIn(int board, int port, uint16_t* value);
    int aInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, HGLOBAL handle, int options);

    boardshared::BlockTable& blocks() { return blocks_; }
    void closeDevice();
    // The text of the last failure to open or configure the board, "" while it can be used.
    const std::string& failure() const { return failure_; }
    void setClockAllowance(std::chrono::milliseconds allowance) { allowance_ = allowance; }
    std::chrono::milliseconds clockAllowance() const { return allowance_; }

private:
    // An 8255 port on the digital subdevice's lines: A 0-7, B 8-15, C low 16-19, C high 20-23.
    struct Port {
        unsigned base = 0;
        unsigned width = 8;
        bool output = false;
        bool latchKnown = false;  // nothing is known of the lines before the first write
        uint16_t latch = 0;
    };

    static std::array<Port, 4> freshPorts();
    bool openDevice();  // false (after a line on stderr) when the device cannot be used
    Port* findPort(int port);
    int portReady(const Port& p);
    int portFailure(const char* call, int port);
    void restoreOutputs();

    comedi_t* device_ = nullptr;
    bool opened_ = false;  // opening was tried: a missing device is reported once
    std::string path_;
    int dio_ = -1;
    int ai_ = -1;
    unsigned dioLines_ = 0;
    unsigned aiInputs_ = 0;
    std::array<Port, 4> ports_ = freshPorts();
    int portFailures_ = 0;
    std::string failure_;
    std::chrono::milliseconds allowance_{10'000};
    boardshared::BlockTable blocks_;
};

ComediBoard& comediBoard();

}  // namespace boardcomedi
