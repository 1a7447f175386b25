// Byte streams, quality tables, the header sequence and edge padding.

#include <gtest/gtest.h>

#include "CoderImpl.h"
#include "JpegTestSupport.h"

using namespace JpegTest;

TEST(MiniJpegStreams, EmptySourceFailsTheDecoder) {
    MemIStream in({});
    EXPECT_THROW(MiniJpeg::CreateDecoder(&in, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                 MiniJpeg::Error);
}

// After the first fill every byte read can be given back; after a refill
// four more bytes of room lie in front of the new data.
TEST(MiniJpegStreams, PutBackRoom) {
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    struct Case {
        size_t read;
        size_t room;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{5, 5}, Case{1024, 1024}, Case{1025, 5}, Case{1030, 10}}) {
        MemIStream in(data);
        for (size_t i = 0; i < c.read; ++i)
            ASSERT_EQ(in.ReadByte(), data[i]);
        for (size_t i = 0; i < c.room; ++i)
            ASSERT_NO_THROW(in.PutBack(static_cast<uint8_t>(0xA0 + i))) << c.read;
        EXPECT_THROW(in.PutBack(0), MiniJpeg::Error) << c.read;
        // What was given back is read first, last given back first.
        for (size_t i = c.room; i-- > 0;)
            ASSERT_EQ(in.ReadByte(), static_cast<uint8_t>(0xA0 + i));
    }
}

TEST(MiniJpegStreams, ReadWordIsBigEndianAndEndThrows) {
    MemIStream in({0x12, 0x34, 0x56});
    EXPECT_EQ(in.ReadWord(), 0x1234);
    EXPECT_THROW(in.ReadWord(), MiniJpeg::Error);
    EXPECT_EQ(in.ReadByteOrEnd(), -1);
}

TEST(MiniJpegStreams, ReaderClaimingTooMuchIsAnError) {
    struct Liar : MiniJpeg::IStream {
        size_t Read(void*, size_t maxCount) override { return maxCount + 1; }
    } in;
    EXPECT_THROW(in.ReadByte(), MiniJpeg::Error);
}

TEST(MiniJpegStreams, OutputIsBufferedIn1024ByteWrites) {
    MemOStream out;
    Bytes data(3000, 0x5A);
    out.WriteBytes(data.data(), 0);
    out.WriteBytes(data.data(), 1000);
    out.WriteBytes(data.data(), 2000);
    out.Close();
    EXPECT_EQ(out.writes, (std::vector<size_t>{1024, 1024, 952}));
    EXPECT_EQ(out.flushes, 1);
    EXPECT_EQ(out.data.size(), 3000u);
}

// A small file reaches the sink as one Write and one Flush.
TEST(MiniJpegStreams, ShortFileIsOneWriteAndOneFlush) {
    const Image one = MakePhoto(1, 1, 3);
    MemOStream out;
    MiniJpeg::Coder* coder = MiniJpeg::CreateCoder(&out, 1, 1, 1, 90, 0, 0, 2, 300, 300);
    coder->WriteLine(one.Row(0));
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_LT(out.writes[0], 1024u);
    EXPECT_EQ(out.flushes, 1);
    // One row too many throws and writes nothing.
    EXPECT_THROW(coder->WriteLine(one.Row(0)), MiniJpeg::Error);
    EXPECT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.flushes, 1);
    MiniJpeg::DeleteDecoder(coder);
}

TEST(MiniJpegEncoder, QualityScaling) {
    const auto& base = MiniJpeg::kBaseLuminanceQuant;
    struct Case {
        int quality;
        int sameAs;  // quality whose table must be equal, or 0
    };
    for (Case c : {Case{0, 1}, Case{-20, 1}, Case{101, 100}, Case{1000, 100}}) {
        EXPECT_EQ(MiniJpeg::BuildQuantTable(base, c.quality, true).values,
                  MiniJpeg::BuildQuantTable(base, c.sameAs, true).values);
    }
    const auto q1 = MiniJpeg::BuildQuantTable(base, 1, true);
    for (uint16_t v : q1.values)
        EXPECT_LE(v, 255);
    EXPECT_EQ(q1.precision, 8);
    for (uint16_t v : MiniJpeg::BuildQuantTable(base, 101, true).values)
        EXPECT_EQ(v, 1);
    EXPECT_EQ(MiniJpeg::BuildQuantTable(base, 50, true).values, base);
    const auto q90 = MiniJpeg::BuildQuantTable(base, 90, true);
    for (int k = 0; k < 64; ++k)
        EXPECT_EQ(q90.values[k], (base[k] * 20 + 50) / 100);
    // Without the baseline limit low qualities need 16-bit values.
    EXPECT_EQ(MiniJpeg::BuildQuantTable(base, 1, false).precision, 16);
    EXPECT_EQ(MiniJpeg::BuildQuantTable(base, 1, false).values[0], 800);
}

// The quantiser's multiply-and-shift equals true division for every divisor
// the encoder can meet and dividends up to the transform's range.
TEST(MiniJpegEncoder, QuantiserDivisionIsExact) {
    const auto& aan = MiniJpeg::ForwardAanScale();
    uint32_t state = 99;
    for (int k = 0; k < 64; ++k)
        for (int q = 1; q <= 255; ++q) {
            const int32_t d = q * aan[k];
            const MiniJpeg::QuantDivisor divisor(d);
            const uint32_t edges[] = {0,
                                      1,
                                      uint32_t(d - 1),
                                      uint32_t(d),
                                      uint32_t(d + 1),
                                      uint32_t(7 * d - 1),
                                      (1u << 26) - 1,
                                      (1u << 27) - 1};
            for (uint32_t n : edges)
                ASSERT_EQ(divisor.Divide(n), static_cast<int32_t>(n / d)) << d << " " << n;
            for (int i = 0; i < 20; ++i) {
                state = state * 1664525u + 1013904223u;
                const uint32_t n = state >> 5;
                ASSERT_EQ(divisor.Divide(n), static_cast<int32_t>(n / d)) << d << " " << n;
            }
        }
}

// SOI, APP0, COM, DQT (one or two), SOF0, DHT DC, DHT AC, SOS, data, EOI.
TEST(MiniJpegEncoder, MarkerSequenceByteByByte) {
    struct Case {
        bool colour;
        int sampling;
        int oneDqt;
        std::vector<uint8_t> markers;
        Bytes sof;
        Bytes sos;
    };
    const Case cases[] = {
        {true,
         0,
         0,
         {0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9},
         {0xFF, 0xC0, 0, 17, 8, 0, 9, 0, 13, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1},
         {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0}},
        {true,
         1,
         0,
         {0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9},
         {0xFF, 0xC0, 0, 17, 8, 0, 9, 0, 13, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1},
         {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0}},
        {true,
         0,
         1,
         {0xD8, 0xE0, 0xFE, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9},
         {0xFF, 0xC0, 0, 17, 8, 0, 9, 0, 13, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1},
         {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0}},
        {false,
         0,
         1,
         {0xD8, 0xE0, 0xFE, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA, 0xD9},
         {0xFF, 0xC0, 0, 11, 8, 0, 9, 0, 13, 1, 1, 0x11, 0},
         {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 0x3F, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "colour " << c.colour << " sampling " << c.sampling << " oneDqt " << c.oneDqt);
        const Bytes file = MiniEncode(MakePhoto(13, 9, c.colour ? 3 : 1), 90, c.sampling, c.oneDqt);
        const std::vector<Segment> segs = Segments(file);
        std::vector<uint8_t> markers;
        for (const Segment& s : segs)
            markers.push_back(s.marker);
        EXPECT_EQ(markers, c.markers);
        ASSERT_GE(segs.size(), 4u);
        const Bytes app0 = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 1, 0x01, 0x2C, 0x01, 0x2C, 0, 0};
        EXPECT_EQ(segs[1].bytes, app0);
        EXPECT_EQ(segs[2].bytes.size(), 2u + 75u);
        EXPECT_EQ(segs[2].bytes[3], 75);
        for (const Segment& s : segs) {
            if (s.marker == 0xC0) {
                EXPECT_EQ(s.bytes, c.sof);
            }
            if (s.marker == 0xDA) {
                EXPECT_EQ(s.bytes, c.sos);
            }
            if (s.marker == 0xDB) {
                EXPECT_EQ(s.bytes[3], c.colour && c.oneDqt ? 0x84 : 0x43);
            }
        }
        // DHT: class and id in order DC0, DC1, AC0, AC1 (grey: DC0, AC0).
        std::vector<uint8_t> dht;
        for (const Segment& s : segs)
            if (s.marker == 0xC4)
                dht.push_back(s.bytes[4]);
        const std::vector<uint8_t> expected =
            c.colour ? std::vector<uint8_t>{0x00, 0x01, 0x10, 0x11} : std::vector<uint8_t>{0x00, 0x10};
        EXPECT_EQ(dht, expected);
    }
}

TEST(MiniJpegEncoder, DensityUnitByte) {
    const std::pair<int, uint8_t> cases[] = {{2, 1}, {3, 2}, {0, 0}, {1, 0}, {4, 0}, {-1, 0}};
    for (auto [unit, byte] : cases) {
        const Bytes file = MiniEncode(MakePhoto(8, 8, 1), 90, 0, 0, unit, 72, 0x1234);
        EXPECT_EQ(file[13], byte) << unit;
        EXPECT_EQ(file[14], 0);
        EXPECT_EQ(file[15], 72);
        EXPECT_EQ(file[16], 0x12);
        EXPECT_EQ(file[17], 0x34);
    }
}

TEST(MiniJpegEncoder, BadArgumentsThrow) {
    MemOStream out;
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-3, 5}, {65536, 1}, {1, 70000}})
        EXPECT_THROW(MiniJpeg::CreateCoder(&out, w, h, 1, 90, 0, 0, 2, 300, 300), MiniJpeg::Error)
            << w << "x" << h;
}

namespace {

Bytes EntropyData(const Bytes& file) {
    const std::vector<Segment> segs = Segments(file);
    for (const Segment& s : segs)
        if (s.marker == 0xDA)
            return Bytes(file.begin() + long(s.offset + s.bytes.size()), file.end());
    return {};
}

// The image padded to whole MCUs by repeating its last column and row.
Image PadByRepetition(const Image& img, int mcuW, int mcuH) {
    const int w = (img.width + mcuW - 1) / mcuW * mcuW;
    const int h = (img.height + mcuH - 1) / mcuH * mcuH;
    Image out{w, h, img.channels, Bytes(static_cast<size_t>(w) * h * img.channels)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < img.channels; ++c)
                out.pixels[(static_cast<size_t>(y) * w + x) * img.channels + c] =
                    img.Row(std::min(y, img.height - 1))[std::min(x, img.width - 1) * img.channels + c];
    return out;
}

}  // namespace

// Rows and columns short of a whole MCU repeat the last pixel and row: the
// coded data equals that of the explicitly padded image.
TEST(MiniJpegEncoder, EdgePaddingRepeatsLastPixelAndRow) {
    struct Case {
        int w, h, channels, sampling, mcuW, mcuH;
    };
    for (Case c : {Case{1, 1, 3, 0, 16, 16}, Case{1, 1, 3, 1, 16, 8}, Case{17, 9, 3, 0, 16, 16},
                   Case{5, 11, 3, 1, 16, 8}, Case{9, 3, 1, 0, 8, 8}, Case{1001, 3, 3, 0, 16, 16}}) {
        const Image img = MakePhoto(c.w, c.h, c.channels, 3);
        const Image padded = PadByRepetition(img, c.mcuW, c.mcuH);
        EXPECT_EQ(EntropyData(MiniEncode(img, 90, c.sampling)),
                  EntropyData(MiniEncode(padded, 90, c.sampling)))
            << c.w << "x" << c.h;
    }
    // A single pixel comes back as one row of one pixel, within 3 per channel.
    const uint8_t pixel[] = {200, 40, 90};
    for (int sampling : {0, 1}) {
        const Image one = MakeUniform(1, 1, 3, pixel);
        const Image back = MiniDecode(MiniEncode(one, 90, sampling));
        ASSERT_EQ(back.width, 1);
        ASSERT_EQ(back.height, 1);
        EXPECT_LE(MaxDiff(back, one), 3);
    }
}
