// The document's rendering of the full-size result for the chosen crop, and
// its saving through the image import/export library.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppSettings.h"
#include "COvHorizelDoc.h"
#include "CropGeometry.h"
#include "DocText.h"
#include "ImageFileBridge.h"
#include "ResultFileWrite.h"
#include "StringTable.h"
#include "Workflow.h"

namespace {

constexpr unsigned kIdsWritingFile = 220;
constexpr unsigned kIdsReallyExit = 305;
// A write whose result a run before it took away.
constexpr unsigned kIdsResultGoneBeforeWrite = 61016;

bool IsValid(const PanoramaLib::IPanoElement* element) {
    return element && element->IsValid();
}

// The picture's own rectangle: crop rectangles are in its pixels.
OrvexBase::Rect ElementRect(const PanoramaLib::IPanoElement* element) {
    return OrvexBase::Rect(0, 0, element->GetWidth(), element->GetHeight());
}

}  // namespace

void COvHorizelDoc::Render() {
    Jobs().Queue([this] { BeginRender(); });
}

void COvHorizelDoc::BeginRender() {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    if (!engine)
        return;
    if (m_cropView)
        m_cropView->GetCropRect(&m_cropRect);
    const bool crop = m_cropType > 0;
    OrvexBase::Rect automatic;
    engine->GetCropRect(&automatic, 0);
    bool ownRect = crop && !(m_cropRect == automatic);
    int previewWidth = 0;
    if (ownRect) {
        PanoramaLib::IPanoElement* shown = engine->GetResult(true);
        previewWidth = IsValid(shown) ? ElementRect(shown).Width() : 0;
        // Without a shown preview there is nothing to scale from: the engine's
        // own rectangle stands.
        if (previewWidth <= 0 && !m_activeTiled)
            ownRect = false;
    }
    // The run's crop is taken now: what the user picks meanwhile waits for its end.
    const OrvexBase::Rect useRect = ownRect ? m_cropRect : automatic;
    const OrvexBase::Rect userRect = m_cropRect;
    const bool tiled = m_activeTiled;

    HVPanoramaOptions options;
    engine->GetOptions(&options);
    if (!tiled) {
        options.autoCrop = (crop && !ownRect) ? 1 : 0;
        m_planar->SetOptions(&options);
    } else {
        options.autoCrop = crop ? 1 : 0;
        m_tiled->SetOptions(&options);
        if (crop)
            m_tiled->SetCropRect(useRect);
    }
    auto rendered = std::make_shared<bool>(false);
    auto work = [this, tiled, rendered, elevation = m_elevation, azimuth = m_azimuth, tilt = m_tilt] {
        *rendered = tiled ? m_tiled->RenderForPrint(elevation, azimuth, tilt) : m_planar->Render();
    };
    auto done = [this, engine, tiled, ownRect, previewWidth, userRect, rendered] {
        if (*rendered) {
            if (!tiled && ownRect) {
                BeginWaitCursor();
                PanoramaLib::IPanoElement* full = m_planar->GetFullResult();
                OrvexBase::Rect scaled;
                if (IsValid(full) &&
                    CropGeometry::ScaleCropRect(userRect, previewWidth, ElementRect(full), &scaled))
                    m_planar->CropResult(&scaled);
                EndWaitCursor();
            }
            if (PanoramaLib::IPanoElement* full = engine->GetFullResult(); IsValid(full))
                m_pageDirection = full->GetHeight() < full->GetWidth() ? 1 : 0;
            SetModifiedFlag(true);
            if (m_cropView)
                m_cropView->EndCrop(&m_cropRect, false);
        }
        RefreshExportPage();
        // Cancelled or failed, the preview stays with the crop chosen for it:
        // the page's refresh took the engine's rectangle instead.
        if (!*rendered) {
            m_cropRect = userRect;
            if (m_cropView)
                m_cropView->SetCropRect(&m_cropRect);
        }
        Workflow().NotifyResultChanged();
    };
    Jobs().Run(JobKind::Render, std::move(work), std::move(done));
}

PrintMath::PrintPagePlan COvHorizelDoc::PrintPage(const PrinterCaps& caps, int page, int lastPage,
                                                  const PrintLayout* layout,
                                                  PanoramaLib::IPanoElement** picture) {
    *picture = nullptr;
    if (!IsFullResultCurrent())
        return {};
    PanoramaLib::IPanoElement* full = ActiveEngine()->GetFullResult();
    *picture = full;
    return PrintMath::PlanPage(caps, *layout, full->GetWidth(), full->GetHeight(), m_pageDirection != 0, page,
                               lastPage);
}

int COvHorizelDoc::GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout) {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    PanoramaLib::IPanoElement* full = engine ? engine->GetFullResult() : nullptr;
    if (!IsValid(full))
        return 1;
    return PrintMath::GetPrintPageCount(caps, layout, full->GetWidth(), full->GetHeight(),
                                        m_pageDirection != 0);
}

bool COvHorizelDoc::OnUpdateFileSave() {
    return IsFullResultCurrent() && IsModified();
}

bool COvHorizelDoc::OnUpdateFileExport() {
    return IsFullResultCurrent();
}

bool COvHorizelDoc::OnUpdateFilePrint() {
    return IsFullResultCurrent() && m_ui && m_ui->IsPrinterSelected();
}

void COvHorizelDoc::OnFileSave() {
    DoSave(m_pathName.c_str(), true);
}

void COvHorizelDoc::OnFileExport() {
    DoSave(nullptr, true);
}

bool COvHorizelDoc::DoSave(const char* path, bool) {
    std::string name = path ? path : "";
    if (name.empty()) {
        name = m_pathName;
        if (!m_saveHost || !m_saveHost->PromptSaveFileName(name) || name.empty())
            return false;
    }
    auto written = std::make_shared<int>(-1);
    WriteResultFile(name.c_str(), [this, name, written](int result) {
        *written = result;
        if (result == 1)
            SetPathName(name);
    });
    // A write on the worker thread has not ended yet: it was started.
    return *written == -1 || *written == 1;
}

int COvHorizelDoc::WriteResultFile(const char* path, std::function<void(int result)> done) {
    auto written = std::make_shared<int>(-1);
    const bool started = WritePanoramaFile(path, ProfileKeys::Read(ProfileKeys::kSaveShowOptions) != 0,
                                           [this, written, done = std::move(done)](int result) {
                                               *written = result;
                                               if (result == 1)
                                                   SetModifiedFlag(false);
                                               if (done)
                                                   done(result);
                                           });
    if (!started)
        return 0;
    return *written == -1 ? 1 : *written;
}

void COvHorizelDoc::SendToWeb() {
    if (!m_uploadHost || !IsFullResultCurrent())
        return;
    std::vector<std::string> pending;
    const std::string path = ListPendingUploads(pending);
    if (path.empty())
        return;
    WritePanoramaFile(path.c_str(), false, [this, path](int result) {
        if (result == 1 && m_uploadHost)
            NetPrint::UploadToPrintService({path}, *m_uploadHost);
    });
}

bool COvHorizelDoc::WritePanoramaFile(const char* path, bool showOptions,
                                      std::function<void(int result)> done) {
    PanoramaLib::IPanorama* engine = ActiveEngine();
    if (!path || !engine || !IsValid(engine->GetFullResult()))
        return false;
    Jobs().Queue([this, path = std::string(path), showOptions, done = std::move(done)]() mutable {
        BeginWrite(path, showOptions, std::move(done));
    });
    return true;
}

void COvHorizelDoc::BeginWrite(const std::string& path, bool showOptions,
                               std::function<void(int result)> done) {
    // The result is taken when the write's turn comes: a run before it may
    // have replaced it.
    PanoramaLib::IPanorama* engine = ActiveEngine();
    PanoramaLib::IPanoElement* full = engine ? engine->GetFullResult() : nullptr;
    if (!IsValid(full)) {
        if (m_host)
            m_host->MessageBox(DocText::Load(kIdsResultGoneBeforeWrite, {path}));
        if (done)
            done(0);
        return;
    }
    auto write = std::make_shared<CResultFileWrite>(*full, m_progress, kIdsWritingFile, path,
                                                    m_saveHost ? m_saveHost->OwnerWindow() : nullptr);
    if (showOptions) {
        write->AskFormatOptions();
        // A run started while the format's dialog was open goes first; the
        // write then takes the result as that run leaves it.
        if (Jobs().IsRunning()) {
            Jobs().Queue(
                [this, path, done = std::move(done)]() mutable { BeginWrite(path, false, std::move(done)); });
            return;
        }
    }
    // The result's lines stay as they are meanwhile: whatever else is asked
    // of the engines waits for the write's end.
    auto result = std::make_shared<int>(0);
    Jobs().Run(
        JobKind::Save, [write, result] { *result = write->Write(); },
        [result, done = std::move(done)] {
            if (done)
                done(*result);
        });
}

bool COvHorizelDoc::SaveModified() {
    if (!IsModified())
        return true;
    if (!m_saveHost)
        return true;
    // The title is filled in, never used as a format.
    std::string text = Res::LoadStr(kIdsReallyExit);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, m_saveHost->ApplicationTitle());
    return m_saveHost->AskYesNo(text);
}
