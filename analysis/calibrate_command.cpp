#include "calibrate_command.h"

#include "analysis_report.h"
#include "cli_support.h"
#include "digest.h"
#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"
#include "sounder_version.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

std::string dbText(double db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", db);
    return text;
}

struct Sum {
    double referenceDb = 0, peakReferenceDb = 0, delayBins = 0, snrDb = 0;
    int count = 0;
};

}  // namespace

cal::Calibration calibrationOf(const CalibrateOptions& options)
{
    AnalysisSettings settings = options.settings;
    settings.pathLobes = true;
    settings.countClipped = true;
    settings.calibration.reset();

    cal::Calibration c;
    c.tool = std::string("sounder calibrate ") + SOUNDER_VERSION;
    c.throughDb = options.throughDb;
    c.cableDelayNs = options.cableDelayNs;
    c.window = windowName(settings.window);
    c.thresholdDb = settings.metrics.thresholdDb;
    // The margin over the floor applied to each averaged profile: --margin-db, or the
    // one the false-alarm probability gives for the recording's sweeps (set below).
    c.marginDb = settings.metrics.marginDb.value_or(0.0);
    std::array<Sum, 3> sums{};
    std::string firstFile;
    for (const std::string& path : options.files) {
        // The digest is taken as the recording is read: a pipe gives its bytes once.
        digest::ConcurrentHasher hasher(digest::Algorithm::Sha256);
        const RecordingAnalysis r = analyzeRecording(
            path, settings, nullptr, nullptr, [&hasher](const char* bytes, size_t length) { hasher.add(bytes, length); });
        const std::string sha256 = hasher.hex();
        // A copy of a recording given beside it would weigh twice, as the same file named
        // twice would (refused before anything is read); no two recordings of the same
        // run, receiver noise and all, are the same bytes.
        for (const cal::Input& earlier : c.inputs)
            if (earlier.sha256 == sha256)
                throw Failure(path + ": holds the same bytes as " + earlier.file + " (SHA-256 " + sha256.substr(0, 12) +
                              "...), a copy of it: each recording counts once");
        if (r.viewerLayout)
            throw Failure(path + ": not in the acquisition layout: a calibration needs the gain and attenuation it "
                                 "was recorded with");
        if (firstFile.empty()) {
            firstFile = path;
            c.clockDivider = r.clockDivider;
        } else if (r.clockDivider != c.clockDivider) {
            throw Failure(path + ": recorded at clock divider " + std::to_string(r.clockDivider) + ", " + firstFile +
                          " at " + std::to_string(c.clockDivider) + ": one calibration holds one divider");
        }
        const cal::FrontEndLevels levels = cal::frontEndLevels(path, r.headerAttenuation, r.headerGains, r.bytes, &sha256);
        c.inputs.push_back({path, sha256, levels.fromSidecar ? "sidecar" : "header"});
        for (const ChannelAnalysis& ch : r.channels) {
            const std::string where = path + ": ch " + std::to_string(ch.channel) + ": ";
            const DelayMetrics& m = ch.average;
            if (!settings.metrics.marginDb)
                c.marginDb = std::max(c.marginDb, m.marginDb);
            if (ch.clipped > 0)
                throw Failure(where + std::to_string(ch.clipped) +
                              " clipped samples: record the back-to-back run with less gain or more attenuation");
            if (!m.snrDb || *m.snrDb < CalibrationLeastSnrDb || !m.countedPowerDb || !ch.averagePeakLobe)
                throw Failure(where + "SNR " + (m.snrDb ? dbText(*m.snrDb) : std::string("unknown")) +
                              " dB, under the " + dbText(CalibrationLeastSnrDb) + " dB a calibration needs");
            if (m.pathBins.size() > 1) {
                const int32_t second = m.pathBins[m.pathBins[0] == *m.peakBin ? 1 : 0];
                throw Failure(where + "a second path at bin " + std::to_string(second) + " within " +
                              dbText(settings.metrics.thresholdDb) + " dB of the strongest at bin " +
                              std::to_string(*m.peakBin) + ": not a back-to-back recording");
            }
            const std::optional<double> gain = levels.gainDb[size_t(ch.channel - 1)];
            if (!gain)
                throw Failure(where + "the sidecar does not say what gain the front-end was sent");
            Sum& s = sums[size_t(ch.channel - 1)];
            s.referenceDb += cal::levelsOut(*m.countedPowerDb, *gain, levels.attenuationDb);
            s.peakReferenceDb += cal::levelsOut(ch.averagePeakLobe->powerDb, *gain, levels.attenuationDb);
            s.delayBins += ch.averagePeakLobe->centreBin;
            s.snrDb += *m.snrDb;
            ++s.count;
        }
    }
    for (int ch = 1; ch <= 3; ++ch) {
        const Sum& s = sums[size_t(ch - 1)];
        if (s.count > 0)
            c.channels.push_back({ch, s.referenceDb / s.count, s.peakReferenceDb / s.count, s.delayBins / s.count,
                                  s.snrDb / s.count});
    }
    c.madeUtc = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    return c;
}

int runCalibrate(const CalibrateOptions& options)
{
    const std::string text = cal::toJson(calibrationOf(options));
    try {
        OutputFile file(options.outputPath);
        file.write(text);
        file.commit();
    } catch (const rt::InOutError& e) {
        failIo(options.outputPath, e.code());
    }
    return ExitOk;
}

}  // namespace cli
