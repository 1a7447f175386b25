#include "LensPresets.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "PanoElement.h"
#include "ThreadPool.h"

using OrvexBase::RefPtr;

const LensPreset LensPresetTable::kPresets[LensPresetTable::kCount] = {
    {0, "14mm", 0.87}, {1, "15mm", 0.93}, {2, "16mm", 1.0}, {3, "18mm", 1.125}, {4, "20mm", 1.23},
    {5, "24mm", 1.51}, {6, "28mm", 1.75}, {7, "35mm", 2.3}, {8, "50mm", 3.2},   {9, "60mm", 3.7},
};
const int LensPresetTable::kIds[LensPresetTable::kCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

void GetLensPresetIds(std::vector<int>* ids) {
    if (!ids)
        return;
    ids->insert(ids->end(), std::begin(LensPresetTable::kIds), std::end(LensPresetTable::kIds));
}

void SphereForwardMap(int w, int h, double* X, double* Y, double x, double y, double f, double k) {
    const double m = std::max(w, h);
    const double u = (2 * x - w) / m;
    const double v = (2 * y - h) / m;
    const double lon = k * std::atan(u / f);
    const double lat = k * std::atan(v / std::sqrt(u * u + f * f));
    *X = (lon * m + w) / 2;
    *Y = (lat * m + h) / 2;
}

void SphereInverseMap(int w, int h, double* x, double* y, double X, double Y, double f, double k) {
    const double m = std::max(w, h);
    const double U = (2 * X - w) / m;
    const double V = (2 * Y - h) / m;
    const double t = std::tan(U / k);
    *x = (t * f * m + w) / 2;
    *y = (std::tan(V / k) * f * std::sqrt(t * t + 1) * m + h) / 2;
}

namespace {

struct WarpGeometry {
    int w = 0, h = 0;  // photo
    int W = 0, H = 0;  // output
    int spanX = 0;
    double minX = 0, minY = 0;
    double scale = 0;
};

// The output keeps the photo's longer side; its shape follows the sphere
// image of the photo's border.
bool ComputeWarpGeometry(int w, int h, double f, WarpGeometry* g) {
    if (w <= 0 || h <= 0 || !(f > 0) || !std::isfinite(f))
        return false;
    static const double kBorder[8][2] = {{0, 0}, {0.5, 0}, {1, 0}, {1, 0.5},
                                         {1, 1}, {0.5, 1}, {0, 1}, {0, 0.5}};
    double minX = DBL_MAX, maxX = -DBL_MAX, minY = DBL_MAX, maxY = -DBL_MAX;
    for (const auto& p : kBorder) {
        double X, Y;
        SphereForwardMap(w, h, &X, &Y, p[0] * w, p[1] * h, f, 1.0);
        minX = std::min(minX, X);
        maxX = std::max(maxX, X);
        minY = std::min(minY, Y);
        maxY = std::max(maxY, Y);
    }
    const double sx = std::ceil(maxX - minX), sy = std::ceil(maxY - minY);
    if (!(sx >= 1 && sy >= 1 && sx < 1e9 && sy < 1e9))
        return false;
    const long long spanX = static_cast<long long>(sx), spanY = static_cast<long long>(sy);
    const long long S = std::max(spanX, spanY);
    const long long m = std::max(w, h);
    g->w = w;
    g->h = h;
    g->W = static_cast<int>((m * spanX) / S);
    g->H = static_cast<int>((m * spanY) / S);
    if (g->W <= 0 || g->H <= 0)
        return false;
    g->spanX = static_cast<int>(spanX);
    g->minX = minX;
    g->minY = minY;
    g->scale = static_cast<double>(g->W) / spanX;
    return true;
}

// The inverse map splits by axis: the photo column and the square root of
// its 1 + tan^2 depend on the output column alone, the tangent of the
// latitude on the output row alone. Kept per column, the same products are
// formed per pixel in the same order as SphereInverseMap forms them.
struct ColumnMap {
    std::vector<double> sx;    // photo column
    std::vector<double> root;  // sqrt(tan^2 + 1) of the longitude
};

ColumnMap MapColumns(const WarpGeometry& g, double f) {
    const double m = std::max(g.w, g.h);
    const double factor = static_cast<double>(g.spanX) / g.W;
    ColumnMap map;
    map.sx.resize(static_cast<std::size_t>(g.W));
    map.root.resize(static_cast<std::size_t>(g.W));
    for (int x = 0; x < g.W; ++x) {
        const double X = x * factor + g.minX;
        const double U = (2 * X - g.w) / m;
        const double t = std::tan(U);
        map.sx[x] = (t * f * m + g.w) / 2;
        map.root[x] = std::sqrt(t * t + 1);
    }
    return map;
}

#if defined(__SSE2__)
// The three channels of a 24-bit pixel as 32-bit lanes (the fourth is 0).
inline __m128i Pixel3(const std::uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(p[0] | p[1] << 8 | p[2] << 16);
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
}

// The bilinear sample of the per-channel loop below, channels 0 and 1 in
// one pair of double lanes and channel 2 in the other: each lane forms the
// same products and sums in the same order, so the bytes are the same.
inline void BlendPixel3(const std::uint8_t* p00, const std::uint8_t* p10, const std::uint8_t* p01,
                        const std::uint8_t* p11, double fx, double fy, std::uint8_t* d) {
    const __m128i a = Pixel3(p00), b = Pixel3(p10), c = Pixel3(p01), e = Pixel3(p11);
    const __m128i ab = _mm_sub_epi32(b, a), ce = _mm_sub_epi32(e, c);
    const __m128d vfx = _mm_set1_pd(fx), vfy = _mm_set1_pd(fy);
    auto half = [&](__m128i p00s, __m128i dx0, __m128i p01s, __m128i dx1) {
        const __m128d top = _mm_add_pd(_mm_cvtepi32_pd(p00s), _mm_mul_pd(_mm_cvtepi32_pd(dx0), vfx));
        const __m128d bottom = _mm_add_pd(_mm_cvtepi32_pd(p01s), _mm_mul_pd(_mm_cvtepi32_pd(dx1), vfx));
        return _mm_cvttpd_epi32(_mm_add_pd(top, _mm_mul_pd(_mm_sub_pd(bottom, top), vfy)));
    };
    const __m128i lo = half(a, ab, c, ce);
    const __m128i hi = half(_mm_unpackhi_epi64(a, a), _mm_unpackhi_epi64(ab, ab), _mm_unpackhi_epi64(c, c),
                            _mm_unpackhi_epi64(ce, ce));
    // Values are 0 .. 255 here (weights in [0, 1)); min(value, 255) keeps them.
    const int v0 = _mm_cvtsi128_si32(lo), v1 = _mm_cvtsi128_si32(_mm_srli_si128(lo, 4)),
              v2 = _mm_cvtsi128_si32(hi);
    d[0] = static_cast<std::uint8_t>(std::min(v0, 255));
    d[1] = static_cast<std::uint8_t>(std::min(v1, 255));
    d[2] = static_cast<std::uint8_t>(std::min(v2, 255));
}
#endif

// Fills output rows [rowBegin, rowEnd) by the inverse map with bilinear
// sampling; pixels that fall outside the photo take the nearest border colour
// and keep mask 0.
void FillRows(const WarpGeometry& g, const ColumnMap& columns, CPanoElement* out, const CPanoElement* photo,
              double f, int rowBegin, int rowEnd) {
    const int channels = photo->GetBpp() / 8;
    const std::uint8_t* src = photo->GetBits();
    const std::size_t srcStride = photo->GetStride();
    std::uint8_t* dst = out->GetBits();
    const std::size_t dstStride = out->GetStride();
    std::uint8_t* mask = out->GetMask();
    const int maskStride = out->GetMaskStride();
    const double factor = static_cast<double>(g.spanX) / g.W;
    const double m = std::max(g.w, g.h);
    for (int y = rowBegin; y < rowEnd; ++y) {
        std::uint8_t* drow = dst + y * dstStride;
        std::uint8_t* mrow = mask + static_cast<std::size_t>(y) * maskStride;
        const double Y = y * factor + g.minY;
        const double V = (2 * Y - g.h) / m;
        const double tanV = std::tan(V) * f;
        for (int x = 0; x < g.W; ++x) {
            const double sx = columns.sx[x];
            const double sy = (tanV * columns.root[x] * m + g.h) / 2;
            std::uint8_t* d = drow + channels * x;
            if (!std::isfinite(sx) || !std::isfinite(sy) || sx < 0 || sx > g.w - 1 || sy < 0 ||
                sy > g.h - 1) {
                const int cx =
                    std::isfinite(sx) ? static_cast<int>(std::clamp(std::trunc(sx), 0.0, g.w - 1.0)) : 0;
                const int cy =
                    std::isfinite(sy) ? static_cast<int>(std::clamp(std::trunc(sy), 0.0, g.h - 1.0)) : 0;
                const std::uint8_t* s = src + cy * srcStride + channels * cx;
                for (int c = 0; c < channels; ++c)
                    d[c] = s[c];
                continue;
            }
            const int ix = static_cast<int>(sx), iy = static_cast<int>(sy);
            double fx = sx - ix, fy = sy - iy;
            int ix1 = ix + 1, iy1 = iy + 1;
            if (ix >= g.w - 1) {
                ix1 = ix;
                fx = 0;
            }
            if (iy >= g.h - 1) {
                iy1 = iy;
                fy = 0;
            }
            const std::uint8_t* p00 = src + iy * srcStride + channels * ix;
            const std::uint8_t* p10 = src + iy * srcStride + channels * ix1;
            const std::uint8_t* p01 = src + iy1 * srcStride + channels * ix;
            const std::uint8_t* p11 = src + iy1 * srcStride + channels * ix1;
#if defined(__SSE2__)
            if (channels == 3) {
                BlendPixel3(p00, p10, p01, p11, fx, fy, d);
                mrow[x] = 255;
                continue;
            }
#endif
            for (int c = 0; c < channels; ++c) {
                const double top = p00[c] + (p10[c] - p00[c]) * fx;
                const double bottom = p01[c] + (p11[c] - p01[c]) * fx;
                const int value = static_cast<int>(top + (bottom - top) * fy);
                d[c] = static_cast<std::uint8_t>(std::min(value, 255));
            }
            mrow[x] = 255;
        }
    }
}

void FillRowsParallel(const WarpGeometry& g, const ColumnMap& columns, CPanoElement* out,
                      const CPanoElement* photo, double f, int begin, int end) {
    Platform::ParallelFor(
        begin, end,
        [&](std::size_t b, std::size_t e) {
            FillRows(g, columns, out, photo, f, static_cast<int>(b), static_cast<int>(e));
        },
        16);
}

bool UsablePhoto(const CPanoElement* photo) {
    return photo && photo->IsValid() && (photo->GetBpp() == 8 || photo->GetBpp() == 24);
}

}  // namespace

CPanoElement* CreateSphereCanvas(CPanoElement* photo, double f) {
    if (!photo)
        return nullptr;
    WarpGeometry g;
    if (!ComputeWarpGeometry(photo->GetWidth(), photo->GetHeight(), f, &g))
        return nullptr;
    RefPtr<CPanoElement> canvas(new (std::nothrow) CPanoElement(0));
    if (!canvas || !canvas->GetImage())
        return nullptr;
    if (!canvas->CreateImage(photo->GetBpp() != 8, g.W, g.H, false))
        return nullptr;
    return canvas.Detach();
}

bool WarpElementToSphere(CPanoElement* target, CPanoElement* source, double f, double* scale,
                         const WarpProgress& progress) {
    if (!target || !UsablePhoto(source))
        return false;
    WarpGeometry g;
    if (!ComputeWarpGeometry(source->GetWidth(), source->GetHeight(), f, &g))
        return false;
    if (!target->CreateImage(source->GetBpp() != 8, g.W, g.H, true))
        return false;
    target->FillImageWhite();
    target->CreateMask(false);
    if (!target->GetMask())
        return false;
    if (scale)
        *scale = g.scale;
    // Progress is asked after rows H/3 and 2H/3, as one step each.
    const int cut1 = g.H / 3 + 1, cut2 = 2 * g.H / 3 + 1;
    const ColumnMap columns = MapColumns(g, f);
    FillRowsParallel(g, columns, target, source, f, 0, std::min(cut1, g.H));
    if (progress && progress())
        return false;
    FillRowsParallel(g, columns, target, source, f, std::min(cut1, g.H), std::min(cut2, g.H));
    if (progress && progress())
        return false;
    FillRowsParallel(g, columns, target, source, f, std::min(cut2, g.H), g.H);
    return true;
}

CPanoElement* MakeSphereWarpedCopy(CPanoElement* photo, double* scale, double f) {
    if (!UsablePhoto(photo))
        return nullptr;
    WarpGeometry g;
    if (!ComputeWarpGeometry(photo->GetWidth(), photo->GetHeight(), f, &g))
        return nullptr;
    RefPtr<CPanoElement> out(new (std::nothrow) CPanoElement(0));
    if (!out || !out->GetImage())
        return nullptr;
    if (!out->CreateImage(photo->GetBpp() != 8, g.W, g.H, true))
        return nullptr;
    out->FillImageWhite();
    out->CreateMask(false);
    if (!out->GetMask())
        return nullptr;
    if (scale)
        *scale = g.scale;
    FillRowsParallel(g, MapColumns(g, f), out.Get(), photo, f, 0, g.H);
    return out.Detach();
}
