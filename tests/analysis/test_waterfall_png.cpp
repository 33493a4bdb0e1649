// The waterfall picture's PNG encoder: every picture decodes to the very pixels drawn.
#include "analysis_waterfall.h"

#include <QImage>
#include <gtest/gtest.h>

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

TEST(WaterfallPng, DecodesToThePixelsDrawn)
{
    const auto noise = [](int x, int y) {
        uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return qRgb(int(h & 0xff), int(h >> 8 & 0xff), int(h >> 16 & 0xff));
    };
    const Picture pictures[] = {
        {"one pixel", 1, 1, [](int, int) { return qRgb(12, 200, 7); }},
        {"white page", 200, 100, [](int, int) { return qRgb(255, 255, 255); }},
        {"every channel its own ramp", 257, 33, [](int x, int y) { return qRgb(x % 256, y * 7 % 256, (x + y) % 256); }},
        {"noise, odd size", 301, 97, noise},
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
