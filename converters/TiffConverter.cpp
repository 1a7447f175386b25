// The TIFF converter over libtiff: grey (MinIsBlack and MinIsWhite), paletted
// and RGB images of 1 to 16 bits per sample, with or without an alpha sample,
// in strips or tiles, contiguous or planar, any compression libtiff decodes,
// every page of a multi-page file; written as LZW-compressed strips.
//
// libtiff works here on a copy of the file in memory (reading) or builds the
// file in memory (writing, since it seeks back to write its directory), so its
// procedures never touch the stream, which throws.

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ConverterKit.h"

namespace {

constexpr const char* kFormat = "TIFF";
constexpr int kRowsPerBand = 32;

// The file libtiff sees: read from `data`, or built in `bytes`.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* data = nullptr;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    bool writable = false;
    bool failed = false;
    bool errorReported = false;
};

MemoryFile& FileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& f = FileOf(handle);
    if (size < 0)
        return -1;
    const std::uint64_t left = f.position < f.size ? f.size - f.position : 0;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, static_cast<std::uint64_t>(size)));
    if (n)
        std::memcpy(buffer, f.data + f.position, n);
    f.position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryFile& f = FileOf(handle);
    if (!f.writable || size < 0 || f.failed)
        return -1;
    try {
        const std::uint64_t end = f.position + static_cast<std::uint64_t>(size);
        if (end > 0x7FFFFFFF)
            throw std::bad_alloc();  // the stream's int positions end here
        if (end > f.bytes.size())
            f.bytes.resize(static_cast<std::size_t>(end));
    } catch (...) {
        f.failed = true;
        return -1;
    }
    std::memcpy(f.bytes.data() + f.position, buffer, static_cast<std::size_t>(size));
    f.position += static_cast<std::uint64_t>(size);
    f.data = f.bytes.data();
    f.size = f.bytes.size();
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& f = FileOf(handle);
    std::uint64_t base = whence == SEEK_CUR ? f.position : whence == SEEK_END ? f.size : 0;
    f.position = base + offset;
    return f.position;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return FileOf(handle).size;
}

int NoMap(thandle_t, void**, toff_t*) {
    return 0;
}
void NoUnmap(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    char text[160] = {};
    std::vsnprintf(text, sizeof text, format, args);
    ConvKit::SetMessage("%s%s%s", module ? module : "", module ? ": " : "", text);
    static_cast<MemoryFile*>(user)->errorReported = true;
    return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

Tiff Open(MemoryFile& file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &file);
    Tiff tif(TIFFClientOpenExt("image", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                               NoMap, NoUnmap, options));
    TIFFOpenOptionsFree(options);
    return tif;
}

// What one page holds, and how it is delivered: chunky rows, colour red first,
// alpha after the colour samples.
struct Page {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t usedSamples = 1;  // colour samples plus alpha
    bool alpha = false;
    bool minIsWhite = false;
    bool twoBit = false;  // delivered one pixel to a byte
    std::uint16_t colourType = 0;
    std::uint16_t bitsPerPixel = 0;  // colour samples only
    std::uint64_t rowBytes = 0;      // of a delivered row
    std::uint16_t unit = 0;
    std::uint32_t xResolution = 0, yResolution = 0;
    std::string compression;
};

const char* CompressionName(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return "";
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return "CCITT";
        case COMPRESSION_LZW:
            return "LZW";
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG:
            return "JPEG";
        case COMPRESSION_PACKBITS:
            return "PackBits";
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return "Deflate";
        default:
            return "Compressed";
    }
}

// Reads the tags of the current page and decides the layout; 0 or an error code.
int DescribePage(TIFF* tif, Page& p) {
    std::uint16_t format = SAMPLEFORMAT_UINT, extraCount = 0, compression = COMPRESSION_NONE;
    std::uint16_t* extra = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height) || p.width == 0 || p.height == 0 ||
        p.width > ConvKit::kSideLimit || p.height > ConvKit::kSideLimit)
        return ImExp::ErrorInvalidFile;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    p.compression = CompressionName(compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric))
        p.photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (format != SAMPLEFORMAT_UINT)
        return ImExp::ErrorUnsupportedSubformat;
    if (p.photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
        // libtiff converts JPEG-compressed YCbCr to RGB itself.
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        p.photometric = PHOTOMETRIC_RGB;
    }
    const int colourSamples = p.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    p.alpha = extraCount > 0 && p.samples > colourSamples &&
              (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    p.usedSamples = static_cast<std::uint16_t>(colourSamples + (p.alpha ? 1 : 0));
    if (p.samples < colourSamples)
        return ImExp::ErrorInvalidFile;
    if (p.bits < 8 && p.samples != 1)
        return ImExp::ErrorUnsupportedSubformat;
    switch (p.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            p.minIsWhite = p.photometric == PHOTOMETRIC_MINISWHITE;
            if (p.alpha ? (p.bits != 8 && p.bits != 16)
                        : (p.bits != 1 && p.bits != 2 && p.bits != 4 && p.bits != 8 && p.bits != 16))
                return ImExp::ErrorUnsupportedSubformat;
            p.colourType =
                static_cast<std::uint16_t>(p.alpha ? ImExp::ColourGrayAlpha : ImExp::ColourGrayScale);
            break;
        case PHOTOMETRIC_PALETTE:
            if (p.alpha || (p.bits != 1 && p.bits != 2 && p.bits != 4 && p.bits != 8))
                return ImExp::ErrorUnsupportedSubformat;
            p.colourType = ImExp::ColourColorPaletted;
            break;
        case PHOTOMETRIC_RGB:
            if (p.bits != 8 && p.bits != 16)
                return ImExp::ErrorUnsupportedSubformat;
            p.colourType = static_cast<std::uint16_t>(p.alpha ? ImExp::ColourRgbAlpha : ImExp::ColourRgb);
            break;
        default:
            return ImExp::ErrorUnsupportedSubformat;
    }
    p.twoBit = p.bits == 2;
    p.bitsPerPixel = static_cast<std::uint16_t>(p.bits * colourSamples);
    p.rowBytes = p.twoBit ? p.width : (static_cast<std::uint64_t>(p.width) * p.bits * p.usedSamples + 7) / 8;
    if (p.rowBytes > 0x7F00000)
        return ImExp::ErrorFileTooBig;

    float x = 0, y = 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) && x > 0 &&
        y > 0 && x < 1e6f && y < 1e6f) {
        p.unit = unit == RESUNIT_INCH         ? ImExp::UnitDotsPerInch
                 : unit == RESUNIT_CENTIMETER ? ImExp::UnitDotsPerCentimetre
                                              : ImExp::UnitAspectRatio;
        p.xResolution = static_cast<std::uint32_t>(x + 0.5f);
        p.yResolution = static_cast<std::uint32_t>(y + 0.5f);
    }
    return 0;
}

// True when the file ends before its header or its first directory: a file cut short.
bool DirectoryMissing(const MemoryFile& file) {
    if (file.size < 8)
        return true;
    const std::uint8_t* h = file.data;
    const bool little = h[0] == 'I';
    auto number = [&](int at, int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(h[at + (little ? i : bytes - 1 - i)]) << (8 * i);
        return v;
    };
    const bool big = number(2, 2) == 43;
    if (big && file.size < 16)
        return true;
    const std::uint64_t directory = big ? number(8, 8) : number(4, 4);
    return directory >= file.size;
}

// Opens the file in memory at page index; 0 or an error code.
int OpenPage(MemoryFile& file, Tiff& tif, int index) {
    tif = Open(file, "rm");
    if (!tif)
        return DirectoryMissing(file) ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorInvalidFile;
    if (index < 0 || static_cast<tdir_t>(index) >= TIFFNumberOfDirectories(tif.get()))
        return ImExp::ErrorWrongImageNumber;
    if (index > 0 && !TIFFSetDirectory(tif.get(), static_cast<tdir_t>(index)))
        return ImExp::ErrorInvalidFile;
    return 0;
}

bool LooksLikeTiff(const std::uint8_t* m) {
    return (m[0] == 'I' && m[1] == 'I' && (m[2] == 42 || m[2] == 43) && m[3] == 0) ||
           (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && (m[3] == 42 || m[3] == 43));
}

struct Reader {
    MemoryFile file;
    Tiff tif;
    Page page;
    std::vector<std::uint8_t> image;  // whole image when tiled or planar
    std::vector<std::uint8_t> row;    // one stored row
    int nextRow = 0;
};

// Why decoding stopped: data cut off by the end of the file, or damaged.
int DecodeFailure(Reader& r) {
    TIFF* tif = r.tif.get();
    const bool tiled = TIFFIsTiled(tif);
    const std::uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint64_t* offsets = nullptr;
    std::uint64_t* sizes = nullptr;
    if (TIFFGetField(tif, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) &&
        TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &sizes)) {
        for (std::uint32_t i = 0; i < count; ++i)
            if (offsets[i] > r.file.size || sizes[i] > r.file.size - offsets[i])
                return ImExp::ErrorUnexpectedEnd;
    }
    return ImExp::ErrorDecompressor;
}

// Stored samples (chunky, `usedSamples` of `samples` kept) to the delivered row.
void DeliverRow(const Page& p, const std::uint8_t* in, std::uint8_t* out) {
    if (p.bits < 8) {
        if (p.twoBit) {
            for (std::uint32_t x = 0; x < p.width; ++x)
                out[x] = static_cast<std::uint8_t>((in[x / 4] >> (6 - 2 * (x % 4))) & 3);
        } else {
            std::memcpy(out, in, static_cast<std::size_t>(p.rowBytes));
        }
        return;
    }
    const std::size_t sampleBytes = p.bits / 8;
    const std::size_t keep = p.usedSamples * sampleBytes;
    if (p.samples == p.usedSamples)
        std::memcpy(out, in, static_cast<std::size_t>(p.rowBytes));
    else
        for (std::uint32_t x = 0; x < p.width; ++x)
            std::memcpy(out + x * keep, in + x * p.samples * sampleBytes, keep);
    // Grey that runs from white is turned round here for 8 and 16 bits.
    if (p.minIsWhite) {
        if (p.bits == 8)
            for (std::uint32_t x = 0; x < p.width; ++x)
                out[x * p.usedSamples] ^= 0xFF;
        else
            for (std::uint32_t x = 0; x < p.width; ++x) {
                out[x * keep] ^= 0xFF;
                out[x * keep + 1] ^= 0xFF;
            }
    }
}

// Decodes a tiled or planar page into chunky stored rows of `samples` samples.
int DecodeWholePage(Reader& r) {
    TIFF* tif = r.tif.get();
    const Page& p = r.page;
    const bool planar = p.planar == PLANARCONFIG_SEPARATE && p.samples > 1;
    const std::size_t sampleBytes = std::max<std::size_t>(p.bits / 8, 1);
    const std::uint64_t storedRow = (static_cast<std::uint64_t>(p.width) * p.bits * p.samples + 7) / 8;
    if (planar && p.bits < 8)
        return ImExp::ErrorUnsupportedSubformat;
    if (storedRow * p.height > ConvKit::kWholeImageLimit)
        return ImExp::ErrorFileTooBig;
    r.image.assign(static_cast<std::size_t>(storedRow * p.height), 0);
    const tmsize_t pieceSize = TIFFIsTiled(tif) ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (pieceSize <= 0)
        return ImExp::ErrorInvalidFile;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(pieceSize));
    std::uint32_t tileWidth = p.width, tileHeight = 0;
    if (TIFFIsTiled(tif)) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &tileHeight);
        tileHeight = std::min(tileHeight, p.height);
    }
    if (tileWidth == 0 || tileHeight == 0)
        return ImExp::ErrorInvalidFile;
    const int planes = planar ? p.samples : 1;
    const std::uint64_t pieceRow = planar
                                       ? static_cast<std::uint64_t>(tileWidth) * sampleBytes
                                       : (static_cast<std::uint64_t>(tileWidth) * p.bits * p.samples + 7) / 8;
    for (int s = 0; s < planes; ++s)
        for (std::uint32_t y0 = 0; y0 < p.height; y0 += tileHeight)
            for (std::uint32_t x0 = 0; x0 < p.width; x0 += tileWidth) {
                const tmsize_t got =
                    TIFFIsTiled(tif)
                        ? TIFFReadTile(tif, piece.data(), x0, y0, 0, static_cast<std::uint16_t>(s))
                        : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, static_cast<std::uint16_t>(s)),
                                               piece.data(), pieceSize);
                if (got < 0)
                    return DecodeFailure(r);
                const std::uint32_t w = std::min(tileWidth, p.width - x0);
                const std::uint32_t h = std::min(tileHeight, p.height - y0);
                for (std::uint32_t y = 0; y < h; ++y) {
                    const std::uint8_t* in = piece.data() + y * pieceRow;
                    std::uint8_t* out = r.image.data() + (y0 + y) * storedRow;
                    if (!planar) {
                        // Tiles of packed pixels start on whole bytes only when x0 does.
                        const std::uint64_t from = static_cast<std::uint64_t>(x0) * p.bits * p.samples / 8;
                        const std::uint64_t bytes =
                            (static_cast<std::uint64_t>(w) * p.bits * p.samples + 7) / 8;
                        std::memcpy(out + from, in,
                                    static_cast<std::size_t>(std::min(bytes, storedRow - from)));
                    } else {
                        for (std::uint32_t x = 0; x < w; ++x)
                            std::memcpy(out + ((x0 + x) * p.samples + s) * sampleBytes, in + x * sampleBytes,
                                        sampleBytes);
                    }
                }
            }
    return 0;
}

ConvKit::StateTable<Reader> reads;

struct Writer {
    MemoryFile file;
    Tiff tif;
    int nextRow = 0;
    std::uint16_t samples = 1;
};

ConvKit::StateTable<Writer> writes;

}  // namespace

FORMGATE_CONVERTER_ENTRY int ConvGetVersion() {
    return ConvKit::kVersion;
}

FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char*) {
    ConvKit::DescribeConverter(
        record, ImExp::FlagRead | ImExp::FlagWrite | ImExp::FlagCheckFile | ImExp::FlagSeveralImages,
        0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400 | 0x800 | 0x8000 | 0x10000 |
            0x20000 | 0x40000,
        ImExp::WriteResolutionDpi, "TIFF", "TIFF (*.tif;*.tiff)", ".tif;.tiff");
}

FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char*, char* text) {
    ConvKit::ErrorString(code, kFormat, fileTitle, text);
}

FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char*) {
    return ConvKit::Guard([&]() -> int {
        std::uint8_t magic[4];
        return ConvKit::ReadAt(stream, 0, magic, 4) && LooksLikeTiff(magic) ? 1 : 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDGetImageCount(IOStream* stream, const char*, int* count, int* chooses) {
    return ConvKit::Guard([&]() -> int {
        MemoryFile file;
        const std::vector<std::uint8_t> bytes = ConvKit::ReadAll(stream);
        file.data = bytes.data();
        file.size = bytes.size();
        Tiff tif = Open(file, "rm");
        if (!tif)
            return ImExp::ErrorInvalidFile;
        *count = static_cast<int>(TIFFNumberOfDirectories(tif.get()));
        *chooses = 0;
        return *count > 0 ? 0 : ImExp::ErrorNoImages;
    });
}

FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int imageIndex, const char*,
                                            CONVIMAGEINFO* info) {
    return ConvKit::Guard([&]() -> int {
        MemoryFile file;
        const std::vector<std::uint8_t> bytes = ConvKit::ReadAll(stream);
        file.data = bytes.data();
        file.size = bytes.size();
        Tiff tif;
        if (int code = OpenPage(file, tif, imageIndex))
            return code;
        Page p;
        if (int code = DescribePage(tif.get(), p))
            return code;
        std::snprintf(info->formatName, sizeof info->formatName, "%s", "TIFF");
        std::snprintf(info->compression, sizeof info->compression, "%s", p.compression.c_str());
        info->imageCount =
            static_cast<std::uint16_t>(std::min<int>(TIFFNumberOfDirectories(tif.get()), 0xFFFF));
        info->imageIndex = static_cast<std::uint16_t>(imageIndex);
        info->width = p.width;
        info->height = p.height;
        info->colourType = p.colourType;
        info->bitsPerPixel = p.bitsPerPixel;
        info->resolutionUnit = p.unit;
        info->xResolution = p.xResolution;
        info->yResolution = p.yResolution;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        Reader& r = reads.Create(ctx);
        r.file.bytes = ConvKit::ReadAll(ctx->stream);
        r.file.data = r.file.bytes.data();
        r.file.size = r.file.bytes.size();
        if (int code = OpenPage(r.file, r.tif, ctx->imageIndex))
            return code;
        Page& p = r.page;
        if (int code = DescribePage(r.tif.get(), p))
            return code;
        ctx->width = p.width;
        ctx->height = p.height;
        ctx->colourType = p.colourType;
        ctx->bitsPerPixel = p.bitsPerPixel;
        ctx->planes = 1;
        ctx->bytesPerPlaneRow = static_cast<std::uint32_t>(p.rowBytes);
        ctx->packed = p.twoBit ? 0 : 1;
        // Below 8 bits the library turns white-is-zero round; 8 and 16 bits come turned already.
        ctx->inverted = p.minIsWhite && p.bits < 8 ? 1 : 0;
        ctx->blueFirst = 0;
        if (p.photometric == PHOTOMETRIC_PALETTE) {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (!TIFFGetField(r.tif.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
                return ImExp::ErrorInvalidFile;
            const int entries = 1 << p.bits;
            // Some writers store 8-bit values in the 16-bit map.
            bool eightBit = true;
            for (int i = 0; i < entries; ++i)
                eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
            const int shift = eightBit ? 0 : 8;
            for (int i = 0; i < entries; ++i) {
                ctx->paletteData[i] = static_cast<std::uint8_t>(red[i] >> shift);
                ctx->paletteData[256 + i] = static_cast<std::uint8_t>(green[i] >> shift);
                ctx->paletteData[512 + i] = static_cast<std::uint8_t>(blue[i] >> shift);
            }
        }
        ctx->resolutionUnit = p.unit;
        ctx->xResolution = static_cast<std::int32_t>(p.xResolution);
        ctx->yResolution = static_cast<std::int32_t>(p.yResolution);
        ConvKit::AskForBands(ctx, 1, kRowsPerBand);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDSetupReading(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        Reader* r = reads.Find(ctx);
        if (!r || !r->tif)
            return ImExp::ErrorGeneral;
        const Page& p = r->page;
        if (TIFFIsTiled(r->tif.get()) || (p.planar == PLANARCONFIG_SEPARATE && p.samples > 1))
            return DecodeWholePage(*r);
        const tmsize_t stored = TIFFScanlineSize(r->tif.get());
        if (stored <= 0)
            return ImExp::ErrorInvalidFile;
        r->row.assign(static_cast<std::size_t>(stored), 0);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        Reader* r = reads.Find(ctx);
        if (!r || !ConvKit::IsNextBandDownwards(ctx, r->nextRow))
            return ImExp::ErrorGeneral;
        const Page& p = r->page;
        auto* out = static_cast<std::uint8_t*>(band);
        const std::uint64_t storedRow = (static_cast<std::uint64_t>(p.width) * p.bits * p.samples + 7) / 8;
        for (int i = 0; i < ctx->rowsInBand; ++i) {
            const int row = r->nextRow + i;
            const std::uint8_t* in = nullptr;
            if (!r->image.empty()) {
                in = r->image.data() + static_cast<std::size_t>(storedRow) * static_cast<std::size_t>(row);
            } else {
                if (TIFFReadScanline(r->tif.get(), r->row.data(), static_cast<std::uint32_t>(row), 0) != 1)
                    return DecodeFailure(*r);
                in = r->row.data();
            }
            DeliverRow(p, in, out + static_cast<std::size_t>(p.rowBytes) * static_cast<std::size_t>(i));
        }
        r->nextRow += ctx->rowsInBand;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(reads, ctx);
}

FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        const int bits = ctx->bitsPerPixel;
        int samples = 0;
        switch (ctx->colourType) {
            case ImExp::ColourGrayScale:
            case ImExp::ColourGrayPaletted:
            case ImExp::ColourColorPaletted:
                samples = bits == 1 || bits == 4 || bits == 8 || (bits == 16 && ctx->colourType == 0) ? 1 : 0;
                break;
            case ImExp::ColourRgb:
                samples = bits == 24 || bits == 48 ? 3 : 0;
                break;
            case ImExp::ColourGrayAlpha:
                samples = bits == 8 || bits == 16 ? 2 : 0;
                break;
            case ImExp::ColourRgbAlpha:
                samples = bits == 24 || bits == 48 ? 4 : 0;
                break;
            default:
                break;
        }
        if (samples == 0)
            return ImExp::ErrorUnsupportedSubformat;
        Writer& w = writes.Create(ctx);
        w.samples = static_cast<std::uint16_t>(samples);
        const int perSample = samples >= 3 ? bits / 3 : bits;
        ctx->planes = 1;
        ctx->packed = 1;
        ctx->blueFirst = 0;
        ctx->bytesPerPlaneRow = static_cast<std::uint32_t>(
            (static_cast<std::uint64_t>(ctx->width) * perSample * samples + 7) / 8);
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
        w->file.writable = true;
        w->tif = Open(w->file, "w");
        if (!w->tif)
            return w->file.failed ? ImExp::ErrorNoMemory : ConvKit::kErrorLibrary;
        TIFF* tif = w->tif.get();
        const int bits = ctx->bitsPerPixel;
        const int perSample = w->samples >= 3 ? bits / 3 : bits;
        const bool colour = w->samples >= 3;
        const bool paletted =
            ctx->colourType == ImExp::ColourGrayPaletted || ctx->colourType == ImExp::ColourColorPaletted;
        // A grey ramp palette is plain grey.
        const bool writePalette = paletted && !ConvKit::IsGreyRamp(ctx, 1 << bits);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, ctx->width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, ctx->height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, perSample);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, w->samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     colour         ? PHOTOMETRIC_RGB
                     : writePalette ? PHOTOMETRIC_PALETTE
                                    : PHOTOMETRIC_MINISBLACK);
        if (w->samples == 2 || w->samples == 4) {
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        if (writePalette) {
            std::vector<std::uint16_t> map(3 * 256, 0);
            for (int i = 0; i < (1 << bits); ++i) {
                const ConvKit::Rgb e = ConvKit::PaletteEntry(ctx, i);
                map[i] = static_cast<std::uint16_t>(e.r * 257);
                map[256 + i] = static_cast<std::uint16_t>(e.g * 257);
                map[512 + i] = static_cast<std::uint16_t>(e.b * 257);
            }
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
        }
        if ((ctx->resolutionUnit == ImExp::UnitDotsPerInch ||
             ctx->resolutionUnit == ImExp::UnitDotsPerCentimetre) &&
            ctx->xResolution > 0 && ctx->yResolution > 0) {
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT,
                         ctx->resolutionUnit == ImExp::UnitDotsPerInch ? RESUNIT_INCH : RESUNIT_CENTIMETER);
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(ctx->xResolution));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(ctx->yResolution));
        }
        return w->file.errorReported ? ConvKit::kErrorLibrary : 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRWriteBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        Writer* w = writes.Find(ctx);
        if (!w || !w->tif || !ConvKit::IsNextBandDownwards(ctx, w->nextRow))
            return ImExp::ErrorGeneral;
        auto* in = static_cast<std::uint8_t*>(band);
        for (int i = 0; i < ctx->rowsInBand; ++i) {
            std::uint8_t* row =
                in + static_cast<std::size_t>(ctx->bytesPerPlaneRow) * static_cast<std::size_t>(i);
            if (TIFFWriteScanline(w->tif.get(), row, static_cast<std::uint32_t>(w->nextRow + i), 0) != 1)
                return w->file.failed ? ImExp::ErrorNoMemory : ConvKit::kErrorLibrary;
        }
        w->nextRow += ctx->rowsInBand;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WREndWriting(ConverterContext* ctx) {
    return ConvKit::Guard([&]() -> int {
        Writer* w = writes.Find(ctx);
        if (!w || !w->tif || w->nextRow != static_cast<int>(ctx->height))
            return ImExp::ErrorGeneral;
        // TIFFClose cannot report a failure, so the directory is written and checked first.
        const bool written = TIFFWriteDirectory(w->tif.get()) == 1;
        w->tif.reset();
        if (!written || w->file.failed || w->file.errorReported)
            return w->file.failed ? ImExp::ErrorNoMemory : ConvKit::kErrorLibrary;
        ConvKit::WriteAll(ctx->stream, w->file.bytes.data(), w->file.bytes.size());
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int WRCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(writes, ctx);
}
