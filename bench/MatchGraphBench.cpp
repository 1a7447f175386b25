// Building the match graph of the 12-photo apartment ring (66 pairs), with one
// thread and with the whole pool.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "DibManager.h"
#include "Features.h"
#include "Panorama.h"
#include "ThreadPool.h"

namespace {

class BenchPanorama : public CPanorama {
public:
    using CPanorama::copies_;
    using CPanorama::keypointSets_;
    using CPanorama::matchGraph_;
};

struct Ring {
    CDibManager manager;
    std::unique_ptr<BenchPanorama> engine;
    bool ok = false;

    Ring() {
        g_pDibManager = &manager;
        engine = std::make_unique<BenchPanorama>();
        for (int i = 1; i <= 12; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/photos/apartment-ring/small-%02d.jpg", i);
            const std::string path = std::string(OVH_SHARED_DATA) + name;
            auto* e = new CPanoElement(0);
            if (!e->Load(std::wstring(path.begin(), path.end()))) {
                e->Release();
                return;
            }
            engine->copies_.emplace_back(e);
            auto set = std::make_unique<CKeypointSet>();
            DetectFeatures(e, set->keypoints, set->descriptors, 10.0, 0.02);
            set->BuildIndex(e->GetSize());
            engine->keypointSets_.push_back(std::move(set));
        }
        ok = true;
    }
};

Ring& SharedRing() {
    static Ring ring;
    return ring;
}

void BM_BuildMatchGraph(benchmark::State& state) {
    Ring& ring = SharedRing();
    if (!ring.ok) {
        state.SkipWithError("apartment-ring photos not found");
        return;
    }
    Platform::ThreadPool pool(static_cast<unsigned>(state.range(0)));
    Platform::ThreadPool::ScopedShared use(pool);
    for (auto _ : state)
        ring.engine->BuildMatchGraph(&ring.engine->matchGraph_);
    state.counters["edges"] = static_cast<double>(ring.engine->matchGraph_.Edges().size());
    state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_BuildMatchGraph)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
