#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "PanoramaFixtures.h"
#include "Seams.h"

using namespace PanoramaFixtures;
using OrvexBase::Rect;

namespace {

class SeamsTest : public PixelTest {};

// An 8-bit plane in a plain buffer for the path searches.
struct Plane {
    int w, h;
    std::vector<std::uint8_t> bytes;
    Plane(int w, int h, int value) : w(w), h(h), bytes(static_cast<std::size_t>(w) * h, value) {}
    std::uint8_t& at(int x, int y) { return bytes[static_cast<std::size_t>(y) * w + x]; }
    Plane Transposed() const {
        Plane t(h, w, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                t.at(y, x) = bytes[static_cast<std::size_t>(y) * w + x];
        return t;
    }
};

std::vector<SeamPoint> Vertical(Plane& p, int margin, bool mirrored = false, int ox = 0, int oy = 0) {
    std::vector<SeamPoint> pts{{99, 99}};
    FindVerticalSeam(p.bytes.data(), p.w, p.h, p.w, &pts, mirrored, margin, ox, oy);
    return pts;
}

TEST(SeamSearch, MarginFollowsTheStripExtent) {
    const int cases[][2] = {{1, 0}, {8, 0}, {9, 4}, {32, 4}, {33, 8}, {64, 8}, {65, 16}, {4000, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(SeamMargin(c[0]), c[1]) << c[0];
}

TEST(SeamSearch, MinHeapKeepsOrderAndLimits) {
    CMinHeap5 heap(40);
    std::mt19937 rng(7);
    std::vector<int> keys;
    for (int i = 0; i < 40; ++i) {
        keys.push_back(static_cast<int>(rng() % 100));
        EXPECT_TRUE(heap.Push(keys.back(), i, -i));
    }
    EXPECT_FALSE(heap.Push(0, 1, 1));  // full: nothing stored
    EXPECT_EQ(heap.Count(), 40);
    std::sort(keys.begin(), keys.end());
    for (int k : keys) {
        int x = -1, y = 1;
        EXPECT_EQ(heap.Pop(&x, &y), k);
        EXPECT_EQ(y, -x);
    }
    int x = 5, y = 6;
    EXPECT_EQ(heap.Pop(&x, &y), 2147483647);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    CMinHeap5 none(0);
    EXPECT_FALSE(none.Push(1, 1, 1));
}

TEST(SeamSearch, StartsInTheMiddleColumnAndKeepsOutOfTheMargins) {
    Plane flat(9, 5, 0);
    const auto pts = Vertical(flat, 4);
    // Predecessors of the end node back to the start, start first.
    ASSERT_EQ(pts.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pts[i], (SeamPoint{4, i}));
}

TEST(SeamSearch, FollowsACheapColumn) {
    Plane p(40, 30, 255);  // margin 8: columns 8..31 allowed
    for (int y = 0; y < 30; ++y)
        p.at(12, y) = 0;
    const auto pts = Vertical(p, SeamMargin(40));
    ASSERT_FALSE(pts.empty());
    EXPECT_EQ(pts.front(), (SeamPoint{20, 0}));
    for (std::size_t i = 1; i < pts.size(); ++i) {
        EXPECT_LE(std::abs(pts[i].x - pts[i - 1].x), 1);
        EXPECT_GE(pts[i].y, pts[i - 1].y);
    }
    // After the approach the path runs straight down the column.
    for (const auto& q : pts) {
        if (q.y >= 10) {
            EXPECT_EQ(q.x, 12);
        }
    }
    EXPECT_EQ(pts.back().y, 28);

    // The horizontal search is the same with x and y exchanged.
    Plane t = p.Transposed();
    std::vector<SeamPoint> hp;
    FindHorizontalSeam(t.bytes.data(), t.w, t.h, t.w, &hp, false, SeamMargin(40), 0, 0);
    ASSERT_EQ(hp.size(), pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i)
        EXPECT_EQ(hp[i], (SeamPoint{pts[i].y, pts[i].x}));
}

TEST(SeamSearch, MirroredPathsAreMappedBackAndOffset) {
    Plane p(9, 6, 255);
    for (int y = 0; y < 6; ++y)
        p.at(4, y) = 0;
    const auto plain = Vertical(p, 0, false, 10, 20);
    const auto mirrored = Vertical(p, 0, true, 10, 20);
    ASSERT_EQ(plain.size(), 5u);
    ASSERT_EQ(mirrored.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(plain[i], (SeamPoint{14, 20 + i}));
        // Read from the end, rows flipped: still top towards bottom.
        EXPECT_EQ(mirrored[i], (SeamPoint{14, 21 + i}));
    }
}

TEST(SeamSearch, EdgeColumnAndRowAreNeverEntered) {
    Plane p(8, 12, 255);
    for (int y = 0; y < 12; ++y)
        p.at(0, y) = 0;
    for (const auto& q : Vertical(p, 0))
        EXPECT_NE(q.x, 0);
    Plane t = p.Transposed();
    std::vector<SeamPoint> hp;
    FindHorizontalSeam(t.bytes.data(), t.w, t.h, t.w, &hp, false, 0, 0, 0);
    ASSERT_FALSE(hp.empty());
    for (const auto& q : hp)
        EXPECT_NE(q.y, 0);
}

TEST(SeamSearch, DegenerateStripsGiveNoPath) {
    Plane one(5, 1, 0);
    EXPECT_TRUE(Vertical(one, 0).empty());
    Plane thin(1, 6, 0);
    EXPECT_EQ(Vertical(thin, 0).size(), 5u);
}

// The search as written on the public heap: every node popped relaxes its
// neighbours, closed ones included. Equal keys leave the heap in its own
// order, which decides between equally cheap paths.
std::vector<SeamPoint> LiteralVerticalSearch(const Plane& p, int margin) {
    struct Node {
        int distance = 0x7fffffff, px = -1, py = -1;
        bool open = true;
    };
    std::vector<Node> nodes(static_cast<std::size_t>(p.w) * p.h);
    auto node = [&](int x, int y) -> Node& { return nodes[static_cast<std::size_t>(y) * p.w + x]; };
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            node(x, y).open = x >= margin && x < p.w - margin;
    CMinHeap5 heap(p.w * p.h);
    int x = p.w / 2, y = 0;
    node(x, y).distance = 0;
    heap.Push(0, x, y);
    for (;;) {
        const int key = heap.Pop(&x, &y);
        if (key == CMinHeap5::kEmpty)
            break;
        node(x, y).open = false;
        if (y == p.h - 1)
            break;
        auto relax = [&](int nx, int ny) {
            Node& t = node(nx, ny);
            const int d = key + p.bytes[static_cast<std::size_t>(ny) * p.w + nx];
            if (t.open && d < t.distance) {
                t.distance = d;
                t.px = x;
                t.py = y;
                heap.Push(d, nx, ny);
            }
        };
        if (x >= 2)
            relax(x - 1, y);
        if (x <= p.w - 2)
            relax(x + 1, y);
        if (y < p.h - 1) {
            if (x >= 2)
                relax(x - 1, y + 1);
            relax(x, y + 1);
            if (x <= p.w - 2)
                relax(x + 1, y + 1);
        }
    }
    std::vector<SeamPoint> path;
    for (const Node* n = &node(x, y); n->px >= 0; n = &node(n->px, n->py))
        path.push_back(SeamPoint{n->px, n->py});
    std::reverse(path.begin(), path.end());
    return path;
}

// Few distinct costs make many equally cheap paths: the search must break
// every tie as the heap does.
TEST(SeamSearch, TiesAreBrokenAsTheHeapOrdersThem) {
    std::mt19937 rng(11);
    for (int rep = 0; rep < 300; ++rep) {
        Plane p(1 + static_cast<int>(rng() % 60), 1 + static_cast<int>(rng() % 60), 0);
        const int levels = rep % 3 == 0 ? 2 : rep % 3 == 1 ? 5 : 256;
        for (auto& b : p.bytes)
            b = static_cast<std::uint8_t>(rng() % levels);
        const int margin = rep % 7 == 0 ? static_cast<int>(rng() % 30) : SeamMargin(p.w);
        ASSERT_EQ(Vertical(p, margin), LiteralVerticalSearch(p, margin))
            << p.w << "x" << p.h << " margin " << margin << " costs " << levels;
    }
}

TEST(SeamSearch, MeanOfRegionClipsAndRounds) {
    auto img = MakeElement(
        4, 2, 0, 0, [](int c, int r, int) { return c + 4 * r; }, 8);
    EXPECT_EQ(MeanOfRegion(img.Get(), Rect(0, 0, 4, 2)), 4);  // 3.5 rounds up
    EXPECT_EQ(MeanOfRegion(img.Get(), Rect(2, 1, 9, 9)), 7);  // 6.5, clipped
    EXPECT_EQ(MeanOfRegion(img.Get(), Rect(5, 0, 9, 2)), 0);  // nothing left
}

// Strips of a two-sided search are the difference image cut at the core rectangle.
TEST_F(SeamsTest, OverlapStripsAreCutAtTheCore) {
    auto diff = Uniform(20, 10, 100, 50, 0, 8);
    struct Case {
        Rect core;
        std::int32_t side;
        Rect strip;  // empty: none
    } cases[] = {
        {Rect(105, 52, 110, 58), SEAM_LEFT, Rect(100, 50, 105, 60)},
        {Rect(105, 52, 110, 58), SEAM_RIGHT, Rect(110, 50, 120, 60)},
        {Rect(105, 52, 110, 58), SEAM_TOP, Rect(100, 50, 120, 52)},
        {Rect(105, 52, 110, 58), SEAM_BOTTOM, Rect(100, 58, 120, 60)},
        {Rect(100, 52, 110, 58), SEAM_LEFT, Rect()},                  // empty cut
        {Rect(90, 52, 100, 58), SEAM_RIGHT, Rect(100, 50, 120, 60)},  // core outside: whole image
        {Rect(105, 52, 130, 70), SEAM_RIGHT, Rect()},
    };
    for (const auto& c : cases) {
        auto photo = Uniform(20, 10, 100, 50, 0);
        photo->CreateMask(true);
        CSeamFinder f2(diff.Get(), c.core);
        f2.FindSeams(photo.Get(), SEAM_LEFT | SEAM_RIGHT);
        RefPtr<PanoramaLib::IPanoElement> strip(f2.GetOverlapStrip(c.side));
        if (c.strip.IsEmpty()) {
            EXPECT_FALSE(strip) << c.side;
        } else {
            ASSERT_TRUE(strip) << c.side;
            EXPECT_EQ(strip->GetRect(), c.strip) << c.side;
        }
    }
    // A single side flag searches the whole difference image whatever the core.
    auto photo = Uniform(20, 10, 100, 50, 0);
    CSeamFinder single(diff.Get(), Rect(105, 52, 110, 58));
    single.FindSeams(photo.Get(), SEAM_TOP);
    RefPtr<PanoramaLib::IPanoElement> whole(single.GetOverlapStrip(SEAM_TOP));
    EXPECT_EQ(whole.Get(), static_cast<PanoramaLib::IPanoElement*>(diff.Get()));
}

// With one side the strip is the difference image, so a flip shows there.
TEST_F(SeamsTest, StripIsFlippedOnlyWhenTheFarBandIsStrictlyCheaper) {
    struct Case {
        int topValue, bottomValue;
        bool flipped;
    } cases[] = {{50, 50, false}, {50, 49, true}, {49, 50, false}};
    for (const auto& c : cases) {
        // Rows 0..3 top band, 12..15 bottom band; a marker in row 5 shows a flip.
        auto diff = MakeElement(
            16, 16, 0, 0,
            [&](int, int r, int) {
                return r < 4 ? c.topValue : r >= 12 ? c.bottomValue : r == 5 ? 7 : 100;
            },
            8);
        auto photo = Uniform(16, 16, 0, 0, 0);
        photo->CreateMask(true);
        CSeamFinder finder(diff.Get(), Rect());
        finder.FindSeams(photo.Get(), SEAM_LEFT);
        const int markerRow = c.flipped ? 10 : 5;
        EXPECT_EQ(diff->GetBits()[markerRow * diff->GetStride()], 7) << c.topValue << "/" << c.bottomValue;
        EXPECT_FALSE(finder.Line(SEAM_LEFT).points.empty());
    }
}

TEST_F(SeamsTest, MaskIsCutOnTheNeighboursSide) {
    // The cheap column 12 of a 24-wide strip placed 10 columns into the photo.
    auto diff = MakeElement(
        24, 20, 10, 0, [](int c, int, int) { return c == 12 ? 0 : 200; }, 8);
    struct Case {
        std::int32_t side;
        bool zeroLeftOfSeam;
    } cases[] = {{SEAM_LEFT, true}, {SEAM_RIGHT, false}};
    for (const auto& c : cases) {
        auto photo = Uniform(40, 20, 0, 0, 0);
        photo->CreateMask(true);
        RefPtr<CPanoElement> d(static_cast<CPanoElement*>(diff->Clone()));
        CSeamFinder finder(d.Get(), Rect());
        finder.FindSeams(photo.Get(), c.side);
        const SeamLine& line = finder.Line(c.side);
        EXPECT_EQ(line.offsetX, 10);
        EXPECT_EQ(line.strip, Rect(10, 0, 34, 20));
        // Extended to the strip's first and last rows.
        ASSERT_GE(line.points.size(), 2u);
        EXPECT_EQ(line.points.front().y, 0);
        EXPECT_EQ(line.points.back().y, 19);
        for (int r = 0; r < 20; ++r) {
            EXPECT_EQ(MaskAt(photo.Get(), 22, r), 255) << r;
            EXPECT_EQ(MaskAt(photo.Get(), 5, r), c.zeroLeftOfSeam ? 0 : 255) << r;
            EXPECT_EQ(MaskAt(photo.Get(), 39, r), c.zeroLeftOfSeam ? 255 : 0) << r;
        }
    }
}

TEST_F(SeamsTest, HorizontalSeamCutsColumns) {
    auto diff = MakeElement(
        30, 20, 0, 10, [](int, int r, int) { return r == 6 ? 0 : 200; }, 8);
    auto photo = Uniform(30, 40, 0, 0, 0);
    photo->CreateMask(true);
    CSeamFinder finder(diff.Get(), Rect());
    finder.FindSeams(photo.Get(), SEAM_TOP);
    // The path starts at the strip's left middle row and climbs to the cheap row.
    for (int c = 1; c < 30; ++c) {
        EXPECT_EQ(MaskAt(photo.Get(), c, 16), 255) << c;
        EXPECT_EQ(MaskAt(photo.Get(), c, 3), 0) << c;
        EXPECT_EQ(MaskAt(photo.Get(), c, 30), 255) << c;
    }
}

TEST_F(SeamsTest, RescalerMapsPositionsByTheSizesMinusOne) {
    // A seam down column 50 of a 101 x 101 analysis copy over rows first to
    // last, carried to 401 x 401: x = 50 -> 50 * 400 / 100 = 200. Every
    // full-size row from halfway to the analysis row before the strip to
    // halfway to the one after it is cut, the strip's ends included.
    struct Case {
        int first, last;     // analysis rows of the strip
        int cutFrom, cutTo;  // full-size rows cut, inclusive
    };
    for (const Case& c : {Case{0, 100, 0, 400}, Case{20, 60, 78, 242}}) {
        auto analysis = Uniform(101, 101, 0, 0, 0);
        auto full = Uniform(401, 401, 0, 0, 0);
        full->CreateMask(true);
        SeamSet seams;
        SeamLine left;
        for (int y = c.first; y <= c.last; ++y)
            left.points.push_back({50, y});
        seams.Assign(&left, nullptr, nullptr, nullptr);
        CSeamRescaler rescaler(analysis.Get(), full.Get(), seams);
        EXPECT_TRUE(rescaler.Rescale());
        for (int y = 0; y <= 400; ++y) {
            const bool cut = y >= c.cutFrom && y <= c.cutTo;
            EXPECT_EQ(MaskAt(full.Get(), 200, y), 255) << y;
            EXPECT_EQ(MaskAt(full.Get(), 199, y), cut ? 0 : 255) << c.first << " " << y;
            EXPECT_EQ(MaskAt(full.Get(), 201, y), 255) << y;
        }
    }
}

TEST_F(SeamsTest, RescalerFailsWithoutAScaleOrAMask) {
    SeamSet seams;
    SeamLine top;
    top.points = {{0, 0}, {1, 0}};
    seams.Assign(nullptr, nullptr, &top, nullptr);
    auto thin = Uniform(400, 1, 0, 0, 0);  // a fit-mode analysis copy
    auto full = Uniform(800, 2, 0, 0, 0);
    full->CreateMask(true);
    EXPECT_FALSE(CSeamRescaler(thin.Get(), full.Get(), seams).Rescale());
    auto analysis = Uniform(10, 10, 0, 0, 0);
    auto unmasked = Uniform(20, 20, 0, 0, 0);
    EXPECT_FALSE(CSeamRescaler(analysis.Get(), unmasked.Get(), seams).Rescale());
    EXPECT_TRUE(CSeamRescaler(analysis.Get(), unmasked.Get(), SeamSet()).Rescale());  // nothing to carry
    EXPECT_FALSE(CSeamRescaler(nullptr, unmasked.Get(), seams).Rescale());
}

TEST(SeamSetTest, SidesAndTheSharedEmptyLine) {
    SeamSet set;
    SeamLine a;
    a.points = {{1, 2}};
    set.Assign(nullptr, &a, nullptr, nullptr);
    EXPECT_EQ(set[SEAM_RIGHT].points.size(), 1u);
    EXPECT_TRUE(set[SEAM_LEFT].points.empty());
    set[3].points.push_back({5, 5});
    EXPECT_TRUE(set[16].points.empty());
    set.Assign(&set[SEAM_LEFT], nullptr, nullptr, nullptr);  // itself: skipped
    SeamSet copy = set;
    EXPECT_EQ(copy[SEAM_RIGHT].points[0], (SeamPoint{1, 2}));
}

// ------------------------------------------------------------ seam masks

// Coverage maps from text: '#' 255, '+' 128, '.' 0.
RefPtr<CPanoElement> Map(const std::vector<std::string>& rows, int x = 0, int y = 0) {
    return MakeElement(
        static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), x, y,
        [&](int c, int r, int) { return rows[r][c] == '#'   ? 255
                                        : rows[r][c] == '+' ? 128
                                                            : 0; }, 8);
}

TEST_F(SeamsTest, CoreRectangleSideClosesAtTwentyPercent) {
    // Point (5, 5). After k = 3 the left column is x = 2 over rows 2..8; it
    // scans rows 3..6 (4 bytes, threshold 0): one 128 closes it.
    std::vector<std::string> rows(11, std::string(11, '#'));
    rows[4][2] = '+';
    auto map = Map(rows, 100, 200);
    const Rect r = GrowSeamCoreRect(map.Get(), SeamPoint{105, 205});
    EXPECT_EQ(r.left, 102);
    EXPECT_EQ(r.top, 200);  // the other sides run to the edges
    EXPECT_EQ(r.right, 110);
    EXPECT_EQ(r.bottom, 210);

    // On a 30-wide map, k = 7 scans rows 9..19 minus ends: 10 bytes, threshold 2.
    std::vector<std::string> wide(31, std::string(31, '#'));
    wide[12][8] = '+';
    auto one = Map(wide);
    EXPECT_EQ(GrowSeamCoreRect(one.Get(), SeamPoint{15, 15}).left, 0);
    wide[14][8] = '+';
    auto two = Map(wide);
    EXPECT_EQ(GrowSeamCoreRect(two.Get(), SeamPoint{15, 15}).left, 8);
}

TEST_F(SeamsTest, SidesAndCentreOfTheCoverageMap) {
    auto map = Map({
        "++++++",
        "+####.",
        "+####.",
        "......",
    });
    const SeamPoint p = FindElementOnlyCentre(map.Get());
    EXPECT_EQ(p, (SeamPoint{2, 1}));  // centroid (2.5, 1.5) truncated
    EXPECT_EQ(DetectSeamSides(map.Get(), p), SEAM_LEFT | SEAM_TOP);
    EXPECT_EQ(DetectSeamSides(map.Get(), SeamPoint{-1, 0}), 0);

    // Inside the result: no 255 byte, the centre, every side flagged.
    auto inside = Map({"+++", "+++", "+++"}, 10, 10);
    const SeamPoint c = FindElementOnlyCentre(inside.Get());
    EXPECT_EQ(c, (SeamPoint{11, 11}));
    EXPECT_EQ(DetectSeamSides(inside.Get(), c), SEAM_LEFT | SEAM_RIGHT | SEAM_TOP | SEAM_BOTTOM);

    // A ring: the centroid is not covered, the search walks left to the run.
    auto ring = Map({
        ".........",
        ".#######.",
        ".##+++##.",
        ".##+++##.",
        ".#######.",
    });
    // Centroid (4, 2); at distance 1 only "up" is covered, and its run is one long.
    EXPECT_EQ(FindElementOnlyCentre(ring.Get()), (SeamPoint{4, 1}));
    // A run found to the left: its middle, rounded up.
    auto left = Map({
        "###+++#",
        "###++++",
    });
    EXPECT_EQ(FindElementOnlyCentre(left.Get()),
              (SeamPoint{1, 0}));  // centroid (2, 0): run 2..0 -> (2 + 0 + 1) / 2
}

TEST_F(SeamsTest, CentreOfALargeMapDoesNotOverflow) {
    auto map = Uniform(3000, 3000, 0, 0, 255, 8);
    EXPECT_EQ(FindElementOnlyCentre(map.Get()), (SeamPoint{1499, 1499}));
}

TEST_F(SeamsTest, DifferenceIsGreyDistanceAnd255OutsideEitherMask) {
    auto result = MakeElement(6, 2, 0, 0, [](int c, int, int k) { return k == 0 ? 100 + c : 50; });
    auto photo = MakeElement(6, 2, 0, 0, [](int, int, int k) { return k == 0 ? 100 : 50; });
    SetMask(result.Get(), [](int c, int) { return c == 4 ? 0 : 255; });
    SetMask(photo.Get(), [](int c, int) { return c == 5 ? 0 : 255; });
    RefPtr<CPanoElement> d(MakeDifferenceImage(result.Get(), photo.Get(), Rect(0, 0, 6, 2)));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->GetBpp(), 8);
    const int expected[6] = {0, 0, 0, 0, 255, 255};  // 0.3 per step of byte 0, truncated
    const int grey[6] = {(30 * 100 + 59 * 50 + 11 * 50) / 100, (30 * 101 + 3500) / 100,
                         (30 * 102 + 3500) / 100, (30 * 103 + 3500) / 100};
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(d->GetBits()[c], grey[c] - grey[0]) << c;
    for (int c = 4; c < 6; ++c)
        EXPECT_EQ(d->GetBits()[c], expected[c]) << c;
}

TEST_F(SeamsTest, PhotoWithoutOverlapKeepsItsMask) {
    auto result = Uniform(50, 40, 0, 0, 80);
    SetMask(result.Get(), [](int c, int) { return c < 20 ? 255 : 0; });
    auto photo = Uniform(20, 40, 25, 0, 90);
    photo->CreateMask(true);
    const auto before = Snapshot(photo.Get());
    for (int model : {0, 2}) {
        SeamSet seams;
        EXPECT_TRUE(ComputeSeamMask(photo.Get(), result.Get(), model, &seams));
        EXPECT_EQ(Snapshot(photo.Get()), before);
        EXPECT_TRUE(seams[SEAM_LEFT].points.empty());
    }
}

// General path: which side the seam goes on, from where the photo lies.
TEST_F(SeamsTest, GeneralPathChoosesTheSideFromThePhotosPlace) {
    struct Case {
        int photoX, photoY, photoW, photoH;
        int coveredFrom, coveredTo;  // result mask columns that are 255
        std::int32_t expected;
    } cases[] = {
        {-10, 0, 30, 30, 0, 60, SEAM_RIGHT},   // past the left edge
        {40, 0, 30, 30, 0, 60, SEAM_LEFT},     // reaching the right edge
        {20, 5, 30, 30, 0, 60, SEAM_TOP},      // a wide overlap: top/bottom case
        {10, -8, 30, 30, 0, 60, SEAM_BOTTOM},  // past the top edge
        // Rows above and below the result are not counted (nor read).
        {20, -5, 30, 40, 0, 30, SEAM_LEFT},
        {10, -5, 30, 40, 30, 60, SEAM_RIGHT},
    };
    for (const auto& c : cases) {
        auto result = Random(60, 30, 0, 0, 11);
        SetMask(result.Get(), [&](int x, int) { return x >= c.coveredFrom && x < c.coveredTo ? 255 : 0; });
        auto photo = Random(c.photoW, c.photoH, c.photoX, c.photoY, 12);
        photo->CreateMask(true);
        SeamSet seams;
        ASSERT_TRUE(ComputeSeamMask(photo.Get(), result.Get(), 0, &seams));
        for (std::int32_t side : {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM})
            EXPECT_EQ(seams[side].points.empty(), side != c.expected)
                << c.photoX << "," << c.photoY << " " << side;
    }
}

TEST_F(SeamsTest, ScaleShiftPathSurroundsTheCore) {
    // A photo entirely inside the result: every side gets a seam around the core.
    auto result = Random(80, 80, 0, 0, 21);
    result->CreateMask(true);
    auto photo = Random(40, 40, 20, 20, 22);
    photo->CreateMask(true);
    SeamSet seams;
    ASSERT_TRUE(ComputeSeamMask(photo.Get(), result.Get(), 2, &seams));
    int withPoints = 0;
    for (std::int32_t side : {SEAM_LEFT, SEAM_RIGHT, SEAM_TOP, SEAM_BOTTOM})
        withPoints += !seams[side].points.empty();
    EXPECT_GE(withPoints, 1);
    EXPECT_FALSE(ComputeSeamMask(nullptr, result.Get(), 2, &seams));
    auto grey = Uniform(10, 10, 0, 0, 0, 8);
    EXPECT_FALSE(ComputeSeamMask(grey.Get(), result.Get(), 0, &seams));
}

// Photos partly outside the result, one-pixel strips and negative positions:
// the sanitizer run watches every plane access.
TEST_F(SeamsTest, AwkwardPlacementsStayInsideThePlanes) {
    const int placements[][4] = {{-5, -3, 10, 10}, {55, 25, 10, 10}, {-20, 0, 21, 1},     {0, -30, 1, 31},
                                 {59, 0, 1, 30},   {10, 29, 30, 1},  {-100, -100, 50, 50}};
    for (int model : {0, 1, 2})
        for (const auto& p : placements) {
            auto result = Random(60, 30, 0, 0, 31);
            SetMask(result.Get(), [](int c, int r) { return (c + r) % 7 ? 255 : 0; });
            auto photo = Random(p[2], p[3], p[0], p[1], 32);
            photo->CreateMask(true);
            SeamSet seams;
            EXPECT_TRUE(ComputeSeamMask(photo.Get(), result.Get(), model, &seams));
        }
}

}  // namespace
