// Camera rotations, angle wrapping and the radial lens models of the tiled model.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LensModel.h"
#include "TiledImagePose.h"

namespace {

struct RotationCase {
    double pitch, yaw, roll;
    double rows[9];
};

TEST(RotationFromAnglesTest, GivesTheRowsOfEachSingleAxisAndTheIdentity) {
    const double c = 0.8660254037844387;
    const RotationCase cases[] = {
        {0, 0, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {30, 0, 0, {1, 0, 0, 0, c, 0.5, 0, -0.5, c}},
        {0, 30, 0, {c, 0, -0.5, 0, 1, 0, 0.5, 0, c}},
        {0, 0, 30, {c, 0.5, 0, -0.5, c, 0, 0, 0, 1}},
    };
    for (const auto& k : cases) {
        double R[9];
        RotationFromAngles(R, k.pitch, k.yaw, k.roll);
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(R[i], k.rows[i], 1e-12) << k.pitch << " " << k.yaw << " " << k.roll;
    }
}

TEST(RotationFromAnglesTest, ComposesRollAfterPitchAfterYaw) {
    double R[9], Rx[9], Ry[9], Rz[9];
    RotationFromAngles(R, 12, -40, 7);
    RotationFromAngles(Rx, 12, 0, 0);
    RotationFromAngles(Ry, 0, -40, 0);
    RotationFromAngles(Rz, 0, 0, 7);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double v = 0;
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l)
                    v += Rz[3 * i + k] * Rx[3 * k + l] * Ry[3 * l + j];
            EXPECT_NEAR(R[3 * i + j], v, 1e-12);
        }
}

TEST(AngleWrapTest, WrapsByWholeTurnsAndNeverLoopsOnHugeOrNonFiniteValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double in, closed, longitude;
    } cases[] = {
        {190, -170, -170},     {-540, -180, -180}, {540, 180, -180}, {180, 180, -180}, {-180, -180, -180},
        {179.5, 179.5, 179.5}, {0, 0, 0},          {900, 180, -180}, {-190, 170, 170}, {1e300, 0, 0},
    };
    for (const auto& k : cases) {
        if (k.in == 1e300) {
            // Only finiteness and range matter for a value that large.
            EXPECT_TRUE(std::fabs(WrapAngleClosed(k.in)) <= 180.0);
            EXPECT_TRUE(WrapLongitude(k.in) >= -180.0 && WrapLongitude(k.in) < 180.0);
            continue;
        }
        EXPECT_DOUBLE_EQ(WrapAngleClosed(k.in), k.closed) << k.in;
        EXPECT_DOUBLE_EQ(WrapLongitude(k.in), k.longitude) << k.in;
    }
    for (double bad : {inf, -inf, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(WrapAngleClosed(bad)));
        EXPECT_TRUE(std::isnan(WrapLongitude(bad)));
    }
}

class LensModelTest : public ::testing::Test {
protected:
    void TearDown() override { g_nLensModel = 1; }
    static TiledImagePose Lens(double a, double b, double c) {
        TiledImagePose pose;
        pose.hasOwnLens = 1;
        pose.a = a;
        pose.b = b;
        pose.c = c;
        return pose;
    }
};

TEST_F(LensModelTest, ZeroTermsReturnThePointUnchanged) {
    const TiledImagePose lens = Lens(0, 0, 0);
    double x = 0, y = 0;
    EXPECT_TRUE(InvertLensModelQuartic(&x, &y, &lens, 123.5, -77.25));
    EXPECT_EQ(x, 123.5);
    EXPECT_EQ(y, -77.25);
    EXPECT_TRUE(InvertLensModelCubic(&x, &y, &lens, -3, 4));
    EXPECT_EQ(x, -3);
    EXPECT_EQ(y, 4);
}

TEST_F(LensModelTest, QuarticInverseSolvesTheWorkedRadius) {
    const TiledImagePose lens = Lens(1e-7, 0, 0);
    double x = 0, y = 0;
    ASSERT_TRUE(InvertLensModelQuartic(&x, &y, &lens, 600, 800));  // R = 1000
    const double r = std::hypot(x, y);
    EXPECT_NEAR(r, 921.699, 1e-3);
    EXPECT_NEAR(r + 1e-7 * r * r * r, 1000.0, 1e-6);
    EXPECT_NEAR(x / y, 600.0 / 800.0, 1e-12);  // the direction is kept
}

TEST_F(LensModelTest, InverseUndoesTheForwardFactorOfBothModels) {
    const struct {
        int model;
        TiledImagePose lens;
    } cases[] = {{1, Lens(-2e-8, 3e-14, 0)}, {0, Lens(0, 5e-8, -1e-11)}, {7, Lens(0, -4e-8, 2e-11)}};
    for (const auto& k : cases) {
        for (double px : {1.0, 150.0, 420.0}) {
            const double py = -0.6 * px;
            const double f = LensFactor(k.model, k.lens, px * px + py * py);
            double x = 0, y = 0;
            const bool ok = k.model == 1 ? InvertLensModelQuartic(&x, &y, &k.lens, f * px, f * py)
                                         : InvertLensModelCubic(&x, &y, &k.lens, f * px, f * py);
            ASSERT_TRUE(ok) << k.model << " " << px;
            EXPECT_NEAR(x, px, 1e-5);
            EXPECT_NEAR(y, py, 1e-5);
        }
    }
}

TEST_F(LensModelTest, TheSelectorDecidesWhichTermsAreRead) {
    // a only matters to the quartic model, c only to the cubic one.
    const TiledImagePose onlyA = Lens(1e-7, 0, 0), onlyC = Lens(0, 0, 1e-9);
    EXPECT_NE(LensFactor(1, onlyA, 1e4), 1.0);
    EXPECT_EQ(LensFactor(0, onlyA, 1e4), 1.0);
    EXPECT_EQ(LensFactor(1, onlyC, 1e4), 1.0);
    EXPECT_NE(LensFactor(0, onlyC, 1e4), 1.0);
}

TEST_F(LensModelTest, FailsCleanlyWithoutASolutionOrOnAFlatDerivative) {
    double x = -1, y = -1;
    // F(r) = r - 1e-6 r^3 reaches 1000 only at a negative radius.
    const TiledImagePose strong = Lens(-1e-6, 0, 0);
    EXPECT_FALSE(InvertLensModelQuartic(&x, &y, &strong, 1000, 0));
    EXPECT_TRUE(std::isfinite(x) && std::isfinite(y));
    // F'(R) = 1 + 3 a R^2 = 0 at the start: the first step would divide by zero.
    const double R = 100.0;
    x = y = 0;
    const TiledImagePose flatNeg = Lens(-1.0 / (3 * R * R), 0, 0);
    EXPECT_FALSE(InvertLensModelQuartic(&x, &y, &flatNeg, R, 0));
    EXPECT_TRUE(std::isfinite(x) && std::isfinite(y));
    // A strongly negative cubic term diverges as well.
    const TiledImagePose cubic = Lens(0, -1e-5, -1e-7);
    EXPECT_FALSE(InvertLensModelCubic(&x, &y, &cubic, 800, 300));
}

TEST_F(LensModelTest, TheCentreMapsToItself) {
    const TiledImagePose lens = Lens(1e-7, 1e-12, 1e-9);
    double x = 5, y = 5;
    EXPECT_TRUE(InvertLensModelQuartic(&x, &y, &lens, 0, 0));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    x = y = 5;
    EXPECT_TRUE(InvertLensModelCubic(&x, &y, &lens, 0, 0));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST_F(LensModelTest, NoOffsetBeyondTheReachComesFromWithinTheRadius) {
    // The renderer skips the inverse beyond the reach: every offset out there
    // must either have no inverse or one outside the radius.
    const double radius = 500.0;
    const struct {
        int model;
        TiledImagePose lens;
        bool bounded;
    } cases[] = {
        {1, Lens(0, 0, 0), true},         {1, Lens(2e-7, 1e-13, 0), true},
        {1, Lens(-4e-7, 2e-13, 0), true}, {1, Lens(-2e-6, 0, 0), false},  // F turns back before 500
        {0, Lens(0, 5e-8, -1e-11), true}, {0, Lens(0, -4e-6, 0), false},
        {0, Lens(0, -1e-7, 1e-10), true}, {1, Lens(std::nan(""), 0, 0), false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << "model " << k.model << " a " << k.lens.a << " b " << k.lens.b << " c " << k.lens.c);
        const double reach = LensModelReach(k.model, k.lens, radius);
        EXPECT_EQ(std::isfinite(reach), k.bounded);
        if (!k.bounded)
            continue;
        // The edge of the radius maps to just within the reach.
        EXPECT_LE(radius * LensFactor(k.model, k.lens, radius * radius), reach);
        for (double R = reach; R < 4 * reach; R += reach / 64) {
            double x = 0, y = 0;
            const bool ok = k.model == 1 ? InvertLensModelQuartic(&x, &y, &k.lens, 0.6 * R, 0.8 * R)
                                         : InvertLensModelCubic(&x, &y, &k.lens, 0.6 * R, 0.8 * R);
            if (ok) {
                EXPECT_GT(std::hypot(x, y), radius) << R;
            }
        }
    }
    EXPECT_TRUE(std::isinf(LensModelReach(1, Lens(0, 0, 0), -1.0)));
}

}  // namespace
