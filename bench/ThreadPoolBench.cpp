// The thread pool's own cost: short loops with the caller's serial work in
// between, as a build runs them. "cpu_per_loop_us" is the CPU time of the
// whole process (every thread) per loop, so what waiting workers burn
// between loops shows there; the work itself is the same for every pool.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "ThreadPool.h"

namespace {

double ProcessCpuMicroseconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto us = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// About a microsecond of arithmetic per index.
std::uint64_t Work(std::size_t i) {
    std::uint64_t x = i + 1;
    for (int k = 0; k < 300; ++k)
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    return x;
}

// Busy for the given time on the calling thread only.
void SerialWork(std::chrono::microseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
    }
}

// Arguments: pool threads, microseconds of serial work between loops.
void BM_LoopsWithSerialGaps(benchmark::State& state) {
    Platform::ThreadPool pool(unsigned(state.range(0)));
    const std::chrono::microseconds gap(state.range(1));
    std::atomic<std::uint64_t> sink{0};
    const double cpu0 = ProcessCpuMicroseconds();
    for (auto _ : state) {
        pool.ParallelFor(0, 256, [&](std::size_t b, std::size_t e) {
            std::uint64_t s = 0;
            for (std::size_t i = b; i < e; ++i)
                s += Work(i);
            sink.fetch_add(s, std::memory_order_relaxed);
        });
        SerialWork(gap);
    }
    state.counters["cpu_per_loop_us"] = (ProcessCpuMicroseconds() - cpu0) / double(state.iterations());
    benchmark::DoNotOptimize(sink.load());
}
BENCHMARK(BM_LoopsWithSerialGaps)
    ->Args({8, 10})
    ->Args({8, 100})
    ->Args({8, 1000})
    ->Args({1, 100})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
