#include "block_pipeline.h"

#include "thread_start.h"

namespace cli {

BlockPipeline::BlockPipeline(size_t blockBytes, Consumer consume)
    : blockBytes_(blockBytes), consume_(std::move(consume))
{
    for (size_t i = 0; i < Blocks; ++i)
        blocks_.emplace_back(new unsigned char[blockBytes_]);
    // Without a second thread (the system refused one), give() consumes each block itself.
    worker_ = rt::threadIfAny([this] { consumeBlocks(); });
}

BlockPipeline::~BlockPipeline()
{
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void BlockPipeline::rethrowFailure()
{
    if (failure_)
        std::rethrow_exception(failure_);
}

unsigned char* BlockPipeline::take()
{
    std::unique_lock lock(mutex_);
    // The block after the queued ones is free once fewer than all blocks are queued.
    changed_.wait(lock, [this] { return queued_ < Blocks || failure_; });
    rethrowFailure();
    return blocks_[next_].get();
}

void BlockPipeline::give(size_t used)
{
    if (!worker_.joinable()) {
        try {
            consume_(blocks_[next_].get(), used);
        } catch (...) {
            failure_ = std::current_exception();
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        used_[next_] = used;
        next_ = (next_ + 1) % Blocks;
        ++queued_;
    }
    changed_.notify_all();
}

void BlockPipeline::finish()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queued_ == 0 || failure_; });
    rethrowFailure();
}

void BlockPipeline::consumeBlocks()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return queued_ > 0 || ending_; });
        if (ending_)  // given up: what is queued no longer matters
            return;
        const size_t oldest = (next_ + Blocks - queued_) % Blocks;
        lock.unlock();
        std::exception_ptr failure;
        try {
            consume_(blocks_[oldest].get(), used_[oldest]);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure) {
            // Nothing more is consumed; the maker learns of it at its next take() or finish().
            failure_ = failure;
            queued_ = 0;
            changed_.notify_all();
            changed_.wait(lock, [this] { return ending_; });
            return;
        }
        --queued_;
        changed_.notify_all();
    }
}

}  // namespace cli
