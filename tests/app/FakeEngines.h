#pragma once
// Recording panorama engines for the document's tests: each call is logged,
// the build's outcome (result size, report) is scripted, and a build can walk
// the progress stages like the real engines do.

#include <functional>
#include <string>

#include "PanoramaLib.h"
#include "RecordingCallbacks.h"

namespace TestDoubles {

template <class Interface>
class FakeEngineBase : public Interface {
public:
    FakeEngineBase() {
        result = CreatePanoElement(0);
        full = CreatePanoElement(0);
    }
    ~FakeEngineBase() override {
        result->Release();
        full->Release();
    }

    void Init(PanoramaLib::IFreeThreading*, PanoramaLib::IWaitCursor*,
              PanoramaLib::IUserInterface* u) override {
        ui = u;
        log.Add("Init");
    }
    void Release() override {
        if (released)
            *released = true;
        delete this;
    }
    void SetProgressIndicator(PanoramaLib::IProgressIndicator* p) override { progress = p; }
    bool IsBuilt() override { return built; }
    bool Build(const std::vector<PanoramaLib::IPanoElement*>& photos,
               const std::vector<PanoramaLib::IPanoElement*>*, int elevation, int azimuth,
               int tilt) override {
        log.Add("Build " + std::to_string(photos.size()) + " " + std::to_string(elevation) + " " +
                std::to_string(azimuth) + " " + std::to_string(tilt));
        return FinishBuild(photos.size(), false);
    }
    PanoramaLib::IPanoElement* GetResult(bool) override { return result; }
    PanoramaLib::IPanoElement* GetFullResult() override { return full; }
    BuildReport* GetBuildReport() override { return &report; }
    void Reset(bool, bool) override { log.Add("Reset"); }
    void FreeResults() override {
        log.Add("FreeResults");
        result->Destroy();
        full->Destroy();
        built = false;
    }
    void SetOptions(const HVPanoramaOptions* o) override { options = *o; }
    void GetOptions(HVPanoramaOptions* o) override { *o = options; }
    OrvexBase::Rect* GetCropRect(OrvexBase::Rect* out, int) override {
        *out = cropRect;
        return out;
    }
    PanoramaLib::IPanoElement* PrepareElement(PanoramaLib::IPanoElement* photo) override {
        log.Add("PrepareElement");
        return photo->Clone();
    }

    // Gives a valid preview result; optionally a rendered full-size one.
    void MakeResult(bool fullToo) {
        result->Create(24, 40, 20);
        full->Create(24, 40, 20);
        if (!fullToo)
            full->Destroy();
        built = true;
    }

    bool FinishBuild(std::size_t photoCount, bool withTransforms) {
        if (onBuild && !onBuild()) {
            report.status = 2;
            return false;
        }
        report = scriptedReport;
        report.photoCount = static_cast<int>(photoCount);
        report.withTransforms = withTransforms ? 1 : 0;
        MakeResult(false);
        return report.status == 1 || report.status == 4;
    }

    CallLog log;
    PanoramaLib::IUserInterface* ui = nullptr;
    PanoramaLib::IProgressIndicator* progress = nullptr;
    PanoramaLib::IPanoElement* result;
    PanoramaLib::IPanoElement* full;
    BuildReport report;
    BuildReport scriptedReport = [] {
        BuildReport r;
        r.status = 1;
        return r;
    }();
    HVPanoramaOptions options;
    OrvexBase::Rect cropRect{1, 2, 30, 18};
    bool built = false;
    bool* released = nullptr;
    // Runs inside Build (e.g. walking the progress stages); false fails it.
    std::function<bool()> onBuild;
};

class FakePlanarEngine : public FakeEngineBase<PanoramaLib::IHVPanorama> {
public:
    bool BuildWithTransforms(const std::vector<PanoramaLib::IPanoElement*>& photos,
                             const std::vector<PanoramaLib::IPanoElement*>*, bool withTransforms) override {
        log.Add(std::string("BuildWithTransforms ") + (withTransforms ? "1" : "0"));
        return FinishBuild(photos.size(), true);
    }
    bool Render() override { return true; }
    bool CropResult(const OrvexBase::Rect*) override { return true; }
    void SetCropRect(OrvexBase::Rect& r) override { cropRect = r; }
};

class FakeTiledEngine : public FakeEngineBase<PanoramaLib::ITiledPanorama> {
public:
    bool RequestRender(SurfaceKind kind, std::int32_t elevation, std::int32_t azimuth, std::int32_t tilt,
                       bool, bool) override {
        log.Add("RequestRender " + std::to_string(kind) + " " + std::to_string(elevation) + " " +
                std::to_string(azimuth) + " " + std::to_string(tilt));
        return true;
    }
    void ResetCropRect() override { log.Add("ResetCropRect"); }
    bool RenderForPrint(std::int32_t, std::int32_t, std::int32_t) override { return true; }
    void TakeRenderResult(std::int32_t a, std::int32_t b) override {
        log.Add("TakeRenderResult " + std::to_string(a) + " " + std::to_string(b));
    }
    void SetCropRect(const OrvexBase::Rect& r) override { cropRect = r; }
};

}  // namespace TestDoubles
