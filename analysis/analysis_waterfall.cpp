#include "analysis_waterfall.h"

#include "analysis_report.h"
#include "thread_start.h"

#include <QImage>
#include <QPainter>
#include <png.h>
#include <zlib.h>
#include <qcustomplot.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace cli {

namespace {

// A channel's map of cells, and its lowest and highest cell.
struct ChannelMap {
    std::unique_ptr<QCPColorMapData> data;
    float lowest = INFINITY;
    float highest = -INFINITY;
};

// scale: the delay of one bin on the delay axis. The cells made as the rows were, where
// they fit the map; else made here from the rows.
ChannelMap channelMap(const ChannelAnalysis& channel, MapPixels pixels, double scale)
{
    const std::vector<float>& profiles = channel.profilesDb;
    const int rows = int(channel.profileRows);
    std::optional<WaterfallCells> made;
    const bool ready = channel.waterfallCells && channel.waterfallCells->completeFor(rows, pixels);
    if (!ready) {
        // Rows are let go only where their cells were made whole.
        if (profiles.size() < size_t(rows) * ProfileRowBins)
            throw std::logic_error("the rows of a waterfall were let go before their cells were made");
        made.emplace(rows, pixels);
        made->addRows(profiles.data(), rows);
    }
    const WaterfallCells& cells = ready ? *channel.waterfallCells : *made;
    // Cell centres: the delay of a column's first bin, the number of a row's first row.
    const double binWidth = cells.binsPerColumn() * scale;
    const double rowHeight = cells.rowsPerCellRow();
    ChannelMap m;
    m.data = std::make_unique<QCPColorMapData>(
        cells.columns(), cells.cellRows(),
        QCPRange(0.5 * (binWidth - scale), 0.5 * (binWidth - scale) + (cells.columns() - 1) * binWidth),
        QCPRange(1 + 0.5 * (rowHeight - 1), 1 + 0.5 * (rowHeight - 1) + (cells.cellRows() - 1) * rowHeight));
    for (int r = 0; r < cells.cellRows(); ++r)
        for (int k = 0; k < cells.columns(); ++k) {
            const float v = cells.cell(k, r);
            m.data->setCell(k, r, v);
            m.lowest = std::min(m.lowest, v);
            m.highest = std::max(m.highest, v);
        }
    return m;
}

void appendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void appendBigEndian(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(char(value >> shift & 0xff));
}

// A PNG chunk: its length, type and data, and the CRC of type and data.
void appendChunk(std::string& out, const char (&type)[5], std::string_view data)
{
    appendBigEndian(out, uint32_t(data.size()));
    out.append(type, 4);
    out.append(data);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty())  // given no data at all, zlib gives the starting value, not crc
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(data.data()), data.size());
    appendBigEndian(out, uint32_t(crc));
}

// Rows [first, end) of the picture as the PNG's image data holds them unfiltered:
// each a filter byte of 0, then red, green and blue of every pixel.
void appendRgbRows(const QImage& image, int first, int end, std::string& out)
{
    const int width = image.width();
    const size_t at = out.size();
    out.resize(at + size_t(end - first) * (1 + 3 * size_t(width)));
    char* o = out.data() + at;
    for (int y = first; y < end; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        *o++ = 0;
        for (int x = 0; x < width; ++x) {
            *o++ = char(qRed(in[x]));
            *o++ = char(qGreen(in[x]));
            *o++ = char(qBlue(in[x]));
        }
    }
}

// One part of the picture's deflate stream: rows [first, end) at the fastest level,
// the 32 KB of image data before them as the dictionary, so that the parts together
// compress as the whole would. A part other than the last ends on a byte boundary
// (a sync flush), where the next one begins.
struct DeflatedPart {
    std::string bytes;
    uLong adler = 1;  // of the part's own image data
    size_t length = 0;
};

DeflatedPart deflateRows(const QImage& image, int first, int end, bool last)
{
    constexpr size_t Window = 32768;
    const size_t rowBytes = 1 + 3 * size_t(image.width());
    const int before = first == 0 ? 0 : int(std::min<size_t>(size_t(first), (Window + rowBytes - 1) / rowBytes));
    std::string data;
    appendRgbRows(image, first - before, end, data);
    const size_t dictionary = std::min(Window, size_t(before) * rowBytes);
    const size_t from = size_t(before) * rowBytes;

    DeflatedPart part;
    part.length = data.size() - from;
    part.adler = adler32_z(1, reinterpret_cast<const Bytef*>(data.data() + from), part.length);
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("the picture cannot be encoded: out of memory");
    if (dictionary > 0)
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(data.data() + from - dictionary), uInt(dictionary));
    // A sync flush adds an empty stored block (5 bytes) to what the bound allows for.
    part.bytes.resize(deflateBound(&z, uLong(part.length)) + 16);
    z.next_in = reinterpret_cast<Bytef*>(data.data() + from);
    z.avail_in = uInt(part.length);
    z.next_out = reinterpret_cast<Bytef*>(part.bytes.data());
    z.avail_out = uInt(part.bytes.size());
    const int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool whole = last ? status == Z_STREAM_END : status == Z_OK && z.avail_in == 0 && z.avail_out > 0;
    part.bytes.resize(part.bytes.size() - z.avail_out);
    deflateEnd(&z);
    if (!whole)
        throw std::runtime_error("the picture cannot be encoded");
    return part;
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

std::string waterfallPngBytesInParts(const QImage& picture, int parts, int threads)
{
    const QImage image = picture.format() == QImage::Format_RGB32 ? picture
                                                                  : picture.convertToFormat(QImage::Format_RGB32);
    const int height = image.height();
    // A part of fewer than 64 rows is not worth its own start. The parts go to the
    // threads one at a time as each is free, so that a part that deflates slowly (the
    // map's noise against the white page) does not keep the others waiting.
    parts = std::clamp(parts, 1, std::max(1, height / 64));
    std::vector<DeflatedPart> deflated(static_cast<size_t>(parts));
    std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
    std::atomic<int> next{0};
    const auto encode = [&] {
        for (int p; (p = next.fetch_add(1)) < parts;) {
            try {
                deflated[size_t(p)] = deflateRows(image, int(int64_t(height) * p / parts),
                                                  int(int64_t(height) * (p + 1) / parts), p == parts - 1);
            } catch (...) {
                failures[size_t(p)] = std::current_exception();
            }
        }
    };
    rt::runAlongside(size_t(std::max(0, std::min(parts, threads) - 1)), encode);
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);

    std::string header;
    appendBigEndian(header, uint32_t(image.width()));
    appendBigEndian(header, uint32_t(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter choice, no interlace
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    appendChunk(bytes, "IHDR", header);
    // The zlib stream: its header (deflate, 32 KB window, fastest level), the parts,
    // and the Adler-32 of all the image data. One IDAT chunk per part.
    uLong adler = 1;
    for (size_t p = 0; p < deflated.size(); ++p) {
        std::string data = p == 0 ? std::string("\x78\x01", 2) : std::string();
        data += deflated[p].bytes;
        adler = adler32_combine(adler, deflated[p].adler, z_off_t(deflated[p].length));
        if (p + 1 == deflated.size())
            appendBigEndian(data, uint32_t(adler));
        appendChunk(bytes, "IDAT", data);
    }
    appendChunk(bytes, "IEND", {});
    return bytes;
}

namespace {

QImage drawWaterfall(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width, int height)
{
    const bool blocks = settings.keepProfiles == ProfileRows::Blocks;
    const std::optional<double> perBin = secondsPerBin(analysis, settings);
    const double scale = perBin ? *perBin * 1e9 : 1.0;
    const QString delayLabel = perBin ? "delay (ns)" : "delay (bins)";

    QCustomPlot plot;
    plot.setLocale(QLocale::c());  // numbers as in the heading and the CSV, in every locale
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
    // Each channel's cells reduced and filled in on a thread of its own, as many as
    // there are cores (and as the system gives), each taking the next channel left.
    const size_t mapped = analysis.channels.size();
    std::vector<ChannelMap> maps(mapped);
    {
        const MapPixels pixels = waterfallMapPixels(width, height, channels);
        std::atomic<size_t> next{0};
        std::vector<std::exception_ptr> failures(mapped);
        const auto fill = [&] {
            for (size_t c; (c = next.fetch_add(1)) < mapped;) {
                try {
                    maps[c] = channelMap(analysis.channels[c], pixels, scale);
                } catch (...) {
                    failures[c] = std::current_exception();
                }
            }
        };
        const size_t cores = std::max(1u, std::thread::hardware_concurrency());
        rt::runAlongside(std::max<size_t>(1, std::min(cores, mapped)) - 1, fill);
        for (const std::exception_ptr& failure : failures)
            if (failure)
                std::rethrow_exception(failure);
    }
    float lowest = INFINITY, highest = -INFINITY;
    for (int c = 0; c < int(mapped); ++c) {
        const ChannelAnalysis& channel = analysis.channels[size_t(c)];
        const int rows = int(channel.profileRows);
        lowest = std::min(lowest, maps[size_t(c)].lowest);
        highest = std::max(highest, maps[size_t(c)].highest);

        grid->addElement(0, c, new QCPTextElement(&plot, "ch " + QString::number(channel.channel),
                                                  QFont("Sans", 11, QFont::Bold)));
        auto* rect = new QCPAxisRect(&plot);
        grid->addElement(1, c, rect);
        rect->setMarginGroup(QCP::msTop | QCP::msBottom, margins);
        QCPAxis* x = rect->axis(QCPAxis::atBottom);
        QCPAxis* y = rect->axis(QCPAxis::atLeft);
        auto* map = new QCPColorMap(x, y);
        map->setInterpolate(false);
        map->setData(maps[size_t(c)].data.release());  // the map takes it over
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
    return image;
}

}  // namespace

std::string analysisWaterfallPng(const RecordingAnalysis& analysis, const AnalysisSettings& settings, int width,
                                 int height)
{
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    return waterfallPngBytesInParts(drawWaterfall(analysis, settings, width, height), 4 * cores, cores);
}

void prepareWaterfall(const AnalysisSettings& settings, int width, int height)
{
    // A picture of the same parts on made-up rows: what stays is loaded and cached
    // for the real one (the fonts, their glyphs of letters and digits, the painter).
    RecordingAnalysis sample;
    sample.path = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ .-_/";
    sample.sweeps = 2;
    for (int c = 1; c <= (settings.channel == 0 ? 3 : 1); ++c) {
        ChannelAnalysis channel;
        channel.channel = c;
        channel.profilesDb.assign(2 * size_t(ProfileRowBins), -60.0f);
        channel.profilesDb[size_t(c)] = 0.0f;
        channel.profileRows = 2;
        sample.channels.push_back(std::move(channel));
    }
    drawWaterfall(sample, settings, width, height);
}

}  // namespace cli
