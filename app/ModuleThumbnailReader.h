#pragma once
// The thumbnail maker's reader in the program: the toolkit's codecs first
// (they decode large JPEGs reduced), then the import/export library for the
// formats only its converters know.

#include "ThumbnailImageReader.h"

#include <QImage>

#include <memory>

// The browser's full-size picture (its loader thread): a JPEG through the
// platform's codec, any other file through the import/export library as
// 24-bit colour, cancelled by the browser's read-cancel flag.
std::shared_ptr<QImage> ReadPictureThroughModule(const std::string& path);

bool ReadThumbnailThroughModule(const std::string& path, QSize minimumSize, CProgress* progress,
                                ThumbnailPicture& out);
