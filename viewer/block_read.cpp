#include "block_read.h"

#include <algorithm>

namespace {

// The value is taken before the check, so a token that does not convert leaves the
// reader's 0 in place when the check then ends the read.
void readIntItem(rt::TextReader& file, int32_t& target)
{
    target = file.readInt();
    file.readLn();
    file.check();
}

}  // namespace

ViewerHeaderItems readViewerHeaderItems(rt::TextReader& file)
{
    ViewerHeaderItems items;
    readIntItem(file, items.nsweeps);
    readIntItem(file, items.nsamples);
    int32_t unused = 0;
    readIntItem(file, unused);
    readIntItem(file, items.gain);
    file.readReal();
    file.readLn();
    file.check();
    return items;
}

double readViewerSampleItem(rt::TextReader& file)
{
    const double value = file.readRealLine();
    file.check();
    return value;
}

int64_t readViewerSweep(rt::TextReader& file, int32_t nsamples, double* tseries)
{
    // Samples past the store are still read and checked, so the file position and
    // the failures are those of the whole sweep.
    const int32_t stored = std::clamp<int32_t>(nsamples, 0, MaxViewerSamples);
    for (int64_t i = 1; i <= nsamples; ++i) {
        // The usual lines many at a time: each as the item read below would take it,
        // without a failure or the end of the text.
        if (i <= stored) {
            i += int64_t(file.readRealLines(tseries + i, size_t(stored - i + 1)));
        } else {
            double unstored[256];
            i += int64_t(file.readRealLines(unstored, size_t(std::min<int64_t>(256, nsamples - i + 1))));
        }
        if (i > nsamples)
            break;
        const double value = readViewerSampleItem(file);
        if (i <= stored)
            tseries[i] = value;
        if (file.atEnd()) {
            // Every further item would read as 0: a header promising millions of
            // samples must not keep the reader busy reading nothing.
            // The item that met the end is not counted as present.
            for (int64_t j = i + 1; j <= stored; ++j)
                tseries[j] = 0.0;
            return i - 1;
        }
    }
    return std::max<int64_t>(nsamples, 0);
}

int64_t readViewerBlock(rt::TextReader& file, int32_t nsamples, int32_t sweeps, double* tseries, FourierArea& area,
                        double* power)
{
    int64_t present = 0;
    for (int32_t sweep = 0; sweep < sweeps; ++sweep) {
        present += readViewerSweep(file, nsamples, tseries);
        foldSweepPower(tseries, std::clamp<int32_t>(nsamples, 0, MaxViewerSamples), area, power);
    }
    return present;
}
