#pragma once
// Our reader of 32-bit BMP files with an alpha byte (Qt's BMP reader drops
// it): the skin's button and strip pictures.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace Bitmap32 {

// Largest width or height accepted.
inline constexpr int kMaxSide = 16384;

// Parses a BMP with a BITMAPINFOHEADER (or larger), 1 plane, 32 bits per
// pixel, uncompressed or bit fields, bottom-up rows. The result is
// Format_ARGB32 with the file's fourth byte as alpha, unchanged; the file's
// first row becomes the image's last. Anything else, or any offset or size
// that does not fit the data, gives a null image.
QImage Decode(const QByteArray& data);

// Reads a file and decodes it; a null image when it cannot be read.
QImage LoadBitmap32(const QString& path);

// A skin picture of any kind: 32-bit BMPs through our reader (alpha kept),
// anything else through Qt's readers. Null when the file does not load.
QImage LoadSkinPicture(const QString& path);

// Writes an ARGB32 image as such a file (the skin generator and tests).
QByteArray Encode(const QImage& image);

}  // namespace Bitmap32
