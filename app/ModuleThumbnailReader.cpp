#include "ModuleThumbnailReader.h"

#include <QImageReader>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "ImageFileBridge.h"
#include "QtFileReading.h"

namespace {

// The library's sink held to the toolkit reader's allocation limit: a forged
// header of a few bytes cannot make the thumbnail reader ask for gigabytes,
// and a picture the toolkit refuses for its size is refused here too.
class LimitedReadSink : public CReadFilePlus {
public:
    int SetSize(int a, int b, int width, int height) override {
        const std::int64_t limit = static_cast<std::int64_t>(QImageReader::allocationLimit()) << 20;
        if (limit > 0 && static_cast<std::int64_t>(width) * height * 3 > limit)
            return 1;
        return CReadFilePlus::SetSize(a, b, width, height);
    }
};

}  // namespace

std::shared_ptr<QImage> ReadPictureThroughModule(const std::string& path, std::atomic<int>* cancel) {
    std::string ext = path.substr(std::min(path.size(), path.find_last_of('.') == std::string::npos
                                                            ? path.size()
                                                            : path.find_last_of('.')));
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe") {
        QFile file;
        if (!Platform::OpenForReading(file, path, Platform::kMaxPhotoBytes))
            return nullptr;
        QImageReader reader(&file, "jpeg");
        reader.setAutoTransform(false);
        auto image = std::make_shared<QImage>();
        if (!reader.read(image.get()) || image->isNull())
            return nullptr;
        return image;
    }
    LimitedReadSink sink;
    std::atomic<int> never{0};
    CReadProgress progress(cancel ? *cancel : never);
    if (ReadImageFile(&sink, nullptr, path.c_str(), ImExp::PixelRgb24, &progress, nullptr, 0, 0, 0) != 1) {
        sink.Abort();
        return nullptr;
    }
    const ReadBitmap bitmap = sink.TakeBitmap();
    if (bitmap.bitsPerPixel != 24)
        return nullptr;
    auto image = std::make_shared<QImage>(bitmap.width, bitmap.height, QImage::Format_BGR888);
    if (image->isNull())
        return nullptr;
    for (int y = 0; y < bitmap.height; ++y)
        std::memcpy(image->scanLine(y), bitmap.Line(y), static_cast<std::size_t>(bitmap.width) * 3);
    return image;
}

bool ReadThumbnailThroughModule(const std::string& path, QSize minimumSize, CProgress* progress,
                                ThumbnailPicture& out) {
    QFile file;
    if (!Platform::OpenForReading(file, path, Platform::kMaxPhotoBytes))
        return false;
    QImageReader reader(&file, Platform::ImageFormatHint(path));
    reader.setAutoTransform(false);
    if (reader.canRead()) {
        const QSize size = reader.size();
        const QSize wanted = minimumSize * 2;
        if (size.isValid() && wanted.isValid() && size.width() > wanted.width() &&
            size.height() > wanted.height())
            reader.setScaledSize(size.scaled(wanted, Qt::KeepAspectRatioByExpanding));
        if (reader.read(&out.image) && !out.image.isNull()) {
            out.sourceSize = size.isValid() && !size.isEmpty() ? size : out.image.size();
            out.bitsPerPixel = out.image.depth() >= 24 ? 24 : out.image.depth();
            return true;
        }
    }
    LimitedReadSink sink;
    if (ReadImageFile(&sink, nullptr, path.c_str(), ImExp::PixelRgb24 | ImExp::PixelRgb48, progress, nullptr,
                      0, 0, 0) != 1)
        return false;
    const ReadBitmap bitmap = sink.TakeBitmap();
    if (bitmap.bitsPerPixel != 24)
        return false;
    QImage image(bitmap.width, bitmap.height, QImage::Format_BGR888);
    if (image.isNull())
        return false;
    for (int y = 0; y < bitmap.height; ++y)
        std::memcpy(image.scanLine(y), bitmap.Line(y), static_cast<std::size_t>(bitmap.width) * 3);
    out.image = std::move(image);
    out.sourceSize = out.image.size();
    out.bitsPerPixel = sink.PixelType() == ImExp::PixelRgb48 ? 48 : 24;
    return true;
}
