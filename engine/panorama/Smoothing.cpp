#include "Smoothing.h"

// STUB: the recursive Gaussian is not on this branch yet; until it is, the
// planes pass unsmoothed.
void SmoothGreyPlane(std::int32_t, std::int32_t, std::int32_t, std::uint8_t*, double) {}

void SmoothColourPlane(std::int32_t, std::int32_t, std::int32_t, std::uint8_t*, double) {}
