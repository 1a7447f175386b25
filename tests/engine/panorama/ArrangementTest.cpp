#include <gtest/gtest.h>

#include "DibManager.h"
#include "Panorama.h"

using match_graph::CEdge;
using match_graph::CGraph;
using OrvexBase::Rect;

namespace {

// Opens the engine's arrangement state to the tests.
class ArrangedPanorama : public CPanorama {
public:
    using CPanorama::ArrangePass;
    using CPanorama::copies_;
    using CPanorama::MakeArrangement;
    using CPanorama::matchGraph_;
    using CPanorama::photos_;
    using CPanorama::preview_;
    using CPanorama::scales_;

    // Photos of the given sizes, each its own analysis copy.
    void SetPhotos(const std::vector<std::pair<int, int>>& sizes) {
        for (auto [w, h] : sizes) {
            auto* e = new CPanoElement(0);
            EXPECT_TRUE(e->CreateImage(true, w, h, false));
            copies_.emplace_back(e);
            e->AddRef();
            photos_.emplace_back(e);
            scales_.push_back(1.0);
            matchGraph_.AddNode(static_cast<int>(copies_.size()) - 1);
        }
    }
};

CEdge* AddShift(CGraph& g, int a, int b, double tx, double ty, int inliers) {
    CEdge* e = g.AddEdge(a, b);
    EXPECT_NE(e, nullptr);
    e->firstImage = a;
    e->secondImage = b;
    const double t[9] = {1, 0, tx, 0, 1, ty, 0, 0, 1};
    std::copy(t, t + 9, e->transform);
    e->inlierCount = inliers;
    for (int i = 0; i < inliers; ++i) {
        e->inliers1.push_back(100 * a + i);
        e->inliers2.push_back(100 * b + i);
    }
    return e;
}

const CEdge* StarEdgeTo(const CGraph& g, int photo) {
    for (const CEdge* e : g.Edges())
        if (e->secondImage == photo)
            return e;
    return nullptr;
}

class ArrangementTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }
    CDibManager manager;
    ArrangedPanorama engine;
};

}  // namespace

TEST_F(ArrangementTest, BoundsAndPhotoTransforms) {
    engine.SetPhotos({{400, 300}, {400, 300}});
    // Photo 1 lies at (250.5, -10.2) in the reference's coordinates.
    AddShift(engine.matchGraph_, 0, 1, -250.5, 10.2, 12);
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, -1));
    const Rect bounds = engine.ArrangePass(engine.preview_);
    EXPECT_EQ(bounds, Rect(0, -11, 651, 300));
    // Each photo transform maps panorama pixels (from the bounds' corner) to the photo.
    const auto& t0 = engine.preview_.transforms[0];
    const auto& t1 = engine.preview_.transforms[1];
    EXPECT_DOUBLE_EQ(t0[2], 0);
    EXPECT_DOUBLE_EQ(t0[5], -11);  // panorama row 0 is reference row -11
    EXPECT_NEAR(t1[2], -250.5, 1e-9);
    EXPECT_NEAR(t1[5], -11 + 10.2, 1e-9);
    std::vector<std::int32_t> unmatched;
    EXPECT_EQ(engine.MakeArrangement().ListUnmatched(engine.preview_.group, unmatched), 0);
}

TEST_F(ArrangementTest, EdgeTowardsTheReferenceIsInverted) {
    engine.SetPhotos({{100, 100}, {100, 100}});
    AddShift(engine.matchGraph_, 1, 0, 30, 5, 8);
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, 0));
    ASSERT_EQ(engine.preview_.group.Edges().size(), 1u);
    const CEdge* e = engine.preview_.group.Edges()[0];
    EXPECT_EQ(e->firstImage, 0);
    EXPECT_EQ(e->secondImage, 1);
    EXPECT_DOUBLE_EQ(e->transform[2], -30);
    EXPECT_DOUBLE_EQ(e->transform[5], -5);
    EXPECT_EQ(e->inliers1.front(), 0);  // the reference's keypoints come first
    EXPECT_EQ(e->inliers2.front(), 100);
}

TEST_F(ArrangementTest, ChainIsCollapsedAroundTheBestConnectedPhoto) {
    engine.SetPhotos({{100, 80}, {100, 80}, {100, 80}});
    AddShift(engine.matchGraph_, 0, 1, -60, 0, 10);  // A -> B
    AddShift(engine.matchGraph_, 1, 2, -50, 3, 10);  // B -> C
    EXPECT_EQ(engine.MakeArrangement().FindReference(engine.matchGraph_), 1);

    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, -1));
    ASSERT_EQ(engine.preview_.group.Edges().size(), 2u);
    EXPECT_DOUBLE_EQ(StarEdgeTo(engine.preview_.group, 0)->transform[2], 60);
    EXPECT_DOUBLE_EQ(StarEdgeTo(engine.preview_.group, 2)->transform[2], -50);

    // Around A, C's transform is composed through B.
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, 0));
    ASSERT_EQ(engine.preview_.group.Edges().size(), 2u);
    const CEdge* toC = StarEdgeTo(engine.preview_.group, 2);
    ASSERT_NE(toC, nullptr);
    EXPECT_EQ(toC->firstImage, 0);
    EXPECT_DOUBLE_EQ(toC->transform[2], -110);
    EXPECT_DOUBLE_EQ(toC->transform[5], 3);
    EXPECT_EQ(engine.ArrangePass(engine.preview_), Rect(0, -3, 210, 80));
}

TEST_F(ArrangementTest, CyclesAndParallelEdgesGiveOneEdgePerPhoto) {
    engine.SetPhotos({{100, 80}, {100, 80}, {100, 80}, {100, 80}});
    AddShift(engine.matchGraph_, 0, 1, -60, 0, 10);
    AddShift(engine.matchGraph_, 1, 2, -50, 0, 9);
    AddShift(engine.matchGraph_, 0, 2, -110, 0, 7);  // closes a triangle
    AddShift(engine.matchGraph_, 2, 3, -40, 0, 6);
    AddShift(engine.matchGraph_, 2, 3, -41, 0, 5);  // parallel to the one before
    AddShift(engine.matchGraph_, 1, 0, 60, 0, 4);   // parallel, the other way round
    for (int reference : {-1, 0, 1, 2, 3}) {
        ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, reference))
            << reference;
        const auto& edges = engine.preview_.group.Edges();
        ASSERT_EQ(edges.size(), 3u) << reference;
        std::vector<int> seen;
        for (const CEdge* e : edges) {
            EXPECT_EQ(e->firstImage, engine.preview_.group.Nodes()[0]->imageIndex);
            EXPECT_NE(e->secondImage, e->firstImage);
            seen.push_back(e->secondImage);
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << reference;
        EXPECT_EQ(engine.preview_.group.Nodes().size(), 4u);
    }
}

TEST_F(ArrangementTest, UnmatchedPhotosAndLoneReference) {
    engine.SetPhotos({{100, 80}, {100, 80}, {100, 80}});
    AddShift(engine.matchGraph_, 0, 1, -60, 0, 10);
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, -1));
    std::vector<std::int32_t> unmatched;
    EXPECT_EQ(engine.MakeArrangement().ListUnmatched(engine.preview_.group, unmatched), 1);
    EXPECT_EQ(unmatched, std::vector<std::int32_t>{2});

    // The group of the lone photo 2: its own bounds, and every photo unmatched.
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, 2));
    EXPECT_TRUE(engine.preview_.group.Edges().empty());
    EXPECT_EQ(engine.ArrangePass(engine.preview_), Rect(0, 0, 100, 80));
    EXPECT_EQ(engine.MakeArrangement().ListUnmatched(engine.preview_.group, unmatched), 3);

    // No edges at all: no reference, no star.
    CGraph empty;
    EXPECT_EQ(engine.MakeArrangement().FindReference(empty), -1);
    EXPECT_FALSE(engine.MakeArrangement().BuildStar(engine.preview_.group, empty, -1));
    engine.preview_.group.Clear();
    EXPECT_EQ(engine.ArrangePass(engine.preview_), Rect());
}

TEST_F(ArrangementTest, SingularTransformsGiveEmptyBounds) {
    engine.SetPhotos({{100, 80}, {100, 80}});
    CEdge* e = AddShift(engine.matchGraph_, 0, 1, 0, 0, 10);
    e->transform[0] = 0;  // collapses the x axis: no inverse
    ASSERT_TRUE(engine.MakeArrangement().BuildStar(engine.preview_.group, engine.matchGraph_, 0));
    EXPECT_TRUE(engine.ArrangePass(engine.preview_).IsEmpty());
}

TEST_F(ArrangementTest, RescalePairTransformsToFullSize) {
    engine.SetPhotos({{100, 80}, {100, 80}});
    engine.scales_ = {2.0, 8.0};
    CEdge* e = AddShift(engine.matchGraph_, 0, 1, 3, 5, 10);
    e->transform[1] = 0.5;
    e->transform[6] = 0.25;
    ASSERT_EQ(engine.matchGraph_.Edges().size(), 1u);
    CArrangement::RescalePairTransforms(engine.matchGraph_, engine.scales_);
    EXPECT_DOUBLE_EQ(e->transform[0], 4);
    EXPECT_DOUBLE_EQ(e->transform[1], 2);
    EXPECT_DOUBLE_EQ(e->transform[2], 24);
    EXPECT_DOUBLE_EQ(e->transform[4], 4);
    EXPECT_DOUBLE_EQ(e->transform[5], 40);
    EXPECT_DOUBLE_EQ(e->transform[6], 0.25);  // third row untouched
}
