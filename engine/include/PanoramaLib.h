#pragma once
// The stitching engine's public interfaces: images, photo elements, the
// services the application hands in, and the callbacks the engine makes.
// Ref-counted interfaces (IDib, IPanoElement) start with AddRef/Release; the
// service and callback interfaces are not ref-counted, their owner keeps them.

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "OrvexBase.h"

namespace PanoramaLib {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

// Thrown by the image copy constructor when the copy's pixels cannot be made.
class dibException {};

// A bottom-up pixel buffer of 8 (grey) or 24 (B, G, R) bits per pixel, with
// the file it came from and a flag telling that its pixels were dropped.
class IDib {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    // Id 1 gives the implementing object; any other id gives null.
    virtual OrvexBase::RefCounter* QueryInterface(int id) = 0;

    virtual bool IsValid() const = 0;
    virtual std::uint8_t* GetBits() const = 0;
    virtual int GetStride() const = 0;
    virtual int GetBpp() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;

    virtual void Reload() = 0;
    virtual bool LoadFromFile(const std::wstring& path, std::wstring* errorText) = 0;
    virtual bool SaveToFile(const std::wstring& path, std::wstring* errorText) = 0;
    virtual void Unload() = 0;
    virtual bool IsUnloaded() const = 0;

    virtual bool Create(int bpp, int width, int height, bool allocate) = 0;
    virtual void Destroy() = 0;

    virtual std::wstring GetFileTitle() const = 0;
    virtual std::wstring GetFileName() const = 0;
    virtual void SetFileName(const std::wstring& path) = 0;

    virtual ~IDib() = default;
};

// One photo placed in panorama coordinates: an image, its position, an 8-bit
// coverage mask and two scratch planes.
class IPanoElement {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;

    virtual bool Save(const std::wstring& path) = 0;
    virtual bool Load(const std::wstring& path) = 0;
    virtual bool SetFromPlane(const std::uint8_t* plane, int width, int height, int planeStride) = 0;
    virtual bool SetFromPlanes(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                               int width, int height, int planeStride) = 0;
    virtual bool Create(int bpp, int width, int height) = 0;
    virtual void Destroy() = 0;
    virtual void Unload() = 0;
    virtual void Reload() = 0;
    virtual bool CopyTo(IPanoElement* target) = 0;
    virtual IPanoElement* Clone() = 0;
    virtual std::uint8_t* GetMask() = 0;
    virtual int GetMaskStride() const = 0;
    virtual void ApplyMask() = 0;
    // No AddRef: the element keeps its own reference.
    virtual IDib* GetImage() const = 0;
    virtual OrvexBase::Size GetSize() const = 0;
    virtual OrvexBase::Rect GetRect() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual int GetBpp() const = 0;
    virtual int GetStride() const = 0;
    virtual std::uint8_t* GetBits() const = 0;
    virtual bool IsValid() const = 0;
    virtual std::wstring GetFileTitle() const = 0;
    virtual std::wstring GetFileName() const = 0;
    virtual void SetFileName(const std::wstring& path) = 0;
    virtual std::wstring GetErrorText() const = 0;

    virtual ~IPanoElement() = default;
};

// Up to three marker pairs placed by the user on two photos, and the planar
// transform they give under a motion model (0 affine, 1 rotation, scale and
// shift, 2 scale and shift). The manual matching dialog edits it; the engine
// reads the transform afterwards. Not reference-counted: its owner keeps it.
class IManualMatcher {
public:
    // The three marker points (x, y) on the second photo, or on the first.
    virtual void GetMarkers(bool second, int out[6]) const = 0;
    // Moves marker index (clamped to 0..2) on one photo, then re-solves.
    virtual void SetMarker(bool second, const int point[2], int index) = 0;
    // Back to the seed markers and model.
    virtual void Reset() = 0;
    // Row-major 3x3, mapping first-photo pixels to second-photo pixels.
    virtual void GetTransform(double out[9]) const = 0;
    virtual bool IsTransformInvalid() const = 0;
    virtual int GetMotionModel() const = 0;
    virtual void SetMotionModel(int model) = 0;
    // The flag the engine made the matcher with (its 360-degree option).
    virtual bool GetOptionFlag() const = 0;
    virtual ~IManualMatcher() = default;
};

// Image factory; the application owns one and hands it to the engines.
class IDibManager {
public:
    // A new empty image (count 1), or null when memory runs out.
    virtual IDib* CreateDib(int reserved) = 0;
    // A copy of source (count 1), or null when memory runs out; lets
    // dibException through when the copy's pixels cannot be made.
    virtual IDib* CloneDib(IDib* source, int reserved) = 0;
    virtual ~IDibManager() = default;
};

// A recursive lock.
class ICriticalSection {
public:
    virtual void Enter() = 0;
    virtual void Leave() = 0;
    virtual ~ICriticalSection() = default;
};

// An automatic-reset event: one Set releases exactly one Wait; a Set with
// nobody waiting stays signalled until the next Wait.
class IEvent {
public:
    virtual void Set() = 0;
    // Waits without time-out; returns 0.
    virtual int Wait() = 0;
    virtual ~IEvent() = default;
};

// The whole body of a worker thread; implemented by the engine's workers.
class IThread {
public:
    virtual void Run() = 0;
    virtual ~IThread() = default;
};

// Factory of locks, events and threads. It owns what it makes.
class IFreeThreading {
public:
    virtual ICriticalSection* CreateCriticalSection() = 0;
    virtual IEvent* CreateEvent() = 0;
    // Runs thread->Run() on a new thread; false for null or when no thread
    // could be started. The IThread must outlive Run.
    virtual bool StartThread(IThread* thread) = 0;
    virtual ~IFreeThreading() = default;
};

// Stage ids passed to IProgressIndicator::SetStage.
enum ProgressStage {
    StageAnalyzing = 11,       // "Analyzing..."
    StageAnalyzingImage = 12,  // "Analyzing: %s..."
    StageMatching = 13,        // "Matching..."
    StageStitching = 14,       // "Stitching..."
    StageRendering = 15,       // "Rendering..."
};

// Progress and cancel sink of long engine operations.
class IProgressIndicator {
public:
    virtual void Begin() = 0;
    virtual void BeginEx() = 0;
    virtual void End() = 0;
    virtual void SetStage(int stageId, const std::wstring& name) = 0;
    virtual void SetStage(int stageId) = 0;
    // True when the user asked to cancel; the engine then abandons the work.
    virtual bool SetProgress(int total, int position) = 0;
    // True hides the progress window while a modal prompt is up.
    virtual void Show(bool hide) = 0;
    virtual ~IProgressIndicator() = default;
};

// Callbacks from the engine to the user interface. Only PostUpdateView may be
// called from a worker thread.
class IUserInterface {
public:
    virtual void RepaintNow() = 0;
    virtual void ToggleView(bool on) = 0;
    // 0 when the user confirmed a transform in the matcher; non-zero otherwise.
    virtual int MatchManually(IPanoElement* first, IPanoElement* second, IManualMatcher* matcher) = 0;
    virtual void AddFile(const std::wstring& fileName, bool mark) = 0;
    virtual void PostUpdateView(WPARAM a, LPARAM b) = 0;
    virtual void ShowMessage(int stringId) = 0;
    virtual bool AskAcceptPanorama(int unmatched, int total) = 0;
    virtual bool WarnCyclorama() = 0;
    virtual bool IsPrinterSelected() = 0;
    virtual void MarkFiles(const std::list<std::wstring>& fileNames, bool mark) = 0;
    virtual ~IUserInterface() = default;
};

class IWaitCursor {
public:
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual void RestoreWaitCursor() = 0;
    virtual ~IWaitCursor() = default;
};

}  // namespace PanoramaLib

// Projection surface of the tiled model: 0 the cylinder, any other value the sphere.
using SurfaceKind = std::int32_t;
enum : std::int32_t { SurfaceCylinder = 0, SurfaceSphere = 1 };

// The options record the document fills for both engines. The planar engine
// reads fields 1 to 9 and returns zero for the rest; the tiled engine reads
// fields 1, 7 and the three after the ninth.
struct HVPanoramaOptions {
    std::uint8_t autoCrop = 0;      // 1: cut the result to its crop rectangle (tiled: crop-to-rectangle)
    std::int32_t ratioMode = 0;     // 0: strict distance ratio 0.6; else the loose 0.8
    std::int32_t analysisSize = 0;  // 1: copies of at most 660 pixels by halving; else exactly 400
    std::int32_t unused4 = 0;
    std::int32_t motionModel = 0;  // 0 affine, 1 similarity, 2 scale and shift
    std::uint8_t rawExposureDifference = 0;
    std::uint8_t lensCompensation = 0;
    std::int32_t lensPresetId = 0;  // index into the lens preset table, 0 to 9
    std::uint8_t is360 = 0;         // the photos form a closed ring
    // Tiled model only.
    std::uint8_t optimiseAtEnd = 1;  // run the optimiser once after all photos are placed
    std::int32_t lensModel = 0;      // 1: 1 + a r^2 + b r^4; else 1 + b r^2 + c r^3
    SurfaceKind surfaceKind = 0;
};
using TiledPanoramaOptions = HVPanoramaOptions;

// What the last build did, filled by Build and BuildWithTransforms.
struct BuildReport {
    // 0 no build yet; 1 built; 2 failed or cancelled; 3 no panorama could be
    // made; 4 the 360 ring did not close; 5 the ring closed but was not cut.
    std::int32_t status = 0;
    std::int32_t photoCount = 0;
    std::int32_t unused3[4] = {0, 0, 0, 0};
    std::int32_t motionModel = 0;
    std::uint8_t unused5 = 0;
    std::uint8_t lensCompensation = 0;
    std::int32_t lensPresetId = 0;
    std::int32_t unused7[3] = {0, 0, 0};
    std::uint8_t withTransforms = 0;      // 0 after Build, 1 after BuildWithTransforms
    std::vector<std::int32_t> unmatched;  // photos outside the panorama's group, ascending
};

namespace PanoramaLib {

// The document drives both panorama models through this interface. The
// engine belongs to its maker, who destroys it with Release.
class IPanorama {
public:
    virtual void Init(IFreeThreading* threads, IWaitCursor* cursor, IUserInterface* ui) = 0;
    virtual void Release() = 0;
    virtual void SetProgressIndicator(IProgressIndicator* progress) = 0;
    virtual bool IsBuilt() = 0;
    // The three ints are the tiled model's view angles; the planar model ignores them.
    virtual bool Build(const std::vector<IPanoElement*>& photos, const std::vector<IPanoElement*>* second,
                       int elevation, int azimuth, int tilt) = 0;
    // No reference is added.
    virtual IPanoElement* GetResult(bool fullIfNoPreview) = 0;
    virtual IPanoElement* GetFullResult() = 0;
    virtual BuildReport* GetBuildReport() = 0;
    virtual void Reset(bool dropAnalyses, bool dropGraph) = 0;
    virtual void FreeResults() = 0;
    virtual void SetOptions(const HVPanoramaOptions* options) = 0;
    virtual void GetOptions(HVPanoramaOptions* options) = 0;
    virtual OrvexBase::Rect* GetCropRect(OrvexBase::Rect* out, int recompute) = 0;
    // The photo's analysis copy (a new reference) or null.
    virtual IPanoElement* PrepareElement(IPanoElement* photo) = 0;

protected:
    virtual ~IPanorama() = default;
};

// The horizontal/vertical (planar) model.
class IHVPanorama : public IPanorama {
public:
    virtual bool BuildWithTransforms(const std::vector<IPanoElement*>& photos,
                                     const std::vector<IPanoElement*>* second, bool withTransforms) = 0;
    virtual bool Render() = 0;
    virtual bool CropResult(const OrvexBase::Rect* r) = 0;
    virtual void SetCropRect(OrvexBase::Rect& r) = 0;
};

// The tiled/multifocus model.
class ITiledPanorama : public IPanorama {
public:
    virtual bool RequestRender(SurfaceKind kind, std::int32_t elevation, std::int32_t azimuth,
                               std::int32_t tilt, bool onRenderThread, bool keepCropRect) = 0;
    virtual void ResetCropRect() = 0;
    virtual bool RenderForPrint(std::int32_t elevation, std::int32_t azimuth, std::int32_t tilt) = 0;
    virtual void TakeRenderResult(std::int32_t unused, std::int32_t recomputeCrop) = 0;
    virtual void SetCropRect(const OrvexBase::Rect& r) = 0;
};

}  // namespace PanoramaLib

// Engine factories: they store the image factory in the engine-wide pointer
// first (also when it is null) and return null for a null one.
PanoramaLib::IHVPanorama* CreateHVPanorama(PanoramaLib::IDibManager* manager);
PanoramaLib::ITiledPanorama* CreateTiledPanorama(PanoramaLib::IDibManager* manager);

// The engine's exceptions; empty, thrown by value and caught by reference
// inside the operation the application called.
// A step failed (missing element, no image, failed image creation...).
class panorama_error {};
// The user cancelled: the progress indicator's SetProgress answered true.
class panorama_abort : public panorama_error {};
// The photos do not make a panorama.
class panorama_cannot_build {};

// Photo elements for the application; they take their images from the
// engine-wide image factory, which must be set first.
PanoramaLib::IPanoElement* CreatePanoElement(int reserved);
void ReleasePanoElement(PanoramaLib::IPanoElement* element);
void ReleaseElementVector(std::vector<PanoramaLib::IPanoElement*>& elements);

// The preview of manual matching: the two 24-bit photos overlaid by H (a
// row-major 3x3 mapping first-photo pixels to second-photo pixels) on a canvas
// that holds both, their overlap averaged, uncovered pixels white. H is
// changed in place to map canvas positions to the second photo. Returns a new
// element (count 1), or null when the photos are not 24-bit or have no
// pixels, when H places the second photo beyond the 16-bit coordinate range,
// or as soon as *cancel becomes non-zero (another thread may set it). Safe on
// a worker thread while no other thread changes the two photos.
PanoramaLib::IPanoElement* RenderMatchPreview(PanoramaLib::IPanoElement* first,
                                              PanoramaLib::IPanoElement* second, double H[9],
                                              const std::atomic<int>* cancel);
