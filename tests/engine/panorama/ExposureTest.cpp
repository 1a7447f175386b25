#include <gtest/gtest.h>

#include "Exposure.h"
#include "PanoramaFixtures.h"

using namespace PanoramaFixtures;
using OrvexBase::Rect;

namespace {

class ExposureTest : public PixelTest {};

const double kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The photo transform of a photo placed at (x, y): panorama -> photo.
struct Placed {
    double m[9];
    explicit Placed(int x, int y)
        : m{1, 0, static_cast<double>(-x), 0, 1, static_cast<double>(-y), 0, 0, 1} {}
};

TEST_F(ExposureTest, IdenticalOverlapChangesNothing) {
    for (bool raw : {true, false}) {
        auto result =
            MakeElement(120, 40, 0, 0, [](int c, int r, int k) { return (c * 3 + r * 5 + k * 40) & 255; });
        result->CreateMask(true);
        auto photo = MakeElement(80, 40, 60, 0,
                                 [](int c, int r, int k) { return ((c + 60) * 3 + r * 5 + k * 40) & 255; });
        photo->CreateMask(true);
        const auto r0 = Snapshot(result.Get()), p0 = Snapshot(photo.Get());
        BalanceExposure(result.Get(), photo.Get(), Rect(0, 0, 80, 40), Placed(60, 0).m, raw);
        EXPECT_EQ(Snapshot(result.Get()), r0) << raw;
        EXPECT_EQ(Snapshot(photo.Get()), p0) << raw;
    }
}

TEST_F(ExposureTest, UniformOffsetIsSplitHalfAndHalf) {
    auto result = Uniform(500, 400, 0, 0, 120);
    result->CreateMask(true);
    auto photo = Uniform(500, 400, 100, 0, 100);
    photo->CreateMask(true);
    BalanceExposure(result.Get(), photo.Get(), Rect(0, 0, 500, 400), Placed(100, 0).m, true);
    // The middle of the 400-wide overlap: result down by 10, photo up by 10.
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(PixelAt(result.Get(), 300, 200)[k], 110);
        EXPECT_EQ(PixelAt(photo.Get(), 200, 200)[k], 110);
    }
}

TEST_F(ExposureTest, NothingToBalance) {
    auto result = Uniform(40, 40, 0, 0, 120);
    auto photo = Uniform(40, 40, 50, 0, 100);
    photo->CreateMask(true);
    const auto r0 = Snapshot(result.Get());
    BalanceExposure(result.Get(), photo.Get(), Rect(0, 0, 40, 40), Placed(50, 0).m, true);
    BalanceExposure(nullptr, photo.Get(), Rect(0, 0, 40, 40), kIdentity, true);
    auto grey = Uniform(40, 40, 0, 0, 100, 8);
    BalanceExposure(result.Get(), grey.Get(), Rect(0, 0, 40, 40), kIdentity, true);
    EXPECT_EQ(Snapshot(result.Get()), r0);
}

// The over operator, one pixel at a time: (as, ad, Cs, Cd) -> (C, aout).
TEST_F(ExposureTest, OverOperatorCases) {
    struct Case {
        int as, ad, cs, cd, c, aout;
    } cases[] = {
        {77, 0, 10, 200, 10, 77},        // uncovered result: the photo's pixel and alpha as they are
        {0, 255, 10, 200, 200, 255},     // transparent photo
        {255, 255, 10, 200, 10, 255},    // opaque photo
        {128, 128, 200, 200, 199, 192},  // the truncations of aout and of the division
        {128, 255, 0, 255, 127, 255},    // (128 * 0 + 127 * 255) / 255
    };
    for (const auto& c : cases) {
        auto result = Uniform(1, 1, 0, 0, c.cd);
        SetMask(result.Get(), [&](int, int) { return c.ad; });
        auto photo = Uniform(1, 1, 0, 0, c.cs);
        SetMask(photo.Get(), [&](int, int) { return c.as; });
        Rect written(1, 2, 3, 4);
        ASSERT_TRUE(CompositeOver(result.Get(), photo.Get(), Rect(), &written));
        EXPECT_EQ(written, Rect(0, 0, 1, 1));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(PixelAt(result.Get(), 0, 0)[k], c.c) << c.as << "/" << c.ad;
        EXPECT_EQ(MaskAt(result.Get(), 0, 0), c.aout) << c.as << "/" << c.ad;
    }
}

TEST_F(ExposureTest, CompositeLeavesTheBlendedRectangleAndClips) {
    auto result = Uniform(10, 10, 0, 0, 0);
    result->CreateMask(true);
    auto photo = Uniform(10, 10, -4, 3, 200);  // no mask: alpha 255
    Rect written;
    ASSERT_TRUE(CompositeOver(result.Get(), photo.Get(), Rect(2, 5, 4, 7), &written));
    EXPECT_EQ(written, Rect(0, 3, 6, 10));
    for (int r = 0; r < 10; ++r)
        for (int c = 0; c < 10; ++c) {
            const bool covered = c < 6 && r >= 3;
            const bool blended = c >= 2 && c < 4 && r >= 5 && r < 7;
            EXPECT_EQ(PixelAt(result.Get(), c, r)[1], covered && !blended ? 200 : 0) << c << "," << r;
        }
    auto away = Uniform(3, 3, 20, 20, 1);
    written = Rect(1, 1, 2, 2);
    EXPECT_FALSE(CompositeOver(result.Get(), away.Get(), Rect(), &written));
    EXPECT_EQ(written, Rect());
    auto grey = Uniform(3, 3, 0, 0, 1, 8);
    EXPECT_FALSE(CompositeOver(result.Get(), grey.Get(), Rect(), nullptr));
}

}  // namespace
