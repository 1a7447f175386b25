// Projection surfaces: geometry (bounds, output sizes, focal for a size) and
// rendering (scale, crop, weights, gain, cancel, threads, ground truth).

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "DibManager.h"
#include "LensModel.h"
#include "RecordingCallbacks.h"
#include "Surfaces.h"
#include "SyntheticViews.h"
#include "TestData.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using Synthetic::Pose;

namespace {

constexpr double kPi = 3.141592653589793;

// Opens the protected bounds so that output sizes can be checked on their own.
template <class Base>
struct Probe : Base {
    void SetBounds(double lonMin, double lonMax, double hMin, double hMax, double F) {
        this->lonMin = lonMin;
        this->lonMax = lonMax;
        this->hMin = hMin;
        this->hMax = hMax;
        this->pose.focal = F;
        this->ComputeOutputSize();
    }
    void SetFocal(double F) {
        this->pose.focal = F;
        this->ComputeOutputSize();
    }
};

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
    }
    void TearDown() override {
        for (auto* e : photos)
            e->Release();
        g_pDibManager = previous;
        g_nLensModel = 1;
    }

    // A textured in-memory photo (no file, so it is never unloaded).
    CPanoElement* MakePhoto(int width, int height, int seed = 0) {
        auto* e = new CPanoElement(0);
        e->CreateImage(true, width, height, true);
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = e->GetBits() + static_cast<std::ptrdiff_t>(y) * e->GetStride();
            for (int x = 0; x < width; ++x) {
                row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + seed) * 0.05));
                row[3 * x + 1] = static_cast<std::uint8_t>(128 + 100 * std::cos(y * 0.07));
                row[3 * x + 2] = static_cast<std::uint8_t>((x * 3 + y * 5 + seed) & 255);
            }
        }
        photos.push_back(e);
        return e;
    }

    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    std::vector<CPanoElement*> photos;
};

TEST(SurfaceGeometryTest, OutputSizesFollowTheBounds) {
    Probe<CSphericalSurface> sphere;
    sphere.SetBounds(-150, 150, -30, 30, 1000);
    EXPECT_EQ(sphere.OutputWidth(), 5236);
    EXPECT_EQ(sphere.OutputHeight(), 1047);

    Probe<CCylindricalSurface> cylinder;
    cylinder.SetBounds(-150, 150, -0.25, 0.5, 1000);  // heights, not angles
    EXPECT_EQ(cylinder.OutputWidth(), 5236);
    EXPECT_EQ(cylinder.OutputHeight(), 750);

    // The cylinder's heights are no angles and stay as they are; the
    // sphere's latitudes turn from radians into degrees.
    double lo = -0.25, hi = 0.5;
    cylinder.ConvertElevationBounds(lo, hi);
    EXPECT_EQ(lo, -0.25);
    EXPECT_EQ(hi, 0.5);
    lo = -kPi / 6;
    hi = kPi;
    sphere.ConvertElevationBounds(lo, hi);
    EXPECT_NEAR(lo, -30, 1e-12);
    EXPECT_EQ(hi, -180);
}

TEST(SurfaceGeometryTest, FocalForPixelsMakesTheShorterSideThatLong) {
    Probe<CSphericalSurface> sphere;
    sphere.SetBounds(-150, 150, -30, 30, 1000);
    sphere.SetFocal(sphere.FocalForPixels(480));
    EXPECT_EQ(sphere.OutputHeight(), 480);
    Probe<CCylindricalSurface> cylinder;
    cylinder.SetBounds(-20, 20, -0.8, 0.8, 1000);  // higher than wide
    ASSERT_GT(cylinder.OutputHeight(), cylinder.OutputWidth());
    cylinder.SetFocal(cylinder.FocalForPixels(480));
    EXPECT_EQ(cylinder.OutputWidth(), 480);
}

TEST(SurfaceGeometryTest, UnusableOutputSizesBecomeEmpty) {
    Probe<CCylindricalSurface> cylinder;
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double lonMin, lonMax, hMin, hMax, F;
    } cases[] = {{-180, 180, -1e6, 1e6, 1000},
                 {-180, 180, -1, 1, 1e9},
                 {-180, 180, -1, inf, 1000},
                 {-180, 180, -1, std::nan(""), 1000},
                 {-180, 180, -20, 20, 1500}};  // 9425 x 60000 is over the area cap
    for (const auto& k : cases) {
        cylinder.SetBounds(k.lonMin, k.lonMax, k.hMin, k.hMax, k.F);
        EXPECT_EQ(cylinder.OutputWidth(), 0);
        EXPECT_EQ(cylinder.OutputHeight(), 0);
    }
}

TEST(SurfaceGeometryTest, ProjectionRefusesPointsBehindOrOnTheFocalPlane) {
    const double B[9] = {500, 0, 0, 0, 500, 0, 0, 0, 1};
    double u = 0, v = 0;
    EXPECT_TRUE(CCylindricalSurface::ProjectDirection(B, 0.1, -0.2, 1, u, v));
    EXPECT_DOUBLE_EQ(u, 50);
    EXPECT_DOUBLE_EQ(v, -100);
    EXPECT_FALSE(CCylindricalSurface::ProjectDirection(B, 0.1, 0.1, -1, u, v));
    EXPECT_FALSE(CCylindricalSurface::ProjectDirection(B, 0.1, 0.1, 0, u, v));
    EXPECT_FALSE(CCylindricalSurface::ProjectDirection(B, std::nan(""), 0.1, 1, u, v));
    EXPECT_FALSE(CCylindricalSurface::ProjectDirection(B, 1e308, 0.1, 1e-300, u, v));
}

TEST(SurfaceGeometryTest, WeightsFallFromTheCentreToTheEdge) {
    EXPECT_EQ(CCylindricalSurface::PixelWeight(0, 0), 65535);
    EXPECT_EQ(CCylindricalSurface::PixelWeight(1, 1), 1);
    EXPECT_EQ(CCylindricalSurface::PixelWeight(3, 0.2), 1);
    const auto mid = CCylindricalSurface::PixelWeight(0.5, 0);
    EXPECT_EQ(mid, static_cast<int>((1 - 0.25) * 65534.0 + 1.0));
    EXPECT_GT(CCylindricalSurface::PixelWeight(0.2, 0.2), CCylindricalSurface::PixelWeight(0.4, 0.2));
}

TEST(SurfaceGeometryTest, GainComesFromTheHistogramMedians) {
    std::uint32_t histNew[256] = {}, histRes[256] = {};
    histNew[50] = 150;
    histRes[100] = 150;
    EXPECT_DOUBLE_EQ(CCylindricalSurface::GainFromHistograms(histNew, histRes, 150),
                     (2.0 * 100 / 50 + 1) / 3);
    EXPECT_EQ(CCylindricalSurface::GainFromHistograms(histNew, histRes, 99), 1.0);
    // Every agreeing pixel in the darkest bin: no division by zero.
    std::uint32_t dark[256] = {};
    dark[0] = 500;
    EXPECT_EQ(CCylindricalSurface::GainFromHistograms(dark, histRes, 500), 1.0);
    // The median is the first bin where the running sum passes half.
    std::uint32_t split[256] = {};
    split[10] = 100;
    split[20] = 100;
    histRes[100] = 200;
    EXPECT_DOUBLE_EQ(CCylindricalSurface::GainFromHistograms(split, histRes, 200), (2.0 * 100 / 20 + 1) / 3);
}

TEST_F(SurfaceTest, APhotoAtTheReferenceHasTheDiagonalMatricesAndSitsAtTheOrigin) {
    for (bool sphere : {false, true}) {
        std::unique_ptr<CCylindricalSurface> s(sphere ? new CSphericalSurface : new CCylindricalSurface);
        // The reference orientation is the photo's heading on the level
        // frame the alignment leaves.
        s->AddImage(MakePhoto(400, 300), Pose(500, 0, 20, 0), nullptr);
        s->SelectReference(0);
        ASSERT_TRUE(s->Render(100.0, nullptr, nullptr, 0, 0));
        const SurfaceImage& img = s->Images()[0];
        const double want[9] = {500, 0, 0, 0, 500, 0, 0, 0, 1};
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(img.inverse[i], want[i], 1e-9) << i;
        EXPECT_NEAR(img.lonMin, -img.lonMax, 1e-9);
        EXPECT_NEAR(img.hMin, -img.hMax, 1e-9);
        EXPECT_NEAR(s->Focal(), 500, 1e-9);
        EXPECT_TRUE(s->IsFullScale());
        // The photo's centre pixel lands in the middle of the output with
        // the highest weight.
        PanoramaLib::IPanoElement* result = s->GetResult();
        ASSERT_NE(result, nullptr);
        auto* r = static_cast<CPanoElement*>(result);
        const int cx = r->GetWidth() / 2, cy = r->GetHeight() / 2;
        EXPECT_GE(r->GetBlendBuffer()[cy * r->GetMaskStride() + cx], 65000);
        EXPECT_EQ(r->GetMask()[cy * r->GetMaskStride() + cx], 255);
        result->Release();
    }
}

TEST_F(SurfaceTest, PhotosAllRoundMakeAStripOfOneFullTurn) {
    // Twelve photos 30 degrees apart, one of them across the -180/180 seam:
    // the strip is one turn at the focal, and the seam's photo is drawn at
    // both ends.
    for (bool sphere : {false, true}) {
        std::unique_ptr<CCylindricalSurface> s(sphere ? new CSphericalSurface : new CCylindricalSurface);
        for (int i = 0; i < 12; ++i)
            s->AddImage(MakePhoto(400, 300, i), Pose(300, 0, 15 + 30.0 * i, 0), nullptr);
        s->SelectReference(0);
        ASSERT_TRUE(s->Render(100.0, nullptr, nullptr, 0, 0));
        EXPECT_EQ(s->OutputWidth(), static_cast<int>(2 * 3.141592653589793 * 300 + 0.5));
        const SurfaceImage& seam = s->Images()[5];  // centred at 165 degrees
        EXPECT_EQ(seam.rect.left, 0);
        EXPECT_EQ(seam.rect.right, s->OutputWidth());
        PanoramaLib::IPanoElement* result = s->GetResult();
        auto* r = static_cast<CPanoElement*>(result);
        const int row = r->GetHeight() / 2;
        EXPECT_EQ(r->GetMask()[row * r->GetMaskStride()], 255);
        EXPECT_EQ(r->GetMask()[row * r->GetMaskStride() + r->GetWidth() - 1], 255);
        result->Release();
    }
}

TEST_F(SurfaceTest, ScaleKeepsTheFocalAtFullSizeAndNeverGoesBelowFourHundredEightyRows) {
    CSphericalSurface s;
    s.AddImage(MakePhoto(400, 300), Pose(500, 0, 0, 0), nullptr);
    s.AddImage(MakePhoto(400, 300, 7), Pose(500, 0, 30, 0), nullptr);
    s.SelectReference(0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_TRUE(s.IsFullScale());
    EXPECT_NEAR(s.Focal(), 500, 1e-9);
    // A scale whose focal stays above the 480-row focal is used as it is.
    ASSERT_TRUE(s.Render(200.0, nullptr, nullptr, 0, 0));
    EXPECT_NEAR(s.Focal(), 1000, 1e-9);
    EXPECT_FALSE(s.IsFullScale());

    // Large photos at 20%: the shorter side is held at 480 rows.
    CSphericalSurface big;
    big.AddImage(MakePhoto(1600, 1200), Pose(2000, 0, 0, 0), nullptr);
    big.AddImage(MakePhoto(1600, 1200, 7), Pose(2000, 0, 30, 0), nullptr);
    big.SelectReference(0);
    ASSERT_TRUE(big.Render(20.0, nullptr, nullptr, 0, 0));
    EXPECT_FALSE(big.IsFullScale());
    EXPECT_EQ(std::min(big.OutputWidth(), big.OutputHeight()), 480);
    EXPECT_GT(big.Focal(), 400.0);
    EXPECT_LT(big.Focal(), 2000.0);
}

TEST_F(SurfaceTest, CropIsScaledByTheReferenceWidthAndDroppedAfterOneRender) {
    CCylindricalSurface s;
    s.AddImage(MakePhoto(400, 300), Pose(500, 0, 0, 0), nullptr);
    s.SelectReference(0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    const int w = s.OutputWidth(), h = s.OutputHeight();

    s.SetCrop(Rect(40, 20, 200, 120), 2 * w);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_EQ(s.OutputRect(), Rect(20, 10, 100, 60));
    PanoramaLib::IPanoElement* result = s.GetResult();
    EXPECT_EQ(result->GetRect(), Rect(0, 0, 80, 50));
    result->Release();

    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_EQ(s.OutputRect(), Rect(0, 0, w, h));

    // A preview without width cannot scale a crop: it is ignored.
    s.SetCrop(Rect(40, 20, 200, 120), 0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_EQ(s.OutputRect(), Rect(0, 0, w, h));

    // A crop outside the output ends the render without a result.
    s.SetCrop(Rect(w + 10, 0, w + 50, 40), w);
    EXPECT_FALSE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_EQ(s.GetResult(), nullptr);
}

TEST_F(SurfaceTest, NoPhotosGiveFalseAndKeepTheEarlierResult) {
    CSphericalSurface s;
    s.AddImage(MakePhoto(200, 150), Pose(300, 0, 0, 0), nullptr);
    s.SelectReference(0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    PanoramaLib::IPanoElement* before = s.GetResult();
    s.ClearImages();
    TestDoubles::RecordingWaitCursor cursor;
    EXPECT_FALSE(s.Render(100.0, nullptr, &cursor, 0, 0));
    PanoramaLib::IPanoElement* after = s.GetResult();
    EXPECT_EQ(after, before);
    EXPECT_EQ(cursor.log.Lines(), (std::vector<std::string>{"BeginWaitCursor", "EndWaitCursor"}));
    before->Release();
    after->Release();
}

TEST_F(SurfaceTest, ADivergedPoseGivesNoResultInsteadOfAHugeAllocation) {
    CCylindricalSurface s;
    // A focal of a million pixels over a quarter turn: about 1.6 million
    // columns, far beyond what can be allocated.
    s.AddImage(MakePhoto(400, 300), Pose(1e6, 0, 0, 0), nullptr);
    s.AddImage(MakePhoto(400, 300), Pose(1e6, 0, 90, 0), nullptr);
    s.SelectReference(0);
    EXPECT_FALSE(s.Render(100.0, nullptr, nullptr, 0, 0));
    EXPECT_EQ(s.GetResult(), nullptr);
}

TEST_F(SurfaceTest, ProgressCoversEveryRowTwiceAndACancelLeavesAPartialResult) {
    CSphericalSurface s;
    s.AddImage(MakePhoto(300, 200), Pose(400, 0, 0, 0), nullptr);
    s.AddImage(MakePhoto(300, 200, 3), Pose(400, 0, 25, 0), nullptr);
    s.SelectReference(0);
    TestDoubles::RecordingProgress progress;
    ASSERT_TRUE(s.Render(100.0, &progress, nullptr, 100, 200));
    const auto lines = progress.log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "SetProgress 200 200");
    int rows = 0;
    for (const auto& image : s.Images())
        rows += image.rect.Height();
    EXPECT_EQ(progress.progressCalls, 2 * rows);
    EXPECT_FALSE(s.IsCancelled());

    TestDoubles::RecordingProgress cancelling;
    cancelling.cancelAfter = 5;
    EXPECT_TRUE(s.Render(100.0, &cancelling, nullptr, 0, 100));
    EXPECT_TRUE(s.IsCancelled());
    EXPECT_EQ(cancelling.progressCalls, 6);
    PanoramaLib::IPanoElement* partial = s.GetResult();
    ASSERT_NE(partial, nullptr);
    partial->Release();
}

struct RecordingListener : ISRNotify {
    void OnRenderDone(const Rect* changed) override { rects.push_back(*changed); }
    std::vector<Rect> rects;
};

TEST_F(SurfaceTest, TheListenerHearsOfEachComposedPhotoRelativeToTheResult) {
    CCylindricalSurface s;
    s.AddImage(MakePhoto(300, 200), Pose(400, 0, 0, 0), nullptr);
    s.AddImage(MakePhoto(300, 200, 3), Pose(400, 0, 25, 0), nullptr);
    s.SelectReference(0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    // Cropped, so that the result's top-left is not the output's.
    RecordingListener listener;
    s.SetChangeListener(&listener);
    s.SetCrop(Rect(100, 20, 600, 150), s.OutputWidth());
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    ASSERT_EQ(s.OutputRect(), Rect(100, 20, s.OutputWidth(), 150));
    ASSERT_EQ(listener.rects.size(), 2u);
    const Rect& out = s.OutputRect();
    for (std::size_t i = 0; i < 2; ++i) {
        const Rect& photoRect = s.Images()[i].rect;
        const Rect expected(std::max(photoRect.left, out.left) - out.left,
                            std::max(photoRect.top, out.top) - out.top,
                            std::min(photoRect.right, out.right) - out.left,
                            std::min(photoRect.bottom, out.bottom) - out.top);
        EXPECT_EQ(listener.rects[i], expected) << i;
    }
}

TEST_F(SurfaceTest, SetImagesTakesTheListedPhotosWithTheSharedLensAndMatchingProxies) {
    CPanoElement *a = MakePhoto(40, 30), *b = MakePhoto(40, 30), *c = MakePhoto(40, 30);
    CPanoElement *pa = MakePhoto(20, 15), *pb = MakePhoto(20, 15), *pc = MakePhoto(20, 15);
    const std::vector<TiledImagePose> poses = {Pose(100, 1, 2, 3), Pose(110, 4, 5, 6), Pose(120, 7, 8, 9)};
    TiledImagePose shared;
    shared.hasOwnLens = 1;
    shared.a = 1e-7;
    shared.b = 2e-12;
    shared.c = 3e-9;
    CSphericalSurface s;
    s.SetImages({2, 0, 7, -1}, shared, poses, {a, b, c}, {pa, pb, pc});
    ASSERT_EQ(s.Images().size(), 2u);  // indices outside the lists are skipped
    EXPECT_EQ(s.Images()[0].element, c);
    EXPECT_EQ(s.Images()[0].proxy, pc);
    EXPECT_EQ(s.Images()[0].pose.focal, 120);
    EXPECT_EQ(s.Images()[0].pose.hasOwnLens, 1);
    EXPECT_EQ(s.Images()[0].pose.c, 3e-9);
    EXPECT_EQ(s.Images()[1].element, a);
    s.SelectReference(0);
    s.AddAngleOffsets(10, 20, 30);
    // The reference photo's heading only: the view starts level.
    EXPECT_EQ(s.ReferencePose().pitch, 10);
    EXPECT_EQ(s.ReferencePose().yaw, 28);
    EXPECT_EQ(s.ReferencePose().roll, 30);

    // Proxies of another count are not used; without a shared lens the
    // photos keep their own.
    CSphericalSurface t;
    t.SetImages({1}, TiledImagePose(), poses, {a, b, c}, {pa});
    ASSERT_EQ(t.Images().size(), 1u);
    EXPECT_EQ(t.Images()[0].proxy, nullptr);
    EXPECT_EQ(t.Images()[0].pose.hasOwnLens, 0);
}

TEST_F(SurfaceTest, OutputIsByteIdenticalForAnyThreadCount) {
    auto render = [this](unsigned threads, std::vector<std::uint8_t>& bytes,
                         std::vector<std::uint16_t>& weights) {
        Platform::ThreadPool pool(threads);
        CSphericalSurface s;
        s.SetThreadPool(&pool);
        s.AddImage(MakePhoto(320, 240, 1), Pose(380, 2, -12, 1), nullptr);
        s.AddImage(MakePhoto(320, 240, 9), Pose(390, -3, 14, -2), nullptr);
        s.AddImage(MakePhoto(320, 240, 5), Pose(385, 15, 0, 0), nullptr);
        s.SelectReference(0);
        s.AddAngleOffsets(3, 4, 5);
        s.SetInterpolation(1);
        ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
        auto* r = static_cast<CPanoElement*>(s.GetResult());
        bytes.assign(r->GetBits(), r->GetBits() + static_cast<std::size_t>(r->GetStride()) * r->GetHeight());
        const std::uint16_t* w = r->GetBlendBuffer();
        weights.assign(w, w + static_cast<std::size_t>(r->GetMaskStride()) * r->GetHeight());
        r->Release();
    };
    std::vector<std::uint8_t> one, many;
    std::vector<std::uint16_t> wOne, wMany;
    render(1, one, wOne);
    render(6, many, wMany);
    ASSERT_FALSE(one.empty());
    EXPECT_TRUE(one == many);
    EXPECT_TRUE(wOne == wMany);
}

TEST_F(SurfaceTest, NearestSamplerDrawsFromTheProxyWhileThePhotoIsUnloaded) {
    OVH_REQUIRE_PHOTOS();
    const std::string path = TestData::Photo("apartment-ring/small-01.jpg").string();
    auto* photo = new CPanoElement(0);
    photos.push_back(photo);
    ASSERT_TRUE(photo->Load(std::wstring(path.begin(), path.end())))
        << TestDoubles::Narrow(photo->GetErrorText()) << path;
    photo->Unload();
    ASSERT_FALSE(photo->IsValid());
    // A proxy of half size, uniform so that every sample is recognisable.
    CPanoElement* proxy = MakePhoto(300, 199);
    std::memset(proxy->GetBits(), 77, static_cast<std::size_t>(proxy->GetStride()) * proxy->GetHeight());

    CSphericalSurface s;
    s.AddImage(photo, Pose(458, 0, 0, 0), proxy);
    s.SelectReference(0);
    s.SetInterpolation(0);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    auto* r = static_cast<CPanoElement*>(s.GetResult());
    const int cx = r->GetWidth() / 2, cy = r->GetHeight() / 2;
    EXPECT_EQ(r->GetBits()[cy * r->GetStride() + 3 * cx], 77);
    r->Release();
    EXPECT_FALSE(photo->IsValid());  // not reloaded

    // The bilinear sampler reads the photo itself, reloading it.
    s.SetInterpolation(1);
    ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
    r = static_cast<CPanoElement*>(s.GetResult());
    EXPECT_NE(r->GetBits()[cy * r->GetStride() + 3 * cx], 77);
    r->Release();
}

// Photos that are not in memory are read back for their warp, several side
// by side, and unloaded again afterwards; the picture is the one the loaded
// photos give. A photo listed twice is read back by one warp at a time.
TEST_F(SurfaceTest, UnloadedPhotosAreReadBackForTheirWarpAndUnloadedAfterwards) {
    OVH_REQUIRE_PHOTOS();
    std::vector<CPanoElement*> loaded;
    for (const char* name : {"small-01.jpg", "small-02.jpg", "small-03.jpg"}) {
        const std::string path = TestData::Photo(std::string("apartment-ring/") + name).string();
        auto* photo = new CPanoElement(0);
        photos.push_back(photo);
        ASSERT_TRUE(photo->Load(std::wstring(path.begin(), path.end())))
            << TestDoubles::Narrow(photo->GetErrorText()) << path;
        loaded.push_back(photo);
    }
    auto render = [&](std::vector<std::uint8_t>& bytes) {
        CSphericalSurface s;
        s.AddImage(loaded[0], Pose(480, 0, 0, 0), nullptr);
        s.AddImage(loaded[1], Pose(480, 1, 25, 0), nullptr);
        s.AddImage(loaded[0], Pose(480, 0, -25, 0), nullptr);
        s.AddImage(loaded[2], Pose(480, -1, 50, 1), nullptr);
        s.SelectReference(0);
        s.SetInterpolation(1);
        ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
        auto* r = static_cast<CPanoElement*>(s.GetResult());
        bytes.assign(r->GetBits(), r->GetBits() + static_cast<std::size_t>(r->GetStride()) * r->GetHeight());
        r->Release();
    };
    std::vector<std::uint8_t> fromMemory, readBack;
    render(fromMemory);
    for (CPanoElement* photo : loaded)
        EXPECT_TRUE(photo->IsValid());  // the caller's pixels stay
    for (CPanoElement* photo : loaded)
        photo->Unload();
    render(readBack);
    for (CPanoElement* photo : loaded)
        EXPECT_FALSE(photo->IsValid());
    ASSERT_FALSE(fromMemory.empty());
    EXPECT_TRUE(fromMemory == readBack);
}

double Psnr(double squaredError, long count) {
    return 10 * std::log10(255.0 * 255.0 / (squaredError / count));
}

// Views of a real photo at known poses, rendered back onto the sphere with the
// same poses, must reproduce the photo over the covered area.
TEST_F(SurfaceTest, RenderedViewsReproduceTheirSource) {
    OVH_REQUIRE_PHOTOS();
    const std::string path = TestData::Photo("apartment-ring/small-03.jpg").string();
    auto* source = new CPanoElement(0);
    photos.push_back(source);
    ASSERT_TRUE(source->Load(std::wstring(path.begin(), path.end())));
    const double sourceFocal = 458;
    const std::vector<TiledImagePose> poses = {Pose(458, 0, -9, 0), Pose(470, 4, 7, 2),
                                               Pose(450, -6, -1, -1.5)};
    // Without distortion, and with a barrel distortion (about 8 px at the
    // corners) that the render must take out through the lens inverse.
    for (double lensA : {0.0, -2e-6}) {
        const bool lens = lensA != 0.0;
        CSphericalSurface s;
        for (const auto& pose : poses) {
            CPanoElement* view = Synthetic::RenderView(*source, sourceFocal, pose, 256, 192, lensA);
            photos.push_back(view);
            TiledImagePose p = pose;
            p.hasOwnLens = lens ? 1 : 0;
            p.a = lensA;
            s.AddImage(view, p, nullptr);
        }
        s.SelectReference(0);
        s.SetInterpolation(1);
        ASSERT_TRUE(s.Render(100.0, nullptr, nullptr, 0, 0));
        auto* r = static_cast<CPanoElement*>(s.GetResult());
        double Rs[9];
        const TiledImagePose& ref = s.ReferencePose();
        RotationFromAngles(Rs, ref.pitch, ref.yaw, ref.roll);
        double error = 0;
        long count = 0;
        for (int y = 0; y < r->GetHeight(); ++y) {
            for (int x = 0; x < r->GetWidth(); ++x) {
                if (!r->GetMask()[y * r->GetMaskStride() + x])
                    continue;
                double d[3];
                s.PixelToDirection(x, y, d[0], d[1], d[2]);
                // Surface frame -> panorama frame -> the source's pixels.
                const double D[3] = {Rs[0] * d[0] + Rs[3] * d[1] + Rs[6] * d[2],
                                     Rs[1] * d[0] + Rs[4] * d[1] + Rs[7] * d[2],
                                     Rs[2] * d[0] + Rs[5] * d[1] + Rs[8] * d[2]};
                double want[3];
                if (D[2] <= 0 ||
                    !Synthetic::Sample(*source, sourceFocal * D[0] / D[2] + source->GetWidth() / 2,
                                       sourceFocal * D[1] / D[2] + source->GetHeight() / 2, want))
                    continue;
                const std::uint8_t* got =
                    r->GetBits() + static_cast<std::ptrdiff_t>(y) * r->GetStride() + 3 * x;
                for (int k = 0; k < 3; ++k)
                    error += (got[k] - want[k]) * (got[k] - want[k]);
                count += 3;
            }
        }
        r->Release();
        ASSERT_GT(count, 3 * 256 * 192);  // more than one view's worth is covered
        const double psnr = Psnr(error, count);
        RecordProperty(lens ? "psnr_lens" : "psnr", std::to_string(psnr));
        EXPECT_GE(psnr, 30.0) << (lens ? "with lens" : "without lens");
    }
}

}  // namespace
