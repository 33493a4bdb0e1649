#pragma once
// Inside the transform: how the work of `fourier` is laid out. Kept visible so the
// tests can hold each butterfly kernel against the plain form of the algorithm.

#include "fourier.h"

namespace fourier_detail {

enum class Kernel {
    Plain,     // the algorithm as written: twiddles recomputed, m outer, i inner
    Portable,  // kept twiddles, one complex point per SSE2 operation (plain C++ off x86-64)
    Avx,       // kept twiddles, two complex points per AVX operation
};

// Whether this processor runs the Avx kernel (never in a build without x86 kernels).
bool avxAvailable();

// The transform with a chosen kernel (Avx falls back to Portable where it cannot
// run). Same preconditions and the same bits as `fourier`.
void fourierWith(FourierArea& area, Kernel kernel);

// The twiddle factors of one pass: factor t is (real[2t], imag[2t]), each value
// stored twice (real[2t + 1] == real[2t]) so that a vector load gives both lanes.
struct PassTwiddles {
    const double* real;
    const double* imag;
};

// One pass of butterflies over `points` complex points (data[2c], data[2c+1] is
// point c): pairs `half` points apart. passAvx needs half >= 2; it and the two below
// exist on x86-64 only, and not in a portable build (SOUNDER_PORTABLE).
void passPortable(double* data, int points, int half, PassTwiddles twiddles);
void passAvx(double* data, int points, int half, PassTwiddles twiddles);
// The passes with half = 1 and half = 2 on each block of four points in turn
// (points >= 4): the same butterflies, without storing between the two passes.
void passFirstTwoAvx(double* data, int points, PassTwiddles first, PassTwiddles second);
// The passes with half and 2*half together (half >= 2, 4*half <= points): four
// points of each block at a time in registers, through both passes.
void passPairAvx(double* data, int points, int half, PassTwiddles first, PassTwiddles second);

}  // namespace fourier_detail
