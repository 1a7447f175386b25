#include "SvdSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Builds the augmented m x (n+1) matrix from row-major coefficients and a
// right-hand side.
alglib::real_2d_array Augmented(int m, int n, const std::vector<double>& coefficients,
                                const std::vector<double>& rhs) {
    alglib::real_2d_array a;
    a.setlength(m, n + 1);
    for (int i = 1; i <= m; ++i) {
        for (int j = 1; j <= n; ++j)
            At(a, i, j) = coefficients[(i - 1) * n + (j - 1)];
        At(a, i, n + 1) = rhs[i - 1];
    }
    return a;
}

// Least-squares solution through the normal equations, by Gaussian
// elimination with partial pivoting: an independent reference for
// well-conditioned systems.
std::vector<double> NormalEquations(int m, int n, const std::vector<double>& c,
                                    const std::vector<double>& b) {
    std::vector<std::vector<double>> g(n, std::vector<double>(n + 1, 0.0));
    for (int r = 0; r < n; ++r) {
        for (int s = 0; s < n; ++s)
            for (int i = 0; i < m; ++i)
                g[r][s] += c[i * n + r] * c[i * n + s];
        for (int i = 0; i < m; ++i)
            g[r][n] += c[i * n + r] * b[i];
    }
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(g[r][col]) > std::fabs(g[pivot][col]))
                pivot = r;
        std::swap(g[col], g[pivot]);
        for (int r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = g[r][col] / g[col][col];
            for (int s = col; s <= n; ++s)
                g[r][s] -= f * g[col][s];
        }
    }
    std::vector<double> x(n);
    for (int r = 0; r < n; ++r)
        x[r] = g[r][n] / g[r][r];
    return x;
}

TEST(SvdSolver, ConsistentSquareSystemGivesExactSolution) {
    const std::vector<double> truth = {1.5, -2.0, 0.25, 3.0, -7.5, 11.0};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coefficient(-10.0, 10.0);
    std::vector<double> c(36), b(6, 0.0);
    for (double& v : c)
        v = coefficient(rng);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            b[i] += c[i * 6 + j] * truth[j];
    auto a = Augmented(6, 6, c, b);
    alglib::real_1d_array x;
    EXPECT_TRUE(SolveLeastSquaresSVD(a, 6, 6, x));
    ASSERT_EQ(x.length(), 6);
    for (int j = 1; j <= 6; ++j)
        EXPECT_NEAR(At(x, j), truth[j - 1], 1e-10 * std::fabs(truth[j - 1]));
}

// Over-determined systems of many shapes against the normal equations.
TEST(SvdSolver, OverdeterminedSystemsMatchNormalEquations) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> value(-5.0, 5.0);
    for (int n = 1; n <= 7; ++n) {
        for (int m : {n, n + 1, 2 * n, 3 * n + 5, 40}) {
            std::vector<double> c(m * n), b(m);
            for (double& v : c)
                v = value(rng);
            for (double& v : b)
                v = value(rng);
            const auto expected = NormalEquations(m, n, c, b);
            auto a = Augmented(m, n, c, b);
            alglib::real_1d_array x;
            EXPECT_TRUE(SolveLeastSquaresSVD(a, m, n, x)) << m << "x" << n;
            for (int j = 1; j <= n; ++j)
                EXPECT_NEAR(At(x, j), expected[j - 1], 1e-9) << m << "x" << n << " j=" << j;
        }
    }
}

TEST(SvdSolver, AllZeroSystemGivesZeroAndFalse) {
    auto a = Augmented(4, 3, std::vector<double>(12, 0.0), {0.0, 0.0, 0.0, 0.0});
    alglib::real_1d_array x;
    EXPECT_FALSE(SolveLeastSquaresSVD(a, 4, 3, x));
    ASSERT_EQ(x.length(), 3);
    for (int j = 1; j <= 3; ++j)
        EXPECT_EQ(At(x, j), 0.0);
}

// Two equal columns: the minimum-norm solution splits the weight evenly.
TEST(SvdSolver, RankDeficientSystemGivesMinimumNormSolution) {
    auto a = Augmented(3, 2, {1, 1, 2, 2, -1, -1}, {2, 4, -2});
    alglib::real_1d_array x;
    EXPECT_FALSE(SolveLeastSquaresSVD(a, 3, 2, x));
    EXPECT_NEAR(At(x, 1), 1.0, 1e-12);
    EXPECT_NEAR(At(x, 2), 1.0, 1e-12);
}

// The affine system of three collinear markers (the default markers of the
// manual matcher) is rank-deficient; the solution stays finite and reproduces
// the markers.
TEST(SvdSolver, CollinearMarkersGiveFiniteSolutionThatFitsThem) {
    const double from[3][2] = {{700, 450}, {700, 300}, {700, 150}};
    const double to[3][2] = {{100, 450}, {100, 300}, {100, 150}};
    std::vector<double> c, b;
    for (int k = 0; k < 3; ++k) {
        const double x = from[k][0], y = from[k][1];
        c.insert(c.end(), {x, 0, y, 0, 1, 0});
        b.push_back(to[k][0]);
        c.insert(c.end(), {0, x, 0, y, 0, 1});
        b.push_back(to[k][1]);
    }
    auto a = Augmented(6, 6, c, b);
    alglib::real_1d_array x;
    EXPECT_FALSE(SolveLeastSquaresSVD(a, 6, 6, x));
    for (int j = 1; j <= 6; ++j)
        EXPECT_TRUE(std::isfinite(At(x, j)));
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(At(x, 1) * from[k][0] + At(x, 3) * from[k][1] + At(x, 5), to[k][0], 1e-6);
        EXPECT_NEAR(At(x, 2) * from[k][0] + At(x, 4) * from[k][1] + At(x, 6), to[k][1], 1e-6);
    }
}

TEST(SvdSolver, RefusesFewerRowsThanUnknowns) {
    auto a = Augmented(2, 3, {1, 2, 3, 4, 5, 6}, {1, 2});
    alglib::real_1d_array x;
    EXPECT_FALSE(SolveLeastSquaresSVD(a, 2, 3, x));
    ASSERT_EQ(x.length(), 3);
    for (int j = 1; j <= 3; ++j)
        EXPECT_EQ(At(x, j), 0.0);
}

}  // namespace
