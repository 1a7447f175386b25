#include "Warp.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "ThreadPool.h"

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

// Rows of one warped element; each call writes only its own rows.
void WarpRows(CPanoElement* photo, const double* m, CPanoElement* out, int x0, int y0, int rowBegin,
              int rowEnd) {
    const std::uint32_t w = static_cast<std::uint32_t>(photo->GetWidth());
    const std::uint32_t h = static_cast<std::uint32_t>(photo->GetHeight());
    const std::uint8_t* src = photo->GetBits();
    const std::size_t srcStride = photo->GetStride();
    const std::uint8_t* srcMask = photo->GetMask();
    const std::size_t srcMaskStride = photo->GetMaskStride();
    std::uint8_t* dst = out->GetBits();
    const std::size_t dstStride = out->GetStride();
    std::uint8_t* dstMask = out->GetMask();
    const std::size_t dstMaskStride = out->GetMaskStride();
    const int outWidth = out->GetWidth();

    for (int row = rowBegin; row < rowEnd; ++row) {
        const double y = static_cast<double>(y0 + row);
        std::uint8_t* d = dst + row * dstStride;
        std::uint8_t* dm = dstMask + row * dstMaskStride;
        for (int col = 0; col < outWidth; ++col, d += 3) {
            const double x = static_cast<double>(x0 + col);
            const double xs = m[0] * x + m[1] * y + m[2];
            const double ys = m[3] * x + m[4] * y + m[5];
            // Converted through a signed integer so that negative sources wrap
            // to large unsigned values and fall outside, as intended.
            const std::uint32_t u = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * xs + 0.5));
            const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::int64_t>(16.0 * ys + 0.5));
            std::uint32_t ix = u >> 4, fx = u & 15, iy = v >> 4, fy = v & 15;
            if (ix > w - 1 || iy > h - 1) {
                const std::uint8_t* s = src + std::min(iy, h - 1) * srcStride + 3 * std::min(ix, w - 1);
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                dm[col] = 0;
                continue;
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
            const std::uint8_t* r0 = src + iy * srcStride;
            const std::uint8_t* r1 = src + iy1 * srcStride;
            const std::uint8_t* p00 = r0 + 3 * ix;
            const std::uint8_t* p10 = r0 + 3 * ix1;
            const std::uint8_t* p01 = r1 + 3 * ix;
            const std::uint8_t* p11 = r1 + 3 * ix1;
            for (int c = 0; c < 3; ++c)
                d[c] = static_cast<std::uint8_t>((w00 * p00[c] + w10 * p10[c] + w01 * p01[c] + w11 * p11[c]) /
                                                 225);
            if (srcMask) {
                const std::uint8_t* m0 = srcMask + iy * srcMaskStride;
                const std::uint8_t* m1 = srcMask + iy1 * srcMaskStride;
                dm[col] = static_cast<std::uint8_t>(
                    (w00 * m0[ix] + w10 * m0[ix1] + w01 * m1[ix] + w11 * m1[ix1]) / 225);
            } else {
                dm[col] = 255;
            }
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
