#pragma once
// Gathering the bins of a profile at or above a level, for the delay metrics and for
// whatever prepares profiles for them.

#include <cmath>
#include <cstddef>
#include <cstdint>
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
#include <emmintrin.h>
#endif

#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
namespace finite_bins_detail {
// For each mask of four bins, the offsets of its set bins in order (the rest unused).
alignas(16) inline constexpr int32_t Offsets[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {2, 0, 0, 0}, {0, 2, 0, 0}, {1, 2, 0, 0}, {0, 1, 2, 0},
    {3, 0, 0, 0}, {0, 3, 0, 0}, {1, 3, 0, 0}, {0, 1, 3, 0}, {2, 3, 0, 0}, {0, 2, 3, 0}, {1, 2, 3, 0}, {0, 1, 2, 3},
};
// How many bits each mask of four bins has set, four bits per mask.
inline constexpr uint64_t Counts = 0x4332322132212110;
}  // namespace finite_bins_detail
#endif

// Gathers into out (room for last - first + 1 bins), in order, the bins first..last
// whose value is finite and at least level. Most bins of a profile are noise below
// it, so four at a time are tested together and only a group holding one is written.
inline size_t finiteBinsAtOrAbove(const double* profileDb, int32_t first, int32_t last, double level, int32_t* out)
{
    size_t count = 0;
    int32_t k = first;
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
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
        // The group's bins that qualify, in order, written four at once: out[count..+3]
        // lies within the first last - first + 1 places, as bins first..k + 3 do.
        const __m128i offsets = _mm_load_si128(reinterpret_cast<const __m128i*>(finite_bins_detail::Offsets[mask]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count), _mm_add_epi32(_mm_set1_epi32(k), offsets));
        count += size_t(finite_bins_detail::Counts >> (4 * mask) & 15);
    }
#endif
    for (; k <= last; ++k) {
        const double x = profileDb[k];
        out[count] = k;
        count += size_t(x >= level) & size_t(x < INFINITY);
    }
    return count;
}
