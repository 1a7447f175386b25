#include "PImage.h"

#include <cstring>
#include <limits>
#include <new>

#include "ImageFile.h"
#include "TextCodec.h"

namespace PanoramaLib {
namespace {

// Largest buffer we agree to allocate; larger requests fail like an
// allocation failure instead of overflowing the row arithmetic.
constexpr std::size_t kMaxImageBytes = std::size_t(1) << 34;

const wchar_t* StatusText(Platform::ImageFileStatus status) {
    using S = Platform::ImageFileStatus;
    switch (status) {
        case S::Ok:
            return L"";
        case S::OutOfMemory:
            return L"Out of memmory";
        case S::FileNotFound:
            return L"File not found";
        case S::AccessDenied:
            return L"Access denied";
        case S::UnknownImageFormat:
            return L"Unknown image format";
        case S::Unsupported:
            return L"Unsupported file format.";
        case S::Other:
            break;
    }
    return L"Undefined error";
}

void SetText(std::wstring* errorText, const wchar_t* text) {
    if (errorText)
        *errorText = text;
}

// Receives decoded rows straight into the image: picture row r lands in
// memory row (height - 1 - r), since the buffer is bottom-up.
class ImageSink : public Platform::IRgbSink {
public:
    explicit ImageSink(PImage& image) : image_(image) {}
    bool Allocate(int width, int height) override { return image_.Create(24, width, height, true); }
    std::uint8_t* RowBgr(int pictureRow) override {
        const int memoryRow = image_.GetHeight() - 1 - pictureRow;
        return image_.GetBits() + static_cast<std::size_t>(memoryRow) * image_.GetStride();
    }

private:
    PImage& image_;
};

}  // namespace

PImage::PImage() {
    refcount = 1;
}

PImage::PImage(const IDib& source) {
    if (!Create(source.GetBpp(), source.GetWidth(), source.GetHeight(), true))
        throw dibException();
    path = source.GetFileName();
    unloaded = source.IsUnloaded();
    if (source.GetBits())
        std::memcpy(bits, source.GetBits(), static_cast<std::size_t>(height) * StrideFor(bpp, width));
    refcount = 1;
}

PImage::~PImage() = default;

OrvexBase::RefCounter* PImage::QueryInterface(int id) {
    return id == 1 ? this : nullptr;
}

std::size_t PImage::StrideFor(int depth, int w) {
    return (static_cast<std::size_t>(depth) * static_cast<std::size_t>(w) + 31) / 32 * 4;
}

int PImage::GetStride() const {
    return static_cast<int>(StrideFor(bpp, width));
}

bool PImage::Create(int newBpp, int newWidth, int newHeight, bool allocate) {
    if (bits)
        return false;
    if (newBpp != 8 && newBpp != 24)
        return false;
    if (allocate && (newWidth < 1 || newHeight < 1))
        return false;
    bpp = newBpp;
    width = newWidth;
    height = newHeight;
    if (!allocate)
        return true;
    const std::size_t stride = StrideFor(bpp, width);
    if (stride > std::numeric_limits<std::int32_t>::max() ||
        static_cast<std::size_t>(height) > kMaxImageBytes / stride)
        return false;
    pixels = PlaneMemory::Buffer<std::uint8_t>::Zeroed(stride * static_cast<std::size_t>(height));
    bits = pixels.get();
    return bits != nullptr;
}

void PImage::FreePixels() {
    pixels.reset();
    bits = nullptr;
}

void PImage::Destroy() {
    path.clear();
    FreePixels();
}

void PImage::Unload() {
    if (path.empty())
        return;
    unloaded = true;
    FreePixels();
}

void PImage::Reload() {
    if (!unloaded)
        return;
    lastReloadOk = LoadFromFile(path, nullptr);
    unloaded = false;
}

bool PImage::LoadFromFile(const std::wstring& filePath, std::wstring* errorText) {
    SetText(errorText, L"");
    if (bits)
        return false;
    const std::int32_t oldBpp = bpp, oldWidth = width, oldHeight = height;
    ImageSink sink(*this);
    const Platform::ImageFileStatus status = Platform::DecodeRgb24(Platform::Utf8FromWide(filePath), sink);
    if (status != Platform::ImageFileStatus::Ok) {
        // A rejected or half-decoded file leaves the image as it was.
        FreePixels();
        bpp = oldBpp;
        width = oldWidth;
        height = oldHeight;
        SetText(errorText, StatusText(status));
        if (status == Platform::ImageFileStatus::OutOfMemory)
            path = filePath;
        return false;
    }
    path = filePath;
    return true;
}

bool PImage::SaveToFile(const std::wstring& filePath, std::wstring* errorText) {
    const std::string utf8 = Platform::Utf8FromWide(filePath);
    const auto format = Platform::FormatFromExtension(utf8);
    if (!format) {
        SetText(errorText, StatusText(Platform::ImageFileStatus::UnknownImageFormat));
        return false;
    }
    if (!bits) {
        // Nothing to write: the target stays as it is.
        SetText(errorText, StatusText(Platform::ImageFileStatus::Other));
        return false;
    }
    Platform::ImageView view;
    view.bits = bits;
    view.width = width;
    view.height = height;
    view.bpp = bpp;
    view.stride = StrideFor(bpp, width);
    const Platform::ImageFileStatus status = Platform::EncodeImage(utf8, *format, view);
    SetText(errorText, StatusText(status));
    if (status != Platform::ImageFileStatus::Ok)
        return false;
    if (filePath != path)
        path = filePath;
    return true;
}

std::wstring PImage::GetFileTitle() const {
    const std::size_t slash = path.find_last_of(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace PanoramaLib
