// The tiled model's geometry: one global alignment on the 12 photos of the
// apartment ring (real matches from the engine's pair matcher, and exact
// synthetic matches from known ring poses) and on a synthetic 60-photo
// sphere of three rows, one full-size render of the posed ring onto the
// sphere, and the whole tiled engine (build plus full-size render) on the
// ring.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DibManager.h"
#include "Features.h"
#include "FreeThreading.h"
#include "Panorama.h"
#include "Surfaces.h"
#include "SyntheticViews.h"
#include "TiledAlignment.h"
#include "TiledPanorama.h"

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
        copies_.emplace_back(photo);
        auto set = std::make_unique<CKeypointSet>();
        DetectFeatures(photo, set->keypoints, set->descriptors, 10.0, 0.02);
        set->BuildIndex(photo->GetSize());
        keypointSets_.push_back(std::move(set));
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
    state.counters["evaluations"] = align.lastEvaluations;
    state.counters["residuals"] = align.lastResiduals;
    state.counters["rms_px"] = align.lastRmsDistance;
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

// Three rows of 20 photos (640 x 480, focal 500) at pitch -40, 0 and 40
// degrees, each row shifted by half a step, with a little jitter of every
// angle; a keypoint every 32 pixels, half a pixel of noise.
void BM_AlignThreeRowSphereSynthetic(benchmark::State& state) {
    std::vector<TiledImagePose> truth;
    unsigned seed = 7;
    auto jitter = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (static_cast<int>((seed >> 16) % 2001) - 1000) / 1000.0;  // -1 .. 1 degree
    };
    for (int row = 0; row < 3; ++row)
        for (int i = 0; i < 20; ++i)
            truth.push_back(
                Synthetic::Pose(500, -40.0 + 40 * row + jitter(), 18.0 * i + 9.0 * row + jitter(), jitter()));
    const std::vector<OrvexBase::Size> sizes(truth.size(), OrvexBase::Size(640, 480));
    const auto matches = Synthetic::MakeCorrespondences(truth, sizes, 40, 12, 0.5);
    Tiled_Panorama::CPoseAlignment align;
    align.photoSizes = sizes;
    align.keypoints = matches.keypoints;
    for (const auto& e : matches.edges)
        align.edges.push_back(&e);
    align.referenceImage = 20;
    align.lensMode = static_cast<int>(state.range(0));
    for (auto _ : state) {
        align.AlignImages();
        benchmark::DoNotOptimize(align.poses.data());
    }
    // The worst angle between a recovered photo and the truth, relative to
    // the reference, and the mean focal.
    double worst = 0, focal = 0;
    for (std::int32_t i : align.placementOrder) {
        double R0[9], Ri[9], T0[9], Ti[9], A[9], B[9];
        const auto& p0 = align.poses[20];
        const auto& pi = align.poses[i];
        RotationFromAngles(R0, p0.pitch, p0.yaw, p0.roll);
        RotationFromAngles(Ri, pi.pitch, pi.yaw, pi.roll);
        RotationFromAngles(T0, truth[20].pitch, truth[20].yaw, truth[20].roll);
        RotationFromAngles(Ti, truth[i].pitch, truth[i].yaw, truth[i].roll);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                A[3 * r + c] =
                    Ri[3 * r] * R0[3 * c] + Ri[3 * r + 1] * R0[3 * c + 1] + Ri[3 * r + 2] * R0[3 * c + 2];
                B[3 * r + c] =
                    Ti[3 * r] * T0[3 * c] + Ti[3 * r + 1] * T0[3 * c + 1] + Ti[3 * r + 2] * T0[3 * c + 2];
            }
        double trace = 0;
        for (int k = 0; k < 9; ++k)
            trace += A[k] * B[k];
        worst = std::max(worst, std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2))) * 180 / kPi);
        focal += pi.focal / static_cast<double>(align.placementOrder.size());
    }
    state.counters["worst_deg"] = worst;
    state.counters["focal_px"] = focal;
    state.counters["placed"] = static_cast<double>(align.placementOrder.size());
    state.counters["evaluations"] = align.lastEvaluations;
    state.counters["residuals"] = align.lastResiduals;
    state.counters["rms_px"] = align.lastRmsDistance;
    state.counters["edges"] = static_cast<double>(matches.edges.size());
}
BENCHMARK(BM_AlignThreeRowSphereSynthetic)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole tiled engine on the ring: analysis, matching, alignment and the
// full-size render, on the cylinder (0) or the sphere (1).
void BM_TiledBuildAndRenderApartmentRing(benchmark::State& state) {
    std::vector<ElementPtr> photos = LoadRing();
    if (photos.empty())
        return state.SkipWithError("shared photos are not present");
    std::vector<PanoramaLib::IPanoElement*> elements;
    for (auto& p : photos)
        elements.push_back(p.Get());
    for (auto _ : state) {
        CFreeThreading threads;
        PanoramaLib::ITiledPanorama* engine = CreateTiledPanorama(&g_manager);
        engine->Init(&threads, nullptr, nullptr);
        HVPanoramaOptions options;
        engine->GetOptions(&options);
        options.surfaceKind = static_cast<SurfaceKind>(state.range(0));
        options.autoCrop = 0;
        engine->SetOptions(&options);
        const bool ok = engine->Build(elements, nullptr, 0, 0, 0) && engine->RenderForPrint(0, 0, 0);
        if (ok) {
            state.counters["width"] = engine->GetFullResult()->GetWidth();
            state.counters["height"] = engine->GetFullResult()->GetHeight();
        }
        engine->Release();
        if (!ok)
            return state.SkipWithError("the build failed");
    }
}
BENCHMARK(BM_TiledBuildAndRenderApartmentRing)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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
