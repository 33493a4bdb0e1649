// Plain loops over the codes, compiled with the compiler's full vectorizer (see
// CMakeLists.txt): each is a load, one or two operations and a store per code.

#include "sigmf_values.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace cli {

namespace {

// Stores a value little-endian at p.
template <class T>
void storeLe(unsigned char* p, T value)
{
    using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint16_t>;
    U bits = std::bit_cast<U>(value);
    if constexpr (std::endian::native == std::endian::big)
        bits = sizeof(U) == 4 ? U(__builtin_bswap32(uint32_t(bits))) : U(__builtin_bswap16(uint16_t(bits)));
    std::memcpy(p, &bits, sizeof bits);
}

template <size_t Stride>
void volts(const uint16_t* codes, size_t count, unsigned char* out)
{
    for (size_t i = 0; i < count; ++i)
        storeLe(out + 4 * i, codeToVoltsFloat(codes[i * Stride]));
}

template <size_t Stride>
bool centred(const uint16_t* codes, size_t count, unsigned char* out)
{
    uint16_t highest = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t code = codes[i * Stride];
        highest = std::max(highest, code);
        storeLe(out + 2 * i, int16_t(int32_t(code) - 2048));
    }
    return highest <= MaxRi16Code;
}

template <size_t Stride>
void asRecorded(const uint16_t* codes, size_t count, unsigned char* out)
{
    for (size_t i = 0; i < count; ++i)
        storeLe(out + 2 * i, codes[i * Stride]);
}

template <size_t Stride>
bool convert(SigmfDatatype datatype, const uint16_t* codes, size_t count, unsigned char* out)
{
    switch (datatype) {
    case SigmfDatatype::Rf32:
        volts<Stride>(codes, count, out);
        return true;
    case SigmfDatatype::Ri16:
        return centred<Stride>(codes, count, out);
    case SigmfDatatype::Ru16:
        asRecorded<Stride>(codes, count, out);
        return true;
    }
    return false;
}

}  // namespace

bool convertCodeValues(SigmfDatatype datatype, const uint16_t* codes, size_t stride, size_t count,
                       unsigned char* out)
{
    // A constant stride, so that the loops vectorize.
    return stride == 1 ? convert<1>(datatype, codes, count, out) : convert<3>(datatype, codes, count, out);
}

}  // namespace cli
