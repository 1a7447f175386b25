#pragma once
// The panorama project: the ordered photo list, the photo elements the engines
// work on, both engines with their services, the stitching and export choices
// of this run, the result's crop rectangle and the crop choices (with the
// print service's products). It lives in memory only; saving writes the
// rendered panorama as an image.

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CClipDescription.h"
#include "CropRect.h"
#include "DialogCallback.h"
#include "DocumentBase.h"
#include "DocumentJobs.h"
#include "EngineCallbacksEx.h"
#include "EngineServices.h"
#include "INetPrint.h"
#include "PanoramaLib.h"
#include "PhotoElements.h"
#include "PictureViewDocument.h"
#include "PrintServiceUpload.h"
#include "PrinterServices.h"
#include "SamePictures.h"
#include "WorkflowTypes.h"

// Dialog results the document reads.
namespace DocResult {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;
}  // namespace DocResult

// View-update hints the document sends.
namespace DocHint {
inline constexpr int kPhotosAppended = 0;
inline constexpr int kMatchingAutomatic = 4;
inline constexpr int kElementsRebuilt = 5;
inline constexpr int kStitchBegins = 6;
inline constexpr int kStitchEnded = 7;
}  // namespace DocHint

// What saving the result needs of the windowing side: the file-name prompt,
// the Yes/No question, the owner of the module's messages.
class CWorkflow;
class IResultSaveHost {
public:
    // Asks where to save, starting from name (the current path or empty);
    // false when the user cancelled.
    virtual bool PromptSaveFileName(std::string& name) = 0;
    // true on Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The window the module's messages and option dialogs belong to (a QWidget*), or null.
    virtual void* OwnerWindow() = 0;
    virtual std::string ApplicationTitle() = 0;
    virtual ~IResultSaveHost() = default;
};

// What the document needs of the windowing side: message boxes, the change
// prompt, the busy cursor and the manual matching dialog. Without a host the
// boxes are skipped, the prompt answers Yes and matching is cancelled.
class IDocumentHost {
public:
    virtual void MessageBox(const std::string& text) = 0;
    // A message that only informs (nothing went wrong).
    virtual void Inform(const std::string& text) { MessageBox(text); }
    // kYes, kNo or kCancel.
    virtual int AskAboutToChange(const std::string& text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual void RestoreWaitCursor() = 0;
    // The manual matching dialog on one pair; kOk when the markers were applied.
    virtual int RunMatchingDialog(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                  PanoramaLib::IManualMatcher* matcher) = 0;
    virtual ~IDocumentHost() = default;
};

class COvHorizelDoc : public CDocumentBase,
                      public IDialogCallback::IStitchingOptions,
                      public IDialogCallback::IExportDialog,
                      public IDialogCallback::IPatchingNotify,
                      public NetPrint::INetPrint,
                      public PanoramaLib::IWaitCursor,
                      public IPictureViewDocument,
                      public PrintSetup::IPrintDocument {
public:
    using ElementVector = std::vector<PanoramaLib::IPanoElement*>;

    COvHorizelDoc();
    ~COvHorizelDoc() override;

    // Borrowed; none of these is owned. All may be null.
    void SetHost(IDocumentHost* host) { m_host = host; }
    void SetCropView(ICropRect* cropView) { m_cropView = cropView; }
    void SetUpdateCallback(IDialogCallback::IUpdate* update) { m_update = update; }
    void SetSaveHost(IResultSaveHost* host) { m_saveHost = host; }
    // The windows of the print-service upload ("Send to web...").
    void SetUploadHost(NetPrint::IUploadHost* host) { m_uploadHost = host; }

    // Life cycle and tasks.
    void CreateEngines(PanoramaLib::IUserInterface* ui, IProgressIndicatorEx* progress);
    // Engines made elsewhere (recording engines in tests), used in place of
    // the factories' when CreateEngines runs; the document owns them.
    void AttachEngines(PanoramaLib::IHVPanorama* planar, PanoramaLib::ITiledPanorama* tiled);
    // The task by its number (1 to 3; others are ignored), and as a value.
    void SetCurrentTask(int task);
    void SetCurrentTask(Task task);
    int GetCurrentTask() const { return TaskNumber(m_currentTask); }
    int GetCurrentTask() override { return TaskNumber(m_currentTask); }
    Task CurrentTask() const { return m_currentTask; }
    // The crop choice as the result view keeps its ratio.
    CropAspect GetCropAspect() override;
    bool HasEnoughPhotos() const { return Photos().GetCount() > 1; }
    PanoramaLib::IPanoElement* GetDisplayResult();
    std::string GetResultInfoText();
    void OnRenderUpdate(int wParam, int lParam);
    void SetManualMatchingPreference(int preference) { m_manualMatchingPreference = preference; }

    // Project photos.
    int AddFiles(const std::vector<std::string>& paths);
    CClipDescriptionList::POSITION InsertPhotos(const CClipDescriptionList& photos);
    CClipDescriptionList& MovePhotos(CClipDescriptionList::POSITION first,
                                     CClipDescriptionList::POSITION last,
                                     CClipDescriptionList::POSITION before);
    // customer: the thumbnail customer whose pending request for the photo is
    // dropped first (none yet: the thumbnails come with the photo strip).
    void RemovePhotoAt(void* customer, CClipDescriptionList::POSITION position);
    void RemovePhoto(void* customer, CClipDescription* photo);
    void ClearPhotos();
    bool ConfirmPhotoListChange(const std::vector<std::string>* added,
                                const std::vector<std::string>* removed, bool force);
    bool ListsTouchProject(const std::vector<std::string>* added,
                           const std::vector<std::string>* removed) const;
    int AskAboutToChange();
    void OnPhotoListEdited();
    void SyncPhotoElements();
    PanoramaLib::IPanoElement* LoadPhotoElement(const std::string& path, bool reportErrors);
    static PanoramaLib::IPanoElement* FindElementByPath(const std::string& path,
                                                        const ElementVector& elements, int* index);
    void ShowFileError(const std::string& path, const std::string& text);

    CClipDescriptionList& GetPhotoList() { return Photos(); }
    const ElementVector& GetPhotoElements() const { return m_elements.Elements(); }
    const ElementVector& GetPreparedElements() const { return m_elements.Prepared(); }
    bool IsBusy() const { return m_busy != 0; }
    bool IsResultStale() const { return m_staleResult != 0; }
    int GetCropTypeIndex() const { return m_cropType; }
    // The crop choice of the stored index. An index from an earlier run may
    // name a product that is gone: beyond the list it means "Manual", below
    // it "No crop"; the index itself is kept and written back as it was.
    const NetPrint::CAspectData& GetCropChoice() const;
    const OrvexBase::Rect& GetResultCropRect() const { return m_cropRect; }
    PanoramaLib::IHVPanorama* GetPlanarEngine() const { return m_planar; }
    PanoramaLib::ITiledPanorama* GetTiledEngine() const { return m_tiled; }
    bool IsStitching() const { return m_stitching; }
    // The report of the last build of the model now shown; null without engines.
    const BuildReport* LastBuildReport() const;
    // The workflow's runs (load, build, render, save); threaded once a window shows them.
    CDocumentJobs& Jobs() const;

    // Stitching. Each build is a run of Jobs(): these start it (or queue it
    // behind the run under way) and return; its end reacts to the report.
    bool StitchWithMode(bool planar);
    bool StitchNormal();
    bool StitchManual();
    bool StitchTiled();
    // false when photos of another size were removed; then runs once the
    // rest has loaded again.
    bool CheckPhotoSizes(std::function<void()> then = {});
    bool MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                       PanoramaLib::IManualMatcher* matcher);
    void ResetEngines();
    void ShowCropFrame(bool on, bool redraw);

    // Rendering and saving the result.
    void OnFileSave();
    void OnFileExport();
    bool OnUpdateFileSave();
    bool OnUpdateFileExport();
    bool OnUpdateFilePrint();
    // Writes to path, or asks for a name when path is null or empty. The
    // write is a run of Jobs(): false when the name was not given or the
    // write has already failed; true when written or still under way (its end
    // sets the path name).
    bool DoSave(const char* path, bool replace);
    // Starts the write of the full-size result as a run; done(result) at its
    // end with 1 when written, otherwise the module's result (it reported the
    // error). 0 when nothing can be written, else 1 or the result once known.
    int WriteResultFile(const char* path, std::function<void(int result)> done = {});
    // Asked before the program closes: true to go on.
    bool SaveModified();
    const std::string& GetPathName() const { return m_pathName; }
    void SetPathName(const std::string& path) { m_pathName = path; }
    int GetPageDirection() const { return m_pageDirection; }

    // Printing. The full-size result on one page of a print (nothing to
    // draw unless that result is current); its picture comes with the plan.
    PrintMath::PrintPagePlan PrintPage(const PrinterCaps& caps, int page, int lastPage,
                                       const PrintLayout* layout, PanoramaLib::IPanoElement** picture);
    int GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout) override;
    int IsResultWide() override { return m_pageDirection; }

    // IDialogCallback::IStitchingOptions
    void GetOptions(HVPanoramaOptions* options) override;
    void SetOptions(const HVPanoramaOptions* options) override;
    void StartStitching() override;
    bool HasTiledResult() override;
    bool IsRestitchNeeded(const HVPanoramaOptions* options) override;
    int GetMatchingMode() override { return m_manualMode; }
    void SetMatchingMode(int mode) override;
    bool CanStitch() override;
    void RequestTiledRender(int surfaceKind, int elevation, int azimuth, int tilt, bool onRenderThread,
                            int keepCropRect) override;
    void ResetTiledCropRect() override;
    void SetTiledMode(bool tiled) override { m_activeTiled = tiled; }
    // The model chosen for a build is the workflow's.
    void SetTiledOptions(bool tiled) override;
    bool GetTiledOptions() override { return TiledChosen(); }
    // The workflow the document works in (borrowed): its photos, its runs
    // and its stitching mode; without one the document keeps a workflow of
    // its own. The photos move over to the one set.
    void SetWorkflow(CWorkflow* workflow);
    // The workflow the document builds for: the one set, else its own.
    CWorkflow& Workflow() const;
    void GetTiledRenderParams(int* surfaceKind, int* elevation, int* azimuth, int* tilt) override;
    void MarkOptionsChanged() override { m_optionsChanged = true; }

    // IDialogCallback::IExportDialog
    int GetExportState() override { return m_cropType; }
    void ApplyExportChoice(int cropTypeIndex) override;
    void Render() override;
    void Export() override { OnFileExport(); }
    // Saves the full-size result as the next pending panorama and uploads it;
    // a panorama the service did not accept stays pending for the next start.
    void SendToWeb() override;
    bool CanRenderFullResult() override;
    bool IsFullResultCurrent() override;
    void NotifyExportListener(bool keepAspect) override;

    // IDialogCallback::IPatchingNotify
    void OnPatching() override;

    // NetPrint::INetPrint
    std::vector<NetPrint::CAspectData>* GetProductList() override { return &m_cropList; }
    void SelectPrintProduct(const NetPrint::CAspectData& product) override;
    NetPrint::CAspectData* GetNetPrintSettings() override { return &m_printProduct; }

    // PanoramaLib::IWaitCursor
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void RestoreWaitCursor() override;

private:
    PanoramaLib::IPanorama* ActiveEngine() const;
    PanoramaLib::IPanorama* ChosenEngine() const;
    bool QueueVariant(BuildVariant variant);
    void BeginBuild(bool tiled, std::function<void(bool built)> then);
    // done(built) on the user-interface thread once the build has ended.
    void RunVariant(BuildVariant variant, std::function<void(bool built)> done);
    void RunLoadedVariant(BuildVariant variant, std::function<void(bool built)> done);
    // Loads the project photos that have no element yet as a run, then calls then.
    void LoadElements(std::function<void()> then);
    void BeginRender();
    // The full-size result written to path as a run (the format's options
    // asked first when showOptions); false when there is no result to write.
    bool WritePanoramaFile(const char* path, bool showOptions, std::function<void(int result)> done);
    // The write's turn: its result taken, its options asked, its run started.
    void BeginWrite(const std::string& path, bool showOptions, std::function<void(int result)> done);
    void OnUiThread(std::function<void()> call);
    void ReactToReport(bool tiled);
    // Loads one photo; null with the reason (empty: none to tell) when it
    // cannot. Its pixels' fingerprint goes to print when given.
    PanoramaLib::IPanoElement* LoadElement(const std::string& path, std::string* refusal,
                                           SamePictures::Fingerprint* print);
    // One message for the files a load refused: (file name, reason) each.
    void ShowRefusedFiles(const std::vector<std::pair<std::string, std::string>>& refused);
    // Names the photos of the build that hold the same picture, if any.
    void ShowSamePictures();
    void MarkFiles(const std::vector<std::string>& names, bool mark);
    void RefreshStitchPage();
    void RefreshExportPage();
    CClipDescriptionList& Photos() const;

    bool m_optionsChanged = false;
    int m_surfaceKind = 0;
    int m_elevation = 0;
    int m_azimuth = 0;
    int m_tilt = 0;
    Task m_currentTask = Task::None;
    CPhotoElements m_elements;
    int m_staleResult = 0;
    int m_cropType = 1;
    int m_pageDirection = 1;
    int m_manualMatchingPreference = 0;
    int m_manualMode = 0;
    int m_busy = 0;
    // What the product files' spelling cost, told once when the export task
    // first shows the list; empty once told.
    std::string m_skippedProductsText;
    OrvexBase::Rect m_cropRect;
    bool m_activeTiled = false;
    QPointer<CWorkflow> m_workflow;
    std::unique_ptr<CWorkflow> m_ownWorkflow;
    bool TiledChosen() const;
    PanoramaLib::IHVPanorama* m_planar = nullptr;
    PanoramaLib::ITiledPanorama* m_tiled = nullptr;
    bool m_madeEngines = false;
    PanoramaLib::IHVPanorama* m_attachedPlanar = nullptr;
    PanoramaLib::ITiledPanorama* m_attachedTiled = nullptr;
    CFreeThreading m_threads;
    CDibManager m_dibManager;
    IProgressIndicatorEx* m_progress = nullptr;
    PanoramaLib::IUserInterface* m_ui = nullptr;
    ICropRect* m_cropView = nullptr;
    IDialogCallback::IUpdate* m_update = nullptr;
    std::vector<NetPrint::CAspectData> m_cropList;
    NetPrint::CAspectData m_printProduct;
    IDocumentHost* m_host = nullptr;
    IResultSaveHost* m_saveHost = nullptr;
    NetPrint::IUploadHost* m_uploadHost = nullptr;
    std::string m_pathName;
    // Between the start and the end of a build the engines are inside Build:
    // polls and posted render updates must not reach them.
    bool m_stitching = false;
    // Receives the calls the engines' threads hand to the user-interface
    // thread; those still waiting go with the document.
    QObject m_uiCalls;
};
