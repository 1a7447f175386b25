#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "DibManager.h"
#include "PanoElement.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;

namespace {

class PanoElementTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }

    // A 24-bit element whose pixel bytes encode their own position.
    RefPtr<CPanoElement> Make(int w, int h, int bpp = 24, int x = 0, int y = 0) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        EXPECT_TRUE(e->Create(bpp, w, h));
        for (int r = 0; r < h; ++r)
            for (int i = 0; i < w * bpp / 8; ++i)
                e->GetBits()[r * e->GetStride() + i] = static_cast<std::uint8_t>(r * 31 + i);
        e->x = x;
        e->y = y;
        return e;
    }

    // Builds a mask from rows of text, '#' = 255, '+' = 128, '.' = 0 (row 0 first).
    static void SetMask(CPanoElement* e, const std::vector<std::string>& rows) {
        e->CreateMask(false);
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t c = 0; c < rows[r].size(); ++c)
                e->GetMask()[r * e->GetMaskStride() + c] = rows[r][c] == '#'   ? 255
                                                           : rows[r][c] == '+' ? 128
                                                                               : 0;
    }

    CDibManager manager;
};

}  // namespace

TEST_F(PanoElementTest, GeometryAndStrides) {
    for (auto [w, stride] : {std::pair{1, 4}, std::pair{4, 4}, std::pair{5, 8}}) {
        auto e = Make(w, 2);
        EXPECT_EQ(e->GetMaskStride(), stride) << w;
    }
    auto e = Make(30, 40, 24, 10, 20);
    EXPECT_EQ(e->GetRect(), Rect(10, 20, 40, 60));
    EXPECT_EQ(e->GetSize(), OrvexBase::Size(30, 40));
    EXPECT_EQ(e->scale, 1.0);
    EXPECT_EQ(e->GetRefCount(), 1);
}

TEST_F(PanoElementTest, PlanesBecomeImages) {
    const std::uint8_t red[] = {1, 2, 3, 0, 4, 5, 6, 0};
    const std::uint8_t green[] = {11, 12, 13, 0, 14, 15, 16, 0};
    const std::uint8_t blue[] = {21, 22, 23, 0, 24, 25, 26, 0};
    RefPtr<CPanoElement> colour(new CPanoElement(0));
    EXPECT_FALSE(colour->SetFromPlanes(red, nullptr, blue, 3, 2, 4));
    EXPECT_FALSE(colour->SetFromPlanes(red, green, blue, 0, 2, 4));
    ASSERT_TRUE(colour->SetFromPlanes(red, green, blue, 3, 2, 4));
    const std::uint8_t* row1 = colour->GetBits() + colour->GetStride();
    EXPECT_EQ(row1[0], 24);  // blue first
    EXPECT_EQ(row1[1], 14);
    EXPECT_EQ(row1[2], 4);
    EXPECT_FALSE(colour->SetFromPlanes(red, green, blue, 3, 2, 4));  // already has pixels

    RefPtr<CPanoElement> grey(new CPanoElement(0));
    EXPECT_FALSE(grey->SetFromPlane(nullptr, 3, 2, 4));
    ASSERT_TRUE(grey->SetFromPlane(red, 3, 2, 4));
    EXPECT_EQ(grey->GetBpp(), 8);
    EXPECT_EQ(grey->GetBits()[grey->GetStride() + 2], 6);
}

TEST_F(PanoElementTest, CopyToNeedsTheSameRectangleAndDepth) {
    auto src = Make(6, 4, 24, 2, 3);
    SetMask(src.Get(), {"######", "#....#", "######", "......"});

    auto larger = Make(7, 4, 24, 2, 3);
    std::vector<std::uint8_t> before(larger->GetBits(), larger->GetBits() + larger->GetStride() * 4);
    EXPECT_FALSE(src->CopyTo(larger.Get()));
    EXPECT_EQ(std::memcmp(before.data(), larger->GetBits(), before.size()), 0);
    EXPECT_FALSE(src->CopyTo(nullptr));
    auto grey = Make(6, 4, 8, 2, 3);
    EXPECT_FALSE(src->CopyTo(grey.Get()));

    RefPtr<CPanoElement> target(new CPanoElement(0));
    ASSERT_TRUE(target->Create(24, 6, 4));
    target->x = 2;
    target->y = 3;
    ASSERT_TRUE(src->CopyTo(target.Get()));
    EXPECT_EQ(std::memcmp(src->GetBits(), target->GetBits(), src->GetStride() * 4), 0);
    ASSERT_NE(target->GetMask(), nullptr);
    EXPECT_EQ(std::memcmp(src->GetMask(), target->GetMask(), src->GetMaskStride() * 4), 0);
}

TEST_F(PanoElementTest, CloneAndInitFrom) {
    RefPtr<CPanoElement> empty(new CPanoElement(0));
    EXPECT_EQ(empty->Clone(), nullptr);

    auto src = Make(5, 3, 24, -4, 9);
    SetMask(src.Get(), {"#####", "#.#.#", "....."});
    RefPtr<PanoramaLib::IPanoElement> copy(src->Clone());
    ASSERT_NE(copy.Get(), nullptr);
    EXPECT_EQ(copy->GetRect(), src->GetRect());
    EXPECT_EQ(std::memcmp(copy->GetBits(), src->GetBits(), src->GetStride() * 3), 0);
    EXPECT_EQ(std::memcmp(copy->GetMask(), src->GetMask(), src->GetMaskStride() * 3), 0);
    EXPECT_NE(copy->GetBits(), src->GetBits());

    // Over an element with planes of another size: they are replaced, not overrun.
    auto big = Make(40, 30);
    big->CreateMask(true);
    ASSERT_NE(big->GetSavedMask(), nullptr);
    ASSERT_NE(big->GetBlendBuffer(), nullptr);
    ASSERT_TRUE(big->InitFrom(src.Get()));
    EXPECT_EQ(big->GetSize(), OrvexBase::Size(5, 3));
    EXPECT_EQ(std::memcmp(big->GetMask(), src->GetMask(), src->GetMaskStride() * 3), 0);
    EXPECT_EQ(big->GetSavedMaskIfAny(), nullptr);

    // A source without a mask leaves no stale mask behind.
    auto plain = Make(5, 3);
    ASSERT_TRUE(big->InitFrom(plain.Get()));
    EXPECT_EQ(big->GetMask(), nullptr);
}

TEST_F(PanoElementTest, ApplyMaskWhitensUncoveredPixels) {
    for (int bpp : {24, 8}) {
        auto e = Make(3, 2, bpp);
        SetMask(e.Get(), {"#.#", "..#"});
        const std::uint8_t kept = e->GetBits()[0];
        e->ApplyMask();
        EXPECT_EQ(e->GetMask(), nullptr);
        const int bytes = bpp / 8;
        EXPECT_EQ(e->GetBits()[0], kept);
        for (int i = 0; i < bytes; ++i) {
            EXPECT_EQ(e->GetBits()[bytes + i], 255) << bpp;           // row 0, column 1
            EXPECT_EQ(e->GetBits()[e->GetStride() + i], 255) << bpp;  // row 1, column 0
        }
        EXPECT_NE(e->GetBits()[e->GetStride() + 2 * bytes], 255) << bpp;  // row 1, column 2 kept
    }
}

TEST_F(PanoElementTest, MaskPlanesAndBounds) {
    auto e = Make(8, 5, 24, 100, 200);
    Rect bounds;
    e->GetMaskBounds(&bounds, nullptr);
    EXPECT_EQ(bounds, e->GetRect());  // no mask: the whole element

    SetMask(e.Get(), {"........", "..+#....", "...#.#..", "........", "........"});
    e->GetMaskBounds(&bounds, nullptr);
    EXPECT_EQ(bounds, Rect(102, 201, 106, 203));
    const Rect clip(104, 200, 120, 220);
    e->GetMaskBounds(&bounds, &clip);
    EXPECT_EQ(bounds, Rect(105, 202, 106, 203));
    const Rect emptyClip(100, 204, 108, 205);
    e->GetMaskBounds(&bounds, &emptyClip);
    EXPECT_GT(bounds.left, bounds.right);
    EXPECT_TRUE(bounds.IsEmpty());

    std::uint8_t* saved = e->GetSavedMask();
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved[e->GetMaskStride() + 3], 255);
    EXPECT_EQ(saved[0], 0);
    EXPECT_EQ(e->GetSavedMask(), saved);  // made once
    std::uint16_t* blend = e->GetBlendBuffer();
    ASSERT_NE(blend, nullptr);
    for (int i = 0; i < e->GetMaskStride() * 5; ++i)
        ASSERT_EQ(blend[i], 0);

    auto unmasked = Make(3, 3);
    EXPECT_EQ(unmasked->GetSavedMask()[4], 255);  // no mask: all covered
}

TEST_F(PanoElementTest, ClearMaskRect) {
    auto e = Make(6, 4, 24, 10, 10);
    e->CreateMask(true);
    e->CreateMask(false);  // an existing mask stays
    EXPECT_EQ(e->GetMask()[0], 255);

    const Rect outside(0, 0, 10, 10);
    e->ClearMaskRect(&outside);
    e->ClearMaskRect(nullptr);
    for (int i = 0; i < e->GetMaskStride() * 4; ++i)
        ASSERT_EQ(e->GetMask()[i], 255);

    const Rect part(14, 12, 30, 30);
    e->ClearMaskRect(&part);
    const int ms = e->GetMaskStride();
    EXPECT_EQ(e->GetMask()[2 * ms + 3], 255);
    EXPECT_EQ(e->GetMask()[2 * ms + 4], 0);
    EXPECT_EQ(e->GetMask()[3 * ms + 5], 0);
    EXPECT_EQ(e->GetMask()[1 * ms + 5], 255);
}

TEST_F(PanoElementTest, ExtractRegions) {
    auto e = Make(10, 8, 24, 5, 6);
    SetMask(e.Get(), {"##########", "#........#", "#.######.#", "#.#....#.#", "#.#.##.#.#", "#.#....#.#",
                      "#.######.#", "##########"});
    EXPECT_EQ(e->ExtractRegion(true, Rect(5, 6, 16, 14)), nullptr);  // one pixel beyond
    EXPECT_EQ(e->ExtractRegion(true, Rect(7, 7, 7, 9)), nullptr);    // no width

    RefPtr<CPanoElement> part(e->ExtractRegion(true, Rect(7, 8, 11, 11)));
    ASSERT_NE(part.Get(), nullptr);
    EXPECT_EQ(part->GetRect(), Rect(7, 8, 11, 11));
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(std::memcmp(part->GetBits() + r * part->GetStride(),
                              e->GetBits() + (r + 2) * e->GetStride() + 6, 12),
                  0);
        EXPECT_EQ(std::memcmp(part->GetMask() + r * part->GetMaskStride(),
                              e->GetMask() + (r + 2) * e->GetMaskStride() + 2, 4),
                  0);
    }
    RefPtr<CPanoElement> noMask(e->ExtractRegion(false, Rect(7, 8, 11, 11)));
    EXPECT_EQ(noMask->GetMask(), nullptr);

    // The channel region reaches outside the element: zero there.
    RefPtr<CPanoElement> channel(e->ExtractChannelRegion(Rect(3, 4, 8, 9)));
    ASSERT_NE(channel.Get(), nullptr);
    EXPECT_EQ(channel->GetBpp(), 8);
    EXPECT_EQ(channel->GetRect(), Rect(0, 0, 5, 5));
    EXPECT_EQ(channel->GetBits()[0], 0);                               // outside
    EXPECT_EQ(channel->GetBits()[2 * channel->GetStride() + 2], 255);  // element (0, 0)
    EXPECT_EQ(channel->GetBits()[3 * channel->GetStride() + 3], 0);    // element (1, 1)
    EXPECT_EQ(e->ExtractMaskRegion(Rect(3, 4, 8, 9)), nullptr);        // no saved mask yet
    e->GetSavedMask();
    RefPtr<CPanoElement> saved(e->ExtractMaskRegion(Rect(3, 4, 8, 9)));
    ASSERT_NE(saved.Get(), nullptr);
    EXPECT_EQ(std::memcmp(saved->GetBits(), channel->GetBits(), channel->GetStride() * 5), 0);

    auto unmasked = Make(4, 4);
    EXPECT_EQ(unmasked->ExtractChannelRegion(Rect(0, 0, 2, 2)), nullptr);
}

TEST_F(PanoElementTest, ComputeCropRectCases) {
    struct Case {
        const char* name;
        int w, h;
        std::vector<std::string> mask;  // empty: no mask
        Rect expected;
    };
    const std::vector<std::string> ragged = {
        "....................", "....................", "...##############...", "...##############...",
        ".##################.", "...##############...", "...##############...", "...##############...",
        "....................", "....................",
    };
    std::vector<std::string> holed = ragged;
    holed[5][10] = '.';  // a hole in a column the other rows cover: that row is unusable
    const Case cases[] = {
        {"no mask", 7, 5, {}, Rect(3, 4, 10, 9)},
        {"full", 6, 4, {"######", "######", "######", "######"}, Rect(0, 0, 6, 4)},
        {"ragged wide", 20, 10, ragged, Rect(3, 2, 17, 8)},
        {"hole drops a row", 20, 10, holed, Rect(3, 2, 17, 5)},
        {"narrow span falls back",
         30,
         3,
         {"..............................", "..............##..............",
          ".............................."},
         Rect(3, 4, 33, 7)},
        {"nothing fully covered falls back", 5, 1, {"+++++"}, Rect(3, 4, 8, 5)},
        {"span at column 0 counts", 5, 1, {"#...."}, Rect(0, 0, 1, 1)},
        {"tall searches columns",
         4,
         12,
         {"....", ".##.", ".##.", ".##.", "###.", ".##.", ".##.", ".##.", ".##.", ".##.", ".##.", "...."},
         Rect(1, 1, 3, 11)},
    };
    for (const Case& c : cases) {
        auto e = Make(c.w, c.h, 24, 3, 4);
        if (!c.mask.empty())
            SetMask(e.Get(), c.mask);
        Rect crop;
        e->ComputeCropRect(&crop);
        EXPECT_EQ(crop, c.expected) << c.name << ": " << crop.left << "," << crop.top << "," << crop.right
                                    << "," << crop.bottom;
    }
}

TEST_F(PanoElementTest, FillsAndFactoryFunctions) {
    auto e = Make(5, 2);
    e->FillImageWhite();
    for (int i = 0; i < e->GetStride() * 2; ++i)
        ASSERT_EQ(e->GetBits()[i], 255);
    e->FillImageGrey();
    for (int i = 0; i < e->GetStride() * 2; ++i)
        ASSERT_EQ(e->GetBits()[i], 128);

    std::vector<PanoramaLib::IPanoElement*> elements;
    for (int i = 0; i < 3; ++i)
        elements.push_back(CreatePanoElement(0));
    for (auto* el : elements)
        ASSERT_NE(el, nullptr);
    ReleaseElementVector(elements);
    EXPECT_TRUE(elements.empty());
    ReleasePanoElement(nullptr);

    e->Destroy();
    EXPECT_FALSE(e->IsValid());
    EXPECT_EQ(e->GetMask(), nullptr);
}

// The bounds scan skips zero bytes eight at a time: against a byte-by-byte
// reference over widths around the word size, sparse and dense masks, and
// clips that cut into or miss the element.
TEST_F(PanoElementTest, MaskBoundsMatchAByteByByteScan) {
    std::mt19937 random(7);
    for (int w : {1, 7, 8, 9, 15, 16, 17, 31, 64, 70}) {
        for (double density : {0.0, 0.002, 0.05, 0.9}) {
            auto e = Make(w, 9, 8, -3, 5);
            e->CreateMask(false);
            std::uint8_t* m = e->GetMask();
            std::bernoulli_distribution on(density);
            for (int r = 0; r < 9; ++r)
                for (int c = 0; c < w; ++c)
                    m[r * e->GetMaskStride() + c] = on(random) ? 255 : 0;
            std::uniform_int_distribution<int> edge(-6, w + 2);
            for (int k = 0; k < 12; ++k) {
                const int a = edge(random), b = edge(random);
                const Rect clip(std::min(a, b), 4 + k % 4, std::max(a, b) + 1, 8 + k % 9);
                const Rect region = e->GetRect().Intersect(clip);
                Rect expected(region.right, region.bottom, region.left, region.top);
                bool any = false;
                for (int y = region.top; y < region.bottom; ++y)
                    for (int x = region.left; x < region.right; ++x)
                        if (m[(y - 5) * e->GetMaskStride() + (x + 3)]) {
                            if (!any)
                                expected = Rect(x, y, x + 1, y + 1);
                            any = true;
                            expected.left = std::min(expected.left, x);
                            expected.right = std::max(expected.right, x + 1);
                            expected.bottom = y + 1;
                        }
                Rect bounds;
                e->GetMaskBounds(&bounds, &clip);
                ASSERT_EQ(bounds, expected) << "width " << w << ", density " << density << ", clip " << k;
            }
        }
    }
}
