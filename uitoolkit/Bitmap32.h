#pragma once
// Our reader of 32-bit BMP files with an alpha byte (Qt's BMP reader drops
// it): the skin's button and strip pictures.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <string>

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
// The same by the file system's name, which need not be UTF-8.
QImage LoadBitmap32File(const std::string& path);

// A skin picture of any kind: 32-bit BMPs through our reader (alpha kept),
// anything else through Qt's readers. Null when the file does not load.
// A path made from the skin's Res folder finds the file however the folder is named.
QImage LoadSkinPicture(const QString& path);
QImage LoadSkinPictureFile(const std::string& path);
// Only a regular file, none larger than this, is read as a skin picture.
inline constexpr std::uint64_t kMaxPictureFileBytes = std::uint64_t(kMaxSide) * kMaxSide * 4 + 4096;

// Writes an ARGB32 image as such a file (the skin generator and tests).
QByteArray Encode(const QImage& image);

}  // namespace Bitmap32
