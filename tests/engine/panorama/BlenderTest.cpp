#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "Blender.h"
#include "PanoramaFixtures.h"
#include "ThreadPool.h"

using namespace PanoramaFixtures;
using namespace LaplacianPyramid;
using OrvexBase::Rect;

namespace {

class BlenderTest : public PixelTest {};

// Hands out levels until its budget is spent, then fails like the allocator.
class FailingLevels : public LevelFactory {
public:
    explicit FailingLevels(int budget) : budget(budget) {}
    CLevel* NewLevel(std::int32_t w, std::int32_t h) override {
        if (budget-- <= 0)
            throw outofmemory();
        ++made;
        return LevelFactory::NewLevel(w, h);
    }
    int budget;
    int made = 0;
};

TEST_F(BlenderTest, NothingToDoIsSuccessWithoutWriting) {
    auto a = Random(20, 20, 0, 0, 1);
    a->CreateMask(true);
    auto b = Random(20, 20, 10, 0, 2);
    b->CreateMask(true);
    auto away = Random(5, 5, 40, 40, 3);
    const auto before = Snapshot(b.Get());
    struct Case {
        int levels;
        CPanoElement *first, *second;
    } cases[] = {{1, a.Get(), b.Get()},
                 {0, a.Get(), b.Get()},
                 {4, nullptr, b.Get()},
                 {4, a.Get(), nullptr},
                 {4, away.Get(), b.Get()}};
    for (const auto& c : cases) {
        LaplacianBlender blender;
        EXPECT_TRUE(blender.Blend(c.levels, c.first, c.second));
        EXPECT_FALSE(blender.IsDone());
        EXPECT_TRUE(blender.GetOverlapRect().IsEmpty());
        blender.WriteResult(b.Get());
        EXPECT_EQ(Snapshot(b.Get()), before);
    }
    auto grey = Uniform(20, 20, 0, 0, 5, 8);
    LaplacianBlender blender;
    EXPECT_FALSE(blender.Blend(3, grey.Get(), b.Get()));
}

TEST_F(BlenderTest, OverlapIsPaddedToWholeReductions) {
    struct Case {
        Rect overlap;
        int levels;
        Rect padded;
    } cases[] = {
        {Rect(10, 20, 18, 28), 4, Rect(10, 20, 19, 29)},  // 8 = 1 x 8: one more on the right and bottom only
        {Rect(10, 20, 20, 30), 4, Rect(7, 17, 24, 34)},   // 10 -> 17: 3 on the left, 4 on the right
        {Rect(0, 0, 1, 1), 2, Rect(-1, -1, 2, 2)},        // 1 -> 3, one on each side
        {Rect(-5, -5, 12, 3), 3, Rect(-7, -5, 14, 4)},    // 17 -> 21 (2 left, 2 right), 8 -> 9
    };
    for (const auto& c : cases) {
        auto first = Random(c.overlap.Width(), c.overlap.Height(), c.overlap.left, c.overlap.top, 4);
        first->CreateMask(true);
        auto second =
            Random(c.overlap.Width() + 2, c.overlap.Height() + 2, c.overlap.left - 1, c.overlap.top - 1, 5);
        second->CreateMask(true);
        LaplacianBlender blender;
        ASSERT_TRUE(blender.Blend(c.levels, first.Get(), second.Get()));
        EXPECT_EQ(blender.GetOverlapRect(), c.overlap);
        EXPECT_EQ(blender.GetPaddedRect(), c.padded);
    }
}

TEST(PyramidTest, LevelsHalveExactly) {
    LevelFactory factory;
    for (int levels : {2, 3, 5}) {
        const int f = 1 << (levels - 1);
        for (int k : {1, 3}) {
            Pyramid p;
            p.emplace_back(factory.NewLevel(k * f + 1, 2 * k * f + 1));
            BuildPyramid(p, levels, true, factory);
            ASSERT_EQ(static_cast<int>(p.size()), levels);
            for (int l = 0; l < levels; ++l) {
                EXPECT_EQ(p[l]->width, k * (f >> l) + 1);
                EXPECT_EQ(p[l]->height, 2 * k * (f >> l) + 1);
                EXPECT_EQ(p[l]->stride % 4, 0);
            }
            Collapse(p, factory);
            EXPECT_EQ(p.size(), 1u);
        }
    }
}

TEST(PyramidTest, FiltersKeepConstantsAndClampDetail) {
    LevelFactory factory;
    CLevel flat(9, 9);
    std::fill(flat.plane, flat.plane + flat.stride * 9, 77);
    RefPtr<CLevel> reduced(Reduce(flat, factory));
    RefPtr<CLevel> expanded(Expand(*reduced, factory));
    EXPECT_EQ(reduced->width, 5);
    EXPECT_EQ(expanded->width, 9);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(reduced->Row(y)[x], 77);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(expanded->Row(y)[x], 77);

    // A lone bright sample: its detail exceeds 255 - 128 and is clamped.
    Pyramid p;
    p.emplace_back(factory.NewLevel(9, 9));
    p[0]->Row(4)[4] = 255;
    BuildPyramid(p, 2, true, factory);
    // Reduce at (2, 2): 8 * 8 * 255 / 400 = 40 (integer steps); expand back at (4, 4): 40 * 64 / 100 = 25.
    EXPECT_EQ(p[1]->Row(2)[2], 40);
    EXPECT_EQ(p[0]->Row(4)[4], 255);  // 255 - 25 + 128 clamped
    EXPECT_EQ(p[0]->Row(0)[0], 128);
}

// The padded rectangle lies inside the first element, so its mask is 255
// everywhere the pyramids see; only the integer filters and the clamping of
// detail bands stand between the result and the first element.
TEST_F(BlenderTest, FullMaskReproducesTheFirstElement) {
    std::mt19937 rng(9);
    auto first = MakeElement(120, 100, 0, 0, [&](int c, int r, int k) {
        return static_cast<int>(128 + 60 * std::sin(c * 0.2 + k) * std::cos(r * 0.15) + (rng() % 9));
    });
    first->CreateMask(true);
    auto result = Random(81, 65, 10, 10, 10);
    result->CreateMask(false);  // nothing placed yet
    LaplacianBlender blender;
    ASSERT_TRUE(blender.Blend(4, first.Get(), result.Get()));
    ASSERT_EQ(blender.GetPaddedRect(), Rect(6, 6, 95, 79));
    EXPECT_TRUE(blender.IsDone());
    blender.WriteResult(result.Get());
    int worst = 0;
    for (int r = 0; r < 65; ++r)
        for (int c = 0; c < 81; ++c) {
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::abs(PixelAt(result.Get(), c, r)[k] -
                                                 PixelAt(first.Get(), c + 10, r + 10)[k]));
            EXPECT_EQ(MaskAt(result.Get(), c, r), 255);
        }
    EXPECT_LE(worst, 2);
}

// Under a mask of one half the blend is the mean of the two elements, with
// no drift: each band is merged with rounding, so four bands do not add up
// to a darkening of about two levels (what shows as a step where the blended
// rectangle meets the untouched result).
TEST_F(BlenderTest, HalfMaskBlendsToTheMeanWithoutDrift) {
    auto pattern = [](int shift) {
        return [shift](int c, int r, int k) {
            return static_cast<int>(128 + 60 * std::sin(c * 0.2 + k + shift) * std::cos(r * 0.15 + shift));
        };
    };
    auto first = MakeElement(96, 80, 0, 0, pattern(0));
    SetMask(first.Get(), [](int, int) { return 128; });
    auto result = MakeElement(96, 80, 0, 0, pattern(1));
    result->CreateMask(true);
    RefPtr<CPanoElement> second = MakeElement(96, 80, 0, 0, pattern(1));
    LaplacianBlender blender;
    ASSERT_TRUE(blender.Blend(4, first.Get(), result.Get()));
    blender.WriteResult(result.Get());
    double drift = 0;
    int n = 0;
    for (int r = 8; r < 72; ++r)
        for (int c = 8; c < 88; ++c)
            for (int k = 0; k < 3; ++k, ++n)
                drift += PixelAt(result.Get(), c, r)[k] -
                         (128.0 * PixelAt(first.Get(), c, r)[k] + 127.0 * PixelAt(second.Get(), c, r)[k]) / 255;
    EXPECT_LT(std::abs(drift / n), 0.5);
}

TEST_F(BlenderTest, MaskOfTheResultFollowsTheSavedMask) {
    auto first = Uniform(4, 1, 0, 0, 10);
    SetMask(first.Get(), [](int c, int) { return c == 0 ? 255 : c == 1 ? 0 : 128; });
    first->GetSavedMask();
    auto target = Uniform(4, 1, 0, 0, 20);
    SetMask(target.Get(), [](int c, int) { return c == 3 ? 128 : 60; });
    LaplacianBlender blender;
    ASSERT_TRUE(blender.Blend(2, first.Get(), target.Get()));
    blender.WriteResult(target.Get());
    EXPECT_EQ(MaskAt(target.Get(), 0, 0), 255);
    EXPECT_EQ(MaskAt(target.Get(), 1, 0), 60);
    EXPECT_EQ(MaskAt(target.Get(), 2, 0), 255 - (195 * 127) / 255);
    EXPECT_EQ(MaskAt(target.Get(), 3, 0), 255 - (127 * 127) / 255);
}

TEST_F(BlenderTest, AllocationFailureWritesNothing) {
    auto first = Random(30, 20, 0, 0, 11);
    first->CreateMask(true);
    auto second = Random(40, 30, 10, 5, 12);
    second->CreateMask(true);
    const auto before = Snapshot(second.Get());
    // Fail at the first level, among the level-0 planes, in the pyramids, in the collapse.
    FailingLevels probe(1 << 30);
    {
        LaplacianBlender blender(&probe);
        ASSERT_TRUE(blender.Blend(3, first.Get(), second.Get()));
    }
    for (int budget : {0, 3, 7, 12, probe.made / 2, probe.made - 1}) {
        FailingLevels levels(budget);
        LaplacianBlender blender(&levels);
        EXPECT_FALSE(blender.Blend(3, first.Get(), second.Get())) << budget;
        EXPECT_FALSE(blender.IsDone());
        blender.WriteResult(second.Get());
        EXPECT_EQ(Snapshot(second.Get()), before) << budget;
    }
}

// Photos partly outside the result, one-pixel overlaps and negative positions.
TEST_F(BlenderTest, AwkwardPlacementsStayInsideThePlanes) {
    const int placements[][4] = {{-5, -3, 10, 10}, {55, 25, 10, 10}, {-20, 0, 21, 1},
                                 {0, -30, 1, 31},  {59, 29, 1, 1},   {-100, -100, 101, 101}};
    for (int levels : {2, 4, 6})
        for (const auto& p : placements) {
            auto result = Random(60, 30, 0, 0, 13);
            SetMask(result.Get(), [](int c, int r) { return (c * r) % 5 ? 255 : 0; });
            auto photo = Random(p[2], p[3], p[0], p[1], 14);
            SetMask(photo.Get(), [](int c, int) { return c % 3 ? 255 : 0; });
            LaplacianBlender blender;
            ASSERT_TRUE(blender.Blend(levels, photo.Get(), result.Get()));
            blender.WriteResult(result.Get());
        }
}

// The search as written: distance first, then left, right, up, down.
void LiteralFill(CLevel* const ch[3], const std::vector<std::uint8_t>& coverage) {
    const int w = ch[0]->width, h = ch[0]->height;
    auto covered = [&](int x, int y) { return coverage[static_cast<std::size_t>(y) * w + x] != 0; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (covered(x, y))
                continue;
            for (int d = 1; d < std::max(w, h); ++d) {
                const int cand[4][2] = {{x - d, y}, {x + d, y}, {x, y - d}, {x, y + d}};
                bool found = false;
                for (const auto& c : cand) {
                    if (c[0] < 0 || c[0] >= w || c[1] < 0 || c[1] >= h || !covered(c[0], c[1]))
                        continue;
                    for (int k = 0; k < 3; ++k)
                        ch[k]->Row(y)[x] = ch[k]->Row(c[1])[c[0]];
                    found = true;
                    break;
                }
                if (found)
                    break;
            }
        }
}

TEST(PyramidTest, LinearFillMatchesTheLiteralSearch) {
    std::mt19937 rng(2024);
    struct Size {
        int w, h, coveredPercent;
    } sizes[] = {{1, 1, 0},   {1, 9, 30},  {9, 1, 30},  {2, 2, 50},   {7, 5, 10},   {16, 16, 50},
                 {33, 17, 5}, {70, 3, 20}, {5, 70, 20}, {64, 65, 90}, {130, 40, 2}, {31, 31, 100}};
    for (const auto& s : sizes)
        for (int rep = 0; rep < 4; ++rep) {
            std::vector<std::uint8_t> coverage(static_cast<std::size_t>(s.w) * s.h);
            for (auto& c : coverage)
                c = static_cast<int>(rng() % 100) < s.coveredPercent ? 255 : 0;
            if (rep == 3)  // a covered block, like a photo inside the padded rectangle
                for (int y = 0; y < s.h; ++y)
                    for (int x = 0; x < s.w; ++x)
                        coverage[y * s.w + x] = x > s.w / 3 && y < s.h / 2 ? 1 : 0;
            CLevel a0(s.w, s.h), a1(s.w, s.h), a2(s.w, s.h), b0(s.w, s.h), b1(s.w, s.h), b2(s.w, s.h);
            CLevel* const a[3] = {&a0, &a1, &a2};
            CLevel* const b[3] = {&b0, &b1, &b2};
            for (int k = 0; k < 3; ++k)
                for (int y = 0; y < s.h; ++y)
                    for (int x = 0; x < s.w; ++x)
                        a[k]->Row(y)[x] = b[k]->Row(y)[x] = static_cast<std::uint8_t>(rng());
            FillFromNearestCovered(a, coverage.data());
            LiteralFill(b, coverage);
            for (int k = 0; k < 3; ++k)
                for (int y = 0; y < s.h; ++y)
                    ASSERT_EQ(0, std::memcmp(a[k]->Row(y), b[k]->Row(y), s.w))
                        << s.w << "x" << s.h << " rep " << rep << " channel " << k << " row " << y;
        }
}

// The filters as written, one sample at a time, edges clamped.
RefPtr<CLevel> LiteralReduce(const CLevel& g) {
    const int w = g.width, h = g.height, ow = w / 2 + 1, oh = h / 2 + 1;
    auto at = [&](int x, int y) {
        return static_cast<int>(g.Row(std::clamp(y, 0, h - 1))[std::clamp(x, 0, w - 1)]);
    };
    CLevel rows(ow, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < ow; ++x)
            rows.Row(y)[x] =
                static_cast<std::uint8_t>((at(2 * x - 2, y) + 5 * at(2 * x - 1, y) + 8 * at(2 * x, y) +
                                           5 * at(2 * x + 1, y) + at(2 * x + 2, y)) /
                                          20);
    RefPtr<CLevel> out(new CLevel(ow, oh));
    auto r = [&](int x, int y) { return static_cast<int>(rows.Row(std::clamp(y, 0, h - 1))[x]); };
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x)
            out->Row(y)[x] =
                static_cast<std::uint8_t>((r(x, 2 * y - 2) + 5 * r(x, 2 * y - 1) + 8 * r(x, 2 * y) +
                                           5 * r(x, 2 * y + 1) + r(x, 2 * y + 2)) /
                                          20);
    return out;
}

RefPtr<CLevel> LiteralExpand(const CLevel& g) {
    const int a = g.width, b = g.height;
    // One line of n samples into 2n - 1.
    auto line = [](int n, auto s, auto put) {
        if (n == 1) {
            put(0, s(0));
            return;
        }
        for (int i = 0; i < n; ++i) {
            const int l = i > 0 ? s(i - 1) : -1, r = i < n - 1 ? s(i + 1) : -1;
            put(2 * i, l < 0 ? (8 * s(i) + r) / 9 : r < 0 ? (l + 8 * s(i)) / 9 : (l + 8 * s(i) + r) / 10);
            if (i < n - 1)
                put(2 * i + 1, (s(i) + s(i + 1)) / 2);
        }
    };
    CLevel columns(a, 2 * b - 1);
    for (int x = 0; x < a; ++x)
        line(
            b, [&](int i) { return static_cast<int>(g.Row(i)[x]); },
            [&](int i, int v) { columns.Row(i)[x] = static_cast<std::uint8_t>(v); });
    RefPtr<CLevel> out(new CLevel(2 * a - 1, 2 * b - 1));
    for (int y = 0; y < 2 * b - 1; ++y)
        line(
            a, [&](int i) { return static_cast<int>(columns.Row(y)[i]); },
            [&](int i, int v) { out->Row(y)[i] = static_cast<std::uint8_t>(v); });
    return out;
}

// Pyramids of planes large enough to be split among threads: every level,
// and the collapsed plane, the same with one thread and with several, and
// the same as the filters applied sample by sample.
TEST(PyramidTest, LevelsAreTheLiteralFiltersWithAnyThreadCount) {
    std::mt19937 rng(31);
    // The last plane holds only 0 and 255: every sum at its largest and
    // every detail clamped.
    const int sizes[][2] = {{257, 193}, {513, 129}, {97, 385}, {161, 97}};
    for (const auto& size : sizes) {
        const bool extremes = &size == &sizes[3];
        CLevel source(size[0], size[1]);
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
                source.Row(y)[x] = extremes ? static_cast<std::uint8_t>(rng() % 2 * 255)
                                            : static_cast<std::uint8_t>((x * 7 + y * 3) % 256 / 2 + rng() % 128);
        // The Laplacian levels from the literal filters.
        const int levels = 5;
        std::vector<RefPtr<CLevel>> gauss;
        gauss.emplace_back(new CLevel(size[0], size[1]));
        for (int y = 0; y < size[1]; ++y)
            std::memcpy(gauss[0]->Row(y), source.Row(y), size[0]);
        for (int l = 1; l < levels; ++l)
            gauss.push_back(LiteralReduce(*gauss[l - 1]));
        for (int l = 0; l + 1 < levels; ++l) {
            const RefPtr<CLevel> up = LiteralExpand(*gauss[l + 1]);
            for (int y = 0; y < gauss[l]->height; ++y)
                for (int x = 0; x < gauss[l]->width; ++x)
                    gauss[l]->Row(y)[x] = static_cast<std::uint8_t>(
                        std::clamp(gauss[l]->Row(y)[x] - up->Row(y)[x] + 128, 0, 255));
        }
        // Collapsed back, on copies: detail clamped on the way down stays lost.
        std::vector<RefPtr<CLevel>> literal;
        for (const auto& g : gauss) {
            literal.emplace_back(new CLevel(g->width, g->height));
            for (int y = 0; y < g->height; ++y)
                std::memcpy(literal.back()->Row(y), g->Row(y), g->width);
        }
        for (int l = levels - 1; l > 0; --l) {
            const RefPtr<CLevel> up = LiteralExpand(*literal[l]);
            for (int y = 0; y < literal[l - 1]->height; ++y)
                for (int x = 0; x < literal[l - 1]->width; ++x)
                    literal[l - 1]->Row(y)[x] = static_cast<std::uint8_t>(
                        std::clamp(literal[l - 1]->Row(y)[x] + up->Row(y)[x] - 128, 0, 255));
        }
        for (unsigned threads : {1u, 3u, 8u}) {
            Platform::ThreadPool pool(threads);
            Platform::ThreadPool::ScopedShared use(pool);
            LevelFactory factory;
            Pyramid p;
            p.emplace_back(factory.NewLevel(size[0], size[1]));
            for (int y = 0; y < size[1]; ++y)
                std::memcpy(p[0]->Row(y), source.Row(y), size[0]);
            BuildPyramid(p, levels, true, factory);
            ASSERT_EQ(static_cast<int>(p.size()), levels);
            for (int l = 0; l < levels; ++l)
                for (int y = 0; y < p[l]->height; ++y)
                    ASSERT_EQ(0, std::memcmp(p[l]->Row(y), gauss[l]->Row(y), p[l]->width))
                        << size[0] << "x" << size[1] << " threads " << threads << " level " << l << " row "
                        << y;
            Collapse(p, factory);
            for (int y = 0; y < size[1]; ++y)
                ASSERT_EQ(0, std::memcmp(p[0]->Row(y), literal[0]->Row(y), size[0]))
                    << size[0] << "x" << size[1] << " threads " << threads << " collapsed row " << y;
        }
    }
}

}  // namespace
