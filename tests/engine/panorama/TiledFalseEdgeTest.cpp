// The tiled alignment against a false edge: a few matches between repeated
// structures of two photos that do not overlap, as small copies of a room's
// photos give, and matches that no pair of cameras could give.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "SyntheticViews.h"
#include "TiledAlignment.h"

using Synthetic::Pose;
using Synthetic::RelativeTurnError;
using Tiled_Panorama::AlignmentEdge;
using Tiled_Panorama::AlignmentPoint;
using Tiled_Panorama::CPoseAlignment;

namespace {

// Appends an edge between photos a and b whose matches pair each grid point
// of a with the point of b at nearly the same place (scaled by 0.92 about the
// centre, as repeated windows matched across a room would): the affine
// transform looks like a good neighbour, but the photos do not overlap.
void AddLookalikeEdge(Synthetic::Correspondences& scene, const std::vector<OrvexBase::Size>& sizes, int a,
                      int b, int count) {
    AlignmentEdge edge;
    edge.firstImage = a;
    edge.secondImage = b;
    std::vector<AlignmentPoint> from, to;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(20, sizes[a].cx - 20), y(20, sizes[a].cy - 20);
    for (int k = 0; k < count; ++k) {
        const AlignmentPoint p{x(random), y(random)};
        const AlignmentPoint q{sizes[b].cx * 0.5 + 0.92 * (p.x - sizes[a].cx * 0.5) - 6,
                               sizes[b].cy * 0.5 + 0.92 * (p.y - sizes[a].cy * 0.5) + 8};
        edge.inliers1.push_back(static_cast<std::int32_t>(scene.keypoints[a].size()));
        scene.keypoints[a].push_back(p);
        edge.inliers2.push_back(static_cast<std::int32_t>(scene.keypoints[b].size()));
        scene.keypoints[b].push_back(q);
        edge.inlierScores.push_back(0);
        from.push_back(p);
        to.push_back(q);
    }
    edge.inlierCount = count;
    Synthetic::FitAffine(from, to, edge.transform);
    scene.edges.push_back(std::move(edge));
}

void Configure(CPoseAlignment& align, const std::vector<OrvexBase::Size>& sizes,
               const Synthetic::Correspondences& scene) {
    align.photoSizes = sizes;
    align.keypoints = scene.keypoints;
    align.edges.clear();
    for (const auto& e : scene.edges)
        align.edges.push_back(&e);
    align.referenceImage = 0;
    align.lensMode = 1;
}

// A row of small photos (256 pixels wide, half of each seen by the next)
// with one false edge between two photos two steps apart: without it the row
// aligns to its true poses; with it, every start used to settle in one wrong
// minimum (a focal ten times too long, the photos rolled up to 47 degrees,
// matches 12 pixels apart). The edge is dropped and the row aligns as if it
// were not there.
TEST(TiledFalseEdgeTest, AFalseEdgeBetweenPhotosThatDoNotOverlapIsDroppedAndTheRowAligns) {
    std::vector<TiledImagePose> truth;
    for (int i = 0; i < 9; ++i)
        truth.push_back(Pose(210, i % 2 ? 1.5 : -1.0, 28.0 * i, i % 3 ? 0.5 : -0.5));
    const std::vector<OrvexBase::Size> sizes(truth.size(), OrvexBase::Size(256, 171));
    Synthetic::Correspondences scene = Synthetic::MakeCorrespondences(truth, sizes, 12, 20, 0.4);
    std::vector<TiledImagePose> withoutIt;
    for (int extra = 0; extra < 2; ++extra) {
        SCOPED_TRACE(extra ? "with the false edge" : "without");
        if (extra)
            AddLookalikeEdge(scene, sizes, 3, 5, 11);
        CPoseAlignment align;
        Configure(align, sizes, scene);
        ASSERT_TRUE(align.AlignImages());
        ASSERT_EQ(align.placementOrder.size(), truth.size());
        EXPECT_FALSE(align.fitImplausible);
        EXPECT_LT(align.lastRmsDistance, 1.0);
        // The open row drifts a little with the noise of its matches.
        for (int i = 0; i < static_cast<int>(truth.size()); ++i) {
            SCOPED_TRACE(i);
            EXPECT_LT(RelativeTurnError(align.poses, truth, i), 2.5);
            EXPECT_NEAR(align.poses[i].focal, 210.0, 210.0 * 0.03);
            if (extra) {
                EXPECT_LT(RelativeTurnError(align.poses, withoutIt, i), 0.01);
            }
        }
        withoutIt = align.poses;
        // The caller's edge list is left as it was given.
        EXPECT_EQ(align.edges.size(), scene.edges.size());
    }
}

// Matches no two cameras give (each point paired with a random one) on the
// only edge between two photos: that edge cannot be dropped, the fit leaves
// the matches whole photo widths apart, and the alignment says so; the same
// photos with true matches fit.
TEST(TiledFalseEdgeTest, AFitThatLeavesItsMatchesFarApartIsImplausible) {
    const std::vector<TiledImagePose> truth = {Pose(400, 0, 0, 0), Pose(400, 0, 30, 0)};
    const std::vector<OrvexBase::Size> sizes(2, OrvexBase::Size(640, 480));
    for (bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled ? "scrambled" : "true matches");
        Synthetic::Correspondences scene = Synthetic::MakeCorrespondences(truth, sizes, 32, 20, 0.3);
        ASSERT_EQ(scene.edges.size(), 1u);
        if (scrambled) {
            std::mt19937 random(3);
            std::uniform_real_distribution<double> x(0, 640), y(0, 480);
            for (AlignmentPoint& p : scene.keypoints[1])
                p = {x(random), y(random)};
        }
        CPoseAlignment align;
        Configure(align, sizes, scene);
        ASSERT_TRUE(align.AlignImages());
        EXPECT_EQ(align.placementOrder.size(), 2u);
        EXPECT_EQ(align.fitImplausible, scrambled);
    }
}

}  // namespace
