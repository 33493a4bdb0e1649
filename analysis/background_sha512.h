#pragma once
// SHA-512 of a byte stream, computed on a second thread while the caller produces the
// next bytes: at about 0.6 GB/s it is the slowest step of a SigMF conversion, slower
// than reading the recording. The caller fills blocks lent by take() and hands them
// back with give(); a few blocks are in flight, so neither side waits for the other
// unless it runs far ahead.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cli {

class BackgroundSha512 {
public:
    // Throws Failure when libcrypto gives no SHA-512.
    explicit BackgroundSha512(size_t blockBytes);
    ~BackgroundSha512();
    BackgroundSha512(const BackgroundSha512&) = delete;
    BackgroundSha512& operator=(const BackgroundSha512&) = delete;

    size_t blockBytes() const { return blockBytes_; }
    // A block of blockBytes() to fill; waits while every block is still being hashed.
    unsigned char* take();
    // Queues the first used bytes of the block from take() for hashing.
    void give(size_t used);
    // The digest in lower-case hex, once every block given has been hashed.
    std::string finish();

private:
    static constexpr size_t Blocks = 4;
    void hashBlocks();

    size_t blockBytes_;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    size_t used_[Blocks] = {};
    size_t next_ = 0;    // the block take() lends next
    size_t queued_ = 0;  // blocks given and not yet hashed
    bool ending_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    struct Context;
    std::unique_ptr<Context> context_;
    std::thread worker_;
};

}  // namespace cli
