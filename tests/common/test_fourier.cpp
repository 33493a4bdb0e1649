// The transform: bit for bit the recurrence form of the algorithm, and a discrete
// Fourier transform to rounding.

#include "fourier.h"
#include "fourier_detail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The algorithm transcribed directly, on doubles numbered from 1 (d[0] unused).
void referenceTransform(std::vector<double>& d, int nn, int isign)
{
    const int n = nn << 1;
    int j = 1;
    for (int i = 1; i < n; i += 2) {
        if (j > i) {
            double t = d[j];
            d[j] = d[i];
            d[i] = t;
            t = d[j + 1];
            d[j + 1] = d[i + 1];
            d[i + 1] = t;
        }
        int m = n >> 1;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }
    int mmax = 2;
    while (n > mmax) {
        const int istep = mmax << 1;
        const int product = isign * mmax;
        const double theta = 6.28318530717959 / product;
        double wtemp = std::sin(0.5 * theta);
        const double wpr = -2.0 * (wtemp * wtemp);
        const double wpi = std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (int m = 1; m < mmax; m += 2) {
            for (int i = m; i <= n; i += istep) {
                j = i + mmax;
                const double tempr = wr * d[j] - wi * d[j + 1];
                const double tempi = wr * d[j + 1] + wi * d[j];
                d[j] = d[i] - tempr;
                d[j + 1] = d[i + 1] - tempi;
                d[i] = d[i] + tempr;
                d[i + 1] = d[i + 1] + tempi;
            }
            wtemp = wr;
            wr = wr * wpr - wi * wpi + wr;
            wi = wi * wpr + wtemp * wpi + wi;
        }
        mmax = istep;
    }
}

std::vector<double> randomPoints(int points, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    std::vector<double> d(8193, 0.0);
    for (int i = 1; i <= 2 * points; ++i)
        d[size_t(i)] = value(random);
    return d;
}

void load(FourierArea& area, const std::vector<double>& d, int points, int sign)
{
    std::memcpy(area.fftdata.data(), d.data(), sizeof(double) * 8193);
    area.fftsize = points;
    area.fftsign = sign;
}

std::complex<double> point(const FourierArea& area, int k)
{
    return {area.fftdata[size_t(2 * k - 1)], area.fftdata[size_t(2 * k)]};
}

// Every double bit for bit (signed zeros included); a NaN matches any NaN, as the
// language leaves the payload of a NaN result open.
bool sameBits(const FourierArea& area, const std::vector<double>& d)
{
    for (size_t i = 0; i < d.size(); ++i) {
        if (std::isnan(area.fftdata[i]) && std::isnan(d[i]))
            continue;
        if (std::memcmp(&area.fftdata[i], &d[i], sizeof(double)) != 0)
            return false;
    }
    return true;
}

using fourier_detail::Kernel;

}  // namespace

TEST(FourierBits, EveryKernelEqualsTheTranscriptionBitForBit)
{
    const Kernel kernels[] = {Kernel::Plain, Kernel::Portable, Kernel::Avx};
    unsigned seed = 1;
    for (int points = 1; points <= 4096; points *= 2) {
        for (int sign : {1, -1}) {
            const std::vector<double> input = randomPoints(points, seed++);
            std::vector<double> expected = input;
            referenceTransform(expected, points, sign);
            static FourierArea area;
            load(area, input, points, sign);
            fourier(area);
            EXPECT_TRUE(sameBits(area, expected)) << "fourier, N=" << points << " sign " << sign;
            for (Kernel kernel : kernels) {
                load(area, input, points, sign);
                fourier_detail::fourierWith(area, kernel);
                EXPECT_TRUE(sameBits(area, expected))
                    << "kernel " << int(kernel) << ", N=" << points << " sign " << sign;
            }
        }
    }
}

TEST(FourierBits, OtherSignsFollowTheSameAlgorithm)
{
    for (int sign : {2, -3}) {
        const std::vector<double> input = randomPoints(1024, 77);
        std::vector<double> expected = input;
        referenceTransform(expected, 1024, sign);
        static FourierArea area;
        load(area, input, 1024, sign);
        fourier(area);
        EXPECT_TRUE(sameBits(area, expected)) << sign;
    }
}

TEST(FourierBits, SignedZerosInfinitiesAndNansPassAsInTheTranscription)
{
    std::vector<double> input = randomPoints(64, 5);
    input[3] = -0.0;
    input[4] = -0.0;
    input[17] = std::numeric_limits<double>::infinity();
    input[40] = std::numeric_limits<double>::quiet_NaN();
    input[90] = -0.0;
    std::vector<double> expected = input;
    referenceTransform(expected, 64, 1);
    static FourierArea area;
    for (Kernel kernel : {Kernel::Portable, Kernel::Avx}) {
        load(area, input, 64, 1);
        fourier_detail::fourierWith(area, kernel);
        EXPECT_TRUE(sameBits(area, expected)) << int(kernel);
    }
}

TEST(FourierBits, PointsPlacedInReorderedPositionsGiveTheSameBits)
{
    unsigned seed = 300;
    for (int points = 1; points <= 4096; points *= 2) {
        const uint16_t* position = bitReversedPositions(points);
        ASSERT_NE(position, nullptr) << points;
        std::vector<bool> taken(size_t(points), false);
        for (int n = 0; n < points; ++n) {
            ASSERT_LT(position[n], points);
            EXPECT_FALSE(taken[position[n]]) << "N=" << points << ": two points at " << position[n];
            taken[position[n]] = true;
            EXPECT_EQ(position[position[n]], n) << "N=" << points << ": the reordering is its own inverse";
        }
        for (int sign : {1, -1, 3}) {
            std::vector<double> input = randomPoints(points, seed++);
            input[1] = -0.0;
            std::vector<double> expected = input;
            referenceTransform(expected, points, sign);
            std::vector<double> placed = input;
            for (int n = 0; n < points; ++n) {
                placed[size_t(2 * position[n] + 1)] = input[size_t(2 * n + 1)];
                placed[size_t(2 * position[n] + 2)] = input[size_t(2 * n + 2)];
            }
            static FourierArea area;
            load(area, placed, points, sign);
            fourierOfReordered(area);
            EXPECT_TRUE(sameBits(area, expected)) << "N=" << points << " sign " << sign;
        }
    }
    for (int size : {0, 3, 8192, -4})
        EXPECT_EQ(bitReversedPositions(size), nullptr) << size;
}

TEST(FourierValues, AgreesWithADirectTransform)
{
    for (int points : {8, 256, 4096}) {
        const std::vector<double> input = randomPoints(points, 11);
        static FourierArea area;
        load(area, input, points, 1);
        fourier(area);
        double scale = 0;
        for (int i = 1; i <= 2 * points; ++i)
            scale += std::abs(input[size_t(i)]);
        for (int k = 0; k < points; k += (points > 256 ? 37 : 1)) {
            std::complex<long double> sum = 0;
            for (int n = 0; n < points; ++n) {
                const long double angle = 2.0L * 3.14159265358979323846264338327950288L * n * k / points;
                sum += std::complex<long double>(input[size_t(2 * n + 1)], input[size_t(2 * n + 2)]) *
                       std::complex<long double>(std::cos(angle), std::sin(angle));
            }
            const std::complex<double> got = point(area, k + 1);
            EXPECT_NEAR(got.real(), double(sum.real()), 1e-12 * scale) << "N=" << points << " bin " << k;
            EXPECT_NEAR(got.imag(), double(sum.imag()), 1e-12 * scale) << "N=" << points << " bin " << k;
        }
    }
}

TEST(FourierValues, SinglePointIsLeftAlone)
{
    static FourierArea area;
    area.fftdata[1] = 3.5;
    area.fftdata[2] = -1.25;
    area.fftsize = 1;
    area.fftsign = 1;
    fourier(area);
    EXPECT_EQ(area.fftdata[1], 3.5);
    EXPECT_EQ(area.fftdata[2], -1.25);
}

TEST(FourierValues, ImpulseGivesOneEverywhere)
{
    static FourierArea area;
    area.fftdata.fill(0.0);
    area.fftdata[1] = 1.0;
    area.fftsize = 4096;
    area.fftsign = 1;
    fourier(area);
    for (int k = 1; k <= 4096; ++k) {
        ASSERT_EQ(area.fftdata[size_t(2 * k - 1)], 1.0) << k;
        ASSERT_EQ(area.fftdata[size_t(2 * k)], 0.0) << k;
    }
}

TEST(FourierValues, ConstantInputLandsInTheFirstPoint)
{
    static FourierArea area;
    for (int k = 1; k <= 4096; ++k) {
        area.fftdata[size_t(2 * k - 1)] = 0.75;
        area.fftdata[size_t(2 * k)] = 0.0;
    }
    area.fftsize = 4096;
    area.fftsign = 1;
    fourier(area);
    EXPECT_NEAR(area.fftdata[1], 4096 * 0.75, 1e-9);
    EXPECT_NEAR(area.fftdata[2], 0.0, 1e-9);
    for (int k = 2; k <= 4096; ++k)
        ASSERT_LT(std::abs(point(area, k)), 1e-9) << k;
}

TEST(FourierValues, ComplexExponentialsLandInTheirBins)
{
    constexpr int N = 4096;
    for (int direction : {1, -1}) {
        static FourierArea area;
        for (int n = 0; n < N; ++n) {
            const double angle = direction * 2.0 * M_PI * n / N;
            area.fftdata[size_t(2 * n + 1)] = std::cos(angle);
            area.fftdata[size_t(2 * n + 2)] = std::sin(angle);
        }
        area.fftsize = N;
        area.fftsign = 1;
        fourier(area);
        // exp(+2 pi i n/N) comes out at point N, exp(-2 pi i n/N) at point 2.
        const int peak = direction == 1 ? N : 2;
        EXPECT_NEAR(point(area, peak).real(), N, 1e-8) << direction;
        EXPECT_NEAR(point(area, peak).imag(), 0.0, 1e-8) << direction;
        for (int k = 1; k <= N; ++k) {
            if (k != peak) {
                ASSERT_LT(std::abs(point(area, k)), 1e-8) << direction << " point " << k;
            }
        }
    }
}

TEST(FourierValues, RealInputGivesMirroredPowers)
{
    constexpr int N = 4096;
    std::vector<double> input = randomPoints(N, 21);
    for (int n = 1; n <= N; ++n)
        input[size_t(2 * n)] = 0.0;
    static FourierArea area;
    load(area, input, N, 1);
    fourier(area);
    for (int k = 1; k < N; ++k) {
        const double a = std::norm(point(area, k + 1));
        const double b = std::norm(point(area, N - k + 1));
        ASSERT_NEAR(a, b, 1e-9 * (a + b) + 1e-9) << k;
    }
}

TEST(FourierValues, ForwardThenBackwardGivesNTimesTheInput)
{
    constexpr int N = 2048;
    const std::vector<double> input = randomPoints(N, 31);
    static FourierArea area;
    load(area, input, N, 1);
    fourier(area);
    area.fftsign = -1;
    fourier(area);
    for (int i = 1; i <= 2 * N; ++i)
        ASSERT_NEAR(area.fftdata[size_t(i)], N * input[size_t(i)], 1e-8) << i;
}

TEST(FourierArea, NothingBeyondTheUsedPointsIsTouched)
{
    static FourierArea area;
    for (int points : {1, 2, 4, 8, 512}) {
        for (int sign : {1, -1}) {
            area.fftdata.fill(-7.5);
            area.fftsize = points;
            area.fftsign = sign;
            fourier(area);
            EXPECT_EQ(area.fftdata[0], -7.5);
            for (size_t i = size_t(2 * points + 1); i <= 8192; ++i)
                ASSERT_EQ(area.fftdata[i], -7.5) << "N=" << points << " index " << i;
        }
    }
}

TEST(FourierArea, SizesAndSignsOutsideItsUseLeaveThePointsAlone)
{
    static FourierArea area;
    const std::vector<double> input = randomPoints(4096, 41);
    for (auto [size, sign] : {std::pair{0, 1}, {3, 1}, {4095, 1}, {8192, 1}, {-4, 1}, {1 << 30, 1}, {4096, 0}}) {
        load(area, input, size, sign);
        fourier(area);
        EXPECT_TRUE(sameBits(area, input)) << size << " " << sign;
    }
}
