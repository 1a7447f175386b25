#include "COvHorizelDoc.h"

#include <algorithm>
#include <exception>
#include <list>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QThread>

#include "AspectData.h"

#include "CropChoices.h"
#include "DocText.h"
#include "Profile.h"
#include "ProjectFiles.h"
#include "StitchingOptionFields.h"
#include "StringTable.h"
#include "TextCodec.h"
#include "Workflow.h"

namespace {

// Engine failures that escape a build: the engines catch their own, this
// catches what they cannot (memory running out).
constexpr unsigned kIdsBuildFailed = 61001;
// Files refused while the photos load: all in one message.
constexpr unsigned kIdsFilesRefused = 61011;
// Photos of a build that are the same picture, told after the build.
constexpr unsigned kIdsSamePictures = 61014;

std::string ElementPath(const PanoramaLib::IPanoElement* element) {
    return Platform::Utf8FromWide(element->GetFileName());
}

bool IsValidElement(const PanoramaLib::IPanoElement* element) {
    return element && element->IsValid();
}

// The document's busy cursor for one scope.
class WaitCursorScope {
public:
    explicit WaitCursorScope(COvHorizelDoc& doc) : doc_(doc) { doc_.BeginWaitCursor(); }
    ~WaitCursorScope() { doc_.EndWaitCursor(); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    COvHorizelDoc& doc_;
};

}  // namespace

COvHorizelDoc::COvHorizelDoc() : m_ownWorkflow(std::make_unique<CWorkflow>()) {
    m_cropType = AppProfile::GetProfileInt("SAVING", "crop type", 1);
    m_manualMode = AppProfile::GetProfileInt("STITCHING", "manual mode", 0);
    m_cropList = CropChoices::Read(&m_skippedProductsText);
}

COvHorizelDoc::~COvHorizelDoc() {
    // A run's work ends before the engines and elements it works on go; a
    // borrowed workflow lives on without this document.
    Jobs().Abandon();
    if (m_workflow)
        m_workflow->ForgetDocument(this);
    if (m_attachedPlanar)
        m_attachedPlanar->Release();
    if (m_attachedTiled)
        m_attachedTiled->Release();
    if (m_planar)
        m_planar->Release();
    if (m_tiled)
        m_tiled->Release();
    m_planar = nullptr;
    m_tiled = nullptr;
    m_elements.Clear();
    // The factories keep this document's image factory for all engine code;
    // it goes with the document, so take it back (a null factory makes no engine).
    if (m_madeEngines)
        CreateHVPanorama(nullptr);
    AppProfile::WriteProfileInt("SAVING", "crop type", m_cropType);
    AppProfile::WriteProfileInt("STITCHING", "manual mode", m_manualMode);
}

const NetPrint::CAspectData& COvHorizelDoc::GetCropChoice() const {
    return CropChoices::At(m_cropList, m_cropType);
}

void COvHorizelDoc::AttachEngines(PanoramaLib::IHVPanorama* planar, PanoramaLib::ITiledPanorama* tiled) {
    if (m_planar || m_tiled || m_attachedPlanar || m_attachedTiled)
        return;
    m_attachedPlanar = planar;
    m_attachedTiled = tiled;
}

void COvHorizelDoc::CreateEngines(PanoramaLib::IUserInterface* ui, IProgressIndicatorEx* progress) {
    m_ui = ui;
    m_progress = progress;
    if (m_planar || m_tiled)
        return;
    if (m_attachedPlanar || m_attachedTiled) {
        m_planar = std::exchange(m_attachedPlanar, nullptr);
        m_tiled = std::exchange(m_attachedTiled, nullptr);
    } else {
        m_planar = CreateHVPanorama(&m_dibManager);
        m_tiled = CreateTiledPanorama(&m_dibManager);
        m_madeEngines = true;
    }
    for (PanoramaLib::IPanorama* engine :
         {static_cast<PanoramaLib::IPanorama*>(m_planar), static_cast<PanoramaLib::IPanorama*>(m_tiled)}) {
        if (!engine)
            continue;
        engine->Init(&m_threads, this, ui);
        engine->SetProgressIndicator(progress);
    }
}

void COvHorizelDoc::SetCurrentTask(int task) {
    if (const std::optional<Task> known = TaskFromNumber(task))
        SetCurrentTask(*known);
}

void COvHorizelDoc::SetCurrentTask(Task task) {
    if (task == m_currentTask)
        return;
    ShowCropFrame(m_cropType >= 1 && task == Task::Export, true);
    if (task == Task::Stitch) {
        UpdateAllViews(nullptr, DocHint::kElementsRebuilt);
        SyncPhotoElements();
        RefreshStitchPage();
    }
    m_currentTask = task;
    if (task == Task::Export && !m_skippedProductsText.empty() && m_host) {
        m_host->Inform(m_skippedProductsText);
        m_skippedProductsText.clear();
    }
    if (m_manualMode == 0 && task != Task::AddImages)
        UpdateAllViews(nullptr, DocHint::kMatchingAutomatic);
}

PanoramaLib::IPanorama* COvHorizelDoc::ActiveEngine() const {
    return m_activeTiled ? static_cast<PanoramaLib::IPanorama*>(m_tiled)
                         : static_cast<PanoramaLib::IPanorama*>(m_planar);
}

void COvHorizelDoc::SetWorkflow(CWorkflow* workflow) {
    CWorkflow& before = Workflow();
    m_workflow = workflow;
    if (CWorkflow& after = Workflow(); &after != &before)
        after.SwapProject(before);
}

CWorkflow& COvHorizelDoc::Workflow() const {
    return m_workflow ? *m_workflow : *m_ownWorkflow;
}

CDocumentJobs& COvHorizelDoc::Jobs() const {
    return Workflow().Jobs();
}

CClipDescriptionList& COvHorizelDoc::Photos() const {
    return Workflow().Photos();
}

bool COvHorizelDoc::TiledChosen() const {
    return Workflow().GetStitchMode() == StitchMode::Tiled;
}

void COvHorizelDoc::SetTiledOptions(bool tiled) {
    Workflow().SetStitchMode(tiled ? StitchMode::Tiled : StitchMode::Planar);
}

PanoramaLib::IPanorama* COvHorizelDoc::ChosenEngine() const {
    return TiledChosen() ? static_cast<PanoramaLib::IPanorama*>(m_tiled)
                         : static_cast<PanoramaLib::IPanorama*>(m_planar);
}

PanoramaLib::IPanoElement* COvHorizelDoc::GetDisplayResult() {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    // The engine writes its results during a run: none is shown meanwhile.
    if (!engine || Jobs().IsRunning())
        return nullptr;
    if (PanoramaLib::IPanoElement* full = engine->GetFullResult(); IsValidElement(full))
        return full;
    if (PanoramaLib::IPanoElement* shown = engine->GetResult(true); IsValidElement(shown))
        return shown;
    return nullptr;
}

std::string COvHorizelDoc::GetResultInfoText() {
    PanoramaLib::IPanorama* engine = Jobs().IsRunning() ? nullptr : ActiveEngine();
    PanoramaLib::IPanoElement* full = engine ? engine->GetFullResult() : nullptr;
    if (!IsValidElement(full))
        return {};
    return DocText::Load(139, {std::to_string(full->GetWidth()), std::to_string(full->GetHeight()),
                               std::to_string(full->GetBpp())});
}

void COvHorizelDoc::OnRenderUpdate(int wParam, int lParam) {
    if (!m_tiled || m_stitching || Jobs().IsRunning())
        return;
    if (wParam == 1 && lParam == 1) {
        m_tiled->GetCropRect(&m_cropRect, 0);
        if (m_cropView)
            m_cropView->SetCropRect(&m_cropRect);
        Workflow().NotifyResultChanged();
    } else {
        m_tiled->TakeRenderResult(wParam, lParam);
    }
}

// ---- project photos ----

int COvHorizelDoc::AddFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (ProjectFiles::IsReadableImageFile(path) && !Photos().FindByPath(path))
            Photos().AddPath(path);
    UpdateAllViews(nullptr, DocHint::kPhotosAppended);
    SetModifiedFlag(true);
    return 0;
}

CClipDescriptionList::POSITION COvHorizelDoc::InsertPhotos(const CClipDescriptionList& photos) {
    const std::size_t before = Photos().GetCount();
    Photos().AppendCopies(photos);
    return std::next(Photos().begin(), static_cast<long>(before));
}

CClipDescriptionList& COvHorizelDoc::MovePhotos(CClipDescriptionList::POSITION first,
                                                CClipDescriptionList::POSITION last,
                                                CClipDescriptionList::POSITION before) {
    Photos().MoveRange(first, last, before);
    return Photos();
}

void COvHorizelDoc::RemovePhotoAt(void* /*customer*/, CClipDescriptionList::POSITION position) {
    Photos().RemoveAt(position);
}

void COvHorizelDoc::RemovePhoto(void* customer, CClipDescription* photo) {
    RemovePhotoAt(customer, Photos().Find(photo));
}

void COvHorizelDoc::ClearPhotos() {
    if (m_currentTask != Task::AddImages)
        return;
    Photos().DeleteAll();
    UpdateAllViews(nullptr, DocHint::kPhotosAppended);
}

bool COvHorizelDoc::ListsTouchProject(const std::vector<std::string>* added,
                                      const std::vector<std::string>* removed) const {
    if (!added && !removed)
        return !Photos().IsEmpty();
    if (removed)
        for (const std::string& path : *removed)
            if (Photos().FindByPath(path))
                return true;
    if (added)
        for (const std::string& path : *added)
            if (!Photos().FindByPath(path))
                return true;
    return false;
}

bool COvHorizelDoc::ConfirmPhotoListChange(const std::vector<std::string>* added,
                                           const std::vector<std::string>* removed, bool force) {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    const bool affectsResult =
        m_staleResult == 0 && (ListsTouchProject(added, removed) || force) && engine &&
        (IsValidElement(engine->GetFullResult()) || IsValidElement(engine->GetResult(true))) &&
        !m_elements.IsEmpty();
    if (!affectsResult)
        return true;
    const int answer = AskAboutToChange();
    // Escape backs out of the change like No: the user did not agree to lose the result.
    if (answer != DocResult::kYes)
        return false;
    m_staleResult = 1;
    return true;
}

int COvHorizelDoc::AskAboutToChange() {
    if (AppProfile::GetProfileInt("GENERAL", "DNTSHOW_ABOUTPHOTOLIST", 0) != 0)
        return DocResult::kYes;
    if (!m_host)
        return DocResult::kYes;
    return m_host->AskAboutToChange(Res::LoadStr(219));
}

void COvHorizelDoc::OnPhotoListEdited() {
    if (m_currentTask != Task::Stitch)
        return;
    ResetEngines();
    SyncPhotoElements();
    RefreshStitchPage();
}

PanoramaLib::IPanoElement* COvHorizelDoc::FindElementByPath(const std::string& path,
                                                            const ElementVector& elements, int* index) {
    return CPhotoElements::FindByPath(path, elements, index);
}

void COvHorizelDoc::SyncPhotoElements() {
    Jobs().Queue([this] { LoadElements({}); });
}

void COvHorizelDoc::LoadElements(std::function<void()> then) {
    if (Jobs().IsRunning()) {
        Jobs().Queue([this, then = std::move(then)] { LoadElements(then); });
        return;
    }
    BeginWaitCursor();
    m_busy = 1;
    RefreshStitchPage();

    std::vector<std::string> paths;
    Photos().CollectPaths(paths);
    // What the load works on; the document's lists are left alone meanwhile.
    const std::shared_ptr<CPhotoElements::Load> load = m_elements.PlanLoad(std::move(paths));

    auto work = [this, load] {
        CPhotoElements::Read(
            *load, m_progress,
            [this](const std::string& path, std::string* refusal, SamePictures::Fingerprint* print) {
                return LoadElement(path, refusal, print);
            },
            [this](PanoramaLib::IPanoElement* element) {
                return m_planar ? m_planar->PrepareElement(element) : nullptr;
            });
    };
    auto done = [this, load, then = std::move(then)] {
        for (const std::string& path : m_elements.TakeIn(*load))
            if (CClipDescription* photo = Photos().FindByPath(path))
                Photos().Remove(photo);
        m_busy = 0;
        EndWaitCursor();
        RefreshStitchPage();
        UpdateAllViews(nullptr, DocHint::kElementsRebuilt);
        ShowRefusedFiles(load->refused);
        if (then)
            then();
    };
    if (load->toLoad.empty()) {
        work();
        done();
        return;
    }
    Jobs().Run(JobKind::Load, std::move(work), std::move(done));
}

void COvHorizelDoc::ShowRefusedFiles(const std::vector<std::pair<std::string, std::string>>& refused) {
    if (refused.empty() || !m_host)
        return;
    if (refused.size() == 1) {
        m_host->MessageBox(DocText::Load(200, {refused[0].first, refused[0].second}));
        return;
    }
    std::string lines;
    for (const auto& [name, reason] : refused)
        lines += "\n" + name + ": " + reason;
    m_host->MessageBox(DocText::Load(kIdsFilesRefused, {std::to_string(refused.size()), lines}));
}

PanoramaLib::IPanoElement* COvHorizelDoc::LoadPhotoElement(const std::string& path, bool reportErrors) {
    std::string refusal;
    PanoramaLib::IPanoElement* element = LoadElement(path, &refusal, nullptr);
    if (!element && reportErrors && !refusal.empty())
        ShowFileError(path, refusal);
    return element;
}

PanoramaLib::IPanoElement* COvHorizelDoc::LoadElement(const std::string& path, std::string* refusal,
                                                      SamePictures::Fingerprint* print) {
    WaitCursorScope cursor(*this);
    return m_elements.LoadOne(path, refusal, print);
}

void COvHorizelDoc::ShowFileError(const std::string& path, const std::string& text) {
    if (m_host)
        m_host->MessageBox(DocText::Load(200, {ProjectFiles::FileNameOf(path), text}));
}

// ---- stitching ----

void COvHorizelDoc::StartStitching() {
    Jobs().Queue([this] {
        BeginBuild(TiledChosen(), [this](bool) {
            if (m_currentTask == Task::Export) {
                ShowCropFrame(m_cropType > 0, true);
                RefreshExportPage();
            }
        });
    });
}

bool COvHorizelDoc::StitchWithMode(bool planar) {
    Jobs().Queue([this, planar] { BeginBuild(!planar, {}); });
    return true;
}

void COvHorizelDoc::BeginBuild(bool tiled, std::function<void(bool)> then) {
    UpdateAllViews(nullptr, DocHint::kStitchBegins);
    m_activeTiled = tiled;
    m_stitching = true;
    const BuildVariant variant = tiled               ? BuildVariant::Tiled
                                 : m_manualMode != 0 ? BuildVariant::Manual
                                                     : BuildVariant::Automatic;
    RunVariant(variant, [this, then = std::move(then)](bool built) {
        m_stitching = false;
        UpdateAllViews(nullptr, DocHint::kStitchEnded);
        m_optionsChanged = false;
        if (then)
            then(built);
    });
}

bool COvHorizelDoc::StitchNormal() {
    return QueueVariant(BuildVariant::Automatic);
}

bool COvHorizelDoc::StitchManual() {
    return QueueVariant(BuildVariant::Manual);
}

bool COvHorizelDoc::StitchTiled() {
    return QueueVariant(BuildVariant::Tiled);
}

bool COvHorizelDoc::QueueVariant(BuildVariant variant) {
    Jobs().Queue([this, variant] { RunVariant(variant, [](bool) {}); });
    return true;
}

void COvHorizelDoc::RunVariant(BuildVariant variant, std::function<void(bool)> done) {
    // A load the user cancelled goes on first; cancelled again, no build.
    if (m_elements.IsIncomplete()) {
        LoadElements([this, variant, done] {
            if (m_elements.IsIncomplete())
                done(false);
            else
                RunLoadedVariant(variant, done);
        });
        return;
    }
    RunLoadedVariant(variant, std::move(done));
}

void COvHorizelDoc::RunLoadedVariant(BuildVariant variant, std::function<void(bool)> done) {
    const bool tiled = variant == BuildVariant::Tiled;
    if (!CheckPhotoSizes([done] { done(false); }))
        return;
    if (Photos().GetCount() < 2)
        return done(false);
    PanoramaLib::IPanorama* engine = tiled ? static_cast<PanoramaLib::IPanorama*>(m_tiled)
                                           : static_cast<PanoramaLib::IPanorama*>(m_planar);
    PanoramaLib::IPanorama* other = tiled ? static_cast<PanoramaLib::IPanorama*>(m_planar)
                                          : static_cast<PanoramaLib::IPanorama*>(m_tiled);
    if (!engine)
        return done(false);
    if (other)
        other->Reset(true, true);
    HVPanoramaOptions options;
    if (const auto& next = Workflow().BuildOptions(tiled ? StitchMode::Tiled : StitchMode::Planar))
        options = *next;
    else
        engine->GetOptions(&options);
    options.autoCrop = 0;  // a build never crops
    engine->SetOptions(&options);

    struct Outcome {
        bool built = false;
        bool failed = false;
        std::string failure;
    };
    auto outcome = std::make_shared<Outcome>();
    // Taken now: the user-interface thread may change them while the work runs.
    const bool manualPreference = m_manualMatchingPreference != 0;
    const int elevation = tiled ? m_elevation : 0, azimuth = tiled ? m_azimuth : 0, tilt = tiled ? m_tilt : 0;
    auto work = [this, variant, engine, outcome, manualPreference, elevation, azimuth, tilt] {
        try {
            if (variant == BuildVariant::Manual)
                outcome->built = m_planar->BuildWithTransforms(m_elements.Elements(), &m_elements.Prepared(),
                                                               manualPreference);
            else
                outcome->built =
                    engine->Build(m_elements.Elements(), &m_elements.Prepared(), elevation, azimuth, tilt);
        } catch (const std::exception& e) {
            // The engines report their own failures; this is what they could not catch.
            outcome->failed = true;
            outcome->failure = e.what();
        } catch (...) {
            outcome->failed = true;
        }
    };
    auto finish = [this, variant, engine, tiled, outcome, done = std::move(done)] {
        if (outcome->failed) {
            if (m_progress)
                m_progress->End();
            if (m_host)
                m_host->MessageBox(DocText::Load(kIdsBuildFailed, {outcome->failure}));
        }
        engine->GetCropRect(&m_cropRect, 0);
        if (m_cropView)
            m_cropView->SetCropRect(&m_cropRect);
        if (variant == BuildVariant::Manual) {
            RefreshStitchPage();
            Workflow().NotifyResultChanged();
            m_optionsChanged = false;
            return done(outcome->built);
        }
        Workflow().NotifyResultChanged();
        ReactToReport(tiled);
        RefreshStitchPage();
        done(outcome->built);
    };
    Jobs().Run(JobKind::Build, std::move(work), std::move(finish));
}

const BuildReport* COvHorizelDoc::LastBuildReport() const {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    return engine ? engine->GetBuildReport() : nullptr;
}

void COvHorizelDoc::ReactToReport(bool tiled) {
    PanoramaLib::IPanorama* engine = tiled ? static_cast<PanoramaLib::IPanorama*>(m_tiled)
                                           : static_cast<PanoramaLib::IPanorama*>(m_planar);
    const BuildReport* report = engine ? engine->GetBuildReport() : nullptr;
    if (!report)
        return;
    switch (BuildStatusFromReport(report->status)) {
        case BuildStatus::NoPanorama:
            if (m_host)
                m_host->MessageBox(Res::LoadStr(232));
            if (!tiled)
                SetMatchingMode(1);
            break;
        case BuildStatus::Built: {
            ShowSamePictures();
            if (report->unmatched.empty())
                break;
            const std::vector<std::string> names = m_elements.PathsAt(report->unmatched);
            if (!m_ui) {
                if (!tiled)
                    SetMatchingMode(1);
                break;
            }
            MarkFiles(names, true);
            const bool accept = m_ui->AskAcceptPanorama(static_cast<int>(names.size()), report->photoCount);
            MarkFiles(names, false);
            if (!accept && !tiled)
                SetMatchingMode(1);
            break;
        }
        case BuildStatus::RingOpen:
            if (tiled)
                break;
            if (!m_ui || !m_ui->WarnCyclorama())
                SetMatchingMode(1);
            break;
        default:
            break;
    }
}

void COvHorizelDoc::ShowSamePictures() {
    if (!m_host)
        return;
    const auto groups = m_elements.SamePictureGroups();
    if (groups.empty())
        return;
    std::string lines;
    for (const auto& group : groups) {
        lines += "\n";
        for (std::size_t k = 0; k < group.size(); ++k)
            lines += (k ? ", " : "") + ProjectFiles::FileNameOf(ElementPath(m_elements.Elements()[group[k]]));
    }
    m_host->Inform(DocText::Load(kIdsSamePictures, {lines}));
}

void COvHorizelDoc::MarkFiles(const std::vector<std::string>& names, bool mark) {
    if (!m_ui)
        return;
    std::list<std::wstring> wide;
    for (const std::string& name : names)
        wide.push_back(Platform::WideFromUtf8(name));
    m_ui->MarkFiles(wide, mark);
}

bool COvHorizelDoc::CheckPhotoSizes(std::function<void()> then) {
    const std::vector<std::string> mismatches = m_elements.SizeMismatches();
    if (mismatches.empty())
        return true;
    MarkFiles(mismatches, true);
    if (m_host)
        m_host->MessageBox(Res::LoadStr(218));
    for (const std::string& path : mismatches)
        if (CClipDescription* photo = Photos().FindByPath(path))
            Photos().Remove(photo);
    UpdateAllViews(nullptr, DocHint::kElementsRebuilt);
    LoadElements([this, then = std::move(then)] {
        RefreshStitchPage();
        if (then)
            then();
    });
    return false;
}

bool COvHorizelDoc::MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                  PanoramaLib::IManualMatcher* matcher) {
    if (!first || !second)
        return true;
    const std::vector<std::string> names = {ElementPath(first), ElementPath(second)};
    MarkFiles(names, true);
    if (m_progress)
        m_progress->Show(true);
    const int result = m_host ? m_host->RunMatchingDialog(first, second, matcher) : DocResult::kCancel;
    if (m_progress)
        m_progress->Show(false);
    MarkFiles(names, false);
    return result != DocResult::kOk;
}

void COvHorizelDoc::ResetEngines() {
    if (m_staleResult == 0)
        return;
    WaitCursorScope cursor(*this);
    m_staleResult = 0;
    if (m_planar)
        m_planar->FreeResults();
    if (m_tiled)
        m_tiled->FreeResults();
    SetModifiedFlag(false);
    if (m_currentTask == Task::Stitch)
        RefreshStitchPage();
    else if (m_currentTask == Task::Export)
        RefreshExportPage();
    Workflow().NotifyResultChanged();
}

void COvHorizelDoc::ShowCropFrame(bool on, bool redraw) {
    if (!m_cropView)
        return;
    if (!on) {
        m_cropView->EndCrop(&m_cropRect, redraw);
        return;
    }
    if (!CanRenderFullResult())
        return;
    if (m_activeTiled && m_tiled && IsValidElement(m_tiled->GetResult(false)) && m_optionsChanged)
        m_tiled->GetCropRect(&m_cropRect, 1);
    m_cropView->BeginCrop(&m_cropRect, redraw);
}

CropAspect COvHorizelDoc::GetCropAspect() {
    const NetPrint::CAspectData& choice = GetCropChoice();
    return CropAspect{choice.w, choice.h, choice.kind};
}

// ---- IStitchingOptions ----

void COvHorizelDoc::GetOptions(HVPanoramaOptions* options) {
    if (!options)
        return;
    if (const auto& next = Workflow().BuildOptions(Workflow().GetStitchMode()))
        *options = *next;
    else if (PanoramaLib::IPanorama* engine = ChosenEngine())
        engine->GetOptions(options);
}

void COvHorizelDoc::SetOptions(const HVPanoramaOptions* options) {
    if (options)
        Workflow().SetBuildOptions(Workflow().GetStitchMode(), *options);
}

bool COvHorizelDoc::HasTiledResult() {
    return !m_stitching && !Jobs().IsRunning() && TiledChosen() && m_tiled &&
           IsValidElement(m_tiled->GetResult(false));
}

bool COvHorizelDoc::IsRestitchNeeded(const HVPanoramaOptions* options) {
    if (m_stitching || Jobs().IsRunning())
        return false;
    const bool can = Photos().GetCount() >= 2 && m_staleResult == 0;
    PanoramaLib::IPanorama* engine = ActiveEngine();
    if (!engine || m_activeTiled != TiledChosen())
        return can;
    if (!IsValidElement(engine->GetResult(false)))
        return can;
    if (!can)
        return false;
    HVPanoramaOptions current;
    engine->GetOptions(&current);
    const BuildReport* report = engine->GetBuildReport();
    if (m_manualMode != 0 || (report && report->withTransforms))
        return true;
    if (!options)
        return false;
    return OptionsNeedRebuild(*options, current);
}

void COvHorizelDoc::SetMatchingMode(int mode) {
    if (mode == m_manualMode)
        return;
    m_manualMode = mode;
    if (mode == 0 && m_currentTask != Task::AddImages)
        UpdateAllViews(nullptr, DocHint::kMatchingAutomatic);
    RefreshStitchPage();
}

bool COvHorizelDoc::CanStitch() {
    return Photos().GetCount() >= 2 && m_staleResult == 0 && m_busy == 0 && !Jobs().IsRunning();
}

void COvHorizelDoc::RequestTiledRender(int surfaceKind, int elevation, int azimuth, int tilt,
                                       bool onRenderThread, int keepCropRect) {
    m_surfaceKind = surfaceKind;
    m_elevation = elevation;
    m_azimuth = azimuth;
    m_tilt = tilt;
    if (!m_tiled || m_stitching || Jobs().IsRunning())
        return;
    if (!m_tiled->RequestRender(surfaceKind, elevation, azimuth, tilt, onRenderThread, keepCropRect != 0))
        return;
    m_tiled->GetCropRect(&m_cropRect, 0);
    if (m_cropView)
        m_cropView->SetCropRect(&m_cropRect);
    Workflow().NotifyResultChanged();
    RefreshStitchPage();
}

void COvHorizelDoc::ResetTiledCropRect() {
    if (m_tiled)
        m_tiled->ResetCropRect();
}

void COvHorizelDoc::GetTiledRenderParams(int* surfaceKind, int* elevation, int* azimuth, int* tilt) {
    if (surfaceKind)
        *surfaceKind = m_surfaceKind;
    if (elevation)
        *elevation = m_elevation;
    if (azimuth)
        *azimuth = m_azimuth;
    if (tilt)
        *tilt = m_tilt;
}

// ---- IExportDialog ----

void COvHorizelDoc::ApplyExportChoice(int cropTypeIndex) {
    // A crop asked for during a run changes the next result, not this one.
    if (Jobs().IsRunning()) {
        Jobs().Queue([this, cropTypeIndex] { ApplyExportChoice(cropTypeIndex); });
        return;
    }
    m_cropType = cropTypeIndex;
    for (PanoramaLib::IPanorama* engine :
         {static_cast<PanoramaLib::IPanorama*>(m_planar), static_cast<PanoramaLib::IPanorama*>(m_tiled)}) {
        if (!engine)
            continue;
        HVPanoramaOptions options;
        engine->GetOptions(&options);
        options.autoCrop = cropTypeIndex > 0 ? 1 : 0;
        engine->SetOptions(&options);
    }
    if (cropTypeIndex > 0) {
        if (m_currentTask == Task::Export)
            ShowCropFrame(true, true);
    } else if (m_cropView) {
        m_cropView->EndCrop(&m_cropRect, true);
    }
}

bool COvHorizelDoc::CanRenderFullResult() {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    if (!engine || Jobs().IsRunning() || !engine->IsBuilt() || m_staleResult != 0)
        return false;
    PanoramaLib::IPanoElement* full = engine->GetFullResult();
    return full && !full->IsValid();
}

bool COvHorizelDoc::IsFullResultCurrent() {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    return engine && !Jobs().IsRunning() && m_staleResult == 0 && IsValidElement(engine->GetFullResult());
}

void COvHorizelDoc::NotifyExportListener(bool keepAspect) {
    if (m_cropView)
        m_cropView->SetKeepAspect(keepAspect);
}

void COvHorizelDoc::OnPatching() {
    if (!m_cropView)
        return;
    if (Jobs().IsRunning()) {
        Jobs().Queue([this] { OnPatching(); });
        return;
    }
    OrvexBase::Rect patch;
    m_cropView->GetPatchRect(&patch);
    if (m_activeTiled || !m_planar)
        return;
    m_planar->SetCropRect(patch);
    Workflow().NotifyResultChanged();
}

// ---- INetPrint ----

void COvHorizelDoc::SelectPrintProduct(const NetPrint::CAspectData& product) {
    if (Jobs().IsRunning()) {
        Jobs().Queue([this, product] { SelectPrintProduct(product); });
        return;
    }
    m_printProduct = product;
    if (PanoramaLib::IPanorama* engine = ActiveEngine())
        engine->GetCropRect(&m_cropRect, m_activeTiled ? 1 : 0);
    if (m_cropView) {
        m_cropView->SetCropRect(&m_cropRect);
        m_cropView->SetKeepAspect(product.kind == 2);
    }
    Workflow().NotifyResultChanged();
}

// ---- IWaitCursor ----

// The engines ask for the cursor from their worker thread too; the host's
// windows hear of it on their own thread, in order.
void COvHorizelDoc::OnUiThread(std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        call();
    else
        QMetaObject::invokeMethod(&m_uiCalls, std::move(call), Qt::QueuedConnection);
}

void COvHorizelDoc::BeginWaitCursor() {
    OnUiThread([this] {
        if (m_host)
            m_host->BeginWaitCursor();
    });
}

void COvHorizelDoc::EndWaitCursor() {
    OnUiThread([this] {
        if (m_host)
            m_host->EndWaitCursor();
    });
}

void COvHorizelDoc::RestoreWaitCursor() {
    OnUiThread([this] {
        if (m_host)
            m_host->RestoreWaitCursor();
    });
}

void COvHorizelDoc::RefreshStitchPage() {
    if (m_update)
        m_update->RefreshStitchPage();
}

void COvHorizelDoc::RefreshExportPage() {
    if (m_update)
        m_update->RefreshExportPage();
}
