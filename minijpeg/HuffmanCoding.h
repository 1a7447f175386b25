#pragma once
// Baseline Huffman coding of quantised 8x8 blocks, both directions. The _SI
// classes walk an interleaved scan (several components), the _SNI classes a
// scan of one component.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "JpegTables.h"
#include "MiniJpeg.h"

namespace MiniJpeg {

// A table as it stands in a DHT segment.
struct HuffSpec {
    std::array<uint8_t, 16> counts{};
    std::array<uint8_t, 256> symbols{};
    int symbolCount = 0;

    int Size() const { return 17 + symbolCount; }
    bool SameAs(const HuffSpec& other) const;
    static HuffSpec FromStandard(const StdHuffTable& table);
};

// One component of a scan, as the entropy coders see it.
struct ScanComponent {
    int blockOffset = 0;  // first block of the component inside an MCU
    int blockCount = 1;
    int dcTable = 0;
    int acTable = 0;
    int id = 1;
};

// ---------------------------------------------------------------- encoder

class EnthropyEncoder {
public:
    virtual ~EnthropyEncoder() = default;
    // Four DC and four AC specifications by id; ids not used may be null.
    virtual void SetTables(const HuffSpec* const dc[4], const HuffSpec* const ac[4]) = 0;
    // Writes a DHT per table of the class (0 DC, 1 AC) unless the identical
    // table was the last one written under its id.
    virtual void WriteTables(std::optional<HuffSpec> lastWritten[4], int tableClass) = 0;
    virtual void WriteScanHeader() = 0;
    // Codes one MCU row of quantised coefficients (natural order per block).
    virtual void EncodeMcuRow(const int16_t* mcuRow) = 0;
    // Pads the last byte with 1-bits and writes it.
    virtual void Finish() = 0;
};

class BaseHuffEncoder : public EnthropyEncoder {
public:
    BaseHuffEncoder(OStream* out, uint16_t restartInterval, const ScanComponent* components, int count,
                    int mcusPerRow, int valuesPerMcu);

    void SetTables(const HuffSpec* const dc[4], const HuffSpec* const ac[4]) override;
    void WriteTables(std::optional<HuffSpec> lastWritten[4], int tableClass) override;
    void EncodeMcuRow(const int16_t* mcuRow) override;
    void Finish() override;
    virtual void Restart() { ResetPredictors(); }
    virtual void ResetPredictors();

protected:
    struct CodeTable {
        std::array<uint16_t, 256> code{};
        std::array<uint8_t, 256> length{};
    };

    void PutBits(uint32_t value, int count) {
        if (m_bitCount + count > 32)
            EmitBytes();
        m_accumulator = (m_accumulator << count) | (value & ((1u << count) - 1));
        m_bitCount += count;
    }
    void PutCode(const CodeTable& table, int symbol) {
        const int length = table.length[symbol];
        if (length == 0)
            ThrowError();
        PutBits(table.code[symbol], length);
    }
    void EmitBytes();
    void EncodeBlock(const int16_t* block, int16_t& predictor, const CodeTable& dc, const CodeTable& ac);
    void EmitRestart();

    OStream* m_out;
    uint16_t m_restartInterval;
    int m_restartCountdown = 0;
    int m_restartCounter = 0;
    bool m_tablesSet = false;
    std::array<std::optional<CodeTable>, 4> m_dc;
    std::array<std::optional<CodeTable>, 4> m_ac;
    std::array<std::optional<HuffSpec>, 4> m_dcSpec;
    std::array<std::optional<HuffSpec>, 4> m_acSpec;
    std::array<int16_t, 4> m_predictor{};
    uint32_t m_accumulator = 0;
    int m_bitCount = 0;
    std::vector<ScanComponent> m_components;
    int m_mcusPerRow;
    int m_valuesPerMcu;
};

// Interleaved scan of up to four components.
class HuffEncoder_SI : public BaseHuffEncoder {
public:
    using BaseHuffEncoder::BaseHuffEncoder;
    void WriteScanHeader() override;
};

// Scan of one component, one block per MCU.
class HuffEncoder_SNI : public BaseHuffEncoder {
public:
    using BaseHuffEncoder::BaseHuffEncoder;
    void WriteScanHeader() override;
};

// ---------------------------------------------------------------- decoder

class EnthropyDecoder {
public:
    virtual ~EnthropyDecoder() = default;
    // Decodes one MCU row into a zeroed buffer (natural order per block).
    virtual void DecodeMcuRow(int16_t* mcuRow) = 0;
};

class BaseHuffDecoder : public EnthropyDecoder {
public:
    // dc and ac hold the tables defined so far by id (null where none).
    BaseHuffDecoder(IStream* in, uint16_t restartInterval, const HuffSpec* const dc[4],
                    const HuffSpec* const ac[4], const ScanComponent* components, int count, int mcusPerRow,
                    int valuesPerMcu);

    void DecodeMcuRow(int16_t* mcuRow) override;
    virtual void ResetPredictors();
    // Gives the whole bytes still held back to the stream; never throws.
    void GiveBackHeldBytes() noexcept;

protected:
    struct DecodeTable {
        std::array<uint8_t, 256> symbols{};
        int symbolCount = 0;
        std::array<int32_t, 18> maxCode{};  // by length 1..16; [17] is a sentinel
        std::array<int32_t, 17> valueOffset{};
        std::array<uint8_t, 256> lookLength{};  // 0: code longer than 8 bits
        std::array<uint8_t, 256> lookSymbol{};
    };
    static DecodeTable BuildDecodeTable(const HuffSpec& spec);

    void FillBits();
    int DecodeSymbol(const DecodeTable& table) {
        if (m_bitCount < 8)
            FillBits();
        if (m_bitCount >= 8) {
            const unsigned look = (m_accumulator >> (m_bitCount - 8)) & 0xFF;
            const int length = table.lookLength[look];
            if (length != 0) {
                m_bitCount -= length;
                return table.lookSymbol[look];
            }
        }
        return DecodeSymbolSlow(table);
    }
    int DecodeSymbolSlow(const DecodeTable& table);
    int ReceiveExtend(int size) {
        if (m_bitCount < size) {
            FillBits();
            if (m_bitCount < size)
                ThrowError();
        }
        m_bitCount -= size;
        const int value = static_cast<int>((m_accumulator >> m_bitCount) & ((1u << size) - 1));
        // A clear top bit means a negative value: value - 2^size + 1, chosen
        // by mask rather than by an unpredictable branch.
        const int negative = ((value >> (size - 1)) & 1) - 1;
        return value + (negative & ((-1 << size) + 1));
    }
    void DecodeBlock(int16_t* block, int16_t& predictor, const DecodeTable& dc, const DecodeTable& ac);
    void ProcessRestart();

    IStream* m_in;
    uint16_t m_restartInterval;
    int m_restartCountdown;
    int m_expectedRestart = 0;
    std::array<std::optional<DecodeTable>, 4> m_dc;
    std::array<std::optional<DecodeTable>, 4> m_ac;
    std::array<int16_t, 4> m_predictor{};
    uint32_t m_accumulator = 0;
    int m_bitCount = 0;
    // A marker (or the end of the data) stopped the last fill; the marker
    // bytes were given back to the stream.
    bool m_stopped = false;
    std::vector<ScanComponent> m_components;
    int m_mcusPerRow;
    int m_valuesPerMcu;
};

class HuffDecoder_SI : public BaseHuffDecoder {
public:
    using BaseHuffDecoder::BaseHuffDecoder;
};

class HuffDecoder_SNI : public BaseHuffDecoder {
public:
    using BaseHuffDecoder::BaseHuffDecoder;
    void DecodeMcuRow(int16_t* mcuRow) override;
};

}  // namespace MiniJpeg
