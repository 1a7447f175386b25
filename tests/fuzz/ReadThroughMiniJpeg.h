#pragma once
// The baseline JPEG decoder's reading path, driven by more than one fuzz target.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "MiniJpeg.h"

namespace Fuzz {

// The baseline JPEG decoder over the bytes themselves. Large frames are
// decoded only in part: the rows are alike.
inline void ReadThroughMiniJpeg(const std::uint8_t* data, std::size_t size) {
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
    } in(data, size);
    try {
        std::int32_t width = 0, height = 0;
        MiniJpeg::Decoder* decoder =
            MiniJpeg::CreateDecoder(&in, &width, &height, nullptr, nullptr, nullptr, nullptr);
        if (!decoder)
            return;
        try {
            for (std::int32_t y = 0; y < height && y < 64; ++y)
                decoder->ReadLine();
        } catch (const MiniJpeg::Error&) {
        }
        MiniJpeg::DeleteDecoder(decoder);
    } catch (const MiniJpeg::Error&) {
        // The decoder reports damage by exception.
    }
}
}  // namespace Fuzz
