#include "ManualMatcher.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include "ImplausibleTransform.h"
#include "PanoElement.h"
#include "SvdSolver.h"

using OrvexBase::Rect;
using OrvexBase::Size;

namespace {

// A double as an int, truncated toward zero; NaN gives 0 and out-of-range
// values the nearest end, so a wild transform cannot make the conversion
// undefined.
int SaturateToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(v);
}

// Nearest integer, halves away from zero.
int RoundHalfAway(double v) {
    return SaturateToInt(v < 0.0 ? v - 0.5 : v + 0.5);
}

bool IsImplausibleEitherWay(const Size& a, const Size& b, const double h[9]) {
    if (IsImplausibleTransform(a, b, h))
        return true;
    double inverse[9];
    InvertMatrix3x3(inverse, h);
    return IsImplausibleTransform(b, a, inverse);
}

// Largest canvas the preview allocates: its 24-bit buffer stays well below
// 2 GiB.
constexpr std::int64_t kMaxPreviewPixels = std::int64_t(1) << 28;

bool Cancelled(const std::atomic<int>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

}  // namespace

CManualMatcher::CManualMatcher(bool flag) : optionFlag(flag) {}

void CManualMatcher::GetMarkers(bool second, int out[6]) const {
    if (out)
        std::copy(second ? markers2 : markers1, (second ? markers2 : markers1) + 6, out);
}

void CManualMatcher::GetTransform(double out[9]) const {
    if (out)
        std::copy(transform, transform + 9, out);
}

void CManualMatcher::PlaceDefaultMarkers() {
    // 64-bit products: a huge size must not overflow the seven-eighths.
    const std::int64_t wA = size1.cx, hA = size1.cy, wB = size2.cx, hB = size2.cy;
    const std::int64_t first[6] = {7 * wA / 8, 3 * hA / 4, 7 * wA / 8, hA / 2, 7 * wA / 8, hA / 4};
    const std::int64_t second[6] = {wB / 8, 3 * hB / 4, wB / 8, hB / 2, wB / 8, hB / 4};
    for (int i = 0; i < 6; ++i) {
        markers1[i] = static_cast<int>(first[i]);
        markers2[i] = static_cast<int>(second[i]);
    }
}

void CManualMatcher::MapMarkersByTransform() {
    for (int k = 0; k < 3; ++k) {
        const double x = markers1[2 * k], y = markers1[2 * k + 1];
        markers2[2 * k] = SaturateToInt(transform[0] * x + transform[1] * y + transform[2] + 0.5);
        markers2[2 * k + 1] = SaturateToInt(transform[3] * x + transform[4] * y + transform[5] + 0.5);
    }
}

void CManualMatcher::InitDefaultMarkers(const Size& first, const Size& second) {
    size1 = first;
    size2 = second;
    fromTransform = false;
    motionModel = initialModel = 2;
    PlaceDefaultMarkers();
    Solve(2);
}

void CManualMatcher::InitFromTransform(const Size& first, const Size& second, const int markers[6],
                                       const double H[9], int model) {
    if (!markers || !H) {
        InitDefaultMarkers(first, second);
        return;
    }
    fromTransform = true;
    size1 = first;
    size2 = second;
    std::copy(H, H + 9, initialTransform);
    std::copy(H, H + 9, transform);
    motionModel = initialModel = model;
    std::copy(markers, markers + 6, initialMarkers);
    std::copy(markers, markers + 6, markers1);
    MapMarkersByTransform();
    if (IsImplausibleEitherWay(first, second, H))
        InitDefaultMarkers(first, second);
}

void CManualMatcher::UpdateInvalid() {
    invalid = IsImplausibleEitherWay(size1, size2, transform);
}

void CManualMatcher::Solve(int model) {
    try {
        switch (model) {
            case 0:
                SolveAffine();
                break;
            case 1:
                SolveSimilarity();
                break;
            case 2:
                SolveScaleShift();
                break;
            default:
                invalid = true;
                return;
        }
    } catch (const alglib::ap_error&) {
        // No work storage for the solve: the old transform stays, unusable.
        invalid = true;
        return;
    }
    UpdateInvalid();
}

bool CManualMatcher::SolveDegeneratePair() {
    if (markers1[0] != markers1[2] || markers1[1] != markers1[3])
        return false;
    if (markers2[0] != markers2[2] || markers2[1] != markers2[3])
        return false;
    const double shift[9] = {
        1, 0, double(markers2[0]) - markers1[0], 0, 1, double(markers2[1]) - markers1[1], 0, 0, 1};
    std::copy(shift, shift + 9, transform);
    return true;
}

void CManualMatcher::SolveAffine() {
    alglib::real_2d_array a;
    alglib::real_1d_array x;
    a.setlength(6, 7);
    for (int k = 0; k < 3; ++k) {
        const double px = markers1[2 * k], py = markers1[2 * k + 1];
        const double rowX[7] = {px, 0, py, 0, 1, 0, double(markers2[2 * k])};
        const double rowY[7] = {0, px, 0, py, 0, 1, double(markers2[2 * k + 1])};
        for (int c = 1; c <= 7; ++c) {
            At(a, 2 * k + 1, c) = rowX[c - 1];
            At(a, 2 * k + 2, c) = rowY[c - 1];
        }
    }
    // The success flag does not matter: a rank-deficient marker set still
    // gives its minimum-norm transform, which the plausibility test judges.
    SolveLeastSquaresSVD(a, 6, 6, x);
    const double h[9] = {At(x, 1), At(x, 3), At(x, 5), At(x, 2), At(x, 4), At(x, 6), 0, 0, 1};
    std::copy(h, h + 9, transform);
}

void CManualMatcher::SolveSimilarity() {
    if (SolveDegeneratePair())
        return;
    alglib::real_2d_array a;
    alglib::real_1d_array x;
    a.setlength(4, 5);
    for (int k = 0; k < 2; ++k) {
        const double px = markers1[2 * k], py = markers1[2 * k + 1];
        const double rowX[5] = {px, py, 1, 0, double(markers2[2 * k])};
        const double rowY[5] = {py, -px, 0, 1, double(markers2[2 * k + 1])};
        for (int c = 1; c <= 5; ++c) {
            At(a, 2 * k + 1, c) = rowX[c - 1];
            At(a, 2 * k + 2, c) = rowY[c - 1];
        }
    }
    SolveLeastSquaresSVD(a, 4, 4, x);
    const double sa = At(x, 1), sb = At(x, 2);
    const double h[9] = {sa, sb, At(x, 3), -sb, sa, At(x, 4), 0, 0, 1};
    std::copy(h, h + 9, transform);
}

void CManualMatcher::SolveScaleShift() {
    if (SolveDegeneratePair())
        return;
    alglib::real_2d_array a;
    alglib::real_1d_array x;
    a.setlength(4, 4);
    for (int k = 0; k < 2; ++k) {
        const double rowX[4] = {double(markers1[2 * k]), 1, 0, double(markers2[2 * k])};
        const double rowY[4] = {double(markers1[2 * k + 1]), 0, 1, double(markers2[2 * k + 1])};
        for (int c = 1; c <= 4; ++c) {
            At(a, 2 * k + 1, c) = rowX[c - 1];
            At(a, 2 * k + 2, c) = rowY[c - 1];
        }
    }
    SolveLeastSquaresSVD(a, 4, 3, x);
    const double s = At(x, 1);
    const double h[9] = {s, 0, At(x, 2), 0, s, At(x, 3), 0, 0, 1};
    std::copy(h, h + 9, transform);
}

void CManualMatcher::SetMarker(bool second, const int point[2], int index) {
    if (!point)
        return;
    index = std::clamp(index, 0, 2);
    int* marker = (second ? markers2 : markers1) + 2 * index;
    if (marker[0] != point[0] || marker[1] != point[1]) {
        marker[0] = point[0];
        marker[1] = point[1];
        modified = true;
    }
    Solve(motionModel);
}

void CManualMatcher::SetMotionModel(int model) {
    if (model == motionModel)
        return;
    motionModel = model;
    Solve(model);
}

void CManualMatcher::Reset() {
    modified = false;
    invalid = false;
    motionModel = initialModel;
    if (!fromTransform) {
        PlaceDefaultMarkers();
    } else {
        std::copy(initialTransform, initialTransform + 9, transform);
        std::copy(initialMarkers, initialMarkers + 6, markers1);
        MapMarkersByTransform();
    }
    // The reset view is always the scale-and-shift solution of pairs 0 and 1.
    try {
        SolveScaleShift();
    } catch (const alglib::ap_error&) {
        invalid = true;
        return;
    }
    UpdateInvalid();
}

bool CManualMatcher::IsTransformInvalid() const {
    if (motionModel != 0)
        return invalid;
    // Written so that a NaN also counts as not dominant; an affine solution
    // that failed the plausibility test stays invalid too.
    const bool dominant = std::fabs(transform[0]) >= std::fabs(transform[3]) &&
                          std::fabs(transform[4]) >= std::fabs(transform[1]);
    return invalid || !dominant;
}

PanoramaLib::IPanoElement* RenderMatchPreview(PanoramaLib::IPanoElement* first,
                                              PanoramaLib::IPanoElement* second, double H[9],
                                              const std::atomic<int>* cancel) {
    if (!first || !second || !H)
        return nullptr;
    if (first->GetBpp() != 24 || second->GetBpp() != 24 || Cancelled(cancel))
        return nullptr;
    if (!first->IsValid() || !second->IsValid() || !first->GetBits() || !second->GetBits())
        return nullptr;
    const int wA = first->GetWidth(), hA = first->GetHeight();
    const int wB = second->GetWidth(), hB = second->GetHeight();
    if (wA <= 0 || hA <= 0 || wB <= 0 || hB <= 0)
        return nullptr;
    if (!std::all_of(H, H + 9, [](double v) { return std::isfinite(v); }))
        return nullptr;

    // The second photo's corners in the first photo's frame.
    double inverse[9];
    InvertMatrix3x3(inverse, H);
    const double corners[4][2] = {{0, 0}, {double(wB), 0}, {double(wB), double(hB)}, {0, double(hB)}};
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (int c = 0; c < 4; ++c) {
        const double x = inverse[0] * corners[c][0] + inverse[1] * corners[c][1] + inverse[2];
        const double y = inverse[3] * corners[c][0] + inverse[4] * corners[c][1] + inverse[5];
        minX = c == 0 ? x : std::min(minX, x);
        maxX = c == 0 ? x : std::max(maxX, x);
        minY = c == 0 ? y : std::min(minY, y);
        maxY = c == 0 ? y : std::max(maxY, y);
    }
    const Rect r1 = first->GetRect();
    const double left = std::min<double>(r1.left, minX), right = std::max<double>(r1.right, maxX);
    const double top = std::min<double>(r1.top, minY), bottom = std::max<double>(r1.bottom, maxY);
    for (double v : {minX, maxX, minY, maxY, left, right, top, bottom})
        if (!(v > -32768.0 && v < 32767.0))
            return nullptr;  // NaN included

    // Shift H so that it maps canvas positions to the second photo.
    const int ox = static_cast<int>(std::floor(left));
    const int oy = static_cast<int>(std::floor(top));
    H[2] = -(inverse[2] - ox) * H[0] - (inverse[5] - oy) * H[1];
    H[5] = -(inverse[2] - ox) * H[3] - (inverse[5] - oy) * H[4];

    const Rect footprint(static_cast<int>(std::floor(minX)) - ox, static_cast<int>(std::floor(minY)) - oy,
                         static_cast<int>(std::ceil(maxX)) - ox, static_cast<int>(std::ceil(maxY)) - oy);
    const Rect place(r1.left - ox, r1.top - oy, r1.right - ox, r1.bottom - oy);
    const Rect canvas = footprint.Union(place);
    const int width = canvas.Width(), height = canvas.Height();
    if (width < 2 || height < 2)
        return nullptr;
    if (std::int64_t(width) * height > kMaxPreviewPixels)
        return nullptr;

    // Released on every way out but the last.
    OrvexBase::RefPtr<CPanoElement> preview(new (std::nothrow) CPanoElement(0));
    if (!preview || !preview->GetImage())
        return nullptr;
    if (!preview->CreateImage(true, width, height, true) || !preview->GetBits())
        return nullptr;
    preview->CreateMask(false);
    if (!preview->GetMask() || Cancelled(cancel))
        return nullptr;
    preview->FillImageWhite();
    if (Cancelled(cancel))
        return nullptr;

    std::uint8_t* bits = preview->GetBits();
    std::uint8_t* mask = preview->GetMask();
    const std::size_t stride = preview->GetStride();
    const std::size_t maskStride = preview->GetMaskStride();

    // The first photo at its place, with its mask (or full cover).
    {
        const std::uint8_t* src = first->GetBits();
        const std::size_t srcStride = first->GetStride();
        const std::uint8_t* srcMask = first->GetMask();
        const std::size_t srcMaskStride = first->GetMaskStride();
        for (int r = 0; r < hA; ++r) {
            const std::size_t row = static_cast<std::size_t>(r + place.top);
            std::memcpy(bits + row * stride + 3 * static_cast<std::size_t>(place.left), src + r * srcStride,
                        3 * static_cast<std::size_t>(wA));
            std::uint8_t* m = mask + row * maskStride + place.left;
            if (srcMask)
                std::memcpy(m, srcMask + r * srcMaskStride, wA);
            else
                std::memset(m, 255, wA);
            if (Cancelled(cancel))
                return nullptr;
        }
    }

    // The second photo through H, averaged where both cover.
    const std::uint8_t* src = second->GetBits();
    const std::size_t srcStride = second->GetStride();
    const std::uint8_t* srcMask = second->GetMask();
    const std::size_t srcMaskStride = second->GetMaskStride();
    for (int v = footprint.top; v < footprint.bottom; ++v) {
        for (int u = footprint.left; u < footprint.right; ++u) {
            const int sx = RoundHalfAway(H[0] * u + H[1] * v + H[2]);
            const int sy = RoundHalfAway(H[3] * u + H[4] * v + H[5]);
            if (sx >= 0 && sx < wB && sy >= 0 && sy < hB) {
                const std::uint8_t* p = src + sy * srcStride + 3 * static_cast<std::size_t>(sx);
                std::uint8_t* q = bits + v * stride + 3 * static_cast<std::size_t>(u);
                std::uint8_t& m = mask[v * maskStride + u];
                const std::uint8_t cover = srcMask ? srcMask[sy * srcMaskStride + sx] : 255;
                if (m == 0) {
                    std::copy(p, p + 3, q);
                    m = cover;
                } else if (cover != 0) {
                    for (int i = 0; i < 3; ++i)
                        q[i] = static_cast<std::uint8_t>((q[i] + p[i]) / 2);
                }
            }
            if (Cancelled(cancel))
                return nullptr;
        }
    }

    preview->ApplyMask();
    return preview.Detach();
}
