// Any bytes as a back-to-back calibration (CAL.json) as analyze --cal, campaign --cal
// and info read it. Beyond not crashing: a refusal says why, and whatever the reader
// accepts, written again and read back, gives the same JSON.

#include "calibration.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<cal::Calibration> first = cal::fromJson(text, &error);
    if (!first) {
        if (error.empty())
            std::abort();
        return 0;
    }
    const std::string written = cal::toJson(*first);
    const std::optional<cal::Calibration> second = cal::fromJson(written, &error);
    if (!second || cal::toJson(*second) != written)
        std::abort();
    return 0;
}
