// sounder: checks, converts and analyses the recordings of the channel sounder.
//   sounder info FILE...
//   sounder convert FILE --to viewer [--channel 1|2|3] [-o OUT]
//   sounder convert FILE --to sigmf [--datatype T] [--layout L | --channel N] [--archive] [-o BASE]
//   sounder analyze FILE... [--csv OUT] [--json OUT] [--plot OUT.png] [--paths OUT] [--cal CAL.json] [options]
//   sounder calibrate B2B... --through-db A [--cable-delay-ns D] -o CAL.json
//   sounder campaign FILE... --origin LAT,LON[,ALT] [--cal CAL.json [--channel N]] --csv OUT [--plot OUT.png]
// Exit status: 0 success, 1 usage error, 2 bad input or I/O error (one line on stderr).

#include "analyze_command.h"
#include "calibrate_command.h"
#include "campaign_command.h"
#include "cli_support.h"
#include "convert_sigmf.h"
#include "convert_viewer.h"
#include "info_command.h"
#include "output_file.h"
#include "plot_module.h"
#include "recording_metadata.h"
#include "runtime_error.h"
#include "sounder_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSize>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// The program as it was started (the first argument), for the usage line of the help.
QString startedAs;

// Qt's application object sets the C library's locale to the user's: numbers written
// with printf would then take a decimal comma in some languages, unlike the outputs and
// the options (CSV, JSON, "1e-3"). Numbers keep their point in every locale.
void numbersWithAPoint() { std::setlocale(LC_NUMERIC, "C"); }

// A run that draws loads the plot module once the recordings' analysis is under way,
// on the main thread while the workers read: Qt Widgets and QCustomPlot take some
// 30 ms to load and relocate, which the reading then hides. (Not before the workers
// have started: the C library makes no new thread while a library is being loaded.)
// The QApplication the module makes is made with it; what runs before needs no
// application object.
class PlotModuleLoad {
public:
    PlotModuleLoad(int& argc, char** argv) : argc_(argc), argv_(argv) {}
    PlotModuleLoad(const PlotModuleLoad&) = delete;
    PlotModuleLoad& operator=(const PlotModuleLoad&) = delete;

    // The module, its application made; on the main thread only. Throws the run's
    // failure when the module does not load.
    const cli::PlotModule& ready()
    {
        if (!tried_) {
            tried_ = true;
            module_ = cli::loadPlotModule(problem_);
        }
        if (!module_)
            throw cli::Failure("sounder: --plot: the plot module does not load: " + problem_);
        if (!application_) {
            application_ = module_->makeApplication(argc_, argv_);
            numbersWithAPoint();
            QCoreApplication::setApplicationName("sounder");
            QCoreApplication::setApplicationVersion(SOUNDER_VERSION);
        }
        return *module_;
    }

private:
    int& argc_;
    char** argv_;
    bool tried_ = false;
    const cli::PlotModule* module_ = nullptr;
    std::string problem_;
    std::unique_ptr<QCoreApplication> application_;
};

// A file name is bytes, not always UTF-8 (a recording named in Latin-1 on an older
// system): the arguments are read as UTF-8 with each byte that is no part of it kept as
// U+DC80..U+DCFF, a lone surrogate no UTF-8 text gives, and a path is made back from
// them byte for byte. Decoded as the locale's text, such a byte became U+FFFD and the
// file was "not found" (or an output written under another name).
QString argumentText(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    QString text;
    for (size_t i = 0; b[i];) {
        const unsigned char lead = b[i];
        const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                : lead >= 0xF0 && lead <= 0xF4                       ? 4
                                                                                                     : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool whole = length > 0;
        for (size_t k = 1; whole && k < length; ++k) {
            whole = (b[i + k] & 0xC0) == 0x80;  // a NUL ends the run here too
            code = (code << 6) | (b[i + k] & 0x3F);
        }
        // No overlong form, no surrogate, nothing past U+10FFFF.
        static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        whole = whole && code >= Least[length] && !(code >= 0xD800 && code <= 0xDFFF) && code <= 0x10FFFF;
        if (!whole) {
            text += QChar(char16_t(0xDC00 + lead));
            ++i;
            continue;
        }
        text += QString::fromUcs4(&code, 1);
        i += length;
    }
    return text;
}

std::string localPath(const QString& text)
{
    std::string bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes += text.mid(i, 2).toUtf8().toStdString();
            ++i;
        } else if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF) {
            bytes += char(c.unicode() - 0xDC00);
        } else {
            bytes += QString(c).toUtf8().toStdString();
        }
    }
    return bytes;
}

// The files a command reads: each recording and the sidecar beside it, and the
// calibration it applies, where it applies one.
std::vector<std::string> inputsOf(const std::vector<std::string>& recordings,
                                  const cli::AnalysisSettings* settings = nullptr)
{
    std::vector<std::string> inputs;
    for (const std::string& r : recordings) {
        inputs.push_back(r);
        inputs.push_back(meta::sidecarPath(r));
    }
    if (settings && settings->calibration)
        inputs.push_back(settings->calibrationPath);
    return inputs;
}

int usage(const QString& message)
{
    std::fprintf(stderr, "sounder: %s (see sounder --help)\n", cli::printable(message.toStdString()).c_str());
    return cli::ExitUsage;
}

// The usage line names the program as the user types it ("sounder info"), not by the
// path it was started from.
int printHelp(const QCommandLineParser& parser, const QString& program)
{
    QString text = parser.helpText();
    const QString& started = startedAs;
    const qsizetype at = text.indexOf(started);
    if (at >= 0 && at < text.indexOf('\n'))
        text.replace(at, started.size(), program);
    std::printf("%s", qPrintable(text));
    return cli::ExitOk;
}

int runInfoCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Tells what each file is: its layout, header, sweeps present and code ranges.");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    parser.addOption(help);
    parser.addPositionalArgument("FILE", "Recordings (either layout, or SigMF) or calibrations (CAL.json) to describe.",
                                 "FILE...");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().isEmpty())
        return usage("info needs at least one FILE");
    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments())
        files.push_back(localPath(file));
    // A pipe read once has nothing left for a second reading, which would wait for
    // another writer for good.
    if (const int refused = cli::outputsRefusal({}, files); refused != cli::ExitOk)
        return refused;
    return cli::runInfo(files);
}

int runConvertCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Converts an acquisition-layout recording to the viewer layout or to SigMF.");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption to("to", "Target layout: viewer or sigmf.", "LAYOUT");
    const QCommandLineOption channel("channel",
                                     "Channel: 1, 2 or 3 (viewer: default 1; sigmf: that channel alone, BASE-chN).",
                                     "N", "1");
    const QCommandLineOption out({"o", "output"},
                                 "Output file (viewer; default FILE.chN.txt) or base name (sigmf; default FILE "
                                 "without its extension).",
                                 "OUT");
    const QCommandLineOption datatype("datatype",
                                      "SigMF sample type: rf32_le (volts, default), ri16_le (code - 2048) or ru16_le "
                                      "(codes as recorded).",
                                      "T");
    const QCommandLineOption layout("layout",
                                    "SigMF layout: interleaved (one recording of 3 channels, default) or collection "
                                    "(one recording per channel and BASE.sigmf-collection).",
                                    "L");
    const QCommandLineOption archive("archive", "SigMF: everything in one archive, BASE.sigmf.");
    parser.addOptions({help, to, channel, out, datatype, layout, archive});
    parser.addPositionalArgument("FILE", "Recording in the acquisition layout.");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().size() != 1)
        return usage("convert needs exactly one FILE");
    const std::string input = localPath(parser.positionalArguments().front());
    const QString target = parser.value(to);
    if (target == "viewer") {
        if (parser.isSet(datatype) || parser.isSet(layout) || parser.isSet(archive))
            return usage("--datatype, --layout and --archive apply to --to sigmf only");
        bool ok = false;
        const int n = parser.value(channel).toInt(&ok);
        if (!ok || n < 1 || n > 3)
            return usage("--channel must be 1, 2 or 3");
        const std::string output =
            parser.isSet(out) ? localPath(parser.value(out)) : input + ".ch" + std::to_string(n) + ".txt";
        if (const int refused = cli::outputsRefusal({{"-o", output}}, inputsOf({input})); refused != cli::ExitOk)
            return refused;
        cli::convertToViewer(input, n, output);
        return cli::ExitOk;
    }
    if (target == "sigmf") {
        cli::SigmfOptions options;
        if (parser.isSet(datatype) && !cli::sigmfDatatypeFromName(parser.value(datatype).toStdString(), options.datatype))
            return usage("--datatype must be rf32_le, ri16_le or ru16_le");
        if (parser.isSet(layout)) {
            const QString l = parser.value(layout);
            if (l == "collection")
                options.layout = cli::SigmfLayout::Collection;
            else if (l != "interleaved")
                return usage("--layout must be interleaved or collection");
        }
        if (parser.isSet(channel)) {
            if (parser.isSet(layout))
                return usage("--channel writes one channel alone: it goes without --layout");
            bool ok = false;
            options.channel = parser.value(channel).toInt(&ok);
            if (!ok || options.channel < 1 || options.channel > 3)
                return usage("--channel must be 1, 2 or 3");
        }
        options.archive = parser.isSet(archive);
        cli::convertToSigmf(input, parser.isSet(out) ? localPath(parser.value(out)) : cli::defaultSigmfBase(input),
                            options);
        return cli::ExitOk;
    }
    return usage(target.isEmpty() ? QString("convert needs --to viewer or --to sigmf")
                                  : "unknown layout '" + target + "' (viewer or sigmf)");
}

// A number option: ok false when it is set and does not read as a number.
template <class T>
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, T& value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    if constexpr (std::is_same_v<T, int>)
        value = parser.value(option).toInt(&ok);
    else
        value = parser.value(option).toDouble(&ok);
    return ok;
}

// ---- The profiles themselves: --waterfall OUT.png and --profiles OUT.npy ----------------
struct ProfileOptions {
    QCommandLineOption waterfall{"waterfall", "Picture (PNG) per channel of the delay profile of every sweep, delay "
                                              "across and sweep down, dB in colour; with several files numbered as "
                                              "--plot.", "OUT.png"};
    QCommandLineOption blocks{"waterfall-blocks", "Rows of --waterfall and --profiles are blocks, not sweeps."};
    QCommandLineOption size{"waterfall-size", "Size of the --waterfall picture (default 1600x1000).", "WxH",
                            "1600x1000"};
    QCommandLineOption profiles{"profiles", "The profiles as a NumPy file: float32 dB, shape (channels, rows, 2048), "
                                            "rows sweeps (or blocks); described in --json.", "OUT.npy"};
    QList<QCommandLineOption> all() const { return {waterfall, blocks, size, profiles}; }
};

// The options into outputs and settings; the usage problem, or empty.
QString readProfileOptions(const QCommandLineParser& parser, const ProfileOptions& o, cli::AnalyzeOutputs& outputs,
                           cli::AnalysisSettings& settings, QSize& size)
{
    if (parser.isSet(o.waterfall))
        outputs.waterfallPath = localPath(parser.value(o.waterfall));
    if (parser.isSet(o.profiles))
        outputs.profilesPath = localPath(parser.value(o.profiles));
    const bool any = !outputs.waterfallPath.empty() || !outputs.profilesPath.empty();
    if (!any && (parser.isSet(o.blocks) || parser.isSet(o.size)))
        return "--waterfall-blocks and --waterfall-size go with --waterfall or --profiles";
    if (any)
        settings.keepProfiles = parser.isSet(o.blocks) ? cli::ProfileRows::Blocks : cli::ProfileRows::Sweeps;
    const QStringList wh = parser.value(o.size).split('x');
    bool okW = false, okH = false;
    if (wh.size() == 2)
        size = QSize(wh[0].toInt(&okW), wh[1].toInt(&okH));
    if (!okW || !okH || size.width() < 200 || size.height() < 200 || size.width() > 10000 || size.height() > 10000)
        return "--waterfall-size must be WxH, each 200 to 10000 pixels";
    return {};
}
// ---------------------------------------------------------------------------------------

int runAnalyzeCommand(const QStringList& args, PlotModuleLoad* plotModule)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The delay metrics of every sweep and every block of sweeps of recordings in either layout:\n"
        "noise floor, peak, SNR, first arrival, mean excess delay, RMS delay spread, maximum excess\n"
        "delay at 10 and 20 dB, delay window W90 and paths. Several files run on all cores.");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption csv("csv", "One row per channel and sweep and per channel and block.", "OUT");
    const QCommandLineOption json("json", "Parameters and per channel the median, 10th and 90th percentile of each "
                                          "metric over the blocks.", "OUT");
    const QCommandLineOption plot("plot", "Picture (1600 x 1000 PNG) of the averaged profiles and the RMS delay "
                                          "spread of the blocks; with several files OUT.1.png, OUT.2.png, ...",
                                  "OUT.png");
    const QCommandLineOption channel("channel", "Only channel N (1, 2 or 3; default all three).", "N");
    const QCommandLineOption block("block", "Sweeps per block average (default 5).", "N", "5");
    const QCommandLineOption bandwidth("bandwidth", "Swept bandwidth: delays in ns and metres as well.", "HZ");
    const QCommandLineOption threshold("threshold-db", "Bins within this many dB of the peak count (default 20).",
                                       "DB");
    const QCommandLineOption margin("margin-db", "... and at least this many dB above the floor (default: the margin "
                                                 "that noise alone exceeds with the --false-alarm probability).",
                                    "DB");
    const QCommandLineOption falseAlarm("false-alarm", "Probability that a profile of noise alone counts any bin, "
                                                       "which sets the margin (default 1e-3).", "P");
    const QCommandLineOption noise("noise-bins", "Bins whose median power is the noise floor (default 1537:2048).",
                                   "A:B");
    const QCommandLineOption firstBin("first-bin", "First bin of the peak search and the counting (default 3).", "K");
    const QCommandLineOption window("window", "Window on the samples before the transform: none (default), hann "
                                              "or blackman.", "NAME", "none");
    parser.addOptions({help, csv, json, plot, channel, block, bandwidth, threshold, margin, falseAlarm, noise,
                       firstBin, window});
    // Calibrated results and the path table.
    const QCommandLineOption calibration("cal", "Calibration of sounder calibrate: path gains in dB and delays from "
                                                "the antenna as well.", "CAL.json");
    const QCommandLineOption paths("paths", "One row per counted path of every block.", "OUT.csv");
    parser.addOptions({calibration, paths});
    // Where each recording was made (from its sidecar) and, with --origin, how far from the transmitter.
    const QCommandLineOption origin("origin", "The transmitter's position (degrees WGS84, height above the ellipsoid "
                                              "in m): distance_m (geodesic) and, with ALT, straight_distance_m.",
                                    "LAT,LON[,ALT]");
    parser.addOption(origin);
    const ProfileOptions profileOptions;
    parser.addOptions(profileOptions.all());
    parser.addPositionalArgument("FILE", "Recordings to analyze.", "FILE...");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().isEmpty())
        return usage("analyze needs at least one FILE");
    cli::AnalyzeOutputs outputs;
    if (parser.isSet(csv))
        outputs.csvPath = localPath(parser.value(csv));
    if (parser.isSet(json))
        outputs.jsonPath = localPath(parser.value(json));
    if (parser.isSet(plot))
        outputs.plotPath = localPath(parser.value(plot));
    if (parser.isSet(paths))
        outputs.pathsPath = localPath(parser.value(paths));
    cli::AnalysisSettings settings;
    QSize waterfallSize;
    if (const QString problem = readProfileOptions(parser, profileOptions, outputs, settings, waterfallSize);
        !problem.isEmpty())
        return usage(problem);
    outputs.waterfallWidth = waterfallSize.width();
    outputs.waterfallHeight = waterfallSize.height();
    if (outputs.csvPath.empty() && outputs.jsonPath.empty() && outputs.plotPath.empty() &&
        outputs.waterfallPath.empty() && outputs.profilesPath.empty() && outputs.pathsPath.empty())
        return usage("analyze needs at least one of --csv OUT, --json OUT, --plot OUT.png, --waterfall OUT.png, "
                     "--profiles OUT.npy, --paths OUT.csv");

    DelayMetricsParams& m = settings.metrics;
    if (!readNumber(parser, channel, settings.channel) || (parser.isSet(channel) && settings.channel < 1))
        return usage("--channel must be 1, 2 or 3");
    if (!readNumber(parser, block, settings.blockSweeps))
        return usage("--block must be a whole number of sweeps of 1 or more");
    double hz = 0.0;
    if (!readNumber(parser, bandwidth, hz))
        return usage("--bandwidth must be a positive number of Hz");
    if (parser.isSet(bandwidth))
        settings.bandwidthHz = hz;
    if (!readNumber(parser, threshold, m.thresholdDb))
        return usage("--threshold-db must be a number of dB of 0 or more");
    double marginDb = 0.0;
    if (!readNumber(parser, margin, marginDb))
        return usage("--margin-db must be a number of dB of 0 or more");
    if (parser.isSet(margin))
        m.marginDb = marginDb;
    if (!readNumber(parser, falseAlarm, m.falseAlarm) || !(m.falseAlarm > 0.0 && m.falseAlarm < 1.0))
        return usage("--false-alarm must be a probability between 0 and 1");
    // A margin in dB is kept whatever the chance noise has of passing it: the two set one margin.
    if (parser.isSet(margin) && parser.isSet(falseAlarm))
        return usage("--margin-db and --false-alarm each set the margin over the floor: give one of them");
    if (!readNumber(parser, firstBin, m.firstDelayBin) || m.firstDelayBin < 1 || m.firstDelayBin > m.lastDelayBin)
        return usage("--first-bin must be a bin 1.." + QString::number(m.lastDelayBin));
    if (parser.isSet(noise)) {
        const QStringList range = parser.value(noise).split(':');
        bool okA = false, okB = false;
        if (range.size() == 2) {
            m.noiseFirstBin = range[0].toInt(&okA);
            m.noiseLastBin = range[1].toInt(&okB);
        }
        if (!okA || !okB || m.noiseFirstBin < 1 || m.noiseLastBin > ProfileBins || m.noiseFirstBin > m.noiseLastBin)
            return usage("--noise-bins must be A:B with 1 <= A <= B <= 4096");
    }
    const QString windowText = parser.value(window);
    if (windowText == "none")
        settings.window = cli::SampleWindow::None;
    else if (windowText == "hann")
        settings.window = cli::SampleWindow::Hann;
    else if (windowText == "blackman")
        settings.window = cli::SampleWindow::Blackman;
    else
        return usage("--window must be none, hann or blackman");
    if (const std::string problem = cli::analysisSettingsProblem(settings); !problem.empty())
        return usage(QString::fromStdString(problem));
    settings.pathLobes = parser.isSet(calibration) || parser.isSet(paths);
    if (parser.isSet(calibration)) {
        settings.calibrationPath = localPath(parser.value(calibration));
        std::string error;
        settings.calibration = cal::readCalibration(settings.calibrationPath, &error);
        if (!settings.calibration)
            throw cli::Failure(settings.calibrationPath + ": " + error);
        settings.countClipped = true;
    }
    if (parser.isSet(origin)) {
        settings.origin = cli::parseOrigin(parser.value(origin).toStdString());
        if (!settings.origin)
            return usage("--origin must be LAT,LON or LAT,LON,ALT (degrees, metres)");
    }

    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments())
        files.push_back(localPath(file));
    // With several files each has a picture or .npy of its own, named OUT.1.png, OUT.2.png, ...:
    // a stream has no name to number (it gave files "-.1" and "/dev/null.1").
    if (files.size() > 1)
        for (const auto& [option, path] : {std::pair<QString, std::string>{"--plot", outputs.plotPath},
                                           {"--waterfall", outputs.waterfallPath},
                                           {"--profiles", outputs.profilesPath}})
            if (!path.empty() && cli::isStream(path))
                return usage(option + " " + QString::fromStdString(path) +
                             ": several files give one each, numbered OUT.1, OUT.2, ...: name a file, not the "
                             "standard output, a device or a pipe");
    std::vector<cli::NamedOutput> named;
    if (!outputs.csvPath.empty())
        named.push_back({"--csv", outputs.csvPath});
    if (!outputs.jsonPath.empty())
        named.push_back({"--json", outputs.jsonPath});
    if (!outputs.pathsPath.empty())
        named.push_back({"--paths", outputs.pathsPath});
    for (size_t i = 0; i < files.size(); ++i) {
        if (!outputs.plotPath.empty())
            named.push_back({"--plot", cli::plotPathFor(outputs.plotPath, i, files.size())});
        if (!outputs.waterfallPath.empty())
            named.push_back({"--waterfall", cli::plotPathFor(outputs.waterfallPath, i, files.size())});
        if (!outputs.profilesPath.empty())
            named.push_back({"--profiles", cli::plotPathFor(outputs.profilesPath, i, files.size())});
    }
    if (const int refused = cli::outputsRefusal(named, inputsOf(files, &settings)); refused != cli::ExitOk)
        return refused;
    const bool draws = !outputs.plotPath.empty() || !outputs.waterfallPath.empty();
    if (draws && !plotModule)
        throw cli::Failure("--plot: the picture cannot be drawn: the plot module did not load");
    cli::PlotDrawer draw, drawWaterfall;
    std::function<void()> prepare;
    if (draws) {
        draw = [plotModule](const cli::RecordingAnalysis& r, const cli::AnalysisSettings& s) {
            return plotModule->ready().drawPng(r, s);
        };
        drawWaterfall = [plotModule, waterfallSize](const cli::RecordingAnalysis& r, const cli::AnalysisSettings& s) {
            return plotModule->ready().drawWaterfallPng(r, s, waterfallSize.width(), waterfallSize.height());
        };
        // While the recordings are read: the module and its application, and what the
        // waterfall's drawing loads and caches.
        const bool waterfall = !outputs.waterfallPath.empty();
        prepare = [plotModule, waterfall, waterfallSize, &settings] {
            const cli::PlotModule& module = plotModule->ready();
            if (waterfall)
                module.prepareWaterfall(settings, waterfallSize.width(), waterfallSize.height());
        };
    }
    return cli::runAnalyze(files, settings, outputs, draw, drawWaterfall, prepare);
}

int runCalibrateCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The system's own power and delay per channel from back-to-back recordings (the transmitter cabled to\n"
        "the receiver through an attenuator), for analyze --cal. See calibration.md.gz in\n"
        "/usr/share/doc/sounder-receiver (docs/calibration.md in the source).");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption through("through-db", "Attenuation between transmitter and receiver, dB (required).",
                                     "A");
    const QCommandLineOption cable("cable-delay-ns", "Delay of the back-to-back run's through cabling, which a "
                                                     "measurement does not have, ns, added to every delay from the "
                                                     "antenna (default 0).", "D");
    const QCommandLineOption out({"o", "output"}, "The calibration file (required).", "CAL.json");
    const QCommandLineOption channel("channel", "Only channel N (1, 2 or 3; default all three).", "N");
    const QCommandLineOption window("window", "Window on the samples: none (default), hann or blackman; analyze "
                                              "--cal must use the same.", "NAME", "none");
    const QCommandLineOption threshold("threshold-db", "Bins within this many dB of the peak count (default 20); "
                                                       "analyze --cal must use the same.", "DB");
    parser.addOptions({help, through, cable, out, channel, window, threshold});
    parser.addPositionalArgument("B2B", "Back-to-back recordings in the acquisition layout, of one divider.",
                                 "B2B...");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().isEmpty())
        return usage("calibrate needs at least one back-to-back recording");
    cli::CalibrateOptions options;
    if (!parser.isSet(through) || !readNumber(parser, through, options.throughDb) ||
        !(options.throughDb >= 0.0 && options.throughDb <= 400.0))
        return usage("calibrate needs --through-db A, the attenuation in dB (0..400)");
    if (!readNumber(parser, cable, options.cableDelayNs) || !std::isfinite(options.cableDelayNs) ||
        std::abs(options.cableDelayNs) > 1e9)
        return usage("--cable-delay-ns must be a number of ns from -1e9 to 1e9");
    if (!parser.isSet(out))
        return usage("calibrate needs -o CAL.json");
    options.outputPath = localPath(parser.value(out));
    if (!readNumber(parser, channel, options.settings.channel) || options.settings.channel < 0 ||
        options.settings.channel > 3 || (parser.isSet(channel) && options.settings.channel < 1))
        return usage("--channel must be 1, 2 or 3");
    const QString windowText = parser.value(window);
    if (windowText == "hann")
        options.settings.window = cli::SampleWindow::Hann;
    else if (windowText == "blackman")
        options.settings.window = cli::SampleWindow::Blackman;
    else if (windowText != "none")
        return usage("--window must be none, hann or blackman");
    // The threshold decides which bins count, in the reference as in every measurement
    // calibrated with it; within what the calibration file holds.
    double& thresholdDb = options.settings.metrics.thresholdDb;
    if (!readNumber(parser, threshold, thresholdDb) || !(thresholdDb >= 0.0 && thresholdDb <= 1e6))
        return usage("--threshold-db must be a number of dB from 0 to 1e6");
    for (const QString& file : parser.positionalArguments())
        options.files.push_back(localPath(file));
    // A recording given twice would weigh twice in the average.
    if (const std::string problem = cli::repeatedRecordingProblem(options.files); !problem.empty()) {
        std::fprintf(stderr, "sounder: %s\n", cli::printable(problem).c_str());
        return cli::ExitUsage;
    }
    if (const int refused = cli::outputsRefusal({{"-o", options.outputPath}}, inputsOf(options.files));
        refused != cli::ExitOk)
        return refused;
    return cli::runCalibrate(options);
}

int runCampaignCommand(const QStringList& args, PlotModuleLoad* plotModule)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "One row per recording: time, position (from its sidecar), distance from the transmitter and\n"
        "median RMS delay spread; with path gains, the fit of path gain against log10 distance\n"
        "(path-loss exponent, path gain at 1 m, residual standard deviation).");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption origin("origin", "The transmitter's position (degrees WGS84, height above the ellipsoid "
                                              "in m).", "LAT,LON[,ALT]");
    const QCommandLineOption csv("csv", "The table of recordings.", "OUT");
    const QCommandLineOption plot("plot", "Picture (PNG) of path gain and RMS delay spread against distance.",
                                  "OUT.png");
    const QCommandLineOption block("block", "Sweeps per block average (default 5).", "N", "5");
    const QCommandLineOption calibration("cal", "A back-to-back calibration (sounder calibrate): each recording's "
                                                "median path gain and the fit of it against distance.", "CAL.json");
    const QCommandLineOption channel("channel", "The channel whose path gain is given and fitted (1, 2 or 3; "
                                                "default 1).", "N", "1");
    parser.addOptions({help, origin, csv, plot, block, calibration, channel});
    parser.addPositionalArgument("FILE", "Recordings of the campaign.", "FILE...");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().isEmpty())
        return usage("campaign needs at least one FILE");
    cli::CampaignSettings settings;
    const std::optional<cli::Origin> place = cli::parseOrigin(parser.value(origin).toStdString());
    if (!parser.isSet(origin) || !place)
        return usage("campaign needs --origin LAT,LON or LAT,LON,ALT (degrees, metres)");
    settings.origin = *place;
    if (!parser.isSet(csv))
        return usage("campaign needs --csv OUT");
    settings.csvPath = localPath(parser.value(csv));
    if (parser.isSet(plot))
        settings.plotPath = localPath(parser.value(plot));
    if (!readNumber(parser, block, settings.analysis.blockSweeps))
        return usage("--block must be a whole number of sweeps of 1 or more");
    if (!readNumber(parser, channel, settings.pathGainChannel) || settings.pathGainChannel < 1 ||
        settings.pathGainChannel > 3)
        return usage("--channel must be 1, 2 or 3");
    if (const std::string problem = cli::analysisSettingsProblem(settings.analysis); !problem.empty())
        return usage(QString::fromStdString(problem));
    if (parser.isSet(calibration)) {
        settings.analysis.calibrationPath = localPath(parser.value(calibration));
        std::string error;
        settings.analysis.calibration = cal::readCalibration(settings.analysis.calibrationPath, &error);
        if (!settings.analysis.calibration)
            throw cli::Failure(settings.analysis.calibrationPath + ": " + error);
        settings.analysis.countClipped = true;
        settings.pathGain = cli::calibratedPathGain(*settings.analysis.calibration, settings.pathGainChannel);
        settings.pathGainSource =
            settings.analysis.calibrationPath + ", ch " + std::to_string(settings.pathGainChannel);
    }
    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments())
        files.push_back(localPath(file));
    // A recording given twice would be two points of the fit.
    if (const std::string problem = cli::repeatedRecordingProblem(files); !problem.empty()) {
        std::fprintf(stderr, "sounder: %s\n", cli::printable(problem).c_str());
        return cli::ExitUsage;
    }
    std::vector<cli::NamedOutput> named = {{"--csv", settings.csvPath}};
    if (!settings.plotPath.empty())
        named.push_back({"--plot", settings.plotPath});
    if (const int refused = cli::outputsRefusal(named, inputsOf(files, &settings.analysis)); refused != cli::ExitOk)
        return refused;
    if (!settings.plotPath.empty() && !plotModule)
        throw cli::Failure("--plot: the picture cannot be drawn: the plot module did not load");
    cli::CampaignDrawer draw;
    if (plotModule)
        draw = [plotModule](const cli::Campaign& c, const cli::CampaignSettings& s) {
            return plotModule->ready().drawCampaignPng(c, s);
        };
    return cli::runCampaign(files, settings, draw);
}

// Only a picture needs Qt Widgets: an `analyze --plot` or `--waterfall` run gets a
// QApplication (off screen unless told otherwise), every other run Qt Core alone.
bool drawsPlot(int argc, char** argv)
{
    if (argc < 2 || (std::strcmp(argv[1], "analyze") != 0 && std::strcmp(argv[1], "campaign") != 0))
        return false;
    for (int i = 2; i < argc; ++i)
        for (const char* option : {"--plot", "--waterfall"}) {
            const size_t n = std::strlen(option);
            if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == '\0' || argv[i][n] == '='))
                return true;
        }
    return false;
}

// What the program printed through stdio (info's report, campaign's summary, the help)
// is on the standard output only once flushed: a write that failed there (a full disk
// under `sounder info ... > report.txt`) is the run's failure, where it ended with 0.
int withStandardOutputWritten(int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int err = errno;
    std::fprintf(stderr, "sounder: the standard output: %s\n",
                 err ? rt::ioErrorText(rt::ioCodeFromErrno(err)).c_str() : "write error");
    return status == cli::ExitOk ? cli::ExitBadInput : status;
}

int runProgram(int argc, char** argv)
{
#ifdef M_MMAP_THRESHOLD
    // Buffers of a megabyte and more (a file's profile rows) are mapped on their own and go
    // back to the system when freed. Left to itself, the C library raises this threshold to
    // the largest buffer freed and takes the next ones from its heaps, where an analysis of
    // many files would keep the rows it lets go.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    // Ctrl-C or kill midway leaves no hidden temporary file of an output behind.
    removeTemporaryFilesOnSignals();
    // Only a picture needs Qt Widgets, and its run has no application object until
    // the module is there; every other run has Qt Core's from the start.
    std::unique_ptr<PlotModuleLoad> plotModule;
    std::unique_ptr<QCoreApplication> application;
    if (drawsPlot(argc, argv))
        plotModule = std::make_unique<PlotModuleLoad>(argc, argv);
    else
        application = std::make_unique<QCoreApplication>(argc, argv);
    numbersWithAPoint();
    QCoreApplication::setApplicationName("sounder");
    QCoreApplication::setApplicationVersion(SOUNDER_VERSION);
    // The arguments, every byte of a file name kept (argumentText).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(argumentText(argv[i]));
    startedAs = arguments.value(0);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks, converts and analyses channel sounder recordings.\n\nCommands:\n"
        "  info FILE...                                  what each file is and holds\n"
        "  convert FILE --to viewer [--channel N] [-o OUT]  viewer layout of one channel\n"
        "  convert FILE --to sigmf [--datatype T] [--layout L | --channel N] [--archive] [-o BASE]\n"
        "                                                SigMF recording, collection or archive\n"
        // Each command on one line, its text beneath: help2man makes the manual page of
        // this, and a command continued on a second line would be taken for its text.
        "  analyze FILE... OUTPUT... [--cal CAL.json] [options]\n"
        "                                                delay metrics of every sweep and block; OUTPUT\n"
        "                                                is --csv OUT, --json OUT, --plot OUT.png,\n"
        "                                                --waterfall OUT.png, --profiles OUT.npy or\n"
        "                                                --paths OUT.csv\n"
        "  calibrate B2B... --through-db A [--cable-delay-ns D] -o CAL.json [options]\n"
        "                                                system gain and delay from back-to-back runs\n"
        "  campaign FILE... --origin LAT,LON[,ALT] [--cal CAL.json] --csv OUT [options]\n"
        "                                                positions, distances, spreads, path-loss fit\n\n"
        "Exit status: 0 success, 1 usage error, 2 bad input or I/O error.");
    const QCommandLineOption help({"h", "help"}, "Shows this help (sounder COMMAND --help for a command's).");
    const QCommandLineOption version({"v", "version"}, "Shows the version.");
    parser.addOptions({help, version});
    parser.addPositionalArgument("COMMAND", "info, convert, analyze, calibrate or campaign.", "COMMAND [ARGS...]");
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(version)) {
        std::printf("sounder %s\n", SOUNDER_VERSION);
        return cli::ExitOk;
    }
    QStringList rest = parser.positionalArguments();
    if (parser.isSet(help) && rest.isEmpty())
        return printHelp(parser, "sounder");
    if (rest.isEmpty())
        return usage("a COMMAND is needed: info, convert, analyze, calibrate or campaign");
    const QString command = rest.takeFirst();
    rest.prepend("sounder " + command);
    try {
        if (command == "info")
            return runInfoCommand(rest);
        if (command == "convert")
            return runConvertCommand(rest);
        if (command == "analyze")
            return runAnalyzeCommand(rest, plotModule.get());
        if (command == "calibrate")
            return runCalibrateCommand(rest);
        if (command == "campaign")
            return runCampaignCommand(rest, plotModule.get());
    } catch (const cli::Refused& refusal) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", cli::printable(refusal.what()).c_str());
        return cli::ExitUsage;
    } catch (const cli::Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", cli::printable(failure.what()).c_str());
        return cli::ExitBadInput;
    }
    return usage("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) { return withStandardOutputWritten(runProgram(argc, argv)); }
