#pragma once
// Shared by the viewer's form tests: recordings in the viewer layout written to a
// temporary directory, and a form driven through scripted dialogs.

#include "line_chart.h"
#include "scripted_dialogs.h"
#include "tform1.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

using Sweep = std::vector<double>;

// Readable failure output for the fields' texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Shortest text that reads back as the same double, so expectations computed from
// the written values match what the viewer reads.
inline std::string exactText(double value)
{
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Sweep s of the stepping recordings: +A, -A, +A, ... with A = (s + 1) / 100, so
// every inner sample is a strict extremum and the peak-to-peak value is exactly
// 2A = (s + 1) / 50. The field then tells which sweep is the last one shown.
// Keep n odd: an even count sums to exactly 0 in the first bin, and a block of
// such sweeps has no logarithm there.
inline Sweep alternatingSweep(int s, int n)
{
    Sweep sweep(static_cast<size_t>(n));
    const double a = (s + 1) / 100.0;
    for (int i = 0; i < n; ++i)
        sweep[static_cast<size_t>(i)] = i % 2 == 0 ? a : -a;
    return sweep;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        form = std::make_unique<TForm1>(dialogs);
    }

    std::string path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    std::string writeText(const std::string& name, const std::string& text) const
    {
        const std::string file = path(name);
        std::ofstream out(file, std::ios::binary);
        out << text;
        return file;
    }

    // Header: nsweeps, nsamples, an unused integer, gain, an unused real; one item
    // per line, CR LF.
    static std::string header(int64_t nsweeps, int64_t nsamples, int gain = 37)
    {
        return std::to_string(nsweeps) + "\r\n" + std::to_string(nsamples) + "\r\n4\r\n" + std::to_string(gain) +
               "\r\n0.0\r\n";
    }

    static std::string samples(const std::vector<Sweep>& sweeps)
    {
        std::string text;
        for (const Sweep& sweep : sweeps)
            for (double v : sweep)
                text += exactText(v) + "\r\n";
        return text;
    }

    std::string writeRecording(const std::string& name, int64_t nsweeps, int64_t nsamples,
                               const std::vector<Sweep>& sweeps, int gain = 37) const
    {
        return writeText(name, header(nsweeps, nsamples, gain) + samples(sweeps));
    }

    // A recording of `count` alternating sweeps of n samples each.
    std::string writeStepping(const std::string& name, int count, int n) const
    {
        std::vector<Sweep> sweeps;
        for (int s = 0; s < count; ++s)
            sweeps.push_back(alternatingSweep(s, n));
        return writeRecording(name, count, n, sweeps);
    }

    void open(const std::string& file)
    {
        dialogs.openAnswers.push_back(QString::fromStdString(file));
        form->Open1Click();
    }

    void goTo(const QString& target)
    {
        form->Edit1->setText(target);
        form->Button2Click();
    }

    int points() const { return form->Chart1->pointCount(form->Series1); }
    double pointY(int index) const { return form->Chart1->pointY(form->Series1, index); }

    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
};
