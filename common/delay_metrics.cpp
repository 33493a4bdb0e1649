// Linear powers are taken relative to the peak, so sums stay near 1 whatever the
// profile's absolute level. The floor's median is found on the dB values (the order
// is the same as that of the linear powers) so only its middle values are converted.

#include "delay_metrics.h"

#include "delay_profile.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

inline double linearPower(double db) { return std::pow(10.0, db / 10.0); }

std::optional<double> noiseFloorDb(const double* profileDb, const DelayMetricsParams& params)
{
    std::array<double, ProfileBins> values;
    size_t count = 0;
    for (int32_t k = params.noiseFirstBin; k <= params.noiseLastBin; ++k)
        if (std::isfinite(profileDb[k]))
            values[count++] = profileDb[k];
    if (count == 0)
        return std::nullopt;
    const auto begin = values.begin();
    const auto end = begin + std::ptrdiff_t(count);
    const auto upper = begin + std::ptrdiff_t(count / 2);
    std::nth_element(begin, upper, end);
    if (count % 2 == 1)
        return *upper;
    // Even count: the mean of the two middle powers, in linear terms.
    const double lower = *std::max_element(begin, upper);
    return 10.0 * std::log10((linearPower(lower) + linearPower(*upper)) / 2.0);
}

std::optional<int32_t> peakBinOf(const double* profileDb, const DelayMetricsParams& params)
{
    std::optional<int32_t> peak;
    for (int32_t k = params.firstDelayBin; k <= params.lastDelayBin; ++k)
        if (std::isfinite(profileDb[k]) && (!peak || profileDb[k] > profileDb[*peak]))
            peak = k;
    return peak;
}

// A counted bin at least as high as the bin before and higher than the bin after.
bool isLocalMaximum(const double* profileDb, int32_t k)
{
    const double before = k > 1 ? profileDb[k - 1] : -INFINITY;
    const double after = k < ProfileBins ? profileDb[k + 1] : -INFINITY;
    return !(profileDb[k] < before) && !(profileDb[k] <= after);
}

}  // namespace

const char* delayMetricsParamsProblem(const DelayMetricsParams& params)
{
    if (params.noiseFirstBin < 1 || params.noiseLastBin > ProfileBins || params.noiseFirstBin > params.noiseLastBin)
        return "the noise bins must be a range within 1..4096";
    if (params.firstDelayBin < 1 || params.lastDelayBin > ProfileBins || params.firstDelayBin > params.lastDelayBin)
        return "the delay bins must be a range within 1..4096";
    if (!std::isfinite(params.thresholdDb) || params.thresholdDb < 0.0)
        return "the threshold must be a number of dB of 0 or more";
    if (!std::isfinite(params.marginDb) || params.marginDb < 0.0)
        return "the margin must be a number of dB of 0 or more";
    return nullptr;
}

DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params)
{
    DelayMetrics m;
    if (delayMetricsParamsProblem(params) != nullptr)
        return m;
    m.noiseFloorDb = noiseFloorDb(profileDb, params);
    m.peakBin = peakBinOf(profileDb, params);
    if (!m.peakBin)
        return m;
    const double peak = profileDb[*m.peakBin];
    m.peakDb = peak;
    if (!m.noiseFloorDb)
        return m;  // without a floor the margin cannot be applied: nothing counts
    m.snrDb = peak - *m.noiseFloorDb;

    const double marginLevel = *m.noiseFloorDb + params.marginDb;
    const auto aboveFloor = [&](int32_t k) { return std::isfinite(profileDb[k]) && profileDb[k] >= marginLevel; };
    const auto counts = [&](int32_t k) { return aboveFloor(k) && profileDb[k] >= peak - params.thresholdDb; };

    double total = 0.0, first = 0.0, second = 0.0;
    int32_t k0 = 0, lastPath = 0;
    int32_t last10 = 0, last20 = 0;
    for (int32_t k = params.firstDelayBin; k <= params.lastDelayBin; ++k) {
        if (aboveFloor(k)) {
            if (profileDb[k] >= peak - 10.0)
                last10 = k;
            if (profileDb[k] >= peak - 20.0)
                last20 = k;
        }
        if (!counts(k))
            continue;
        if (k0 == 0)
            k0 = k;
        const double p = linearPower(profileDb[k] - peak);
        const double excess = double(k - k0);
        total += p;
        first += p * excess;
        second += p * excess * excess;
        ++m.countedBins;
        if (isLocalMaximum(profileDb, k) && (lastPath == 0 || k - lastPath >= 2)) {
            ++m.pathCount;
            lastPath = k;
        }
    }
    if (m.countedBins == 0)
        return m;

    const double mean = first / total;
    m.firstArrivalBin = k0;
    m.meanExcessBins = mean;
    m.rmsSpreadBins = std::sqrt(std::max(0.0, second / total - mean * mean));
    // The peak itself always lies within both levels and above the floor here.
    m.maxExcess10Bins = last10 - k0;
    m.maxExcess20Bins = last20 - k0;

    // W90: from the first bin past the lowest 5% of the counted power to the bin where
    // 95% is reached.
    double running = 0.0;
    int32_t from = 0, to = 0;
    for (int32_t k = k0; k <= params.lastDelayBin && to == 0; ++k) {
        if (!counts(k))
            continue;
        running += linearPower(profileDb[k] - peak);
        if (from == 0 && running > 0.05 * total)
            from = k;
        if (running >= 0.95 * total)
            to = k;
    }
    // The second pass adds the same terms in the same order, so it reaches 95%.
    m.window90Bins = std::max(0, to - from);
    return m;
}

std::optional<double> delaySecondsPerBin(int32_t clockDivider, double bandwidthHz)
{
    if (!std::isfinite(bandwidthHz) || bandwidthHz <= 0.0)
        return std::nullopt;
    double samplesPerSweep = 0.0;
    if (clockDivider == 2)
        samplesPerSweep = 5000.0;
    else if (clockDivider == 4)
        samplesPerSweep = 2500.0;
    else
        return std::nullopt;
    return samplesPerSweep / (double(ProfileBins) * bandwidthHz);
}
