#pragma once
// Resampling of one photo into panorama space with integer bilinear weights,
// and the product tables the per-pixel steps (warp, seam grey levels, alpha
// compositing) look up instead of multiplying.

#include <cstdint>

#include "OrvexBase.h"
#include "PanoElement.h"

// Filled once at start-up (and by InitPixelTables); read-only afterwards.
extern std::uint32_t g_greyWeight30[256];
extern std::uint32_t g_greyWeight59[256];
extern std::uint32_t g_greyWeight11[256];
extern std::uint32_t g_alphaTimes255[256];
extern std::uint32_t g_bilinearWeight[16][16];

void InitPixelTables();

// Grey level of a 24-bit pixel as the planar seams see it: byte 0 weighs 30,
// byte 1 59, byte 2 11 (memory order, not colour order).
inline std::uint32_t GreyLevel(const std::uint8_t* pixel) {
    return (g_greyWeight30[pixel[0]] + g_greyWeight59[pixel[1]] + g_greyWeight11[pixel[2]]) / 100;
}

// The work of CPanorama::WarpElement for one photo: a new 24-bit element with a
// coverage mask, placed at its integer position in the panorama, resampled
// through transform (row-major 3x3, panorama -> photo; only the affine rows
// are used). Null when the photo is not a loaded 24-bit image, the transform
// has no finite inverse, or the element cannot be made.
CPanoElement* WarpPhotoElement(CPanoElement* photo, const double transform[9]);
