#pragma once
// The encoder: a baseline sequential JFIF file with the standard Huffman
// tables, written from rows handed in one at a time.

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "HuffmanCoding.h"
#include "McuLayout.h"
#include "MiniJpeg.h"

namespace MiniJpeg {

// 64 values in natural order and their precision (8 or 16 bits).
struct QuantTable {
    std::array<uint16_t, 64> values{};
    int precision = 8;
};

// Scales a base table by the quality rule (1..100, outside values clamped by
// the scale); forceBaseline limits every value to 255.
QuantTable BuildQuantTable(const std::array<uint16_t, 64>& base, int quality, bool forceBaseline);

// Division by a fixed divisor through a multiply and a shift, exact for every
// dividend below 2^27 (the transform's outputs stay below 2^26).
struct QuantDivisor {
    int32_t divisor = 1;
    uint64_t multiplier = 1;
    int shift = 0;

    QuantDivisor() = default;
    explicit QuantDivisor(int32_t d);
    int32_t Divide(uint32_t n) const { return static_cast<int32_t>((n * multiplier) >> shift); }
};

// Forward 8x8 DCT of level-shifted samples followed by quantisation with the
// divisors D[k] = Q[k] * A[k]; works in place on one block.
void ForwardDctQuantise(int16_t* block, const std::array<QuantDivisor, 64>& divisors);

class CoderImpl : public Coder {
public:
    CoderImpl(OStream* out, int32_t width, int32_t height, bool colour, int quality, bool sampling,
              bool oneDqt, int densityUnit, uint16_t xDensity, uint16_t yDensity);
    ~CoderImpl() override;

    void WriteLine(const uint8_t* row) override;

private:
    struct Component {
        int id = 1;
        int h = 1;
        int v = 1;
        int quantTable = 0;
        int dcTable = 0;
        int acTable = 0;
        int blocksPerMcu = 1;
        int blockOffset = 0;
        int widthSamples = 0;
        int heightSamples = 0;
        int widthBlocks = 0;
        int heightBlocks = 0;
        std::vector<uint16_t> pixelIndex;  // MCU pixel -> sample index in the MCU
    };

    void WriteMarker(uint8_t code);
    void WriteWord(int value);
    void WriteHeaders();
    void SetUpComponents();
    void SetUpGeometry();
    void ProcessStrip();
    void ConvertColour();
    void ConvertGrey();

    OStream* m_out;
    int32_t m_width;
    int32_t m_height;
    bool m_colour;
    bool m_sampling;
    bool m_oneDqt;
    int32_t m_densityUnit;
    uint16_t m_xDensity;
    uint16_t m_yDensity;
    uint16_t m_restartInterval = 0;
    std::array<QuantTable, 4> m_quant;
    std::array<std::array<QuantDivisor, 64>, 4> m_divisors{};
    std::optional<HuffSpec> m_lastWrittenDc[4];
    std::optional<HuffSpec> m_lastWrittenAc[4];
    std::vector<Component> m_components;

    McuLayout m_layout;
    std::vector<int16_t> m_mcuRow;
    std::vector<uint8_t> m_strip;
    size_t m_stripStride = 0;

    int32_t m_row = 0;
    int32_t m_stripStart = 0;
    int32_t m_stripEnd = 0;
    std::unique_ptr<BaseHuffEncoder> m_entropy;
};

}  // namespace MiniJpeg
