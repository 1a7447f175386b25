// Zoom levels, conversions and scroll-bar layout of the picture views.
#include <gtest/gtest.h>

#include "ZoomGeometry.h"

using namespace ZoomGeometry;
using OrvexBase::Rect;

TEST(ZoomGeometry, NearestZoomIndexPrefersTheLowerLevelOnATie) {
    const struct {
        double zoom;
        int index;
    } cases[] = {{120, 13}, {125, 13},  {130, 14}, {100, 13}, {0.2, 0}, {1, 0},
                 {400, 17}, {5000, 17}, {-3, 0},   {10.5, 6},  // 8 and 13 are 2.5 away: the lower index wins
                 {350, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(NearestZoomIndex(c.zoom), c.index) << c.zoom;
    EXPECT_EQ(std::size(kViewLevels), 18u);
}

TEST(ZoomGeometry, ZoomStepsStopAtTheEnds) {
    const struct {
        double zoom;
        bool up;
        double view, pane;
    } cases[] = {
        {400, true, 400, 400},  {1, false, 1, 1},      {100, true, 150, 200},
        {100, false, 67, 67},   {120, true, 150, 200}, {120, false, 100, 100},
        {900, false, 300, 200}, {0.5, true, 2, 2},     {200, true, 300, 400},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NextZoomLevel(kViewLevels, c.zoom, c.up), c.view) << c.zoom << " " << c.up;
        EXPECT_EQ(NextZoomLevel(kPaneLevels, c.zoom, c.up), c.pane) << c.zoom << " " << c.up;
    }
}

TEST(ZoomGeometry, FitZoomStaysWithinTheLevelsForDegenerateSizes) {
    EXPECT_DOUBLE_EQ(FitZoom(500, 300, 1000, 1000), 30.0);
    EXPECT_DOUBLE_EQ(FitZoom(0, 0, 1000, 1000), 1.0);      // a window of size 0
    EXPECT_DOUBLE_EQ(FitZoom(4000, 4000, 10, 10), 400.0);  // a tiny picture
    EXPECT_DOUBLE_EQ(FitZoom(500, 300, 0, 100), 100.0);    // an element 0 pixels wide
    EXPECT_DOUBLE_EQ(FitZoom(20, 20, 100, 100, 15), 1.0);  // margins larger than the window
    EXPECT_DOUBLE_EQ(FitExtentZoom(600, 300), 200.0);
    EXPECT_DOUBLE_EQ(FitExtentZoom(600, 0), 100.0);
    EXPECT_EQ(ContentSize(1000, 3, 10, 0), (OrvexBase::Size{100, 1}));
    EXPECT_EQ(ContentSize(0, 0, 100, 4), (OrvexBase::Size{8, 8}));
    EXPECT_EQ(ContentSize(20000, 10, 400, 0), (OrvexBase::Size{80000, 40}));
    EXPECT_EQ(CentreOrClamp(50, 100, 301), -100);
    EXPECT_EQ(CentreOrClamp(-5, 1000, 300), 0);
    EXPECT_EQ(CentreOrClamp(900, 1000, 300), 700);
}

TEST(ZoomGeometry, ViewConversionsFlipRowsAndFollowTheScroll) {
    Mapping m;
    m.zoom = 200;
    m.imageHeight = 100;
    m.scroll = {10, 20};
    EXPECT_EQ(ViewClientToImage(m, {30, 40}), QPoint(20, 70));
    EXPECT_EQ(ViewImageToClient(m, {20, 70}), QPoint(30, 40));
    m.zoom = 50;
    m.scroll = {-25, -10};  // centred
    EXPECT_EQ(ViewClientToImage(m, {25, 10}), QPoint(0, 100));
    EXPECT_EQ(ViewImageToClient(m, {0, 100}), QPoint(25, 10));

    // The pane's forms are half a zoomed pixel and one row apart.
    Mapping p;
    p.zoom = 400;
    p.imageHeight = 10;
    p.margin = 3;
    EXPECT_EQ(PaneImageToClient(p, {0, 9}), QPoint(5, 5));
    EXPECT_EQ(PaneClientToImage(p, {5, 5}), QPoint(0, 9));
}

TEST(ZoomGeometry, RectanglesMapBothWays) {
    Mapping m;
    m.imageHeight = 300;
    const struct {
        double zoom;
        QPoint scroll;
        Rect image, client;
    } cases[] = {
        {100, {0, 0}, {0, 0, 400, 300}, {0, 0, 400, 300}},
        {100, {50, 0}, {100, 100, 200, 250}, {50, 50, 150, 200}},
        {50, {-10, -20}, {0, 0, 400, 300}, {10, 20, 209, 169}},
        {200, {0, 0}, {10, 20, 30, 40}, {20, 520, 60, 560}},
    };
    for (const auto& c : cases) {
        m.zoom = c.zoom;
        m.scroll = c.scroll;
        EXPECT_EQ(RectImageToClient(m, c.image), c.client) << c.zoom;
    }
    m.zoom = 100;
    m.scroll = {0, 0};
    EXPECT_EQ(RectClientToImage(m, {0, 0, 400, 300}), (Rect{0, 0, 400, 300}));
    m.zoom = 200;
    EXPECT_EQ(RectClientToImage(m, {20, 520, 60, 560}), (Rect{10, 20, 30, 40}));
}

TEST(ZoomGeometry, BarsCentreSmallContentAndScrollLargeOnes) {
    const struct {
        const char* name;
        OrvexBase::Size client, total;
        QPoint position;
        bool needH, needV;
        OrvexBase::Size range;
        QPoint out;
    } cases[] = {
        {"smaller: centred, no bars", {301, 200}, {100, 100}, {0, 0}, false, false, {0, 0}, {-100, -49}},
        {"exact fit", {300, 200}, {300, 200}, {0, 0}, false, false, {0, 0}, {0, 0}},
        {"wider than 32767", {800, 600}, {80000, 400}, {70000, 0}, true, false, {79200, 0}, {70000, -91}},
        {"wide content pushes a tall one over", {800, 600}, {900, 590}, {5, 5}, true, true, {116, 6}, {5, 5}},
        {"a needed bar takes room from the other axis",
         {800, 600},
         {1000, 600},
         {5000, 0},
         true,
         true,
         {216, 16},
         {216, 0}},
        {"window of size 0", {0, 0}, {1, 1}, {0, 0}, true, true, {1, 1}, {0, 0}},
    };
    for (const auto& c : cases) {
        BarsInput in;
        in.client = c.client;
        in.total = c.total;
        in.barWidth = in.barHeight = 16;
        in.position = c.position;
        const BarsLayout out = LayoutBars(in);
        EXPECT_EQ(out.needH, c.needH) << c.name;
        EXPECT_EQ(out.needV, c.needV) << c.name;
        EXPECT_EQ(out.range, c.range) << c.name;
        EXPECT_EQ(out.position, c.out) << c.name;
    }
}

TEST(ZoomGeometry, ScrollByKeepsAxesThatCannotScroll) {
    EXPECT_EQ(ScrollBy({0, -50}, 40000, 10, {79200, 0}, true, false), QPoint(40000, -50));
    EXPECT_EQ(ScrollBy({100, 0}, -500, 0, {79200, 0}, true, false), QPoint(0, 0));
    EXPECT_EQ(ScrollBy({100, 0}, 2147483647, 0, {79200, 0}, true, false), QPoint(79200, 0));
}
