// Compiled with -ffast-math (see CMakeLists.txt) so that the logarithms of a row run
// through the vector forms of the C library's log10f: a run over a whole recording
// takes millions of them, and at one at a time they would cost a third of the
// analysis. The inputs are finite and at least the floor, where fast and strict
// arithmetic agree to a few units in the last place of a float.

#include "profile_rows.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace cli {

namespace {

// A loop of its own, free of the vector's growth, so that it vectorizes.
void dbRow(const double* __restrict power, float* __restrict out)
{
    for (int k = 0; k < ProfileRowBins; ++k)
        out[k] = 10.0f * std::log10(float(std::min(power[k], double(FLT_MAX))));
}

}  // namespace

void reserveProfileRows(std::vector<float>& rows, size_t count)
{
    rows.reserve(count * ProfileRowBins);
#ifdef MADV_HUGEPAGE
    // Only whole huge pages inside the reserved room; a refusal costs nothing but speed.
    constexpr uintptr_t Huge = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(rows.data()) + Huge - 1) & ~(Huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(rows.data() + rows.capacity())) & ~(Huge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void populateProfileRows(const float* room, size_t floats)
{
#ifdef MADV_POPULATE_WRITE
    // Whole pages inside the room only: the pages around it belong to other allocations.
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(room) + page - 1) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(room + floats) & ~(page - 1);
    // A huge page at a time: the kernel holds the process' memory map for the whole of
    // each call, and the analysis' own allocations (which change the map) would wait
    // until all of the room were backed.
    constexpr uintptr_t Step = uintptr_t(2) << 20;
    for (uintptr_t at = begin; at < end; at += Step)
        ::madvise(reinterpret_cast<void*>(at), std::min(Step, end - at), MADV_POPULATE_WRITE);
#else
    (void)room;
    (void)floats;
#endif
}

void appendDbRow(const double* power, std::vector<float>& rows)
{
    const size_t at = rows.size();
    rows.resize(at + ProfileRowBins);
    dbRow(power, rows.data() + at);
}

std::string npyFloat32Header(const std::vector<uint64_t>& shape)
{
    // Python's tuple: "(3, 4)", a single dimension with its comma "(3,)", none "()".
    std::string dims;
    for (size_t i = 0; i < shape.size(); ++i)
        dims += (i > 0 ? ", " : "") + std::to_string(shape[i]);
    if (shape.size() == 1)
        dims += ",";
    std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" + dims + "), }";
    // Magic (6), version (2), header length (2), the dictionary, spaces and a newline.
    const size_t unpadded = 10 + dict.size() + 1;
    dict.append((64 - unpadded % 64) % 64, ' ');
    dict.push_back('\n');
    std::string header("\x93NUMPY\x01\x00", 8);
    header.push_back(char(dict.size() & 0xff));
    header.push_back(char(dict.size() >> 8));
    return header + dict;
}

void writeProfilesNpy(OutputFile& out, const RecordingAnalysis& analysis)
{
    static_assert(std::endian::native == std::endian::little, "the .npy data is written as the machine holds it");
    const uint64_t rows = analysis.channels.empty() ? 0 : analysis.channels.front().profilesDb.size() / ProfileRowBins;
    out.write(npyFloat32Header({analysis.channels.size(), rows, uint64_t(ProfileRowBins)}));
    for (const ChannelAnalysis& channel : analysis.channels) {
        // Every channel of a file holds the same rows.
        const size_t values = rows * ProfileRowBins;
        out.write(reinterpret_cast<const char*>(channel.profilesDb.data()),
                  std::min(values, channel.profilesDb.size()) * sizeof(float));
        if (channel.profilesDb.size() < values)
            out.write(std::string((values - channel.profilesDb.size()) * sizeof(float), '\0'));
    }
}

std::string profileRowsName(ProfileRows rows)
{
    return rows == ProfileRows::Blocks ? "blocks" : "sweeps";
}

}  // namespace cli
