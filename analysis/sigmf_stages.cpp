#include "sigmf_stages.h"

#include <algorithm>

namespace cli {

SlotStages::SlotStages(size_t slotCount, size_t stages, Work work)
    : slots_(std::max<size_t>(1, slotCount)), work_(std::move(work))
{
    for (size_t s = 0; s < stages; ++s)
        stages_.push_back(std::make_unique<Stage>());
    for (size_t s = 0; s < stages; ++s)
        stages_[s]->thread = std::thread([this, s] { run(s); });
}

SlotStages::~SlotStages()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (auto& stage : stages_)
        stage->wake.notify_all();
    for (auto& stage : stages_)
        stage->thread.join();
}

uint64_t SlotStages::slowest() const
{
    uint64_t least = given_;
    for (const auto& stage : stages_)
        least = std::min(least, stage->done);
    return least;
}

void SlotStages::rethrowFailure()
{
    if (failure_)
        std::rethrow_exception(failure_);
}

size_t SlotStages::take()
{
    std::unique_lock lock(mutex_);
    // Slot given_ % slots_ last held slot given_ - slots_, done once every stage is past it.
    filler_.wait(lock, [this] { return failure_ || given_ - slowest() < slots_; });
    rethrowFailure();
    return size_t(given_ % slots_);
}

void SlotStages::give()
{
    {
        const std::lock_guard lock(mutex_);
        ++given_;
    }
    for (auto& stage : stages_)
        stage->wake.notify_one();
}

void SlotStages::finish()
{
    std::unique_lock lock(mutex_);
    filler_.wait(lock, [this] { return failure_ || slowest() == given_; });
    rethrowFailure();
}

void SlotStages::run(size_t index)
{
    Stage& stage = *stages_[index];
    std::unique_lock lock(mutex_);
    for (;;) {
        stage.wake.wait(lock, [&] { return stopping_ || failure_ || stage.done < given_; });
        if (stopping_ || failure_)
            return;
        const size_t slot = size_t(stage.done % slots_);
        lock.unlock();
        std::exception_ptr failure;
        try {
            work_(index, slot);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure) {
            // The first failure stands; every other stage stops at its next slot.
            if (!failure_)
                failure_ = failure;
            for (auto& other : stages_)
                other->wake.notify_all();
            filler_.notify_all();
            return;
        }
        ++stage.done;
        filler_.notify_one();
    }
}

}  // namespace cli
