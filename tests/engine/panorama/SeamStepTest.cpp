// The brightness step that the planar engine leaves across its seams, on the
// shared sets and on small grey copies of them. Along each seam line the
// pixels a few columns (or rows) to either side are compared where both
// sides are even (sky, water): the difference of their mean grey levels over
// the seam's length is the seam's step.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "DibManager.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "Seams.h"
#include "TestData.h"

using OrvexBase::RefPtr;
using PanoramaFixtures::GreyCopy;

namespace {

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class SeamPanorama : public CPanorama {
public:
    using CPanorama::laplacianBlending_;
    using CPanorama::preview_;
    using CPanorama::previewResult_;
    using CPanorama::seams_;
};

struct Step {
    double step = 0.0;  // grey levels
    int photo = -1, side = 0, points = 0;
    OrvexBase::Rect strip;
};

// The largest seam step of the preview result. A seam may run along an edge
// of the scene, so what the photo itself shows across the same places is
// taken off: the step is what the joining adds.
Step LargestSeamStep(SeamPanorama& engine) {
    CPanoElement* r = engine.previewResult_;
    auto greyOf = [](const CPanoElement* e, int x, int y) {
        const std::uint8_t* p = e->GetBits() + y * e->GetStride() + 3 * x;
        return (30 * p[0] + 59 * p[1] + 11 * p[2]) / 100.0;
    };
    auto covered = [](const CPanoElement* e, const std::uint8_t* mask, int x, int y) {
        return x >= 0 && y >= 0 && x < e->GetWidth() && y < e->GetHeight() &&
               (!mask || mask[y * e->GetMaskStride() + x] != 0);
    };
    constexpr int kGap = 2, kSpan = 3, kEven = 4;
    Step worst;
    for (std::size_t i = 0; i < engine.seams_.size() && i < engine.preview_.warped.size(); ++i) {
        CPanoElement* warped = engine.preview_.warped[i];
        if (!warped)
            continue;
        const std::uint8_t* photoMask =
            warped->GetSavedMaskIfAny() ? warped->GetSavedMaskIfAny() : warped->GetMask();
        for (std::int32_t side : {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM}) {
            const bool vertical = side == SEAM_LEFT || side == SEAM_RIGHT;
            const int dx = vertical ? 1 : 0, dy = vertical ? 0 : 1;
            double sum = 0;
            int n = 0;
            for (const SeamPoint& p : engine.seams_[i][side].points) {
                // Photo coordinates, and the result's at the same place.
                const int ox = warped->x - r->x, oy = warped->y - r->y;
                const int ax = p.x - dx * kGap, ay = p.y - dy * kGap, bx = p.x + dx * kGap,
                          by = p.y + dy * kGap;
                const int fx = ax - dx * kSpan, fy = ay - dy * kSpan, gx = bx + dx * kSpan,
                          gy = by + dy * kSpan;
                bool inside = true;
                for (auto [x, y] : {std::pair{ax, ay}, {bx, by}, {fx, fy}, {gx, gy}})
                    inside = inside && covered(warped, photoMask, x, y) &&
                             covered(r, r->GetMask(), x + ox, y + oy);
                if (!inside)
                    continue;
                auto even = [&](const CPanoElement* e, int shiftX, int shiftY) {
                    return std::abs(greyOf(e, ax + shiftX, ay + shiftY) -
                                    greyOf(e, fx + shiftX, fy + shiftY)) <= kEven &&
                           std::abs(greyOf(e, bx + shiftX, by + shiftY) -
                                    greyOf(e, gx + shiftX, gy + shiftY)) <= kEven;
                };
                // An even area: flat on both sides in the result, and flat
                // right across the seam in the photo.
                if (!even(r, ox, oy) || !even(warped, 0, 0) ||
                    std::abs(greyOf(warped, ax, ay) - greyOf(warped, bx, by)) > kEven)
                    continue;
                sum += (greyOf(r, ax + ox, ay + oy) - greyOf(r, bx + ox, by + oy)) -
                       (greyOf(warped, ax, ay) - greyOf(warped, bx, by));
                ++n;
            }
            // Fewer points than this are no area of sky or water.
            if (n < 20)
                continue;
            const double step = std::abs(sum) / n;
            if (step > worst.step)
                worst = {step, static_cast<int>(i), side, n, engine.seams_[i][side].strip};
        }
    }
    return worst;
}

struct SetCase {
    const char* set;
    bool ring;
};

class SeamStepTest : public ::testing::TestWithParam<std::tuple<SetCase, bool>> {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
    }
    void TearDown() override { g_pDibManager = previous; }
    double BuildAndMeasure(const SetCase& c, bool grey, bool blend);
    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    TestData::ScratchDir dir;
};

// Builds the set (or its grey copies) and returns its largest seam step;
// the preview and its worst seam go to the screenshots.
double SeamStepTest::BuildAndMeasure(const SetCase& c, bool grey, bool blend) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(TestData::Photo(c.set)))
        if (entry.path().extension() == ".jpg")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<PanoramaLib::IPanoElement*> photos;
    for (std::size_t k = 0; k < files.size(); ++k) {
        std::string path = files[k].string();
        if (grey) {
            RefPtr<CPanoElement> photo(new CPanoElement(0));
            EXPECT_TRUE(photo->Load(W(path)));
            path = dir / ("grey" + std::to_string(k) + ".png");
            EXPECT_TRUE(GreyCopy(photo.Get(), 256)->Save(W(path)));
        }
        PanoramaLib::IPanoElement* e = CreatePanoElement(0);
        EXPECT_TRUE(e->Load(W(path)));
        photos.push_back(e);
    }
    auto* engine = new SeamPanorama();
    engine->Init(nullptr, nullptr, nullptr);
    HVPanoramaOptions o;
    engine->GetOptions(&o);
    o.is360 = c.ring ? 1 : 0;
    o.autoCrop = 0;
    engine->SetOptions(&o);
    engine->laplacianBlending_ = blend;
    engine->Build(photos, nullptr, 0, 0, 0);
    EXPECT_EQ(engine->GetBuildReport()->status, 1);
    double step = -1.0;
    if (engine->previewResult_ && engine->previewResult_->IsValid()) {
        const Step s = LargestSeamStep(*engine);
        std::printf("%s%s: largest seam step %.2f (photo %d side %d, %d even points, strip %d,%d-%d,%d)\n",
                    c.set, grey ? " grey" : "", s.step, s.photo, s.side, s.points, s.strip.left, s.strip.top,
                    s.strip.right, s.strip.bottom);
        const std::filesystem::path shots = OVH_SCREENSHOT_DIR;
        std::filesystem::create_directories(shots);
        engine->previewResult_->Save(W(
            (shots / (std::string("seams-") + c.set + (grey ? "-grey" : "") + (blend ? "" : "-cut") + ".png"))
                .string()));
        // The worst seam's strip, four times enlarged, for a reviewer.
        CPanoElement* r = engine->previewResult_;
        const OrvexBase::Rect strip =
            s.strip.Intersect(OrvexBase::Rect(r->x, r->y, r->x + r->GetWidth(), r->y + r->GetHeight()));
        if (!strip.IsEmpty()) {
            constexpr int kZoom = 4;
            RefPtr<CPanoElement> zoom(new CPanoElement(0));
            EXPECT_TRUE(zoom->Create(24, kZoom * strip.Width(), kZoom * strip.Height()));
            for (int y = 0; y < zoom->GetHeight(); ++y)
                for (int x = 0; x < zoom->GetWidth(); ++x)
                    std::copy_n(r->GetBits() + (strip.top - r->y + y / kZoom) * r->GetStride() +
                                    3 * (strip.left - r->x + x / kZoom),
                                3, zoom->GetBits() + y * zoom->GetStride() + 3 * x);
            zoom->Save(W((shots / (std::string("seams-") + c.set + (grey ? "-grey" : "") +
                                   (blend ? "" : "-cut") + "-worst.png"))
                             .string()));
        }
        step = s.step;
    }
    engine->Release();
    ReleaseElementVector(photos);
    return step;
}

TEST_P(SeamStepTest, EvenAreasShowNoStepAcrossASeam) {
    OVH_REQUIRE_PHOTOS();
    const auto [c, grey] = GetParam();
    const double step = BuildAndMeasure(c, grey, true);
    EXPECT_GE(step, 0.0) << "no panorama";
    EXPECT_LE(step, 3.0);
}

// The measure sees what a hard cut leaves: without the pyramid blend the
// exposure pair's balanced photos still meet with a step.
TEST_F(SeamStepTest, WithoutTheBlendTheExposurePairShowsItsStep) {
    OVH_REQUIRE_PHOTOS();
    EXPECT_GT(BuildAndMeasure({"exposure-pair", false}, true, false), 5.0);
}

INSTANTIATE_TEST_SUITE_P(
    SharedSets, SeamStepTest,
    ::testing::Combine(::testing::Values(SetCase{"boat-row", false}, SetCase{"weir-row-distractor", false},
                                         SetCase{"apartment-ring", true}, SetCase{"exposure-pair", false}),
                       ::testing::Bool()),
    [](const auto& info) {
        std::string name = std::get<0>(info.param).set;
        std::replace(name.begin(), name.end(), '-', '_');
        return name + (std::get<1>(info.param) ? "_grey" : "");
    });

}  // namespace
