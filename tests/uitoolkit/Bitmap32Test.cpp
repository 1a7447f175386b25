#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "Bitmap32.h"
#include "InterfaceImageList.h"
#include "TestSkin.h"
#include "UiServices.h"

namespace {

QByteArray Bmp32(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x, y, 7, 0x80));
    return Bitmap32::Encode(image);
}

void Put32(QByteArray& a, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        a[at + i] = char((v >> (8 * i)) & 0xff);
}

}  // namespace

TEST(Bitmap32, KeepsAlphaAndTurnsBottomUpRows) {
    const QByteArray data = Bmp32(3, 2);
    // The file's first pixel row is the image's bottom row.
    EXPECT_EQ(uchar(data[54 + 3]), 0x80);
    const QImage image = Bitmap32::Decode(data);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(image.pixel(2, 1), qRgba(2, 1, 7, 0x80));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0x80);
    // Row 0 of the file (the last bytes' predecessor block) is image row 1.
    EXPECT_EQ(qGreen(Bitmap32::Decode(data).pixel(0, 1)), 1);
}

TEST(Bitmap32, RefusesMalformedFiles) {
    const QByteArray good = Bmp32(4, 4);
    struct Case {
        const char* what;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"no signature", [](QByteArray& a) { a[0] = 'X'; }},
        {"short header", [](QByteArray& a) { a.truncate(13); }},
        {"offset below the headers", [](QByteArray& a) { Put32(a, 10, 40); }},
        {"offset past the end", [](QByteArray& a) { Put32(a, 10, 100000); }},
        {"info header too small", [](QByteArray& a) { Put32(a, 14, 12); }},
        {"two planes", [](QByteArray& a) { a[26] = 2; }},
        {"24 bits", [](QByteArray& a) { a[28] = 24; }},
        {"8 bits", [](QByteArray& a) { a[28] = 8; }},
        {"RLE", [](QByteArray& a) { Put32(a, 30, 1); }},
        {"zero width", [](QByteArray& a) { Put32(a, 18, 0); }},
        {"negative height (top-down)", [](QByteArray& a) { Put32(a, 22, uint32_t(-4)); }},
        {"huge",
         [](QByteArray& a) {
             Put32(a, 18, 65536);
             Put32(a, 22, 65536);
         }},
        {"truncated pixels", [](QByteArray& a) { a.chop(5); }},
    };
    ASSERT_FALSE(Bitmap32::Decode(good).isNull());
    for (const Case& c : cases) {
        QByteArray bad = good;
        c.damage(bad);
        EXPECT_TRUE(Bitmap32::Decode(bad).isNull()) << c.what;
    }
    EXPECT_TRUE(Bitmap32::LoadBitmap32("/no/such/file.bmp").isNull());
}

TEST(InterfaceImageList, LoadMakesSquareCellsWhenNoWidthIsGiven) {
    QTemporaryDir dir;
    const QString path = WriteBmp(dir.path(), "strip.bmp", QSize(64, 16), 0xff102030);
    MainInterface::CInterfaceImageList list;
    ASSERT_TRUE(list.Load(path, 0));
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.GetCellSize(), QSize(16, 16));
    EXPECT_FALSE(list.Load(QString(), 0));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetCellSize(), QSize());
}

TEST(InterfaceImageList, LoadStripPlacesEachFileInItsCell) {
    QTemporaryDir dir;
    const QString a = WriteBmp(dir.path(), "a.bmp", QSize(4, 4), 0xffff0000);
    const QString c = WriteBmp(dir.path(), "c.bmp", QSize(4, 4), 0xff00ff00);
    const QString d = WriteBmp(dir.path(), "d.bmp", QSize(4, 4), 0xff0000ff);
    const QString tall = WriteBmp(dir.path(), "tall.bmp", QSize(4, 5), 0xffffffff);
    QImage rgb(4, 4, QImage::Format_RGB888);
    rgb.fill(Qt::gray);
    const QString bmp24 = dir.path() + "/rgb24.bmp";
    rgb.save(bmp24, "BMP");

    QStringList messages;
    UiServices::SetMessageHandler([&](QWidget*, const QString& text, const QString&) { messages << text; });
    auto cellColour = [](const MainInterface::CInterfaceImageList& l, int cell) {
        return l.Image().pixel(cell * 4 + 1, 1);
    };

    MainInterface::CInterfaceImageList missing;
    ASSERT_TRUE(missing.LoadStrip({a, dir.path() + "/missing.bmp", c, d}));
    EXPECT_EQ(cellColour(missing, 0), 0xffff0000u);
    EXPECT_EQ(qAlpha(cellColour(missing, 1)), 0) << "a missing file keeps its cell, empty";
    EXPECT_EQ(cellColour(missing, 2), 0xff00ff00u);

    MainInterface::CInterfaceImageList wrongFormat;
    ASSERT_TRUE(wrongFormat.LoadStrip({a, bmp24, c, d}));
    EXPECT_EQ(cellColour(wrongFormat, 1), 0xff00ff00u) << "a 24-bit file takes no cell";
    EXPECT_EQ(cellColour(wrongFormat, 2), 0xff0000ffu);

    MainInterface::CInterfaceImageList wrongSize;
    ASSERT_TRUE(wrongSize.LoadStrip({a, tall, c, d}));
    EXPECT_EQ(cellColour(wrongSize, 1), 0xff00ff00u);
    QCoreApplication::processEvents();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Wrong image size, file: " + tall);
    UiServices::SetMessageHandler(nullptr);
}
