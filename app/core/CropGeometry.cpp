#include "CropGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace CropGeometry {

std::optional<FittedCrop> FitCropRect(const OrvexBase::Rect& rect, const CropAspect& aspect) {
    if (aspect.kind == 2 && aspect.width > 0 && aspect.height > 0) {
        const std::int64_t w = aspect.width, h = aspect.height;
        const std::int64_t W = std::int64_t(rect.right) - rect.left;
        const std::int64_t H = std::int64_t(rect.bottom) - rect.top;
        OrvexBase::Rect out = rect;
        if (W * h > H * w) {
            const std::int64_t nw = H * w / h;
            out.left = int(rect.left + (W - nw) / 2);
            out.right = int(out.left + nw);
        } else {
            const std::int64_t nh = W * h / w;
            out.top = int(rect.top + (H - nh) / 2);
            out.bottom = int(out.top + nh);
        }
        return FittedCrop{out, true};
    }
    if (aspect.kind == 1 || aspect.kind == 2)
        return FittedCrop{rect, false};
    return std::nullopt;
}

void ShadeBands(const OrvexBase::Rect& crop, int areaWidth, int areaHeight, Band out[4]) {
    if (crop.right <= crop.left || crop.bottom <= crop.top) {
        out[0] = {0, 0, areaWidth, areaHeight};
        out[1] = out[2] = out[3] = {0, 0, 0, 0};
        return;
    }
    const int ch = crop.bottom - crop.top;
    out[0] = {0, 0, areaWidth, crop.top};
    out[1] = {0, crop.bottom, areaWidth, areaHeight - crop.bottom};
    out[2] = {0, crop.top, crop.left, ch};
    out[3] = {crop.right, crop.top, areaWidth - crop.right, ch};
}

bool InNavigationArea(int clientWidth, int clientHeight, QPoint p) {
    const int dx = clientWidth / 8, dy = clientHeight / 8;
    return p.x() >= dx && p.x() < clientWidth - dx && p.y() >= dy && p.y() < clientHeight - dy;
}

std::optional<Angles> NavigationStep(QPoint press, QPoint point, int imageClientWidth, int imageClientHeight,
                                     Angles atPress) {
    if (imageClientWidth == 0 || imageClientHeight == 0)
        return std::nullopt;
    const auto step = [](std::int64_t delta, int extent, int base) {
        const std::int64_t v = delta * 45 / extent + base;
        return int(std::clamp<std::int64_t>(v, -45, 45));
    };
    return Angles{step(std::int64_t(press.y()) - point.y(), imageClientHeight, atPress.elevation),
                  step(std::int64_t(press.x()) - point.x(), imageClientWidth, atPress.azimuth)};
}

int TiltStep(QPoint centre, QPoint press, QPoint point, int tiltAtPress) {
    const double a1 = std::atan2(double(point.y() - centre.y()), double(point.x() - centre.x()));
    const double a0 = std::atan2(double(press.y() - centre.y()), double(press.x() - centre.x()));
    // 3.14 rather than pi keeps the angles the document has always received.
    const double tilt = std::trunc((a1 - a0) * 180.0 / 3.14 + tiltAtPress);
    return int(std::clamp(tilt, -45.0, 45.0));
}

namespace {

std::int32_t ScaleCoordinate(std::int32_t value, int fullWidth, int previewWidth) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(value) * fullWidth / previewWidth);
}

}  // namespace

bool ScaleCropRect(const OrvexBase::Rect& rect, int previewWidth, const OrvexBase::Rect& fullRect,
                   OrvexBase::Rect* out) {
    if (previewWidth <= 0 || !out)
        return false;
    const int fullWidth = fullRect.Width();
    OrvexBase::Rect scaled(ScaleCoordinate(rect.left, fullWidth, previewWidth),
                           ScaleCoordinate(rect.top, fullWidth, previewWidth),
                           ScaleCoordinate(rect.right, fullWidth, previewWidth),
                           ScaleCoordinate(rect.bottom, fullWidth, previewWidth));
    // Kept within the result, whichever way its rectangle points.
    const auto clamp = [](std::int32_t v, std::int32_t a, std::int32_t b) {
        return std::clamp(v, std::min(a, b), std::max(a, b));
    };
    *out = OrvexBase::Rect(clamp(scaled.left, fullRect.left, fullRect.right),
                           clamp(scaled.top, fullRect.top, fullRect.bottom),
                           clamp(scaled.right, fullRect.left, fullRect.right),
                           clamp(scaled.bottom, fullRect.top, fullRect.bottom));
    return true;
}

}  // namespace CropGeometry
