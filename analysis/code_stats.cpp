// Eight lines, 24 codes, are three vectors of eight; lane j of vector k always holds
// channel (8k + j) mod 3, so each lane keeps its own lowest, highest and clipped count
// and the lanes are folded into channels at the end.

#include "code_stats.h"

#include <algorithm>

#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
#include <emmintrin.h>
#endif

namespace cli {

namespace {

void addScalar(const uint16_t* codes, size_t lines, ChannelStats (&stats)[3])
{
    for (size_t i = 0; i < 3 * lines; i += 3)
        for (int c = 0; c < 3; ++c) {
            const uint16_t code = codes[i + size_t(c)];
            ChannelStats& s = stats[c];
            s.lowest = std::min(s.lowest, code);
            s.highest = std::max(s.highest, code);
            s.clipped += code == 0 || code == 4095;
        }
}

}  // namespace

void addCodes(const uint16_t* codes, size_t lines, ChannelStats (&stats)[3])
{
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
    const size_t groups = lines / 8;
    __m128i lowest[3], highest[3], clipped[3];
    int64_t clippedTotal[24] = {};
    for (int k = 0; k < 3; ++k) {
        lowest[k] = _mm_set1_epi16(-1);
        highest[k] = _mm_setzero_si128();
        clipped[k] = _mm_setzero_si128();
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i fullScale = _mm_set1_epi16(4095);
    // The lane counters are 16 bits wide: emptied into clippedTotal before they can wrap.
    constexpr size_t CounterSpan = 65535;
    auto emptyCounters = [&] {
        for (int k = 0; k < 3; ++k) {
            alignas(16) uint16_t lane[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(lane), clipped[k]);
            for (int j = 0; j < 8; ++j)
                clippedTotal[8 * k + j] += lane[j];
            clipped[k] = _mm_setzero_si128();
        }
    };
    for (size_t g = 0; g < groups;) {
        const size_t stop = std::min(groups, g + CounterSpan);
        for (; g < stop; ++g) {
            const uint16_t* group = codes + 24 * g;
            for (int k = 0; k < 3; ++k) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + 8 * k));
                // Unsigned min and max from saturating subtraction (SSE2 has no unsigned 16-bit min).
                lowest[k] = _mm_sub_epi16(lowest[k], _mm_subs_epu16(lowest[k], v));
                highest[k] = _mm_add_epi16(highest[k], _mm_subs_epu16(v, highest[k]));
                clipped[k] = _mm_sub_epi16(
                    clipped[k], _mm_or_si128(_mm_cmpeq_epi16(v, zero), _mm_cmpeq_epi16(v, fullScale)));
            }
        }
        emptyCounters();
    }
    for (int k = 0; k < 3; ++k) {
        alignas(16) uint16_t low[8], high[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(low), lowest[k]);
        _mm_store_si128(reinterpret_cast<__m128i*>(high), highest[k]);
        for (int j = 0; j < 8; ++j) {
            ChannelStats& s = stats[(8 * k + j) % 3];
            if (groups > 0) {
                s.lowest = std::min(s.lowest, low[j]);
                s.highest = std::max(s.highest, high[j]);
            }
            s.clipped += clippedTotal[8 * k + j];
        }
    }
    addScalar(codes + 24 * groups, lines - 8 * groups, stats);
#else
    addScalar(codes, lines, stats);
#endif
}

}  // namespace cli
