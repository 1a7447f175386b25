#pragma once
// The interfaces through which the task pages and the crop view reach the
// document, and the document reaches the frame's pages.

#include "PanoramaLib.h"

namespace IDialogCallback {

// The stitching page and its two option pages.
class IStitchingOptions {
public:
    virtual void GetOptions(HVPanoramaOptions* options) = 0;
    virtual void SetOptions(const HVPanoramaOptions* options) = 0;
    virtual void StartStitching() = 0;
    virtual bool HasTiledResult() = 0;
    virtual bool IsRestitchNeeded(const HVPanoramaOptions* options) = 0;
    virtual int GetMatchingMode() = 0;
    virtual void SetMatchingMode(int mode) = 0;
    virtual bool CanStitch() = 0;
    virtual void RequestTiledRender(int surfaceKind, int elevation, int azimuth, int tilt,
                                    bool onRenderThread, int keepCropRect) = 0;
    virtual void ResetTiledCropRect() = 0;
    virtual void SetTiledMode(bool tiled) = 0;
    virtual void SetTiledOptions(bool tiled) = 0;
    virtual bool GetTiledOptions() = 0;
    virtual void GetTiledRenderParams(int* surfaceKind, int* elevation, int* azimuth, int* tilt) = 0;
    virtual void MarkOptionsChanged() = 0;
    virtual ~IStitchingOptions() = default;
};

// The export page and its bar.
class IExportDialog {
public:
    virtual int GetExportState() = 0;
    virtual void ApplyExportChoice(int cropTypeIndex) = 0;
    virtual void Render() = 0;
    virtual void Export() = 0;
    virtual void SendToWeb() = 0;
    virtual bool CanRenderFullResult() = 0;
    virtual bool IsFullResultCurrent() = 0;
    virtual void NotifyExportListener(bool keepAspect) = 0;
    virtual ~IExportDialog() = default;
};

// The crop view, after its rectangle was edited.
class IPatchingNotify {
public:
    virtual void OnPatching() = 0;
    virtual ~IPatchingNotify() = default;
};

// The frame's refresh of its two task pages.
class IUpdate {
public:
    virtual void RefreshStitchPage() = 0;
    virtual void RefreshExportPage() = 0;
    virtual ~IUpdate() = default;
};

}  // namespace IDialogCallback

namespace IDialogCallback {

// The stitching page, as its option pages switch its start button.
class IStitchingNotify {
public:
    virtual void EnableStitchButton(bool enable) = 0;
    virtual ~IStitchingNotify() = default;
};

}  // namespace IDialogCallback
