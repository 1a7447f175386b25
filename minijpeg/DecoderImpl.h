#pragma once
// The decoder: baseline sequential Huffman JPEG with one scan, grey or three
// components, handed out one row at a time.

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "HuffmanCoding.h"
#include "McuLayout.h"
#include "MiniJpeg.h"

namespace MiniJpeg {

// Inverse 8x8 DCT of one block of quantised coefficients (natural order),
// dequantised with D[k] = Q[k] * B[k]; writes samples 0..255 in place.
void InverseDctBlock(int16_t* block, const std::array<int32_t, 64>& dequant);

class DecoderImpl : public Decoder {
public:
    DecoderImpl(IStream* in, int32_t* width, int32_t* height, uint8_t* colour, int32_t* densityUnit,
                uint16_t* xDensity, uint16_t* yDensity);
    ~DecoderImpl() override;

    const uint8_t* ReadLine() override;

private:
    struct Component {
        int id = 0;
        int h = 1;
        int v = 1;
        int quantTable = 0;
        int blockOffset = 0;
        int blocksPerMcu = 1;
        int widthSamples = 0;
        int heightSamples = 0;
        int widthBlocks = 0;
        int heightBlocks = 0;
        std::array<int32_t, 64> dequant{};
        std::vector<uint16_t> pixelIndex;  // MCU pixel -> sample index in the MCU
    };
    struct Quant {
        std::array<uint16_t, 64> values{};
        int precision = 8;
    };

    // A segment being read: every read is checked against its length.
    class Segment;

    void ReadMarkers();
    uint8_t NextMarker();
    void ReadFrame(Segment& s);
    void ReadJfif(Segment& s);
    void ReadAdobe(Segment& s);
    void ReadQuantTables(Segment& s);
    void ReadHuffmanTables(Segment& s);
    void ReadRestartInterval(Segment& s);
    void SetUpGeometry();
    void ReadScanHeader();
    void DecodeStrip();

    IStream* m_in;
    bool m_jfifSeen = false;
    bool m_frameSeen = false;
    bool m_adobeSeen = false;
    int32_t m_adobeTransform = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_colourOutput = false;
    uint16_t m_xDensity = 0;
    uint16_t m_yDensity = 0;
    int32_t m_densityUnit = 0;
    uint16_t m_restartInterval = 0;
    bool m_convertYCbCr = false;
    std::vector<Component> m_components;
    std::array<std::optional<HuffSpec>, 4> m_dcSpecs;
    std::array<std::optional<HuffSpec>, 4> m_acSpecs;
    std::array<std::optional<Quant>, 4> m_quant;

    McuLayout m_layout;
    std::vector<int16_t> m_mcuRow;
    std::vector<uint8_t> m_strip;
    size_t m_stripStride = 0;

    int32_t m_row = 0;
    int32_t m_stripStart = 0;
    int32_t m_stripEnd = 0;
    std::unique_ptr<BaseHuffDecoder> m_entropy;
    bool m_failed = false;
};

}  // namespace MiniJpeg
