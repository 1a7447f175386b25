// Whole-panorama checks for artefacts of the planar engine on crops of real
// photos: seams, exposure balance and blend must neither leave lines nor show
// pixels that no photo covers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "Blender.h"
#include "DibManager.h"
#include "Exposure.h"
#include "LensPresets.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "Seams.h"
#include "TestData.h"
#include "Warp.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaFixtures::Snapshot;
using PanoramaFixtures::W;
using PanoramaLib::IPanoElement;

namespace {

class PlanarArtefactsTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        engine = new CPanorama();
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.autoCrop = 0;
        engine->SetOptions(&o);
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        engine->Release();
        g_pDibManager = nullptr;
    }
    void SetOptions(bool lens, int preset = 7) {
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = lens ? 1 : 0;
        o.lensPresetId = preset;
        engine->SetOptions(&o);
    }

    static RefPtr<CPanoElement> Load(const std::string& relative) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        EXPECT_TRUE(e->Load(W(TestData::Photo(relative).string()))) << relative;
        return e;
    }

    // Crops of source, each scaled in brightness by its gain and darkened
    // towards its corners by vignetting, saved to files so that the engine can
    // unload and reload them.
    void MakeCrops(CPanoElement* source, const std::vector<Rect>& rects, const std::vector<double>& gains,
                   double vignetting = 0.0) {
        for (std::size_t k = 0; k < rects.size(); ++k) {
            RefPtr<CPanoElement> crop(source->ExtractRegion(false, rects[k]));
            ASSERT_NE(crop.Get(), nullptr);
            const double gain = k < gains.size() ? gains[k] : 1.0;
            const double cx = crop->GetWidth() / 2.0, cy = crop->GetHeight() / 2.0;
            for (int y = 0; y < crop->GetHeight(); ++y)
                for (int i = 0; i < crop->GetWidth() * 3; ++i) {
                    const double r2 =
                        ((i / 3 - cx) * (i / 3 - cx) + (y - cy) * (y - cy)) / (cx * cx + cy * cy);
                    std::uint8_t& b = crop->GetBits()[y * crop->GetStride() + i];
                    b = static_cast<std::uint8_t>(
                        std::min(255.0, std::round(b * gain * (1 - vignetting * r2))));
                }
            const std::string path = dir / ("crop" + std::to_string(k) + ".png");
            ASSERT_TRUE(crop->Save(W(path)));
            IPanoElement* photo = CreatePanoElement(0);
            ASSERT_TRUE(photo->Load(W(path)));
            photos.push_back(photo);
        }
    }

    CDibManager manager;
    CPanorama* engine = nullptr;
    std::vector<IPanoElement*> photos;
    TestData::ScratchDir dir;
};

// Rows [top, bottom) of e painted in one flat colour.
void PaintBand(CPanoElement* e, int top, int bottom) {
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < e->GetWidth(); ++x) {
            std::uint8_t* p = e->GetBits() + y * e->GetStride() + 3 * x;
            p[0] = 205;
            p[1] = 170;
            p[2] = 125;
        }
}

// The longest run of rows in one column whose pixel stands out from its two
// horizontal neighbours while these agree and the area around is flat: a line
// one pixel wide through an even area.
int LongestVerticalLine(CPanoElement* e) {
    auto at = [&](int x, int y, int c) {
        return static_cast<int>(e->GetBits()[y * e->GetStride() + 3 * x + c]);
    };
    int longest = 0;
    for (int x = 2; x + 2 < e->GetWidth(); ++x) {
        int run = 0;
        for (int y = 0; y < e->GetHeight(); ++y) {
            bool line = false;
            for (int c = 0; c < 3 && !line; ++c) {
                const int l = at(x - 1, y, c), r = at(x + 1, y, c), p = at(x, y, c);
                const bool flat = std::abs(l - r) <= 2 && std::abs(at(x - 2, y, c) - l) <= 2 &&
                                  std::abs(at(x + 2, y, c) - r) <= 2;
                line = flat && std::abs(p - (l + r) / 2) >= 5;
            }
            run = line ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

}  // namespace

TEST_F(PlanarArtefactsTest, SeamLeavesNoLineThroughAnEvenSky) {
    OVH_REQUIRE_PHOTOS();
    SetOptions(false);
    RefPtr<CPanoElement> source = Load("weir-row-distractor/weir_1.jpg");
    ASSERT_TRUE(source->IsValid());
    // Two rows, the lower photo darker; most of their overlap is an even sky.
    PaintBand(source.Get(), 170, 330);
    MakeCrops(source.Get(), {Rect(100, 50, 500, 350), Rect(130, 150, 530, 450)}, {1.0, 0.8});
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    ASSERT_EQ(engine->GetBuildReport()->status, 1);
    auto* preview = static_cast<CPanoElement*>(engine->GetResult(false));
    EXPECT_LT(LongestVerticalLine(preview), 8);
    RefPtr<CPanoElement> previewCopy(preview->ExtractRegion(false, preview->GetRect()));
    // The photos are smaller than the analysis size: the full-size render
    // works at the same scale and must cut the photos along the very seams
    // of the preview, to the last row and column of every strip.
    ASSERT_TRUE(engine->Render());
    auto* full = static_cast<CPanoElement*>(engine->GetFullResult());
    ASSERT_TRUE(full->IsValid());
    ASSERT_EQ(full->GetWidth(), previewCopy->GetWidth());
    ASSERT_EQ(full->GetHeight(), previewCopy->GetHeight());
    int worst = 0, worstX = -1;
    for (int y = 0; y < full->GetHeight(); ++y)
        for (int i = 0; i < 3 * full->GetWidth(); ++i) {
            const int d = std::abs(full->GetBits()[y * full->GetStride() + i] -
                                   previewCopy->GetBits()[y * previewCopy->GetStride() + i]);
            if (d > worst) {
                worst = d;
                worstX = i / 3;
            }
        }
    EXPECT_LE(worst, 2) << "at column " << worstX;
    EXPECT_LT(LongestVerticalLine(full), 8);
}

namespace {

// Two neighbouring photos with lens-bent borders, as the lens compensation
// makes them: crops of a real photo warped onto the sphere of the widest
// preset, whose corners hold no picture (mask 0, the edge colour repeated).
// The first is the result so far; the second, placed lower right of it and
// darker, is the photo about to join it.
class LensBentPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        if (!TestData::HavePhotos())
            return;
        RefPtr<CPanoElement> source(new CPanoElement(0));
        ASSERT_TRUE(source->Load(W(TestData::Photo("weir-row-distractor/weir_1.jpg").string())));
        const double f = LensPresetTable::FocalFactor(0);
        // a and c, below and left of it, are the result so far; b joins them
        // above a and further right.
        RefPtr<CPanoElement> a(source->ExtractRegion(false, Rect(400, 200, 656, 392)));
        RefPtr<CPanoElement> c(source->ExtractRegion(false, Rect(300, 310, 556, 502)));
        RefPtr<CPanoElement> b(source->ExtractRegion(false, Rect(480, 160, 736, 352)));
        for (int y = 0; y < b->GetHeight(); ++y)
            for (int i = 0; i < 3 * b->GetWidth(); ++i) {
                std::uint8_t& v = b->GetBits()[y * b->GetStride() + i];
                v = static_cast<std::uint8_t>(v * 7 / 10);
            }
        RefPtr<CPanoElement> wa(MakeSphereWarpedCopy(a.Get(), nullptr, f));
        RefPtr<CPanoElement> wc(MakeSphereWarpedCopy(c.Get(), nullptr, f));
        photo.Reset(MakeSphereWarpedCopy(b.Get(), nullptr, f));
        ASSERT_TRUE(wa && wc && photo && wa->GetMask() && wc->GetMask() && photo->GetMask());
        result.Reset(new CPanoElement(0));
        ASSERT_TRUE(result->Create(24, 180 + photo->GetWidth(), 150 + wc->GetHeight()));
        result->FillImageWhite();
        result->CreateMask(false);
        for (auto [e, ex, ey] : {std::tuple{wa.Get(), 100, 40}, std::tuple{wc.Get(), 0, 150}})
            for (int y = 0; y < e->GetHeight(); ++y)
                for (int x = 0; x < e->GetWidth(); ++x) {
                    const int m = e->GetMask()[y * e->GetMaskStride() + x];
                    if (m == 0)
                        continue;
                    std::copy_n(e->GetBits() + y * e->GetStride() + 3 * x, 3,
                                result->GetBits() + (y + ey) * result->GetStride() + 3 * (x + ex));
                    result->GetMask()[(y + ey) * result->GetMaskStride() + x + ex] =
                        static_cast<std::uint8_t>(m);
                }
        const double shift[9] = {1, 0, -180, 0, 1, 0, 0, 0, 1};
        photoRect = photo->GetRect();
        RefPtr<CPanoElement> warped(WarpPhotoElement(photo.Get(), shift));
        ASSERT_TRUE(warped);
        photo = std::move(warped);
        photo->GetSavedMask();  // the mask before the seam, as the compositing keeps it
        coverage = CopyMask(photo.Get());
        resultCoverage = CopyMask(result.Get());
        std::copy(shift, shift + 9, transform);
    }
    void TearDown() override {
        result.Reset();
        photo.Reset();
        g_pDibManager = nullptr;
    }
    // A fresh pair, for each case of a table.
    void Fresh() {
        TearDown();
        SetUp();
    }
    int Coverage(int x, int y) const {  // the photo's, panorama coordinates
        return coverage[(y - photo->y) * photo->GetMaskStride() + (x - photo->x)];
    }
    int ResultCoverage(int x, int y) const {
        return resultCoverage[(y - result->y) * result->GetMaskStride() + (x - result->x)];
    }

    CDibManager manager;
    RefPtr<CPanoElement> result, photo;
    Rect photoRect;
    double transform[9];
    std::vector<std::uint8_t> coverage, resultCoverage;
};

}  // namespace

TEST_F(LensBentPairTest, SeamNeverUncoversAPixelNorCutsWhereNothingElseShows) {
    OVH_REQUIRE_PHOTOS();
    for (int model : {2, 0}) {
        Fresh();
        SeamSet seams;
        ASSERT_TRUE(ComputeSeamMask(photo.Get(), result.Get(), model, &seams));
        int raised = 0, lost = 0;
        for (int y = photo->y; y < photo->y + photo->GetHeight(); ++y)
            for (int x = photo->x; x < photo->x + photo->GetWidth(); ++x) {
                const int m = photo->GetMask()[(y - photo->y) * photo->GetMaskStride() + (x - photo->x)];
                raised += m > Coverage(x, y);
                lost += m != Coverage(x, y) && ResultCoverage(x, y) == 0;
            }
        EXPECT_EQ(raised, 0) << "model " << model;
        EXPECT_EQ(lost, 0) << "model " << model;
    }
}

TEST_F(LensBentPairTest, ExposureIsMeasuredOnlyWhereBothCover) {
    OVH_REQUIRE_PHOTOS();
    // Where both cover, the result is the photo exactly; where the photo does
    // not, the result shows something else. Nothing may change.
    for (const bool raw : {true, false}) {
        Fresh();
        for (int y = photo->y; y < photo->y + photo->GetHeight(); ++y)
            for (int x = photo->x; x < photo->x + photo->GetWidth(); ++x) {
                std::uint8_t* r = result->GetBits() + y * result->GetStride() + 3 * x;
                const std::uint8_t* p =
                    photo->GetBits() + (y - photo->y) * photo->GetStride() + 3 * (x - photo->x);
                if (Coverage(x, y) != 0)
                    std::copy(p, p + 3, r);
                result->GetMask()[y * result->GetMaskStride() + x] = 255;
            }
        const std::vector<std::uint8_t> before = Snapshot(result.Get());
        const std::vector<std::uint8_t> photoBefore = Snapshot(photo.Get());
        BalanceExposure(result.Get(), photo.Get(), photoRect, transform, raw);
        EXPECT_TRUE(Snapshot(result.Get()) == before) << "raw " << raw;
        EXPECT_TRUE(Snapshot(photo.Get()) == photoBefore) << "raw " << raw;
    }
}

TEST_F(LensBentPairTest, BlendShowsThePhotoWhereTheResultHadNothing) {
    OVH_REQUIRE_PHOTOS();
    // One photo's steps of the compositing.
    SeamSet seams;
    ComputeSeamMask(photo.Get(), result.Get(), 2, &seams);
    const std::vector<std::uint8_t> cut = CopyMask(photo.Get());
    BalanceExposure(result.Get(), photo.Get(), photoRect, transform, true);
    LaplacianBlender blender;
    ASSERT_TRUE(blender.Blend(4, photo.Get(), result.Get()));
    CompositeOver(result.Get(), photo.Get(), blender.GetOverlapRect());
    blender.WriteResult(result.Get());
    // Every pixel the result gained shows the photo: the blend weighed it by
    // the photo's mask there. A pixel the photo was cut away from would show
    // what the blend filled the result's empty places with.
    int gained = 0, filled = 0;
    for (int y = photo->y; y < photo->y + photo->GetHeight(); ++y)
        for (int x = photo->x; x < photo->x + photo->GetWidth(); ++x) {
            if (ResultCoverage(x, y) != 0 || result->GetMask()[y * result->GetMaskStride() + x] == 0)
                continue;
            ++gained;
            filled += cut[(y - photo->y) * photo->GetMaskStride() + (x - photo->x)] == 0;
        }
    ASSERT_GT(gained, 1000);
    EXPECT_EQ(filled, 0) << "of " << gained;
}
