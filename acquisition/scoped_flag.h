#pragma once
// Raises a flag for the lifetime of a scope and lowers it on every way out, errors
// included: the capture actions use it so that no capture ever starts inside another.

class ScopedFlag {
public:
    explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~ScopedFlag() { flag_ = false; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    bool& flag_;
};
