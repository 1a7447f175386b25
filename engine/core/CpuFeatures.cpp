#include "CpuFeatures.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Choice {
    bool avx = false;
    bool avx2 = false;
};

// Asked once; kernels keep the answer in statics of their own, which may be
// set before main, so the processor is probed here rather than trusted to be.
const Choice& Chosen() {
    static const Choice choice = [] {
        Choice c;
        const char* off = std::getenv("OVH_NO_AVX");
        if (off && *off && std::strcmp(off, "0") != 0)
            return c;
#if defined(__x86_64__) && defined(__GNUC__)
        __builtin_cpu_init();
        c.avx = __builtin_cpu_supports("avx");
        c.avx2 = __builtin_cpu_supports("avx2");
#endif
        return c;
    }();
    return choice;
}

}  // namespace

bool CpuUsesAvx() {
    return Chosen().avx;
}

bool CpuUsesAvx2() {
    return Chosen().avx2;
}
