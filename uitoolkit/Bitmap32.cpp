#include "Bitmap32.h"

#include <QFile>
#include <cstdint>
#include <cstring>

#include "QtFileReading.h"
#include "SkinAccess.h"

namespace Bitmap32 {

namespace {

uint32_t U32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
uint16_t U16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(b[0] | b[1] << 8);
}
void Put32(QByteArray& a, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        a.append(char((v >> (8 * i)) & 0xff));
}
void Put16(QByteArray& a, uint16_t v) {
    a.append(char(v & 0xff));
    a.append(char(v >> 8));
}

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

}  // namespace

QImage Decode(const QByteArray& data) {
    const qint64 fileSize = data.size();
    if (fileSize < 14 + 40 || data[0] != 'B' || data[1] != 'M')
        return {};
    const char* p = data.constData();
    const uint32_t offBits = U32(p + 10);
    const uint32_t infoSize = U32(p + 14);
    // The info header runs up to the bits; it must hold at least the 40-byte
    // header it claims.
    if (infoSize < 40 || offBits < 14 + 40 || qint64(offBits) > fileSize ||
        14 + qint64(infoSize) > qint64(offBits))
        return {};
    const int32_t width = int32_t(U32(p + 18));
    const int32_t height = int32_t(U32(p + 22));
    const uint16_t planes = U16(p + 26);
    const uint16_t bits = U16(p + 28);
    const uint32_t compression = U32(p + 30);
    if (planes != 1 || bits != 32 || (compression != kBiRgb && compression != kBiBitfields))
        return {};
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    const qint64 stride = qint64(width) * 4;
    const qint64 bytes = stride * height;
    if (qint64(offBits) + bytes > fileSize)
        return {};

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return {};
    for (int32_t row = 0; row < height; ++row) {
        const char* src = p + offBits + stride * (height - 1 - row);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int32_t x = 0; x < width; ++x) {
            const auto* px = reinterpret_cast<const unsigned char*>(src + 4 * x);
            dst[x] = qRgba(px[2], px[1], px[0], px[3]);
        }
    }
    return image;
}

QImage LoadBitmap32(const QString& path) {
    return path.isEmpty() ? QImage() : LoadBitmap32File(Skin::FilePath(path));
}

QImage LoadBitmap32File(const std::string& path) {
    // Skin pictures are small; refuse anything that could not be one.
    std::string bytes;
    if (path.empty() || Platform::ReadWholeFile(path, kMaxPictureFileBytes, bytes) != 0)
        return {};
    return Decode(QByteArray::fromStdString(bytes));
}

QImage LoadSkinPicture(const QString& path) {
    return path.isEmpty() ? QImage() : LoadSkinPictureFile(Skin::FilePath(path));
}

QImage LoadSkinPictureFile(const std::string& path) {
    std::string bytes;
    if (path.empty() || Platform::ReadWholeFile(path, kMaxPictureFileBytes, bytes) != 0)
        return {};
    const QByteArray data = QByteArray::fromStdString(bytes);
    const QImage withAlpha = Decode(data);
    return withAlpha.isNull() ? QImage::fromData(data, Platform::ImageFormatHint(path).constData())
                              : withAlpha;
}

QByteArray Encode(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const uint32_t w = uint32_t(image.width()), h = uint32_t(image.height());
    QByteArray out;
    out.append("BM");
    Put32(out, 54 + w * h * 4);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, w);
    Put32(out, h);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, kBiRgb);
    Put32(out, w * h * 4);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int row = int(h) - 1; row >= 0; --row) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(row));
        for (uint32_t x = 0; x < w; ++x) {
            out.append(char(qBlue(line[x])));
            out.append(char(qGreen(line[x])));
            out.append(char(qRed(line[x])));
            out.append(char(qAlpha(line[x])));
        }
    }
    return out;
}

}  // namespace Bitmap32
