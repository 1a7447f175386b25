#include <gtest/gtest.h>

#include "AnalysedPanorama.h"
#include "DibManager.h"
#include "Features.h"
#include "PairMatching.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"
#include "TestData.h"
#include "ThreadPool.h"

using match_graph::CEdge;
using match_graph::CGraph;
using OrvexBase::Rect;
using OrvexBase::RefPtr;

namespace {

class MatchGraphBuilderTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }
    CDibManager manager;
};

const CEdge* EdgeBetween(const CGraph& g, int a, int b) {
    for (const CEdge* e : g.Edges())
        if (e->firstImage == a && e->secondImage == b)
            return e;
    return nullptr;
}

}  // namespace

TEST_F(MatchGraphBuilderTest, NoneOrOnePhotoGivesNodesOnly) {
    AnalysedPanorama engine;
    EXPECT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
    EXPECT_TRUE(engine.matchGraph_.Nodes().empty());
    RefPtr<CPanoElement> grey(new CPanoElement(0));
    ASSERT_TRUE(grey->Create(24, 64, 64));
    engine.AddAnalysed(grey.Get());
    EXPECT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
    EXPECT_EQ(engine.matchGraph_.Nodes().size(), 1u);
    EXPECT_TRUE(engine.matchGraph_.Edges().empty());
}

TEST_F(MatchGraphBuilderTest, CropsAtKnownOffsetsAreFoundAndFeaturelessPhotosSkipped) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> photo = LoadPhoto("boat-row/boat3.jpg");
    ASSERT_TRUE(photo->IsValid());
    // Three crops shifted by (110, 20) each, and a flat photo without features.
    const int dx = 110, dy = 20;
    AnalysedPanorama engine;
    std::vector<RefPtr<CPanoElement>> crops;
    for (int k = 0; k < 3; ++k) {
        crops.emplace_back(photo->ExtractRegion(false, Rect(k * dx, k * dy, k * dx + 300, k * dy + 300)));
        ASSERT_NE(crops.back().Get(), nullptr);
        engine.AddAnalysed(crops.back().Get());
    }
    RefPtr<CPanoElement> flat(new CPanoElement(0));
    ASSERT_TRUE(flat->Create(24, 300, 300));
    flat->FillImageGrey();
    engine.AddAnalysed(flat.Get());
    ASSERT_TRUE(engine.keypointSets_[3]->keypoints.empty());

    TestDoubles::RecordingUserInterface ui;
    engine.Init(nullptr, nullptr, &ui);
    ASSERT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
    EXPECT_EQ(engine.matchGraph_.Nodes().size(), 4u);
    for (auto [a, b] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{0, 2}}) {
        const CEdge* e = EdgeBetween(engine.matchGraph_, a, b);
        ASSERT_NE(e, nullptr) << a << "-" << b;
        // Crop k starts at (k dx, k dy): a point of crop a lies (b - a) steps
        // further up and left in crop b.
        EXPECT_NEAR(e->transform[0], 1.0, 0.01);
        EXPECT_NEAR(e->transform[2], -(b - a) * dx, 1.0) << a << "-" << b;
        EXPECT_NEAR(e->transform[5], -(b - a) * dy, 1.0) << a << "-" << b;
        EXPECT_EQ(e->inliers1.size(), static_cast<std::size_t>(e->inlierCount));
        EXPECT_GT(e->inlierCount, 10);
    }
    for (const CEdge* e : engine.matchGraph_.Edges())
        EXPECT_NE(e->secondImage, 3);
    EXPECT_GT(ui.log.Count("RepaintNow"), 0);
}

TEST_F(MatchGraphBuilderTest, DistractorMatchesNothing) {
    OVH_REQUIRE_PHOTOS();
    AnalysedPanorama engine;
    std::vector<RefPtr<CPanoElement>> photos;
    for (const char* name : {"weir_1.jpg", "weir_noise.jpg", "weir_2.jpg", "weir_3.jpg"}) {
        RefPtr<CPanoElement> full = LoadPhoto(std::string("weir-row-distractor/") + name);
        RefPtr<PanoramaLib::IPanoElement> copy(engine.PrepareElement(full.Get()));
        ASSERT_NE(copy.Get(), nullptr);
        photos.emplace_back(static_cast<CPanoElement*>(copy.Detach()));
        engine.AddAnalysed(photos.back().Get());
    }
    ASSERT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
    for (const CEdge* e : engine.matchGraph_.Edges()) {
        EXPECT_NE(e->firstImage, 1);
        EXPECT_NE(e->secondImage, 1);
    }
    EXPECT_NE(EdgeBetween(engine.matchGraph_, 0, 2), nullptr);
    EXPECT_NE(EdgeBetween(engine.matchGraph_, 2, 3), nullptr);
}

TEST_F(MatchGraphBuilderTest, CancelAfterTheFirstRowKeepsItsEdges) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> photo = LoadPhoto("boat-row/boat2.jpg");
    AnalysedPanorama engine;
    std::vector<RefPtr<CPanoElement>> crops;
    for (int k = 0; k < 3; ++k) {
        crops.emplace_back(photo->ExtractRegion(false, Rect(k * 100, 0, k * 100 + 300, 300)));
        engine.AddAnalysed(crops.back().Get());
    }
    TestDoubles::RecordingProgress progress;
    progress.cancelAfter = 0;
    engine.SetProgressIndicator(&progress);
    EXPECT_FALSE(engine.BuildMatchGraph(&engine.matchGraph_));
    EXPECT_TRUE(engine.IsCancelled());
    EXPECT_EQ(engine.position_, 4);
    EXPECT_EQ(progress.progressCalls, 1);
    EXPECT_NE(EdgeBetween(engine.matchGraph_, 0, 1), nullptr);
    EXPECT_EQ(EdgeBetween(engine.matchGraph_, 1, 2), nullptr);
}

TEST_F(MatchGraphBuilderTest, OneThreadAndManyGiveTheSameGraph) {
    OVH_REQUIRE_PHOTOS();
    AnalysedPanorama engine;
    std::vector<RefPtr<CPanoElement>> photos;
    for (const char* name :
         {"small-01.jpg", "small-02.jpg", "small-03.jpg", "small-04.jpg", "small-05.jpg"}) {
        photos.push_back(LoadPhoto(std::string("apartment-ring/") + name));
        engine.AddAnalysed(photos.back().Get());
    }
    auto describe = [&] {
        std::vector<std::vector<double>> out;
        for (const CEdge* e : engine.matchGraph_.Edges()) {
            std::vector<double> v(e->transform, e->transform + 9);
            v.insert(v.end(), {double(e->firstImage), double(e->secondImage), e->residual,
                               double(e->inlierCount), double(e->outlierCount)});
            v.insert(v.end(), e->inliers1.begin(), e->inliers1.end());
            v.insert(v.end(), e->inliers2.begin(), e->inliers2.end());
            out.push_back(v);
        }
        return out;
    };
    Platform::ThreadPool one(1), many(8);
    std::vector<std::vector<double>> single, parallel;
    {
        Platform::ThreadPool::ScopedShared use(one);
        ASSERT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
        single = describe();
    }
    {
        Platform::ThreadPool::ScopedShared use(many);
        ASSERT_TRUE(engine.BuildMatchGraph(&engine.matchGraph_));
        parallel = describe();
    }
    EXPECT_GE(single.size(), 4u);
    EXPECT_EQ(single, parallel);
}

// Photo i (256 x 170) mapped into photo j by scale s and shift (tx, ty),
// with the fit's residual in photo j's pixels; the tolerance is 22.
TEST(PlanarNeighbourFitTest, ShrinkingFitsMeetTheToleranceInBothPhotosAndNoPhotoIsAPatchOfTheOther) {
    struct Case {
        const char* what;
        double s, tx, ty, residual;
        int wJ, hJ;
        bool accepted;
    } cases[] = {
        {"a neighbour to the right", 1.0, 180.0, -6.0, 3.0, 256, 170, true},
        {"the same photo twice", 1.0, 0.0, 0.0, 0.5, 256, 170, true},
        {"a neighbour of lower resolution, crossing the border", 0.55, 100.0, 20.0, 3.0, 150, 100, true},
        {"a third-size patch in the middle of j", 0.3, 90.0, 60.0, 3.0, 256, 170, false},
        {"j shrunk into the middle of i (the other order)", 1 / 0.3, -300.0, -200.0, 10.0, 256, 170, false},
        {"a shrinking fit whose residual is 20 of j's pixels, 40 of i's", 0.5, 200.0, 10.0, 20.0, 256, 170,
         false},
        {"an enlarging fit, residual 20 in j and 10 in i", 2.0, -400.0, -10.0, 20.0, 256, 170, true},
    };
    for (const Case& c : cases) {
        const double h[9] = {c.s, 0, c.tx, 0, c.s, c.ty, 0, 0, 1};
        EXPECT_EQ(
            IsPlanarNeighbourFit(c.residual, 22.0, OrvexBase::Size(256, 170), OrvexBase::Size(c.wJ, c.hJ), h),
            c.accepted)
            << c.what;
    }
}
