// The result gate's verdict on two records of one case: it must let through
// what the tolerances allow and catch each kind of change beyond them.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

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
    text << "\n";  // a blank line between records is allowed
    Write(text, none);
    std::map<std::string, Record> read;
    std::string error;
    ASSERT_TRUE(ReadRecords(text, "record.txt", read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    const Record& a = read.at(r.name);
    const Record& b = read.at(none.name);
    EXPECT_EQ(a.status, r.status);
    EXPECT_EQ(a.edges, r.edges);
    EXPECT_EQ(a.photos, r.photos);  // 17 digits: the same doubles
    EXPECT_EQ(a.picture, r.picture);
    EXPECT_EQ(b.status, 3);
    EXPECT_TRUE(b.edges.empty());
    EXPECT_TRUE(b.photos.empty());
    EXPECT_TRUE(b.picture.empty());
}

TEST(ResultGateTest, AMalformedRecordIsAnErrorNamingItsFileAndLine) {
    // The lines of a good record, one of them replaced or the text cut short.
    const std::string good[] = {"case planar-set",
                                "status 1",
                                "edges 2",
                                "0 1",
                                "1 2",
                                "photos 2",
                                "8 0 0 600 0 0 400 600 400",
                                "0",
                                "picture planar-set.png"};
    struct Case {
        const char* what;
        int line;          // 1-based line replaced, or where the text stops
        const char* text;  // the replacement; null: the text stops after the line
        int reportedLine;
    };
    const Case cases[] = {
        {"another first word", 1, "name planar-set", 1},
        {"a status that is no number", 2, "status one", 2},
        {"a status with a word more", 2, "status 1 2", 2},
        {"a negative edge count", 3, "edges -1", 3},
        {"fewer edges than counted", 3, "edges 3", 6},
        {"an edge of one photo", 4, "0", 4},
        {"a photo with fewer values than counted", 7, "8 0 0 600 0 0 400 600", 7},
        {"a photo with more values than counted", 7, "7 0 0 600 0 0 400 600 400", 7},
        {"a value that is no number", 7, "8 0 0 600 0 0 400 600 4OO", 7},
        {"a missing picture line", 9, "", 9},
        {"a record cut after its photos", 8, nullptr, 8},
        {"a record cut after its case line", 1, nullptr, 1},
    };
    for (const Case& c : cases) {
        std::stringstream text;
        for (int i = 1; i <= 9; ++i) {
            text << (i == c.line && c.text ? c.text : good[i - 1]) << "\n";
            if (i == c.line && !c.text)
                break;
        }
        std::map<std::string, Record> read;
        std::string error;
        EXPECT_FALSE(ReadRecords(text, "before/record.txt", read, error)) << c.what;
        EXPECT_EQ(error.rfind("before/record.txt:" + std::to_string(c.reportedLine) + ": ", 0), 0u)
            << c.what << ": " << error;
    }
    // The same case twice.
    std::stringstream twice;
    Write(twice, PlanarRecord());
    Write(twice, PlanarRecord());
    std::map<std::string, Record> read;
    std::string error;
    EXPECT_FALSE(ReadRecords(twice, "record.txt", read, error));
    EXPECT_EQ(error, "record.txt:11: case planar-set comes a second time");
}

TEST(ResultGateTest, CasesOfOneRecordOnlyAreListedOnTheirSide) {
    auto records = [](std::initializer_list<const char*> names) {
        std::map<std::string, Record> out;
        for (const char* n : names)
            out[n].name = n;
        return out;
    };
    using Cases = std::vector<std::pair<std::string, Side>>;
    struct Case {
        std::map<std::string, Record> before, after;
        Cases paired;
    };
    const Case cases[] = {
        {records({"a", "b"}), records({"a", "b"}), {{"a", Side::Both}, {"b", Side::Both}}},
        {records({"a", "b"}), records({"b"}), {{"a", Side::BeforeOnly}, {"b", Side::Both}}},
        {records({"b"}),
         records({"a", "b", "c"}),
         {{"a", Side::AfterOnly}, {"b", Side::Both}, {"c", Side::AfterOnly}}},
        {records({"a", "c"}),
         records({"b"}),
         {{"a", Side::BeforeOnly}, {"b", Side::AfterOnly}, {"c", Side::BeforeOnly}}},
        {records({}), records({"a"}), {{"a", Side::AfterOnly}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PairCases(c.before, c.after), c.paired);
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
    for (const Case& c : {Case{10000, 2, true}, Case{10000, -2, true}, Case{10, 3, true}, Case{10, 30, true},
                          Case{11, 3, false}, Case{11, -3, false}}) {
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
