// The toolkit's 32-bit BMP reader (skin pictures with alpha).
#include <QImage>

#include "Bitmap32.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QImage image =
        Bitmap32::Decode(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!image.isNull())
        (void)image.pixel(image.width() - 1, image.height() - 1);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(0x80402010);
    const QByteArray bytes = Bitmap32::Encode(image);
    return {{"3x2.bmp", {bytes.begin(), bytes.end()}}};
}
