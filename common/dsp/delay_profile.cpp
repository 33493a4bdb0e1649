// Built without floating-point contraction (see CMakeLists.txt): each power is
// re*re + im*im rounded to a double, exactly as the profiles are defined.

#include "delay_profile.h"

#include "runtime_error.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t TransformPoints = 4096;
constexpr int32_t AreaDoubles = 2 * TransformPoints;
constexpr double PowerFloor = 1e-6;

void fillReal(FourierArea& area, const double* samples, int32_t count)
{
    double* data = area.fftdata.data();
    for (int32_t i = 1; i <= count; ++i) {
        data[2 * i - 1] = samples[i];
        data[2 * i] = 0.0;
    }
    std::fill(data + 2 * count + 1, data + AreaDoubles + 1, 0.0);
}

void transform(FourierArea& area)
{
    area.fftsign = 1;
    area.fftsize = TransformPoints;
    fourier(area);
}

inline double binPower(const FourierArea& area, int32_t k)
{
    const double re = area.fftdata[2 * k - 1];
    const double im = area.fftdata[2 * k];
    return re * re + im * im;
}

}  // namespace

void computeDelayProfile(const double* sweep, int32_t clockDivider, FourierArea& area, double* profile)
{
    // The sample counts are fixed by the divider, not taken from the sweep length.
    fillReal(area, sweep, clockDivider == 4 ? 2500 : TransformPoints);
    transform(area);
    for (int32_t k = 1; k <= ProfileBins; ++k) {
        double p = binPower(area, k);
        if (p < PowerFloor)
            p = PowerFloor;
        profile[k] = 10.0 * rt::log10Checked(p);
    }
}

void foldSweepPower(const double* tseries, int32_t nsamples, FourierArea& area, double* power)
{
    // A header may give any count: none below zero, never past the sweep store.
    const int32_t count = std::clamp(nsamples, int32_t(0), MaxViewerSamples);
    fillReal(area, tseries, count);
    transform(area);
    for (int32_t k = 1; k <= ProfileBins; ++k) {
        const double p = binPower(area, k);
        power[k] = power[k] + p;
    }
}

void powerToDb(double* power, double divisor)
{
    for (int32_t k = 1; k <= ProfileBins; ++k) {
        power[k] = rt::divideChecked(power[k], divisor);
        power[k] = 10.0 * rt::log10Checked(power[k]);
    }
}
