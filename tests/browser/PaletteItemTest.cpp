// Thumbnail items: fitting, the quick and full loads, and the JPEG block.

#include <gtest/gtest.h>

#include <climits>

#include <QImage>

#include <cstring>
#include <stdexcept>

#include "CPaletteItem.h"
#include "ExifFixture.h"
#include "RecordArchive.h"
#include "TestData.h"

using namespace Fixture;

TEST(CPaletteItem, FitToBoxFillsTheBoxOneWay) {
    CPaletteItemImg item;
    struct Case {
        int w, h, cx, cy;
    } cases[] = {{3000, 2000, 220, 146}, {2000, 3000, 110, 165}, {100, 50, 220, 110},
                 {0, 0, 10, 10},         {-5, 10, 10, 10},       {2147483647, 1, 220, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(item.FitToBox(c.w, c.h), QSize(c.cx, c.cy)) << c.w << "x" << c.h;
}

TEST(CPaletteItem, ByteBlocksAreNeverEmpty) {
    EXPECT_THROW(CByteBlock::Make(0), std::invalid_argument);
    try {
        CByteBlock::Make(0);
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid num_bytes argument");
    }
    auto block = CByteBlock::Make(3);
    EXPECT_EQ(CByteBlock::Copy(*block)->Size(), 3u);
}

TEST(CPaletteItem, QuickLoadTakesTheEmbeddedPreview) {
    TestData::ScratchDir dir;
    struct Case {
        bool makerNoteJpeg;
        int final;
    } cases[] = {{false, 0}, {true, 1}};
    for (const Case& c : cases) {
        CameraOptions o;
        o.makerNoteJpeg = c.makerNoteJpeg;
        const std::string path = dir / "IMG_0001.JPG";
        WriteFile(path, CameraJpeg(o));
        CPaletteItemImg item;
        ASSERT_EQ(item.Load(path, false, nullptr), 1);
        EXPECT_EQ(item.m_final, c.final);
        EXPECT_EQ(item.m_sourceWidth, 64);
        EXPECT_EQ(item.m_sourceHeight, 48);
        EXPECT_EQ(item.m_bitsPerPixel, 24);
        EXPECT_EQ(QSize(item.m_thumbWidth, item.m_thumbHeight), QSize(220, 165));
        ASSERT_TRUE(item.Bitmap());
        EXPECT_EQ(item.Bitmap()->Width(), 220);
        EXPECT_TRUE(item.Jpeg());  // compressed for the cache
        EXPECT_EQ(item.m_description, "Harbour at dawn");
    }
}

TEST(CPaletteItem, FullLoadDecodesAndAFinalItemKeepsItsPixels) {
    TestData::ScratchDir dir;
    const std::string path = dir / "photo.png";
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    ASSERT_TRUE(image.save(QString::fromStdString(path)));

    CPaletteItemImg item;
    ASSERT_EQ(item.Load(path, true, nullptr), 1);
    EXPECT_EQ(item.m_final, 1);
    EXPECT_EQ(QSize(item.m_sourceWidth, item.m_sourceHeight), QSize(300, 200));
    EXPECT_EQ(QSize(item.m_thumbWidth, item.m_thumbHeight), QSize(220, 146));
    const auto pixels = item.Bitmap();
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->Width(), 220);
    EXPECT_NEAR(pixels->Bits()[1], 200, 2);  // green

    // Final and refine allowed: the file is decoded, the thumbnail stays.
    ASSERT_EQ(item.Load(path, true, nullptr), 1);
    EXPECT_EQ(item.Bitmap(), pixels);

    // Files the browser does not read, or that do not decode, give 0.
    WriteFile(dir / "notes.txt", {'x'});
    WriteFile(dir / "broken.jpg", {0xFF, 0xD8, 0xFF});
    CPaletteItemImg other;
    EXPECT_EQ(other.Load(dir / "notes.txt", false, nullptr), 0);
    EXPECT_EQ(other.Load(dir / "broken.jpg", false, nullptr), 0);
    EXPECT_FALSE(other.HasThumbnail());
}

TEST(CPaletteItem, DamagedPreviewFallsBackToTheWholePicture) {
    TestData::ScratchDir dir;
    CameraOptions o;
    o.makerNoteJpeg = false;
    Bytes file = CameraJpeg(o);
    // The first directory's count (after SOI, APP1 header, "Exif" and the
    // 8-byte TIFF header) jumps far past the block: the preview reader
    // fails, the main picture still decodes.
    ASSERT_EQ(file[20], 8);
    file[20] = 0xFF;
    file[21] = 0x7F;
    const std::string path = dir / "IMG_0002.JPG";
    WriteFile(path, file);
    CPaletteItemImg item;
    EXPECT_EQ(item.Load(path, false, nullptr), 1);
    EXPECT_EQ(item.m_final, 1);
    EXPECT_EQ(QSize(item.m_sourceWidth, item.m_sourceHeight), QSize(64, 48));
}

TEST(CPaletteItem, JpegBlockGivesTheBufferBackAsItLay) {
    auto dib = std::make_shared<CDibBuffer>();
    dib->Create(64, 48, 24, nullptr);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = dib->Bits() + y * dib->Stride() + 3 * x;
            p[0] = y < 24 ? 230 : 10;  // first byte (blue) high in the bottom half
            p[1] = 40;
            p[2] = y < 24 ? 10 : 230;
        }
    CPaletteItemImg item;
    item.m_thumbWidth = 64;
    item.m_thumbHeight = 48;
    item.SetBitmap(dib);
    item.Compress();
    ASSERT_TRUE(item.Jpeg());
    item.SetBitmap(nullptr);
    const auto back = item.Decompress();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Width(), 64);
    EXPECT_EQ(back->Height(), 48);
    EXPECT_EQ(back->Header()->biXPelsPerMeter, 2835);
    EXPECT_NEAR(back->Bits()[0], 230, 12);
    EXPECT_NEAR(back->Bits()[47 * back->Stride() + 2], 230, 12);

    // The block is upside down with red and blue exchanged: a plain decoder
    // sees the buffer's first row at the top and its blue as red.
    const CByteBlock& block = *item.Jpeg();
    const QImage plain = QImage::fromData(block.Data(), int(block.Size()), "JPG");
    ASSERT_FALSE(plain.isNull());
    EXPECT_GT(qRed(plain.pixel(5, 2)), 180);
    EXPECT_LT(qBlue(plain.pixel(5, 2)), 60);
}

namespace {

std::vector<uint8_t> Stored(CPaletteItemImg& item) {
    RecordTest::Writer w;
    item.StoreRecord(w);
    return w.bytes;
}

}  // namespace

TEST(CPaletteItemRecord, RoundTripKeepsEveryStoredValue) {
    CPaletteItemImg item;
    item.m_fileTime = 1234567890123;
    item.m_thumbWidth = 220;
    item.m_thumbHeight = 124;
    item.SetBitmap([] {
        auto dib = std::make_shared<CDibBuffer>();
        dib->Create(220, 124, 24, nullptr);
        std::memset(dib->Bits(), 90, dib->Stride() * 124);
        return dib;
    }());
    item.m_sourceWidth = 4000;
    item.m_bitsPerPixel = 24;
    item.m_final = 1;
    item.m_exposure = "1/250";
    item.m_fNumber = "2.8";
    item.m_lastUse = -1;
    item.m_stored[0] = -1;
    item.m_stored[5] = 77;
    item.m_rating = 3;
    item.m_refineAllowed = 0;
    // Edges at the ends of the range read and write back unchanged.
    item.m_rects = {{1, 2, 4, 6}, {INT_MIN, INT_MAX, INT_MIN, INT_MAX}, {INT_MAX, INT_MIN, INT_MAX, INT_MIN}};
    const std::vector<uint8_t> bytes = Stored(item);
    ASSERT_TRUE(item.Jpeg());  // storing compressed the bitmap first

    CPaletteItemImg back;
    RecordTest::Reader r(bytes);
    back.LoadRecord(r);
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_EQ(back.m_fileTime, item.m_fileTime);
    EXPECT_EQ(QSize(back.m_thumbWidth, back.m_thumbHeight), QSize(220, 124));
    EXPECT_EQ(back.m_sourceWidth, 4000);
    EXPECT_EQ(back.m_final, 1);
    EXPECT_EQ(back.m_exposure, "1/250");
    EXPECT_EQ(back.m_fNumber, "2.8");
    EXPECT_EQ(back.m_lastUse, -1);
    EXPECT_EQ(back.m_stored[0], -1);
    EXPECT_EQ(back.m_stored[5], 77);
    EXPECT_EQ(back.m_rating, 3);
    EXPECT_EQ(back.m_refineAllowed, 0);
    EXPECT_EQ(back.m_rects, item.m_rects);
    EXPECT_EQ(Stored(back), bytes);
    ASSERT_TRUE(back.Jpeg());
    EXPECT_EQ(back.Jpeg()->Size(), item.Jpeg()->Size());
    const auto pixels = back.Decompress();
    ASSERT_TRUE(pixels);
    EXPECT_EQ(pixels->Width(), 220);
    EXPECT_EQ(pixels->Height(), 124);

    // Without pixels: has-pixels 0 and no length (file time 8, size 8, flag 4).
    CPaletteItemImg empty;
    const std::vector<uint8_t> none = Stored(empty);
    EXPECT_EQ(none[16], 0);
    EXPECT_EQ(none.size(), 8u + 8 + 4 + 24 + 2 + 8 + 28 + 1 + 2);
}

TEST(CPaletteItemRecord, RecordsForAnotherBoxOrDamagedAreRefused) {
    struct Case {
        int w, h;
        bool loads;
    } cases[] = {
        {220, 124, true}, {150, 165, true}, {200, 150, false}, {220, 0x7FFFFFFF, false}, {0, 165, false}};
    for (const Case& c : cases) {
        CPaletteItemImg item;
        item.m_thumbWidth = c.w;
        item.m_thumbHeight = c.h;
        const std::vector<uint8_t> bytes = Stored(item);
        CPaletteItemImg back;
        RecordTest::Reader r(bytes);
        if (c.loads) {
            EXPECT_NO_THROW(back.LoadRecord(r)) << c.w << "x" << c.h;
        } else {
            try {
                back.LoadRecord(r);
                ADD_FAILURE() << c.w << "x" << c.h;
            } catch (const CFileException& e) {
                EXPECT_EQ(e.m_cause, CFileException::invalidFile);
            }
        }
    }
    // A JPEG length of 0xFFFFFFFF, and every truncation, end cleanly.
    CPaletteItemImg item;
    item.m_thumbWidth = 22;
    item.m_thumbHeight = 165;
    item.SetBitmap([] {
        auto dib = std::make_shared<CDibBuffer>();
        dib->Create(22, 165, 24, nullptr);
        std::memset(dib->Bits(), 1, dib->Stride() * 165);
        return dib;
    }());
    std::vector<uint8_t> bytes = Stored(item);
    std::vector<uint8_t> huge = bytes;
    huge[20] = huge[21] = huge[22] = huge[23] = 0xFF;
    CPaletteItemImg back;
    RecordTest::Reader r(huge);
    EXPECT_THROW(back.LoadRecord(r), CFileException);
    for (size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(n));
        CPaletteItemImg partial;
        RecordTest::Reader rc(cut);
        try {
            partial.LoadRecord(rc);
            ADD_FAILURE() << "prefix " << n << " loaded";
        } catch (const RecordTest::ShortData&) {
        } catch (const CFileException&) {
        }
    }
}
