#include "comedi_scan.h"

#include "cbw.h"
#include "report.h"
#include "sample_codes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace boardcomedi {

namespace {

// A driver settles a command in two or three tests; more means it never will.
constexpr int kMaxCommandTests = 8;
constexpr size_t kReadChunkBytes = size_t{64} << 10;
// A range this close to -5..5 V keeps the program's volts right to within 5 %.
constexpr double kRangeTolerance = 0.25;

const char* sourceName(unsigned source)
{
    switch (source) {
    case TRIG_NOW: return "TRIG_NOW";
    case TRIG_FOLLOW: return "TRIG_FOLLOW";
    case TRIG_TIMER: return "TRIG_TIMER";
    case TRIG_COUNT: return "TRIG_COUNT";
    case TRIG_EXT: return "TRIG_EXT";
    case TRIG_INT: return "TRIG_INT";
    default: return "an unnamed source";
    }
}

const char* comediError() { return comedi_strerror(comedi_errno()); }

struct ChannelList {
    std::vector<unsigned> specs;
    std::vector<uint32_t> maxdata;
};

int prepareChannels(comedi_t* device, const ScanRequest& request, ChannelList& channels)
{
    for (int channel = request.low; channel <= request.high; ++channel) {
        const auto ch = static_cast<unsigned>(channel);
        const int range = comedi_find_range(device, request.subdevice, ch, UNIT_volt, -5.0, 5.0);
        const comedi_range* span = range >= 0 ? comedi_get_range(device, request.subdevice, ch, range) : nullptr;
        if (!span) {
            report("scan refused: analog input %d has no range that covers -5..5 V", channel);
            return CBW_BADRANGE;
        }
        // A wider range would give codes that the program reads as the wrong volts.
        if (std::fabs(span->min + 5.0) > kRangeTolerance || std::fabs(span->max - 5.0) > kRangeTolerance) {
            report("scan refused: analog input %d has no -5..5 V range (the nearest is %g..%g V)", channel,
                   span->min, span->max);
            return CBW_BADRANGE;
        }
        const lsampl_t maxdata = comedi_get_maxdata(device, request.subdevice, ch);
        if (maxdata == 0) {
            report("scan refused: analog input %d reports no code range", channel);
            return CBW_DEVICEERROR;
        }
        channels.specs.push_back(CR_PACK(ch, static_cast<unsigned>(range), AREF_GROUND));
        channels.maxdata.push_back(maxdata);
    }
    return CBW_NOERRORS;
}

comedi_cmd makeCommand(const ScanRequest& request, ChannelList& channels, unsigned scans, unsigned convertSource)
{
    comedi_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.subdev = request.subdevice;
    cmd.start_src = TRIG_NOW;
    if (request.externalClock) {
        cmd.scan_begin_src = TRIG_EXT;  // argument 0: the board's first external trigger input
    } else {
        cmd.scan_begin_src = TRIG_TIMER;
        const double period = std::round(1e9 / request.scansPerSecond);
        cmd.scan_begin_arg = static_cast<unsigned>(std::clamp(period, 1.0, 4e9));
    }
    cmd.convert_src = convertSource;  // a timer argument of 0 becomes the driver's fastest
    cmd.scan_end_src = TRIG_COUNT;
    cmd.scan_end_arg = static_cast<unsigned>(channels.specs.size());
    cmd.stop_src = TRIG_COUNT;
    cmd.stop_arg = scans;
    cmd.chanlist = channels.specs.data();
    cmd.chanlist_len = static_cast<unsigned>(channels.specs.size());
    return cmd;
}

void reportRefusedSources(const comedi_cmd& asked, const comedi_cmd& answer)
{
    struct Field {
        const char* name;
        unsigned asked;
        unsigned answer;
    };
    const Field fields[] = {{"start_src", asked.start_src, answer.start_src},
                            {"scan_begin_src", asked.scan_begin_src, answer.scan_begin_src},
                            {"convert_src", asked.convert_src, answer.convert_src},
                            {"scan_end_src", asked.scan_end_src, answer.scan_end_src},
                            {"stop_src", asked.stop_src, answer.stop_src}};
    for (const Field& f : fields) {
        if (f.asked == f.answer)
            continue;
        const bool clock = f.asked == TRIG_EXT && std::strcmp(f.name, "scan_begin_src") == 0;
        report("scan refused: the driver does not support %s %s%s", f.name, sourceName(f.asked),
               clock ? " (the external scan clock)" : "");
        return;
    }
    report("scan refused: the driver does not support the trigger sources");
}

int negotiate(comedi_t* device, const ScanRequest& request, ChannelList& channels, unsigned scans, comedi_cmd& accepted)
{
    unsigned convertSource = TRIG_NOW;
    comedi_cmd cmd = makeCommand(request, channels, scans, convertSource);
    for (int test = 0; test < kMaxCommandTests; ++test) {
        comedi_cmd answer = cmd;
        const int stage = comedi_command_test(device, &answer);
        if (stage == 0) {
            accepted = answer;
            return CBW_NOERRORS;
        }
        if (stage < 0) {
            report("scan refused: the driver cannot test the scan: %s", comediError());
            return CBW_SCANREFUSED;
        }
        if ((stage == 1 || stage == 2) && convertSource == TRIG_NOW && (stage == 2 || answer.convert_src != TRIG_NOW)) {
            // Some drivers cannot convert a scan's channels back to back at once: they
            // take their fastest conversion timer instead.
            convertSource = TRIG_TIMER;
            cmd = makeCommand(request, channels, scans, convertSource);
            continue;
        }
        if (stage == 1) {
            reportRefusedSources(cmd, answer);
            return CBW_SCANREFUSED;
        }
        if (stage == 2) {
            report("scan refused: the driver does not take scan_begin_src %s with convert_src %s",
                   sourceName(cmd.scan_begin_src), sourceName(cmd.convert_src));
            return CBW_SCANREFUSED;
        }
        if (stage == 3 || stage == 4) {
            // Timer periods and trigger inputs may be adjusted; the scan's length may not.
            if (answer.scan_end_arg != cmd.scan_end_arg || answer.stop_arg != cmd.stop_arg ||
                answer.start_arg != cmd.start_arg) {
                report("scan refused: the driver cannot take %u scans of %u inputs", cmd.stop_arg, cmd.scan_end_arg);
                return CBW_SCANREFUSED;
            }
            cmd = answer;
            continue;
        }
        if (stage == 5)
            report("scan refused: the driver does not take the channel list %d..%d", request.low, request.high);
        else
            report("scan refused: the driver's command test answered %d", stage);
        return CBW_SCANREFUSED;
    }
    report("scan refused: the driver kept adjusting the scan's settings");
    return CBW_SCANREFUSED;
}

int readSamples(comedi_t* device, const ScanRequest& request, const ChannelList& channels, size_t sampleBytes,
                int64_t limitMs, uint16_t* out)
{
    const int fd = comedi_fileno(device);
    if (fd < 0) {
        report("scan failed: the device gives no data stream");
        return CBW_SCANFAILED;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto deadline = start + std::chrono::milliseconds(limitMs);
    auto lastArrival = start;
    // While samples keep arriving the scan is not given up: a clock slower than expected
    // (or of no rate given) has the allowance again from each arrival.
    const auto allowance = std::chrono::milliseconds(std::max<int64_t>(request.allowanceMs, 0));
    const auto count = static_cast<size_t>(request.count);
    std::vector<unsigned char> staging(kReadChunkBytes);
    size_t held = 0;  // bytes of a sample split across two reads
    size_t done = 0;
    while (done < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
            if (done > 0)
                report("scan failed: %zu of %zu samples arrived in %.1f s, then none for %.1f s%s", done, count,
                       seconds(lastArrival - start), seconds(Clock::now() - lastArrival),
                       request.externalClock ? ": did the sweep clock stop?" : "");
            else if (request.externalClock)
                report("scan failed: %zu of %zu samples arrived within %.1f s: is the sweep clock connected to the "
                       "external scan-clock input?", done, count, static_cast<double>(limitMs) / 1000.0);
            else
                report("scan failed: %zu of %zu samples arrived within %.1f s", done, count,
                       static_cast<double>(limitMs) / 1000.0);
            return CBW_SCANTIMEOUT;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::min<int64_t>(left + 1, INT_MAX)));
        if (polled < 0 && errno != EINTR) {
            report("scan failed: waiting for samples: %s", std::strerror(errno));
            return CBW_SCANFAILED;
        }
        if (polled <= 0)
            continue;
        const size_t wanted = (count - done) * sampleBytes - held;
        const ssize_t got = read(fd, staging.data() + held, std::min(wanted, staging.size() - held));
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            report("scan failed after %zu of %zu samples: %s", done, count, std::strerror(errno));
            return CBW_SCANFAILED;
        }
        if (got == 0) {
            report("scan failed: the board ended the scan after %zu of %zu samples", done, count);
            return CBW_SCANFAILED;
        }
        lastArrival = Clock::now();
        deadline = std::max(deadline, lastArrival + allowance);
        held += static_cast<size_t>(got);
        const size_t whole = held / sampleBytes;
        convertSamples(staging.data(), whole, sampleBytes, channels.maxdata.data(), channels.maxdata.size(), done,
                       out + done);
        done += whole;
        held -= whole * sampleBytes;
        std::memmove(staging.data(), staging.data() + whole * sampleBytes, held);
    }
    return CBW_NOERRORS;
}

}  // namespace

int runScan(comedi_t* device, const ScanRequest& request, uint16_t* out, int32_t* timerRate)
{
    ChannelList channels;
    if (int code = prepareChannels(device, request, channels); code != CBW_NOERRORS)
        return code;
    const int flags = comedi_get_subdevice_flags(device, request.subdevice);
    if (flags < 0) {
        report("scan failed: the analog input subdevice does not answer: %s", comediError());
        return CBW_DEVICEERROR;
    }
    const size_t sampleBytes = (flags & SDF_LSAMPL) ? sizeof(lsampl_t) : sizeof(sampl_t);
    const size_t inputs = channels.specs.size();
    const auto scans = static_cast<unsigned>((static_cast<size_t>(request.count) + inputs - 1) / inputs);

    comedi_cmd cmd;
    if (int code = negotiate(device, request, channels, scans, cmd); code != CBW_NOERRORS)
        return code;
    // At millions of samples per second the driver's default buffer (often 64 KB) fills
    // within milliseconds of a pause in reading: take the largest it allows a user.
    const int largest = comedi_get_max_buffer_size(device, request.subdevice);
    if (largest > comedi_get_buffer_size(device, request.subdevice))
        comedi_set_buffer_size(device, request.subdevice, static_cast<unsigned>(largest));
    if (comedi_command(device, &cmd) < 0) {
        report("scan refused: the driver did not start the scan: %s", comediError());
        return CBW_SCANREFUSED;
    }
    // A timed scan lasts as long as the period the driver accepted makes it, which is
    // longer than asked where the board cannot go as fast; the external clock is expected
    // at the rate given.
    const int64_t limitMs = cmd.scan_begin_src == TRIG_TIMER && cmd.scan_begin_arg > 0
                                ? timedScanLimitMs(scans, cmd.scan_begin_arg, request.allowanceMs)
                                : scanTimeLimitMs(scans, request.scansPerSecond, request.allowanceMs);
    const int result = readSamples(device, request, channels, sampleBytes, limitMs, out);
    // Also after a complete scan: the board stops, and the next scan finds it idle.
    comedi_cancel(device, request.subdevice);
    if (result == CBW_NOERRORS && timerRate && cmd.scan_begin_src == TRIG_TIMER && cmd.scan_begin_arg > 0)
        *timerRate = static_cast<int32_t>(std::lround(1e9 / cmd.scan_begin_arg));
    return result;
}

}  // namespace boardcomedi
