// Formgate's browse palette cache file.
#include "FuzzTarget.h"
#include "PaletteCache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    formgate::PaletteCache cache;
    if (formgate::LoadCache(data, size, cache))
        (void)formgate::SaveCache(cache);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    formgate::PaletteCache cache;
    formgate::PaletteCache empty;
    cache["/photos/a.jpg"];
    cache["/photos/b.png"];
    return {{"two.cache", formgate::SaveCache(cache)}, {"empty.cache", formgate::SaveCache(empty)}};
}
