// Global alignment of the tiled model: start poses, residuals, the solver call
// and recovery of known poses.

#include <gtest/gtest.h>

#include <cmath>

#include "LensModel.h"
#include "PanoramaLib.h"
#include "SyntheticViews.h"
#include "TiledAlignment.h"

using Synthetic::Pose;
using Tiled_Panorama::AlignmentEdge;
using Tiled_Panorama::CPoseAlignment;

namespace {

constexpr double kPi = 3.141592653589793;

AlignmentEdge Edge(int first, int second, const double transform[9], int inliers) {
    AlignmentEdge edge;
    edge.firstImage = first;
    edge.secondImage = second;
    std::copy(transform, transform + 9, edge.transform);
    edge.inlierCount = inliers;
    return edge;
}

TEST(TiledAlignmentTest, ReproducesTheWorkedResidual) {
    // Keypoints chosen so that the centred points are P = (10, 5) and Q = (100, -50).
    CPoseAlignment align;
    align.photoSizes = {{20, 10}, {200, 100}};
    align.keypoints = {{{20, 10}}, {{200, 0}}};
    AlignmentEdge edge;
    edge.firstImage = 0;
    edge.secondImage = 1;
    edge.inlierCount = 1;
    edge.inliers1 = {0};
    edge.inliers2 = {0};
    edge.inlierScores = {0};  // weight 1
    align.placementOrder = {0, 1};
    align.usedEdges = {{&edge}, {}};
    align.poses = {Pose(1200, 0, 0, 0), Pose(1000, 0, 20, 0)};
    ASSERT_EQ(align.ParameterCount(), 8);
    ASSERT_EQ(align.ResidualCount(), 4);
    double x[8], fvec[4];
    align.PackAlignmentParams(x);
    auto sumOfSquares = [&] {
        return fvec[0] * fvec[0] + fvec[1] * fvec[1] + fvec[2] * fvec[2] + fvec[3] * fvec[3];
    };
    EXPECT_EQ(align.AlignmentResiduals(4, 8, x, fvec), 0);
    EXPECT_NEAR(sumOfSquares(), 537056.42, 0.005);
    // Signed differences: P - Q' in p, then Q - P' in q.
    const double want[4] = {-567.7943, 71.2624, 454.5615, -54.4207};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(fvec[i], want[i], 1e-4) << i;

    // The score weights it: w = 1 - (score / 1000) / ratio^2; a score past
    // the ratio test weighs nothing, never less.
    edge.inlierScores = {320};
    align.AlignmentResiduals(4, 8, x, fvec);
    EXPECT_NEAR(sumOfSquares(), 537056.42 * (1 - 0.32 / 0.64), 0.005);
    edge.inlierScores = {900};
    align.AlignmentResiduals(4, 8, x, fvec);
    EXPECT_EQ(sumOfSquares(), 0.0);
}

TEST(TiledAlignmentTest, StartPosesFollowTheEdgeTransform) {
    const double dx = 150, dy = 80;
    const struct {
        const char* name;
        double H[9];
        bool newIsFirst;
        double focal, pitch, yaw, roll;
    } cases[] = {
        {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, true, 1000, 0, 0, 0},
        {"shift x", {1, 0, dx, 0, 1, 0, 0, 0, 1}, true, 1000, 0, std::atan(dx / 1000) * 180 / kPi, 0},
        {"shift y", {1, 0, 0, 0, 1, dy, 0, 0, 1}, true, 1000, -std::atan(dy / 1000) * 180 / kPi, 0, 0},
        // The edge runs the other way: its inverse is used.
        {"shift x reversed",
         {1, 0, -dx, 0, 1, 0, 0, 0, 1},
         false,
         1000,
         0,
         std::atan(dx / 1000) * 180 / kPi,
         0},
        // Half size about the centre: the new photo is twice as far zoomed out.
        {"scale", {0.5, 0, 100, 0, 0.5, 75, 0, 0, 1}, true, 2000, 0, 0, 0},
    };
    for (const auto& k : cases) {
        CPoseAlignment align;
        align.photoSizes = {{400, 300}, {400, 300}};
        align.poses = {Pose(1000, 0, 0, 0), Pose(1000, 0, 0, 0)};
        const AlignmentEdge edge = k.newIsFirst ? Edge(1, 0, k.H, 10) : Edge(0, 1, k.H, 10);
        ASSERT_TRUE(align.InitPoseFromEdge(0, 1, &edge)) << k.name;
        const TiledImagePose& p = align.poses[1];
        EXPECT_NEAR(p.focal, k.focal, 1e-9) << k.name;
        EXPECT_NEAR(p.pitch, k.pitch, 1e-9) << k.name;
        EXPECT_NEAR(p.yaw, k.yaw, 1e-9) << k.name;
        EXPECT_NEAR(p.roll, k.roll, 1e-9) << k.name;
    }
}

TEST(TiledAlignmentTest, TheStartTurnIsTakenInTheAnchorsCamera) {
    // The same edge from an anchor that looks up and sideways: the new photo
    // is turned from the anchor's camera exactly as from an anchor at zero
    // angles (adding the angles instead tilts a raised row further and
    // further).
    const double H[9] = {0.98, -0.05, 150, 0.05, 0.98, 60, 0, 0, 1};
    const AlignmentEdge edge = Edge(1, 0, H, 10);
    auto relative = [&](const TiledImagePose& anchor) {
        CPoseAlignment align;
        align.photoSizes = {{400, 300}, {400, 300}};
        align.poses = {anchor, Pose(0, 0, 0, 0)};
        EXPECT_TRUE(align.InitPoseFromEdge(0, 1, &edge));
        double Ra[9], Rb[9];
        RotationFromAngles(Ra, anchor.pitch, anchor.yaw, anchor.roll);
        const TiledImagePose& b = align.poses[1];
        RotationFromAngles(Rb, b.pitch, b.yaw, b.roll);
        std::vector<double> out(9);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                out[3 * i + j] =
                    Rb[3 * i] * Ra[3 * j] + Rb[3 * i + 1] * Ra[3 * j + 1] + Rb[3 * i + 2] * Ra[3 * j + 2];
        EXPECT_NEAR(b.focal, anchor.focal / 0.98 * std::cos(std::atan(0.05 / 0.98)), 1e-6);
        return out;
    };
    const std::vector<double> fromZero = relative(Pose(800, 0, 0, 0));
    const std::vector<double> fromRaised = relative(Pose(800, -40, 120, 7));
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(fromRaised[i], fromZero[i], 1e-12) << i;
}

TEST(TiledAlignmentTest, StartRollFlipsWithANegativeFirstEntryAndSurvivesAQuarterTurn) {
    const double t = 10 * kPi / 180;
    const double rot[9] = {std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1};
    // The same turn plus a half turn: H00 < 0, and the start roll changes sign.
    const double flipped[9] = {-std::cos(t), std::sin(t), 0, -std::sin(t), -std::cos(t), 0, 0, 0, 1};
    const double quarter[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    CPoseAlignment align;
    align.photoSizes = {{400, 300}, {400, 300}};
    align.poses = {Pose(1000, 0, 0, 0), Pose(1000, 0, 0, 0)};
    AlignmentEdge edge = Edge(1, 0, rot, 10);
    align.InitPoseFromEdge(0, 1, &edge);
    const double roll = align.poses[1].roll;
    EXPECT_NEAR(roll, 10.0, 1e-9);
    edge = Edge(1, 0, flipped, 10);
    align.InitPoseFromEdge(0, 1, &edge);
    EXPECT_NEAR(align.poses[1].roll, -roll, 1e-9);
    // H00 = 0: the quotient scales vanish; the focal must stay finite.
    edge = Edge(1, 0, quarter, 10);
    align.InitPoseFromEdge(0, 1, &edge);
    EXPECT_TRUE(std::isfinite(align.poses[1].focal));
    EXPECT_NEAR(align.poses[1].focal, 1000.0, 1e-6);
    EXPECT_FALSE(align.InitPoseFromEdge(0, 1, nullptr));
}

TEST(TiledAlignmentTest, UnpackWrapsAnglesAndScalesLensTerms) {
    CPoseAlignment align;
    align.poses.resize(3);
    align.placementOrder = {2, 0};
    align.sharedLens.hasOwnLens = 1;
    const double x[11] = {1, -2, 3, 900, 190, -540, 540, 800, 0, 360.5, -180};
    align.UnpackAlignmentParams(x);
    EXPECT_DOUBLE_EQ(align.sharedLens.a, 1e-4);
    EXPECT_DOUBLE_EQ(align.sharedLens.b, -2e-4);
    EXPECT_DOUBLE_EQ(align.sharedLens.c, 3e-4);
    EXPECT_EQ(align.poses[2].focal, 900);
    EXPECT_DOUBLE_EQ(align.poses[2].pitch, -170);
    EXPECT_DOUBLE_EQ(align.poses[2].yaw, -180);
    EXPECT_DOUBLE_EQ(align.poses[2].roll, 180);
    EXPECT_NEAR(align.poses[0].yaw, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(align.poses[0].roll, -180);
    EXPECT_EQ(align.poses[1].focal, 0);  // not in the order: untouched
}

TEST(TiledAlignmentTest, CountsParametersAndEvaluations) {
    for (int lens : {1, 0}) {
        CPoseAlignment align;
        align.placementOrder = {0, 1, 2};
        align.sharedLens.hasOwnLens = lens;
        const int n = align.ParameterCount();
        EXPECT_EQ(n, lens ? 15 : 12);
        Tiled_Panorama::LmdifWorkspace ws(40, n);
        ASSERT_TRUE(ws.IsValid());
        EXPECT_EQ(ws.maxfev, lens ? 160000 : 130000);
        EXPECT_EQ(ws.wa4 - ws.wa1, 3 * n);
    }
    // A workspace whose Jacobian cannot be addressed is refused, not used.
    Tiled_Panorama::LmdifWorkspace huge(2000000000, 2000000000);
    EXPECT_FALSE(huge.IsValid());
}

// Photos on a ring round the reference, plus one photo that matches nothing.
struct RingScene {
    std::vector<TiledImagePose> truth;
    std::vector<OrvexBase::Size> sizes;
    Synthetic::Correspondences matches;
};

RingScene MakeScene(double noise) {
    RingScene s;
    s.truth = {Pose(700, 0, 0, 0),   Pose(700, 6, 22, 2),   Pose(700, -5, 41, -1.5),
               Pose(700, 20, 10, 1), Pose(700, -18, 25, 3), Pose(700, 0, 180, 0)};
    s.sizes.assign(s.truth.size(), OrvexBase::Size(640, 480));
    s.matches = Synthetic::MakeCorrespondences(s.truth, s.sizes, 16, 20, noise);
    return s;
}

// Every pose's angles are parameters, the reference's too, so the fit is
// fixed only up to one common rotation: compare each photo's rotation
// relative to photo 0 (what the surfaces render), within 0.1 degree, and the
// focal lengths within 1%.
void ExpectRelativePose(const std::vector<TiledImagePose>& got, const std::vector<TiledImagePose>& want,
                        int i) {
    const double angle = Synthetic::RelativeTurnError(got, want, i);
    EXPECT_LT(angle, 0.1);
    EXPECT_NEAR(got[i].focal, want[i].focal, want[i].focal * 0.01);
}

void Configure(CPoseAlignment& align, const RingScene& s) {
    align.photoSizes = s.sizes;
    align.keypoints = s.matches.keypoints;
    align.edges.clear();
    for (const auto& e : s.matches.edges)
        align.edges.push_back(&e);
    align.referenceImage = 0;
}

TEST(TiledAlignmentTest, RecoversKnownPosesFromExactAndNoisyMatches) {
    for (bool atEnd : {false, true}) {
        for (double noise : {0.0, 0.5}) {
            const RingScene s = MakeScene(noise);
            CPoseAlignment align;
            Configure(align, s);
            align.optimizeAtEnd = atEnd;
            ASSERT_TRUE(align.AlignImages());
            ASSERT_EQ(align.placementOrder.size(), 5u);
            EXPECT_EQ(align.placementOrder[0], 0);
            for (int i = 0; i < 5; ++i) {
                SCOPED_TRACE(testing::Message()
                             << "photo " << i << " noise " << noise << " at end " << atEnd);
                ExpectRelativePose(align.poses, s.truth, i);
            }
            // The unconnected photo keeps a zero pose and is not placed.
            EXPECT_EQ(align.poses[5].focal, 0.0);
        }
    }
}

TEST(TiledAlignmentTest, SharedLensTermsStayNearZeroForAnUndistortedScene) {
    const RingScene s = MakeScene(0.0);
    CPoseAlignment align;
    Configure(align, s);
    align.lensMode = 1;
    ASSERT_TRUE(align.AlignImages());
    EXPECT_TRUE(align.sharedLens.hasOwnLens);
    EXPECT_NEAR(align.sharedLens.a * 300 * 300, 0.0, 1e-3);
    EXPECT_NEAR(align.sharedLens.b * std::pow(300, 4), 0.0, 1e-3);
    for (int i = 0; i < 5; ++i)
        ExpectRelativePose(align.poses, s.truth, i);
}

TEST(TiledAlignmentTest, FewerResidualsThanParametersKeepTheStartPoses) {
    // Two photos, two matches, lens on: n = 11 > m = 8, so the solver makes
    // no step and the poses stay as derived from the edge (too few matches
    // for a focal estimate: the start focal is 1000), up to the levelling
    // turn, which moves both photos alike.
    const double H[9] = {1, 0, 120, 0, 1, -30, 0, 0, 1};
    AlignmentEdge edge = Edge(1, 0, H, 2);
    CPoseAlignment align;
    align.photoSizes = {{400, 300}, {400, 300}};
    align.keypoints.assign(2, {});
    for (int k = 0; k < 2; ++k) {
        align.keypoints[1].push_back({50.0 + 30 * k, 100.0 + 10 * k});
        align.keypoints[0].push_back({170.0 + 30 * k + (k % 3), 70.0 + 10 * k});
        edge.inliers1.push_back(k);
        edge.inliers2.push_back(k);
        edge.inlierScores.push_back(0);
    }
    align.edges = {&edge};
    align.lensMode = 1;
    ASSERT_TRUE(align.AlignImages());
    EXPECT_EQ(align.lastInfo, 0);
    EXPECT_EQ(align.poses[0].focal, 1000.0);
    EXPECT_EQ(align.poses[1].focal, 1000.0);
    const std::vector<TiledImagePose> start = {
        Pose(1000, 0, 0, 0),
        Pose(1000, -std::atan(-30.0 / 1000) * 180 / kPi, std::atan(120.0 / 1000) * 180 / kPi, 0)};
    ExpectRelativePose(align.poses, start, 1);
    EXPECT_EQ(align.sharedLens.a, 0.0);
}

TEST(TiledAlignmentTest, NoEdgeLeavesThePosesAlone) {
    CPoseAlignment align;
    align.photoSizes = {{10, 10}, {10, 10}};
    align.poses = {Pose(5, 1, 2, 3), Pose(6, 4, 5, 6)};
    EXPECT_FALSE(align.AlignImages());
    EXPECT_EQ(align.poses[0].focal, 5);
    EXPECT_EQ(align.poses[1].roll, 6);
}

TEST(TiledAlignmentTest, PlacesAlongTheStrongestEdgesFirst) {
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    AlignmentEdge e01 = Edge(0, 1, I, 5), e02 = Edge(2, 0, I, 9), e12 = Edge(1, 2, I, 50),
                  e23 = Edge(3, 2, I, 4);
    CPoseAlignment align;
    align.photoSizes.assign(4, {100, 100});
    align.keypoints.assign(4, {});
    align.edges = {&e01, &e02, &e12, &e23};
    align.optimizeAtEnd = true;  // no inliers listed: the solve has nothing to move
    ASSERT_TRUE(align.AlignImages());
    EXPECT_EQ(align.placementOrder, (std::vector<std::int32_t>{0, 2, 1, 3}));
}

}  // namespace

namespace {

// The tilt of a pose's frame from level: the angle between its camera's
// horizontal axis and the horizontal plane, and the wave its view axis shows.
double Roll(const TiledImagePose& pose) {
    double R[9];
    RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
    return std::asin(std::clamp(R[1], -1.0, 1.0)) * 180 / kPi;
}

// Every pose turned by one common rotation (a rig held askew).
std::vector<TiledImagePose> Tilted(const std::vector<TiledImagePose>& poses, double pitch, double roll) {
    double T[9];
    RotationFromAngles(T, pitch, 0, roll);
    std::vector<TiledImagePose> out = poses;
    for (TiledImagePose& pose : out) {
        double R[9], L[9];
        RotationFromAngles(R, pose.pitch, pose.yaw, pose.roll);
        // New world-to-camera: R T^T.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                L[3 * a + b] =
                    R[3 * a] * T[3 * b] + R[3 * a + 1] * T[3 * b + 1] + R[3 * a + 2] * T[3 * b + 2];
        pose.pitch = std::asin(-L[7]) * 180 / kPi;
        pose.yaw = std::atan2(L[6], L[8]) * 180 / kPi;
        pose.roll = std::atan2(L[1], L[4]) * 180 / kPi;
    }
    return out;
}

TEST(TiledLevellingTest, ACommonTiltIsTurnedAwayWhateverThePhotosCover) {
    std::vector<TiledImagePose> ring, row, column;
    for (int i = 0; i < 12; ++i)
        ring.push_back(Pose(500, 4, 30.0 * i, 0));
    for (int i = 0; i < 4; ++i)
        row.push_back(Pose(500, -25, 20.0 * i, 0));  // a row looking up
    for (int i = 0; i < 3; ++i)
        column.push_back(Pose(500, -30.0 * i, 0, 0));  // a column up a tower
    const struct {
        const char* name;
        std::vector<TiledImagePose> level;
        double pitchShift;
    } cases[] = {{"ring", ring, 0},
                 {"row", row, 0},
                 // Nothing tells how far a column looked up: its mean photo
                 // ends level.
                 {"column", column, 30}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<TiledImagePose> poses = Tilted(k.level, 7, -5);
        std::vector<std::int32_t> order;
        for (std::size_t i = 0; i < poses.size(); ++i)
            order.push_back(static_cast<std::int32_t>(i));
        Tiled_Panorama::LevelPoses(poses, order, 0);
        // Relative poses are kept; each camera is upright again, at its own
        // pitch; the reference looks along heading 0.
        for (std::size_t i = 0; i < poses.size(); ++i) {
            ExpectRelativePose(poses, k.level, static_cast<int>(i));
            EXPECT_NEAR(Roll(poses[i]), 0.0, 1e-6) << i;
            EXPECT_NEAR(poses[i].pitch, k.level[i].pitch + k.pitchShift, 1e-6) << i;
        }
        EXPECT_NEAR(poses[0].yaw, 0.0, 1e-6);
    }
}

TEST(TiledAlignmentTest, TheStartFocalComesFromThePerspectiveOfTheMatches) {
    // Photos of focal 700 round the reference: the homographies show 700,
    // and the start is 0.8 of it.
    const RingScene s = MakeScene(0.3);
    CPoseAlignment align;
    Configure(align, s);
    EXPECT_NEAR(align.EstimateStartFocal(), 0.8 * 700, 0.8 * 700 * 0.02);

    // The two relations recover both focal lengths of a pure rotation.
    const TiledImagePose a = Pose(500, 5, 0, 2), b = Pose(800, -3, 20, 0);
    double Ra[9], Rb[9], H[9];
    RotationFromAngles(Ra, a.pitch, a.yaw, a.roll);
    RotationFromAngles(Rb, b.pitch, b.yaw, b.roll);
    // H = Kb Rb Ra^T Ka^-1 maps a's centred pixels to b's.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double r = 0;
            for (int k = 0; k < 3; ++k)
                r += Rb[3 * i + k] * Ra[3 * j + k];
            H[3 * i + j] = r * (i < 2 ? b.focal : 1.0) / (j < 2 ? a.focal : 1.0);
        }
    double fa = 0, fb = 0;
    bool oka = false, okb = false;
    Tiled_Panorama::FocalsFromHomography(H, fa, fb, oka, okb);
    ASSERT_TRUE(oka && okb);
    EXPECT_NEAR(fa, 500, 1e-6);
    EXPECT_NEAR(fb, 800, 1e-6);

    // Matches without perspective (a pure shift) give no estimate: 1000.
    AlignmentEdge edge;
    edge.firstImage = 0;
    edge.secondImage = 1;
    CPoseAlignment flat;
    flat.photoSizes = {{400, 300}, {400, 300}};
    flat.keypoints.assign(2, {});
    for (int k = 0; k < 20; ++k) {
        const double x = 20 + 17 * k % 360, y = 15 + 29 * k % 270;
        flat.keypoints[0].push_back({x, y});
        flat.keypoints[1].push_back({x - 120, y + 4});
        edge.inliers1.push_back(k);
        edge.inliers2.push_back(k);
    }
    edge.inlierCount = 20;
    flat.edges = {&edge};
    EXPECT_EQ(flat.EstimateStartFocal(), 1000.0);
}

}  // namespace

namespace {

// Twenty undistorted photos round a full turn: 0.8 of the focal their
// homographies show is too low a start for so long a ring (the chained start
// poses overshoot the turn by a quarter); the start whose poses agree best
// with the matches is the estimate itself, and the ring closes.
TEST(TiledAlignmentTest, ALongUndistortedRingClosesFromTheStartThatFitsBest) {
    RingScene s;
    for (int i = 0; i < 20; ++i)
        s.truth.push_back(Pose(500, 0, 18.0 * i, 0));
    s.sizes.assign(s.truth.size(), OrvexBase::Size(640, 480));
    s.matches = Synthetic::MakeCorrespondences(s.truth, s.sizes, 40, 12, 0.3);
    CPoseAlignment align;
    Configure(align, s);
    ASSERT_TRUE(align.AlignImages());
    ASSERT_EQ(align.placementOrder.size(), 20u);
    EXPECT_NEAR(align.startFocal, 500, 10);
    EXPECT_LT(align.lastRmsDistance, 1.0);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        ExpectRelativePose(align.poses, s.truth, i);
    }
}

// The refinement before lmdif must find lmdif's own optimum, close enough
// that lmdif stops after one Jacobian without lens terms and after at most
// two with them.
TEST(TiledAlignmentTest, TheRefinedStartLeavesLmdifOneJacobianAtTheSameOptimum) {
    const RingScene s = MakeScene(0.5);
    for (int lens : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "lens " << lens);
        CPoseAlignment walked, refined;
        for (CPoseAlignment* align : {&walked, &refined}) {
            Configure(*align, s);
            align->lensMode = lens;
            align->refineStart = align == &refined;
            ASSERT_TRUE(align->AlignImages());
        }
        const int n = refined.ParameterCount();
        EXPECT_GT(refined.lastRefineSteps, 0);
        EXPECT_LT(refined.lastEvaluations, (lens ? 3 : 2) * n + 1);
        EXPECT_GT(walked.lastEvaluations, 3 * n + 1);
        EXPECT_LE(refined.lastRmsDistance, walked.lastRmsDistance * (1 + 1e-9));
        ASSERT_EQ(refined.placementOrder, walked.placementOrder);
        for (std::int32_t i : refined.placementOrder) {
            SCOPED_TRACE(i);
            const TiledImagePose &a = refined.poses[i], &b = walked.poses[i];
            EXPECT_NEAR(a.focal, b.focal, 1e-3 * b.focal);
            EXPECT_NEAR(a.pitch, b.pitch, 0.05);
            EXPECT_NEAR(a.yaw, b.yaw, 0.05);
            EXPECT_NEAR(a.roll, b.roll, 0.05);
        }
    }
}

}  // namespace

// A photo and a copy of it moved by a pixel or a few (what a near-duplicate
// pair shows) say nothing of the focal length or the lens: the fit keeps a
// focal a camera has and a lens that folds no photo, and still joins the two.
TEST(TiledAlignmentTest, NearlyTheSameViewKeepsAPlausibleFocalAndLens) {
    const OrvexBase::Size size(256, 171);
    for (const bool lens : {false, true})
        for (const double shift : {1.0, 3.0}) {
            SCOPED_TRACE(testing::Message() << "lens " << lens << " shift " << shift);
            std::vector<std::vector<Tiled_Panorama::AlignmentPoint>> keypoints(2);
            AlignmentEdge edge;
            edge.firstImage = 1;
            edge.secondImage = 0;
            const double transform[9] = {1, 0, shift, 0, 1, shift / 2, 0, 0, 1};
            std::copy(transform, transform + 9, edge.transform);
            unsigned seed = 7;
            auto jitter = [&seed] {
                seed = seed * 1103515245u + 12345u;
                return ((seed >> 16) % 1000) / 1000.0 * 0.4 - 0.2;
            };
            for (int y = 10; y < size.cy; y += 20)
                for (int x = 10; x < size.cx; x += 20) {
                    const int k = static_cast<int>(keypoints[0].size());
                    keypoints[1].push_back({x + jitter(), y + jitter()});
                    keypoints[0].push_back({x + shift + jitter(), y + shift / 2 + jitter()});
                    edge.inliers1.push_back(k);
                    edge.inliers2.push_back(k);
                    edge.inlierScores.push_back(200);
                }
            edge.inlierCount = static_cast<int>(edge.inliers1.size());
            CPoseAlignment align;
            align.photoSizes = {size, size};
            align.keypoints = keypoints;
            align.edges = {&edge};
            align.lensMode = lens ? 1 : 0;
            align.sharedLens.hasOwnLens = lens ? 1 : 0;
            ASSERT_TRUE(align.AlignImages());
            EXPECT_FALSE(align.fitImplausible);
            ASSERT_EQ(align.placementOrder.size(), 2u);
            for (const TiledImagePose& pose : align.poses) {
                EXPECT_GE(pose.focal, 0.2 * size.cx);
                EXPECT_LE(pose.focal, 10.0 * size.cx);
            }
            if (lens) {
                EXPECT_TRUE(std::isfinite(LensModelReach(align.lensModel, align.sharedLens,
                                                         0.5 * std::hypot(size.cx, size.cy))));
            }
            EXPECT_LT(align.lastRmsDistance, 1.5);
        }
}
