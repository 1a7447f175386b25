// Two photos of nearly the same view (a near-duplicate pair from a shared
// set, and a photo beside a copy of it shifted by a pixel or two or scaled
// by a percent or two) tell little of the camera: each engine stitches them
// into a picture at least as large as either photo, the tiled one with focal
// lengths a camera has and a lens that folds no photo, or refuses them.
// Never a success with an absurd fit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "DibManager.h"
#include "FreeThreading.h"
#include "LensModel.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "RecordingCallbacks.h"
#include "TestData.h"
#include "TiledPanorama.h"

using OrvexBase::RefPtr;
using PanoramaFixtures::W;

namespace {

// A copy of `photo` whose pixel (x, y) shows the photo at source(x, y),
// sampled bilinearly, the border repeated.
RefPtr<CPanoElement> Resampled(CPanoElement* photo,
                               const std::function<void(double, double, double&, double&)>& source) {
    const int w = photo->GetWidth(), h = photo->GetHeight();
    RefPtr<CPanoElement> out(new CPanoElement(0));
    EXPECT_TRUE(out->Create(24, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double sx, sy;
            source(x, y, sx, sy);
            sx = std::clamp(sx, 0.0, w - 1.0);
            sy = std::clamp(sy, 0.0, h - 1.0);
            const int x0 = std::min(static_cast<int>(sx), w - 2), y0 = std::min(static_cast<int>(sy), h - 2);
            const double fx = sx - x0, fy = sy - y0;
            auto at = [&](int col, int row, int c) {
                return photo->GetBits()[row * photo->GetStride() + 3 * col + c];
            };
            for (int c = 0; c < 3; ++c) {
                const double v = (1 - fy) * ((1 - fx) * at(x0, y0, c) + fx * at(x0 + 1, y0, c)) +
                                 fy * ((1 - fx) * at(x0, y0 + 1, c) + fx * at(x0 + 1, y0 + 1, c));
                out->GetBits()[y * out->GetStride() + 3 * x + c] = static_cast<std::uint8_t>(v + 0.5);
            }
        }
    return out;
}

struct Pair {
    const char* name;
    // The second photo: a file of the set, or the first one moved.
    const char* second;
    double dx, dy, scale;
};

const Pair kPairs[] = {
    {"set pair", "skyline-multirow/shanghai-01.png", 0, 0, 1},
    {"shift 1 px", nullptr, 1, 0, 1},
    {"shift 3 px, 2 px", nullptr, 3, 2, 1},
    {"scale 1 %", nullptr, 0, 0, 1.01},
    {"scale 2 %", nullptr, 0, 0, 1.02},
};

class NearDuplicatePairsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
    }
    void TearDown() override { g_pDibManager = previous; }

    std::vector<std::string> Files(const Pair& pair) {
        const std::string first = TestData::Photo("skyline-multirow/shanghai-00.png").string();
        if (pair.second)
            return {first, TestData::Photo(pair.second).string()};
        RefPtr<CPanoElement> photo(new CPanoElement(0));
        EXPECT_TRUE(photo->Load(W(first)));
        const double cx = 0.5 * (photo->GetWidth() - 1), cy = 0.5 * (photo->GetHeight() - 1);
        RefPtr<CPanoElement> moved = Resampled(photo.Get(), [&](double x, double y, double& sx, double& sy) {
            sx = cx + (x - cx) / pair.scale - pair.dx;
            sy = cy + (y - cy) / pair.scale - pair.dy;
        });
        const std::string out = dir / "moved.png";
        EXPECT_TRUE(moved->Save(W(out)));
        return {first, out};
    }

    static std::vector<PanoramaLib::IPanoElement*> Open(const std::vector<std::string>& files) {
        return PanoramaFixtures::OpenPhotos(files);
    }

    // A success must hold both photos in a full-size picture no smaller
    // than either; a refusal must say no panorama could be made.
    static void ExpectRightOrRefused(const BuildReport& report, PanoramaLib::IPanoElement* result,
                                     const std::vector<PanoramaLib::IPanoElement*>& photos,
                                     const std::string& what) {
        if (report.status != 1) {
            EXPECT_EQ(report.status, 3) << what;
            return;
        }
        EXPECT_TRUE(report.unmatched.empty()) << what;
        ASSERT_TRUE(result && result->IsValid()) << what;
        for (PanoramaLib::IPanoElement* p : photos) {
            EXPECT_GE(result->GetWidth(), p->GetWidth()) << what;
            EXPECT_GE(result->GetHeight(), p->GetHeight()) << what;
        }
    }

    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    TestData::ScratchDir dir;
};

TEST_F(NearDuplicatePairsTest, EitherEngineStitchesThemRightOrRefusesThem) {
    OVH_REQUIRE_PHOTOS();
    CFreeThreading threads;
    TestDoubles::RecordingUserInterface ui;
    TestDoubles::RecordingWaitCursor cursor;
    for (const Pair& pair : kPairs) {
        std::vector<PanoramaLib::IPanoElement*> photos = Open(Files(pair));
        const double width = photos[0]->GetWidth();
        const double corner = 0.5 * std::hypot(photos[0]->GetWidth(), photos[0]->GetHeight());

        CPanorama* planar = new CPanorama();
        planar->Init(nullptr, nullptr, nullptr);
        PanoramaFixtures::UseBenchmarkSettings(planar, false);
        planar->Build(photos, nullptr, 0, 0, 0);
        if (planar->GetBuildReport()->status == 1)
            planar->Render();
        ExpectRightOrRefused(*planar->GetBuildReport(), planar->GetResult(true), photos,
                             std::string("planar, ") + pair.name);
        planar->Release();

        for (const bool lens : {true, false})
            for (const SurfaceKind kind : {SurfaceCylinder, SurfaceSphere}) {
                const std::string what = std::string(kind == SurfaceSphere ? "sphere" : "cylinder") +
                                         (lens ? ", lens, " : ", no lens, ") + pair.name;
                auto* tiled = static_cast<Tiled_Panorama::CPanorama*>(CreateTiledPanorama(&manager));
                tiled->Init(&threads, &cursor, &ui);
                HVPanoramaOptions o;
                tiled->GetOptions(&o);
                o.lensCompensation = lens ? 1 : 0;
                o.surfaceKind = kind;
                o.autoCrop = 0;
                tiled->SetOptions(&o);
                tiled->Build(photos, nullptr, 0, 0, 0);
                const bool built = tiled->GetBuildReport()->status == 1;
                if (built) {
                    EXPECT_EQ(tiled->PlacementOrder().size(), 2u) << what;
                    // A camera's focal: a fish-eye's fifth of the photo width
                    // to a telephoto's ten widths.
                    for (std::int32_t i : tiled->PlacementOrder()) {
                        EXPECT_GE(tiled->Poses()[i].focal, 0.2 * width) << what;
                        EXPECT_LE(tiled->Poses()[i].focal, 10.0 * width) << what;
                    }
                    EXPECT_TRUE(std::isfinite(LensModelReach(tiled->Alignment().lensModel,
                                                             tiled->Alignment().sharedLens, corner)))
                        << "the lens folds the photos, " << what;
                    EXPECT_TRUE(tiled->RenderForPrint(0, 0, 0)) << what;
                }
                ExpectRightOrRefused(*tiled->GetBuildReport(), built ? tiled->GetResult(true) : nullptr,
                                     photos, what);
                tiled->Release();
            }
        ReleaseElementVector(photos);
    }
}

}  // namespace
