// Any bytes as a recording: a mix of item reads, line ends and checks, as the viewer
// makes them. Beyond not crashing, the reader must give the same items whether or not
// the text is followed by blanks: that holds the in-place and the gathered ways of
// taking a token (near the end of the text) to the same results.

#include "runtime_error.h"
#include "text_io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Outcome {
    std::vector<uint64_t> items;  // values (bits of reals) and error codes, in order

    bool operator==(const Outcome&) const = default;
};

Outcome readAll(std::string_view text, uint8_t mix, size_t steps)
{
    Outcome outcome;
    rt::TextReader reader;
    reader.openMemory(text);
    for (size_t step = 0; step < steps; ++step) {
        // Two bits of the mix per step choose the operation.
        switch ((mix >> (2 * (step % 4))) & 3) {
        case 0:
            outcome.items.push_back(uint64_t(int64_t(reader.readInt())));
            break;
        case 1: {
            const double value = reader.readReal();
            uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            outcome.items.push_back(bits);
            break;
        }
        case 2:
            reader.readLn();
            break;
        default:
            try {
                reader.check();
            } catch (const rt::InOutError& e) {
                outcome.items.push_back(0xE0000000u + uint64_t(e.code()));
            }
            break;
        }
    }
    outcome.items.push_back(uint64_t(reader.pending()));
    reader.close();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mix = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    // Enough steps to reach the end of the text, and never unbounded.
    const size_t steps = std::min<size_t>(2 * text.size() + 16, 20000);

    const Outcome plain = readAll(text, mix, steps);
    const Outcome padded = readAll(std::string(text) + std::string(100, ' '), mix, steps);
    if (!(plain == padded))
        __builtin_trap();
    return 0;
}
