#pragma once
// What the main frame asks of the document. Until the document exists, the
// frame works on CDocumentStandIn: the project's photo list and a count of
// the stitches it was asked for. The real document implements this interface
// (or the frame's calls move onto it) when it lands.

#include <string>
#include <vector>

#include "AppSettings.h"
#include "ProjectStandIn.h"

class IMainFrameDocument {
public:
    virtual ~IMainFrameDocument() = default;
    virtual size_t GetPhotoCount() const = 0;
    virtual std::vector<std::string> GetPhotos() const = 0;
    // Appends the files not yet in the project; how many were added.
    virtual size_t AddPhotos(const std::vector<std::string>& files) = 0;
    virtual void RemovePhotos(const std::vector<std::string>& files) = 0;
    // A full-size rendering is pending (a current stitched result exists).
    virtual bool CanRenderFullResult() const = 0;
    // The full-size result has been rendered and is current.
    virtual bool IsFullResultCurrent() const = 0;
    // Stitches with the options the profile holds for the chosen mode.
    virtual void StitchWithProfileOptions(const StitchingProfile& options) = 0;
    // Drops results a changed photo list made stale.
    virtual void ResetEngines() = 0;
    virtual void SetTask(int task) = 0;
    virtual void SetManualMatching(int value) = 0;
};

class CDocumentStandIn : public IMainFrameDocument {
public:
    size_t GetPhotoCount() const override { return project_.GetCount(); }
    std::vector<std::string> GetPhotos() const override { return project_.Files(); }
    size_t AddPhotos(const std::vector<std::string>& files) override { return project_.AddFiles(files); }
    void RemovePhotos(const std::vector<std::string>& files) override;
    bool CanRenderFullResult() const override { return false; }
    bool IsFullResultCurrent() const override { return false; }
    void StitchWithProfileOptions(const StitchingProfile& options) override {
        lastOptions = options;
        ++stitches;
    }
    void ResetEngines() override { ++resets; }
    void SetTask(int task) override { this->task = task; }
    void SetManualMatching(int value) override { manualMatching = value; }

    // What the frame asked, for the tests.
    int stitches = 0;
    int resets = 0;
    int task = 0;
    int manualMatching = 0;
    StitchingProfile lastOptions;

private:
    CProjectStandIn project_;
};
