#include "WritePipeline.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ConverterChoice.h"
#include "ConverterLibrary.h"
#include "ErrorReporter.h"
#include "FormgateApp.h"
#include "ImageFile.h"
#include "PipelineSupport.h"
#include "PixelRowConverters.h"
#include "ReadPipeline.h"
#include "Utf16.h"

namespace formgate {

namespace {

using Byte = std::uint8_t;

// A failure the caller learns of by the result only (a source of no known pixel type).
constexpr int kSilentFailure = -1;
// Largest source side, and the band limits: 32,512 bytes of rows per band
// unless the converter fixes the height, and 8,323,072 bytes in any case.
constexpr std::int64_t kSideLimit = 0x7F00000;
constexpr std::int64_t kBandBytesWanted = 0x7F00;
constexpr std::int64_t kBandBytesLimit = 0x7F0000;

// The output formats a writer can be asked for, in the order they are tried:
// its subformat bit, colour type and depth.
struct OutputFormat {
    std::uint32_t bit;
    int colourType;
    int bits;
};
constexpr OutputFormat kOutputFormats[] = {
    {0x1, 0, 1},    {0x8, 0, 1},    {0x40, 2, 1},    {0x2, 0, 4},      {0x8, 0, 4},
    {0x10, 2, 4},   {0x40, 2, 4},   {0x4, 0, 8},     {0x400, 4, 8},    {0x8, 0, 8},
    {0x20, 2, 8},   {0x40, 2, 8},   {0x8000, 0, 16}, {0x20000, 4, 16}, {0x200, 3, 24},
    {0x800, 5, 24}, {0x100, 3, 24}, {0x80, 3, 24},   {0x10000, 3, 48}, {0x40000, 5, 48},
};

// The temporary file's name in the target's folder: "~qx", the writer's
// process id and a random number in hexadecimal, ".tmp".
std::string TemporaryName(const std::string&, std::uint64_t random) {
    char name[40];
    std::snprintf(name, sizeof name, "~qx%08X%08X.tmp", static_cast<unsigned>(::getpid()),
                  static_cast<unsigned>(random));
    return name;
}

long TemporaryNameOwner(const std::string& name) {
    if (name.size() != 23 || name.compare(0, 3, "~qx") != 0 || name.compare(19, 4, ".tmp") != 0)
        return 0;
    for (std::size_t i = 3; i < 19; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return 0;
    return std::strtol(name.substr(3, 8).c_str(), nullptr, 16);
}

// The code of a failure to create, flush or rename the file: no room (or a device
// that cannot write) is a full disk; a folder, a missing folder or a refusal
// means the file cannot be opened where asked.
int CodeOfFileError(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
        case EIO:
            return ImExp::ErrorDiskFull;
        default:
            return ImExp::ErrorCannotOpen;
    }
}

// How a source's pixels are to be understood.
enum class SourceClass { Grey, GreyPaletted, Colour };

// Everything one write holds, released in reverse order by CleanUp.
class WriteOperation {
public:
    explicit WriteOperation(const WriteRequest& request) : r_(request) {}
    WriteOperation(const WriteOperation&) = delete;
    WriteOperation& operator=(const WriteOperation&) = delete;
    ~WriteOperation() { CleanUp(); }

    // 0, kSilentFailure, or the error code of the first failure.
    int Run();
    // CProgress::End when Begin was called.
    void EndProgress() { progress_.End(); }
    // WRCleanUp (when WRSetupWriting ran), buffers, the temporary file, the converter.
    void CleanUp();
    const ConverterLibrary* Library() const { return &library_; }

private:
    int ClassifySource();
    int ChooseOutput();
    void SetResolution(int x, int y);
    int CreateTemporaryFile();
    int SetUpConverter();
    int SizeBands();
    int LibraryDrivenBands();
    int ConverterDrivenBands();
    int Gather(int index, Byte* destination);
    int Commit();

    const WriteRequest& r_;
    CAbstractWriteWA* source_ = nullptr;
    std::shared_ptr<const ConverterRegistry> registry_;
    std::string settings_;
    int writer_ = -1;
    ConverterLibrary library_;
    decltype(&::WRSetupWriting) setupWriting_ = nullptr;
    decltype(&::WRWriteHeader) writeHeader_ = nullptr;
    decltype(&::WRWriteBand) writeBand_ = nullptr;
    decltype(&::WREndWriting) endWriting_ = nullptr;
    decltype(&::WRCleanUp) cleanUp_ = nullptr;
    bool setupCalled_ = false;
    OperationProgress progress_{r_.progress};

    CImExp_FileStream stream_;
    Platform::FileReplacement replacement_;  // the "~qx" file while it exists

    // The source and the chosen output.
    int pixelType_ = 0;
    int sourceBits_ = 0;
    SourceClass class_ = SourceClass::Grey;
    std::uint32_t kept_ = 0;
    bool alpha_ = false;
    int outputColourType_ = 0;
    int outputBits_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::array<Byte, 768> palette_{};  // red, green and blue planes
    std::array<Byte, 256> indexMap_{};

    ConverterContext ctx_{};
    WriteRowFormat rowFormat_;
    std::size_t sourceColourBytes_ = 0;
    std::size_t sourceAlphaBytes_ = 0;
    std::size_t bandRow_ = 0;
    bool plainCopy_ = false;  // rows go to the band as the source gives them
    int rowsPerBand_ = 1;
    bool fixedBand_ = false;
    bool upwards_ = false;
    std::vector<Byte> band_;
    std::vector<Byte> row_;
    int rowsDone_ = 0;
};

int WriteOperation::Run() {
    if (!r_.source)
        return ImExp::ErrorSinkOrSource;
    // The interface hands the source over const, yet every question to it is a plain call.
    source_ = const_cast<CAbstractWriteWA*>(r_.source);
    if (int code = ClassifySource())
        return code;

    CFormgateApp& app = TheFormgateApp();
    registry_ = app.Registry();
    settings_ = registry_->SettingsPath().empty() ? app.SettingsPath() : registry_->SettingsPath();
    std::uint32_t mask = WriterMask(pixelType_);
    writer_ = ChooseWriter(*registry_, mask, r_.path.c_str());
    if (writer_ < 0 && pixelType_ == ImExp::PixelGrey8) {
        // The save lists offer the grey-only writers for 8-bit grey: such a choice must write.
        mask = SaveListMask(pixelType_);
        writer_ = ChooseWriter(*registry_, mask, r_.path.c_str());
    }
    if (writer_ < 0)
        return ImExp::ErrorNoWriter;
    kept_ = mask & registry_->Record(writer_).subformatMask;
    if (int code = ChooseOutput())
        return code;

    if (source_->GetSize(0, 0, &width_, &height_) != 0 || width_ <= 0 || height_ <= 0)
        return ImExp::ErrorSinkOrSource;
    if (width_ > kSideLimit || height_ > kSideLimit)
        return ImExp::ErrorFileTooBig;
    int x = 0, y = 0;
    if (source_->GetResolution(0, 0, &x, &y) != 0)
        return ImExp::ErrorSinkOrSource;
    SetResolution(x, y);

    if (registry_->OpenConverter(writer_, library_) != 0)
        return ImExp::ErrorConverterMissing;
    setupWriting_ = FORMGATE_ENTRY(library_, WRSetupWriting);
    writeHeader_ = FORMGATE_ENTRY(library_, WRWriteHeader);
    writeBand_ = FORMGATE_ENTRY(library_, WRWriteBand);
    endWriting_ = FORMGATE_ENTRY(library_, WREndWriting);
    cleanUp_ = FORMGATE_ENTRY(library_, WRCleanUp);
    if (!setupWriting_ || !writeHeader_ || !writeBand_ || !endWriting_ || !cleanUp_)
        return ImExp::ErrorConverterMissing;

    if (int code = CreateTemporaryFile())
        return code;
    if (int code = SetUpConverter())
        return code;
    if (int code = SizeBands())
        return code;

    progress_.Begin();
    if (int code = GuardedCall([&] { return writeHeader_(&ctx_); }))
        return code;
    band_.assign(bandRow_ * static_cast<std::size_t>(rowsPerBand_) + 64, 0);
    row_.assign(sourceColourBytes_ + sourceAlphaBytes_ + 32, 0);
    if (int code = ctx_.accessModeInForce ? LibraryDrivenBands() : ConverterDrivenBands())
        return code;
    if (int code = GuardedCall([&] { return endWriting_(&ctx_); }))
        return code;
    return Commit();
}

int WriteOperation::ClassifySource() {
    // A source that cannot tell its format is refused like one of an unknown format.
    if (source_->GetFormat(0, 0, &pixelType_) != 0)
        return kSilentFailure;
    switch (pixelType_) {
        case ImExp::PixelBilevel:
            sourceBits_ = 1;
            class_ = SourceClass::Grey;
            return 0;
        case ImExp::PixelPalette16:
        case ImExp::PixelPalette256: {
            sourceBits_ = pixelType_ == ImExp::PixelPalette16 ? 4 : 8;
            // Room for all 256 entries, whatever the source writes.
            std::array<Byte, 256 * 4> entries{};
            if (source_->GetPalette(0, 0, entries.data()) != 0)
                return ImExp::ErrorSinkOrSource;
            for (int i = 0; i < (1 << sourceBits_); ++i)
                for (int plane = 0; plane < 3; ++plane)
                    palette_[static_cast<std::size_t>(256 * plane + i)] =
                        entries[static_cast<std::size_t>(4 * i + plane)];
            const PaletteClass found =
                AnalysePalette(palette_.data(), sourceBits_, ImExp::ColourColorPaletted);
            class_ = found.colour                       ? SourceClass::Colour
                     : found.paletted || found.inverted ? SourceClass::GreyPaletted
                                                        : SourceClass::Grey;
            return 0;
        }
        case ImExp::PixelGrey8:
            sourceBits_ = 8;
            class_ = SourceClass::Grey;
            return 0;
        case ImExp::PixelRgb24:
            sourceBits_ = 24;
            class_ = SourceClass::Colour;
            return 0;
        case ImExp::PixelGrey16:
            sourceBits_ = 16;
            class_ = SourceClass::Grey;
            return 0;
        case ImExp::PixelRgb48:
            sourceBits_ = 48;
            class_ = SourceClass::Colour;
            return 0;
        default:
            return kSilentFailure;
    }
}

int WriteOperation::ChooseOutput() {
    const std::uint32_t writerMask = registry_->Record(writer_).subformatMask;
    std::uint32_t alphaBit = 0;
    switch (pixelType_) {
        case ImExp::PixelGrey8:
            alphaBit = 0x400;
            break;
        case ImExp::PixelRgb24:
            alphaBit = 0x800;
            break;
        case ImExp::PixelGrey16:
            alphaBit = 0x20000;
            break;
        case ImExp::PixelRgb48:
            alphaBit = 0x40000;
            break;
        default:
            break;
    }
    alpha_ = alphaBit && (writerMask & alphaBit) && (source_->HasAlpha(0, 0) & 0xFF);
    if (alpha_) {
        outputColourType_ =
            sourceBits_ == 8 || sourceBits_ == 16 ? ImExp::ColourGrayAlpha : ImExp::ColourRgbAlpha;
        outputBits_ = sourceBits_;
    } else {
        const OutputFormat* chosen = nullptr;
        for (const OutputFormat& format : kOutputFormats)
            if ((format.bit & kept_) && format.bits >= sourceBits_) {
                chosen = &format;
                break;
            }
        if (!chosen)
            return ImExp::ErrorNoWriter;
        outputColourType_ = chosen->colourType;
        outputBits_ = chosen->bits;
    }

    // The index map keeps the red plane of the source palette; grey output
    // gets a grey ramp of its own depth.
    std::copy_n(palette_.begin(), 256, indexMap_.begin());
    if (outputBits_ <= 8) {
        const bool grey = outputColourType_ == ImExp::ColourGrayScale;
        const bool rampForPalette =
            outputColourType_ == ImExp::ColourColorPaletted &&
            (class_ == SourceClass::Grey || (class_ == SourceClass::GreyPaletted && outputBits_ == 8));
        if (grey || rampForPalette) {
            palette_.fill(0);
            FillGreyRamp(palette_.data(), outputBits_, false);
        }
    }
    return 0;
}

void WriteOperation::SetResolution(int x, int y) {
    if (x <= 0 || y <= 0)
        x = y = 72;
    const std::uint16_t options = registry_->Record(writer_).writeOptions;
    ctx_.resolutionUnit = ImExp::UnitDotsPerInch;
    if (options & ImExp::WriteResolutionDpi) {
    } else if (options & ImExp::WriteResolutionDpcm) {
        ctx_.resolutionUnit = ImExp::UnitDotsPerCentimetre;
        x = MulDiv(x, 100, 254);
        y = MulDiv(y, 100, 254);
    } else if (options & ImExp::WriteResolutionScreen) {
        ctx_.resolutionUnit = ImExp::UnitScreenPixels;
        x = 640;
        y = 480;
    } else if (options & ImExp::WriteResolutionNone) {
        ctx_.resolutionUnit = ImExp::UnitUnknown;
        x = y = 0;
    }
    ctx_.xResolution = x;
    ctx_.yResolution = y;
}

// A new empty file "~qx<hex>.tmp" beside the file the target names (through its
// links), created with the usual permissions, then opened as the converter's stream.
// A folder is refused here, before the converter is set up.
int WriteOperation::CreateTemporaryFile() {
    if (const int error = replacement_.Begin(r_.path, TemporaryName, TemporaryNameOwner))
        return CodeOfFileError(error);
    return stream_.Open(replacement_.TemporaryPath().c_str(), CImExp_FileStream::OpenMode::CreateReadWrite)
               ? 0
               : ImExp::ErrorCannotOpen;
}

int WriteOperation::SetUpConverter() {
    WriteRowFormat initial;
    initial.sourceBits = sourceBits_;
    initial.outputBits = outputBits_;
    initial.alpha = alpha_;
    ctx_.fileName = r_.path.c_str();
    ctx_.settingsPath = settings_.c_str();
    ctx_.stream = &stream_;
    ctx_.owner = r_.owner;
    ctx_.imageIndex = 0;
    ctx_.imageCount = 1;
    ctx_.width = static_cast<std::uint32_t>(width_);
    ctx_.height = static_cast<std::uint32_t>(height_);
    ctx_.colourType = static_cast<std::uint16_t>(outputColourType_);
    ctx_.bitsPerPixel = static_cast<std::uint16_t>(outputBits_);
    ctx_.planes = 1;
    // Alpha samples included: a converter that keeps this length has room for them.
    ctx_.bytesPerPlaneRow =
        static_cast<std::uint32_t>(WriteRowBytes(initial, static_cast<std::size_t>(width_)));
    ctx_.packed = 1;
    ctx_.inverted = 0;
    ctx_.blueFirst = 0;
    ctx_.writeBitsPerPixel = outputBits_;
    ctx_.palette = palette_.data();
    ctx_.accessMode = 1;
    ctx_.rowOrder = 1;
    ctx_.fixedBandHeight = 0;
    ctx_.rowsPerBandWanted = 1;
    ctx_.accessModeInForce = 1;
    ctx_.rowsPerBand = 1;
    ctx_.bandStartRow = 0;
    ctx_.rowsInBand = 1;

    setupCalled_ = true;
    if (int code = GuardedCall([&] { return setupWriting_(&ctx_, r_.options, r_.optionCount); }))
        return code;

    const bool planar = ctx_.planes > 1;
    const int effective = outputBits_ < 8 && !ctx_.packed ? 8 : outputBits_;
    rowFormat_.sourceBits = sourceBits_;
    rowFormat_.outputBits = effective;
    rowFormat_.planar = planar;
    rowFormat_.blueFirst = ctx_.blueFirst != 0;
    rowFormat_.alpha = alpha_;
    rowFormat_.planeStride = ctx_.bytesPerPlaneRow;
    rowFormat_.palette = palette_.data();
    if (effective == 8 && sourceBits_ <= 8) {
        if (class_ == SourceClass::Grey) {
            const int top = (1 << outputBits_) - 1, from = (1 << sourceBits_) - 1;
            for (int i = 0; i < 256; ++i)
                indexMap_[static_cast<std::size_t>(i)] = static_cast<Byte>(std::min(i, from) * top / from);
        } else if (class_ == SourceClass::Colour || outputBits_ != 8) {
            for (int i = 0; i < 256; ++i)
                indexMap_[static_cast<std::size_t>(i)] = static_cast<Byte>(i);
        }
        // A grey-paletted source written with 8 bits keeps the red-plane map:
        // its indices become the grey levels of the ramp it is written with.
        rowFormat_.indexMap = indexMap_.data();
    }
    if (effective == 24 && sourceBits_ <= 8) {
        if (class_ == SourceClass::Grey) {
            palette_.fill(0);
            FillGreyRamp(palette_.data(), sourceBits_, false);
        } else if (class_ == SourceClass::Colour && rowFormat_.blueFirst && !planar) {
            std::swap_ranges(palette_.begin(), palette_.begin() + 256, palette_.begin() + 512);
        }
    }
    sourceColourBytes_ = (static_cast<std::size_t>(width_) * static_cast<std::size_t>(sourceBits_) + 7) / 8;
    // Deep colour in the source's own blue-first order, and grey of the same depth, need
    // no conversion: the source writes straight into the band.
    const bool sameDepth = effective == sourceBits_ && !planar && !alpha_;
    plainCopy_ = sameDepth && (sourceBits_ >= 24 ? rowFormat_.blueFirst : sourceBits_ == 16);
    sourceAlphaBytes_ =
        alpha_ ? static_cast<std::size_t>(width_) * (sourceBits_ == 16 || sourceBits_ == 48 ? 2 : 1) : 0;
    return 0;
}

int WriteOperation::SizeBands() {
    const std::uint64_t planes = ctx_.planes;
    const std::uint64_t planeRow = ctx_.bytesPerPlaneRow;
    const std::uint64_t bandRow = planes * planeRow;
    if (bandRow == 0 || bandRow > static_cast<std::uint64_t>(kBandBytesLimit))
        return ImExp::ErrorFileTooBig;
    // The band must hold what the row step writes.
    const std::uint64_t written = WriteRowBytes(rowFormat_, static_cast<std::size_t>(width_));
    if (rowFormat_.planar) {
        const bool fourBitPlanes = rowFormat_.outputBits == 4 && sourceBits_ == 4;
        const std::uint64_t planesWritten = fourBitPlanes || alpha_ ? 4 : 3;
        if (planes < planesWritten || planeRow < written)
            return ImExp::ErrorFileTooBig;
    } else if (planeRow < written) {
        return ImExp::ErrorFileTooBig;
    }
    bandRow_ = static_cast<std::size_t>(bandRow);

    ctx_.accessModeInForce = ctx_.accessMode == 3 ? ctx_.rowOrder : ctx_.accessMode;
    fixedBand_ = ctx_.fixedBandHeight != 0;
    const std::int64_t wanted = ctx_.rowsPerBandWanted;
    const std::int64_t rows =
        fixedBand_
            ? wanted
            : std::max<std::int64_t>(
                  1, std::min<std::int64_t>(wanted, kBandBytesWanted / static_cast<std::int64_t>(bandRow)));
    if (rows <= 0 || rows * static_cast<std::int64_t>(bandRow) > kBandBytesLimit)
        return ImExp::ErrorFileTooBig;
    rowsPerBand_ = static_cast<int>(rows);
    ctx_.rowsPerBand = rowsPerBand_;
    // Row order 2 runs from the bottom up, any other value from the top down.
    upwards_ = ctx_.rowOrder == 2;
    return 0;
}

int WriteOperation::Gather(int index, Byte* destination) {
    // Bands are filled row after row and end in 64 spare bytes, so a source that
    // writes a little past its row (a padded bitmap row) only touches the next row's room.
    if (plainCopy_) {
        if (source_->GetRow(0, 0, index, destination) != 0)
            return ImExp::ErrorSinkOrSource;
    } else {
        if (source_->GetRow(0, 0, index, row_.data()) != 0)
            return ImExp::ErrorSinkOrSource;
        if (alpha_ && source_->GetAlphaRow(0, 0, index, row_.data() + sourceColourBytes_) != 0)
            return ImExp::ErrorSinkOrSource;
        ConvertWriteRow(rowFormat_, row_.data(), static_cast<std::size_t>(width_), destination);
    }
    return progress_.Step(rowsDone_++, height_);
}

int WriteOperation::LibraryDrivenBands() {
    int index = upwards_ ? 0 : height_ - 1;
    const int step = upwards_ ? 1 : -1;
    for (int done = 0; done < height_;) {
        ctx_.bandStartRow = height_ - index - 1;
        int rows = std::min(rowsPerBand_, height_ - done);
        if (fixedBand_) {
            // The converter's own band height stands, but only inside the image and the band.
            rows = ctx_.rowsInBand;
            if (rows < 1 || rows > rowsPerBand_ || rows > height_ - done)
                return ImExp::ErrorGeneral;
        }
        ctx_.rowsInBand = rows;
        for (int i = 0; i < rows; ++i, index += step, ++done)
            if (int code = Gather(index, band_.data() + bandRow_ * static_cast<std::size_t>(i)))
                return code;
        if (int code = GuardedCall([&] { return writeBand_(&ctx_, band_.data()); }))
            return code;
    }
    return 0;
}

int WriteOperation::ConverterDrivenBands() {
    const int step = upwards_ ? 1 : -1;
    for (int done = 0;;) {
        // The band as the converter left it, checked before a single row is asked for.
        const int start = ctx_.bandStartRow;
        const int rows = ctx_.rowsInBand;
        if (start < 0 || start >= height_ || rows < 1 || rows > rowsPerBand_ || rows > height_ - done)
            return ImExp::ErrorGeneral;
        int index = height_ - start - 1;
        const int last = index + step * (rows - 1);
        if (last < 0 || last >= height_)
            return ImExp::ErrorGeneral;
        for (int i = 0; i < rows; ++i, index += step, ++done)
            if (int code = Gather(index, band_.data() + bandRow_ * static_cast<std::size_t>(i)))
                return code;
        const int result = GuardedCall([&] { return writeBand_(&ctx_, band_.data()); });
        if (result == 1)
            return 0;
        if (result != 0)
            return result;
    }
}

// The converter is done: the temporary file is made durable and renamed over
// the target, which is never removed first.
int WriteOperation::Commit() {
    GuardedCall([&] { return cleanUp_(&ctx_); });
    setupCalled_ = false;
    band_.clear();
    row_.clear();
    library_.Close();
    EndProgress();
    try {
        stream_.Close();
    } catch (CImpExp_FileException* e) {
        delete e;
        return ImExp::ErrorDiskFull;
    }
    // Flushed, renamed over the target (the file a link names), the folder flushed.
    if (const int error = replacement_.Commit())
        return CodeOfFileError(error);
    return 0;
}

void WriteOperation::CleanUp() {
    if (setupCalled_ && cleanUp_)
        GuardedCall([&] { return cleanUp_(&ctx_); });
    setupCalled_ = false;
    band_.clear();
    row_.clear();
    if (stream_.IsOpen()) {
        try {
            stream_.Close();
        } catch (CImpExp_FileException* e) {
            delete e;
        }
    }
    replacement_.Abandon();
    library_.Close();
}

}  // namespace

int WriteImage(const WriteRequest& request) {
    WriteOperation operation(request);
    const int code = RunOperation([&] { return operation.Run(); });
    operation.EndProgress();
    if (code > 0)
        ReportError(request.owner, code, request.path.c_str(), operation.Library());
    operation.CleanUp();
    return code == 0 ? 1 : 0;
}

}  // namespace formgate

int ImExp_WriteFile(const CAbstractWriteWA* source, void* owner, const char* path, int* pixelType,
                    CProgress* progress, char** options, int optionCount) {
    try {
        if (pixelType)
            *pixelType = 0;
        formgate::WriteRequest request;
        request.source = source;
        request.owner = owner;
        request.path = path ? path : "";
        request.progress = progress;
        request.options = options;
        request.optionCount = optionCount;
        return formgate::WriteImage(request);
    } catch (...) {
        return 0;
    }
}

int ImExp_WriteFileW(const CAbstractWriteWA* source, void* owner, const char16_t* path, int* pixelType,
                     CProgress* progress, char** options, int optionCount) {
    try {
        const std::string name = formgate::Utf8FromUtf16(path);
        return ImExp_WriteFile(source, owner, name.c_str(), pixelType, progress, options, optionCount);
    } catch (...) {
        return 0;
    }
}
