#include "CpuSpeed.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

void MeasureCpuSpeed(uint32_t& ticksPerMicrosecond) {
    using Clock = std::chrono::steady_clock;
    auto ticks = []() -> uint64_t {
#if defined(__x86_64__) || defined(__i386__)
        return __rdtsc();
#else
        return static_cast<uint64_t>(Clock::now().time_since_epoch().count());
#endif
    };
    auto timedWait = [&](std::chrono::microseconds length) {
        const uint64_t t0 = ticks();
        const auto until = Clock::now() + length;
        while (Clock::now() < until) {
        }
        return ticks() - t0;
    };
    const uint64_t empty = timedWait(std::chrono::microseconds(0));
    const uint64_t busy = timedWait(std::chrono::milliseconds(50));
    ticksPerMicrosecond = static_cast<uint32_t>((busy > empty ? busy - empty : 0) / 50 / 1000);
}
