// Embedded previews of camera JPEG, TIFF and DNG files, and damaged files.

#include <gtest/gtest.h>

#include <cstring>

#include "CDibBuffer.h"
#include "ExifFixture.h"
#include "ExifThumbnail.h"
#include "TestData.h"

using namespace Fixture;

namespace {

struct Result {
    PackedDib dib;
    ThumbBox box;
    uint32_t mainWidth = 0, mainHeight = 0;
    int fromMakerNote = -1;
};

Result Extract(const std::string& path, ThumbBox box = {160, 120}) {
    Result r;
    r.box = box;
    r.dib = ExtractExifThumbnail(path, r.box, r.mainWidth, r.mainHeight, r.fromMakerNote);
    return r;
}

Result ExtractTiff(const std::string& path, ThumbBox box = {160, 120}) {
    Result r;
    r.box = box;
    r.dib = ExtractTiffThumbnail(path, r.box, r.mainWidth, r.mainHeight, r.fromMakerNote);
    return r;
}

BitmapInfoHeader HeaderOf(const PackedDib& dib) {
    BitmapInfoHeader h;
    std::memcpy(&h, dib.get(), 40);
    return h;
}

}  // namespace

TEST(ExifThumbnail, PreviewOfTheSecondDirectoryIsFittedToTheBox) {
    TestData::ScratchDir dir;
    const std::string path = dir / "IMG_0001.JPG";
    CameraOptions o;
    o.makerNoteJpeg = false;
    WriteFile(path, CameraJpeg(o));

    Result same = Extract(path, {160, 120});
    ASSERT_TRUE(same.dib);
    EXPECT_EQ(same.fromMakerNote, 0);
    EXPECT_EQ(same.mainWidth, 64u);
    EXPECT_EQ(same.mainHeight, 48u);
    const BitmapInfoHeader h = HeaderOf(same.dib);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 160);
    EXPECT_EQ(h.biHeight, 120);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 480u * 120u);
    EXPECT_EQ(h.biXPelsPerMeter, 2835);
    EXPECT_EQ(h.biYPelsPerMeter, 2835);
    // Blue, green, red: the left half of the preview is red.
    const uint8_t* left = same.dib.get() + 40;
    EXPECT_GT(left[2], 180);
    EXPECT_LT(left[0], 70);

    Result fitted = Extract(path, {100, 100});
    ASSERT_TRUE(fitted.dib);
    EXPECT_EQ(fitted.box.cx, 100u);
    EXPECT_EQ(fitted.box.cy, 75u);
    // The buffer handed back is one a CDibBuffer takes over.
    CDibBuffer buffer;
    buffer.CreateFromBitmapInfo(std::move(fitted.dib));
    EXPECT_EQ(buffer.Width(), 100);
}

TEST(ExifThumbnail, MakerNotePreviewWinsAndIsMarked) {
    TestData::ScratchDir dir;
    for (bool bigEndian : {false, true}) {
        const std::string path = dir / (bigEndian ? "mm.jpg" : "ii.jpg");
        CameraOptions o;
        o.bigEndian = bigEndian;
        WriteFile(path, CameraJpeg(o));
        Result r = Extract(path, {80, 80});
        ASSERT_TRUE(r.dib) << bigEndian;
        EXPECT_EQ(r.fromMakerNote, 1);
        EXPECT_EQ(r.box.cx, 80u);
        EXPECT_EQ(r.box.cy, 60u);
    }
}

TEST(ExifThumbnail, RawPreviewNeedsItsExactLength) {
    TestData::ScratchDir dir;
    struct Case {
        int w, h;
        int64_t delta;
        bool picture;
    } cases[] = {
        {8, 6, 0, true},
        {8, 6, 1, false},
        {8, 6, -1, false},
        {0, 6, 0, false},  // a preview without width
        // w x h x 3 wraps to 4 in 32 bits: a forged size must not pass on a short length.
        {0x55555556, 6, 0, false},
    };
    for (const Case& c : cases) {
        CameraOptions o;
        o.makerNoteJpeg = false;
        o.previewCompression = 1;
        o.rawWidth = c.w;
        o.rawHeight = c.h;
        o.rawLengthDelta = c.delta;
        if (c.w > 100) {  // keep the blob small: only the stated length is forged
            o.rawWidth = 8;
            o.rawHeight = 6;
        }
        Bytes file = CameraJpeg(o);
        if (c.w > 100) {
            // Patch the stated width to the forged one and the length to the wrapped product.
            TiffBuilder t(false);
            const size_t at =
                Find(file, {0x00, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00});
            ASSERT_NE(at, std::string::npos);
            const Bytes w = t.U32(uint32_t(c.w));
            std::memcpy(&file[at + 8], w.data(), 4);
            const size_t len = Find(file, {0x17, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00});
            ASSERT_NE(len, std::string::npos);
            const Bytes wrapped = t.U32(uint32_t(uint64_t(c.w) * 6 * 3));
            std::memcpy(&file[len + 8], wrapped.data(), 4);
        }
        const std::string path = dir / "raw.jpg";
        WriteFile(path, file);
        Result r = Extract(path, {4, 3});
        EXPECT_EQ(bool(r.dib), c.picture) << c.w << "x" << c.h << " " << c.delta;
    }
}

TEST(ExifThumbnail, FilesThatGiveNoPreview) {
    TestData::ScratchDir dir;
    // Extensions are checked before the file is opened: these do not exist.
    EXPECT_FALSE(Extract(dir / "a.jpeg").dib);
    EXPECT_FALSE(ExtractTiff(dir / "a.tiff").dib);

    // A first APP1 that is not EXIF hides a later one.
    Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0};
    Bytes file = JpegWithApp1(xmp, CameraJpeg());
    WriteFile(dir / "xmp.jpg", file);
    EXPECT_FALSE(Extract(dir / "xmp.jpg").dib);

    // No second directory: nothing, even with a JPEG maker note.
    CameraOptions o;
    o.withPreview = false;
    WriteFile(dir / "noifd1.jpg", CameraJpeg(o));
    EXPECT_FALSE(Extract(dir / "noifd1.jpg").dib);

    // A plain JPEG has no EXIF at all.
    WriteFile(dir / "plain.jpg", EncodeJpeg(20, 10));
    EXPECT_FALSE(Extract(dir / "plain.jpg").dib);
}

TEST(ExifThumbnail, ForgedPreviewSizesAndOffsets) {
    TestData::ScratchDir dir;
    CameraOptions o;
    o.makerNoteJpeg = false;
    const Bytes good = CameraJpeg(o);
    const Bytes preview = EncodeJpeg(160, 120);
    const size_t at = Find(good, preview);
    ASSERT_NE(at, std::string::npos);

    // The preview's own frame header declares 65535 x 65535: refused before
    // a whole-picture buffer could be made.
    Bytes huge = good;
    const size_t sof = Find(huge, {0xFF, 0xC0}, at);
    ASSERT_NE(sof, std::string::npos);
    huge[sof + 5] = huge[sof + 6] = huge[sof + 7] = huge[sof + 8] = 0xFF;
    WriteFile(dir / "huge.jpg", huge);
    EXPECT_FALSE(Extract(dir / "huge.jpg").dib);

    // An offset past the end of the file.
    TiffBuilder t(false);
    Bytes past = good;
    const size_t offset = Find(past, {0x01, 0x02, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00});
    ASSERT_NE(offset, std::string::npos);
    const Bytes far = t.U32(0x7FFFFFF0);
    std::memcpy(&past[offset + 8], far.data(), 4);
    WriteFile(dir / "past.jpg", past);
    EXPECT_FALSE(Extract(dir / "past.jpg").dib);

    // A maker note whose count is 0xFFFFFFFF is passed over; the second
    // directory's preview still comes.
    CameraOptions withNote;
    Bytes note = CameraJpeg(withNote);
    const size_t tag = Find(note, {0x7C, 0x92, 0x07, 0x00});
    ASSERT_NE(tag, std::string::npos);
    note[tag + 4] = note[tag + 5] = note[tag + 6] = note[tag + 7] = 0xFF;
    WriteFile(dir / "note.jpg", note);
    Result r = Extract(dir / "note.jpg");
    ASSERT_TRUE(r.dib);
    EXPECT_EQ(r.fromMakerNote, 0);
}

TEST(ExifThumbnail, TiffAndDngPreviews) {
    TestData::ScratchDir dir;
    WriteFile(dir / "shot.tif", CameraTiff(true, false));
    Result tif = ExtractTiff(dir / "shot.tif", {16, 16});
    ASSERT_TRUE(tif.dib);
    EXPECT_EQ(tif.mainWidth, 640u);  // "MM" SHORT
    EXPECT_EQ(tif.mainHeight, 480u);
    EXPECT_EQ(tif.box.cx, 16u);
    EXPECT_EQ(tif.box.cy, 12u);
    EXPECT_EQ(tif.fromMakerNote, 0);

    WriteFile(dir / "shot.dng", CameraTiff(false, true));
    Result dng = ExtractTiff(dir / "shot.dng");
    ASSERT_TRUE(dng.dib);
    EXPECT_EQ(dng.box.cx, 160u);

    WriteFile(dir / "noexif.tif", CameraTiff(false, false, false));
    EXPECT_FALSE(ExtractTiff(dir / "noexif.tif").dib);

    Bytes small = CameraTiff(false, false);
    small.resize(128);
    WriteFile(dir / "small.tif", small);
    EXPECT_FALSE(ExtractTiff(dir / "small.tif").dib);
}

TEST(ExifThumbnail, FitToBoxKeepsTheShapeInSixtyFourBits) {
    struct Case {
        ThumbBox box;
        uint32_t w, h;
        uint32_t cx, cy;
    } cases[] = {
        {{160, 120}, 160, 120, 160, 120}, {{100, 100}, 160, 120, 100, 75},
        {{100, 100}, 120, 160, 75, 100},  {{220, 165}, 0xFFFFFFFF, 0xFFFFFFFF, 165, 165},
        {{220, 165}, 100000, 1, 220, 1},  // thin pictures keep one pixel
        {{220, 165}, 40, 30, 220, 165},   // small previews are enlarged
    };
    for (const Case& c : cases) {
        const ThumbBox out = FitToBox(c.box, c.w, c.h);
        EXPECT_EQ(out.cx, c.cx) << c.w << "x" << c.h;
        EXPECT_EQ(out.cy, c.cy) << c.w << "x" << c.h;
    }
}
