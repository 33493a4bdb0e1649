#pragma once
// The in-place radix-2 complex transform both programs carry, on its own work area.

#include <array>
#include <cstdint>

struct alignas(64) FourierArea {
    // Places fftdata[1] on a 32-byte boundary, so that the vector passes of the
    // transform never split a load across cache lines.
    double alignmentPadding[3]{};
    // Numbered from 1: complex point k has its real part at 2k-1 and its imaginary
    // part at 2k. Slot 0 is unused.
    std::array<double, 8193> fftdata{};
    int32_t fftsize = 0;  // N, a power of two, 1..4096
    int32_t fftsign = 0;  // +1 or -1
};

// X[k] = sum over n of x[n] * exp(fftsign * 2*pi*i * n*k / N), unscaled, in place.
// An fftsize that is not a power of two in 1..4096, or an fftsign of 0, is outside
// the routine's use: the points are then left as they are.
void fourier(FourierArea& area);

// The transform starts by moving point n to position bitReversedPositions(N)[n]
// (counted from 0; N a power of two 1..4096, else nullptr). A caller that fills the
// area in that order in the first place calls fourierOfReordered, which runs the
// rest of the same transform and gives the same bits as fourier on the natural order.
const uint16_t* bitReversedPositions(int32_t size);
void fourierOfReordered(FourierArea& area);

