// The converter plug-ins' read path, as the library drives it: header,
// set-up, every band and clean-up, by each shipped converter in turn.
#include <memory>

#include "FuzzTarget.h"
#include "PluginHarness.h"

namespace {

const char* const kConverters[] = {"conv_bmp", "conv_jpeg", "conv_tiff", "conv_png"};

// Loaded once: the fuzzer counts the modules it sees load.
const std::vector<std::unique_ptr<PluginTest::Plugin>>& Plugins() {
    static const auto plugins = [] {
        std::vector<std::unique_ptr<PluginTest::Plugin>> loaded;
        for (const char* name : kConverters)
            loaded.push_back(std::make_unique<PluginTest::Plugin>(name));
        return loaded;
    }();
    return plugins;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const auto& plugin : Plugins()) {
        PluginTest::MemoryStream stream({data, data + size});
        // Forged sizes are refused here as memory running out would be.
        PluginTest::ReadThrough(*plugin, stream, 0, 1'000'000);
    }
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    // One small picture per colour layout the converters write, in each format.
    struct Layout {
        const char* name;
        int colourType, bits;
    };
    const Layout layouts[] = {{"rgb", ImExp::ColourRgb, 24}, {"grey", ImExp::ColourGrayScale, 8}};
    FuzzSeeds seeds;
    for (std::size_t c = 0; c < std::size(kConverters); ++c) {
        for (const Layout& layout : layouts) {
            PluginTest::Picture p;
            p.width = 7, p.height = 5, p.colourType = layout.colourType, p.bits = layout.bits;
            p.rows.resize(p.BytesPerRow() * std::size_t(p.height));
            for (std::size_t i = 0; i < p.rows.size(); ++i)
                p.rows[i] = std::uint8_t(i * 37);
            PluginTest::MemoryStream stream;
            if (PluginTest::WriteThrough(*Plugins()[c], stream, p) == 0)
                seeds.push_back({std::string(kConverters[c] + 5) + "-" + layout.name, stream.Bytes()});
        }
    }
    return seeds;
}
