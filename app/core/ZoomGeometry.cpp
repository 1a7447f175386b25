#include "ZoomGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ZoomGeometry {

const double kViewLevels[18] = {1, 2, 3, 4, 5, 6, 8, 13, 17, 25, 33, 50, 67, 100, 150, 200, 300, 400};
const double kPaneLevels[16] = {1, 2, 3, 4, 5, 6, 8, 13, 17, 25, 33, 50, 67, 100, 200, 400};

namespace {

// Truncation toward zero, saturated so a huge zoomed value cannot overflow.
int Trunc(double v) {
    if (!(v == v))
        return 0;
    v = std::trunc(v);
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(v);
}

}  // namespace

double ClampZoom(double zoom) {
    if (!(zoom == zoom))
        return kMinZoom;
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

int NearestZoomIndex(double zoom) {
    zoom = ClampZoom(zoom);
    int best = 0;
    double bestDiff = 99999.0;
    for (int i = 0; i < 18; ++i) {
        const double diff = std::fabs(kViewLevels[i] - zoom);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = i;
        }
    }
    return best;
}

double NextZoomLevel(std::span<const double> levels, double zoom, bool up) {
    const double z = ClampZoom(zoom);
    if (up) {
        for (double level : levels)
            if (level > z)
                return level;
    } else {
        for (auto it = levels.rbegin(); it != levels.rend(); ++it)
            if (*it < z)
                return *it;
    }
    return zoom;
}

double FitZoom(int width, int height, int imageWidth, int imageHeight, int margin) {
    if (imageWidth <= 0 || imageHeight <= 0)
        return 100.0;
    const double zx = double(width - 2 * margin) * 100.0 / imageWidth;
    const double zy = double(height - 2 * margin) * 100.0 / imageHeight;
    return ClampZoom(std::min(zx, zy));
}

double FitExtentZoom(int clientExtent, int imageExtent, int margin) {
    if (imageExtent <= 0)
        return 100.0;
    return ClampZoom(double(clientExtent - 2 * margin) * 100.0 / imageExtent);
}

OrvexBase::Size ContentSize(int imageWidth, int imageHeight, double zoom, int margin) {
    const auto extent = [&](int n) {
        const std::int64_t v = std::int64_t(2) * margin + Trunc(n * zoom / 100.0);
        return int(std::clamp<std::int64_t>(v, 1, std::numeric_limits<int>::max()));
    };
    return {extent(imageWidth), extent(imageHeight)};
}

int CentreOrClamp(int target, int content, int client) {
    if (content < client)
        return (content - client) / 2;
    return std::clamp(target, 0, content - client);
}

QPoint ViewClientToImage(const Mapping& m, QPoint p) {
    return {Trunc((double(m.scroll.x()) + p.x()) * 100.0 / m.zoom),
            m.imageHeight - Trunc((double(m.scroll.y()) + p.y()) * 100.0 / m.zoom)};
}

QPoint ViewImageToClient(const Mapping& m, QPoint p) {
    return {Trunc(p.x() * m.zoom / 100.0 - m.scroll.x()),
            Trunc(double(m.imageHeight - p.y()) * m.zoom / 100.0 - m.scroll.y())};
}

QPoint PaneClientToImage(const Mapping& m, QPoint p) {
    const double sx = double(m.scroll.x()) - m.margin;
    const double sy = double(m.scroll.y()) - m.margin;
    return {Trunc((sx + p.x()) * 100.0 / m.zoom), m.imageHeight - Trunc((sy + p.y()) * 100.0 / m.zoom) - 1};
}

QPoint PaneImageToClient(const Mapping& m, QPoint p) {
    const double h = m.zoom > 100.0 ? m.zoom / 200.0 : 0.0;
    const double sx = double(m.scroll.x()) - m.margin;
    const double sy = double(m.scroll.y()) - m.margin;
    return {Trunc(p.x() * m.zoom / 100.0 - sx + h),
            Trunc(double(m.imageHeight - p.y() - 1) * m.zoom / 100.0 - sy + h)};
}

OrvexBase::Rect RectClientToImage(const Mapping& m, const OrvexBase::Rect& r) {
    const double e = m.zoom > 100.0 ? m.zoom / 100.0 - 1.0 : 0.0;
    const double sx = double(m.scroll.x()) - m.margin;
    const double sy = double(m.scroll.y()) - m.margin;
    const int l = Trunc((r.left + sx) * 100.0 / m.zoom);
    const int t = Trunc((r.top + sy) * 100.0 / m.zoom);
    const int rr = Trunc((r.right + sx + e) * 100.0 / m.zoom);
    const int b = Trunc((r.bottom + sy + e) * 100.0 / m.zoom);
    return {l, m.imageHeight - b, rr, m.imageHeight - t};
}

OrvexBase::Rect RectImageToClient(const Mapping& m, const OrvexBase::Rect& r) {
    const double e = m.zoom > 100.0 ? 0.0 : m.zoom / 100.0 - 1.0;
    const double sx = double(m.scroll.x()) - m.margin;
    const double sy = double(m.scroll.y()) - m.margin;
    const double h = double(m.imageHeight) - r.bottom;
    const double d = double(r.bottom) - r.top;
    return {Trunc(r.left * m.zoom / 100.0 - sx), Trunc(h * m.zoom / 100.0 - sy),
            Trunc((r.right * m.zoom + e) / 100.0 - sx), Trunc(((h + d) * m.zoom + e) / 100.0 - sy)};
}

BarsLayout LayoutBars(const BarsInput& in) {
    BarsLayout out;
    int availW = in.client.cx + (in.vShown ? in.barWidth : 0);
    int availH = in.client.cy + (in.hShown ? in.barHeight : 0);
    const int totalW = in.total.cx;
    const int totalH = in.total.cy;
    out.needH = availW < totalW || (availW < totalW + in.barWidth && availH < totalH);
    out.needV = availH < totalH || (availH < totalH + in.barHeight && availW < totalW);
    if (out.needH)
        availH -= in.barHeight;
    if (out.needV)
        availW -= in.barWidth;
    out.available = {std::max(availW, 0), std::max(availH, 0)};
    const auto axis = [&](int total, int avail, int pos, int& range) {
        range = total - avail;
        if (range < 1) {
            const int centred = in.centre ? (range + 1) / 2 : 0;
            range = 0;
            return centred;
        }
        return std::clamp(pos, 0, range);
    };
    int rangeX = 0, rangeY = 0;
    const int x = axis(totalW, out.available.cx, in.position.x(), rangeX);
    const int y = axis(totalH, out.available.cy, in.position.y(), rangeY);
    out.range = {rangeX, rangeY};
    out.position = {x, y};
    return out;
}

QPoint ScrollBy(QPoint position, int dx, int dy, QPoint limit, bool canScrollH, bool canScrollV) {
    if (!canScrollH)
        dx = 0;
    if (!canScrollV)
        dy = 0;
    const auto step = [](int pos, int d, int lim) {
        const std::int64_t v = std::int64_t(pos) + d;
        return int(std::clamp<std::int64_t>(v, 0, std::max(lim, 0)));
    };
    return {dx ? step(position.x(), dx, limit.x()) : position.x(),
            dy ? step(position.y(), dy, limit.y()) : position.y()};
}

}  // namespace ZoomGeometry
