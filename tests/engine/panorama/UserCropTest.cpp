#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <utility>

#include "DibManager.h"
#include "Panorama.h"
#include "RecordingCallbacks.h"
#include "TestData.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

class CroppingPanorama : public CPanorama {
public:
    using CPanorama::copies_;
    using CPanorama::cropRect_;
    using CPanorama::full_;
    using CPanorama::fullResult_;
    using CPanorama::preview_;
    using CPanorama::previewResult_;
    using CPanorama::userCrop_;
    using CPanorama::workPhotos_;
};

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::vector<std::uint8_t> Pixels(IPanoElement* e) {
    return std::vector<std::uint8_t>(e->GetBits(), e->GetBits() + e->GetStride() * e->GetHeight());
}

// Pixels of area (panorama coordinates; the result's corner at origin)
// where the result's step to the right neighbour differs by more than 20
// from the element's own step: the second photo's checkerboard shows there.
// Exposure balance scales the element smoothly and changes steps far less.
int Checkered(IPanoElement* result, const Rect& origin, CPanoElement* element, const Rect& area) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x + 1 < area.right; ++x) {
            const std::uint8_t* a =
                result->GetBits() + (y - origin.top) * result->GetStride() + 3 * (x - origin.left);
            const std::uint8_t* b =
                element->GetBits() + (y - element->y) * element->GetStride() + 3 * (x - element->x);
            if (std::abs((a[3] - a[0]) - (b[3] - b[0])) > 20)
                ++count;
        }
    return count;
}

class UserCropTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pDibManager = &manager;
        engine = new CroppingPanorama();
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        engine->Release();
        g_pDibManager = nullptr;
    }
    // Two 320 x 300 crops of one photo overlapping by 120 px, a fine
    // checkerboard over the second, saved to files; built without lens
    // compensation.
    void Build(bool autoCrop) {
        RefPtr<CPanoElement> source(new CPanoElement(0));
        ASSERT_TRUE(source->Load(W(TestData::Photo("boat-row/boat3.jpg").string())));
        const Rect rects[2] = {Rect(0, 0, 320, 300), Rect(200, 10, 520, 310)};
        for (int k = 0; k < 2; ++k) {
            RefPtr<CPanoElement> crop(source->ExtractRegion(false, rects[k]));
            ASSERT_NE(crop.Get(), nullptr);
            if (k == 1)
                for (int y = 0; y < crop->GetHeight(); ++y)
                    for (int i = 0; i < crop->GetWidth() * 3; ++i) {
                        std::uint8_t& v = crop->GetBits()[y * crop->GetStride() + i];
                        v = static_cast<std::uint8_t>(std::clamp(v + ((i / 3 + y) % 2 ? 25 : -25), 0, 255));
                    }
            const std::string path = dir / ("crop" + std::to_string(k) + ".png");
            ASSERT_TRUE(crop->Save(W(path)));
            IPanoElement* photo = CreatePanoElement(0);
            ASSERT_TRUE(photo->Load(W(path)));
            photos.push_back(photo);
        }
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = 0;
        o.autoCrop = autoCrop ? 1 : 0;
        engine->SetOptions(&o);
        ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
        ASSERT_EQ(engine->CompositedList().size(), 2u);
    }
    // The preview's corner in panorama pixels.
    Rect Origin(bool autoCrop) const {
        return autoCrop ? Rect(engine->cropRect_.left, engine->cropRect_.top, 0, 0) : Rect();
    }

    CDibManager manager;
    CroppingPanorama* engine = nullptr;
    std::vector<IPanoElement*> photos;
    TestData::ScratchDir dir;
};

}  // namespace

TEST_F(UserCropTest, RectanglesThatChangeNothing) {
    OVH_REQUIRE_PHOTOS();
    Build(false);
    IPanoElement* preview = engine->GetResult(false);
    const std::vector<std::uint8_t> before = Pixels(preview);
    const Rect alone(10, 20, 60, 80);  // in the left photo only
    struct Case {
        const char* name;
        Rect r;
        Rect stored;
    };
    const Rect outside(preview->GetWidth() - 20, 10, preview->GetWidth() + 30, 50);
    for (const Case& c :
         {Case{"empty", Rect(30, 30, 30, 90), Rect(30, 30, 30, 90)}, Case{"inside one photo", alone, alone},
          Case{"outside the preview", outside, alone}}) {
        SCOPED_TRACE(c.name);
        Rect r = c.r;
        engine->SetCropRect(r);
        EXPECT_EQ(engine->userCrop_.Area(), c.stored);
        EXPECT_EQ(engine->userCrop_.Element(), -1);
        EXPECT_EQ(Pixels(preview), before);
    }
}

TEST_F(UserCropTest, OverlapGoesToThePhotoDrawnFirst) {
    OVH_REQUIRE_PHOTOS();
    for (bool autoCrop : {false, true}) {
        SCOPED_TRACE(autoCrop ? "auto-cropped preview" : "whole preview");
        ReleaseElementVector(photos);
        Build(autoCrop);
        IPanoElement* preview = engine->GetResult(false);
        const int width = preview->GetWidth(), height = preview->GetHeight();
        const int covering = engine->CompositedList()[0], chosen = engine->CompositedList()[1];
        const Rect origin = Origin(autoCrop);
        // The overlap of the two photos, in panorama pixels.
        const Rect overlap =
            engine->preview_.warped[0]->GetRect().Intersect(engine->preview_.warped[1]->GetRect());
        ASSERT_GT(overlap.Width(), 80);
        const Rect area =
            overlap.Intersect(Rect(origin.left, origin.top, origin.left + width, origin.top + height));
        const Rect inner(area.left + 6, area.top + 6, area.right - 6, area.bottom - 6);
        const std::vector<std::uint8_t> before = Pixels(preview);
        RefPtr<CPanoElement> first(engine->preview_.warped[covering].Get());
        first->AddRef();
        // Without a crop the seam runs through the overlap: part of it shows
        // the second photo.
        ASSERT_GT(Checkered(preview, origin, first.Get(), inner), 10 * inner.Height());

        // A stale full-size picture must not survive the change.
        ASSERT_TRUE(engine->fullResult_->CreateImage(true, 8, 8, true));
        Rect r(area.left - origin.left, area.top - origin.top, area.right - origin.left,
               area.bottom - origin.top);
        engine->SetCropRect(r);
        EXPECT_EQ(engine->userCrop_.Element(), chosen);
        EXPECT_FALSE(engine->GetFullResult()->IsValid());
        EXPECT_EQ(preview->GetWidth(), width);
        EXPECT_EQ(preview->GetHeight(), height);
        EXPECT_EQ(preview->GetRect().left, 0);
        // Only the seam line and its neighbours may still show the
        // checkerboard.
        EXPECT_LE(Checkered(preview, origin, first.Get(), inner), 3 * inner.Height());
        // The chosen photo gives up the rectangle; its seam line, one pixel
        // a row, may still cross it.
        CPanoElement* second = engine->preview_.warped[chosen].Get();
        int kept = 0;
        for (int y = inner.top; y < inner.bottom; ++y)
            for (int x = inner.left; x < inner.right; ++x)
                kept += second->GetMask()[(y - second->y) * second->GetMaskStride() + x - second->x] != 0;
        EXPECT_LE(kept, inner.Height());
        EXPECT_NE(Pixels(preview), before);

        // Render carries the rectangle over (these photos are their own
        // analysis copies) and clears it afterwards.
        ASSERT_TRUE(engine->Render());
        EXPECT_EQ(engine->userCrop_.Element(), -1);
        EXPECT_TRUE(engine->userCrop_.Area().IsEmpty());
        IPanoElement* full = engine->GetFullResult();
        ASSERT_EQ(full->GetWidth(), width);
        ASSERT_EQ(full->GetHeight(), height);
        // The render unloads the photos (these are their own copies).
        first->Reload();
        ASSERT_TRUE(first->IsValid());
        EXPECT_LE(Checkered(full, origin, first.Get(), inner), 3 * inner.Height());
        engine->FreeResults();
    }
}

TEST_F(UserCropTest, ACropAskedForWhileRenderingChangesNothing) {
    OVH_REQUIRE_PHOTOS();
    Build(false);
    const Rect overlap =
        engine->preview_.warped[0]->GetRect().Intersect(engine->preview_.warped[1]->GetRect());
    ASSERT_TRUE(engine->Render());
    const std::vector<std::uint8_t> clean = Pixels(engine->GetFullResult());
    engine->FreeResults();
    engine->Reset(false, false);
    ReleaseElementVector(photos);
    Build(false);

    // A progress callback (a window pumping its events) asks for a crop in
    // the overlap while the render composites the photos it would cut.
    struct CroppingProgress : TestDoubles::RecordingProgress {
        std::function<void()> during;
        bool SetProgress(int total, int position) override {
            if (during)
                std::exchange(during, nullptr)();
            return RecordingProgress::SetProgress(total, position);
        }
    } progress;
    int chosenDuringRender = -2;
    progress.during = [&] {
        Rect r = overlap;
        engine->SetCropRect(r);
        chosenDuringRender = engine->userCrop_.Element();
    };
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->Render());
    engine->SetProgressIndicator(nullptr);
    EXPECT_EQ(chosenDuringRender, -1);
    EXPECT_TRUE(Pixels(engine->GetFullResult()) == clean);
}

TEST_F(UserCropTest, RectangleCarriedToFullSize) {
    // A 100 x 80 analysis copy of a 200 x 160 photo; panorama pixels count
    // from (10, 5) in the preview and from (20, 10) at full size.
    engine->copies_.emplace_back(new CPanoElement(0));
    engine->workPhotos_.emplace_back(new CPanoElement(0));
    ASSERT_TRUE(engine->copies_[0]->CreateImage(true, 100, 80, false));
    ASSERT_TRUE(engine->workPhotos_[0]->CreateImage(true, 200, 160, false));
    engine->preview_.transforms = {{1, 0, -10, 0, 1, -5, 0, 0, 1}};
    engine->full_.transforms = {{1, 0, -20, 0, 1, -10, 0, 0, 1}};
    CUserCrop crop(Rect(20, 10, 60, 40), 0);
    crop.CarryToFullSize(engine->preview_, engine->full_, engine->copies_, engine->workPhotos_);
    EXPECT_EQ(crop.Area(), Rect(40, 20, 120, 80));
    EXPECT_EQ(crop.Element(), 0);

    // No chosen photo: nothing to carry.
    CUserCrop unchosen(Rect(40, 20, 120, 80), -1);
    unchosen.CarryToFullSize(engine->preview_, engine->full_, engine->copies_, engine->workPhotos_);
    EXPECT_EQ(unchosen.Area(), Rect(40, 20, 120, 80));
}
