// sounder: checks and converts the recordings of the channel sounder.
//   sounder info FILE...
//   sounder convert FILE --to viewer [--channel 1|2|3] [-o OUT]
//   sounder convert FILE --to sigmf [-o BASE]
// Exit status: 0 success, 1 usage error, 2 bad input or I/O error (one line on stderr).

#include "cli_support.h"
#include "convert_sigmf.h"
#include "convert_viewer.h"
#include "info_command.h"
#include "sounder_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string localPath(const QString& text) { return QFile::encodeName(text).toStdString(); }

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
        cli::convertToViewer(input, n, output);
        return cli::ExitOk;
    }
    if (layout == "sigmf") {
        if (parser.isSet(channel))
            return usage("--channel applies to --to viewer only");
        cli::convertToSigmf(input, parser.isSet(out) ? localPath(parser.value(out)) : input);
        return cli::ExitOk;
    }
    return usage(layout.isEmpty() ? QString("convert needs --to viewer or --to sigmf")
                                  : "unknown layout '" + layout + "' (viewer or sigmf)");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("sounder");
    QCoreApplication::setApplicationVersion(SOUNDER_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks and converts channel sounder recordings.\n\nCommands:\n"
        "  info FILE...                                  what each file is and holds\n"
        "  convert FILE --to viewer [--channel N] [-o OUT]  viewer layout of one channel\n"
        "  convert FILE --to sigmf [-o BASE]             SigMF recording\n\n"
        "Exit status: 0 success, 1 usage error, 2 bad input or I/O error.");
    const QCommandLineOption help({"h", "help"}, "Shows this help (sounder COMMAND --help for a command's).");
    const QCommandLineOption version({"v", "version"}, "Shows the version.");
    parser.addOptions({help, version});
    parser.addPositionalArgument("COMMAND", "info or convert.", "COMMAND [ARGS...]");
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
        return usage("a COMMAND is needed: info or convert");
    const QString command = rest.takeFirst();
    rest.prepend("sounder " + command);
    try {
        if (command == "info")
            return runInfoCommand(rest);
        if (command == "convert")
            return runConvertCommand(rest);
    } catch (const cli::Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", failure.what());
        return cli::ExitBadInput;
    }
    return usage("unknown command '" + command + "'");
}
