// The tiled model's geometry on the 12 photos of the apartment ring: one
// global alignment (real matches from the engine's pair matcher, and exact
// synthetic matches from known ring poses), and one full-size render of the
// posed photos onto the sphere.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DibManager.h"
#include "Features.h"
#include "Panorama.h"
#include "Surfaces.h"
#include "SyntheticViews.h"
#include "TiledAlignment.h"

namespace {

using ElementPtr = OrvexBase::RefPtr<CPanoElement>;
constexpr double kPi = 3.141592653589793;

CDibManager g_manager;

class RingMatcher : public CPanorama {
public:
    using CPanorama::keypointSets_;
    using CPanorama::matchGraph_;
    using CPanorama::motionModel_;
    void AddAnalysed(CPanoElement* photo) {
        photo->AddRef();
        copies_.push_back(photo);
        auto* set = new CKeypointSet();
        DetectFeatures(photo, set->keypoints, set->descriptors, 10.0, 0.02);
        set->BuildIndex(photo->GetSize());
        keypointSets_.push_back(set);
    }
};

std::vector<ElementPtr> LoadRing() {
    g_pDibManager = &g_manager;
    std::vector<ElementPtr> photos;
    for (int i = 1; i <= 12; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "small-%02d.jpg", i);
        const std::string path =
            (std::filesystem::path(OVH_SHARED_DATA) / "photos" / "apartment-ring" / name).string();
        ElementPtr photo(new CPanoElement(0));
        if (!photo->Load(std::wstring(path.begin(), path.end())))
            return {};
        photos.push_back(std::move(photo));
    }
    return photos;
}

// Sum of the turns between neighbours of the ring, and the mean focal.
void RingFigures(const std::vector<TiledImagePose>& poses, double& turn, double& focal) {
    turn = focal = 0;
    const int n = static_cast<int>(poses.size());
    for (int i = 0; i < n; ++i) {
        double A[9], B[9];
        const TiledImagePose &a = poses[i], &b = poses[(i + 1) % n];
        RotationFromAngles(A, a.pitch, a.yaw, a.roll);
        RotationFromAngles(B, b.pitch, b.yaw, b.roll);
        double trace = 0;
        for (int k = 0; k < 9; ++k)
            trace += A[k] * B[k];
        turn += std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2))) * 180 / kPi;
        focal += poses[i].focal / n;
    }
}

void RunAlignment(benchmark::State& state, Tiled_Panorama::CPoseAlignment& align) {
    for (auto _ : state) {
        align.AlignImages();
        benchmark::DoNotOptimize(align.poses.data());
    }
    double turn = 0, focal = 0;
    RingFigures(align.poses, turn, focal);
    state.counters["turn_deg"] = turn;
    state.counters["focal_px"] = focal;
    state.counters["placed"] = static_cast<double>(align.placementOrder.size());
}

void BM_AlignApartmentRingMatched(benchmark::State& state) {
    std::vector<ElementPtr> photos = LoadRing();
    if (photos.empty())
        return state.SkipWithError("shared photos are not present");
    RingMatcher matcher;
    matcher.motionModel_ = 0;
    std::vector<OrvexBase::Size> sizes;
    for (auto& p : photos) {
        matcher.AddAnalysed(p.Get());
        sizes.push_back(p->GetSize());
    }
    if (!matcher.BuildMatchGraph(&matcher.matchGraph_))
        return state.SkipWithError("matching failed");
    const auto edges = Tiled_Panorama::EdgesFromGraph(matcher.matchGraph_);
    Tiled_Panorama::CPoseAlignment align;
    align.photoSizes = sizes;
    align.keypoints = Tiled_Panorama::PointsFromKeypointSets(matcher.keypointSets_);
    for (const auto& e : edges)
        align.edges.push_back(&e);
    align.lensMode = static_cast<int>(state.range(0));
    align.optimizeAtEnd = state.range(1) != 0;
    RunAlignment(state, align);
}
// Arguments: lens mode, optimise once at the end.
BENCHMARK(BM_AlignApartmentRingMatched)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_AlignApartmentRingSynthetic(benchmark::State& state) {
    std::vector<TiledImagePose> truth;
    for (int i = 0; i < 12; ++i)
        truth.push_back(Synthetic::Pose(458, 0, 30.0 * i, 0));
    const std::vector<OrvexBase::Size> sizes(12, OrvexBase::Size(600, 398));
    // About 200 matches between neighbours, half a pixel of noise.
    const auto matches = Synthetic::MakeCorrespondences(truth, sizes, 14, 20, 0.5);
    Tiled_Panorama::CPoseAlignment align;
    align.photoSizes = sizes;
    align.keypoints = matches.keypoints;
    for (const auto& e : matches.edges)
        align.edges.push_back(&e);
    align.lensMode = static_cast<int>(state.range(0));
    RunAlignment(state, align);
}
BENCHMARK(BM_AlignApartmentRingSynthetic)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RenderApartmentSphereFullSize(benchmark::State& state) {
    std::vector<ElementPtr> photos = LoadRing();
    if (photos.empty())
        return state.SkipWithError("shared photos are not present");
    std::vector<PanoramaLib::IPanoElement*> elements;
    std::vector<TiledImagePose> poses;
    std::vector<std::int32_t> order;
    for (int i = 0; i < 12; ++i) {
        elements.push_back(photos[i].Get());
        poses.push_back(Synthetic::Pose(458, 0, 30.0 * i, 0));
        order.push_back(i);
    }
    TiledImagePose lens;
    lens.hasOwnLens = static_cast<std::uint8_t>(state.range(0));
    lens.a = 1e-8;
    CSphericalSurface surface;
    surface.SetImages(order, lens, poses, elements, {});
    surface.SelectReference(0);
    surface.SetInterpolation(1);
    for (auto _ : state) {
        if (!surface.Render(100.0, nullptr, nullptr, 0, 0))
            return state.SkipWithError("render failed");
    }
    state.counters["width"] = surface.OutputWidth();
    state.counters["height"] = surface.OutputHeight();
}
BENCHMARK(BM_RenderApartmentSphereFullSize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
