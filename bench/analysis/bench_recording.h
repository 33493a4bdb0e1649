#pragma once
// The recording the sounder benchmarks work on: 1430 sweeps at clock divider 2 (5000
// groups each, 7.15 million lines, about 114 MB), codes spread over the 12-bit scale,
// written by the acquisition program's own recording writer.

#include "recording_writer.h"
#include "text_io.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

inline void writeBenchRecording(const std::string& path)
{
    constexpr int Sweeps = 1430, Samples = 5000;
    std::mt19937 random(8);
    std::vector<uint16_t> groups(size_t(Samples) * 4);
    rt::TextWriter file;
    file.create(path);
    writeRecordingHeader(file, Sweeps, Samples, 31, 20, 20, 20);
    for (int s = 0; s < Sweeps; ++s) {
        for (uint16_t& code : groups)
            code = uint16_t(random() % 4096);
        writeSweepLines(file, groups.data(), Samples);
    }
    file.close();
}
