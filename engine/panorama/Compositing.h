#pragma once
// Compositing, a stage of the planar model: the photos of the render pass it
// is handed are placed in the order of the arrangement, each warped into
// panorama space, cut along its seams, balanced, pyramid-blended over the
// overlap and laid over the pass's result. With a thread pool, later photos
// are warped ahead, and photos whose reach in the result does not meet are
// composited side by side; the result is the same as one after another.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "OrvexBase.h"
#include "PanoElement.h"
#include "PanoramaLib.h"
#include "RenderPass.h"
#include "Seams.h"
#include "StageContext.h"

class CCompositor {
public:
    // What the engine's options and state say about one compositing.
    struct Settings {
        int motionModel = 2;
        bool rawExposureDifference = true;
        bool laplacianBlending = true;
        // Pyramid levels of the blend.
        int levels = 4;
        // A 360 build: a photo with a seam across the strip is not composited;
        // wideStrip says which sides are across (top and bottom when wide).
        bool ring360 = false;
        bool wideStrip = true;
        // The full-size lens warp of a photo that still waits for it.
        bool lensCompensation = false;
        double focalFactor = 1.0;
        // The user's crop: inside the rectangle the photo gives up its overlap.
        int userCropElement = -1;
        OrvexBase::Rect userCropRect;
    };
    // What the compositing reads and writes of the engine's build; not owned.
    struct Build {
        // Per photo: its seams (cut at the preview, carried to full size).
        std::vector<SeamSet>* seams = nullptr;
        // The photos in the order they were composited; cleared first.
        std::vector<std::int32_t>* composited = nullptr;
        // Per photo: whether its full-size copy still waits for the lens warp.
        std::vector<char>* lensDue = nullptr;
        // The photos as the caller gave them: the lens warp's source.
        const ElementList* sources = nullptr;
        // The preview pass, whose warped photos carry the seams to full size.
        const RenderPass* preview = nullptr;
    };

    // ui may be null: it marks the photo being composited in the preview.
    CCompositor(RenderPass& pass, Settings settings, Build build, StageContext& context,
                PanoramaLib::IUserInterface* ui)
        : pass_(pass), settings_(settings), build_(build), context_(context), ui_(ui) {}

    // Composites every photo of the pass's group into its result (made and
    // cleared by the caller). Progress: per photo the lens step (2 at full
    // size), 1 to start, 1 after the seams, levels to blend. False when a
    // photo could not be placed or the user cancelled.
    bool Compose();
    // Warps one photo of the pass into panorama space, once; false when it
    // cannot be warped.
    bool WarpElement(int index);

private:
    // What the compositing does to a photo before it needs the result:
    // lens step, warp, user crop, saved mask, at full size the seam cut.
    // With abort given it runs off the calling thread: progress steps are
    // counted into the record instead of reported, and abort cancels.
    struct PreparedPhoto {
        bool ok = false;
        int steps = 0;
        bool rescaled = false;
        std::vector<std::uint8_t> coverage;  // full size: the mask before the cut
    };
    CPanoElement* Photo(int index) const;
    bool PlaceFirstElement(int index, CPanoElement* photo, OrvexBase::Rect* written);
    void PasteIntoResult(CPanoElement* element, OrvexBase::Rect* written);
    // The preview's seams cut into the full-size mask, which needs nothing of
    // the result; coverage gets the mask before the cut.
    bool RescaleSeams(int index, std::vector<std::uint8_t>& coverage);
    bool ComputeSeamMask(int index);
    void BalanceExposure(int index);
    bool CompositeOver(int index, OrvexBase::Rect* written);
    // The full-size lens step of one photo; false ends the compositing.
    bool LensStep(int index);
    bool LensDue(int index) const;
    bool LensWarp(int index, const std::function<bool()>& progress);
    bool PreparePhoto(int index, bool fullSize, const std::atomic<bool>* abort, PreparedPhoto& out);
    // Per place of the placement order: whether its photo's element (or
    // working copy) is also used at an earlier place under another index.
    std::vector<char> PlacesSharingAnElement() const;

    RenderPass& pass_;
    const Settings settings_;
    const Build build_;
    StageContext& context_;
    PanoramaLib::IUserInterface* const ui_;
};
