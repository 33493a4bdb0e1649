// Any bytes as a recording in the viewer's layout, read for the waterfall: on every
// core and in order from the start. Beyond not crashing, both readings must give the
// same rows, bit for bit, and the same outcome.

#include "waterfall_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Result {
    WaterfallOutcome outcome;
    std::vector<double> rows;
};

Result readWith(WaterfallOutcome (*read)(const std::string&, int32_t, double, const std::atomic<bool>&,
                                         const WaterfallCallbacks&),
                const std::string& path)
{
    Result result;
    std::atomic<bool> cancel{false};
    WaterfallCallbacks callbacks;
    callbacks.row = [&](int64_t, const double* db) { result.rows.insert(result.rows.end(), db, db + WaterfallBins); };
    result.outcome = read(path, 5, 5.0, cancel, callbacks);
    return result;
}

const std::string& scratchFile()
{
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_waterfall_XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = scratchFile();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    const Result parallel = readWith(readWaterfall, path);
    const Result ordered = readWith(readWaterfallInOrder, path);
    if (parallel.outcome.end != ordered.outcome.end || parallel.outcome.rows != ordered.outcome.rows ||
        parallel.outcome.expectedRows != ordered.outcome.expectedRows ||
        parallel.outcome.message != ordered.outcome.message || parallel.rows.size() != ordered.rows.size() ||
        (!parallel.rows.empty() &&
         std::memcmp(parallel.rows.data(), ordered.rows.data(), parallel.rows.size() * sizeof(double)) != 0))
        __builtin_trap();
    return 0;
}
