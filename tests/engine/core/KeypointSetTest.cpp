#include <gtest/gtest.h>

#include <climits>

#include "KeypointSet.h"

namespace {

void AddKeypoint(CKeypointSet& set, double x) {
    auto* k = new Keypoint;
    k->x = x;
    set.keypoints.push_back(k);
    set.descriptors.push_back(new double[kDescriptorLength]());
}

}  // namespace

TEST(KeypointSet, BuildIndexTagsEveryKeypointWithTheNewestImage) {
    CKeypointSet empty;
    EXPECT_TRUE(empty.BuildIndex(OrvexBase::Size(10, 20)));
    EXPECT_EQ(empty.imageSizes.size(), 1u);
    EXPECT_TRUE(empty.imageIndex.empty());

    CKeypointSet set;
    for (int i = 0; i < 3; ++i)
        AddKeypoint(set, i);
    set.BuildIndex(OrvexBase::Size(640, 480));
    EXPECT_EQ(set.imageIndex, (std::vector<std::int32_t>{0, 0, 0}));
    AddKeypoint(set, 3);
    set.BuildIndex(OrvexBase::Size(320, 240));
    EXPECT_EQ(set.imageIndex, (std::vector<std::int32_t>{1, 1, 1, 1}));
    EXPECT_EQ(set.imageSizes.back(), OrvexBase::Size(320, 240));
}

TEST(KeypointSet, ViewsShareAndNeverFree) {
    CKeypointSet owner;
    AddKeypoint(owner, 1.5);
    AddKeypoint(owner, 2.5);
    owner.BuildIndex(OrvexBase::Size(4, 4));
    {
        CKeypointSet view(&owner);
        EXPECT_TRUE(view.view);
        EXPECT_EQ(view.keypoints, owner.keypoints);
        EXPECT_EQ(view.descriptors, owner.descriptors);
        EXPECT_EQ(view.imageIndex, owner.imageIndex);
        EXPECT_EQ(view.imageSizes, owner.imageSizes);
        view.Clear();
        EXPECT_TRUE(view.keypoints.empty());
        EXPECT_TRUE(view.descriptors.empty());
        EXPECT_EQ(view.imageSizes.size(), 1u);  // image lists stay
    }
    // The owner's keypoints survived the view (ASan would flag a double free).
    ASSERT_EQ(owner.keypoints.size(), 2u);
    EXPECT_EQ(owner.keypoints[1]->x, 2.5);

    CKeypointSet fromNull(nullptr);
    EXPECT_FALSE(fromNull.view);
    EXPECT_TRUE(fromNull.keypoints.empty());

    owner.Clear();
    EXPECT_TRUE(owner.keypoints.empty());
    EXPECT_EQ(owner.imageIndex.size(), 2u);
}

TEST(KeypointSet, IntPowerBySquaring) {
    struct Case {
        double x;
        std::int32_t k;
        double expected;
    };
    const Case cases[] = {{2.0, 0, 1.0},   {0.0, 0, 1.0},        {2.0, 10, 1024.0},
                          {2.0, -2, 0.25}, {-3.0, 3, -27.0},     {1.5, 1, 1.5},
                          {10.0, -1, 0.1}, {-1.0, INT_MIN, 1.0}, {0.5, 31, 1.0 / 2147483648.0}};
    for (const Case& c : cases)
        EXPECT_EQ(IntPower(c.x, c.k), c.expected) << c.x << "^" << c.k;
}
