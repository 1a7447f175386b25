#pragma once
// Small image helpers shared by the image tests.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageFile.h"
#include "PImage.h"

namespace ImageTest {

using ImagePtr = OrvexBase::RefPtr<PanoramaLib::IDib>;

inline ImagePtr Made(int bpp, int w, int h) {
    ImagePtr img(new PanoramaLib::PImage());
    EXPECT_TRUE(img->Create(bpp, w, h, true));
    return img;
}

// Fills a 24-bit image with a pattern that tells rows, columns and channels apart.
inline void FillPattern(PanoramaLib::IDib* img) {
    for (int r = 0; r < img->GetHeight(); ++r)
        for (int c = 0; c < img->GetWidth(); ++c) {
            std::uint8_t* p = img->GetBits() + r * img->GetStride() + 3 * c;
            p[0] = static_cast<std::uint8_t>(r * 7 + c);
            p[1] = static_cast<std::uint8_t>(c * 5 + 3);
            p[2] = static_cast<std::uint8_t>(r * 11 + c * 2);
        }
}

inline bool SamePixels(PanoramaLib::IDib* a, PanoramaLib::IDib* b) {
    if (a->GetWidth() != b->GetWidth() || a->GetHeight() != b->GetHeight() || a->GetBpp() != b->GetBpp())
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(a->GetWidth()) * a->GetBpp() / 8;
    for (int r = 0; r < a->GetHeight(); ++r)
        if (std::memcmp(a->GetBits() + r * a->GetStride(), b->GetBits() + r * b->GetStride(), rowBytes) != 0)
            return false;
    return true;
}

// A decode target that keeps the picture top-down, as the file holds it.
struct TopDownSink : Platform::IRgbSink {
    std::vector<std::uint8_t> data;
    int w = 0;
    bool Allocate(int width, int height) override {
        w = width;
        data.resize(static_cast<std::size_t>(width) * height * 3);
        return true;
    }
    std::uint8_t* RowBgr(int row) override { return data.data() + static_cast<std::size_t>(row) * w * 3; }
};

}  // namespace ImageTest
