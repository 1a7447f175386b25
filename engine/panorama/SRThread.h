#pragma once
// The render thread of the tiled model: it renders preview requests on a
// worker thread, one at a time, so that the user interface stays responsive.
// A new request cancels the render in progress; only the newest is rendered.
// Results (partial ones too) are published as elements nobody else writes
// into, and the view is asked to refresh through PostUpdateView.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "PanoramaLib.h"
#include "Surfaces.h"
#include "TiledImagePose.h"

namespace Tiled_Panorama {

// One preview request: a surface set up on the user-interface thread, and a
// reference on every photo and proxy it reads, so that a rebuild cannot free
// them under the render.
class RenderJob {
public:
    explicit RenderJob(std::unique_ptr<CCylindricalSurface> surface) : surface(std::move(surface)) {}
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;
    ~RenderJob();
    // Takes one more reference on the element (null is skipped).
    void Hold(PanoramaLib::IPanoElement* element);

    std::unique_ptr<CCylindricalSurface> surface;

private:
    std::vector<OrvexBase::RefPtr<PanoramaLib::IPanoElement>> held_;
};

class CSRThread : public PanoramaLib::IThread, public PanoramaLib::IProgressIndicator, public ISRNotify {
public:
    // Makes the surface of a request: a cylinder for kind 0, else a sphere;
    // null when it cannot be made. Tests put slower surfaces here.
    using SurfaceFactory = std::function<std::unique_ptr<CCylindricalSurface>(SurfaceKind)>;

    CSRThread();
    CSRThread(const CSRThread&) = delete;
    CSRThread& operator=(const CSRThread&) = delete;
    // Stops the thread when it still runs, then frees the pending job and the
    // finished result.
    ~CSRThread() override;

    // Takes the locks and events from the threading service and starts the
    // thread; false when any of them could not be had (requests on the thread
    // are then refused).
    bool Start(PanoramaLib::IFreeThreading* threads, PanoramaLib::IUserInterface* ui);
    bool IsStarted() const { return started_; }
    // The shutdown handshake: cancel, stop the loop, wait until it has left.
    void Stop();

    // PanoramaLib::IThread
    void Run() override;

    // PanoramaLib::IProgressIndicator: everything but SetProgress does nothing.
    void Begin() override {}
    void BeginEx() override {}
    void End() override {}
    void SetStage(int, const std::wstring&) override {}
    void SetStage(int) override {}
    bool SetProgress(int, int) override { return IsCancelled(); }
    void Show(bool) override {}
    bool IsCancelled() const { return cancel_.load(); }

    // ISRNotify: a photo was composed; publishes a snapshot of the result.
    void OnRenderDone(const OrvexBase::Rect* changed) override;

    // Replaces the pending job by a new surface of the given kind, set up
    // for a preview with the three angles and the lens model the poses were
    // fitted with. Holds a reference on every photo and proxy until the job
    // is done. False when nothing was queued.
    bool PostJob(SurfaceKind kind, const std::vector<std::int32_t>& order, const TiledImagePose& sharedLens,
                 std::int32_t lensModel, const std::vector<TiledImagePose>& poses,
                 const std::vector<PanoramaLib::IPanoElement*>& photos,
                 const std::vector<PanoramaLib::IPanoElement*>& proxies, std::int32_t elevation,
                 std::int32_t azimuth, std::int32_t tilt);

    // Sets the cancel flag and drops the finished result.
    void CancelResult();
    // Drops the pending job, cancels the running one and waits until the
    // thread has put it away: afterwards the thread touches no photo and no
    // result until the next PostJob.
    void CancelAndWaitIdle();
    // The finished result with one more reference, or null.
    PanoramaLib::IPanoElement* TakeFinished();

    void SetKeepCrop(bool keep) { keepCrop_ = keep; }
    bool KeepCrop() const { return keepCrop_; }
    void SetSurfaceFactory(SurfaceFactory factory) { factory_ = std::move(factory); }

    double previewScale = 20.0;

private:
    void ReplaceFinished(PanoramaLib::IPanoElement* element);

    PanoramaLib::IWaitCursor* cursor_ = nullptr;  // always null
    std::atomic<bool> keepCrop_{false};
    PanoramaLib::IUserInterface* ui_ = nullptr;
    PanoramaLib::ICriticalSection* pendingLock_ = nullptr;
    RenderJob* pending_ = nullptr;  // owned; under pendingLock_
    PanoramaLib::ICriticalSection* resultLock_ = nullptr;
    PanoramaLib::IPanoElement* finished_ = nullptr;  // one reference; under resultLock_
    RenderJob* current_ = nullptr;                   // owned; set and read by the thread
    std::atomic<bool> cancel_{false};
    PanoramaLib::IEvent* wake_ = nullptr;
    PanoramaLib::IEvent* finishedEvent_ = nullptr;
    // Set after every job (taken or not) so that CancelAndWaitIdle can wait.
    PanoramaLib::IEvent* idle_ = nullptr;
    std::atomic<bool> running_{true};
    std::atomic<bool> busy_{false};
    bool started_ = false;
    SurfaceFactory factory_;
};

}  // namespace Tiled_Panorama
