#pragma once
// The browser's EXIF reading paths, driven by more than one fuzz target.

#include <cstdint>
#include <string>
#include <vector>

#include "ExifFields.h"
#include "ExifThumbnail.h"

namespace Fuzz {

// The browser's EXIF readers on a file: the fields the information panel
// shows, the text tags, and the stored preview of a JPEG or TIFF file.
inline void ReadThroughExif(const std::string& path, bool jpeg) {
    try {
        std::vector<std::uint32_t> request;
        for (const ExifField& field : ExifFieldTable())
            request.push_back(field.tag);
        std::vector<std::string> texts;
        ReadExifFields(path, request, texts);
    } catch (...) {
        // A damaged file is reported to the caller by exception.
    }
    ReadExifAsciiTags(path, {270, 271, 272, 305, 306, 315, 33432});
    try {
        ThumbBox box{220, 165};
        std::uint32_t width = 0, height = 0;
        int flag = 0;
        if (jpeg) {
            FindExifSegment(path, width, height);
            ExtractExifThumbnail(path, box, width, height, flag);
        } else {
            ExtractTiffThumbnail(path, box, width, height, flag);
        }
    } catch (...) {
        // So are the previews' readers, as the thumbnail maker expects.
    }
}
}  // namespace Fuzz
