#pragma once
// Drives a converter module through its entry points the way libformgate.so
// does, on memory streams, so each plug-in can be checked on its own: a band
// loop for reading and one for writing, in the access mode and row order the
// converter asks for.

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ConverterInterface.h"
#include "Formgate.h"
#include "IOStream.h"

namespace PluginTest {

// Built converters, beside the library that loads them.
inline std::string ConverterPath(const std::string& name) {
    return std::string(CONVERTER_DIR) + "/" + name + ".so";
}

// A stream over bytes in memory, with the library stream's failures: reading
// past the end returns fewer bytes; a write beyond `capacity` throws disk full.
class MemoryStream : public IOStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::size_t capacity = SIZE_MAX;
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    int Read(void* buffer, int count) override {
        if (!buffer || count <= 0)
            return 0;
        const std::size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        const std::size_t n = std::min(left, static_cast<std::size_t>(count));
        if (n == 0)
            return 0;
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        return static_cast<int>(n);
    }
    char ReadByte() override {
        char c = 0;
        Read(&c, 1);
        return c;
    }
    short ReadWord() override {
        short w = 0;
        Read(&w, 2);
        return w;
    }
    int Write(const void* buffer, int count) override {
        if (!buffer || count <= 0)
            return 0;
        if (position_ + static_cast<std::size_t>(count) > capacity)
            throw new CImpExp_FileException(CImpExp_FileException::diskFull, -1, "memory");
        if (position_ + static_cast<std::size_t>(count) > bytes_.size())
            bytes_.resize(position_ + static_cast<std::size_t>(count));
        std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
        position_ += static_cast<std::size_t>(count);
        return count;
    }
    void WriteByte(const void* byte) override { Write(byte, 1); }
    void WriteWord(const void* word) override { Write(word, 2); }
    bool Seek(int distance, int origin, int* newPosition) override {
        const long base = origin == 0   ? 0
                          : origin == 1 ? static_cast<long>(position_)
                                        : static_cast<long>(bytes_.size());
        if (origin < 0 || origin > 2 || base + distance < 0)
            throw new CImpExp_FileException(CImpExp_FileException::badSeek, -1, "memory");
        position_ = static_cast<std::size_t>(base + distance);
        if (newPosition)
            *newPosition = static_cast<int>(position_);
        return true;
    }
    int Tell() override { return static_cast<int>(position_); }
    int Flush() override { return 1; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// One converter module, mapped for the life of the object.
class Plugin {
public:
    explicit Plugin(const std::string& name)
        : handle_(::dlopen(ConverterPath(name).c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Plugin() {
        if (handle_)
            ::dlclose(handle_);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    template <class Function>
    Function* Entry(const char* name) const {
        return handle_ ? reinterpret_cast<Function*>(::dlsym(handle_, name)) : nullptr;
    }

private:
    void* handle_;
};

#define PLUGIN_ENTRY(plugin, name) ((plugin).Entry<decltype(::name)>(#name))

// An image as the converter interface carries it: rows top first, each
// bytesPerRow long, colour samples red first (the harness swaps for converters
// that want blue first), alpha after the colour samples, 16-bit samples in
// host order, pixels below 8 bits packed.
struct Picture {
    int width = 0;
    int height = 0;
    int colourType = ImExp::ColourRgb;
    int bits = 24;  // colour samples only
    std::vector<std::uint8_t> rows;
    std::uint8_t palette[768] = {};  // red, green, blue planes
    int unit = 0;
    int xResolution = 0;
    int yResolution = 0;
    int inverted = 0;

    bool Alpha() const { return colourType == ImExp::ColourGrayAlpha || colourType == ImExp::ColourRgbAlpha; }
    int SamplesPerPixel() const {
        const int colour = colourType == ImExp::ColourRgb || colourType == ImExp::ColourRgbAlpha ? 3 : 1;
        return colour + (Alpha() ? 1 : 0);
    }
    int SampleBits() const { return bits / (SamplesPerPixel() - (Alpha() ? 1 : 0)); }
    std::size_t BytesPerRow() const {
        return (static_cast<std::size_t>(width) * SampleBits() * SamplesPerPixel() + 7) / 8;
    }
    std::uint8_t* Row(int y) { return rows.data() + BytesPerRow() * static_cast<std::size_t>(y); }
    const std::uint8_t* Row(int y) const { return rows.data() + BytesPerRow() * static_cast<std::size_t>(y); }
};

// Exchanges the first and third sample of each pixel (red-first <-> blue-first).
inline void SwapRedBlue(std::uint8_t* row, int width, int samples, int sampleBytes) {
    for (int x = 0; x < width; ++x) {
        std::uint8_t* p = row + static_cast<std::size_t>(x) * samples * sampleBytes;
        for (int b = 0; b < sampleBytes; ++b)
            std::swap(p[b], p[2 * sampleBytes + b]);
    }
}

// Packs one-byte-per-pixel values of `bits` bits, first pixel in the high bits.
inline std::vector<std::uint8_t> Pack(const std::uint8_t* values, int width, int bits) {
    std::vector<std::uint8_t> out((static_cast<std::size_t>(width) * bits + 7) / 8, 0);
    for (int x = 0; x < width; ++x)
        out[static_cast<std::size_t>(x) * bits / 8] |=
            static_cast<std::uint8_t>(values[x] << (8 - bits - (x * bits) % 8));
    return out;
}

struct ReadResult {
    int code = 0;
    Picture picture;
};

// Reads a file through a converter: header, set-up, every band in the order
// the converter asked for, clean-up. Rows come back in Picture's layout.
// Pictures of more than maxPixels are refused after the header as too big.
inline ReadResult ReadThrough(const Plugin& plugin, IOStream& stream, int imageIndex = 0,
                              std::uint64_t maxPixels = UINT64_MAX) {
    ReadResult result;
    auto* header = PLUGIN_ENTRY(plugin, RDReadHeader);
    auto* setup = PLUGIN_ENTRY(plugin, RDSetupReading);
    auto* band = PLUGIN_ENTRY(plugin, RDReadBand);
    auto* cleanUp = PLUGIN_ENTRY(plugin, RDCleanUp);
    if (!header || !setup || !band || !cleanUp) {
        result.code = ImExp::ErrorConverterMissing;
        return result;
    }
    ConverterContext ctx{};
    ctx.fileName = "image";
    ctx.settingsPath = "CONVERT.INI";
    ctx.stream = &stream;
    ctx.palette = ctx.paletteData;
    ctx.imageIndex = static_cast<std::uint16_t>(imageIndex);
    ctx.imageCount = 1;
    stream.Seek(0, 0, nullptr);
    auto finish = [&](int code) {
        cleanUp(&ctx);
        result.code = code;
        return result;
    };
    if (int code = header(&ctx, nullptr, 0))
        return finish(code);
    if (std::uint64_t(ctx.width) * ctx.height > maxPixels)
        return finish(ImExp::ErrorFileTooBig);
    ctx.accessModeInForce = ctx.accessMode == 3 ? ctx.rowOrder : ctx.accessMode;
    ctx.rowsPerBand = std::max(1, ctx.rowsPerBandWanted);
    if (ctx.accessModeInForce == 0)
        return finish(-1);  // our converters let the library drive
    if (int code = setup(&ctx))
        return finish(code);
    const int height = static_cast<int>(ctx.height);
    const std::size_t rowBytes = ctx.bytesPerPlaneRow * ctx.planes;
    std::vector<std::uint8_t> buffer(rowBytes * static_cast<std::size_t>(ctx.rowsPerBand));
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(height));
    const bool up = ctx.rowOrder == 2;
    for (int done = 0; done < height;) {
        ctx.bandStartRow = up ? height - 1 - done : done;
        ctx.rowsInBand = std::min(ctx.rowsPerBand, height - done);
        if (int code = band(&ctx, buffer.data()))
            return finish(code);
        for (int i = 0; i < ctx.rowsInBand; ++i) {
            const int row = up ? ctx.bandStartRow - i : ctx.bandStartRow + i;
            std::memcpy(rows.data() + rowBytes * static_cast<std::size_t>(row),
                        buffer.data() + rowBytes * static_cast<std::size_t>(i), rowBytes);
        }
        done += ctx.rowsInBand;
    }
    Picture& p = result.picture;
    p.width = static_cast<int>(ctx.width);
    p.height = height;
    p.colourType = ctx.colourType;
    p.bits = ctx.bitsPerPixel;
    p.unit = ctx.resolutionUnit;
    p.xResolution = ctx.xResolution;
    p.yResolution = ctx.yResolution;
    p.inverted = ctx.inverted;
    std::memcpy(p.palette, ctx.paletteData, sizeof p.palette);
    const int samples = p.SamplesPerPixel();
    const int sampleBytes = std::max(1, p.SampleBits() / 8);
    const bool unpacked = !ctx.packed && p.bits < 8;
    p.rows.resize(p.BytesPerRow() * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* in = rows.data() + rowBytes * static_cast<std::size_t>(y);
        if (unpacked) {
            const auto packed = Pack(in, p.width, p.bits);
            std::memcpy(p.Row(y), packed.data(), packed.size());
            continue;
        }
        if (ctx.blueFirst && samples >= 3)
            SwapRedBlue(in, p.width, samples, sampleBytes);
        std::memcpy(p.Row(y), in, p.BytesPerRow());
    }
    return finish(0);
}

struct WriteOptions {
    int failAtBand = -1;  // stop with a cancel before this band (-1: never)
};

// Writes a picture through a converter the way the library does: context,
// set-up, header, bands in the converter's order, end, clean-up. Returns the
// first failure's code, or -1 when the band loop was stopped on purpose.
inline int WriteThrough(const Plugin& plugin, IOStream& stream, const Picture& p, WriteOptions options = {}) {
    auto* setup = PLUGIN_ENTRY(plugin, WRSetupWriting);
    auto* header = PLUGIN_ENTRY(plugin, WRWriteHeader);
    auto* band = PLUGIN_ENTRY(plugin, WRWriteBand);
    auto* end = PLUGIN_ENTRY(plugin, WREndWriting);
    auto* cleanUp = PLUGIN_ENTRY(plugin, WRCleanUp);
    if (!setup || !header || !band || !end || !cleanUp)
        return ImExp::ErrorConverterMissing;
    std::uint8_t palette[768];
    std::memcpy(palette, p.palette, sizeof palette);
    ConverterContext ctx{};
    ctx.fileName = "image";
    ctx.settingsPath = "CONVERT.INI";
    ctx.stream = &stream;
    ctx.imageCount = 1;
    ctx.width = static_cast<std::uint32_t>(p.width);
    ctx.height = static_cast<std::uint32_t>(p.height);
    ctx.colourType = static_cast<std::uint16_t>(p.colourType);
    ctx.bitsPerPixel = static_cast<std::uint16_t>(p.bits);
    ctx.planes = 1;
    ctx.bytesPerPlaneRow = static_cast<std::uint32_t>(p.BytesPerRow());
    ctx.packed = 1;
    ctx.writeBitsPerPixel = p.bits;
    ctx.palette = palette;
    ctx.resolutionUnit = static_cast<std::uint16_t>(p.unit);
    ctx.xResolution = p.xResolution;
    ctx.yResolution = p.yResolution;
    ctx.accessMode = 1;
    ctx.rowOrder = 1;
    ctx.rowsPerBandWanted = 1;
    auto finish = [&](int code) {
        cleanUp(&ctx);
        return code;
    };
    if (int code = setup(&ctx, nullptr, 0))
        return finish(code);
    if (ctx.planes != 1 || ctx.bytesPerPlaneRow != p.BytesPerRow() || ctx.accessMode == 0)
        return finish(-2);  // a layout this harness does not produce
    ctx.accessModeInForce = ctx.accessMode == 3 ? ctx.rowOrder : ctx.accessMode;
    ctx.rowsPerBand = std::max(1, ctx.rowsPerBandWanted);
    if (int code = header(&ctx))
        return finish(code);
    const int height = p.height;
    const std::size_t rowBytes = p.BytesPerRow();
    const int samples = p.SamplesPerPixel();
    const int sampleBytes = std::max(1, p.SampleBits() / 8);
    std::vector<std::uint8_t> buffer(rowBytes * static_cast<std::size_t>(ctx.rowsPerBand));
    const bool up = ctx.rowOrder == 2;
    int bandIndex = 0;
    for (int done = 0; done < height; ++bandIndex) {
        if (bandIndex == options.failAtBand)
            return finish(-1);
        ctx.bandStartRow = up ? height - 1 - done : done;
        ctx.rowsInBand = std::min(ctx.rowsPerBand, height - done);
        for (int i = 0; i < ctx.rowsInBand; ++i) {
            const int row = up ? ctx.bandStartRow - i : ctx.bandStartRow + i;
            std::uint8_t* out = buffer.data() + rowBytes * static_cast<std::size_t>(i);
            std::memcpy(out, p.Row(row), rowBytes);
            if (ctx.blueFirst && samples >= 3)
                SwapRedBlue(out, p.width, samples, sampleBytes);
        }
        if (int code = band(&ctx, buffer.data()))
            return finish(code);
        done += ctx.rowsInBand;
    }
    if (int code = end(&ctx))
        return finish(code);
    return finish(0);
}

}  // namespace PluginTest
