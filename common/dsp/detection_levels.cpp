#include "detection_levels.h"

#include <boost/math/special_functions/gamma.hpp>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
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

double falseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins)
{
    if (!(falseAlarm > 0.0 && falseAlarm < 1.0) || averagedSweeps < 1 || searchedBins < 1)
        return NAN;
    const double perBin = -std::expm1(std::log1p(-falseAlarm) / double(searchedBins));
    // A probability so small that its share per bin is none (or under what a double
    // holds) asks for a margin no noise reaches: there is no such number.
    if (!(perBin > 0.0))
        return NAN;
    const double shape = double(averagedSweeps);
    // The scale cancels in the ratio of two quantiles of the same distribution.
    const double upper = boost::math::gamma_q_inv(shape, perBin);
    const double median = boost::math::gamma_p_inv(shape, 0.5);
    return 10.0 * std::log10(upper / median);
}

double cachedFalseAlarmMarginDb(int64_t averagedSweeps, double falseAlarm, int32_t searchedBins)
{
    struct Last {
        int64_t sweeps = 0;
        double falseAlarm = 0.0;
        int32_t bins = 0;
        double marginDb = NAN;
    };
    thread_local Last last;
    if (last.sweeps != averagedSweeps || last.falseAlarm != falseAlarm || last.bins != searchedBins) {
        last.marginDb = falseAlarmMarginDb(averagedSweeps, falseAlarm, searchedBins);
        last.sweeps = averagedSweeps;
        last.falseAlarm = falseAlarm;
        last.bins = searchedBins;
    }
    return last.marginDb;
}

const std::vector<double>& sidelobeEnvelopeDb(TransformWindow window, int32_t samples)
{
    samples = std::clamp(samples, 1, TransformPoints);
    thread_local std::pair<int, int32_t> lastKey{-1, 0};
    thread_local const std::vector<double>* lastTable = nullptr;
    const std::pair<int, int32_t> key{int(window), samples};
    if (lastTable && lastKey == key)
        return *lastTable;
    static std::mutex lock;
    static std::map<std::pair<int, int32_t>, std::unique_ptr<const std::vector<double>>> tables;
    const std::lock_guard<std::mutex> hold(lock);
    auto& table = tables[key];
    if (!table) {
        const BuiltTable* built = nullptr;
        for (const BuiltTable& b : BuiltTables)
            if (b.window == window && b.samples == samples)
                built = &b;
        table = built ? std::make_unique<const std::vector<double>>(built->db, built->db + HalfPoints + 1)
                      : std::make_unique<const std::vector<double>>(makeEnvelope(window, samples));
    }
    lastKey = key;
    lastTable = table.get();
    return *table;
}
