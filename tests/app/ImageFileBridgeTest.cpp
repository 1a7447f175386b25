#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "DocTestSupport.h"
#include "ImageFileBridge.h"
#include "ModuleThumbnailReader.h"

namespace {

std::vector<std::uint8_t> Samples16(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v & 0xff));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return bytes;
}

// A bottom-up 24-bit DIB whose pixel (x, y from the bottom) encodes its place.
struct TestDib {
    TestDib(int w, int h) : width(w), height(h) {
        info.header.biWidth = w;
        info.header.biHeight = h;
        info.header.biBitCount = 24;
        stride = (24 * w + 31) / 32 * 4;
        bits.assign(static_cast<std::size_t>(stride) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = &bits[static_cast<std::size_t>(y) * stride + 3 * x];
                p[0] = static_cast<std::uint8_t>(x * 7);
                p[1] = static_cast<std::uint8_t>(y * 11);
                p[2] = static_cast<std::uint8_t>(200);
            }
    }
    int width, height, stride;
    BitmapInfo info;
    std::vector<std::uint8_t> bits;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(CReadFilePlus, SixteenBitSamplesKeepTheirHighBytesAndRowZeroIsTheBottomLine) {
    struct Case {
        int pixelType;
        int width;
        std::vector<std::uint8_t> row;
        std::vector<std::uint8_t> expected;
        int bitsPerPixel;
    };
    const Case cases[] = {
        {ImExp::PixelGrey16, 3, Samples16({0x1234, 0xff00, 0x00ff}), {0x12, 0xff, 0x00}, 8},
        {ImExp::PixelRgb48, 1, Samples16({0x0a01, 0x0b02, 0x0c03}), {0x0a, 0x0b, 0x0c}, 24},
        {ImExp::PixelRgb24, 2, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, 24},
    };
    for (const Case& c : cases) {
        CReadFilePlus sink;
        sink.SetSize(0, 0, c.width, 2);
        sink.SetFormat(0, 0, c.pixelType);
        std::vector<std::uint8_t> zero(c.row.size(), 0);
        sink.PutRow(0, 0, 0, c.row.data());
        sink.PutRow(0, 0, 1, zero.data());
        ASSERT_TRUE(sink.IsGood()) << c.pixelType;
        const ReadBitmap& bitmap = sink.Bitmap();
        EXPECT_EQ(bitmap.bitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(std::vector<std::uint8_t>(bitmap.Line(1), bitmap.Line(1) + c.expected.size()), c.expected)
            << c.pixelType;
        EXPECT_EQ(bitmap.Line(0)[0], 0);
    }
    // A 16-bit grey picture shows its levels through a grey ramp.
    CReadFilePlus grey;
    grey.SetSize(0, 0, 1, 1);
    grey.SetFormat(0, 0, ImExp::PixelGrey16);
    const auto sample = Samples16({0x8000});
    grey.PutRow(0, 0, 0, sample.data());
    ASSERT_EQ(grey.Bitmap().palette.size(), 256u * 4);
    EXPECT_EQ(grey.Bitmap().palette[0x80 * 4], 0x80);
}

TEST(CReadFilePlus, ConverterFaultsNeitherOverrunNorPassAsSuccess) {
    // Rows outside the picture are dropped.
    CReadFilePlus sink;
    sink.SetSize(0, 0, 2, 2);
    sink.SetFormat(0, 0, ImExp::PixelRgb24);
    const std::uint8_t row[6] = {9, 9, 9, 9, 9, 9};
    for (int r : {-1, 2, 1000000})
        EXPECT_EQ(sink.PutRow(0, 0, r, row), 0);
    EXPECT_TRUE(sink.IsGood());
    for (std::uint8_t b : sink.Bitmap().bits)
        EXPECT_EQ(b, 0);
    // A palette of more than 256 entries is cut to 256.
    std::vector<std::uint8_t> bigPalette(1000 * 4, 7);
    sink.SetPalette(0, 0, bigPalette.data(), 1000);
    sink.SetPalette(0, 0, bigPalette.data(), -5);
    // Rows without a size, or of an unknown type, make no bitmap and fail the read.
    CReadFilePlus noSize;
    noSize.SetFormat(0, 0, ImExp::PixelRgb24);
    noSize.PutRow(0, 0, 0, row);
    EXPECT_EQ(noSize.Status(), ReadStatus::NoSize);
    CReadFilePlus noType;
    noType.SetSize(0, 0, 2, 2);
    noType.SetFormat(0, 0, 12345);
    noType.PutRow(0, 0, 0, row);
    EXPECT_EQ(noType.Status(), ReadStatus::UnknownFormat);
}

TEST(CWriteFilePluss, ServesRowsInRangeOnlyAndRefusesOtherDepths) {
    TestDib dib(3, 2);
    CWriteFilePluss source(&dib.info.header, dib.bits.data());
    int type = 0, w = 0, h = 0;
    EXPECT_EQ(source.GetSize(0, 0, &w, &h), 0);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(source.GetFormat(0, 0, &type), 0);
    EXPECT_EQ(type, ImExp::PixelRgb24);
    std::vector<std::uint8_t> buffer(dib.stride, 0xee);
    for (int row : {-1, 2}) {
        EXPECT_EQ(source.GetRow(0, 0, row, buffer.data()), 0);
        EXPECT_EQ(buffer[0], 0xee);
    }
    EXPECT_EQ(source.GetRow(0, 0, 1, buffer.data()), 0);
    EXPECT_EQ(buffer[1], 11);

    dib.info.header.biBitCount = 32;
    CWriteFilePluss deep(&dib.info.header, dib.bits.data());
    EXPECT_EQ(deep.GetFormat(0, 0, &type), 1);
    CWriteFilePluss empty(&dib.info.header, nullptr);
    EXPECT_EQ(empty.GetSize(0, 0, &w, &h), 1);
    EXPECT_EQ(empty.GetRow(0, 0, 0, buffer.data()), 1);

    // An 8-bit DIB hands over only the colours its table holds, as red, green, blue.
    dib.info.header.biBitCount = 8;
    dib.info.header.biClrUsed = 2;
    dib.info.colors[0] = {1, 2, 3, 0};
    dib.info.colors[1] = {4, 5, 6, 0};
    dib.info.colors[2] = {7, 7, 7, 0};
    CWriteFilePluss indexed(&dib.info.header, dib.bits.data());
    std::vector<std::uint8_t> palette(1024, 0xee);
    EXPECT_EQ(indexed.GetPalette(0, 0, palette.data()), 0);
    EXPECT_EQ((std::vector<std::uint8_t>(palette.begin(), palette.begin() + 12)),
              (std::vector<std::uint8_t>{3, 2, 1, 0, 6, 5, 4, 0, 0, 0, 0, 0}));
}

TEST(ProgressObjects, CancelOnlyWhenAsked) {
    CMyProgress alone(nullptr, 220);
    EXPECT_EQ(alone.Text(), "Writing file...");
    alone.Begin();
    EXPECT_EQ(alone.Step(5, 10), 1);
    TestDoubles::RecordingProgressEx indicator;
    indicator.cancel = true;  // answers "cancel" to every step
    CMyProgress shown(&indicator, 220);
    shown.Begin();
    EXPECT_EQ(shown.Step(3, 10), 0);
    shown.End();
    EXPECT_EQ(indicator.log.Lines(),
              (std::vector<std::string>{"SetText Writing file...", "Begin", "SetProgress 10 3", "End"}));

    std::atomic<int> cancel{1};
    CReadProgress loader(cancel);
    loader.Begin();
    EXPECT_EQ(loader.Step(1, 2), 1);
    cancel = 1;
    EXPECT_EQ(loader.Step(1, 2), 0);
}

TEST(GetPathDriveKind, RemovableMissingOrOther) {
    const std::string mountinfo =
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/ann/CARD rw,nosuid - vfat /dev/sdb1 rw\n"
        "41 22 8:33 / /srv/usb rw - vfat /dev/sdc1 rw\n";
    const auto removable = [](const std::string& device) { return device == "8:33"; };
    struct Case {
        const char* path;
        int kind;
    };
    const Case cases[] = {
        {"/home/ann/pano.jpg", 0},       {"/media/ann/CARD/DCIM/1.jpg", 1}, {"/srv/usb/1.jpg", 1},
        {"/media/ann/OLDCARD/1.jpg", 2}, {"/run/media/ann/X/1.jpg", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetPathDriveKind(c.path, mountinfo, removable), c.kind) << c.path;
}

TEST(ImageFileBridge, WritesAndReadsBackThroughTheModule) {
    TestDoubles::DocEnvironment env;
    TestDib dib(37, 21);
    CWriteFilePluss source(&dib.info.header, dib.bits.data());
    for (const char* ext : {".png", ".bmp", ".tif"}) {
        const std::string path = env.scratch / (std::string("round") + ext);
        int type = 0;
        ASSERT_EQ(WriteImageFile(&source, nullptr, path.c_str(), &type, nullptr, nullptr, 0), 1) << ext;
        CReadFilePlus sink;
        ASSERT_EQ(ReadImageFile(&sink, nullptr, path.c_str(), ImExp::PixelRgb24 | ImExp::PixelRgb48, nullptr,
                                nullptr, 0, 0, 0),
                  1)
            << ext;
        const ReadBitmap bitmap = sink.TakeBitmap();
        ASSERT_EQ(bitmap.width, 37);
        ASSERT_EQ(bitmap.height, 21);
        // Line 0 of the bitmap is the top: the DIB's last line.
        for (int y = 0; y < 21; ++y)
            EXPECT_EQ(0, std::memcmp(bitmap.Line(20 - y), &dib.bits[static_cast<std::size_t>(y) * dib.stride],
                                     37 * 3))
                << ext << " line " << y;
    }
    // A file that is no picture fails and leaves no bitmap behind.
    const std::string junk = env.scratch / "junk.png";
    std::ofstream(junk) << "not a picture";
    CReadFilePlus sink;
    EXPECT_EQ(ReadImageFile(&sink, nullptr, junk.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0, 0, 0), 0);
    EXPECT_TRUE(sink.Bitmap().bits.empty());
    (void)ReadAll;
}

TEST(ImageFileBridge, ThumbnailReaderOfTheProgramReadsWhatTheModuleWrites) {
    TestDoubles::DocEnvironment env;
    TestDib dib(40, 30);
    CWriteFilePluss source(&dib.info.header, dib.bits.data());
    const std::string path = env.scratch / "thumb.tif";
    int type = 0;
    ASSERT_EQ(WriteImageFile(&source, nullptr, path.c_str(), &type, nullptr, nullptr, 0), 1);
    ThumbnailPicture picture;
    ASSERT_TRUE(ReadThumbnailThroughModule(path, QSize(10, 10), nullptr, picture));
    EXPECT_EQ(picture.sourceSize, QSize(40, 30));
    // The DIB's bottom-left pixel: blue 0, green 0, red 200.
    EXPECT_EQ(picture.image.pixelColor(0, picture.image.height() - 1).red(), 200);
    EXPECT_FALSE(ReadThumbnailThroughModule(env.scratch / "missing.png", QSize(10, 10), nullptr, picture));
}

// A BMP header of 50000 x 50000 pixels over a few bytes of rows: refused
// before any bitmap is made for it, as the toolkit's own reader refuses it.
TEST(ImageFileBridge, ThumbnailReaderOfTheProgramRefusesForgedHugeSizes) {
    TestDoubles::DocEnvironment env;
    std::vector<std::uint8_t> bmp(54 + 16, 0);
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put(2, static_cast<std::uint32_t>(bmp.size()));
    put(10, 54);
    put(14, 40);
    put(18, 50000);
    put(22, 50000);
    bmp[26] = 1, bmp[28] = 24;
    const std::string path = env.scratch / "forged.bmp";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    ThumbnailPicture picture;
    EXPECT_FALSE(ReadThumbnailThroughModule(path, QSize(10, 10), nullptr, picture));
    EXPECT_TRUE(picture.image.isNull());
}

// The browser's full-size picture: a JPEG through the platform codec, the
// module's formats through the module, at their whole size.
TEST(ImageFileBridge, PictureReaderOfTheBrowserReadsJpegAndTheModulesFormats) {
    TestDoubles::DocEnvironment env;
    TestDib dib(40, 30);
    CWriteFilePluss source(&dib.info.header, dib.bits.data());
    for (const char* name : {"picture.tif", "picture.bmp", "picture.png", "picture.jpg"}) {
        const std::string path = env.scratch / name;
        int type = 0;
        ASSERT_EQ(WriteImageFile(&source, nullptr, path.c_str(), &type, nullptr, nullptr, 0), 1) << name;
        const std::shared_ptr<QImage> picture = ReadPictureThroughModule(path);
        ASSERT_TRUE(picture) << name;
        EXPECT_EQ(picture->size(), QSize(40, 30)) << name;
        EXPECT_NEAR(picture->pixelColor(0, picture->height() - 1).red(), 200, 8) << name;
    }
    EXPECT_FALSE(ReadPictureThroughModule(env.scratch / "missing.png"));
    const std::string junk = env.scratch / "junk.jpg";
    std::ofstream(junk) << "not a picture";
    EXPECT_FALSE(ReadPictureThroughModule(junk));
}
