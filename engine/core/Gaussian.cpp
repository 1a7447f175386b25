#include "Gaussian.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <numbers>

#include "CpuFeatures.h"
#include "ThreadPool.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

double* MakeGaussianKernel2D(double sigma, std::int32_t* size) {
    const std::int32_t r = static_cast<std::int32_t>(3.5 * sigma + 0.5);
    const std::int32_t n = 2 * r + 1;
    if (size)
        *size = n;
    std::unique_ptr<double[]> g(new double[n]);
    const double norm = std::sqrt(2.0 * std::numbers::pi) * sigma;
    for (std::int32_t i = -r; i <= r; ++i)
        g[i + r] = std::exp(-double(i) * i / (2.0 * sigma * sigma)) / norm;
    double* kernel = new double[std::size_t(n) * n];
    for (std::int32_t j = 0; j < n; ++j)
        for (std::int32_t k = 0; k < n; ++k)
            kernel[std::size_t(j) * n + k] = g[j] * g[k];
    return kernel;
}

namespace {

// Coefficients of one recursive filter, fixed by sigma.
struct Coefficients {
    bool identity = false;  // the filter degenerates (cos theta == 1): pass samples through
    double a, P, Q, K;
    double r0, u0, v0;  // forward steady state per unit of the first sample
    // Backward start: state after the constant continuation, as a linear
    // function of the last sample and the forward pass's deviation from its
    // steady state (dr for the real branch, dz for the complex one).
    double rFromX, rFromDr;
    std::complex<double> rFromDz;  // R gets -Re(rFromDz * dz)
    std::complex<double> zFromX, zFromDr, zFromDz, zFromConjDz;
    double dcR;                // steady real state per unit input, 1 / (1 - a)
    std::complex<double> dcZ;  // steady complex state per unit input, 1 / (1 - rho)
};

Coefficients MakeCoefficients(double sigma) {
    Coefficients c;
    double q = sigma / 0.857379;
    if (q < 0.125)
        q = 0.125;
    const double theta = std::numbers::pi / (2.0 * q);
    const double a = std::exp(-theta);
    const double E = std::exp(theta);
    const double cs = std::cos(theta);
    const double sn = std::sin(theta);
    c.a = a;
    c.P = a * cs;
    c.Q = a * sn;
    c.K = (E - 1.0) * (E + a - 2.0 * cs) / ((E + 1.0) * (1.0 - cs));
    // At small sigma theta is a multiple of 2 pi, cos gives exactly 1 and the
    // gain divides by zero; the filter's limit there is the identity.
    if (1.0 - cs == 0.0 || !std::isfinite(c.K) || !std::isfinite(a)) {
        c.identity = true;
        return c;
    }
    c.r0 = E / (E - 1.0);
    c.u0 = (E - cs) / (E + a - 2.0 * cs);
    c.v0 = sn / (E + a - 2.0 * cs);

    const std::complex<double> rho(c.P, c.Q);
    const double K = c.K;
    c.dcR = 1.0 / (1.0 - a);
    c.dcZ = 1.0 / (1.0 - rho);
    c.rFromX = c.dcR;
    c.rFromDr = K * a / (1.0 - a * a);
    c.rFromDz = K * rho / (1.0 - a * rho);
    c.zFromX = c.dcZ;
    c.zFromDr = K * a / (1.0 - a * rho);
    c.zFromDz = 0.5 * K * rho / (1.0 - rho * rho);
    c.zFromConjDz = 0.5 * K * std::conj(rho) / (1.0 - a * a);
    return c;
}

// Sample conversions: read as double, store with the variant's rounding/clamp.
struct DoubleSample {
    using T = double;
    static double Store(double v) { return std::min(std::max(v, 0.0), 1.0); }
};
struct U8Sample {
    using T = std::uint8_t;
    static std::uint8_t Store(double v) {
        v = std::nearbyint(v);
        if (!(v > 0.0))
            return 0;
        if (v > 255.0)
            return 255;
        return static_cast<std::uint8_t>(v);
    }
};
struct U16Sample {
    using T = std::uint16_t;
    static std::uint16_t Store(double v) {
        v = std::nearbyint(v);
        if (!(v > 0.0))
            return 0;
        if (v > 65535.0)
            return 65535;
        return static_cast<std::uint16_t>(v);
    }
};

constexpr int kLanes = 8;

// Filters `lanes` (<= kLanes) independent lines of n samples at once: sample
// i of lane l is at base[l * laneStep + i * sampleStep]. Lanes run side by side
// so the recursions overlap; each lane's arithmetic is that of a lone line.
// work holds n * kLanes doubles.
// The lines are read from src and written to base (the same place when
// filtering in place); both share the layout.
template <class S>
void FilterLines(const Coefficients& c, const typename S::T* src, typename S::T* base,
                 std::ptrdiff_t laneStep, std::ptrdiff_t sampleStep, int n, int lanes, double* work) {
    using T = typename S::T;
    if (c.identity) {
        for (int l = 0; l < lanes; ++l)
            for (int i = 0; i < n; ++i) {
                const std::ptrdiff_t at = l * laneStep + i * sampleStep;
                base[at] = S::Store(double(src[at]));
            }
        return;
    }
    const double a = c.a, P = c.P, Q = c.Q, K = c.K;
    double r[kLanes], u[kLanes], v[kLanes];
    for (int l = 0; l < lanes; ++l) {
        const double x0 = double(src[l * laneStep]);
        r[l] = x0 * c.r0;
        u[l] = x0 * c.u0;
        v[l] = x0 * c.v0;
    }
    // Forward (causal) pass into the work lines.
    for (int i = 0; i < n; ++i) {
        const T* row = src + i * sampleStep;
        double* w = work + std::size_t(i) * kLanes;
        for (int l = 0; l < lanes; ++l) {
            const double x = double(row[l * laneStep]);
            r[l] = a * r[l] + x;
            const double un = x + P * u[l] - Q * v[l];
            v[l] = P * v[l] + Q * u[l];
            u[l] = un;
            w[l] = K * (r[l] - un);
        }
    }
    // Backward start: the state after running over the end value continued
    // to infinity, in closed form.
    for (int l = 0; l < lanes; ++l) {
        const double x = double(src[l * laneStep + (n - 1) * sampleStep]);
        const double dr = r[l] - x * c.dcR;
        const std::complex<double> dz = std::complex<double>(u[l], v[l]) - x * c.dcZ;
        r[l] = x * c.rFromX + c.rFromDr * dr - (c.rFromDz * dz).real();
        const std::complex<double> z =
            x * c.zFromX + c.zFromDr * dr - (c.zFromDz * dz + c.zFromConjDz * std::conj(dz));
        u[l] = z.real();
        v[l] = z.imag();
    }
    // Backward (anti-causal) pass from the work lines into the plane.
    for (int i = n - 1; i >= 0; --i) {
        T* row = base + i * sampleStep;
        const double* w = work + std::size_t(i) * kLanes;
        for (int l = 0; l < lanes; ++l) {
            const double y = w[l];
            r[l] = a * r[l] + y;
            const double un = y + P * u[l] - Q * v[l];
            v[l] = P * v[l] + Q * u[l];
            u[l] = un;
            row[l * laneStep] = S::Store(K * (r[l] - un));
        }
    }
}

// Groups of eight lines of `length` samples each over the thread pool, in
// chunks big enough to pay for the hand-over; small planes stay on this
// thread. Every group writes only its own lines, so the planes come out the
// same with any number of threads.
void ForGroups(std::int32_t groups, std::int32_t length,
               const std::function<void(std::size_t, std::size_t)>& body) {
    constexpr std::size_t kSamplesPerChunk = 1 << 16;
    const std::size_t grain = std::max<std::size_t>(1, kSamplesPerChunk / (std::size_t(length) * kLanes + 1));
    Platform::ParallelFor(0, std::size_t(groups), body, grain);
}

// The wide form of eight whole lanes of a sample type, where there is one;
// false leaves the lines to FilterLines.
template <class S>
struct WideLines {
    static bool Filter(const Coefficients&, const typename S::T*, typename S::T*, std::ptrdiff_t,
                       std::ptrdiff_t, int, double*) {
        return false;
    }
};
template <>
struct WideLines<U8Sample> {
    static bool Filter(const Coefficients& c, const std::uint8_t* src, std::uint8_t* base,
                       std::ptrdiff_t laneStep, std::ptrdiff_t sampleStep, int n, double* work);
};
template <>
struct WideLines<U16Sample> {
    static bool Filter(const Coefficients& c, const std::uint16_t* src, std::uint16_t* base,
                       std::ptrdiff_t laneStep, std::ptrdiff_t sampleStep, int n, double* work);
};

// Every column first (for interleaved colour, every byte column), then every
// row, each channel of a row on its own. The column pass reads src, so a
// filtered copy costs no separate copy.
template <class S>
void FilterPlane(std::int32_t width, std::int32_t height, std::int32_t stride, const typename S::T* src,
                 typename S::T* samples, double sigma, int channels) {
    if (width <= 0 || height <= 0 || !samples || !src)
        return;
    const Coefficients c = MakeCoefficients(sigma);
    const std::int32_t columns = width * channels;
    // Whole groups of eight lanes take the wide form where there is one.
    auto filter = [&](const typename S::T* from, typename S::T* to, std::ptrdiff_t laneStep,
                      std::ptrdiff_t sampleStep, int n, int lanes, double* work) {
        if (lanes == kLanes && !c.identity &&
            WideLines<S>::Filter(c, from, to, laneStep, sampleStep, n, work))
            return;
        FilterLines<S>(c, from, to, laneStep, sampleStep, n, lanes, work);
    };
    const std::int32_t columnGroups = (columns + kLanes - 1) / kLanes;
    ForGroups(columnGroups, height, [&](std::size_t b, std::size_t e) {
        std::unique_ptr<double[]> work(new double[std::size_t(height) * kLanes]);
        for (std::size_t g = b; g < e; ++g) {
            const std::int32_t x = std::int32_t(g) * kLanes;
            filter(src + x, samples + x, 1, stride, height, std::min(kLanes, columns - x), work.get());
        }
    });
    const std::int32_t rowGroups = (height + kLanes - 1) / kLanes;
    ForGroups(rowGroups * channels, width, [&](std::size_t b, std::size_t e) {
        std::unique_ptr<double[]> work(new double[std::size_t(width) * kLanes]);
        for (std::size_t g = b; g < e; ++g) {
            const std::int32_t ch = std::int32_t(g) / rowGroups, y = std::int32_t(g) % rowGroups * kLanes;
            auto* line = samples + std::ptrdiff_t(y) * stride + ch;
            filter(line, line, stride, channels, width, std::min(kLanes, height - y), work.get());
        }
    });
}

#if defined(__SSE2__)
// The backward start of eight lanes from their last samples, as in FilterLines.
void BackwardStart(const Coefficients& c, const double* last, double* rs, double* us, double* vs) {
    for (int l = 0; l < kLanes; ++l) {
        const double x = last[l];
        const double dr = rs[l] - x * c.dcR;
        const std::complex<double> dz = std::complex<double>(us[l], vs[l]) - x * c.dcZ;
        rs[l] = x * c.rFromX + c.rFromDr * dr - (c.rFromDz * dz).real();
        const std::complex<double> z =
            x * c.zFromX + c.zFromDr * dr - (c.zFromDz * dz + c.zFromConjDz * std::conj(dz));
        us[l] = z.real();
        vs[l] = z.imag();
    }
}

// Eight lines of doubles side by side, lane l of sample i at in[i * inStride
// + l] and out[i * outStride + l]: FilterLines with the lanes in SSE2
// registers, two a register. The loops over registers are unrolled so that
// the recursion's state stays in registers, not on the stack. Every operation is the scalar one in the same
// order (no fused multiply-add), so the results are the same bits.
void FilterEightDoubleLines(const Coefficients& c, const double* in, std::ptrdiff_t inStride, double* out,
                            std::ptrdiff_t outStride, int n, double* work) {
    const __m128d a = _mm_set1_pd(c.a), P = _mm_set1_pd(c.P), Q = _mm_set1_pd(c.Q), K = _mm_set1_pd(c.K);
    __m128d r[4], u[4], v[4];
#pragma GCC unroll 4
    for (int h = 0; h < 4; ++h) {
        const __m128d x0 = _mm_loadu_pd(in + 2 * h);
        r[h] = _mm_mul_pd(x0, _mm_set1_pd(c.r0));
        u[h] = _mm_mul_pd(x0, _mm_set1_pd(c.u0));
        v[h] = _mm_mul_pd(x0, _mm_set1_pd(c.v0));
    }
    for (int i = 0; i < n; ++i) {
        const double* row = in + i * inStride;
        double* w = work + std::size_t(i) * kLanes;
#pragma GCC unroll 4
        for (int h = 0; h < 4; ++h) {
            const __m128d x = _mm_loadu_pd(row + 2 * h);
            r[h] = _mm_add_pd(_mm_mul_pd(a, r[h]), x);
            const __m128d un = _mm_sub_pd(_mm_add_pd(x, _mm_mul_pd(P, u[h])), _mm_mul_pd(Q, v[h]));
            v[h] = _mm_add_pd(_mm_mul_pd(P, v[h]), _mm_mul_pd(Q, u[h]));
            u[h] = un;
            _mm_storeu_pd(w + 2 * h, _mm_mul_pd(K, _mm_sub_pd(r[h], un)));
        }
    }
    double rs[kLanes], us[kLanes], vs[kLanes];
#pragma GCC unroll 4
    for (int h = 0; h < 4; ++h) {
        _mm_storeu_pd(rs + 2 * h, r[h]);
        _mm_storeu_pd(us + 2 * h, u[h]);
        _mm_storeu_pd(vs + 2 * h, v[h]);
    }
    BackwardStart(c, in + (n - 1) * inStride, rs, us, vs);
#pragma GCC unroll 4
    for (int h = 0; h < 4; ++h) {
        r[h] = _mm_loadu_pd(rs + 2 * h);
        u[h] = _mm_loadu_pd(us + 2 * h);
        v[h] = _mm_loadu_pd(vs + 2 * h);
    }
    // The clamp as std::min(std::max(v, 0.0), 1.0): max(0, v) keeps -0 and
    // NaN like the scalar form, min(1, m) likewise.
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    for (int i = n - 1; i >= 0; --i) {
        double* row = out + i * outStride;
        const double* w = work + std::size_t(i) * kLanes;
#pragma GCC unroll 4
        for (int h = 0; h < 4; ++h) {
            const __m128d y = _mm_loadu_pd(w + 2 * h);
            r[h] = _mm_add_pd(_mm_mul_pd(a, r[h]), y);
            const __m128d un = _mm_sub_pd(_mm_add_pd(y, _mm_mul_pd(P, u[h])), _mm_mul_pd(Q, v[h]));
            v[h] = _mm_add_pd(_mm_mul_pd(P, v[h]), _mm_mul_pd(Q, u[h]));
            u[h] = un;
            const __m128d value = _mm_mul_pd(K, _mm_sub_pd(r[h], un));
            _mm_storeu_pd(row + 2 * h, _mm_min_pd(one, _mm_max_pd(zero, value)));
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define OVH_GAUSS_AVX2 1
const bool kHaveAvx2 = CpuUsesAvx2();
// Rows a column pass asks for ahead of their use: enough to cover a miss to
// memory at the pace the recursion walks down.
constexpr std::ptrdiff_t kAhead = 32;

// FilterEightDoubleLines with four lanes a register, chosen at run time
// where the processor has them; the same operations in the same order, so
// the same bits. Regs registers side by side: 4 * Regs lines, lane l of
// sample i at in[i * inStride + l]. A column pass takes sixteen: walking down
// the plane costs about the same for two cache lines a row as for one.
template <int Regs>
__attribute__((target("avx2"))) void FilterDoubleLinesAvx2(const Coefficients& c, const double* in,
                                                           std::ptrdiff_t inStride, double* out,
                                                           std::ptrdiff_t outStride, int n, double* work) {
    const __m256d a = _mm256_set1_pd(c.a), P = _mm256_set1_pd(c.P), Q = _mm256_set1_pd(c.Q),
                  K = _mm256_set1_pd(c.K);
    __m256d r[Regs], u[Regs], v[Regs];
#pragma GCC unroll 4
    for (int h = 0; h < Regs; ++h) {
        const __m256d x0 = _mm256_loadu_pd(in + 4 * h);
        r[h] = _mm256_mul_pd(x0, _mm256_set1_pd(c.r0));
        u[h] = _mm256_mul_pd(x0, _mm256_set1_pd(c.u0));
        v[h] = _mm256_mul_pd(x0, _mm256_set1_pd(c.v0));
    }
    for (int i = 0; i < n; ++i) {
        const double* row = in + i * inStride;
        double* w = work + std::size_t(i) * (4 * Regs);
        // Down a column the rows lie a page or more apart, beyond what the
        // hardware fetches ahead by itself.
        __builtin_prefetch(row + kAhead * inStride);
        __builtin_prefetch(row + kAhead * inStride + 4 * Regs - 1);
#pragma GCC unroll 4
        for (int h = 0; h < Regs; ++h) {
            const __m256d x = _mm256_loadu_pd(row + 4 * h);
            r[h] = _mm256_add_pd(_mm256_mul_pd(a, r[h]), x);
            const __m256d un =
                _mm256_sub_pd(_mm256_add_pd(x, _mm256_mul_pd(P, u[h])), _mm256_mul_pd(Q, v[h]));
            v[h] = _mm256_add_pd(_mm256_mul_pd(P, v[h]), _mm256_mul_pd(Q, u[h]));
            u[h] = un;
            _mm256_storeu_pd(w + 4 * h, _mm256_mul_pd(K, _mm256_sub_pd(r[h], un)));
        }
    }
    double rs[4 * Regs], us[4 * Regs], vs[4 * Regs];
#pragma GCC unroll 4
    for (int h = 0; h < Regs; ++h) {
        _mm256_storeu_pd(rs + 4 * h, r[h]);
        _mm256_storeu_pd(us + 4 * h, u[h]);
        _mm256_storeu_pd(vs + 4 * h, v[h]);
    }
    for (int g = 0; g < 4 * Regs; g += kLanes)
        BackwardStart(c, in + (n - 1) * inStride + g, rs + g, us + g, vs + g);
#pragma GCC unroll 4
    for (int h = 0; h < Regs; ++h) {
        r[h] = _mm256_loadu_pd(rs + 4 * h);
        u[h] = _mm256_loadu_pd(us + 4 * h);
        v[h] = _mm256_loadu_pd(vs + 4 * h);
    }
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    for (int i = n - 1; i >= 0; --i) {
        double* row = out + i * outStride;
        const double* w = work + std::size_t(i) * (4 * Regs);
        __builtin_prefetch(row - kAhead * outStride, 1);
        __builtin_prefetch(row - kAhead * outStride + 4 * Regs - 1, 1);
#pragma GCC unroll 4
        for (int h = 0; h < Regs; ++h) {
            const __m256d y = _mm256_loadu_pd(w + 4 * h);
            r[h] = _mm256_add_pd(_mm256_mul_pd(a, r[h]), y);
            const __m256d un =
                _mm256_sub_pd(_mm256_add_pd(y, _mm256_mul_pd(P, u[h])), _mm256_mul_pd(Q, v[h]));
            v[h] = _mm256_add_pd(_mm256_mul_pd(P, v[h]), _mm256_mul_pd(Q, u[h]));
            u[h] = un;
            const __m256d value = _mm256_mul_pd(K, _mm256_sub_pd(r[h], un));
            // As in the two-lane form: max(0, v) then min(1, m), operands in that order.
            _mm256_storeu_pd(row + 4 * h, _mm256_min_pd(one, _mm256_max_pd(zero, value)));
        }
    }
}

void FilterEightDoubleLinesAvx2(const Coefficients& c, const double* in, std::ptrdiff_t inStride, double* out,
                                std::ptrdiff_t outStride, int n, double* work) {
    FilterDoubleLinesAvx2<2>(c, in, inStride, out, outStride, n, work);
}
#endif

#if defined(OVH_GAUSS_AVX2)
// Eight samples of eight lanes as two registers of doubles, built in
// registers: written to memory one by one and read back as a vector they
// would wait for the store buffer. Lanes next to each other load at once.
template <class T>
__attribute__((target("avx2"))) inline void LoadEightSamples(const T* row, std::ptrdiff_t laneStep,
                                                             __m256d& lo, __m256d& hi) {
    __m256i wide;
    if (laneStep == 1) {
        if constexpr (sizeof(T) == 1)
            wide = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row)));
        else
            wide = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    } else {
        wide = _mm256_setr_epi32(row[0], row[laneStep], row[2 * laneStep], row[3 * laneStep],
                                 row[4 * laneStep], row[5 * laneStep], row[6 * laneStep], row[7 * laneStep]);
    }
    lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(wide));
    hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(wide, 1));
}

// Eight whole values in [0, max of T] back into samples.
template <class T>
__attribute__((target("avx2"))) inline void StoreEightSamples(T* row, std::ptrdiff_t laneStep, __m256d lo,
                                                              __m256d hi) {
    const __m128i words = _mm_packus_epi32(_mm256_cvttpd_epi32(lo), _mm256_cvttpd_epi32(hi));
    if constexpr (sizeof(T) == 1) {
        const __m128i bytes = _mm_packus_epi16(words, words);
        if (laneStep == 1)
            return _mm_storel_epi64(reinterpret_cast<__m128i*>(row), bytes);
        alignas(16) std::uint8_t out[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(out), bytes);
        for (int l = 0; l < kLanes; ++l)
            row[l * laneStep] = out[l];
    } else {
        if (laneStep == 1)
            return _mm_storeu_si128(reinterpret_cast<__m128i*>(row), words);
        alignas(16) std::uint16_t out[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(out), words);
        for (int l = 0; l < kLanes; ++l)
            row[l * laneStep] = out[l];
    }
}

// FilterLines for eight whole lanes of 8- or 16-bit samples, four lanes a
// register: the recursion runs in registers with the scalar operations in
// the scalar order, and the store rounds to nearest even and clamps as
// U8Sample::Store and U16Sample::Store do.
template <class S>
__attribute__((target("avx2"))) void FilterEightIntLinesAvx2(const Coefficients& c, const typename S::T* src,
                                                             typename S::T* base, std::ptrdiff_t laneStep,
                                                             std::ptrdiff_t sampleStep, int n, double* work) {
    using T = typename S::T;
    const __m256d a = _mm256_set1_pd(c.a), P = _mm256_set1_pd(c.P), Q = _mm256_set1_pd(c.Q),
                  K = _mm256_set1_pd(c.K);
    __m256d x[2];
    LoadEightSamples(src, laneStep, x[0], x[1]);
    __m256d r[2], u[2], v[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        r[h] = _mm256_mul_pd(x[h], _mm256_set1_pd(c.r0));
        u[h] = _mm256_mul_pd(x[h], _mm256_set1_pd(c.u0));
        v[h] = _mm256_mul_pd(x[h], _mm256_set1_pd(c.v0));
    }
    for (int i = 0; i < n; ++i) {
        LoadEightSamples(src + i * sampleStep, laneStep, x[0], x[1]);
        double* w = work + std::size_t(i) * kLanes;
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            r[h] = _mm256_add_pd(_mm256_mul_pd(a, r[h]), x[h]);
            const __m256d un =
                _mm256_sub_pd(_mm256_add_pd(x[h], _mm256_mul_pd(P, u[h])), _mm256_mul_pd(Q, v[h]));
            v[h] = _mm256_add_pd(_mm256_mul_pd(P, v[h]), _mm256_mul_pd(Q, u[h]));
            u[h] = un;
            _mm256_storeu_pd(w + 4 * h, _mm256_mul_pd(K, _mm256_sub_pd(r[h], un)));
        }
    }
    double rs[kLanes], us[kLanes], vs[kLanes];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        _mm256_storeu_pd(rs + 4 * h, r[h]);
        _mm256_storeu_pd(us + 4 * h, u[h]);
        _mm256_storeu_pd(vs + 4 * h, v[h]);
    }
    alignas(32) double last[kLanes];
    for (int l = 0; l < kLanes; ++l)
        last[l] = double(src[l * laneStep + (n - 1) * sampleStep]);
    BackwardStart(c, last, rs, us, vs);
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        r[h] = _mm256_loadu_pd(rs + 4 * h);
        u[h] = _mm256_loadu_pd(us + 4 * h);
        v[h] = _mm256_loadu_pd(vs + 4 * h);
    }
    // max(v, 0) answers 0 for NaN and for everything not above 0.
    const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(double(std::numeric_limits<T>::max()));
    for (int i = n - 1; i >= 0; --i) {
        const double* w = work + std::size_t(i) * kLanes;
        __m256d out[2];
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            const __m256d y = _mm256_loadu_pd(w + 4 * h);
            r[h] = _mm256_add_pd(_mm256_mul_pd(a, r[h]), y);
            const __m256d un =
                _mm256_sub_pd(_mm256_add_pd(y, _mm256_mul_pd(P, u[h])), _mm256_mul_pd(Q, v[h]));
            v[h] = _mm256_add_pd(_mm256_mul_pd(P, v[h]), _mm256_mul_pd(Q, u[h]));
            u[h] = un;
            const __m256d value = _mm256_round_pd(_mm256_mul_pd(K, _mm256_sub_pd(r[h], un)),
                                                  _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
            out[h] = _mm256_min_pd(_mm256_max_pd(value, zero), top);
        }
        StoreEightSamples(base + i * sampleStep, laneStep, out[0], out[1]);
    }
}
#endif

// Eight rows of n samples, `stride` apart, into a strip with sample i of row
// l at strip[i * 8 + l], and back.
void GatherRows(const double* rows, std::ptrdiff_t stride, int n, double* strip) {
    for (int l = 0; l < kLanes; ++l)
        for (int i = 0; i < n; ++i)
            strip[std::size_t(i) * kLanes + l] = rows[l * stride + i];
}

void ScatterRows(const double* strip, int n, double* rows, std::ptrdiff_t stride) {
    for (int l = 0; l < kLanes; ++l)
        for (int i = 0; i < n; ++i)
            rows[l * stride + i] = strip[std::size_t(i) * kLanes + l];
}

#if defined(OVH_GAUSS_AVX2)
// Four by four blocks turned in registers; the samples are only moved.
__attribute__((target("avx2"))) inline void Transpose4(__m256d& a, __m256d& b, __m256d& c, __m256d& d) {
    const __m256d ab0 = _mm256_unpacklo_pd(a, b), ab1 = _mm256_unpackhi_pd(a, b);
    const __m256d cd0 = _mm256_unpacklo_pd(c, d), cd1 = _mm256_unpackhi_pd(c, d);
    a = _mm256_permute2f128_pd(ab0, cd0, 0x20);
    b = _mm256_permute2f128_pd(ab1, cd1, 0x20);
    c = _mm256_permute2f128_pd(ab0, cd0, 0x31);
    d = _mm256_permute2f128_pd(ab1, cd1, 0x31);
}

__attribute__((target("avx2"))) void GatherRowsAvx2(const double* rows, std::ptrdiff_t stride, int n,
                                                    double* strip) {
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int h = 0; h < kLanes; h += 4) {
            __m256d a = _mm256_loadu_pd(rows + h * stride + i),
                    b = _mm256_loadu_pd(rows + (h + 1) * stride + i),
                    c = _mm256_loadu_pd(rows + (h + 2) * stride + i),
                    d = _mm256_loadu_pd(rows + (h + 3) * stride + i);
            Transpose4(a, b, c, d);
            _mm256_storeu_pd(strip + std::size_t(i) * kLanes + h, a);
            _mm256_storeu_pd(strip + std::size_t(i + 1) * kLanes + h, b);
            _mm256_storeu_pd(strip + std::size_t(i + 2) * kLanes + h, c);
            _mm256_storeu_pd(strip + std::size_t(i + 3) * kLanes + h, d);
        }
    for (; i < n; ++i)
        for (int l = 0; l < kLanes; ++l)
            strip[std::size_t(i) * kLanes + l] = rows[l * stride + i];
}

__attribute__((target("avx2"))) void ScatterRowsAvx2(const double* strip, int n, double* rows,
                                                     std::ptrdiff_t stride) {
    int i = 0;
    for (; i + 4 <= n; i += 4)
        for (int h = 0; h < kLanes; h += 4) {
            __m256d a = _mm256_loadu_pd(strip + std::size_t(i) * kLanes + h),
                    b = _mm256_loadu_pd(strip + std::size_t(i + 1) * kLanes + h),
                    c = _mm256_loadu_pd(strip + std::size_t(i + 2) * kLanes + h),
                    d = _mm256_loadu_pd(strip + std::size_t(i + 3) * kLanes + h);
            Transpose4(a, b, c, d);
            _mm256_storeu_pd(rows + h * stride + i, a);
            _mm256_storeu_pd(rows + (h + 1) * stride + i, b);
            _mm256_storeu_pd(rows + (h + 2) * stride + i, c);
            _mm256_storeu_pd(rows + (h + 3) * stride + i, d);
        }
    for (; i < n; ++i)
        for (int l = 0; l < kLanes; ++l)
            rows[l * stride + i] = strip[std::size_t(i) * kLanes + l];
}
#endif

// The double plane filter with whole groups of eight columns, and of eight
// rows (gathered into a transposed strip), in registers.
void FilterDoublePlane(std::int32_t width, std::int32_t height, std::int32_t stride, const double* src,
                       double* samples, double sigma) {
    if (width <= 0 || height <= 0 || !samples || !src)
        return;
    const Coefficients c = MakeCoefficients(sigma);
    if (c.identity)
        return FilterPlane<DoubleSample>(width, height, stride, src, samples, sigma, 1);
    auto eight = FilterEightDoubleLines;
#if defined(OVH_GAUSS_AVX2)
    if (kHaveAvx2)
        eight = FilterEightDoubleLinesAvx2;
#endif
    const std::int32_t columnGroups = (width + kLanes - 1) / kLanes;
    ForGroups(columnGroups, height, [&](std::size_t b, std::size_t e) {
        std::unique_ptr<double[]> work(new double[std::size_t(height) * 2 * kLanes]);
        for (std::size_t g = b; g < e; ++g) {
            const std::int32_t x = std::int32_t(g) * kLanes;
#if defined(OVH_GAUSS_AVX2)
            // Two whole groups of this chunk at once.
            if (kHaveAvx2 && g + 1 < e && x + 2 * kLanes <= width) {
                FilterDoubleLinesAvx2<4>(c, src + x, stride, samples + x, stride, height, work.get());
                ++g;
                continue;
            }
#endif
            if (x + kLanes <= width)
                eight(c, src + x, stride, samples + x, stride, height, work.get());
            else
                FilterLines<DoubleSample>(c, src + x, samples + x, 1, stride, height, width - x, work.get());
        }
    });
    auto gather = GatherRows;
    auto scatter = ScatterRows;
#if defined(OVH_GAUSS_AVX2)
    if (kHaveAvx2) {
        gather = GatherRowsAvx2;
        scatter = ScatterRowsAvx2;
    }
#endif
    const std::int32_t rowGroups = (height + kLanes - 1) / kLanes;
    ForGroups(rowGroups, width, [&](std::size_t b, std::size_t e) {
        std::unique_ptr<double[]> work(new double[std::size_t(width) * kLanes]);
        std::unique_ptr<double[]> strip(new double[std::size_t(width) * kLanes]);
        for (std::size_t g = b; g < e; ++g) {
            const std::int32_t y = std::int32_t(g) * kLanes;
            double* rows = samples + std::ptrdiff_t(y) * stride;
            if (y + kLanes > height) {
                FilterLines<DoubleSample>(c, rows, rows, stride, 1, width, height - y, work.get());
                continue;
            }
            gather(rows, stride, width, strip.get());
            eight(c, strip.get(), kLanes, strip.get(), kLanes, width, work.get());
            scatter(strip.get(), width, rows, stride);
        }
    });
}
#else
void FilterDoublePlane(std::int32_t width, std::int32_t height, std::int32_t stride, const double* src,
                       double* samples, double sigma) {
    FilterPlane<DoubleSample>(width, height, stride, src, samples, sigma, 1);
}
#endif

bool WideLines<U8Sample>::Filter(const Coefficients& c, const std::uint8_t* src, std::uint8_t* base,
                                 std::ptrdiff_t laneStep, std::ptrdiff_t sampleStep, int n, double* work) {
#if defined(OVH_GAUSS_AVX2)
    if (kHaveAvx2) {
        FilterEightIntLinesAvx2<U8Sample>(c, src, base, laneStep, sampleStep, n, work);
        return true;
    }
#endif
    (void)c, (void)src, (void)base, (void)laneStep, (void)sampleStep, (void)n, (void)work;
    return false;
}

bool WideLines<U16Sample>::Filter(const Coefficients& c, const std::uint16_t* src, std::uint16_t* base,
                                  std::ptrdiff_t laneStep, std::ptrdiff_t sampleStep, int n, double* work) {
#if defined(OVH_GAUSS_AVX2)
    if (kHaveAvx2) {
        FilterEightIntLinesAvx2<U16Sample>(c, src, base, laneStep, sampleStep, n, work);
        return true;
    }
#endif
    (void)c, (void)src, (void)base, (void)laneStep, (void)sampleStep, (void)n, (void)work;
    return false;
}

}  // namespace

void RecursiveGaussianBlur(std::int32_t width, std::int32_t height, std::int32_t stride, double* samples,
                           double sigma) {
    FilterDoublePlane(width, height, stride, samples, samples, sigma);
}

void RecursiveGaussianBlurU8(std::int32_t width, std::int32_t height, std::int32_t stride,
                             std::uint8_t* samples, double sigma) {
    FilterPlane<U8Sample>(width, height, stride, samples, samples, sigma, 1);
}

void RecursiveGaussianBlurU8Ex(std::int32_t width, std::int32_t height, std::int32_t stride,
                               std::uint8_t* samples, double sigma) {
    FilterPlane<U8Sample>(width, height, stride, samples, samples, sigma, 3);
}

void RecursiveGaussianBlurU16(std::int32_t width, std::int32_t height, std::int32_t stride,
                              std::uint16_t* samples, double sigma) {
    FilterPlane<U16Sample>(width, height, stride, samples, samples, sigma, 1);
}

void RecursiveGaussianBlurInto(std::int32_t width, std::int32_t height, std::int32_t stride,
                               const double* source, double* target, double sigma) {
    FilterDoublePlane(width, height, stride, source, target, sigma);
}
