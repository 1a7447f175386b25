// The transform frame's geometry: hit tests, resizing, moving, anchors,
// cursor sectors and what it draws.
#include <gtest/gtest.h>

#include <cmath>

#include "TransformFrame.h"

using namespace TransformFrame;
using OrvexBase::Rect;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A frame laid out like the crop view's: corners, edges and move only.
CFrame CropLikeFrame(const Rect& r, const Rect* bounds = nullptr) {
    CFrame f;
    f.minSize = true;
    f.showCentre = false;
    f.showRotor = false;
    f.centreAttached = false;
    f.allowed = 0x3F;
    f.Setup(r, 0.0, QPoint(0, 0), nullptr);
    f.SetBounds(bounds);
    return f;
}

// A frame of 100 x 50 around the centre (100, 100), every operation allowed.
CFrame CentredFrame() {
    CFrame f;
    f.Setup({-50, -25, 50, 25}, 0.0, QPoint(100, 100), nullptr);
    return f;
}

Rect Drag(CFrame& frame, QPoint from, QPoint to, std::uint32_t expectedCode, bool keepAspect = false) {
    CTracker tracker(&frame);
    tracker.keepAspect = keepAspect;
    EXPECT_TRUE(tracker.OnLButtonDown(from.x(), from.y()));
    EXPECT_EQ(tracker.code, expectedCode);
    FrameRegion repaint;
    EXPECT_TRUE(tracker.OnMouseMove(to.x(), to.y(), &repaint));
    EXPECT_FALSE(repaint.IsEmpty());
    EXPECT_TRUE(tracker.OnLButtonUp());
    return frame.rect;
}

class RecordingPainter : public IFramePainter {
public:
    void Ellipse(const Rect&, std::uint32_t, std::uint32_t fill) override {
        ++ellipses;
        EXPECT_EQ(fill, Rgb(255, 187, 0));
    }
    void Pixel(QPoint, std::uint32_t) override { ++pixels; }
    void Polygon(const std::vector<QPoint>& points, std::uint32_t pen, int width) override {
        outline = points;
        outlinePen = pen;
        outlineWidth = width;
    }
    void Line(QPoint, QPoint, std::uint32_t, int) override { ++lines; }
    void ExcludeClip(const FrameRegion&) override { ++clips; }
    void RestoreClip() override { --clips; }

    int ellipses = 0, pixels = 0, lines = 0, clips = 0;
    std::vector<QPoint> outline;
    std::uint32_t outlinePen = 0;
    int outlineWidth = 0;
};

}  // namespace

TEST(TransformFrame, HitTestTakesCentreCornersEdgesRotorAndInside) {
    const struct {
        std::uint32_t allowed;
        QPoint point;
        std::uint32_t code;
    } cases[] = {
        {0xFF, {54, 75}, 0x03},    // squared distance 16 from the top-left corner
        {0x0F, {54, 76}, 0},       // 17: missed, and nothing else is allowed
        {0x0F, {150, 121}, 0x0C},  // corners hit whatever the mask says
        {0xFF, {54, 76}, 0x12},    // the top edge strip
        {0xFF, {49, 110}, 0x11},  {0xFF, {151, 80}, 0x14},
        {0xFF, {120, 124}, 0x18}, {0xFF, {100, 100}, 0x40},
        {0x0F, {100, 100}, 0},                               // no centre, no move
        {0x1F, {100, 110}, 0},    {0xFF, {100, 106}, 0x80},  // the rotation handle at (100, 105)
        {0xFF, {120, 115}, 0x20}, {0x100 | 0x0F, {100, 100}, 0x40},
    };
    for (const auto& c : cases) {
        CFrame f = CentredFrame();
        f.allowed = c.allowed;
        EXPECT_EQ(f.HitTest(c.point.x(), c.point.y(), nullptr), c.code)
            << std::hex << c.allowed << " " << std::dec << c.point.x() << "," << c.point.y();
    }
}

TEST(TransformFrame, ResizeStopsShortWithMinSizeAndFlipsWithout) {
    CFrame f = CropLikeFrame({10, 10, 110, 60});
    EXPECT_EQ(Drag(f, {10, 35}, {200, 35}, 0x11), (Rect{100, 10, 110, 60}));
    CFrame top = CropLikeFrame({10, 10, 110, 60});
    EXPECT_EQ(Drag(top, {60, 10}, {60, 500}, 0x12), (Rect{10, 50, 110, 60}));

    CFrame free = CropLikeFrame({10, 10, 110, 60});
    free.minSize = false;
    EXPECT_EQ(Drag(free, {10, 35}, {200, 35}, 0x11), (Rect{200, 10, 110, 60}));
    RecordingPainter painter;
    free.Draw(painter, QPoint(0, 0), nullptr);
    ASSERT_EQ(painter.outline.size(), 4u);
    EXPECT_EQ(painter.outline[0], QPoint(110, 10));  // drawn normalised
    EXPECT_EQ(painter.outline[2], QPoint(200, 60));
}

TEST(TransformFrame, DetachedFrameStaysInsideItsBounds) {
    const Rect bounds{0, 0, 200, 100};
    CFrame moved = CropLikeFrame({10, 10, 60, 40}, &bounds);
    EXPECT_EQ(Drag(moved, {30, 20}, {400, 300}, 0x20), (Rect{150, 70, 200, 100}));
    CFrame left = CropLikeFrame({10, 10, 60, 40}, &bounds);
    EXPECT_EQ(Drag(left, {30, 20}, {-400, -300}, 0x20), (Rect{0, 0, 50, 30}));
    CFrame resized = CropLikeFrame({10, 10, 60, 40}, &bounds);
    EXPECT_EQ(Drag(resized, {60, 40}, {300, 300}, 0x0C), (Rect{10, 10, 200, 100}));
}

TEST(TransformFrame, AttachedCentreKeepsTheOppositeSide) {
    CFrame f = CentredFrame();
    ASSERT_EQ(f.anchor, 0x40u);
    Drag(f, {150, 100}, {170, 100}, 0x14);
    EXPECT_EQ(f.rect, (Rect{-60, -25, 60, 25}));
    EXPECT_EQ(f.centre, QPoint(110, 100));
    QPoint c[4];
    f.GetCorners(c, false, nullptr);
    EXPECT_EQ(c[0], QPoint(50, 75));  // the left side did not move
    EXPECT_EQ(c[1], QPoint(170, 75));
}

TEST(TransformFrame, CornerDragKeepsTheAspectWhenOneIsStored) {
    const OrvexBase::Size ratio{3, 2};
    CFrame f = CropLikeFrame({0, 0, 300, 200});
    f.Setup({0, 0, 300, 200}, 0.0, QPoint(0, 0), &ratio);
    EXPECT_EQ(f.allowed & 0x10, 0u);  // no edge handles with a ratio
    EXPECT_EQ(Drag(f, {300, 200}, {360, 200}, 0x0C, true), (Rect{0, 0, 360, 240}));

    // A stored ratio of 0 leaves the corner free instead of dividing by zero.
    const OrvexBase::Size none{0, 0};
    CFrame g = CropLikeFrame({0, 0, 300, 200});
    g.Setup({0, 0, 300, 200}, 0.0, QPoint(0, 0), &none);
    EXPECT_EQ(Drag(g, {300, 200}, {360, 200}, 0x0C, true), (Rect{0, 0, 360, 200}));
}

TEST(TransformFrame, CentreMarkerSnapsWithinNinePixels) {
    for (const auto& [to, snapped, centre] :
         {std::tuple{QPoint(59, 84), true, QPoint(50, 75)}, std::tuple{QPoint(60, 85), false, QPoint(60, 85)},
          std::tuple{QPoint(59, 85), false, QPoint(59, 85)}}) {
        CFrame f = CentredFrame();
        CTracker tracker(&f);
        ASSERT_TRUE(tracker.OnLButtonDown(100, 100));
        ASSERT_EQ(tracker.code, 0x40u);
        EXPECT_FALSE(f.markerAtCentre);
        FrameRegion repaint;
        tracker.OnMouseMove(to.x(), to.y(), &repaint);
        EXPECT_EQ(f.centreAttached, snapped) << to.x() << "," << to.y();
        tracker.OnLButtonUp();
        EXPECT_TRUE(f.markerAtCentre);
        EXPECT_EQ(f.centre, centre);
        QPoint c[4];
        f.GetCorners(c, false, nullptr);
        EXPECT_EQ(c[0], QPoint(50, 75));  // the rectangle stays where it was
    }
}

TEST(TransformFrame, CursorSectors) {
    const struct {
        int deg, sector;
    } cases[] = {{0, 0},   {22, 0},  {23, 1},  {68, 1},  {69, 2},
                 {112, 2}, {113, 3}, {158, 3}, {159, 0}, {179, 0}};
    for (const auto& c : cases) {
        // deg = trunc(theta * -180 / pi); half a degree keeps the truncation clear of rounding.
        EXPECT_EQ(CursorSector(-(c.deg + 0.5) * kPi / 180.0), c.sector) << c.deg;
        EXPECT_EQ(CursorSector(-(c.deg + 180 + 0.5) * kPi / 180.0), c.sector) << c.deg;
    }
    EXPECT_EQ(CursorSector((45 + 0.5) * kPi / 180.0), 3);  // -45 wraps to 135
}

TEST(TransformFrame, UnrotatedFrameCursors) {
    CFrame f = CropLikeFrame({0, 0, 100, 50});
    CTracker tracker(&f);
    const struct {
        QPoint point;
        FrameCursor cursor;
    } cases[] = {
        {{0, 25}, FrameCursor::Resize0},  {{100, 25}, FrameCursor::Resize0},
        {{50, 0}, FrameCursor::Resize2},  {{50, 50}, FrameCursor::Resize2},
        {{0, 0}, FrameCursor::Resize1},   {{100, 50}, FrameCursor::Resize1},
        {{100, 0}, FrameCursor::Resize3}, {{0, 50}, FrameCursor::Resize3},
        {{50, 25}, FrameCursor::Move},    {{300, 300}, FrameCursor::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tracker.CursorAt(c.point.x(), c.point.y()), c.cursor) << c.point.x() << "," << c.point.y();
}

TEST(TransformFrame, DrawsOutlineAndHandlesPerOptions) {
    RecordingPainter empty;
    CropLikeFrame({10, 10, 10, 60}).Draw(empty, QPoint(0, 0), nullptr);
    EXPECT_EQ(empty.ellipses, 0);
    EXPECT_TRUE(empty.outline.empty());

    RecordingPainter crop;
    CropLikeFrame({10, 10, 110, 60}).Draw(crop, QPoint(10, 10), nullptr);
    EXPECT_EQ(crop.ellipses, 8);  // corners and edge midpoints
    EXPECT_EQ(crop.outlinePen, Rgb(255, 187, 0));
    EXPECT_EQ(crop.outlineWidth, 3);
    EXPECT_EQ(crop.outline[0], QPoint(0, 0));  // minus the origin
    EXPECT_EQ(crop.clips, 0);

    RecordingPainter full;
    CFrame f = CentredFrame();
    f.plainCorners = true;
    f.Draw(full, QPoint(0, 0), nullptr);
    EXPECT_EQ(full.ellipses, 4 + 1 + 1);  // edges, rotor, centre marker
    EXPECT_EQ(full.pixels, 5);
    EXPECT_EQ(full.lines, 1);
    EXPECT_EQ(full.outlineWidth, 1);
}

TEST(TransformFrame, RotationAndNearestAnchor) {
    CFrame f = CentredFrame();
    f.angle = kPi / 2;
    EXPECT_EQ(f.LocalToFrame({50, 0}), QPoint(100, 50));
    EXPECT_EQ(f.FrameToLocal({100, 50}), QPoint(50, 0));
    f.angle = 0;
    QPoint offset;
    std::uint32_t code = 0;
    f.NearestAnchor(&offset, 148, 99, true, nullptr, &code);
    EXPECT_EQ(code, 0x14u);
    EXPECT_EQ(offset, QPoint(2, 1));
    f.NearestAnchor(&offset, 100, 100, true, nullptr, &code);
    EXPECT_EQ(code, 0x40u);
}
