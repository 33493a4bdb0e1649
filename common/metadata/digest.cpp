#include "digest.h"

#include "thread_start.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace digest {

struct Hasher::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

namespace {

const EVP_MD* mdOf(Algorithm algorithm) { return algorithm == Algorithm::Sha256 ? EVP_sha256() : EVP_sha512(); }

}  // namespace

Hasher::Hasher(Algorithm algorithm) : context_(std::make_unique<Context>()), algorithm_(algorithm)
{
    context_->md = EVP_MD_CTX_new();
    if (!context_->md || EVP_DigestInit_ex(context_->md, mdOf(algorithm), nullptr) != 1)
        throw std::runtime_error("the digest is not available from libcrypto");
}

Hasher::~Hasher() = default;

void Hasher::add(const void* data, size_t length)
{
    if (length > 0)
        EVP_DigestUpdate(context_->md, data, length);
}

std::string Hasher::hex()
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md, value, &length);
    EVP_DigestInit_ex(context_->md, mdOf(algorithm_), nullptr);
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text(2 * size_t(length), '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = Digits[value[i] >> 4];
        text[2 * i + 1] = Digits[value[i] & 15];
    }
    return text;
}

namespace {
constexpr size_t QueueLimit = size_t(8) << 20;
}

// Without a thread of its own (the system refused one) it hashes in add().
ConcurrentHasher::ConcurrentHasher(Algorithm algorithm)
    : hasher_(algorithm), worker_(rt::threadIfAny([this] { work(); }))
{
}

ConcurrentHasher::~ConcurrentHasher()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void ConcurrentHasher::add(const void* data, size_t length)
{
    if (length == 0)
        return;
    if (!worker_.joinable()) {
        hasher_.add(data, length);
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queuedBytes_ < QueueLimit; });
    std::string piece;
    if (!spare_.empty()) {
        piece = std::move(spare_.back());
        spare_.pop_back();
    }
    piece.assign(static_cast<const char*>(data), length);
    queue_.push_back(std::move(piece));
    queuedBytes_ += length;
    lock.unlock();
    changed_.notify_all();
}

void ConcurrentHasher::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty())
            return;  // stopping, and nothing left
        std::string piece = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        hasher_.add(piece.data(), piece.size());
        lock.lock();
        busy_ = false;
        queuedBytes_ -= piece.size();
        if (spare_.size() < 4)
            spare_.push_back(std::move(piece));
        changed_.notify_all();
    }
}

std::string ConcurrentHasher::hex()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
    return hasher_.hex();
}

std::string hexDigest(Algorithm algorithm, std::string_view bytes)
{
    Hasher hasher(algorithm);
    hasher.add(bytes.data(), bytes.size());
    return hasher.hex();
}

}  // namespace digest
