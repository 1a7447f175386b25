#pragma once
// A planar engine whose analysis state the tests fill directly, and photo
// loading for the matching tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Features.h"
#include "Panorama.h"
#include "TestData.h"

class AnalysedPanorama : public CPanorama {
public:
    using CPanorama::copies_;
    using CPanorama::is360_;
    using CPanorama::keypointSets_;
    using CPanorama::matchGraph_;
    using CPanorama::motionModel_;
    using CPanorama::position_;
    using CPanorama::transformsMode_;
    using CPanorama::withTransforms_;

    // Adds an analysed photo: the element becomes its own analysis copy.
    void AddAnalysed(CPanoElement* photo) {
        photo->AddRef();
        copies_.emplace_back(photo);
        auto set = std::make_unique<CKeypointSet>();
        DetectFeatures(photo, set->keypoints, set->descriptors, 10.0, 0.02);
        set->BuildIndex(photo->GetSize());
        keypointSets_.push_back(std::move(set));
    }
};

inline OrvexBase::RefPtr<CPanoElement> LoadPhoto(const std::string& relative) {
    OrvexBase::RefPtr<CPanoElement> e(new CPanoElement(0));
    const std::string path = TestData::Photo(relative).string();
    EXPECT_TRUE(e->Load(std::wstring(path.begin(), path.end()))) << relative;
    return e;
}
