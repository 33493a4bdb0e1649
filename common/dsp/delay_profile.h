#pragma once
// Delay profiles: the power spectrum of a sweep in dB, bin k holding transform bin k-1.

#include "fourier.h"

#include <array>
#include <cstdint>

inline constexpr int ProfileBins = 4096;
// Capacity of the viewer's sweep store: foldSweepPower never reads past it.
inline constexpr int32_t MaxViewerSamples = 4000;

// Acquisition program: one channel's profile from its sweep in volts (sweep[1..]),
// using the first 2500 samples zero-padded at divider 4, else the first 4096.
// Powers below 1e-6 are raised to 1e-6. profile[1..4096] is rewritten.
void computeDelayProfile(const double* sweep, int32_t clockDivider, FourierArea& area, double* profile);

// Viewer: adds the power spectrum of one sweep (tseries[1..nsamples], zero-padded to
// 4096 points; nsamples of 0 or less gives all zeros, more than MaxViewerSamples is
// not allowed by the caller and is taken as MaxViewerSamples) to power[1..4096].
void foldSweepPower(const double* tseries, int32_t nsamples, FourierArea& area, double* power);

// Viewer: power[k] := 10 * log10(power[k] / divisor) for k = 1..4096, no floor.
// Throws rt::FloatError at the first bin whose power is 0 ("Floating point division by zero");
// the bins before it are converted already. A divisor of 0 throws as a division does.
void powerToDb(double* power, double divisor);
