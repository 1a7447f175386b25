#pragma once
// Photo elements for the feature tests: synthetic textures, real photos,
// crops and views resampled through a known similarity.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "DibManager.h"
#include "Features.h"
#include "OrvexBase.h"
#include "PanoElement.h"
#include "TestData.h"

namespace FeatureTest {

using ElementPtr = OrvexBase::RefPtr<CPanoElement>;

// Installs an image factory for the test's lifetime.
class WithDibManager : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }
    CDibManager manager;
};

// grey(x, y) in 0..255 for memory row y; 24-bit elements get it in all three channels.
inline ElementPtr MakeElement(int w, int h, int bpp, const std::function<int(int, int)>& grey) {
    ElementPtr e(new CPanoElement(0));
    EXPECT_TRUE(e->Create(bpp, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = static_cast<std::uint8_t>(std::clamp(grey(x, y), 0, 255));
            std::uint8_t* p = e->GetBits() + std::size_t(y) * e->GetStride() + x * (bpp / 8);
            for (int c = 0; c < bpp / 8; ++c)
                p[c] = v;
        }
    return e;
}

// Soft blobs of many sizes on a gentle gradient: plenty of stable extrema.
inline ElementPtr MakeTexture(int w, int h, int bpp, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> ux(0, w), uy(0, h), ur(1.5, 9.0), uv(-90, 90);
    struct Blob {
        double x, y, r, v;
    };
    std::vector<Blob> blobs(std::size_t(w) * h / 150);
    for (Blob& b : blobs)
        b = {ux(rng), uy(rng), ur(rng), uv(rng)};
    std::vector<double> plane(std::size_t(w) * h, 0.0);
    for (const Blob& b : blobs) {
        const int x0 = std::max(0, int(b.x - 4 * b.r)), x1 = std::min(w - 1, int(b.x + 4 * b.r));
        const int y0 = std::max(0, int(b.y - 4 * b.r)), y1 = std::min(h - 1, int(b.y + 4 * b.r));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double d2 = (x - b.x) * (x - b.x) + (y - b.y) * (y - b.y);
                plane[std::size_t(y) * w + x] += b.v * std::exp(-d2 / (2 * b.r * b.r));
            }
    }
    return MakeElement(w, h, bpp, [&](int x, int y) {
        return int(std::lround(128 + 0.1 * x - 0.05 * y + plane[std::size_t(y) * w + x]));
    });
}

inline ElementPtr LoadPhoto(const std::string& relative) {
    ElementPtr e(new CPanoElement(0));
    const std::string path = TestData::Photo(relative).string();
    EXPECT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << path;
    return e;
}

inline ElementPtr Crop(CPanoElement* source, int x, int y, int w, int h) {
    ElementPtr out(source->ExtractRegion(false, OrvexBase::Rect(x, y, x + w, y + h)));
    EXPECT_TRUE(out) << "crop " << x << "," << y << " " << w << "x" << h;
    if (out)
        out->x = out->y = 0;
    return out;
}

// A w x h 24-bit view whose pixel p shows the source at inverse(p), where
// inverse is a 2x3 row-major affine map; bilinear, white outside.
inline ElementPtr Resample(CPanoElement* source, int w, int h, const double inverse[6]) {
    ElementPtr out(new CPanoElement(0));
    EXPECT_TRUE(out->Create(24, w, h));
    const int sw = source->GetWidth(), sh = source->GetHeight();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double sx = inverse[0] * x + inverse[1] * y + inverse[2];
            const double sy = inverse[3] * x + inverse[4] * y + inverse[5];
            std::uint8_t* o = out->GetBits() + std::size_t(y) * out->GetStride() + 3 * x;
            const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
            if (x0 < 0 || y0 < 0 || x0 + 1 >= sw || y0 + 1 >= sh) {
                o[0] = o[1] = o[2] = 255;
                continue;
            }
            const double fx = sx - x0, fy = sy - y0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int xx, int yy) {
                    return double(source->GetBits()[std::size_t(yy) * source->GetStride() + 3 * xx + c]);
                };
                const double v = (1 - fx) * (1 - fy) * at(x0, y0) + fx * (1 - fy) * at(x0 + 1, y0) +
                                 (1 - fx) * fy * at(x0, y0 + 1) + fx * fy * at(x0 + 1, y0 + 1);
                o[c] = static_cast<std::uint8_t>(std::lround(v));
            }
        }
    return out;
}

// Keypoints and descriptors of one element, in a set tagged with its size.
inline std::unique_ptr<CKeypointSet> Detect(CPanoElement* e, const CancelFunction& cancel = {}) {
    auto set = std::make_unique<CKeypointSet>();
    DetectFeatures(e, set->keypoints, set->descriptors, 10.0, 0.02, cancel);
    set->BuildIndex(e->GetSize());
    return set;
}

}  // namespace FeatureTest
