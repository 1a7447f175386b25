#include "DibImage.h"

#include <QPainter>
#include <QTransform>

#include "PanoramaLib.h"

namespace DibImage {

namespace {

QImage WrapBuffer(const std::uint8_t* bits, int width, int height, int stride, int bpp) {
    if (!bits || width <= 0 || height <= 0 || stride <= 0)
        return {};
    if (bpp == 24 && stride >= width * 3)
        return QImage(bits, width, height, stride, QImage::Format_BGR888);
    if (bpp == 8 && stride >= width)
        return QImage(bits, width, height, stride, QImage::Format_Grayscale8);
    return {};
}

}  // namespace

QImage Wrap(const PanoramaLib::IDib* dib) {
    if (!dib || !dib->IsValid())
        return {};
    return WrapBuffer(dib->GetBits(), dib->GetWidth(), dib->GetHeight(), dib->GetStride(), dib->GetBpp());
}

QImage Wrap(const PanoramaLib::IPanoElement* element) {
    if (!element || !element->IsValid())
        return {};
    return Wrap(element->GetImage());
}

void DrawFlipped(QPainter& painter, const QRect& target, const QImage& image, const QRect& source) {
    if (image.isNull() || target.isEmpty() || source.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // Mirror about the target's horizontal midline: the buffer's first row
    // lands on the target's bottom line.
    painter.translate(0, 2.0 * target.top() + target.height());
    painter.scale(1, -1);
    painter.drawImage(QRectF(target), image, QRectF(source));
    painter.restore();
}

}  // namespace DibImage
