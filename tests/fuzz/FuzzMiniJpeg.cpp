// The baseline JPEG decoder.
#include <cstring>

#include "FuzzTarget.h"
#include "MiniJpeg.h"

namespace {

struct Memory : MiniJpeg::IStream {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    Memory(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}
    size_t Read(void* dst, size_t count) override {
        const std::size_t n = std::min(count, size - at);
        std::memcpy(dst, data + at, n);
        at += n;
        return n;
    }
};

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
    Memory in(data, size);
    try {
        std::int32_t width = 0, height = 0;
        MiniJpeg::Decoder* decoder =
            MiniJpeg::CreateDecoder(&in, &width, &height, nullptr, nullptr, nullptr, nullptr);
        if (!decoder)
            return 0;
        try {
            // Large frames are decoded only in part: the rows are alike.
            for (std::int32_t y = 0; y < height && y < 64; ++y)
                decoder->ReadLine();
        } catch (const MiniJpeg::Error&) {
        }
        MiniJpeg::DeleteDecoder(decoder);
    } catch (const MiniJpeg::Error&) {
    }
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
