// The render thread of the tiled model and the engine operations that use
// it: preview requests (queued or synchronous), the hand-over of a finished
// preview, the crop reset, and the synchronous full-size render.

#include "SRThread.h"

#include <new>

#include "TiledPanorama.h"

using OrvexBase::Rect;
using PanoramaLib::IPanoElement;

namespace Tiled_Panorama {

namespace {

// Holds a critical section for a scope; a null one is skipped.
class Guard {
public:
    explicit Guard(PanoramaLib::ICriticalSection* cs) : cs_(cs) {
        if (cs_)
            cs_->Enter();
    }
    ~Guard() {
        if (cs_)
            cs_->Leave();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    PanoramaLib::ICriticalSection* cs_;
};

std::unique_ptr<CCylindricalSurface> MakeSurface(SurfaceKind kind) {
    if (kind == 0)
        return std::unique_ptr<CCylindricalSurface>(new (std::nothrow) CCylindricalSurface());
    return std::unique_ptr<CCylindricalSurface>(new (std::nothrow) CSphericalSurface());
}

}  // namespace

RenderJob::~RenderJob() {
    // The surface goes first: it may still point at the held photos.
    surface.reset();
}

void RenderJob::Hold(IPanoElement* element) {
    if (!element)
        return;
    held_.emplace_back();
    element->AddRef();
    held_.back().Reset(element);
}

CSRThread::CSRThread() = default;

CSRThread::~CSRThread() {
    Stop();
    delete pending_;
    pending_ = nullptr;
    if (finished_)
        finished_->Release();
    finished_ = nullptr;
}

bool CSRThread::Start(PanoramaLib::IFreeThreading* threads, PanoramaLib::IUserInterface* ui) {
    if (started_ || !threads)
        return started_;
    ui_ = ui;
    pendingLock_ = threads->CreateCriticalSection();
    resultLock_ = threads->CreateCriticalSection();
    wake_ = threads->CreateEvent();
    finishedEvent_ = threads->CreateEvent();
    idle_ = threads->CreateEvent();
    if (!pendingLock_ || !resultLock_ || !wake_ || !finishedEvent_ || !idle_)
        return false;
    started_ = threads->StartThread(this);
    return started_;
}

void CSRThread::Stop() {
    // Without a started thread there is nobody to answer the handshake.
    if (!started_ || !running_)
        return;
    cancel_ = true;
    running_ = false;
    wake_->Set();
    finishedEvent_->Wait();
}

void CSRThread::Run() {
    while (running_) {
        wake_->Wait();
        if (!running_)
            break;
        busy_ = true;
        RenderJob* job = nullptr;
        {
            // Taking the job and clearing the cancel flag go together: a
            // request posted right after this cancels the job taken here, and
            // is itself taken on the next turn.
            Guard lock(pendingLock_);
            job = pending_;
            pending_ = nullptr;
            cancel_ = false;
        }
        {
            Guard lock(resultLock_);
            current_ = job;
        }
        if (job) {
            bool ok = false;
            try {
                ok = job->surface->Render(previewScale, this, cursor_, 0, 100);
            } catch (...) {
                // Memory that ran out fails this preview, not the program.
                ok = false;
            }
            IPanoElement* rendered = ok ? job->surface->GetResult() : nullptr;
            bool publish = false;
            {
                Guard lock(resultLock_);
                if (!ok) {
                    ReplaceFinished(nullptr);
                } else if (!cancel_ && !job->surface->IsCancelled() && rendered) {
                    // Checked under the lock that cancelling takes too, so a
                    // request made meanwhile never sees this result appear.
                    ReplaceFinished(rendered);
                    rendered = nullptr;
                    publish = true;
                }
                current_ = nullptr;
            }
            if (rendered)
                rendered->Release();
            if (publish && ui_)
                ui_->PostUpdateView(0, 1);
            delete job;
        }
        busy_ = false;
        idle_->Set();
    }
    finishedEvent_->Set();
}

void CSRThread::OnRenderDone(const Rect*) {
    if (cancel_ || !current_)
        return;
    // The surface goes on composing into its result: hand out a copy, which
    // nobody writes into.
    IPanoElement* partial = current_->surface->GetResult();
    if (!partial)
        return;
    IPanoElement* snapshot = partial->Clone();
    partial->Release();
    if (!snapshot)
        return;
    bool published = false;
    {
        Guard lock(resultLock_);
        if (!cancel_) {
            ReplaceFinished(snapshot);
            published = true;
        }
    }
    if (!published)
        snapshot->Release();
    else if (ui_)
        ui_->PostUpdateView(0, 0);
}

void CSRThread::ReplaceFinished(IPanoElement* element) {
    if (finished_)
        finished_->Release();
    finished_ = element;
}

bool CSRThread::PostJob(SurfaceKind kind, const std::vector<std::int32_t>& order,
                        const TiledImagePose& sharedLens, std::int32_t lensModel,
                        const std::vector<TiledImagePose>& poses, const std::vector<IPanoElement*>& photos,
                        const std::vector<IPanoElement*>& proxies, std::int32_t elevation,
                        std::int32_t azimuth, std::int32_t tilt) {
    if (!started_)
        return false;
    {
        Guard lock(pendingLock_);
        cancel_ = true;
        delete pending_;
        pending_ = nullptr;
        try {
            std::unique_ptr<CCylindricalSurface> surface = factory_ ? factory_(kind) : MakeSurface(kind);
            if (!surface)
                return false;
            auto job = std::make_unique<RenderJob>(std::move(surface));
            // References taken here, on the user-interface thread, keep the
            // photos alive however the document changes its lists.
            for (IPanoElement* p : photos)
                job->Hold(p);
            for (IPanoElement* p : proxies)
                job->Hold(p);
            CCylindricalSurface& s = *job->surface;
            s.SetChangeListener(this);
            s.SetImages(order, sharedLens, poses, photos, proxies);
            s.SetLensModel(lensModel);
            s.SelectReference(0);
            s.AddAngleOffsets(elevation, azimuth, tilt);
            s.SetInterpolation(0);
            pending_ = job.release();
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    wake_->Set();
    return true;
}

void CSRThread::CancelResult() {
    Guard lock(resultLock_);
    cancel_ = true;
    ReplaceFinished(nullptr);
}

void CSRThread::CancelAndWaitIdle() {
    if (!started_ || !running_)
        return;
    {
        Guard lock(pendingLock_);
        cancel_ = true;
        delete pending_;
        pending_ = nullptr;
    }
    // The thread marks itself busy before it looks for a job, so a job it
    // took before the lock above is seen here.
    while (busy_)
        idle_->Wait();
}

IPanoElement* CSRThread::TakeFinished() {
    Guard lock(resultLock_);
    if (finished_)
        finished_->AddRef();
    return finished_;
}

// Engine operations.

bool CPanorama::RequestRender(SurfaceKind kind, std::int32_t elevation, std::int32_t azimuth,
                              std::int32_t tilt, bool onRenderThread, bool keepCropRect) {
    if (!built_)
        return false;
    if (onRenderThread) {
        if (!thread_.IsStarted())
            return false;
        surfaceKind_ = kind;
        thread_.CancelResult();
        thread_.SetKeepCrop(keepCropRect);
        return thread_.PostJob(kind, align_.placementOrder, align_.sharedLens, align_.lensModel, align_.poses,
                               PhotoPointers(), proxies_, elevation, azimuth, tilt);
    }

    // The queued render reads the same photos: put it away first, and drop a
    // result it already published, which would otherwise replace this one.
    thread_.CancelResult();
    thread_.CancelAndWaitIdle();
    surfaceKind_ = kind;
    CCylindricalSurface& surface = OwnSurface(kind);
    bool ok = false;
    if (ProgressIsOwn()) {
        progress_->BeginEx();
        progress_->SetStage(PanoramaLib::StageRendering);
    }
    cancel_ = false;
    position_ = 0;
    total_ = 100;
    try {
        SetUpSurface(surface, elevation, azimuth, tilt, 0);
        ok = surface.Render(20.0, progress_, waitCursor_, 0, 100);
        // A cancelled render is not a new preview: the earlier one stays.
        if (ok && surface.IsCancelled()) {
            cancel_ = true;
            ok = false;
        }
        if (ok)
            ok = TakeSurfaceResult(surface, previewResult_);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    surface.ReleaseResult();
    if (ProgressIsOwn())
        progress_->End();
    if (!ok)
        return false;
    resultRect_ = previewResult_->GetRect();
    previewResult_->ComputeCropRect(&cropRect_);
    previewResult_->ApplyMask();
    return true;
}

void CPanorama::TakeRenderResult(std::int32_t, std::int32_t recomputeCrop) {
    IPanoElement* taken = thread_.TakeFinished();
    if (taken) {
        // The element the document points at stays; its picture is replaced
        // by a copy of the published one, which the thread may still hold.
        previewResult_->Destroy();
        if (!previewResult_->InitFrom(taken))
            previewResult_->Destroy();
        taken->Release();
        resultRect_ = previewResult_->GetRect();
    }
    if (ui_)
        ui_->ToggleView(true);
    if (!thread_.KeepCrop() && recomputeCrop) {
        previewResult_->ComputeCropRect(&cropRect_);
        if (ui_)
            ui_->PostUpdateView(1, 1);
    }
}

void CPanorama::ResetCropRect() {
    thread_.SetKeepCrop(false);
    previewResult_->ComputeCropRect(&cropRect_);
    if (ui_)
        ui_->PostUpdateView(1, 1);
}

bool CPanorama::RenderForPrint(std::int32_t elevation, std::int32_t azimuth, std::int32_t tilt) {
    thread_.CancelResult();
    // The queued render reads the photos this render reloads and unloads.
    thread_.CancelAndWaitIdle();
    fullSizeRendering_ = true;
    if (ProgressIsOwn()) {
        progress_->Begin();
        progress_->SetStage(PanoramaLib::StageRendering);
    }
    cancel_ = false;
    position_ = 0;
    total_ = 100;
    CCylindricalSurface& surface = OwnSurface(surfaceKind_);
    const std::int32_t w = previewResult_->IsValid() ? previewResult_->GetWidth() : 0;

    // The full-size picture is reused only for the very same request; any
    // other surface, angle or crop renders again.
    auto keyNow = [&] {
        PrintKey key;
        key.kind = surfaceKind_ == 0 ? 0 : 1;
        key.elevation = elevation;
        key.azimuth = azimuth;
        key.tilt = tilt;
        key.crop = cropToRect_ != 0;
        if (key.crop) {
            key.cropRect = cropRect_;
            key.referenceWidth = previewResult_->IsValid() ? previewResult_->GetWidth() : 0;
        }
        return key;
    };

    bool result = false;
    if (fullResult_->IsValid() && printKey_ == keyNow()) {
        result = true;
    } else {
        try {
            SetUpSurface(surface, elevation, azimuth, tilt, 1);
            if (cropToRect_)
                surface.SetCrop(cropRect_, w);
            if (!surface.Render(100.0, progress_, waitCursor_, 0, 100))
                throw panorama_error();
            if (surface.IsCancelled()) {
                cancel_ = true;
                throw panorama_abort();
            }
            if (!TakeSurfaceResult(surface, fullResult_))
                throw panorama_error();
            fullResult_->ComputeCropRect(&cropRect_);
            fullResult_->ApplyMask();
            result = true;
        } catch (...) {
            surface.ReleaseResult();
            fullResult_->Destroy();
            printKey_ = PrintKey();
            result = false;
        }
    }
    if (result) {
        // GetResult(true) must hand out the full-size picture, never the
        // preview in its place.
        previewResult_->Destroy();
        printKey_ = keyNow();
    }
    fullSizeRendering_ = false;
    if (ProgressIsOwn())
        progress_->End();
    return result;
}

}  // namespace Tiled_Panorama
