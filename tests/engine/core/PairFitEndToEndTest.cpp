// Detection, kd-tree, Hough clustering and the robust fit together on real
// photos, judged by the rule the graph builder accepts a pair with.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "DibManager.h"
#include "Features.h"
#include "Hough.h"
#include "ImplausibleTransform.h"
#include "KdTree.h"
#include "KeypointSet.h"
#include "MatchGraph.h"
#include "PanoElement.h"
#include "RobustFit.h"
#include "TestData.h"

using OrvexBase::RefPtr;

namespace {

class PairFitEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }

    static RefPtr<CPanoElement> Load(const std::string& relative) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        const std::string path = TestData::Photo(relative).string();
        EXPECT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << relative;
        return e;
    }

    struct PairFit {
        bool fitted = false;
        int clusterSize = 0;
        double h[9] = {};
        std::vector<int> inliers, outliers;
        double residual = 0.0;
        std::vector<std::int32_t> firstKeypoints, secondKeypoints;  // the cluster's pairs
    };

    // The graph builder's road for one pair (first = query, second =
    // reference): features, the second photo's tree, clusters, the first
    // cluster of the highest vote, and the weighted affine fit.
    static PairFit FitPair(CPanoElement* first, CPanoElement* second) {
        CKeypointSet a, b;
        DetectFeatures(first, a.keypoints, a.descriptors, 10.0, 0.02);
        DetectFeatures(second, b.keypoints, b.descriptors, 10.0, 0.02);
        EXPECT_GT(a.keypoints.size(), 50u);
        EXPECT_GT(b.keypoints.size(), 50u);
        a.BuildIndex(first->GetSize());
        b.BuildIndex(second->GetSize());

        KdTree* tree = BuildKdTree(b.descriptors.data(), static_cast<std::int32_t>(b.descriptors.size()));
        tree->visitLimit = 200;
        std::vector<std::int32_t> images;
        std::vector<std::vector<std::int32_t>> query, reference, scores;
        std::vector<double> votes;
        const bool matched =
            MatchKeypointSets(tree, b, a, a.descriptors, images, query, reference, scores, votes, 1.5, 0.8);
        DeleteKdTree(tree);
        PairFit out;
        EXPECT_TRUE(matched);
        if (votes.empty())
            return out;

        size_t best = 0;
        for (size_t c = 1; c < votes.size(); ++c)
            if (votes[c] > votes[best])
                best = c;
        std::vector<FitPoint> from, to;
        std::vector<double> weights;
        for (size_t k = 0; k < query[best].size(); ++k) {
            const Keypoint* p = a.keypoints[query[best][k]];
            const Keypoint* q = b.keypoints[reference[best][k]];
            weights.push_back(1.0 / (p->scale * p->scale));
            from.push_back({p->x, p->y});
            to.push_back({q->x, q->y});
        }
        out.clusterSize = static_cast<int>(from.size());
        out.firstKeypoints = query[best];
        out.secondKeypoints = reference[best];
        out.fitted =
            FitAffineRobust(from, to, weights, out.h, &out.inliers, &out.outliers, &out.residual, 0.75);
        return out;
    }

    // Accepted as the builder accepts an affine pair (tolerance 6).
    static void ExpectAccepted(const PairFit& fit, const OrvexBase::Size& sizeA,
                               const OrvexBase::Size& sizeB) {
        ASSERT_TRUE(fit.fitted);
        EXPECT_GT(double(fit.inliers.size()), 5.9 + 0.22 * fit.clusterSize)
            << fit.inliers.size() << " inliers of " << fit.clusterSize;
        EXPECT_LT(fit.residual, 6.0);
        double inverse[9];
        InvertMatrix3x3(inverse, fit.h);
        EXPECT_FALSE(IsImplausibleTransform(sizeA, sizeB, fit.h));
        EXPECT_FALSE(IsImplausibleTransform(sizeB, sizeA, inverse));
    }

    CDibManager manager;
};

// Two neighbours of a photographed row: a plausible pair transform, and an
// edge filled from it as the builder fills one.
TEST_F(PairFitEndToEnd, NeighbouringPhotosOfARow) {
    OVH_REQUIRE_PHOTOS();
    auto first = Load("boat-row/boat1.jpg");
    auto second = Load("boat-row/boat2.jpg");
    ASSERT_EQ(first->GetBpp(), 24);
    const PairFit fit = FitPair(first.Get(), second.Get());
    ExpectAccepted(fit, first->GetSize(), second->GetSize());

    match_graph::CGraph graph;
    graph.AddNode(0);
    graph.AddNode(1);
    match_graph::CEdge* edge = graph.AddEdge(0, 1);
    ASSERT_NE(edge, nullptr);
    edge->firstImage = 0;
    edge->secondImage = 1;
    std::copy(fit.h, fit.h + 9, edge->transform);
    edge->residual = fit.residual;
    edge->inlierCount = static_cast<int>(fit.inliers.size());
    edge->outlierCount = static_cast<int>(fit.outliers.size());
    for (int i : fit.inliers) {
        edge->inliers1.push_back(fit.firstKeypoints[i]);
        edge->inliers2.push_back(fit.secondKeypoints[i]);
    }
    EXPECT_EQ(edge->inlierCount + edge->outlierCount, fit.clusterSize);
    EXPECT_EQ(edge->inliers1.size(), edge->inliers2.size());
    EXPECT_EQ(graph.FindNode(0)->edges.size(), 1u);
    EXPECT_EQ(graph.FindNode(1)->edges.size(), 1u);
}

// Two overlapping crops of one photo: the truth is a pure shift, and the fit
// finds it to within a pixel at the crop's corners.
TEST_F(PairFitEndToEnd, OverlappingCropsOfOnePhoto) {
    OVH_REQUIRE_PHOTOS();
    auto photo = Load("weir-row-distractor/weir_1.jpg");
    ASSERT_GE(photo->GetWidth(), 700);
    ASSERT_GE(photo->GetHeight(), 450);
    RefPtr<CPanoElement> left(photo->ExtractRegion(false, OrvexBase::Rect(0, 0, 480, 400)));
    RefPtr<CPanoElement> right(photo->ExtractRegion(false, OrvexBase::Rect(220, 50, 700, 450)));
    ASSERT_TRUE(left && right);
    left->x = left->y = right->x = right->y = 0;
    const PairFit fit = FitPair(left.Get(), right.Get());
    ExpectAccepted(fit, left->GetSize(), right->GetSize());
    for (const auto& [x, y] : {std::pair{0.0, 0.0}, {480.0, 0.0}, {0.0, 400.0}, {480.0, 400.0}}) {
        EXPECT_NEAR(fit.h[0] * x + fit.h[1] * y + fit.h[2], x - 220.0, 1.0) << x << "," << y;
        EXPECT_NEAR(fit.h[3] * x + fit.h[4] * y + fit.h[5], y - 50.0, 1.0) << x << "," << y;
    }
}

}  // namespace
