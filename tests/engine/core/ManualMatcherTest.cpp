#include "ManualMatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "DibManager.h"
#include "PanoElement.h"

using OrvexBase::RefPtr;
using OrvexBase::Size;

namespace {

using Markers = std::array<int, 6>;
using Matrix = std::array<double, 9>;

Markers MarkersOf(const CManualMatcher& m, bool second) {
    Markers out;
    m.GetMarkers(second, out.data());
    return out;
}

Matrix TransformOf(const CManualMatcher& m) {
    Matrix out;
    m.GetTransform(out.data());
    return out;
}

void ExpectNear(const Matrix& actual, const Matrix& expected, double tolerance) {
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "entry " << i;
}

Matrix Rotation(double degrees, double tx, double ty) {
    const double r = degrees * std::numbers::pi / 180.0;
    return {std::cos(r), std::sin(r), tx, -std::sin(r), std::cos(r), ty, 0, 0, 1};
}

const Size k800x600(800, 600);
const Markers kDefaultFirst = {700, 450, 700, 300, 700, 150};
const Markers kDefaultSecond = {100, 450, 100, 300, 100, 150};
const Matrix kDefaultSolution = {1, 0, -600, 0, 1, 0, 0, 0, 1};

TEST(ManualMatcher, FreshMatcher) {
    CManualMatcher m(true);
    EXPECT_EQ(TransformOf(m), (Matrix{0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(MarkersOf(m, false), Markers{});
    EXPECT_EQ(MarkersOf(m, true), Markers{});
    EXPECT_EQ(m.GetMotionModel(), 0);
    EXPECT_FALSE(m.IsModified());
    EXPECT_TRUE(m.GetOptionFlag());
    EXPECT_FALSE(CManualMatcher(false).GetOptionFlag());
}

TEST(ManualMatcher, DefaultMarkersNearTheFacingEdges) {
    CManualMatcher m(false);
    m.InitDefaultMarkers(k800x600, k800x600);
    EXPECT_EQ(MarkersOf(m, false), kDefaultFirst);
    EXPECT_EQ(MarkersOf(m, true), kDefaultSecond);
    EXPECT_EQ(m.GetMotionModel(), 2);
    ExpectNear(TransformOf(m), kDefaultSolution, 1e-9);
    EXPECT_FALSE(m.IsTransformInvalid());

    // Truncating integer arithmetic on odd sizes.
    m.InitDefaultMarkers(Size(101, 67), Size(59, 31));
    EXPECT_EQ(MarkersOf(m, false), (Markers{88, 50, 88, 33, 88, 16}));
    EXPECT_EQ(MarkersOf(m, true), (Markers{7, 23, 7, 15, 7, 7}));
}

TEST(ManualMatcher, SetMarkerClampsTheIndex) {
    struct Case {
        bool second;
        int index;
        int moved;
    };
    for (const Case c : {Case{false, 5, 2}, Case{false, -1, 0}, Case{true, 1, 1}, Case{true, 3, 2}}) {
        CManualMatcher m(false);
        m.InitDefaultMarkers(k800x600, k800x600);
        const int point[2] = {123, 234};
        m.SetMarker(c.second, point, c.index);
        Markers expected = c.second ? kDefaultSecond : kDefaultFirst;
        expected[2 * c.moved] = 123;
        expected[2 * c.moved + 1] = 234;
        EXPECT_EQ(MarkersOf(m, c.second), expected) << "index " << c.index;
        EXPECT_EQ(MarkersOf(m, !c.second), c.second ? kDefaultFirst : kDefaultSecond);
        EXPECT_TRUE(m.IsModified());
    }
}

// A seed from a transform is not solved; touching a marker without moving it
// solves by the current model and leaves the matcher unmodified.
TEST(ManualMatcher, SetMarkerToItsPlaceResolves) {
    CManualMatcher m(false);
    const Matrix seed = Rotation(8.0, -500.0, 40.0);
    const Markers marks = {600, 100, 700, 300, 650, 500};
    m.InitFromTransform(k800x600, k800x600, marks.data(), seed.data(), 2);
    EXPECT_EQ(TransformOf(m), seed);
    const int same[2] = {marks[0], marks[1]};
    m.SetMarker(false, same, 0);
    EXPECT_FALSE(m.IsModified());
    const Matrix solved = TransformOf(m);
    EXPECT_EQ(solved[1], 0.0);  // scale and shift only
    EXPECT_EQ(solved[3], 0.0);
    EXPECT_EQ(solved[0], solved[4]);
}

TEST(ManualMatcher, CoincidentPairGivesPureTranslation) {
    for (int model : {1, 2}) {
        CManualMatcher m(false);
        m.InitDefaultMarkers(k800x600, k800x600);
        m.SetMotionModel(model);
        const int a[2] = {400, 200}, b[2] = {90, 250};
        m.SetMarker(false, a, 0);
        m.SetMarker(false, a, 1);
        m.SetMarker(true, b, 0);
        m.SetMarker(true, b, 1);
        EXPECT_EQ(TransformOf(m), (Matrix{1, 0, -310, 0, 1, 50, 0, 0, 1})) << "model " << model;
        EXPECT_FALSE(m.IsTransformInvalid());
    }
}

// Markers mapped exactly by a transform of each model give that transform.
TEST(ManualMatcher, SolversRecoverExactMarkers) {
    struct Case {
        int model;
        Matrix h;
    };
    const Case cases[] = {
        {0, {1.5, 0.25, -300, -0.5, 1.25, 20, 0, 0, 1}},
        {1, {0.75, 0.25, -200, -0.25, 0.75, 100, 0, 0, 1}},
        {2, {1.25, 0, -400, 0, 1.25, -50, 0, 0, 1}},
    };
    const Markers first = {400, 100, 600, 300, 520, 500};
    for (const Case& c : cases) {
        CManualMatcher m(false);
        m.InitDefaultMarkers(k800x600, k800x600);
        m.SetMotionModel(c.model);
        for (int k = 0; k < 3; ++k) {
            const double x = first[2 * k], y = first[2 * k + 1];
            const double X = c.h[0] * x + c.h[1] * y + c.h[2], Y = c.h[3] * x + c.h[4] * y + c.h[5];
            ASSERT_EQ(X, std::trunc(X));
            ASSERT_EQ(Y, std::trunc(Y));
            const int p[2] = {first[2 * k], first[2 * k + 1]}, q[2] = {int(X), int(Y)};
            m.SetMarker(false, p, k);
            m.SetMarker(true, q, k);
        }
        ExpectNear(TransformOf(m), c.h, 1e-9);
        EXPECT_FALSE(m.IsTransformInvalid()) << "model " << c.model;
    }
}

TEST(ManualMatcher, UnknownModelKeepsTransformAndIsInvalid) {
    CManualMatcher m(false);
    m.InitDefaultMarkers(k800x600, k800x600);
    m.SetMotionModel(7);
    EXPECT_EQ(m.GetMotionModel(), 7);
    ExpectNear(TransformOf(m), kDefaultSolution, 1e-9);
    EXPECT_TRUE(m.IsTransformInvalid());
    const int p[2] = {10, 10};
    m.SetMarker(true, p, 0);
    EXPECT_TRUE(m.IsTransformInvalid());
}

TEST(ManualMatcher, AffineValidity) {
    // Three markers turned by 60 degrees about a point: a plausible
    // transform, but not a usable affine one.
    const Matrix turn = Rotation(60.0, 0, 0);
    const Markers first = {300, 200, 500, 200, 400, 400};
    CManualMatcher m(false);
    m.InitDefaultMarkers(k800x600, k800x600);
    for (int model : {1, 0}) {
        m.SetMotionModel(model);
        for (int k = 0; k < 3; ++k) {
            const double x = first[2 * k] - 400, y = first[2 * k + 1] - 300;
            const int p[2] = {first[2 * k], first[2 * k + 1]};
            const int q[2] = {int(std::lround(turn[0] * x + turn[1] * y + 400)),
                              int(std::lround(turn[3] * x + turn[4] * y + 300))};
            m.SetMarker(false, p, k);
            m.SetMarker(true, q, k);
        }
        EXPECT_EQ(m.IsTransformInvalid(), model == 0) << "model " << model;
    }

    // The default markers lie on one line: under the affine model their
    // minimum-norm solution squeezes the first photo seven times and fails
    // the plausibility test, so it must not count as usable.
    CManualMatcher collinear(false);
    collinear.InitDefaultMarkers(k800x600, k800x600);
    collinear.SetMotionModel(0);
    const Matrix h = TransformOf(collinear);
    EXPECT_NEAR(h[0], 700.0 * 100.0 / (700.0 * 700.0 + 1.0), 1e-9);
    EXPECT_TRUE(collinear.IsTransformInvalid());
}

TEST(ManualMatcher, SeedFromTransform) {
    const Markers marks = {700, 450, 700, 300, 600, 150};
    struct Case {
        const char* what;
        Matrix h;
        bool kept;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"plausible shift", {1, 0, -600.4, 0, 1, 3.7, 0, 0, 1}, true},
        {"ten times larger", {10, 0, 0, 0, 10, 0, 0, 0, 1}, false},
        {"not a number", {nan, 0, 0, 0, 1, 0, 0, 0, 1}, false},
        {"far away", {1, 0, 1e12, 0, 1, 0, 0, 0, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManualMatcher m(false);
        m.InitFromTransform(k800x600, k800x600, marks.data(), c.h.data(), 1);
        if (c.kept) {
            EXPECT_EQ(MarkersOf(m, false), marks);
            // Mapped and rounded: 700 - 600.4 + 0.5 and 450 + 3.7 + 0.5.
            EXPECT_EQ(MarkersOf(m, true), (Markers{100, 454, 100, 304, 0, 154}));
            EXPECT_EQ(TransformOf(m), c.h);
            EXPECT_EQ(m.GetMotionModel(), 1);
        } else {
            EXPECT_EQ(MarkersOf(m, false), kDefaultFirst);
            EXPECT_EQ(MarkersOf(m, true), kDefaultSecond);
            EXPECT_EQ(m.GetMotionModel(), 2);
            ExpectNear(TransformOf(m), kDefaultSolution, 1e-9);
        }
        EXPECT_FALSE(m.IsTransformInvalid());
    }
}

TEST(ManualMatcher, ResetReturnsToTheSeed) {
    CManualMatcher fromDefaults(false);
    fromDefaults.InitDefaultMarkers(k800x600, k800x600);
    const int p[2] = {5, 5};
    fromDefaults.SetMarker(true, p, 1);
    fromDefaults.SetMotionModel(7);
    fromDefaults.Reset();
    EXPECT_FALSE(fromDefaults.IsModified());
    EXPECT_EQ(fromDefaults.GetMotionModel(), 2);
    EXPECT_EQ(MarkersOf(fromDefaults, false), kDefaultFirst);
    EXPECT_EQ(MarkersOf(fromDefaults, true), kDefaultSecond);
    ExpectNear(TransformOf(fromDefaults), kDefaultSolution, 1e-9);
    EXPECT_FALSE(fromDefaults.IsTransformInvalid());

    // From a transform: the seed markers come back, and the transform is the
    // scale-and-shift solution of their first two pairs whatever the model.
    CManualMatcher fromSeed(false);
    const Markers marks = {600, 100, 700, 300, 650, 500};
    const Matrix seed = Rotation(3.0, -500.0, 40.0);
    fromSeed.InitFromTransform(k800x600, k800x600, marks.data(), seed.data(), 1);
    const Markers mapped = MarkersOf(fromSeed, true);
    fromSeed.SetMarker(false, p, 2);
    fromSeed.SetMotionModel(0);
    fromSeed.Reset();
    EXPECT_FALSE(fromSeed.IsModified());
    EXPECT_EQ(fromSeed.GetMotionModel(), 1);
    EXPECT_EQ(MarkersOf(fromSeed, false), marks);
    EXPECT_EQ(MarkersOf(fromSeed, true), mapped);
    const Matrix h = TransformOf(fromSeed);
    EXPECT_EQ(h[1], 0.0);
    EXPECT_EQ(h[0], h[4]);
    EXPECT_FALSE(fromSeed.IsTransformInvalid());
}

// The preview takes its images from the engine's factory.
class MatchPreviewTest : public ::testing::Test {
protected:
    void SetUp() override { g_pDibManager = &manager; }
    void TearDown() override { g_pDibManager = nullptr; }

    // A photo whose bytes encode position and a per-photo seed.
    static RefPtr<CPanoElement> Photo(int w, int h, int seed, int bpp = 24) {
        RefPtr<CPanoElement> e(new CPanoElement(0));
        EXPECT_TRUE(e->Create(bpp, w, h));
        for (int r = 0; r < h; ++r)
            for (int i = 0; i < w * bpp / 8; ++i)
                e->GetBits()[r * e->GetStride() + i] = static_cast<std::uint8_t>(seed + r * 7 + i * 3);
        return e;
    }

    static const std::uint8_t* Pixel(CPanoElement* e, int x, int y) {
        return e->GetBits() + y * e->GetStride() + 3 * x;
    }

    CDibManager manager;
};

TEST_F(MatchPreviewTest, RefusedInputs) {
    auto colour = Photo(64, 48, 1);
    auto grey = Photo(64, 48, 2, 8);
    auto dot = Photo(1, 1, 3);
    RefPtr<CPanoElement> empty(new CPanoElement(0));
    std::atomic<int> idle{0}, cancelled{1};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        CPanoElement* first;
        CPanoElement* second;
        Matrix h;
        const std::atomic<int>* cancel;
    };
    const Case cases[] = {
        {"8-bit first", grey.Get(), colour.Get(), {1, 0, -32, 0, 1, 0, 0, 0, 1}, &idle},
        {"8-bit second", colour.Get(), grey.Get(), {1, 0, -32, 0, 1, 0, 0, 0, 1}, &idle},
        {"no pixels", colour.Get(), empty.Get(), {1, 0, -32, 0, 1, 0, 0, 0, 1}, &idle},
        {"cancelled before", colour.Get(), colour.Get(), {1, 0, -32, 0, 1, 0, 0, 0, 1}, &cancelled},
        {"footprint beyond 32767", colour.Get(), colour.Get(), {1, 0, -32750, 0, 1, 0, 0, 0, 1}, &idle},
        {"footprint below -32768", colour.Get(), colour.Get(), {1, 0, 0, 0, 1, 32800, 0, 0, 1}, &idle},
        {"canvas too large", colour.Get(), colour.Get(), {1.0 / 400, 0, 0, 0, 1.0 / 400, 0, 0, 0, 1}, &idle},
        {"singular", colour.Get(), colour.Get(), {0, 0, 0, 0, 0, 0, 0, 0, 1}, &idle},
        {"not a number", colour.Get(), colour.Get(), {nan, 0, 0, 0, 1, 0, 0, 0, 1}, &idle},
        {"canvas of one pixel", dot.Get(), dot.Get(), {1, 0, 0, 0, 1, 0, 0, 0, 1}, &idle},
    };
    for (const Case& c : cases) {
        Matrix h = c.h;
        EXPECT_EQ(RenderMatchPreview(c.first, c.second, h.data(), c.cancel), nullptr) << c.what;
    }
}

// Two 64 x 48 photos, the second 32 to the right and 10 down.
TEST_F(MatchPreviewTest, OverlaidPixels) {
    auto first = Photo(64, 48, 10);
    auto second = Photo(64, 48, 100);
    Matrix h = {1, 0, -32, 0, 1, -10, 0, 0, 1};
    std::atomic<int> cancel{0};
    RefPtr<CPanoElement> preview(
        static_cast<CPanoElement*>(RenderMatchPreview(first.Get(), second.Get(), h.data(), &cancel)));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->GetRefCount(), 1);
    ASSERT_EQ(preview->GetWidth(), 96);
    ASSERT_EQ(preview->GetHeight(), 58);
    EXPECT_EQ(preview->GetBpp(), 24);
    EXPECT_EQ(preview->GetMask(), nullptr);
    EXPECT_EQ(h, (Matrix{1, 0, -32, 0, 1, -10, 0, 0, 1}));  // the canvas starts at the first photo
    for (int v = 0; v < 58; ++v) {
        for (int u = 0; u < 96; ++u) {
            const bool inFirst = u < 64 && v < 48;
            const bool inSecond = u >= 32 && v >= 10;
            const std::uint8_t* got = Pixel(preview.Get(), u, v);
            for (int i = 0; i < 3; ++i) {
                int expected = 255;
                if (inFirst && inSecond)
                    expected = (Pixel(first.Get(), u, v)[i] + Pixel(second.Get(), u - 32, v - 10)[i]) / 2;
                else if (inFirst)
                    expected = Pixel(first.Get(), u, v)[i];
                else if (inSecond)
                    expected = Pixel(second.Get(), u - 32, v - 10)[i];
                ASSERT_EQ(got[i], expected) << "pixel (" << u << ", " << v << ") byte " << i;
            }
        }
    }
}

// The second photo up and to the left: the canvas origin moves, H is
// rewritten to map canvas positions, and masks decide the cover.
TEST_F(MatchPreviewTest, CanvasOffsetAndMasks) {
    auto first = Photo(16, 12, 10);
    auto second = Photo(16, 12, 100);
    first->CreateMask(true);
    first->GetMask()[0] = 0;  // first photo's (0, 0) not covered
    second->CreateMask(true);
    // Second photo's (3, 3) and (7, 5) not covered.
    second->GetMask()[second->GetMaskStride() * 3 + 3] = 0;
    second->GetMask()[second->GetMaskStride() * 5 + 7] = 0;
    Matrix h = {1, 0, 4, 0, 1, 2, 0, 0, 1};  // second = first shifted by (4, 2)
    std::atomic<int> cancel{0};
    RefPtr<CPanoElement> preview(
        static_cast<CPanoElement*>(RenderMatchPreview(first.Get(), second.Get(), h.data(), &cancel)));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->GetWidth(), 20);
    EXPECT_EQ(preview->GetHeight(), 14);
    ExpectNear(h, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1e-12);
    // First photo's pixel (x, y) sits at (x + 4, y + 2); second's (x, y) at (x, y).
    const auto expect = [&](int u, int v, const std::uint8_t* want) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Pixel(preview.Get(), u, v)[i], want[i]) << u << "," << v;
    };
    expect(4, 2, Pixel(second.Get(), 4, 2));  // first not covered there: the second alone
    const std::uint8_t white[3] = {255, 255, 255};
    expect(3, 3, white);                     // outside the first, second not covered: nothing
    expect(7, 5, Pixel(first.Get(), 3, 3));  // inside both, second not covered: the first alone
    std::uint8_t mix[3];
    for (int i = 0; i < 3; ++i)
        mix[i] = (Pixel(first.Get(), 5, 6)[i] + Pixel(second.Get(), 9, 8)[i]) / 2;
    expect(9, 8, mix);
    expect(0, 13, white);
    expect(19, 0, white);
}

// A factory that holds the preview's creation until the test thread has
// raised cancel, so the cancel surely lands in the middle of the render.
class GatedDibManager : public PanoramaLib::IDibManager {
public:
    PanoramaLib::IDib* CreateDib(int reserved) override {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return inner.CreateDib(reserved);
    }
    PanoramaLib::IDib* CloneDib(PanoramaLib::IDib* source, int reserved) override {
        return inner.CloneDib(source, reserved);
    }
    void WaitEntered() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }

private:
    CDibManager inner;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
};

TEST_F(MatchPreviewTest, CancelFromAnotherThread) {
    auto first = Photo(200, 150, 10);
    auto second = Photo(200, 150, 100);
    GatedDibManager gate;
    g_pDibManager = &gate;
    std::atomic<int> cancel{0};
    PanoramaLib::IPanoElement* result = reinterpret_cast<PanoramaLib::IPanoElement*>(1);
    Matrix h = {1, 0, -120, 0, 1, 0, 0, 0, 1};
    std::thread worker([&] { result = RenderMatchPreview(first.Get(), second.Get(), h.data(), &cancel); });
    gate.WaitEntered();
    cancel.store(1);
    gate.Release();
    worker.join();
    EXPECT_EQ(result, nullptr);
}

}  // namespace
