#include "PanoElement.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "DibManager.h"
#include "PImage.h"
#include "ThreadPool.h"

using OrvexBase::Rect;
using PanoramaLib::IDib;

namespace {

// Images come from the engine-wide factory; without one (tests of this unit
// alone) a plain image keeps the element usable instead of crashing.
IDib* NewImage(int reserved) {
    if (g_pDibManager)
        return g_pDibManager->CreateDib(reserved);
    return new (std::nothrow) PanoramaLib::PImage();
}

IDib* CloneImage(IDib* source) {
    if (g_pDibManager)
        return g_pDibManager->CloneDib(source, 0);
    return new (std::nothrow) PanoramaLib::PImage(*source);
}

PlaneMemory::Buffer<std::uint8_t> AllocBytes(std::size_t n) {
    return PlaneMemory::Buffer<std::uint8_t>::Zeroed(n);
}

// Large fills are spread over the pool: the first write to fresh memory
// faults its pages in, and those faults are what a fill mostly costs.
void FillBytes(std::uint8_t* bytes, std::size_t n, int value) {
    constexpr std::size_t kPiece = std::size_t(1) << 18;
    if (n < 4 * kPiece) {
        std::memset(bytes, value, n);
        return;
    }
    Platform::ParallelFor(0, (n + kPiece - 1) / kPiece, [&](std::size_t begin, std::size_t end) {
        const std::size_t from = begin * kPiece, to = std::min(n, end * kPiece);
        std::memset(bytes + from, value, to - from);
    });
}

// Masks are mostly runs of zeros or of 255: eight bytes are tested at once.
int FirstNonZero(const std::uint8_t* bytes, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word)
            break;
    }
    for (; i < n; ++i)
        if (bytes[i])
            return i;
    return -1;
}

// The last non-zero byte of a line that has one.
int LastNonZero(const std::uint8_t* bytes, int n) {
    int i = n;
    for (; i >= 8; i -= 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i - 8, 8);
        if (word)
            break;
    }
    while (i > 0 && !bytes[i - 1])
        --i;
    return i - 1;
}

}  // namespace

CPanoElement::CPanoElement(int reserved) : image(NewImage(reserved)) {
    refcount = 1;
}

CPanoElement::~CPanoElement() {
    FreePlanes();
    if (image)
        image->Release();
}

std::size_t CPanoElement::MaskBytes() const {
    return static_cast<std::size_t>(GetMaskStride()) * static_cast<std::size_t>(std::max(0, GetHeight()));
}

OrvexBase::Size CPanoElement::GetSize() const {
    return {image->GetWidth(), image->GetHeight()};
}

Rect CPanoElement::GetRect() const {
    return Rect(x, y, x + image->GetWidth(), y + image->GetHeight());
}

bool CPanoElement::Save(const std::wstring& path) {
    return image->SaveToFile(path, &errorText);
}

bool CPanoElement::Load(const std::wstring& path) {
    if (image->IsValid())
        return false;
    return image->LoadFromFile(path, &errorText);
}

bool CPanoElement::SetFromPlane(const std::uint8_t* plane, int width, int height, int planeStride) {
    if (!plane || width == 0 || height == 0)
        return false;
    if (!image->Create(8, width, height, true))
        return false;
    std::uint8_t* bits = image->GetBits();
    const std::size_t stride = image->GetStride();
    for (int r = 0; r < height; ++r)
        std::memcpy(bits + r * stride, plane + static_cast<std::ptrdiff_t>(r) * planeStride, width);
    return true;
}

bool CPanoElement::SetFromPlanes(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                                 int width, int height, int planeStride) {
    if (!red || !green || !blue || width == 0 || height == 0)
        return false;
    if (!image->Create(24, width, height, true))
        return false;
    std::uint8_t* bits = image->GetBits();
    const std::size_t stride = image->GetStride();
    for (int r = 0; r < height; ++r) {
        std::uint8_t* out = bits + r * stride;
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(r) * planeStride;
        for (int c = 0; c < width; ++c) {
            out[3 * c] = blue[offset + c];
            out[3 * c + 1] = green[offset + c];
            out[3 * c + 2] = red[offset + c];
        }
    }
    return true;
}

bool CPanoElement::Create(int bpp, int width, int height) {
    if (image->IsValid())
        return false;
    return image->Create(bpp, width, height, true);
}

bool CPanoElement::CreateImage(bool is24Bit, int width, int height, bool allocate) {
    return image->Create(is24Bit ? 24 : 8, width, height, allocate);
}

void CPanoElement::FreePlanes() {
    mask.reset();
    savedMask.reset();
    blendBuffer.reset();
}

void CPanoElement::Destroy() {
    image->Destroy();
    FreePlanes();
}

void CPanoElement::Unload() {
    if (image->GetFileTitle().empty())
        return;
    image->Unload();
    mask.reset();
}

void CPanoElement::Reload() {
    const OrvexBase::Size before = GetSize();
    image->Reload();
    // The file may have changed size meanwhile: planes of the old size no
    // longer fit.
    if (!(GetSize() == before)) {
        savedMask.reset();
        blendBuffer.reset();
    }
}

bool CPanoElement::CopyTo(PanoramaLib::IPanoElement* target) {
    if (!target || !(target->GetRect() == GetRect()))
        return false;
    // Different depths or missing pixels would read or write out of bounds.
    if (target->GetBpp() != GetBpp() || !IsValid() || !target->IsValid())
        return false;
    const int height = GetHeight();
    const std::size_t stride = target->GetStride();
    for (int r = 0; r < height; ++r)
        std::memcpy(target->GetBits() + r * stride, GetBits() + r * stride, stride);
    if (mask) {
        auto* concrete = dynamic_cast<CPanoElement*>(target);
        if (concrete) {
            concrete->CreateMask(false);
            if (!concrete->mask)
                return false;
        } else if (!target->GetMask()) {
            return false;
        }
        std::memcpy(target->GetMask(), mask.get(), MaskBytes());
    }
    return true;
}

PanoramaLib::IPanoElement* CPanoElement::Clone() {
    auto* copy = new (std::nothrow) CPanoElement(0);
    if (!copy)
        return nullptr;
    if (!copy->image || !copy->InitFrom(this)) {
        copy->Release();
        return nullptr;
    }
    return copy;
}

void CPanoElement::ApplyMask() {
    if (!mask || !image->IsValid())
        return;
    const int width = GetWidth(), height = GetHeight();
    const int bytesPerPixel = GetBpp() / 8;
    const std::size_t stride = GetStride();
    const int maskStride = GetMaskStride();
    std::uint8_t* bits = GetBits();
    const std::uint8_t* maskBits = mask.get();
    Platform::ParallelFor(
        0, static_cast<std::size_t>(std::max(height, 0)),
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r) {
                std::uint8_t* row = bits + r * stride;
                const std::uint8_t* m = maskBits + r * maskStride;
                for (int c = 0; c < width; ++c)
                    if (m[c] == 0)
                        std::memset(row + bytesPerPixel * c, 255, bytesPerPixel);
            }
        },
        16);
    mask.reset();
}

void CPanoElement::FillImageWhite() {
    if (image->IsValid() && (GetBpp() == 8 || GetBpp() == 24))
        FillBytes(GetBits(), static_cast<std::size_t>(GetStride()) * GetHeight(), 255);
}

void CPanoElement::FillImageGrey() {
    if (image->IsValid() && (GetBpp() == 8 || GetBpp() == 24))
        FillBytes(GetBits(), static_cast<std::size_t>(GetStride()) * GetHeight(), 128);
}

void CPanoElement::CreateMask(bool full) {
    if (mask || GetWidth() <= 0 || GetHeight() <= 0)
        return;
    // The image stride is never shorter than the mask stride.
    const std::size_t n = std::max<std::size_t>(GetStride(), GetMaskStride()) * GetHeight();
    mask = AllocBytes(n);
    if (mask && full)
        FillBytes(mask.get(), n, 255);
}

void CPanoElement::ClearMaskRect(const Rect* area, int, int) {
    if (!mask || !area)
        return;
    const Rect hit = GetRect().Intersect(*area);
    if (hit.Width() <= 0 || hit.Height() <= 0)
        return;
    const int maskStride = GetMaskStride();
    for (int r = hit.top; r < hit.bottom; ++r)
        std::memset(mask.get() + static_cast<std::size_t>(r - y) * maskStride + (hit.left - x), 0,
                    hit.Width());
}

std::uint8_t* CPanoElement::GetSavedMask() {
    if (!savedMask) {
        const std::size_t n = MaskBytes();
        if (n == 0)
            return nullptr;
        savedMask = AllocBytes(n);
        if (!savedMask)
            return nullptr;
        if (mask)
            std::memcpy(savedMask.get(), mask.get(), n);
        else
            std::memset(savedMask.get(), 255, n);
    }
    return savedMask.get();
}

std::uint16_t* CPanoElement::GetBlendBuffer() {
    if (!blendBuffer) {
        const std::size_t n = MaskBytes();
        if (n == 0)
            return nullptr;
        blendBuffer = PlaneMemory::Buffer<std::uint16_t>::Zeroed(n);
    }
    return blendBuffer.get();
}

void CPanoElement::GetMaskBounds(Rect* result, const Rect* clip) const {
    if (!result)
        return;
    Rect region = GetRect();
    if (clip)
        region = region.Intersect(*clip);
    if (!mask) {
        *result = region;
        return;
    }
    const int maskStride = GetMaskStride();
    const int width = region.right - region.left;
    int minCol = 0, maxCol = -1, firstRow = -1, lastRow = -1;
    bool any = false;
    for (int r = region.top; r < region.bottom && width > 0; ++r) {
        const std::uint8_t* m = mask.get() + static_cast<std::size_t>(r - y) * maskStride + (region.left - x);
        const int first = FirstNonZero(m, width);
        if (first < 0)
            continue;
        const int col = region.left - x + first, lastCol = region.left - x + LastNonZero(m, width);
        if (!any) {
            minCol = col;
            maxCol = lastCol;
            firstRow = r - y;
            any = true;
        }
        minCol = std::min(minCol, col);
        maxCol = std::max(maxCol, lastCol);
        lastRow = r - y;
    }
    if (!any) {
        // Inverted, so that nothing can overflow and callers see it as empty.
        *result = Rect(region.right, region.bottom, region.left, region.top);
        return;
    }
    *result = Rect(minCol + x, firstRow + y, maxCol + 1 + x, lastRow + 1 + y);
}

namespace {

// The greedy crop search along one axis. "Lines" are rows for a wide mask and
// columns for a tall one; at(line, pos) reads the mask byte.
template <class At>
bool CropAlongLines(int lines, int length, At at, int* outL, int* outTop, int* outR, int* outBottom) {
    struct Span {
        int left = 0, right = 0;
        bool empty = true;  // a flag, not (0, 0): column 0 is a legal span end
    };
    std::vector<Span> spans(lines);
    for (int r = 0; r < lines; ++r) {
        int left = -1, right = -1;
        for (int c = 0; c < length; ++c)
            if (at(r, c) == 255) {
                if (left < 0)
                    left = c;
                right = c;
            }
        if (left >= 0)
            spans[r] = {left, right, false};
    }
    // A hole column that other lines cover makes the whole line unusable;
    // a hole in an otherwise empty column only trims the line.
    auto columnCoveredElsewhere = [&](int r, int c) {
        for (int j = 0; j < lines; ++j)
            if (j != r && at(j, c) != 0)
                return true;
        return false;
    };
    for (int r = 0; r < lines; ++r) {
        Span& s = spans[r];
        if (s.empty)
            continue;
        const int mid = (s.left + s.right) / 2;
        for (int c = s.left; c <= mid; ++c) {
            if (at(r, c) == 255)
                continue;
            if (columnCoveredElsewhere(r, c)) {
                s.empty = true;
            } else {
                for (int c2 = c; c2 <= mid; ++c2)
                    if (at(r, c2) == 255) {
                        s.left = c2;
                        break;
                    }
            }
            break;
        }
        if (s.empty)
            continue;
        for (int c = s.right; c >= mid; --c) {
            if (at(r, c) == 255)
                continue;
            if (columnCoveredElsewhere(r, c)) {
                s.empty = true;
            } else {
                for (int c2 = c; c2 >= mid; --c2)
                    if (at(r, c2) == 255) {
                        s.right = c2;
                        break;
                    }
            }
            break;
        }
    }
    int k = -1;
    for (int r = 0; r < lines; ++r)
        if (!spans[r].empty && (k < 0 || spans[r].right - spans[r].left > spans[k].right - spans[k].left))
            k = r;
    if (k < 0 || spans[k].right - spans[k].left < (length * 10) / 100)
        return false;

    int upL = spans[k].left, upR = spans[k].right, top = k;
    long long areaUp = upR - upL;
    for (int j = k - 1; j >= 0 && !spans[j].empty; --j) {
        const int l = std::max(upL, spans[j].left), rr = std::min(upR, spans[j].right);
        const long long area = static_cast<long long>(rr - l) * (k - j + 1);
        if (area <= areaUp)
            break;
        areaUp = area;
        upL = l;
        upR = rr;
        top = j;
    }
    int downL = spans[k].left, downR = spans[k].right, bottom = k;
    long long areaDown = downR - downL;
    for (int j = k + 1; j < lines && !spans[j].empty; ++j) {
        const int l = std::max(downL, spans[j].left), rr = std::min(downR, spans[j].right);
        const long long area = static_cast<long long>(rr - l) * (j - k + 1);
        if (area <= areaDown)
            break;
        areaDown = area;
        downL = l;
        downR = rr;
        bottom = j;
    }
    int L, R;
    if (areaDown < areaUp) {
        L = upL;
        R = upR;
        bottom = k;
        for (int j = k + 1; j < lines && !spans[j].empty && spans[j].left <= L && spans[j].right >= R; ++j)
            bottom = j;
    } else {
        L = downL;
        R = downR;
        top = k;
        for (int j = k - 1; j >= 0 && !spans[j].empty && spans[j].left <= L && spans[j].right >= R; --j)
            top = j;
    }
    *outL = L;
    *outR = R;
    *outTop = top;
    *outBottom = bottom;
    return true;
}

}  // namespace

void CPanoElement::ComputeCropRect(Rect* result) const {
    if (!result)
        return;
    if (!mask) {
        *result = GetRect();
        return;
    }
    Rect bounds;
    GetMaskBounds(&bounds, nullptr);
    const int width = GetWidth(), height = GetHeight(), maskStride = GetMaskStride();
    const std::uint8_t* m = mask.get();
    int L, top, R, bottom;
    if (bounds.Height() < bounds.Width()) {
        auto at = [&](int row, int col) { return m[static_cast<std::size_t>(row) * maskStride + col]; };
        if (!CropAlongLines(height, width, at, &L, &top, &R, &bottom)) {
            *result = GetRect();
            return;
        }
        *result = Rect(L, top, R + 1, bottom + 1);
    } else {
        auto at = [&](int col, int row) { return m[static_cast<std::size_t>(row) * maskStride + col]; };
        if (!CropAlongLines(width, height, at, &L, &top, &R, &bottom)) {
            *result = GetRect();
            return;
        }
        *result = Rect(top, L, bottom + 1, R + 1);
    }
}

bool CPanoElement::InitFrom(PanoramaLib::IPanoElement* source) {
    if (!source || !source->GetImage() || !source->GetImage()->IsValid())
        return false;
    IDib* copy = nullptr;
    try {
        copy = CloneImage(source->GetImage());
    } catch (const PanoramaLib::dibException&) {
        return false;
    }
    if (!copy)
        return false;
    image->Release();
    image = copy;
    // Planes of the previous picture would not fit the new one.
    FreePlanes();
    if (source->GetMask()) {
        CreateMask(false);
        if (!mask)
            return false;
        std::memcpy(mask.get(), source->GetMask(), MaskBytes());
    }
    const Rect rect = source->GetRect();
    x = rect.left;
    y = rect.top;
    return true;
}

CPanoElement* CPanoElement::ExtractRegion(bool withMask, const Rect& area) const {
    if (area.Width() <= 0 || area.Height() <= 0 || !image->IsValid())
        return nullptr;
    if (!(GetRect().Intersect(area) == area))
        return nullptr;
    OrvexBase::RefPtr<CPanoElement> out(new (std::nothrow) CPanoElement(0));
    if (!out || !out->image || !out->Create(GetBpp(), area.Width(), area.Height()))
        return nullptr;
    out->x = area.left;
    out->y = area.top;
    if (withMask && mask) {
        out->CreateMask(false);
        if (!out->mask)
            return nullptr;
    }
    const int bytesPerPixel = GetBpp() / 8;
    const std::size_t stride = GetStride(), outStride = out->GetStride();
    const int maskStride = GetMaskStride(), outMaskStride = out->GetMaskStride();
    for (int r = 0; r < area.Height(); ++r) {
        const int srcRow = area.top - y + r;
        std::memcpy(out->GetBits() + r * outStride,
                    GetBits() + srcRow * stride + bytesPerPixel * (area.left - x),
                    static_cast<std::size_t>(area.Width()) * bytesPerPixel);
        if (out->mask)
            std::memcpy(out->mask.get() + static_cast<std::size_t>(r) * outMaskStride,
                        mask.get() + static_cast<std::size_t>(srcRow) * maskStride + (area.left - x),
                        area.Width());
    }
    return out.Detach();
}

CPanoElement* CPanoElement::ExtractPlaneRegion(const std::uint8_t* plane, const Rect& area) const {
    if (area.Width() <= 0 || area.Height() <= 0 || !plane)
        return nullptr;
    OrvexBase::RefPtr<CPanoElement> out(new (std::nothrow) CPanoElement(0));
    if (!out || !out->image || !out->Create(8, area.Width(), area.Height()))
        return nullptr;
    const Rect hit = GetRect().Intersect(area);
    if (hit.Width() > 0 && hit.Height() > 0) {
        const int maskStride = GetMaskStride();
        const std::size_t outStride = out->GetStride();
        for (int r = hit.top; r < hit.bottom; ++r)
            std::memcpy(
                out->GetBits() + static_cast<std::size_t>(r - area.top) * outStride + (hit.left - area.left),
                plane + static_cast<std::size_t>(r - y) * maskStride + (hit.left - x), hit.Width());
    }
    return out.Detach();
}

CPanoElement* CPanoElement::ExtractChannelRegion(const Rect& area) const {
    return ExtractPlaneRegion(mask.get(), area);
}

CPanoElement* CPanoElement::ExtractMaskRegion(const Rect& area) const {
    return ExtractPlaneRegion(savedMask.get(), area);
}

PanoramaLib::IPanoElement* CreatePanoElement(int reserved) {
    auto* element = new (std::nothrow) CPanoElement(reserved);
    if (element && !element->GetImage()) {
        element->Release();
        return nullptr;
    }
    return element;
}

void ReleasePanoElement(PanoramaLib::IPanoElement* element) {
    if (element)
        element->Release();
}

void ReleaseElementVector(std::vector<PanoramaLib::IPanoElement*>& elements) {
    for (auto* e : elements)
        ReleasePanoElement(e);
    elements.clear();
}
