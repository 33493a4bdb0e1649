#pragma once
// The simulated board behind the board library's C functions: four digital ports
// wired to the sounder front-end's bus, movable memory blocks, and a blocking analog
// scan of the sounder's outputs. One instance, reached through simBoard(); everything
// runs on the caller's thread.

#include "sim_control.h"
#include "front_end.h"
#include "block_table.h"
#include "sounder.h"

#include <string>

namespace boardsim {

class SimBoard {
public:
    SimBoard();
    void reset();

    // The library functions, arguments as passed.
    int dConfigPort(int board, int port, int direction);
    int dOut(int board, int port, uint16_t value);
    int dIn(int board, int port, uint16_t* value);
    int aInScan(int board, int low, int high, int32_t count, int32_t* rate, int range, HGLOBAL handle,
                int options);
    HGLOBAL winBufAlloc(int32_t samples);
    int winBufFree(HGLOBAL handle);
    void* globalLock(HGLOBAL handle);
    int globalUnlock(HGLOBAL handle);

    // Why the board cannot be used (a channel description that does not read), or
    // empty. While it is set every library call fails with CBW_NODEVICE.
    const std::string& failure() const { return failure_; }

    // Control side.
    const std::vector<Call>& trace() const { return trace_; }
    void clearTrace() { trace_.clear(); }
    int portDirection(int port) const;
    uint16_t portLatch(int port) const;
    FrontEnd& frontEnd() { return frontEnd_; }
    Sounder& sounder() { return sounder_; }
    ScanConditions conditions() const;
    void setScanSource(ScanSource source) { scanSource_ = std::move(source); }
    void failNextAlloc(int times) { allocFailures_ = std::max(times, 0); }
    void failNextScan(int code, int times);
    // Makes the board unusable with this reason (given by cbwBoardFailure), or usable
    // again with "".
    void setFailure(std::string text) { failure_ = std::move(text); }
    int liveBlocks() const { return blocks_.live(); }
    int lockedBlocks() const { return blocks_.locked(); }
    int32_t blockSize(HGLOBAL handle) const { return blocks_.size(handle); }
    const std::optional<ScanArgs>& lastScan() const { return lastScan_; }
    int scanCount() const { return scans_; }

private:
    struct Port {
        int width = 8;
        int direction = DIGITALIN;
        uint16_t latch = 0;
    };
    Port* findPort(int port);
    const Port* findPort(int port) const;
    void busChanged();
    void loadChannel();
    int record(const Call& call);
    int scanError(int board, int low, int high, int32_t count, int range, HGLOBAL handle, int options);

    std::array<Port, 4> ports_;
    FrontEnd frontEnd_;
    Sounder sounder_;
    boardshared::BlockTable blocks_;
    std::vector<Call> trace_;
    std::string failure_;
    ScanSource scanSource_;
    int allocFailures_ = 0;
    int scanFailures_ = 0;
    int scanFailureCode_ = 0;
    std::optional<ScanArgs> lastScan_;
    int scans_ = 0;
};

SimBoard& simBoard();

}  // namespace boardsim
