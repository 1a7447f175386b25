#include "ImplausibleTransform.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct Case {
    const char* what;
    OrvexBase::Size a, b;
    double m[9];
    bool rejected;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Scales near the limit of 5 stay clear of exactly 5 and 1/5, where the
// truncation of the box size decides.
const Case kCases[] = {
    {"identity", {640, 480}, {640, 480}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, false},
    {"shift", {640, 480}, {640, 480}, {1, 0, -400, 0, 1, 30, 0, 0, 1}, false},
    {"B shown 4.9 times larger", {640, 480}, {640, 480}, {1 / 4.9, 0, 0, 0, 1 / 4.9, 0, 0, 0, 1}, false},
    {"B shown 5.1 times larger", {640, 480}, {640, 480}, {1 / 5.1, 0, 0, 0, 1 / 5.1, 0, 0, 0, 1}, true},
    {"B shown 0.21 times", {640, 480}, {640, 480}, {1 / 0.21, 0, 0, 0, 1 / 0.21, 0, 0, 0, 1}, false},
    {"B shown 0.19 times", {640, 480}, {640, 480}, {1 / 0.19, 0, 0, 0, 1 / 0.19, 0, 0, 0, 1}, true},
    {"only the height too large", {640, 480}, {640, 480}, {1, 0, 0, 0, 1 / 5.5, 0, 0, 0, 1}, true},
    {"B collapsed below a pixel", {640, 480}, {640, 480}, {1000, 0, 0, 0, 1, 0, 0, 0, 1}, true},
    {"B thrown beyond 32767", {640, 480}, {640, 480}, {1, 0, -32500, 0, 1, 0, 0, 0, 1}, true},
    {"B thrown below -32768", {640, 480}, {640, 480}, {1, 0, 0, 0, 1, 32800, 0, 0, 1}, true},
    {"different sizes, plausible", {400, 300}, {800, 600}, {2, 0, 0, 0, 2, 0, 0, 0, 1}, false},
    {"singular", {640, 480}, {640, 480}, {1, 2, 0, 2, 4, 0, 0, 0, 1}, true},
    {"zero matrix", {640, 480}, {640, 480}, {0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
};

TEST(ImplausibleTransform, Table) {
    for (const Case& c : kCases)
        EXPECT_EQ(IsImplausibleTransform(c.a, c.b, c.m), c.rejected) << c.what;
}

TEST(ImplausibleTransform, EveryNonFiniteEntryIsRejected) {
    for (double bad : {kNaN, kInf, -kInf}) {
        for (int i = 0; i < 9; ++i) {
            double m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
            m[i] = bad;
            EXPECT_TRUE(IsImplausibleTransform({640, 480}, {640, 480}, m)) << "entry " << i << " = " << bad;
        }
    }
}

}  // namespace
