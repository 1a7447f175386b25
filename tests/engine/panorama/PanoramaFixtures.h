#pragma once
// Small elements built in code for the pixel-pipeline tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DibManager.h"
#include "PanoElement.h"

namespace PanoramaFixtures {

using OrvexBase::RefPtr;

// A file path as the engine takes it (the paths of the tests are ASCII).
inline std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// Photos loaded from files as new elements, one reference each for the caller.
inline std::vector<PanoramaLib::IPanoElement*> OpenPhotos(const std::vector<std::string>& files) {
    std::vector<PanoramaLib::IPanoElement*> photos;
    for (const std::string& f : files) {
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        EXPECT_TRUE(e->Load(W(f))) << f;
        photos.push_back(e);
    }
    return photos;
}

// A photo set's JPEG files in name order, the order the builds take them.
inline std::vector<std::filesystem::path> JpegsByName(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// A photo set's JPEG and PNG files in name order.
inline std::vector<std::filesystem::path> PhotosByName(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg" || entry.path().extension() == ".png")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The planar build as stitch_bench runs it by default: scale and shift, the
// lens corrected with preset 7, analysis copies of up to 660 pixels, no
// crop; ring: the photos close a 360-degree ring.
inline void UseBenchmarkSettings(PanoramaLib::IPanorama* engine, bool ring) {
    HVPanoramaOptions options;
    engine->GetOptions(&options);
    options.motionModel = 2;
    options.lensCompensation = 1;
    options.lensPresetId = 7;
    options.analysisSize = 1;
    options.is360 = ring ? 1 : 0;
    options.autoCrop = 0;
    engine->SetOptions(&options);
}

// Sets the engine-wide image factory for the duration of a test.
class PixelTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }
    CDibManager manager;
};

// A w x h element at (x, y) whose bytes come from fill(col, row, channel).
inline RefPtr<CPanoElement> MakeElement(int w, int h, int x, int y,
                                        const std::function<int(int, int, int)>& fill, int bpp = 24) {
    RefPtr<CPanoElement> e(new CPanoElement(0));
    EXPECT_TRUE(e->Create(bpp, w, h));
    const int channels = bpp / 8;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int k = 0; k < channels; ++k)
                e->GetBits()[r * e->GetStride() + channels * c + k] =
                    static_cast<std::uint8_t>(fill(c, r, k));
    e->x = x;
    e->y = y;
    return e;
}

inline RefPtr<CPanoElement> Uniform(int w, int h, int x, int y, int value, int bpp = 24) {
    return MakeElement(
        w, h, x, y, [value](int, int, int) { return value; }, bpp);
}

inline RefPtr<CPanoElement> Random(int w, int h, int x, int y, unsigned seed) {
    std::mt19937 rng(seed);
    return MakeElement(w, h, x, y, [&rng](int, int, int) { return static_cast<int>(rng() & 255); });
}

// Mask from fill(col, row); the element gets one when it has none.
inline void SetMask(CPanoElement* e, const std::function<int(int, int)>& fill) {
    e->CreateMask(false);
    for (int r = 0; r < e->GetHeight(); ++r)
        for (int c = 0; c < e->GetWidth(); ++c)
            e->GetMask()[r * e->GetMaskStride() + c] = static_cast<std::uint8_t>(fill(c, r));
}

inline int MaskAt(CPanoElement* e, int col, int row) {
    return e->GetMask()[row * e->GetMaskStride() + col];
}
inline const std::uint8_t* PixelAt(CPanoElement* e, int col, int row) {
    return e->GetBits() + row * e->GetStride() + 3 * col;
}

// Every pixel byte and mask byte, for before/after comparisons.
inline std::vector<std::uint8_t> Snapshot(CPanoElement* e) {
    std::vector<std::uint8_t> out(e->GetBits(), e->GetBits() + e->GetStride() * e->GetHeight());
    if (e->GetMask())
        out.insert(out.end(), e->GetMask(), e->GetMask() + e->GetMaskStride() * e->GetHeight());
    return out;
}

// A copy of a photo box-filtered down to `width` columns: write(q, box)
// sets the output pixel q from the photo's pixels in box.
struct SourceBox {
    const CPanoElement* photo;
    int x0, x1, y0, y1;
    // Calls f(pixel) for each source pixel of the box, and returns their count.
    template <class F>
    long ForEach(F f) const {
        long count = 0;
        for (int sy = y0; sy < y1; ++sy)
            for (int sx = x0; sx < x1; ++sx, ++count)
                f(photo->GetBits() + sy * photo->GetStride() + 3 * sx);
        return count;
    }
};

template <class Write>
RefPtr<CPanoElement> BoxFilteredCopy(CPanoElement* photo, int width, Write write) {
    const int w = photo->GetWidth(), h = photo->GetHeight();
    const int height = std::max(1, h * width / w);
    RefPtr<CPanoElement> out(new CPanoElement(0));
    EXPECT_TRUE(out->Create(24, width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int x0 = x * w / width, x1 = std::max(x0 + 1, (x + 1) * w / width);
            const int y0 = y * h / height, y1 = std::max(y0 + 1, (y + 1) * h / height);
            write(out->GetBits() + y * out->GetStride() + 3 * x, SourceBox{photo, x0, x1, y0, y1});
        }
    return out;
}

// A grey copy of a photo, box-filtered down to `width` columns: the small,
// low-contrast kind of photo on which chance agreements and seams show most.
inline RefPtr<CPanoElement> GreyCopy(CPanoElement* photo, int width) {
    return BoxFilteredCopy(photo, width, [](std::uint8_t* q, const SourceBox& box) {
        long sum = 0;
        const long count =
            box.ForEach([&](const std::uint8_t* p) { sum += 11 * p[0] + 59 * p[1] + 30 * p[2]; });
        q[0] = q[1] = q[2] = static_cast<std::uint8_t>((sum + 50 * count) / (100 * count));
    });
}

// A colour copy of a photo, box-filtered down to `width` columns.
inline RefPtr<CPanoElement> ColourCopy(CPanoElement* photo, int width) {
    return BoxFilteredCopy(photo, width, [](std::uint8_t* q, const SourceBox& box) {
        long sum[3] = {0, 0, 0};
        const long count = box.ForEach([&](const std::uint8_t* p) {
            for (int c = 0; c < 3; ++c)
                sum[c] += p[c];
        });
        for (int c = 0; c < 3; ++c)
            q[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
    });
}

}  // namespace PanoramaFixtures
