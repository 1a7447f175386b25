// The matching markers' BMP reader (16, 24 and 32 bits).
#include "FuzzTarget.h"
#include "MarkerBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bitmap = Markers::DecodePremultipliedBitmap(data, size);
    if (bitmap)
        (void)bitmap->IsHitAt(bitmap->width - 1, 0);
    return 0;
}

// A marker file as the skin ships it: 4 x 2 pixels, 32 bits, bottom-up.
FuzzSeeds MakeFuzzSeeds() {
    std::vector<std::uint8_t> file(14 + 40 + 4 * 2 * 4);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            file[at + i] = std::uint8_t(v >> (8 * i));
    };
    put(0, 0x4D42, 2);
    put(2, std::uint32_t(file.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, 4, 4);
    put(22, 2, 4);
    put(26, 1, 2);
    put(28, 32, 2);
    for (std::size_t i = 54; i < file.size(); ++i)
        file[i] = std::uint8_t(i * 37);
    return {{"4x2x32.bmp", file}};
}
