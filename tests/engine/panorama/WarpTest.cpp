#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "PanoramaFixtures.h"
#include "Warp.h"

using namespace PanoramaFixtures;

namespace {

class WarpTest : public PixelTest {};

const double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

TEST_F(WarpTest, IdentityCopiesThePhotoWithFullMask) {
    auto photo = Random(13, 7, 0, 0, 1);
    RefPtr<CPanoElement> out(WarpPhotoElement(photo.Get(), kIdentity));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->GetRect(), photo->GetRect());
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 13; ++c) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(PixelAt(out.Get(), c, r)[k], PixelAt(photo.Get(), c, r)[k]);
            EXPECT_EQ(MaskAt(out.Get(), c, r), 255);
        }
}

TEST_F(WarpTest, PhotoMaskIsResampledWithThePixels) {
    auto photo = Random(6, 4, 0, 0, 2);
    SetMask(photo.Get(), [](int c, int) { return c < 3 ? 0 : 255; });
    RefPtr<CPanoElement> out(WarpPhotoElement(photo.Get(), kIdentity));
    ASSERT_TRUE(out);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(MaskAt(out.Get(), c, r), c < 3 ? 0 : 255);
}

// Source x = x + 0.5: fx = 8, so every inside byte is (105 a + 120 b) / 225;
// the first output column's source lies left of the photo.
TEST_F(WarpTest, HalfPixelShiftUsesFifteenthWeights) {
    auto photo = Random(9, 3, 0, 0, 3);
    const double shift[9] = {1, 0, 0.5, 0, 1, 0, 0, 0, 1};
    RefPtr<CPanoElement> out(WarpPhotoElement(photo.Get(), shift));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->GetRect(), OrvexBase::Rect(-1, 0, 9, 3));
    for (int r = 0; r < 3; ++r) {
        // Left of the photo: the last column's colour (unsigned comparison), mask 0.
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(PixelAt(out.Get(), 0, r)[k], PixelAt(photo.Get(), 8, r)[k]);
        EXPECT_EQ(MaskAt(out.Get(), 0, r), 0);
        for (int c = 0; c < 8; ++c)
            for (int k = 0; k < 3; ++k) {
                const int a = PixelAt(photo.Get(), c, r)[k], b = PixelAt(photo.Get(), c + 1, r)[k];
                EXPECT_EQ(PixelAt(out.Get(), c + 1, r)[k], (105 * a + 120 * b) / 225) << c << "," << r;
            }
        // The last column has no right neighbour: fx becomes 0.
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(PixelAt(out.Get(), 9, r)[k], PixelAt(photo.Get(), 8, r)[k]);
        EXPECT_EQ(MaskAt(out.Get(), 9, r), 255);
    }
}

TEST_F(WarpTest, SourcesAboveThePhotoTakeTheLastRow) {
    auto photo = Random(4, 5, 0, 0, 4);
    const double shift[9] = {1, 0, 0, 0, 1, 0.5, 0, 0, 1};
    RefPtr<CPanoElement> out(WarpPhotoElement(photo.Get(), shift));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->GetRect(), OrvexBase::Rect(0, -1, 4, 5));
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(PixelAt(out.Get(), c, 0)[k], PixelAt(photo.Get(), c, 4)[k]);
        EXPECT_EQ(MaskAt(out.Get(), c, 0), 0);
    }
}

// The warp rule written out pixel by pixel, against turned, scaled and
// shifted photos whose warped rectangles reach past every edge: photo widths
// with and without row padding, tiny photos, with and without a mask.
TEST_F(WarpTest, EveryPixelFollowsTheLiteralRule) {
    struct Case {
        int w, h;
        bool mask;
        double angle, scale, dx, dy;
    };
    const Case cases[] = {
        {40, 31, false, 0.3, 1.0, 0.25, -0.5},  {37, 29, true, -0.7, 1.3, 5.5, 2.25},
        {64, 48, true, 1.2, 0.8, -3.0, 7.75},   {33, 20, false, 0.0, 1.0, 0.5, 0.5},
        {2, 3, true, 0.4, 1.0, 0.0, 0.0},       {1, 1, false, 0.0, 1.0, 0.3, 0.3},
        {100, 9, true, 3.0, 2.0, -40.0, -20.0}, {24, 24, false, -1.57, 0.6, 1.0, 1.0},
    };
    unsigned seed = 40;
    for (const Case& c : cases) {
        auto photo = Random(c.w, c.h, 0, 0, ++seed);
        if (c.mask) {
            std::mt19937 rng(seed);
            SetMask(photo.Get(),
                    [&](int, int) { return static_cast<int>(rng() % 3 == 0 ? 255 : rng() % 256); });
        }
        const double co = std::cos(c.angle) * c.scale, si = std::sin(c.angle) * c.scale;
        const double m[9] = {co, -si, c.dx, si, co, c.dy, 0, 0, 1};
        RefPtr<CPanoElement> out(WarpPhotoElement(photo.Get(), m));
        ASSERT_TRUE(out);
        const std::uint32_t w = c.w, h = c.h;
        for (int r = 0; r < out->GetHeight(); ++r)
            for (int col = 0; col < out->GetWidth(); ++col) {
                const double x = out->x + col, y = out->y + r;
                const double xs = m[0] * x + m[1] * y + m[2], ys = m[3] * x + m[4] * y + m[5];
                const auto u = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * xs + 0.5));
                const auto v = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * ys + 0.5));
                std::uint32_t ix = u >> 4, iy = v >> 4, fx = u & 15, fy = v & 15;
                int expected[4];
                if (ix > w - 1 || iy > h - 1) {
                    const std::uint8_t* p = PixelAt(photo.Get(), std::min(ix, w - 1), std::min(iy, h - 1));
                    expected[0] = p[0], expected[1] = p[1], expected[2] = p[2], expected[3] = 0;
                } else {
                    std::uint32_t ix1 = ix + 1, iy1 = iy + 1;
                    if (ix == w - 1)
                        ix1 = ix, fx = 0;
                    if (iy == h - 1)
                        iy1 = iy, fy = 0;
                    const std::uint32_t wt[4] = {(15 - fy) * (15 - fx), (15 - fy) * fx, fy * (15 - fx),
                                                 fy * fx};
                    const std::uint32_t px[4] = {ix, ix1, ix, ix1}, py[4] = {iy, iy, iy1, iy1};
                    for (int k = 0; k < 4; ++k) {
                        if (k == 3 && !c.mask) {
                            expected[3] = 255;
                            break;
                        }
                        std::uint32_t sum = 0;
                        for (int n = 0; n < 4; ++n)
                            sum += wt[n] * (k < 3 ? PixelAt(photo.Get(), px[n], py[n])[k]
                                                  : MaskAt(photo.Get(), px[n], py[n]));
                        expected[k] = static_cast<int>(sum / 225);
                    }
                }
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(PixelAt(out.Get(), col, r)[k], expected[k])
                        << c.w << "x" << c.h << " at " << col << "," << r << " byte " << k;
                ASSERT_EQ(MaskAt(out.Get(), col, r), expected[3])
                    << c.w << "x" << c.h << " at " << col << "," << r;
            }
    }
}

TEST_F(WarpTest, RefusesWhatItCannotResample) {
    const double singular[9] = {1, 2, 0, 2, 4, 0, 0, 0, 1};
    auto grey = Uniform(4, 4, 0, 0, 9, 8);
    auto colour = Uniform(4, 4, 0, 0, 9);
    EXPECT_EQ(WarpPhotoElement(grey.Get(), kIdentity), nullptr);  // three bytes a pixel would be over-read
    EXPECT_EQ(WarpPhotoElement(colour.Get(), singular), nullptr);
    EXPECT_EQ(WarpPhotoElement(nullptr, kIdentity), nullptr);
}

TEST_F(WarpTest, GreyLevelsWeighMemoryOrderBytes) {
    struct Case {
        std::uint8_t b[3];
        unsigned grey;
    } cases[] = {
        {{255, 255, 255}, 255}, {{255, 0, 0}, 76}, {{0, 0, 255}, 28}, {{0, 255, 0}, 150}, {{1, 1, 1}, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(GreyLevel(c.b), c.grey);
}

}  // namespace
