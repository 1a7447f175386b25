#include "AnalysisCopy.h"

#include <algorithm>
#include <new>
#include <vector>

#include "PanoElement.h"
#include "ThreadPool.h"

namespace {

// (sum + span / 2) / span for the sums of one pass, whose span is fixed: the
// quotient through a double reciprocal, then corrected by one where the
// rounding left it off, so it is the integer division's exactly. Much
// cheaper than a 64-bit division per byte.
class RoundedDivision {
public:
    explicit RoundedDivision(std::uint64_t span) : span_(span), inverse_(1.0 / double(span)) {}
    std::uint8_t operator()(std::uint64_t sum) const {
        const std::uint64_t a = sum + span_ / 2;
        // Below 2^52 the estimate is off by at most one.
        if (a >= (std::uint64_t(1) << 52))
            return static_cast<std::uint8_t>(a / span_);
        std::uint64_t q = static_cast<std::uint64_t>(double(a) * inverse_);
        if (q * span_ > a)
            --q;
        else if ((q + 1) * span_ <= a)
            ++q;
        return static_cast<std::uint8_t>(q);
    }

private:
    std::uint64_t span_;
    double inverse_;
};

// One line of n samples, 3 bytes per sample, `pitch` bytes apart, reduced to
// m samples. 64-bit sums: long lines and large ratios overflow 32 bits.
inline void ReduceLine(std::uint8_t* dst, std::size_t dstPitch, const std::uint8_t* src, std::size_t srcPitch,
                       std::uint64_t n, std::uint64_t m, const RoundedDivision& divide) {
    const std::uint64_t step = (n << 16) / m;
    std::uint64_t start = 0;
    for (std::uint64_t i = 0; i < m; ++i, start += step) {
        const std::uint64_t end = start + step;
        const std::uint64_t first = start >> 16;
        const std::uint64_t last = end >> 16;
        const std::uint64_t headWeight = ((first + 1) << 16) - start;
        const std::uint64_t tailWeight = end & 0xFFFF;
        for (int c = 0; c < 3; ++c) {
            std::uint64_t sum = (src[first * srcPitch + c] * headWeight) & ~std::uint64_t(0xFFFF);
            for (std::uint64_t k = first + 1; k < last; ++k)
                sum += std::uint64_t(src[k * srcPitch + c]) << 16;
            if (last < n && last > first)
                sum += (src[last * srcPitch + c] * tailWeight) & ~std::uint64_t(0xFFFF);
            dst[i * dstPitch + c] = divide(sum);
        }
    }
}

std::size_t Stride24(int width) {
    return (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
}

}  // namespace

void DownscaleRows24(std::uint8_t* destination, const std::uint8_t* source, int sourceWidth, int rows,
                     int destinationWidth) {
    if (sourceWidth <= 0 || rows <= 0 || destinationWidth <= 0)
        return;
    const std::size_t srcStride = Stride24(sourceWidth), dstStride = Stride24(destinationWidth);
    const RoundedDivision divide((std::uint64_t(sourceWidth) << 16) / std::uint64_t(destinationWidth));
    Platform::ParallelFor(
        0, rows,
        [&](std::size_t b, std::size_t e) {
            for (std::size_t r = b; r < e; ++r)
                ReduceLine(destination + r * dstStride, 3, source + r * srcStride, 3, sourceWidth,
                           destinationWidth, divide);
        },
        8);
}

// Row by row rather than column by column: every output row sums whole
// source rows, which are read once and in order. The sums are integers, so
// their order does not matter.
void DownscaleColumns24(std::uint8_t* destination, const std::uint8_t* source, int width, int sourceHeight,
                        int destinationHeight) {
    if (width <= 0 || sourceHeight <= 0 || destinationHeight <= 0)
        return;
    const std::size_t stride = Stride24(width), bytes = std::size_t(width) * 3;
    const std::uint64_t n = std::uint64_t(sourceHeight), m = std::uint64_t(destinationHeight);
    const std::uint64_t step = (n << 16) / m;
    const RoundedDivision divide(step);
    Platform::ParallelFor(
        0, m,
        [&](std::size_t b, std::size_t e) {
            std::vector<std::uint64_t> sums(bytes);
            for (std::size_t i = b; i < e; ++i) {
                const std::uint64_t start = i * step, end = start + step;
                const std::uint64_t first = start >> 16, last = end >> 16;
                const std::uint64_t headWeight = ((first + 1) << 16) - start;
                const std::uint64_t tailWeight = end & 0xFFFF;
                const std::uint8_t* head = source + first * stride;
                for (std::size_t x = 0; x < bytes; ++x)
                    sums[x] = (head[x] * headWeight) & ~std::uint64_t(0xFFFF);
                for (std::uint64_t k = first + 1; k < last; ++k) {
                    const std::uint8_t* row = source + k * stride;
                    for (std::size_t x = 0; x < bytes; ++x)
                        sums[x] += std::uint64_t(row[x]) << 16;
                }
                if (last < n && last > first) {
                    const std::uint8_t* tail = source + last * stride;
                    for (std::size_t x = 0; x < bytes; ++x)
                        sums[x] += (tail[x] * tailWeight) & ~std::uint64_t(0xFFFF);
                }
                std::uint8_t* out = destination + i * stride;
                for (std::size_t x = 0; x < bytes; ++x)
                    out[x] = divide(sums[x]);
            }
        },
        4);
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
