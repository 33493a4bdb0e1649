#pragma once
// The movable memory blocks behind cbWinBufAlloc, GlobalLock, GlobalUnlock and
// cbWinBufFree, the same in every board library: a handle names a zeroed block of
// 16-bit samples; locking gives its address and counts, unlocking counts down.

#include "cbw.h"
#include "sample_memory.h"

#include <cstdint>
#include <map>

namespace boardshared {

class BlockTable {
public:
    // Beyond any scan of the program (256 MB); a larger request gets no block.
    static constexpr int32_t kMaxBlockSamples = 1 << 27;

    HGLOBAL alloc(int32_t samples);  // 0 when the size is out of range or memory is short
    int free(HGLOBAL handle);        // CBW_BADHANDLE for a handle that is not live
    uint16_t* lock(HGLOBAL handle);  // nullptr for a handle that is not live
    int unlock(HGLOBAL handle);      // CBW_BADHANDLE, or CBW_NOTLOCKED when not locked
    void clear();                    // handles keep counting up: a stale one never returns

    uint16_t* samples(HGLOBAL handle) const;  // without locking; nullptr when not live
    int32_t size(HGLOBAL handle) const;       // 0 when not live
    int live() const { return static_cast<int>(blocks_.size()); }
    int locked() const;

private:
    struct Block {
        SampleMemory memory;
        int32_t size = 0;
        int locks = 0;
    };

    std::map<HGLOBAL, Block> blocks_;
    HGLOBAL nextHandle_ = 0x1000;
};

}  // namespace boardshared
