#pragma once
// A processor speed figure, taken once when a browser is made.

#include <cstdint>

// Processor clock ticks per microsecond, from a 50 ms busy wait.
void MeasureCpuSpeed(uint32_t& ticksPerMicrosecond);
