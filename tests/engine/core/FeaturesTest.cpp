#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <tuple>

#include "FeatureTestSupport.h"
#include "ThreadPool.h"

using namespace FeatureTest;

namespace {

class FeaturesTest : public WithDibManager {};

// Lists pre-filled with one keypoint and descriptor, to see whether a call
// touched them.
struct Lists {
    std::vector<Keypoint*> keypoints{new Keypoint{1.0, 2.0, 0.0, 0, 1, 1.0}};
    std::vector<double*> descriptors{new double[kDescriptorLength](), new double[kDescriptorLength]()};
    ~Lists() {
        for (Keypoint* k : keypoints)
            delete k;
        for (double* d : descriptors)
            delete[] d;
    }
};

// Both sets hold the same keypoints and descriptors, bit for bit.
void ExpectSameBits(const CKeypointSet& a, const CKeypointSet& b, const std::string& what) {
    ASSERT_EQ(a.keypoints.size(), b.keypoints.size()) << what;
    for (std::size_t i = 0; i < a.keypoints.size(); ++i) {
        ASSERT_EQ(std::memcmp(a.keypoints[i], b.keypoints[i], sizeof(Keypoint)), 0)
            << what << " keypoint " << i;
        ASSERT_EQ(std::memcmp(a.descriptors[i], b.descriptors[i], sizeof(double) * kDescriptorLength), 0)
            << what << " descriptor " << i;
    }
}

double Norm(const double* d) {
    double s = 0.0;
    for (int i = 0; i < kDescriptorLength; ++i)
        s += d[i] * d[i];
    return std::sqrt(s);
}

}  // namespace

// Nothing to find: uniform, tiny and degenerate images give empty lists,
// also when the lists held something before.
TEST_F(FeaturesTest, NothingToFindGivesEmptyLists) {
    struct Case {
        int w, h, bpp;
    };
    for (Case c : {Case{64, 48, 24}, Case{64, 48, 8}, Case{1, 1, 24}, Case{3, 3, 8}, Case{400, 1, 24},
                   Case{1, 400, 8}, Case{2, 7, 24}}) {
        ElementPtr e = MakeElement(c.w, c.h, c.bpp, [](int, int) { return 90; });
        if (c.w * c.h < 100)
            e = MakeTexture(c.w, c.h, c.bpp);  // tiny: even texture has no room
        Lists lists;
        int asked = 0;
        DetectFeatures(e.Get(), lists.keypoints, lists.descriptors, 10.0, 0.02,
                       [&] { return ++asked, false; });
        EXPECT_TRUE(lists.keypoints.empty()) << c.w << "x" << c.h;
        EXPECT_TRUE(lists.descriptors.empty()) << c.w << "x" << c.h;
        EXPECT_EQ(asked, 5);
    }
    // A 400 x 1 strip of texture: no room for an interior sample either.
    ElementPtr strip = MakeElement(400, 1, 24, [](int x, int) { return (x * 37) % 255; });
    EXPECT_TRUE(Detect(strip.Get())->keypoints.empty());
}

// Elements that cannot be read (no pixels, another depth) give empty lists
// without asking the cancel function.
TEST_F(FeaturesTest, UnreadableElementsGiveEmptyLists) {
    class Odd : public CPanoElement {
    public:
        int GetBpp() const override { return 32; }
    };
    ElementPtr noPixels(new CPanoElement(0));
    ElementPtr odd(new Odd);
    odd->Create(24, 50, 50);
    for (CPanoElement* e : {noPixels.Get(), odd.Get(), static_cast<CPanoElement*>(nullptr)}) {
        Lists lists;
        int asked = 0;
        DetectFeatures(e, lists.keypoints, lists.descriptors, 10.0, 0.02, [&] { return ++asked, false; });
        EXPECT_TRUE(lists.keypoints.empty());
        EXPECT_TRUE(lists.descriptors.empty());
        EXPECT_EQ(asked, 0);
    }
}

// Cancel at checkpoint k: 1-4 leave the lists untouched, 5 leaves them filled.
TEST_F(FeaturesTest, CancelAtEachCheckpoint) {
    ElementPtr e = MakeTexture(120, 90, 24);
    for (int k = 1; k <= 5; ++k) {
        Lists lists;
        Keypoint* before = lists.keypoints[0];
        int asked = 0;
        EXPECT_THROW(DetectFeatures(e.Get(), lists.keypoints, lists.descriptors, 10.0, 0.02,
                                    [&] { return ++asked == k; }),
                     panorama_abort)
            << k;
        EXPECT_EQ(asked, k);
        if (k < 5) {
            ASSERT_EQ(lists.keypoints.size(), 1u) << k;
            EXPECT_EQ(lists.keypoints[0], before);
            EXPECT_EQ(lists.descriptors.size(), 2u);
        } else {
            EXPECT_GT(lists.keypoints.size(), 10u);
            EXPECT_EQ(lists.descriptors.size(), lists.keypoints.size());
        }
    }
}

// Keypoint invariants on a real photo, and a second run bitwise identical.
TEST_F(FeaturesTest, RealPhotoKeypointsAreWellFormedAndRepeatable) {
    OVH_REQUIRE_PHOTOS();
    ElementPtr photo = LoadPhoto("boat-row/boat1.jpg");
    ASSERT_TRUE(photo->IsValid());
    auto first = Detect(photo.Get());
    auto second = Detect(photo.Get());
    const auto& kps = first->keypoints;
    ASSERT_GT(kps.size(), 300u);
    ASSERT_EQ(first->descriptors.size(), kps.size());
    ASSERT_EQ(second->keypoints.size(), kps.size());
    std::map<std::pair<int, int>, int> perScale;
    for (std::size_t i = 0; i < kps.size(); ++i) {
        const Keypoint& k = *kps[i];
        ASSERT_GE(k.octave, 0);
        ASSERT_LE(k.octave, 3);
        ASSERT_GE(k.level, 1);
        ASSERT_LE(k.level, 2);
        ++perScale[{k.octave, k.level}];
        const double spacing = 0.5 * std::pow(2.0, k.octave);
        EXPECT_NEAR(k.scale, spacing * std::sqrt(2.0) * std::pow(std::sqrt(2.0), k.level), 1e-12);
        EXPECT_EQ(k.x / spacing, std::floor(k.x / spacing));
        EXPECT_EQ(k.y / spacing, std::floor(k.y / spacing));
        EXPECT_GE(k.x, spacing);  // the octave's border is never an extremum
        EXPECT_GE(k.orientation, -std::numbers::pi);
        EXPECT_LT(k.orientation, std::numbers::pi);
        const double* d = first->descriptors[i];
        bool zero = true;
        for (int j = 0; j < kDescriptorLength; ++j) {
            ASSERT_TRUE(std::isfinite(d[j]));
            ASSERT_GE(d[j], 0.0);
            zero = zero && d[j] == 0.0;
        }
        if (!zero) {
            EXPECT_NEAR(Norm(d), 1.0, 1e-12);
        }
        if (i > 0) {
            const Keypoint& p = *kps[i - 1];
            const auto key = [](const Keypoint& q) {
                const double s = 0.5 * std::pow(2.0, q.octave);
                return std::make_tuple(q.octave, q.level, q.y / s, q.x / s);
            };
            EXPECT_LE(key(p), key(k)) << i;
        }
        const Keypoint& r = *second->keypoints[i];
        EXPECT_EQ(std::memcmp(&k, &r, sizeof(Keypoint)), 0) << i;
        EXPECT_EQ(std::memcmp(d, second->descriptors[i], sizeof(double) * kDescriptorLength), 0) << i;
    }
    EXPECT_GE(perScale.size(), 6u);  // every octave contributes
    // Histograms with two strong peaks give two keypoints at one place.
    int twins = 0;
    for (std::size_t i = 1; i < kps.size(); ++i) {
        const Keypoint &p = *kps[i - 1], &k = *kps[i];
        twins += p.x == k.x && p.y == k.y && p.octave == k.octave && p.level == k.level &&
                 p.orientation < k.orientation;
    }
    EXPECT_GT(twins, 0);
}

// The same scene moved by 16 pixels (a whole sample of every octave) gives
// the same keypoints moved by 16, away from the borders.
TEST_F(FeaturesTest, ShiftedCropReproducesKeypoints) {
    OVH_REQUIRE_PHOTOS();
    ElementPtr photo = LoadPhoto("weir-row-distractor/weir_2.jpg");
    ASSERT_TRUE(photo->IsValid());
    const int w = 560, h = 420, shift = 16, margin = 100;
    ElementPtr a = Crop(photo.Get(), 200, 150, w, h);
    ElementPtr b = Crop(photo.Get(), 200 + shift, 150, w, h);
    auto ka = Detect(a.Get());
    auto kb = Detect(b.Get());
    std::multimap<std::tuple<double, double, int, int>, std::size_t> inB;
    for (std::size_t i = 0; i < kb->keypoints.size(); ++i) {
        const Keypoint& k = *kb->keypoints[i];
        inB.insert({{k.x, k.y, k.octave, k.level}, i});
    }
    int considered = 0, found = 0;
    for (std::size_t i = 0; i < ka->keypoints.size(); ++i) {
        const Keypoint& k = *ka->keypoints[i];
        if (k.x < margin + shift || k.x >= w - margin || k.y < margin || k.y >= h - margin)
            continue;
        ++considered;
        auto [lo, hi] = inB.equal_range({k.x - shift, k.y, k.octave, k.level});
        for (auto it = lo; it != hi; ++it) {
            const Keypoint& m = *kb->keypoints[it->second];
            double dist2 = 0.0;
            for (int j = 0; j < kDescriptorLength; ++j) {
                const double t = ka->descriptors[i][j] - kb->descriptors[it->second][j];
                dist2 += t * t;
            }
            if (std::fabs(m.orientation - k.orientation) < 1e-6 && std::sqrt(dist2) < 0.01) {
                ++found;
                break;
            }
        }
    }
    ASSERT_GT(considered, 100);
    EXPECT_GE(found, 0.9 * considered) << found << " of " << considered;
}

// FNV-1a over the keypoints and descriptors, as features_bench prints it.
std::uint32_t OutputHash(const CKeypointSet& set) {
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(p)[i]) * 16777619u;
    };
    for (std::size_t i = 0; i < set.keypoints.size(); ++i) {
        mix(set.keypoints[i], sizeof(Keypoint));
        mix(set.descriptors[i], sizeof(double) * kDescriptorLength);
    }
    return hash;
}

// The detector keeps computing the same bits (hashes of its output as first
// built), whatever the pool and also when, inside a plane scope, it takes
// over the planes of an earlier larger or smaller photo. The shapes reach
// every way the orientation stage stores its gradients (whole octave, bands
// of rows, an octave too low to split) and both pixel depths.
TEST_F(FeaturesTest, SameBitsWithAnyPoolAndReusedPlanes) {
    struct Case {
        int w, h, bpp;
        unsigned seed;
        std::size_t count;
        std::uint32_t hash;
    };
    const Case cases[] = {
        {31, 33, 24, 14, 2, 0xbd3d6574u},     {64, 48, 8, 15, 13, 0xfde93d58u},
        {129, 77, 24, 20, 31, 0x798f3ca7u},   {250, 251, 8, 21, 242, 0xe1b4c55au},
        {333, 200, 24, 24, 232, 0xbab32e7cu},
    };
    std::vector<ElementPtr> elements;
    std::vector<std::unique_ptr<CKeypointSet>> alone;
    {
        Platform::ThreadPool one(1);
        Platform::ThreadPool::ScopedShared use(one);
        for (const Case& c : cases) {
            elements.push_back(MakeTexture(c.w, c.h, c.bpp, c.seed));
            alone.push_back(Detect(elements.back().Get()));
            EXPECT_EQ(alone.back()->keypoints.size(), c.count) << c.w << "x" << c.h;
            EXPECT_EQ(OutputHash(*alone.back()), c.hash) << c.w << "x" << c.h;
        }
        if (TestData::HavePhotos()) {
            elements.push_back(LoadPhoto("boat-row/boat2.jpg"));
            alone.push_back(Detect(elements.back().Get()));
        }
    }
    Platform::ThreadPool four(4);
    Platform::ThreadPool::ScopedShared use(four);
    DetectionPlaneScope planes;
    // Twice through, so every element also follows every other one.
    for (int round = 0; round < 2; ++round)
        for (std::size_t i = 0; i < elements.size(); ++i)
            ExpectSameBits(*alone[i], *Detect(elements[i].Get()), "element " + std::to_string(i));
}
