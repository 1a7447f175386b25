#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include "CountingDibManager.h"
#include "DibManager.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"
#include "TestData.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

using FailingDibManager = TestDoubles::CountingDibManager;

class PlanarBuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = static_cast<CPanorama*>(CreateHVPanorama(&manager));
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = 0;  // crops of one flat picture
        o.autoCrop = 0;
        engine->SetOptions(&o);
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        if (engine)
            engine->Release();
        g_pDibManager = nullptr;
    }

    static RefPtr<CPanoElement> Load(const std::string& relative) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        EXPECT_TRUE(e->Load(W(TestData::Photo(relative).string()))) << relative;
        return e;
    }

    // Builds and renders the photos with the lens model off and on, counting
    // the decodes of each from unloaded photos.
    void CountDecodes(const std::string& what);

    // Crops of source at the given rectangles, each saved to a file (so the
    // engine can unload and reload it) and scaled in brightness by its gain.
    void MakeCrops(CPanoElement* source, const std::vector<Rect>& rects,
                   const std::vector<double>& gains = {}) {
        for (std::size_t k = 0; k < rects.size(); ++k) {
            RefPtr<CPanoElement> crop(source->ExtractRegion(false, rects[k]));
            ASSERT_NE(crop.Get(), nullptr);
            const double gain = k < gains.size() ? gains[k] : 1.0;
            if (gain != 1.0)
                for (int y = 0; y < crop->GetHeight(); ++y)
                    for (int i = 0; i < crop->GetWidth() * 3; ++i) {
                        std::uint8_t& b = crop->GetBits()[y * crop->GetStride() + i];
                        b = static_cast<std::uint8_t>(std::min(255.0, std::round(b * gain)));
                    }
            const std::string path = dir / ("crop" + std::to_string(k) + ".png");
            ASSERT_TRUE(crop->Save(W(path)));
            IPanoElement* photo = CreatePanoElement(0);
            ASSERT_TRUE(photo->Load(W(path)));
            photos.push_back(photo);
        }
    }

    FailingDibManager manager;
    CPanorama* engine = nullptr;
    std::vector<IPanoElement*> photos;
    TestData::ScratchDir dir;
};

double Psnr(CPanoElement* result, CPanoElement* source, int offsetX, int offsetY) {
    double sum = 0;
    long long n = 0;
    for (int y = 0; y < result->GetHeight(); ++y)
        for (int x = 0; x < result->GetWidth(); ++x) {
            const int sx = x + offsetX, sy = y + offsetY;
            if (sx < 0 || sy < 0 || sx >= source->GetWidth() || sy >= source->GetHeight())
                continue;
            const std::uint8_t* a = result->GetBits() + y * result->GetStride() + 3 * x;
            const std::uint8_t* b = source->GetBits() + sy * source->GetStride() + 3 * sx;
            if (a[0] == 255 && a[1] == 255 && a[2] == 255)
                continue;  // uncovered (white)
            for (int c = 0; c < 3; ++c)
                sum += (a[c] - b[c]) * (a[c] - b[c]);
            n += 3;
        }
    return n ? 10 * std::log10(255.0 * 255.0 / (sum / n)) : 0;
}

}  // namespace

TEST_F(PlanarBuildTest, GroundTruthCropsWithGains) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("weir-row-distractor/weir_1.jpg");  // 1333 x 750
    ASSERT_TRUE(source->IsValid());
    // Four 500 x 700 crops with 36 to 40 percent overlap.
    const std::vector<Rect> rects = {Rect(0, 20, 500, 720), Rect(310, 30, 810, 730), Rect(620, 10, 1120, 710),
                                     Rect(833, 25, 1333, 725)};
    struct Case {
        std::vector<double> gains;
        double minPsnr;
    };
    // Exposure balance moves the photos only halfway towards each other near
    // the overlaps, so a 10 percent gain stays partly in the result.
    for (const Case& c : {Case{{1.0, 1.0, 1.0, 1.0}, 30.0}, Case{{1.0, 0.9, 1.0, 1.1}, 28.0}}) {
        ReleaseElementVector(photos);
        MakeCrops(source.Get(), rects, c.gains);
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
        EXPECT_EQ(engine->GetBuildReport()->status, 1);
        EXPECT_TRUE(engine->GetBuildReport()->unmatched.empty());
        ASSERT_TRUE(engine->Render());
        auto* result = static_cast<CPanoElement*>(engine->GetResult(true));
        ASSERT_TRUE(result->IsValid());
        // True bounds: x 0..1333, y 10..730; the analysis scale is 2.
        EXPECT_NEAR(result->GetWidth(), 1333, 2);
        EXPECT_NEAR(result->GetHeight(), 720, 2);
        // The result's corner is source pixel (0, 10), give or take one
        // analysis pixel (two full-size pixels).
        double psnr = 0;
        for (int oy = 8; oy <= 12; ++oy)
            for (int ox = -2; ox <= 2; ++ox)
                psnr = std::max(psnr, Psnr(result, source.Get(), ox, oy));
        std::printf("ground truth PSNR %.2f dB (gain %.1f)\n", psnr, c.gains[1]);
        EXPECT_GE(psnr, c.minPsnr);
        engine->FreeResults();
    }
}

TEST_F(PlanarBuildTest, ProgressStagesAndTotals) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("boat-row/boat3.jpg");
    MakeCrops(source.Get(), {Rect(0, 0, 300, 300), Rect(180, 20, 480, 320), Rect(300, 40, 600, 340)});
    TestDoubles::RecordingProgress progress;
    TestDoubles::RecordingUserInterface ui;
    engine->Init(nullptr, nullptr, &ui);
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));

    const int n = 3, total = 6 * n + 11 * n - 2;
    std::vector<std::string> stages;
    int lastPosition = 0;
    for (const std::string& line : progress.log.Lines()) {
        if (line.rfind("SetStage", 0) == 0 || line == "Begin" || line == "End")
            stages.push_back(line);
        int t, p;
        if (std::sscanf(line.c_str(), "SetProgress %d %d", &t, &p) == 2) {
            EXPECT_EQ(t, total);
            EXPECT_LE(p, total);
            EXPECT_GE(p, lastPosition);
            lastPosition = p;
        }
    }
    EXPECT_EQ(lastPosition, total);
    const std::vector<std::string> expected = {"Begin",
                                               "SetStage 11",
                                               "SetStage 12 crop0.png",
                                               "SetStage 12 crop1.png",
                                               "SetStage 12 crop2.png",
                                               "SetStage 13",
                                               "SetStage 14",
                                               "End"};
    EXPECT_EQ(stages, expected);
    EXPECT_EQ(ui.log.Count("ToggleView 0"), 1);
    EXPECT_EQ(ui.log.Count("AddFile"), 4 * n);  // marked and unmarked in analysis and compositing

    progress.log.Clear();
    ASSERT_TRUE(engine->Render());
    const int renderTotal = 6 * n + 2 * n + 4;
    lastPosition = 0;
    for (const std::string& line : progress.log.Lines()) {
        int t, p;
        if (std::sscanf(line.c_str(), "SetProgress %d %d", &t, &p) == 2) {
            EXPECT_EQ(t, renderTotal);
            EXPECT_LE(p, renderTotal);
            lastPosition = p;
        }
    }
    EXPECT_EQ(lastPosition, renderTotal);
    EXPECT_EQ(progress.log.Lines().front(), "Begin");
    EXPECT_EQ(progress.log.Lines()[1], "SetStage 15");
    EXPECT_EQ(progress.log.Lines().back(), "End");
}

TEST_F(PlanarBuildTest, CancelAnywhereKeepsTheEngineUsable) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("boat-row/boat3.jpg");
    MakeCrops(source.Get(), {Rect(0, 0, 260, 240), Rect(160, 10, 420, 250), Rect(320, 20, 580, 260)});
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->Render());
    IPanoElement* first = engine->GetResult(true);
    const std::vector<std::uint8_t> reference(first->GetBits(),
                                              first->GetBits() + first->GetStride() * first->GetHeight());
    // Later builds reuse the keypoints: count the progress calls of such a build.
    progress.progressCalls = 0;
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    const int buildCalls = progress.progressCalls;

    for (int cancelAt = 0; cancelAt < buildCalls; cancelAt += 3) {
        progress.progressCalls = 0;
        progress.cancelAfter = cancelAt;
        const bool built = engine->Build(photos, nullptr, 0, 0, 0);
        // Waits report progress to keep the window painted, so a slow run
        // reports more often: a quicker one may end before the cancel point.
        if (progress.progressCalls > cancelAt) {
            EXPECT_FALSE(built) << cancelAt;
            EXPECT_EQ(engine->GetBuildReport()->status, 2) << cancelAt;
        }
        EXPECT_EQ(progress.log.Lines().back(), "End");
        progress.cancelAfter = -1;
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0)) << cancelAt;
        ASSERT_TRUE(engine->Render());
        IPanoElement* again = engine->GetResult(true);
        ASSERT_EQ(again->GetStride() * again->GetHeight(), static_cast<int>(reference.size()));
        EXPECT_EQ(std::memcmp(again->GetBits(), reference.data(), reference.size()), 0) << cancelAt;
    }

    // A cancelled render leaves the arrangement for the next one, and the
    // preview with its crop rectangle.
    engine->FreeResults();
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    Rect previewCrop;
    engine->GetCropRect(&previewCrop, 0);
    progress.progressCalls = 0;
    progress.cancelAfter = 4;
    EXPECT_FALSE(engine->Render());
    EXPECT_FALSE(engine->GetFullResult()->IsValid());
    EXPECT_TRUE(engine->GetResult(true)->IsValid());
    Rect cropAfter;
    engine->GetCropRect(&cropAfter, 0);
    EXPECT_EQ(cropAfter, previewCrop);
    progress.cancelAfter = -1;
    ASSERT_TRUE(engine->Render());
    IPanoElement* after = engine->GetResult(true);
    EXPECT_EQ(std::memcmp(after->GetBits(), reference.data(), reference.size()), 0);
}

TEST_F(PlanarBuildTest, ResultsAcrossRenders) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("boat-row/boat2.jpg");
    MakeCrops(source.Get(), {Rect(0, 0, 320, 300), Rect(200, 0, 520, 300)});
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    IPanoElement* preview = engine->GetResult(false);
    EXPECT_TRUE(preview->IsValid());
    EXPECT_EQ(engine->GetResult(true), preview);
    ASSERT_TRUE(engine->Render());
    EXPECT_FALSE(preview->IsValid());
    EXPECT_EQ(engine->GetResult(false), preview);
    IPanoElement* full = engine->GetResult(true);
    EXPECT_EQ(full, engine->GetFullResult());
    const std::vector<std::uint8_t> first(full->GetBits(),
                                          full->GetBits() + full->GetStride() * full->GetHeight());

    // A second render has nothing to do.
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Render());
    EXPECT_EQ(progress.progressCalls, 0);
    EXPECT_EQ(std::memcmp(full->GetBits(), first.data(), first.size()), 0);

    engine->FreeResults();
    EXPECT_FALSE(engine->IsBuilt());
    EXPECT_FALSE(full->IsValid());
    engine->Reset(false, false);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->Render());
    EXPECT_EQ(std::memcmp(engine->GetResult(true)->GetBits(), first.data(), first.size()), 0);
}

// Crops that fit the analysis size, and crops of a larger photo, whose
// analysis copies are smaller than they are.
TEST_F(PlanarBuildTest, EachPhotoIsDecodedOncePerBuildAndOncePerRender) {
    OVH_REQUIRE_PHOTOS();
    const struct {
        const char* name;
        bool larger;
    } cases[] = {{"boat-row/boat2.jpg", false}, {"weir-row-distractor/weir_1.jpg", true}};
    for (const auto& c : cases) {
        ReleaseElementVector(photos);
        RefPtr<CPanoElement> source = Load(c.name);
        const int w = source->GetWidth(), h = std::min(source->GetHeight(), 700);
        ASSERT_EQ(std::max(w / 2, h) > engine->AnalysisTargetSize(), c.larger) << c.name;
        MakeCrops(source.Get(), {Rect(0, 0, w / 2, h), Rect(w / 4, 0, 3 * w / 4, h), Rect(w / 2, 0, w, h)});
        CountDecodes(c.name);
    }
}

void PlanarBuildTest::CountDecodes(const std::string& what) {
    const int n = static_cast<int>(photos.size());
    for (const std::uint8_t lens : {0, 1}) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = lens;
        engine->SetOptions(&o);
        engine->Reset(true, true);
        for (IPanoElement* p : photos)
            p->Unload();
        manager.decodes = 0;
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0)) << what << int(lens);
        EXPECT_EQ(manager.decodes, n) << "build, " << what << " lens " << int(lens);
        for (IPanoElement* p : photos)
            p->Unload();
        manager.decodes = 0;
        ASSERT_TRUE(engine->Render()) << what << int(lens);
        EXPECT_EQ(manager.decodes, n) << "render, " << what << " lens " << int(lens);
        engine->FreeResults();
    }
}

TEST_F(PlanarBuildTest, UnrelatedPhotosAndTheDistractor) {
    OVH_REQUIRE_PHOTOS();
    for (const char* name : {"boat-row/boat1.jpg", "weir-row-distractor/weir_noise.jpg"}) {
        IPanoElement* e = CreatePanoElement(0);
        ASSERT_TRUE(e->Load(W(TestData::Photo(name).string())));
        photos.push_back(e);
    }
    EXPECT_FALSE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 3);
    EXPECT_EQ(engine->GetBuildReport()->unmatched, (std::vector<std::int32_t>{0, 1}));
    ReleaseElementVector(photos);

    for (const char* name : {"weir_1.jpg", "weir_noise.jpg", "weir_2.jpg", "weir_3.jpg"}) {
        IPanoElement* e = CreatePanoElement(0);
        ASSERT_TRUE(e->Load(W(TestData::Photo(std::string("weir-row-distractor/") + name).string())));
        photos.push_back(e);
    }
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 1);
    EXPECT_EQ(engine->GetBuildReport()->unmatched, std::vector<std::int32_t>{1});
    for (int i : engine->CompositedList())
        EXPECT_NE(i, 1);
    EXPECT_EQ(engine->CompositedList().size(), 3u);
}

TEST_F(PlanarBuildTest, RunningOutOfImagesNeverEscapes) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("boat-row/boat4.jpg");
    MakeCrops(source.Get(), {Rect(0, 0, 260, 200), Rect(140, 5, 400, 205), Rect(280, 10, 540, 210)});
    manager.made = 0;
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->Render());
    const int needed = manager.made;
    for (int budget = 0; budget < needed; ++budget) {
        engine->Reset(true, true);
        engine->FreeResults();
        manager.made = 0;
        manager.budget = budget;
        bool built = false;
        EXPECT_NO_THROW(built = engine->Build(photos, nullptr, 0, 0, 0)) << budget;
        if (built) {
            EXPECT_NO_THROW(engine->Render()) << budget;
        } else {
            EXPECT_NE(engine->GetBuildReport()->status, 1) << budget;
        }
        manager.budget = -1;
    }
    engine->Reset(true, true);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_TRUE(engine->Render());
}

TEST_F(PlanarBuildTest, OneThreadAndEightGiveTheSamePanorama) {
    OVH_REQUIRE_PHOTOS();
    for (const char* name : {"boat1.jpg", "boat2.jpg", "boat3.jpg"}) {
        IPanoElement* e = CreatePanoElement(0);
        ASSERT_TRUE(e->Load(W(TestData::Photo(std::string("boat-row/") + name).string())));
        photos.push_back(e);
    }
    HVPanoramaOptions o;
    engine->GetOptions(&o);
    o.lensCompensation = 1;  // the lens warp runs on the pool too
    engine->SetOptions(&o);
    std::vector<std::vector<std::uint8_t>> results;
    for (unsigned threads : {1u, 8u}) {
        Platform::ThreadPool pool(threads);
        Platform::ThreadPool::ScopedShared use(pool);
        engine->Reset(true, true);
        engine->FreeResults();
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
        ASSERT_TRUE(engine->Render());
        IPanoElement* r = engine->GetResult(true);
        results.emplace_back(r->GetBits(), r->GetBits() + r->GetStride() * r->GetHeight());
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST_F(PlanarBuildTest, OddPhotosEndInAStatusNotACrash) {
    // Tiny, thin, flat and repeated photos, a null entry and an unloaded one.
    auto make = [&](int w, int h, std::uint8_t value) {
        IPanoElement* e = CreatePanoElement(0);
        EXPECT_TRUE(e->Create(24, w, h));
        std::memset(e->GetBits(), value, static_cast<std::size_t>(e->GetStride()) * h);
        return e;
    };
    photos = {make(1, 1, 10), make(2, 3, 200), make(3, 1000, 90), make(1000, 2, 40), make(700, 700, 128)};
    photos.push_back(nullptr);
    IPanoElement* unloaded = CreatePanoElement(0);
    photos.push_back(unloaded);
    for (int lens : {0, 1}) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = static_cast<std::uint8_t>(lens);
        engine->SetOptions(&o);
        EXPECT_FALSE(engine->Build(photos, nullptr, 0, 0, 0));
        EXPECT_NE(engine->GetBuildReport()->status, 1);
        EXPECT_FALSE(engine->Render());
    }
    // The same element twice is analysed one photo at a time.
    ReleaseElementVector(photos);
    IPanoElement* twice = make(64, 64, 77);
    twice->AddRef();
    photos = {twice, twice};
    EXPECT_FALSE(engine->Build(photos, nullptr, 0, 0, 0));
    EXPECT_EQ(engine->GetBuildReport()->status, 3);
}

TEST_F(PlanarBuildTest, TheReferenceIsThePhotoNearestTheCentre) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("weir-row-distractor/weir_1.jpg");
    // Crop centres at x 250, 560, 870, 1083 of a union 0..1333: photo 1 is central.
    MakeCrops(source.Get(), {Rect(0, 20, 500, 720), Rect(310, 30, 810, 730), Rect(620, 10, 1120, 710),
                             Rect(833, 25, 1333, 725)});
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
        EXPECT_EQ(engine->CompositedList().front(), 1) << "round " << round;
    }
}

TEST_F(PlanarBuildTest, APhotoThatVanishedFailsTheRender) {
    OVH_REQUIRE_PHOTOS();
    // Larger than the analysis size, so the render reads the photos back.
    RefPtr<CPanoElement> source = Load("weir-row-distractor/weir_1.jpg");
    const std::vector<Rect> rects = {Rect(0, 20, 500, 720), Rect(310, 30, 810, 730),
                                     Rect(620, 10, 1120, 710)};
    for (std::size_t k = 0; k < rects.size(); ++k) {
        // A failed reload leaves an element without pixels: start afresh.
        ReleaseElementVector(photos);
        MakeCrops(source.Get(), rects);
        engine->Reset(true, true);
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
        const std::string path = dir / ("crop" + std::to_string(k) + ".png");
        std::filesystem::rename(path, path + ".gone");
        EXPECT_FALSE(engine->Render()) << "photo " << k;
        std::filesystem::rename(path + ".gone", path);
        engine->FreeResults();
    }
}

TEST_F(PlanarBuildTest, ChangingTheAnalysisSizeDropsTheCachedAnalyses) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> source = Load("weir-row-distractor/weir_1.jpg");
    MakeCrops(source.Get(), {Rect(0, 20, 500, 720), Rect(310, 30, 810, 730), Rect(620, 10, 1120, 710)});
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    HVPanoramaOptions o;
    engine->GetOptions(&o);
    o.analysisSize = 0;
    engine->SetOptions(&o);
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->Render());
    const int afterChange = engine->GetResult(true)->GetWidth();
    engine->Reset(true, true);
    engine->FreeResults();
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_TRUE(engine->Render());
    EXPECT_EQ(afterChange, engine->GetResult(true)->GetWidth());
}
