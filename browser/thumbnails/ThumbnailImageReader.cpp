#include "ThumbnailImageReader.h"

#include <QImageReader>

#include "QtFileReading.h"

#include <mutex>

namespace {

std::mutex g_readerLock;
ThumbnailImageReader g_reader;

// Taken as a number: on a damaged header a codec plug-in may report a format
// it never set, a value outside the enumeration.
int DepthOf(int format) {
    switch (format) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return 1;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
        case QImage::Format_Alpha8:
            return 8;
        case QImage::Format_Grayscale16:
        case QImage::Format_RGB555:
        case QImage::Format_RGB16:
            return 16;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            return 48;
        default:
            return 24;
    }
}

bool PlainReader(const std::string& path, QSize minimumSize, CProgress*, ThumbnailPicture& out) {
    QFile file;
    if (!Platform::OpenForReading(file, path, Platform::kMaxPhotoBytes))
        return false;
    QImageReader reader(&file, Platform::ImageFormatHint(path));
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && !size.isEmpty()) {
        out.sourceSize = size;
        // Large pictures are decoded reduced where the codec can (JPEG
        // scales in its transform), to twice the thumbnail's size.
        const QSize wanted = minimumSize * 2;
        if (wanted.isValid() && size.width() > wanted.width() && size.height() > wanted.height())
            reader.setScaledSize(size.scaled(wanted, Qt::KeepAspectRatioByExpanding));
    }
    out.bitsPerPixel = DepthOf(static_cast<int>(reader.imageFormat()));
    if (!reader.read(&out.image) || out.image.isNull())
        return false;
    if (!out.sourceSize.isValid() || out.sourceSize.isEmpty())
        out.sourceSize = out.image.size();
    return true;
}

}  // namespace

bool ReadThumbnailPicture(const std::string& path, QSize minimumSize, CProgress* progress,
                          ThumbnailPicture& out) {
    ThumbnailImageReader reader;
    {
        std::lock_guard<std::mutex> lock(g_readerLock);
        reader = g_reader;
    }
    return reader ? reader(path, minimumSize, progress, out) : PlainReader(path, minimumSize, progress, out);
}

void SetThumbnailImageReader(ThumbnailImageReader reader) {
    std::lock_guard<std::mutex> lock(g_readerLock);
    g_reader = std::move(reader);
}
