// sounder: checks, converts and analyses the recordings of the channel sounder.
//   sounder info FILE...
//   sounder convert FILE --to viewer [--channel 1|2|3] [-o OUT]
//   sounder convert FILE --to sigmf [-o BASE]
//   sounder analyze FILE... [--csv OUT] [--json OUT] [--plot OUT.png] [options]
// Exit status: 0 success, 1 usage error, 2 bad input or I/O error (one line on stderr).

#include "analyze_command.h"
#include "cli_support.h"
#include "convert_sigmf.h"
#include "convert_viewer.h"
#include "info_command.h"
#include "plot_module.h"
#include "recording_metadata.h"
#include "sounder_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

std::string localPath(const QString& text) { return QFile::encodeName(text).toStdString(); }

// The files a command reads: each recording and the sidecar beside it.
std::vector<std::string> inputsOf(const std::vector<std::string>& recordings)
{
    std::vector<std::string> inputs;
    for (const std::string& r : recordings) {
        inputs.push_back(r);
        inputs.push_back(meta::sidecarPath(r));
    }
    return inputs;
}

int usage(const QString& message)
{
    std::fprintf(stderr, "sounder: %s (see sounder --help)\n", qPrintable(message));
    return cli::ExitUsage;
}

// The usage line names the program as the user types it ("sounder info"), not by the
// path it was started from.
int printHelp(const QCommandLineParser& parser, const QString& program)
{
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().constFirst();
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
    parser.addPositionalArgument("FILE", "Recordings to describe.", "FILE...");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().isEmpty())
        return usage("info needs at least one FILE");
    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments())
        files.push_back(localPath(file));
    return cli::runInfo(files);
}

int runConvertCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Converts an acquisition-layout recording to the viewer layout or to SigMF.");
    const QCommandLineOption help({"h", "help"}, "Shows this help.");
    const QCommandLineOption to("to", "Target layout: viewer or sigmf.", "LAYOUT");
    const QCommandLineOption channel("channel", "Channel for the viewer layout: 1, 2 or 3 (default 1).", "N", "1");
    const QCommandLineOption out({"o", "output"},
                                 "Output file (viewer; default FILE.chN.txt) or base name (sigmf; default FILE).",
                                 "OUT");
    parser.addOptions({help, to, channel, out});
    parser.addPositionalArgument("FILE", "Recording in the acquisition layout.");
    if (!parser.parse(args))
        return usage(parser.errorText());
    if (parser.isSet(help))
        return printHelp(parser, args.constFirst());
    if (parser.positionalArguments().size() != 1)
        return usage("convert needs exactly one FILE");
    const std::string input = localPath(parser.positionalArguments().front());
    const QString layout = parser.value(to);
    if (layout == "viewer") {
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
    if (layout == "sigmf") {
        if (parser.isSet(channel))
            return usage("--channel applies to --to viewer only");
        const std::string base = parser.isSet(out) ? localPath(parser.value(out)) : input;
        if (const int refused = cli::outputsRefusal({{"-o", base + ".sigmf-data"}, {"-o", base + ".sigmf-meta"}},
                                                    inputsOf({input}));
            refused != cli::ExitOk)
            return refused;
        cli::convertToSigmf(input, base);
        return cli::ExitOk;
    }
    return usage(layout.isEmpty() ? QString("convert needs --to viewer or --to sigmf")
                                  : "unknown layout '" + layout + "' (viewer or sigmf)");
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

int runAnalyzeCommand(const QStringList& args, const cli::PlotModule* plotModule)
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
    parser.addOptions({help, csv, json, plot, channel, block, bandwidth, threshold, margin, falseAlarm, noise, firstBin,
                       window});
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
    if (outputs.csvPath.empty() && outputs.jsonPath.empty() && outputs.plotPath.empty())
        return usage("analyze needs at least one of --csv OUT, --json OUT, --plot OUT.png");

    cli::AnalysisSettings settings;
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

    std::vector<std::string> files;
    for (const QString& file : parser.positionalArguments())
        files.push_back(localPath(file));
    std::vector<cli::NamedOutput> named;
    if (!outputs.csvPath.empty())
        named.push_back({"--csv", outputs.csvPath});
    if (!outputs.jsonPath.empty())
        named.push_back({"--json", outputs.jsonPath});
    if (!outputs.plotPath.empty())
        for (size_t i = 0; i < files.size(); ++i)
            named.push_back({"--plot", cli::plotPathFor(outputs.plotPath, i, files.size())});
    if (const int refused = cli::outputsRefusal(named, inputsOf(files)); refused != cli::ExitOk)
        return refused;
    if (!outputs.plotPath.empty() && !plotModule)
        throw cli::Failure("--plot: the picture cannot be drawn: the plot module did not load");
    cli::PlotDrawer draw;
    if (plotModule)
        draw = plotModule->drawPng;
    return cli::runAnalyze(files, settings, outputs, draw);
}

// Only a picture needs Qt Widgets: an `analyze --plot` run gets a QApplication (off
// screen unless told otherwise), every other run Qt Core alone.
bool drawsPlot(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "analyze") != 0)
        return false;
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--plot") == 0 || std::strncmp(argv[i], "--plot=", 7) == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const cli::PlotModule* plotModule = nullptr;
    if (drawsPlot(argc, argv)) {
        std::string problem;
        plotModule = cli::loadPlotModule(problem);
        if (!plotModule) {
            std::fprintf(stderr, "sounder: --plot: the plot module does not load: %s\n", problem.c_str());
            return cli::ExitBadInput;
        }
    }
    const std::unique_ptr<QCoreApplication> application =
        plotModule ? plotModule->makeApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName("sounder");
    QCoreApplication::setApplicationVersion(SOUNDER_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks, converts and analyses channel sounder recordings.\n\nCommands:\n"
        "  info FILE...                                  what each file is and holds\n"
        "  convert FILE --to viewer [--channel N] [-o OUT]  viewer layout of one channel\n"
        "  convert FILE --to sigmf [-o BASE]             SigMF recording\n"
        "  analyze FILE... [--csv OUT] [--json OUT] [--plot OUT.png] [options]\n"
        "                                                delay metrics of every sweep and block\n\n"
        "Exit status: 0 success, 1 usage error, 2 bad input or I/O error.");
    const QCommandLineOption help({"h", "help"}, "Shows this help (sounder COMMAND --help for a command's).");
    const QCommandLineOption version({"v", "version"}, "Shows the version.");
    parser.addOptions({help, version});
    parser.addPositionalArgument("COMMAND", "info, convert or analyze.", "COMMAND [ARGS...]");
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(version)) {
        std::printf("sounder %s\n", SOUNDER_VERSION);
        return cli::ExitOk;
    }
    QStringList rest = parser.positionalArguments();
    if (parser.isSet(help) && rest.isEmpty())
        return printHelp(parser, "sounder");
    if (rest.isEmpty())
        return usage("a COMMAND is needed: info, convert or analyze");
    const QString command = rest.takeFirst();
    rest.prepend("sounder " + command);
    try {
        if (command == "info")
            return runInfoCommand(rest);
        if (command == "convert")
            return runConvertCommand(rest);
        if (command == "analyze")
            return runAnalyzeCommand(rest, plotModule);
    } catch (const cli::Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", failure.what());
        return cli::ExitBadInput;
    }
    return usage("unknown command '" + command + "'");
}
