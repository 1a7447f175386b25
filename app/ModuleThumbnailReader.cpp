#include "ModuleThumbnailReader.h"

#include <QImageReader>
#include <cstring>

#include "ImageFileBridge.h"
#include "QtFileReading.h"

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
    CReadFilePlus sink;
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
