// Global alignment of a real 360-degree ring: features and pair matches from
// the engine, poses from the tiled alignment.

#include <gtest/gtest.h>

#include <cmath>

#include "DibManager.h"
#include "Features.h"
#include "Panorama.h"
#include "TestData.h"
#include "TiledAlignment.h"

using OrvexBase::RefPtr;

namespace {

constexpr double kPi = 3.141592653589793;

// Reaches the planar engine's pair matching, which the tiled model shares.
class RingMatcher : public CPanorama {
public:
    using CPanorama::keypointSets_;
    using CPanorama::matchGraph_;
    using CPanorama::motionModel_;

    void AddAnalysed(CPanoElement* photo) {
        photo->AddRef();
        copies_.push_back(photo);
        auto* set = new CKeypointSet();
        DetectFeatures(photo, set->keypoints, set->descriptors, 10.0, 0.02);
        set->BuildIndex(photo->GetSize());
        keypointSets_.push_back(set);
    }
};

double RotationAngleBetween(const TiledImagePose& a, const TiledImagePose& b) {
    double Ra[9], Rb[9];
    RotationFromAngles(Ra, a.pitch, a.yaw, a.roll);
    RotationFromAngles(Rb, b.pitch, b.yaw, b.roll);
    double trace = 0;
    for (int i = 0; i < 9; ++i)
        trace += Ra[i] * Rb[i];
    return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180 / kPi;
}

// Open: with matches from the planar pair matcher (affine fits, no ratio
// scores) the fit settles near a focal of 550 px and the ring does not close;
// the tiled model's own graph building is still to come. Enable with it.
TEST(TiledRingTest, DISABLED_ApartmentRingClosesOneTurnWithTheExifFocal) {
    OVH_REQUIRE_PHOTOS();
    CDibManager manager;
    g_pDibManager = &manager;
    {
        RingMatcher matcher;
        matcher.motionModel_ = 0;  // the tiled model always fits affine transforms
        std::vector<RefPtr<CPanoElement>> photos;
        std::vector<OrvexBase::Size> sizes;
        for (int i = 1; i <= 12; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "apartment-ring/small-%02d.jpg", i);
            const std::string path = TestData::Photo(name).string();
            photos.emplace_back(new CPanoElement(0));
            ASSERT_TRUE(photos.back()->Load(std::wstring(path.begin(), path.end()))) << name;
            matcher.AddAnalysed(photos.back().Get());
            sizes.push_back(photos.back()->GetSize());
        }
        ASSERT_TRUE(matcher.BuildMatchGraph(&matcher.matchGraph_));

        const auto edges = Tiled_Panorama::EdgesFromGraph(matcher.matchGraph_);
        Tiled_Panorama::CPoseAlignment align;
        align.photoSizes = sizes;
        align.keypoints = Tiled_Panorama::PointsFromKeypointSets(matcher.keypointSets_);
        for (const auto& e : edges)
            align.edges.push_back(&e);
        align.referenceImage = 0;
        for (int lensMode : {0, 1}) {
            align.lensMode = lensMode;
            ASSERT_TRUE(align.AlignImages());
            ASSERT_EQ(align.placementOrder.size(), 12u) << "every photo is connected";
            double turn = 0, focal = 0;
            for (int i = 0; i < 12; ++i) {
                turn += RotationAngleBetween(align.poses[i], align.poses[(i + 1) % 12]);
                focal += align.poses[i].focal / 12;
            }
            RecordProperty(lensMode ? "turn_lens" : "turn", std::to_string(turn));
            RecordProperty(lensMode ? "focal_lens" : "focal", std::to_string(focal));
            EXPECT_NEAR(turn, 360.0, 1.0) << "lens mode " << lensMode;
            EXPECT_NEAR(focal, 458.0, 458.0 * 0.05) << "lens mode " << lensMode;
        }
    }
    g_pDibManager = nullptr;
}

}  // namespace
