// Any bytes as a recording's metadata sidecar. Beyond not crashing: whatever the
// reader accepts, written again and read back, gives the same JSON, so the reader and
// the writer agree on every field they share.

#include "recording_metadata.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<meta::Recording> first = meta::fromJson(text, &error);
    if (!first) {
        if (error.empty())
            std::abort();  // a refusal always says why
        return 0;
    }
    const std::string written = meta::toJson(*first);
    const std::optional<meta::Recording> second = meta::fromJson(written, &error);
    if (!second || meta::toJson(*second) != written)
        std::abort();
    return 0;
}
