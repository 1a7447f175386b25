#include "TransformFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace TransformFrame {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kDotFill = Rgb(255, 187, 0);
constexpr int kDotRadius = 4;
constexpr int kRotorRadius = 6;

// Half away from zero, then truncated.
int RoundAway(double v) {
    return v >= 0 ? int(v + 0.5) : int(v - 0.5);
}

OrvexBase::Rect Normalised(const OrvexBase::Rect& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

bool IsRectEmpty(const OrvexBase::Rect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// The overlap of two rectangles; all zero when they do not meet.
OrvexBase::Rect IntersectRects(const OrvexBase::Rect& a, const OrvexBase::Rect& b) {
    OrvexBase::Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                      std::min(a.bottom, b.bottom)};
    return IsRectEmpty(r) ? OrvexBase::Rect{} : r;
}

bool PtInRect(const OrvexBase::Rect& r, QPoint p) {
    return p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom;
}

OrvexBase::Rect Offset(OrvexBase::Rect r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

long long Dist2(QPoint a, QPoint b) {
    const long long dx = a.x() - b.x(), dy = a.y() - b.y();
    return dx * dx + dy * dy;
}

QPoint Half(QPoint a, QPoint b) {
    return {(a.x() + b.x()) / 2, (a.y() + b.y()) / 2};
}

// A strip 2 pixels to each side of the segment a-b, along its longer axis.
std::vector<QPoint> Strip(QPoint a, QPoint b) {
    if (std::abs(b.x() - a.x()) < std::abs(b.y() - a.y()))
        return {{a.x() - 2, a.y()}, {a.x() + 2, a.y()}, {b.x() + 2, b.y()}, {b.x() - 2, b.y()}};
    return {{a.x(), a.y() - 2}, {b.x(), b.y() - 2}, {b.x(), b.y() + 2}, {a.x(), a.y() + 2}};
}

Private::CDot Dot(QPoint p, int radius = kDotRadius) {
    return Private::CDot(p.x(), p.y(), radius, kDotPen, kDotFill);
}

}  // namespace

void FrameRegion::Add(const FrameRegion& other) {
    polygons.insert(polygons.end(), other.polygons.begin(), other.polygons.end());
    ellipses.insert(ellipses.end(), other.ellipses.begin(), other.ellipses.end());
}

namespace Private {

void CDot::Draw(IFramePainter& painter) const {
    painter.Ellipse({x - radius, y - radius, x + radius + 1, y + radius + 1}, penColour, fillColour);
}

void CDot::GetRegion(FrameRegion* out, bool exact) const {
    if (exact)
        out->ellipses.push_back({x - radius, y - radius, x + radius + 1, y + radius + 1});
    else
        out->ellipses.push_back({x - radius - 2, y - radius - 2, x + radius + 4, y + radius + 4});
}

void CDotCentre::Draw(IFramePainter& painter) const {
    CDot::Draw(painter);
    const int d = radius + 1;
    for (QPoint p : {QPoint(x, y), QPoint(x - d, y), QPoint(x + d, y), QPoint(x, y - d), QPoint(x, y + d)})
        painter.Pixel(p, penColour);
}

void CDotCentre::GetRegion(FrameRegion* out, bool exact) const {
    if (exact)
        out->ellipses.push_back({x - radius - 1, y - radius - 1, x + radius + 2, y + radius + 2});
    else
        CDot::GetRegion(out, false);
}

void CDotRotor::Draw(IFramePainter& painter) const {
    CDot::Draw(painter);
}

}  // namespace Private

// --- CFrame ----------------------------------------------------------------

QPoint CFrame::LocalToFrame(QPoint p) const {
    const double c = std::cos(angle), s = std::sin(angle);
    return {centre.x() + RoundAway(p.x() * c + p.y() * s), centre.y() + RoundAway(-p.x() * s + p.y() * c)};
}

QPoint CFrame::FrameToLocal(QPoint p) const {
    const double c = std::cos(angle), s = std::sin(angle);
    const double dx = p.x() - centre.x(), dy = p.y() - centre.y();
    return {RoundAway(dx * c - dy * s), RoundAway(dx * s + dy * c)};
}

QPoint CFrame::FrameToWindow(QPoint p, IClientArea* mapper) const {
    if (mapper)
        mapper->ImageToClient(&p);
    return p;
}

QPoint CFrame::WindowToFrame(QPoint p, IClientArea* mapper) const {
    if (mapper)
        mapper->ClientToImage(&p);
    return p;
}

QPoint CFrame::LocalToWindow(QPoint p, IClientArea* mapper) const {
    return FrameToWindow(LocalToFrame(p), mapper);
}

void CFrame::GetCorners(QPoint out[4], bool normalised, IClientArea* mapper) const {
    const OrvexBase::Rect r = normalised ? Normalised(rect) : rect;
    out[0] = LocalToWindow({r.left, r.top}, mapper);
    out[1] = LocalToWindow({r.right, r.top}, mapper);
    out[2] = LocalToWindow({r.right, r.bottom}, mapper);
    out[3] = LocalToWindow({r.left, r.bottom}, mapper);
}

void CFrame::GetRotorPosition(QPoint* rotor, QPoint* baseMidpoint, IClientArea* mapper) const {
    const QPoint p1 = LocalToWindow({rect.right, rect.bottom}, mapper);
    const QPoint p2 = LocalToWindow({rect.left, rect.bottom}, mapper);
    const QPoint m = Half(p1, p2);
    double phi = std::atan2(double(m.y() - p1.y()), double(m.x() - p1.x()));
    if (rect.left > rect.right)
        phi += kPi;
    if (rect.top > rect.bottom)
        phi += kPi;
    if (baseMidpoint)
        *baseMidpoint = m;
    if (rotor)
        *rotor = {int(m.x() - 20.0 * std::sin(phi)), int(m.y() + 20.0 * std::cos(phi))};
}

void CFrame::RecomputeAnchor() {
    QPoint offset;
    NearestAnchor(&offset, 0, 0, false, nullptr, &anchor);
}

void CFrame::Setup(const OrvexBase::Rect& localRect, double a, QPoint c, const OrvexBase::Size* aspect) {
    rect = localRect;
    angle = a;
    centre = c;
    markerPos = c;
    if (aspect) {
        aspectWidth = aspect->cx;
        aspectHeight = aspect->cy;
        allowed &= ~std::uint32_t(HitEdge);
    } else {
        allowed |= HitEdge;
    }
    RecomputeAnchor();
}

void CFrame::SetRect(const OrvexBase::Rect& frameRect) {
    rect = Offset(frameRect, -centre.x(), -centre.y());
    angle = 0.0;
    RecomputeAnchor();
}

void CFrame::SetBounds(const OrvexBase::Rect* b) {
    bounds = b ? *b : OrvexBase::Rect{};
}

void CFrame::SetLocalRect(const OrvexBase::Rect& r, QPoint baseCentre) {
    if (r == rect)
        return;
    rect = r;
    if (centreAttached) {
        const int midX = (rect.left + rect.right) / 2, midY = (rect.top + rect.bottom) / 2;
        int ax = midX, ay = midY;
        if (anchor != HitCentre) {
            ax = (anchor & HitLeft) ? rect.left : (anchor & HitRight) ? rect.right : midX;
            ay = (anchor & HitTop) ? rect.top : (anchor & HitBottom) ? rect.bottom : midY;
        }
        rect = Offset(rect, -ax, -ay);
        const double c = std::cos(angle), s = std::sin(angle);
        centre = {baseCentre.x() + RoundAway(ax * c + ay * s), baseCentre.y() + RoundAway(-ax * s + ay * c)};
        markerPos = centre;
    } else if (!IsRectEmpty(bounds)) {
        rect = IntersectRects(rect, bounds);
    }
}

void CFrame::MoveBy(QPoint from, QPoint to) {
    if (centreAttached) {
        centre += to - from;
        markerPos = centre;
        return;
    }
    const QPoint d = FrameToLocal(to) - FrameToLocal(from);
    rect = Offset(rect, d.x(), d.y());
    if (IsRectEmpty(bounds))
        return;
    if (rect.left < bounds.left)
        rect = Offset(rect, bounds.left - rect.left, 0);
    if (rect.right > bounds.right)
        rect = Offset(rect, bounds.right - rect.right, 0);
    if (rect.top < bounds.top)
        rect = Offset(rect, 0, bounds.top - rect.top);
    if (rect.bottom > bounds.bottom)
        rect = Offset(rect, 0, bounds.bottom - rect.bottom);
}

void CFrame::SetRotationCentre(QPoint p) {
    const QPoint d = FrameToLocal(p);
    rect = Offset(rect, -d.x(), -d.y());
    centre = p;
    markerPos = p;
    RecomputeAnchor();
}

void CFrame::Draw(IFramePainter& painter, QPoint origin, IClientArea* mapper) const {
    if (IsRectEmpty(Normalised(rect)))
        return;
    QPoint c[4];
    GetCorners(c, true, mapper);
    for (QPoint& p : c)
        p -= origin;
    const QPoint mids[4] = {Half(c[0], c[1]), Half(c[2], c[3]), Half(c[0], c[3]), Half(c[1], c[2])};
    QPoint rotor, base;
    GetRotorPosition(&rotor, &base, mapper);
    rotor -= origin;
    base -= origin;

    const bool edges = (allowed & HitEdge) != 0;
    FrameRegion handles;
    if (!plainCorners)
        for (QPoint p : c)
            Dot(p).GetRegion(&handles, true);
    if (edges)
        for (QPoint p : mids)
            Dot(p).GetRegion(&handles, true);
    Private::CDotRotor(rotor.x(), rotor.y(), kRotorRadius, kDotPen, kDotFill).GetRegion(&handles, true);
    painter.ExcludeClip(handles);

    painter.Polygon({c[0], c[1], c[2], c[3]}, kOutlineColour, plainCorners ? 1 : 3);
    if (showRotor)
        painter.Line(base, rotor, kOutlineColour, plainCorners ? 1 : 3);
    painter.RestoreClip();

    if (!plainCorners)
        for (QPoint p : c)
            Dot(p).Draw(painter);
    if (edges)
        for (QPoint p : mids)
            Dot(p).Draw(painter);
    if (showRotor)
        Private::CDotRotor(rotor.x(), rotor.y(), kRotorRadius, kDotPen, kDotFill).Draw(painter);
    if (showCentre) {
        const QPoint m = FrameToWindow(markerAtCentre ? centre : markerPos, mapper) - origin;
        Private::CDotCentre(m.x(), m.y(), kDotRadius, kDotPen, kDotFill).Draw(painter);
    }
}

void CFrame::GetRegion(FrameRegion* out, bool withCentre, IClientArea* mapper) const {
    QPoint c[4];
    GetCorners(c, false, mapper);
    for (int i = 0; i < 4; ++i)
        out->polygons.push_back(Strip(c[i], c[(i + 1) % 4]));
    for (QPoint p : c)
        Dot(p).GetRegion(out, false);
    for (QPoint p : {Half(c[0], c[1]), Half(c[2], c[3]), Half(c[0], c[3]), Half(c[1], c[2])})
        Dot(p).GetRegion(out, false);
    if (withCentre && showCentre)
        Dot(FrameToWindow(centre, mapper)).GetRegion(out, false);
    if (showRotor) {
        QPoint rotor, base;
        GetRotorPosition(&rotor, &base, mapper);
        Dot(rotor, kRotorRadius).GetRegion(out, false);
        out->polygons.push_back(Strip(base, rotor));
    }
}

std::uint32_t CFrame::HitTest(int x, int y, IClientArea* mapper) const {
    const QPoint p(x, y);
    if (Dist2(p, FrameToWindow(centre, mapper)) <= 16 && (allowed & (HitCentre | AllowCentreMarker)))
        return HitCentre;
    QPoint c[4];
    GetCorners(c, false, mapper);
    const std::uint32_t cornerCodes[4] = {HitTopLeft, HitTopRight, HitBottomRight, HitBottomLeft};
    for (int i = 0; i < 4; ++i)
        if (Dist2(p, c[i]) <= 16)
            return cornerCodes[i];
    if (allowed & HitEdge) {
        const auto vertical = [&](QPoint a, QPoint b) {
            return OrvexBase::Rect{a.x() - 2, std::min(a.y(), b.y()), a.x() + 2, std::max(a.y(), b.y())};
        };
        const auto horizontal = [&](QPoint a, QPoint b) {
            return OrvexBase::Rect{std::min(a.x(), b.x()), a.y() - 2, std::max(a.x(), b.x()), a.y() + 2};
        };
        if (PtInRect(vertical(c[0], c[3]), p))
            return HitEdge | HitLeft;
        if (PtInRect(vertical(c[1], c[2]), p))
            return HitEdge | HitRight;
        if (PtInRect(horizontal(c[0], c[1]), p))
            return HitEdge | HitTop;
        if (PtInRect(horizontal(c[3], c[2]), p))
            return HitEdge | HitBottom;
    }
    if (allowed & HitRotor) {
        QPoint rotor;
        GetRotorPosition(&rotor, nullptr, mapper);
        if (Dist2(p, rotor) <= 36)
            return HitRotor;
    }
    if (allowed & HitMove) {
        if (PtInRect(Normalised(rect), FrameToLocal(WindowToFrame(p, mapper))))
            return HitMove;
    }
    return 0;
}

void CFrame::NearestAnchor(QPoint* out, int x, int y, bool rotate, IClientArea* mapper,
                           std::uint32_t* outCode) const {
    QPoint pts[9] = {{rect.left, rect.top},
                     {rect.right, rect.top},
                     {rect.right, rect.bottom},
                     {rect.left, rect.bottom},
                     {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}};
    for (int i = 0; i < 5; ++i) {
        if (rotate)
            pts[i] = LocalToFrame(pts[i]);
        pts[i] = FrameToWindow(pts[i], mapper);
    }
    pts[5] = Half(pts[0], pts[1]);
    pts[6] = Half(pts[2], pts[3]);
    pts[7] = Half(pts[0], pts[3]);
    pts[8] = Half(pts[1], pts[2]);
    const std::uint32_t codes[9] = {0x03, 0x06, 0x0C, 0x09, 0x40, 0x12, 0x18, 0x11, 0x14};
    const QPoint target(x, y);
    int best = 0;
    for (int i = 1; i < 9; ++i)
        if (Dist2(pts[i], target) < Dist2(pts[best], target))
            best = i;
    if (outCode)
        *outCode = codes[best];
    if (out)
        *out = pts[best] - target;
}

// --- CTracker --------------------------------------------------------------

int CursorSector(double theta) {
    int deg = int(theta * -180.0 / kPi);
    deg %= 180;
    if (deg < 0)
        deg += 180;
    if (deg >= 23 && deg <= 68)
        return 1;
    if (deg >= 69 && deg <= 112)
        return 2;
    if (deg >= 113 && deg <= 158)
        return 3;
    return 0;
}

bool CTracker::OnLButtonDown(int x, int y) {
    code = frame->HitTest(x, y, mapper);
    if (code == 0)
        return false;
    pressPoint = lastPoint = QPoint(x, y);
    dragging = true;
    savedAngle = frame->angle;
    savedRect = frame->rect;
    savedCentre = frame->centre;
    if (code == HitCentre) {
        draggingMarker = true;
        frame->markerAtCentre = false;
    }
    return true;
}

bool CTracker::OnMouseMove(int x, int y, FrameRegion* repaint) {
    if (code == 0 || !dragging) {
        lastPoint = QPoint(x, y);
        return false;
    }
    QPoint point(x, y);
    if (code == HitCentre) {
        const QPoint c = frame->FrameToWindow(frame->centre, mapper);
        const QPoint q = c + (point - pressPoint);
        QPoint offset;
        frame->NearestAnchor(&offset, q.x(), q.y(), true, mapper, nullptr);
        if (std::abs(offset.x()) < 10 && std::abs(offset.y()) < 10) {
            frame->centreAttached = true;
            point += offset;
        } else {
            frame->centreAttached = false;
        }
        const QPoint newOffset = point - pressPoint;
        if (newOffset != markerOffset) {
            const QPoint before = c + markerOffset;
            const QPoint after = c + newOffset;
            if (repaint) {
                Private::CDotCentre(before.x(), before.y(), kDotRadius, kDotPen, kDotFill)
                    .GetRegion(repaint, false);
                Private::CDotCentre(after.x(), after.y(), kDotRadius, kDotPen, kDotFill)
                    .GetRegion(repaint, false);
            }
            markerOffset = newOffset;
            frame->markerPos = frame->WindowToFrame(after, mapper);
        }
        lastPoint = QPoint(x, y);
        return true;
    }

    FrameRegion before;
    frame->GetRegion(&before, false, mapper);
    if (code == HitMove) {
        frame->MoveBy(frame->WindowToFrame(lastPoint, mapper), frame->WindowToFrame(point, mapper));
    } else if (code == HitRotor) {
        const QPoint c = frame->FrameToWindow(frame->centre, mapper);
        const double a0 = std::atan2(double(pressPoint.y() - c.y()), double(pressPoint.x() - c.x()));
        const double a1 = std::atan2(double(y - c.y()), double(x - c.x()));
        frame->angle = savedAngle + (mapper ? a1 - a0 : a0 - a1);
    } else if (code & (HitLeft | HitRight | HitEdge)) {
        const QPoint p0 = frame->FrameToLocal(frame->WindowToFrame(pressPoint, mapper));
        const QPoint p1 = frame->FrameToLocal(frame->WindowToFrame(point, mapper));
        const QPoint d = p1 - p0;
        int l = savedRect.left, t = savedRect.top, r = savedRect.right, b = savedRect.bottom;
        const bool minSize = frame->minSize;
        if (code & HitLeft)
            l = minSize ? std::min(l + d.x(), r - 10) : l + d.x();
        if (code & HitRight)
            r = minSize ? std::max(r + d.x(), l + 10) : r + d.x();
        if (code & HitTop)
            t = minSize ? std::min(t + d.y(), b - 10) : t + d.y();
        if (code & HitBottom)
            b = minSize ? std::max(b + d.y(), t + 10) : b + d.y();
        // The ratio needs both terms positive; without them a corner resizes freely.
        const long long aw = frame->aspectWidth, ah = frame->aspectHeight;
        if (keepAspect && !(code & HitEdge) && aw > 0 && ah > 0) {
            const OrvexBase::Rect n = Normalised({l, t, r, b});
            long long w = 0, h = 0;
            if (aw > ah) {
                w = std::abs(r - l);
                h = w * ah / aw;
            } else {
                h = std::abs(b - t);
                w = aw * h / ah;
            }
            int dw = int(w - n.Width()), dh = int(h - n.Height());
            if (r < l)
                dw = -dw;
            if (b < t)
                dh = -dh;
            if (code & HitLeft)
                l -= dw;
            if (code & HitRight)
                r += dw;
            if (code & HitTop)
                t -= dh;
            if (code & HitBottom)
                b += dh;
        }
        frame->SetLocalRect({l, t, r, b}, savedCentre);
    }
    if (repaint) {
        repaint->Add(before);
        frame->GetRegion(repaint, false, mapper);
    }
    lastPoint = QPoint(x, y);
    return true;
}

bool CTracker::OnLButtonUp() {
    dragging = false;
    if (code == 0)
        return false;
    if (code == HitCentre) {
        draggingMarker = false;
        frame->markerAtCentre = true;
        const QPoint c = frame->FrameToWindow(frame->centre, mapper);
        frame->SetRotationCentre(frame->WindowToFrame(c + markerOffset, mapper));
        markerOffset = QPoint();
    }
    return true;
}

FrameCursor CTracker::CursorAt(int x, int y) const {
    const std::uint32_t c = dragging ? code : frame->HitTest(x, y, mapper);
    if (c == HitCentre || draggingMarker)
        return FrameCursor::Centre;
    if (c == HitMove)
        return FrameCursor::Move;
    if (c == HitRotor)
        return FrameCursor::Rotate;
    if (c == 0 || !(c & (HitLeft | HitTop | HitRight | HitBottom)))
        return FrameCursor::None;
    double theta = frame->angle;
    if (c & HitEdge) {
        if (c & HitTop)
            theta += kPi / 2;
        else if (c & HitBottom)
            theta -= kPi / 2;
    } else {
        const OrvexBase::Rect& r = frame->rect;
        if ((r.right < r.left) != (r.bottom < r.top))
            theta += kPi / 2;
        if (c & HitLeft)
            theta += (c & HitTop) ? 3 * kPi / 4 : 5 * kPi / 4;
        else
            theta += (c & HitTop) ? kPi / 4 : -kPi / 4;
    }
    return FrameCursor(int(FrameCursor::Resize0) + CursorSector(theta));
}

}  // namespace TransformFrame
