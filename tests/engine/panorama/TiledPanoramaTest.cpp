// The tiled engine's options, factory and build: analysis, its own match
// graph, alignment and first render, rebuilds that reuse what they can, and
// the ways a build fails.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "CountingDibManager.h"
#include "LensModel.h"
#include "ScopeExit.h"
#include "TestData.h"
#include "TiledEngineFixture.h"

using TiledTest::Engine;

namespace {

// Cancels the first progress step at or past a position.
class CancelAtPosition : public TestDoubles::RecordingProgress {
public:
    explicit CancelAtPosition(int position) : at(position) {}
    bool SetProgress(int total, int position) override {
        RecordingProgress::SetProgress(total, position);
        return position >= at;
    }
    int at;
};

class TiledBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
        engine = new Engine();
        engine->Init(&threads, &cursor, &ui);
    }
    void TearDown() override {
        engine->Release();
        ReleaseElementVector(photos);
        g_pDibManager = previous;
        g_nLensModel = 1;
    }
    void Load(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            const std::string path = TestData::Photo(name).string();
            PanoramaLib::IPanoElement* e = CreatePanoElement(0);
            ASSERT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << name;
            photos.push_back(e);
        }
    }
    static std::vector<std::string> Ring(int from, int to) {
        std::vector<std::string> names;
        for (int i = from; i <= to; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "apartment-ring/small-%02d.jpg", i);
            names.push_back(name);
        }
        return names;
    }
    void SetLens(bool on) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = on ? 1 : 0;
        engine->SetOptions(&o);
    }

    TestDoubles::CountingDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    CFreeThreading threads;
    TiledTest::PostQueue ui;
    TestDoubles::RecordingWaitCursor cursor;
    Engine* engine = nullptr;
    std::vector<PanoramaLib::IPanoElement*> photos;
};

TEST(TiledOptionsTest, ANewEngineHasItsDefaultsAndKeepsTheFiveFieldsItUses) {
    CDibManager manager;
    EXPECT_EQ(CreateTiledPanorama(nullptr), nullptr);
    EXPECT_EQ(g_pDibManager, nullptr);
    PanoramaLib::ITiledPanorama* engine = CreateTiledPanorama(&manager);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(g_pDibManager, &manager);

    HVPanoramaOptions o;
    o.ratioMode = 9;
    o.motionModel = 9;
    o.is360 = 1;
    engine->GetOptions(&o);
    EXPECT_EQ(o.autoCrop, 1);
    EXPECT_EQ(o.lensCompensation, 1);
    EXPECT_EQ(o.optimiseAtEnd, 1);
    EXPECT_EQ(o.lensModel, 1);
    EXPECT_EQ(o.surfaceKind, 0);
    EXPECT_EQ(o.ratioMode, 0);
    EXPECT_EQ(o.motionModel, 0);
    EXPECT_EQ(o.is360, 0);
    EXPECT_EQ(o.lensPresetId, 0);

    HVPanoramaOptions set;
    set.autoCrop = 0;
    set.lensCompensation = 0;
    set.optimiseAtEnd = 0;
    set.lensModel = 2;
    set.surfaceKind = 1;
    set.motionModel = 1;
    engine->SetOptions(&set);
    EXPECT_EQ(g_nLensModel.load(), 2);
    HVPanoramaOptions back;
    engine->GetOptions(&back);
    EXPECT_EQ(back.autoCrop, 0);
    EXPECT_EQ(back.lensCompensation, 0);
    EXPECT_EQ(back.optimiseAtEnd, 0);
    EXPECT_EQ(back.lensModel, 2);
    EXPECT_EQ(back.surfaceKind, 1);
    EXPECT_EQ(back.motionModel, 0);
    // SetCropRect turns cropping on for the full-size render.
    engine->SetCropRect(OrvexBase::Rect(0, 0, 10, 10));
    engine->GetOptions(&back);
    EXPECT_EQ(back.autoCrop, 1);
    engine->Release();
    g_nLensModel = 1;
    // The manager dies with this test: later tests in the same run must not
    // make their images through it.
    g_pDibManager = nullptr;
}

TEST_F(TiledBuildTest, ABuildPlacesEveryPhotoWithEdgesInFullSizePixels) {
    OVH_REQUIRE_PHOTOS();
    // 1333 pixels wide: analysed on copies a quarter that size.
    Load({"weir-row-distractor/weir_1.jpg", "weir-row-distractor/weir_2.jpg",
          "weir-row-distractor/weir_3.jpg"});
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    for (SurfaceKind kind : {SurfaceCylinder, SurfaceSphere}) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.surfaceKind = kind;
        engine->SetOptions(&o);
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0)) << kind;
        EXPECT_EQ(engine->GetBuildReport()->status, 1);
        EXPECT_EQ(engine->GetBuildReport()->photoCount, 3);
        EXPECT_EQ(engine->PlacementOrder().size(), 3u);
        EXPECT_TRUE(engine->IsBuilt());
        EXPECT_TRUE(engine->GetResult(false)->IsValid());
        EXPECT_EQ(engine->ProgressTotal(), 12 * 3 - 2);
    }
    EXPECT_GT(engine->scales_[0], 2.0);
    const auto& edges = engine->MatchGraph().Edges();
    ASSERT_FALSE(edges.empty());
    for (const match_graph::CEdge* e : edges) {
        EXPECT_LT(e->firstImage, e->secondImage);
        ASSERT_EQ(e->inliers1.size(), static_cast<std::size_t>(e->inlierCount));
        ASSERT_EQ(e->inlierScores.size(), static_cast<std::size_t>(e->inlierCount));
        ASSERT_EQ(e->outlierScores.size(), static_cast<std::size_t>(e->outlierCount));
        for (std::int32_t s : e->inlierScores) {
            EXPECT_GE(s, 0);
            EXPECT_LT(s, 640) << "accepted matches pass the 0.8 ratio test";
        }
    }
    // Neighbours overlap by a good part of a full-size photo: the shift is
    // in full-size pixels, not in those of the analysis copies.
    const match_graph::CEdge* first = edges.front();
    EXPECT_GT(std::abs(first->transform[2]), 200.0);
    EXPECT_EQ(engine->ReferenceImage(), engine->PlacementOrder().front());
    EXPECT_EQ(ui.log.Count("AddFile"), 2 * 3 * 2);
    EXPECT_EQ(progress.log.Count("Begin"), 2);
    EXPECT_EQ(progress.log.Count("End"), 2);
}

TEST_F(TiledBuildTest, RebuildsReuseKeypointsGraphAndPosesAsFarAsTheInputsAllow) {
    OVH_REQUIRE_PHOTOS();
    Load(Ring(1, 3));
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    const auto poses = engine->Poses();
    const match_graph::CEdge* edge = engine->MatchGraph().Edges().front();
    const int firstCalls = progress.progressCalls;

    // Same photos and options: no detection (one step of 5 a photo), no
    // matching, no alignment; only the render again.
    progress.progressCalls = 0;
    ui.log.Clear();
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_LT(progress.progressCalls, firstCalls);
    // One repaint a photo after its analysis, none from a matcher.
    EXPECT_EQ(ui.log.Count("RepaintNow"), 3);
    EXPECT_EQ(engine->MatchGraph().Edges().front(), edge) << "the graph was kept";
    for (std::size_t i = 0; i < poses.size(); ++i)
        EXPECT_EQ(engine->Poses()[i].yaw, poses[i].yaw);

    // Lens compensation switched: the alignment runs again on the same graph.
    SetLens(false);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->MatchGraph().Edges().front(), edge);
    EXPECT_FALSE(engine->SharedLens().hasOwnLens);
    bool moved = false;
    for (std::size_t i = 0; i < poses.size(); ++i)
        moved = moved || engine->Poses()[i].yaw != poses[i].yaw || engine->Poses()[i].focal != poses[i].focal;
    EXPECT_TRUE(moved);

    // Reordered photos are a new list: everything is matched again (the
    // keypoints are still found by file name).
    std::swap(photos[0], photos[2]);
    ui.log.Clear();
    progress.progressCalls = 0;
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_GT(ui.log.Count("RepaintNow"), 3 + 3);
    EXPECT_LT(progress.progressCalls, firstCalls);
}

// A flat photo has no keypoints: its pairs are skipped, it gets no edge and
// stays unplaced; photos without any shared feature make no panorama.
TEST_F(TiledBuildTest, FeaturelessPhotosAreSkippedAndAloneTheyMakeNoPanorama) {
    OVH_REQUIRE_PHOTOS();
    Load(Ring(1, 2));
    auto flat = [] {
        CPanoElement* e = TiledTest::MakePhoto(300, 200);
        e->FillImageGrey();
        return static_cast<PanoramaLib::IPanoElement*>(e);
    };
    photos.insert(photos.begin(), flat());
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    for (const match_graph::CEdge* e : engine->MatchGraph().Edges())
        EXPECT_TRUE(e->firstImage != 0 && e->secondImage != 0);
    const auto& order = engine->PlacementOrder();
    EXPECT_EQ(std::count(order.begin(), order.end(), 0), 0);
    EXPECT_EQ(order.size(), 2u);

    std::vector<PanoramaLib::IPanoElement*> flats = {flat(), flat()};
    EXPECT_FALSE(engine->Build(flats, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 3);
    EXPECT_FALSE(engine->GetResult(false)->IsValid());
    EXPECT_FALSE(engine->IsBuilt());
    ReleaseElementVector(flats);
}

// A cancel during the first render is a cancelled build, not a panorama with
// photos missing; building again aligns again and succeeds.
TEST_F(TiledBuildTest, ACancelInTheFirstRenderFailsTheBuildAndARepeatSucceeds) {
    OVH_REQUIRE_PHOTOS();
    Load(Ring(1, 3));
    CancelAtPosition progress(12 * 3 - 2 - 3 + 1);
    engine->SetProgressIndicator(&progress);
    EXPECT_FALSE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 2);
    EXPECT_FALSE(engine->IsBuilt());
    EXPECT_FALSE(engine->GetResult(false)->IsValid());
    EXPECT_TRUE(engine->MatchGraph().Edges().empty()) << "a failed build drops the graph";

    engine->SetProgressIndicator(nullptr);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 1);
    EXPECT_EQ(engine->PlacementOrder().size(), 3u);
}

// Decodes are counted from unloaded photos: a build (its first preview
// included), a preview asked for afterwards and a full-size render, on both
// surfaces, with and without the lens model. Photos that fit the analysis
// size are their own analysis copies and stay decoded for the previews;
// the previews of larger ones read the smaller copies the caller hands in
// (as the document does), or else the build's analysis copies.
TEST_F(TiledBuildTest, EachPhotoIsDecodedOncePerBuildAndOncePerFullSizeRender) {
    OVH_REQUIRE_PHOTOS();
    struct Case {
        std::vector<std::string> names;
        bool proxies;
        int buildDecodes, previewDecodes;  // per photo
    };
    const std::vector<std::string> weir = {"weir-row-distractor/weir_1.jpg",
                                           "weir-row-distractor/weir_2.jpg"};
    const Case cases[] = {
        {Ring(1, 2), false, 1, 0},
        {Ring(1, 2), true, 1, 0},
        {weir, false, 1, 0},
        {weir, true, 1, 0},
    };
    for (const Case& c : cases) {
        ReleaseElementVector(photos);
        Load(c.names);
        const int n = static_cast<int>(photos.size());
        std::vector<PanoramaLib::IPanoElement*> proxies;
        ScopeExit dropProxies([&] { ReleaseElementVector(proxies); });
        if (c.proxies)
            for (PanoramaLib::IPanoElement* p : photos)
                proxies.push_back(engine->PrepareElement(p));
        for (const bool lens : {false, true})
            for (SurfaceKind kind : {SurfaceCylinder, SurfaceSphere}) {
                const std::string what = c.names.front() + (c.proxies ? " proxies" : "") +
                                         (lens ? " lens" : " no lens") + " surface " + std::to_string(kind);
                HVPanoramaOptions o;
                engine->GetOptions(&o);
                o.lensCompensation = lens ? 1 : 0;
                o.surfaceKind = kind;
                engine->SetOptions(&o);
                engine->Reset(true, true);
                for (PanoramaLib::IPanoElement* p : photos)
                    p->Unload();
                manager.decodes = 0;
                ASSERT_TRUE(engine->Build(photos, c.proxies ? &proxies : nullptr, 0, 0, 0)) << what;
                EXPECT_EQ(manager.decodes, c.buildDecodes * n) << "build, " << what;
                manager.decodes = 0;
                ASSERT_TRUE(engine->RequestRender(kind, 0, 10, 0, false, false)) << what;
                EXPECT_EQ(manager.decodes, c.previewDecodes * n) << "preview, " << what;
                for (PanoramaLib::IPanoElement* p : photos)
                    p->Unload();
                manager.decodes = 0;
                ASSERT_TRUE(engine->RenderForPrint(0, 0, 0)) << what;
                EXPECT_EQ(manager.decodes, n) << "full-size render, " << what;
                engine->FreeResults();
            }
    }
}

// A build's lens model stays with the poses it fitted: a SetOptions between
// the build and its renders changes neither the preview nor the full-size
// picture (a render with the other polynomial would bend the photos by terms
// fitted for this one); the next build fits the poses again with the new one.
TEST_F(TiledBuildTest, ALensModelSetAfterABuildWaitsForTheNextBuild) {
    OVH_REQUIRE_PHOTOS();
    Load(Ring(1, 3));
    SetLens(true);
    auto setModel = [&](std::int32_t model) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensModel = model;
        engine->SetOptions(&o);
    };
    auto pixels = [](PanoramaLib::IPanoElement* e) {
        EXPECT_TRUE(e && e->IsValid());
        if (!e || !e->IsValid())
            return std::vector<std::uint8_t>();
        return std::vector<std::uint8_t>(e->GetBits(), e->GetBits() + e->GetStride() * e->GetHeight());
    };
    auto render = [&](std::int32_t azimuth) {
        EXPECT_TRUE(engine->RequestRender(SurfaceCylinder, 0, azimuth, 0, false, false));
        std::vector<std::uint8_t> preview = pixels(engine->GetResult(false));
        EXPECT_TRUE(engine->RenderForPrint(0, azimuth, 0));
        return std::make_pair(preview, pixels(engine->GetResult(true)));
    };

    setModel(1);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->SharedLens().hasOwnLens);
    ASSERT_TRUE(engine->SharedLens().a != 0.0 || engine->SharedLens().b != 0.0);
    const auto poses = engine->Poses();
    const auto unchanged = render(10);

    setModel(2);
    EXPECT_EQ(engine->Alignment().lensModel, 1);
    EXPECT_TRUE(render(10) == unchanged);
    // On the render thread too.
    ASSERT_TRUE(engine->RequestRender(SurfaceCylinder, 0, 10, 0, true, false));
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->TakeRenderResult(0, 0);
    EXPECT_TRUE(pixels(engine->GetResult(false)) == unchanged.first);

    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->Alignment().lensModel, 2);
    bool moved = false;
    for (std::size_t i = 0; i < poses.size(); ++i)
        moved = moved || engine->Poses()[i].focal != poses[i].focal || engine->Poses()[i].yaw != poses[i].yaw;
    EXPECT_TRUE(moved) << "the new model was fitted";
}

TEST_F(TiledBuildTest, ABuildWaitsForThePreviewRenderingOnTheThread) {
    OVH_REQUIRE_PHOTOS();
    Load(Ring(1, 2));
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    TiledTest::Gate gate;
    engine->RenderThread().SetSurfaceFactory(TiledTest::GatedFactory(gate));
    ASSERT_TRUE(engine->RequestRender(1, 0, 30, 0, true, false));
    ASSERT_TRUE(gate.WaitArrivals(1));
    // The render reads the photos the build reloads and unloads.
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(ui.Count(0, 1), 0);
    EXPECT_EQ(engine->RenderThread().TakeFinished(), nullptr);
}

}  // namespace

TEST_F(TiledBuildTest, OddPhotosEndInAStatusNotACrash) {
    auto make = [&](int w, int h, std::uint8_t value) {
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        EXPECT_TRUE(e->Create(24, w, h));
        std::memset(e->GetBits(), value, static_cast<std::size_t>(e->GetStride()) * h);
        return e;
    };
    photos = {make(1, 1, 10), make(2, 3, 200), make(3, 1000, 90), make(1000, 2, 40), make(700, 700, 128)};
    photos.push_back(CreatePanoElement(0));  // no picture at all
    for (bool lens : {false, true}) {
        SetLens(lens);
        EXPECT_FALSE(engine->Build(photos, nullptr, 0, 0, 0));
        EXPECT_NE(engine->GetBuildReport()->status, 1);
        EXPECT_FALSE(engine->RenderForPrint(0, 0, 0));
    }
}
