#pragma once
// The sounder as the board's analog inputs see it: three de-ramped receiver channels
// (inputs 0..2) and the sweep marker (input 3). The transmitter sweeps once every
// `clocksPerSweep` sounder clocks; the board takes one scan group every `divider`
// clocks, so a sweep lasts clocksPerSweep / divider groups. Per-sweep waveforms are
// computed once per scan and noise comes from a cycled table, so that the largest
// recording scan costs a few tens of milliseconds.

#include "sim_control.h"

#include <array>
#include <cstdint>
#include <vector>

namespace boardsim {

// splitmix64: small, fast and good enough for noise and start phases.
class Rng {
public:
    explicit Rng(uint64_t seed = 0) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)

private:
    uint64_t state_;
};

// The front-end settings a scan runs under.
struct ScanConditions {
    int32_t clocksPerSweep = 10000;
    int divider = 2;
    std::array<double, 3> gainDb{};  // channels 1..3
    double attenuationDb = 0;
};

class Sounder {
public:
    static constexpr uint64_t kDefaultSeed = 0x5EED0F5C4A11E5ull;

    Sounder();
    void reset();

    const SignalModel& model() const { return model_; }
    void setModel(const SignalModel& model) { model_ = model; }
    void setSeed(uint64_t seed);

    // Fills `count` samples of inputs low..high, repeated, as codes 0..4095.
    void fill(uint16_t* samples, int32_t count, int low, int high, const ScanConditions& conditions);

    // Peak of a channel's sum of paths in volts under the given conditions (channel 1..3).
    double peakVolts(int channel, const ScanConditions& conditions) const;

private:
    float waveAt(int ch, int32_t n) const;
    void prepareWaves(const ScanConditions& conditions);
    double pathSum(int ch, int32_t n) const;

    SignalModel model_;
    Rng rng_;
    std::vector<float> noise_;  // unit-variance Gaussian, cycled

    // Per scan: one sweep of each channel at the present gain, by group within the sweep.
    std::array<std::vector<float>, 3> waves_;
    std::array<double, 3> signalScale_{};
    double sweepClocks_ = 1;
    int divider_ = 1;
};

}  // namespace boardsim
