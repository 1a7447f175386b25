// A real 360-degree ring through the whole tiled engine: its own analysis and
// match graph, the global alignment and the full-size render on a cylinder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "TestData.h"
#include "TiledEngineFixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

double RotationAngleBetween(const TiledImagePose& a, const TiledImagePose& b) {
    double Ra[9], Rb[9];
    RotationFromAngles(Ra, a.pitch, a.yaw, a.roll);
    RotationFromAngles(Rb, b.pitch, b.yaw, b.roll);
    double trace = 0;
    for (int i = 0; i < 9; ++i)
        trace += Ra[i] * Rb[i];
    return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180 / kPi;
}

// Open. The graph is sound (one edge between every pair of neighbours, shifts
// of 218 to 343 full-size pixels, plus a few edges that skip one photo), and
// from poses near the truth the solver settles at a focal of about 480 px
// with the ring closed. From the start poses of the alignment (focal 1000 px
// for photos 600 px wide, so 14-degree steps instead of 30) it ends in a
// local minimum whose cost is far above that one, and where it ends moves
// erratically with the start focal. Enable once the alignment's start is
// settled.
TEST(TiledRingTest, DISABLED_ApartmentRingClosesOneTurnWithTheExifFocal) {
    OVH_REQUIRE_PHOTOS();
    CDibManager manager;
    PanoramaLib::IDibManager* previous = g_pDibManager;
    g_pDibManager = &manager;
    std::vector<PanoramaLib::IPanoElement*> photos;
    for (int i = 1; i <= 12; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "apartment-ring/small-%02d.jpg", i);
        const std::string path = TestData::Photo(name).string();
        photos.push_back(CreatePanoElement(0));
        ASSERT_TRUE(photos.back()->Load(std::wstring(path.begin(), path.end()))) << name;
    }
    {
        CFreeThreading threads;
        TiledTest::Engine engine;
        engine.Init(&threads, nullptr, nullptr);
        for (int lens : {0, 1}) {
            HVPanoramaOptions o;
            engine.GetOptions(&o);
            o.lensCompensation = static_cast<std::uint8_t>(lens);
            o.autoCrop = 0;
            engine.SetOptions(&o);
            ASSERT_TRUE(engine.Build(photos, nullptr, 0, 0, 0)) << "lens " << lens;
            ASSERT_EQ(engine.PlacementOrder().size(), 12u) << "every photo is placed";
            const auto& poses = engine.Poses();
            double turn = 0, focal = 0;
            for (int i = 0; i < 12; ++i) {
                turn += RotationAngleBetween(poses[i], poses[(i + 1) % 12]);
                focal += poses[i].focal / 12;
            }
            EXPECT_NEAR(turn, 360.0, 1.0) << "lens " << lens;
            EXPECT_NEAR(focal, 458.0, 458.0 * 0.05) << "lens " << lens;

            ASSERT_TRUE(engine.RenderForPrint(0, 0, 0));
            const double F = poses[engine.PlacementOrder().front()].focal;
            EXPECT_NEAR(engine.GetResult(true)->GetWidth(), 2 * kPi * F, 2 * kPi * F * 0.02)
                << "lens " << lens;
        }
    }
    ReleaseElementVector(photos);
    g_pDibManager = previous;
}

}  // namespace
