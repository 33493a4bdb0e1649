#include "analysis_plot.h"

#include "analysis_report.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <qcustomplot.h>

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

const QColor ChannelColours[3] = {QColor(200, 0, 0), QColor(0, 128, 0), QColor(0, 0, 200)};

QString delayUnit(std::optional<double> perBin) { return perBin ? "ns" : "bins"; }

// Draws a horizontal line at y across the given x range, named in the legend.
void addLevel(QCustomPlot& plot, QCPAxisRect* rect, QCPLegend* legend, double x0, double x1, double y,
              const QPen& pen, const QString& name)
{
    QCPGraph* g = plot.addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    g->setData(QVector<double>{x0, x1}, QVector<double>{y, y}, true);
    g->setPen(pen);
    g->setName(name);
    g->addToLegend(legend);
}

void drawChannel(QCustomPlot& plot, QCPLayoutGrid* grid, int column, const ChannelAnalysis& channel, const RecordingAnalysis& analysis,
                 const AnalysisSettings& settings)
{
    const std::optional<double> perBin = secondsPerBin(analysis, settings);
    const double scale = perBin ? *perBin * 1e9 : 1.0;  // delay bins to the axis unit
    const QColor colour = ChannelColours[(channel.channel - 1) % 3];
    const DelayMetrics& m = channel.average;

    auto* title = new QCPTextElement(&plot, "ch " + QString::number(channel.channel), QFont("Sans", 12, QFont::Bold));
    grid->addElement(0, column, title);

    // The averaged profile over the positive delays, bin k at delay k - 1.
    auto* top = new QCPAxisRect(&plot);
    grid->addElement(1, column, top);
    auto* legend = new QCPLegend;
    top->insetLayout()->addElement(legend, Qt::AlignTop | Qt::AlignRight);
    legend->setLayer("legend");
    legend->setFont(QFont("Sans", 8));
    QCPGraph* profile = plot.addGraph(top->axis(QCPAxis::atBottom), top->axis(QCPAxis::atLeft));
    QVector<double> x, y;
    const int last = settings.metrics.lastDelayBin;
    for (int k = 1; k <= last; ++k) {
        x.push_back(double(k - 1) * scale);
        y.push_back(channel.averageDb[size_t(k)]);
    }
    profile->setData(x, y, true);
    profile->setPen(QPen(colour));
    profile->setName("averaged profile, " + QString::number(analysis.sweeps) + " sweeps");
    profile->addToLegend(legend);
    const double x1 = double(last - 1) * scale;
    if (m.noiseFloorDb) {
        addLevel(plot, top, legend, 0.0, x1, *m.noiseFloorDb, QPen(Qt::gray, 2, Qt::DashLine), "noise floor");
        addLevel(plot, top, legend, 0.0, x1, *m.noiseFloorDb + m.marginDb, QPen(Qt::gray, 1, Qt::DotLine),
                 QString("floor + %1 dB margin").arg(m.marginDb, 0, 'g', 3));
    }
    if (m.peakDb)
        addLevel(plot, top, legend, 0.0, x1, *m.peakDb - settings.metrics.thresholdDb, QPen(Qt::black, 1, Qt::DashLine),
                 QString("threshold, peak - %1 dB").arg(settings.metrics.thresholdDb));
    top->axis(QCPAxis::atBottom)->setLabel("delay (" + delayUnit(perBin) + ")");
    top->axis(QCPAxis::atLeft)->setLabel("power (dB)");
    top->axis(QCPAxis::atBottom)->setRange(0.0, x1);
    // From below the floor, where the noise shows, to above the peak.
    const double lowest = m.noiseFloorDb ? std::max(-65.0, *m.noiseFloorDb - 15.0) : -65.0;
    top->axis(QCPAxis::atLeft)->setRange(lowest, m.peakDb ? std::max(lowest + 10.0, *m.peakDb + 5.0) : lowest + 100.0);

    // The RMS delay spread of each block; a block where nothing counted leaves a gap.
    auto* bottom = new QCPAxisRect(&plot);
    grid->addElement(2, column, bottom);
    QCPGraph* spread = plot.addGraph(bottom->axis(QCPAxis::atBottom), bottom->axis(QCPAxis::atLeft));
    QVector<double> bx, by;
    double highest = 0.0;
    for (size_t b = 0; b < channel.blocks.size(); ++b) {
        bx.push_back(double(b + 1));
        const std::optional<double> rms = channel.blocks[b].rmsSpreadBins;
        by.push_back(rms ? *rms * scale : std::nan(""));
        if (rms)
            highest = std::max(highest, *rms * scale);
    }
    spread->setData(bx, by, true);
    spread->setPen(QPen(colour));
    spread->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 3));
    bottom->axis(QCPAxis::atBottom)->setLabel(
        QString("block (%1 sweeps each)").arg(settings.blockSweeps));
    bottom->axis(QCPAxis::atLeft)->setLabel("RMS delay spread (" + delayUnit(perBin) + ")");
    QSharedPointer<QCPAxisTickerFixed> wholeBlocks(new QCPAxisTickerFixed);
    wholeBlocks->setTickStep(1.0);
    wholeBlocks->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    bottom->axis(QCPAxis::atBottom)->setTicker(wholeBlocks);
    bottom->axis(QCPAxis::atBottom)->setRange(0.5, double(channel.blocks.size()) + 0.5);
    bottom->axis(QCPAxis::atLeft)->setRange(0.0, highest > 0.0 ? highest * 1.1 : 1.0);
}

QtMessageHandler previousHandler = nullptr;

void dropRuntimeDirWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

std::unique_ptr<QCoreApplication> makePlotApplication(int& argc, char** argv)
{
    // Drawn off screen: no display is needed (a run over ssh, a batch job).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a desktop session Qt warns that it has no runtime directory, which a
    // picture drawn off screen never uses: keep stderr for the tool's own lines.
    previousHandler = qInstallMessageHandler(dropRuntimeDirWarning);
    return std::make_unique<QApplication>(argc, argv);
}

std::string plotPngBytes(QCustomPlot& plot, int width, int height)
{
    const QImage image = plot.toPixmap(width, height, 1.0).toImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string analysisPlotPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings)
{
    QCustomPlot plot;
    plot.setLocale(QLocale::c());  // numbers as in the heading and the CSV, in every locale
    plot.resize(PlotWidth, PlotHeight);
    plot.setBackground(Qt::white);
    plot.setAutoAddPlottableToLegend(false);
    plot.plotLayout()->clear();
    QString heading = QString::fromStdString(analysis.path) + ": " + QString::number(analysis.sweeps) + " sweeps";
    if (!analysis.viewerLayout)
        heading += QString(", clock divider %1").arg(analysis.clockDivider);
    heading += QString(", window %1, threshold %2 dB, ")
                   .arg(windowName(settings.window))
                   .arg(settings.metrics.thresholdDb);
    heading += settings.metrics.marginDb ? QString("margin %1 dB").arg(*settings.metrics.marginDb)
                                         : QString("false alarm %1").arg(settings.metrics.falseAlarm);
    auto* title = new QCPTextElement(&plot, heading, QFont("Sans", 13, QFont::Bold));
    plot.plotLayout()->addElement(0, 0, title);
    // The channels side by side beneath the heading, each a profile over its spread.
    auto* grid = new QCPLayoutGrid;
    plot.plotLayout()->addElement(1, 0, grid);
    plot.plotLayout()->setRowStretchFactor(0, 0.01);
    for (int c = 0; c < int(analysis.channels.size()); ++c)
        drawChannel(plot, grid, c, analysis.channels[size_t(c)], analysis, settings);
    grid->setRowStretchFactor(0, 0.01);
    grid->setRowStretchFactor(1, 1.4);
    grid->setRowStretchFactor(2, 1.0);

    return plotPngBytes(plot, PlotWidth, PlotHeight);
}

}  // namespace cli
