// A scriptable converter module for the tests: it reads and writes the small
// ".tcv" format of TestConverterShared.h, takes its shape, band layout and
// injected failures from its section of "CONVERT.INI", and logs every call.
// Variants leave out entry points (TESTCONV_NO_VERSION, TESTCONV_NO_INFO,
// TESTCONV_NO_CLEANUP) or add ConvGetErrorString (TESTCONV_ERROR_STRING).

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "IniFile.h"
#include "TestConverterShared.h"

namespace {

std::string OwnPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

std::string SectionName() {
    return std::filesystem::path(OwnPath()).filename().string();
}

std::string SettingsBesideModule() {
    return (std::filesystem::path(OwnPath()).parent_path() / "CONVERT.INI").string();
}

struct Config {
    explicit Config(const char* settingsPath)
        : ini(settingsPath ? settingsPath : SettingsBesideModule()), section(SectionName()) {}
    std::string Get(const std::string& key, const std::string& def = {}) const {
        return ini.GetString(section, key, def);
    }
    long Number(const std::string& key, long def) const {
        std::string v = Get(key);
        return v.empty() ? def : std::strtol(v.c_str(), nullptr, 0);
    }
    Platform::IniFile ini;
    std::string section;
};

void Log(const Config& config, const std::string& entry, const std::string& details = {}) {
    std::string path = config.Get("Log");
    if (path.empty())
        return;
    if (FILE* f = std::fopen(path.c_str(), "a")) {
        std::fprintf(f, "%s %s%s%s\n", config.section.c_str(), entry.c_str(), details.empty() ? "" : " ",
                     details.c_str());
        std::fclose(f);
    }
}

std::string Format(const char* format, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c, d, e);
    return text;
}

std::map<std::string, int> callCounts;

// Counts the call, logs it, and acts on an injected failure: returns the code
// to return (0 for none) or throws.
int Enter(const Config& config, const std::string& entry, IOStream* stream, const std::string& details = {}) {
    int call = ++callCounts[entry];
    Log(config, entry, details);
    auto fires = [&](const std::string& value) {
        size_t at = value.find('@');
        return at == std::string::npos || std::atoi(value.c_str() + at + 1) == call;
    };
    std::string thrown = config.Get("Throw." + entry);
    if (!thrown.empty() && fires(thrown)) {
        if (thrown.rfind("stream", 0) == 0 && stream)
            stream->Seek(-1000, 0, nullptr);
        throw std::runtime_error("injected by the test converter");
    }
    std::string fail = config.Get("Fail." + entry);
    if (!fail.empty() && fires(fail))
        return std::atoi(fail.c_str());
    return 0;
}

// A ".tcv" file: its keys and its rows (empty: generated).
struct Image {
    std::map<std::string, std::string> keys;
    std::vector<std::uint8_t> data;
    bool valid = false;

    long Number(const std::string& key, long def) const {
        auto it = keys.find(key);
        return it == keys.end() ? def : std::strtol(it->second.c_str(), nullptr, 0);
    }
    std::string Text(const std::string& key) const {
        auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    }
};

Image ReadImage(IOStream* stream) {
    Image image;
    std::string bytes;
    stream->Seek(0, 0, nullptr);
    char buffer[4096];
    for (int n; (n = stream->Read(buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<size_t>(n));
    size_t pos = 0;
    auto nextLine = [&](std::string& line) {
        if (pos >= bytes.size())
            return false;
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        line = bytes.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string line;
    if (!nextLine(line) || line != "TCV")
        return image;
    while (nextLine(line)) {
        if (line == "data") {
            image.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(pos, bytes.size())),
                              bytes.end());
            break;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            image.keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    image.valid = true;
    return image;
}

// State of the one read or write in progress in this mapping of the module.
struct Transfer {
    Image image;
    int rowBytes = 0;
    int delivered = 0;               // rows handed over in the converter-driven modes
    long served = 0;                 // rows handed over in any mode
    std::vector<std::uint8_t> rows;  // written rows, top row first
};
Transfer transfer;

void FillPalette(ConverterContext* ctx, const std::string& kind) {
    int bits = std::min<int>(ctx->bitsPerPixel, 8);
    int last = (1 << bits) - 1;
    for (int i = 0; i < 256; ++i) {
        int grey = std::min(i, last) * 255 / (last ? last : 1);
        std::uint8_t r = static_cast<std::uint8_t>(grey), g = r, b = r;
        if (kind == "invgrey")
            r = g = b = static_cast<std::uint8_t>(255 - grey);
        if (kind == "colour") {
            r = static_cast<std::uint8_t>(i);
            g = static_cast<std::uint8_t>(255 - i);
            b = static_cast<std::uint8_t>(i * 7);
        }
        ctx->paletteData[i] = r;
        ctx->paletteData[256 + i] = g;
        ctx->paletteData[512 + i] = b;
    }
}

// Planes of a row: planar colour with alpha carries the alpha as one plane more.
int StoredPlanes(const ConverterContext* ctx) {
    return ctx->planes + (ctx->planes == 3 && ctx->colourType == 5 ? 1 : 0);
}

// Rows of a band go downwards from the band start, or upwards with row order 2.
int BandRow(const ConverterContext* ctx, int i) {
    return ctx->rowOrder == 2 ? ctx->bandStartRow - i : ctx->bandStartRow + i;
}

bool BandInRange(const ConverterContext* ctx) {
    int height = static_cast<int>(ctx->height);
    if (ctx->rowsInBand < 1)
        return false;
    int first = BandRow(ctx, 0), last = BandRow(ctx, ctx->rowsInBand - 1);
    return first >= 0 && first < height && last >= 0 && last < height;
}

// Chooses the next band itself, as a converter-driven converter does.
void NextBand(ConverterContext* ctx) {
    int height = static_cast<int>(ctx->height);
    int rows = std::max(1, ctx->rowsPerBand);
    ctx->rowsInBand = std::min(rows, height - transfer.delivered);
    ctx->bandStartRow = ctx->rowOrder == 2 ? height - 1 - transfer.delivered : transfer.delivered;
}

}  // namespace

FORMGATE_CONVERTER_ENTRY int TestConvLayout(long* values, int capacity) {
    const long layout[] = TESTCONV_LAYOUT_VALUES;
    int count = static_cast<int>(sizeof layout / sizeof layout[0]);
    for (int i = 0; i < count && i < capacity; ++i)
        values[i] = layout[i];
    return count;
}

#ifndef TESTCONV_NO_VERSION
FORMGATE_CONVERTER_ENTRY int ConvGetVersion() {
    Config config(nullptr);
    Enter(config, "ConvGetVersion", nullptr);
    return static_cast<int>(config.Number("Version", 0x30300));
}
#endif

#ifndef TESTCONV_NO_INFO
FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char* settingsPath) {
    Config config(settingsPath);
    Enter(config, "ConvGetDllInfo", nullptr,
          std::string("settings=") + (settingsPath ? settingsPath : "") + " path=" + record->path);
    record->flags = static_cast<std::uint32_t>(config.Number("Flags", 0x13));
    record->subformatMask = static_cast<std::uint32_t>(config.Number("Mask", 0x200));
    record->writeOptions = static_cast<std::uint16_t>(config.Number("WriteOptions", 4));
    if (config.Number("Garbage", 0)) {
        std::memset(record->path, 'p', sizeof record->path);
        std::memset(record->name, 'n', sizeof record->name);
        std::memset(record->filterDescription, 'f', sizeof record->filterDescription);
        std::memset(record->patterns, 'x', sizeof record->patterns);
        return;
    }
    std::snprintf(record->name, sizeof record->name, "%s",
                  config.Get("Name", "Test " + config.section).c_str());
    std::snprintf(record->filterDescription, sizeof record->filterDescription, "%s",
                  config.Get("Filter", "Test images").c_str());
    std::snprintf(record->patterns, sizeof record->patterns, "%s", config.Get("Patterns", ".tcv").c_str());
}
#endif

FORMGATE_CONVERTER_ENTRY void ConvSetup(void*, const char* settingsPath) {
    Config config(settingsPath);
    Enter(config, "ConvSetup", nullptr);
}

FORMGATE_CONVERTER_ENTRY void ConvAbout(void*) {
    Config config(nullptr);
    Enter(config, "ConvAbout", nullptr);
}

#ifdef TESTCONV_ERROR_STRING
FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char* settingsPath,
                                                 char* text) {
    Config config(settingsPath);
    Enter(config, "ConvGetErrorString", nullptr, Format("code=%ld", code));
    const std::string fixed = config.Get("ErrorText", "\x01");
    if (fixed != "\x01") {
        // An empty value: the converter writes nothing.
        if (!fixed.empty())
            std::snprintf(text, 260, "%s", fixed.c_str());
        return;
    }
    std::snprintf(text, 260, "Test converter error %d in %s", code, fileTitle ? fileTitle : "");
}
#endif

FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char* settingsPath) {
    Config config(settingsPath);
    if (int code = Enter(config, "RDCheckFile", stream))
        return code;
    if (!config.Number("Check", 1))
        return 0;
    char magic[4] = {};
    stream->Seek(0, 0, nullptr);
    return stream->Read(magic, 4) == 4 && std::memcmp(magic, "TCV\n", 4) == 0;
}

FORMGATE_CONVERTER_ENTRY int RDGetImageCount(IOStream* stream, const char* settingsPath, int* count,
                                             int* chooses) {
    Config config(settingsPath);
    if (int code = Enter(config, "RDGetImageCount", stream))
        return code;
    Image image = ReadImage(stream);
    if (!image.valid)
        return 4;
    *count = static_cast<int>(image.Number("images", 1));
    *chooses = static_cast<int>(image.Number("chooses", 0));
    return 0;
}

FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int imageIndex, const char* settingsPath,
                                            CONVIMAGEINFO* info) {
    Config config(settingsPath);
    if (int code = Enter(config, "RDGetImageInfo", stream, Format("image=%ld", imageIndex)))
        return code;
    Image image = ReadImage(stream);
    if (!image.valid)
        return 4;
    std::snprintf(info->formatName, sizeof info->formatName, "%s",
                  image.keys.count("format") ? image.Text("format").c_str() : "TCV");
    std::snprintf(info->compression, sizeof info->compression, "%s", image.Text("compression").c_str());
    info->width = static_cast<std::uint32_t>(image.Number("width", 4));
    info->height = static_cast<std::uint32_t>(image.Number("height", 3));
    info->colourType = static_cast<std::uint16_t>(image.Number("colour", 3));
    info->bitsPerPixel = static_cast<std::uint16_t>(image.Number("bits", 24));
    info->resolutionUnit = static_cast<std::uint16_t>(image.Number("unit", 0));
    info->xResolution = static_cast<std::uint32_t>(image.Number("xres", 0));
    info->yResolution = static_cast<std::uint32_t>(image.Number("yres", 0));
    info->detailsAvailable = static_cast<std::int32_t>(image.Number("details", 0));
    return 0;
}

FORMGATE_CONVERTER_ENTRY int RDShowDetails(IOStream* stream, void*, const char* settingsPath,
                                           CONVIMAGEINFO*) {
    Config config(settingsPath);
    return Enter(config, "RDShowDetails", stream);
}

FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* ctx, char** options, int optionCount) {
    Config config(ctx->settingsPath);
    std::string details = Format("options=%ld", optionCount);
    for (int i = 0; i < optionCount && options; ++i)
        details += std::string(" ") + (options[i] ? options[i] : "");
    if (int code = Enter(config, "RDReadHeader", ctx->stream, details))
        return code;
    transfer = Transfer{};
    transfer.image = ReadImage(ctx->stream);
    const Image& image = transfer.image;
    if (!image.valid)
        return 4;
    ctx->width = static_cast<std::uint32_t>(image.Number("width", 4));
    ctx->height = static_cast<std::uint32_t>(image.Number("height", 3));
    ctx->colourType = static_cast<std::uint16_t>(image.Number("colour", 3));
    ctx->bitsPerPixel = static_cast<std::uint16_t>(image.Number("bits", 24));
    ctx->planes = static_cast<std::uint16_t>(image.Number("planes", 1));
    ctx->packed = static_cast<std::int32_t>(image.Number("packed", 1));
    ctx->inverted = static_cast<std::int32_t>(image.Number("inverted", 0));
    ctx->blueFirst = static_cast<std::int32_t>(image.Number("bluefirst", 0));
    long planeBits = ctx->planes ? ctx->bitsPerPixel / ctx->planes : ctx->bitsPerPixel;
    long defaultBpr = (!ctx->packed && planeBits < 8) ? static_cast<long>(ctx->width)
                                                      : (planeBits * static_cast<long>(ctx->width) + 7) / 8;
    ctx->bytesPerPlaneRow = static_cast<std::uint32_t>(image.Number("bpr", defaultBpr));
    ctx->resolutionUnit = static_cast<std::uint16_t>(image.Number("unit", 0));
    ctx->xResolution = static_cast<std::int32_t>(image.Number("xres", 0));
    ctx->yResolution = static_cast<std::int32_t>(image.Number("yres", 0));
    ctx->accessMode = static_cast<std::uint16_t>(image.Number("access", 1));
    ctx->rowOrder = static_cast<std::uint16_t>(image.Number("order", 1));
    ctx->fixedBandHeight = static_cast<std::uint16_t>(image.Number("fixed", 0));
    ctx->rowsPerBandWanted = static_cast<std::int32_t>(image.Number("rows", 1));
    if (image.keys.count("palette"))
        FillPalette(ctx, image.Text("palette"));
    return 0;
}

FORMGATE_CONVERTER_ENTRY int RDSetupReading(ConverterContext* ctx) {
    Config config(ctx->settingsPath);
    if (int code = Enter(config, "RDSetupReading", ctx->stream,
                         Format("mode=%ld rows=%ld", ctx->accessModeInForce, ctx->rowsPerBand)))
        return code;
    transfer.rowBytes = StoredPlanes(ctx) * static_cast<int>(ctx->bytesPerPlaneRow);
    transfer.delivered = 0;
    return 0;
}

FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* ctx, void* band) {
    Config config(ctx->settingsPath);
    int height = static_cast<int>(ctx->height);
    if (ctx->accessModeInForce == 0) {
        if (transfer.delivered >= height) {
            Log(config, "RDReadBand", "done");
            return 1;
        }
        NextBand(ctx);
        transfer.delivered += ctx->rowsInBand;
    }
    const Image& image = transfer.image;
    // A fixed band height lets the converter choose how many rows it hands over.
    if (ctx->accessModeInForce != 0 && ctx->fixedBandHeight && image.keys.count("bandrows")) {
        int available = ctx->rowOrder == 2 ? ctx->bandStartRow + 1 : height - ctx->bandStartRow;
        ctx->rowsInBand =
            std::min({static_cast<int>(image.Number("bandrows", 1)), available, ctx->rowsPerBand});
    }
    if (int code = Enter(config, "RDReadBand", ctx->stream,
                         Format("start=%ld rows=%ld", ctx->bandStartRow, ctx->rowsInBand)))
        return code;
    // A damaged file: the converter runs out of rows, or reports band positions it never had.
    if (image.keys.count("short") && transfer.served >= image.Number("short", 0))
        return 1;
    if (image.keys.count("liestart") || image.keys.count("lierows")) {
        ctx->bandStartRow = static_cast<std::int32_t>(image.Number("liestart", ctx->bandStartRow));
        ctx->rowsInBand = static_cast<std::int32_t>(image.Number("lierows", ctx->rowsInBand));
        return 0;
    }
    if (!BandInRange(ctx))
        return 4;
    transfer.served += ctx->rowsInBand;
    auto* out = static_cast<std::uint8_t*>(band);
    const int planeBytes = static_cast<int>(ctx->bytesPerPlaneRow);
    for (int i = 0; i < ctx->rowsInBand; ++i) {
        int row = BandRow(ctx, i);
        std::uint8_t* dst = out + static_cast<size_t>(i) * static_cast<size_t>(transfer.rowBytes);
        if (!transfer.image.data.empty()) {
            size_t offset = static_cast<size_t>(row) * static_cast<size_t>(transfer.rowBytes);
            if (offset + static_cast<size_t>(transfer.rowBytes) > transfer.image.data.size())
                return 1;
            std::memcpy(dst, transfer.image.data.data() + offset, static_cast<size_t>(transfer.rowBytes));
            continue;
        }
        for (int p = 0; p < StoredPlanes(ctx); ++p)
            for (int b = 0; b < planeBytes; ++b)
                dst[p * planeBytes + b] = TestConvPixelByte(row, p, b);
    }
    return 0;
}

#ifndef TESTCONV_NO_CLEANUP
FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* ctx) {
    Config config(ctx->settingsPath);
    transfer = Transfer{};
    return Enter(config, "RDCleanUp", ctx->stream);
}
#endif

FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* ctx, char** options, int optionCount) {
    Config config(ctx->settingsPath);
    std::string details = Format("colour=%ld bits=%ld unit=%ld xres=%ld yres=%ld", ctx->colourType,
                                 ctx->bitsPerPixel, ctx->resolutionUnit, ctx->xResolution, ctx->yResolution);
    details += Format(" options=%ld", optionCount);
    for (int i = 0; i < optionCount && options; ++i)
        details += std::string(" ") + (options[i] ? options[i] : "");
    if (int code = Enter(config, "WRSetupWriting", ctx->stream, details))
        return code;
    transfer = Transfer{};
    ctx->accessMode = static_cast<std::uint16_t>(config.Number("Write.access", ctx->accessMode));
    ctx->rowOrder = static_cast<std::uint16_t>(config.Number("Write.order", ctx->rowOrder));
    ctx->fixedBandHeight = static_cast<std::uint16_t>(config.Number("Write.fixed", ctx->fixedBandHeight));
    ctx->rowsPerBandWanted = static_cast<std::int32_t>(config.Number("Write.rows", ctx->rowsPerBandWanted));
    ctx->planes = static_cast<std::uint16_t>(config.Number("Write.planes", ctx->planes));
    ctx->packed = static_cast<std::int32_t>(config.Number("Write.packed", ctx->packed));
    ctx->blueFirst = static_cast<std::int32_t>(config.Number("Write.bluefirst", ctx->blueFirst));
    ctx->bytesPerPlaneRow = static_cast<std::uint32_t>(config.Number("Write.bpr", ctx->bytesPerPlaneRow));
    return 0;
}

FORMGATE_CONVERTER_ENTRY int WRWriteHeader(ConverterContext* ctx) {
    Config config(ctx->settingsPath);
    if (int code = Enter(config, "WRWriteHeader", ctx->stream,
                         Format("mode=%ld rows=%ld", ctx->accessModeInForce, ctx->rowsPerBand)))
        return code;
    transfer.rowBytes = static_cast<int>(ctx->planes * ctx->bytesPerPlaneRow);
    transfer.rows.assign(static_cast<size_t>(ctx->height) * static_cast<size_t>(transfer.rowBytes), 0);
    transfer.delivered = 0;
    if (ctx->accessModeInForce == 0)
        NextBand(ctx);
    return 0;
}

FORMGATE_CONVERTER_ENTRY int WRWriteBand(ConverterContext* ctx, void* band) {
    Config config(ctx->settingsPath);
    if (int code = Enter(config, "WRWriteBand", ctx->stream,
                         Format("start=%ld rows=%ld", ctx->bandStartRow, ctx->rowsInBand)))
        return code;
    if (!BandInRange(ctx) || transfer.rows.empty())
        return 15;
    const auto* in = static_cast<const std::uint8_t*>(band);
    for (int i = 0; i < ctx->rowsInBand; ++i)
        std::memcpy(transfer.rows.data() +
                        static_cast<size_t>(BandRow(ctx, i)) * static_cast<size_t>(transfer.rowBytes),
                    in + static_cast<size_t>(i) * static_cast<size_t>(transfer.rowBytes),
                    static_cast<size_t>(transfer.rowBytes));
    if (ctx->accessModeInForce == 0) {
        transfer.delivered += ctx->rowsInBand;
        if (transfer.delivered >= static_cast<int>(ctx->height))
            return 1;
        NextBand(ctx);
    }
    return 0;
}

FORMGATE_CONVERTER_ENTRY int WREndWriting(ConverterContext* ctx) {
    Config config(ctx->settingsPath);
    if (int code = Enter(config, "WREndWriting", ctx->stream))
        return code;
    std::string header = "TCV\n";
    header += Format("width=%ld\nheight=%ld\ncolour=%ld\nbits=%ld\nplanes=%ld\n", ctx->width, ctx->height,
                     ctx->colourType, ctx->bitsPerPixel, ctx->planes);
    header += Format("bpr=%ld\npacked=%ld\ninverted=%ld\nbluefirst=%ld\n", ctx->bytesPerPlaneRow, ctx->packed,
                     ctx->inverted, ctx->blueFirst);
    header += Format("unit=%ld\nxres=%ld\nyres=%ld\ndata\n", ctx->resolutionUnit, ctx->xResolution,
                     ctx->yResolution);
    ctx->stream->Write(header.data(), static_cast<int>(header.size()));
    if (!transfer.rows.empty())
        ctx->stream->Write(transfer.rows.data(), static_cast<int>(transfer.rows.size()));
    return 0;
}

FORMGATE_CONVERTER_ENTRY int WRCleanUp(ConverterContext* ctx) {
    Config config(ctx->settingsPath);
    transfer = Transfer{};
    return Enter(config, "WRCleanUp", ctx->stream);
}
