#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

#include "FeatureTestSupport.h"
#include "Hough.h"

using namespace FeatureTest;
using Indices = std::vector<std::int32_t>;

namespace {

constexpr double kPi = std::numbers::pi;

struct Clusters {
    bool ok = false;
    Indices image;
    std::vector<Indices> query, reference, scores;
    std::vector<double> votes;
};

// Reference and query keypoints paired by construction: descriptor i of both
// sets is the unit vector on axis i, so the ratio test pairs query i with
// reference i (distance 0 against 2) and nothing else.
class Scene {
public:
    // The reference keypoint is the query keypoint moved by the similarity
    // (scale s, rotation r, shift tx, ty).
    void AddMatch(Keypoint p, double s, double r, double tx, double ty) {
        Keypoint q = p;
        q.x = s * (std::cos(r) * p.x - std::sin(r) * p.y) + tx;
        q.y = s * (std::sin(r) * p.x + std::cos(r) * p.y) + ty;
        q.orientation = p.orientation + r;
        q.scale = p.scale * s;
        AddPair(p, q);
    }
    void AddPair(const Keypoint& p, const Keypoint& q) {
        const std::size_t i = query.keypoints.size();
        query.keypoints.push_back(new Keypoint(p));
        reference.keypoints.push_back(new Keypoint(q));
        query.descriptors.push_back(new double[kDescriptorLength]());
        reference.descriptors.push_back(new double[kDescriptorLength]());
        query.descriptors.back()[i] = 1.0;
        reference.descriptors.back()[i] = 1.0;
    }
    Clusters Match(double threshold, OrvexBase::Size size = {400, 300}, bool index = true,
                   double ratio = 0.8) {
        if (index)
            reference.BuildIndex(size);
        tree.reset(BuildKdTree(reference.descriptors.data(), std::int32_t(reference.descriptors.size())));
        tree->visitLimit = 200;
        Clusters c;
        c.ok = MatchKeypointSets(tree.get(), reference, query, query.descriptors, c.image, c.query,
                                 c.reference, c.scores, c.votes, threshold, ratio);
        return c;
    }

    CKeypointSet reference, query;
    std::unique_ptr<KdTree, void (*)(KdTree*)> tree{nullptr, DeleteKdTree};
};

// A keypoint at the origin facing along x: with a pure shift its predicted
// transform is exact, so votes are exact.
Keypoint AtOrigin(double scale = 1.0) {
    return Keypoint{0.0, 0.0, 0.0, 0, 1, scale};
}

}  // namespace

TEST(Solve4x4, InvertsAndSolves) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(-3.0, 3.0);
    for (int trial = 0; trial < 20; ++trial) {
        double m[16], rhs[4], x[4], inv[16];
        for (double& v : m)
            v = u(rng);
        for (int i = 0; i < 4; ++i)
            m[i * 5] += 8.0;  // well conditioned
        for (double& v : rhs)
            v = u(rng);
        Solve4x4(x, inv, m, rhs);
        for (int i = 0; i < 4; ++i) {
            double r = 0.0;
            for (int j = 0; j < 4; ++j) {
                double e = 0.0;
                for (int k = 0; k < 4; ++k)
                    e += inv[i * 4 + k] * m[k * 4 + j];
                EXPECT_NEAR(e, i == j ? 1.0 : 0.0, 1e-12);
                r += m[i * 4 + j] * x[j];
            }
            EXPECT_NEAR(r, rhs[i], 1e-12);
        }
    }
}

// The voting rules, read through the clusters they produce. Cells come back
// in memory order: x fastest, then y, rotation, scale.
TEST(HoughVoting, CountAndPositionLimits) {
    {  // one candidate is not more than 1.5
        Scene s;
        s.AddMatch(AtOrigin(), 1.0, 0.0, 0.0, 0.0);
        const Clusters c = s.Match(1.5);
        EXPECT_TRUE(c.ok);
        EXPECT_TRUE(c.votes.empty());
    }
    // Cells are 100 wide (a quarter of 400); the outermost centre is at 1000.
    struct Case {
        double tx, ty;
        bool votes;
    };
    for (Case k : {Case{0, 0, true}, Case{1000, 0, true}, Case{1099, 0, true}, Case{1100, 0, false},
                   Case{0, -1100, false}, Case{-1150, 0, false}}) {
        Scene s;
        s.AddMatch(AtOrigin(), 1.0, 0.0, k.tx, k.ty);
        s.AddMatch(AtOrigin(), 1.0, 0.0, k.tx, k.ty);
        const Clusters c = s.Match(0.0);  // any positive vote is reported
        EXPECT_TRUE(c.ok);
        EXPECT_EQ(!c.votes.empty(), k.votes) << k.tx << "," << k.ty;
    }
}

TEST(HoughVoting, RotationBins) {
    struct Case {
        const char* what;
        double rotation;
        std::vector<double> votes;  // two candidates, both scale bins, in cell order
    };
    const double third = 2.0 / 3.0, twoThirds = 4.0 / 3.0;
    const Case cases[] = {
        // On bin 6's centre: bin 6 gets 1, the lower neighbour 5 gets 1/3.
        {"on a centre", 0.0, {third, 2.0, third, 2.0}},
        // Midway between bins 6 and 7: both get 2/3.
        {"between bins", kPi / 12, {twoThirds, twoThirds, twoThirds, twoThirds}},
        // Near +pi: bins 11 and 0 meet (bin 10 would get 0 and cast nothing).
        {"across pi", 11 * kPi / 12, {twoThirds, twoThirds, twoThirds, twoThirds}},
    };
    for (const Case& k : cases) {
        Scene s;
        s.AddMatch(AtOrigin(), 1.0, k.rotation, 0.0, 0.0);
        s.AddMatch(AtOrigin(), 1.0, k.rotation, 0.0, 0.0);
        const Clusters c = s.Match(0.5);
        ASSERT_EQ(c.votes.size(), k.votes.size()) << k.what;
        for (std::size_t i = 0; i < c.votes.size(); ++i)
            EXPECT_NEAR(c.votes[i], k.votes[i], 1e-9) << k.what;
        for (const Indices& q : c.query)
            EXPECT_EQ(q, (Indices{0, 1})) << k.what;
    }
}

// Scale 1 votes into the bins of 1 and 1/2, scale 1/2 into 1/2 and 1/4:
// they share the cell of 1/2 only.
TEST(HoughVoting, ScaleBins) {
    Scene s;
    for (double scale : {1.0, 1.0, 0.5, 0.5})
        s.AddMatch(AtOrigin(), scale, 0.0, 0.0, 0.0);
    const Clusters c = s.Match(1.5);
    ASSERT_EQ(c.votes.size(), 3u);
    EXPECT_EQ(c.query[0], (Indices{2, 3}));        // 1/4
    EXPECT_EQ(c.query[1], (Indices{0, 1, 2, 3}));  // 1/2
    EXPECT_EQ(c.query[2], (Indices{0, 1}));        // 1
    EXPECT_EQ(c.votes, (std::vector<double>{2.0, 4.0, 2.0}));
    EXPECT_EQ(c.reference, c.query);  // pairs are (i, i)
    for (const Indices& sc : c.scores)
        EXPECT_EQ(sc, Indices(sc.size(), 0));
}

// A quarter turn gives a == 0 exactly; the scale must then come from b.
TEST(HoughVoting, QuarterTurnKeepsItsScale) {
    Scene s;
    for (double scale : {1.0, 1.0, 0.5, 0.5}) {
        Keypoint q{1000.0, 0.0, kPi / 2, 0, 1, scale};
        s.AddPair(AtOrigin(), q);
    }
    const Clusters c = s.Match(1.5);
    ASSERT_TRUE(c.ok);
    bool firstOnly = false, both = false, secondOnly = false;
    for (const Indices& q : c.query) {
        firstOnly |= q == Indices{0, 1};
        both |= q == Indices{0, 1, 2, 3};
        secondOnly |= q == Indices{2, 3};
    }
    EXPECT_TRUE(firstOnly && both && secondOnly);
}

TEST(HoughVoting, ThresholdIsStrict) {
    for (auto [threshold, expected] : {std::pair{2.0, 0u}, std::pair{1.999, 2u}}) {
        Scene s;
        s.AddMatch(AtOrigin(), 1.0, 0.0, 0.0, 0.0);
        s.AddMatch(AtOrigin(), 1.0, 0.0, 0.0, 0.0);
        s.AddMatch(AtOrigin(), 1.0, 0.0, 500.0, 500.0);  // a third candidate, far away
        const Clusters c = s.Match(threshold);
        EXPECT_EQ(c.votes.size(), expected) << threshold;
        for (double v : c.votes)
            EXPECT_EQ(v, 2.0);
    }
}

// Outputs are appended to and stay parallel; bad reference data casts no vote.
TEST(HoughVoting, OutputsAndBadInputs) {
    Scene s;
    for (int i = 0; i < 3; ++i)
        s.AddMatch(AtOrigin(), 1.0, 0.0, 0.0, 0.0);
    s.reference.BuildIndex({400, 300});
    s.tree.reset(BuildKdTree(s.reference.descriptors.data(), 3));
    Indices image = {42};
    std::vector<Indices> q = {{7}}, r = {{8}}, sc = {{9}};
    std::vector<double> votes = {99.0};
    ASSERT_TRUE(MatchKeypointSets(s.tree.get(), s.reference, s.query, s.query.descriptors, image, q, r, sc,
                                  votes, 1.5, 0.8));
    ASSERT_GT(votes.size(), 1u);
    EXPECT_EQ(image.size(), votes.size());
    EXPECT_EQ(q.size(), votes.size());
    EXPECT_EQ(r.size(), votes.size());
    EXPECT_EQ(sc.size(), votes.size());
    EXPECT_EQ(image[0], 42);
    EXPECT_EQ(votes[0], 99.0);
    EXPECT_EQ(q[0], Indices{7});
    for (std::size_t i = 1; i < votes.size(); ++i) {
        EXPECT_EQ(image[i], 0);
        EXPECT_EQ(q[i].size(), r[i].size());
        EXPECT_EQ(q[i].size(), sc[i].size());
    }

    struct Case {
        const char* what;
        OrvexBase::Size size;
        bool index;
        double keypointScale;
    };
    for (Case k :
         {Case{"no image index", {400, 300}, false, 1.0}, Case{"image without extent", {0, 0}, true, 1.0},
          Case{"zero-scale keypoints", {400, 300}, true, 0.0}}) {
        Scene bad;
        for (int i = 0; i < 3; ++i)
            bad.AddMatch(AtOrigin(k.keypointScale), 1.0, 0.0, 0.0, 0.0);
        const Clusters c = bad.Match(1.5, k.size, k.index);
        EXPECT_TRUE(c.ok) << k.what;
        EXPECT_TRUE(c.votes.empty()) << k.what;
    }
}

// Votes are kept per reference image: two images, each with its own matches.
TEST(HoughVoting, ClustersPerReferenceImage) {
    Scene s;
    for (int i = 0; i < 4; ++i)
        s.AddMatch(AtOrigin(), 1.0, 0.0, 0.0, 0.0);
    s.reference.BuildIndex({400, 300});
    s.reference.imageSizes.push_back({400, 300});
    s.reference.imageIndex = {0, 1, 0, 1};
    s.tree.reset(BuildKdTree(s.reference.descriptors.data(), 4));
    Clusters c;
    ASSERT_TRUE(MatchKeypointSets(s.tree.get(), s.reference, s.query, s.query.descriptors, c.image, c.query,
                                  c.reference, c.scores, c.votes, 1.5, 0.8));
    ASSERT_EQ(c.votes.size(), 4u);
    EXPECT_EQ(c.image, (Indices{0, 0, 1, 1}));
    EXPECT_EQ(c.query[0], (Indices{0, 2}));
    EXPECT_EQ(c.query[2], (Indices{1, 3}));
}

namespace {

// Runs detection on both views and checks the best cluster against the true
// map from the first view to the second.
void ExpectBestClusterFollows(CPanoElement* a, CPanoElement* b, const double truth[6], double ratio) {
    auto query = Detect(a);
    auto reference = Detect(b);
    ASSERT_GT(query->keypoints.size(), 50u);
    std::unique_ptr<KdTree, void (*)(KdTree*)> tree(
        BuildKdTree(reference->descriptors.data(), std::int32_t(reference->descriptors.size())),
        DeleteKdTree);
    tree->visitLimit = 200;
    Clusters c;
    ASSERT_TRUE(MatchKeypointSets(tree.get(), *reference, *query, query->descriptors, c.image, c.query,
                                  c.reference, c.scores, c.votes, 1.5, ratio));
    ASSERT_FALSE(c.votes.empty());
    const std::size_t best = std::max_element(c.votes.begin(), c.votes.end()) - c.votes.begin();
    const Indices& qs = c.query[best];
    const Indices& rs = c.reference[best];
    ASSERT_GE(qs.size(), 8u);
    int agree = 0;
    for (std::size_t i = 0; i < qs.size(); ++i) {
        const Keypoint& p = *query->keypoints[qs[i]];
        const Keypoint& q = *reference->keypoints[rs[i]];
        const double x = truth[0] * p.x + truth[1] * p.y + truth[2];
        const double y = truth[3] * p.x + truth[4] * p.y + truth[5];
        agree += std::hypot(q.x - x, q.y - y) <= 3.0;
    }
    EXPECT_GE(agree, 0.8 * qs.size()) << agree << " of " << qs.size() << " at ratio " << ratio;
}

class HoughOnPhotos : public WithDibManager {};

}  // namespace

// Two overlapping cuts of a real photo: the second view is the first moved.
TEST_F(HoughOnPhotos, OverlappingCutsAgreeWithTheirShift) {
    OVH_REQUIRE_PHOTOS();
    ElementPtr photo = LoadPhoto("boat-row/boat2.jpg");
    ASSERT_TRUE(photo->IsValid());
    ElementPtr a = Crop(photo.Get(), 0, 40, 400, 300);
    ElementPtr b = Crop(photo.Get(), 170, 0, 400, 300);
    const double truth[6] = {1, 0, -170, 0, 1, 40};
    for (double ratio : {0.6, 0.8})
        ExpectBestClusterFollows(a.Get(), b.Get(), truth, ratio);
}

// A view resampled through a known similarity (rotated 12 degrees, scaled 0.9).
TEST_F(HoughOnPhotos, SimilarityViewAgreesWithItsTransform) {
    OVH_REQUIRE_PHOTOS();
    ElementPtr photo = LoadPhoto("weir-row-distractor/weir_1.jpg");
    ASSERT_TRUE(photo->IsValid());
    ElementPtr a = Crop(photo.Get(), 200, 150, 480, 360);
    const double angle = 12.0 * kPi / 180.0, scale = 0.9;
    // truth maps view a to view b: b = scale * R * a + t
    const double c = scale * std::cos(angle), s = scale * std::sin(angle);
    const double truth[6] = {c, -s, 60.0, s, c, -20.0};
    double inverse[9];
    const double forward[9] = {truth[0], truth[1], truth[2], truth[3], truth[4], truth[5], 0, 0, 1};
    InvertMatrix3x3(inverse, forward);
    ElementPtr b = Resample(a.Get(), 480, 360, inverse);
    for (double ratio : {0.6, 0.8})
        ExpectBestClusterFollows(a.Get(), b.Get(), truth, ratio);
}
