// The JPEG converter over libjpeg-turbo: grey and colour (YCbCr or RGB) files
// are read, baseline or progressive; 8-bit grey and 24-bit colour are written
// as JFIF, with the quality the converter's set-up box keeps ([JPEG]
// Quality=1..100): in the user's own settings of the library's converters,
// since the settings file beside an installed library is not the user's to
// write; the one beside the library still gives a default, else 90.
//
// libjpeg leaves by longjmp: each setjmp sits in a small function whose frame
// holds no C++ object, and the source and destination work on memory only.

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <jpeglib.h>
// After jpeglib.h: its configuration decides which message codes exist.
#include <jerror.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ConverterKit.h"
#include "IniFile.h"

namespace {

// The library loads and unloads a converter for each operation; the Qt
// libraries this one links must stay, or their static state is torn down and
// built again each time (and leaks a little at every round).
const bool g_qtPinned = [] {
    void* widgets = ::dlopen("libQt6Widgets.so.6", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return widgets != nullptr;
}();

constexpr const char* kFormat = "JPEG";
constexpr int kRowsPerBand = 32;
constexpr int kQuality = 90;
constexpr const char* kQualityKey = "Quality";

// "$XDG_CONFIG_HOME/Formgate/CONVERT.INI", or under ~/.config; "" without either.
std::string UserSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && config[0] == '/')
        folder = config;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        folder = std::string(home) + "/.config";
    return folder.empty() ? std::string() : folder + "/Formgate/CONVERT.INI";
}

int StoredQuality(const char* settingsPath) {
    int quality = kQuality;
    if (settingsPath && *settingsPath)
        quality = Platform::IniFile(settingsPath).GetInt(kFormat, kQualityKey, quality);
    if (const std::string user = UserSettingsPath(); !user.empty())
        quality = Platform::IniFile(user).GetInt(kFormat, kQualityKey, quality);
    return std::clamp(quality, 1, 100);
}

void StoreQuality(int quality) {
    const std::string user = UserSettingsPath();
    if (user.empty())
        return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(user).parent_path(), error);
    Platform::IniFile(user).WriteInt(kFormat, kQualityKey, quality);
}

struct ErrorManager {
    jpeg_error_mgr base;  // first, so the library's pointer to it is a pointer to us
    std::jmp_buf jump;
    int code;  // what the failure means for the library
};

ErrorManager& Errors(j_common_ptr info) {
    return *reinterpret_cast<ErrorManager*>(info->err);
}

[[noreturn]] void Leave(j_common_ptr info, int code) {
    char text[JMSG_LENGTH_MAX] = {};
    info->err->format_message(info, text);
    ConvKit::SetMessage("%s", text);
    Errors(info).code = code;
    std::longjmp(Errors(info).jump, 1);
}

[[noreturn]] void OnError(j_common_ptr info) {
    int code = ConvKit::kErrorLibrary;
    switch (info->err->msg_code) {
        case JERR_OUT_OF_MEMORY:
            code = ImExp::ErrorNoMemory;
            break;
        case JERR_NO_SOI:
        case JERR_SOI_DUPLICATE:
        case JERR_BAD_LENGTH:
        case JERR_IMAGE_TOO_BIG:
        case JERR_EMPTY_IMAGE:
        case JERR_BAD_PRECISION:
        case JERR_BAD_COMPONENT_ID:
        case JERR_COMPONENT_COUNT:
        case JERR_SOF_NO_SOS:
        case JERR_SOF_DUPLICATE:
            code = ImExp::ErrorInvalidFile;
            break;
        case JERR_SOF_UNSUPPORTED:
        case JERR_CONVERSION_NOTIMPL:
        case JERR_BAD_J_COLORSPACE:
            code = ImExp::ErrorUnsupportedSubformat;
            break;
        default:
            // Damage inside the compressed data: bad Huffman tables, coefficients, markers.
            if (info->is_decompressor)
                code = ImExp::ErrorDecompressor;
            break;
    }
    Leave(info, code);
}

// A file that ends early or whose entropy-coded data are damaged would be
// completed with grey by the library; both end the read instead.
void OnMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
            Leave(info, ImExp::ErrorUnexpectedEnd);
        case JWRN_HIT_MARKER:
        case JWRN_MUST_RESYNC:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION:
            Leave(info, ImExp::ErrorDecompressor);
        default:
            return;
    }
}

void Silent(j_common_ptr) {}

void InstallErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    errors.base.output_message = Silent;
    errors.code = 0;
}

struct Reader {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    bool created = false;
    bool started = false;
    std::vector<std::uint8_t> file;
    int nextRow = 0;

    Reader() {
        InstallErrors(errors);
        info.err = &errors.base;
    }
    ~Reader() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

int ReadHeader(Reader* r) {
    if (setjmp(r->errors.jump))
        return r->errors.code;
    r->created = true;
    jpeg_create_decompress(&r->info);
    jpeg_mem_src(&r->info, r->file.data(), static_cast<unsigned long>(r->file.size()));
    if (jpeg_read_header(&r->info, TRUE) != JPEG_HEADER_OK)
        return ImExp::ErrorInvalidFile;
    return 0;
}

int StartReading(Reader* r) {
    if (setjmp(r->errors.jump))
        return r->errors.code;
    r->info.out_color_space = r->info.num_components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&r->info);
    r->started = true;
    return 0;
}

int ReadRows(Reader* r, std::uint8_t* out, int rows, std::size_t rowBytes) {
    if (setjmp(r->errors.jump))
        return r->errors.code;
    for (int i = 0; i < rows; ++i) {
        JSAMPROW row = out + rowBytes * static_cast<std::size_t>(i);
        if (jpeg_read_scanlines(&r->info, &row, 1) != 1)
            return ImExp::ErrorUnexpectedEnd;
    }
    return 0;
}

// Loads the file, reads its header and checks that it is grey or colour.
int OpenReader(IOStream* stream, Reader& r) {
    r.file = ConvKit::ReadAll(stream);
    if (r.file.size() < 3 || r.file[0] != 0xFF || r.file[1] != 0xD8)
        return r.file.size() < 3 ? ImExp::ErrorUnexpectedEnd : ImExp::ErrorUnknownFormat;
    if (int code = ReadHeader(&r))
        return code;
    const bool grey = r.info.num_components == 1;
    const bool colour = r.info.num_components == 3 &&
                        (r.info.jpeg_color_space == JCS_YCbCr || r.info.jpeg_color_space == JCS_RGB);
    return grey || colour ? 0 : ImExp::ErrorUnsupportedSubformat;
}

void Resolution(const Reader& r, std::uint16_t& unit, std::uint32_t& x, std::uint32_t& y) {
    if (!r.info.saw_JFIF_marker || r.info.X_density == 0 || r.info.Y_density == 0)
        return;
    unit = r.info.density_unit == 1   ? ImExp::UnitDotsPerInch
           : r.info.density_unit == 2 ? ImExp::UnitDotsPerCentimetre
                                      : ImExp::UnitAspectRatio;
    x = r.info.X_density;
    y = r.info.Y_density;
}

ConvKit::StateTable<Reader> reads;

// The compressed bytes go to a buffer of our own that the entry points flush to the stream.
struct Writer {
    jpeg_compress_struct info{};
    ErrorManager errors{};
    jpeg_destination_mgr destination{};
    bool created = false;
    std::uint8_t chunk[1 << 16];
    ConvKit::OutputBuffer out;
    int nextRow = 0;
    int quality = kQuality;

    Writer() {
        InstallErrors(errors);
        info.err = &errors.base;
    }
    ~Writer() {
        if (created)
            jpeg_destroy_compress(&info);
    }
    bool Started() const { return created; }
};

Writer& WriterOf(j_compress_ptr info) {
    return *static_cast<Writer*>(info->client_data);
}

void InitDestination(j_compress_ptr info) {
    Writer& w = WriterOf(info);
    w.destination.next_output_byte = w.chunk;
    w.destination.free_in_buffer = sizeof w.chunk;
}

boolean EmptyOutput(j_compress_ptr info) {
    Writer& w = WriterOf(info);
    if (!w.out.Append(w.chunk, sizeof w.chunk))
        ERREXIT(info, JERR_OUT_OF_MEMORY);
    InitDestination(info);
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    Writer& w = WriterOf(info);
    if (!w.out.Append(w.chunk, sizeof w.chunk - w.destination.free_in_buffer))
        ERREXIT(info, JERR_OUT_OF_MEMORY);
}

int StartWriting(Writer* w, ConverterContext* ctx) {
    if (setjmp(w->errors.jump))
        return w->errors.code;
    w->created = true;
    jpeg_create_compress(&w->info);
    w->info.client_data = w;
    w->destination.init_destination = InitDestination;
    w->destination.empty_output_buffer = EmptyOutput;
    w->destination.term_destination = TermDestination;
    w->info.dest = &w->destination;
    const bool colour = ctx->colourType == ImExp::ColourRgb;
    w->info.image_width = ctx->width;
    w->info.image_height = ctx->height;
    w->info.input_components = colour ? 3 : 1;
    w->info.in_color_space = colour ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(&w->info);
    jpeg_set_quality(&w->info, w->quality, TRUE);
    if ((ctx->resolutionUnit == ImExp::UnitDotsPerInch ||
         ctx->resolutionUnit == ImExp::UnitDotsPerCentimetre) &&
        ctx->xResolution > 0 && ctx->yResolution > 0) {
        w->info.density_unit = ctx->resolutionUnit == ImExp::UnitDotsPerInch ? 1 : 2;
        w->info.X_density = static_cast<UINT16>(std::min(ctx->xResolution, 65535));
        w->info.Y_density = static_cast<UINT16>(std::min(ctx->yResolution, 65535));
    }
    jpeg_start_compress(&w->info, TRUE);
    return 0;
}

int WriteRows(Writer* w, const std::uint8_t* band, int rows, std::size_t rowBytes) {
    if (setjmp(w->errors.jump))
        return w->errors.code;
    for (int i = 0; i < rows; ++i) {
        JSAMPROW row = const_cast<JSAMPROW>(band + rowBytes * static_cast<std::size_t>(i));
        jpeg_write_scanlines(&w->info, &row, 1);
    }
    return 0;
}

int FinishWriting(Writer* w) {
    if (setjmp(w->errors.jump))
        return w->errors.code;
    jpeg_finish_compress(&w->info);
    return 0;
}

ConvKit::StateTable<Writer> writes;

}  // namespace

FORMGATE_CONVERTER_ENTRY int ConvGetVersion() {
    return ConvKit::kVersion;
}

FORMGATE_CONVERTER_ENTRY void ConvGetDllInfo(ConverterRecord* record, const char*) {
    ConvKit::DescribeConverter(record,
                               ImExp::FlagRead | ImExp::FlagWrite | ImExp::FlagCheckFile | ImExp::FlagSetup,
                               0x4 | 0x200, ImExp::WriteResolutionDpi, "JPEG", "JPEG (*.jpg;*.jpeg)",
                               ".jpg;.jpeg;.jpe;.jfif");
}

// The set-up box: the quality of the files written from now on. Shown only
// inside a program that runs a Qt user interface.
FORMGATE_CONVERTER_ENTRY void ConvSetup(void* owner, const char* settingsPath) {
    ConvKit::Guard([&]() -> int {
        if (!settingsPath || !qobject_cast<QApplication*>(QCoreApplication::instance()))
            return 0;
        QDialog dialog(static_cast<QWidget*>(owner));
        dialog.setObjectName(QStringLiteral("JpegOptions"));
        dialog.setWindowTitle(QStringLiteral("JPEG Options"));
        auto* label = new QLabel(QStringLiteral("&Quality:"), &dialog);
        auto* slider = new QSlider(Qt::Horizontal, &dialog);
        auto* value = new QSpinBox(&dialog);
        slider->setRange(1, 100);
        value->setRange(1, 100);
        value->setObjectName(QStringLiteral("quality"));
        slider->setMinimumWidth(200);
        label->setBuddy(value);
        QObject::connect(slider, &QSlider::valueChanged, value, &QSpinBox::setValue);
        QObject::connect(value, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        value->setValue(StoredQuality(settingsPath));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addWidget(slider, 1);
        row->addWidget(value);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addLayout(row);
        layout->addWidget(buttons);
        if (dialog.exec() == QDialog::Accepted)
            StoreQuality(value->value());
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY void ConvGetErrorString(int code, const char* fileTitle, const char*, char* text) {
    ConvKit::ErrorString(code, kFormat, fileTitle, text);
}

FORMGATE_CONVERTER_ENTRY int RDCheckFile(IOStream* stream, const char*) {
    return ConvKit::Guard([&]() -> int {
        std::uint8_t magic[3];
        return ConvKit::ReadAt(stream, 0, magic, 3) && magic[0] == 0xFF && magic[1] == 0xD8 &&
                       magic[2] == 0xFF
                   ? 1
                   : 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDGetImageInfo(IOStream* stream, int, const char*, CONVIMAGEINFO* info) {
    return ConvKit::Guard([&]() -> int {
        Reader r;
        if (int code = OpenReader(stream, r))
            return code;
        std::snprintf(info->formatName, sizeof info->formatName, "%s", "JPEG");
        std::snprintf(info->compression, sizeof info->compression, "%s",
                      r.info.progressive_mode ? "JPEG progressive" : "JPEG baseline");
        info->imageCount = 1;
        info->width = r.info.image_width;
        info->height = r.info.image_height;
        const bool grey = r.info.num_components == 1;
        info->colourType = static_cast<std::uint16_t>(grey ? ImExp::ColourGrayScale : ImExp::ColourRgb);
        info->bitsPerPixel = grey ? 8 : 24;
        Resolution(r, info->resolutionUnit, info->xResolution, info->yResolution);
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadHeader(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        Reader& r = reads.Create(ctx);
        if (int code = OpenReader(ctx->stream, r))
            return code;
        const bool grey = r.info.num_components == 1;
        ctx->width = r.info.image_width;
        ctx->height = r.info.image_height;
        ctx->colourType = static_cast<std::uint16_t>(grey ? ImExp::ColourGrayScale : ImExp::ColourRgb);
        ctx->bitsPerPixel = grey ? 8 : 24;
        ctx->planes = 1;
        ctx->packed = 1;
        ctx->blueFirst = grey ? 0 : 1;
        ctx->bytesPerPlaneRow = ctx->width * (grey ? 1 : 3);
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
        if (int code = StartReading(r))
            return code;
        const int components = r->info.num_components == 1 ? 1 : 3;
        const bool asAnnounced = r->info.output_width == ctx->width && r->info.output_height == ctx->height &&
                                 r->info.output_components == components;
        return asAnnounced ? 0 : ImExp::ErrorGeneral;
    });
}

FORMGATE_CONVERTER_ENTRY int RDReadBand(ConverterContext* ctx, void* band) {
    return ConvKit::Guard([&]() -> int {
        Reader* r = reads.Find(ctx);
        if (!r || !r->started || !ConvKit::IsNextBandDownwards(ctx, r->nextRow))
            return ImExp::ErrorGeneral;
        if (int code = ReadRows(r, static_cast<std::uint8_t*>(band), ctx->rowsInBand, ctx->bytesPerPlaneRow))
            return code;
        r->nextRow += ctx->rowsInBand;
        return 0;
    });
}

FORMGATE_CONVERTER_ENTRY int RDCleanUp(ConverterContext* ctx) {
    return ConvKit::EraseState(reads, ctx);
}

FORMGATE_CONVERTER_ENTRY int WRSetupWriting(ConverterContext* ctx, char**, int) {
    return ConvKit::Guard([&]() -> int {
        const bool grey = ctx->colourType == ImExp::ColourGrayScale && ctx->bitsPerPixel == 8;
        const bool colour = ctx->colourType == ImExp::ColourRgb && ctx->bitsPerPixel == 24;
        if (!grey && !colour)
            return ImExp::ErrorUnsupportedSubformat;
        if (ctx->width > JPEG_MAX_DIMENSION || ctx->height > JPEG_MAX_DIMENSION)
            return ImExp::ErrorFileTooBig;
        writes.Create(ctx).quality = StoredQuality(ctx->settingsPath);
        ctx->planes = 1;
        ctx->packed = 1;
        ctx->blueFirst = colour ? 1 : 0;
        ctx->bytesPerPlaneRow = ctx->width * (colour ? 3 : 1);
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
