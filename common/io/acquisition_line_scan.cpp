// Sixteen bytes hold a whole line of three codes of up to four digits ("4095,4095,
// 4095\r\n" is 16). The lines' starts come from a mask of the LF bytes of 64 bytes at
// a time, so no line waits for the parse of the one before. Per line: one load; a
// mask of the bytes that are not digits, whose three lowest bits place the two commas
// and the CR; then the three code lengths pick one of 64 shapes: a pattern that checks
// the separators and leading zeros with one compare, and a shuffle that moves the
// digits into four-byte slots, right-aligned, for two multiply-adds to make the values.

#include "acquisition_line_scan.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
#include <immintrin.h>
#define SOUNDER_LINE_SCAN 1
#endif

namespace acq {

#ifdef SOUNDER_LINE_SCAN

namespace {

struct LineShape {
    alignas(16) uint8_t shuffle[16];  // digit bytes to slots; 0x80 gives a zero byte
    alignas(16) char pattern[16];     // "," "," CR LF where they belong, "0" at a long code's start
    uint32_t separators;              // where pattern's "," "," CR LF are
    uint32_t checked;                 // those, and the first digits of codes of two or more
};

// Indexed by (length1 - 1) | (length2 - 1) << 2 | (length3 - 1) << 4.
constexpr std::array<LineShape, 64> makeShapes()
{
    std::array<LineShape, 64> shapes{};
    for (int index = 0; index < 64; ++index) {
        LineShape& shape = shapes[size_t(index)];
        for (int i = 0; i < 16; ++i) {
            shape.shuffle[i] = 0x80;
            shape.pattern[i] = 'x';  // no byte of a line is compared with this
        }
        int start = 0;
        for (int code = 0; code < 3; ++code) {
            const int length = ((index >> (2 * code)) & 3) + 1;
            for (int j = 0; j < length; ++j)
                shape.shuffle[4 * code + 4 - length + j] = uint8_t(start + j);
            if (length > 1) {
                shape.pattern[start] = '0';
                shape.checked |= 1u << start;
            }
            const int end = start + length;
            if (code < 2) {
                shape.pattern[end] = ',';
                shape.separators |= 1u << end;
            } else {
                shape.pattern[end] = '\r';
                shape.pattern[end + 1] = '\n';
                shape.separators |= 3u << end;
            }
            start = end + 1;
        }
        shape.checked |= shape.separators;
    }
    return shapes;
}

constexpr std::array<LineShape, 64> Shapes = makeShapes();

}  // namespace

bool sampleLineScanAvailable()
{
    static const bool available = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("bmi");
    return available;
}

// One line at p: whether it is a line the scan takes; its codes go to codes if so.
__attribute__((target("ssse3,bmi"), always_inline)) inline bool parseLine(const char* p, uint16_t* codes)
{
    const __m128i asciiZero = _mm_set1_epi8('0');
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i tensAndOnes = _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1);
    const __m128i hundredsAndOnes = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i values = _mm_sub_epi8(bytes, asciiZero);
    const unsigned digits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(values, nine), values)));
    // Stops placed past the sixteen bytes make a line without three separators fail
    // the length test below.
    unsigned others = (~digits & 0xFFFFu) | 0x70000u;
    const unsigned comma1 = unsigned(__builtin_ctz(others));
    others &= others - 1;
    const unsigned comma2 = unsigned(__builtin_ctz(others));
    others &= others - 1;
    const unsigned cr = unsigned(__builtin_ctz(others));
    // Each length minus one; an empty code wraps round to a large value.
    const unsigned length1 = comma1 - 1, length2 = comma2 - comma1 - 2, length3 = cr - comma2 - 2;
    if ((length1 | length2 | length3) > 3)
        return false;
    // The separators must match the shape's, and no long code may start with "0".
    const LineShape& shape = Shapes[length1 | length2 << 2 | length3 << 4];
    const unsigned matches = unsigned(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(shape.pattern)))));
    if (((matches ^ shape.separators) & shape.checked) != 0)
        return false;
    const __m128i placed = _mm_shuffle_epi8(values, _mm_load_si128(reinterpret_cast<const __m128i*>(shape.shuffle)));
    const __m128i slots = _mm_madd_epi16(_mm_maddubs_epi16(placed, tensAndOnes), hundredsAndOnes);
    const __m128i packed = _mm_packs_epi32(slots, slots);
    _mm_storeu_si32(codes, packed);
    codes[2] = uint16_t(_mm_extract_epi16(packed, 2));
    return true;
}

// The line feeds of the 64 bytes at p, bit i for p[i].
__attribute__((target("ssse3,bmi"), always_inline)) inline uint64_t lineFeedsAt(const char* p)
{
    const __m128i lineFeed = _mm_set1_epi8('\n');
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        mask |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed)))) << (16 * i);
    }
    return mask;
}

// The lines' starts come from the line feeds of 64 bytes at a time, so that each line
// is parsed without waiting for the one before it: a line the scan takes holds no
// line feed but its last byte, so the next line starts after the next line feed.
__attribute__((target("ssse3,bmi"))) static size_t scanLines(const char*& pos, uint16_t* codes, size_t maxLines)
{
    const char* p = pos;  // the next line's start
    size_t n = 0;
    while (n < maxLines) {
        const char* const window = p;
        uint64_t lineFeeds = lineFeedsAt(window);
        if (lineFeeds == 0) {
            // A line of over 64 bytes, which the scan never takes.
            break;
        }
        bool stopped = false;
        for (; lineFeeds != 0 && n < maxLines; ++n) {
            const char* next = window + __builtin_ctzll(lineFeeds) + 1;
            lineFeeds &= lineFeeds - 1;
            if (!parseLine(p, codes)) {
                stopped = true;
                break;
            }
            codes += 3;
            p = next;
        }
        if (stopped)
            break;
    }
    pos = p;
    return n;
}

size_t scanSampleLines(const char*& pos, uint16_t* codes, size_t maxLines)
{
    return sampleLineScanAvailable() ? scanLines(pos, codes, maxLines) : 0;
}

#else

bool sampleLineScanAvailable() { return false; }

size_t scanSampleLines(const char*&, uint16_t*, size_t) { return 0; }

#endif

}  // namespace acq
