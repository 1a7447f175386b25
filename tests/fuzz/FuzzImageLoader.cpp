// The engine's image loader (JPEG, PNG, TIFF and BMP by their first bytes).
#include "FuzzTarget.h"
#include "ImageFile.h"

namespace {

struct Sink : Platform::IRgbSink {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    bool Allocate(int w, int h) override {
        // Forged sizes are refused here as memory running out would be.
        if (std::int64_t(w) * h > 4'000'000)
            return false;
        width = w;
        pixels.resize(std::size_t(w) * h * 3);
        return true;
    }
    std::uint8_t* RowBgr(int row) override { return pixels.data() + std::size_t(row) * width * 3; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sink sink;
    Platform::DecodeRgb24(Fuzz::InputFile(data, size, ".img"), sink);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    std::vector<std::uint8_t> bits(8 * 5 * 3);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = std::uint8_t(i * 11);
    Platform::ImageView view{bits.data(), 8, 5, 24, 8 * 3};
    FuzzSeeds seeds;
    for (const char* name : {"seed.bmp", "seed.jpg", "seed.png", "seed.tif"}) {
        const std::string path = Fuzz::InputFile(nullptr, 0, name);
        Platform::EncodeImage(path, *Platform::FormatFromExtension(path), view);
        seeds.push_back({name, Fuzz::TakeFile(path)});
    }
    return seeds;
}
