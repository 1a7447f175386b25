// Warp, seam search and pyramid blend of one 12-megapixel photo into a
// panorama result, with one thread and with the whole pool. The photo is a
// real one scaled up to 4000 x 3000 here; nothing is stored.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Blender.h"
#include "DibManager.h"
#include "Exposure.h"
#include "Seams.h"
#include "ThreadPool.h"
#include "Warp.h"

namespace {

using OrvexBase::RefPtr;

constexpr int kWidth = 4000, kHeight = 3000;
// The second photo sits this far right of the first: a 1200-pixel overlap.
constexpr int kShift = 2800;

struct Scene {
    CDibManager manager;
    RefPtr<CPanoElement> photo;   // 12 MP
    RefPtr<CPanoElement> result;  // the first photo already placed
    double transform[9] = {};     // panorama -> photo of the second photo, turned by a degree
    bool ok = false;

    Scene() {
        g_pDibManager = &manager;
        const std::string path = std::string(OVH_SHARED_DATA) + "/photos/weir-row-distractor/weir_1.jpg";
        RefPtr<CPanoElement> source(new CPanoElement(0));
        if (!source->Load(std::wstring(path.begin(), path.end())))
            return;
        const double up[9] = {static_cast<double>(source->GetWidth()) / kWidth,
                              0,
                              0,
                              0,
                              static_cast<double>(source->GetHeight()) / kHeight,
                              0,
                              0,
                              0,
                              1};
        photo.Reset(WarpPhotoElement(source.Get(), up));
        if (!photo)
            return;

        // The result: a wide panorama holding the first copy at the left.
        result.Reset(new CPanoElement(0));
        if (!result->Create(24, kShift + kWidth + 200, kHeight + 200))
            return;
        result->CreateMask(false);
        const double place[9] = {1, 0, -100, 0, 1, -100, 0, 0, 1};
        RefPtr<CPanoElement> first(WarpPhotoElement(photo.Get(), place));
        if (!first)
            return;
        CompositeOver(result.Get(), first.Get(), OrvexBase::Rect());

        const double a = 1.0 * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        const double tx = -(100 + kShift), ty = -100;
        // Rotation about the photo's centre after the shift.
        const double cx = kWidth / 2.0, cy = kHeight / 2.0;
        transform[0] = c;
        transform[1] = s;
        transform[2] = c * tx + s * ty + cx - c * cx - s * cy;
        transform[3] = -s;
        transform[4] = c;
        transform[5] = -s * tx + c * ty + cy + s * cx - c * cy;
        transform[8] = 1;
        ok = true;
    }
};

Scene& SharedScene() {
    static Scene scene;
    return scene;
}

#define REQUIRE_SCENE(scene)                              \
    if (!(scene).ok) {                                    \
        state.SkipWithError("weir-row photos not found"); \
        return;                                           \
    }

void SetThreads(benchmark::State& state) {
    state.counters["threads"] = static_cast<double>(state.range(0));
}

void BM_Warp(benchmark::State& state) {
    Scene& scene = SharedScene();
    REQUIRE_SCENE(scene);
    Platform::ThreadPool pool(static_cast<unsigned>(state.range(0)));
    Platform::ThreadPool::ScopedShared use(pool);
    for (auto _ : state) {
        RefPtr<CPanoElement> warped(WarpPhotoElement(scene.photo.Get(), scene.transform));
        benchmark::DoNotOptimize(warped.Get());
    }
    SetThreads(state);
}

void BM_SeamSearch(benchmark::State& state) {
    Scene& scene = SharedScene();
    REQUIRE_SCENE(scene);
    Platform::ThreadPool pool(static_cast<unsigned>(state.range(0)));
    Platform::ThreadPool::ScopedShared use(pool);
    RefPtr<CPanoElement> warped(WarpPhotoElement(scene.photo.Get(), scene.transform));
    const std::size_t maskBytes = static_cast<std::size_t>(warped->GetMaskStride()) * warped->GetHeight();
    std::vector<std::uint8_t> mask(warped->GetMask(), warped->GetMask() + maskBytes);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(warped->GetMask(), mask.data(), maskBytes);
        state.ResumeTiming();
        SeamSet seams;
        benchmark::DoNotOptimize(ComputeSeamMask(warped.Get(), scene.result.Get(), 1, &seams));
    }
    SetThreads(state);
}

// Seven levels, as the full-size rendering uses for a photo scaled by 8.
void BM_Blend(benchmark::State& state) {
    Scene& scene = SharedScene();
    REQUIRE_SCENE(scene);
    Platform::ThreadPool pool(static_cast<unsigned>(state.range(0)));
    Platform::ThreadPool::ScopedShared use(pool);
    RefPtr<CPanoElement> warped(WarpPhotoElement(scene.photo.Get(), scene.transform));
    for (auto _ : state) {
        LaplacianBlender blender;
        if (!blender.Blend(7, warped.Get(), scene.result.Get()))
            state.SkipWithError("blend failed");
        blender.WriteResult(scene.result.Get());
    }
    SetThreads(state);
}

// The goal: one photo warped and blended in under a second.
void BM_WarpAndBlend(benchmark::State& state) {
    Scene& scene = SharedScene();
    REQUIRE_SCENE(scene);
    Platform::ThreadPool pool(static_cast<unsigned>(state.range(0)));
    Platform::ThreadPool::ScopedShared use(pool);
    for (auto _ : state) {
        RefPtr<CPanoElement> warped(WarpPhotoElement(scene.photo.Get(), scene.transform));
        LaplacianBlender blender;
        if (!blender.Blend(7, warped.Get(), scene.result.Get()))
            state.SkipWithError("blend failed");
        blender.WriteResult(scene.result.Get());
    }
    SetThreads(state);
}

BENCHMARK(BM_Warp)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SeamSearch)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Blend)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_WarpAndBlend)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
