// Linear powers are taken relative to the peak, so sums stay near 1 whatever the
// profile's absolute level. The floor's median is found on the dB values (the order
// is the same as that of the linear powers) so only its middle values are converted.
// The metrics run once per sweep and channel over whole recordings: the few bins that
// can count are gathered in one pass over the delay bins, only their powers are
// converted, and nothing is allocated.

#include "delay_metrics.h"

#include "delay_profile.h"
#include "finite_bins.h"
#include "select_rank.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// 20 log10(1 + x) = AmplitudeDb log1p(x).
constexpr double AmplitudeDb = 20.0 / std::numbers::ln10;
// meanLeakageDb's floor (1e-30, -300 dB) stands where the mean puts nothing.
constexpr double NoLeakageDb = -299.0;

inline double linearPower(double db) { return std::pow(10.0, db / 10.0); }

std::optional<double> noiseFloorDb(const double* profileDb, const DelayMetricsParams& params)
{
    std::array<double, ProfileBins> values;
    size_t count = 0;
    for (int32_t k = params.noiseFirstBin; k <= params.noiseLastBin; ++k) {
        values[count] = profileDb[k];
        count += size_t(std::isfinite(profileDb[k]));
    }
    if (count == 0)
        return std::nullopt;
    const auto begin = values.begin();
    const auto upper = begin + std::ptrdiff_t(count / 2);
    selectRank(values.data(), count, count / 2);
    const double lower = count % 2 == 0 ? *std::max_element(begin, upper) : *upper;
    return noiseFloorOfMiddleDb(lower, *upper, count);
}

// The first of the strongest finite bins first..last, 0 when none is finite. A bin
// that is not below +inf (+inf or NaN) takes no part; -inf is below every finite bin.
int32_t peakBinOf(const double* profileDb, int32_t first, int32_t last)
{
    double peak = -INFINITY;
    for (int32_t k = first; k <= last; ++k)
        if (profileDb[k] > peak && profileDb[k] < INFINITY)
            peak = profileDb[k];
    if (!(peak > -INFINITY))
        return 0;
    for (int32_t k = first;; ++k)
        if (profileDb[k] == peak)
            return k;
}

// The same over the ascending bins[0..count) alone.
int32_t peakBinAmong(const double* profileDb, const int32_t* bins, size_t count)
{
    double peak = -INFINITY;
    int32_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        const double x = profileDb[bins[i]];
        if (x > peak && x < INFINITY) {
            peak = x;
            at = bins[i];
        }
    }
    return at;
}

// A counted bin at least as high as the bin before and higher than the bin after.
bool isLocalMaximum(const double* profileDb, int32_t k)
{
    const double before = k > 1 ? profileDb[k - 1] : -INFINITY;
    const double after = k < ProfileBins ? profileDb[k + 1] : -INFINITY;
    return !(profileDb[k] < before) && !(profileDb[k] <= after);
}

// The local maxima that stand above the sidelobes of every stronger path: taken from
// the strongest down (the earlier of equal ones first), each held against the paths
// already found. maxima is reordered.
int32_t countPaths(const double* profileDb, int32_t* maxima, size_t count, const DelayMetricsParams& params)
{
    if (count <= 1)
        return int32_t(count);
    const std::vector<double>& envelope = sidelobeEnvelopeDb(params.window, params.transformSamples);
    std::sort(maxima, maxima + count, [profileDb](int32_t a, int32_t b) {
        return profileDb[a] > profileDb[b] || (profileDb[a] == profileDb[b] && a < b);
    });
    const int32_t maxDistance = int32_t(envelope.size()) - 1;
    size_t paths = 0;  // the paths are maxima[0..paths-1]
    for (size_t i = 0; i < count; ++i) {
        const int32_t k = maxima[i];
        bool clear = true;
        for (size_t j = 0; j < paths && clear; ++j) {
            const int32_t d = std::min(std::abs(k - maxima[j]), maxDistance);
            clear = profileDb[k] > profileDb[maxima[j]] + envelope[size_t(d)] + params.sidelobeMarginDb;
        }
        if (clear)
            maxima[paths++] = k;
    }
    return int32_t(paths);
}

// The sweep's mean stands in bin 1, outside the search, and where the transform is
// zero-padded (divider 4) or windowed (Blackman) it spreads over the bins beside it, over
// tens of bins for a mean of a few codes off 2048: a bin no more than sidelobeMarginDb
// above what the mean puts there (meanLeakageDb) is the mean's and not the channel's,
// and is taken out of bins[0..count), which keeps its order. Gives the bins left.
// Noise adds to the skirt as amplitudes do: a bin where the mean puts M and that noise
// alone would count at marginLevelDb (floor + margin) is the channel's only where its
// amplitude passes the sum of the two, or noise on a skirt near the floor counts far
// more often than the false-alarm probability allows.
size_t withoutTheMeansSkirt(const double* profileDb, const DelayMetricsParams& params, double marginLevelDb,
                            int32_t* bins, size_t count)
{
    if (params.firstDelayBin == 1 || count == 0 || !(profileDb[1] > -INFINITY && profileDb[1] < INFINITY))
        return count;
    const std::vector<double>& leakage = meanLeakageDb(params.window, params.transformSamples);
    const double meanDb = profileDb[1] + params.sidelobeMarginDb;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t k = bins[i];
        // Bins past 2049 are the negative delays, as far from bin 1 as bin 4098 - k.
        const size_t d = size_t(std::min(k - 1, ProfileBins + 1 - k));
        bins[kept] = k;
        const double meansDb = meanDb + leakage[d];
        if (!(profileDb[k] > meansDb))
            continue;
        // Where the mean puts nothing (the table's floor), the margin alone decides.
        if (leakage[d] > NoLeakageDb) {
            const double sumDb = marginLevelDb + AmplitudeDb * std::log1p(std::pow(10.0, (meansDb - marginLevelDb) / 20.0));
            if (!(profileDb[k] > sumDb))
                continue;
        }
        ++kept;
    }
    return kept;
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
    if (params.marginDb && (!std::isfinite(*params.marginDb) || *params.marginDb < 0.0))
        return "the margin must be a number of dB of 0 or more";
    if (!(params.falseAlarm > 0.0 && params.falseAlarm < 1.0))
        return "the false-alarm probability must be a number between 0 and 1";
    if (params.averagedSweeps < 1)
        return "a profile averages at least one sweep";
    if (params.transformSamples < 1 || params.transformSamples > ProfileBins)
        return "the transform takes 1..4096 samples";
    if (!std::isfinite(params.sidelobeMarginDb) || params.sidelobeMarginDb < 0.0)
        return "the sidelobe margin must be a number of dB of 0 or more";
    return nullptr;
}

double effectiveMarginDb(const DelayMetricsParams& params)
{
    if (delayMetricsParamsProblem(params) != nullptr)
        return NAN;
    if (params.marginDb)
        return *params.marginDb;
    return cachedFalseAlarmMarginDb(params.averagedSweeps, params.falseAlarm,
                                    params.lastDelayBin - params.firstDelayBin + 1,
                                    params.noiseLastBin - params.noiseFirstBin + 1);
}

double noiseFloorOfMiddleDb(double lowerDb, double upperDb, size_t count)
{
    if (count % 2 == 1)
        return upperDb;
    // Even count: the mean of the two middle powers, in linear terms.
    return 10.0 * std::log10((linearPower(lowerDb) + linearPower(upperDb)) / 2.0);
}

DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params)
{
    if (delayMetricsParamsProblem(params) != nullptr)
        return {};
    return computeDelayMetrics(profileDb, params, noiseFloorDb(profileDb, params));
}

DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params,
                                 std::optional<double> floorDb)
{
    return computeDelayMetrics(profileDb, params, floorDb, nullptr, 0);
}

// Without candidates (nullptr), the whole delay range is searched.
DelayMetrics computeDelayMetrics(const double* profileDb, const DelayMetricsParams& params,
                                 std::optional<double> floorDb, const int32_t* candidates, size_t candidateCount)
{
    DelayMetrics m;
    if (delayMetricsParamsProblem(params) != nullptr)
        return m;
    m.noiseFloorDb = floorDb;
    const int32_t peakBin = candidates ? peakBinAmong(profileDb, candidates, candidateCount)
                                       : peakBinOf(profileDb, params.firstDelayBin, params.lastDelayBin);
    if (peakBin == 0)
        return m;
    const double peak = profileDb[peakBin];
    m.peakBin = peakBin;
    m.peakDb = peak;
    if (!m.noiseFloorDb)
        return m;  // without a floor the margin cannot be applied: nothing counts
    m.snrDb = peak - *m.noiseFloorDb;
    m.marginDb = effectiveMarginDb(params);

    // Only bins above the floor + margin and within 20 dB (or the threshold) of the
    // peak matter below: they are gathered in one pass, and the rest looks at those
    // alone. A finite value is one below +inf that compares.
    std::array<int32_t, ProfileBins> above;
    const double level = std::max(*m.noiseFloorDb + m.marginDb, peak - std::max(20.0, params.thresholdDb));
    size_t aboveCount = 0;
    if (candidates)
        for (size_t i = 0; i < candidateCount; ++i) {
            const double x = profileDb[candidates[i]];
            above[aboveCount] = candidates[i];
            aboveCount += size_t(x >= level) & size_t(x < INFINITY);
        }
    else
        aboveCount = finiteBinsAtOrAbove(profileDb, params.firstDelayBin, params.lastDelayBin, level, above.data());
    aboveCount = withoutTheMeansSkirt(profileDb, params, *m.noiseFloorDb + m.marginDb, above.data(), aboveCount);

    // Linear powers of the counted bins, in order, for the sums and for W90.
    std::array<double, ProfileBins> counted;
    const double countLevel = peak - params.thresholdDb;
    double total = 0.0, first = 0.0, second = 0.0;
    int32_t k0 = 0;
    std::array<int32_t, ProfileBins> maxima;
    size_t maximaCount = 0;
    int32_t last10 = 0, last20 = 0;
    for (size_t i = 0; i < aboveCount; ++i) {
        const int32_t k = above[i];
        const double x = profileDb[k];
        if (x >= peak - 10.0)
            last10 = k;
        if (x >= peak - 20.0)
            last20 = k;
        if (!(x >= countLevel))
            continue;
        if (k0 == 0)
            k0 = k;
        const double p = linearPower(x - peak);
        const double excess = double(k - k0);
        total += p;
        first += p * excess;
        second += p * excess * excess;
        counted[size_t(m.countedBins++)] = p;
        if (isLocalMaximum(profileDb, k))
            maxima[maximaCount++] = k;
    }
    if (m.countedBins == 0)
        return m;
    m.pathCount = countPaths(profileDb, maxima.data(), maximaCount, params);
    m.pathBins.assign(maxima.begin(), maxima.begin() + m.pathCount);
    std::sort(m.pathBins.begin(), m.pathBins.end());

    const double mean = first / total;
    m.countedPowerDb = peak + 10.0 * std::log10(total);
    m.firstArrivalBin = k0;
    m.meanExcessBins = mean;
    m.rmsSpreadBins = std::sqrt(std::max(0.0, second / total - mean * mean));
    // A bin within 10 (20) dB of the peak counts and lies past k0, unless the peak itself
    // is the mean's skirt and no bin of the channel's own comes so near it.
    if (last10 != 0)
        m.maxExcess10Bins = last10 - k0;
    if (last20 != 0)
        m.maxExcess20Bins = last20 - k0;

    // W90: from the first bin past the lowest 5% of the counted power to the bin where
    // 95% is reached.
    double running = 0.0;
    int32_t from = 0, to = 0;
    for (size_t i = 0, j = 0; i < aboveCount && to == 0; ++i) {
        const int32_t k = above[i];
        if (!(profileDb[k] >= countLevel))
            continue;
        running += counted[j++];
        if (from == 0 && running > 0.05 * total)
            from = k;
        if (running >= 0.95 * total)
            to = k;
    }
    // The same terms are added in the same order as for the total, so 95% is reached.
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
