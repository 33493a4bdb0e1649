#include "sounder.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace boardsim {

namespace {

constexpr size_t kNoiseTableSize = 1u << 16;  // power of two: the index wraps by mask
constexpr size_t kNoiseMask = kNoiseTableSize - 1;
// Sweeps longer than this many groups are computed sample by sample beyond it.
constexpr int32_t kMaxWaveTable = 1 << 20;
constexpr uint16_t kGroundCode = 2048;  // unconnected inputs 4..7

double dbToFactor(double db) { return std::pow(10.0, db / 20.0); }

// Volts to a 12-bit code of the +-5 V range: round(v / 5 * 2048 + 2048), clipped.
// A model that yields no number (NaN) reads as the bottom of the range.
inline uint16_t toCode(float volts)
{
    const float x = volts * (2048.0f / 5.0f) + 2048.5f;
    return static_cast<uint16_t>(x >= 0.0f ? std::min(x, 4095.0f) : 0.0f);
}

}  // namespace

SignalModel defaultSignalModel()
{
    // One multipath scene seen by three antennas of different sensitivity: six paths of
    // comparable strength, at delay bins ~90..370 of the 4096-point profile at divider
    // 2 (~180..740 at divider 4). Channel 1 is strong enough to need RF attenuation at
    // 30 dB gain, channel 2 settles with a little more gain, channel 3 needs much more.
    // Spreading the power over several paths keeps each profile peak below 60 dB once
    // the gains are adjusted.
    constexpr std::array<double, 6> kBeatCycles{110.4, 150.3, 185.6, 240.2, 320.7, 450.5};
    struct Antenna {
        double total;  // sum of path amplitudes, volts at 0 dB net gain
        std::array<double, 6> relative;
        std::array<double, 6> phase;
    };
    constexpr std::array<Antenna, 3> kAntennas{{
        {0.245, {1.0, 0.9, 0.85, 0.75, 0.6, 0.5}, {0.3, 2.1, 4.0, 1.2, 5.0, 3.1}},
        {0.055, {0.6, 1.0, 0.5, 0.7, 0.3, 0.2}, {1.7, 0.4, 5.1, 3.3, 2.2, 0.9}},
        {0.018, {0.8, 0.6, 1.0, 0.4, 0.5, 0.3}, {5.5, 2.9, 0.8, 4.6, 1.4, 3.8}},
    }};
    SignalModel m;
    for (int ch = 0; ch < 3; ++ch) {
        const Antenna& a = kAntennas[ch];
        double sum = 0;
        for (double r : a.relative)
            sum += r;
        for (size_t i = 0; i < kBeatCycles.size(); ++i)
            m.channels[ch].paths.push_back({kBeatCycles[i], a.total * a.relative[i] / sum, a.phase[i]});
        m.channels[ch].noiseVolts = 3e-6;
    }
    return m;
}

Sounder::Sounder() { reset(); }

void Sounder::reset()
{
    model_ = defaultSignalModel();
    setSeed(kDefaultSeed);
}

void Sounder::setSeed(uint64_t seed)
{
    rng_ = Rng(seed);
    noise_.resize(kNoiseTableSize);
    for (size_t i = 0; i < kNoiseTableSize; i += 2) {
        // Box-Muller: two normal values per pair of uniforms.
        const double u1 = 1.0 - rng_.uniform();
        const double u2 = rng_.uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        noise_[i] = static_cast<float>(r * std::cos(2 * std::numbers::pi * u2));
        noise_[i + 1] = static_cast<float>(r * std::sin(2 * std::numbers::pi * u2));
    }
}

double Sounder::pathSum(int ch, int32_t n) const
{
    // Group n of a sweep is n * divider clocks after its start.
    const double t = static_cast<double>(n) * divider_ / sweepClocks_;
    double v = 0;
    for (const Path& p : model_.channels[ch].paths)
        v += p.amplitude * std::cos(2 * std::numbers::pi * p.beatCycles * t + p.phase);
    return v * signalScale_[ch];
}

void Sounder::prepareWaves(const ScanConditions& c)
{
    divider_ = std::max(c.divider, 1);
    sweepClocks_ = std::max(c.clocksPerSweep, 1);
    const int32_t groups = c.clocksPerSweep > 0 ? (c.clocksPerSweep - 1) / divider_ + 1 : 0;
    const int32_t tableSize = std::min(groups, kMaxWaveTable);
    for (int ch = 0; ch < 3; ++ch) {
        signalScale_[ch] = dbToFactor(c.gainDb[ch] - c.attenuationDb);
        waves_[ch].resize(tableSize);
        for (int32_t n = 0; n < tableSize; ++n)
            waves_[ch][n] = static_cast<float>(pathSum(ch, n));
    }
}

inline float Sounder::waveAt(int ch, int32_t n) const
{
    const auto& w = waves_[ch];
    return n < static_cast<int32_t>(w.size()) ? w[n] : static_cast<float>(pathSum(ch, n));
}

void Sounder::fill(uint16_t* samples, int32_t count, int low, int high, const ScanConditions& c)
{
    prepareWaves(c);
    const int64_t clocks = c.clocksPerSweep;
    const int d = divider_;
    const bool sweeping = clocks > 0;

    std::array<float, 3> noiseScale{};
    for (int ch = 0; ch < 3; ++ch)
        noiseScale[ch] = static_cast<float>(model_.channels[ch].noiseVolts * dbToFactor(c.gainDb[ch]));

    // Where in its sweep the transmitter is when the scan starts.
    int64_t pos = 0;  // clocks since the sweep start
    if (sweeping)
        pos = model_.startClock >= 0 ? model_.startClock % clocks : static_cast<int64_t>(rng_.next() % clocks);
    int32_t n = static_cast<int32_t>(pos / d);  // group within the sweep
    size_t noiseIndex = rng_.next() & kNoiseMask;
    const int pulse = model_.markerPulseGroups;

    auto noise = [&](int ch) {
        const float v = noiseScale[ch] * noise_[noiseIndex];
        noiseIndex = (noiseIndex + 1) & kNoiseMask;
        return v;
    };
    // Moves on by `groups` groups, which must not pass more than one sweep start.
    auto advance = [&](int32_t groups) {
        pos += static_cast<int64_t>(groups) * d;
        n += groups;
        if (pos >= clocks) {
            pos %= clocks;
            n = static_cast<int32_t>(pos / d);
            // A new sweep: the noise goes on elsewhere so it does not repeat with the sweeps.
            noiseIndex = rng_.next() & kNoiseMask;
        }
    };

    int32_t i = 0;
    if (sweeping && low == 0 && high == 3) {
        // The program's layout, sweep by sweep, straight from the wave tables.
        const int32_t groups = count / 4;
        const int32_t tableSize = static_cast<int32_t>(waves_[0].size());
        for (int32_t g = 0; g < groups;) {
            const int64_t leftInSweep = (clocks - pos + d - 1) / d;
            const int32_t run = static_cast<int32_t>(std::min<int64_t>(leftInSweep, groups - g));
            uint16_t* out = samples + 4 * static_cast<int64_t>(g);
            for (int32_t j = 0; j < run; ++j, out += 4) {
                const int32_t k = n + j;
                for (int ch = 0; ch < 3; ++ch)
                    out[ch] = toCode((k < tableSize ? waves_[ch][k] : waveAt(ch, k)) + noise(ch));
                out[3] = k < pulse ? model_.markerHigh : model_.markerLow;
            }
            g += run;
            advance(run);
        }
        i = groups * 4;
    }

    // Any other layout, and the inputs of a last incomplete group.
    for (int input = low; i < count; ++i) {
        uint16_t code = kGroundCode;
        if (input <= 2)
            code = toCode((sweeping ? waveAt(input, n) : 0.0f) + noise(input));
        else if (input == 3)
            code = sweeping && n < pulse ? model_.markerHigh : model_.markerLow;
        samples[i] = code;
        if (++input > high) {
            input = low;
            if (sweeping)
                advance(1);
        }
    }
}

double Sounder::peakVolts(int channel, const ScanConditions& c) const
{
    if (channel < 1 || channel > 3)
        return 0;
    double sum = 0;
    for (const Path& p : model_.channels[channel - 1].paths)
        sum += std::abs(p.amplitude);
    return sum * dbToFactor(c.gainDb[channel - 1] - c.attenuationDb);
}

}  // namespace boardsim
