#pragma once
// Projection surfaces of the tiled model: the aligned photos are rendered onto
// a cylinder or a sphere. A surface keeps the photos with their poses and a
// reference orientation, computes the panorama's angular bounds, its output
// size at a chosen scale and the mapping between output pixels and viewing
// directions, and renders (SurfaceRendering.cpp) with gain matching and a
// weighted blend.

#include <cstdint>
#include <memory>
#include <vector>

#include "PanoElement.h"
#include "PanoramaLib.h"
#include "TiledImagePose.h"

namespace Platform {
class ThreadPool;
}

struct SampleSource;

// Told by a rendering surface which part of its result changed.
class ISRNotify {
public:
    // Relative to the result's top-left.
    virtual void OnRenderDone(const OrvexBase::Rect* changed) = 0;

protected:
    ~ISRNotify() = default;
};

// One photo on a surface.
struct SurfaceImage {
    PanoramaLib::IPanoElement* element = nullptr;  // not owned
    PanoramaLib::IPanoElement* proxy = nullptr;    // a smaller copy, may be null; not owned
    TiledImagePose pose;
    double lonMin = 0.0, lonMax = 0.0;       // degrees
    double hMin = 0.0, hMax = 0.0;           // height (cylinder) or latitude in degrees (sphere)
    double forward[9] = {};                  // centred pixel (u, v, 1) -> direction
    double inverse[9] = {};                  // direction -> (u w, v w, w)
    OrvexBase::Rect rect;                    // output rectangle
    OrvexBase::RefPtr<CPanoElement> warped;  // while a render runs
};

class CSurfaceRendering {
public:
    virtual ~CSurfaceRendering();
    // For each index of the list, AddImage of that photo; a shared lens pose
    // with its flag set replaces each photo's lens. Proxies are passed only
    // when there is one per photo.
    virtual void SetImages(const std::vector<std::int32_t>& indices, const TiledImagePose& sharedLens,
                           const std::vector<TiledImagePose>& poses,
                           const std::vector<PanoramaLib::IPanoElement*>& elements,
                           const std::vector<PanoramaLib::IPanoElement*>& proxies) = 0;
    virtual void AddImage(PanoramaLib::IPanoElement* element, const TiledImagePose& pose,
                          PanoramaLib::IPanoElement* proxy) = 0;
    virtual void SelectReference(std::int32_t index) = 0;
    virtual void AddAngleOffsets(std::int32_t pitch, std::int32_t yaw, std::int32_t roll) = 0;
    virtual void SetInterpolation(std::int32_t mode) = 0;
    virtual void SetCrop(const OrvexBase::Rect& rect, std::int32_t referenceWidth) = 0;
    virtual bool Render(double scalePercent, PanoramaLib::IProgressIndicator* progress,
                        PanoramaLib::IWaitCursor* cursor, std::int32_t rangeStart, std::int32_t rangeEnd) = 0;
    virtual bool IsFullScale() const = 0;
    // The result with one more reference, or null.
    virtual PanoramaLib::IPanoElement* GetResult() = 0;
    virtual void ReleaseResult() = 0;
    virtual void ClearImages() = 0;
};

class CCylindricalSurface : public CSurfaceRendering {
public:
    CCylindricalSurface();
    CCylindricalSurface(const CCylindricalSurface&) = delete;
    CCylindricalSurface& operator=(const CCylindricalSurface&) = delete;
    ~CCylindricalSurface() override;

    void SetImages(const std::vector<std::int32_t>& indices, const TiledImagePose& sharedLens,
                   const std::vector<TiledImagePose>& poses,
                   const std::vector<PanoramaLib::IPanoElement*>& elements,
                   const std::vector<PanoramaLib::IPanoElement*>& proxies) override;
    void AddImage(PanoramaLib::IPanoElement* element, const TiledImagePose& pose,
                  PanoramaLib::IPanoElement* proxy) override;
    void SelectReference(std::int32_t index) override;
    void AddAngleOffsets(std::int32_t pitch, std::int32_t yaw, std::int32_t roll) override;
    void SetInterpolation(std::int32_t mode) override;
    void SetCrop(const OrvexBase::Rect& rect, std::int32_t referenceWidth) override;
    bool Render(double scalePercent, PanoramaLib::IProgressIndicator* progress,
                PanoramaLib::IWaitCursor* cursor, std::int32_t rangeStart, std::int32_t rangeEnd) override;
    bool IsFullScale() const override { return fullScale; }
    PanoramaLib::IPanoElement* GetResult() override;
    void ReleaseResult() override;
    void ClearImages() override;

    virtual double Radius(double x, double y, double z) const;
    virtual double Elevation(double x, double y, double z) const;
    virtual void ConvertElevationBounds(double& minimum, double& maximum) const;
    virtual void ComputeOutputSize();
    virtual void ImageRows(const SurfaceImage& photo, double& top, double& bottom) const;
    void ComputeBounds();
    void PixelToDirection(std::int32_t column, std::int32_t row, double& x, double& y, double& z);
    virtual double FocalForPixels(std::int32_t n) const;
    virtual bool IsCylindrical() const { return true; }

    // The lens polynomial of the poses' lens terms (LensFactor: 1 quartic,
    // else cubic): the one they were fitted with, for the bounds and the warp.
    void SetLensModel(std::int32_t model) { lensModel = model; }
    std::int32_t LensModel() const { return lensModel; }
    void SetChangeListener(ISRNotify* listener) { notify = listener; }
    bool IsCancelled() const { return cancelled; }
    // The pool that splits rows across threads; null uses the shared pool.
    // The output is byte-identical whatever its size.
    void SetThreadPool(Platform::ThreadPool* pool) { threadPool = pool; }

    // Geometry of the last render, for the tiled model and for tests.
    double Focal() const { return pose.focal; }
    std::int32_t OutputWidth() const { return outWidth; }
    std::int32_t OutputHeight() const { return outHeight; }
    const OrvexBase::Rect& OutputRect() const { return outRect; }
    const std::vector<SurfaceImage>& Images() const { return images; }
    const TiledImagePose& ReferencePose() const { return pose; }

    // Pixel weight of a warped sample at relative offsets a = |u| / hw and
    // b = |v| / hh: 65535 at the centre falling to 1 at the weighting's edge.
    static std::uint16_t PixelWeight(double a, double b);
    // Projects a direction through a photo's inverse matrix to its centred
    // offset (u, v); false behind the camera (w <= 0) or for non-finite values.
    static bool ProjectDirection(const double inverse[9], double x, double y, double z, double& u, double& v);
    // The brightness gain from the two 256-bin histograms of agreeing overlap
    // pixels: 1.0 with fewer than 100 of them or a zero median of the new photo.
    static double GainFromHistograms(const std::uint32_t histNew[256], const std::uint32_t histRes[256],
                                     std::uint32_t counted);
    // Largest width, height and area an output may have.
    static constexpr std::int32_t kMaxOutputSide = 65536;
    static constexpr std::int64_t kMaxOutputArea = std::int64_t(1) << 29;

protected:
    // Value of the row-direction table: height on the cylinder, tan(latitude)
    // on the sphere.
    virtual double RowDirection(std::int32_t row) const;
    // Stores a size after checking it is finite and within the caps; an
    // unusable size becomes 0 x 0 and the render fails.
    void SetOutputSize(double width, double height);

    // Bounds of the whole panorama; empty = (largest double, minus largest).
    double lonMin, lonMax, hMin, hMax;
    double originRow = 0.0;
    std::int32_t outWidth = 0, outHeight = 0;
    TiledImagePose pose;  // focal = output focal F, angles = reference
    std::vector<SurfaceImage> images;

private:
    using Sampler = bool (CCylindricalSurface::*)(const SampleSource&, double, double, std::uint8_t*) const;
    using ComposeProc = void (CCylindricalSurface::*)(SurfaceImage&);

    void BuildPhotoMatrices();
    void ComputeNaturalFocal();
    void ResetBounds();
    void BuildDirectionTables();
    void FreeDirectionTables();
    void RenderPhotos(PanoramaLib::IProgressIndicator* progress, std::int32_t rangeStart,
                      std::int32_t rangeEnd);
    // Warps the photos from `first` on side by side, as many as the memory
    // allowed ahead holds (always one), and returns the index past the last
    // one taken; each photo warped has its warped element.
    std::size_t WarpAhead(std::size_t first);
    // The warped element of a photo and where its samples come from (its
    // pixels are read back after the caller reloads it when reloadedHere);
    // false when it has no rows in the output or no element could be had.
    bool PrepareWarp(SurfaceImage& photo, SampleSource& source, bool& reloadedHere);
    // lensReach: offsets further from the centre than this cannot come from
    // inside the photo (LensModelReach); their inverse is not sought.
    // Bilinear picks the sampler at compile time (the pixel loop then calls
    // it directly); it must match the one set.
    template <bool Bilinear>
    void WarpRow(SurfaceImage& photo, const SampleSource& source, std::int32_t row, std::int32_t lensModel,
                 double lensReach);
    void ComposePhoto(SurfaceImage& photo);
    double ComputeGain(SurfaceImage& photo, std::uint16_t* difference, const OrvexBase::Rect& overlap);
    bool SampleNearest(const SampleSource& source, double x, double y, std::uint8_t* out) const;
    bool SampleBilinear(const SampleSource& source, double x, double y, std::uint8_t* out) const;
    // One progress step per finished row; false once cancelled.
    bool StepProgress();
    // Runs body over rows [top, bottom) in fixed blocks, possibly on several
    // threads, with one progress step per row between blocks.
    template <class Body>
    void ForRows(std::int32_t top, std::int32_t bottom, Body body);
    // The progress steps ForRows makes over rows [top, bottom), for work
    // already done.
    void StepRows(std::int32_t top, std::int32_t bottom);
    // Drops the warped photos a render left (one that ended early).
    void ReleaseWarped();

    bool cancelled = false;
    std::int32_t lensModel = 1;
    ISRNotify* notify = nullptr;
    ComposeProc compose;
    Sampler sampler;
    CPanoElement* result = nullptr;
    bool fullScale = true;
    double angleOffsets[3] = {0.0, 0.0, 0.0};
    OrvexBase::Rect outRect;
    std::int32_t progressEnd = 0, progressStart = 0, totalSteps = 0, stepsDone = 0;
    PanoramaLib::IProgressIndicator* progress = nullptr;
    bool cropRequested = false;
    OrvexBase::Rect cropRect;
    std::int32_t cropReferenceWidth = 0;
    std::unique_ptr<double[]> sinTable, rowTable, cosTable;
    // The difference plane of the photo being composed.
    std::vector<std::uint16_t> difference_;
    Platform::ThreadPool* threadPool = nullptr;
};

class CSphericalSurface : public CCylindricalSurface {
public:
    ~CSphericalSurface() override;
    double Radius(double x, double y, double z) const override;
    double Elevation(double x, double y, double z) const override;
    void ConvertElevationBounds(double& minimum, double& maximum) const override;
    void ComputeOutputSize() override;
    void ImageRows(const SurfaceImage& photo, double& top, double& bottom) const override;
    double FocalForPixels(std::int32_t n) const override;
    bool IsCylindrical() const override { return false; }

protected:
    double RowDirection(std::int32_t row) const override;
};
