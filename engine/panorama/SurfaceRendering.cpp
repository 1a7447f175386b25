// Rendering of a projection surface: each photo is warped by inverse mapping
// into a temporary element over its output rectangle (colour, mask and a
// 16-bit weight falling from its centre), then composed into the result with
// a brightness gain and a weight-driven blend that sharpens where the two
// disagree.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "Gaussian.h"
#include "LensModel.h"
#include "Surfaces.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

// Where a photo's samples come from during one warp: the photo itself or its
// proxy, resolved once before the rows so that the rows can run in parallel.
struct SampleSource {
    const std::uint8_t* bits = nullptr;
    std::int32_t stride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Set when the proxy stands in for the photo: positions are rescaled.
    bool isProxy = false;
    std::int32_t photoWidth = 0;
    std::int32_t photoHeight = 0;
};

namespace {

// Rows per block between progress reports; fixed, so a cancelled render
// leaves the same partial result whatever the thread count.
constexpr std::int32_t kRowBlock = 16;
// Warped photos (and photos read back for them) held at once ahead of
// their composing: warps of several photos share the threads instead of
// each photo's rows waiting on its slowest one, block after block.
constexpr std::size_t kWarpAheadBytes = std::size_t{64} << 20;

// Bytes of a warped element over rect: colour, mask and weight.
std::size_t WarpedBytes(const Rect& rect) {
    const std::size_t w = static_cast<std::size_t>(std::max(0, rect.Width()));
    const std::size_t h = static_cast<std::size_t>(std::max(0, rect.Height()));
    return h * (((3 * w + 3) & ~std::size_t{3}) + 3 * ((w + 3) & ~std::size_t{3}));
}

Rect Clip(const Rect& a, const Rect& b) {
    Rect r(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom));
    if (r.IsEmpty())
        return Rect();
    return r;
}

bool HasArea(const Rect& r) {
    return r.right > r.left && r.bottom > r.top;
}

CPanoElement* NewPlanarElement(const Rect& rect) {
    auto* element = new (std::nothrow) CPanoElement(0);
    if (!element)
        return nullptr;
    if (!element->GetImage() || !element->CreateImage(true, rect.Width(), rect.Height(), true) ||
        !element->IsValid()) {
        element->Release();
        return nullptr;
    }
    element->CreateMask(false);
    if (!element->GetMask() || !element->GetBlendBuffer()) {
        element->Release();
        return nullptr;
    }
    element->x = rect.left;
    element->y = rect.top;
    return element;
}

}  // namespace

std::uint16_t CCylindricalSurface::PixelWeight(double a, double b) {
    const double m = std::max(a, b);
    const double s = (0.5 * b * b + a * a + m * m) * 0.5;
    const double t = std::isfinite(s) ? std::clamp(s, 0.0, 1.0) : 1.0;
    return static_cast<std::uint16_t>(static_cast<int>((1.0 - t) * 65534.0 + 1.0));
}

bool CCylindricalSurface::ProjectDirection(const double B[9], double x, double y, double z, double& u,
                                           double& v) {
    const double w = B[6] * x + B[7] * y + B[8] * z;
    // Behind the camera, on its focal plane (w = 0) or undefined: no pixel.
    if (!(w > 0.0))
        return false;
    u = (B[0] * x + B[1] * y + B[2] * z) / w;
    v = (B[3] * x + B[4] * y + B[5] * z) / w;
    return std::isfinite(u) && std::isfinite(v);
}

double CCylindricalSurface::GainFromHistograms(const std::uint32_t histNew[256],
                                               const std::uint32_t histRes[256], std::uint32_t counted) {
    if (counted < 100)
        return 1.0;
    auto median = [counted](const std::uint32_t* hist) {
        std::uint64_t sum = 0;
        for (int i = 0; i < 256; ++i) {
            sum += hist[i];
            if (sum > counted / 2)
                return i;
        }
        return 255;
    };
    const int medianNew = median(histNew), medianRes = median(histRes);
    // All agreeing pixels in the darkest bin: nothing to scale by.
    if (medianNew == 0)
        return 1.0;
    return (2.0 * medianRes / medianNew + 1.0) / 3.0;
}

bool CCylindricalSurface::Render(double scalePercent, PanoramaLib::IProgressIndicator* progressIndicator,
                                 PanoramaLib::IWaitCursor* cursor, std::int32_t rangeStart,
                                 std::int32_t rangeEnd) {
    if (cursor)
        cursor->BeginWaitCursor();
    cancelled = false;
    bool done = false;
    if (!images.empty()) {
        pose.focal = 1.0;
        BuildPhotoMatrices();
        ComputeNaturalFocal();
        ComputeBounds();
        fullScale = true;
        if (scalePercent != 100.0) {
            const double scaled = scalePercent * pose.focal / 100.0;
            const double F = std::max(scaled, FocalForPixels(480));
            if (F != pose.focal) {
                pose.focal = F;
                ComputeBounds();
                fullScale = false;
            }
        }
        ReleaseResult();
        for (SurfaceImage& image : images)
            for (int j = 0; j < 6; ++j)
                image.forward[j] *= pose.focal;

        outRect = Rect(0, 0, outWidth, outHeight);
        bool cropOk = true;
        // A crop given for a preview without a width cannot be scaled.
        if (cropRequested && cropReferenceWidth > 0) {
            auto scale = [this](std::int32_t v) {
                return static_cast<std::int32_t>(static_cast<std::int64_t>(v) * outWidth /
                                                 cropReferenceWidth);
            };
            const Rect scaled(scale(cropRect.left), scale(cropRect.top), scale(cropRect.right),
                              scale(cropRect.bottom));
            const Rect clipped = Clip(scaled, outRect);
            if (!HasArea(clipped))
                cropOk = false;
            else
                outRect = clipped;
        }
        if (cropOk && HasArea(outRect)) {
            result = NewPlanarElement(outRect);
            if (result) {
                result->FillImageWhite();
                RenderPhotos(progressIndicator, rangeStart, rangeEnd);
                result->x = 0;
                result->y = 0;
            }
        }
        done = result != nullptr;
    }
    cropRequested = false;
    if (cursor)
        cursor->EndWaitCursor();
    return done;
}

void CCylindricalSurface::RenderPhotos(PanoramaLib::IProgressIndicator* progressIndicator,
                                       std::int32_t rangeStart, std::int32_t rangeEnd) {
    progress = progressIndicator;
    progressStart = rangeStart;
    progressEnd = rangeEnd;
    stepsDone = 0;
    std::int64_t total = 0;
    for (const SurfaceImage& image : images) {
        const Rect r = Clip(image.rect, outRect);
        if (HasArea(r))
            total += r.Height();
    }
    totalSteps = static_cast<std::int32_t>(
        std::min<std::int64_t>(2 * total, std::numeric_limits<std::int32_t>::max()));
    BuildDirectionTables();
    std::size_t warpedUpTo = 0;
    for (std::size_t k = 0; k < images.size() && !cancelled; ++k) {
        if (k == warpedUpTo)
            warpedUpTo = WarpAhead(k);
        SurfaceImage& image = images[k];
        if (!image.warped)
            continue;
        // The warp's progress, reported where it used to run.
        StepRows(image.warped->y, image.warped->y + image.warped->GetHeight());
        (this->*compose)(image);
        image.warped.Reset();
    }
    ReleaseWarped();
    FreeDirectionTables();
    difference_ = std::vector<std::uint16_t>();
}

bool CCylindricalSurface::StepProgress() {
    ++stepsDone;
    if (!progress)
        return true;
    const std::int64_t span = static_cast<std::int64_t>(progressEnd) - progressStart;
    const std::int64_t position = progressStart + (totalSteps > 0 ? span * stepsDone / totalSteps : 0);
    if (progress->SetProgress(progressEnd, static_cast<std::int32_t>(position))) {
        cancelled = true;
        return false;
    }
    return true;
}

template <class Body>
void CCylindricalSurface::ForRows(std::int32_t top, std::int32_t bottom, Body body) {
    Platform::ThreadPool& pool = threadPool ? *threadPool : Platform::ThreadPool::Shared();
    for (std::int32_t first = top; first < bottom && !cancelled; first += kRowBlock) {
        const std::int32_t last = std::min(bottom, first + kRowBlock);
        // Every row writes only its own pixels, so the split changes nothing.
        pool.ParallelFor(static_cast<std::size_t>(first), static_cast<std::size_t>(last),
                         [&](std::size_t b, std::size_t e) {
                             for (std::size_t r = b; r < e; ++r)
                                 body(static_cast<std::int32_t>(r));
                         });
        for (std::int32_t r = first; r < last; ++r)
            if (!StepProgress())
                break;
    }
}

void CCylindricalSurface::StepRows(std::int32_t top, std::int32_t bottom) {
    for (std::int32_t first = top; first < bottom && !cancelled; first += kRowBlock) {
        const std::int32_t last = std::min(bottom, first + kRowBlock);
        for (std::int32_t r = first; r < last; ++r)
            if (!StepProgress())
                break;
    }
}

bool CCylindricalSurface::PrepareWarp(SurfaceImage& photo, SampleSource& source, bool& reloadedHere) {
    reloadedHere = false;
    // A warp left by a render that ended early belongs to other geometry.
    photo.warped.Reset();
    const Rect rect = Clip(photo.rect, outRect);
    if (!HasArea(rect))
        return false;
    photo.warped.Reset(NewPlanarElement(rect));
    if (!photo.warped)
        return false;
    // The nearest sampler falls back to the proxy while the photo is
    // unloaded, the bilinear one always reads the photo.
    IPanoElement* element = photo.element;
    if (sampler == &CCylindricalSurface::SampleNearest && !element->IsValid() && photo.proxy &&
        photo.proxy->IsValid()) {
        source.isProxy = true;
        return true;
    }
    reloadedHere = !element->IsValid();
    return true;
}

std::size_t CCylindricalSurface::WarpAhead(std::size_t first) {
    struct Pending {
        SurfaceImage* photo;
        SampleSource source;
        bool reloadedHere;
        double reach;
    };
    std::vector<Pending> batch;
    std::size_t bytes = 0, k = first;
    for (; k < images.size(); ++k) {
        SurfaceImage& photo = images[k];
        const Rect rect = Clip(photo.rect, outRect);
        std::size_t need = HasArea(rect) ? WarpedBytes(rect) : 0;
        if (need && !photo.element->IsValid())
            need += 3 * static_cast<std::size_t>(std::max(0, photo.element->GetWidth())) *
                    static_cast<std::size_t>(std::max(0, photo.element->GetHeight()));
        if (!batch.empty() && bytes + need > kWarpAheadBytes)
            break;
        // A photo listed twice is read back and unloaded by one warp at a time.
        bool twice = false;
        for (const Pending& p : batch)
            twice = twice || p.photo->element == photo.element;
        if (twice)
            break;
        bytes += need;
        Pending pending{&photo, SampleSource(), false, 0.0};
        if (PrepareWarp(photo, pending.source, pending.reloadedHere))
            batch.push_back(pending);
    }
    Platform::ThreadPool& pool = threadPool ? *threadPool : Platform::ThreadPool::Shared();
    // Resolve each source once, reading back the photos the warps need
    // side by side.
    const std::int32_t model = lensModel;
    pool.ParallelFor(0, batch.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            Pending& p = batch[i];
            IPanoElement* element = p.photo->element;
            IPanoElement* from = p.source.isProxy ? p.photo->proxy : nullptr;
            if (!p.source.isProxy) {
                if (p.reloadedHere)
                    element->Reload();
                if (element->IsValid())
                    from = element;
            }
            SampleSource& source = p.source;
            source.photoWidth = element->GetWidth();
            source.photoHeight = element->GetHeight();
            if (from && from->GetBpp() == 24) {
                source.bits = from->GetBits();
                source.stride = from->GetStride();
                source.width = from->GetWidth();
                source.height = from->GetHeight();
            }
            // Every sampler refuses a position more than half the photo plus
            // one pixel off its centre along either axis.
            const double inside = std::hypot(static_cast<double>(source.photoWidth / 2) + 1.0,
                                             static_cast<double>(source.photoHeight / 2) + 1.0);
            p.reach = p.photo->pose.hasOwnLens ? LensModelReach(model, p.photo->pose, inside)
                                               : std::numeric_limits<double>::infinity();
        }
    });
    const bool bilinear = sampler == &CCylindricalSurface::SampleBilinear;
    // All their rows in one run: every row writes only its own pixels.
    std::vector<std::size_t> firstRow(batch.size() + 1, 0);
    for (std::size_t i = 0; i < batch.size(); ++i)
        firstRow[i + 1] = firstRow[i] + static_cast<std::size_t>(batch[i].photo->warped->GetHeight());
    pool.ParallelFor(0, firstRow.back(), [&](std::size_t b, std::size_t e) {
        std::size_t i = static_cast<std::size_t>(std::upper_bound(firstRow.begin(), firstRow.end(), b) -
                                                 firstRow.begin()) -
                        1;
        for (std::size_t r = b; r < e; ++r) {
            while (r >= firstRow[i + 1])
                ++i;
            Pending& p = batch[i];
            const std::int32_t row = p.photo->warped->y + static_cast<std::int32_t>(r - firstRow[i]);
            if (bilinear)
                WarpRow<true>(*p.photo, p.source, row, model, p.reach);
            else
                WarpRow<false>(*p.photo, p.source, row, model, p.reach);
        }
    });
    // Pixels the caller had loaded stay: only what was read back here goes.
    for (Pending& p : batch)
        if (p.reloadedHere)
            p.photo->element->Unload();
    return k;
}

template <bool Bilinear>
void CCylindricalSurface::WarpRow(SurfaceImage& photo, const SampleSource& source, std::int32_t row,
                                  std::int32_t lensModel, double lensReach) {
    CPanoElement* warped = photo.warped.Get();
    const std::int32_t localRow = row - warped->y;
    std::uint8_t* bits = warped->GetBits() + static_cast<std::ptrdiff_t>(localRow) * warped->GetStride();
    const std::ptrdiff_t maskOffset = static_cast<std::ptrdiff_t>(localRow) * warped->GetMaskStride();
    std::uint8_t* mask = warped->GetMask() + maskOffset;
    std::uint16_t* weight = warped->GetBlendBuffer() + maskOffset;
    const double hw = static_cast<double>(source.photoWidth / 2),
                 hh = static_cast<double>(source.photoHeight / 2);
    const double y = rowTable[row - outRect.top];
    const std::int32_t right = warped->x + warped->GetWidth();
    for (std::int32_t column = warped->x; column < right; ++column) {
        const std::int32_t tc = column - outRect.left;
        double u, v;
        if (!ProjectDirection(photo.inverse, sinTable[tc], y, cosTable[tc], u, v))
            continue;
        if (photo.pose.hasOwnLens) {
            // Far outside, the inverse's search only runs out of steps, and
            // whatever it found would lie outside the photo.
            if (std::sqrt(u * u + v * v) > lensReach)
                continue;
            double pu, pv;
            const bool ok = lensModel == 1 ? InvertLensModelQuartic(&pu, &pv, &photo.pose, u, v)
                                           : InvertLensModelCubic(&pu, &pv, &photo.pose, u, v);
            u = ok ? pu : -100.0 - hw;
            v = ok ? pv : v;
        }
        std::uint8_t colour[3];
        if (!(Bilinear ? SampleBilinear(source, hw + u, hh + v, colour)
                       : SampleNearest(source, hw + u, hh + v, colour)))
            continue;
        const std::int32_t i = column - warped->x;
        std::memcpy(bits + 3 * i, colour, 3);
        mask[i] = 255;
        weight[i] = PixelWeight(std::fabs(u) / hw, std::fabs(v) / hh);
    }
}

bool CCylindricalSurface::SampleNearest(const SampleSource& source, double x, double y,
                                        std::uint8_t* out) const {
    if (!source.bits)
        return false;
    // Tested as doubles first: truncating a huge or NaN position is undefined.
    if (!(x > -1.0 && x < source.photoWidth && y > -1.0 && y < source.photoHeight))
        return false;
    std::int64_t x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    if (source.isProxy) {
        x0 = source.width * x0 / source.photoWidth;
        y0 = source.height * y0 / source.photoHeight;
    }
    if (x0 < 0 || x0 >= source.width - 1 || y0 < 0 || y0 >= source.height - 1)
        return false;
    std::memcpy(out, source.bits + y0 * source.stride + 3 * x0, 3);
    return true;
}

bool CCylindricalSurface::SampleBilinear(const SampleSource& source, double x, double y,
                                         std::uint8_t* out) const {
    if (!source.bits || source.isProxy)
        return false;
    if (!(x > -1.0 && x < source.width - 1 && y > -1.0 && y < source.height - 1))
        return false;
    const std::int32_t x0 = static_cast<std::int32_t>(x), y0 = static_cast<std::int32_t>(y);
    const double fx = x - x0, fy = y - y0;
    const std::uint8_t* p00 = source.bits + static_cast<std::ptrdiff_t>(y0) * source.stride + 3 * x0;
    const std::uint8_t* p01 = p00 + source.stride;
    for (int k = 0; k < 3; ++k) {
        const double value = p00[k] * (1 - fx) * (1 - fy) + p00[3 + k] * fx * (1 - fy) +
                             p01[k] * (1 - fx) * fy + p01[3 + k] * fx * fy;
        // Positions just left of or above the first pixel truncate to it and
        // extrapolate a little; keep the byte in range.
        out[k] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(value), 0, 255));
    }
    return true;
}

double CCylindricalSurface::ComputeGain(SurfaceImage& photo, std::uint16_t* difference, const Rect& overlap) {
    CPanoElement* warped = photo.warped.Get();
    const std::int32_t ow = overlap.Width(), oh = overlap.Height();
    // Slices of rows count on their own, side by side; whole-number sums
    // come out the same however the rows are split.
    struct Counts {
        std::uint32_t histNew[256] = {}, histRes[256] = {};
        std::uint32_t counted = 0;
        bool overlapping = false;  // a pixel both cover
    };
    const std::size_t slices = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, oh)), 32);
    std::vector<Counts> counts(slices);
    Platform::ThreadPool& pool = threadPool ? *threadPool : Platform::ThreadPool::Shared();
    pool.ParallelFor(0, slices, [&](std::size_t sb, std::size_t se) {
        for (std::size_t slice = sb; slice < se; ++slice) {
            Counts& into = counts[slice];
            std::uint32_t* histNew = into.histNew;
            std::uint32_t* histRes = into.histRes;
            const std::int32_t top = overlap.top + static_cast<std::int32_t>(oh * slice / slices);
            const std::int32_t bottom = overlap.top + static_cast<std::int32_t>(oh * (slice + 1) / slices);
            for (std::int32_t r = top; r < bottom; ++r) {
                const std::uint8_t* wb =
                    warped->GetBits() + static_cast<std::ptrdiff_t>(r - warped->y) * warped->GetStride();
                const std::uint8_t* rb =
                    result->GetBits() + static_cast<std::ptrdiff_t>(r - result->y) * result->GetStride();
                const std::uint8_t* wm =
                    warped->GetMask() + static_cast<std::ptrdiff_t>(r - warped->y) * warped->GetMaskStride();
                const std::uint8_t* rm =
                    result->GetMask() + static_cast<std::ptrdiff_t>(r - result->y) * result->GetMaskStride();
                std::uint16_t* d = difference + static_cast<std::ptrdiff_t>(r - overlap.top) * ow;
                for (std::int32_t c = overlap.left; c < overlap.right; ++c) {
                    const std::int32_t wc = c - warped->x, rc = c - result->x;
                    if (!wm[wc] || !rm[rc])
                        continue;
                    into.overlapping = true;
                    const std::uint8_t* pw = wb + 3 * wc;
                    const std::uint8_t* pr = rb + 3 * rc;
                    const int gNew = pw[0] + 2 * pw[1] + pw[2];
                    const int gRes = pr[0] + 2 * pr[1] + pr[2];
                    const int diff = std::abs(gNew - gRes) * 64;
                    d[c - overlap.left] = static_cast<std::uint16_t>(diff);
                    if (diff < 0x3200) {
                        ++histNew[gNew / 4];
                        ++histRes[gRes / 4];
                        ++into.counted;
                    }
                }
            }
        }
    });
    std::uint32_t histNew[256] = {}, histRes[256] = {};
    std::uint32_t counted = 0;
    bool overlapping = false;
    for (const Counts& c : counts) {
        for (int i = 0; i < 256; ++i) {
            histNew[i] += c.histNew[i];
            histRes[i] += c.histRes[i];
        }
        counted += c.counted;
        overlapping = overlapping || c.overlapping;
    }
    // The smoothed difference is read only where the photo meets what is
    // composed already: with no such pixel it is never read.
    if (overlapping) {
        const double sigma = static_cast<int>(std::sqrt(static_cast<double>(ow) * oh)) * 0.125;
        RecursiveGaussianBlurU16(ow, oh, ow, difference, sigma);
    }
    return GainFromHistograms(histNew, histRes, counted);
}

void CCylindricalSurface::ComposePhoto(SurfaceImage& photo) {
    CPanoElement* warped = photo.warped.Get();
    const Rect overlap = Clip(result->GetRect(), warped->GetRect());
    if (!HasArea(overlap))
        return;
    const std::int32_t ow = overlap.Width();
    // One plane for every photo of the render, cleared for each.
    std::vector<std::uint16_t>& difference = difference_;
    difference.assign(static_cast<std::size_t>(ow) * overlap.Height(), 0);
    const double gain = ComputeGain(photo, difference.data(), overlap);
    std::uint8_t scaled[256];
    for (int i = 0; i < 256; ++i)
        scaled[i] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(i * gain + 0.5), 0, 255));

    ForRows(overlap.top, overlap.bottom, [&](std::int32_t r) {
        std::uint8_t* wb =
            warped->GetBits() + static_cast<std::ptrdiff_t>(r - warped->y) * warped->GetStride();
        std::uint8_t* rb =
            result->GetBits() + static_cast<std::ptrdiff_t>(r - result->y) * result->GetStride();
        const std::ptrdiff_t wOff = static_cast<std::ptrdiff_t>(r - warped->y) * warped->GetMaskStride();
        const std::ptrdiff_t rOff = static_cast<std::ptrdiff_t>(r - result->y) * result->GetMaskStride();
        const std::uint8_t* wm = warped->GetMask() + wOff;
        std::uint8_t* rm = result->GetMask() + rOff;
        const std::uint16_t* ww = warped->GetBlendBuffer() + wOff;
        std::uint16_t* rw = result->GetBlendBuffer() + rOff;
        const std::uint16_t* smooth = difference.data() + static_cast<std::ptrdiff_t>(r - overlap.top) * ow;
        for (std::int32_t c = overlap.left; c < overlap.right; ++c) {
            const std::int32_t wc = c - warped->x, rc = c - result->x;
            if (!wm[wc])
                continue;
            const std::uint8_t cNew[3] = {scaled[wb[3 * wc]], scaled[wb[3 * wc + 1]], scaled[wb[3 * wc + 2]]};
            std::uint8_t* pr = rb + 3 * rc;
            if (!rm[rc])
                rm[rc] = wm[wc];
            if (rw[rc] == 0) {
                std::memcpy(pr, cNew, 3);
                rw[rc] = ww[wc];
                continue;
            }
            int D = 0;
            for (int k = 0; k < 3; ++k)
                D = std::max(D, std::abs(cNew[k] - pr[k]));
            const int k = std::clamp(D * D / 100, 1, 100);
            const double wr = rw[rc] / 65535.0, wn = ww[wc] / 65535.0;
            const double S = smooth[c - overlap.left];
            const double t = std::clamp((wr / (wn + wr) + S * 0.45 / 65535.0 - 0.5) * k + 0.5, 0.0, 1.0);
            const int alpha = static_cast<int>(t * 256.0 + 0.5);
            for (int j = 0; j < 3; ++j)
                pr[j] = static_cast<std::uint8_t>((pr[j] * alpha + cNew[j] * (256 - alpha)) >> 8);
            rw[rc] = std::max(rw[rc], ww[wc]);
        }
    });

    if (notify) {
        const Rect changed(overlap.left - result->x, overlap.top - result->y, overlap.right - result->x,
                           overlap.bottom - result->y);
        notify->OnRenderDone(&changed);
    }
}
