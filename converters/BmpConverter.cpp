// The BMP converter: Windows and OS/2 bitmaps of 1, 4, 8, 16, 24 and 32 bits,
// bottom-up or top-down, read straight from the stream one band at a time;
// written as 1-, 4- or 8-bit paletted or 24-bit bitmaps.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ConverterKit.h"

namespace {

constexpr const char* kFormat = "BMP";
constexpr int kRowsPerBand = 64;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// One colour channel of a 16- or 32-bit pixel given by a bit mask, scaled to 8 bits.
struct Channel {
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t mask = 0) {
        if (!mask)
            return;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1) {
            mask >>= 1;
            ++bits;
        }
    }
    std::uint8_t Of(std::uint32_t pixel) const {
        if (bits == 0)
            return 0;
        // 64 bits wide: a mask may cover all 32 bits of the pixel.
        const std::uint64_t most = (std::uint64_t(1) << bits) - 1;
        const std::uint64_t v = (pixel >> shift) & most;
        return static_cast<std::uint8_t>(bits >= 8 ? v >> (bits - 8) : v * 255 / most);
    }
};

struct Header {
    std::uint32_t pixelOffset = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // positive; topDown tells the row order
    bool topDown = false;
    int bitsPerPixel = 0;
    int paletteEntries = 0;
    std::uint8_t palette[768] = {};  // red, green, blue planes
    Channel red, green, blue;        // 16 and 32 bits
    std::uint32_t xPerMetre = 0, yPerMetre = 0;
    std::int64_t stride = 0;
    std::int64_t fileSize = 0;
};

// Parses and checks the headers and the palette; 0 or an error code.
int ReadHeader(IOStream* stream, Header& h) {
    std::uint8_t file[14 + 124] = {};
    if (!ConvKit::ReadAt(stream, 0, file, 18))
        return ImExp::ErrorUnexpectedEnd;
    if (file[0] != 'B' || file[1] != 'M')
        return ImExp::ErrorUnknownFormat;
    h.pixelOffset = U32(file + 10);
    const std::uint32_t infoSize = U32(file + 14);
    if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 &&
        infoSize != 124)
        return ImExp::ErrorInvalidFile;
    if (!ConvKit::ReadAt(stream, 14, file + 14, static_cast<int>(infoSize)))
        return ImExp::ErrorUnexpectedEnd;
    const std::uint8_t* info = file + 14;
    std::uint32_t compression = 0, used = 0;
    int planes = 1;
    std::uint32_t masks[3] = {};
    if (infoSize == 12) {
        h.width = U16(info + 4);
        h.height = U16(info + 6);
        planes = U16(info + 8);
        h.bitsPerPixel = U16(info + 10);
    } else {
        h.width = static_cast<std::int32_t>(U32(info + 4));
        const auto height = static_cast<std::int32_t>(U32(info + 8));
        h.topDown = height < 0;
        if (height == INT32_MIN)
            return ImExp::ErrorInvalidFile;
        h.height = h.topDown ? -height : height;
        planes = U16(info + 12);
        h.bitsPerPixel = U16(info + 14);
        compression = U32(info + 16);
        h.xPerMetre = U32(info + 24);
        h.yPerMetre = U32(info + 28);
        used = U32(info + 32);
        if (infoSize >= 52)
            for (int i = 0; i < 3; ++i)
                masks[i] = U32(info + 40 + 4 * i);
    }
    if (h.width <= 0 || h.height <= 0 || planes != 1 ||
        static_cast<std::uint32_t>(h.width) > ConvKit::kSideLimit ||
        static_cast<std::uint32_t>(h.height) > ConvKit::kSideLimit)
        return ImExp::ErrorInvalidFile;
    const int bits = h.bitsPerPixel;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return ImExp::ErrorInvalidFile;
    // Run-length and embedded JPEG or PNG bitmaps are not read here.
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32)))
        return ImExp::ErrorUnsupportedSubformat;
    std::uint32_t infoEnd = 14 + infoSize;
    if (compression == 3 && infoSize == 40) {
        std::uint8_t raw[12];
        if (!ConvKit::ReadAt(stream, infoEnd, raw, 12))
            return ImExp::ErrorUnexpectedEnd;
        for (int i = 0; i < 3; ++i)
            masks[i] = U32(raw + 4 * i);
        infoEnd += 12;
    }
    if (bits == 16 && compression != 3) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (bits == 32 && compression != 3) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    h.red = Channel(masks[0]);
    h.green = Channel(masks[1]);
    h.blue = Channel(masks[2]);

    if (bits <= 8) {
        const std::uint32_t most = 1u << bits;
        if (used > most)
            return ImExp::ErrorInvalidFile;
        h.paletteEntries = static_cast<int>(used ? used : most);
        const int entrySize = infoSize == 12 ? 3 : 4;
        std::uint8_t raw[256 * 4];
        if (!ConvKit::ReadAt(stream, infoEnd, raw, h.paletteEntries * entrySize))
            return ImExp::ErrorUnexpectedEnd;
        for (int i = 0; i < h.paletteEntries; ++i) {
            h.palette[i] = raw[i * entrySize + 2];
            h.palette[256 + i] = raw[i * entrySize + 1];
            h.palette[512 + i] = raw[i * entrySize];
        }
    }
    h.stride = (static_cast<std::int64_t>(h.width) * bits + 31) / 32 * 4;
    int fileSize = 0;
    stream->Seek(0, 2, &fileSize);
    if (h.pixelOffset < infoEnd || h.pixelOffset >= static_cast<std::uint32_t>(fileSize))
        return ImExp::ErrorInvalidFile;
    h.fileSize = fileSize;
    return 0;
}

struct ReadState {
    Header header;
    std::vector<std::uint8_t> rows;
};
ConvKit::StateTable<ReadState> reads;

// Turns one stored row into the band's layout: as stored up to 24 bits, else blue, green, red.
void ConvertRow(const Header& h, const std::uint8_t* in, std::uint8_t* out, std::size_t rowBytes) {
    if (h.bitsPerPixel <= 8 || h.bitsPerPixel == 24) {
        std::memcpy(out, in, rowBytes);
        return;
    }
    const int step = h.bitsPerPixel / 8;
    for (std::int32_t x = 0; x < h.width; ++x, in += step, out += 3) {
        const std::uint32_t pixel = step == 2 ? U16(in) : U32(in);
        out[0] = h.blue.Of(pixel);
        out[1] = h.green.Of(pixel);
        out[2] = h.red.Of(pixel);
    }
}

struct WriteState {
    std::int64_t stride = 0;
    int rowsWritten = 0;
};
ConvKit::StateTable<WriteState> writes;

}  // namespace

FORMGATE_CONVERTER_ENTRY int ConvGetVersion() {
    return ConvKit::kVersion;
}

FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char*) {
    ConvKit::DescribeConverter(record, ImExp::FlagRead | ImExp::FlagWrite | ImExp::FlagCheckFile,
                               0x1 | 0x10 | 0x20 | 0x40 | 0x200, ImExp::WriteResolutionDpcm, "Windows Bitmap",
                               "Windows Bitmap (*.bmp)", ".bmp;.dib");
}

FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char*, char* text) {
    ConvKit::ErrorString(code, kFormat, fileTitle, text);
}

FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char*) {
    return ConvKit::Guard([&]() -> int {
        std::uint8_t magic[2];
        return ConvKit::ReadAt(stream, 0, magic, 2) && magic[0] == 'B' && magic[1] == 'M' ? 1 : 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int, const char*, CONVIMAGEINFO* info) {
    return ConvKit::Guard([&]() -> int {
        Header h;
        if (int code = ReadHeader(stream, h))
            return code;
        std::snprintf(info->formatName, sizeof info->formatName, "%s", "Windows Bitmap");
        info->imageCount = 1;
        info->width = static_cast<std::uint32_t>(h.width);
        info->height = static_cast<std::uint32_t>(h.height);
        info->colourType =
            static_cast<std::uint16_t>(h.bitsPerPixel <= 8 ? ImExp::ColourColorPaletted : ImExp::ColourRgb);
        info->bitsPerPixel = static_cast<std::uint16_t>(std::min(h.bitsPerPixel, 24));
        if (h.xPerMetre && h.yPerMetre) {
            info->resolutionUnit = ImExp::UnitDotsPerCentimetre;
            info->xResolution = (h.xPerMetre + 50) / 100;
            info->yResolution = (h.yPerMetre + 50) / 100;
        }
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        ReadState& state = reads.Create(ctx);
        Header& h = state.header;
        if (int code = ReadHeader(ctx->stream, h))
            return code;
        // Rows are read whole, padding included: a file too short for all of
        // them fails here, before the caller makes room for a picture a
        // forged header may have made gigabytes large.
        if (h.pixelOffset + h.stride * h.height > h.fileSize)
            return ImExp::ErrorUnexpectedEnd;
        ctx->width = static_cast<std::uint32_t>(h.width);
        ctx->height = static_cast<std::uint32_t>(h.height);
        ctx->planes = 1;
        ctx->packed = 1;
        if (h.bitsPerPixel <= 8) {
            ctx->colourType = ImExp::ColourColorPaletted;
            ctx->bitsPerPixel = static_cast<std::uint16_t>(h.bitsPerPixel);
            std::memcpy(ctx->paletteData, h.palette, sizeof h.palette);
        } else {
            ctx->colourType = ImExp::ColourRgb;
            ctx->bitsPerPixel = 24;
            ctx->blueFirst = 1;
        }
        ctx->bytesPerPlaneRow =
            static_cast<std::uint32_t>((static_cast<std::int64_t>(h.width) * ctx->bitsPerPixel + 7) / 8);
        if (h.xPerMetre && h.yPerMetre) {
            ctx->resolutionUnit = ImExp::UnitDotsPerCentimetre;
            ctx->xResolution = static_cast<std::int32_t>((h.xPerMetre + 50) / 100);
            ctx->yResolution = static_cast<std::int32_t>((h.yPerMetre + 50) / 100);
        }
        // Asked for in the order the rows are stored, so each band is one read.
        ConvKit::AskForBands(ctx, h.topDown ? 1 : 2, kRowsPerBand);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDSetupReading(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int { return reads.Find(ctx) ? 0 : ImExp::ErrorGeneral; });
}

FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        ReadState* state = reads.Find(ctx);
        if (!state || !ctx->accessModeInForce || !ConvKit::BandInImage(ctx))
            return ImExp::ErrorGeneral;
        const Header& h = state->header;
        const auto fileRow = [&](int i) {
            const int row = ConvKit::BandRow(ctx, i);
            return h.topDown ? row : h.height - 1 - row;
        };
        const std::size_t rowBytes = ctx->bytesPerPlaneRow;
        const auto stride = static_cast<std::size_t>(h.stride);
        auto* out = static_cast<std::uint8_t*>(band);
        const int rows = ctx->rowsInBand;
        if (stride > (1u << 30))
            return ImExp::ErrorFileTooBig;
        const bool contiguous = fileRow(rows - 1) == fileRow(0) + rows - 1;
        const int chunk = contiguous && stride * static_cast<std::size_t>(rows) <= (1u << 30) ? rows : 1;
        state->rows.resize(stride * static_cast<std::size_t>(chunk));
        for (int i = 0; i < rows; i += chunk) {
            const std::int64_t offset = h.pixelOffset + static_cast<std::int64_t>(fileRow(i)) * h.stride;
            if (!ConvKit::ReadAt(ctx->stream, offset, state->rows.data(), static_cast<int>(stride) * chunk))
                return ImExp::ErrorUnexpectedEnd;
            for (int j = 0; j < chunk; ++j)
                ConvertRow(h, state->rows.data() + stride * static_cast<std::size_t>(j),
                           out + rowBytes * static_cast<std::size_t>(i + j), rowBytes);
        }
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(reads, ctx);
}

FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        const int bits = ctx->bitsPerPixel;
        const bool paletted =
            (ctx->colourType == ImExp::ColourGrayScale || ctx->colourType == ImExp::ColourColorPaletted) &&
            (bits == 1 || bits == 4 || bits == 8);
        const bool colour = ctx->colourType == ImExp::ColourRgb && bits == 24;
        if (!paletted && !colour)
            return ImExp::ErrorUnsupportedSubformat;
        WriteState& state = writes.Create(ctx);
        state.stride = (static_cast<std::int64_t>(ctx->width) * bits + 31) / 32 * 4;
        ctx->planes = 1;
        ctx->packed = 1;
        ctx->blueFirst = 1;
        ctx->bytesPerPlaneRow =
            static_cast<std::uint32_t>((static_cast<std::int64_t>(ctx->width) * bits + 7) / 8);
        ctx->fixedBandHeight = 0;
        // Bottom row first, the order of the file.
        ConvKit::AskForBands(ctx, 2, kRowsPerBand);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRWriteHeader(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        WriteState* state = writes.Find(ctx);
        if (!state)
            return ImExp::ErrorGeneral;
        const int bits = ctx->bitsPerPixel;
        const int entries = bits <= 8 ? 1 << bits : 0;
        const std::int64_t pixelOffset = 14 + 40 + 4 * entries;
        const std::int64_t fileSize = pixelOffset + state->stride * static_cast<std::int64_t>(ctx->height);
        if (fileSize > 0xFFFFFFFFLL || ctx->width > 0x7FFFFFFFu || ctx->height > 0x7FFFFFFFu)
            return ImExp::ErrorFileTooBig;
        std::vector<std::uint8_t> head(static_cast<std::size_t>(pixelOffset), 0);
        head[0] = 'B';
        head[1] = 'M';
        Put32(&head[2], static_cast<std::uint32_t>(fileSize));
        Put32(&head[10], static_cast<std::uint32_t>(pixelOffset));
        std::uint8_t* info = &head[14];
        Put32(info, 40);
        Put32(info + 4, ctx->width);
        Put32(info + 8, ctx->height);
        Put16(info + 12, 1);
        Put16(info + 14, static_cast<std::uint32_t>(bits));
        Put32(info + 20, static_cast<std::uint32_t>(state->stride * ctx->height));
        std::int64_t xppm = 0, yppm = 0;
        if (ctx->resolutionUnit == ImExp::UnitDotsPerCentimetre) {
            xppm = static_cast<std::int64_t>(ctx->xResolution) * 100;
            yppm = static_cast<std::int64_t>(ctx->yResolution) * 100;
        } else if (ctx->resolutionUnit == ImExp::UnitDotsPerInch) {
            xppm = static_cast<std::int64_t>(ctx->xResolution * 10000.0 / 254 + 0.5);
            yppm = static_cast<std::int64_t>(ctx->yResolution * 10000.0 / 254 + 0.5);
        }
        Put32(info + 24, static_cast<std::uint32_t>(std::clamp<std::int64_t>(xppm, 0, INT32_MAX)));
        Put32(info + 28, static_cast<std::uint32_t>(std::clamp<std::int64_t>(yppm, 0, INT32_MAX)));
        Put32(info + 32, static_cast<std::uint32_t>(entries));
        for (int i = 0; i < entries; ++i) {
            const ConvKit::Rgb e = ConvKit::PaletteEntry(ctx, i);
            head[54 + 4 * i] = e.b;
            head[55 + 4 * i] = e.g;
            head[56 + 4 * i] = e.r;
        }
        ctx->stream->Write(head.data(), static_cast<int>(head.size()));
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRWriteBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        WriteState* state = writes.Find(ctx);
        const int height = static_cast<int>(ctx->height);
        // Rows reach the file strictly from the bottom up.
        if (!state || !ConvKit::BandInImage(ctx) || ctx->rowOrder != 2 ||
            ctx->bandStartRow != height - 1 - state->rowsWritten)
            return ImExp::ErrorGeneral;
        const std::size_t rowBytes = ctx->bytesPerPlaneRow;
        const auto stride = static_cast<std::size_t>(state->stride);
        std::vector<std::uint8_t> out(stride * static_cast<std::size_t>(ctx->rowsInBand), 0);
        const auto* in = static_cast<const std::uint8_t*>(band);
        for (int i = 0; i < ctx->rowsInBand; ++i)
            std::memcpy(out.data() + stride * static_cast<std::size_t>(i),
                        in + rowBytes * static_cast<std::size_t>(i), std::min(rowBytes, stride));
        ctx->stream->Write(out.data(), static_cast<int>(out.size()));
        state->rowsWritten += ctx->rowsInBand;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WREndWriting(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        WriteState* state = writes.Find(ctx);
        return state && state->rowsWritten == static_cast<int>(ctx->height) ? 0 : ImExp::ErrorGeneral;
    });
}

FORMGATE_CONVERTER_ENTRY int WRCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(writes, ctx);
}
