#include "Exposure.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "CpuFeatures.h"
#include "Smoothing.h"
#include "ThreadPool.h"
#include "Warp.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;

namespace {

Rect Overlap(const Rect& a, const Rect& b) {
    return Rect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom));
}

bool Is24Bit(CPanoElement* e) {
    return e && e->IsValid() && e->GetBpp() == 24;
}

std::uint8_t* PixelAt(CPanoElement* e, int x, int y) {
    return e->GetBits() + static_cast<std::size_t>(y - e->y) * e->GetStride() +
           3 * static_cast<std::size_t>(x - e->x);
}

const std::uint8_t* MaskRow(CPanoElement* e, int y) {
    const std::uint8_t* m = e->GetMask();
    return m ? m + static_cast<std::size_t>(y - e->y) * e->GetMaskStride() : nullptr;
}

std::uint8_t Clamp255(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

void ParallelRows(int top, int bottom, const std::function<void(int)>& row) {
    if (bottom <= top)
        return;
    Platform::ParallelFor(
        static_cast<std::size_t>(top), static_cast<std::size_t>(bottom),
        [&](std::size_t b, std::size_t e) {
            for (std::size_t y = b; y < e; ++y)
                row(static_cast<int>(y));
        },
        16);
}

// t = clamp(t + sign * ((c - base) / 2)) over n bytes, the division
// truncating towards zero. With SSE2 sixteen bytes at once in 16-bit lanes.
void CorrectLine(std::uint8_t* t, const std::uint8_t* c, int n, int base, int sign) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), vbase = _mm_set1_epi16(static_cast<short>(base));
    auto half = [&](__m128i v) {
        const __m128i diff = _mm_sub_epi16(v, vbase);
        // Negative differences round up: add their sign bit before the shift.
        return _mm_srai_epi16(_mm_add_epi16(diff, _mm_srli_epi16(diff, 15)), 1);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i vt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
        const __m128i clo = half(_mm_unpacklo_epi8(vc, zero)), chi = half(_mm_unpackhi_epi8(vc, zero));
        const __m128i tlo = _mm_unpacklo_epi8(vt, zero), thi = _mm_unpackhi_epi8(vt, zero);
        const __m128i lo = sign < 0 ? _mm_sub_epi16(tlo, clo) : _mm_add_epi16(tlo, clo);
        const __m128i hi = sign < 0 ? _mm_sub_epi16(thi, chi) : _mm_add_epi16(thi, chi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i)
        t[i] = Clamp255(t[i] + sign * ((c[i] - base) / 2));
}

// Adds sign * (D - base) / 2 to every byte of target under D.
void ApplyCorrection(CPanoElement* target, CPanoElement* d, int base, int sign) {
    const Rect hit = Overlap(d->GetRect(), target->GetRect());
    if (hit.IsEmpty())
        return;
    ParallelRows(hit.top, hit.bottom, [&](int y) {
        CorrectLine(PixelAt(target, hit.left, y), PixelAt(d, hit.left, y), 3 * hit.Width(), base, sign);
    });
}

// d = ((clamp(a - b + 128, 0, 255) - 128) w + 32640) / 255 over n bytes:
// the weighted difference of result and photo, 128 for none. With SSE2
// sixteen bytes at once in 16-bit lanes; the sums stay within 0 .. 255 x 255,
// where the multiply-high by 32897 and shift by 7 is the exact quotient.
void WeighDifferences(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* w, int n,
                      std::uint8_t* d) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128), full = _mm_set1_epi16(255);
    const __m128i offset = _mm_set1_epi16(32640), recip = _mm_set1_epi16(static_cast<short>(32897));
    auto half = [&](__m128i va, __m128i vb, __m128i vw) {
        const __m128i diff =
            _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(_mm_sub_epi16(va, vb), bias), zero), full);
        const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(diff, bias), vw), offset);
        return _mm_srli_epi16(_mm_mulhi_epu16(sum, recip), 7);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i vw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
        const __m128i lo =
            half(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero), _mm_unpacklo_epi8(vw, zero));
        const __m128i hi =
            half(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero), _mm_unpackhi_epi8(vw, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i) {
        const int diff = std::clamp(a[i] - b[i] + 128, 0, 255);
        d[i] =
            static_cast<std::uint8_t>((static_cast<int>(diff - 128) * static_cast<int>(w[i]) + 32640) / 255);
    }
}

// Per pixel x0 .. x0 + n - 1 of row y: 255 where its photo position under
// m, each coordinate taken as trunc(value + 0.5), lies in pr, else 0.
void MarkInsidePhotoScalar(const double m[9], int y, int x0, int n, const Rect& pr, std::uint8_t* out) {
    for (int i = 0; i < n; ++i) {
        const int x = x0 + i;
        const double xs = std::trunc(m[0] * x + m[1] * y + m[2] + 0.5);
        const double ys = std::trunc(m[3] * x + m[4] * y + m[5] + 0.5);
        out[i] = xs >= pr.left && xs < pr.right && ys >= pr.top && ys < pr.bottom ? 255 : 0;
    }
}

#if defined(__x86_64__)
const bool kHaveAvx = CpuUsesAvx();

// The same, four pixels at a time: the same products and sums per lane, and
// rounding towards zero is trunc.
__attribute__((target("avx"))) void MarkInsidePhotoAvx(const double m[9], int y, int x0, int n,
                                                       const Rect& pr, std::uint8_t* out) {
    const __m256d m0 = _mm256_set1_pd(m[0]), m3 = _mm256_set1_pd(m[3]);
    const __m256d m1y = _mm256_set1_pd(m[1] * y), m4y = _mm256_set1_pd(m[4] * y);
    const __m256d m2 = _mm256_set1_pd(m[2]), m5 = _mm256_set1_pd(m[5]), half = _mm256_set1_pd(0.5);
    const __m256d left = _mm256_set1_pd(pr.left), right = _mm256_set1_pd(pr.right);
    const __m256d top = _mm256_set1_pd(pr.top), bottom = _mm256_set1_pd(pr.bottom);
    const __m256d step = _mm256_set_pd(3, 2, 1, 0);
    constexpr int kTrunc = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d x = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x0 + i)), step);
        const __m256d xs = _mm256_round_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m0, x), m1y), m2), half), kTrunc);
        const __m256d ys = _mm256_round_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m3, x), m4y), m5), half), kTrunc);
        const __m256d in = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(xs, left, _CMP_GE_OQ), _mm256_cmp_pd(xs, right, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(ys, top, _CMP_GE_OQ), _mm256_cmp_pd(ys, bottom, _CMP_LT_OQ)));
        const int bits = _mm256_movemask_pd(in);
        for (int k = 0; k < 4; ++k)
            out[i + k] = bits >> k & 1 ? 255 : 0;
    }
    MarkInsidePhotoScalar(m, y, x0 + i, n - i, pr, out + i);
}
#endif

void MarkInsidePhoto(const double m[9], int y, int x0, int n, const Rect& pr, std::uint8_t* out) {
#if defined(__x86_64__)
    if (kHaveAvx) {
        MarkInsidePhotoAvx(m, y, x0, n, pr, out);
        return;
    }
#endif
    MarkInsidePhotoScalar(m, y, x0, n, pr, out);
}

}  // namespace

void BalanceExposure(CPanoElement* result, CPanoElement* warped, const Rect& photoRectIn, const double m[9],
                     bool raw) {
    if (!Is24Bit(result) || !Is24Bit(warped) || !m)
        return;
    Rect eb, rb;
    warped->GetMaskBounds(&eb, nullptr);
    if (eb.IsEmpty())
        return;
    result->GetMaskBounds(&rb, &eb);
    if (rb.IsEmpty())
        return;
    const Rect o = Overlap(Overlap(eb, rb), Overlap(result->GetRect(), warped->GetRect()));
    if (o.IsEmpty())
        return;

    const Rect er = warped->GetRect();
    const int margin = std::max(er.Width(), er.Height()) / 4;
    const int ow = o.Width();

    // What the photo covers: its mask before the seam cut. Pixels outside it
    // hold no picture (a lens-bent border repeats its edge colour there) and
    // must not be measured.
    const std::uint8_t* coverage =
        warped->GetSavedMaskIfAny() ? warped->GetSavedMaskIfAny() : warped->GetMask();
    auto coverageRow = [&](int y) {
        return coverage ? coverage + static_cast<std::size_t>(y - warped->y) * warped->GetMaskStride()
                        : nullptr;
    };

    // Difference sources: the images themselves, or smoothed copies of the overlap.
    RefPtr<CPanoElement> copyA, copyB;
    CPanoElement* a = result;
    CPanoElement* b = warped;
    if (!raw) {
        copyA.Reset(result->ExtractRegion(false, o));
        copyB.Reset(warped->ExtractRegion(false, o));
        if (!copyA || !copyB)
            return;
        // Where only one side covers, the copies agree, so that what the
        // smoothing spreads from there makes no difference.
        ParallelRows(o.top, o.bottom, [&](int y) {
            const std::uint8_t* rm = MaskRow(result, y);
            const std::uint8_t* em = coverageRow(y);
            std::uint8_t* pa = PixelAt(copyA.Get(), o.left, y);
            std::uint8_t* pb = PixelAt(copyB.Get(), o.left, y);
            for (int x = o.left; x < o.right; ++x, pa += 3, pb += 3) {
                const bool resultCovers = !rm || rm[x - result->x] != 0;
                const bool photoCovers = !em || em[x - warped->x] != 0;
                if (!photoCovers)
                    std::copy(pa, pa + 3, pb);
                else if (!resultCovers)
                    std::copy(pb, pb + 3, pa);
            }
        });
        const double sigma = static_cast<double>(ow / 8);
        SmoothColourPlane(copyA->GetWidth(), copyA->GetHeight(), copyA->GetStride(), copyA->GetBits(), sigma);
        SmoothColourPlane(copyB->GetWidth(), copyB->GetHeight(), copyB->GetStride(), copyB->GetBits(), sigma);
        a = copyA.Get();
        b = copyB.Get();
    }

    const Rect dr(o.left - margin, o.top - margin, o.right + margin, o.bottom + margin);
    RefPtr<CPanoElement> d(new (std::nothrow) CPanoElement(0));
    if (!d || !d->GetImage() || !d->Create(24, dr.Width(), dr.Height()))
        return;
    d->x = dr.left;
    d->y = dr.top;
    d->FillImageGrey();

    // Corners ordered, half-open in both directions.
    const Rect pr(
        std::min(photoRectIn.left, photoRectIn.right), std::min(photoRectIn.top, photoRectIn.bottom),
        std::max(photoRectIn.left, photoRectIn.right), std::max(photoRectIn.top, photoRectIn.bottom));
    ParallelRows(o.top, o.bottom, [&](int y) {
        const std::uint8_t* rm = MaskRow(result, y);
        const std::uint8_t* em = coverageRow(y);
        const std::uint8_t* pa = PixelAt(a, o.left, y);
        const std::uint8_t* pb = PixelAt(b, o.left, y);
        std::uint8_t* pd = PixelAt(d.Get(), o.left, y);
        thread_local std::vector<std::uint8_t> insideRow;
        insideRow.resize(static_cast<std::size_t>(o.Width()));
        MarkInsidePhoto(m, y, o.left, o.Width(), pr, insideRow.data());
        // Each channel's weight; where it is 0 the formula gives 128, what
        // D holds already, so every byte is written.
        thread_local std::vector<std::uint8_t> weights;
        weights.resize(3 * static_cast<std::size_t>(o.Width()));
        for (int x = o.left; x < o.right; ++x) {
            const unsigned inside = insideRow[x - o.left];
            const unsigned covered = em ? em[x - warped->x] : 255u;
            const unsigned w = ((((rm ? rm[x - result->x] : 255u) * inside) / 255u) * covered) / 255u;
            std::uint8_t* wp = weights.data() + 3 * (x - o.left);
            wp[0] = wp[1] = wp[2] = static_cast<std::uint8_t>(w);
        }
        WeighDifferences(pa, pb, weights.data(), 3 * o.Width(), pd);
    });

    // The raw differences are smoothed over a twentieth of the photo. Over
    // a tenth the smoothing reached far past an overlap of a fifth to a
    // third of the photo: it thinned the difference where the seam runs, near
    // the overlap's edge, to about half, and averaged away how it changes
    // along the seam (a lens's darker corners); the blend then spread what was
    // left into a ramp of several levels across the seam in an even sky or
    // water.
    const double sigma =
        raw ? static_cast<double>(std::max(er.Width(), er.Height()) / 20) : static_cast<double>(ow / 20);
    SmoothColourPlane(d->GetWidth(), d->GetHeight(), d->GetStride(), d->GetBits(), sigma);

    ApplyCorrection(result, d.Get(), 128, -1);
    ApplyCorrection(warped, d.Get(), 127, +1);
}

bool CompositeOver(CPanoElement* result, CPanoElement* warped, const Rect& blended, Rect* written) {
    if (written)
        *written = Rect();
    if (!Is24Bit(result) || !Is24Bit(warped))
        return false;
    const Rect hit = Overlap(result->GetRect(), warped->GetRect());
    if (hit.IsEmpty())
        return false;
    // The result's mask takes the alpha; make it when missing (all covered).
    result->CreateMask(true);
    if (!result->GetMask())
        return false;
    const bool skipBlended = !blended.IsEmpty();
    ParallelRows(hit.top, hit.bottom, [&](int y) {
        const std::uint8_t* em = MaskRow(warped, y);
        std::uint8_t* rm = const_cast<std::uint8_t*>(MaskRow(result, y));
        const bool rowBlended = skipBlended && y >= blended.top && y < blended.bottom;
        for (int x = hit.left; x < hit.right; ++x) {
            if (rowBlended && x >= blended.left && x < blended.right)
                continue;
            const std::uint8_t* s = PixelAt(warped, x, y);
            std::uint8_t* dpx = PixelAt(result, x, y);
            const unsigned as = em ? em[x - warped->x] : 255u;
            std::uint8_t& ad = rm[x - result->x];
            if (ad == 0) {
                dpx[0] = s[0];
                dpx[1] = s[1];
                dpx[2] = s[2];
                ad = static_cast<std::uint8_t>(as);
                continue;
            }
            const unsigned aout = 255u - ((255u - ad) * (255u - as)) / 255u;
            const int ws = static_cast<int>(g_alphaTimes255[as]);
            const int wd = static_cast<int>((255u - as) * ad);
            const int div = static_cast<int>(g_alphaTimes255[aout]);
            for (int c = 0; c < 3; ++c)
                dpx[c] = Clamp255((ws * s[c] + wd * dpx[c]) / div);
            ad = static_cast<std::uint8_t>(aout);
        }
    });
    if (written)
        *written = hit;
    return true;
}
