// Any bytes as an acquisition-layout recording. Beyond not crashing, reading in
// batches of any size must give the same codes (or the same fault, at the same line)
// as reading line by line: that holds the refill and the end-of-text paths to one result.

#include "acquisition_reader.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Outcome {
    std::vector<uint16_t> codes;
    int64_t faultLine = 0;
    std::string fault;
    bool operator==(const Outcome&) const = default;
};

Outcome readAll(std::string_view text, size_t batch)
{
    Outcome outcome;
    try {
        acq::AcquisitionReader reader;
        reader.openMemory(text);
        std::vector<uint16_t> codes(3 * batch);
        for (size_t got; (got = reader.readLines(codes.data(), batch)) > 0;)
            outcome.codes.insert(outcome.codes.end(), codes.begin(), codes.begin() + 3 * got);
    } catch (const acq::FormatError& e) {
        // The lines of a batch that meets a fault are not handed out; the fault's line
        // number says how far the reading came.
        outcome.codes.clear();
        outcome.faultLine = e.line();
        outcome.fault = e.what();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t batch = size_t(data[0] % 64) + 2;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (!(readAll(text, 1) == readAll(text, batch)))
        __builtin_trap();
    return 0;
}
