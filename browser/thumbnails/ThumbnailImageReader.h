#pragma once
// Where the thumbnail maker gets a whole picture from: a small seam. The
// plain reader uses the toolkit's image codecs (JPEG, PNG, TIFF, BMP and
// the installed plug-ins); the program's image-file bridge can take its
// place through SetThumbnailImageReader.

#include <QImage>
#include <QSize>

#include <functional>
#include <string>

class CProgress;

struct ThumbnailPicture {
    QImage image;           // the pixels, possibly decoded at a reduced size
    QSize sourceSize;       // the picture's own size
    int bitsPerPixel = 24;  // the depth the file stores
};

// Reads path; pixels need be no larger than about minimumSize's double (the
// thumbnail is made from them). False when the file does not decode.
using ThumbnailImageReader = std::function<bool(const std::string& path, QSize minimumSize,
                                                CProgress* progress, ThumbnailPicture& out)>;

bool ReadThumbnailPicture(const std::string& path, QSize minimumSize, CProgress* progress,
                          ThumbnailPicture& out);
// Installs another reader; an empty one brings back the plain reader.
void SetThumbnailImageReader(ThumbnailImageReader reader);
