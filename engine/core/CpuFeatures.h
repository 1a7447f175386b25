#pragma once
// The vector instructions the engine may choose at run time. Every kernel
// that takes AVX or AVX2 when the processor has them keeps a portable path
// with the same bits; OVH_NO_AVX=1 in the environment forces those paths on
// any processor, so both can be tested on one machine.

// True when the processor has AVX and OVH_NO_AVX is not set.
bool CpuUsesAvx();
// True when the processor has AVX2 and OVH_NO_AVX is not set.
bool CpuUsesAvx2();
