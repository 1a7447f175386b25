#include "ImageFile.h"

// Placeholder until the codec layer lands: every operation reports failure.
namespace Platform {

std::optional<ImageFileFormat> FormatFromExtension(const std::string&) { return std::nullopt; }
ImageFileStatus DecodeRgb24(const std::string&, IRgbSink&) { return ImageFileStatus::Unsupported; }
ImageFileStatus EncodeImage(const std::string&, ImageFileFormat, const ImageView&) {
    return ImageFileStatus::UnknownImageFormat;
}

}  // namespace Platform
