#include "ReadPipeline.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ConverterChoice.h"
#include "ConverterLibrary.h"
#include "ErrorReporter.h"
#include "FormgateApp.h"
#include "PipelineSupport.h"
#include "PixelRowConverters.h"
#include "Utf16.h"

namespace formgate {

namespace {

using Byte = std::uint8_t;

// Largest width, height, plane row and band the pipeline takes.
constexpr std::uint64_t kSizeLimit = 0x7F00000;

// Everything one read holds, released in reverse order by CleanUp.
class ReadOperation {
public:
    explicit ReadOperation(const ReadRequest& request) : r_(request) {}
    ReadOperation(const ReadOperation&) = delete;
    ReadOperation& operator=(const ReadOperation&) = delete;
    ~ReadOperation() { CleanUp(); }

    // 0, or the error code of the first failure.
    int Run();
    // CProgress::End when Begin was called, and the cursor back.
    void EndProgress() { progress_.End(); }
    void RestoreCursor() { cursor_.Restore(); }
    // Buffers, RDCleanUp (when RDReadHeader ran), the converter, the context.
    void CleanUp();
    const ConverterLibrary* Library() const { return &library_; }

private:
    int CheckHeader() const;
    int Classify();
    int ConfigureSink();
    int SizeBuffers();
    int RunBands();
    int ConverterDrivenBands();
    int LibraryDrivenBands();
    int Deliver(const Byte* source, int index);
    int Put(int index);

    const ReadRequest& r_;
    WaitCursor cursor_;
    CImExp_FileStream stream_;
    std::shared_ptr<const ConverterRegistry> registry_;
    std::string settings_;
    ConverterLibrary library_;
    std::unique_ptr<ConverterContext> ctx_;
    decltype(&::RDReadHeader) readHeader_ = nullptr;
    decltype(&::RDSetupReading) setupReading_ = nullptr;
    decltype(&::RDReadBand) readBand_ = nullptr;
    decltype(&::RDCleanUp) cleanUp_ = nullptr;
    bool headerRead_ = false;
    OperationProgress progress_{r_.progress};

    // The image and the chosen conversion.
    int width_ = 0;
    int height_ = 0;
    ReadFormat format_;
    ReadSteps steps_;
    int pixelType_ = 0;
    std::size_t planeStride_ = 0;
    std::size_t sourceRow_ = 0;
    std::size_t colourBytes_ = 0;
    std::size_t alphaBytes_ = 0;
    int rowsPerBand_ = 1;
    bool libraryDriven_ = false;
    bool fixedBand_ = false;
    bool bottomUp_ = false;

    std::vector<Byte> band_;
    std::vector<Byte> intermediate_;
    std::vector<Byte> output_;
    int rowsDone_ = 0;
    std::vector<bool> rowDelivered_;  // by sink index: each row once

    // Thumbnails.
    int thumbWidth_ = 0;
    int thumbHeight_ = 0;
    std::vector<Byte> thumbRow_;
    std::vector<Byte> thumbAlpha_;
    std::vector<bool> thumbRowsDone_;
};

int ReadOperation::Run() {
    if (!r_.sink)
        return ImExp::ErrorSinkOrSource;
    const bool opened = r_.widePath ? stream_.Open(r_.widePath, CImExp_FileStream::OpenMode::Read)
                                    : stream_.Open(r_.path.c_str(), CImExp_FileStream::OpenMode::Read);
    if (!opened)
        return ImExp::ErrorCannotOpen;

    CFormgateApp& app = TheFormgateApp();
    registry_ = app.Registry();
    settings_ = registry_->SettingsPath().empty() ? app.SettingsPath() : registry_->SettingsPath();
    const int reader = ChooseReader(*registry_, r_.path.c_str(), stream_, -1);
    if (reader < 0)
        return ImExp::ErrorUnknownFormat;

    cursor_.Begin(app.Host());
    ctx_ = std::make_unique<ConverterContext>();
    std::memset(ctx_.get(), 0, sizeof *ctx_);
    ctx_->palette = ctx_->paletteData;

    if (registry_->OpenConverter(reader, library_) != 0)
        return ImExp::ErrorConverterMissing;
    readHeader_ = FORMGATE_ENTRY(library_, RDReadHeader);
    setupReading_ = FORMGATE_ENTRY(library_, RDSetupReading);
    readBand_ = FORMGATE_ENTRY(library_, RDReadBand);
    cleanUp_ = FORMGATE_ENTRY(library_, RDCleanUp);
    if (!readHeader_ || !setupReading_ || !readBand_ || !cleanUp_)
        return ImExp::ErrorConverterMissing;

    ctx_->fileName = r_.path.c_str();
    ctx_->settingsPath = settings_.c_str();
    ctx_->stream = &stream_;
    ctx_->owner = r_.owner;
    ctx_->imageIndex = 0;
    ctx_->imageCount = 1;
    headerRead_ = true;
    if (int code = GuardedCall([&] {
            stream_.Seek(0, 0, nullptr);
            return readHeader_(ctx_.get(), r_.options, r_.optionCount);
        }))
        return code;

    if (int code = CheckHeader())
        return code;
    if (int code = Classify())
        return code;
    if (int code = ConfigureSink())
        return code;
    if (int code = SizeBuffers())
        return code;

    ctx_->accessModeInForce = ctx_->accessMode == 3 ? ctx_->rowOrder : ctx_->accessMode;
    ctx_->rowsPerBand = rowsPerBand_;
    if (int code = GuardedCall([&] { return setupReading_(ctx_.get()); }))
        return code;

    band_.assign(sourceRow_ * static_cast<std::size_t>(rowsPerBand_) * (format_.alpha ? 2 : 1), 0);
    if (steps_.unpack != UnpackStep::None)
        intermediate_.assign(UnpackedBytes(steps_.unpack, static_cast<std::size_t>(width_)) + 32, 0);
    output_.assign(colourBytes_ + alphaBytes_ + 32, 0);
    rowDelivered_.assign(static_cast<std::size_t>(height_), false);
    if (r_.thumbnailBox) {
        thumbRow_.assign(3 * static_cast<std::size_t>(thumbWidth_) + 32, 0);
        thumbAlpha_.assign(static_cast<std::size_t>(thumbWidth_) + 32, 0);
        thumbRowsDone_.assign(static_cast<std::size_t>(thumbHeight_), false);
    }
    cursor_.Restore();

    progress_.Begin();
    return RunBands();
}

int ReadOperation::CheckHeader() const {
    const ConverterContext& c = *ctx_;
    const std::uint64_t w = c.width, h = c.height, bits = c.bitsPerPixel, planes = c.planes,
                        bpr = c.bytesPerPlaneRow;
    if (!w || !h || c.colourType > 5 || !bits || !planes || !bpr)
        return ImExp::ErrorInvalidFile;
    if (planes * bpr * 8 < bits * w)
        return ImExp::ErrorInvalidFile;
    if (w > kSizeLimit || h > kSizeLimit || bpr > kSizeLimit)
        return ImExp::ErrorInvalidFile;
    if (!(planes == 1 || (planes == 3 && (bits == 24 || bits == 48)) || (planes == 4 && bits == 4)))
        return ImExp::ErrorInvalidFile;
    const bool deep = bits == 24 || bits == 48;
    if (deep && c.colourType != ImExp::ColourRgb && c.colourType != ImExp::ColourRgbAlpha)
        return ImExp::ErrorInvalidFile;
    if (!deep && c.colourType == ImExp::ColourRgb)
        return ImExp::ErrorInvalidFile;
    // The palette holds 256 entries: paletted images have 8 bits or fewer.
    const bool paletted =
        c.colourType == ImExp::ColourGrayPaletted || c.colourType == ImExp::ColourColorPaletted;
    if (paletted && bits > 8)
        return ImExp::ErrorInvalidFile;
    return 0;
}

int ReadOperation::Classify() {
    ConverterContext& c = *ctx_;
    width_ = static_cast<int>(c.width);
    height_ = static_cast<int>(c.height);
    const int type = c.colourType;
    format_.bits = c.bitsPerPixel;
    format_.planes = c.planes;
    format_.packed = c.packed != 0;
    format_.alpha = type == ImExp::ColourGrayAlpha || type == ImExp::ColourRgbAlpha;
    format_.blueFirst = c.blueFirst != 0;
    format_.colour =
        type == ImExp::ColourColorPaletted || type == ImExp::ColourRgb || type == ImExp::ColourRgbAlpha;
    format_.paletted = type == ImExp::ColourGrayPaletted || type == ImExp::ColourColorPaletted;
    format_.inverted = c.inverted != 0;
    if (format_.paletted) {
        const PaletteClass palette = AnalysePalette(c.paletteData, format_.bits, type);
        format_.colour = palette.colour;
        format_.paletted = palette.paletted;
        format_.inverted = palette.inverted;
    }
    if (format_.bits <= 8) {
        if (!format_.paletted) {
            FillGreyRamp(c.paletteData, format_.bits, format_.inverted);
        } else if (!format_.colour) {
            std::memcpy(c.paletteData + 256, c.paletteData, 256);
            std::memcpy(c.paletteData + 512, c.paletteData, 256);
        }
    }

    const int accepted = r_.thumbnailBox ? ImExp::PixelRgb24 : r_.acceptedTypes;
    const int bits = format_.bits;
    const bool colour = format_.colour;
    if ((accepted & ImExp::PixelBilevel) && bits == 1)
        pixelType_ = ImExp::PixelBilevel;
    else if ((accepted & ImExp::PixelPalette16) && bits <= 4)
        pixelType_ = ImExp::PixelPalette16;
    else if ((accepted & ImExp::PixelGrey8) && bits <= 8 && !colour)
        pixelType_ = ImExp::PixelGrey8;
    else if ((accepted & ImExp::PixelGrey16) && bits == 16 && !colour)
        pixelType_ = ImExp::PixelGrey16;
    else if ((accepted & ImExp::PixelPalette256) && bits <= 8)
        pixelType_ = ImExp::PixelPalette256;
    else if ((accepted & ImExp::PixelRgb24) && bits <= 24)
        pixelType_ = ImExp::PixelRgb24;
    else if (accepted & ImExp::PixelRgb48)
        pixelType_ = ImExp::PixelRgb48;
    else if (accepted & ImExp::PixelRgb24)
        pixelType_ = ImExp::PixelRgb24;
    else
        return ImExp::ErrorIllegalConversion;
    if (!ChooseReadSteps(format_, pixelType_, steps_))
        return ImExp::ErrorIllegalConversion;

    // Every step must find the bytes it reads inside the converter's rows.
    const std::size_t w = c.width;
    planeStride_ = c.bytesPerPlaneRow;
    colourBytes_ = OutputColourBytes(pixelType_, w);
    alphaBytes_ = format_.alpha ? OutputAlphaBytes(pixelType_, w) : 0;
    const std::size_t pixelInput = PixelInputBytes(steps_.pixel, w, colourBytes_);
    int planesRead = 1;
    if (steps_.unpack != UnpackStep::None) {
        planesRead = SourcePlanesRead(format_, steps_);
        if (SourcePlaneBytes(format_, steps_, w) > planeStride_)
            return ImExp::ErrorInvalidFile;
        if (pixelInput > UnpackedBytes(steps_.unpack, w))
            return ImExp::ErrorIllegalConversion;
    } else if (pixelInput > planeStride_) {
        return ImExp::ErrorInvalidFile;
    }
    // Planar alpha is one plane more than the colour planes the header counts.
    sourceRow_ = static_cast<std::size_t>(std::max<int>(format_.planes, planesRead)) * planeStride_;
    return 0;
}

int ReadOperation::ConfigureSink() {
    CAbstractReadWA& sink = *r_.sink;
    if (const ImExpRect* box = r_.thumbnailBox) {
        const std::int64_t boxW = static_cast<std::int64_t>(box->right) - box->left;
        const std::int64_t boxH = static_cast<std::int64_t>(box->bottom) - box->top;
        if (boxW <= 0 || boxH <= 0)
            return ImExp::ErrorGeneral;
        const std::int64_t w = width_, h = height_;
        std::int64_t tw, th;
        if (w * boxH < h * boxW) {
            tw = w * boxH / h;
            th = boxH;
        } else {
            tw = boxW;
            th = h * boxW / w;
        }
        // A very thin image still gets one pixel across. An image smaller than
        // the box keeps its size: enlarged, some thumbnail rows would get no
        // image row at all.
        thumbWidth_ = static_cast<int>(std::clamp<std::int64_t>(tw, 1, std::min(boxW, w)));
        thumbHeight_ = static_cast<int>(std::clamp<std::int64_t>(th, 1, std::min(boxH, h)));
        if (sink.SetSize(0, 0, thumbWidth_, thumbHeight_) != 0)
            return ImExp::ErrorSinkOrSource;
    } else if (sink.SetSize(0, 0, width_, height_) != 0) {
        return ImExp::ErrorSinkOrSource;
    }
    sink.SetFormat(0, 0, pixelType_);
    sink.SetAlphaChannel(0, 0, format_.alpha ? 1 : 0);
    if (format_.bits <= 8) {
        const int count = 1 << format_.bits;
        unsigned char entries[256 * 4] = {};
        for (int i = 0; i < count; ++i) {
            entries[4 * i] = ctx_->paletteData[i];
            entries[4 * i + 1] = ctx_->paletteData[256 + i];
            entries[4 * i + 2] = ctx_->paletteData[512 + i];
        }
        sink.SetPalette(0, 0, entries, count);
    }
    if (!r_.thumbnailBox) {
        int x = 72, y = 72;
        SinkResolution(ctx_->resolutionUnit, ctx_->xResolution, ctx_->yResolution, x, y);
        sink.SetResolution(0, 0, x, y);
    }
    return 0;
}

int ReadOperation::SizeBuffers() {
    const ConverterContext& c = *ctx_;
    const int mode = c.accessMode == 3 ? c.rowOrder : c.accessMode;
    libraryDriven_ = mode != 0;
    bottomUp_ = c.rowOrder == 2;
    fixedBand_ = c.fixedBandHeight != 0;
    const std::int64_t wanted = c.rowsPerBandWanted;
    if (sourceRow_ > kSizeLimit)
        return ImExp::ErrorFileTooBig;
    if (fixedBand_) {
        if (wanted < 1)
            return ImExp::ErrorInvalidFile;
        rowsPerBand_ = static_cast<int>(wanted);
    } else {
        const std::int64_t fit =
            std::max<std::int64_t>(1, static_cast<std::int64_t>(kSizeLimit / sourceRow_));
        rowsPerBand_ = static_cast<int>(std::min(std::max<std::int64_t>(wanted, 1), fit));
    }
    const std::uint64_t band = static_cast<std::uint64_t>(sourceRow_) *
                               static_cast<std::uint64_t>(rowsPerBand_) * (format_.alpha ? 2 : 1);
    if (band > kSizeLimit)
        return ImExp::ErrorFileTooBig;
    return 0;
}

int ReadOperation::RunBands() {
    const int code = libraryDriven_ ? LibraryDrivenBands() : ConverterDrivenBands();
    if (code != 0)
        return code;
    // A converter that runs out of bands early leaves rows unread.
    return rowsDone_ < height_ ? ImExp::ErrorUnexpectedEnd : 0;
}

int ReadOperation::ConverterDrivenBands() {
    const int h = height_;
    while (true) {
        const int result = GuardedCall([&] { return readBand_(ctx_.get(), band_.data()); });
        if (result == 1)
            return 0;
        if (result != 0)
            return result;
        const std::int64_t start = ctx_->bandStartRow;
        const std::int64_t rows = rowsPerBand_ == 1 ? 1 : ctx_->rowsInBand;
        if (start < 0 || start >= h || rows < 1 || rows > rowsPerBand_)
            return ImExp::ErrorInvalidFile;
        int index = h - static_cast<int>(start) - 1;
        for (std::int64_t i = 0; i < rows; ++i) {
            if (int code = Deliver(band_.data() + static_cast<std::size_t>(i) * sourceRow_, index))
                return code;
            index += bottomUp_ ? 1 : -1;
        }
    }
}

int ReadOperation::LibraryDrivenBands() {
    const int h = height_;
    int index = bottomUp_ ? 0 : h - 1;
    while (rowsDone_ < h) {
        const int missing = h - rowsDone_;
        const int asked = rowsPerBand_ == 1 ? 1 : std::min(rowsPerBand_, missing);
        ctx_->bandStartRow = h - index - 1;
        ctx_->rowsInBand = asked;
        const int result = GuardedCall([&] { return readBand_(ctx_.get(), band_.data()); });
        if (result == 1)
            return 0;
        if (result != 0)
            return result;
        int rows = asked;
        if (fixedBand_ && rowsPerBand_ > 1) {
            rows = ctx_->rowsInBand;
            if (rows < 1 || rows > std::min(rowsPerBand_, missing))
                return ImExp::ErrorInvalidFile;
        }
        for (int i = 0; i < rows; ++i) {
            if (int code = Deliver(band_.data() + static_cast<std::size_t>(i) * sourceRow_, index))
                return code;
            index += bottomUp_ ? 1 : -1;
        }
    }
    return 0;
}

int ReadOperation::Deliver(const Byte* source, int index) {
    if (index < 0 || index >= height_ || rowDelivered_[static_cast<std::size_t>(index)])
        return ImExp::ErrorInvalidFile;
    rowDelivered_[static_cast<std::size_t>(index)] = true;
    const Byte* in = source;
    if (steps_.unpack != UnpackStep::None) {
        Unpack(steps_.unpack, source, planeStride_, static_cast<std::size_t>(width_), intermediate_.data());
        in = intermediate_.data();
    }
    Byte* out = output_.data();
    ConvertPixels(steps_.pixel, in, static_cast<std::size_t>(width_), colourBytes_, ctx_->paletteData, out);
    if (steps_.complementOutput)
        for (std::size_t i = 0; i < colourBytes_; ++i)
            out[i] = static_cast<Byte>(~out[i]);
    if (int code = Put(index))
        return code;
    return progress_.Step(rowsDone_++, height_);
}

int ReadOperation::Put(int index) {
    CAbstractReadWA& sink = *r_.sink;
    const Byte* out = output_.data();
    if (!r_.thumbnailBox) {
        if (sink.PutRow(0, 0, index, out) != 0)
            return ImExp::ErrorSinkOrSource;
        if (format_.alpha && sink.PutAlphaRow(0, 0, index, out + colourBytes_) != 0)
            return ImExp::ErrorSinkOrSource;
        return 0;
    }
    // The first image row that lands on a thumbnail row stands for it.
    const auto row = static_cast<std::size_t>(static_cast<std::int64_t>(index) * thumbHeight_ / height_);
    if (thumbRowsDone_[row])
        return 0;
    thumbRowsDone_[row] = true;
    for (int j = 0; j < thumbWidth_; ++j) {
        const auto column = static_cast<std::size_t>(static_cast<std::int64_t>(j) * width_ / thumbWidth_);
        std::memcpy(thumbRow_.data() + 3 * static_cast<std::size_t>(j), out + 3 * column, 3);
        if (format_.alpha)
            thumbAlpha_[static_cast<std::size_t>(j)] = out[colourBytes_ + column];
    }
    if (sink.PutRow(0, 0, static_cast<int>(row), thumbRow_.data()) != 0)
        return ImExp::ErrorSinkOrSource;
    if (format_.alpha && sink.PutAlphaRow(0, 0, static_cast<int>(row), thumbAlpha_.data()) != 0)
        return ImExp::ErrorSinkOrSource;
    return 0;
}

void ReadOperation::CleanUp() {
    std::vector<Byte>().swap(band_);
    std::vector<Byte>().swap(intermediate_);
    std::vector<Byte>().swap(output_);
    if (headerRead_ && cleanUp_)
        GuardedCall([&] { return cleanUp_(ctx_.get()); });
    headerRead_ = false;
    library_.Close();
    ctx_.reset();
    cursor_.Restore();
}

}  // namespace

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = std::llabs(c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

void SinkResolution(int unit, int x, int y, int& xDpi, int& yDpi) {
    switch (unit) {
        case 1:  // only the aspect ratio: x stands for 72 dots per inch
            if (x == 0) {
                x = y = 72;
            } else {
                y = MulDiv(y ? y : x, 72, x);
                x = 72;
            }
            break;
        case 2:
            break;
        case 3:
            x = MulDiv(x, 254, 100);
            y = MulDiv(y, 254, 100);
            break;
        default:
            x = y = 72;
            break;
    }
    if (x == 0)
        x = y = 72;
    if (y == 0)
        y = x;
    xDpi = x;
    yDpi = y;
}

int ReadImage(const ReadRequest& request) {
    ReadOperation operation(request);
    const int code = RunOperation([&] { return operation.Run(); });
    operation.EndProgress();
    operation.RestoreCursor();
    if (code != 0)
        ReportError(request.owner, code, request.path.c_str(), operation.Library());
    operation.CleanUp();
    return code == 0 ? 1 : 0;
}

}  // namespace formgate

namespace {

// ImExp_ReadFile and ImExp_ReadFileW but for how the name comes.
int ReadNamedFile(CAbstractReadWA* sink, void* owner, const char* path, const char16_t* widePath,
                  int acceptedTypes, CProgress* progress, char** options, int optionCount) {
    try {
        formgate::ReadRequest request;
        request.sink = sink;
        request.owner = owner;
        request.path = widePath ? formgate::Utf8FromUtf16(widePath) : path ? path : "";
        request.widePath = widePath;
        request.acceptedTypes = acceptedTypes;
        request.progress = progress;
        request.options = options;
        request.optionCount = optionCount;
        return formgate::ReadImage(request);
    } catch (...) {
        return 0;
    }
}

}  // namespace

int ImExp_ReadFile(CAbstractReadWA* sink, void* owner, const char* path, int acceptedTypes,
                   CProgress* progress, char** options, int optionCount) {
    return ReadNamedFile(sink, owner, path, nullptr, acceptedTypes, progress, options, optionCount);
}

int ImExp_ReadFileW(CAbstractReadWA* sink, void* owner, const char16_t* path, int acceptedTypes,
                    CProgress* progress, char** options, int optionCount) {
    return ReadNamedFile(sink, owner, nullptr, path ? path : u"", acceptedTypes, progress, options,
                         optionCount);
}

int ImExp_ReadThumb(CAbstractReadWA* sink, void* owner, const char* path, ImExpRect* box) {
    try {
        formgate::ReadRequest request;
        request.sink = sink;
        request.owner = owner;
        request.path = path ? path : "";
        request.acceptedTypes = ImExp::PixelRgb24;
        const ImExpRect none{0, 0, 0, 0};
        request.thumbnailBox = box ? box : &none;
        return formgate::ReadImage(request);
    } catch (...) {
        return 0;
    }
}
