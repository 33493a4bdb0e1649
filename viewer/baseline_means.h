#pragma once
// The viewer's "Peak to Peak Voltage" is not max - min: it is the mean of a sweep's
// strict local maxima minus the mean of its strict local minima, so one spike among
// many oscillations moves it only by its share.

#include <cstdint>
#include <span>

// x is numbered from 1 (x[0] unused); samples 1..n are valid, and only samples 2..n-1
// can count. n beyond the store (x.size() - 1) is taken as the store's length, so
// nothing past it is read. No extremum at all (a monotonic sweep, n < 3) makes the
// mean 0/0: rt::FloatError "Invalid floating point operation".
double negmean(int32_t n, std::span<const double> x);
double posmean(int32_t n, std::span<const double> x);
