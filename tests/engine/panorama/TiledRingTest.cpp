// Real photos through the whole tiled engine: its own analysis and match
// graph, the global alignment and the full-size render. The apartment ring
// goes all the way round; the boat row is a single handheld row.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

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

class TiledRingTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
    }
    void TearDown() override {
        ReleaseElementVector(photos);
        g_pDibManager = previous;
    }
    void Load(const char* folder, const char* pattern, int count) {
        for (int i = 1; i <= count; ++i) {
            char name[128];
            std::snprintf(name, sizeof name, pattern, i);
            const std::string path = TestData::Photo(std::string(folder) + "/" + name).string();
            photos.push_back(CreatePanoElement(0));
            ASSERT_TRUE(photos.back()->Load(std::wstring(path.begin(), path.end()))) << name;
        }
    }
    static void Configure(TiledTest::Engine& engine, int lens, SurfaceKind kind) {
        HVPanoramaOptions o;
        engine.GetOptions(&o);
        o.lensCompensation = static_cast<std::uint8_t>(lens);
        o.surfaceKind = kind;
        o.autoCrop = 0;
        engine.SetOptions(&o);
    }
    static double MeanFocal(const TiledTest::Engine& engine) {
        double focal = 0;
        for (std::int32_t i : engine.PlacementOrder())
            focal += engine.Poses()[i].focal;
        return focal / static_cast<double>(engine.PlacementOrder().size());
    }

    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    std::vector<PanoramaLib::IPanoElement*> photos;
};

TEST_F(TiledRingTest, TheApartmentRingClosesOneLevelTurnWithTheExifFocal) {
    OVH_REQUIRE_PHOTOS();
    Load("apartment-ring", "small-%02d.jpg", 12);
    CFreeThreading threads;
    TiledTest::Engine engine;
    engine.Init(&threads, nullptr, nullptr);
    for (int lens : {0, 1}) {
        for (SurfaceKind kind : {SurfaceCylinder, SurfaceSphere}) {
            SCOPED_TRACE(testing::Message() << "lens " << lens << " surface " << kind);
            Configure(engine, lens, kind);
            ASSERT_TRUE(engine.Build(photos, nullptr, 0, 0, 0));
            EXPECT_EQ(engine.GetBuildReport()->status, 1);
            ASSERT_EQ(engine.PlacementOrder().size(), 12u) << "every photo is placed";
            const auto& poses = engine.Poses();
            double turn = 0;
            for (int i = 0; i < 12; ++i)
                turn += RotationAngleBetween(poses[i], poses[(i + 1) % 12]);
            EXPECT_NEAR(turn, 360.0, 1.0);
            const double focal = MeanFocal(engine);
            EXPECT_NEAR(focal, 458.0, 458.0 * 0.05);
            // Levelled: the cameras of a handheld ring are upright, and the
            // heights at which their centres land on the cylinder show no
            // wave round the turn (a tilted frame shows one: a cos(yaw) +
            // b sin(yaw)). Its amplitude stays within 1% of the height.
            double a = 0, b = 0;
            for (int i = 0; i < 12; ++i) {
                EXPECT_LT(std::fabs(poses[i].roll), 5.0) << "photo " << i;
                const double row = -focal * std::tan(poses[i].pitch * kPi / 180);
                a += row * std::cos(poses[i].yaw * kPi / 180) / 6;
                b += row * std::sin(poses[i].yaw * kPi / 180) / 6;
            }
            const double wave = std::hypot(a, b);

            ASSERT_TRUE(engine.RenderForPrint(0, 0, 0));
            PanoramaLib::IPanoElement* result = engine.GetFullResult();
            ASSERT_TRUE(result->IsValid());
            const double F = engine.Poses()[engine.PlacementOrder().front()].focal;
            EXPECT_NEAR(result->GetWidth(), 2 * kPi * F, 2 * kPi * F * 0.02);
            if (kind == SurfaceCylinder) {
                EXPECT_LT(wave, 0.01 * result->GetHeight());
            }
            const std::filesystem::path dir = OVH_SCREENSHOT_DIR;
            std::filesystem::create_directories(dir);
            const std::string file =
                (dir / ("tiled-ring-" + std::string(kind == SurfaceCylinder ? "cylinder" : "sphere") +
                        "-lens" + std::to_string(lens) + ".png"))
                    .string();
            result->Save(std::wstring(file.begin(), file.end()));
        }
    }
}

TEST_F(TiledRingTest, TheBoatRowFocalIsNearTheOneItsPerspectiveShows) {
    OVH_REQUIRE_PHOTOS();
    Load("boat-row", "boat%d.jpg", 6);
    CFreeThreading threads;
    TiledTest::Engine engine;
    engine.Init(&threads, nullptr, nullptr);
    for (int lens : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "lens " << lens);
        Configure(engine, lens, SurfaceSphere);
        ASSERT_TRUE(engine.Build(photos, nullptr, 0, 0, 0));
        EXPECT_EQ(engine.PlacementOrder().size(), 6u);
        const double focal = MeanFocal(engine);
        EXPECT_GT(focal, 600.0);
        EXPECT_LT(focal, 760.0);
    }
}

}  // namespace
