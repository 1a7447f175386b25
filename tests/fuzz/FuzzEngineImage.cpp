// The engine's image loader: a photo's picture read into the engine's image.
#include "FuzzTarget.h"
#include "PImage.h"
#include "TextCodec.h"

namespace {

class Image : public PanoramaLib::PImage {
public:
    // Forged sizes are refused here as memory running out would be.
    bool Create(int bpp, int width, int height, bool allocate) override {
        return std::int64_t(width) * height <= 4'000'000 && PImage::Create(bpp, width, height, allocate);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Image image;
    std::wstring error;
    image.LoadFromFile(Platform::WideFromUtf8(Fuzz::InputFile(data, size, ".img")), &error);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    Image image;
    image.Create(24, 6, 4, true);
    for (int i = 0; i < image.GetStride() * image.GetHeight(); ++i)
        image.GetBits()[i] = std::uint8_t(i * 13);
    FuzzSeeds seeds;
    for (const char* name : {"photo.jpg", "photo.png", "photo.tif", "photo.bmp"}) {
        const std::string path = Fuzz::InputFile(nullptr, 0, name);
        image.SaveToFile(Platform::WideFromUtf8(path), nullptr);
        seeds.push_back({name, Fuzz::TakeFile(path)});
    }
    return seeds;
}
