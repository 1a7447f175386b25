#include <gtest/gtest.h>

#include <cmath>

#include "AnalysedPanorama.h"
#include "DibManager.h"
#include "Features.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"
#include "TestData.h"

using match_graph::CEdge;
using match_graph::CGraph;
using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IManualMatcher;
using PanoramaLib::IPanoElement;

namespace {

std::vector<const CEdge*> EdgesBetween(const CGraph& g, int a, int b) {
    std::vector<const CEdge*> out;
    for (const CEdge* e : g.Edges())
        if (e->firstImage == a && e->secondImage == b)
            out.push_back(e);
    return out;
}

// What one prompt saw before the user answered.
struct Prompt {
    int first[6];
    int second[6];
    double seed[9];
    int model;
};

// A user who moves the second photo's markers to the first photo's markers
// times scale, shifted by (dx, dy), under the scale-and-shift model, and
// says OK.
struct ShiftingUser {
    ShiftingUser(int x, int y) : dx(x), dy(y) {}
    int dx = 0, dy = 0;
    int scale = 1;
    int answer = 0;
    int abortAt = -1;  // the prompt (counted from 0) answered with 1
    std::vector<Prompt> prompts;

    int operator()(IPanoElement*, IPanoElement*, IManualMatcher* m) {
        Prompt p;
        m->GetMarkers(false, p.first);
        m->GetMarkers(true, p.second);
        m->GetTransform(p.seed);
        p.model = m->GetMotionModel();
        prompts.push_back(p);
        if (static_cast<int>(prompts.size()) - 1 == abortAt)
            return 1;
        m->SetMotionModel(2);
        for (int k = 0; k < 3; ++k) {
            const int point[2] = {scale * p.first[2 * k] + dx, scale * p.first[2 * k + 1] + dy};
            m->SetMarker(true, point, k);
        }
        return answer;
    }
};

void ExpectUserEdge(const CEdge* e, double tx, double ty) {
    ASSERT_NE(e, nullptr);
    EXPECT_NEAR(e->transform[0], 1.0, 1e-6);
    EXPECT_NEAR(e->transform[4], 1.0, 1e-6);
    EXPECT_NEAR(e->transform[2], tx, 1e-6);
    EXPECT_NEAR(e->transform[5], ty, 1e-6);
    EXPECT_EQ(e->residual, 0.0);
    EXPECT_EQ(e->inlierCount, 0);
    EXPECT_EQ(e->outlierCount, 0);
    EXPECT_TRUE(e->inliers1.empty());
    EXPECT_TRUE(e->inliers2.empty());
    EXPECT_TRUE(e->outliers1.empty());
}

class ManualMatchingTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }

    // Three 300 x 300 crops of one photo, each 110 px right of the one before.
    void AddCrops(AnalysedPanorama& engine, int count = 3) {
        source = LoadPhoto("boat-row/boat3.jpg");
        for (int k = 0; k < count; ++k) {
            crops.emplace_back(source->ExtractRegion(false, Rect(k * 110, 0, k * 110 + 300, 300)));
            ASSERT_NE(crops.back().Get(), nullptr);
            engine.AddAnalysed(crops.back().Get());
        }
    }
    // A photo without any feature.
    void AddFlat(AnalysedPanorama& engine) {
        crops.emplace_back(new CPanoElement(0));
        ASSERT_TRUE(crops.back()->Create(24, 200, 300));
        crops.back()->FillImageGrey();
        engine.AddAnalysed(crops.back().Get());
    }

    CDibManager manager;
    RefPtr<CPanoElement> source;
    std::vector<RefPtr<CPanoElement>> crops;
    TestDoubles::RecordingUserInterface ui;
};

}  // namespace

TEST_F(ManualMatchingTest, ChainMatchedAutomaticallyOrConfirmedPairByPair) {
    OVH_REQUIRE_PHOTOS();
    for (bool all : {false, true}) {
        SCOPED_TRACE(all ? "every pair by hand" : "prompt only when needed");
        AnalysedPanorama engine;
        AddCrops(engine);
        ShiftingUser user{-107, 2};
        ui.onMatchManually = std::ref(user);
        engine.Init(nullptr, nullptr, &ui);
        engine.transformsMode_ = true;
        engine.withTransforms_ = all;
        ASSERT_TRUE(engine.BuildMatchGraphManually(&engine.matchGraph_));
        // A chain: no pair joins photo 0 and photo 2.
        EXPECT_TRUE(EdgesBetween(engine.matchGraph_, 0, 2).empty());
        for (int i = 0; i < 2; ++i) {
            const auto edges = EdgesBetween(engine.matchGraph_, i, i + 1);
            ASSERT_EQ(edges.size(), 1u) << i;
            if (all) {
                ExpectUserEdge(edges[0], -107, 2);
            } else {
                EXPECT_NEAR(edges[0]->transform[2], -110, 1.0);
                EXPECT_GT(edges[0]->inlierCount, 10);
            }
        }
        ASSERT_EQ(user.prompts.size(), all ? 2u : 0u);
        for (const Prompt& p : user.prompts) {
            // Seeded from the automatic match: its shift, and markers on
            // keypoints of the overlap, their partners mapped through it.
            EXPECT_NEAR(p.seed[2], -110, 1.0);
            EXPECT_EQ(p.model, 2);
            for (int k = 0; k < 3; ++k) {
                EXPECT_GE(p.first[2 * k], 110 - 2);
                EXPECT_NEAR(p.second[2 * k], p.first[2 * k] - 110, 2);
            }
        }
        EXPECT_EQ(ui.log.Count("MatchManually"), all ? 2 : 0);
        ui.log.Clear();
    }
}

TEST_F(ManualMatchingTest, UnmatchedPairsArePromptedWithDefaultMarkers) {
    OVH_REQUIRE_PHOTOS();
    AnalysedPanorama engine;
    AddCrops(engine, 2);
    AddFlat(engine);  // photo 2: no keypoints, so pair (1, 2) cannot match
    ShiftingUser user{-250, 0};
    ui.onMatchManually = std::ref(user);
    engine.Init(nullptr, nullptr, &ui);
    engine.transformsMode_ = true;
    ASSERT_TRUE(engine.BuildMatchGraphManually(&engine.matchGraph_));
    ASSERT_EQ(user.prompts.size(), 1u);
    // The default markers: near the right edge of 300 x 300, the left of 200 x 300.
    const int first[6] = {262, 225, 262, 150, 262, 75};
    const int second[6] = {25, 225, 25, 150, 25, 75};
    EXPECT_TRUE(std::equal(first, first + 6, user.prompts[0].first));
    EXPECT_TRUE(std::equal(second, second + 6, user.prompts[0].second));
    ExpectUserEdge(EdgesBetween(engine.matchGraph_, 1, 2).at(0), -250, 0);
    EXPECT_EQ(EdgesBetween(engine.matchGraph_, 0, 1).size(), 1u);
}

TEST_F(ManualMatchingTest, RefusalsEndTheMatching) {
    OVH_REQUIRE_PHOTOS();
    struct Case {
        const char* name;
        bool withUi;
        int abortAt;
        bool wildAnswer;
    };
    for (const Case& c :
         {Case{"abort at the second prompt", true, 1, false}, Case{"no one to ask", false, -1, false},
          Case{"an unusable transform", true, -1, true}}) {
        SCOPED_TRACE(c.name);
        AnalysedPanorama engine;
        AddCrops(engine);
        ShiftingUser user{-110, 0};
        user.abortAt = c.abortAt;
        if (c.wildAnswer)
            user.scale = 10;  // one photo ten times the other's size: implausible
        ui.onMatchManually = std::ref(user);
        engine.Init(nullptr, nullptr, c.withUi ? &ui : nullptr);
        engine.transformsMode_ = true;
        engine.withTransforms_ = true;
        EXPECT_FALSE(engine.BuildMatchGraphManually(&engine.matchGraph_));
        if (c.abortAt == 1) {
            // The first pair's edge stays.
            ExpectUserEdge(EdgesBetween(engine.matchGraph_, 0, 1).at(0), -110, 0);
            EXPECT_EQ(user.prompts.size(), 2u);
        }
        for (const CEdge* e : engine.matchGraph_.Edges())
            for (double v : e->transform)
                EXPECT_TRUE(std::isfinite(v));
        if (c.wildAnswer) {
            // Nothing of the wild answer was stored.
            for (const CEdge* e : engine.matchGraph_.Edges())
                EXPECT_GT(e->inlierCount, 0);
        }
    }
}

TEST_F(ManualMatchingTest, OnePhotoAndAddToMatchGraph) {
    OVH_REQUIRE_PHOTOS();
    {
        AnalysedPanorama engine;
        AddCrops(engine, 1);
        engine.Init(nullptr, nullptr, &ui);
        engine.transformsMode_ = true;
        engine.withTransforms_ = true;
        EXPECT_TRUE(engine.BuildMatchGraphManually(&engine.matchGraph_));
        EXPECT_EQ(engine.matchGraph_.Nodes().size(), 1u);
        EXPECT_EQ(ui.log.Count("MatchManually"), 0);
    }
    AnalysedPanorama engine;
    AddCrops(engine, 2);
    AddFlat(engine);
    ShiftingUser user{-250, 0};
    ui.onMatchManually = std::ref(user);
    engine.Init(nullptr, nullptr, &ui);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(engine.matchGraph_.AddNode(i));

    // Not interactive: a pair without a match adds nothing and is no failure;
    // a pair that matches gets one edge from first to second.
    EXPECT_TRUE(engine.AddToMatchGraph(&engine.matchGraph_, 0, 2));
    EXPECT_TRUE(engine.matchGraph_.Edges().empty());
    EXPECT_TRUE(engine.AddToMatchGraph(&engine.matchGraph_, 0, 1));
    const auto edges = EdgesBetween(engine.matchGraph_, 1, 0);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_NEAR(edges[0]->transform[2], 110, 1.0);
    EXPECT_TRUE(user.prompts.empty());

    // Interactive: the user joins the unmatched pair.
    engine.transformsMode_ = true;
    EXPECT_TRUE(engine.AddToMatchGraph(&engine.matchGraph_, 1, 2));
    ASSERT_EQ(user.prompts.size(), 1u);
    ExpectUserEdge(EdgesBetween(engine.matchGraph_, 2, 1).at(0), -250, 0);
    user.abortAt = 1;
    EXPECT_FALSE(engine.AddToMatchGraph(&engine.matchGraph_, 0, 2));
}

TEST_F(ManualMatchingTest, SeedMarkersAreWellFittingAndWellSpread) {
    // Six inliers of a pure shift (+10, 0); the partners' errors are known.
    CKeypointSet first, second;
    struct Pair {
        double x, y, error;
    };
    const Pair pairs[] = {{20, 20, 3}, {50, 50, 0.5}, {100, 20, 1}, {20, 90, 2}, {95, 95, 4}, {55, 60, 1}};
    CEdge edge;
    const double shift[9] = {1, 0, 10, 0, 1, 0, 0, 0, 1};
    std::copy(shift, shift + 9, edge.transform);
    for (const Pair& p : pairs) {
        first.keypoints.push_back(new Keypoint{p.x, p.y});
        second.keypoints.push_back(new Keypoint{p.x + 10 + p.error, p.y});
        edge.inliers1.push_back(static_cast<int>(first.keypoints.size()) - 1);
        edge.inliers2.push_back(static_cast<int>(second.keypoints.size()) - 1);
    }
    edge.inlierCount = 6;
    int markers[6];
    CPanorama::ChooseSeedMarkers(edge, first, second, markers);
    // Point 1 fits best: (50, 50). R = 50^2 + 45^2 = 4525, dmax = 16.
    // Point 2: (100, 20) scores 0.8 * 15/16 + 0.2 * 3400/4525 = 0.900, ahead
    // of (55, 60) at 0.756 and (20, 90) at 0.711.
    // Point 3 adds 0.1 * (distance to 1 + distance to 2): (20, 90) gives
    // 0.6 + 0.1 * (2500 + 11300) / 4525 = 0.905, ahead of (55, 60) at 0.833.
    const int expected[6] = {50, 50, 100, 20, 20, 90};
    EXPECT_TRUE(std::equal(expected, expected + 6, markers))
        << markers[0] << "," << markers[1] << " " << markers[2] << "," << markers[3] << " " << markers[4]
        << "," << markers[5];

    // Every inlier on one point: no spread, and still finite markers.
    CKeypointSet a, b;
    CEdge same;
    std::copy(shift, shift + 9, same.transform);
    for (int k = 0; k < 6; ++k) {
        a.keypoints.push_back(new Keypoint{33.7, 44.2});
        b.keypoints.push_back(new Keypoint{43.7 + k, 44.2});
        same.inliers1.push_back(k);
        same.inliers2.push_back(k);
    }
    same.inlierCount = 6;
    CPanorama::ChooseSeedMarkers(same, a, b, markers);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(markers[2 * k], 33);
        EXPECT_EQ(markers[2 * k + 1], 44);
    }
}

namespace {

class PromptedBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        engine = new AnalysedPanorama();
        engine->Init(nullptr, nullptr, &ui);
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        engine->Release();
        g_pDibManager = nullptr;
    }
    void SetOptions(bool is360) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = 0;
        o.autoCrop = 0;
        o.is360 = is360 ? 1 : 0;
        engine->SetOptions(&o);
    }
    // A 300 x 300 crop of a boat photo and a 300 x 280 crop of a weir: no
    // automatic match between them.
    void MakePhotos() {
        const std::pair<const char*, Rect> sources[] = {
            {"boat-row/boat3.jpg", Rect(0, 0, 300, 300)},
            {"weir-row-distractor/weir_1.jpg", Rect(0, 0, 300, 280)}};
        for (const auto& [name, rect] : sources) {
            RefPtr<CPanoElement> full = LoadPhoto(name);
            RefPtr<CPanoElement> crop(full->ExtractRegion(false, rect));
            ASSERT_NE(crop.Get(), nullptr);
            const std::string path = dir / (std::to_string(photos.size()) + ".png");
            ASSERT_TRUE(crop->Save(std::wstring(path.begin(), path.end())));
            IPanoElement* photo = CreatePanoElement(0);
            ASSERT_TRUE(photo->Load(std::wstring(path.begin(), path.end())));
            photos.push_back(photo);
        }
    }

    CDibManager manager;
    AnalysedPanorama* engine = nullptr;
    TestDoubles::RecordingUserInterface ui;
    std::vector<IPanoElement*> photos;
    TestData::ScratchDir dir;
};

}  // namespace

TEST_F(PromptedBuildTest, UnmatchedPairJoinedByTheUserOrRefused) {
    OVH_REQUIRE_PHOTOS();
    MakePhotos();
    for (bool is360 : {false, true}) {
        SCOPED_TRACE(is360 ? "360 option on" : "360 option off");
        SetOptions(is360);
        // The weir's origin lies at (250, 10) in the boat crop.
        ShiftingUser user{-250, -10};
        ui.onMatchManually = std::ref(user);
        ASSERT_TRUE(engine->BuildWithTransforms(photos, nullptr, false));
        const BuildReport* report = engine->GetBuildReport();
        EXPECT_EQ(report->status, 1);  // never 4 or 5 from this build
        EXPECT_EQ(report->withTransforms, 1);
        EXPECT_TRUE(report->unmatched.empty());
        EXPECT_EQ(user.prompts.size(), 1u);
        IPanoElement* preview = engine->GetResult(false);
        ASSERT_TRUE(preview->IsValid());
        EXPECT_NEAR(preview->GetWidth(), 550, 2);  // whole pixels around the solved shift
        EXPECT_NEAR(preview->GetHeight(), 300, 2);

        // A refusal ends the build: status 2, the analyses kept.
        user.prompts.clear();
        user.abortAt = 0;
        EXPECT_FALSE(engine->BuildWithTransforms(photos, nullptr, false));
        EXPECT_EQ(report->status, 2);
        EXPECT_EQ(engine->copies_.size(), 2u);
        EXPECT_FALSE(engine->GetResult(false)->IsValid());
    }
}
