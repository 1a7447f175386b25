#pragma once
// The thumbnail maker's reader in the program: the toolkit's codecs first
// (they decode large JPEGs reduced), then the import/export library for the
// formats only its converters know.

#include "ThumbnailImageReader.h"

#include <QImage>

#include <atomic>
#include <memory>

// The browser's full-size picture (its loader thread): a JPEG through the
// platform's codec, any other file through the import/export library as
// 24-bit colour. A read through the library stops once `cancel` is set
// (the loader's flag, which it sets when a newer picture is asked for).
std::shared_ptr<QImage> ReadPictureThroughModule(const std::string& path, std::atomic<int>* cancel = nullptr);

bool ReadThumbnailThroughModule(const std::string& path, QSize minimumSize, CProgress* progress,
                                ThumbnailPicture& out);
