// The transform keeps the exact operation order of its recurrence form: the twiddle
// factors come from two sines per pass and the recurrence, so results are
// reproducible bit for bit. This library is built without floating-point
// contraction (see CMakeLists.txt): a fused multiply-add would change the last bits.
//
// Where it is faster without changing a bit:
// - The twiddle factors of a pass depend only on fftsign and mmax, never on the
//   data or on fftsize, so for the usual signs +1 and -1 they are computed once,
//   by exactly the recurrence below, and kept.
// - The bit-reversal reordering is a fixed permutation of each size: its exchanges
//   are found once by the reordering loop below and kept as a list.
// - The butterflies of one pass touch disjoint pairs of points, so they may run in
//   any order: block by block over contiguous memory, two points per vector
//   operation, each lane doing the same multiplies and adds in the same order.

#include "fourier.h"

#include "fourier_detail.h"

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace fourier_detail {

namespace {

constexpr int32_t MaxPoints = 4096;

bool isPowerOfTwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

// The twiddle factor (wr, wi) of each butterfly group of the pass with mmax for a sign,
// group after group: from two sines, then the recurrence, exactly as the algorithm
// computes them.
class PassRotation {
public:
    PassRotation(int32_t sign, int32_t mmax)
    {
        const double theta = 6.28318530717959 / static_cast<double>(sign * mmax);
        const double halfSine = std::sin(0.5 * theta);
        wpr_ = -2.0 * halfSine * halfSine;
        wpi_ = std::sin(theta);
    }
    void next()
    {
        const double wtemp = wr;
        wr = wr * wpr_ - wi * wpi_ + wr;
        wi = wi * wpr_ + wtemp * wpi_ + wi;
    }
    double wr = 1.0;
    double wi = 0.0;

private:
    double wpr_;
    double wpi_;
};

// The algorithm exactly as written, for any sign; 1-based: data[1] is the first double.
void plainFourier(double* data, int32_t size, int32_t sign)
{
    const int32_t n = 2 * size;
    int32_t j = 1;
    for (int32_t i = 1; i < n; i += 2) {
        if (j > i) {
            std::swap(data[j], data[i]);
            std::swap(data[j + 1], data[i + 1]);
        }
        int32_t m = n / 2;
        while (m >= 2 && j > m) {
            j -= m;
            m /= 2;
        }
        j += m;
    }

    int32_t mmax = 2;
    while (n > mmax) {
        const int32_t istep = 2 * mmax;
        PassRotation w(sign, mmax);
        for (int32_t m = 1; m < mmax; m += 2) {
            for (int32_t i = m; i <= n; i += istep) {
                const int32_t k = i + mmax;
                const double tempr = w.wr * data[k] - w.wi * data[k + 1];
                const double tempi = w.wr * data[k + 1] + w.wi * data[k];
                data[k] = data[i] - tempr;
                data[k + 1] = data[i + 1] - tempi;
                data[i] = data[i] + tempr;
                data[i + 1] = data[i + 1] + tempi;
            }
            w.next();
        }
        mmax = istep;
    }
}

// The twiddle factors of every pass for one sign, from the same PassRotation as
// plainFourier. The pass with mmax doubles (half = mmax/2 factors)
// starts at factor half - 1. Each value is stored twice, as the vector passes load
// it, once for the real and once for the imaginary lane.
struct Twiddles {
    std::vector<double> real;
    std::vector<double> imag;

    explicit Twiddles(int32_t sign) : real(2 * (MaxPoints - 1)), imag(2 * (MaxPoints - 1))
    {
        for (int32_t mmax = 2; mmax <= MaxPoints; mmax *= 2) {
            PassRotation w(sign, mmax);
            const size_t start = size_t(2 * (mmax / 2 - 1));
            for (int32_t t = 0; t < mmax / 2; ++t) {
                real[start + 2 * size_t(t)] = real[start + 2 * size_t(t) + 1] = w.wr;
                imag[start + 2 * size_t(t)] = imag[start + 2 * size_t(t) + 1] = w.wi;
                w.next();
            }
        }
    }
    PassTwiddles pass(int32_t half) const
    {
        const size_t start = size_t(2 * (half - 1));
        return {real.data() + start, imag.data() + start};
    }
};

// The exchanges of the bit-reversal reordering for every size 2^0..2^12, as found by
// the reordering loop itself; indices are complex points counted from 0.
struct Reorderings {
    std::vector<std::pair<uint16_t, uint16_t>> swaps;
    int32_t first[14] = {};  // swaps of size 2^b are [first[b], first[b+1])

    Reorderings()
    {
        for (int32_t b = 0; b <= 12; ++b) {
            first[b] = int32_t(swaps.size());
            const int32_t n = 2 << b;
            int32_t j = 1;
            for (int32_t i = 1; i < n; i += 2) {
                if (j > i)
                    swaps.emplace_back(uint16_t((i - 1) / 2), uint16_t((j - 1) / 2));
                int32_t m = n / 2;
                while (m >= 2 && j > m) {
                    j -= m;
                    m /= 2;
                }
                j += m;
            }
        }
        first[13] = int32_t(swaps.size());
    }
};

const Twiddles& twiddlesFor(int32_t sign)
{
    static const Twiddles plus(1);
    static const Twiddles minus(-1);
    return sign > 0 ? plus : minus;
}

const Reorderings& reorderings()
{
    static const Reorderings kept;
    return kept;
}

int32_t log2Of(int32_t size)
{
    int32_t b = 0;
    while ((int32_t(1) << b) < size)
        ++b;
    return b;
}

}  // namespace

bool avxAvailable()
{
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
    static const bool available = __builtin_cpu_supports("avx");
    return available;
#else
    return false;
#endif
}

namespace {

bool withinUse(int32_t size, int32_t sign) { return isPowerOfTwo(size) && size <= MaxPoints && sign != 0; }

// The bit-reversal reordering of the points, as the transform makes it.
void reorder(double* data, int32_t size)
{
    const Reorderings& order = reorderings();
    const int32_t b = log2Of(size);
    for (int32_t s = order.first[b]; s < order.first[b + 1]; ++s) {
        const auto [i, j] = order.swaps[size_t(s)];
        std::swap(data[2 * i], data[2 * j]);
        std::swap(data[2 * i + 1], data[2 * j + 1]);
    }
}

// The butterfly passes, on points already reordered; sign is +1 or -1.
void passes(double* data, int32_t size, int32_t sign, Kernel kernel)
{
    const Twiddles& twiddles = twiddlesFor(sign);
    int32_t half = 1;
#if defined(__x86_64__) && !defined(SOUNDER_PORTABLE)
    const bool wide = kernel == Kernel::Avx && avxAvailable();
    if (wide && size >= 4) {
        // The first two passes together, four points at a time in registers.
        passFirstTwoAvx(data, size, twiddles.pass(1), twiddles.pass(2));
        half = 4;
    }
    if (wide) {
        // Two passes per sweep over the points while two remain.
        for (; 2 * half < size; half *= 4)
            passPairAvx(data, size, half, twiddles.pass(half), twiddles.pass(2 * half));
    }
    for (; half < size; half *= 2) {
        if (wide && half >= 2)
            passAvx(data, size, half, twiddles.pass(half));
        else
            passPortable(data, size, half, twiddles.pass(half));
    }
#else
    (void)kernel;
    for (; half < size; half *= 2)
        passPortable(data, size, half, twiddles.pass(half));
#endif
}

}  // namespace

void fourierWith(FourierArea& area, Kernel kernel)
{
    const int32_t size = area.fftsize;
    const int32_t sign = area.fftsign;
    // Outside the routine's use (no caller produces these): leave the points alone
    // rather than run past the work area or divide by zero.
    if (!withinUse(size, sign))
        return;
    if (kernel == Kernel::Plain || (sign != 1 && sign != -1)) {
        plainFourier(area.fftdata.data(), size, sign);
        return;
    }
    double* data = area.fftdata.data() + 1;  // complex point c at data[2c], data[2c+1]
    reorder(data, size);
    passes(data, size, sign, kernel);
}

}  // namespace fourier_detail

void fourier(FourierArea& area)
{
    fourier_detail::fourierWith(area, fourier_detail::Kernel::Avx);
}

const uint16_t* bitReversedPositions(int32_t size)
{
    using namespace fourier_detail;
    // positions[first[b] ...] for size 2^b: where the reordering moves each point.
    struct Positions {
        std::vector<uint16_t> all;
        int32_t first[13] = {};
        Positions()
        {
            const Reorderings& order = reorderings();
            for (int32_t b = 0; b <= 12; ++b) {
                first[b] = int32_t(all.size());
                const int32_t n = int32_t(1) << b;
                std::vector<uint16_t> at(static_cast<size_t>(n));  // at[c]: the point that ends at c
                for (int32_t c = 0; c < n; ++c)
                    at[size_t(c)] = uint16_t(c);
                for (int32_t s = order.first[b]; s < order.first[b + 1]; ++s)
                    std::swap(at[order.swaps[size_t(s)].first], at[order.swaps[size_t(s)].second]);
                all.resize(all.size() + size_t(n));
                for (int32_t c = 0; c < n; ++c)
                    all[size_t(first[b] + at[size_t(c)])] = uint16_t(c);
            }
        }
    };
    static const Positions kept;
    if (!isPowerOfTwo(size) || size > MaxPoints)
        return nullptr;
    return kept.all.data() + kept.first[log2Of(size)];
}

void fourierOfReordered(FourierArea& area)
{
    using namespace fourier_detail;
    const int32_t size = area.fftsize;
    const int32_t sign = area.fftsign;
    if (!withinUse(size, sign))
        return;
    double* data = area.fftdata.data() + 1;
    if (sign != 1 && sign != -1) {
        // The plain form reorders as it starts: undo the caller's order (the
        // reordering is its own inverse) and run it.
        reorder(data, size);
        plainFourier(area.fftdata.data(), size, sign);
        return;
    }
    passes(data, size, sign, Kernel::Avx);
}
