// Guards what the tiled build computes while the engine's stages are
// reorganised and sped up: the match graph, the poses and the preview's
// pixels of each shared photo set, on the cylinder and then on the sphere,
// hash to values recorded before that work, with the default pool and with
// one thread alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "FingerprintHash.h"
#include "FreeThreading.h"
#include "TestData.h"
#include "ThreadPool.h"
#include "TiledPanorama.h"

namespace {

using FingerprintHash::Fnv;

struct Fingerprint {
    std::uint64_t graph = 0;
    std::uint64_t poses = 0;
    std::uint64_t pixels = 0;
    bool operator==(const Fingerprint&) const = default;
};

void AddPose(Fnv& hash, const TiledImagePose& p) {
    for (double v : {p.focal, p.pitch, p.yaw, p.roll, p.a, p.b, p.c})
        hash.AddValue(v);
    hash.AddValue(p.hasOwnLens);
}

// One engine builds the set on each surface in turn: the second build reuses
// the first one's keypoints, graph and poses.
std::vector<Fingerprint> BuildAndHash(const std::string& set) {
    FingerprintHash::PhotoSet loaded(set);
    const std::vector<PanoramaLib::IPanoElement*>& photos = loaded.photos;

    CFreeThreading threads;
    auto* engine = new Tiled_Panorama::CPanorama();
    engine->Init(&threads, nullptr, nullptr);
    std::vector<Fingerprint> out;
    for (SurfaceKind kind : {SurfaceCylinder, SurfaceSphere}) {
        HVPanoramaOptions options;
        engine->GetOptions(&options);
        options.surfaceKind = kind;
        engine->SetOptions(&options);
        EXPECT_TRUE(engine->Build(photos, nullptr, 0, 0, 0)) << set << " surface " << kind;

        Fingerprint f;
        Fnv graph;
        graph.AddValue(engine->GetBuildReport()->status);
        FingerprintHash::AddGraph(graph, engine->MatchGraph());
        f.graph = graph.Value();

        Fnv poses;
        poses.AddValue(engine->ReferenceImage());
        poses.AddVector(engine->PlacementOrder());
        for (const TiledImagePose& p : engine->Poses())
            AddPose(poses, p);
        AddPose(poses, engine->SharedLens());
        f.poses = poses.Value();

        Fnv pixels;
        PanoramaLib::IPanoElement* preview = engine->GetResult(false);
        EXPECT_TRUE(preview && preview->IsValid());
        if (preview && preview->IsValid())
            FingerprintHash::AddPixels(pixels, preview);
        f.pixels = pixels.Value();
        out.push_back(f);
    }
    engine->Release();
    return out;
}

struct SetCase {
    const char* set;
    Fingerprint cylinder, sphere;
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.set;
}

class TiledFingerprintTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(TiledFingerprintTest, BuildIsUnchangedWithAnyThreadCount) {
    OVH_REQUIRE_PHOTOS();
    const SetCase& c = GetParam();
    const std::vector<Fingerprint> pooled = BuildAndHash(c.set);
    ASSERT_EQ(pooled.size(), 2u);
    for (const Fingerprint& f : pooled)
        std::printf("%s: graph 0x%016" PRIx64 " poses 0x%016" PRIx64 " pixels 0x%016" PRIx64 "\n", c.set,
                    f.graph, f.poses, f.pixels);
    EXPECT_EQ(pooled[0].graph, c.cylinder.graph);
    EXPECT_EQ(pooled[0].poses, c.cylinder.poses);
    EXPECT_EQ(pooled[0].pixels, c.cylinder.pixels);
    EXPECT_EQ(pooled[1].graph, c.sphere.graph);
    EXPECT_EQ(pooled[1].poses, c.sphere.poses);
    EXPECT_EQ(pooled[1].pixels, c.sphere.pixels);

    Platform::ThreadPool one(1);
    Platform::ThreadPool::ScopedShared useOne(one);
    EXPECT_EQ(BuildAndHash(c.set), pooled);
}

INSTANTIATE_TEST_SUITE_P(
    SharedSets, TiledFingerprintTest,
    ::testing::Values(SetCase{"apartment-ring",
                              {0x159a3a52647b6344, 0x5e7f007e688e871b, 0xc8a422c55f73c756},
                              {0x159a3a52647b6344, 0x5e7f007e688e871b, 0x5baee035c951a183}},
                      SetCase{"boat-row",
                              {0xa1e74250c6294d95, 0x7ea900adc100bb9f, 0xd5429374e2c2a732},
                              {0xa1e74250c6294d95, 0x7ea900adc100bb9f, 0x01992136e0d9d8a4}}),
    [](const auto& info) {
        std::string name = info.param.set;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

}  // namespace
