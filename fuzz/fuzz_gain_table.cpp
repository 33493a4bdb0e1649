// Fuzzes the reading of the gain calibration table and the lookups over whatever it
// yields: any text must either fill the table or end with an I/O error, and no gain
// or channel may take a lookup outside the table.

#include "gain_table.h"
#include "runtime_error.h"
#include "text_io.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gain::Table table{};
    rt::TextReader reader;
    reader.openMemory(std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        gain::read(reader, table);
    } catch (const rt::InOutError&) {
        // Rows read before the failure are kept; they are looked up all the same.
    }
    // A checksum that keeps the lookups from being optimised away; the table's numbers may
    // be any int32, so it adds them modulo 2^32 rather than overflowing.
    volatile uint32_t sink = 0;
    for (int32_t channel = -1; channel <= 10; ++channel) {
        for (int32_t gainDb : {INT32_MIN, -1, 2, 3, 40, 70, 71, INT32_MAX}) {
            if (const auto setting = gain::settingFor(table, channel, gainDb)) {
                if (setting->gainDb < gain::MinGainDb || setting->gainDb > gain::MaxGainDb ||
                    setting->a == gain::Unusable || setting->b == gain::Unusable)
                    __builtin_trap();
                sink = sink + uint32_t(setting->a) + uint32_t(setting->b);
            }
            sink = sink + uint32_t(gain::lookup(table, gainDb, 2 * channel));
        }
    }
    return 0;
}
