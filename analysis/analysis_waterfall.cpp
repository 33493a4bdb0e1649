#include "analysis_waterfall.h"

#include "analysis_report.h"

#include <QImage>
#include <QPainter>
#include <png.h>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <stdexcept>

namespace cli {

namespace {

// A map of more cells than the picture has pixels shows no more: each cell of the
// drawn map is the largest of the rows x bins it stands for, so a path one sweep or
// one bin wide still shows.
struct Reduced {
    int columns = 0;
    int rows = 0;
    int binsPerColumn = 1;
    int rowsPerRow = 1;
    std::vector<float> cells;  // rows x columns
};

Reduced reduce(const std::vector<float>& profiles, int rows, int widthPixels, int heightPixels)
{
    Reduced r;
    r.binsPerColumn = std::max(1, (ProfileRowBins + widthPixels - 1) / std::max(1, widthPixels));
    r.rowsPerRow = std::max(1, (rows + heightPixels - 1) / std::max(1, heightPixels));
    r.columns = (ProfileRowBins + r.binsPerColumn - 1) / r.binsPerColumn;
    r.rows = (rows + r.rowsPerRow - 1) / r.rowsPerRow;
    r.cells.assign(size_t(r.columns) * size_t(r.rows), -INFINITY);
    for (int row = 0; row < rows; ++row) {
        const float* in = profiles.data() + size_t(row) * ProfileRowBins;
        float* out = r.cells.data() + size_t(row / r.rowsPerRow) * size_t(r.columns);
        for (int c = 0; c < r.columns; ++c) {
            float highest = out[c];
            for (int k = c * r.binsPerColumn; k < std::min(ProfileRowBins, (c + 1) * r.binsPerColumn); ++k)
                highest = std::max(highest, in[k]);
            out[c] = highest;
        }
    }
    return r;
}

void appendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

}  // namespace

std::string waterfallPngBytes(const QImage& picture)
{
    const QImage image = picture.format() == QImage::Format_RGB32 ? picture
                                                                  : picture.convertToFormat(QImage::Format_RGB32);
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::runtime_error("the picture cannot be encoded: out of memory");
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("the picture cannot be encoded");
    }
    png_set_write_fn(png, &bytes, appendPngBytes, nullptr);
    // The fastest deflate level, and the rows as they are rather than the trial of
    // every row filter on every row: the picture's runs of one colour compress as well
    // unfiltered (to within 1 %), in half the time.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    // An opaque picture needs no alpha channel: QImage's 32-bit pixels lie in memory
    // as blue, green, red and an unused byte, which libpng turns into red, green, blue.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the pixel byte order is that of a little-endian machine");
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

std::string analysisWaterfallPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width,
                                 int height)
{
    const bool blocks = settings.keepProfiles == ProfileRows::Blocks;
    const std::optional<double> perBin = secondsPerBin(analysis, settings);
    const double scale = perBin ? *perBin * 1e9 : 1.0;
    const QString delayLabel = perBin ? "delay (ns)" : "delay (bins)";

    QCustomPlot plot;
    plot.resize(width, height);
    plot.setBackground(Qt::white);
    plot.plotLayout()->clear();
    QString heading = QString::fromStdString(analysis.path) + ": " + QString::number(analysis.sweeps) + " sweeps";
    if (!analysis.viewerLayout)
        heading += QString(", clock divider %1").arg(analysis.clockDivider);
    heading += blocks ? QString(", rows are blocks of %1 sweeps").arg(settings.blockSweeps) : QString(", rows are sweeps");
    heading += QString(", window %1").arg(windowName(settings.window));
    plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, heading, QFont("Sans", 12, QFont::Bold)));
    auto* grid = new QCPLayoutGrid;
    plot.plotLayout()->addElement(1, 0, grid);
    plot.plotLayout()->setRowStretchFactor(0, 0.01);

    const int channels = std::max<int>(1, int(analysis.channels.size()));
    auto* colourScale = new QCPColorScale(&plot);
    colourScale->setType(QCPAxis::atRight);
    colourScale->axis()->setLabel("power (dB)");
    auto* margins = new QCPMarginGroup(&plot);
    float lowest = INFINITY, highest = -INFINITY;
    for (int c = 0; c < int(analysis.channels.size()); ++c) {
        const ChannelAnalysis& channel = analysis.channels[size_t(c)];
        const int rows = int(channel.profilesDb.size() / ProfileRowBins);
        const Reduced cells = reduce(channel.profilesDb, rows, width / channels - 80, height - 120);

        grid->addElement(0, c, new QCPTextElement(&plot, "ch " + QString::number(channel.channel),
                                                  QFont("Sans", 11, QFont::Bold)));
        auto* rect = new QCPAxisRect(&plot);
        grid->addElement(1, c, rect);
        rect->setMarginGroup(QCP::msTop | QCP::msBottom, margins);
        QCPAxis* x = rect->axis(QCPAxis::atBottom);
        QCPAxis* y = rect->axis(QCPAxis::atLeft);
        auto* map = new QCPColorMap(x, y);
        map->setInterpolate(false);
        map->data()->setSize(cells.columns, cells.rows);
        // Cell centres: the delay of a column's first bin, the number of a row's first row.
        const double binWidth = cells.binsPerColumn * scale;
        const double rowHeight = cells.rowsPerRow;
        map->data()->setRange(QCPRange(0.5 * (binWidth - scale), 0.5 * (binWidth - scale) + (cells.columns - 1) * binWidth),
                              QCPRange(1 + 0.5 * (rowHeight - 1), 1 + 0.5 * (rowHeight - 1) + (cells.rows - 1) * rowHeight));
        for (int r = 0; r < cells.rows; ++r)
            for (int k = 0; k < cells.columns; ++k) {
                const float v = cells.cells[size_t(r) * size_t(cells.columns) + size_t(k)];
                map->data()->setCell(k, r, v);
                lowest = std::min(lowest, v);
                highest = std::max(highest, v);
            }
        map->setColorScale(colourScale);
        map->setGradient(QCPColorGradient::gpJet);
        x->setLabel(delayLabel);
        y->setLabel(blocks ? QString("block (%1 sweeps each)").arg(settings.blockSweeps) : QString("sweep"));
        x->setRange(-0.5 * scale, (ProfileRowBins - 0.5) * scale);
        y->setRange(0.5, rows + 0.5);
        y->setRangeReversed(true);
    }
    grid->setRowStretchFactor(0, 0.01);
    grid->addElement(1, channels, colourScale);
    colourScale->setMarginGroup(QCP::msTop | QCP::msBottom, margins);
    // From 10 dB under the quietest channel's noise floor (the floor itself if lower)
    // to the strongest cell: the noise shows as a dark band, the paths above it.
    double low = INFINITY;
    for (const ChannelAnalysis& channel : analysis.channels)
        if (channel.average.noiseFloorDb)
            low = std::min(low, *channel.average.noiseFloorDb - 10.0);
    low = std::isfinite(low) ? std::max<double>(low, lowest) : double(lowest);
    double high = highest;
    if (!std::isfinite(low) || !std::isfinite(high)) {
        low = -60.0;
        high = 0.0;
    }
    colourScale->setDataRange(QCPRange(low, std::max(high, low + 1.0)));

    // Drawn straight into the picture that is encoded, with no pixmap between.
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QCPPainter painter(&image);
        plot.toPainter(&painter, width, height);
    }
    return waterfallPngBytes(image);
}

}  // namespace cli
