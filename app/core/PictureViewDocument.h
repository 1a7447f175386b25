#pragma once
// What the picture view needs of the document: the tiled result's render
// angles, a new tiled rendering, the current task and the crop product. The
// document implements it; a view without a document gets null.

#include "CropRect.h"
#include "WorkflowTypes.h"

class IPictureViewDocument {
public:
    // A tiled result is shown (the tiled mode is chosen and has a preview).
    virtual bool HasTiledResult() = 0;
    virtual void GetTiledRenderParams(int* surface, int* elevation, int* azimuth, int* tilt) = 0;
    virtual void RequestTiledRender(int surface, int elevation, int azimuth, int tilt, bool onRenderThread,
                                    int keepCropRect) = 0;
    // 1 add images, 2 stitch, 3 export.
    virtual int GetCurrentTask() = 0;
    Task CurrentTask() { return TaskFromNumber(GetCurrentTask()).value_or(Task::None); }
    // The crop choice whose ratio SetCropRect keeps.
    virtual CropAspect GetCropAspect() = 0;

protected:
    ~IPictureViewDocument() = default;
};
