// Huffman coding edge cases and the decoder's header decisions.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "HuffmanCoding.h"
#include "JpegTestSupport.h"

using namespace JpegTest;
using MiniJpeg::HuffSpec;

namespace {

// An independent reading of the standard luminance tables: the symbols of a
// coded block, written as "DC s:bits" and "AC rs:bits".
std::map<std::string, int> CodesOf(const MiniJpeg::StdHuffTable& t) {
    std::map<std::string, int> codes;
    int code = 0, k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < t.counts[len - 1]; ++i, ++code) {
            std::string s;
            for (int b = len - 1; b >= 0; --b)
                s += ((code >> b) & 1) ? '1' : '0';
            codes[s] = t.symbols[k++];
        }
        code <<= 1;
    }
    return codes;
}

std::string Bits(const Bytes& data) {
    std::string s;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && data[i - 1] == 0xFF && data[i] == 0x00)
            continue;  // stuffing
        for (int b = 7; b >= 0; --b)
            s += ((data[i] >> b) & 1) ? '1' : '0';
    }
    return s;
}

// Symbols of one block coded with the luminance tables.
std::vector<std::string> Symbols(const std::string& bits) {
    const auto dc = CodesOf(MiniJpeg::StdDcLuminance());
    const auto ac = CodesOf(MiniJpeg::StdAcLuminance());
    std::vector<std::string> out;
    size_t p = 0;
    auto next = [&](const std::map<std::string, int>& codes) {
        for (size_t len = 1; len <= 16 && p + len <= bits.size(); ++len) {
            auto it = codes.find(bits.substr(p, len));
            if (it != codes.end()) {
                p += len;
                return it->second;
            }
        }
        return -1;
    };
    const int s = next(dc);
    out.push_back("DC " + std::to_string(s) + ":" + bits.substr(p, s));
    p += s;
    for (int k = 1; k < 64;) {
        const int rs = next(ac);
        const int size = rs & 15;
        char head[16];
        std::snprintf(head, sizeof head, "AC %02X:", rs);
        out.push_back(head + bits.substr(p, size));
        p += size;
        if (rs == 0)
            break;
        k += (rs >> 4) + 1;
    }
    return out;
}

// Codes one grey 8x8 block of coefficients (natural order) with the standard
// tables and returns the entropy-coded bytes.
Bytes CodeBlock(const std::array<int16_t, 64>& block) {
    MemOStream out;
    MiniJpeg::ScanComponent comp;
    MiniJpeg::HuffEncoder_SNI enc(&out, 0, &comp, 1, 1, 64);
    const HuffSpec dc = HuffSpec::FromStandard(MiniJpeg::StdDcLuminance());
    const HuffSpec ac = HuffSpec::FromStandard(MiniJpeg::StdAcLuminance());
    const HuffSpec* dcs[4] = {&dc, nullptr, nullptr, nullptr};
    const HuffSpec* acs[4] = {&ac, nullptr, nullptr, nullptr};
    enc.SetTables(dcs, acs);
    enc.EncodeMcuRow(block.data());
    enc.Finish();
    out.Close();
    return out.data;
}

std::array<int16_t, 64> Block(std::initializer_list<std::pair<int, int>> zigzagValues) {
    std::array<int16_t, 64> b{};
    for (auto [k, v] : zigzagValues)
        b[MiniJpeg::kZigzagToNatural[k]] = static_cast<int16_t>(v);
    return b;
}

// Replaces the coded data of an 8x8 grey file by the given bytes.
Bytes WithEntropy(const Bytes& entropy) {
    Bytes file = MiniEncode(MakePhoto(8, 8, 1));
    for (const Segment& s : Segments(file))
        if (s.marker == 0xDA)
            file.resize(s.offset + s.bytes.size());
    file.insert(file.end(), entropy.begin(), entropy.end());
    file.push_back(0xFF);
    file.push_back(0xD9);
    return file;
}

}  // namespace

TEST(MiniJpegHuffman, BlockCodingCases) {
    struct Case {
        const char* name;
        std::array<int16_t, 64> block;
        std::vector<std::string> symbols;
    };
    const Case cases[] = {
        {"-1 is size 1, bit 0", Block({{0, -1}}), {"DC 1:0", "AC 00:"}},
        {"+1 is size 1, bit 1", Block({{0, 1}}), {"DC 1:1", "AC 00:"}},
        {"zeros after DC: DC and EOB", Block({}), {"DC 0:", "AC 00:"}},
        {"17 zeros: ZRL then run 1", Block({{18, -3}}), {"DC 0:", "AC F0:", "AC 12:00", "AC 00:"}},
        {"last coefficient: no EOB", Block({{63, 1}}), {"DC 0:", "AC F0:", "AC F0:", "AC F0:", "AC E1:1"}},
        {"AC -1 and +2", Block({{1, -1}, {2, 2}}), {"DC 0:", "AC 01:0", "AC 02:10", "AC 00:"}},
    };
    for (const Case& c : cases) {
        const Bytes coded = CodeBlock(c.block);
        EXPECT_EQ(Symbols(Bits(coded)), c.symbols) << c.name;
        // And our decoder reads the same block back.
        std::array<int16_t, 64> back{};
        MemIStream in(coded);
        MiniJpeg::ScanComponent comp;
        const HuffSpec dc = HuffSpec::FromStandard(MiniJpeg::StdDcLuminance());
        const HuffSpec ac = HuffSpec::FromStandard(MiniJpeg::StdAcLuminance());
        const HuffSpec* dcs[4] = {&dc, nullptr, nullptr, nullptr};
        const HuffSpec* acs[4] = {&ac, nullptr, nullptr, nullptr};
        MiniJpeg::HuffDecoder_SNI dec(&in, 0, dcs, acs, &comp, 1, 1, 64);
        dec.DecodeMcuRow(back.data());
        EXPECT_EQ(back, c.block) << c.name;
    }
}

// A DC of 2047 codes as nine 1-bits of size-11 code and eleven 1-bits: the
// 0xFF byte is stuffed with 0x00 and read back as 0xFF.
TEST(MiniJpegHuffman, FfIsStuffedAndUnstuffed) {
    const auto block = Block({{0, 2047}});
    const Bytes coded = CodeBlock(block);
    ASSERT_GE(coded.size(), 2u);
    EXPECT_EQ(coded[0], 0xFF);
    EXPECT_EQ(coded[1], 0x00);
    const Image decoded = MiniDecode(WithEntropy(coded));
    EXPECT_EQ(decoded.pixels.front(), 255);
}

TEST(MiniJpegHuffman, IdenticalTablesAreWrittenOnce) {
    MemOStream out;
    MiniJpeg::ScanComponent comp;
    MiniJpeg::HuffEncoder_SNI enc(&out, 0, &comp, 1, 1, 64);
    const HuffSpec dc = HuffSpec::FromStandard(MiniJpeg::StdDcLuminance());
    const HuffSpec ac = HuffSpec::FromStandard(MiniJpeg::StdAcLuminance());
    const HuffSpec* dcs[4] = {&dc, nullptr, nullptr, nullptr};
    const HuffSpec* acs[4] = {&ac, nullptr, nullptr, nullptr};
    enc.SetTables(dcs, acs);
    EXPECT_THROW(enc.SetTables(dcs, acs), MiniJpeg::Error);
    std::optional<HuffSpec> last[4];
    enc.WriteTables(last, 0);
    out.FlushBuffer();
    const size_t once = out.data.size();
    EXPECT_EQ(once, 4u + 17u + 12u);
    enc.WriteTables(last, 0);
    out.FlushBuffer();
    EXPECT_EQ(out.data.size(), once);
    // A different table under the same id is written again.
    last[0] = HuffSpec::FromStandard(MiniJpeg::StdDcChrominance());
    enc.WriteTables(last, 0);
    out.FlushBuffer();
    EXPECT_EQ(out.data.size(), 2 * once);
}

// Bad tables and bad coded data give Error.
TEST(MiniJpegHuffman, BadTablesAndDataAreRefused) {
    const Bytes good = MiniEncode(MakePhoto(8, 8, 1));
    auto withDht = [&](Bytes dht) {
        Bytes file = good;
        // Just before the scan, so that it replaces the good table.
        for (const Segment& s : Segments(file))
            if (s.marker == 0xDA) {
                file.insert(file.begin() + long(s.offset), dht.begin(), dht.end());
                break;
            }
        return file;
    };
    // Counts adding up to 256.
    Bytes sum256 = {0xFF, 0xC4, 0x01, 0x13, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    sum256[4 + 1 + 15] = 0;
    sum256[4 + 1 + 8] = 255;
    sum256[4 + 1 + 9] = 1;
    sum256.resize(2 + 0x113, 0);
    EXPECT_THROW(MiniDecode(withDht(sum256)), MiniJpeg::Error);
    // Three codes of length 1 cannot exist.
    Bytes oversubscribed = {0xFF, 0xC4, 0x00, 0x16, 0x00, 3};
    oversubscribed.resize(4 + 1 + 16, 0);
    oversubscribed.insert(oversubscribed.end(), {0, 1, 2});
    EXPECT_THROW(MiniDecode(withDht(oversubscribed)), MiniJpeg::Error);
    // Table id 4.
    Bytes badId = {0xFF, 0xC4, 0x00, 0x14, 0x04, 1};
    badId.resize(4 + 1 + 16, 0);
    badId.push_back(0);
    EXPECT_THROW(MiniDecode(withDht(badId)), MiniJpeg::Error);

    // Coded data: DC size 0, then run 15 size 1 four times reaches past 63.
    const auto ac = CodesOf(MiniJpeg::StdAcLuminance());
    std::string f1;
    for (const auto& [code, sym] : ac)
        if (sym == 0xF1)
            f1 = code;
    std::string bits = "00";
    for (int i = 0; i < 4; ++i)
        bits += f1 + "1";
    while (bits.size() % 8)
        bits += '1';
    Bytes past63;
    for (size_t i = 0; i < bits.size(); i += 8)
        past63.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    EXPECT_THROW(MiniDecode(WithEntropy(past63)), MiniJpeg::Error);
    // Sixteen 1-bits are no code of the AC table.
    EXPECT_THROW(MiniDecode(WithEntropy({0x3F, 0xFF, 0x00, 0xFF, 0x00})), MiniJpeg::Error);
}

namespace {

// Our colour file with its APP0 replaced or removed and an APP14 added.
Bytes Variant(bool jfif, int adobeTransform, bool rgbIds, uint8_t unitByte = 1) {
    const uint8_t red[] = {255, 0, 0};
    Bytes file = MiniEncode(MakeUniform(16, 16, 3, red));
    std::vector<Segment> segs = Segments(file);
    Bytes out(file.begin(), file.begin() + 2);
    for (size_t i = 1; i < segs.size(); ++i) {
        const Segment& s = segs[i];
        if (s.marker == 0xD9)
            break;
        Bytes b = s.bytes;
        if (s.marker == 0xE0) {
            if (!jfif)
                continue;
            b[11] = unitByte;
            out.insert(out.end(), b.begin(), b.end());
            if (adobeTransform >= 0) {
                const Bytes app14 = {
                    0xFF, 0xEE, 0,   14, 'A', 'd', 'o', 'b',
                    'e',  0,    100, 0,  0,   0,   0,   static_cast<uint8_t>(adobeTransform)};
                out.insert(out.end(), app14.begin(), app14.end());
            }
            continue;
        }
        if (s.marker == 0xFE && !jfif && adobeTransform >= 0) {
            const Bytes app14 = {0xFF, 0xEE, 0,   14, 'A', 'd', 'o', 'b',
                                 'e',  0,    100, 0,  0,   0,   0,   static_cast<uint8_t>(adobeTransform)};
            out.insert(out.end(), app14.begin(), app14.end());
        }
        if (rgbIds && s.marker == 0xC0)
            b[10] = 'R', b[13] = 'G', b[16] = 'B';
        if (rgbIds && s.marker == 0xDA)
            b[5] = 'R', b[7] = 'G', b[9] = 'B';
        out.insert(out.end(), b.begin(), b.end());
    }
    const size_t dataStart = segs.back().marker == 0xD9
                                 ? segs[segs.size() - 2].offset + segs[segs.size() - 2].bytes.size()
                                 : segs.back().offset + segs.back().bytes.size();
    out.insert(out.end(), file.begin() + long(dataStart), file.end());
    return out;
}

}  // namespace

TEST(MiniJpegDecoder, ColourAndDensityDecisions) {
    struct Case {
        const char* name;
        bool jfif;
        int adobe;
        bool rgbIds;
        bool converted;
    };
    const Case cases[] = {
        {"JFIF, no Adobe", true, -1, false, true},
        {"JFIF, Adobe transform 0", true, 0, false, false},
        {"JFIF, Adobe transform 1", true, 1, false, true},
        {"no JFIF, no Adobe", false, -1, false, true},
        {"no JFIF, R G B ids", false, -1, true, true},
        {"JFIF, R G B ids", true, -1, true, false},
        {"JFIF, R G B ids, Adobe transform 1", true, 1, true, true},
        {"no JFIF, Adobe transform 0", false, 0, false, false},
    };
    for (const Case& c : cases) {
        const Image img = MiniDecode(Variant(c.jfif, c.adobe, c.rgbIds));
        // Red as YCbCr samples is about (76, 85, 255).
        if (c.converted) {
            EXPECT_GE(img.pixels[0], 250) << c.name;
            EXPECT_LE(img.pixels[1], 5) << c.name;
        } else {
            EXPECT_NEAR(img.pixels[0], 76, 3) << c.name;
            EXPECT_NEAR(img.pixels[1], 85, 3) << c.name;
        }
    }
    // Density unit: 0 without JFIF, the unit byte + 1 with it.
    for (auto [jfif, unitByte, expected] :
         {std::tuple{false, 1, 0}, {true, 0, 1}, {true, 1, 2}, {true, 2, 3}}) {
        const Bytes file = Variant(jfif, -1, false, static_cast<uint8_t>(unitByte));
        MemIStream in(file);
        int32_t unit = -1;
        uint16_t xd = 0, yd = 0;
        MiniJpeg::Decoder* d = MiniJpeg::CreateDecoder(&in, nullptr, nullptr, nullptr, &unit, &xd, &yd);
        EXPECT_EQ(unit, expected);
        if (jfif) {
            EXPECT_EQ(xd, 300);
        }
        MiniJpeg::DeleteDecoder(d);
    }
}

TEST(MiniJpegDecoder, RowsAndTheEndOfTheData) {
    // One pixel: one row, then an error.
    const Bytes one = MiniEncode(MakePhoto(1, 1, 3));
    {
        MemIStream in(one);
        MiniJpeg::Decoder* d =
            MiniJpeg::CreateDecoder(&in, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_NO_THROW(d->ReadLine());
        EXPECT_THROW(d->ReadLine(), MiniJpeg::Error);
        MiniJpeg::DeleteDecoder(d);
    }
    // EOI before any scan.
    const Bytes noScan = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_THROW(MiniDecode(noScan), MiniJpeg::Error);
    // Data ending right after the last coded byte, without EOI, still decodes.
    const Bytes file = MiniEncode(MakePhoto(37, 21, 3));
    const Bytes noEoi(file.begin(), file.end() - 2);
    EXPECT_EQ(MiniDecode(noEoi).pixels, MiniDecode(file).pixels);
    // After the last row the EOI is still in the stream for the caller.
    {
        MemIStream in(file);
        int32_t h = 0;
        MiniJpeg::Decoder* d = MiniJpeg::CreateDecoder(&in, nullptr, &h, nullptr, nullptr, nullptr, nullptr);
        for (int y = 0; y < h; ++y)
            d->ReadLine();
        MiniJpeg::DeleteDecoder(d);
        EXPECT_EQ(in.ReadByte(), 0xFF);
        EXPECT_EQ(in.ReadByte(), 0xD9);
    }
    // Any way the source hands out its bytes gives the same image.
    const Image whole = MiniDecode(file);
    for (size_t chunk : {1u, 2u, 3u, 5u, 1023u})
        EXPECT_EQ(MiniDecode(file, chunk).pixels, whole.pixels) << chunk;
}

TEST(MiniJpegDecoder, RestartMarkersMustComeInOrder) {
    const Image src = MakePhoto(64, 16, 3);
    PeerEncodeOptions o;
    o.restartInterval = 1;
    const Bytes file = PeerEncode(src, o);
    EXPECT_NO_THROW(MiniDecode(file));
    // Find the RST markers in the coded data.
    std::vector<size_t> rst;
    for (size_t i = 0; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] >= 0xD0 && file[i + 1] <= 0xD7)
            rst.push_back(i);
    ASSERT_GE(rst.size(), 2u);
    Bytes misnumbered = file;
    misnumbered[rst[1] + 1] = 0xD5;
    EXPECT_THROW(MiniDecode(misnumbered), MiniJpeg::Error);
    Bytes missing = file;
    missing.erase(missing.begin() + long(rst[1]), missing.begin() + long(rst[1] + 2));
    EXPECT_THROW(MiniDecode(missing), MiniJpeg::Error);
}

TEST(MiniJpegDecoder, BadHeadersAreRefused) {
    const Bytes good = MiniEncode(MakePhoto(16, 16, 3));
    std::vector<Segment> segs = Segments(good);
    auto sof = [&]() -> size_t {
        for (const Segment& s : segs)
            if (s.marker == 0xC0)
                return s.offset;
        return 0;
    }();
    struct Case {
        const char* name;
        size_t offset;
        uint8_t value;
    };
    const Case cases[] = {
        {"no SOI", 1, 0xD9},
        {"precision 12", sof + 4, 12},
        {"height 0", sof + 6, 0},
        {"sampling 0", sof + 11, 0x02},
        {"sampling 5", sof + 11, 0x52},
        {"quant id 4", sof + 12, 4},
        {"2 components", sof + 9, 2},
        {"4 components", sof + 9, 4},
        {"progressive", sof + 1, 0xC2},
        {"arithmetic", sof + 1, 0xC9},
        {"hierarchical", sof + 1, 0xC5},
    };
    for (const Case& c : cases) {
        Bytes file = good;
        file[c.offset] = c.value;
        if (std::string(c.name) == "height 0")
            file[c.offset - 1] = 0;
        EXPECT_THROW(MiniDecode(file), MiniJpeg::Error) << c.name;
    }
}

// 16-bit quantisers of 65535 times the largest coefficients: the products are
// far beyond 32 bits, the samples still come out clamped (the sanitizer
// preset checks the arithmetic).
TEST(MiniJpegDecoder, SixteenBitTablesWithExtremeCoefficients) {
    Bytes file = MiniEncode(MakePhoto(8, 8, 1));
    Bytes out(file.begin(), file.begin() + 2);
    for (const Segment& s : Segments(file)) {
        if (s.marker == 0xD8 || s.marker == 0xD9)
            continue;
        if (s.marker == 0xDB) {
            Bytes dqt = {0xFF, 0xDB, 0x00, 0x83, 0x10};
            dqt.resize(dqt.size() + 128, 0xFF);
            out.insert(out.end(), dqt.begin(), dqt.end());
        } else {
            out.insert(out.end(), s.bytes.begin(), s.bytes.end());
        }
        if (s.marker == 0xDA)
            break;
    }
    const Bytes data = CodeBlock(Block({{0, 2047}, {1, -1023}, {2, 1023}, {9, -1000}, {63, 777}}));
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    Image img;
    ASSERT_NO_THROW(img = MiniDecode(out));
    ASSERT_EQ(img.pixels.size(), 64u);
}

// With an interval the coder ends each run of MCUs on a byte boundary with
// RST0, RST1, ... and restarts the DC prediction; the decoder follows.
TEST(MiniJpegHuffman, RestartIntervalRoundTrip) {
    std::array<int16_t, 4 * 64> row{};
    for (int m = 0; m < 4; ++m) {
        row[m * 64] = static_cast<int16_t>(100 * (m + 1));
        row[m * 64 + 1] = static_cast<int16_t>(-5 * m);
    }
    const HuffSpec dc = HuffSpec::FromStandard(MiniJpeg::StdDcLuminance());
    const HuffSpec ac = HuffSpec::FromStandard(MiniJpeg::StdAcLuminance());
    const HuffSpec* dcs[4] = {&dc, nullptr, nullptr, nullptr};
    const HuffSpec* acs[4] = {&ac, nullptr, nullptr, nullptr};
    MiniJpeg::ScanComponent comp;
    MemOStream out;
    MiniJpeg::HuffEncoder_SNI enc(&out, 1, &comp, 1, 4, 64);
    enc.SetTables(dcs, acs);
    enc.EncodeMcuRow(row.data());
    enc.Finish();
    out.Close();
    std::vector<uint8_t> markers;
    for (size_t i = 0; i + 1 < out.data.size(); ++i)
        if (out.data[i] == 0xFF && out.data[i + 1] != 0x00)
            markers.push_back(out.data[i + 1]);
    EXPECT_EQ(markers, (std::vector<uint8_t>{0xD0, 0xD1, 0xD2}));

    MemIStream in(out.data);
    MiniJpeg::HuffDecoder_SNI dec(&in, 1, dcs, acs, &comp, 1, 4, 64);
    std::array<int16_t, 4 * 64> back{};
    dec.DecodeMcuRow(back.data());
    EXPECT_EQ(back, row);
}
