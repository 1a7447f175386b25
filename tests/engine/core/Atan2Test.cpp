#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "Atan2.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kInf = std::numeric_limits<double>::infinity();

// (y, x) pairs over every direction and over magnitudes from tiny to huge,
// with ratios on both sides of the branch points (1, 0.66 and their inverses).
std::vector<std::pair<double, double>> Grid() {
    std::vector<std::pair<double, double>> pairs;
    const double scales[] = {1e-300, 1e-20, 1e-3, 1.0, 255.0, 1e20, 1e300};
    for (double s : scales)
        for (int i = 0; i < 3600; ++i) {
            const double a = -kPi + i * (2.0 * kPi / 3600.0);
            pairs.emplace_back(s * std::sin(a), s * std::cos(a));
        }
    std::mt19937_64 random(47);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), exponent(-30.0, 30.0);
    for (int i = 0; i < 200000; ++i)
        pairs.emplace_back(unit(random) * std::exp2(exponent(random)),
                           unit(random) * std::exp2(exponent(random)));
    for (double ratio : {1.0, 0.66, 1.0 / 0.66})
        for (int k = -3; k <= 3; ++k) {
            const double r = std::nextafter(ratio, k < 0 ? 0.0 : 2.0);
            const double t = k == 0 ? ratio : std::pow(r / ratio, std::abs(k)) * ratio;
            for (double sy : {1.0, -1.0})
                for (double sx : {1.0, -1.0})
                    pairs.emplace_back(sy * t, sx * 1.0);
        }
    // Gradients of sample values are differences of small numbers.
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx)
            pairs.emplace_back(dy / 510.0, dx / 510.0);
    return pairs;
}

TEST(Atan2Test, MatchesTheLibraryWithinRounding) {
    for (const auto& [y, x] : Grid()) {
        const double want = std::atan2(y, x), got = PortableAtan2(y, x);
        ASSERT_LE(std::fabs(got), kPi) << y << ", " << x;
        const double error = want == 0.0 ? std::fabs(got) : std::fabs(got - want) / std::fabs(want);
        // Two units in the last place at most.
        ASSERT_LE(error, 5e-16) << y << ", " << x << ": " << got << " against " << want;
    }
}

TEST(Atan2Test, SpecialCasesAreTheLibrarys) {
    const double tiny = std::numeric_limits<double>::denorm_min();
    const std::pair<double, double> cases[] = {
        {0.0, 0.0},   {-0.0, 0.0},   {0.0, -0.0}, {-0.0, -0.0}, {0.0, -1.0},   {-0.0, -1.0},
        {0.0, 1.0},   {-0.0, 1.0},   {1.0, 0.0},  {-1.0, 0.0},  {1.0, -0.0},   {-1.0, -0.0},
        {tiny, -1.0}, {-tiny, -1.0}, {tiny, 1.0}, {1.0, tiny},  {1e-17, -1.0}, {-1e-17, -1.0},
        {1.0, 1.0},   {-1.0, -1.0},  {1.0, -1.0}, {3.0, 3.0},   {kInf, 1.0},   {-kInf, -1.0},
        {1.0, -kInf}, {-1.0, -kInf}, {1.0, kInf}, {kInf, kInf}, {kInf, -kInf}, {-kInf, -kInf},
    };
    for (const auto& [y, x] : cases)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(PortableAtan2(y, x)),
                  std::bit_cast<std::uint64_t>(std::atan2(y, x)))
            << "atan2(" << y << ", " << x << ") = " << PortableAtan2(y, x) << ", library "
            << std::atan2(y, x);
    EXPECT_TRUE(std::isnan(PortableAtan2(std::nan(""), 1.0)));
    EXPECT_TRUE(std::isnan(PortableAtan2(1.0, std::nan(""))));
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void FourAtOnce(const double* y, const double* x, double* out) {
    _mm256_storeu_pd(out, Atan2Four(_mm256_loadu_pd(y), _mm256_loadu_pd(x)));
}

TEST(Atan2Test, FourAtOnceGivesThePortableBits) {
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2 on this processor";
    auto pairs = Grid();
    for (double y : {0.0, -0.0, 1.0, -1.0, kInf, -kInf})
        for (double x : {0.0, -0.0, 1.0, -1.0, kInf, -kInf})
            pairs.emplace_back(y, x);
    while (pairs.size() % 4)
        pairs.emplace_back(0.0, 0.0);
    for (std::size_t i = 0; i < pairs.size(); i += 4) {
        double y[4], x[4], out[4];
        for (int l = 0; l < 4; ++l) {
            y[l] = pairs[i + l].first;
            x[l] = pairs[i + l].second;
        }
        FourAtOnce(y, x, out);
        for (int l = 0; l < 4; ++l)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(out[l]),
                      std::bit_cast<std::uint64_t>(PortableAtan2(y[l], x[l])))
                << "atan2(" << y[l] << ", " << x[l] << ")";
    }
}
#endif

}  // namespace
