// The waterfall picture's PNG encoder: every picture decodes to the very pixels drawn.
#include "analysis_waterfall.h"

#include <QImage>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>

namespace {

struct Picture {
    const char* name;
    int width;
    int height;
    std::function<QRgb(int x, int y)> pixel;
};

QImage paint(const Picture& p, QImage::Format format)
{
    QImage image(p.width, p.height, QImage::Format_RGB32);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            image.setPixel(x, y, p.pixel(x, y));
    return image.convertToFormat(format);
}

QRgb noise(int x, int y)
{
    uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return qRgb(int(h & 0xff), int(h >> 8 & 0xff), int(h >> 16 & 0xff));
}

uint32_t be32(const std::string& png, size_t at)
{
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
}

// The chunk types in order, or "bad CRC" where a chunk's CRC is wrong.
std::string chunkTypes(const std::string& png)
{
    std::string types;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = be32(png, at);
        if (at + 12 + length > png.size())
            return types + " cut short";
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + at + 4), uInt(4 + length));
        types += (types.empty() ? "" : " ") + png.substr(at + 4, 4);
        if (crc != be32(png, at + 8 + length))
            types += " bad CRC";
        at += 12 + length;
    }
    return types;
}

// How many pixels of the decoded PNG differ from the picture (-1: it does not decode to
// an opaque picture of its size).
int wrongPixels(const std::string& png, const Picture& p)
{
    QImage decoded;
    if (!decoded.loadFromData(reinterpret_cast<const uchar*>(png.data()), qsizetype(png.size()), "png") ||
        decoded.size() != QSize(p.width, p.height) || decoded.hasAlphaChannel())
        return -1;
    int wrong = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            wrong += decoded.pixel(x, y) != p.pixel(x, y);
    return wrong;
}

TEST(WaterfallPng, DecodesToThePixelsDrawn)
{
    const Picture pictures[] = {
        {"one pixel", 1, 1, [](int, int) { return qRgb(12, 200, 7); }},
        {"white page", 200, 100, [](int, int) { return qRgb(255, 255, 255); }},
        {"every channel its own ramp", 257, 33, [](int x, int y) { return qRgb(x % 256, y * 7 % 256, (x + y) % 256); }},
        {"noise, odd size", 301, 97, [](int x, int y) { return noise(x, y); }},
        {"one column", 1, 500, [](int, int y) { return qRgb(y % 256, 0, 255 - y % 256); }},
    };
    for (const Picture& p : pictures)
        for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied,
                                            QImage::Format_RGB888}) {
            SCOPED_TRACE(std::string(p.name) + ", format " + std::to_string(int(format)));
            const QImage drawn = paint(p, format);
            const std::string png = cli::waterfallPngBytes(drawn);
            ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
            QImage decoded;
            ASSERT_TRUE(decoded.loadFromData(reinterpret_cast<const uchar*>(png.data()), qsizetype(png.size()), "png"));
            ASSERT_EQ(decoded.size(), drawn.size());
            EXPECT_FALSE(decoded.hasAlphaChannel());
            int wrong = 0;
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x)
                    wrong += decoded.pixel(x, y) != p.pixel(x, y);
            EXPECT_EQ(wrong, 0);
        }
}

}  // namespace

// Deflated in parts at once: every part count decodes to the same pixels as the plain
// encoding, each chunk's CRC and the stream's Adler-32 right (the decoder checks the
// latter), and the parts compress as the whole does (each starts from the data before it).
TEST(WaterfallPng, PartsDecodeToThePixelsDrawn)
{
    const Picture pictures[] = {
        {"one pixel", 1, 1, [](int, int) { return qRgb(12, 200, 7); }},
        {"fewer rows than a part needs", 50, 63, [](int x, int y) { return noise(x, y); }},
        {"noise", 301, 640, [](int x, int y) { return noise(x, y); }},
        // Rows repeating every 9: the same rows across a part's border compress only with
        // the part before as the dictionary.
        {"repeating rows", 1000, 700, [](int x, int y) { return noise(x, y % 9); }},
        {"bands and a page", 1600, 1000, [](int x, int y) {
             return x < 100 || y < 120 ? qRgb(255, 255, 255) : qRgb(x / 7 % 256, (y / 3) % 256, 128);
         }},
    };
    for (const Picture& p : pictures) {
        const QImage drawn = paint(p, QImage::Format_RGB32);
        const std::string plain = cli::waterfallPngBytes(drawn);
        ASSERT_EQ(wrongPixels(plain, p), 0) << p.name;
        const struct { int parts, threads; } splits[] = {{1, 1}, {2, 2}, {3, 2}, {8, 3}, {8, 1}};
        for (const auto [parts, threads] : splits) {
            SCOPED_TRACE(std::string(p.name) + ", " + std::to_string(parts) + " parts on " + std::to_string(threads) +
                         " threads");
            const std::string png = cli::waterfallPngBytesInParts(drawn, parts, threads);
            ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
            const std::string types = chunkTypes(png);
            EXPECT_EQ(types.find("bad CRC"), std::string::npos) << types;
            EXPECT_EQ(types.substr(0, 9), "IHDR IDAT") << types;
            EXPECT_EQ(types.substr(types.size() - 4), "IEND") << types;
            // The header as the plain encoding writes it: size, 8-bit RGB, no interlace.
            EXPECT_EQ(png.substr(8, 25), plain.substr(8, 25));
            EXPECT_EQ(wrongPixels(png, p), 0);
            EXPECT_LT(double(png.size()), 1.02 * double(plain.size()) + 100.0 * parts);
        }
    }
}
