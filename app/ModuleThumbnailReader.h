#pragma once
// The thumbnail maker's reader in the program: the toolkit's codecs first
// (they decode large JPEGs reduced), then the import/export library for the
// formats only its converters know.

#include "ThumbnailImageReader.h"

bool ReadThumbnailThroughModule(const std::string& path, QSize minimumSize, CProgress* progress,
                                ThumbnailPicture& out);
