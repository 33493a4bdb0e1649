#include "sigmf_stages.h"

#include "thread_start.h"

#include <algorithm>

namespace cli {

SlotStages::SlotStages(size_t slotCount, size_t stages, Work work)
    : slots_(std::max<size_t>(1, slotCount)), batch_(std::max<size_t>(1, slots_ / 4)), work_(std::move(work))
{
    for (size_t s = 0; s < stages; ++s)
        stages_.push_back(std::make_unique<Stage>());
    for (size_t s = 0; s < stages && !here_; ++s) {
        stages_[s]->thread = rt::threadIfAny([this, s] { run(s); });
        here_ = !stages_[s]->thread.joinable();
    }
    if (here_) {
        // The system refused a thread: the filler does every stage's work itself, in
        // give(), and the stages started already are stopped.
        stopThreads();
        stopping_ = false;
    }
}

SlotStages::~SlotStages() { stopThreads(); }

void SlotStages::stopThreads()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (auto& stage : stages_)
        stage->wake.notify_all();
    for (auto& stage : stages_)
        if (stage->thread.joinable())
            stage->thread.join();
}

uint64_t SlotStages::slowest() const
{
    uint64_t least = given_;
    for (const auto& stage : stages_)
        least = std::min(least, stage->done);
    return least;
}

// With the filler waiting: whether it can go on. take() waits for a batch of free
// slots (at most half the ring, so that the stages, each woken for a batch, always
// leave it enough), finish() for every stage to be done.
bool SlotStages::fillerMayGo() const
{
    if (failure_)
        return true;
    return finishing_ ? slowest() == given_ : given_ - slowest() + batch_ <= slots_;
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
    if (!failure_ && given_ - slowest() >= slots_) {
        fillerWaiting_ = true;
        filler_.wait(lock, [this] { return fillerMayGo(); });
        fillerWaiting_ = false;
    }
    rethrowFailure();
    return size_t(given_ % slots_);
}

void SlotStages::give()
{
    if (here_) {
        const size_t slot = size_t(given_ % slots_);
        for (size_t s = 0; s < stages_.size() && !failure_; ++s) {
            try {
                work_(s, slot);
                ++stages_[s]->done;
            } catch (...) {
                failure_ = std::current_exception();
            }
        }
        ++given_;
        return;
    }
    const std::lock_guard lock(mutex_);
    ++given_;
    for (auto& stage : stages_)
        if (stage->waiting && given_ - stage->done >= batch_)
            stage->wake.notify_one();
}

void SlotStages::finish()
{
    std::unique_lock lock(mutex_);
    finishing_ = true;
    for (auto& stage : stages_)
        stage->wake.notify_one();
    fillerWaiting_ = true;
    filler_.wait(lock, [this] { return fillerMayGo(); });
    fillerWaiting_ = false;
    rethrowFailure();
}

void SlotStages::run(size_t index)
{
    Stage& stage = *stages_[index];
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stage.done == given_ && !stopping_ && !failure_) {
            // Caught up: woken for a batch, then on until caught up again.
            stage.waiting = true;
            stage.wake.wait(lock, [&] {
                return stopping_ || failure_ || given_ - stage.done >= batch_ || (finishing_ && stage.done < given_);
            });
            stage.waiting = false;
        }
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
        if (fillerWaiting_ && fillerMayGo())
            filler_.notify_one();
    }
}

}  // namespace cli
