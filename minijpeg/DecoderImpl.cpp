#include "DecoderImpl.h"

#include <algorithm>
#include <cstring>

#include "JpegTables.h"

namespace MiniJpeg {

namespace {

// ((x + 128) >> 8) * K, K being the constant scaled by 256. 64-bit, because
// corrupt coefficients times 16-bit quantisers overflow 32 bits.
constexpr int64_t Mul(int64_t x, int64_t k) {
    return ((x + 128) >> 8) * k;
}

// One pass of the fast inverse DCT over eight values.
inline void InversePass(const int64_t* in, int64_t* out) {
    int64_t tmp10 = in[0] + in[4];
    int64_t tmp11 = in[0] - in[4];
    const int64_t tmp13 = in[2] + in[6];
    int64_t tmp12 = Mul(in[2] - in[6], 362) - tmp13;
    const int64_t tmp0 = tmp10 + tmp13;
    const int64_t tmp3 = tmp10 - tmp13;
    const int64_t tmp1 = tmp11 + tmp12;
    const int64_t tmp2 = tmp11 - tmp12;

    const int64_t z13 = in[5] + in[3];
    const int64_t z10 = in[5] - in[3];
    const int64_t z11 = in[1] + in[7];
    const int64_t z12 = in[1] - in[7];
    const int64_t tmp7 = z11 + z13;
    tmp11 = Mul(z11 - z13, 362);
    const int64_t z5 = Mul(z12 - z10, 196);
    tmp10 = -Mul(z10, 669) - z5;
    tmp12 = Mul(z12, 277) + z5;
    const int64_t tmp6 = tmp12 - tmp7;
    const int64_t tmp5 = tmp11 - tmp6;
    const int64_t tmp4 = tmp10 + tmp5;

    out[0] = tmp0 + tmp7;
    out[7] = tmp0 - tmp7;
    out[1] = tmp1 + tmp6;
    out[6] = tmp1 - tmp6;
    out[2] = tmp2 + tmp5;
    out[5] = tmp2 - tmp5;
    out[4] = tmp3 + tmp4;
    out[3] = tmp3 - tmp4;
}

inline uint8_t Clamp255(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// YCbCr to RGB for luminance at full resolution (H x V blocks) and one block
// each of Cb and Cr per MCU.
template <int H, int V>
void ConvertYCbCrFast(const int16_t* mcuRow, int valuesPerMcu, int mcusPerRow, int yOffset, int cbOffset,
                      int crOffset, uint8_t* strip, size_t stride) {
    const InverseColourTables& t = kInverseColour;
    // The chroma terms of each chroma sample, shared by the H x V pixels on it.
    int16_t red[64], green[64], blue[64];
    for (int m = 0; m < mcusPerRow; ++m) {
        const int16_t* mcu = mcuRow + static_cast<size_t>(m) * valuesPerMcu;
        for (int k = 0; k < 64; ++k) {
            const int cb = mcu[cbOffset + k];
            const int cr = mcu[crOffset + k];
            red[k] = t.crR[cr];
            green[k] = static_cast<int16_t>((t.crG[cr] + t.cbG[cb]) / 4);
            blue[k] = t.cbB[cb];
        }
        for (int r = 0; r < 8 * V; ++r) {
            uint8_t* dst = strip + static_cast<size_t>(r) * stride + static_cast<size_t>(m) * 8 * H * 3;
            const int chromaRow = (r / V) * 8;
            for (int bx = 0; bx < H; ++bx) {
                const int16_t* yRow = mcu + yOffset + ((r / 8) * H + bx) * 64 + (r % 8) * 8;
                for (int x = 0; x < 8; ++x, dst += 3) {
                    const int k = chromaRow + (bx * 8 + x) / H;
                    const int y = yRow[x];
                    dst[0] = Clamp255(y + red[k]);
                    dst[1] = Clamp255(y + green[k]);
                    dst[2] = Clamp255(y + blue[k]);
                }
            }
        }
    }
}

}  // namespace

void InverseDctBlock(int16_t* block, const std::array<int32_t, 64>& dequant) {
    // A block of DC alone is flat: both passes leave the DC product in every
    // position, so skip them.
    bool acZero = true;
    for (int k = 1; k < 64 && acZero; ++k)
        acZero = block[k] == 0;
    if (acZero) {
        const int64_t v = ((static_cast<int64_t>(block[0]) * dequant[0] + 32768) >> 16) + 128;
        std::fill(block, block + 64, static_cast<int16_t>(v < 0 ? 0 : v > 255 ? 255 : v));
        return;
    }
    int64_t work[64];
    int64_t in[8];
    bool lowerRowsZero = true;  // rows 1..7 of coefficients all zero
    for (int r = 0; r < 8; ++r) {
        const int16_t* c = block + r * 8;
        const int32_t* q = dequant.data() + r * 8;
        if ((c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
            const int64_t dc = static_cast<int64_t>(c[0]) * q[0];
            for (int i = 0; i < 8; ++i)
                work[r * 8 + i] = dc;
            if (r > 0 && c[0] != 0)
                lowerRowsZero = false;
            continue;
        }
        if (r > 0)
            lowerRowsZero = false;
        for (int i = 0; i < 8; ++i)
            in[i] = static_cast<int64_t>(c[i]) * q[i];
        InversePass(in, work + r * 8);
    }
    auto store = [block](int index, int64_t x) {
        const int64_t v = ((x + 32768) >> 16) + 128;
        block[index] = static_cast<int16_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    if (lowerRowsZero) {
        // Each column holds only its first value, which the pass spreads over
        // the whole column unchanged.
        for (int col = 0; col < 8; ++col)
            for (int i = 0; i < 8; ++i)
                store(i * 8 + col, work[col]);
        return;
    }
    int64_t out[8];
    for (int col = 0; col < 8; ++col) {
        for (int i = 0; i < 8; ++i)
            in[i] = work[i * 8 + col];
        InversePass(in, out);
        for (int i = 0; i < 8; ++i)
            store(i * 8 + col, out[i]);
    }
}

class DecoderImpl::Segment {
public:
    explicit Segment(IStream* in) : m_in(in) {
        const int length = in->ReadWord();
        if (length < 2)
            ThrowError();
        m_left = length - 2;
    }
    int Left() const { return m_left; }
    uint8_t Byte() {
        if (m_left < 1)
            ThrowError();
        --m_left;
        return m_in->ReadByte();
    }
    uint16_t Word() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>((high << 8) | Byte());
    }
    void SkipRest() {
        while (m_left > 0) {
            m_in->ReadByte();
            --m_left;
        }
    }

private:
    IStream* m_in;
    int m_left = 0;
};

DecoderImpl::DecoderImpl(IStream* in, int32_t* width, int32_t* height, uint8_t* colour, int32_t* densityUnit,
                         uint16_t* xDensity, uint16_t* yDensity)
    : m_in(in) {
    if (in == nullptr)
        ThrowError();
    if (m_in->ReadByte() != 0xFF || m_in->ReadByte() != 0xD8)
        ThrowError();
    ReadMarkers();
    if (!m_frameSeen)
        ThrowError();
    const size_t count = m_components.size();
    if (count != 1 && count != 3)
        ThrowError();
    m_colourOutput = count == 3;
    if (m_colourOutput) {
        // An Adobe marker states the transform, with or without a JFIF header.
        if (m_adobeSeen)
            m_convertYCbCr = m_adobeTransform != 0;
        else if (!m_jfifSeen)
            m_convertYCbCr = true;
        else
            m_convertYCbCr =
                !(m_components[0].id == 'R' && m_components[1].id == 'G' && m_components[2].id == 'B');
    }
    if (width)
        *width = m_width;
    if (height)
        *height = m_height;
    if (colour)
        *colour = m_colourOutput ? 1 : 0;
    if (densityUnit)
        *densityUnit = m_densityUnit;
    if (xDensity)
        *xDensity = m_xDensity;
    if (yDensity)
        *yDensity = m_yDensity;
    SetUpGeometry();
    ReadScanHeader();
}

DecoderImpl::~DecoderImpl() {
    if (!m_failed && m_entropy)
        m_entropy->GiveBackHeldBytes();
}

uint8_t DecoderImpl::NextMarker() {
    for (;;) {
        if (m_in->ReadByte() != 0xFF)
            continue;
        uint8_t code = m_in->ReadByte();
        while (code == 0xFF)
            code = m_in->ReadByte();
        if (code != 0x00)
            return code;
    }
}

void DecoderImpl::ReadMarkers() {
    for (;;) {
        const uint8_t code = NextMarker();
        if (code == 0xDA || code == 0xD9) {
            m_in->PutBack(code);
            m_in->PutBack(0xFF);
            return;
        }
        Segment s(m_in);
        switch (code) {
            case 0xC0:
            case 0xC1:
                ReadFrame(s);
                break;
            case 0xC4:
                ReadHuffmanTables(s);
                break;
            case 0xDB:
                ReadQuantTables(s);
                break;
            case 0xDD:
                ReadRestartInterval(s);
                break;
            case 0xE0:
                ReadJfif(s);
                break;
            case 0xEE:
                ReadAdobe(s);
                break;
            case 0xCC:
            case 0xEF:
            case 0xFE:
                s.SkipRest();
                break;
            default:
                if (code >= 0xE1 && code <= 0xED) {
                    s.SkipRest();
                    break;
                }
                // Progressive, lossless, arithmetic, hierarchical and stray markers.
                ThrowError();
        }
    }
}

void DecoderImpl::ReadFrame(Segment& s) {
    if (m_frameSeen)
        ThrowError();
    if (s.Byte() != 8)
        ThrowError();
    m_height = s.Word();
    m_width = s.Word();
    const int count = s.Byte();
    if (m_height == 0 || m_width == 0 || count < 1 || count > 8)
        ThrowError();
    if (s.Left() != 3 * count)
        ThrowError();
    m_components.resize(static_cast<size_t>(count));
    for (Component& c : m_components) {
        c.id = s.Byte();
        const uint8_t hv = s.Byte();
        c.h = hv >> 4;
        c.v = hv & 15;
        c.quantTable = s.Byte();
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quantTable > 3)
            ThrowError();
    }
    m_frameSeen = true;
}

void DecoderImpl::ReadJfif(Segment& s) {
    if (s.Left() >= 14) {
        uint8_t ident[5];
        for (uint8_t& b : ident)
            b = s.Byte();
        if (std::memcmp(ident, "JFIF", 5) == 0) {
            if (m_jfifSeen)
                ThrowError();
            if (s.Byte() != 1)
                ThrowError();
            s.Byte();  // minor version
            const uint8_t unit = s.Byte();
            if (unit <= 2)
                m_densityUnit = unit + 1;
            m_xDensity = s.Word();
            m_yDensity = s.Word();
            s.Byte();  // thumbnail width
            s.Byte();  // thumbnail height
            m_jfifSeen = true;
        }
    }
    s.SkipRest();
}

void DecoderImpl::ReadAdobe(Segment& s) {
    if (m_adobeSeen)
        ThrowError();
    if (s.Left() >= 12) {
        uint8_t ident[5];
        for (uint8_t& b : ident)
            b = s.Byte();
        if (std::memcmp(ident, "Adobe", 5) == 0) {
            s.Word();
            s.Word();
            s.Word();
            m_adobeTransform = s.Byte();
            m_adobeSeen = true;
        }
    }
    s.SkipRest();
}

void DecoderImpl::ReadQuantTables(Segment& s) {
    while (s.Left() > 0) {
        const uint8_t pq = s.Byte();
        const int id = pq & 15;
        if (id > 3)
            ThrowError();
        Quant q;
        q.precision = pq < 16 ? 8 : 16;
        for (int k = 0; k < 64; ++k)
            q.values[kZigzagToNatural[k]] = q.precision == 8 ? s.Byte() : s.Word();
        m_quant[id] = q;
    }
}

void DecoderImpl::ReadHuffmanTables(Segment& s) {
    while (s.Left() > 0) {
        const uint8_t tc = s.Byte();
        const int tableClass = (tc >> 4) & 1;
        const int id = tc & 15;
        if (id > 3)
            ThrowError();
        HuffSpec spec;
        int total = 0;
        for (uint8_t& c : spec.counts) {
            c = s.Byte();
            total += c;
        }
        if (total >= 256)
            ThrowError();
        spec.symbolCount = total;
        for (int i = 0; i < total; ++i)
            spec.symbols[i] = s.Byte();
        (tableClass == 0 ? m_dcSpecs : m_acSpecs)[id] = spec;
    }
}

void DecoderImpl::ReadRestartInterval(Segment& s) {
    if (s.Left() != 2)
        ThrowError();
    m_restartInterval = s.Word();
}

void DecoderImpl::SetUpGeometry() {
    if (!LayOutMcus(m_width, m_height, m_components, false, m_layout))
        ThrowError();
    if (m_colourOutput)
        IndexMcuPixels(m_components, m_layout);

    // One MCU strip at a time, whatever the declared height.
    m_stripStride = static_cast<size_t>(m_layout.paddedWidth) * m_components.size();
    m_strip.assign(m_stripStride * m_layout.mcuHeight, 0);
    m_mcuRow.assign(static_cast<size_t>(m_layout.mcusPerRow) * m_layout.valuesPerMcu, 0);
}

void DecoderImpl::ReadScanHeader() {
    if (m_in->ReadByte() != 0xFF || m_in->ReadByte() != 0xDA)
        ThrowError();
    Segment s(m_in);
    const int n = s.Byte();
    if (n < 1 || n > 4 || s.Left() != 3 + 2 * n)
        ThrowError();
    std::vector<ScanComponent> scan;
    for (int i = 0; i < n; ++i) {
        const int id = s.Byte();
        const uint8_t tables = s.Byte();
        auto it = std::find_if(m_components.begin(), m_components.end(),
                               [id](const Component& c) { return c.id == id; });
        if (it == m_components.end())
            ThrowError();
        ScanComponent sc;
        sc.id = id;
        sc.dcTable = tables >> 4;
        sc.acTable = tables & 15;
        if (sc.dcTable > 3 || sc.acTable > 3)
            ThrowError();
        sc.blockOffset = it->blockOffset;
        sc.blockCount = it->blocksPerMcu;
        scan.push_back(sc);
    }
    s.Byte();  // spectral start
    s.Byte();  // spectral end
    s.Byte();  // successive approximation
    if (static_cast<size_t>(n) != m_components.size())
        ThrowError();
    const auto& aan = InverseAanScale();
    for (const ScanComponent& sc : scan) {
        Component& c = *std::find_if(m_components.begin(), m_components.end(),
                                     [&sc](const Component& x) { return x.id == sc.id; });
        if (!m_quant[c.quantTable])
            ThrowError();
        for (int k = 0; k < 64; ++k)
            c.dequant[k] = m_quant[c.quantTable]->values[k] * aan[k];
    }
    const HuffSpec* dc[4];
    const HuffSpec* ac[4];
    for (int i = 0; i < 4; ++i) {
        dc[i] = m_dcSpecs[i] ? &*m_dcSpecs[i] : nullptr;
        ac[i] = m_acSpecs[i] ? &*m_acSpecs[i] : nullptr;
    }
    if (n == 1)
        m_entropy = std::make_unique<HuffDecoder_SNI>(m_in, m_restartInterval, dc, ac, scan.data(), n,
                                                      m_layout.mcusPerRow, m_layout.valuesPerMcu);
    else
        m_entropy = std::make_unique<HuffDecoder_SI>(m_in, m_restartInterval, dc, ac, scan.data(), n,
                                                     m_layout.mcusPerRow, m_layout.valuesPerMcu);
}

const uint8_t* DecoderImpl::ReadLine() {
    try {
        if (m_row >= m_height)
            ThrowError();
        if (m_row >= m_stripEnd) {
            DecodeStrip();
            m_stripStart = m_row;
            m_stripEnd = m_row + m_layout.mcuHeight;
        }
        return m_strip.data() + static_cast<size_t>(m_row++ - m_stripStart) * m_stripStride;
    } catch (...) {
        m_failed = true;
        throw;
    }
}

void DecoderImpl::DecodeStrip() {
    std::fill(m_mcuRow.begin(), m_mcuRow.end(), 0);
    m_entropy->DecodeMcuRow(m_mcuRow.data());
    for (int m = 0; m < m_layout.mcusPerRow; ++m) {
        int16_t* mcu = m_mcuRow.data() + static_cast<size_t>(m) * m_layout.valuesPerMcu;
        for (const Component& c : m_components)
            for (int b = 0; b < c.blocksPerMcu; ++b)
                InverseDctBlock(mcu + (c.blockOffset + b) * 64, c.dequant);
    }

    uint8_t* strip = m_strip.data();
    if (!m_colourOutput) {
        for (int m = 0; m < m_layout.mcusPerRow; ++m) {
            const int16_t* block = m_mcuRow.data() + static_cast<size_t>(m) * 64;
            for (int r = 0; r < 8; ++r) {
                uint8_t* dst = strip + static_cast<size_t>(r) * m_stripStride + m * 8;
                for (int c = 0; c < 8; ++c)
                    dst[c] = static_cast<uint8_t>(block[r * 8 + c]);
            }
        }
        return;
    }

    const InverseColourTables& t = kInverseColour;
    const Component& c0 = m_components[0];
    if (m_convertYCbCr && c0.h == m_layout.maxH && c0.v == m_layout.maxV && m_layout.maxH <= 2 &&
        m_layout.maxV <= 2 && m_components[1].blocksPerMcu == 1 && m_components[2].blocksPerMcu == 1) {
        // Full-resolution luminance, one chroma block each (4:4:4, 4:2:2,
        // 4:2:0, 4:4:0): the same sample mapping as the index tables, unrolled.
        const int key = m_layout.maxH * 10 + m_layout.maxV;
        const int y0 = c0.blockOffset * 64;
        const int cb0 = m_components[1].blockOffset * 64;
        const int cr0 = m_components[2].blockOffset * 64;
        if (key == 22)
            ConvertYCbCrFast<2, 2>(m_mcuRow.data(), m_layout.valuesPerMcu, m_layout.mcusPerRow, y0, cb0, cr0,
                                   strip, m_stripStride);
        else if (key == 21)
            ConvertYCbCrFast<2, 1>(m_mcuRow.data(), m_layout.valuesPerMcu, m_layout.mcusPerRow, y0, cb0, cr0,
                                   strip, m_stripStride);
        else if (key == 12)
            ConvertYCbCrFast<1, 2>(m_mcuRow.data(), m_layout.valuesPerMcu, m_layout.mcusPerRow, y0, cb0, cr0,
                                   strip, m_stripStride);
        else
            ConvertYCbCrFast<1, 1>(m_mcuRow.data(), m_layout.valuesPerMcu, m_layout.mcusPerRow, y0, cb0, cr0,
                                   strip, m_stripStride);
        return;
    }

    const uint16_t* i0 = m_components[0].pixelIndex.data();
    const uint16_t* i1 = m_components[1].pixelIndex.data();
    const uint16_t* i2 = m_components[2].pixelIndex.data();
    for (int m = 0; m < m_layout.mcusPerRow; ++m) {
        const int16_t* mcu = m_mcuRow.data() + static_cast<size_t>(m) * m_layout.valuesPerMcu;
        int p = 0;
        for (int r = 0; r < m_layout.mcuHeight; ++r) {
            uint8_t* dst = strip + static_cast<size_t>(r) * m_stripStride +
                           static_cast<size_t>(m) * m_layout.mcuWidth * 3;
            if (m_convertYCbCr) {
                for (int c = 0; c < m_layout.mcuWidth; ++c, ++p, dst += 3) {
                    const int y = mcu[i0[p]];
                    const int cb = mcu[i1[p]];
                    const int cr = mcu[i2[p]];
                    dst[0] = Clamp255(y + t.crR[cr]);
                    dst[1] = Clamp255(y + (t.crG[cr] + t.cbG[cb]) / 4);
                    dst[2] = Clamp255(y + t.cbB[cb]);
                }
            } else {
                for (int c = 0; c < m_layout.mcuWidth; ++c, ++p, dst += 3) {
                    dst[0] = static_cast<uint8_t>(mcu[i0[p]]);
                    dst[1] = static_cast<uint8_t>(mcu[i1[p]]);
                    dst[2] = static_cast<uint8_t>(mcu[i2[p]]);
                }
            }
        }
    }
}

}  // namespace MiniJpeg
