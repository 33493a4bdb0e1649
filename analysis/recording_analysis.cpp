// Built without floating-point contraction (see CMakeLists.txt): each power is
// re*re + im*im rounded to a double, as computeDelayProfile makes it, so a sweep's
// profile here is the acquisition program's bit for bit.

#include "recording_analysis.h"

#include "adc_codes.h"
#include "metrics_profile.h"
#include "profile_rows.h"
#include "recording_input.h"
#include "runtime_error.h"
#include "text_io.h"
#include "thread_start.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <sys/stat.h>

namespace cli {

namespace {

constexpr int TransformPoints = 4096;
constexpr int AreaDoubles = 2 * TransformPoints;
constexpr double PowerFloor = 1e-6;
constexpr double FloorDb = -60.0;

// One channel's sweeps in turn: each one's profile and metrics, the running block
// sum and the sum over the whole recording.
class ChannelAccumulator {
public:
    // expectedSweeps: how many sweeps the file can hold, so that the results grow
    // in place.
    // samplesUsed: the samples of each sweep entering the transform.
    // backAhead: the room reserved for expectedSweeps is all the rows take (it never
    // moves), and its memory may be made ready on a thread of its own.
    ChannelAccumulator(int channel, const AnalysisSettings& settings, int samplesUsed, size_t expectedSweeps = 0,
                       bool backAhead = false)
        : settings_(settings), sweepParams_(settings.metrics)
    {
        sweepParams_.window = settings.window;
        sweepParams_.transformSamples = std::clamp(samplesUsed, 1, ProfileBins);
        sweepParams_.averagedSweeps = 1;
        sweepParams_.marginDb = effectiveMarginDb(sweepParams_);
        blockParams_ = paramsFor(settings.blockSweeps);
        result_.sweeps.reserve(expectedSweeps);
        result_.blocks.reserve(expectedSweeps / size_t(std::max(1, settings.blockSweeps)) + 1);
        const DelayMetricsParams& m = settings.metrics;
        // The metrics read the noise bins and the delay bins with one bin either side.
        lastBin_ = std::min(ProfileBins, std::max(m.noiseLastBin, m.lastDelayBin + 1));
        if (settings.keepProfiles != ProfileRows::None) {
            lastBin_ = std::max(lastBin_, ProfileRowBins);
            const size_t rows = settings.keepProfiles == ProfileRows::Sweeps ? result_.sweeps.capacity()
                                                                              : result_.blocks.capacity();
            reserveProfileRows(result_.profilesDb, rows);
            // The room's memory made ready beside the analysis, on another core (where
            // the system gives no thread for it, the rows take their pages as they come).
            if (backAhead && result_.profilesDb.capacity() > 0)
                populating_ = rt::threadIfAny(
                    [room = result_.profilesDb.data(), floats = result_.profilesDb.capacity()] {
                        populateProfileRows(room, floats);
                    });
        }
        db_.fill(FloorDb);
        power_.fill(PowerFloor);
        blockSum_.fill(0.0);
        totalSum_.fill(0.0);
        result_.channel = channel;
    }

    // The sweep's samples are in area, filled as the transform expects, in natural
    // order or (reordered) already where the transform's reordering would put them.
    void addSweep(FourierArea& area, bool reordered = false)
    {
        area.fftsign = 1;
        area.fftsize = TransformPoints;
        if (reordered)
            fourierOfReordered(area);
        else
            fourier(area);
        addPowers(area.fftdata.data());
        // The metrics of the dB profile, each bin 10 * log10 of the floored power exactly
        // as in the acquisition program's profile (db_ is room for the bins they read).
        result_.sweeps.push_back(powerProfileMetricsOnly(power_.data(), lastBin_, sweepParams_, db_.data()));
        if (settings_.pathLobes)
            result_.sweepPeakLobes.push_back(peakLobe(result_.sweeps.back()));
        if (settings_.keepProfiles == ProfileRows::Sweeps)
            appendDbRow(power_.data() + 1, result_.profilesDb);
        if (++inBlock_ == settings_.blockSweeps)
            closeBlock();
    }

    // The kept rows so far, and the room reserved for them.
    const std::vector<float>& rows() const { return result_.profilesDb; }

    ChannelAccumulator(ChannelAccumulator&&) = default;
    ~ChannelAccumulator()
    {
        if (populating_.joinable())
            populating_.join();
    }

    ChannelAnalysis finish()
    {
        if (populating_.joinable())
            populating_.join();
        if (inBlock_ > 0)
            closeBlock();
        result_.profileRows = int64_t(result_.profilesDb.size() / ProfileRowBins);
        result_.averageDb.assign(size_t(ProfileBins) + 1, FloorDb);
        const double count = double(result_.sweeps.size());
        if (count > 0) {
            for (int k = 1; k <= lastBin_; ++k)
                result_.averageDb[size_t(k)] = 10.0 * std::log10(totalSum_[size_t(k)] / count);
            result_.average = computeDelayMetrics(result_.averageDb.data(), paramsFor(int64_t(count)));
            if (settings_.pathLobes) {
                for (int k = 1; k <= lastBin_; ++k)
                    power_[size_t(k)] = totalSum_[size_t(k)] / count;
                result_.averagePeakLobe = peakLobe(result_.average);
                result_.averagePathLobes = pathLobes(result_.average);
            }
        }
        return std::move(result_);
    }

private:
    // Each bin's power re * re + im * im, floored, into power_ and the block's sum (a
    // NaN stays NaN).
    void addPowers(const double* data)
    {
        for (int k = 1; k <= lastBin_; ++k) {
            const double re = data[2 * k - 1];
            const double im = data[2 * k];
            double p = re * re + im * im;
            if (p < PowerFloor)
                p = PowerFloor;
            power_[size_t(k)] = p;
            blockSum_[size_t(k)] += p;
        }
    }

    void closeBlock()
    {
        // Linear mean of the block's powers, then dB; every power is at least the floor.
        const double count = double(inBlock_);
        for (int k = 1; k <= lastBin_; ++k) {
            power_[size_t(k)] = blockSum_[size_t(k)] / count;
            totalSum_[size_t(k)] += blockSum_[size_t(k)];  // the recording's sum, block by block
            blockSum_[size_t(k)] = 0.0;
        }
        // The last block may hold fewer sweeps, and its noise is averaged over those.
        const DelayMetricsParams params = inBlock_ == settings_.blockSweeps ? blockParams_ : paramsFor(inBlock_);
        result_.blocks.push_back(powerProfileMetricsOnly(power_.data(), lastBin_, params, db_.data()));
        if (settings_.pathLobes) {
            result_.blockPeakLobes.push_back(peakLobe(result_.blocks.back()));
            result_.blockPathLobes.push_back(pathLobes(result_.blocks.back()));
        }
        if (settings_.keepProfiles == ProfileRows::Blocks)
            appendDbRow(power_.data() + 1, result_.profilesDb);
        inBlock_ = 0;
    }

    // The params of a profile averaging `sweeps` sweeps, with the margin resolved once.
    DelayMetricsParams paramsFor(int64_t sweeps) const
    {
        DelayMetricsParams params = sweepParams_;
        params.averagedSweeps = sweeps;
        params.marginDb = settings_.metrics.marginDb;
        params.marginDb = effectiveMarginDb(params);
        return params;
    }

    // Lobes over the linear powers in power_, which the metrics m were made from.
    std::optional<PathLobe> peakLobe(const DelayMetrics& m) const
    {
        if (!m.peakBin)
            return std::nullopt;
        return pathLobe(power_.data(), *m.peakBin, lastBin_);
    }
    std::vector<PathLobe> pathLobes(const DelayMetrics& m) const
    {
        std::vector<PathLobe> lobes;
        lobes.reserve(m.pathBins.size());
        for (int32_t k : m.pathBins)
            lobes.push_back(pathLobe(power_.data(), k, lastBin_));
        return lobes;
    }

    const AnalysisSettings& settings_;
    DelayMetricsParams sweepParams_;
    DelayMetricsParams blockParams_;
    int lastBin_ = ProfileBins;
    int inBlock_ = 0;
    std::array<double, ProfileBins + 1> power_;
    std::array<double, ProfileBins + 1> db_;
    std::array<double, ProfileBins + 1> blockSum_;
    std::array<double, ProfileBins + 1> totalSum_;
    ChannelAnalysis result_;
    std::thread populating_;  // backing the kept rows' room with memory
};

std::vector<int> channelsOf(const AnalysisSettings& settings)
{
    if (settings.channel != 0)
        return {settings.channel};
    return {1, 2, 3};
}

std::vector<double> windowWeights(SampleWindow window, int count)
{
    std::vector<double> weights(size_t(count) + 1, 1.0);
    for (int n = 0; n < count; ++n)
        weights[size_t(n) + 1] = windowWeight(window, n, count);
    return weights;
}

void clearTail(FourierArea& area, int count)
{
    std::fill(area.fftdata.data() + 2 * count + 1, area.fftdata.data() + AreaDoubles + 1, 0.0);
}

// The transform's points of one channel of a sweep (codes[3n] is sample n; weights[n + 1]
// its window weight, none without a window), the used samples followed by zeros, each
// put where the transform's reordering would move it. The reordering is its own
// inverse, so position c of the area takes point position[c]; the area is written in
// order and the sweep, which stays in the nearest cache, is read out of order.
template <bool Weighted, bool Padded>
void loadReorderedAs(const uint16_t* __restrict codes, int used, const double* __restrict weights,
                     FourierArea& area)
{
    const uint16_t* __restrict position = bitReversedPositions(TransformPoints);
    double* __restrict point = area.fftdata.data() + 1;  // point c at point[2c], point[2c + 1]
    for (int c = 0; c < TransformPoints; ++c) {
        const int n = position[c];
        if constexpr (Padded) {
            const bool sample = n < used;
            const int from = sample ? n : 0;  // a place to read that holds a code in any case
            double v = codeToVolts(codes[3 * size_t(from)]);
            if constexpr (Weighted)
                v *= weights[size_t(from) + 1];
            point[2 * c] = sample ? v : 0.0;
        } else {
            double v = codeToVolts(codes[3 * size_t(n)]);
            if constexpr (Weighted)
                v *= weights[size_t(n) + 1];
            point[2 * c] = v;
        }
        point[2 * c + 1] = 0.0;
    }
}

void loadReordered(const uint16_t* codes, int used, const double* weights, FourierArea& area)
{
    // Each case in a loop of its own: a sweep of 4096 samples (divider 2) has no padding.
    const bool padded = used < TransformPoints;
    if (weights)
        padded ? loadReorderedAs<true, true>(codes, used, weights, area)
               : loadReorderedAs<true, false>(codes, used, weights, area);
    else
        padded ? loadReorderedAs<false, true>(codes, used, weights, area)
               : loadReorderedAs<false, false>(codes, used, weights, area);
}

void addBytes(std::atomic<uint64_t>* bytesDone, uint64_t bytes)
{
    if (bytesDone && bytes > 0)
        bytesDone->fetch_add(bytes, std::memory_order_relaxed);
}

// Adds the codes 0 and 4095 of a sweep's groups (three channels in turn) to each
// channel's count. Counted in runs of 48 codes (16 groups), position by position, which
// the compiler turns into a few vector operations, since analyze --cal counts every sweep.
void addClipped(const std::vector<uint16_t>& sweep, std::array<int64_t, 3>& clipped)
{
    constexpr size_t Run = 48;
    std::array<uint32_t, Run> atPosition{};
    size_t i = 0;
    for (; i + Run <= sweep.size(); i += Run)
        for (size_t j = 0; j < Run; ++j)
            atPosition[j] += sweep[i + j] == 0 || sweep[i + j] == 4095;
    for (size_t j = 0; j < Run; ++j)
        clipped[j % 3] += atPosition[j];
    for (; i < sweep.size(); ++i)
        clipped[i % 3] += sweep[i] == 0 || sweep[i] == 4095;
}

void analyzeAcquisition(RecordingInput& input, const AnalysisSettings& settings, RecordingAnalysis& result,
                        std::atomic<uint64_t>* bytesDone, ProfileRowsProgress* progress)
{
    const acq::RecordingHeader& header = input.header();
    result.clockDivider = header.clockDivider();
    // The sample counts are fixed by the divider, as in the acquisition program.
    result.samplesUsed = result.clockDivider == 4 ? 2500 : TransformPoints;
    const int used = result.samplesUsed;
    const std::vector<double> weights = windowWeights(settings.window, used);
    const bool weighted = settings.window != SampleWindow::None;

    // The sweeps promised, as far as the file's size allows (a line takes at least
    // "0,0,0\n"): a header promising more than a file holds reserves no more. The size
    // of a pipe is not known: its rows are kept in room that grows as they come, the
    // first sweeps' worth reserved.
    const uint64_t sweepBytes = 6 * uint64_t(std::max(1, header.sweepSamples));
    const uint64_t promised = uint64_t(std::max(0, header.numSweeps));
    const bool sized = input.reader().totalBytes() > 0;
    constexpr uint64_t UnsizedReserve = 2048;
    const size_t expected = size_t(sized ? std::min(promised, input.reader().totalBytes() / sweepBytes + 1)
                                         : std::min(promised, UnsizedReserve));
    const std::vector<int> chosen = channelsOf(settings);
    std::vector<ChannelAccumulator> channels;
    channels.reserve(chosen.size());
    for (int c : chosen)
        channels.emplace_back(c, settings, used, expected, sized);
    // The reader stops at the sweeps the header promises, and each channel's room holds
    // `expected` sweeps (or their blocks), at least as many as the file can hold: the
    // rows never move, and a follower may read them where they are. Should the analysis
    // fail, they are given up before they are freed.
    if (progress && !sized)
        progress->setUp.store(true, std::memory_order_release);  // not followed, and no thread made
    if (settings.keepProfiles == ProfileRows::None || !sized)
        progress = nullptr;
    struct GiveUp {
        ProfileRowsProgress* progress;
        bool kept = false;
        ~GiveUp()
        {
            if (progress && !kept) {
                const std::lock_guard<std::mutex> lock(progress->mutex);
                progress->room = 0;
            }
        }
    } giveUp{progress};
    if (progress) {
        const std::lock_guard<std::mutex> lock(progress->mutex);
        for (const ChannelAccumulator& channel : channels)
            progress->first.push_back(channel.rows().data());
        const size_t blockSweeps = size_t(settings.blockSweeps);
        progress->room = settings.keepProfiles == ProfileRows::Sweeps ? expected
                                                                      : (expected + blockSweeps - 1) / blockSweeps;
    }
    if (progress)
        progress->setUp.store(true, std::memory_order_release);
    auto area = std::make_unique<FourierArea>();
    uint64_t reported = 0;
    int64_t lines = 0;
    // Whole sweeps only: a sweep is analysed once all its lines have been read.
    const auto readSweep = [&](std::vector<uint16_t>& sweep) {
        const size_t got = input.readSweep(sweep.data());
        lines += int64_t(got);
        const uint64_t bytes = input.reader().bytesRead();
        addBytes(bytesDone, bytes - reported);
        reported = bytes;
        return got == size_t(header.sweepSamples);
    };
    std::array<int64_t, 3> clipped{};
    const auto analyzeSweep = [&](const std::vector<uint16_t>& sweep) {
        // Never so, the reader giving no more sweeps than `expected`; a row that would
        // move the rows under their follower stops the analysis instead.
        if (progress && size_t(result.sweeps) >= expected)
            throw std::logic_error("more sweeps than the room kept for their rows");
        if (settings.countClipped)
            addClipped(sweep, clipped);
        for (size_t c = 0; c < channels.size(); ++c) {
            loadReordered(sweep.data() + size_t(chosen[c] - 1), used, weighted ? weights.data() : nullptr, *area);
            channels[c].addSweep(*area, true);
        }
        ++result.sweeps;
        if (progress)
            progress->done.store(channels.front().rows().size() / ProfileRowBins, std::memory_order_release);
    };
    std::vector<uint16_t> sweep(3 * size_t(header.sweepSamples));
    while (readSweep(sweep))
        analyzeSweep(sweep);
    const acq::SweepCount count = acq::countSweeps(header, lines);
    if (count.missing > 0)
        noteCutShort(input.path(), count.whole, header.numSweeps, count.missing, count.partialLines,
                     input.reader().cutLineBytes());
    if (count.whole == 0)
        throw Failure(input.path() + ": holds no whole sweep to analyze");
    for (ChannelAccumulator& channel : channels) {
        result.channels.push_back(channel.finish());
        result.channels.back().clipped = clipped[size_t(result.channels.back().channel - 1)];
    }
    // The rows have moved to the result without moving in memory (the last block's too).
    if (progress) {
        giveUp.kept = true;
        progress->done.store(result.channels.front().profilesDb.size() / ProfileRowBins, std::memory_order_release);
    }
    result.headerAttenuation = header.attenuation;
    for (size_t c = 0; c < 3; ++c)
        result.headerGains[c] = header.gains[c];
    // A pipe has no size beforehand: what was read of it is its size.
    result.bytes = std::max(input.reader().totalBytes(), input.reader().bytesRead());
    addBytes(bytesDone, input.reader().totalBytes() - reported);
}

// A viewer-layout file holds one series; it is reported as channel 1. Each sweep is
// its nsamples values zero-padded to 4096 points, as the viewer transforms them, and
// floored at 1e-6 as the acquisition program's profiles are.
bool analyzeViewer(RecordingInput& input, const AnalysisSettings& settings, RecordingAnalysis& result)
{
    const std::string& path = input.path();
    rt::TextReader file;
    try {
        input.openText(file);
    } catch (const rt::InOutError& e) {
        failIo(path, e.code());
    }
    const std::optional<ViewerHeader> header = readViewerHeader(file);
    if (!header)
        return false;
    if (settings.channel > 1)
        throw Failure(path + ": a viewer-layout recording holds one series, channel 1: it has no channel " +
                      std::to_string(settings.channel));
    result.viewerLayout = true;
    result.clockDivider = 0;
    result.samplesUsed = header->nsamples;
    const int used = header->nsamples;
    const std::vector<double> weights = windowWeights(settings.window, used);
    ChannelAccumulator channel(1, settings, used);
    auto area = std::make_unique<FourierArea>();
    std::vector<double> tseries(size_t(used) + 1);
    bool whole = true;
    for (int32_t s = 1; s <= header->nsweeps && whole; ++s) {
        for (int i = 1; i <= used; ++i) {
            // The end of the text is noticed by the read that meets it, so it is looked
            // for before each sample: a sample read once the text has ended is not in
            // the file (it read as 0 and completed a sweep one sample short).
            const bool ahead = file.itemAhead();
            if (ahead) {
                tseries[size_t(i)] = file.readReal();
                file.readLn();
            }
            try {
                file.check();
            } catch (const rt::InOutError& e) {
                throw Failure(path + ": sweep " + std::to_string(s) + ", sample " + std::to_string(i) + ": " +
                              e.what());
            }
            if (!ahead) {
                whole = false;
                break;
            }
        }
        if (!whole)
            break;
        double* data = area->fftdata.data();
        for (int i = 1; i <= used; ++i) {
            data[2 * i - 1] = tseries[size_t(i)] * weights[size_t(i)];
            data[2 * i] = 0.0;
        }
        clearTail(*area, used);
        channel.addSweep(*area);
        ++result.sweeps;
    }
    if (result.sweeps < header->nsweeps)
        noteCutShort(path, result.sweeps, header->nsweeps);
    if (result.sweeps == 0)
        throw Failure(path + ": holds no whole sweep to analyze");
    result.channels.push_back(channel.finish());
    return true;
}

}  // namespace

double windowWeight(SampleWindow window, int n, int count)
{
    const double x = 2.0 * std::numbers::pi * double(n) / double(count);
    switch (window) {
    case SampleWindow::Hann:
        return 0.5 - 0.5 * std::cos(x);
    case SampleWindow::Blackman:
        return 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x);
    case SampleWindow::None:
        break;
    }
    return 1.0;
}

std::string analysisSettingsProblem(const AnalysisSettings& settings)
{
    if (const char* problem = delayMetricsParamsProblem(settings.metrics))
        return problem;
    if (settings.channel < 0 || settings.channel > 3)
        return "--channel must be 1, 2 or 3";
    if (settings.blockSweeps < 1)
        return "--block must be a whole number of sweeps of 1 or more";
    // The margin a probability gives is checked here, once, rather than found missing
    // in the middle of the first recording.
    if (!settings.metrics.marginDb &&
        !std::isfinite(cachedFalseAlarmMarginDb(1, settings.metrics.falseAlarm,
                                                settings.metrics.lastDelayBin - settings.metrics.firstDelayBin + 1,
                                                settings.metrics.noiseLastBin - settings.metrics.noiseFirstBin + 1)))
        return "--false-alarm is too small to give a margin over the noise floor";
    // A bandwidth so small (under some 1e-290 Hz) that the longest delay, 5000 samples
    // of the sweep, is no number of metres would write inf for it.
    if (settings.bandwidthHz && !(std::isfinite(*settings.bandwidthHz) && *settings.bandwidthHz > 0.0))
        return "--bandwidth must be a positive number of Hz";
    if (settings.bandwidthHz && !std::isfinite(5000.0 / *settings.bandwidthHz * 1e9 * SpeedOfLightMetresPerSecond))
        return "--bandwidth is too small to give the delays in ns and metres";
    return {};
}

std::optional<double> secondsPerBin(const RecordingAnalysis& r, const AnalysisSettings& settings)
{
    if (!settings.bandwidthHz)
        return std::nullopt;
    if (r.viewerLayout) {
        // A bin's delay follows from the sweep's length, not from the samples kept of it:
        // a series of more than 2500 samples is a 5000-sample sweep of divider 2 cut to
        // the 4000 the layout holds.
        if (r.samplesUsed > 2500 && r.samplesUsed <= 5000)
            return delaySecondsPerBin(2, *settings.bandwidthHz);
        return double(r.samplesUsed) / (double(ProfileBins) * *settings.bandwidthHz);
    }
    return delaySecondsPerBin(r.clockDivider, *settings.bandwidthHz);
}

RecordingAnalysis analyzeRecording(const std::string& path, const AnalysisSettings& settings,
                                   std::atomic<uint64_t>* bytesDone, ProfileRowsProgress* rows,
                                   std::function<void(const char*, size_t)> byteSink)
{
    RecordingAnalysis result;
    result.path = path;
    RecordingInput input(path);
    if (byteSink)
        input.reader().setByteSink(std::move(byteSink));
    try {
        input.open();
    } catch (const Failure&) {
        // The viewer layout's rows have no room kept ahead (its sweeps are not stated),
        // so no thread is made for them.
        if (rows)
            rows->setUp.store(true, std::memory_order_release);
        // Not the acquisition layout: perhaps the viewer's; else the first line that
        // does not fit the acquisition layout is the fault to report.
        if (analyzeViewer(input, settings, result)) {
            result.place = placeOfRecording(path);
            struct stat info {};
            if (::stat(path.c_str(), &info) == 0)
                addBytes(bytesDone, uint64_t(info.st_size));
            return result;
        }
        throw;
    }
    analyzeAcquisition(input, settings, result, bytesDone, rows);
    // Held against what was read: a pipe's size is known only now.
    result.place = placeOfRecording(path, result.bytes);
    return result;
}

}  // namespace cli
