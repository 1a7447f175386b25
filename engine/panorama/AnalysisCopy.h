#pragma once
// Analysis copies: the small copies of the photos on which features are
// detected and photos matched, made by exact area averaging in 16.16 fixed
// point (a vertical pass, then a horizontal one).

#include <cstdint>

#include "PanoramaLib.h"

// Horizontal pass over 24-bit rows; strides follow from the widths.
void DownscaleRows24(std::uint8_t* destination, const std::uint8_t* source, int sourceWidth, int rows,
                     int destinationWidth);
// Vertical pass over 24-bit columns of one width (one stride in both images).
void DownscaleColumns24(std::uint8_t* destination, const std::uint8_t* source, int width, int sourceHeight,
                        int destinationHeight);

// The analysis copy of a loaded 24-bit photo for a target size (660 or 400):
// the photo itself (one more reference) when it fits, else a new element.
// halving: sizes by repeated halving of the long side; else exactly target on
// the long side. The photo's scale field receives full size over copy size.
// Null for a null, unloaded or non-24-bit photo and for a zero-sized copy.
PanoramaLib::IPanoElement* MakeAnalysisCopy(PanoramaLib::IPanoElement* photo, int target, bool halving);
