#pragma once
// The horizontal/vertical (planar) panorama engine: it matches photo pairs,
// chains planar transforms around a reference photo, cuts seams and blends.

#include <cstdint>
#include <vector>

#include "PanoElement.h"
#include "PanoramaLib.h"

class CPanorama : public PanoramaLib::IHVPanorama {
public:
    CPanorama();
    CPanorama(const CPanorama&) = delete;
    CPanorama& operator=(const CPanorama&) = delete;
    ~CPanorama() override;

    // PanoramaLib::IPanorama
    void Init(PanoramaLib::IFreeThreading* threads, PanoramaLib::IWaitCursor* cursor,
              PanoramaLib::IUserInterface* ui) override;
    void Release() override;
    void SetProgressIndicator(PanoramaLib::IProgressIndicator* progress) override { progress_ = progress; }
    bool IsBuilt() override { return built_; }
    bool Build(const std::vector<PanoramaLib::IPanoElement*>& photos,
               const std::vector<PanoramaLib::IPanoElement*>* copies, int, int, int) override;
    PanoramaLib::IPanoElement* GetResult(bool fullIfNoPreview) override;
    PanoramaLib::IPanoElement* GetFullResult() override { return fullResult_; }
    BuildReport* GetBuildReport() override { return &report_; }
    void Reset(bool dropAnalyses, bool unused) override;
    void FreeResults() override;
    void SetOptions(const HVPanoramaOptions* options) override;
    void GetOptions(HVPanoramaOptions* options) override;
    OrvexBase::Rect* GetCropRect(OrvexBase::Rect* out, int unused) override;
    PanoramaLib::IPanoElement* PrepareElement(PanoramaLib::IPanoElement* photo) override;

    // PanoramaLib::IHVPanorama
    bool BuildWithTransforms(const std::vector<PanoramaLib::IPanoElement*>& photos,
                             const std::vector<PanoramaLib::IPanoElement*>* copies, bool withTransforms) override;
    bool Render() override;
    bool CropResult(const OrvexBase::Rect* r) override;
    void SetCropRect(OrvexBase::Rect& r) override;

    // Asks the indicator for the cancel answer and keeps it; false without one.
    bool ReportProgress(int total, int position);
    // One progress step of the current engine, for the detector and the warps.
    static bool ProgressHook();

    int AnalysisTargetSize() const { return targetSize_; }
    bool IsCancelled() const { return cancel_; }
    int ProgressPosition() const { return position_; }

private:
    // The result to work on: the full-size one when it holds an image, else
    // the preview when it does; null when neither does.
    CPanoElement* CurrentResult();

    PanoramaLib::IUserInterface* ui_ = nullptr;
    PanoramaLib::IProgressIndicator* progress_ = nullptr;
    PanoramaLib::IWaitCursor* waitCursor_ = nullptr;

    // Kept for the engine's life; their images are created and destroyed.
    CPanoElement* previewResult_ = nullptr;
    CPanoElement* fullResult_ = nullptr;

    OrvexBase::Rect cropRect_;
    OrvexBase::Rect userCropRect_;
    int userCropElement_ = -1;

    bool built_ = false;
    bool cancel_ = false;
    int position_ = 0;
    int total_ = 0;

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

    BuildReport report_;
};

// The planar engine made last, reached by code that has no engine argument.
extern CPanorama* g_pCurrentPanorama;
