// The bitmap buffer: sizes, refused arguments, decoded pictures, flipping and resizing.

#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "CDibBuffer.h"

namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no error";
}

const std::string kTabs(8, '\t');

}  // namespace

TEST(CDibBuffer, CreateLaysOutOneBlock) {
    CDibBuffer rgb;
    rgb.Create(3, 2, 24, nullptr);
    EXPECT_EQ(rgb.Stride(), 12u);
    EXPECT_EQ(rgb.BlockSize(), 40u + 24u);
    const BitmapInfoHeader& h = *rgb.Header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, 24u);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(rgb.Bits(), rgb.Block() + 40);

    RgbQuad table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 77};
    CDibBuffer indexed;
    indexed.Create(3, 2, 8, table);
    EXPECT_EQ(indexed.Stride(), 4u);
    EXPECT_EQ(indexed.BlockSize(), 40u + 1024u + 8u);
    EXPECT_EQ(indexed.Header()->biClrUsed, 256u);
    EXPECT_EQ(indexed.ColourTable()[5].rgbRed, 5);
    EXPECT_EQ(indexed.ColourTable()[5].rgbReserved, 0);  // the reserved byte is cleared
}

TEST(CDibBuffer, RefusedArgumentsCarryTheirTexts) {
    const std::string empty = "invalid width or height argument: " + kTabs + " trying to create an empty dib";
    const std::string depth = "invalid argument: " + kTabs + " unsupported bits per pixel";
    CDibBuffer b;
    EXPECT_EQ(ErrorOf([&] { b.Create(0, 2, 24, nullptr); }), empty);
    EXPECT_EQ(ErrorOf([&] { b.Create(3, 0, 24, nullptr); }), empty);
    EXPECT_EQ(ErrorOf([&] { b.Create(3, 2, 16, nullptr); }), depth);
    EXPECT_EQ(ErrorOf([&] { b.Create(3, 2, 32, nullptr); }), depth);
    EXPECT_EQ(ErrorOf([&] { b.Create(3, 2, 8, nullptr); }), "invalid palette argument");
    EXPECT_EQ(ErrorOf([&] { b.CreateFromBitmap(nullptr); }), "invalid Bitmap");
    const QImage none;
    EXPECT_EQ(ErrorOf([&] { b.CreateFromBitmap(&none); }), "invalid Bitmap");
    EXPECT_EQ(ErrorOf([&] { b.CreateFromBitmapInfo(static_cast<const uint8_t*>(nullptr)); }),
              "invalid pbmi argument: NULL pointer");
    uint8_t bad[64] = {41};
    EXPECT_EQ(ErrorOf([&] { b.CreateFromBitmapInfo(bad); }), "invalid pbmi argument");
    EXPECT_TRUE(b.IsEmpty());
}

TEST(CDibBuffer, DecodedPictureIsStoredBottomUpWithItsResolution) {
    struct Case {
        int dotsPerMetre;
        int32_t stored;
    } cases[] = {{3780, 3780} /* 96 dpi */, {2835, 2835} /* 72 dpi */, {11811, 11811} /* 300 dpi */};
    for (const Case& c : cases) {
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::blue);
        image.setPixel(0, 0, qRgb(255, 0, 0));  // top left
        image.setDotsPerMeterX(c.dotsPerMetre);
        image.setDotsPerMeterY(c.dotsPerMetre);
        CDibBuffer b;
        b.CreateFromBitmap(&image);
        EXPECT_EQ(b.Header()->biXPelsPerMeter, c.stored);
        EXPECT_EQ(b.Header()->biYPelsPerMeter, c.stored);
        const uint8_t* top = b.Bits() + 2 * b.Stride();  // the last row in memory
        EXPECT_EQ(top[0], 0);
        EXPECT_EQ(top[2], 255);
        EXPECT_EQ(b.Bits()[0], 255);  // bottom row is blue
    }
}

TEST(CDibBuffer, CopyTurnsRowsOverAndKeepsTheMiddleRow) {
    CDibBuffer b;
    b.Create(1, 5, 24, nullptr);
    for (int r = 0; r < 5; ++r)
        std::memset(b.Bits() + r * b.Stride(), r + 1, b.Stride());
    EXPECT_TRUE(b.Copy());
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(b.Bits()[r * b.Stride()], 5 - r) << r;
}

TEST(CDibBuffer, DrawResizesToTwentyFourBits) {
    CDibBuffer empty;
    EXPECT_FALSE(empty.Draw(10, 10));

    RgbQuad mono[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    CDibBuffer b;
    b.Create(16, 8, 1, mono);
    std::memset(b.Bits(), 0xFF, b.Stride() * 8);  // all white
    const uint8_t* before = b.Block();
    EXPECT_TRUE(b.Draw(16, 8));
    EXPECT_EQ(b.Block(), before);  // same size: nothing done
    EXPECT_TRUE(b.Draw(5, 3));
    EXPECT_EQ(b.BitsPerPixel(), 24);
    EXPECT_EQ(b.Width(), 5);
    EXPECT_EQ(b.Height(), 3);
    EXPECT_EQ(b.Header()->biSizeImage, 0u);
    EXPECT_EQ(b.Bits()[0], 255);
}

TEST(CDibBuffer, PackedBitmapIsCopiedOrTakenOver) {
    CDibBuffer source;
    source.Create(2, 2, 24, nullptr);
    std::memset(source.Bits(), 9, source.Stride() * 2);
    CDibBuffer copy;
    copy.CreateFromBitmapInfo(source.Block());
    EXPECT_NE(copy.Block(), source.Block());
    EXPECT_EQ(copy.BlockSize(), source.BlockSize());
    EXPECT_EQ(copy.Bits()[3], 9);

    std::unique_ptr<uint8_t[]> block(new uint8_t[source.BlockSize()]);
    std::memcpy(block.get(), source.Block(), source.BlockSize());
    const uint8_t* raw = block.get();
    CDibBuffer owner;
    owner.CreateFromBitmapInfo(std::move(block));
    EXPECT_EQ(owner.Block(), raw);
}
