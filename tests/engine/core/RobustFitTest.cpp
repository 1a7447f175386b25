#include "RobustFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using FitFunction = bool (*)(const std::vector<FitPoint>&, const std::vector<FitPoint>&,
                             const std::vector<double>&, double[9], std::vector<int>*, std::vector<int>*,
                             double*, double);

struct Matrix {
    double m[9];
    FitPoint Map(const FitPoint& p) const {
        return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
    }
};

Matrix Similarity(double scale, double degrees, double tx, double ty) {
    const double r = degrees * std::numbers::pi / 180.0;
    const double a = scale * std::cos(r), b = scale * std::sin(r);
    return {{a, b, tx, -b, a, ty, 0, 0, 1}};
}

// Largest distance between the two maps at the corners of a 640 x 480 view.
double CornerError(const Matrix& truth, const double fitted[9]) {
    Matrix f;
    std::copy(fitted, fitted + 9, f.m);
    double worst = 0.0;
    for (const FitPoint c : {FitPoint{0, 0}, FitPoint{640, 0}, FitPoint{0, 480}, FitPoint{640, 480}}) {
        const FitPoint a = truth.Map(c), b = f.Map(c);
        worst = std::max(worst, std::hypot(a.x - b.x, a.y - b.y));
    }
    return worst;
}

struct Scene {
    std::vector<FitPoint> source, target;
    std::vector<double> weights;
    std::set<int> gross;
};

// n pairs in a 640 x 480 view mapped by `truth` with Gaussian noise, a
// fraction of them moved by 50 to 300 pixels in a random direction.
Scene MakeScene(const Matrix& truth, int n, double noise, double grossFraction, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> ux(0.0, 640.0), uy(0.0, 480.0), weight(0.5, 2.0);
    std::uniform_real_distribution<double> angle(0.0, 2 * std::numbers::pi), length(50.0, 300.0);
    std::normal_distribution<double> jitter(0.0, noise);
    Scene s;
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    const int grossCount = static_cast<int>(n * grossFraction);
    s.gross.insert(order.begin(), order.begin() + grossCount);
    for (int i = 0; i < n; ++i) {
        const FitPoint p{ux(rng), uy(rng)};
        FitPoint q = truth.Map(p);
        q.x += jitter(rng);
        q.y += jitter(rng);
        if (s.gross.count(i)) {
            const double a = angle(rng), l = length(rng);
            q.x += l * std::cos(a);
            q.y += l * std::sin(a);
        }
        s.source.push_back(p);
        s.target.push_back(q);
        s.weights.push_back(weight(rng));
    }
    return s;
}

struct ModelCase {
    const char* name;
    FitFunction fit;
    Matrix truth;
};

const ModelCase kModels[] = {
    {"affine", FitAffineRobust, {{1.02, 0.03, -210.0, -0.02, 0.98, 15.0, 0, 0, 1}}},
    {"similarity", FitSimilarityRobust, Similarity(1.07, 4.0, -180.0, 12.0)},
    {"scale-shift", FitScaleShiftRobust, {{0.93, 0, -250.0, 0, 0.93, 8.0, 0, 0, 1}}},
};

TEST(RobustFit, GeneratorSequenceFromStateOne) {
    robust_fit_detail::SeedRandom(1);
    for (int expected : {41, 18467, 6334, 26500, 19169})
        EXPECT_EQ(robust_fit_detail::NextRandom(), expected);
}

TEST(RobustFit, TrialCount) {
    EXPECT_EQ(robust_fit_detail::TrialCount(0.75), 64);
    EXPECT_EQ(robust_fit_detail::TrialCount(0.5), 8);
    EXPECT_EQ(robust_fit_detail::TrialCount(0.0), 1);
    for (double bad : {1.0, 1.5, -0.1, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(robust_fit_detail::TrialCount(bad), 0) << bad;
}

// 60 noisy pairs, 30% of them gross outliers: every model recovers its
// transform, names every gross outlier, and gives the same bits twice.
TEST(RobustFit, RecoversTransformDespiteGrossOutliers) {
    for (const ModelCase& model : kModels) {
        for (unsigned seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(std::string(model.name) + " seed " + std::to_string(seed));
            const Scene s = MakeScene(model.truth, 60, 0.5, 0.3, seed);
            double h[9];
            std::vector<int> inliers, outliers;
            double residual = -1.0;
            ASSERT_TRUE(model.fit(s.source, s.target, s.weights, h, &inliers, &outliers, &residual, 0.75));
            EXPECT_LT(CornerError(model.truth, h), 1.0);
            const std::set<int> outlierSet(outliers.begin(), outliers.end());
            for (int g : s.gross)
                EXPECT_TRUE(outlierSet.count(g)) << "gross outlier " << g << " missed";
            EXPECT_EQ(inliers.size() + outliers.size(), 60u);
            EXPECT_TRUE(std::is_sorted(inliers.begin(), inliers.end()));
            EXPECT_GT(inliers.size(), 36u);
            EXPECT_GT(residual, 0.0);
            EXPECT_LT(residual, 2.0);

            double again[9];
            std::vector<int> inliers2, outliers2;
            double residual2 = -1.0;
            ASSERT_TRUE(
                model.fit(s.source, s.target, s.weights, again, &inliers2, &outliers2, &residual2, 0.75));
            EXPECT_EQ(0, std::memcmp(h, again, sizeof h));
            EXPECT_EQ(inliers, inliers2);
            EXPECT_EQ(outliers, outliers2);
            EXPECT_EQ(residual, residual2);
        }
    }
}

// Exact data under a non-integer similarity: the rounding noise of the solve
// must not turn perfect pairs into outliers.
TEST(RobustFit, ExactDataAreAllInliers) {
    const Matrix truth = Similarity(1.0371, 3.3, -101.7, 7.25);
    for (const ModelCase& model : kModels) {
        if (model.fit == FitScaleShiftRobust)
            continue;  // a rotation it cannot express
        SCOPED_TRACE(model.name);
        const Scene s = MakeScene(truth, 20, 0.0, 0.0, 5);
        double h[9];
        std::vector<int> inliers = {99, 98, 97};
        double residual = -1.0;
        // Only the inlier list is given: it must hold this call's inliers only.
        ASSERT_TRUE(model.fit(s.source, s.target, s.weights, h, &inliers, nullptr, &residual, 0.75));
        EXPECT_EQ(inliers.size(), 20u);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(inliers[i], i);
        EXPECT_LT(residual, 1e-6);
        EXPECT_LT(CornerError(truth, h), 1e-6);
    }
    const Matrix shift = {{1.25, 0, 33.3, 0, 1.25, -4.1, 0, 0, 1}};
    const Scene s = MakeScene(shift, 20, 0.0, 0.0, 6);
    double h[9];
    std::vector<int> inliers, outliers = {5};
    ASSERT_TRUE(FitScaleShiftRobust(s.source, s.target, s.weights, h, &inliers, &outliers, nullptr, 0.75));
    EXPECT_EQ(inliers.size(), 20u);
    EXPECT_TRUE(outliers.empty());
}

// Refusals leave every output as it was.
TEST(RobustFit, RefusalsLeaveOutputsUntouched) {
    const Scene four = MakeScene(kModels[0].truth, 4, 0.5, 0.0, 9);
    const Scene three = MakeScene(kModels[0].truth, 3, 0.5, 0.0, 9);
    std::vector<double> shortWeights = four.weights;
    shortWeights.pop_back();
    struct Input {
        const char* what;
        const Scene& scene;
        const std::vector<double>& weights;
        double p;
    };
    const Input inputs[] = {
        {"three pairs", three, three.weights, 0.75},
        {"lengths differ", four, shortWeights, 0.75},
        {"p = 1", four, four.weights, 1.0},
        {"p < 0", four, four.weights, -0.5},
    };
    for (const ModelCase& model : kModels) {
        for (const Input& in : inputs) {
            SCOPED_TRACE(std::string(model.name) + ": " + in.what);
            double h[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
            std::vector<int> inliers = {1}, outliers = {2};
            double residual = 42.0;
            EXPECT_FALSE(model.fit(in.scene.source, in.scene.target, in.weights, h, &inliers, &outliers,
                                   &residual, in.p));
            for (double v : h)
                EXPECT_EQ(v, 7.0);
            EXPECT_EQ(inliers, std::vector<int>{1});
            EXPECT_EQ(outliers, std::vector<int>{2});
            EXPECT_EQ(residual, 42.0);
        }
    }
}

// Four pairs are enough to run (64 trials over four indices).
TEST(RobustFit, FourPairsAreFitted) {
    for (const ModelCase& model : kModels) {
        SCOPED_TRACE(model.name);
        const Scene s = MakeScene(model.truth, 4, 0.0, 0.0, 13);
        double h[9];
        std::vector<int> inliers, outliers;
        EXPECT_TRUE(model.fit(s.source, s.target, s.weights, h, &inliers, &outliers, nullptr, 0.75));
        EXPECT_EQ(inliers.size(), 4u);
        EXPECT_LT(CornerError(model.truth, h), 1e-6);
    }
}

// Non-finite points or weights never leave a transform unset or non-finite:
// a few bad pairs become outliers, all-bad input is refused.
TEST(RobustFit, NonFiniteInput) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const ModelCase& model : kModels) {
        SCOPED_TRACE(model.name);
        Scene s = MakeScene(model.truth, 30, 0.3, 0.0, 21);
        s.source[3].x = nan;
        s.target[7].y = inf;
        s.weights[11] = nan;
        double h[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
        std::vector<int> inliers, outliers;
        ASSERT_TRUE(model.fit(s.source, s.target, s.weights, h, &inliers, &outliers, nullptr, 0.75));
        for (double v : h)
            EXPECT_TRUE(std::isfinite(v));
        EXPECT_LT(CornerError(model.truth, h), 1.0);
        EXPECT_TRUE(std::count(outliers.begin(), outliers.end(), 3));
        EXPECT_TRUE(std::count(outliers.begin(), outliers.end(), 7));

        for (FitPoint& p : s.source)
            p.x = nan;
        double untouched[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
        EXPECT_FALSE(model.fit(s.source, s.target, s.weights, untouched, &inliers, &outliers, nullptr, 0.75));
        for (double v : untouched)
            EXPECT_EQ(v, 7.0);
    }
}

}  // namespace
