#pragma once
// Small elements built in code for the pixel-pipeline tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DibManager.h"
#include "PanoElement.h"

namespace PanoramaFixtures {

using OrvexBase::RefPtr;

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

}  // namespace PanoramaFixtures
