#include "block_table.h"

#include <algorithm>
#include <utility>

namespace boardshared {

HGLOBAL BlockTable::alloc(int32_t samples)
{
    if (samples <= 0 || samples > kMaxBlockSamples)
        return 0;
    // Zeroed pages come lazily from the system, so a large block costs nothing until
    // the scan writes it; the half the scan never fills stays untouched.
    SampleMemory memory(static_cast<size_t>(samples));
    if (!memory.valid())
        return 0;
    const HGLOBAL handle = nextHandle_++;
    blocks_[handle] = Block{std::move(memory), samples, 0};
    return handle;
}

int BlockTable::free(HGLOBAL handle)
{
    return blocks_.erase(handle) ? CBW_NOERRORS : CBW_BADHANDLE;
}

uint16_t* BlockTable::lock(HGLOBAL handle)
{
    auto it = blocks_.find(handle);
    if (it == blocks_.end())
        return nullptr;
    ++it->second.locks;
    return it->second.memory.data();
}

int BlockTable::unlock(HGLOBAL handle)
{
    auto it = blocks_.find(handle);
    if (it == blocks_.end())
        return CBW_BADHANDLE;
    if (it->second.locks == 0)
        return CBW_NOTLOCKED;
    --it->second.locks;
    return CBW_NOERRORS;
}

void BlockTable::clear() { blocks_.clear(); }

uint16_t* BlockTable::samples(HGLOBAL handle) const
{
    auto it = blocks_.find(handle);
    return it == blocks_.end() ? nullptr : it->second.memory.data();
}

int32_t BlockTable::size(HGLOBAL handle) const
{
    auto it = blocks_.find(handle);
    return it == blocks_.end() ? 0 : it->second.size;
}

int BlockTable::locked() const
{
    return static_cast<int>(
        std::count_if(blocks_.begin(), blocks_.end(), [](const auto& entry) { return entry.second.locks > 0; }));
}

}  // namespace boardshared
