// Any bytes as a recording: a mix of item reads, line ends and checks, as the viewer
// makes them. Beyond not crashing, the reader must give the same items whether or not
// the text is followed by blanks: that holds the in-place and the gathered ways of
// taking a token (near the end of the text) to the same results. And a text read as
// lines of one real must read the same with readReal and readLn, with readRealLine,
// and with readRealLines (and readRealLine where it stops).

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

uint64_t bitsOf(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Per line: the value's bits, the pending code, and whether the text has ended.
std::vector<uint64_t> readLines(std::string_view text, int way, size_t lines, size_t batch)
{
    std::vector<uint64_t> out;
    rt::TextReader reader;
    reader.openMemory(text);
    std::vector<double> values;
    size_t at = 0;
    for (size_t line = 0; line < lines; ++line) {
        double value = 0.0;
        if (way == 0) {
            value = reader.readReal();
            reader.readLn();
        } else if (way == 1) {
            value = reader.readRealLine();
        } else {
            if (at == values.size()) {
                values.assign(batch, 0.0);
                values.resize(reader.readRealLines(values.data(), values.size()));
                at = 0;
            }
            value = at < values.size() ? values[at++] : reader.readRealLine();
        }
        out.push_back(bitsOf(value));
        out.push_back(uint64_t(reader.pending()) * 2 + (reader.atEnd() ? 1 : 0));
        // A pending code is reported once, as a caller's check would.
        if (reader.pending() != 0) {
            try {
                reader.check();
            } catch (const rt::InOutError&) {
            }
        }
    }
    return out;
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

    const size_t lines = std::min<size_t>(text.size() + 2, 5000);
    const size_t batch = 1 + mix % 16;
    for (const std::string& body : {std::string(text), std::string(text) + std::string(100, ' ')}) {
        const std::vector<uint64_t> general = readLines(body, 0, lines, batch);
        if (readLines(body, 1, lines, batch) != general || readLines(body, 2, lines, batch) != general)
            __builtin_trap();
    }
    return 0;
}
