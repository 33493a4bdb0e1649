#pragma once
// Zeroed memory for a movable block of samples. Large blocks are mapped straight from
// the system with transparent huge pages requested: a recording scan fills up to
// 57.6 M samples, and faulting that in 4 KB pages costs more than generating it.
// Sanitizer builds keep every block on the heap, where overruns are caught.

#include <cstddef>
#include <cstdint>

namespace boardshared {

class SampleMemory {
public:
    SampleMemory() = default;
    explicit SampleMemory(size_t samples);  // check valid() for failure
    ~SampleMemory();
    SampleMemory(SampleMemory&& other) noexcept;
    SampleMemory& operator=(SampleMemory&& other) noexcept;
    SampleMemory(const SampleMemory&) = delete;
    SampleMemory& operator=(const SampleMemory&) = delete;

    bool valid() const { return data_ != nullptr; }
    uint16_t* data() const { return data_; }

private:
    void release();

    uint16_t* data_ = nullptr;
    size_t bytes_ = 0;
    bool mapped_ = false;
};

}  // namespace boardshared
