#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "DibManager.h"
#include "ImageFile.h"
#include "ImageTestHelpers.h"
#include "PImage.h"
#include "TestData.h"

using PanoramaLib::IDib;
using PanoramaLib::PImage;
using namespace ImageTest;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

class PImageFiles : public ::testing::Test {
protected:
    TestData::ScratchDir dir;
};

TEST_F(PImageFiles, LosslessRoundTripsKeepEveryByte) {
    for (int width : {37, 36, 1}) {
        ImagePtr src = Made(24, width, 23);
        FillPattern(src.Get());
        for (const char* ext : {".bmp", ".png", ".tif", ".TIFF"}) {
            const std::string path = dir / ("rt" + std::to_string(width) + ext);
            std::wstring error = L"stale";
            ASSERT_TRUE(src->SaveToFile(W(path), &error)) << path;
            EXPECT_EQ(error, L"");
            EXPECT_EQ(src->GetFileName(), W(path));
            ImagePtr back(new PImage());
            ASSERT_TRUE(back->LoadFromFile(W(path), &error)) << path;
            EXPECT_TRUE(SamePixels(src.Get(), back.Get())) << path;
            EXPECT_EQ(back->GetFileName(), W(path));
        }
    }
}

TEST_F(PImageFiles, JpegRoundTripStaysClose) {
    ImagePtr src = Made(24, 129, 67);
    for (int r = 0; r < 67; ++r)
        for (int c = 0; c < 129; ++c) {
            std::uint8_t* p = src->GetBits() + r * src->GetStride() + 3 * c;
            p[0] = static_cast<std::uint8_t>(60 + c);
            p[1] = static_cast<std::uint8_t>(40 + r * 2);
            p[2] = static_cast<std::uint8_t>(100 + (r + c) / 3);
        }
    const std::string path = dir / "smooth.JPG";
    ASSERT_TRUE(src->SaveToFile(W(path), nullptr));
    EXPECT_EQ(ReadAll(path).substr(0, 3), "\xFF\xD8\xFF");
    ImagePtr back(new PImage());
    ASSERT_TRUE(back->LoadFromFile(W(path), nullptr));
    ASSERT_EQ(back->GetWidth(), 129);
    double sum = 0;
    for (int r = 0; r < 67; ++r)
        for (int i = 0; i < 129 * 3; ++i)
            sum += std::abs(src->GetBits()[r * src->GetStride() + i] -
                            back->GetBits()[r * back->GetStride() + i]);
    EXPECT_LT(sum / (67 * 129 * 3), 4.0);
}

TEST_F(PImageFiles, RowsAreBottomUpInMemory) {
    // Top half red, bottom half blue in the picture.
    ImagePtr src = Made(24, 8, 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            std::uint8_t* p = src->GetBits() + r * src->GetStride() + 3 * c;
            const bool bottomHalf = r < 4;  // memory row 0 is the bottom row
            p[0] = bottomHalf ? 255 : 0;
            p[2] = bottomHalf ? 0 : 255;
        }
    const std::string path = dir / "halves.png";
    ASSERT_TRUE(src->SaveToFile(W(path), nullptr));
    // An independent decoder sees red at the top of the picture.
    TopDownSink sink;
    ASSERT_EQ(Platform::DecodeRgb24(path, sink), Platform::ImageFileStatus::Ok);
    EXPECT_EQ(sink.data[2], 255);  // top-left pixel: R
    EXPECT_EQ(sink.data[0], 0);
    EXPECT_EQ(sink.data[sink.data.size() - 3], 255);  // bottom-right: B
}

TEST_F(PImageFiles, RealPhotoMatchesAnIndependentDecode) {
    OVH_REQUIRE_PHOTOS();
    const std::string path = TestData::Photo("boat-row/boat1.jpg").string();
    ImagePtr img(new PImage());
    std::wstring error;
    ASSERT_TRUE(img->LoadFromFile(W(path), &error)) << TestData::Photo("boat-row/boat1.jpg");
    EXPECT_EQ(img->GetWidth(), 600);
    EXPECT_EQ(img->GetHeight(), 400);
    EXPECT_EQ(img->GetBpp(), 24);
    // Compare a few pixels with a top-down decode of the same file.
    TopDownSink sink;
    ASSERT_EQ(Platform::DecodeRgb24(path, sink), Platform::ImageFileStatus::Ok);
    for (auto [px, py] : {std::pair{0, 0}, std::pair{599, 0}, std::pair{300, 200}, std::pair{17, 399}}) {
        const std::uint8_t* mem = img->GetBits() + (399 - py) * img->GetStride() + 3 * px;
        const std::uint8_t* ref = sink.data.data() + (static_cast<std::size_t>(py) * 600 + px) * 3;
        EXPECT_EQ(std::memcmp(mem, ref, 3), 0) << px << "," << py;
    }
    // Saves and reloads unchanged as a lossless format, odd width included.
    const std::string out = dir / "boat.tif";
    ASSERT_TRUE(img->SaveToFile(W(out), &error));
    ImagePtr back(new PImage());
    ASSERT_TRUE(back->LoadFromFile(W(out), &error));
    EXPECT_TRUE(SamePixels(img.Get(), back.Get()));
}

TEST_F(PImageFiles, RejectedInputsLeaveTheImageUntouched) {
    const std::string text = dir / "notes.jpg";
    std::ofstream(text) << "not a picture at all";
    ImagePtr grey = Made(8, 5, 5);
    const std::string greyPng = dir / "grey.png";
    ASSERT_TRUE(grey->SaveToFile(W(greyPng), nullptr));
    ImagePtr colour = Made(24, 40, 30);
    FillPattern(colour.Get());
    const std::string full = dir / "full.jpg";
    ASSERT_TRUE(colour->SaveToFile(W(full), nullptr));
    const std::string truncated = dir / "cut.jpg";
    const std::string bytes = ReadAll(full);
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 3);

    for (const std::string& path : {text, greyPng, truncated, dir / "missing.png", dir.path().string()}) {
        PImage img;
        ASSERT_TRUE(img.Create(24, 3, 2, false));
        std::wstring error;
        EXPECT_FALSE(img.LoadFromFile(W(path), &error)) << path;
        EXPECT_EQ(error, L"Unsupported file format.") << path;
        EXPECT_FALSE(img.IsValid());
        EXPECT_EQ(img.GetWidth(), 3);
        EXPECT_EQ(img.GetHeight(), 2);
        EXPECT_EQ(img.GetFileName(), L"");
    }

    // An image that already has pixels refuses to load over them.
    ImagePtr busy = Made(24, 2, 2);
    busy->GetBits()[0] = 9;
    EXPECT_FALSE(busy->LoadFromFile(W(full), nullptr));
    EXPECT_EQ(busy->GetBits()[0], 9);
    EXPECT_EQ(busy->GetWidth(), 2);
}

TEST_F(PImageFiles, FailedSavesKeepTheTargetAndThePath) {
    ImagePtr img = Made(24, 6, 6);
    FillPattern(img.Get());
    const std::string existing = dir / "keep.bmp";
    std::ofstream(existing, std::ios::binary) << "precious";
    img->SetFileName(L"/original/path.png");

    std::wstring error;
    EXPECT_FALSE(img->SaveToFile(W(dir / "x.gif"), &error));
    EXPECT_EQ(error, L"Unknown image format");
    EXPECT_FALSE(img->SaveToFile(W(dir / "no/such/folder/x.png"), &error));
    EXPECT_EQ(error, L"File not found");
    EXPECT_EQ(img->GetFileName(), L"/original/path.png");

    PImage empty;
    ASSERT_TRUE(empty.Create(24, 6, 6, false));
    EXPECT_FALSE(empty.SaveToFile(W(existing), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadAll(existing), "precious");
}

TEST_F(PImageFiles, UnloadAndReload) {
    ImagePtr img = Made(24, 11, 7);
    FillPattern(img.Get());
    const std::string path = dir / "u.png";
    ASSERT_TRUE(img->SaveToFile(W(path), nullptr));
    ImagePtr copy(new PImage(*img));

    img->Unload();
    EXPECT_FALSE(img->IsValid());
    EXPECT_TRUE(img->IsUnloaded());
    EXPECT_EQ(img->GetWidth(), 11);
    EXPECT_EQ(img->GetFileName(), W(path));
    img->Reload();
    EXPECT_FALSE(img->IsUnloaded());
    ASSERT_TRUE(img->IsValid());
    EXPECT_TRUE(SamePixels(img.Get(), copy.Get()));

    // The file is gone: Reload leaves no pixels, clears the flag, and says so.
    img->Unload();
    std::filesystem::remove(path);
    img->Reload();
    EXPECT_FALSE(img->IsValid());
    EXPECT_FALSE(img->IsUnloaded());
    EXPECT_FALSE(static_cast<PImage*>(img.Get())->LastReloadSucceeded());
}
