#include "info_command.h"

#include "adc_codes.h"
#include "digest.h"
#include "recording_input.h"
#include "sidecar_report.h"
#include "calibration.h"
#include "sigmf_info.h"
#include "runtime_error.h"
#include "text_io.h"
#include "recording_metadata.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <optional>
#include <vector>

namespace cli {

namespace {

// The viewer layout, read by the viewer's own rules: the header, then the samples
// counted into whole sweeps, as `analyze` reads them. False when the file is not in
// that layout; a sample that does not read is the file's failure.
bool infoViewer(RecordingInput& input)
{
    rt::TextReader file;
    std::optional<ViewerHeader> header;
    try {
        input.openText(file);
        header = readViewerHeader(file);
    } catch (const rt::InOutError&) {
        return false;
    }
    if (!header)
        return false;
    const std::string& path = input.path();
    int64_t whole = 0, partial = 0;
    for (bool ahead = true; whole < header->nsweeps && ahead;) {
        ahead = file.itemAhead();
        if (ahead) {
            file.readReal();
            file.readLn();
        }
        try {
            file.check();
        } catch (const rt::InOutError& e) {
            throw Failure(path + ": sweep " + std::to_string(whole + 1) + ", sample " + std::to_string(partial + 1) +
                          ": " + e.what());
        }
        if (ahead && ++partial == header->nsamples) {
            ++whole;
            partial = 0;
        }
    }
    const int64_t missing = header->nsweeps - whole;
    std::printf("%s: viewer layout\n  header: %d sweeps of %d samples, gain %d\n", printable(path).c_str(),
                header->nsweeps, header->nsamples, header->gain);
    std::printf("  sweeps: %lld of %d present, %s", (long long)whole, header->nsweeps,
                missing == 0 ? "complete" : "cut short");
    if (missing > 0)
        std::printf(" (%lld missing)", (long long)missing);
    if (partial > 0)
        std::printf(", %lld samples of an incomplete sweep", (long long)partial);
    std::printf("\n");
    return true;
}

// Returns the sample lines read.
int64_t infoAcquisition(RecordingInput& input)
{
    const acq::RecordingHeader& h = input.header();
    std::vector<uint16_t> codes(3 * 65536);
    CodeRange stats[3];
    Progress progress(input.path(), input.reader().totalBytes());
    int64_t lines = 0;
    for (size_t got; (got = input.readLines(codes.data(), 65536)) > 0;) {
        addCodeRanges(codes.data(), got, 3, stats);
        lines += int64_t(got);
        progress.update(input.reader().bytesRead());
    }
    progress.done();
    const acq::SweepCount count = acq::countSweeps(h, lines);
    std::printf("%s: acquisition layout\n", printable(input.path()).c_str());
    std::printf("  header: %d sweeps of %d samples (clock divider %d), attenuation %d dB, gains %d, %d, %d dB\n",
                h.numSweeps, h.sweepSamples, h.clockDivider(), h.attenuation, h.gains[0], h.gains[1], h.gains[2]);
    std::printf("  sweeps: %lld of %d present, %s", (long long)count.whole, h.numSweeps,
                count.missing == 0 ? "complete" : "cut short");
    if (count.missing > 0)
        std::printf(" (%lld missing)", (long long)count.missing);
    if (count.partialLines > 0)
        std::printf(", %lld lines of an incomplete sweep", (long long)count.partialLines);
    if (const uint64_t cut = input.reader().cutLineBytes(); cut > 0)
        std::printf(", the last line cut after %llu %s", (unsigned long long)cut, cut == 1 ? "byte" : "bytes");
    std::printf("\n");
    // The text ends at a byte 0x1A, as every reader of recordings has it; what follows is not read.
    if (const uint64_t after = input.reader().bytesAfterEndOfText(); after > 0)
        std::printf("  end-of-text mark (0x1A) at byte %llu: the %llu %s after it %s not read\n",
                    (unsigned long long)*input.reader().endOfTextOffset(), (unsigned long long)after,
                    after == 1 ? "byte" : "bytes", after == 1 ? "was" : "were");
    for (int c = 0; c < 3; ++c) {
        if (lines == 0)
            std::printf("  ch %d: no samples\n", c + 1);
        else
            std::printf("  ch %d: codes %u..%u, %lld clipped (code 0 or 4095)\n", c + 1, stats[c].lowest,
                        stats[c].highest, (long long)stats[c].clipped);
    }
    return lines;
}

// A file whose first byte past blanks is '{' is no recording: perhaps a calibration.
// Only a regular file is looked into, and nothing else is even opened: what is read of
// a pipe is gone for the reading of the recording after it, and a pipe opened and
// closed again leaves its writer writing to no reader, which ends it (SIGPIPE), so that
// the recording's own opening then waited for another writer for good.
bool looksLikeJson(const std::string& path)
{
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    struct stat info {};
    if (!file || ::fstat(::fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    int c = std::fgetc(file.get());
    // A UTF-8 byte-order mark before it, as calibrations are read.
    if (c == 0xEF && std::fgetc(file.get()) == 0xBB && std::fgetc(file.get()) == 0xBF)
        c = std::fgetc(file.get());
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n')
        c = std::fgetc(file.get());
    return c == '{';
}

// Whether the file is a JSON object naming the schema of the recordings' sidecars.
bool isSidecarFile(const std::string& path)
{
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonDocument d = QJsonDocument::fromJson(file.read(64 << 20));
    return d.isObject() && d.object().value("schema").toString() == QLatin1String(meta::Schema);
}

bool reportCalibration(const std::string& path)
{
    std::string error;
    const std::optional<cal::Calibration> c = cal::readCalibration(path, &error);
    if (!c) {
        // A recording's sidecar is told by its schema, and the recording it goes with
        // named, where "not a calibration" left it a puzzle.
        if (isSidecarFile(path)) {
            const std::string suffix = meta::SidecarSuffix;
            const bool named = path.size() > suffix.size() &&
                               path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
            error = std::string("the metadata sidecar of a recording, not a recording or a calibration: ") +
                    (named ? "sounder info " + path.substr(0, path.size() - suffix.size()) + " shows it"
                           : "sounder info RECORDING shows it beside RECORDING" + suffix);
        }
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", printable(path).c_str(), printable(error).c_str());
        return false;
    }
    std::printf("%s: calibration (%s), made %s by %s\n", printable(path).c_str(), cal::Schema,
                printable(c->madeUtc).c_str(), printable(c->tool).c_str());
    std::printf("  clock divider %d, through %g dB, cable delay %g ns, window %s, threshold %g dB, margin %g dB\n",
                c->clockDivider, c->throughDb, c->cableDelayNs, printable(c->window).c_str(), c->thresholdDb, c->marginDb);
    for (const cal::Input& in : c->inputs)
        std::printf("  from %s (sha256 %s, levels from its %s)\n", printable(in.file).c_str(),
                    printable(in.sha256).c_str(), printable(in.levelsFrom).c_str());
    // delay_bins is where the lobe's centre lies (bin k holds delay k - 1): the system's
    // delay is one bin less.
    for (const cal::ChannelReference& ch : c->channels)
        std::printf("  ch %d: reference %.3f dB, strongest path %.3f dB, system delay %.3f bins (centre at bin %.3f), "
                    "SNR %.1f dB\n",
                    ch.channel, ch.referenceDb, ch.peakReferenceDb, ch.delayBins - 1.0, ch.delayBins, ch.snrDb);
    return true;
}

}  // namespace

int runInfo(const std::vector<std::string>& files)
{
    int status = ExitOk;
    for (const std::string& path : files) {
        if (isSigmfPath(path)) {
            try {
                if (!infoSigmf(path))
                    status = ExitBadInput;
            } catch (const Failure& failure) {
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", printable(failure.what()).c_str());
                status = ExitBadInput;
            }
            continue;
        }
        if (looksLikeJson(path)) {
            if (!reportCalibration(path))
                status = ExitBadInput;
            continue;
        }
        RecordingInput input(path);
        // A recording with a sidecar is hashed as it is read, to check it against it.
        const bool sidecar = hasSidecar(path);
        std::optional<digest::ConcurrentHasher> sha256;
        if (sidecar) {
            sha256.emplace(digest::Algorithm::Sha256);
            input.reader().setByteSink([&sha256](const char* bytes, size_t length) { sha256->add(bytes, length); });
        }
        try {
            input.open();
        } catch (const Failure& failure) {
            // Not the acquisition layout: perhaps the viewer's.
            try {
                if (infoViewer(input))
                    continue;
            } catch (const Failure& bad) {
                std::fflush(stdout);
                std::fprintf(stderr, "%s\n", printable(bad.what()).c_str());
                status = ExitBadInput;
                continue;
            }
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", printable(failure.what()).c_str());
            status = ExitBadInput;
            continue;
        }
        try {
            const int64_t lines = infoAcquisition(input);
            // A pipe has no size beforehand: what was read of it is its size.
            const uint64_t bytes = std::max(input.reader().totalBytes(), input.reader().bytesRead());
            if (sidecar && !reportSidecar(path, sha256->hex(), bytes, lines + 4))
                status = ExitBadInput;
        } catch (const Failure& failure) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", printable(failure.what()).c_str());
            status = ExitBadInput;
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace cli
