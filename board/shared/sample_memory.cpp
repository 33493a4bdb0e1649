#include "sample_memory.h"

#include <cstdlib>
#include <utility>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define SOUNDER_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOUNDER_HEAP_ONLY 1
#endif
#endif

namespace boardshared {

SampleMemory::SampleMemory(size_t samples) : bytes_(samples * sizeof(uint16_t))
{
#ifndef SOUNDER_HEAP_ONLY
    constexpr size_t kMapThresholdBytes = size_t{8} << 20;
    if (bytes_ >= kMapThresholdBytes) {
        void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
#ifdef MADV_HUGEPAGE
            madvise(p, bytes_, MADV_HUGEPAGE);  // a hint; without it the block still works
#endif
            data_ = static_cast<uint16_t*>(p);
            mapped_ = true;
            return;
        }
    }
#endif
    data_ = static_cast<uint16_t*>(std::calloc(samples, sizeof(uint16_t)));
}

SampleMemory::~SampleMemory() { release(); }

SampleMemory::SampleMemory(SampleMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), bytes_(other.bytes_), mapped_(other.mapped_)
{
}

SampleMemory& SampleMemory::operator=(SampleMemory&& other) noexcept
{
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        bytes_ = other.bytes_;
        mapped_ = other.mapped_;
    }
    return *this;
}

void SampleMemory::release()
{
    if (!data_)
        return;
    if (mapped_)
        munmap(data_, bytes_);
    else
        std::free(data_);
    data_ = nullptr;
}

}  // namespace boardshared
