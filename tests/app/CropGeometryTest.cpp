// The crop view's arithmetic: product ratios, shading bands, tiled navigation.
#include <gtest/gtest.h>

#include "CropGeometry.h"

using namespace CropGeometry;
using OrvexBase::Rect;

TEST(CropGeometry, FitCropRectKeepsTheProductRatio) {
    const struct {
        const char* name;
        Rect rect;
        CropAspect aspect;
        bool changes;
        Rect out;
        bool keepsRatio;
    } cases[] = {
        {"3:2 on a square", {100, 50, 400, 350}, {3, 2, 2}, true, {100, 100, 400, 300}, true},
        {"3:2 on a wide one", {0, 0, 900, 200}, {3, 2, 2}, true, {300, 0, 600, 200}, true},
        {"manual keeps the rectangle", {100, 50, 400, 350}, {3, 2, 1}, true, {100, 50, 400, 350}, false},
        {"product of size 0 acts as manual",
         {100, 50, 400, 350},
         {0, 2, 2},
         true,
         {100, 50, 400, 350},
         false},
        {"product with a negative side", {100, 50, 400, 350}, {3, -2, 2}, true, {100, 50, 400, 350}, false},
        {"huge result in 64 bits",
         {0, 0, 2000000000, 1000000000},
         {1, 1, 2},
         true,
         {500000000, 0, 1500000000, 1000000000},
         true},
        {"no crop changes nothing", {1, 2, 3, 4}, {3, 2, 0}, false, {}, false},
        {"unknown kind changes nothing", {1, 2, 3, 4}, {3, 2, 7}, false, {}, false},
    };
    for (const auto& c : cases) {
        const auto fitted = FitCropRect(c.rect, c.aspect);
        ASSERT_EQ(fitted.has_value(), c.changes) << c.name;
        if (!fitted)
            continue;
        EXPECT_EQ(fitted->rect, c.out) << c.name;
        EXPECT_EQ(fitted->keepsRatio, c.keepsRatio) << c.name;
    }
}

TEST(CropGeometry, ShadeBandsSurroundTheCrop) {
    Band b[4];
    ShadeBands({10, 20, 60, 50}, 100, 80, b);
    const Band expected[4] = {{0, 0, 100, 20}, {0, 50, 100, 30}, {0, 20, 10, 30}, {60, 20, 40, 30}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(b[i].x, expected[i].x) << i;
        EXPECT_EQ(b[i].y, expected[i].y) << i;
        EXPECT_EQ(b[i].width, expected[i].width) << i;
        EXPECT_EQ(b[i].height, expected[i].height) << i;
    }
    // A painted area that misses the crop lies wholly outside it.
    ShadeBands({0, 0, 0, 0}, 100, 80, b);
    EXPECT_EQ(b[0].width, 100);
    EXPECT_EQ(b[0].height, 80);
    EXPECT_EQ(b[1].width * b[1].height + b[2].width * b[2].height + b[3].width * b[3].height, 0);
}

TEST(CropGeometry, NavigationMovesFortyFiveDegreesPerImageExtent) {
    const struct {
        QPoint press, point;
        int width, height;
        Angles base;
        int elevation, azimuth;
    } cases[] = {
        {{800, 300}, {0, 300}, 800, 400, {0, 0}, 0, 45},  // the whole width to the left
        {{0, 300}, {800, 300}, 800, 400, {0, 0}, 0, -45},
        {{800, 300}, {0, 300}, 800, 400, {0, 20}, 0, 45},  // never beyond the limit
        {{400, 400}, {400, 0}, 800, 400, {-10, 0}, 35, 0},
        {{400, 200}, {300, 150}, 800, 400, {5, 5}, 10, 10},
    };
    for (const auto& c : cases) {
        const auto a = NavigationStep(c.press, c.point, c.width, c.height, c.base);
        ASSERT_TRUE(a.has_value());
        EXPECT_EQ(a->elevation, c.elevation);
        EXPECT_EQ(a->azimuth, c.azimuth);
    }
    EXPECT_FALSE(NavigationStep({0, 0}, {10, 10}, 0, 400, {}).has_value());
    EXPECT_FALSE(NavigationStep({0, 0}, {10, 10}, 800, 0, {}).has_value());
}

TEST(CropGeometry, TiltFollowsTheTurnAroundTheCentre) {
    const QPoint c(400, 300);
    EXPECT_EQ(TiltStep(c, {500, 300}, {400, 400}, 0), 45);  // a quarter turn clockwise on screen
    EXPECT_EQ(TiltStep(c, {500, 300}, {400, 200}, 0), -45);
    EXPECT_EQ(TiltStep(c, {500, 300}, {500, 310}, 0), 5);  // atan(0.1) in degrees of 3.14
    EXPECT_EQ(TiltStep(c, {500, 300}, {500, 300}, 12), 12);
    EXPECT_TRUE(InNavigationArea(800, 600, {100, 75}));
    EXPECT_FALSE(InNavigationArea(800, 600, {99, 300}));
    EXPECT_FALSE(InNavigationArea(800, 600, {700, 300}));
    EXPECT_FALSE(InNavigationArea(0, 0, {0, 0}));
}
