#pragma once
// The clock behind the bus settle wait: monotonic (it never goes back, also not at
// midnight) and replaceable, so tests can run the protocol's waits in virtual time.

#include <cstdint>

class SettleClock {
public:
    virtual ~SettleClock() = default;
    // Nanoseconds on a clock that never goes back.
    virtual int64_t nowNs() = 0;
    // Sleeps about the given time (may return early or late).
    virtual void sleepNs(int64_t ns) = 0;
};

// std::chrono::steady_clock and a real sleep.
class SteadySettleClock final : public SettleClock {
public:
    int64_t nowNs() override;
    void sleepNs(int64_t ns) override;
};

// Virtual time for tests: every reading advances it by `tickNs`, a sleep advances it
// by the time slept. Counts readings and sleeps.
class VirtualSettleClock final : public SettleClock {
public:
    explicit VirtualSettleClock(int64_t startNs = 0, int64_t tickNs = 1000) : now_(startNs), tick_(tickNs) {}
    int64_t nowNs() override { now_ += tick_; ++reads_; return now_; }
    void sleepNs(int64_t ns) override { if (ns > 0) now_ += ns; ++sleeps_; }
    int64_t peekNs() const { return now_; }
    int64_t reads() const { return reads_; }
    int64_t sleeps() const { return sleeps_; }

private:
    int64_t now_;
    int64_t tick_;
    int64_t reads_ = 0;
    int64_t sleeps_ = 0;
};
