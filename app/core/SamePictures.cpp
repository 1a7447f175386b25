#include "SamePictures.h"

#include <cstring>

#include "PanoramaLib.h"

namespace SamePictures {

namespace {

// A word-wise multiply-mix: fast enough to run over every loaded photo
// (tens of megabytes) at a small part of its decoding time.
struct Mixer {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    void Add(std::uint64_t word) {
        state ^= word + 0x9E3779B97F4A7C15ull + (state << 6) + (state >> 2);
        state *= 0xFF51AFD7ED558CCDull;
        state ^= state >> 33;
    }
    void AddBytes(const std::uint8_t* bytes, std::size_t count) {
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            Add(word);
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, bytes + i, count - i);
        Add(tail ^ (static_cast<std::uint64_t>(count - i) << 56));
    }
};

}  // namespace

Fingerprint Of(const PanoramaLib::IPanoElement* element) {
    Fingerprint print;
    if (!element || !element->IsValid())
        return print;
    const std::uint8_t* bits = element->GetBits();
    const int width = element->GetWidth();
    const int height = element->GetHeight();
    const int bpp = element->GetBpp();
    const int stride = element->GetStride();
    if (!bits || width <= 0 || height <= 0 || bpp <= 0 || stride <= 0)
        return print;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bpp / 8);
    if (rowBytes > static_cast<std::size_t>(stride))
        return print;
    Mixer mixer;
    for (int y = 0; y < height; ++y)
        mixer.AddBytes(bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride), rowBytes);
    print.width = width;
    print.height = height;
    print.bpp = bpp;
    print.hash = mixer.state;
    return print;
}

std::vector<std::vector<std::size_t>> Groups(const std::vector<Fingerprint>& prints) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<bool> taken(prints.size(), false);
    for (std::size_t i = 0; i < prints.size(); ++i) {
        if (taken[i] || prints[i] == Fingerprint{})
            continue;
        std::vector<std::size_t> group{i};
        for (std::size_t j = i + 1; j < prints.size(); ++j)
            if (!taken[j] && prints[j] == prints[i]) {
                group.push_back(j);
                taken[j] = true;
            }
        if (group.size() > 1)
            groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace SamePictures
