#include <gtest/gtest.h>

#include <random>

#include "OrvexBase.h"

using OrvexBase::Rect;

TEST(Rect, IntersectAndUnionCases) {
    struct Case {
        Rect a, b, intersect, unite;
    };
    const Case cases[] = {
        {{0, 0, 10, 10}, {10, 0, 20, 10}, {10, 0, 10, 10}, {0, 0, 20, 10}},  // touching edge
        {{0, 0, 10, 10}, {11, 0, 20, 10}, {0, 0, 0, 0}, {0, 0, 20, 10}},
        {{0, 0, 10, 10}, {5, 5, 5, 5}, {0, 0, 0, 0}, {0, 0, 10, 10}},    // a point
        {{0, 0, 0, 10}, {0, 0, 10, 10}, {0, 0, 0, 10}, {0, 0, 10, 10}},  // zero width, not a point
        {{3, 3, 3, 3}, {1, 2, 8, 9}, {0, 0, 0, 0}, {1, 2, 8, 9}},
        {{10, 10, 0, 0}, {1, 1, 2, 2}, {1, 1, 2, 2}, {0, 0, 10, 10}},  // inverted operand
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a.Intersect(c.b), c.intersect) << c.a.left << "," << c.a.top << " with " << c.b.left;
        EXPECT_EQ(c.a.Union(c.b), c.unite) << c.a.left << "," << c.a.top << " with " << c.b.left;
    }
    // Union with a point hands the other operand back unnormalised.
    EXPECT_EQ(Rect(5, 5, 5, 5).Union(Rect(9, 9, 1, 1)), Rect(9, 9, 1, 1));
}

TEST(Rect, EmptinessAndExtents) {
    EXPECT_TRUE(Rect(0, 0, 0, 10).IsEmpty());
    EXPECT_FALSE(Rect(0, 0, 0, 10).IsPoint());
    EXPECT_TRUE(Rect(0, 0, 1, 1).IsEmpty() == false);
    EXPECT_EQ(Rect(10, 0, 4, 3).Width(), -6);
    EXPECT_EQ(Rect(10, 0, 4, 3).Height(), 3);
}

TEST(InvertMatrix3x3, InverseTimesMatrixIsIdentity) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-3.0, 3.0);
    int tested = 0;
    while (tested < 100) {
        const double m[9] = {d(rng), d(rng), d(rng) * 100, d(rng), d(rng), d(rng) * 100, 0, 0, 1};
        if (std::abs(m[0] * m[4] - m[1] * m[3]) < 0.1)
            continue;
        double inv[9];
        InvertMatrix3x3(inv, m);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                double s = 0;
                for (int k = 0; k < 3; ++k)
                    s += inv[r * 3 + k] * m[k * 3 + c];
                EXPECT_NEAR(s, r == c ? 1.0 : 0.0, 1e-12);
            }
        ++tested;
    }
}

TEST(InvertMatrix3x3, SingularMatrixGivesNonFiniteValues) {
    const double m[9] = {1, 2, 3, 2, 4, 6, 0, 0, 1};
    double inv[9];
    InvertMatrix3x3(inv, m);
    bool anyNonFinite = false;
    for (double v : inv)
        anyNonFinite |= !std::isfinite(v);
    EXPECT_TRUE(anyNonFinite);
}
