// Butterfly passes of the transform over kept twiddle factors. Each lane computes
//   tempr = wr*xr - wi*xi,  tempi = wr*xi + wi*xr,
//   x := d - temp,          d := d + temp
// with the same roundings, in the same order, as the scalar form; only the order in
// which the (independent) butterflies of a pass are visited differs.

#include "fourier_detail.h"

#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
#include <immintrin.h>
#endif

namespace fourier_detail {

void passPortable(double* data, int points, int half, PassTwiddles twiddles)
{
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
    // SSE2, part of every x86-64 processor: one complex point per operation.
    for (int block = 0; block < points; block += 2 * half) {
        double* top = data + 2 * block;
        double* bottom = top + 2 * half;
        for (int t = 0; t < half; ++t) {
            const __m128d wr = _mm_loadu_pd(twiddles.real + 2 * t);
            const __m128d wi = _mm_loadu_pd(twiddles.imag + 2 * t);
            const __m128d x = _mm_loadu_pd(bottom + 2 * t);
            const __m128d a = _mm_mul_pd(wr, x);                        // wr*xr, wr*xi
            const __m128d b = _mm_mul_pd(wi, _mm_shuffle_pd(x, x, 1));  // wi*xi, wi*xr
            // [a0 - b0, a1 + b1]: subtract and add, then take one lane of each.
            const __m128d temp = _mm_move_sd(_mm_add_pd(a, b), _mm_sub_pd(a, b));
            const __m128d d = _mm_loadu_pd(top + 2 * t);
            _mm_storeu_pd(bottom + 2 * t, _mm_sub_pd(d, temp));
            _mm_storeu_pd(top + 2 * t, _mm_add_pd(d, temp));
        }
    }
#else
    for (int block = 0; block < points; block += 2 * half) {
        double* top = data + 2 * block;
        double* bottom = top + 2 * half;
        for (int t = 0; t < half; ++t) {
            const double wr = twiddles.real[2 * t];
            const double wi = twiddles.imag[2 * t];
            double* x = bottom + 2 * t;
            double* d = top + 2 * t;
            const double tempr = wr * x[0] - wi * x[1];
            const double tempi = wr * x[1] + wi * x[0];
            x[0] = d[0] - tempr;
            x[1] = d[1] - tempi;
            d[0] += tempr;
            d[1] += tempi;
        }
    }
#endif
}

#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)

namespace {

// Two butterflies: top, bottom hold two points each, w their two twiddle factors.
__attribute__((target("avx"))) inline void butterflies(__m256d& top, __m256d& bottom, __m256d wr, __m256d wi)
{
    const __m256d a = _mm256_mul_pd(wr, bottom);
    const __m256d b = _mm256_mul_pd(wi, _mm256_permute_pd(bottom, 0x5));
    const __m256d temp = _mm256_addsub_pd(a, b);  // a - b in even lanes, a + b in odd
    bottom = _mm256_sub_pd(top, temp);
    top = _mm256_add_pd(top, temp);
}

}  // namespace

__attribute__((target("avx"))) void passAvx(double* data, int points, int half, PassTwiddles twiddles)
{
    for (int block = 0; block < points; block += 2 * half) {
        double* top = data + 2 * block;
        double* bottom = top + 2 * half;
        for (int t = 0; t < half; t += 2) {
            __m256d d = _mm256_loadu_pd(top + 2 * t);
            __m256d x = _mm256_loadu_pd(bottom + 2 * t);
            butterflies(d, x, _mm256_loadu_pd(twiddles.real + 2 * t), _mm256_loadu_pd(twiddles.imag + 2 * t));
            _mm256_storeu_pd(bottom + 2 * t, x);
            _mm256_storeu_pd(top + 2 * t, d);
        }
    }
}

__attribute__((target("avx"))) void passFirstTwoAvx(double* data, int points, PassTwiddles first,
                                                    PassTwiddles second)
{
    // First pass: one factor for both lanes. Second pass: factors 0 and 1.
    const __m256d firstReal = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(first.real));
    const __m256d firstImag = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(first.imag));
    const __m256d secondReal = _mm256_loadu_pd(second.real);
    const __m256d secondImag = _mm256_loadu_pd(second.imag);
    for (int block = 0; block < points; block += 4) {
        double* p = data + 2 * block;
        const __m256d low = _mm256_loadu_pd(p);       // points 0, 1
        const __m256d high = _mm256_loadu_pd(p + 4);  // points 2, 3
        // First pass pairs (0, 1) and (2, 3).
        __m256d even = _mm256_permute2f128_pd(low, high, 0x20);  // points 0, 2
        __m256d odd = _mm256_permute2f128_pd(low, high, 0x31);   // points 1, 3
        butterflies(even, odd, firstReal, firstImag);
        // Second pass pairs (0, 2) and (1, 3).
        __m256d top = _mm256_permute2f128_pd(even, odd, 0x20);     // points 0, 1
        __m256d bottom = _mm256_permute2f128_pd(even, odd, 0x31);  // points 2, 3
        butterflies(top, bottom, secondReal, secondImag);
        _mm256_storeu_pd(p, top);
        _mm256_storeu_pd(p + 4, bottom);
    }
}

__attribute__((target("avx"))) void passPairAvx(double* data, int points, int half, PassTwiddles first,
                                                PassTwiddles second)
{
    // Per block of 4*half points, quarters a, b, c, d: the first pass pairs (a, b) and
    // (c, d) with factor t, the second pairs (a, c) with factor t and (b, d) with
    // factor t + half.
    for (int block = 0; block < points; block += 4 * half) {
        double* a = data + 2 * block;
        double* b = a + 2 * half;
        double* c = b + 2 * half;
        double* d = c + 2 * half;
        for (int t = 0; t < half; t += 2) {
            __m256d pa = _mm256_loadu_pd(a + 2 * t);
            __m256d pb = _mm256_loadu_pd(b + 2 * t);
            __m256d pc = _mm256_loadu_pd(c + 2 * t);
            __m256d pd = _mm256_loadu_pd(d + 2 * t);
            const __m256d wr = _mm256_loadu_pd(first.real + 2 * t);
            const __m256d wi = _mm256_loadu_pd(first.imag + 2 * t);
            butterflies(pa, pb, wr, wi);
            butterflies(pc, pd, wr, wi);
            butterflies(pa, pc, _mm256_loadu_pd(second.real + 2 * t), _mm256_loadu_pd(second.imag + 2 * t));
            butterflies(pb, pd, _mm256_loadu_pd(second.real + 2 * (t + half)),
                        _mm256_loadu_pd(second.imag + 2 * (t + half)));
            _mm256_storeu_pd(a + 2 * t, pa);
            _mm256_storeu_pd(b + 2 * t, pb);
            _mm256_storeu_pd(c + 2 * t, pc);
            _mm256_storeu_pd(d + 2 * t, pd);
        }
    }
}

#endif

}  // namespace fourier_detail
