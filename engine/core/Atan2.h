#pragma once
// atan2 that gives the same bits on every processor: one value at a time
// (PortableAtan2) or four at once with AVX2 (Atan2Four), both by the same
// operations in the same order (no fused multiply-add), so a detection's
// keypoints do not depend on which one ran. Within about 2e-16 of the true
// angle (relative), like the library's atan2, and with its special cases
// for finite and infinite inputs: atan2(+-0, +0) = +-0, atan2(+-0, -0) =
// +-pi, the sign of y carried to the result, a NaN in gives NaN out.

#include <cmath>
#include <numbers>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace Atan2Detail {

// atan t = t + t z P(z) / Q(z), z = t^2, for |t| <= 0.66 (the rational form
// of the Cephes library, relative error below 1e-16 there).
inline constexpr double kP[5] = {-8.750608600031904122785E-1, -1.615753718733365076637E1,
                                 -7.500855792314704667340E1, -1.228866684490136173410E2,
                                 -6.485021904942025371773E1};
inline constexpr double kQ[5] = {2.485846490142306297962E1, 1.650270098316988542046E2,
                                 4.328810604912902668951E2, 4.853903996359136964868E2,
                                 1.945506571482613964425E2};
// Above this ratio t is replaced by (t - 1) / (t + 1) and pi / 4 added.
inline constexpr double kHigh = 0.66;
inline constexpr double kHalfPi = std::numbers::pi / 2.0;
inline constexpr double kQuarterPi = std::numbers::pi / 4.0;
// pi / 2 minus its double: what the double of pi / 2 leaves out.
inline constexpr double kHalfPiRest = 6.123233995736765886130E-17;

}  // namespace Atan2Detail

inline double PortableAtan2(double y, double x) {
    using namespace Atan2Detail;
    const double ax = std::fabs(x), ay = std::fabs(y);
    // The smaller magnitude over the larger: t in [0, 1].
    const bool steep = ay > ax;
    const double num = steep ? ax : ay;
    double den = steep ? ay : ax;
    if (den == 0.0)
        den = 1.0;  // both zero: t = 0
    double t = num / den;
    if (num == den)
        t = 1.0;  // also both infinite
    const bool high = t > kHigh;
    if (high)
        t = (t - 1.0) / (t + 1.0);
    const double base = high ? kQuarterPi : 0.0, rest = high ? 0.5 * kHalfPiRest : 0.0;
    const double z = t * t;
    const double p = (((kP[0] * z + kP[1]) * z + kP[2]) * z + kP[3]) * z + kP[4];
    const double q = ((((z + kQ[0]) * z + kQ[1]) * z + kQ[2]) * z + kQ[3]) * z + kQ[4];
    const double w = z * p / q;
    const double r = base + ((t * w + t) + rest);  // atan t, in [0, pi / 4]
    // pi / 2 - r, pi - r or pi / 2 + r by the octant, the multiple of pi / 2
    // in two parts so that it is not rounded before r is taken off.
    const bool left = std::signbit(x);
    const double hi = steep ? kHalfPi : left ? std::numbers::pi : 0.0;
    const double lo = steep ? kHalfPiRest : left ? 2.0 * kHalfPiRest : 0.0;
    return std::copysign((hi + (steep != left ? -r : r)) + lo, y);
}

#if defined(__x86_64__) && defined(__GNUC__)
// PortableAtan2 of four pairs, lane by lane the same bits.
__attribute__((target("avx2"), always_inline)) inline __m256d Atan2Four(__m256d y, __m256d x) {
    using namespace Atan2Detail;
    const __m256d sign = _mm256_set1_pd(-0.0), one = _mm256_set1_pd(1.0);
    const __m256d ax = _mm256_andnot_pd(sign, x), ay = _mm256_andnot_pd(sign, y);
    const __m256d steep = _mm256_cmp_pd(ay, ax, _CMP_GT_OQ);
    const __m256d num = _mm256_blendv_pd(ay, ax, steep);
    __m256d den = _mm256_blendv_pd(ax, ay, steep);
    den = _mm256_blendv_pd(den, one, _mm256_cmp_pd(den, _mm256_setzero_pd(), _CMP_EQ_OQ));
    __m256d t = _mm256_div_pd(num, den);
    t = _mm256_blendv_pd(t, one, _mm256_cmp_pd(num, den, _CMP_EQ_OQ));
    const __m256d high = _mm256_cmp_pd(t, _mm256_set1_pd(kHigh), _CMP_GT_OQ);
    t = _mm256_blendv_pd(t, _mm256_div_pd(_mm256_sub_pd(t, one), _mm256_add_pd(t, one)), high);
    const __m256d base = _mm256_and_pd(high, _mm256_set1_pd(kQuarterPi));
    const __m256d rest = _mm256_and_pd(high, _mm256_set1_pd(0.5 * kHalfPiRest));
    const __m256d z = _mm256_mul_pd(t, t);
    __m256d p = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(kP[0]), z), _mm256_set1_pd(kP[1]));
    p = _mm256_add_pd(_mm256_mul_pd(p, z), _mm256_set1_pd(kP[2]));
    p = _mm256_add_pd(_mm256_mul_pd(p, z), _mm256_set1_pd(kP[3]));
    p = _mm256_add_pd(_mm256_mul_pd(p, z), _mm256_set1_pd(kP[4]));
    __m256d q = _mm256_add_pd(z, _mm256_set1_pd(kQ[0]));
    q = _mm256_add_pd(_mm256_mul_pd(q, z), _mm256_set1_pd(kQ[1]));
    q = _mm256_add_pd(_mm256_mul_pd(q, z), _mm256_set1_pd(kQ[2]));
    q = _mm256_add_pd(_mm256_mul_pd(q, z), _mm256_set1_pd(kQ[3]));
    q = _mm256_add_pd(_mm256_mul_pd(q, z), _mm256_set1_pd(kQ[4]));
    const __m256d w = _mm256_div_pd(_mm256_mul_pd(z, p), q);
    __m256d r = _mm256_add_pd(base, _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(t, w), t), rest));
    // blendv picks by the sign bit: x's own, so -0 counts as negative.
    const __m256d zero = _mm256_setzero_pd();
    const __m256d hi = _mm256_blendv_pd(_mm256_blendv_pd(zero, _mm256_set1_pd(std::numbers::pi), x),
                                        _mm256_set1_pd(kHalfPi), steep);
    const __m256d lo = _mm256_blendv_pd(_mm256_blendv_pd(zero, _mm256_set1_pd(2.0 * kHalfPiRest), x),
                                        _mm256_set1_pd(kHalfPiRest), steep);
    r = _mm256_xor_pd(r, _mm256_xor_pd(_mm256_and_pd(steep, sign), _mm256_and_pd(x, sign)));
    r = _mm256_add_pd(_mm256_add_pd(hi, r), lo);
    return _mm256_or_pd(_mm256_andnot_pd(sign, r), _mm256_and_pd(sign, y));
}
#endif
