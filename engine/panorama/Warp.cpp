#include "Warp.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "CpuFeatures.h"
#include "ThreadPool.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

std::uint32_t g_greyWeight30[256];
std::uint32_t g_greyWeight59[256];
std::uint32_t g_greyWeight11[256];
std::uint32_t g_alphaTimes255[256];
std::uint32_t g_bilinearWeight[16][16];

void InitPixelTables() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        g_greyWeight30[i] = 30 * i;
        g_greyWeight59[i] = 59 * i;
        g_greyWeight11[i] = 11 * i;
        g_alphaTimes255[i] = 255 * i;
    }
    for (std::uint32_t r = 0; r < 16; ++r)
        for (std::uint32_t c = 0; c < 16; ++c)
            g_bilinearWeight[r][c] = r * c;
}

namespace {

// Before main, so every later step finds the tables ready.
const bool g_pixelTablesReady = (InitPixelTables(), true);

bool Finite(double v) {
    return std::isfinite(v);
}

// The photo a warp reads from.
struct Source {
    const std::uint8_t* bits;
    std::size_t stride;
    const std::uint8_t* mask;  // null: every pixel covered
    std::size_t maskStride;
    std::uint32_t w, h;
};

// One destination pixel from its source position (xs, ys).
inline void WarpPixel(const Source& s, double xs, double ys, std::uint8_t* d, std::uint8_t* dm) {
    const std::uint32_t w = s.w, h = s.h;
    // Converted through a signed integer so that negative sources wrap to
    // large unsigned values and fall outside, as intended.
    const std::uint32_t u = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * xs + 0.5));
    const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * ys + 0.5));
    std::uint32_t ix = u >> 4, fx = u & 15, iy = v >> 4, fy = v & 15;
    if (ix > w - 1 || iy > h - 1) {
        const std::uint8_t* p = s.bits + std::min(iy, h - 1) * s.stride + 3 * std::min(ix, w - 1);
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
        *dm = 0;
        return;
    }
    std::uint32_t ix1 = ix + 1, iy1 = iy + 1;
    if (ix == w - 1) {
        ix1 = ix;
        fx = 0;
    }
    if (iy == h - 1) {
        iy1 = iy;
        fy = 0;
    }
    const std::uint32_t w00 = g_bilinearWeight[15 - fy][15 - fx];
    const std::uint32_t w10 = g_bilinearWeight[15 - fy][fx];
    const std::uint32_t w01 = g_bilinearWeight[fy][15 - fx];
    const std::uint32_t w11 = g_bilinearWeight[fy][fx];
    const std::uint8_t* r0 = s.bits + iy * s.stride;
    const std::uint8_t* r1 = s.bits + iy1 * s.stride;
    const std::uint8_t* p00 = r0 + 3 * ix;
    const std::uint8_t* p10 = r0 + 3 * ix1;
    const std::uint8_t* p01 = r1 + 3 * ix;
    const std::uint8_t* p11 = r1 + 3 * ix1;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint8_t>((w00 * p00[c] + w10 * p10[c] + w01 * p01[c] + w11 * p11[c]) / 225);
    if (s.mask) {
        const std::uint8_t* m0 = s.mask + iy * s.maskStride;
        const std::uint8_t* m1 = s.mask + iy1 * s.maskStride;
        *dm = static_cast<std::uint8_t>((w00 * m0[ix] + w10 * m0[ix1] + w01 * m1[ix] + w11 * m1[ix1]) / 225);
    } else {
        *dm = 255;
    }
}

#if defined(__x86_64__)
const bool kHaveAvx2 = CpuUsesAvx2();

// 16 ((mx x + my) + add) + 0.5 for the eight columns in a and b, as
// WarpPixel forms it, truncated to 32 bits; ok drops when a lane does not
// fit (where the truncation through 64 bits would differ).
__attribute__((target("avx2"), always_inline)) inline __m256i FixedPoint(__m256d a, __m256d b, __m256d mx,
                                                                         __m256d my, __m256d add, bool& ok) {
    const __m256d sixteen = _mm256_set1_pd(16.0), half = _mm256_set1_pd(0.5);
    const __m256d hi = _mm256_set1_pd(2147483647.0), lo = _mm256_set1_pd(-2147483647.0);
    const __m256d va = _mm256_add_pd(
        _mm256_mul_pd(sixteen, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(mx, a), my), add)), half);
    const __m256d vb = _mm256_add_pd(
        _mm256_mul_pd(sixteen, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(mx, b), my), add)), half);
    const __m256d in =
        _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(va, hi, _CMP_LT_OQ), _mm256_cmp_pd(va, lo, _CMP_GT_OQ)),
                      _mm256_and_pd(_mm256_cmp_pd(vb, hi, _CMP_LT_OQ), _mm256_cmp_pd(vb, lo, _CMP_GT_OQ)));
    ok = ok && _mm256_movemask_pd(in) == 15;
    return _mm256_set_m128i(_mm256_cvttpd_epi32(vb), _mm256_cvttpd_epi32(va));
}

// (w00 c00 + w10 c10 + w01 c01 + w11 c11) / 225 per lane; x / 225 is
// x * 37283 >> 23 for every x up to 225 x 255.
__attribute__((target("avx2"), always_inline)) inline __m256i Weigh(__m256i c00, __m256i c10, __m256i c01,
                                                                    __m256i c11, __m256i w00, __m256i w10,
                                                                    __m256i w01, __m256i w11) {
    const __m256i sum =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(w00, c00), _mm256_mullo_epi32(w10, c10)),
                         _mm256_add_epi32(_mm256_mullo_epi32(w01, c01), _mm256_mullo_epi32(w11, c11)));
    return _mm256_srli_epi32(_mm256_mullo_epi32(sum, _mm256_set1_epi32(37283)), 23);
}

// Eight destination pixels at a time: the source positions in double lanes
// formed as WarpPixel forms them, then the integer steps of WarpPixel in
// 32-bit lanes, with the four neighbours gathered. Outside pixels take the
// clamped neighbour at full weight (225 x p / 225 = p). A block whose
// positions do not fit 32 bits, or that reads within four bytes of the
// photo's last row end (a gather reads four bytes), goes pixel by pixel.
// Returns the number of columns done.
__attribute__((target("avx2"))) int WarpRowAvx2(const Source& s, const double* m, double y, int x0, int width,
                                                std::uint8_t* d, std::uint8_t* dm) {
    const __m256d m0 = _mm256_set1_pd(m[0]), m3 = _mm256_set1_pd(m[3]);
    const __m256d m1y = _mm256_set1_pd(m[1] * y), m4y = _mm256_set1_pd(m[4] * y);
    const __m256d m2 = _mm256_set1_pd(m[2]), m5 = _mm256_set1_pd(m[5]);
    const __m256d step = _mm256_set_pd(3, 2, 1, 0);
    const __m256i wLast = _mm256_set1_epi32(static_cast<int>(s.w - 1));
    const __m256i hLast = _mm256_set1_epi32(static_cast<int>(s.h - 1));
    const __m256i nearEnd = _mm256_set1_epi32(static_cast<int>(s.w) - 5);
    const __m256i fifteen = _mm256_set1_epi32(15), one = _mm256_set1_epi32(1), bytes = _mm256_set1_epi32(255);
    const __m256i stride = _mm256_set1_epi32(static_cast<int>(s.stride));
    const __m256i maskStride = _mm256_set1_epi32(static_cast<int>(s.maskStride));
    const int* bits = reinterpret_cast<const int*>(s.bits);
    const int* mask = reinterpret_cast<const int*>(s.mask);
    int col = 0;
    for (; col + 8 <= width; col += 8) {
        const __m256d xa = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x0 + col)), step);
        const __m256d xb = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x0 + col + 4)), step);
        bool ok = true;
        const __m256i u = FixedPoint(xa, xb, m0, m1y, m2, ok);
        const __m256i v = FixedPoint(xa, xb, m3, m4y, m5, ok);
        if (!ok)
            break;
        const __m256i ix = _mm256_srli_epi32(u, 4), iy = _mm256_srli_epi32(v, 4);
        const __m256i ixc = _mm256_min_epu32(ix, wLast), iyc = _mm256_min_epu32(iy, hLast);
        const __m256i inside = _mm256_and_si256(_mm256_cmpeq_epi32(ixc, ix), _mm256_cmpeq_epi32(iyc, iy));
        const __m256i right = _mm256_andnot_si256(_mm256_cmpeq_epi32(ixc, wLast), inside);
        const __m256i down = _mm256_andnot_si256(_mm256_cmpeq_epi32(iyc, hLast), inside);
        const __m256i ix1 = _mm256_add_epi32(ixc, _mm256_and_si256(right, one));
        const __m256i iy1 = _mm256_add_epi32(iyc, _mm256_and_si256(down, one));
        // Four bytes read from the last row must stay inside it.
        const __m256i risky =
            _mm256_and_si256(_mm256_cmpeq_epi32(iy1, hLast), _mm256_cmpgt_epi32(ix1, nearEnd));
        if (!_mm256_testz_si256(risky, risky))
            break;
        const __m256i fx = _mm256_and_si256(_mm256_and_si256(u, fifteen), right);
        const __m256i fy = _mm256_and_si256(_mm256_and_si256(v, fifteen), down);
        const __m256i gx = _mm256_sub_epi32(fifteen, fx), gy = _mm256_sub_epi32(fifteen, fy);
        const __m256i w00 = _mm256_mullo_epi32(gy, gx), w10 = _mm256_mullo_epi32(gy, fx);
        const __m256i w01 = _mm256_mullo_epi32(fy, gx), w11 = _mm256_mullo_epi32(fy, fx);
        const __m256i row0 = _mm256_mullo_epi32(iyc, stride), row1 = _mm256_mullo_epi32(iy1, stride);
        const __m256i col0 = _mm256_add_epi32(_mm256_add_epi32(ixc, ixc), ixc);
        const __m256i col1 = _mm256_add_epi32(_mm256_add_epi32(ix1, ix1), ix1);
        const __m256i g00 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, col0), 1);
        const __m256i g10 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row0, col1), 1);
        const __m256i g01 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, col0), 1);
        const __m256i g11 = _mm256_i32gather_epi32(bits, _mm256_add_epi32(row1, col1), 1);
        __m256i packed = _mm256_setzero_si256();
        for (int c = 0; c < 3; ++c) {
            const __m256i q =
                Weigh(_mm256_and_si256(_mm256_srli_epi32(g00, 8 * c), bytes),
                      _mm256_and_si256(_mm256_srli_epi32(g10, 8 * c), bytes),
                      _mm256_and_si256(_mm256_srli_epi32(g01, 8 * c), bytes),
                      _mm256_and_si256(_mm256_srli_epi32(g11, 8 * c), bytes), w00, w10, w01, w11);
            packed = _mm256_or_si256(packed, _mm256_slli_epi32(q, 8 * c));
        }
        __m256i cover;
        if (mask) {
            const __m256i mrow0 = _mm256_mullo_epi32(iyc, maskStride),
                          mrow1 = _mm256_mullo_epi32(iy1, maskStride);
            const __m256i q =
                Weigh(_mm256_and_si256(_mm256_i32gather_epi32(mask, _mm256_add_epi32(mrow0, ixc), 1), bytes),
                      _mm256_and_si256(_mm256_i32gather_epi32(mask, _mm256_add_epi32(mrow0, ix1), 1), bytes),
                      _mm256_and_si256(_mm256_i32gather_epi32(mask, _mm256_add_epi32(mrow1, ixc), 1), bytes),
                      _mm256_and_si256(_mm256_i32gather_epi32(mask, _mm256_add_epi32(mrow1, ix1), 1), bytes),
                      w00, w10, w01, w11);
            cover = _mm256_and_si256(q, inside);
        } else {
            cover = _mm256_and_si256(bytes, inside);
        }
        alignas(32) std::uint32_t px[8], mk[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(px), packed);
        _mm256_store_si256(reinterpret_cast<__m256i*>(mk), cover);
        std::uint8_t* out = d + 3 * col;
        for (int k = 0; k < 8; ++k) {
            out[3 * k] = static_cast<std::uint8_t>(px[k]);
            out[3 * k + 1] = static_cast<std::uint8_t>(px[k] >> 8);
            out[3 * k + 2] = static_cast<std::uint8_t>(px[k] >> 16);
            dm[col + k] = static_cast<std::uint8_t>(mk[k]);
        }
    }
    return col;
}
#endif

// Rows of one warped element; each call writes only its own rows.
void WarpRows(CPanoElement* photo, const double* m, CPanoElement* out, int x0, int y0, int rowBegin,
              int rowEnd) {
    Source s;
    s.bits = photo->GetBits();
    s.stride = photo->GetStride();
    s.mask = photo->GetMask();
    s.maskStride = photo->GetMaskStride();
    s.w = static_cast<std::uint32_t>(photo->GetWidth());
    s.h = static_cast<std::uint32_t>(photo->GetHeight());
    std::uint8_t* dst = out->GetBits();
    const std::size_t dstStride = out->GetStride();
    std::uint8_t* dstMask = out->GetMask();
    const std::size_t dstMaskStride = out->GetMaskStride();
    const int outWidth = out->GetWidth();
#if defined(__x86_64__)
    // Gathers address the photo with 32-bit offsets.
    constexpr std::size_t kGatherReach = std::size_t(1) << 30;
    const bool gather =
        kHaveAvx2 && s.stride * s.h < kGatherReach && (!s.mask || s.maskStride * s.h < kGatherReach);
#endif

    for (int row = rowBegin; row < rowEnd; ++row) {
        const double y = static_cast<double>(y0 + row);
        std::uint8_t* d = dst + row * dstStride;
        std::uint8_t* dm = dstMask + row * dstMaskStride;
        int col = 0;
#if defined(__x86_64__)
        // A block it leaves (a far or last-row position) goes pixel by
        // pixel, and the rest of the row with it.
        if (gather)
            col = WarpRowAvx2(s, m, y, x0, outWidth, d, dm);
#endif
        for (; col < outWidth; ++col) {
            const double x = static_cast<double>(x0 + col);
            const double xs = m[0] * x + m[1] * y + m[2];
            const double ys = m[3] * x + m[4] * y + m[5];
            WarpPixel(s, xs, ys, d + 3 * col, dm + col);
        }
    }
}

}  // namespace

CPanoElement* WarpPhotoElement(CPanoElement* photo, const double transform[9]) {
    (void)g_pixelTablesReady;
    // Three bytes are read per pixel: an 8-bit photo would be over-read.
    if (!photo || !photo->IsValid() || photo->GetBpp() != 24 || photo->GetWidth() <= 0 ||
        photo->GetHeight() <= 0)
        return nullptr;
    for (int i = 0; i < 6; ++i)
        if (!Finite(transform[i]))
            return nullptr;

    double inv[9];
    InvertMatrix3x3(inv, transform);
    const OrvexBase::Rect pr = photo->GetRect();
    const double cx[4] = {0.0, static_cast<double>(pr.right), 0.0, static_cast<double>(pr.right)};
    const double cy[4] = {0.0, 0.0, static_cast<double>(pr.bottom), static_cast<double>(pr.bottom)};
    double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
    for (int i = 0; i < 4; ++i) {
        const double px = inv[0] * cx[i] + inv[1] * cy[i] + inv[2];
        const double py = inv[3] * cx[i] + inv[4] * cy[i] + inv[5];
        minX = std::min(minX, px);
        maxX = std::max(maxX, px);
        minY = std::min(minY, py);
        maxY = std::max(maxY, py);
    }
    // A singular transform gives no usable bounds; so do bounds beyond int.
    constexpr double kLimit = 1 << 30;
    if (!Finite(minX) || !Finite(minY) || !Finite(maxX) || !Finite(maxY) || minX < -kLimit ||
        minY < -kLimit || maxX > kLimit || maxY > kLimit)
        return nullptr;
    const int x0 = static_cast<int>(std::floor(minX)), y0 = static_cast<int>(std::floor(minY));
    const int x1 = static_cast<int>(std::ceil(maxX)), y1 = static_cast<int>(std::ceil(maxY));
    if (x1 <= x0 || y1 <= y0)
        return nullptr;

    OrvexBase::RefPtr<CPanoElement> out(new (std::nothrow) CPanoElement(0));
    if (!out || !out->GetImage() || !out->Create(24, x1 - x0, y1 - y0))
        return nullptr;
    out->CreateMask(false);
    if (!out->GetMask())
        return nullptr;
    out->x = x0;
    out->y = y0;

    const int height = y1 - y0;
    Platform::ParallelFor(
        0, static_cast<std::size_t>(height),
        [&](std::size_t b, std::size_t e) {
            WarpRows(photo, transform, out.Get(), x0, y0, static_cast<int>(b), static_cast<int>(e));
        },
        16);
    return out.Detach();
}
