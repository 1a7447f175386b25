// The result gate's verdict on two records of one case: it must let through
// what the tolerances allow and catch each kind of change beyond them.

#include <gtest/gtest.h>

#include <sstream>

#include "PanoramaFixtures.h"
#include "ResultGateRecord.h"

namespace {

using namespace ResultGate;
using PanoramaFixtures::PixelTest;

Record PlanarRecord() {
    Record r;
    r.name = "planar-set";
    r.status = 1;
    r.edges = {{0, 1}, {1, 2}};
    r.photos = {{0, 0, 600, 0, 0, 400, 600, 400}, {500.25, 3, 1100, 1, 501, 404, 1101, 402}, {}};
    r.picture = "planar-set.png";
    return r;
}

const PictureDiff kSamePicture{true, 1.0, 0};

TEST(ResultGateTest, JudgesEachKindOfChangeAgainstItsTolerance) {
    struct Case {
        const char* what;
        void (*change)(Record&);
        bool pass;
    };
    const Case cases[] = {
        {"nothing", [](Record&) {}, true},
        {"a corner 0.4 px away", [](Record& r) { r.photos[1][0] += 0.4; }, true},
        {"a corner 0.3 px away in x and y (0.42 px)",
         [](Record& r) {
             r.photos[1][6] += 0.3;
             r.photos[1][7] -= 0.3;
         },
         true},
        {"a corner 0.6 px away", [](Record& r) { r.photos[1][5] -= 0.6; }, false},
        {"a corner 0.4 px away in x and y (0.57 px)",
         [](Record& r) {
             r.photos[0][2] += 0.4;
             r.photos[0][3] += 0.4;
         },
         false},
        {"a photo no longer placed", [](Record& r) { r.photos[1].clear(); }, false},
        {"a photo placed that was not", [](Record& r) { r.photos[2] = r.photos[0]; }, false},
        {"an edge lost", [](Record& r) { r.edges.pop_back(); }, false},
        {"an edge between other photos",
         [](Record& r) {
             r.edges[1] = {0, 2};
         },
         false},
        {"another status", [](Record& r) { r.status = 4; }, false},
    };
    const Record before = PlanarRecord();
    for (const Case& c : cases) {
        Record after = before;
        c.change(after);
        EXPECT_EQ(Judge(before, after, kSamePicture).pass, c.pass) << c.what;
    }
}

TEST(ResultGateTest, TiledPoseChangesCountAsCornerMoves) {
    // Focal 1000 px, half diagonal 500 px: 0.02 degrees of yaw move the
    // corners by 0.35 px, 0.02 degrees of roll by 0.17 px; both 0.52 px.
    Record before;
    before.name = "tiled-set";
    before.status = 1;
    before.photos = {{1000.0, 10.0, 0.0, 0.0, 500.0}};
    Record after = before;
    after.photos[0][1] += 0.02;
    EXPECT_NEAR(LargestCornerMove(before, after), 0.349, 0.001);
    EXPECT_TRUE(Judge(before, after, kSamePicture).pass);
    after.photos[0][3] += 0.02;
    EXPECT_FALSE(Judge(before, after, kSamePicture).pass);
    after = before;
    after.photos[0][0] = 1001.2;  // 1.2 / 1000 of 500 px: 0.6 px
    EXPECT_FALSE(Judge(before, after, kSamePicture).pass);
}

TEST(ResultGateTest, RecordsSurviveTheirTextForm) {
    const Record r = PlanarRecord();
    Record none;
    none.name = "failed-set";
    none.status = 3;
    std::stringstream text;
    Write(text, r);
    Write(text, none);
    Record a, b, c;
    ASSERT_TRUE(Read(text, a));
    ASSERT_TRUE(Read(text, b));
    EXPECT_FALSE(Read(text, c));
    EXPECT_EQ(a.name, r.name);
    EXPECT_EQ(a.edges, r.edges);
    EXPECT_EQ(a.photos, r.photos);  // 17 digits: the same doubles
    EXPECT_EQ(a.picture, r.picture);
    EXPECT_EQ(b.status, 3);
    EXPECT_TRUE(b.edges.empty());
    EXPECT_TRUE(b.picture.empty());
}

class ResultGatePictureTest : public PixelTest {};

// 1000 x 10 pixels: 10 of them may differ by more than 2 levels, 11 may not.
TEST_F(ResultGatePictureTest, AllowsTwoLevelsInAllButOnePixelInAThousand) {
    auto picture = [](int changed, int by) {
        return PanoramaFixtures::MakeElement(1000, 10, 0, 0, [changed, by](int x, int y, int channel) {
            const int base = (x * 7 + y * 13) % 200 + 20;
            return channel == 1 && y * 1000 + x < changed ? base + by : base;
        });
    };
    const auto reference = picture(0, 0);
    struct Case {
        int changed, by;
        bool pass;
    };
    for (const Case& c : {Case{10000, 2, true}, Case{10000, -2, true}, Case{10, 3, true},
                          Case{10, 30, true}, Case{11, 3, false}, Case{11, -3, false}}) {
        const PictureDiff d = ComparePictures(*reference, *picture(c.changed, c.by));
        EXPECT_TRUE(d.sameSize);
        EXPECT_EQ(d.largest, std::abs(c.by));
        EXPECT_EQ(Judge(PlanarRecord(), PlanarRecord(), d).pass, c.pass) << c.changed << " by " << c.by;
    }
    const auto narrower = PanoramaFixtures::Uniform(999, 10, 0, 0, 20);
    EXPECT_FALSE(ComparePictures(*reference, *narrower).sameSize);
    EXPECT_FALSE(Judge(PlanarRecord(), PlanarRecord(), ComparePictures(*reference, *narrower)).pass);
}

}  // namespace
