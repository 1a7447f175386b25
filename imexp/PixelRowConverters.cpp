#include "PixelRowConverters.h"

#include <cstring>

namespace formgate {

namespace {

using Byte = std::uint8_t;

inline std::uint16_t Load16(const Byte* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Store16(Byte* p, unsigned v) {
    const auto s = static_cast<std::uint16_t>(v);
    std::memcpy(p, &s, 2);
}

inline Byte High(const Byte* p) {
    return static_cast<Byte>(Load16(p) >> 8);
}

inline int Bit(const Byte* row, std::size_t i) {
    return (row[i >> 3] >> (7 - (i & 7))) & 1;
}

// Writes value v (0..15) as pixel i of a 4-bit packed row.
inline void PutNibble(Byte* row, std::size_t i, unsigned v) {
    Byte& b = row[i >> 1];
    if (i & 1)
        b = static_cast<Byte>((b & 0xF0) | (v & 0x0F));
    else
        b = static_cast<Byte>((b & 0x0F) | ((v & 0x0F) << 4));
}

inline unsigned Nibble(const Byte* row, std::size_t i) {
    return (i & 1) ? (row[i >> 1] & 0x0F) : (row[i >> 1] >> 4);
}

inline std::size_t PackedBytes(std::size_t width, std::size_t bits) {
    return (width * bits + 7) / 8;
}

// 4-bit value of pixel i of 4 bit-planes (plane p gives bit p).
inline unsigned PlaneValue(const Byte* src, std::size_t stride, std::size_t i) {
    return static_cast<unsigned>(Bit(src, i) | (Bit(src + stride, i) << 1) | (Bit(src + 2 * stride, i) << 2) |
                                 (Bit(src + 3 * stride, i) << 3));
}

}  // namespace

int PixelTypeBits(int pixelType) {
    switch (pixelType) {
        case 1:
            return 1;
        case 2:
            return 4;
        case 4:
        case 8:
            return 8;
        case 16:
            return 24;
        case 32:
            return 16;
        case 64:
            return 48;
        default:
            return 0;
    }
}

int AlphaBitsOf(int pixelType) {
    return (pixelType == 32 || pixelType == 64) ? 16 : 8;
}

std::size_t OutputColourBytes(int pixelType, std::size_t width) {
    return PackedBytes(width, static_cast<std::size_t>(PixelTypeBits(pixelType)));
}

std::size_t OutputAlphaBytes(int pixelType, std::size_t width) {
    return PackedBytes(width, static_cast<std::size_t>(AlphaBitsOf(pixelType)));
}

bool ChooseReadSteps(const ReadFormat& f, int pixelType, ReadSteps& steps) {
    steps = ReadSteps{};
    const bool planar = f.planes > 1;
    const bool t12 = pixelType == 1 || pixelType == 2;
    if (PixelTypeBits(pixelType) == 0)
        return false;
    // Alpha comes only with 8- or 16-bit grey and 24- or 48-bit colour.
    if (f.alpha && !((f.bits == 8 || f.bits == 16) && !planar && !f.colour) &&
        !((f.bits == 24 || f.bits == 48) && f.colour))
        return false;

    switch (f.bits) {
        case 1:
            if (planar)
                return false;
            if (f.packed)
                steps.unpack = pixelType == 1   ? UnpackStep::None
                               : pixelType == 2 ? UnpackStep::U7
                                                : UnpackStep::U2;
            else
                steps.unpack = t12 ? (pixelType == 1 ? UnpackStep::U1 : UnpackStep::U3) : UnpackStep::None;
            break;
        case 2:
        case 3:
            // Only one value per byte, handled as 4 bits not packed.
            if (f.packed || planar)
                return false;
            steps.unpack = t12 ? UnpackStep::U3 : UnpackStep::None;
            break;
        case 4:
            if (planar) {
                if (!f.packed || f.planes != 4)
                    return false;
                steps.unpack = t12 ? UnpackStep::U5 : UnpackStep::U6;
            } else if (f.packed) {
                steps.unpack = t12 ? UnpackStep::None : UnpackStep::U4;
            } else {
                steps.unpack = t12 ? UnpackStep::U3 : UnpackStep::None;
            }
            break;
        case 5:
        case 6:
        case 7:
            // One byte per pixel reads like 8 bits; packed rows of these
            // depths have no step.
            if (f.packed || planar)
                return false;
            break;
        case 8:
        case 16:
            if (planar)
                return false;
            break;
        case 24:
            if (planar && f.planes != 3)
                return false;
            if (planar)
                steps.unpack = f.alpha ? UnpackStep::U10 : UnpackStep::U8;
            break;
        case 48:
            if (planar && f.planes != 3)
                return false;
            if (planar)
                steps.unpack = f.alpha ? UnpackStep::U11 : UnpackStep::U9;
            break;
        default:
            return false;
    }
    // Which pixel types can carry the file's pixels at all.
    switch (pixelType) {
        case 1:
            if (f.bits != 1)
                return false;
            break;
        case 2:
            if (f.bits > 4)
                return false;
            break;
        case 4:
        case 8:
            if (f.bits > 8)
                return false;
            break;
        case 32:
            if (f.bits != 16 || f.colour)
                return false;
            break;
        default:
            break;
    }

    // Planar rows come out of U8 to U11 blue first.
    const bool blueFirst = f.blueFirst || planar;
    const bool a = f.alpha;
    PixelStep p = a ? PixelStep::P13 : PixelStep::P0;
    switch (pixelType) {
        case 1:
            if (f.inverted)
                p = PixelStep::P1;
            break;
        case 8:
            if (f.paletted || f.bits < 8)
                p = PixelStep::P2;
            break;
        case 16:
            if (f.bits <= 8)
                p = a ? PixelStep::P14 : PixelStep::P3;
            else if (f.bits == 16)
                p = a ? PixelStep::P15 : PixelStep::P6;
            else if (f.bits == 48 && blueFirst)
                p = a ? PixelStep::P16 : PixelStep::P7;
            else if (f.bits == 48)
                p = a ? PixelStep::P17 : PixelStep::P8;
            else if (f.bits == 24 && !blueFirst)
                p = a ? PixelStep::P18 : PixelStep::P4;
            break;
        case 64:
            if (f.bits <= 8)
                p = a ? PixelStep::P19 : PixelStep::P5;
            else if (f.bits == 16)
                p = a ? PixelStep::P20 : PixelStep::P9;
            else if (f.bits == 24 && blueFirst)
                p = a ? PixelStep::P21 : PixelStep::P10;
            else if (f.bits == 24)
                p = a ? PixelStep::P22 : PixelStep::P11;
            else if (f.bits == 48 && !blueFirst)
                p = a ? PixelStep::P23 : PixelStep::P12;
            break;
        default:
            break;
    }
    steps.pixel = p;

    const bool throughPalette = p == PixelStep::P2 || p == PixelStep::P3 || p == PixelStep::P5;
    const bool indexedOutput = pixelType == 1 || pixelType == 2 || pixelType == 4;
    steps.complementOutput =
        f.inverted && !f.colour && !f.paletted && f.bits >= 8 && !throughPalette && !indexedOutput;
    return true;
}

std::size_t UnpackedBytes(UnpackStep step, std::size_t w) {
    switch (step) {
        case UnpackStep::None:
            return 0;
        case UnpackStep::U1:
            return (w + 7) / 8;
        case UnpackStep::U2:
        case UnpackStep::U4:
        case UnpackStep::U6:
            return w;
        case UnpackStep::U3:
        case UnpackStep::U5:
        case UnpackStep::U7:
            return (w + 1) / 2;
        case UnpackStep::U8:
            return 3 * w;
        case UnpackStep::U9:
            return 6 * w;
        case UnpackStep::U10:
            return 4 * w;
        case UnpackStep::U11:
            return 8 * w;
    }
    return 0;
}

std::size_t PixelInputBytes(PixelStep step, std::size_t w, std::size_t colourBytes) {
    switch (step) {
        case PixelStep::P0:
        case PixelStep::P1:
            return colourBytes;
        case PixelStep::P2:
        case PixelStep::P3:
        case PixelStep::P5:
            return w;
        case PixelStep::P4:
        case PixelStep::P10:
        case PixelStep::P11:
            return 3 * w;
        case PixelStep::P6:
        case PixelStep::P9:
        case PixelStep::P14:
        case PixelStep::P19:
            return 2 * w;
        case PixelStep::P7:
        case PixelStep::P8:
        case PixelStep::P12:
            return 6 * w;
        case PixelStep::P13: {
            // Colour bytes per pixel: 1, 2, 3 or 6; alpha 1, 2, 1, 2.
            const std::size_t perPixel = w ? colourBytes / w : 0;
            return colourBytes + w * (perPixel == 2 || perPixel == 6 ? 2 : 1);
        }
        case PixelStep::P15:
        case PixelStep::P18:
        case PixelStep::P20:
        case PixelStep::P21:
        case PixelStep::P22:
            return 4 * w;
        case PixelStep::P16:
        case PixelStep::P17:
        case PixelStep::P23:
            return 8 * w;
    }
    return 0;
}

int SourcePlanesRead(const ReadFormat& f, const ReadSteps& steps) {
    switch (steps.unpack) {
        case UnpackStep::U5:
        case UnpackStep::U6:
        case UnpackStep::U10:
        case UnpackStep::U11:
            return 4;
        case UnpackStep::U8:
        case UnpackStep::U9:
            return 3;
        default:
            return f.planes > 1 ? f.planes : 1;
    }
}

std::size_t SourcePlaneBytes(const ReadFormat&, const ReadSteps& steps, std::size_t w) {
    switch (steps.unpack) {
        case UnpackStep::U1:
        case UnpackStep::U3:
            return w;  // one value per byte
        case UnpackStep::U2:
        case UnpackStep::U7:
        case UnpackStep::U5:
        case UnpackStep::U6:
            return (w + 7) / 8;
        case UnpackStep::U4:
            return (w + 1) / 2;
        case UnpackStep::U8:
        case UnpackStep::U10:
            return w;
        case UnpackStep::U9:
        case UnpackStep::U11:
            return 2 * w;
        case UnpackStep::None:
            break;
    }
    return 0;  // the pixel step reads the source directly: see PixelInputBytes
}

void Unpack(UnpackStep step, const Byte* src, std::size_t stride, std::size_t w, Byte* dst) {
    switch (step) {
        case UnpackStep::None:
            return;
        case UnpackStep::U1:
            std::memset(dst, 0, (w + 7) / 8);
            for (std::size_t i = 0; i < w; ++i)
                if (src[i])
                    dst[i >> 3] = static_cast<Byte>(dst[i >> 3] | (0x80 >> (i & 7)));
            return;
        case UnpackStep::U2:
            for (std::size_t i = 0; i < w; ++i)
                dst[i] = static_cast<Byte>(Bit(src, i));
            return;
        case UnpackStep::U3:
            std::memset(dst, 0, (w + 1) / 2);
            for (std::size_t i = 0; i < w; ++i)
                PutNibble(dst, i, src[i]);
            return;
        case UnpackStep::U4:
            for (std::size_t i = 0; i < w; ++i)
                dst[i] = static_cast<Byte>(Nibble(src, i));
            return;
        case UnpackStep::U5:
            std::memset(dst, 0, (w + 1) / 2);
            for (std::size_t i = 0; i < w; ++i)
                PutNibble(dst, i, PlaneValue(src, stride, i));
            return;
        case UnpackStep::U6:
            for (std::size_t i = 0; i < w; ++i)
                dst[i] = static_cast<Byte>(PlaneValue(src, stride, i));
            return;
        case UnpackStep::U7:
            std::memset(dst, 0, (w + 1) / 2);
            for (std::size_t i = 0; i < w; ++i)
                PutNibble(dst, i, static_cast<unsigned>(Bit(src, i)));
            return;
        case UnpackStep::U8:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = src[2 * stride + i];
                dst[3 * i + 1] = src[stride + i];
                dst[3 * i + 2] = src[i];
            }
            return;
        case UnpackStep::U9:
            for (std::size_t i = 0; i < w; ++i) {
                std::memcpy(dst + 6 * i, src + 2 * stride + 2 * i, 2);
                std::memcpy(dst + 6 * i + 2, src + stride + 2 * i, 2);
                std::memcpy(dst + 6 * i + 4, src + 2 * i, 2);
            }
            return;
        case UnpackStep::U10:
            for (std::size_t i = 0; i < w; ++i) {
                dst[4 * i] = src[2 * stride + i];
                dst[4 * i + 1] = src[stride + i];
                dst[4 * i + 2] = src[i];
                dst[4 * i + 3] = src[3 * stride + i];
            }
            return;
        case UnpackStep::U11:
            for (std::size_t i = 0; i < w; ++i) {
                std::memcpy(dst + 8 * i, src + 2 * stride + 2 * i, 2);
                std::memcpy(dst + 8 * i + 2, src + stride + 2 * i, 2);
                std::memcpy(dst + 8 * i + 4, src + 2 * i, 2);
                std::memcpy(dst + 8 * i + 6, src + 3 * stride + 2 * i, 2);
            }
            return;
    }
}

void ConvertPixels(PixelStep step, const Byte* src, std::size_t w, std::size_t colourBytes, const Byte* pal,
                   Byte* dst) {
    const Byte* red = pal;
    const Byte* green = pal + 256;
    const Byte* blue = pal + 512;
    Byte* alpha = dst + colourBytes;
    switch (step) {
        case PixelStep::P0:
            std::memcpy(dst, src, colourBytes);
            return;
        case PixelStep::P1:
            for (std::size_t i = 0; i < colourBytes; ++i)
                dst[i] = static_cast<Byte>(~src[i]);
            return;
        case PixelStep::P2:
            for (std::size_t i = 0; i < w; ++i)
                dst[i] = red[src[i]];
            return;
        case PixelStep::P3:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = blue[src[i]];
                dst[3 * i + 1] = green[src[i]];
                dst[3 * i + 2] = red[src[i]];
            }
            return;
        case PixelStep::P4:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = src[3 * i + 2];
                dst[3 * i + 1] = src[3 * i + 1];
                dst[3 * i + 2] = src[3 * i];
            }
            return;
        case PixelStep::P5:
            for (std::size_t i = 0; i < w; ++i) {
                Store16(dst + 6 * i, blue[src[i]] * 256u);
                Store16(dst + 6 * i + 2, green[src[i]] * 256u);
                Store16(dst + 6 * i + 4, red[src[i]] * 256u);
            }
            return;
        case PixelStep::P6:
            for (std::size_t i = 0; i < w; ++i)
                dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = High(src + 2 * i);
            return;
        case PixelStep::P7:
            for (std::size_t i = 0; i < 3 * w; ++i)
                dst[i] = High(src + 2 * i);
            return;
        case PixelStep::P8:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = High(src + 6 * i + 4);
                dst[3 * i + 1] = High(src + 6 * i + 2);
                dst[3 * i + 2] = High(src + 6 * i);
            }
            return;
        case PixelStep::P9:
            for (std::size_t i = 0; i < w; ++i)
                for (int k = 0; k < 3; ++k)
                    std::memcpy(dst + 6 * i + 2 * k, src + 2 * i, 2);
            return;
        case PixelStep::P10:
            for (std::size_t i = 0; i < 3 * w; ++i)
                Store16(dst + 2 * i, src[i] * 256u);
            return;
        case PixelStep::P11:
            for (std::size_t i = 0; i < w; ++i)
                for (int k = 0; k < 3; ++k)
                    Store16(dst + 6 * i + 2 * k, src[3 * i + 2 - k] * 256u);
            return;
        case PixelStep::P12:
            for (std::size_t i = 0; i < w; ++i)
                for (int k = 0; k < 3; ++k)
                    std::memcpy(dst + 6 * i + 2 * k, src + 6 * i + 2 * (2 - k), 2);
            return;
        case PixelStep::P13: {
            const std::size_t colour = w ? colourBytes / w : 0;
            const std::size_t alphaSize = (colour == 2 || colour == 6) ? 2 : 1;
            const std::size_t in = colour + alphaSize;
            for (std::size_t i = 0; i < w; ++i) {
                std::memcpy(dst + colour * i, src + in * i, colour);
                std::memcpy(alpha + alphaSize * i, src + in * i + colour, alphaSize);
            }
            return;
        }
        case PixelStep::P14:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = src[2 * i];
                alpha[i] = src[2 * i + 1];
            }
            return;
        case PixelStep::P15:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = High(src + 4 * i);
                alpha[i] = High(src + 4 * i + 2);
            }
            return;
        case PixelStep::P16:
        case PixelStep::P17:
            for (std::size_t i = 0; i < w; ++i) {
                for (int k = 0; k < 3; ++k) {
                    const int from = step == PixelStep::P16 ? k : 2 - k;
                    dst[3 * i + k] = High(src + 8 * i + 2 * from);
                }
                alpha[i] = High(src + 8 * i + 6);
            }
            return;
        case PixelStep::P18:
            for (std::size_t i = 0; i < w; ++i) {
                dst[3 * i] = src[4 * i + 2];
                dst[3 * i + 1] = src[4 * i + 1];
                dst[3 * i + 2] = src[4 * i];
                alpha[i] = src[4 * i + 3];
            }
            return;
        case PixelStep::P19:
            for (std::size_t i = 0; i < w; ++i) {
                for (int k = 0; k < 3; ++k)
                    Store16(dst + 6 * i + 2 * k, src[2 * i] * 256u);
                Store16(alpha + 2 * i, src[2 * i + 1] * 256u);
            }
            return;
        case PixelStep::P20:
            for (std::size_t i = 0; i < w; ++i) {
                for (int k = 0; k < 3; ++k)
                    std::memcpy(dst + 6 * i + 2 * k, src + 4 * i, 2);
                std::memcpy(alpha + 2 * i, src + 4 * i + 2, 2);
            }
            return;
        case PixelStep::P21:
        case PixelStep::P22:
            for (std::size_t i = 0; i < w; ++i) {
                for (int k = 0; k < 3; ++k) {
                    const int from = step == PixelStep::P21 ? k : 2 - k;
                    Store16(dst + 6 * i + 2 * k, src[4 * i + from] * 256u);
                }
                Store16(alpha + 2 * i, src[4 * i + 3] * 256u);
            }
            return;
        case PixelStep::P23:
            for (std::size_t i = 0; i < w; ++i) {
                for (int k = 0; k < 3; ++k)
                    std::memcpy(dst + 6 * i + 2 * k, src + 8 * i + 2 * (2 - k), 2);
                std::memcpy(alpha + 2 * i, src + 8 * i + 6, 2);
            }
            return;
    }
}

PaletteClass AnalysePalette(const Byte* pal, int bits, int colourType) {
    PaletteClass c;
    c.colour = colourType == 2;
    c.paletted = true;
    c.inverted = false;
    if (bits < 1 || bits > 8)
        return c;
    const Byte* red = pal;
    const Byte* green = pal + 256;
    const Byte* blue = pal + 512;
    const int n = 1 << bits;
    if (bits == 1) {
        c.colour = false;
        c.paletted = false;
        c.inverted = red[1] < red[0];
        return c;
    }
    if (c.colour) {
        bool anyColour = false;
        for (int i = 0; i < n; ++i)
            if (red[i] != green[i] || red[i] != blue[i])
                anyColour = true;
        c.colour = anyColour;
    }
    if (c.colour)
        return c;
    const int shift = 8 - bits;
    bool ramp = true, invertedRamp = true;
    for (int i = 0; i < n; ++i) {
        if (i != (red[i] >> shift))
            ramp = false;
        if (i != ((255 - red[i]) >> shift))
            invertedRamp = false;
    }
    if (ramp) {
        c.paletted = false;
    } else if (invertedRamp) {
        c.paletted = false;
        c.inverted = true;
    }
    return c;
}

void FillGreyRamp(Byte* pal, int bits, bool inverted) {
    if (bits < 1 || bits > 8)
        return;
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i) {
        int v = i * 255 / (n - 1);
        if (inverted)
            v ^= 255;
        pal[i] = pal[256 + i] = pal[512 + i] = static_cast<Byte>(v);
    }
}

// ---- write side ---------------------------------------------------------

std::size_t WriteRowBytes(const WriteRowFormat& f, std::size_t w) {
    const std::size_t out = static_cast<std::size_t>(f.outputBits);
    if (f.planar) {
        if (f.outputBits == 4)
            return (w + 7) / 8;  // one bit per plane
        return out == 48 ? 2 * w : w;
    }
    std::size_t bytes = PackedBytes(w, out);
    if (f.alpha)
        bytes += PackedBytes(w, f.sourceBits == 16 || f.sourceBits == 48 ? 16 : 8);
    return bytes;
}

void ConvertWriteRow(const WriteRowFormat& f, const Byte* src, std::size_t w, Byte* dst) {
    const std::size_t stride = f.planeStride;
    const std::size_t sourceBytes = PackedBytes(w, static_cast<std::size_t>(f.sourceBits));
    const Byte* alpha = src + sourceBytes;
    const Byte* red = f.palette;
    const Byte* green = f.palette ? f.palette + 256 : nullptr;
    const Byte* blue = f.palette ? f.palette + 512 : nullptr;
    const int s = f.sourceBits, o = f.outputBits;

    if (s == 1 && o == 4) {
        if (!f.planar) {
            std::memset(dst, 0, (w + 1) / 2);
            for (std::size_t i = 0; i < w; ++i)
                PutNibble(dst, i, Bit(src, i) ? 15u : 0u);
        } else {
            for (int p = 0; p < 3; ++p)
                std::memcpy(dst + p * stride, src, (w + 7) / 8);
        }
        return;
    }
    if (s == 1 && o == 8) {
        for (std::size_t i = 0; i < w; ++i)
            dst[i] = Bit(src, i) ? 255 : 0;
        return;
    }
    if (s == 1 && o == 24) {
        for (std::size_t i = 0; i < w; ++i) {
            const Byte v = Bit(src, i) ? 255 : 0;
            if (f.planar)
                dst[i] = dst[stride + i] = dst[2 * stride + i] = v;
            else
                dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = v;
        }
        return;
    }
    if (s == 4 && o == 4 && f.planar) {
        for (int p = 0; p < 4; ++p)
            std::memset(dst + p * stride, 0, (w + 7) / 8);
        for (std::size_t i = 0; i < w; ++i) {
            const unsigned v = Nibble(src, i);
            for (int p = 0; p < 4; ++p)
                if (v & (1u << p))
                    dst[p * stride + (i >> 3)] =
                        static_cast<Byte>(dst[p * stride + (i >> 3)] | (0x80 >> (i & 7)));
        }
        return;
    }
    if (s == 4 && o == 8) {
        for (std::size_t i = 0; i < w; ++i) {
            const unsigned v = Nibble(src, i);
            dst[i] = f.indexMap ? f.indexMap[v] : static_cast<Byte>(v);
        }
        return;
    }
    if ((s == 4 || s == 8) && o == 24 && red) {
        for (std::size_t i = 0; i < w; ++i) {
            const unsigned v = s == 4 ? Nibble(src, i) : src[i];
            if (f.planar) {
                dst[i] = red[v];
                dst[stride + i] = green[v];
                dst[2 * stride + i] = blue[v];
                if (f.alpha && s == 8)
                    dst[3 * stride + i] = alpha[i];
            } else if (f.alpha && s == 8) {
                dst[4 * i] = red[v];
                dst[4 * i + 1] = green[v];
                dst[4 * i + 2] = blue[v];
                dst[4 * i + 3] = alpha[i];
            } else {
                dst[3 * i] = red[v];
                dst[3 * i + 1] = green[v];
                dst[3 * i + 2] = blue[v];
            }
        }
        return;
    }
    if ((s == 24 && o == 24) || (s == 48 && o == 48)) {
        const std::size_t size = s == 24 ? 1 : 2;  // bytes per sample
        for (std::size_t i = 0; i < w; ++i) {
            const Byte* px = src + 3 * size * i;
            const Byte* a = alpha + size * i;
            if (f.planar) {
                for (int p = 0; p < 3; ++p)
                    std::memcpy(dst + p * stride + size * i, px + size * static_cast<std::size_t>(2 - p),
                                size);
                if (f.alpha)
                    std::memcpy(dst + 3 * stride + size * i, a, size);
                continue;
            }
            const std::size_t out = (f.alpha ? 4 : 3) * size;
            for (int k = 0; k < 3; ++k) {
                const int from = f.blueFirst ? k : 2 - k;
                std::memcpy(dst + out * i + size * static_cast<std::size_t>(k),
                            px + size * static_cast<std::size_t>(from), size);
            }
            if (f.alpha)
                std::memcpy(dst + out * i + 3 * size, a, size);
        }
        return;
    }
    if (s == 16 && o == 48) {
        // Grey repeated into the three colour samples, as reading does.
        const std::size_t out = f.alpha ? 8 : 6;
        for (std::size_t i = 0; i < w; ++i) {
            for (int k = 0; k < 3; ++k)
                std::memcpy(dst + out * i + 2 * static_cast<std::size_t>(k), src + 2 * i, 2);
            if (f.alpha)
                std::memcpy(dst + out * i + 6, alpha + 2 * i, 2);
        }
        return;
    }
    if (s == 8 && o == 8 && !f.alpha && f.indexMap) {
        for (std::size_t i = 0; i < w; ++i)
            dst[i] = f.indexMap[src[i]];
        return;
    }
    // The gathering step: a plain copy, or colour and alpha interleaved in
    // the source's order.
    if (!f.alpha) {
        std::memcpy(dst, src, sourceBytes);
        return;
    }
    const std::size_t colour = s == 8 ? 1 : s == 16 ? 2 : s == 24 ? 3 : 6;
    const std::size_t alphaSize = (s == 16 || s == 48) ? 2 : 1;
    for (std::size_t i = 0; i < w; ++i) {
        std::memcpy(dst + (colour + alphaSize) * i, src + colour * i, colour);
        std::memcpy(dst + (colour + alphaSize) * i + colour, alpha + alphaSize * i, alphaSize);
    }
}

}  // namespace formgate
