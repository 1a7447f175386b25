#pragma once
// What both panorama models share around their stages: the callbacks, the two
// result elements kept for the engine's life, the build report, progress with
// the user's cancel answer (the StageContext handed to the stages), and the
// build's skeleton, which maps every failure to the report instead of letting
// it reach the caller.

#include <functional>
#include <new>

#include "DibManager.h"

#include "PanoElement.h"
#include "PanoramaLib.h"
#include "StageContext.h"

template <class Interface>
class CPanoramaModel : public Interface, protected StageContext {
public:
    CPanoramaModel(const CPanoramaModel&) = delete;
    CPanoramaModel& operator=(const CPanoramaModel&) = delete;
    ~CPanoramaModel() override {
        if (previewResult_)
            previewResult_->Release();
        if (fullResult_)
            fullResult_->Release();
    }

    // PanoramaLib::IPanorama
    void Init(PanoramaLib::IFreeThreading*, PanoramaLib::IWaitCursor* cursor,
              PanoramaLib::IUserInterface* ui) override {
        waitCursor_ = cursor;
        ui_ = ui;
    }
    void Release() override { delete this; }
    void SetProgressIndicator(PanoramaLib::IProgressIndicator* progress) override { progress_ = progress; }
    bool IsBuilt() override { return built_; }
    PanoramaLib::IPanoElement* GetResult(bool fullIfNoPreview) override {
        if (!fullIfNoPreview || (previewResult_ && previewResult_->IsValid()))
            return previewResult_;
        return fullResult_;
    }
    PanoramaLib::IPanoElement* GetFullResult() override { return fullResult_; }
    BuildReport* GetBuildReport() override { return &report_; }
    void FreeResults() override {
        built_ = false;
        DestroyResults();
    }
    // Each model keeps the option fields it uses; the others read back as
    // zero (their defaults in the record).
    void SetOptions(const HVPanoramaOptions* options) override {
        if (options)
            TakeOptions(*options);
    }
    void GetOptions(HVPanoramaOptions* options) override {
        if (!options)
            return;
        *options = HVPanoramaOptions();
        GiveOptions(*options);
    }

    bool IsCancelled() const override { return cancel_; }
    int ProgressTotal() const { return total_; }

protected:
    CPanoramaModel() : previewResult_(NewResultElement()), fullResult_(NewResultElement()) {}

    virtual void TakeOptions(const HVPanoramaOptions& options) = 0;
    virtual void GiveOptions(HVPanoramaOptions& options) const = 0;

    // Both results' pictures go; the elements stay.
    void DestroyResults() {
        if (previewResult_)
            previewResult_->Destroy();
        if (fullResult_)
            fullResult_->Destroy();
    }

    // StageContext
    bool Advance(int steps) override {
        position_ += steps;
        return AskProgress(total_, position_);
    }
    void RepaintNow() override {
        if (ui_)
            ui_->RepaintNow();
    }
    // Reports a position and keeps the cancel answer; false without an
    // indicator.
    bool AskProgress(int total, int position) {
        cancel_ = progress_ ? progress_->SetProgress(total, position) : false;
        return cancel_;
    }

    // A build: the indicator's Begin and first stage (when it is the
    // engine's own), then the body, which sets the report's status on
    // success. A build no panorama can come of gets status 3; a failure, a
    // cancel or memory that ran out gets status 2 and drops the match state.
    // Either way the preview result goes and the result is false.
    bool RunBuildSkeleton(bool ownIndicator, const std::function<void()>& body) {
        bool result = true;
        if (ownIndicator) {
            progress_->Begin();
            progress_->SetStage(PanoramaLib::StageAnalyzing);
        }
        try {
            body();
        } catch (const panorama_cannot_build&) {
            report_.status = 3;
            OnBuildFailed();
            result = false;
            DropPreviewResult();
        } catch (...) {
            report_.status = 2;
            OnBuildFailed();
            result = false;
            DropPreviewResult(true);
        }
        if (ownIndicator)
            progress_->End();
        return result;
    }
    // What a model notes in the report when a build fails.
    virtual void OnBuildFailed() {}

    PanoramaLib::IUserInterface* ui_ = nullptr;
    PanoramaLib::IProgressIndicator* progress_ = nullptr;
    PanoramaLib::IWaitCursor* waitCursor_ = nullptr;

    // Kept for the engine's life: the document holds them without a
    // reference; their pictures are created, replaced and destroyed.
    CPanoElement* const previewResult_;
    CPanoElement* const fullResult_;

    bool built_ = false;
    bool cancel_ = false;
    int position_ = 0;
    int total_ = 0;

    BuildReport report_;

private:
    // An empty result element, or null when memory ran out: the factory
    // then refuses the engine.
    static CPanoElement* NewResultElement() {
        auto* e = new (std::nothrow) CPanoElement(0);
        if (e && !e->GetImage()) {
            e->Release();
            return nullptr;
        }
        return e;
    }
    void DropPreviewResult(bool dropMatches = false) {
        if (waitCursor_)
            waitCursor_->BeginWaitCursor();
        if (dropMatches)
            this->Reset(false, true);
        if (previewResult_)
            previewResult_->Destroy();
        if (waitCursor_)
            waitCursor_->EndWaitCursor();
    }
};

// Makes an engine of a model, which uses the image manager from then on;
// null without a manager, when memory ran out, or without its two result
// elements (the engine is of no use then).
template <class Engine>
Engine* CreatePanoramaModel(PanoramaLib::IDibManager* manager) {
    g_pDibManager = manager;
    if (!manager)
        return nullptr;
    Engine* engine = nullptr;
    try {
        engine = new Engine();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!engine->GetResult(false) || !engine->GetFullResult()) {
        engine->Release();
        return nullptr;
    }
    return engine;
}
