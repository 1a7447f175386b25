#pragma once
// One photo placed in panorama coordinates: an image, its position, an 8-bit
// coverage mask (0 absent, 255 fully covered) and two scratch planes, with the
// pixel-block operations the panorama models build on.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PanoramaLib.h"
#include "PlaneMemory.h"

class CPanoElement : public OrvexBase::RefCounter, public PanoramaLib::IPanoElement {
public:
    explicit CPanoElement(int reserved = 0);
    CPanoElement(const CPanoElement&) = delete;
    CPanoElement& operator=(const CPanoElement&) = delete;
    ~CPanoElement() override;

    // PanoramaLib::IPanoElement
    void AddRef() override { AddRefImpl(); }
    void Release() override { ReleaseImpl(); }
    bool Save(const std::wstring& path) override;
    bool Load(const std::wstring& path) override;
    bool SetFromPlane(const std::uint8_t* plane, int width, int height, int planeStride) override;
    bool SetFromPlanes(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                       int width, int height, int planeStride) override;
    bool Create(int bpp, int width, int height) override;
    void Destroy() override;
    void Unload() override;
    void Reload() override;
    bool CopyTo(PanoramaLib::IPanoElement* target) override;
    PanoramaLib::IPanoElement* Clone() override;
    std::uint8_t* GetMask() override { return mask.get(); }
    // Final and inline: pixel loops elsewhere call it once per row.
    int GetMaskStride() const final { return (image->GetWidth() + 3) & ~3; }
    void ApplyMask() override;
    PanoramaLib::IDib* GetImage() const override { return image; }
    OrvexBase::Size GetSize() const override;
    OrvexBase::Rect GetRect() const override;
    int GetWidth() const override { return image->GetWidth(); }
    int GetHeight() const override { return image->GetHeight(); }
    int GetBpp() const override { return image->GetBpp(); }
    int GetStride() const override { return image->GetStride(); }
    std::uint8_t* GetBits() const override { return image->GetBits(); }
    bool IsValid() const override { return image->IsValid(); }
    std::wstring GetFileTitle() const override { return image->GetFileTitle(); }
    std::wstring GetFileName() const override { return image->GetFileName(); }
    void SetFileName(const std::wstring& path) override { image->SetFileName(path); }
    std::wstring GetErrorText() const override { return errorText; }

    // Engine-side operations.
    bool CreateImage(bool is24Bit, int width, int height, bool allocate);
    void FillImageWhite();
    void FillImageGrey();
    // Allocates a mask filled with 255 (full) or 0; an existing mask stays.
    void CreateMask(bool full);
    // Zeroes the mask under area (panorama coordinates); the other two
    // arguments are unused.
    void ClearMaskRect(const OrvexBase::Rect* area, int unused1 = 0, int unused2 = 0);
    // A copy of the mask made on first request (255 where there is no mask);
    // null when it cannot be allocated.
    std::uint8_t* GetSavedMask();
    std::uint8_t* GetSavedMaskIfAny() const { return savedMask.get(); }
    // One zeroed 16-bit value per mask position, made on first request.
    std::uint16_t* GetBlendBuffer();
    // Bounds of the non-zero mask bytes in panorama coordinates, within clip
    // when given. With nothing covered the region comes back inverted
    // (left > right), which callers treat as empty.
    void GetMaskBounds(OrvexBase::Rect* result, const OrvexBase::Rect* clip) const;
    // The largest axis-aligned rectangle of fully covered pixels, found
    // greedily, in the element's own pixel coordinates; GetRect when there is
    // no mask or no usable span.
    void ComputeCropRect(OrvexBase::Rect* result) const;
    // Becomes a copy of source: image, mask and position.
    bool InitFrom(PanoramaLib::IPanoElement* source);
    // A new element (count 1) with the pixels (and mask) of area, which must
    // lie inside the element; null otherwise.
    CPanoElement* ExtractRegion(bool withMask, const OrvexBase::Rect& area) const;
    // A new 8-bit element of area's size holding the mask (or saved mask)
    // bytes under area, zero outside the element.
    CPanoElement* ExtractChannelRegion(const OrvexBase::Rect& area) const;
    CPanoElement* ExtractMaskRegion(const OrvexBase::Rect& area) const;

    std::int32_t x = 0;
    std::int32_t y = 0;
    // Kept for the panorama models; no operation here reads it.
    double scale = 1.0;

private:
    void FreePlanes();
    CPanoElement* ExtractPlaneRegion(const std::uint8_t* plane, const OrvexBase::Rect& area) const;
    std::size_t MaskBytes() const;

    PanoramaLib::IDib* image = nullptr;
    PlaneMemory::Buffer<std::uint8_t> mask;
    PlaneMemory::Buffer<std::uint8_t> savedMask;
    PlaneMemory::Buffer<std::uint16_t> blendBuffer;
    std::wstring errorText;
};

// Photos in photo order, one reference each (null: no photo there).
using ElementList = std::vector<OrvexBase::RefPtr<CPanoElement>>;
