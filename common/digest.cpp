#include "digest.h"

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

std::string hexDigest(Algorithm algorithm, std::string_view bytes)
{
    Hasher hasher(algorithm);
    hasher.add(bytes.data(), bytes.size());
    return hasher.hex();
}

}  // namespace digest
