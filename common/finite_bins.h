#pragma once
// Gathering the bins of a profile at or above a level, for the delay metrics and for
// whatever prepares profiles for them.

#include <cmath>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Gathers into out, in order, the bins first..last whose value is finite and at least
// level. Most bins of a profile are noise below it, so four at a time are tested
// together and only a group holding one is looked at bin by bin.
inline size_t finiteBinsAtOrAbove(const double* profileDb, int32_t first, int32_t last, double level, int32_t* out)
{
    size_t count = 0;
    int32_t k = first;
#if defined(__SSE2__)
    // Ordered compares: false for NaN, as the scalar test below.
    const __m128d low = _mm_set1_pd(level);
    const __m128d high = _mm_set1_pd(INFINITY);
    for (; k + 3 <= last; k += 4) {
        const __m128d a = _mm_loadu_pd(profileDb + k);
        const __m128d b = _mm_loadu_pd(profileDb + k + 2);
        const int mask = _mm_movemask_pd(_mm_and_pd(_mm_cmpge_pd(a, low), _mm_cmplt_pd(a, high))) |
                         _mm_movemask_pd(_mm_and_pd(_mm_cmpge_pd(b, low), _mm_cmplt_pd(b, high))) << 2;
        if (mask == 0)
            continue;
        for (int j = 0; j < 4; ++j) {
            out[count] = k + j;
            count += size_t((mask >> j) & 1);
        }
    }
#endif
    for (; k <= last; ++k) {
        const double x = profileDb[k];
        out[count] = k;
        count += size_t(x >= level) & size_t(x < INFINITY);
    }
    return count;
}
