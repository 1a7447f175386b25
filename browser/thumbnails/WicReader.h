#pragma once
// The platform imaging-component reader of the thumbnail maker, in the state
// the program ships it: no imaging factory is ever created, so it reports
// itself unavailable and both readers return null at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDibBuffer;

// Photo facts gathered from a picture's metadata; every field is reset first.
struct WicPhotoFacts {
    uint8_t flash = 0;
    uint16_t orientation = 0;
    uint16_t rating = 0;
    std::string exposure;
    std::string fNumber;
};

// Asked before each band of rows; non-zero cancels.
using WicCancel = std::function<int(int)>;

bool IsWicAvailable();

std::shared_ptr<CDibBuffer> ReadWicThumbnail(const std::string& path, uint32_t boxWidth, uint32_t boxHeight,
                                             uint32_t& width, uint32_t& height, int& bitDepth,
                                             int& usedFullFrame, WicPhotoFacts& facts,
                                             const WicCancel& cancel = {});
std::shared_ptr<CDibBuffer> ReadWicImage(const std::string& path, uint32_t boxWidth, uint32_t boxHeight,
                                         uint32_t& width, uint32_t& height, int& bitDepth,
                                         const WicCancel& cancel = {});
