// Feature detection on a 660 x 495 photo and matching of two such photos
// (kd-tree build, ratio test, Hough voting), one thread; the recursive
// Gaussian on planes of the sizes the detector and the compositing steps use.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DibManager.h"
#include "Features.h"
#include "Gaussian.h"
#include "Hough.h"
#include "KdTree.h"
#include "PanoElement.h"
#include "ThreadPool.h"

namespace {

using ElementPtr = OrvexBase::RefPtr<CPanoElement>;

CDibManager g_manager;

// A 660 x 495 cut of a real photo; the right part of the first weir photo
// overlaps the left part of the second.
ElementPtr LoadCrop(const std::string& relative, int x, int y) {
    g_pDibManager = &g_manager;
    const std::string path = (std::filesystem::path(OVH_SHARED_DATA) / "photos" / relative).string();
    ElementPtr photo(new CPanoElement(0));
    if (!photo->Load(std::wstring(path.begin(), path.end())))
        return ElementPtr();
    ElementPtr crop(photo->ExtractRegion(false, OrvexBase::Rect(x, y, x + 660, y + 495)));
    return crop;
}

// Detections of one photo on a pool of `threads` threads.
void RunDetection(benchmark::State& state, unsigned threads) {
    ElementPtr photo = LoadCrop("weir-row-distractor/weir_1.jpg", 673, 128);
    if (!photo)
        return state.SkipWithError("shared photos are not present");
    CKeypointSet set;
    Platform::ThreadPool pool(threads);
    Platform::ThreadPool::ScopedShared onlyThisPool(pool);
    // As a build's analysis does: the detector's planes are kept from one
    // photo to the next, so fresh memory is touched once, not per photo.
    DetectionPlaneScope planes;
    for (auto _ : state) {
        DetectFeatures(photo.Get(), set.keypoints, set.descriptors, 10.0, 0.02);
        benchmark::DoNotOptimize(set.keypoints.data());
    }
    state.counters["keypoints"] = double(set.keypoints.size());
    // A fingerprint of the output: it must not move when the code gets faster.
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(p)[i]) * 16777619u;
    };
    for (std::size_t i = 0; i < set.keypoints.size(); ++i) {
        mix(set.keypoints[i], sizeof(Keypoint));
        mix(set.descriptors[i], sizeof(double) * kDescriptorLength);
    }
    state.counters["checksum"] = double(hash % 1000000u);
}

// One core: the detector would otherwise spread over the shared pool.
void BM_DetectFeatures(benchmark::State& state) {
    RunDetection(state, 1);
}
BENCHMARK(BM_DetectFeatures)->Unit(benchmark::kMillisecond);

// One detection spread over a pool of the given size: how much of it the
// other threads can take.
void BM_DetectFeaturesSpread(benchmark::State& state) {
    RunDetection(state, unsigned(state.range(0)));
}
BENCHMARK(BM_DetectFeaturesSpread)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MatchPair(benchmark::State& state) {
    ElementPtr first = LoadCrop("weir-row-distractor/weir_1.jpg", 673, 128);
    ElementPtr second = LoadCrop("weir-row-distractor/weir_2.jpg", 0, 128);
    if (!first || !second)
        return state.SkipWithError("shared photos are not present");
    CKeypointSet query, reference;
    DetectFeatures(first.Get(), query.keypoints, query.descriptors, 10.0, 0.02);
    DetectFeatures(second.Get(), reference.keypoints, reference.descriptors, 10.0, 0.02);
    query.BuildIndex(first->GetSize());
    reference.BuildIndex(second->GetSize());
    std::size_t clusters = 0;
    std::uint32_t hash = 2166136261u;
    for (auto _ : state) {
        // As the match-graph builder does: the tree copies the descriptors into its own leaf store.
        KdTree* tree = BuildKdTree(reference.descriptors.data(), std::int32_t(reference.descriptors.size()));
        tree->visitLimit = 200;
        std::vector<std::int32_t> images;
        std::vector<std::vector<std::int32_t>> queryIdx, refIdx, scores;
        std::vector<double> votes;
        MatchKeypointSets(tree, reference, query, query.descriptors, images, queryIdx, refIdx, scores, votes,
                          1.5, 0.8);
        DeleteKdTree(tree);
        clusters = votes.size();
        hash = 2166136261u;
        auto mix = [&hash](const void* p, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i)
                hash = (hash ^ static_cast<const unsigned char*>(p)[i]) * 16777619u;
        };
        for (std::size_t i = 0; i < votes.size(); ++i) {
            mix(&images[i], sizeof(std::int32_t));
            mix(&votes[i], sizeof(double));
            mix(queryIdx[i].data(), queryIdx[i].size() * sizeof(std::int32_t));
            mix(refIdx[i].data(), refIdx[i].size() * sizeof(std::int32_t));
            mix(scores[i].data(), scores[i].size() * sizeof(std::int32_t));
        }
        benchmark::DoNotOptimize(votes.data());
    }
    state.counters["keypoints_query"] = double(query.keypoints.size());
    state.counters["keypoints_reference"] = double(reference.keypoints.size());
    state.counters["clusters"] = double(clusters);
    state.counters["checksum"] = double(hash % 1000000u);
}
BENCHMARK(BM_MatchPair)->Unit(benchmark::kMillisecond);

// A plane of a smooth gradient with some texture, so that the filter does
// not run on constants.
template <class T>
std::vector<T> TestPlane(int width, int height, int channels, double top) {
    std::vector<T> plane(std::size_t(width) * height * channels);
    std::uint32_t seed = 12345u;
    for (std::size_t i = 0; i < plane.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double ramp = double(i % std::size_t(width * channels)) / double(width * channels);
        plane[i] = static_cast<T>(top * (0.75 * ramp + 0.25 * double(seed >> 8) / double(1u << 24)));
    }
    return plane;
}

// The detector's first octave (twice a 660 x 495 photo), one level's blur.
void BM_GaussianDouble(benchmark::State& state) {
    Platform::ThreadPool pool(unsigned(state.range(0)));
    Platform::ThreadPool::ScopedShared onlyThisPool(pool);
    const int w = int(state.range(1)), h = int(state.range(2));
    const std::vector<double> source = TestPlane<double>(w, h, 1, 1.0);
    std::vector<double> target(source.size());
    for (auto _ : state) {
        RecursiveGaussianBlurInto(w, h, w, source.data(), target.data(), 1.4142135623730951);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * w * h);
}
BENCHMARK(BM_GaussianDouble)
    ->Args({1, 1320, 990})
    ->Args({8, 1320, 990})
    ->Args({1, 330, 248})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A seam's difference mask (8-bit grey), 2000 x 1500.
void BM_GaussianU8(benchmark::State& state) {
    Platform::ThreadPool pool(unsigned(state.range(0)));
    Platform::ThreadPool::ScopedShared onlyThisPool(pool);
    const int w = 2000, h = 1500;
    const std::vector<std::uint8_t> source = TestPlane<std::uint8_t>(w, h, 1, 255.0);
    std::vector<std::uint8_t> plane;
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        RecursiveGaussianBlurU8(w, h, w, plane.data(), 6.0);
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * w * h);
}
BENCHMARK(BM_GaussianU8)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// An exposure copy's 24-bit pixels, 1000 x 750 (rows of 3000 bytes, a multiple of 4).
void BM_GaussianU8Colour(benchmark::State& state) {
    Platform::ThreadPool pool(unsigned(state.range(0)));
    Platform::ThreadPool::ScopedShared onlyThisPool(pool);
    const int w = 1000, h = 750;
    const std::vector<std::uint8_t> source = TestPlane<std::uint8_t>(w, h, 3, 255.0);
    std::vector<std::uint8_t> plane;
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        RecursiveGaussianBlurU8Ex(w, h, 3 * w, plane.data(), 20.0);
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * w * h);
}
BENCHMARK(BM_GaussianU8Colour)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// An overlap's 16-bit difference plane, 1200 x 900.
void BM_GaussianU16(benchmark::State& state) {
    Platform::ThreadPool pool(unsigned(state.range(0)));
    Platform::ThreadPool::ScopedShared onlyThisPool(pool);
    const int w = 1200, h = 900;
    const std::vector<std::uint16_t> source = TestPlane<std::uint16_t>(w, h, 1, 65535.0);
    std::vector<std::uint16_t> plane;
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        RecursiveGaussianBlurU16(w, h, w, plane.data(), 129.0);
        benchmark::DoNotOptimize(plane.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * w * h);
}
BENCHMARK(BM_GaussianU16)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
