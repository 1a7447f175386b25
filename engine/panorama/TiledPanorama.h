#pragma once
// The tiled/multifocus panorama engine: every photo gets a camera pose from
// one global alignment over the match graph, and the photos are rendered onto
// a cylinder or a sphere; previews on the render thread (SRThread.h).

#include <cstdint>
#include <vector>

#include "AnalysisStage.h"
#include "KeypointSet.h"
#include "MatchGraph.h"
#include "PanoElement.h"
#include "PanoramaLib.h"
#include "PanoramaModel.h"
#include "SRThread.h"
#include "StageContext.h"
#include "Surfaces.h"
#include "TiledAlignment.h"

namespace Tiled_Panorama {

class CPanorama : public CPanoramaModel<PanoramaLib::ITiledPanorama> {
public:
    CPanorama();
    ~CPanorama() override;

    // PanoramaLib::IPanorama
    void Init(PanoramaLib::IFreeThreading* threads, PanoramaLib::IWaitCursor* cursor,
              PanoramaLib::IUserInterface* ui) override;
    bool Build(const std::vector<PanoramaLib::IPanoElement*>& photos,
               const std::vector<PanoramaLib::IPanoElement*>* proxies, int elevation, int azimuth,
               int tilt) override;
    void Reset(bool dropKeypoints, bool dropGraph) override;
    void FreeResults() override;
    OrvexBase::Rect* GetCropRect(OrvexBase::Rect* out, int recompute) override;
    PanoramaLib::IPanoElement* PrepareElement(PanoramaLib::IPanoElement* photo) override;

    // PanoramaLib::ITiledPanorama
    bool RequestRender(SurfaceKind kind, std::int32_t elevation, std::int32_t azimuth, std::int32_t tilt,
                       bool onRenderThread, bool keepCropRect) override;
    void ResetCropRect() override;
    bool RenderForPrint(std::int32_t elevation, std::int32_t azimuth, std::int32_t tilt) override;
    void TakeRenderResult(std::int32_t unused, std::int32_t recomputeCrop) override;
    void SetCropRect(const OrvexBase::Rect& r) override;

    // Adds k to the progress position and asks for the cancel answer, which
    // is kept in the cancel flag and returned.
    bool ReportProgress(int k) { return Advance(k); }

    // Build steps.
    bool PhotoListChanged(const std::vector<PanoramaLib::IPanoElement*>& photos) const;
    // Every photo's analysis, side by side where it can be, with the
    // keypoints of the previous build's photos (oldPhotos, oldSets) taken
    // where a path is the same.
    // Notes in the report the photos the alignment did not place.
    void ListUnplaced();
    void AnalyzePhotos(const std::vector<PanoramaLib::IPanoElement*>& photos, const ElementList& oldPhotos,
                       KeypointSetList& oldSets);
    // One photo's analysis taken into the lists (its heavy part done here, or
    // taken ready), and that heavy part alone, run ahead on a worker.
    void AnalyzePhoto(PanoramaLib::IPanoElement* photo, std::unique_ptr<CKeypointSet> cached,
                      PreparedAnalysis* ready = nullptr);
    void PrepareAnalysis(PanoramaLib::IPanoElement* photo, bool detect, const std::atomic<bool>& abort,
                         std::counting_semaphore<>& fullSizeSlots, PreparedAnalysis& out);
    // Decodes the photo and makes its analysis copy; the photo stays decoded
    // only when it is its own copy.
    OrvexBase::RefPtr<CPanoElement> DecodeAndCopy(CPanoElement* photo);
    // Keypoints found on the analysis copy, moved to full-size photo pixels.
    static void ToFullSizePixels(CKeypointSet& set, double scale);
    // lensModel: the one taken when the build started, fitted when realign.
    bool MatchAndStitch(bool realign, std::int32_t lensModel, std::int32_t elevation, std::int32_t azimuth,
                        std::int32_t tilt);
    // Matches every pair of analysed photos into graph; false when the
    // matcher failed or the user cancelled.
    bool BuildMatchGraph(match_graph::CGraph* graph);
    // The photo whose edges hold the most inliers, or -1.
    std::int32_t FindReferenceImage() const;
    // Fills the alignment's inputs from the photos, keypoints, graph and lens
    // model and aligns; false only when the graph has no edge.
    bool AlignImages(std::int32_t lensModel);

    const std::vector<TiledImagePose>& Poses() const { return align_.poses; }
    const std::vector<std::int32_t>& PlacementOrder() const { return align_.placementOrder; }
    const CPoseAlignment& Alignment() const { return align_; }
    const TiledImagePose& SharedLens() const { return align_.sharedLens; }
    const match_graph::CGraph& MatchGraph() const { return matchGraph_; }
    std::int32_t ReferenceImage() const { return reference_; }
    CSRThread& RenderThread() { return thread_; }

protected:
    void TakeOptions(const HVPanoramaOptions& options) override;
    void GiveOptions(HVPanoramaOptions& options) const override;
    // The engine's own surface of a kind, for the synchronous renders.
    CCylindricalSurface& OwnSurface(SurfaceKind kind);
    // Render set-up: photos, reference, view angles and sampler.
    void SetUpSurface(CCylindricalSurface& surface, std::int32_t elevation, std::int32_t azimuth,
                      std::int32_t tilt, std::int32_t interpolation);
    std::vector<PanoramaLib::IPanoElement*> PhotoPointers() const;
    // Moves the surface's result into the element (whose identity the
    // document keeps); false when there is none.
    static bool TakeSurfaceResult(CCylindricalSurface& surface, CPanoElement* into);
    bool ProgressIsOwn() const { return progress_ && progress_ != &thread_; }

    // One reference per entry, in photo order.
    ElementList photos_;
    // Full size over analysis size, per photo.
    std::vector<double> scales_;
    // The second list of the last build (smaller copies); not owned: the
    // caller's, or else ownCopies_.
    std::vector<PanoramaLib::IPanoElement*> proxies_;
    // The analysis copy of each photo larger than the analysis size (null
    // for one that is its own copy), parallel to photos_.
    ElementList ownCopies_;
    match_graph::CGraph matchGraph_;

    OrvexBase::Rect resultRect_;
    OrvexBase::Rect cropRect_;

    // Owned, parallel to photos_.
    KeypointSetList keypointSets_;

    bool fullSizeRendering_ = false;
    std::uint8_t cropToRect_ = 1;
    int targetSize_ = 660;
    int sizeMode_ = 1;
    double distanceRatio_ = 0.8;
    std::uint8_t lensCompensation_ = 1;
    std::uint8_t optimiseAtEnd_ = 1;
    SurfaceKind surfaceKind_ = 0;

    std::uint8_t lastLensCompensation_ = 0;
    std::uint8_t lastOptimiseAtEnd_ = 0;
    std::int32_t lastLensModel_ = 0;

    // The alignment's state: inputs, poses, shared lens pose and placement
    // order; its edges point into alignEdges_.
    CPoseAlignment align_;
    std::vector<AlignmentEdge> alignEdges_;
    std::int32_t reference_ = -1;

    CCylindricalSurface cylinder_;
    CSphericalSurface sphere_;

    // What the full-size result was rendered for; a request for anything
    // else renders again.
    struct PrintKey {
        SurfaceKind kind = -1;
        std::int32_t elevation = 0, azimuth = 0, tilt = 0;
        bool crop = false;
        OrvexBase::Rect cropRect;
        std::int32_t referenceWidth = 0;
        bool operator==(const PrintKey&) const = default;
    };
    PrintKey printKey_;

    CSRThread thread_;
};

}  // namespace Tiled_Panorama
