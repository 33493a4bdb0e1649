#include "detection_levels.h"

#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <optional>
#include <tuple>
#include <utility>

namespace {

constexpr int TransformPoints = 4096;
constexpr int HalfPoints = TransformPoints / 2;
// Positions of a path between bins tried for the envelope: every 1/64 of a bin.
constexpr int OffsetSteps = 64;

// sum over n = 0..count-1 of exp(-2 pi i nu n), the transform of a run of ones.
std::complex<double> runOfOnes(double nu, int count)
{
    const double s = std::sin(std::numbers::pi * nu);
    const std::complex<double> phase = std::polar(1.0, -std::numbers::pi * nu * double(count - 1));
    if (std::abs(s) < 1e-12)  // nu is 0 here (|nu| stays below 1)
        return phase * double(count);
    return phase * (std::sin(std::numbers::pi * nu * double(count)) / s);
}

// The window's transform at nu cycles per sample: the periodic window
// a0 - a1 cos(2 pi n / L) + a2 cos(4 pi n / L) is a sum of shifted runs of ones.
std::complex<double> windowTransform(TransformWindow window, double nu, int count)
{
    double a0 = 1.0, a1 = 0.0, a2 = 0.0;
    if (window == TransformWindow::Hann) {
        a0 = 0.5;
        a1 = 0.5;
    } else if (window == TransformWindow::Blackman) {
        a0 = 0.42;
        a1 = 0.5;
        a2 = 0.08;
    }
    const double step = 1.0 / double(count);
    std::complex<double> w = a0 * runOfOnes(nu, count);
    if (a1 != 0.0)
        w -= 0.5 * a1 * (runOfOnes(nu - step, count) + runOfOnes(nu + step, count));
    if (a2 != 0.0)
        w += 0.5 * a2 * (runOfOnes(nu - 2.0 * step, count) + runOfOnes(nu + 2.0 * step, count));
    return w;
}

std::vector<double> makeEnvelope(TransformWindow window, int samples)
{
    // A path at bin offset f (|f| <= 1/2) from the bin that shows it strongest: the bin
    // d further away holds |W(d - f)|^2, the strongest |W(f)|^2 (both sides alike, as
    // the window is symmetric).
    std::vector<double> ratio(HalfPoints + 1, 0.0);
    for (int i = 0; i <= OffsetSteps; ++i) {
        const double f = -0.5 + double(i) / double(OffsetSteps);
        const double shown = std::norm(windowTransform(window, f / TransformPoints, samples));
        for (int d = 0; d <= HalfPoints; ++d) {
            const double there = std::norm(windowTransform(window, (double(d) - f) / TransformPoints, samples));
            ratio[size_t(d)] = std::max(ratio[size_t(d)], there / shown);
        }
    }
    std::vector<double> db(HalfPoints + 1);
    double highest = 0.0;
    for (int d = HalfPoints; d >= 0; --d) {
        highest = std::max(highest, ratio[size_t(d)]);
        db[size_t(d)] = 10.0 * std::log10(std::max(highest, 1e-30));
    }
    db[0] = 0.0;
    return db;
}

// The envelopes of the acquisition program's transforms, as computeSidelobeEnvelopeDb
// gives them (written by the detection levels' test when asked: see the file's head).
#include "sidelobe_envelope_tables.inc"

}  // namespace

std::vector<double> computeSidelobeEnvelopeDb(TransformWindow window, int32_t samples)
{
    return makeEnvelope(window, std::clamp(samples, 1, TransformPoints));
}

std::vector<BuiltSidelobeEnvelope> builtSidelobeEnvelopes()
{
    std::vector<BuiltSidelobeEnvelope> built;
    for (const BuiltTable& table : BuiltTables)
        built.push_back({table.window, table.samples, table.db});
    return built;
}

namespace {

// The chance that a profile of noise alone counts any of `searched` bins when the
// counting level is `ratio` times the floor, the floor being the median of `noiseBins`
// bins of the same noise (the lower of the two middle values for an even count, which
// the floor, their mean, is never below). The floor is itself random: the chance is the
// mean over the floor's distribution of the chance that some searched bin exceeds
// ratio times it, summed on evenly spaced nodes of the floor's logarithm (a smooth
// integrand falling fast at both ends, which evenly spaced sums take exactly). The
// nodes and their weights are made once, the sum once per ratio tried. Long double: the
// chances asked for go down to some 1e-320, at the end of a double's range.
class FalseAlarmOfRatio {
public:
    FalseAlarmOfRatio(long double shape, int32_t noiseBins, int32_t searched, long double falseAlarm)
        : shape_(shape), searched_(searched)
    {
        namespace bm = boost::math;
        // The floor's rank j of noiseBins: its place in the noise distribution is
        // Beta(j, noiseBins - j + 1) distributed.
        const long double j = (noiseBins + 1) / 2;
        const long double b = noiseBins - j + 1;
        const auto floorAt = [&](long double u) { return bm::gamma_p_inv(shape, bm::ibeta_inv(j, b, u)); };
        const auto floorAbove = [&](long double q) { return bm::gamma_p_inv(shape, bm::ibetac_inv(j, b, q)); };
        // Where the floor can be: beyond these it is less likely than 1e-12 of the chance
        // asked for (below) or 1e-9 (above, where a higher floor only lowers the chance).
        long double low = 0.0L;
        const long double lowest = falseAlarm * 1e-12L;
        try {
            low = std::log(floorAt(lowest));
        } catch (const boost::math::evaluation_error&) {
            // The inverse of the beta function finds no quantile so far out (under some
            // 1e-200) for some shapes: as I_u(j, b) <= u^j / (j B(j, b)), below
            // u = (lowest j B(j, b))^(1 / j) lies less than `lowest`.
            const long double logBeta = bm::lgamma(j) + bm::lgamma(b) - bm::lgamma(j + b);
            low = std::log(bm::gamma_p_inv(shape, std::exp((std::log(lowest) + std::log(j) + logBeta) / j)));
        }
        const long double high = std::log(floorAbove(1e-9L));
        const long double spread = (std::log(floorAbove(0.16L)) - std::log(floorAt(0.16L))) / 2.0L;
        // How fast the chance per bin falls with the level, where the plain rule puts it.
        const long double perBin = -std::expm1(std::log1p(-falseAlarm) / searched);
        const long double level = bm::gamma_q_inv(shape, perBin);
        const long double fall = level * bm::gamma_p_derivative(shape, level) / perBin;
        long double step = std::min(spread, 1.0L / std::max(fall, 1.0L)) / 4.0L;
        constexpr long double MostNodes = 20000;
        step = std::max(step, (high - low) / MostNodes);
        for (long double y = low; y <= high; y += step) {
            const long double x = std::exp(y);
            const long double density = bm::ibeta_derivative(j, b, bm::gamma_p(shape, x)) *
                                        bm::gamma_p_derivative(shape, x) * x * step;
            if (density > 0.0L) {
                floors_.push_back(x);
                weights_.push_back(density);
            }
        }
        // The weights as a distribution of their own, whole: so that a floor of 0 (any
        // ratio near 0) counts for certain, and a chance near 1 can be asked for too.
        long double total = 0.0L;
        for (long double w : weights_)
            total += w;
        for (long double& w : weights_)
            w /= total;
    }

    long double operator()(long double ratio) const
    {
        long double sum = 0.0L;
        for (size_t i = 0; i < floors_.size(); ++i) {
            const long double q = boost::math::gamma_q(shape_, ratio * floors_[i]);
            sum += weights_[i] * -std::expm1(searched_ * std::log1p(-q));
        }
        return sum;
    }

private:
    long double shape_;
    long double searched_;
    std::vector<long double> floors_;
    std::vector<long double> weights_;
};

double falseAlarmMarginOf(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins, int32_t noiseBins)
{
    if (!(falseAlarm > 0.0 && falseAlarm < 1.0) || averagedSweeps < 1 || searchedBins < 1 || noiseBins < 1)
        return NAN;
    const double perBin = -std::expm1(std::log1p(-falseAlarm) / double(searchedBins));
    // A probability so small that its share per bin is none (or under what a double
    // holds) asks for a margin no noise reaches: there is no such number.
    if (!(perBin > 0.0))
        return NAN;
    const long double shape = (long double)(averagedSweeps);
    // The plain ratio of the upper quantile to the median, were the floor known exactly:
    // where the search starts (the floor's spread asks for more).
    const long double plain = boost::math::gamma_q_inv(shape, (long double)perBin) /
                              boost::math::gamma_p_inv(shape, 0.5L);
    const FalseAlarmOfRatio chance(shape, noiseBins, searchedBins, falseAlarm);
    const long double target = std::log((long double)falseAlarm);
    const auto excess = [&](long double logRatio) {
        return std::log(std::max(chance(std::exp(logRatio)), std::numeric_limits<long double>::min())) - target;
    };
    long double below = std::log(plain) - 0.01L, above = std::log(plain) + 0.05L;
    for (long double widen = 0.05L; excess(below) < 0.0L && widen < 64.0L; widen *= 2.0L)
        below -= widen;
    for (long double widen = 0.1L; excess(above) > 0.0L && widen < 1024.0L; widen *= 2.0L)
        above += widen;
    if (!(excess(below) >= 0.0L && excess(above) <= 0.0L))
        return NAN;  // not bracketed: no margin gives that chance
    boost::uintmax_t iterations = 100;
    const auto [from, to] = boost::math::tools::toms748_solve(excess, below, above,
                                                              boost::math::tools::eps_tolerance<long double>(40),
                                                              iterations);
    return double(10.0L * (from + to) / 2.0L / std::log(10.0L));
}

}  // namespace

double falseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins, int32_t noiseBins)
{
    try {
        return falseAlarmMarginOf(averagedSweeps, falseAlarm, searchedBins, noiseBins);
    } catch (const std::exception&) {
        return NAN;  // a special function out of its range: no margin to give
    }
}

double cachedFalseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins, int32_t noiseBins)
{
    // Each margin takes some milliseconds to find: it is found once per program for
    // each combination (all threads), and the calling thread's last one is at hand.
    if (std::isnan(falseAlarm))
        return NAN;  // no key: a NaN does not order
    using Key = std::tuple<int64_t, double, int32_t, int32_t>;
    const Key key{averagedSweeps, falseAlarm, searchedBins, noiseBins};
    thread_local std::optional<std::pair<Key, double>> last;
    if (last && last->first == key)
        return last->second;
    static std::mutex lock;
    static std::map<Key, double> found;
    std::optional<double> known;
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (const auto at = found.find(key); at != found.end())
            known = at->second;
    }
    if (!known) {
        known = falseAlarmMarginDb(averagedSweeps, falseAlarm, searchedBins, noiseBins);
        const std::lock_guard<std::mutex> hold(lock);
        found.emplace(key, *known);
    }
    const double marginDb = *known;
    last.emplace(key, marginDb);
    return marginDb;
}

namespace {

// A table of each window and sample count, made once by make() and kept for the
// program's life. Each thread first looks at the table it was given last, without the
// lock, as one profile after another asks for the same one. Distinct per Tag.
template <class Tag, class Make>
const std::vector<double>& keptTable(TransformWindow window, int32_t samples, Make make)
{
    thread_local std::pair<int, int32_t> lastKey{-1, 0};
    thread_local const std::vector<double>* lastTable = nullptr;
    const std::pair<int, int32_t> key{int(window), samples};
    if (lastTable && lastKey == key)
        return *lastTable;
    static std::mutex lock;
    static std::map<std::pair<int, int32_t>, std::unique_ptr<const std::vector<double>>> tables;
    const std::lock_guard<std::mutex> hold(lock);
    auto& table = tables[key];
    if (!table)
        table = std::make_unique<const std::vector<double>>(make());
    lastKey = key;
    lastTable = table.get();
    return *table;
}

struct EnvelopeTables;
struct LeakageTables;

}  // namespace

const std::vector<double>& sidelobeEnvelopeDb(TransformWindow window, int32_t samples)
{
    samples = std::clamp(samples, 1, TransformPoints);
    return keptTable<EnvelopeTables>(window, samples, [&] {
        for (const BuiltTable& b : BuiltTables)
            if (b.window == window && b.samples == samples)
                return std::vector<double>(b.db, b.db + HalfPoints + 1);
        return makeEnvelope(window, samples);
    });
}

const std::vector<double>& meanLeakageDb(TransformWindow window, int32_t samples)
{
    samples = std::clamp(samples, 1, TransformPoints);
    return keptTable<LeakageTables>(window, samples, [&] {
        // A component on the bin itself, no offset: the bin d away holds |W(d)|^2.
        std::vector<double> db(HalfPoints + 1);
        const double shown = std::norm(windowTransform(window, 0.0, samples));
        for (int d = 0; d <= HalfPoints; ++d) {
            const double there = std::norm(windowTransform(window, double(d) / TransformPoints, samples));
            db[size_t(d)] = 10.0 * std::log10(std::max(there / shown, 1e-30));
        }
        db[0] = 0.0;
        return db;
    });
}
