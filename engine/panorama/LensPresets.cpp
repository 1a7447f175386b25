#include "LensPresets.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "CpuFeatures.h"
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
// formed per pixel in the same order as SphereInverseMap forms them; so is
// everything else the photo column decides.
struct ColumnMap {
    std::vector<double> root;      // sqrt(tan^2 + 1) of the longitude
    std::vector<char> inside;      // a finite photo column within [0, w - 1]
    std::vector<int> clamped;      // outside: the border column whose colour it takes
    std::vector<int> left, right;  // inside: byte offsets of the two neighbours
    std::vector<double> fraction;  // inside: weight of the right one
};

ColumnMap MapColumns(const WarpGeometry& g, double f, int channels) {
    const double m = std::max(g.w, g.h);
    const double factor = static_cast<double>(g.spanX) / g.W;
    ColumnMap map;
    const std::size_t n = static_cast<std::size_t>(g.W);
    map.root.resize(n);
    map.inside.assign(n, 0);
    map.clamped.assign(n, 0);
    map.left.assign(n, 0);
    map.right.assign(n, 0);
    map.fraction.assign(n, 0.0);
    for (int x = 0; x < g.W; ++x) {
        const double X = x * factor + g.minX;
        const double U = (2 * X - g.w) / m;
        const double t = std::tan(U);
        const double sx = (t * f * m + g.w) / 2;
        map.root[x] = std::sqrt(t * t + 1);
        map.inside[x] = std::isfinite(sx) && !(sx < 0 || sx > g.w - 1);
        map.clamped[x] = std::isfinite(sx) ? static_cast<int>(std::clamp(std::trunc(sx), 0.0, g.w - 1.0)) : 0;
        if (map.inside[x]) {
            const int ix = static_cast<int>(sx);
            map.fraction[x] = sx - ix;
            int ix1 = ix + 1;
            if (ix >= g.w - 1) {
                ix1 = ix;
                map.fraction[x] = 0;
            }
            map.left[x] = channels * ix;
            map.right[x] = channels * ix1;
        }
    }
    return map;
}

#if defined(__x86_64__)
const bool kHaveAvx2 = CpuUsesAvx2();

// Four pixels x .. x + 3 of a 24-bit row, as FillRows samples them: the
// same double products and sums in the same order, lane by lane. Only
// blocks whose four columns and rows lie inside the photo, clear of its last
// two rows (a gather reads four bytes, one past the pixel), are done here;
// false leaves the block to the pixel loop.
__attribute__((target("avx2"))) bool FillBlockAvx2(const WarpGeometry& g, const ColumnMap& map, double tanV,
                                                   double m, const std::uint8_t* src, int srcStride, int x,
                                                   std::uint8_t* drow, std::uint8_t* mrow) {
    const __m256d vt = _mm256_set1_pd(tanV), vm = _mm256_set1_pd(m), vh = _mm256_set1_pd(g.h);
    const __m256d half = _mm256_set1_pd(0.5), zero = _mm256_setzero_pd();
    const __m256d clear = _mm256_set1_pd(g.h - 2.0);
    const __m128i stride = _mm_set1_epi32(srcStride), bytes = _mm_set1_epi32(255);
    const int* base = reinterpret_cast<const int*>(src);
    if (!(map.inside[x] && map.inside[x + 1] && map.inside[x + 2] && map.inside[x + 3]))
        return false;
    // (tanV root m + h) / 2, the halving exact as a product with 0.5.
    const __m256d sy = _mm256_mul_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(vt, _mm256_loadu_pd(&map.root[x])), vm), vh), half);
    const __m256d ok =
        _mm256_and_pd(_mm256_cmp_pd(sy, zero, _CMP_GE_OQ), _mm256_cmp_pd(sy, clear, _CMP_LT_OQ));
    if (_mm256_movemask_pd(ok) != 15)
        return false;
    const __m128i iy = _mm256_cvttpd_epi32(sy);
    const __m256d fy = _mm256_sub_pd(sy, _mm256_cvtepi32_pd(iy));
    const __m256d fx = _mm256_loadu_pd(&map.fraction[x]);
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&map.left[x]));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&map.right[x]));
    const __m128i row0 = _mm_mullo_epi32(iy, stride), row1 = _mm_add_epi32(row0, stride);
    const __m128i g00 = _mm_i32gather_epi32(base, _mm_add_epi32(row0, left), 1);
    const __m128i g10 = _mm_i32gather_epi32(base, _mm_add_epi32(row0, right), 1);
    const __m128i g01 = _mm_i32gather_epi32(base, _mm_add_epi32(row1, left), 1);
    const __m128i g11 = _mm_i32gather_epi32(base, _mm_add_epi32(row1, right), 1);
    __m128i packed = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c) {
        const __m128i p00 = _mm_and_si128(_mm_srli_epi32(g00, 8 * c), bytes);
        const __m128i p10 = _mm_and_si128(_mm_srli_epi32(g10, 8 * c), bytes);
        const __m128i p01 = _mm_and_si128(_mm_srli_epi32(g01, 8 * c), bytes);
        const __m128i p11 = _mm_and_si128(_mm_srli_epi32(g11, 8 * c), bytes);
        const __m256d top = _mm256_add_pd(_mm256_cvtepi32_pd(p00),
                                          _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(p10, p00)), fx));
        const __m256d bottom = _mm256_add_pd(_mm256_cvtepi32_pd(p01),
                                             _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(p11, p01)), fx));
        const __m128i value = _mm_min_epi32(
            _mm256_cvttpd_epi32(_mm256_add_pd(top, _mm256_mul_pd(_mm256_sub_pd(bottom, top), fy))), bytes);
        packed = _mm_or_si128(packed, _mm_slli_epi32(value, 8 * c));
    }
    alignas(16) std::uint32_t px[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(px), packed);
    std::uint8_t* d = drow + 3 * x;
    for (int k = 0; k < 4; ++k) {
        d[3 * k] = static_cast<std::uint8_t>(px[k]);
        d[3 * k + 1] = static_cast<std::uint8_t>(px[k] >> 8);
        d[3 * k + 2] = static_cast<std::uint8_t>(px[k] >> 16);
        mrow[x + k] = 255;
    }
    return true;
}
#endif

// Fills output rows [rowBegin, rowEnd) by the inverse map with bilinear
// sampling; pixels that fall outside the photo take the nearest border colour
// and keep mask 0.
void FillRows(const WarpGeometry& g, const ColumnMap& map, CPanoElement* out, const CPanoElement* photo,
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
#if defined(__x86_64__)
    // Gathers address the photo with 32-bit offsets.
    const bool gather =
        kHaveAvx2 && channels == 3 && srcStride * static_cast<std::size_t>(g.h) < (std::size_t(1) << 30);
#endif
    for (int y = rowBegin; y < rowEnd; ++y) {
        std::uint8_t* drow = dst + y * dstStride;
        std::uint8_t* mrow = mask + static_cast<std::size_t>(y) * maskStride;
        const double Y = y * factor + g.minY;
        const double V = (2 * Y - g.h) / m;
        const double tanV = std::tan(V) * f;
        auto pixel = [&](int x) {
            const double sy = (tanV * map.root[x] * m + g.h) / 2;
            std::uint8_t* d = drow + channels * x;
            if (!map.inside[x] || !std::isfinite(sy) || sy < 0 || sy > g.h - 1) {
                const int cy =
                    std::isfinite(sy) ? static_cast<int>(std::clamp(std::trunc(sy), 0.0, g.h - 1.0)) : 0;
                const std::uint8_t* s = src + cy * srcStride + channels * map.clamped[x];
                for (int c = 0; c < channels; ++c)
                    d[c] = s[c];
                return;
            }
            const int iy = static_cast<int>(sy);
            const double fx = map.fraction[x];
            double fy = sy - iy;
            int iy1 = iy + 1;
            if (iy >= g.h - 1) {
                iy1 = iy;
                fy = 0;
            }
            const std::uint8_t* r0 = src + iy * srcStride;
            const std::uint8_t* r1 = src + iy1 * srcStride;
            const std::uint8_t* p00 = r0 + map.left[x];
            const std::uint8_t* p10 = r0 + map.right[x];
            const std::uint8_t* p01 = r1 + map.left[x];
            const std::uint8_t* p11 = r1 + map.right[x];
            for (int c = 0; c < channels; ++c) {
                const double top = p00[c] + (p10[c] - p00[c]) * fx;
                const double bottom = p01[c] + (p11[c] - p01[c]) * fx;
                const int value = static_cast<int>(top + (bottom - top) * fy);
                d[c] = static_cast<std::uint8_t>(std::min(value, 255));
            }
            mrow[x] = 255;
        };
        int x = 0;
#if defined(__x86_64__)
        if (gather)
            for (; x + 4 <= g.W; x += 4)
                if (!FillBlockAvx2(g, map, tanV, m, src, static_cast<int>(srcStride), x, drow, mrow))
                    for (int k = 0; k < 4; ++k)
                        pixel(x + k);
#endif
        for (; x < g.W; ++x)
            pixel(x);
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
    const ColumnMap columns = MapColumns(g, f, source->GetBpp() / 8);
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
    FillRowsParallel(g, MapColumns(g, f, photo->GetBpp() / 8), out.Get(), photo, f, 0, g.H);
    return out.Detach();
}
