#pragma once
// The products of the bilinear preview sampler's weights.

#include <cstdint>

// row x column for 0..15: the weights of the bilinear preview sampler.
using ProductTable = uint32_t[16][16];
// The table, asked for before an embedded thumbnail is decoded; it is built
// at compile time, so this only hands it out.
const ProductTable& BuildProductTable16();
