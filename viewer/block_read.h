#pragma once
// How the viewer reads a block of sweeps from a recording in its layout: the main
// window's "Open" and "Go to sweep" and the waterfall's rows all read through these,
// so a row of the waterfall is the main window's profile of that block bit for bit.

#include "delay_profile.h"
#include "text_io.h"

#include <cstdint>

// The three header items the viewer keeps (item 3 and item 5 are read and dropped).
struct ViewerHeaderItems {
    int32_t nsweeps = 0;
    int32_t nsamples = 0;
    int32_t gain = 0;
};

// The five header items, each followed by the rest of its line and the I/O check;
// throws the first failure as the main window's open reports it.
ViewerHeaderItems readViewerHeaderItems(rt::TextReader& file);

// One sample item: the real, the rest of its line skipped, then the I/O check.
double readViewerSampleItem(rt::TextReader& file);

// One sweep's nsamples items into tseries[1..] (tseries numbered from 1, room for
// MaxViewerSamples): the first MaxViewerSamples are kept, the rest read and checked.
// Once the text has ended the remaining kept entries are set to 0 without reading.
// Returns the number of items that came from the text (nsamples when the sweep is
// whole, or nsamples of 0 or less).
int64_t readViewerSweep(rt::TextReader& file, int32_t nsamples, double* tseries);

// `sweeps` sweeps in turn, each read into tseries and its power spectrum added to
// power[1..4096]; tseries ends with the last of them. Returns the items of the block
// that came from the text.
int64_t readViewerBlock(rt::TextReader& file, int32_t nsamples, int32_t sweeps, double* tseries, FourierArea& area,
                        double* power);
