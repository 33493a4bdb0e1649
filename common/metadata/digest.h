#pragma once
// Message digests of recordings (SHA-256 of a recording, SHA-512 of a SigMF data
// file), streamed: bytes are added as they are produced or read, so no file is read
// a second time for its digest. libcrypto does the hashing (it uses the processor's
// SHA instructions where there are any).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace digest {

enum class Algorithm { Sha256, Sha512 };

class Hasher {
public:
    explicit Hasher(Algorithm algorithm);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    void add(const void* data, size_t length);
    // The digest of everything added, as lowercase hexadecimal; the hasher then starts
    // over empty.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
    Algorithm algorithm_;
};

// A hasher on a thread of its own, for bytes produced by a busy thread (a recording
// being formatted and written): add() copies the bytes and returns, so the hashing
// runs beside the producing on another core. At most a few megabytes wait at a time;
// add() waits when the hashing falls that far behind.
class ConcurrentHasher {
public:
    explicit ConcurrentHasher(Algorithm algorithm);
    ~ConcurrentHasher();
    ConcurrentHasher(const ConcurrentHasher&) = delete;
    ConcurrentHasher& operator=(const ConcurrentHasher&) = delete;

    void add(const void* data, size_t length);
    // Waits for every byte added and returns the digest; the hasher then starts over.
    std::string hex();

private:
    void work();
    Hasher hasher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;  // pieces waiting, in order
    std::vector<std::string> spare_;  // emptied pieces, kept for reuse
    size_t queuedBytes_ = 0;
    bool busy_ = false;  // the worker is hashing a piece taken off the queue
    bool stop_ = false;
    std::thread worker_;
};

std::string hexDigest(Algorithm algorithm, std::string_view bytes);

}  // namespace digest
