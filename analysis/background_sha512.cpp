#include "background_sha512.h"

#include "cli_support.h"

#include <openssl/evp.h>

namespace cli {

struct BackgroundSha512::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

BackgroundSha512::BackgroundSha512(size_t blockBytes) : blockBytes_(blockBytes), context_(std::make_unique<Context>())
{
    if (!context_->md || EVP_DigestInit_ex(context_->md, EVP_sha512(), nullptr) != 1)
        throw Failure("sounder: SHA-512 is not available from libcrypto");
    for (size_t i = 0; i < Blocks; ++i)
        blocks_.emplace_back(new unsigned char[blockBytes_]);
    worker_ = std::thread([this] { hashBlocks(); });
}

BackgroundSha512::~BackgroundSha512()
{
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

unsigned char* BackgroundSha512::take()
{
    std::unique_lock lock(mutex_);
    // The block after the queued ones is free once fewer than all blocks are queued.
    changed_.wait(lock, [this] { return queued_ < Blocks; });
    return blocks_[next_].get();
}

void BackgroundSha512::give(size_t used)
{
    {
        const std::lock_guard lock(mutex_);
        used_[next_] = used;
        next_ = (next_ + 1) % Blocks;
        ++queued_;
    }
    changed_.notify_all();
}

void BackgroundSha512::hashBlocks()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return queued_ > 0 || ending_; });
        if (ending_)  // given up: what is queued no longer matters
            return;
        const size_t oldest = (next_ + Blocks - queued_) % Blocks;
        lock.unlock();
        EVP_DigestUpdate(context_->md, blocks_[oldest].get(), used_[oldest]);
        lock.lock();
        --queued_;
        changed_.notify_all();
    }
}

std::string BackgroundSha512::finish()
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queued_ == 0; });
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md, digest, &length);
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

}  // namespace cli
