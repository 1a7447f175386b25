#pragma once
// Constant tables of the codec: zigzag order, the standard quantisation and
// Huffman tables, the scale factors of the fast DCT and the colour tables.

#include <array>
#include <cstdint>

namespace MiniJpeg {

// Natural (row-major) position of each zigzag index.
inline constexpr std::array<uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Base quantisation tables (luminance, chrominance), natural order.
inline constexpr std::array<uint16_t, 64> kBaseLuminanceQuant = {
    16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
    69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
inline constexpr std::array<uint16_t, 64> kBaseChrominanceQuant = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Standard Huffman tables: code counts by length 1..16, then the symbols.
struct StdHuffTable {
    std::array<uint8_t, 16> counts;
    const uint8_t* symbols;
};
const StdHuffTable& StdDcLuminance();
const StdHuffTable& StdDcChrominance();
const StdHuffTable& StdAcLuminance();
const StdHuffTable& StdAcChrominance();

// Fast-DCT scale factors round(scale * a(u) * a(v)), natural order, with
// a(0) = 1 and a(k) = sqrt(2) cos(k pi / 16): 32768 for the forward
// transform, 8192 for the inverse.
const std::array<int32_t, 64>& ForwardAanScale();
const std::array<int32_t, 64>& InverseAanScale();

// RGB to YCbCr, indexed by a colour difference + 256.
struct ForwardColourTables {
    std::array<int16_t, 512> y1, y2, cb, cr;
};
inline constexpr ForwardColourTables MakeForwardColourTables() {
    ForwardColourTables t{};
    for (int i = 0; i < 512; ++i) {
        t.y1[i] = static_cast<int16_t>(((306 * i - 78208) >> 8) + 2);
        t.y2[i] = static_cast<int16_t>((117 * i - 29824) >> 8);
        t.cb[i] = static_cast<int16_t>(((44544 - 173 * i) >> 9) + 1);
        t.cr[i] = static_cast<int16_t>(((21504 - 83 * i) >> 9) + 1);
    }
    return t;
}
inline constexpr ForwardColourTables kForwardColour = MakeForwardColourTables();

// YCbCr to RGB, indexed by a chroma value.
struct InverseColourTables {
    std::array<int16_t, 256> crR, cbB, crG, cbG;
};
inline constexpr InverseColourTables MakeInverseColourTables() {
    InverseColourTables t{};
    for (int c = 0; c < 256; ++c) {
        t.crR[c] = static_cast<int16_t>((1436 * c - 183296) >> 10);
        t.cbB[c] = static_cast<int16_t>((1815 * c - 231808) >> 10);
        t.crG[c] = static_cast<int16_t>((93696 - 731 * c) >> 8);
        t.cbG[c] = static_cast<int16_t>(((45184 - 352 * c) >> 8) + 2);
    }
    return t;
}
inline constexpr InverseColourTables kInverseColour = MakeInverseColourTables();

}  // namespace MiniJpeg
