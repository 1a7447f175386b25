// Photos of different scenes must never be stitched: every pair of photos
// taken from two different shared sets, in colour at full size and as small
// grey copies (where low texture makes chance agreements likelier), in both
// orders, is refused by both engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "DibManager.h"
#include "FreeThreading.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "RecordingCallbacks.h"
#include "TestData.h"
#include "TiledPanorama.h"

using OrvexBase::RefPtr;
using PanoramaFixtures::GreyCopy;
using PanoramaFixtures::W;

namespace {

// Two photos of each shared colour set (the map scans are grey files, which
// the engines do not open).
const std::vector<std::string> kPhotos = {
    "boat-row/boat1.jpg",
    "boat-row/boat4.jpg",
    "weir-row-distractor/weir_1.jpg",
    "weir-row-distractor/weir_3.jpg",
    "apartment-ring/small-01.jpg",
    "apartment-ring/small-07.jpg",
    "exposure-pair/exposure_error_1.jpg",
    "exposure-pair/exposure_error_2.jpg",
};

bool SameSet(const std::string& a, const std::string& b) {
    return a.substr(0, a.find('/')) == b.substr(0, b.find('/'));
}

class UnrelatedPairsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
    }
    void TearDown() override { g_pDibManager = previous; }

    // The files of the photos as the engines get them: the originals, or
    // grey copies 256 pixels wide saved beside the test.
    std::vector<std::string> Files(bool grey) {
        std::vector<std::string> files;
        for (std::size_t k = 0; k < kPhotos.size(); ++k) {
            const std::string path = TestData::Photo(kPhotos[k]).string();
            if (!grey) {
                files.push_back(path);
                continue;
            }
            RefPtr<CPanoElement> photo(new CPanoElement(0));
            EXPECT_TRUE(photo->Load(W(path))) << path;
            const std::string out = dir / ("grey" + std::to_string(k) + ".png");
            EXPECT_TRUE(GreyCopy(photo.Get(), 256)->Save(W(out)));
            files.push_back(out);
        }
        return files;
    }

    static std::vector<PanoramaLib::IPanoElement*> Open(const std::vector<std::string>& files) {
        return PanoramaFixtures::OpenPhotos(files);
    }

    // True when the engine made a panorama holding both photos.
    static bool Stitched(PanoramaLib::IPanorama* engine, std::vector<PanoramaLib::IPanoElement*>& photos) {
        engine->Build(photos, nullptr, 0, 0, 0);
        const BuildReport* report = engine->GetBuildReport();
        return report->status == 1 && report->unmatched.empty();
    }

    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    TestData::ScratchDir dir;
};

TEST_P(UnrelatedPairsTest, NeitherEngineStitchesPhotosOfDifferentScenesInEitherOrder) {
    OVH_REQUIRE_PHOTOS();
    const bool grey = GetParam();
    const std::vector<std::string> files = Files(grey);
    CFreeThreading threads;
    TestDoubles::RecordingUserInterface ui;
    TestDoubles::RecordingWaitCursor cursor;
    // At full size one photo of each set keeps the run short.
    const std::size_t step = grey ? 1 : 2;
    for (std::size_t a = 0; a < files.size(); a += step)
        for (std::size_t b = 0; b < files.size(); b += step) {
            if (SameSet(kPhotos[a], kPhotos[b]))
                continue;
            const std::string pair = kPhotos[a] + " + " + kPhotos[b];
            std::vector<PanoramaLib::IPanoElement*> photos = Open({files[a], files[b]});

            CPanorama* planar = new CPanorama();
            planar->Init(nullptr, nullptr, nullptr);
            EXPECT_FALSE(Stitched(planar, photos)) << "planar: " << pair;
            planar->Release();

            PanoramaLib::ITiledPanorama* tiled = CreateTiledPanorama(&manager);
            tiled->Init(&threads, &cursor, &ui);
            EXPECT_FALSE(Stitched(tiled, photos)) << "tiled: " << pair;
            tiled->Release();

            ReleaseElementVector(photos);
        }
}

// A photo shrunk to a third and pasted far inside another is what a chance
// agreement of unrelated photos looks like: no camera turning on the spot
// makes it, so the planar engine keeps such photos apart in either order.
TEST_F(UnrelatedPairsTest, APhotoShrunkIntoTheMiddleOfAnotherIsNoNeighbour) {
    OVH_REQUIRE_PHOTOS();
    RefPtr<CPanoElement> a(new CPanoElement(0)), b(new CPanoElement(0));
    ASSERT_TRUE(a->Load(W(TestData::Photo("boat-row/boat1.jpg").string())));
    ASSERT_TRUE(b->Load(W(TestData::Photo("weir-row-distractor/weir_1.jpg").string())));
    RefPtr<CPanoElement> small = GreyCopy(a.Get(), 256);
    RefPtr<CPanoElement> patch = GreyCopy(a.Get(), 96);
    RefPtr<CPanoElement> large = GreyCopy(b.Get(), 256);
    const int px = (large->GetWidth() - patch->GetWidth()) / 2,
              py = (large->GetHeight() - patch->GetHeight()) / 2;
    for (int y = 0; y < patch->GetHeight(); ++y)
        std::copy_n(patch->GetBits() + y * patch->GetStride(), 3 * patch->GetWidth(),
                    large->GetBits() + (py + y) * large->GetStride() + 3 * px);
    const std::string fa = dir / "photo.png", fb = dir / "with-patch.png";
    ASSERT_TRUE(small->Save(W(fa)));
    ASSERT_TRUE(large->Save(W(fb)));
    for (const auto& files : {std::vector<std::string>{fa, fb}, std::vector<std::string>{fb, fa}}) {
        std::vector<PanoramaLib::IPanoElement*> photos = Open(files);
        CPanorama* planar = new CPanorama();
        planar->Init(nullptr, nullptr, nullptr);
        EXPECT_FALSE(Stitched(planar, photos)) << files[0];
        planar->Release();
        ReleaseElementVector(photos);
    }
}

INSTANTIATE_TEST_SUITE_P(SharedSets, UnrelatedPairsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "GreySmall" : "FullColour"; });

}  // namespace
