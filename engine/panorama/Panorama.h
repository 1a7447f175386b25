#pragma once
// The horizontal/vertical (planar) panorama engine: it matches photo pairs,
// chains planar transforms around a reference photo, cuts seams and blends.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <semaphore>
#include <vector>

#include "AnalysisStage.h"
#include "Arrangement.h"
#include "Compositing.h"
#include "KeypointSet.h"
#include "MatchGraph.h"
#include "PanoElement.h"
#include "PanoramaLib.h"
#include "PanoramaModel.h"
#include "RenderPass.h"
#include "Ring.h"
#include "Seams.h"
#include "StageContext.h"
#include "UserCrop.h"

class CMatchGraphBuilder;
class LaplacianBlender;

class CPanorama : public CPanoramaModel<PanoramaLib::IHVPanorama> {
public:
    CPanorama();
    ~CPanorama() override;

    // PanoramaLib::IPanorama
    bool Build(const std::vector<PanoramaLib::IPanoElement*>& photos,
               const std::vector<PanoramaLib::IPanoElement*>* copies, int, int, int) override;
    void Reset(bool dropAnalyses, bool unused) override;
    OrvexBase::Rect* GetCropRect(OrvexBase::Rect* out, int unused) override;
    PanoramaLib::IPanoElement* PrepareElement(PanoramaLib::IPanoElement* photo) override;

    // PanoramaLib::IHVPanorama
    bool BuildWithTransforms(const std::vector<PanoramaLib::IPanoElement*>& photos,
                             const std::vector<PanoramaLib::IPanoElement*>* copies,
                             bool withTransforms) override;
    bool Render() override;
    bool CropResult(const OrvexBase::Rect* r) override;
    void SetCropRect(OrvexBase::Rect& r) override;

    // Asks the indicator for the cancel answer and keeps it; false without one.
    bool ReportProgress(int total, int position) { return AskProgress(total, position); }

    using Matrix = std::array<double, 9>;

    // The closure step of a 360 build: the strip's far end repeated before
    // its start and matched to it. False when the closing match failed.
    bool CloseRing(OrvexBase::Rect& bounds);
    // Appends a further photo sharing everything with photo index; its index,
    // or -1 when it cannot be made.
    int DuplicateRingElement(int index);

    // Matches every pair of analysed photos and adds the accepted pairs to
    // graph; false when cancelled or the matcher failed.
    bool BuildMatchGraph(match_graph::CGraph* graph);

    // Build driver: one photo's analysis (its heavy part done here, or taken
    // ready), and the match, arrange and composite steps of a build.
    void AnalyzeElement(PanoramaLib::IPanoElement* photo, PanoramaLib::IPanoElement* copy,
                        std::unique_ptr<CKeypointSet> cached, PreparedAnalysis* ready = nullptr);
    bool MatchAndStitch(bool automatic);

    // Prompted and manual matching. The chain of all photos in list order,
    // each pair matched automatically and handed to the user when it did not
    // match or every pair is to be confirmed; false on cancel or abort.
    bool BuildMatchGraphManually(match_graph::CGraph* graph);
    // At most one edge first -> second (the user is asked in the
    // interactive mode); false on cancel, abort or a failed matcher.
    bool AddToMatchGraph(match_graph::CGraph* graph, int second, int first);
    // Three well-spread, well-fitting inlier points of the first photo
    // (x1, y1, x2, y2, x3, y3) to seed the manual matcher.
    static void ChooseSeedMarkers(const match_graph::CEdge& edge, const CKeypointSet& first,
                                  const CKeypointSet& second, int markers[6]);

    // The compositing stage for a pass, with this build's options, seams and
    // user crop.
    CCompositor MakeCompositor(RenderPass& pass);

    // The preview composited again after the user's crop changed it.
    void Recomposite();
    const std::vector<std::int32_t>& CompositedList() const { return composited_; }

    int AnalysisTargetSize() const { return targetSize_; }

protected:
    void TakeOptions(const HVPanoramaOptions& options) override;
    void GiveOptions(HVPanoramaOptions& options) const override;
    void OnBuildFailed() override;
    // The automatic matcher over the analysed photos, with this build's options.
    CMatchGraphBuilder MakeMatchGraphBuilder() const;

    // The result to work on: the full-size one when it holds an image, else
    // the preview when it does; null when neither does.
    CPanoElement* CurrentResult();
    bool RunBuild(const std::vector<PanoramaLib::IPanoElement*>& photos,
                  const std::vector<PanoramaLib::IPanoElement*>* copies, bool automatic);
    // Pyramid levels for a render scale: 4, plus one per halving of its integer part.
    static int LevelCount(double scale);
    // Every photo's analysis, the heavy parts side by side on the thread pool.
    void AnalyzeAll(const std::vector<PanoramaLib::IPanoElement*>& photos,
                    const std::vector<PanoramaLib::IPanoElement*>* copies, ElementList& oldCopies,
                    KeypointSetList& oldSets);
    OrvexBase::RefPtr<CPanoElement> MakeCopyOf(CPanoElement* photo, PanoramaLib::IPanoElement* given);
    void WarpCopyForLens(OrvexBase::RefPtr<CPanoElement>& copy);
    void PrepareAnalysis(CPanoElement* photo, PanoramaLib::IPanoElement* given, bool detect,
                         const std::atomic<bool>& abort, std::counting_semaphore<>& fullSizeSlots,
                         PreparedAnalysis& out);
    // The arrangement stage with this build's photos, reference rule and ring.
    CArrangement MakeArrangement() const;
    // The pass's bounds and photo transforms (CArrangement::ComputeBounds);
    // a ring build keeps whether its bounds could be cut to one turn.
    OrvexBase::Rect ArrangePass(RenderPass& pass);
    // Matches first against second and adds the accepted edges; *accepted is
    // the first of them. matcherOk false: the matcher failed. False only
    // when memory ran out.
    bool MatchChainPair(match_graph::CGraph* graph, int first, int second, bool& matcherOk,
                        match_graph::CEdge** accepted);
    // Asks the user for the pair's transform and stores it in the pair's one
    // edge; throws the matching's abort on refusal or an unusable transform.
    bool MatchPairByHand(match_graph::CGraph* graph, int first, int second, match_graph::CEdge* automatic);

    // Per photo, in photo order: full size over analysis size; the photo as
    // the caller gave it (read by rendering); the working photo (arrangement
    // and compositing; warped after a lens-compensated render); the analysis
    // copy. Each vector holds one reference per entry.
    std::vector<double> scales_;
    ElementList photos_;
    ElementList workPhotos_;
    ElementList copies_;
    // Owned; parallel to the copies.
    KeypointSetList keypointSets_;

    match_graph::CGraph matchGraph_;

    CRingClosure ring_;

    // The preview's pass (every build) and the full-size render's.
    RenderPass preview_{false, previewResult_, &copies_};
    RenderPass full_{true, fullResult_, &workPhotos_};
    // Render is running: a crop may not change the photos it composites.
    bool rendering_ = false;
    std::vector<SeamSet> seams_;
    std::vector<std::int32_t> composited_;
    // Photos whose full-size working copy still needs the lens warp.
    std::vector<char> lensBits_;  // char, not bool: photos are lens-warped on two threads at once
    bool laplacianBlending_ = true;

    // The preview result's rectangle before cropping.
    OrvexBase::Rect previewRect_;
    OrvexBase::Rect bounds_;
    int reference_ = -1;
    bool analysesValid_ = false;
    // BuildWithTransforms's argument, and whether the last build was one.
    bool withTransforms_ = false;
    bool transformsMode_ = false;

    OrvexBase::Rect cropRect_;
    CUserCrop userCrop_;

    // Option fields.
    std::uint8_t autoCrop_ = 1;
    std::int32_t ratioMode_ = 1;
    std::int32_t analysisSize_ = 1;
    std::int32_t motionModel_ = 2;
    std::uint8_t rawExposureDifference_ = 1;
    std::uint8_t lensCompensation_ = 1;
    std::int32_t lensPresetId_ = 7;
    std::uint8_t is360_ = 0;
    int targetSize_ = 660;
    // The analysis size the cached analyses were made for.
    int analysedTarget_ = -1;
    std::int32_t analysedMode_ = -1;
};
