// The baseline JPEG decoder.
#include <cstring>

#include "FuzzTarget.h"
#include "MiniJpeg.h"
#include "ReadThroughMiniJpeg.h"

namespace {

struct Sink : MiniJpeg::OStream {
    std::vector<std::uint8_t> bytes;
    void Write(const void* src, size_t count) override {
        const auto* p = static_cast<const std::uint8_t*>(src);
        bytes.insert(bytes.end(), p, p + count);
    }
    void Flush() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fuzz::ReadThroughMiniJpeg(data, size);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    FuzzSeeds seeds;
    for (int colour = 0; colour < 2; ++colour) {
        Sink out;
        MiniJpeg::Coder* coder = MiniJpeg::CreateCoder(&out, 19, 9, colour, 75, colour, 0, 2, 72, 72);
        std::vector<std::uint8_t> row(19 * 3);
        for (int y = 0; y < 9; ++y) {
            for (std::size_t x = 0; x < row.size(); ++x)
                row[x] = std::uint8_t(x * 13 + y * 7);
            coder->WriteLine(row.data());
        }
        MiniJpeg::DeleteDecoder(coder);
        seeds.push_back({colour ? "colour.jpg" : "grey.jpg", out.bytes});
    }
    return seeds;
}
