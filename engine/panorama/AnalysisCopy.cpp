#include "AnalysisCopy.h"

#include <algorithm>
#include <new>

#include "PanoElement.h"
#include "ThreadPool.h"

namespace {

// One line of n samples, 3 bytes per sample, `pitch` bytes apart, reduced to
// m samples. 64-bit sums: long lines and large ratios overflow 32 bits.
inline void ReduceLine(std::uint8_t* dst, std::size_t dstPitch, const std::uint8_t* src, std::size_t srcPitch,
                       std::uint64_t n, std::uint64_t m) {
    const std::uint64_t step = (n << 16) / m;
    std::uint64_t start = 0;
    for (std::uint64_t i = 0; i < m; ++i, start += step) {
        const std::uint64_t end = start + step;
        const std::uint64_t first = start >> 16;
        const std::uint64_t last = end >> 16;
        const std::uint64_t span = end - start;
        const std::uint64_t headWeight = ((first + 1) << 16) - start;
        const std::uint64_t tailWeight = end & 0xFFFF;
        for (int c = 0; c < 3; ++c) {
            std::uint64_t sum = (src[first * srcPitch + c] * headWeight) & ~std::uint64_t(0xFFFF);
            for (std::uint64_t k = first + 1; k < last; ++k)
                sum += std::uint64_t(src[k * srcPitch + c]) << 16;
            if (last < n && last > first)
                sum += (src[last * srcPitch + c] * tailWeight) & ~std::uint64_t(0xFFFF);
            dst[i * dstPitch + c] = static_cast<std::uint8_t>((sum + span / 2) / span);
        }
    }
}

std::size_t Stride24(int width) {
    return (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
}

}  // namespace

void DownscaleRows24(std::uint8_t* destination, const std::uint8_t* source, int sourceWidth, int rows,
                     int destinationWidth) {
    const std::size_t srcStride = Stride24(sourceWidth), dstStride = Stride24(destinationWidth);
    Platform::ParallelFor(
        0, rows,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t r = b; r < e; ++r)
                ReduceLine(destination + r * dstStride, 3, source + r * srcStride, 3, sourceWidth,
                           destinationWidth);
        },
        8);
}

void DownscaleColumns24(std::uint8_t* destination, const std::uint8_t* source, int width, int sourceHeight,
                        int destinationHeight) {
    const std::size_t stride = Stride24(width);
    Platform::ParallelFor(
        0, width,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t x = b; x < e; ++x)
                ReduceLine(destination + 3 * x, stride, source + 3 * x, stride, sourceHeight,
                           destinationHeight);
        },
        64);
}

PanoramaLib::IPanoElement* MakeAnalysisCopy(PanoramaLib::IPanoElement* photo, int target, bool halving) {
    auto* concrete = dynamic_cast<CPanoElement*>(photo);
    if (!concrete || !photo->IsValid() || photo->GetBpp() != 24)
        return nullptr;
    const std::uint64_t w = static_cast<unsigned>(photo->GetWidth());
    const std::uint64_t h = static_cast<unsigned>(photo->GetHeight());
    const std::uint64_t t = static_cast<unsigned>(target);
    if (std::max(w, h) <= t) {
        photo->AddRef();
        concrete->scale = 1.0;
        return photo;
    }
    std::uint64_t newW, newH;
    double scale;
    if (halving) {
        const bool wide = h < w;  // equal sides count as tall
        const std::uint64_t longSide = wide ? w : h, shortSide = wide ? h : w;
        std::uint64_t d = longSide;
        while (d > t)
            d >>= 1;
        const std::uint64_t newShort = d * shortSide / longSide;
        newW = wide ? d : newShort;
        newH = wide ? newShort : d;
        scale = static_cast<double>(longSide / d);
    } else if (h < w) {
        newW = t;
        newH = (w / 2 + h * t) / w;
        scale = static_cast<double>(w) / static_cast<double>(t);
    } else {
        newW = (w * t + h / 2) / h;
        newH = t;
        scale = static_cast<double>(h) / static_cast<double>(t);
    }
    if (newW == 0 || newH == 0)
        return nullptr;

    OrvexBase::RefPtr<CPanoElement> intermediate(new (std::nothrow) CPanoElement(0));
    if (!intermediate || !intermediate->GetImage() ||
        !intermediate->CreateImage(true, static_cast<int>(w), static_cast<int>(newH), true))
        return nullptr;
    DownscaleColumns24(intermediate->GetBits(), photo->GetBits(), static_cast<int>(w), static_cast<int>(h),
                       static_cast<int>(newH));
    OrvexBase::RefPtr<CPanoElement> copy(new (std::nothrow) CPanoElement(0));
    if (!copy || !copy->GetImage() ||
        !copy->CreateImage(true, static_cast<int>(newW), static_cast<int>(newH), true))
        return nullptr;
    DownscaleRows24(copy->GetBits(), intermediate->GetBits(), static_cast<int>(w), static_cast<int>(newH),
                    static_cast<int>(newW));
    // The copy carries the photo's name so that later builds can find its analysis again.
    copy->SetFileName(photo->GetFileName());
    concrete->scale = scale;
    return copy.Detach();
}
