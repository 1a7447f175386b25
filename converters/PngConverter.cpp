// The PNG converter over libpng: every PNG colour type and depth is read
// (transparency expanded to an alpha channel, interlaced images whole), and
// grey, paletted, colour and alpha images of 1 to 16 bits per sample are written.
//
// libpng leaves by longjmp: each setjmp sits in a small function whose frame
// holds no C++ object, and the callbacks work on memory only.

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ConverterKit.h"

namespace {

constexpr const char* kFormat = "PNG";
constexpr int kRowsPerBand = 32;

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    ConvKit::SetMessage("%s", message ? message : "");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> file;
    std::size_t position = 0;
    bool truncated = false;
    bool interlaced = false;
    bool twoBitUnpacked = false;  // two-bit pixels one to a byte (the library reports 8 bits then)
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> image;  // the whole image, interlaced files only
    int nextRow = 0;

    ~Reader() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (r->file.size() - r->position < count) {
        r->truncated = true;
        png_error(png, "unexpected end of file");
    }
    std::memcpy(out, r->file.data() + r->position, count);
    r->position += count;
}

// Reads the header and sets the transforms that give the band layout described
// by the context: 16-bit samples in host order, colour blue first, two-bit
// pixels one to a byte, transparency as alpha.
int ReadInfo(Reader* r) {
    if (setjmp(png_jmpbuf(r->png)))
        return r->truncated ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorInvalidFile;
    png_set_read_fn(r->png, r, ReadBytes);
    png_read_info(r->png, r->info);
    const int type = png_get_color_type(r->png, r->info);
    const int depth = png_get_bit_depth(r->png, r->info);
    const bool transparency = png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
    if (transparency) {
        png_set_expand(r->png);
        png_set_tRNS_to_alpha(r->png);
    } else if (depth == 2) {
        png_set_packing(r->png);
        r->twoBitUnpacked = true;
    }
    if (depth == 16)
        png_set_swap(r->png);
    if (type & PNG_COLOR_MASK_COLOR)
        png_set_bgr(r->png);
    r->interlaced = png_set_interlace_handling(r->png) > 1;
    png_read_update_info(r->png, r->info);
    r->rowBytes = png_get_rowbytes(r->png, r->info);
    return 0;
}

int ReadRows(Reader* r, std::uint8_t* out, int rows) {
    if (setjmp(png_jmpbuf(r->png)))
        return r->truncated ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorDecompressor;
    for (int i = 0; i < rows; ++i)
        png_read_row(r->png, out + r->rowBytes * static_cast<std::size_t>(i), nullptr);
    return 0;
}

int ReadWholeImage(Reader* r, png_bytepp rows) {
    if (setjmp(png_jmpbuf(r->png)))
        return r->truncated ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorDecompressor;
    png_read_image(r->png, rows);
    return 0;
}

// Loads the file and reads its header.
int OpenReader(IOStream* stream, Reader& r) {
    r.file = ConvKit::ReadAll(stream);
    if (r.file.size() < 8 || png_sig_cmp(r.file.data(), 0, 8) != 0)
        return r.file.size() < 8 ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorUnknownFormat;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!r.png)
        return ImExp::ErrorNoMemory;
    r.info = png_create_info_struct(r.png);
    if (!r.info)
        return ImExp::ErrorNoMemory;
    return ReadInfo(&r);
}

// The colour type and depth of the converter interface for the transformed rows.
void Describe(const Reader& r, std::uint16_t& colourType, std::uint16_t& bits) {
    const int type = png_get_color_type(r.png, r.info);
    const int depth = r.twoBitUnpacked ? 2 : png_get_bit_depth(r.png, r.info);
    switch (type) {
        case PNG_COLOR_TYPE_GRAY:
            colourType = ImExp::ColourGrayScale;
            bits = static_cast<std::uint16_t>(depth);
            break;
        case PNG_COLOR_TYPE_PALETTE:
            colourType = ImExp::ColourColorPaletted;
            bits = static_cast<std::uint16_t>(depth);
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            colourType = ImExp::ColourGrayAlpha;
            bits = static_cast<std::uint16_t>(depth);
            break;
        case PNG_COLOR_TYPE_RGB:
            colourType = ImExp::ColourRgb;
            bits = static_cast<std::uint16_t>(depth * 3);
            break;
        default:
            colourType = ImExp::ColourRgbAlpha;
            bits = static_cast<std::uint16_t>(depth * 3);
    }
}

void Resolution(const Reader& r, std::uint16_t& unit, std::uint32_t& x, std::uint32_t& y) {
    png_uint_32 px = 0, py = 0;
    int kind = 0;
    if (!png_get_pHYs(r.png, r.info, &px, &py, &kind) || px == 0 || py == 0)
        return;
    if (kind == PNG_RESOLUTION_METER) {
        unit = ImExp::UnitDotsPerCentimetre;
        x = (px + 50) / 100;
        y = (py + 50) / 100;
    } else {
        unit = ImExp::UnitAspectRatio;
        x = px;
        y = py;
    }
}

ConvKit::StateTable<Reader> reads;

struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ConvKit::OutputBuffer out;
    int pngType = 0;
    int depth = 0;
    int nextRow = 0;

    ~Writer() {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    bool Started() const { return png != nullptr; }
};

void WriteBytes(png_structp png, png_bytep data, png_size_t count) {
    auto* w = static_cast<Writer*>(png_get_io_ptr(png));
    if (!w->out.Append(data, count))
        png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

int WriteFailure(Writer* w) {
    return w->out.Failed() ? ImExp::ErrorNoMemory : ConvKit::kErrorLibrary;
}

int StartWriting(Writer* w, ConverterContext* ctx) {
    if (setjmp(png_jmpbuf(w->png)))
        return WriteFailure(w);
    png_set_write_fn(w->png, w, WriteBytes, FlushNothing);
    png_set_IHDR(w->png, w->info, ctx->width, ctx->height, w->depth, w->pngType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (w->pngType == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[256];
        const int entries = 1 << w->depth;
        for (int i = 0; i < entries; ++i) {
            const ConvKit::Rgb e = ConvKit::PaletteEntry(ctx, i);
            palette[i] = {e.r, e.g, e.b};
        }
        png_set_PLTE(w->png, w->info, palette, entries);
    }
    if (ctx->resolutionUnit == ImExp::UnitDotsPerCentimetre && ctx->xResolution > 0 && ctx->yResolution > 0) {
        png_set_pHYs(w->png, w->info, static_cast<png_uint_32>(ctx->xResolution) * 100,
                     static_cast<png_uint_32>(ctx->yResolution) * 100, PNG_RESOLUTION_METER);
    } else if (ctx->resolutionUnit == ImExp::UnitDotsPerInch && ctx->xResolution > 0 &&
               ctx->yResolution > 0) {
        png_set_pHYs(w->png, w->info, static_cast<png_uint_32>(ctx->xResolution / 0.0254 + 0.5),
                     static_cast<png_uint_32>(ctx->yResolution / 0.0254 + 0.5), PNG_RESOLUTION_METER);
    }
    png_write_info(w->png, w->info);
    if (w->depth == 16)
        png_set_swap(w->png);
    if (w->pngType & PNG_COLOR_MASK_COLOR)
        png_set_bgr(w->png);
    return 0;
}

int WriteRows(Writer* w, const std::uint8_t* band, int rows, std::size_t rowBytes) {
    if (setjmp(png_jmpbuf(w->png)))
        return WriteFailure(w);
    for (int i = 0; i < rows; ++i)
        png_write_row(w->png, band + rowBytes * static_cast<std::size_t>(i));
    return 0;
}

int FinishWriting(Writer* w) {
    if (setjmp(png_jmpbuf(w->png)))
        return WriteFailure(w);
    png_write_end(w->png, w->info);
    return 0;
}

ConvKit::StateTable<Writer> writes;

}  // namespace

FORMGATE_CONVERTER_ENTRY int ConvGetVersion() {
    return ConvKit::kVersion;
}

FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char*) {
    ConvKit::DescribeConverter(
        record, ImExp::FlagRead | ImExp::FlagWrite | ImExp::FlagCheckFile,
        0x1 | 0x2 | 0x4 | 0x10 | 0x20 | 0x200 | 0x400 | 0x800 | 0x8000 | 0x10000 | 0x20000 | 0x40000,
        ImExp::WriteResolutionDpcm, "PNG", "Portable Network Graphics (*.png)", ".png");
}

FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char*, char* text) {
    ConvKit::ErrorString(code, kFormat, fileTitle, text);
}

FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char*) {
    return ConvKit::Guard([&]() -> int {
        std::uint8_t signature[8];
        return ConvKit::ReadAt(stream, 0, signature, 8) && png_sig_cmp(signature, 0, 8) == 0 ? 1 : 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int, const char*, CONVIMAGEINFO* info) {
    return ConvKit::Guard([&]() -> int {
        Reader r;
        if (int code = OpenReader(stream, r))
            return code;
        std::snprintf(info->formatName, sizeof info->formatName, "%s", "PNG");
        std::snprintf(info->compression, sizeof info->compression, "%s", "Deflate");
        info->imageCount = 1;
        info->width = png_get_image_width(r.png, r.info);
        info->height = png_get_image_height(r.png, r.info);
        Describe(r, info->colourType, info->bitsPerPixel);
        Resolution(r, info->resolutionUnit, info->xResolution, info->yResolution);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        Reader& r = reads.Create(ctx);
        if (int code = OpenReader(ctx->stream, r))
            return code;
        ctx->width = png_get_image_width(r.png, r.info);
        ctx->height = png_get_image_height(r.png, r.info);
        Describe(r, ctx->colourType, ctx->bitsPerPixel);
        ctx->planes = 1;
        ctx->bytesPerPlaneRow = static_cast<std::uint32_t>(r.rowBytes);
        ctx->packed = r.twoBitUnpacked ? 0 : 1;
        ctx->blueFirst = ctx->colourType == ImExp::ColourRgb || ctx->colourType == ImExp::ColourRgbAlpha;
        if (ctx->colourType == ImExp::ColourColorPaletted) {
            png_colorp palette = nullptr;
            int entries = 0;
            png_get_PLTE(r.png, r.info, &palette, &entries);
            for (int i = 0; i < std::min(entries, 256); ++i) {
                ctx->paletteData[i] = palette[i].red;
                ctx->paletteData[256 + i] = palette[i].green;
                ctx->paletteData[512 + i] = palette[i].blue;
            }
        }
        std::uint32_t x = 0, y = 0;
        Resolution(r, ctx->resolutionUnit, x, y);
        ctx->xResolution = static_cast<std::int32_t>(x);
        ctx->yResolution = static_cast<std::int32_t>(y);
        ConvKit::AskForBands(ctx, 1, kRowsPerBand);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDSetupReading(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        Reader* r = reads.Find(ctx);
        if (!r)
            return ImExp::ErrorGeneral;
        if (!r->interlaced)
            return 0;
        // Interlaced passes cover the whole image, so it is decoded here at once.
        const std::size_t height = ctx->height;
        if (static_cast<std::uint64_t>(r->rowBytes) * height > ConvKit::kWholeImageLimit)
            return ImExp::ErrorFileTooBig;
        r->image.resize(r->rowBytes * height);
        std::vector<png_bytep> rows(height);
        for (std::size_t i = 0; i < height; ++i)
            rows[i] = r->image.data() + r->rowBytes * i;
        return ReadWholeImage(r, rows.data());
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        Reader* r = reads.Find(ctx);
        if (!r || !ConvKit::IsNextBandDownwards(ctx, r->nextRow))
            return ImExp::ErrorGeneral;
        auto* out = static_cast<std::uint8_t*>(band);
        const int rows = ctx->rowsInBand;
        if (r->interlaced) {
            std::memcpy(out, r->image.data() + r->rowBytes * static_cast<std::size_t>(r->nextRow),
                        r->rowBytes * static_cast<std::size_t>(rows));
        } else if (int code = ReadRows(r, out, rows)) {
            return code;
        }
        r->nextRow += rows;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(reads, ctx);
}

FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        const int bits = ctx->bitsPerPixel;
        int type = -1, depth = 0, samples = 1;
        switch (ctx->colourType) {
            case ImExp::ColourGrayScale:
                if (bits == 1 || bits == 4 || bits == 8 || bits == 16)
                    type = PNG_COLOR_TYPE_GRAY, depth = bits;
                break;
            case ImExp::ColourGrayPaletted:
            case ImExp::ColourColorPaletted:
                if (bits == 1 || bits == 4 || bits == 8) {
                    // A grey ramp palette is plain grey.
                    type = ConvKit::IsGreyRamp(ctx, 1 << bits) ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
                    depth = bits;
                }
                break;
            case ImExp::ColourRgb:
                if (bits == 24 || bits == 48)
                    type = PNG_COLOR_TYPE_RGB, depth = bits / 3, samples = 3;
                break;
            case ImExp::ColourGrayAlpha:
                if (bits == 8 || bits == 16)
                    type = PNG_COLOR_TYPE_GRAY_ALPHA, depth = bits, samples = 2;
                break;
            case ImExp::ColourRgbAlpha:
                if (bits == 24 || bits == 48)
                    type = PNG_COLOR_TYPE_RGB_ALPHA, depth = bits / 3, samples = 4;
                break;
            default:
                break;
        }
        if (type < 0)
            return ImExp::ErrorUnsupportedSubformat;
        Writer& w = writes.Create(ctx);
        w.pngType = type;
        w.depth = depth;
        ctx->planes = 1;
        ctx->packed = 1;
        ctx->blueFirst = (type & PNG_COLOR_MASK_COLOR) && type != PNG_COLOR_TYPE_PALETTE ? 1 : 0;
        ctx->bytesPerPlaneRow =
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(ctx->width) * depth * samples + 7) / 8);
        ctx->fixedBandHeight = 0;
        ConvKit::AskForBands(ctx, 1, kRowsPerBand);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRWriteHeader(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        Writer* w = writes.Find(ctx);
        if (!w)
            return ImExp::ErrorGeneral;
        if (ctx->width == 0 || ctx->height == 0 || ctx->width > PNG_UINT_31_MAX ||
            ctx->height > PNG_UINT_31_MAX)
            return ImExp::ErrorFileTooBig;
        w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (!w->png)
            return ImExp::ErrorNoMemory;
        w->info = png_create_info_struct(w->png);
        if (!w->info)
            return ImExp::ErrorNoMemory;
        if (int code = StartWriting(w, ctx))
            return code;
        w->out.FlushTo(ctx->stream);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRWriteBand(ConverterContext* ctx, void* band) {
    return ConvKit::WriteBandDownwards(writes, ctx, band, WriteRows);
}

FORMGATE_CONVERTER_ENTRY int WREndWriting(ConverterContext* ctx) {
    return ConvKit::EndWritingDownwards(writes, ctx, FinishWriting);
}

FORMGATE_CONVERTER_ENTRY int WRCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(writes, ctx);
}
