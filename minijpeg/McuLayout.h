#pragma once
// The MCU layout of a frame, the same for the encoder and the decoder: the
// largest sampling factors, the MCU and padded sizes, each component's sample
// and block counts, its place in the MCU, and which sample each MCU pixel
// takes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace MiniJpeg {

struct McuLayout {
    int maxH = 1;
    int maxV = 1;
    int mcuWidth = 8;
    int mcuHeight = 8;
    int paddedWidth = 0;
    int paddedHeight = 0;
    int mcusPerRow = 0;
    int mcuRows = 0;
    int blocksPerMcu = 0;
    int valuesPerMcu = 0;
};

// Lays the components out in MCUs. False when an MCU would be taller than 32
// rows or, with checkDivisible, when a component's factors do not divide the
// largest ones. A lone component is always sampled 1x1.
template <class Component>
bool LayOutMcus(int width, int height, std::vector<Component>& components, bool checkDivisible,
                McuLayout& f) {
    if (components.size() == 1)
        components[0].h = components[0].v = 1;
    f.maxH = f.maxV = 1;
    for (const Component& c : components) {
        f.maxH = std::max(f.maxH, c.h);
        f.maxV = std::max(f.maxV, c.v);
    }
    f.mcuWidth = 8 * f.maxH;
    f.mcuHeight = 8 * f.maxV;
    if (f.mcuHeight > 32)
        return false;
    f.paddedWidth = (width + f.mcuWidth - 1) / f.mcuWidth * f.mcuWidth;
    f.paddedHeight = (height + f.mcuHeight - 1) / f.mcuHeight * f.mcuHeight;
    f.mcusPerRow = f.paddedWidth / f.mcuWidth;
    f.mcuRows = f.paddedHeight / f.mcuHeight;

    int offset = 0;
    for (Component& c : components) {
        if (checkDivisible && (f.maxH % c.h != 0 || f.maxV % c.v != 0))
            return false;
        c.widthSamples = static_cast<int>((static_cast<std::int64_t>(width) * c.h + f.maxH - 1) / f.maxH);
        c.heightSamples = static_cast<int>((static_cast<std::int64_t>(height) * c.v + f.maxV - 1) / f.maxV);
        c.widthBlocks = (c.widthSamples + 7) / 8;
        c.heightBlocks = (c.heightSamples + 7) / 8;
        c.blocksPerMcu = c.h * c.v;
        c.blockOffset = offset;
        offset += c.blocksPerMcu;
    }
    f.blocksPerMcu = offset;
    f.valuesPerMcu = offset * 64;
    return true;
}

// For each component, the sample index in the MCU's coefficient blocks that
// each MCU pixel takes (nearest sample, no interpolation).
template <class Component>
void IndexMcuPixels(std::vector<Component>& components, const McuLayout& f) {
    for (Component& c : components) {
        c.pixelIndex.resize(static_cast<std::size_t>(f.mcuWidth) * f.mcuHeight);
        for (int r = 0; r < f.mcuHeight; ++r)
            for (int col = 0; col < f.mcuWidth; ++col) {
                const int x = (c.h * (2 * col + 1)) / (2 * f.maxH);
                const int y = (c.v * (2 * r + 1)) / (2 * f.maxV);
                const int block = c.blockOffset + (y / 8) * c.h + x / 8;
                c.pixelIndex[static_cast<std::size_t>(r) * f.mcuWidth + col] =
                    static_cast<std::uint16_t>(block * 64 + (y % 8) * 8 + x % 8);
            }
    }
}

}  // namespace MiniJpeg
