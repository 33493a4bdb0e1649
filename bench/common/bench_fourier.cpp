// fourier at 4096 points beside FFTW (plan made with FFTW_MEASURE) in the same run.
// Rounds of the two alternate, so that a busy machine slows both alike; the fastest
// and the median round of each are printed, with their ratio (target: within 3x).

#include "delay_metrics.h"
#include "delay_profile.h"
#include "fourier.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Points = 4096;
constexpr int Rounds = 61;
constexpr int PerRound = 200;

template <class Body>
double roundMicroseconds(Body&& body)
{
    const auto start = Clock::now();
    for (int i = 0; i < PerRound; ++i)
        body();
    const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
    return spent.count() / PerRound;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> volts(-1.0, 1.0);
    std::vector<double> sweep(Points);
    for (double& v : sweep)
        v = volts(random);

    static FourierArea area;
    fftw_complex* in = fftw_alloc_complex(Points);
    fftw_complex* out = fftw_alloc_complex(Points);
    // FFTW_BACKWARD is the kernel exp(+i...), the sign every caller of fourier uses.
    fftw_plan plan = fftw_plan_dft_1d(Points, in, out, FFTW_BACKWARD, FFTW_MEASURE);

    // Each transform starts from the sweep, filled in as the callers do.
    auto runFourier = [&] {
        for (int i = 0; i < Points; ++i) {
            area.fftdata[size_t(2 * i + 1)] = sweep[size_t(i)];
            area.fftdata[size_t(2 * i + 2)] = 0.0;
        }
        area.fftsign = 1;
        area.fftsize = Points;
        fourier(area);
    };
    auto runFftw = [&] {
        for (int i = 0; i < Points; ++i) {
            in[i][0] = sweep[size_t(i)];
            in[i][1] = 0.0;
        }
        fftw_execute(plan);
    };

    // The metrics of one profile, a sweep of three paths over noise.
    std::vector<double> pathSweep(5001, 0.0), profile(ProfileBins + 1);
    for (size_t i = 1; i <= 5000; ++i)
        pathSweep[i] = 0.4 * std::cos(0.1459 * double(i)) + 0.2 * std::cos(0.2311 * double(i)) +
                       0.1 * std::cos(0.4057 * double(i)) + 0.01 * volts(random);
    static FourierArea profileArea;
    computeDelayProfile(pathSweep.data(), 2, profileArea, profile.data());
    volatile int32_t sink = 0;
    auto runMetrics = [&] { sink = sink + computeDelayMetrics(profile.data()).countedBins; };
    // The same kind of profile with fresh noise each time, as the sweeps of a recording
    // come: a branch predictor cannot learn one profile's comparisons by heart.
    constexpr int Kinds = 64;
    std::vector<std::vector<double>> profiles(Kinds, std::vector<double>(ProfileBins + 1));
    for (auto& p : profiles) {
        for (size_t i = 1; i <= 5000; ++i)
            pathSweep[i] = 0.4 * std::cos(0.1459 * double(i)) + 0.2 * std::cos(0.2311 * double(i)) +
                           0.1 * std::cos(0.4057 * double(i)) + 0.01 * volts(random);
        computeDelayProfile(pathSweep.data(), 2, profileArea, p.data());
    }
    size_t next = 0;
    auto runMetricsFresh = [&] {
        sink = sink + computeDelayMetrics(profiles[next].data()).countedBins;
        next = (next + 1) % Kinds;
    };

    std::vector<double> fourierRounds, fftwRounds, metricsRounds, freshRounds;
    for (int r = 0; r < Rounds; ++r) {
        fourierRounds.push_back(roundMicroseconds(runFourier));
        fftwRounds.push_back(roundMicroseconds(runFftw));
        metricsRounds.push_back(roundMicroseconds(runMetrics));
        freshRounds.push_back(roundMicroseconds(runMetricsFresh));
    }

    double worst = 0.0;
    for (int i = 0; i < Points; ++i)
        worst = std::max({worst, std::abs(out[i][0] - area.fftdata[size_t(2 * i + 1)]),
                          std::abs(out[i][1] - area.fftdata[size_t(2 * i + 2)])});
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);

    const double fourierBest = *std::min_element(fourierRounds.begin(), fourierRounds.end());
    const double fftwBest = *std::min_element(fftwRounds.begin(), fftwRounds.end());
    const double ratio = fourierBest / fftwBest;
    std::printf("4096-point transform, us per transform (input refill included), %d rounds of %d\n", Rounds,
                PerRound);
    std::printf("  fourier: fastest %8.2f  median %8.2f\n", fourierBest, median(fourierRounds));
    std::printf("  FFTW:    fastest %8.2f  median %8.2f  (FFTW_MEASURE)\n", fftwBest, median(fftwRounds));
    std::printf("  ratio fourier/FFTW (fastest): %.2f, (median): %.2f  target <= 3.00: %s\n", ratio,
                median(fourierRounds) / median(fftwRounds), ratio <= 3.0 ? "met" : "NOT met");
    std::printf("  largest difference to FFTW: %.3g\n", worst);
    const double metricsBest = *std::min_element(metricsRounds.begin(), metricsRounds.end());
    std::printf("delay metrics of one profile: fastest %8.2f  median %8.2f us\n", metricsBest, median(metricsRounds));
    std::printf("  ratio metrics/fourier (fastest): %.3f  target <= 0.200: %s\n", metricsBest / fourierBest,
                metricsBest / fourierBest <= 0.2 ? "met" : "NOT met");
    const double freshBest = *std::min_element(freshRounds.begin(), freshRounds.end());
    std::printf("  the same over %d profiles of fresh noise in turn: fastest %8.2f  median %8.2f us, ratio %.3f\n",
                Kinds, freshBest, median(freshRounds), freshBest / fourierBest);
    return 0;
}
