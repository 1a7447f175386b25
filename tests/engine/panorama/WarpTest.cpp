#include <gtest/gtest.h>

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
