// The row converters on their own: each step against hand-made rows, with a
// guard area behind every output so that a step writing one byte too many is
// caught, and the step choice over every layout it may meet.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "PixelRowConverters.h"

using namespace formgate;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kGuard = 0xEE;

// Runs fn on a buffer of size bytes plus a guard area; the guard must survive.
template <class Fn>
Bytes Guarded(std::size_t size, Fn fn) {
    Bytes out(size + 16, kGuard);
    fn(out.data());
    for (std::size_t i = size; i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuard) << "byte " << i << " written beyond " << size;
    out.resize(size);
    return out;
}

struct UnpackCase {
    UnpackStep step;
    std::size_t width, stride;
    Bytes in, out;
};

// A palette: red = i, green = 255 - i, blue = i * 2.
Bytes TestPalette() {
    Bytes p(768);
    for (int i = 0; i < 256; ++i) {
        p[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
        p[256 + static_cast<size_t>(i)] = static_cast<std::uint8_t>(255 - i);
        p[512 + static_cast<size_t>(i)] = static_cast<std::uint8_t>(i * 2);
    }
    return p;
}

}  // namespace

TEST(PixelRowConverters, UnpackSteps) {
    const UnpackCase cases[] = {
        {UnpackStep::U1, 9, 0, {1, 0, 7, 0, 0, 0, 0, 1, 9}, {0xA1, 0x80}},
        {UnpackStep::U2, 10, 0, {0xA1, 0xC0}, {1, 0, 1, 0, 0, 0, 0, 1, 1, 1}},
        {UnpackStep::U3, 3, 0, {1, 2, 0x1F}, {0x12, 0xF0}},
        {UnpackStep::U4, 3, 0, {0x12, 0x34}, {1, 2, 3}},
        {UnpackStep::U5, 3, 1, {0xA0, 0x60, 0x00, 0x80}, {0x92, 0x30}},
        {UnpackStep::U6, 3, 1, {0xA0, 0x60, 0x00, 0x80}, {9, 2, 3}},
        {UnpackStep::U7, 3, 0, {0xA0}, {0x10, 0x10}},
        {UnpackStep::U8, 2, 2, {1, 2, 3, 4, 5, 6}, {5, 3, 1, 6, 4, 2}},
        {UnpackStep::U9, 1, 2, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
        {UnpackStep::U10, 1, 1, {1, 2, 3, 4}, {3, 2, 1, 4}},
        {UnpackStep::U11, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 3, 4, 1, 2, 7, 8}},
    };
    for (const UnpackCase& c : cases) {
        const std::size_t size = UnpackedBytes(c.step, c.width);
        ASSERT_EQ(size, c.out.size()) << static_cast<int>(c.step);
        EXPECT_EQ(
            Guarded(size, [&](std::uint8_t* out) { Unpack(c.step, c.in.data(), c.stride, c.width, out); }),
            c.out)
            << "U" << static_cast<int>(c.step);
    }
}

namespace {

struct PixelCase {
    PixelStep step;
    int pixelType;
    std::size_t width;
    Bytes in, out, alpha;
};

}  // namespace

TEST(PixelRowConverters, PixelSteps) {
    const PixelCase cases[] = {
        {PixelStep::P0, 16, 2, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, {}},
        {PixelStep::P1, 1, 9, {0xF0, 0x80}, {0x0F, 0x7F}, {}},
        {PixelStep::P2, 8, 2, {5, 200}, {5, 200}, {}},
        {PixelStep::P3, 16, 1, {5}, {10, 250, 5}, {}},
        {PixelStep::P4, 16, 1, {1, 2, 3}, {3, 2, 1}, {}},
        {PixelStep::P5, 64, 1, {5}, {0, 10, 0, 250, 0, 5}, {}},
        {PixelStep::P6, 16, 1, {0xAB, 0x12}, {0x12, 0x12, 0x12}, {}},
        {PixelStep::P7, 16, 1, {0, 1, 0, 2, 0, 3}, {1, 2, 3}, {}},
        {PixelStep::P8, 16, 1, {0, 1, 0, 2, 0, 3}, {3, 2, 1}, {}},
        {PixelStep::P9, 64, 1, {0xAB, 0x12}, {0xAB, 0x12, 0xAB, 0x12, 0xAB, 0x12}, {}},
        {PixelStep::P10, 64, 1, {0x7F, 2, 3}, {0, 0x7F, 0, 2, 0, 3}, {}},
        {PixelStep::P11, 64, 1, {1, 2, 3}, {0, 3, 0, 2, 0, 1}, {}},
        {PixelStep::P12, 64, 1, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}, {}},
        {PixelStep::P13, 8, 2, {1, 9, 2, 8}, {1, 2}, {9, 8}},
        {PixelStep::P13, 32, 1, {1, 2, 3, 4}, {1, 2}, {3, 4}},
        {PixelStep::P13, 16, 1, {1, 2, 3, 4}, {1, 2, 3}, {4}},
        {PixelStep::P13, 64, 1, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6}, {7, 8}},
        {PixelStep::P14, 16, 1, {7, 9}, {7, 7, 7}, {9}},
        {PixelStep::P15, 16, 1, {0, 7, 0, 9}, {7, 7, 7}, {9}},
        {PixelStep::P16, 16, 1, {0, 1, 0, 2, 0, 3, 0, 4}, {1, 2, 3}, {4}},
        {PixelStep::P17, 16, 1, {0, 1, 0, 2, 0, 3, 0, 4}, {3, 2, 1}, {4}},
        {PixelStep::P18, 16, 1, {1, 2, 3, 4}, {3, 2, 1}, {4}},
        {PixelStep::P19, 64, 1, {7, 9}, {0, 7, 0, 7, 0, 7}, {0, 9}},
        {PixelStep::P20, 64, 1, {1, 7, 2, 9}, {1, 7, 1, 7, 1, 7}, {2, 9}},
        {PixelStep::P21, 64, 1, {1, 2, 3, 4}, {0, 1, 0, 2, 0, 3}, {0, 4}},
        {PixelStep::P22, 64, 1, {1, 2, 3, 4}, {0, 3, 0, 2, 0, 1}, {0, 4}},
        {PixelStep::P23, 64, 1, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 3, 4, 1, 2}, {7, 8}},
    };
    const Bytes palette = TestPalette();
    for (const PixelCase& c : cases) {
        const std::size_t colour = OutputColourBytes(c.pixelType, c.width);
        const std::size_t alpha = c.alpha.empty() ? 0 : OutputAlphaBytes(c.pixelType, c.width);
        ASSERT_EQ(colour, c.out.size()) << "P" << static_cast<int>(c.step);
        ASSERT_EQ(alpha, c.alpha.size()) << "P" << static_cast<int>(c.step);
        EXPECT_LE(PixelInputBytes(c.step, c.width, colour), c.in.size()) << "P" << static_cast<int>(c.step);
        const Bytes out = Guarded(colour + alpha, [&](std::uint8_t* dst) {
            ConvertPixels(c.step, c.in.data(), c.width, colour, palette.data(), dst);
        });
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(colour)), c.out)
            << "P" << static_cast<int>(c.step);
        EXPECT_EQ(Bytes(out.begin() + static_cast<long>(colour), out.end()), c.alpha)
            << "P" << static_cast<int>(c.step);
    }
}

TEST(PixelRowConverters, PlainCopyCoversAWideRow) {
    const std::size_t width = 30000;
    Bytes in(3 * width);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i * 13);
    const Bytes out = Guarded(OutputColourBytes(16, width), [&](std::uint8_t* dst) {
        ConvertPixels(PixelStep::P0, in.data(), width, OutputColourBytes(16, width), nullptr, dst);
    });
    EXPECT_EQ(out.size(), 90000u);
    EXPECT_EQ(out, in);
}

namespace {

struct ChoiceCase {
    const char* name;
    ReadFormat format;
    int pixelType;
    bool valid;
    UnpackStep unpack;
    PixelStep pixel;
};

ReadFormat Fmt(int bits, int planes = 1, bool packed = true, bool alpha = false, bool blueFirst = false,
               bool colour = false, bool paletted = false, bool inverted = false) {
    ReadFormat f;
    f.bits = bits, f.planes = planes, f.packed = packed, f.alpha = alpha, f.blueFirst = blueFirst;
    f.colour = colour, f.paletted = paletted, f.inverted = inverted;
    return f;
}

}  // namespace

TEST(PixelRowConverters, StepChoice) {
    using U = UnpackStep;
    using P = PixelStep;
    const ChoiceCase cases[] = {
        {"1 packed to 1", Fmt(1), 1, true, U::None, P::P0},
        {"1 packed inverted to 1", Fmt(1, 1, true, false, false, false, false, true), 1, true, U::None,
         P::P1},
        {"1 packed to 2", Fmt(1), 2, true, U::U7, P::P0},
        {"1 packed to 8", Fmt(1), 8, true, U::U2, P::P2},
        {"1 unpacked to 1", Fmt(1, 1, false), 1, true, U::U1, P::P0},
        {"1 unpacked to 2", Fmt(1, 1, false), 2, true, U::U3, P::P0},
        {"1 unpacked to 16", Fmt(1, 1, false), 16, true, U::None, P::P3},
        {"2 unpacked to 2", Fmt(2, 1, false), 2, true, U::U3, P::P0},
        {"3 unpacked to 4", Fmt(3, 1, false), 4, true, U::None, P::P0},
        {"2 packed", Fmt(2), 4, false, U::None, P::P0},
        {"4 planes packed to 2", Fmt(4, 4), 2, true, U::U5, P::P0},
        {"4 planes packed to 16", Fmt(4, 4), 16, true, U::U6, P::P3},
        {"4 planes unpacked", Fmt(4, 4, false), 16, false, U::None, P::P0},
        {"4 packed to 2", Fmt(4), 2, true, U::None, P::P0},
        {"4 packed to 64", Fmt(4), 64, true, U::U4, P::P5},
        {"4 unpacked to 2", Fmt(4, 1, false), 2, true, U::U3, P::P0},
        {"8 paletted to 8", Fmt(8, 1, true, false, false, false, true), 8, true, U::None, P::P2},
        {"8 grey to 8", Fmt(8), 8, true, U::None, P::P0},
        {"16 to 16", Fmt(16), 16, true, U::None, P::P6},
        {"16 to 32", Fmt(16), 32, true, U::None, P::P0},
        {"16 colour to 32", Fmt(16, 1, true, false, false, true), 32, false, U::None, P::P0},
        {"16 to 4", Fmt(16), 4, false, U::None, P::P0},
        {"24 rgb to 16", Fmt(24, 1, true, false, false, true), 16, true, U::None, P::P4},
        {"24 bgr to 16", Fmt(24, 1, true, false, true, true), 16, true, U::None, P::P0},
        {"24 planar to 16", Fmt(24, 3, true, false, false, true), 16, true, U::U8, P::P0},
        // Planar rows are blue-first once unpacked, whatever the flag says.
        {"24 planar to 64", Fmt(24, 3, true, false, false, true), 64, true, U::U8, P::P10},
        {"48 planar to 16", Fmt(48, 3, true, false, false, true), 16, true, U::U9, P::P7},
        {"48 planar to 64", Fmt(48, 3, true, false, false, true), 64, true, U::U9, P::P0},
        {"48 rgb to 64", Fmt(48, 1, true, false, false, true), 64, true, U::None, P::P12},
        {"24 planar alpha to 16", Fmt(24, 3, true, true, false, true), 16, true, U::U10, P::P13},
        {"24 planar alpha to 64", Fmt(24, 3, true, true, false, true), 64, true, U::U10, P::P21},
        {"48 planar alpha to 16", Fmt(48, 3, true, true, false, true), 16, true, U::U11, P::P16},
        {"48 planar alpha to 64", Fmt(48, 3, true, true, false, true), 64, true, U::U11, P::P13},
        {"48 rgba to 64", Fmt(48, 1, true, true, false, true), 64, true, U::None, P::P23},
        {"8 grey alpha to 8", Fmt(8, 1, true, true), 8, true, U::None, P::P13},
        {"8 grey alpha to 16", Fmt(8, 1, true, true), 16, true, U::None, P::P14},
        {"16 grey alpha to 64", Fmt(16, 1, true, true), 64, true, U::None, P::P20},
        {"4 grey alpha", Fmt(4, 1, true, true), 16, false, U::None, P::P0},
        {"8 colour alpha", Fmt(8, 1, true, true, false, true), 16, false, U::None, P::P0},
        {"7 packed", Fmt(7), 16, false, U::None, P::P0},
        {"7 unpacked", Fmt(7, 1, false), 16, true, U::None, P::P3},
        {"12 bits", Fmt(12), 64, false, U::None, P::P0},
        {"24 to 1", Fmt(24, 1, true, false, false, true), 1, false, U::None, P::P0},
        {"bad type", Fmt(8), 3, false, U::None, P::P0},
    };
    for (const ChoiceCase& c : cases) {
        ReadSteps steps;
        ASSERT_EQ(ChooseReadSteps(c.format, c.pixelType, steps), c.valid) << c.name;
        if (!c.valid)
            continue;
        EXPECT_EQ(steps.unpack, c.unpack) << c.name;
        EXPECT_EQ(steps.pixel, c.pixel) << c.name;
    }
}

// Whatever the layout, a valid step pair reads no more than the unpack step
// wrote, so an intermediate row sized from the unpack step is always enough.
TEST(PixelRowConverters, IntermediateRowSuffices) {
    int valid = 0;
    for (int bits : {1, 2, 3, 4, 5, 6, 7, 8, 16, 24, 48})
        for (int planes : {1, 3, 4})
            for (int flags = 0; flags < 64; ++flags)
                for (int type : {1, 2, 4, 8, 16, 32, 64}) {
                    const ReadFormat f =
                        Fmt(bits, planes, flags & 1, flags & 2, flags & 4, flags & 8, flags & 16, flags & 32);
                    ReadSteps steps;
                    if (!ChooseReadSteps(f, type, steps))
                        continue;
                    ++valid;
                    for (std::size_t width : {1u, 2u, 7u, 9u}) {
                        const std::size_t colour = OutputColourBytes(type, width);
                        const std::size_t input = PixelInputBytes(steps.pixel, width, colour);
                        if (steps.unpack != UnpackStep::None) {
                            EXPECT_LE(input, UnpackedBytes(steps.unpack, width))
                                << bits << " bits " << planes << " planes flags " << flags << " type "
                                << type;
                        }
                    }
                }
    EXPECT_GT(valid, 100);
}

TEST(PixelRowConverters, PaletteAnalysis) {
    auto palette = [](int bits, auto value) {
        Bytes p(768, 0);
        for (int i = 0; i < (1 << bits); ++i)
            for (int k = 0; k < 3; ++k)
                p[static_cast<size_t>(256 * k + i)] = static_cast<std::uint8_t>(value(i, k));
        return p;
    };
    struct Case {
        const char* name;
        Bytes palette;
        int bits, colourType;
        bool colour, paletted, inverted;
    };
    const Case cases[] = {
        {"black, white", palette(1, [](int i, int) { return i * 255; }), 1, 1, false, false, false},
        {"white, black", palette(1, [](int i, int) { return 255 - i * 255; }), 1, 2, false, false, true},
        {"red, blue bilevel", palette(1, [](int i, int k) { return (k == 0) != (i == 1) ? 255 : 0; }), 1, 2,
         false, false, true},
        {"grey ramp", palette(8, [](int i, int) { return i; }), 8, 1, false, false, false},
        {"inverted ramp", palette(8, [](int i, int) { return 255 - i; }), 8, 2, false, false, true},
        {"4-bit ramp", palette(4, [](int i, int) { return i * 17; }), 4, 1, false, false, false},
        {"uneven grey", palette(4, [](int i, int) { return i * i; }), 4, 1, false, true, false},
        {"colour", palette(8, [](int i, int k) { return k == 1 ? 0 : i; }), 8, 2, true, true, false},
        {"grey-looking colour type", palette(8, [](int i, int) { return i; }), 8, 2, false, false, false},
    };
    for (const Case& c : cases) {
        const PaletteClass result = AnalysePalette(c.palette.data(), c.bits, c.colourType);
        EXPECT_EQ(result.colour, c.colour) << c.name;
        EXPECT_EQ(result.paletted, c.paletted) << c.name;
        EXPECT_EQ(result.inverted, c.inverted) << c.name;
    }

    Bytes ramp(768, 1);
    FillGreyRamp(ramp.data(), 2, true);
    EXPECT_EQ((Bytes{ramp[0], ramp[1], ramp[2], ramp[3], ramp[256 + 1], ramp[512 + 2]}),
              (Bytes{255, 170, 85, 0, 170, 85}));
}

namespace {

struct WriteCase {
    const char* name;
    int sourceBits, outputBits;
    bool planar, blueFirst, alpha;
    std::size_t width, stride;
    Bytes in, out;
};

}  // namespace

TEST(PixelRowConverters, WriteSteps) {
    const WriteCase cases[] = {
        {"1 to 1", 1, 1, false, false, false, 9, 0, {0xA5, 0x80}, {0xA5, 0x80}},
        {"1 to 4", 1, 4, false, false, false, 3, 0, {0xA0}, {0xF0, 0xF0}},
        {"1 to 4 planar", 1, 4, true, false, false, 3, 1, {0xA0}, {0xA0, 0xA0, 0xA0}},
        {"1 to 8", 1, 8, false, false, false, 3, 0, {0xA0}, {255, 0, 255}},
        {"1 to 24", 1, 24, false, false, false, 2, 0, {0x80}, {255, 255, 255, 0, 0, 0}},
        {"1 to 24 planar", 1, 24, true, false, false, 2, 2, {0x80}, {255, 0, 255, 0, 255, 0}},
        {"4 to 4", 4, 4, false, false, false, 3, 0, {0x12, 0x30}, {0x12, 0x30}},
        {"4 to 4 planar", 4, 4, true, false, false, 3, 1, {0x92, 0x30}, {0xA0, 0x60, 0x00, 0x80}},
        {"4 to 8 through the map", 4, 8, false, false, false, 3, 0, {0x12, 0x30}, {2, 4, 6}},
        {"4 to 24", 4, 24, false, false, false, 1, 0, {0x50}, {5, 250, 10}},
        {"4 to 24 planar", 4, 24, true, false, false, 2, 2, {0x53}, {5, 3, 250, 252, 10, 6}},
        {"8 to 24", 8, 24, false, false, false, 1, 0, {5}, {5, 250, 10}},
        {"8 to 24 alpha", 8, 24, false, false, true, 1, 0, {5, 77}, {5, 250, 10, 77}},
        {"8 to 24 planar alpha", 8, 24, true, false, true, 1, 1, {5, 77}, {5, 250, 10, 77}},
        {"8 to 8 through the map", 8, 8, false, false, false, 2, 0, {3, 4}, {6, 8}},
        {"8 grey alpha gathered", 8, 8, false, false, true, 2, 0, {3, 4, 9, 8}, {3, 9, 4, 8}},
        {"16 grey alpha gathered", 16, 16, false, false, true, 1, 0, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"16 to 48", 16, 48, false, false, false, 1, 0, {1, 2}, {1, 2, 1, 2, 1, 2}},
        {"24 to 24 reversed", 24, 24, false, false, false, 1, 0, {1, 2, 3}, {3, 2, 1}},
        {"24 to 24 blue first", 24, 24, false, true, false, 1, 0, {1, 2, 3}, {1, 2, 3}},
        {"24 to 24 alpha", 24, 24, false, false, true, 1, 0, {1, 2, 3, 9}, {3, 2, 1, 9}},
        {"24 to 24 blue first alpha", 24, 24, false, true, true, 1, 0, {1, 2, 3, 9}, {1, 2, 3, 9}},
        {"24 to 24 planar", 24, 24, true, false, true, 1, 1, {1, 2, 3, 9}, {3, 2, 1, 9}},
        {"48 to 48 reversed alpha",
         48,
         48,
         false,
         false,
         true,
         1,
         0,
         {1, 0, 2, 0, 3, 0, 9, 0},
         {3, 0, 2, 0, 1, 0, 9, 0}},
        {"48 to 48 planar", 48, 48, true, false, false, 1, 2, {1, 0, 2, 0, 3, 0}, {3, 0, 2, 0, 1, 0}},
        {"48 to 48 blue first", 48, 48, false, true, false, 1, 0, {1, 0, 2, 0, 3, 0}, {1, 0, 2, 0, 3, 0}},
    };
    const Bytes palette = TestPalette();
    std::uint8_t map[256];
    for (int i = 0; i < 256; ++i)
        map[i] = static_cast<std::uint8_t>(2 * i);
    for (const WriteCase& c : cases) {
        WriteRowFormat f;
        f.sourceBits = c.sourceBits, f.outputBits = c.outputBits, f.planar = c.planar;
        f.blueFirst = c.blueFirst, f.alpha = c.alpha, f.planeStride = c.stride;
        f.palette = palette.data(), f.indexMap = map;
        if (!c.planar)
            EXPECT_EQ(WriteRowBytes(f, c.width), c.out.size()) << c.name;
        else
            EXPECT_LE(WriteRowBytes(f, c.width), c.stride) << c.name;
        const Bytes out =
            Guarded(c.out.size(), [&](std::uint8_t* dst) { ConvertWriteRow(f, c.in.data(), c.width, dst); });
        EXPECT_EQ(out, c.out) << c.name;
    }
}
