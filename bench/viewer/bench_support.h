#pragma once
// What the viewer's timed programs share: a dialogs stand-in that answers the open
// dialog with a fixed path and prints messages, a recording writer, and a timer.

#include "dialogs.h"

#include <QString>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>
#include <string>
#include <vector>

class BenchDialogs final : public Dialogs {
public:
    QString answer;
    int messages = 0;
    void showMessage(QWidget*, const QString& text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    std::optional<QString> openFileName(QWidget*) override { return answer; }
    std::optional<QString> saveFileName(QWidget*) override { return std::nullopt; }
};

// A recording in the viewer layout: a few tones and a ramp of noise-like values,
// written with six decimals (about 10 bytes a line).
inline void writeBenchRecording(const std::string& path, int sweeps, int samples)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fprintf(out, "%d\r\n%d\r\n4\r\n40\r\n0.0\r\n", sweeps, samples);
    std::vector<char> text;
    text.reserve(static_cast<size_t>(samples) * 12);
    for (int s = 0; s < sweeps; ++s) {
        text.clear();
        for (int i = 0; i < samples; ++i) {
            const double v = 0.45 * std::cos(0.147 * i + 0.3 * s) + 0.18 * std::cos(0.22 * i + 1.1 * s) +
                             0.004 * ((i * 7919 + s * 104729) % 2001 / 1000.0 - 1.0);
            char item[32];
            const auto end = std::to_chars(item, item + sizeof item, v, std::chars_format::fixed, 6).ptr;
            text.insert(text.end(), item, end);
            text.push_back('\r');
            text.push_back('\n');
        }
        std::fwrite(text.data(), 1, text.size(), out);
    }
    std::fclose(out);
}

using BenchClock = std::chrono::steady_clock;

inline double millisecondsSince(BenchClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
