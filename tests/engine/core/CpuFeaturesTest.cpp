// The switch that sends the run-time-chosen kernels down their portable paths.

#include "CpuFeatures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(CpuFeatures, NoAvxInTheEnvironmentTurnsOffEveryChoice) {
    const char* off = std::getenv("OVH_NO_AVX");
    if (off && *off && std::strcmp(off, "0") != 0) {
        EXPECT_FALSE(CpuUsesAvx());
        EXPECT_FALSE(CpuUsesAvx2());
        return;
    }
#if defined(__x86_64__) && defined(__GNUC__)
    EXPECT_EQ(CpuUsesAvx(), static_cast<bool>(__builtin_cpu_supports("avx")));
    EXPECT_EQ(CpuUsesAvx2(), static_cast<bool>(__builtin_cpu_supports("avx2")));
#else
    EXPECT_FALSE(CpuUsesAvx2());
#endif
    // AVX2 implies AVX: a kernel of either kind may be chosen alone.
    EXPECT_TRUE(!CpuUsesAvx2() || CpuUsesAvx());
}
