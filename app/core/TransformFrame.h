#pragma once
// An interactive rectangle over a picture: it can be rotated about a centre,
// moved, and resized by handles at its corners and edge midpoints. CFrame is
// the geometry, CTracker turns mouse presses into changes of one frame, and
// the dot classes describe one handle each. Everything here is arithmetic:
// drawing goes through IFramePainter and screen areas come back as
// FrameRegion, which the widget turns into its own painter calls and regions.

#include <QPoint>
#include <cstdint>
#include <vector>

#include "ClientArea.h"
#include "OrvexBase.h"

namespace TransformFrame {

// Hit codes; the same bits make the mask of allowed operations.
enum : std::uint32_t {
    HitLeft = 0x01,
    HitTop = 0x02,
    HitRight = 0x04,
    HitBottom = 0x08,
    HitTopLeft = 0x03,
    HitTopRight = 0x06,
    HitBottomRight = 0x0C,
    HitBottomLeft = 0x09,
    HitEdge = 0x10,
    HitMove = 0x20,
    HitCentre = 0x40,
    HitRotor = 0x80,
    AllowCentreMarker = 0x100,
};

// 0x00BBGGRR colours, as the handles and outline are specified.
constexpr std::uint32_t Rgb(int r, int g, int b) {
    return std::uint32_t(r) | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
}
constexpr std::uint32_t kOutlineColour = Rgb(255, 187, 0);
constexpr std::uint32_t kDotPen = Rgb(0, 0, 0);

// A screen area as a union of polygons (alternate fill) and ellipses given by
// their bounding boxes (right and bottom exclusive).
struct FrameRegion {
    std::vector<std::vector<QPoint>> polygons;
    std::vector<OrvexBase::Rect> ellipses;
    bool IsEmpty() const { return polygons.empty() && ellipses.empty(); }
    void Add(const FrameRegion& other);
};

// What the frame draws with; the widget implements it over its painter.
class IFramePainter {
public:
    // Solid fill and a 1-pixel pen; the box is exclusive at right and bottom.
    virtual void Ellipse(const OrvexBase::Rect& box, std::uint32_t pen, std::uint32_t fill) = 0;
    virtual void Pixel(QPoint p, std::uint32_t colour) = 0;
    // Closed outline, no fill.
    virtual void Polygon(const std::vector<QPoint>& points, std::uint32_t pen, int width) = 0;
    virtual void Line(QPoint a, QPoint b, std::uint32_t pen, int width) = 0;
    // Keeps the outline off the handles: drawing leaves the area out until RestoreClip.
    virtual void ExcludeClip(const FrameRegion& area) = 0;
    virtual void RestoreClip() = 0;

protected:
    ~IFramePainter() = default;
};

namespace Private {

// One round handle in window coordinates.
class CDot {
public:
    CDot(int x, int y, int radius, std::uint32_t pen, std::uint32_t fill)
        : x(x), y(y), radius(radius), penColour(pen), fillColour(fill) {}
    virtual ~CDot() = default;
    virtual void Draw(IFramePainter& painter) const;
    // The elliptic area of the handle; not exact adds a margin for repainting.
    virtual void GetRegion(FrameRegion* out, bool exact) const;

    int x, y, radius;
    std::uint32_t penColour, fillColour;
};

// The centre marker: the dot with a pixel in its middle and four around it.
class CDotCentre : public CDot {
public:
    using CDot::CDot;
    void Draw(IFramePainter& painter) const override;
    void GetRegion(FrameRegion* out, bool exact) const override;
};

// The rotation handle.
class CDotRotor : public CDot {
public:
    using CDot::CDot;
    void Draw(IFramePainter& painter) const override;
};

}  // namespace Private

// Local coordinates: the rectangle unrotated, relative to the centre. Frame
// coordinates: local turned by angle about centre. Window coordinates: frame
// coordinates through the mapper (the same without one).
class CFrame {
public:
    virtual ~CFrame() = default;

    void Setup(const OrvexBase::Rect& localRect, double angle, QPoint centre, const OrvexBase::Size* aspect);
    void SetRect(const OrvexBase::Rect& frameRect);
    void SetBounds(const OrvexBase::Rect* bounds);
    void SetLocalRect(const OrvexBase::Rect& r, QPoint baseCentre);
    void MoveBy(QPoint from, QPoint to);
    void SetRotationCentre(QPoint p);

    QPoint FrameToLocal(QPoint p) const;
    QPoint LocalToFrame(QPoint p) const;
    // Local point to window point (through the mapper when given).
    QPoint LocalToWindow(QPoint p, IClientArea* mapper) const;
    QPoint FrameToWindow(QPoint p, IClientArea* mapper) const;
    QPoint WindowToFrame(QPoint p, IClientArea* mapper) const;

    // The corners top-left, top-right, bottom-right, bottom-left in window
    // coordinates, of the stored or of a normalised rectangle.
    void GetCorners(QPoint out[4], bool normalised, IClientArea* mapper) const;
    void GetRotorPosition(QPoint* rotor, QPoint* baseMidpoint, IClientArea* mapper) const;

    void Draw(IFramePainter& painter, QPoint origin, IClientArea* mapper) const;
    void GetRegion(FrameRegion* out, bool withCentre, IClientArea* mapper) const;
    std::uint32_t HitTest(int x, int y, IClientArea* mapper) const;
    // The anchor point nearest to (x, y): out = that point - (x, y).
    void NearestAnchor(QPoint* out, int x, int y, bool rotate, IClientArea* mapper,
                       std::uint32_t* outCode) const;

    OrvexBase::Rect rect;
    OrvexBase::Rect bounds;
    QPoint centre;
    double angle = 0.0;
    int aspectWidth = 0;
    int aspectHeight = 0;
    bool markerAtCentre = true;
    bool showCentre = true;
    bool showRotor = true;
    QPoint markerPos;
    bool centreAttached = true;
    std::uint32_t anchor = HitCentre;
    std::uint32_t allowed = 0xFF;
    bool minSize = false;
    bool plainCorners = false;

private:
    void RecomputeAnchor();
};

// The cursor the tracker asks for; the widget maps each to its cursor shape.
enum class FrameCursor { None, Move, Centre, Rotate, Resize0, Resize1, Resize2, Resize3 };

// Direction sector 0..3 of a resize handle at angle theta (radians).
int CursorSector(double theta);

class CTracker {
public:
    explicit CTracker(CFrame* frame) : frame(frame) {}

    bool OnLButtonDown(int x, int y);
    // True while a drag handled the move; repaint receives the window area to
    // invalidate (before and after the change).
    bool OnMouseMove(int x, int y, FrameRegion* repaint);
    bool OnLButtonUp();
    // The cursor for a pointer at (x, y) (client), None when the frame wants none.
    FrameCursor CursorAt(int x, int y) const;

    IClientArea* mapper = nullptr;
    CFrame* frame;
    QPoint pressPoint, lastPoint;
    std::uint32_t code = 0;
    double savedAngle = 0.0;
    QPoint markerOffset;
    bool draggingMarker = false;
    OrvexBase::Rect savedRect;
    QPoint savedCentre;
    bool dragging = false;
    bool keepAspect = false;
};

}  // namespace TransformFrame
