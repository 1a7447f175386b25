#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "AnalysisCopy.h"
#include "DibManager.h"
#include "LensPresets.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = CreateHVPanorama(&manager);
        ASSERT_NE(engine, nullptr);
    }
    void TearDown() override {
        engine->Release();
        g_pDibManager = nullptr;
    }
    CPanorama* Engine() { return static_cast<CPanorama*>(engine); }

    static RefPtr<CPanoElement> Photo(int w, int h, int bpp = 24, std::uint8_t value = 0) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        EXPECT_TRUE(e->Create(bpp, w, h));
        if (e->IsValid()) {
            if (value)
                std::memset(e->GetBits(), value, static_cast<std::size_t>(e->GetStride()) * h);
            else
                for (int r = 0; r < h; ++r)
                    for (int i = 0; i < w * bpp / 8; ++i)
                        e->GetBits()[r * e->GetStride() + i] =
                            static_cast<std::uint8_t>((r * 3 + i * 7) & 0xFF);
        }
        return e;
    }

    CDibManager manager;
    PanoramaLib::IHVPanorama* engine = nullptr;
};

}  // namespace

TEST_F(EngineTest, NewEngineDefaultsAndOptions) {
    HVPanoramaOptions o;
    o.unused4 = 99;
    o.surfaceKind = 5;
    engine->GetOptions(&o);
    EXPECT_EQ(o.autoCrop, 1);
    EXPECT_EQ(o.ratioMode, 1);
    EXPECT_EQ(o.analysisSize, 1);
    EXPECT_EQ(o.unused4, 0);
    EXPECT_EQ(o.motionModel, 2);
    EXPECT_EQ(o.rawExposureDifference, 1);
    EXPECT_EQ(o.lensCompensation, 1);
    EXPECT_EQ(o.lensPresetId, 7);
    EXPECT_EQ(o.is360, 0);
    EXPECT_EQ(o.surfaceKind, 0);
    EXPECT_EQ(Engine()->AnalysisTargetSize(), 660);

    o.analysisSize = 0;
    engine->SetOptions(&o);
    EXPECT_EQ(Engine()->AnalysisTargetSize(), 400);
    o.analysisSize = 1;
    engine->SetOptions(&o);
    EXPECT_EQ(Engine()->AnalysisTargetSize(), 660);

    // A preset id outside the table is refused; the previous one stays.
    for (int bad : {-1, 10, 1000}) {
        o.lensPresetId = bad;
        engine->SetOptions(&o);
        HVPanoramaOptions back;
        engine->GetOptions(&back);
        EXPECT_EQ(back.lensPresetId, 7) << bad;
    }

    const BuildReport* report = engine->GetBuildReport();
    EXPECT_EQ(report->status, 0);
    EXPECT_EQ(report->photoCount, 0);
    EXPECT_TRUE(report->unmatched.empty());
    EXPECT_EQ(engine->GetBuildReport(), report);
    EXPECT_FALSE(engine->IsBuilt());
    EXPECT_NE(engine->GetResult(false), nullptr);
    EXPECT_EQ(engine->GetResult(true), engine->GetFullResult());  // the preview holds no image
}

TEST(CreateHVPanorama, NullManagerGivesNoEngineAndClearsTheGlobal) {
    CDibManager manager;
    g_pDibManager = &manager;
    EXPECT_EQ(CreateHVPanorama(nullptr), nullptr);
    EXPECT_EQ(g_pDibManager, nullptr);
}

TEST_F(EngineTest, AnalysisCopySizesAndScales) {
    struct Case {
        int w, h, analysisSize;
        int copyW, copyH;  // 0: no copy
        double scale;
        bool itself;
    };
    const Case cases[] = {
        {660, 500, 1, 660, 500, 1.0, true},    {661, 500, 1, 330, 249, 2.0, false},
        {4000, 3000, 1, 500, 375, 8.0, false}, {1001, 700, 1, 500, 349, 2.0, false},
        {500, 1001, 1, 249, 500, 2.0, false},  {700, 700, 1, 350, 350, 2.0, false},
        {1200, 1200, 0, 400, 400, 3.0, false}, {1000, 3, 0, 400, 1, 2.5, false},
        {3, 1000, 0, 1, 400, 2.5, false},      {5000, 2, 0, 0, 0, 0.0, false},
        {400, 300, 0, 400, 300, 1.0, true},
    };
    for (const Case& c : cases) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.analysisSize = c.analysisSize;
        engine->SetOptions(&o);
        auto photo = Photo(c.w, c.h);
        photo->scale = -1;
        RefPtr<IPanoElement> copy(engine->PrepareElement(photo.Get()));
        if (c.copyW == 0) {
            EXPECT_EQ(copy.Get(), nullptr) << c.w << "x" << c.h;
            continue;
        }
        ASSERT_NE(copy.Get(), nullptr) << c.w << "x" << c.h;
        EXPECT_EQ(copy->GetWidth(), c.copyW) << c.w << "x" << c.h;
        EXPECT_EQ(copy->GetHeight(), c.copyH) << c.w << "x" << c.h;
        EXPECT_DOUBLE_EQ(photo->scale, c.scale) << c.w << "x" << c.h;
        EXPECT_EQ(copy.Get() == photo.Get(), c.itself);
        EXPECT_EQ(photo->GetRefCount(), c.itself ? 2 : 1);
    }
}

TEST_F(EngineTest, AnalysisCopyRefusesWhatItCannotRead) {
    EXPECT_EQ(engine->PrepareElement(nullptr), nullptr);
    auto grey = Photo(2000, 1000, 8);
    EXPECT_EQ(engine->PrepareElement(grey.Get()), nullptr);
    RefPtr<CPanoElement> unloaded(new CPanoElement(0));
    ASSERT_TRUE(unloaded->CreateImage(true, 2000, 1000, false));
    EXPECT_EQ(engine->PrepareElement(unloaded.Get()), nullptr);
}

TEST(Downscale, AreaAveragingInFixedPoint) {
    // Three pixels to two: 0, 90, 180 become 30 and 150 (worked by hand).
    const std::uint8_t src[12] = {0, 0, 0, 90, 90, 90, 180, 180, 180, 0, 0, 0};
    std::uint8_t dst[8] = {};
    DownscaleRows24(dst, src, 3, 1, 2);
    EXPECT_EQ(dst[0], 30);
    EXPECT_EQ(dst[3], 150);

    // Uniform pictures stay uniform or lose at most one unit per pass (the
    // partial contributions drop their low 16 bits), for odd ratios too.
    for (auto [w, h, nw, nh] :
         {std::array{661, 500, 330, 249}, std::array{1003, 7, 400, 3}, std::array{97, 89, 13, 11}}) {
        std::vector<std::uint8_t> big(static_cast<std::size_t>((w * 3 + 3) & ~3) * h, 200);
        std::vector<std::uint8_t> mid(static_cast<std::size_t>((w * 3 + 3) & ~3) * nh);
        std::vector<std::uint8_t> small(static_cast<std::size_t>((nw * 3 + 3) & ~3) * nh);
        DownscaleColumns24(mid.data(), big.data(), w, h, nh);
        DownscaleRows24(small.data(), mid.data(), w, nh, nw);
        for (int r = 0; r < nh; ++r)
            for (int i = 0; i < nw * 3; ++i) {
                const int v = small[r * ((nw * 3 + 3) & ~3) + i];
                ASSERT_TRUE(v >= 198 && v <= 200) << w << ": " << v;
            }
        for (int x = 0; x < w * 3; ++x) {
            const int v = mid[(nh - 1) * ((w * 3 + 3) & ~3) + x];
            ASSERT_TRUE(v == 200 || v == 199) << w << ": " << v;
        }
    }
}

// Both passes against the fixed-point formula written out pixel by pixel,
// with one 64-bit division each, on random pictures: ratios near one, odd
// ones, and large ones whose sums pass 32 bits.
TEST(Downscale, MatchesThePixelByPixelFormula) {
    // Output pixel i of a line of n samples (`pitch` bytes apart) reduced to m.
    auto reference = [](const std::uint8_t* src, std::size_t pitch, std::uint64_t n, std::uint64_t m,
                        std::uint64_t i, int c) {
        const std::uint64_t step = (n << 16) / m, start = i * step, end = start + step;
        const std::uint64_t first = start >> 16, last = end >> 16;
        std::uint64_t sum = (src[first * pitch + c] * (((first + 1) << 16) - start)) & ~std::uint64_t(0xFFFF);
        for (std::uint64_t k = first + 1; k < last; ++k)
            sum += std::uint64_t(src[k * pitch + c]) << 16;
        if (last < n && last > first)
            sum += (src[last * pitch + c] * (end & 0xFFFF)) & ~std::uint64_t(0xFFFF);
        return static_cast<std::uint8_t>((sum + step / 2) / step);
    };
    auto stride = [](int w) { return static_cast<std::size_t>((w * 3 + 3) & ~3); };
    std::mt19937 rng(3);
    for (auto [w, h, nw, nh] :
         {std::array{661, 500, 330, 249}, std::array{97, 89, 96, 88}, std::array{1003, 7, 400, 3},
          std::array{5, 70000, 2, 1}, std::array{70000, 2, 1, 1}}) {
        std::vector<std::uint8_t> big(stride(w) * h);
        for (auto& v : big)
            v = std::uint8_t(rng() % 4 == 0 ? 255 : rng());
        std::vector<std::uint8_t> mid(stride(w) * nh), small(stride(nw) * nh);
        DownscaleColumns24(mid.data(), big.data(), w, h, nh);
        DownscaleRows24(small.data(), mid.data(), w, nh, nw);
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < 3 * w; ++x)
                ASSERT_EQ(mid[y * stride(w) + x], reference(big.data() + x, stride(w), h, nh, y, 0))
                    << w << "x" << h << " column " << x << " row " << y;
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(small[y * stride(nw) + 3 * x + c],
                              reference(mid.data() + y * stride(w), 3, w, nw, x, c))
                        << w << "x" << h << " pixel " << x << " row " << y;
    }
}

TEST(LensPresets, TableAndIds) {
    const double factors[] = {0.87, 0.93, 1.0, 1.125, 1.23, 1.51, 1.75, 2.3, 3.2, 3.7};
    const char* names[] = {"14mm", "15mm", "16mm", "18mm", "20mm", "24mm", "28mm", "35mm", "50mm", "60mm"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(LensPresetTable::FocalFactor(i), factors[i]);
        EXPECT_STREQ(LensPresetTable::kPresets[i].name, names[i]);
    }
    std::vector<int> ids;
    GetLensPresetIds(&ids);
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    GetLensPresetIds(nullptr);
    EXPECT_FALSE(LensPresetTable::IsValidId(10));
}

TEST(SphereWarp, MapsAreInverseAndSizesFollowTheBorder) {
    for (double f : {0.87, 1.0, 2.3}) {
        for (auto [x, y] : {std::pair{0.0, 0.0}, std::pair{123.5, 456.25}, std::pair{999.0, 10.0}}) {
            double X, Y, bx, by;
            SphereForwardMap(1000, 700, &X, &Y, x, y, f, 1.0);
            SphereInverseMap(1000, 700, &bx, &by, X, Y, f, 1.0);
            EXPECT_NEAR(bx, x, 1e-9);
            EXPECT_NEAR(by, y, 1e-9);
        }
    }
    CDibManager manager;
    g_pDibManager = &manager;
    RefPtr<CPanoElement> photo(new CPanoElement(0));
    ASSERT_TRUE(photo->Create(24, 1000, 1000));
    double scale = 0;
    RefPtr<CPanoElement> warped(MakeSphereWarpedCopy(photo.Get(), &scale, 1.0));
    ASSERT_NE(warped.Get(), nullptr);
    EXPECT_EQ(warped->GetWidth(), 1000);
    EXPECT_EQ(warped->GetHeight(), 1000);
    EXPECT_DOUBLE_EQ(scale, 1000.0 / 786.0);

    RefPtr<CPanoElement> canvas(CreateSphereCanvas(photo.Get(), 1.0));
    ASSERT_NE(canvas.Get(), nullptr);
    EXPECT_EQ(canvas->GetWidth(), 1000);
    EXPECT_FALSE(canvas->IsValid());
    EXPECT_EQ(canvas->GetMask(), nullptr);
    g_pDibManager = nullptr;
}

TEST(SphereWarp, OutsidePixelsTakeTheBorderColourAndStayMasked) {
    RefPtr<CPanoElement> photo(new CPanoElement(0));
    ASSERT_TRUE(photo->Create(24, 300, 200));
    // Column c has the value c / 2 in every channel, so the border colours are known.
    for (int r = 0; r < 200; ++r)
        for (int c = 0; c < 300; ++c)
            std::memset(photo->GetBits() + r * photo->GetStride() + 3 * c, c / 2, 3);
    double scale = 0;
    RefPtr<CPanoElement> warped(MakeSphereWarpedCopy(photo.Get(), &scale, 0.87));
    ASSERT_NE(warped.Get(), nullptr);
    const int W = warped->GetWidth(), H = warped->GetHeight();
    EXPECT_EQ(std::max(W, H), 300);
    const std::uint8_t* mask = warped->GetMask();
    const int ms = warped->GetMaskStride();
    // The centre is covered and keeps its colour; the corners of the warped
    // picture lie outside the photo.
    EXPECT_EQ(mask[(H / 2) * ms + W / 2], 255);
    EXPECT_NEAR(warped->GetBits()[(H / 2) * warped->GetStride() + 3 * (W / 2)], 75, 2);
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[(H - 1) * ms + W - 1], 0);
    // Left and right columns outside the photo repeat its border columns.
    const std::uint8_t* leftTop = warped->GetBits();
    const std::uint8_t* rightBottom = warped->GetBits() + (H - 1) * warped->GetStride() + 3 * (W - 1);
    EXPECT_LE(leftTop[0], 2);
    EXPECT_GE(rightBottom[0], 147);

    // Grey photos warp to grey.
    RefPtr<CPanoElement> grey(new CPanoElement(0));
    ASSERT_TRUE(grey->Create(8, 120, 80));
    RefPtr<CPanoElement> greyWarp(MakeSphereWarpedCopy(grey.Get(), &scale, 1.0));
    ASSERT_NE(greyWarp.Get(), nullptr);
    EXPECT_EQ(greyWarp->GetBpp(), 8);
}

TEST(SphereWarp, CancelStopsAfterTheFirstThird) {
    RefPtr<CPanoElement> photo(new CPanoElement(0));
    ASSERT_TRUE(photo->Create(24, 600, 400));
    RefPtr<CPanoElement> target(CreateSphereCanvas(photo.Get(), 1.0));
    ASSERT_NE(target.Get(), nullptr);
    int asked = 0;
    EXPECT_FALSE(WarpElementToSphere(target.Get(), photo.Get(), 1.0, nullptr, [&] {
        ++asked;
        return true;
    }));
    EXPECT_EQ(asked, 1);
    const int H = target->GetHeight(), ms = target->GetMaskStride();
    EXPECT_EQ(target->GetMask()[(H / 3) * ms + target->GetWidth() / 2], 255);  // row H/3 was done
    EXPECT_EQ(target->GetMask()[(H - 1) * ms + target->GetWidth() / 2], 0);    // the last rows were not

    RefPtr<CPanoElement> second(CreateSphereCanvas(photo.Get(), 1.0));
    asked = 0;
    EXPECT_TRUE(WarpElementToSphere(second.Get(), photo.Get(), 1.0, nullptr, [&] {
        ++asked;
        return false;
    }));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(WarpElementToSphere(nullptr, photo.Get(), 1.0, nullptr, nullptr));
}

TEST_F(EngineTest, CropResultKeepsTheResultElement) {
    auto* result = dynamic_cast<CPanoElement*>(engine->GetResult(false));
    ASSERT_NE(result, nullptr);
    EXPECT_FALSE(engine->CropResult(nullptr));
    const Rect whole(0, 0, 20, 10);
    EXPECT_FALSE(engine->CropResult(&whole));  // no image yet

    ASSERT_TRUE(result->Create(24, 20, 10));
    result->CreateMask(true);
    result->GetMask()[0] = 0;
    result->x = 5;
    result->y = 6;

    // A rectangle that is not inside the result fails and loses nothing.
    const Rect outside(0, 0, 30, 30);
    EXPECT_FALSE(engine->CropResult(&outside));
    EXPECT_NE(result->GetMask(), nullptr);
    EXPECT_EQ(result->GetWidth(), 20);

    // Its own rectangle: the mask is applied to the image.
    const Rect own(5, 6, 25, 16);
    ASSERT_TRUE(engine->CropResult(&own));
    EXPECT_EQ(result->GetMask(), nullptr);
    EXPECT_EQ(result->GetBits()[0], 255);
    EXPECT_EQ(result->GetRect(), Rect(0, 0, 20, 10));

    // A part of it: the same element now holds the part, at (0, 0).
    result->GetBits()[2 * result->GetStride() + 3 * 4] = 77;
    const Rect part(3, 2, 13, 8);
    ASSERT_TRUE(engine->CropResult(&part));
    EXPECT_EQ(engine->GetResult(false), result);
    EXPECT_EQ(result->GetRect(), Rect(0, 0, 10, 6));
    EXPECT_EQ(result->GetBits()[3], 77);
}
