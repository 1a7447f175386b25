// Whole-panorama checks for artefacts of the planar engine on crops of real
// photos: seams, exposure balance and blend must neither leave lines nor show
// pixels that no photo covers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "DibManager.h"
#include "Panorama.h"
#include "TestData.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class PlanarArtefactsTest : public ::testing::Test {
protected:
    class Engine : public CPanorama {
    public:
        using CPanorama::previewWarped_;
    };

    void SetUp() override {
        g_pDibManager = &manager;
        engine = new Engine();
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
    Engine* engine = nullptr;
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
