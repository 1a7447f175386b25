#include <gtest/gtest.h>

#include <cmath>

#include "DibManager.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"
#include "TestData.h"

using match_graph::CEdge;
using match_graph::CGraph;
using OrvexBase::Rect;

namespace {

class RingPanorama : public CPanorama {
public:
    using CPanorama::ArrangePass;
    using CPanorama::bounds_;
    using CPanorama::copies_;
    using CPanorama::is360_;
    using CPanorama::keypointSets_;
    using CPanorama::matchGraph_;
    using CPanorama::photos_;
    using CPanorama::preview_;
    using CPanorama::ring_;
    using CPanorama::scales_;
    using CPanorama::workPhotos_;

    // Photos of one size, each its own analysis copy, with empty keypoint sets.
    void SetPhotos(int count, int w, int h) {
        for (int i = 0; i < count; ++i) {
            auto* e = new CPanoElement(0);
            EXPECT_TRUE(e->CreateImage(true, w, h, false));
            copies_.emplace_back(e);
            for (auto* list : {&photos_, &workPhotos_}) {
                e->AddRef();
                list->emplace_back(e);
            }
            scales_.push_back(1.0);
            keypointSets_.push_back(std::make_unique<CKeypointSet>());
            matchGraph_.AddNode(i);
        }
    }
    // A star edge from photo 0: the photo's origin lies at (x, y) in the
    // reference, drawn at 1 / scale.
    CEdge* Place(int photo, double x, double y, double scale = 1.0) {
        if (!preview_.group.FindNode(0))
            preview_.group.AddNode(0);
        preview_.group.AddNode(photo);
        CEdge* e = preview_.group.AddEdge(0, photo);
        e->firstImage = 0;
        e->secondImage = photo;
        const double t[9] = {scale, 0, -scale * x, 0, scale, -scale * y, 0, 0, 1};
        std::copy(t, t + 9, e->transform);
        return e;
    }
};

class RingTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        engine.is360_ = 1;
        // A strip of 100 x 80 photos around reference 0.
        engine.SetPhotos(4, 100, 80);
        engine.Place(1, -80, 0);
        engine.Place(2, 80, 0);
        engine.Place(3, 160, 0);
    }
    void TearDown() override { g_pDibManager = nullptr; }

    // Photo 4 repeats photo 3 with its centre at (cx, cy).
    CEdge* AddDuplicate(double cx, double cy, double scale = 1.0) {
        EXPECT_EQ(engine.DuplicateRingElement(3), 4);
        engine.ring_.duplicate = 4;
        engine.ring_.farEnd = 3;
        return engine.Place(4, cx - 50 / scale, cy - 40 / scale, scale);
    }

    CDibManager manager;
    RingPanorama engine;
};

}  // namespace

TEST_F(RingTest, EndsOfTheStripAndTheDuplicate) {
    int start = -2, end = -2;
    CRingClosure::FindEnds(engine.preview_, true, start, end);
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 3);
    CRingClosure::FindEnds(engine.preview_, false, start, end);  // nothing sticks out vertically
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0);

    // The duplicate shares the photo, the copy and the keypoints (as a view).
    engine.keypointSets_[3]->keypoints.push_back(new Keypoint{1, 2});
    ASSERT_EQ(engine.DuplicateRingElement(3), 4);
    EXPECT_EQ(engine.copies_[4].Get(), engine.copies_[3].Get());
    EXPECT_EQ(engine.photos_[4].Get(), engine.photos_[3].Get());
    EXPECT_EQ(engine.scales_.size(), 5u);
    EXPECT_TRUE(engine.keypointSets_[4]->view);
    EXPECT_EQ(engine.keypointSets_[4]->keypoints, engine.keypointSets_[3]->keypoints);
    EXPECT_EQ(engine.DuplicateRingElement(9), -1);
}

TEST_F(RingTest, ForwardRingIsLevelledAndCutToOneTurn) {
    // The duplicate lands before the start, 8 px lower than the end photo.
    AddDuplicate(-190, 48);
    EXPECT_TRUE(engine.ring_.IsForward(engine.preview_));
    CPanorama::Matrix rotation;
    ASSERT_TRUE(engine.ring_.ComputeRotation(engine.preview_, rotation));
    const double a = std::atan(-8.0 / 400.0);
    EXPECT_NEAR(rotation[0], std::cos(a), 1e-12);
    EXPECT_NEAR(rotation[1], -std::sin(a), 1e-12);
    EXPECT_NEAR(rotation[3], std::sin(a), 1e-12);
    CRingClosure::ApplyRotation(engine.preview_, rotation);

    double dupX, dupY, endX, endY;
    ASSERT_TRUE(engine.ring_.Centres(engine.preview_, dupX, dupY, endX, endY));
    EXPECT_NEAR(dupY, endY, 1e-9);  // level
    EXPECT_NEAR(endX - dupX, std::hypot(400.0, 8.0), 1e-9);
    const Rect bounds = engine.ArrangePass(engine.preview_);
    EXPECT_FALSE(engine.ring_.notCut);
    EXPECT_EQ(bounds.left, static_cast<int>(std::floor(dupX)));
    EXPECT_EQ(bounds.right, static_cast<int>(std::ceil(endX)));
    // The reference turns with the rest.
    EXPECT_EQ(engine.preview_.ringTransform, rotation);
}

TEST_F(RingTest, DuplicateBeyondTheEndIsNotCut) {
    AddDuplicate(300, 40);
    EXPECT_FALSE(engine.ring_.IsForward(engine.preview_));
    CPanorama::Matrix rotation;
    ASSERT_TRUE(engine.ring_.ComputeRotation(engine.preview_, rotation));
    EXPECT_EQ(rotation, (CPanorama::Matrix{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    const Rect bounds = engine.ArrangePass(engine.preview_);
    EXPECT_TRUE(engine.ring_.notCut);
    EXPECT_EQ(bounds, Rect(-80, 0, 350, 80));
}

TEST_F(RingTest, CoincidentCentresGiveNoTurn) {
    AddDuplicate(210, 40);  // exactly on the end photo
    CPanorama::Matrix rotation;
    ASSERT_TRUE(engine.ring_.ComputeRotation(engine.preview_, rotation));
    EXPECT_EQ(rotation, (CPanorama::Matrix{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    CRingClosure::ApplyRotation(engine.preview_, rotation);
    for (const CEdge* e : engine.preview_.group.Edges())
        for (double v : e->transform)
            EXPECT_TRUE(std::isfinite(v));
}

TEST_F(RingTest, BothCopiesAtOneScaleWhereTheyWere) {
    // The end photo drawn at 1 / 1.2 of its size; the duplicate at full size.
    engine.preview_.group.RemoveNode(3);
    engine.Place(3, 210 - 50 / 1.2, 40 - 40 / 1.2, 1.2);
    AddDuplicate(-190, 40);
    double before[4];
    ASSERT_TRUE(engine.ring_.Centres(engine.preview_, before[0], before[1], before[2], before[3]));
    engine.ring_.EqualizeScale(engine.preview_);
    for (const CEdge* e : engine.preview_.group.Edges()) {
        if (e->secondImage != 3 && e->secondImage != 4)
            continue;
        EXPECT_NEAR(e->transform[0], 1.1, 1e-12);
        EXPECT_NEAR(e->transform[4], 1.1, 1e-12);
    }
    double after[4];
    ASSERT_TRUE(engine.ring_.Centres(engine.preview_, after[0], after[1], after[2], after[3]));
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(after[k], before[k], 1e-9) << k;
}

TEST_F(RingTest, AFarEndAtPhotoOneIsClosedToo) {
    // Photo 1 sticks out furthest right, photo 2 left: the far end is 1, and
    // it is repeated before the start like any other far end.
    engine.preview_.group.Clear();
    engine.Place(1, 170, 0);
    engine.Place(2, -80, 0);
    Rect bounds = engine.ArrangePass(engine.preview_);
    engine.CloseRing(bounds);  // the synthetic photos have nothing to match
    EXPECT_EQ(engine.ring_.farEnd, 1);
    EXPECT_EQ(engine.ring_.duplicate, 4);
    EXPECT_EQ(engine.copies_.size(), 5u);
}

namespace {

class RingBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        engine = new RingPanorama();
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.is360 = 1;
        o.autoCrop = 0;
        engine->SetOptions(&o);
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        engine->Release();
        g_pDibManager = nullptr;
    }
    // The first count photos of the ring, or all of them in the opposite order.
    void Load(int count, bool reversed = false) {
        for (int i = 1; i <= count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "apartment-ring/small-%02d.jpg", reversed ? count + 1 - i : i);
            PanoramaLib::IPanoElement* e = CreatePanoElement(0);
            const std::string path = TestData::Photo(name).string();
            ASSERT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << name;
            photos.push_back(e);
        }
    }

    CDibManager manager;
    RingPanorama* engine = nullptr;
    std::vector<PanoramaLib::IPanoElement*> photos;
};

}  // namespace

TEST_F(RingBuildTest, ApartmentRingCloses) {
    OVH_REQUIRE_PHOTOS();
    Load(12);
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    // The repeated photo counts as one more in the progress total, and the
    // bar never runs past it.
    for (const std::string& line : progress.log.Lines()) {
        int total, position;
        if (std::sscanf(line.c_str(), "SetProgress %d %d", &total, &position) == 2) {
            EXPECT_EQ(total, 6 * 13 + 11 * 13 - 2);
            EXPECT_LE(position, total);
        }
    }
    const BuildReport* report = engine->GetBuildReport();
    EXPECT_EQ(report->status, 1);
    EXPECT_TRUE(report->unmatched.empty());  // the repeated photo is not the caller's
    ASSERT_EQ(engine->ring_.duplicate, 12);
    ASSERT_GE(engine->ring_.farEnd, 0);
    EXPECT_EQ(engine->preview_.group.Nodes().size(), 13u);

    // Cut from the duplicate's centre to the end photo's, and level.
    double dupX, dupY, endX, endY;
    ASSERT_TRUE(engine->ring_.Centres(engine->preview_, dupX, dupY, endX, endY));
    EXPECT_NEAR(dupY, endY, 1.0);
    EXPECT_FALSE(engine->ring_.notCut);
    EXPECT_EQ(engine->bounds_.left, static_cast<int>(std::floor(dupX)));
    EXPECT_EQ(engine->bounds_.right, static_cast<int>(std::ceil(endX)));
    EXPECT_EQ(engine->GetResult(false)->GetWidth(), engine->bounds_.Width());

    ASSERT_TRUE(engine->Render());
    EXPECT_TRUE(engine->GetFullResult()->IsValid());
    EXPECT_GT(engine->GetFullResult()->GetWidth(), engine->GetFullResult()->GetHeight() * 5);
}

TEST_F(RingBuildTest, HalfARingDoesNotClose) {
    OVH_REQUIRE_PHOTOS();
    Load(6);
    EXPECT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 4);
    EXPECT_TRUE(engine->GetBuildReport()->unmatched.empty());
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
}

TEST_F(RingBuildTest, ARingShotTheOtherWayCloses) {
    OVH_REQUIRE_PHOTOS();
    // Panning the other way, the strip's far end is the second photo.
    Load(12, true);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 1);
    ASSERT_EQ(engine->ring_.duplicate, 12);
    EXPECT_EQ(engine->ring_.farEnd, 1);
    EXPECT_FALSE(engine->ring_.notCut);
    double dupX, dupY, endX, endY;
    ASSERT_TRUE(engine->ring_.Centres(engine->preview_, dupX, dupY, endX, endY));
    EXPECT_NEAR(dupY, endY, 1.0);
    // One turn, as wide as the ring in its own order.
    EXPECT_NEAR(engine->bounds_.Width(), 3151, 40);
}
