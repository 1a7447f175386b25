#include "CoderImpl.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "JpegTables.h"

namespace MiniJpeg {

namespace {

// Fixed identification in the COM segment (73 bytes, no terminator).
constexpr std::string_view kComment =
    "OvHorizel MiniJpeg baseline encoder - JFIF 1.01, standard Huffman tables.";
static_assert(kComment.size() == 73);

// ((x + 128) >> 8) * K, K being the constant scaled by 256.
constexpr int32_t Mul(int32_t x, int32_t k) {
    return ((x + 128) >> 8) * k;
}

// One pass of the fast DCT over eight values that lie `step` apart.
inline void ForwardPass(int32_t* d, int step) {
    const int32_t tmp0 = d[0] + d[7 * step];
    const int32_t tmp7 = d[0] - d[7 * step];
    const int32_t tmp1 = d[step] + d[6 * step];
    const int32_t tmp6 = d[step] - d[6 * step];
    const int32_t tmp2 = d[2 * step] + d[5 * step];
    const int32_t tmp5 = d[2 * step] - d[5 * step];
    const int32_t tmp3 = d[3 * step] + d[4 * step];
    const int32_t tmp4 = d[3 * step] - d[4 * step];

    int32_t tmp10 = tmp0 + tmp3;
    const int32_t tmp13 = tmp0 - tmp3;
    int32_t tmp11 = tmp1 + tmp2;
    int32_t tmp12 = tmp1 - tmp2;
    d[0] = tmp10 + tmp11;
    d[4 * step] = tmp10 - tmp11;
    const int32_t z1 = Mul(tmp12 + tmp13, 181);
    d[2 * step] = tmp13 + z1;
    d[6 * step] = tmp13 - z1;

    tmp10 = tmp4 + tmp5;
    tmp11 = tmp5 + tmp6;
    tmp12 = tmp6 + tmp7;
    const int32_t z5 = Mul(tmp10 - tmp12, 98);
    const int32_t z2 = Mul(tmp10, 139) + z5;
    const int32_t z4 = Mul(tmp12, 334) + z5;
    const int32_t z3 = Mul(tmp11, 181);
    const int32_t z11 = tmp7 + z3;
    const int32_t z13 = tmp7 - z3;
    d[5 * step] = z13 + z2;
    d[3 * step] = z13 - z2;
    d[step] = z11 + z4;
    d[7 * step] = z11 - z4;
}

}  // namespace

QuantTable BuildQuantTable(const std::array<uint16_t, 64>& base, int quality, bool forceBaseline) {
    int32_t scale;
    if (quality < 1)
        scale = 5000;
    else if (quality > 100)
        scale = 0;
    else if (quality <= 50)
        scale = 5000 / quality;
    else
        scale = 200 - 2 * quality;

    QuantTable table;
    bool wide = false;
    for (int k = 0; k < 64; ++k) {
        int32_t q = (base[k] * scale + 50) / 100;
        if (q == 0)
            q = 1;
        if (q > 32767)
            q = 32767;
        if (forceBaseline && q > 255)
            q = 255;
        if (q > 255)
            wide = true;
        table.values[k] = static_cast<uint16_t>(q);
    }
    table.precision = wide ? 16 : 8;
    return table;
}

QuantDivisor::QuantDivisor(int32_t d) : divisor(d) {
    if (d < 1)
        ThrowError();
    // shift = 27 + ceil(log2 d), multiplier = ceil(2^shift / d): the error
    // n * (multiplier * d - 2^shift) stays below 2^shift for n < 2^27.
    shift = 27 + std::bit_width(static_cast<uint32_t>(d - 1));
    multiplier = ((uint64_t{1} << shift) + static_cast<uint64_t>(d) - 1) / static_cast<uint64_t>(d);
}

void ForwardDctQuantise(int16_t* block, const std::array<QuantDivisor, 64>& divisors) {
    int32_t work[64];
    for (int k = 0; k < 64; ++k)
        work[k] = (block[k] - 128) * 65536;
    for (int r = 0; r < 8; ++r)
        ForwardPass(work + r * 8, 1);
    for (int c = 0; c < 8; ++c)
        ForwardPass(work + c, 8);
    for (int k = 0; k < 64; ++k) {
        const int32_t y = (work[k] + 8) >> 4;
        const QuantDivisor& d = divisors[k];
        // Rounded half away from zero: (|y| + D/2) / D with y's sign, without
        // a branch on the sign, which is a coin toss.
        const int32_t sign = y >> 31;
        const uint32_t magnitude = static_cast<uint32_t>((y ^ sign) - sign);
        const int32_t q = d.Divide(magnitude + static_cast<uint32_t>(d.divisor / 2));
        block[k] = static_cast<int16_t>((q ^ sign) - sign);
    }
}

CoderImpl::CoderImpl(OStream* out, int32_t width, int32_t height, bool colour, int quality, bool sampling,
                     bool oneDqt, int densityUnit, uint16_t xDensity, uint16_t yDensity)
    : m_out(out),
      m_width(width),
      m_height(height),
      m_colour(colour),
      m_sampling(sampling),
      m_oneDqt(oneDqt),
      m_densityUnit(densityUnit),
      m_xDensity(xDensity),
      m_yDensity(yDensity) {
    if (out == nullptr)
        ThrowError();
    // The frame header holds 16-bit sizes.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        ThrowError();
    m_quant[0] = BuildQuantTable(kBaseLuminanceQuant, quality, true);
    m_quant[1] = BuildQuantTable(kBaseChrominanceQuant, quality, true);
    WriteHeaders();
}

CoderImpl::~CoderImpl() = default;

void CoderImpl::WriteMarker(uint8_t code) {
    m_out->PutByte(0xFF);
    m_out->PutByte(code);
}

void CoderImpl::WriteWord(int value) {
    m_out->PutByte(static_cast<uint8_t>(value >> 8));
    m_out->PutByte(static_cast<uint8_t>(value));
}

void CoderImpl::WriteHeaders() {
    WriteMarker(0xD8);

    WriteMarker(0xE0);
    WriteWord(16);
    const uint8_t jfif[] = {'J', 'F', 'I', 'F', 0, 1, 1};
    m_out->WriteBytes(jfif, sizeof jfif);
    m_out->PutByte(m_densityUnit == 2 ? 1 : m_densityUnit == 3 ? 2 : 0);
    WriteWord(m_xDensity);
    WriteWord(m_yDensity);
    m_out->PutByte(0);
    m_out->PutByte(0);

    WriteMarker(0xFE);
    WriteWord(static_cast<int>(kComment.size()) + 2);
    m_out->WriteBytes(kComment.data(), kComment.size());

    const int tableCount = m_colour ? 2 : 1;
    auto writeTable = [this](int id) {
        const QuantTable& t = m_quant[id];
        m_out->PutByte(static_cast<uint8_t>((t.precision == 16 ? 0x10 : 0) | id));
        for (int k = 0; k < 64; ++k) {
            const uint16_t v = t.values[kZigzagToNatural[k]];
            if (t.precision == 16)
                m_out->PutByte(static_cast<uint8_t>(v >> 8));
            m_out->PutByte(static_cast<uint8_t>(v));
        }
    };
    auto tableBytes = [this](int id) { return 1 + 64 * (m_quant[id].precision == 16 ? 2 : 1); };
    if (m_oneDqt && tableCount == 2) {
        WriteMarker(0xDB);
        WriteWord(2 + tableBytes(0) + tableBytes(1));
        writeTable(0);
        writeTable(1);
    } else {
        for (int id = 0; id < tableCount; ++id) {
            WriteMarker(0xDB);
            WriteWord(2 + tableBytes(id));
            writeTable(id);
        }
    }

    SetUpComponents();

    WriteMarker(0xC0);
    WriteWord(8 + 3 * static_cast<int>(m_components.size()));
    m_out->PutByte(8);
    WriteWord(m_height);
    WriteWord(m_width);
    m_out->PutByte(static_cast<uint8_t>(m_components.size()));
    for (const Component& c : m_components) {
        m_out->PutByte(static_cast<uint8_t>(c.id));
        m_out->PutByte(static_cast<uint8_t>(c.h * 16 + c.v));
        m_out->PutByte(static_cast<uint8_t>(c.quantTable));
    }

    if (m_restartInterval != 0) {
        WriteMarker(0xDD);
        WriteWord(4);
        WriteWord(m_restartInterval);
    }

    SetUpGeometry();

    std::vector<ScanComponent> scan;
    for (const Component& c : m_components)
        scan.push_back({c.blockOffset, c.blocksPerMcu, c.dcTable, c.acTable, c.id});
    const int n = static_cast<int>(scan.size());
    if (n == 1)
        m_entropy = std::make_unique<HuffEncoder_SNI>(m_out, m_restartInterval, scan.data(), n,
                                                      m_layout.mcusPerRow, m_layout.valuesPerMcu);
    else
        m_entropy = std::make_unique<HuffEncoder_SI>(m_out, m_restartInterval, scan.data(), n,
                                                     m_layout.mcusPerRow, m_layout.valuesPerMcu);

    const HuffSpec dcLum = HuffSpec::FromStandard(StdDcLuminance());
    const HuffSpec dcChr = HuffSpec::FromStandard(StdDcChrominance());
    const HuffSpec acLum = HuffSpec::FromStandard(StdAcLuminance());
    const HuffSpec acChr = HuffSpec::FromStandard(StdAcChrominance());
    const HuffSpec* dc[4] = {&dcLum, &dcChr, nullptr, nullptr};
    const HuffSpec* ac[4] = {&acLum, &acChr, nullptr, nullptr};
    m_entropy->SetTables(dc, ac);
    m_entropy->WriteTables(m_lastWrittenDc, 0);
    m_entropy->WriteTables(m_lastWrittenAc, 1);
    m_entropy->WriteScanHeader();
}

void CoderImpl::SetUpComponents() {
    m_restartInterval = 0;
    m_components.clear();
    if (!m_colour) {
        m_components.push_back({});
        return;
    }
    Component y;
    y.id = 1;
    y.h = 2;
    y.v = m_sampling ? 1 : 2;
    Component cb;
    cb.id = 2;
    cb.quantTable = 1;
    cb.dcTable = 1;
    cb.acTable = 1;
    Component cr = cb;
    cr.id = 3;
    m_components = {y, cb, cr};
}

void CoderImpl::SetUpGeometry() {
    if (!LayOutMcus(m_width, m_height, m_components, true, m_layout))
        ThrowError();
    IndexMcuPixels(m_components, m_layout);

    for (size_t i = 0; i < m_components.size(); ++i) {
        const QuantTable& q = m_quant[m_components[i].quantTable];
        const auto& aan = ForwardAanScale();
        for (int k = 0; k < 64; ++k)
            m_divisors[m_components[i].quantTable][k] = QuantDivisor(q.values[k] * aan[k]);
    }

    m_stripStride = static_cast<size_t>(m_layout.paddedWidth) * m_components.size();
    m_strip.assign(m_stripStride * m_layout.mcuHeight, 0);
    m_mcuRow.assign(static_cast<size_t>(m_layout.mcusPerRow) * m_layout.valuesPerMcu, 0);
    m_row = 0;
    m_stripStart = 0;
    m_stripEnd = m_layout.mcuHeight;
}

void CoderImpl::WriteLine(const uint8_t* row) {
    if (m_row >= m_height)
        ThrowError();
    const size_t channels = m_components.size();
    uint8_t* dst = m_strip.data() + static_cast<size_t>(m_row - m_stripStart) * m_stripStride;
    std::memcpy(dst, row, static_cast<size_t>(m_width) * channels);
    // Right edge: repeat the last pixel up to the padded width.
    const uint8_t* last = dst + static_cast<size_t>(m_width - 1) * channels;
    for (uint8_t* p = dst + static_cast<size_t>(m_width) * channels; p < dst + m_stripStride; p += channels)
        std::memcpy(p, last, channels);
    ++m_row;

    if (m_row == m_height) {
        // Bottom edge: repeat the last row through the rest of the strip.
        for (int32_t r = m_row; r < m_stripEnd; ++r)
            std::memcpy(m_strip.data() + static_cast<size_t>(r - m_stripStart) * m_stripStride, dst,
                        m_stripStride);
    }
    if (m_row == m_height || m_row == m_stripEnd) {
        ProcessStrip();
        m_stripStart = m_row;
        m_stripEnd = m_row + m_layout.mcuHeight;
    }
    if (m_row == m_height) {
        m_entropy->Finish();
        WriteMarker(0xD9);
        m_out->Close();
    }
}

void CoderImpl::ProcessStrip() {
    if (m_colour)
        ConvertColour();
    else
        ConvertGrey();
    for (int m = 0; m < m_layout.mcusPerRow; ++m) {
        int16_t* mcu = m_mcuRow.data() + static_cast<size_t>(m) * m_layout.valuesPerMcu;
        for (const Component& c : m_components) {
            const auto& divisors = m_divisors[c.quantTable];
            for (int b = 0; b < c.blocksPerMcu; ++b)
                ForwardDctQuantise(mcu + (c.blockOffset + b) * 64, divisors);
        }
    }
    m_entropy->EncodeMcuRow(m_mcuRow.data());
}

void CoderImpl::ConvertGrey() {
    // Each MCU is one block of 8x8 samples.
    for (int m = 0; m < m_layout.mcusPerRow; ++m) {
        int16_t* block = m_mcuRow.data() + static_cast<size_t>(m) * 64;
        for (int r = 0; r < 8; ++r) {
            const uint8_t* src = m_strip.data() + static_cast<size_t>(r) * m_stripStride + m * 8;
            for (int c = 0; c < 8; ++c)
                block[r * 8 + c] = src[c];
        }
    }
}

void CoderImpl::ConvertColour() {
    const ForwardColourTables& t = kForwardColour;
    const uint16_t* iy = m_components[0].pixelIndex.data();
    const uint16_t* icb = m_components[1].pixelIndex.data();
    const uint16_t* icr = m_components[2].pixelIndex.data();
    std::fill(m_mcuRow.begin(), m_mcuRow.end(), 0);
    for (int m = 0; m < m_layout.mcusPerRow; ++m) {
        int16_t* mcu = m_mcuRow.data() + static_cast<size_t>(m) * m_layout.valuesPerMcu;
        int p = 0;
        for (int r = 0; r < m_layout.mcuHeight; ++r) {
            const uint8_t* src =
                m_strip.data() + static_cast<size_t>(r) * m_stripStride + m * m_layout.mcuWidth * 3;
            for (int c = 0; c < m_layout.mcuWidth; ++c, ++p, src += 3) {
                const int g = src[1];
                const int dr = src[0] - g + 256;
                const int db = src[2] - g + 256;
                mcu[iy[p]] = static_cast<int16_t>(g + (t.y1[dr] + t.y2[db]) / 4);
                mcu[icb[p]] = static_cast<int16_t>(mcu[icb[p]] + (db + t.cb[dr]) / 2);
                mcu[icr[p]] = static_cast<int16_t>(mcu[icr[p]] + (dr + t.cr[db]) / 2);
            }
        }
        // Chroma samples hold sums over the pixels mapped to them.
        for (size_t ci = 1; ci < 3; ++ci) {
            const Component& c = m_components[ci];
            const int divisor = (m_layout.maxH * m_layout.maxV) / (c.h * c.v);
            if (divisor == 1)
                continue;
            int16_t* s = mcu + c.blockOffset * 64;
            for (int k = 0; k < c.blocksPerMcu * 64; ++k)
                s[k] = static_cast<int16_t>(s[k] / divisor);
        }
    }
}

}  // namespace MiniJpeg
