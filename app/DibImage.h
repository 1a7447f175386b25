#pragma once
// The engine's images on screen: a bottom-up BGR (or 8-bit grey) buffer seen
// as a QImage without copying its pixels, and drawn upright by flipping the
// painter. Row 0 of the QImage is the image's bottom row, so image
// coordinates (y up) are QImage row numbers.

#include <QImage>
#include <QRect>

class QPainter;
namespace PanoramaLib {
class IDib;
class IPanoElement;
}  // namespace PanoramaLib

namespace DibImage {

// A view of the buffer; null for an image without pixels or of an unknown
// depth. The buffer must outlive the QImage and every copy of it.
QImage Wrap(const PanoramaLib::IDib* dib);
QImage Wrap(const PanoramaLib::IPanoElement* element);

// Draws the rows [source.top, source.bottom) of a wrapped image (image
// coordinates, y up) into target (client coordinates, y down), scaled
// without smoothing.
void DrawFlipped(QPainter& painter, const QRect& target, const QImage& image, const QRect& source);

}  // namespace DibImage
