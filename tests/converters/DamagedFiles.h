#pragma once
// Ways to damage a good image file, for the corpus of truncated and corrupt
// files the converter and module tests read.

#include <cstdint>
#include <cstring>
#include <vector>

namespace DamagedFiles {

using Bytes = std::vector<std::uint8_t>;

inline Bytes CutInHalf(Bytes f) {
    f.resize(f.size() / 2);
    return f;
}

inline Bytes CutInHeader(Bytes f) {
    f.resize(20);
    return f;
}

// A run of bytes in the middle of the JPEG scan replaced by an end-of-image marker.
inline Bytes JpegMarkerInScan(Bytes f) {
    f[f.size() / 2] = 0xFF;
    f[f.size() / 2 + 1] = 0xD9;
    return f;
}

// Garbage in the compressed data of the first PNG image chunk.
inline Bytes PngGarbageInData(Bytes f) {
    for (std::size_t i = 8; i + 8 < f.size(); ++i)
        if (std::memcmp(&f[i], "IDAT", 4) == 0) {
            for (std::size_t j = i + 10; j < i + 60; ++j)
                f[j] = static_cast<std::uint8_t>(j * 37);
            break;
        }
    return f;
}

inline Bytes PngHugeWidth(Bytes f) {
    f[16] = 0x7F, f[17] = f[18] = f[19] = 0xFF;  // IHDR width
    return f;
}

// libtiff writes the strips first, right after the 8-byte header.
inline Bytes TiffGarbageInStrip(Bytes f) {
    for (std::size_t i = 8; i < 200; ++i)
        f[i] = 0xFF;
    return f;
}

// A directory that says it holds no entries.
inline Bytes TiffEmptyDirectory(Bytes f) {
    const std::size_t at = f[4] | f[5] << 8 | f[6] << 16 | static_cast<std::size_t>(f[7]) << 24;
    f[at] = f[at + 1] = 0;
    return f;
}

inline Bytes BmpHugePalette(Bytes f) {
    f[28] = 8;                   // eight bits...
    f[46] = 0x2C, f[47] = 0x01;  // ...and 300 colours
    return f;
}

// A width no image has, and the rows it would need far beyond the file.
inline Bytes BmpHugeWidth(Bytes f) {
    f[18] = f[19] = f[20] = 0xFF, f[21] = 0x7F;
    return f;
}

}  // namespace DamagedFiles
