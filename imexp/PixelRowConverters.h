#pragma once
// The pixel row converters between the layouts converters use (1 to 48 bits,
// packed or one byte per pixel, chunky or planar, red- or blue-first, with or
// without alpha) and the seven pixel types of Formgate.h.
//
// Reading runs an optional unpack step (converter layout -> one of our chunky
// layouts, in an intermediate row) and then a pixel step (-> the sink's pixel
// type, in the output row; with alpha the alpha samples follow the colour
// bytes). Writing runs one step from the source's row to the converter's
// layout. Every step is one pass over one row; none allocates. Buffers belong
// to the pipeline, which sizes them with the *Bytes functions below, so no
// step reads or writes beyond what those functions announce.
//
// 16-bit samples are in the machine's byte order. Palettes are three planes
// of 256 values: red, then green, then blue.

#include <cstddef>
#include <cstdint>

namespace formgate {

// ---- read side ----------------------------------------------------------

enum class UnpackStep {
    None,
    U1,   // one byte per pixel (non-zero = 1) -> 1-bit packed
    U2,   // 1-bit packed -> one byte per pixel, 0 or 1
    U3,   // one value per byte -> 4-bit packed
    U4,   // 4-bit packed -> one byte per pixel
    U5,   // 4 bit-planes -> 4-bit packed
    U6,   // 4 bit-planes -> one byte per pixel
    U7,   // 1-bit packed -> 4-bit packed, values 0 or 1
    U8,   // 3 byte planes -> plane 2, 1, 0 per pixel
    U9,   // 3 planes of 16-bit samples -> plane 2, 1, 0 per pixel
    U10,  // 4 byte planes -> plane 2, 1, 0, 3 per pixel
    U11,  // 4 planes of 16-bit samples -> plane 2, 1, 0, 3 per pixel
};

enum class PixelStep {
    P0,   // copy of the output row length
    P1,   // copy, every bit complemented
    P2,   // palette index -> palette red
    P3,   // palette index -> blue, green, red
    P4,   // 3 bytes reversed
    P5,   // palette index -> three 16-bit samples blue, green, red (value x 256)
    P6,   // 16-bit grey -> 3 high bytes
    P7,   // 3 16-bit samples -> 3 high bytes, same order
    P8,   // 3 16-bit samples -> 3 high bytes, reversed
    P9,   // 16-bit grey -> three equal 16-bit samples
    P10,  // 3 bytes -> three 16-bit samples x 256, same order
    P11,  // 3 bytes -> three 16-bit samples x 256, reversed
    P12,  // 3 16-bit samples reversed
    P13,  // colour and alpha interleaved -> colour row, then the alpha samples
    P14,  // grey byte, alpha byte -> 3 grey bytes; alpha bytes
    P15,  // 16-bit grey, 16-bit alpha -> 3 high bytes; alpha high bytes
    P16,  // 4 16-bit samples -> 3 high bytes same order; alpha high bytes
    P17,  // 4 16-bit samples -> 3 high bytes reversed; alpha high bytes
    P18,  // 4 bytes -> 3 bytes reversed; alpha bytes
    P19,  // grey byte, alpha byte -> three 16-bit samples x 256; 16-bit alpha x 256
    P20,  // 16-bit grey, 16-bit alpha -> three 16-bit samples; 16-bit alpha
    P21,  // 4 bytes -> three 16-bit samples x 256 same order; alpha x 256
    P22,  // 4 bytes -> three 16-bit samples x 256 reversed; alpha x 256
    P23,  // 4 16-bit samples -> three samples reversed; 16-bit alpha
};

// What the read side knows of a file's rows after the header and palette
// analysis.
struct ReadFormat {
    int bits = 0;            // bits per pixel of the colour samples, all planes together
    int planes = 1;          // planes of colour samples (alpha, when planar, is one more)
    bool packed = true;      // pixels of fewer than 8 bits are packed
    bool alpha = false;      // colour types 4 and 5
    bool blueFirst = false;  // chunky colour samples come blue, green, red
    bool colour = false;
    bool paletted = false;
    bool inverted = false;
};

struct ReadSteps {
    UnpackStep unpack = UnpackStep::None;
    PixelStep pixel = PixelStep::P0;
    // Complement the colour bytes of the output row afterwards: grey data
    // that runs from white to black and reaches a grey or colour pixel type
    // without passing through the (already complemented) palette.
    bool complementOutput = false;
};

// Bits of one pixel of a pixel type (1, 4, 8, 8, 24, 16, 48); 0 for other codes.
int PixelTypeBits(int pixelType);
// Bits of one alpha sample in an output row of that pixel type.
int AlphaBitsOf(int pixelType);

// The unpack and pixel steps for a file's layout and the chosen pixel type.
// False when no step pair covers the combination (the library's error 11).
// Planar colour rows count as blue-first once unpacked (U8 to U11 put plane
// 2, the blue one, first).
bool ChooseReadSteps(const ReadFormat& format, int pixelType, ReadSteps& steps);

// Bytes one plane row must hold for the chosen steps to stay inside it, and
// the number of planes they read (colour planes plus an alpha plane).
std::size_t SourcePlaneBytes(const ReadFormat& format, const ReadSteps& steps, std::size_t width);
int SourcePlanesRead(const ReadFormat& format, const ReadSteps& steps);
// Bytes an unpack step writes for one row (0 for None).
std::size_t UnpackedBytes(UnpackStep step, std::size_t width);
// Bytes a pixel step reads for one row; colourBytes is the colour part of the
// output row.
std::size_t PixelInputBytes(PixelStep step, std::size_t width, std::size_t colourBytes);
// Bytes of the output row: colour part, then alpha samples when alpha is set.
std::size_t OutputColourBytes(int pixelType, std::size_t width);
std::size_t OutputAlphaBytes(int pixelType, std::size_t width);

// Runs an unpack step. planeStride is the distance between planes in src.
void Unpack(UnpackStep step, const std::uint8_t* src, std::size_t planeStride, std::size_t width,
            std::uint8_t* dst);
// Runs a pixel step. colourBytes is the colour part of the output row; alpha
// samples go to dst + colourBytes. palette: 768 values.
void ConvertPixels(PixelStep step, const std::uint8_t* src, std::size_t width, std::size_t colourBytes,
                   const std::uint8_t* palette, std::uint8_t* dst);

// Result of analysing the palette of a paletted image (colour types 1, 2).
struct PaletteClass {
    bool colour = false;
    bool paletted = true;
    bool inverted = false;
};
// A 1-bit palette makes a bilevel image, inverted when entry 1 is darker than
// entry 0; a grey palette that is an exact ramp (or an exact inverted ramp)
// makes a plain grey image; everything else stays paletted. bits 1 to 8.
PaletteClass AnalysePalette(const std::uint8_t* palette, int bits, int colourType);
// Entry i of a grey ramp of 2^bits entries: i x 255 / (2^bits - 1),
// complemented when inverted, written to the three planes.
void FillGreyRamp(std::uint8_t* palette, int bits, bool inverted);

// ---- write side ---------------------------------------------------------

// One conversion of a source row (its alpha samples following the colour
// bytes) into the converter's layout.
struct WriteRowFormat {
    int sourceBits = 0;  // 1, 4, 8, 16, 24 or 48
    int outputBits = 0;  // effective output depth
    bool planar = false;
    bool blueFirst = false;
    bool alpha = false;
    std::size_t planeStride = 0;             // distance between output planes when planar
    const std::uint8_t* palette = nullptr;   // 768 values (4-bit and 8-bit sources to colour)
    const std::uint8_t* indexMap = nullptr;  // 256 entries (4-bit source to 8 bits)
};

// Converts one row of width pixels. src holds the colour bytes and, with
// alpha, the alpha samples from src + (width x sourceBits + 7) / 8 (8-bit
// samples for 8- and 24-bit sources, 16-bit for 16 and 48). By (source,
// output) bits:
//   1 -> 4: bits to nibbles 0 or 15; planar: the bit row into planes 0, 1, 2
//           (plane 3 is left as it is)
//   1 -> 8, 1 -> 24: bytes 0 or 255 (24: three of them, or one per plane)
//   4 -> 4 planar: bit p of each value into plane p
//   4 -> 8, and 8 -> 8 without alpha: through indexMap when one is given
//   4 or 8 -> 24: red, green, blue from the palette (needs a palette);
//           8-bit alpha follows each pixel, or forms plane 3
//   24 -> 24, 48 -> 48: reversed unless blueFirst; planar: plane 0 = sample 2,
//           plane 1 = sample 1, plane 2 = sample 0, plane 3 = alpha
//   16 -> 48: the grey sample three times (then the alpha sample)
//   anything else: a plain copy of the row, or with alpha the colour and
//           alpha samples interleaved in the source's order.
void ConvertWriteRow(const WriteRowFormat& format, const std::uint8_t* src, std::size_t width,
                     std::uint8_t* dst);
// Bytes the step writes per plane (planar) or per row (chunky).
std::size_t WriteRowBytes(const WriteRowFormat& format, std::size_t width);

}  // namespace formgate
