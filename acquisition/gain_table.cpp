#include "gain_table.h"

#include "text_io.h"

#include <algorithm>

namespace gain {

int32_t lookup(const Table& table, int32_t gainDb, int32_t column)
{
    const int32_t row = std::clamp(gainDb, MinGainDb, MaxGainDb) - MinGainDb;
    const int32_t col = std::clamp(column, 0, Columns - 1);
    return table[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

std::optional<Setting> settingFor(const Table& table, int32_t channel, int32_t gainDb)
{
    const int32_t c = std::clamp(channel, MinChannel, MaxChannel);
    // Step down past rows this channel cannot use, but never below the 3 dB row.
    for (int32_t g = std::clamp(gainDb, MinGainDb, MaxGainDb); g >= MinGainDb; --g) {
        const int32_t a = lookup(table, g, potA(c));
        const int32_t b = lookup(table, g, potB(c));
        if (a != Unusable && b != Unusable)
            return Setting{g, a, b};
    }
    return std::nullopt;
}

void read(rt::TextReader& reader, Table& table)
{
    for (auto& row : table) {
        for (auto& value : row) {
            value = reader.readInt();
            reader.check();
        }
        // Anything after the sixteenth number of a row is ignored. A line may end with
        // LF alone (a table saved on this system): skipping to the next CR would take
        // every later row with it and leave the rows at 0.
        reader.readLnAnyLineEnd();
        reader.check();
    }
}

}  // namespace gain
