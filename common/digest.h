#pragma once
// Message digests of recordings (SHA-256 of a recording, SHA-512 of a SigMF data
// file), streamed: bytes are added as they are produced or read, so no file is read
// a second time for its digest. libcrypto does the hashing (it uses the processor's
// SHA instructions where there are any).

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

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

std::string hexDigest(Algorithm algorithm, std::string_view bytes);

}  // namespace digest
