// Guards what the planar build computes while its speed work goes on: the
// match graph, the transforms and the full-size panorama's pixels of each
// shared photo set hash to values recorded before any of that work, with the
// default pool and with one thread alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "FingerprintHash.h"
#include "Panorama.h"
#include "PanoramaFixtures.h"
#include "TestData.h"
#include "ThreadPool.h"

namespace {

using FingerprintHash::Fnv;

class FingerprintPanorama : public CPanorama {
public:
    using CPanorama::full_;
    using CPanorama::matchGraph_;
    using CPanorama::preview_;
};

struct Fingerprint {
    std::uint64_t graph = 0;
    std::uint64_t transforms = 0;
    std::uint64_t pixels = 0;
};

Fingerprint BuildAndHash(const std::string& set, bool ring) {
    FingerprintHash::PhotoSet loaded(set);
    const std::vector<PanoramaLib::IPanoElement*>& photos = loaded.photos;

    auto* engine = new FingerprintPanorama();
    engine->Init(nullptr, nullptr, nullptr);
    PanoramaFixtures::UseBenchmarkSettings(engine, ring);

    Fingerprint out;
    engine->Build(photos, nullptr, 0, 0, 0);
    Fnv graph;
    graph.AddValue(engine->GetBuildReport()->status);
    FingerprintHash::AddGraph(graph, engine->matchGraph_);
    out.graph = graph.Value();

    EXPECT_TRUE(engine->Render());
    Fnv transforms;
    transforms.AddVector(engine->preview_.transforms);
    transforms.AddVector(engine->full_.transforms);
    out.transforms = transforms.Value();

    Fnv pixels;
    PanoramaLib::IPanoElement* result = engine->GetResult(true);
    EXPECT_TRUE(result && result->IsValid());
    if (result && result->IsValid())
        FingerprintHash::AddPixels(pixels, result);
    out.pixels = pixels.Value();

    engine->Release();
    return out;
}

struct SetCase {
    const char* set;
    bool ring;
    Fingerprint expected;
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.set;
}

class PlanarFingerprintTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(PlanarFingerprintTest, BuildIsUnchangedWithAnyThreadCount) {
    OVH_REQUIRE_PHOTOS();
    const SetCase& c = GetParam();
    const Fingerprint pooled = BuildAndHash(c.set, c.ring);
    std::printf("%s: graph 0x%016" PRIx64 " transforms 0x%016" PRIx64 " pixels 0x%016" PRIx64 "\n", c.set,
                pooled.graph, pooled.transforms, pooled.pixels);
    EXPECT_EQ(pooled.graph, c.expected.graph);
    EXPECT_EQ(pooled.transforms, c.expected.transforms);
    EXPECT_EQ(pooled.pixels, c.expected.pixels);

    Platform::ThreadPool one(1);
    Platform::ThreadPool::ScopedShared useOne(one);
    const Fingerprint single = BuildAndHash(c.set, c.ring);
    EXPECT_EQ(single.graph, pooled.graph);
    EXPECT_EQ(single.transforms, pooled.transforms);
    EXPECT_EQ(single.pixels, pooled.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    SharedSets, PlanarFingerprintTest,
    ::testing::Values(
        SetCase{"boat-row", false, {0x6d2e2137923a8446, 0xa0db64ad114e4eb1, 0x36897c1b17dd3b09}},
        SetCase{"weir-row-distractor", false, {0x4b961b53447301b2, 0x4049d7efabf04a28, 0xf1075e6d9bbcf70a}},
        SetCase{"apartment-ring", true, {0xb16bf6e3d122f802, 0x48d15586c37ea3a9, 0x8c9a920029193d8d}},
        SetCase{"exposure-pair", false, {0xdb9d8e1c1e1e2a38, 0x4f4b4f7fa06cf06f, 0x83ffd541cb17e597}}),
    [](const auto& info) {
        std::string name = info.param.set;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

}  // namespace
