#pragma once
// Recordings with known content for `sounder analyze`, and what the tool's outputs
// should hold, computed here through the shared routines directly.

#include "delay_metrics.h"
#include "delay_profile.h"
#include "recording_writer.h"
#include "run_sounder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The bin each channel's strongest path lies at, and a weaker second path.
inline int pathBin(int channel) { return 97 + 10 * (channel - 1); }
inline int echoBin(int channel) { return pathBin(channel) + 40; }

// A recording as "Acquire" writes it: per channel a strong path at pathBin and an
// echo 12 dB below at echoBin, over a little noise, with a phase that moves from
// sweep to sweep.
struct Recording {
    int sweeps = 7;
    int samples = 5000;  // 5000 at divider 2, 2500 at divider 4
    unsigned seed = 1;
    std::vector<std::vector<uint16_t>> codes;  // per sweep: samples x 3 codes

    void write(const std::string& path)
    {
        std::mt19937 random(seed);
        std::normal_distribution<double> noise(0.0, 0.02);
        rt::TextWriter file;
        file.create(path);
        writeRecordingHeader(file, sweeps, samples, 31, 20, 21, 22);
        std::vector<uint16_t> groups(size_t(samples) * 4);
        codes.clear();
        for (int s = 0; s < sweeps; ++s) {
            std::vector<uint16_t> sweep(size_t(samples) * 3);
            for (int i = 0; i < samples; ++i)
                for (int c = 1; c <= 3; ++c) {
                    const double x = 2.0 * std::numbers::pi * double(i) / 4096.0;
                    const double v = 1.0 * std::cos(x * (pathBin(c) - 1) + 0.4 * s) +
                                     0.25 * std::cos(x * (echoBin(c) - 1) + 0.9 * s) + noise(random);
                    const long code = std::lround(v / 5.0 * 2048.0 + 2048.0);
                    const uint16_t clipped = uint16_t(std::clamp(code, 0L, 4095L));
                    groups[4 * size_t(i) + size_t(c - 1)] = clipped;
                    sweep[3 * size_t(i) + size_t(c - 1)] = clipped;
                }
            writeSweepLines(file, groups.data(), samples);
            codes.push_back(std::move(sweep));
        }
        file.close();
    }

    int divider() const { return samples == 5000 ? 2 : 4; }

    // Sweep s (0-based) of a channel in volts, numbered from 1, each sample times
    // the window weight of its place among the samples transformed.
    std::vector<double> volts(int s, int channel, double (*weight)(int, int) = nullptr) const
    {
        const int used = divider() == 4 ? 2500 : 4096;
        std::vector<double> v(size_t(samples) + 1, 0.0);
        for (int i = 1; i <= samples; ++i) {
            v[size_t(i)] = (double(codes[size_t(s)][3 * size_t(i - 1) + size_t(channel - 1)]) - 2048.0) / 2048.0 * 5.0;
            if (weight && i <= used)
                v[size_t(i)] *= weight(i - 1, used);
        }
        return v;
    }
};

// The acquisition program's profile of one sweep, through the shared routine.
inline std::vector<double> sweepProfile(const Recording& r, int s, int channel, double (*weight)(int, int) = nullptr)
{
    static FourierArea area;
    std::vector<double> profile(ProfileBins + 1);
    computeDelayProfile(r.volts(s, channel, weight).data(), r.divider(), area, profile.data());
    return profile;
}

// A block's profile from the sweeps' profiles: the linear mean of their powers, in dB.
inline std::vector<double> blockProfile(const Recording& r, int first, int count, int channel)
{
    std::vector<double> sum(ProfileBins + 1, 0.0);
    for (int s = first; s < first + count; ++s) {
        const std::vector<double> p = sweepProfile(r, s, channel);
        for (int k = 1; k <= ProfileBins; ++k)
            sum[size_t(k)] += std::pow(10.0, p[size_t(k)] / 10.0);
    }
    for (int k = 1; k <= ProfileBins; ++k)
        sum[size_t(k)] = 10.0 * std::log10(sum[size_t(k)] / count);
    return sum;
}

// A CSV table read back: rows of fields by column name.
struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    explicit Csv(const std::string& text)
    {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::vector<std::string> fields;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, ',');)
                fields.push_back(cell);
            if (!line.empty() && line.back() == ',')
                fields.emplace_back();
            if (header.empty())
                header = fields;
            else
                rows.push_back(fields);
        }
    }
    size_t column(const std::string& name) const
    {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return i;
        return header.size();
    }
    std::string at(const std::vector<std::string>& row, const std::string& name) const
    {
        const size_t i = column(name);
        return i < row.size() ? row[i] : "<no column " + name + ">";
    }
    // Rows of one kind ("sweep" or "block") of one channel, in order.
    std::vector<std::vector<std::string>> of(const std::string& kind, int channel) const
    {
        std::vector<std::vector<std::string>> chosen;
        for (const auto& row : rows)
            if (at(row, "kind") == kind && at(row, "channel") == std::to_string(channel))
                chosen.push_back(row);
        return chosen;
    }
};

// A metric as the CSV writes it: empty when absent, else the shortest round-trip text.
template <class T>
std::string field(const std::optional<T>& value)
{
    if (!value)
        return "";
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, *value).ptr);
}

inline std::map<std::string, std::string> expectedFields(const DelayMetrics& m)
{
    return {
        {"noise_floor_db", field(m.noiseFloorDb)},
        {"peak_bin", field(m.peakBin)},
        {"peak_db", field(m.peakDb)},
        {"snr_db", field(m.snrDb)},
        {"first_arrival_bin", field(m.firstArrivalBin)},
        {"mean_excess_bins", field(m.meanExcessBins)},
        {"rms_spread_bins", field(m.rmsSpreadBins)},
        {"max_excess_10db_bins", field(m.maxExcess10Bins)},
        {"max_excess_20db_bins", field(m.maxExcess20Bins)},
        {"window90_bins", field(m.window90Bins)},
        {"counted_bins", field(std::optional<int32_t>(m.countedBins))},
        {"paths_count", field(std::optional<int32_t>(m.pathCount))},
    };
}
