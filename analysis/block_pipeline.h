#pragma once
// Blocks of bytes handed from the thread that makes them (the reader's parsing, the
// slowest step) to a second thread that consumes them (hashing, formatting, writing),
// so that the two kinds of work overlap. The maker fills blocks lent by take() and
// hands them back with give(); a few blocks are in flight, so neither side waits for
// the other unless it runs far ahead. A failure of the consumer is rethrown to the
// maker by the next take() or by finish(). Where no second thread can be had, give()
// consumes the block on the maker's thread.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

class BlockPipeline {
public:
    // Called on the second thread with each block given, in order.
    using Consumer = std::function<void(unsigned char* block, size_t used)>;

    BlockPipeline(size_t blockBytes, Consumer consume);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    size_t blockBytes() const { return blockBytes_; }
    // A block of blockBytes() to fill (aligned for any scalar); waits while every
    // block is still queued.
    unsigned char* take();
    // Queues the first used bytes of the block from take().
    void give(size_t used);
    // Returns once every block given has been consumed.
    void finish();

private:
    static constexpr size_t Blocks = 4;
    void consumeBlocks();
    void rethrowFailure();

    size_t blockBytes_;
    Consumer consume_;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    size_t used_[Blocks] = {};
    size_t next_ = 0;    // the block take() lends next
    size_t queued_ = 0;  // blocks given and not yet consumed
    bool ending_ = false;
    std::exception_ptr failure_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread worker_;
};

}  // namespace cli
