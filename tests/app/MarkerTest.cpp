// Marker bitmaps: the bounded BMP loader, premultiplied alpha, the shared
// cache, and hit tests by alpha.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstring>
#include <fstream>
#include <vector>

#include "Marker.h"
#include "MarkerBitmap.h"
#include "TestData.h"

namespace {

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = std::uint8_t(v >> (8 * i));
}

struct BmpSpec {
    int width = 4;
    int height = 3;
    int bpp = 32;
    int infoSize = 40;
    std::uint32_t compression = 0;
    int planes = 1;
    std::size_t cutPixels = 0;  // bytes missing at the end
};

// A bottom-up BMP; 32-bit pixels are B=200, G=100, R=50 with alpha from the
// callback (x, row from the bottom).
std::string WriteBmp(const std::string& path, const BmpSpec& s, std::uint8_t (*alpha)(int, int) = nullptr) {
    const int stride = (s.bpp * s.width + 31) / 32 * 4;
    const std::size_t pixels = std::size_t(stride) * std::size_t(s.height < 0 ? -s.height : s.height);
    std::vector<std::uint8_t> b(14 + s.infoSize + pixels, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, std::uint32_t(b.size()));
    Put32(b, 10, std::uint32_t(14 + s.infoSize));
    Put32(b, 14, std::uint32_t(std::max(s.infoSize, 0)));
    Put32(b, 18, std::uint32_t(s.width));
    Put32(b, 22, std::uint32_t(s.height));
    b[26] = std::uint8_t(s.planes);
    b[28] = std::uint8_t(s.bpp);
    Put32(b, 30, s.compression);
    for (int y = 0; y < std::abs(s.height) && s.bpp == 32; ++y)
        for (int x = 0; x < s.width; ++x) {
            std::uint8_t* p = &b[14 + s.infoSize + std::size_t(y) * stride + std::size_t(x) * 4];
            p[0] = 200, p[1] = 100, p[2] = 50, p[3] = alpha ? alpha(x, y) : 255;
        }
    b.resize(b.size() - s.cutPixels);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

}  // namespace

TEST(MarkerBitmap, LoadsAndPremultiplies) {
    TestData::ScratchDir dir;
    const auto bmp = Markers::LoadPremultipliedBitmap(
        WriteBmp(dir / "m.bmp", {}, [](int x, int y) { return std::uint8_t(x == 1 && y == 0 ? 127 : 51); }));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->width, 4);
    EXPECT_EQ(bmp->height, 3);
    EXPECT_EQ(bmp->stride, 16);
    const std::uint8_t* p = &bmp->bits[4];  // (1, bottom row): alpha 127
    EXPECT_EQ(p[0], 200 * 127 / 255);
    EXPECT_EQ(p[1], 100 * 127 / 255);
    EXPECT_EQ(p[2], 50 * 127 / 255);
    EXPECT_EQ(p[3], 127);
    EXPECT_EQ(bmp->bits[0], 200 * 51 / 255);
}

TEST(MarkerBitmap, RefusesDamagedFiles) {
    TestData::ScratchDir dir;
    const struct {
        const char* name;
        BmpSpec spec;
    } cases[] = {
        {"header block too small", {.infoSize = 20}},
        {"header block huge", {.infoSize = 5000}},
        {"width 0", {.width = 0}},
        {"width over 4096", {.width = 5000, .height = 1}},
        {"top-down rows", {.height = -3}},
        {"8 bits", {.bpp = 8}},
        {"compressed", {.compression = 1}},
        {"two planes", {.planes = 2}},
        {"short pixel data", {.cutPixels = 1}},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(Markers::LoadPremultipliedBitmap(WriteBmp(dir / "bad.bmp", c.spec))) << c.name;
    EXPECT_FALSE(Markers::LoadPremultipliedBitmap(dir / "missing.bmp"));
    std::ofstream(dir / "text.bmp") << "not a bitmap";
    EXPECT_FALSE(Markers::LoadPremultipliedBitmap(dir / "text.bmp"));
    EXPECT_TRUE(Markers::LoadPremultipliedBitmap(WriteBmp(dir / "ok24.bmp", {.bpp = 24})));
    EXPECT_TRUE(Markers::LoadPremultipliedBitmap(WriteBmp(dir / "ok16.bmp", {.bpp = 16})));
}

TEST(Marker, HitsByAlphaAndSharesBitmaps) {
    TestData::ScratchDir dir;
    const std::string file = WriteBmp(dir / "hit.bmp", {}, [](int x, int) {
        return std::uint8_t(x == 0 ? 126 : x == 1 ? 127 : 255);
    });
    CMarker a(0, file, QPoint(1, 1));
    CMarker b(1, file, QPoint(0, 0));
    EXPECT_EQ(a.Bitmap(), b.Bitmap());  // one bitmap per file name
    a.clientPosition = QPoint(10, 10);
    EXPECT_EQ(a.GetRect(), QRect(9, 9, 4, 3));
    EXPECT_FALSE(a.HitTest(QPoint(9, 10)));  // alpha 126
    EXPECT_TRUE(a.HitTest(QPoint(10, 10)));  // alpha 127
    EXPECT_FALSE(a.HitTest(QPoint(13, 10)));
    a.visible = false;
    EXPECT_FALSE(a.HitTest(QPoint(10, 10)));

    CMarker missing(2, dir / "none.bmp", QPoint(3, 3));
    EXPECT_EQ(missing.Width(), 0);
    EXPECT_FALSE(missing.HitTest(QPoint(0, 0)));
    CMarker opaque(2, WriteBmp(dir / "rgb.bmp", {.bpp = 24}), QPoint(0, 0));
    EXPECT_TRUE(opaque.HitTest(QPoint(0, 0)));  // no alpha: the whole rectangle

    CMarkerArray markers;
    markers.Add(std::make_unique<CMarker>(0, file, QPoint(0, 0)));
    markers.Add(std::make_unique<CMarker>(1, file, QPoint(0, 0)));
    markers.At(1)->clientPosition = QPoint(2, 0);
    EXPECT_EQ(markers.HitTest(QPoint(3, 1))->index, 0);  // index 0 is on top
    markers.BringToFront(markers.FindByIndex(1));
    EXPECT_EQ(markers.First()->index, 1);
    EXPECT_EQ(markers.HitTest(QPoint(3, 1))->index, 1);
    EXPECT_EQ(markers.HitTest(QPoint(2, 1))->index, 0);  // marker 1 is transparent there

    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    a.visible = true;
    a.Draw(painter, QPoint(0, 0));
    painter.end();
    // Alpha 255 at x = 2: the marker's own colour.
    EXPECT_EQ(canvas.pixel(11, 9), qRgb(50, 100, 200));
}
