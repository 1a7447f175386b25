#include "HuffmanCoding.h"

#include <algorithm>
#include <bit>

namespace MiniJpeg {

namespace {

// Annex C code assignment: codes of one length are consecutive, the running
// code doubles when the length grows. Calls emit(symbolIndex, code, length).
// A table whose counts need more codes than a length has is refused, so no
// code can index past its look-up tables.
template <typename Emit>
void AssignCodes(const HuffSpec& spec, Emit emit) {
    uint32_t code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < spec.counts[length - 1]; ++i) {
            if (code >= (1u << length) || index >= spec.symbolCount)
                ThrowError();
            emit(index++, code++, length);
        }
        code <<= 1;
    }
}

int SignificantBits(int magnitude) {
    return magnitude == 0 ? 0 : std::bit_width(static_cast<unsigned>(magnitude));
}

}  // namespace

bool HuffSpec::SameAs(const HuffSpec& other) const {
    return counts == other.counts && symbolCount == other.symbolCount &&
           std::equal(symbols.begin(), symbols.begin() + symbolCount, other.symbols.begin());
}

HuffSpec HuffSpec::FromStandard(const StdHuffTable& table) {
    HuffSpec spec;
    spec.counts = table.counts;
    for (uint8_t c : table.counts)
        spec.symbolCount += c;
    std::copy(table.symbols, table.symbols + spec.symbolCount, spec.symbols.begin());
    return spec;
}

// ---------------------------------------------------------------- encoder

BaseHuffEncoder::BaseHuffEncoder(OStream* out, uint16_t restartInterval, const ScanComponent* components,
                                 int count, int mcusPerRow, int valuesPerMcu)
    : m_out(out),
      m_restartInterval(restartInterval),
      m_components(components, components + count),
      m_mcusPerRow(mcusPerRow),
      m_valuesPerMcu(valuesPerMcu) {
    if (count < 1 || count > 4)
        ThrowError();
    for (const ScanComponent& c : m_components)
        if (c.dcTable < 0 || c.dcTable > 3 || c.acTable < 0 || c.acTable > 3)
            ThrowError();
}

void BaseHuffEncoder::SetTables(const HuffSpec* const dc[4], const HuffSpec* const ac[4]) {
    if (m_tablesSet)
        ThrowError();
    auto build = [](const HuffSpec* spec, std::optional<CodeTable>& table, std::optional<HuffSpec>& copy) {
        if (spec == nullptr)
            ThrowError();
        CodeTable t;
        AssignCodes(*spec, [&](int index, uint32_t code, int length) {
            t.code[spec->symbols[index]] = static_cast<uint16_t>(code);
            t.length[spec->symbols[index]] = static_cast<uint8_t>(length);
        });
        table = t;
        copy = *spec;
    };
    for (const ScanComponent& c : m_components) {
        if (!m_dc[c.dcTable])
            build(dc[c.dcTable], m_dc[c.dcTable], m_dcSpec[c.dcTable]);
        if (!m_ac[c.acTable])
            build(ac[c.acTable], m_ac[c.acTable], m_acSpec[c.acTable]);
    }
    ResetPredictors();
    m_restartCountdown = m_restartInterval + 1;
    m_restartCounter = 0;
    m_tablesSet = true;
}

void BaseHuffEncoder::WriteTables(std::optional<HuffSpec> lastWritten[4], int tableClass) {
    const auto& specs = tableClass == 0 ? m_dcSpec : m_acSpec;
    for (int id = 0; id < 4; ++id) {
        if (!specs[id])
            continue;
        const HuffSpec& spec = *specs[id];
        if (lastWritten[id] && lastWritten[id]->SameAs(spec))
            continue;
        const int length = spec.Size() + 2;
        m_out->PutByte(0xFF);
        m_out->PutByte(0xC4);
        m_out->PutByte(static_cast<uint8_t>(length >> 8));
        m_out->PutByte(static_cast<uint8_t>(length));
        m_out->PutByte(static_cast<uint8_t>(tableClass * 16 + id));
        m_out->WriteBytes(spec.counts.data(), 16);
        m_out->WriteBytes(spec.symbols.data(), static_cast<size_t>(spec.symbolCount));
        lastWritten[id] = spec;
    }
}

void BaseHuffEncoder::ResetPredictors() {
    m_predictor.fill(0);
}

void BaseHuffEncoder::EmitBytes() {
    while (m_bitCount >= 8) {
        m_bitCount -= 8;
        const uint8_t byte = static_cast<uint8_t>(m_accumulator >> m_bitCount);
        m_out->PutByte(byte);
        if (byte == 0xFF)
            m_out->PutByte(0x00);
    }
}

void BaseHuffEncoder::EncodeBlock(const int16_t* block, int16_t& predictor, const CodeTable& dc,
                                  const CodeTable& ac) {
    const int diff = static_cast<int16_t>(block[0] - predictor);
    predictor = block[0];
    // Magnitude and the bits of a negative value (value - 1) without
    // branching on the sign.
    int sign = diff >> 31;
    int size = SignificantBits((diff ^ sign) - sign);
    PutCode(dc, size);
    if (size > 0)
        PutBits(static_cast<uint32_t>(diff + sign), size);

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = block[kZigzagToNatural[k]];
        if (value == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            PutCode(ac, 0xF0);
            run -= 16;
        }
        sign = value >> 31;
        size = SignificantBits((value ^ sign) - sign);
        PutCode(ac, run * 16 + size);
        PutBits(static_cast<uint32_t>(value + sign), size);
        run = 0;
    }
    if (run > 0)
        PutCode(ac, 0x00);
}

void BaseHuffEncoder::EmitRestart() {
    Restart();
    PutBits(0x7F, 7);
    EmitBytes();
    m_bitCount = 0;
    m_out->PutByte(0xFF);
    m_out->PutByte(static_cast<uint8_t>(0xD0 + m_restartCounter));
    m_restartCountdown = m_restartInterval;
    m_restartCounter = (m_restartCounter + 1) & 7;
}

void BaseHuffEncoder::EncodeMcuRow(const int16_t* mcuRow) {
    if (!m_tablesSet)
        ThrowError();
    for (int m = 0; m < m_mcusPerRow; ++m) {
        if (m_restartInterval != 0 && --m_restartCountdown == 0)
            EmitRestart();
        const int16_t* mcu = mcuRow + static_cast<size_t>(m) * m_valuesPerMcu;
        for (size_t c = 0; c < m_components.size(); ++c) {
            const ScanComponent& comp = m_components[c];
            const CodeTable& dc = *m_dc[comp.dcTable];
            const CodeTable& ac = *m_ac[comp.acTable];
            for (int b = 0; b < comp.blockCount; ++b)
                EncodeBlock(mcu + (comp.blockOffset + b) * 64, m_predictor[c], dc, ac);
        }
    }
}

void BaseHuffEncoder::Finish() {
    if (!m_tablesSet)
        return;
    PutBits(0x7F, 7);
    EmitBytes();
    m_bitCount = 0;
}

void HuffEncoder_SI::WriteScanHeader() {
    const int n = static_cast<int>(m_components.size());
    const int length = 6 + 2 * n;
    const uint8_t head[] = {0xFF, 0xDA, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                            static_cast<uint8_t>(n)};
    m_out->WriteBytes(head, sizeof head);
    for (const ScanComponent& c : m_components) {
        m_out->PutByte(static_cast<uint8_t>(c.id));
        m_out->PutByte(static_cast<uint8_t>(c.dcTable * 16 + c.acTable));
    }
    const uint8_t tail[] = {0x00, 0x3F, 0x00};
    m_out->WriteBytes(tail, sizeof tail);
}

void HuffEncoder_SNI::WriteScanHeader() {
    const ScanComponent& c = m_components[0];
    const uint8_t bytes[] = {0xFF,
                             0xDA,
                             0x00,
                             0x08,
                             0x01,
                             static_cast<uint8_t>(c.id),
                             static_cast<uint8_t>(c.dcTable * 16 + c.acTable),
                             0x00,
                             0x3F,
                             0x00};
    m_out->WriteBytes(bytes, sizeof bytes);
}

// ---------------------------------------------------------------- decoder

BaseHuffDecoder::DecodeTable BaseHuffDecoder::BuildDecodeTable(const HuffSpec& spec) {
    DecodeTable t;
    t.symbolCount = spec.symbolCount;
    t.symbols = spec.symbols;
    t.maxCode.fill(-1);
    t.valueOffset.fill(0);
    std::array<int32_t, 17> firstCode{};
    std::array<int32_t, 17> firstIndex{};
    std::array<bool, 17> seen{};
    AssignCodes(spec, [&](int index, uint32_t code, int length) {
        if (!seen[length]) {
            seen[length] = true;
            firstCode[length] = static_cast<int32_t>(code);
            firstIndex[length] = index;
        }
        t.maxCode[length] = static_cast<int32_t>(code);
        if (length <= 8) {
            const unsigned base = code << (8 - length);
            for (unsigned i = 0; i < (1u << (8 - length)); ++i) {
                t.lookLength[base + i] = static_cast<uint8_t>(length);
                t.lookSymbol[base + i] = spec.symbols[index];
            }
        }
    });
    for (int length = 1; length <= 16; ++length)
        if (seen[length])
            t.valueOffset[length] = firstIndex[length] - firstCode[length];
    t.maxCode[17] = 2147483647;
    return t;
}

BaseHuffDecoder::BaseHuffDecoder(IStream* in, uint16_t restartInterval, const HuffSpec* const dc[4],
                                 const HuffSpec* const ac[4], const ScanComponent* components, int count,
                                 int mcusPerRow, int valuesPerMcu)
    : m_in(in),
      m_restartInterval(restartInterval),
      m_restartCountdown(restartInterval + 1),
      m_components(components, components + count),
      m_mcusPerRow(mcusPerRow),
      m_valuesPerMcu(valuesPerMcu) {
    if (count < 1 || count > 4)
        ThrowError();
    for (const ScanComponent& c : m_components) {
        if (c.dcTable < 0 || c.dcTable > 3 || c.acTable < 0 || c.acTable > 3)
            ThrowError();
        if (dc[c.dcTable] == nullptr || ac[c.acTable] == nullptr)
            ThrowError();
        if (!m_dc[c.dcTable])
            m_dc[c.dcTable] = BuildDecodeTable(*dc[c.dcTable]);
        if (!m_ac[c.acTable])
            m_ac[c.acTable] = BuildDecodeTable(*ac[c.acTable]);
    }
}

void BaseHuffDecoder::ResetPredictors() {
    m_predictor.fill(0);
}

void BaseHuffDecoder::FillBits() {
    while (m_bitCount < 25 && !m_stopped) {
        int byte = m_in->ReadByteOrEnd();
        if (byte < 0) {
            // The data may end right after its last coded byte; only a decode
            // that needs missing bits fails.
            m_stopped = true;
            return;
        }
        if (byte == 0xFF) {
            const int next = m_in->ReadByteOrEnd();
            if (next < 0) {
                m_stopped = true;
                return;
            }
            if (next != 0x00) {
                m_in->PutBack(static_cast<uint8_t>(next));
                m_in->PutBack(0xFF);
                m_stopped = true;
                return;
            }
        }
        m_accumulator = (m_accumulator << 8) | static_cast<uint32_t>(byte);
        m_bitCount += 8;
    }
}

int BaseHuffDecoder::DecodeSymbolSlow(const DecodeTable& table) {
    FillBits();
    int length = 9;
    if (m_bitCount >= 8) {
        const unsigned look = (m_accumulator >> (m_bitCount - 8)) & 0xFF;
        const int found = table.lookLength[look];
        if (found != 0) {
            m_bitCount -= found;
            return table.lookSymbol[look];
        }
    } else {
        if (m_bitCount == 0)
            ThrowError();
        // Look the held bits up left-aligned; use the result only if all of
        // its code is really there.
        const unsigned look = (m_accumulator << (8 - m_bitCount)) & 0xFF;
        const int found = table.lookLength[look];
        if (found != 0 && found <= m_bitCount) {
            m_bitCount -= found;
            return table.lookSymbol[look];
        }
        length = m_bitCount + 1;
    }
    // Codes longer than the look-up: one bit at a time.
    if (m_bitCount < length)
        ThrowError();
    int32_t code = static_cast<int32_t>((m_accumulator >> (m_bitCount - length)) & ((1u << length) - 1));
    while (code > table.maxCode[length]) {
        ++length;
        if (length > 16 || m_bitCount < length)
            ThrowError();
        code = (code << 1) | static_cast<int32_t>((m_accumulator >> (m_bitCount - length)) & 1);
    }
    m_bitCount -= length;
    const int32_t index = code + table.valueOffset[length];
    if (index < 0 || index >= table.symbolCount)
        ThrowError();
    return table.symbols[index];
}

void BaseHuffDecoder::DecodeBlock(int16_t* block, int16_t& predictor, const DecodeTable& dc,
                                  const DecodeTable& ac) {
    const int dcSize = DecodeSymbol(dc) & 15;
    const int diff = dcSize > 0 ? ReceiveExtend(dcSize) : 0;
    predictor = static_cast<int16_t>(predictor + diff);
    block[0] = predictor;

    for (int k = 1; k < 64;) {
        const int rs = DecodeSymbol(ac);
        const int run = rs >> 4;
        const int size = rs & 15;
        if (size == 0) {
            if (rs == 0xF0 && k < 48) {
                k += 16;
                continue;
            }
            break;
        }
        k += run;
        // A run past the last coefficient is corrupt data.
        if (k > 63)
            ThrowError();
        block[kZigzagToNatural[k]] = static_cast<int16_t>(ReceiveExtend(size));
        if (k >= 63)
            break;
        ++k;
    }
}

void BaseHuffDecoder::ProcessRestart() {
    ResetPredictors();
    m_bitCount -= m_bitCount % 8;
    while (m_bitCount > 0) {
        m_in->PutBack(static_cast<uint8_t>(m_accumulator));
        m_accumulator >>= 8;
        m_bitCount -= 8;
    }
    m_stopped = false;
    if (m_in->ReadByte() != 0xFF)
        ThrowError();
    uint8_t code = m_in->ReadByte();
    while (code == 0xFF)
        code = m_in->ReadByte();
    if (code != 0xD0 + m_expectedRestart)
        ThrowError();
    m_restartCountdown = m_restartInterval;
    m_expectedRestart = (m_expectedRestart + 1) & 7;
}

void BaseHuffDecoder::GiveBackHeldBytes() noexcept {
    try {
        int bits = m_bitCount - m_bitCount % 8;
        uint32_t acc = m_accumulator;
        while (bits > 0) {
            m_in->PutBack(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    } catch (...) {
        // Best effort: a stream without room simply keeps its position.
    }
    m_bitCount %= 8;
}

void BaseHuffDecoder::DecodeMcuRow(int16_t* mcuRow) {
    for (int m = 0; m < m_mcusPerRow; ++m) {
        if (m_restartInterval != 0 && --m_restartCountdown == 0)
            ProcessRestart();
        int16_t* mcu = mcuRow + static_cast<size_t>(m) * m_valuesPerMcu;
        for (size_t c = 0; c < m_components.size(); ++c) {
            const ScanComponent& comp = m_components[c];
            const DecodeTable& dc = *m_dc[comp.dcTable];
            const DecodeTable& ac = *m_ac[comp.acTable];
            for (int b = 0; b < comp.blockCount; ++b)
                DecodeBlock(mcu + (comp.blockOffset + b) * 64, m_predictor[c], dc, ac);
        }
    }
}

void HuffDecoder_SNI::DecodeMcuRow(int16_t* mcuRow) {
    const DecodeTable& dc = *m_dc[m_components[0].dcTable];
    const DecodeTable& ac = *m_ac[m_components[0].acTable];
    for (int m = 0; m < m_mcusPerRow; ++m) {
        if (m_restartInterval != 0 && --m_restartCountdown == 0)
            ProcessRestart();
        DecodeBlock(mcuRow + static_cast<size_t>(m) * m_valuesPerMcu, m_predictor[0], dc, ac);
    }
}

}  // namespace MiniJpeg
