#include "Workflow.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <utility>

#include "AppSettings.h"
#include "COvHorizelDoc.h"
#include "DocumentJobs.h"
#include "Profile.h"

CWorkflow::CWorkflow(QObject* parent) : QObject(parent) {
    // Direct: the state is the workflow's own; observers get it queued.
    connect(&m_jobs, &CDocumentJobs::jobStarted, this, &CWorkflow::OnJobStarted);
    connect(&m_jobs, &CDocumentJobs::jobFinished, this, &CWorkflow::OnJobFinished);
}

std::string CWorkflow::StartFolder() {
    const std::string stored =
        AppProfile::GetProfileString(ProfileKeys::kFoldersDefault.section, ProfileKeys::kFoldersDefault.key);
    if (!stored.empty() && QFileInfo::exists(QString::fromStdString(stored)))
        return stored;
    for (auto location : {QStandardPaths::PicturesLocation, QStandardPaths::DocumentsLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo::exists(path))
            return path.toStdString();
    }
    return QDir::homePath().toStdString();
}

void CWorkflow::RememberFolder(const std::string& folder) {
    if (!folder.empty())
        AppProfile::WriteProfileString(ProfileKeys::kFoldersDefault.section, ProfileKeys::kFoldersDefault.key,
                                       folder);
}

bool CWorkflow::AddsSelectedFirst(Task requested, const ProjectState& now) {
    return requested != Task::AddImages && requested != Task::None && now.photoCount < 2;
}

bool CWorkflow::PassesStitchAfterAdding(Task requested, const ProjectState& now) {
    return requested == Task::Export && now.photoCount >= 2;
}

bool CWorkflow::StitchesFirst(Task requested, const ProjectState& now) {
    return requested == Task::Export && now.photoCount >= 2 && !now.canRenderFullResult &&
           !now.fullResultCurrent;
}

void CWorkflow::SetDocument(COvHorizelDoc* document) {
    if (m_document)
        m_document->SetWorkflow(nullptr);
    m_document = document;
    if (m_document)
        m_document->SetWorkflow(this);
}

void CWorkflow::SwapProject(CWorkflow& other) {
    m_photos.Swap(other.m_photos);
    std::swap(m_buildOptions, other.m_buildOptions);
}

bool CWorkflow::EnterTask(Task task) {
    if (task == Task::None || task == m_task)
        return false;
    const Task previous = m_task;
    m_task = task;
    if (LeavesAddImages(previous, task) && m_document)
        m_document->ResetEngines();
    emit taskChanged(task, previous);
    return true;
}

void CWorkflow::SwitchTask(Task task, ITaskWindows& windows) {
    if (task == Task::None)
        return;
    bool passedStitch = false;
    if (AddsSelectedFirst(task, windows.SwitchProject())) {
        windows.AddBrowserSelection();
        if (PassesStitchAfterAdding(task, windows.SwitchProject())) {
            SwitchTask(Task::Stitch, windows);
            passedStitch = true;
        }
    }
    // The page starts with the profile's options; once the user has changed
    // them, the stitch is the one the stitching page shows.
    if (StitchesFirst(task, windows.SwitchProject())) {
        if (!passedStitch)
            SwitchTask(Task::Stitch, windows);
        windows.StitchWithPageOptions();
    }

    EnterTask(task);
    windows.ShowTaskWindows(task);
    if (task == Task::AddImages) {
        // The browser keeps its folder between tasks.
        if (windows.BrowserFolder().empty())
            windows.OpenBrowserFolder(StartFolder());
    } else {
        RememberFolder(windows.BrowserFolder());
    }
    windows.ArrangeTaskWindows(task);
    if (m_document)
        m_document->SetCurrentTask(task);
    windows.RefreshTaskPage(task);
}

void CWorkflow::SetStitchMode(StitchMode mode) {
    if (mode == m_stitchMode)
        return;
    m_stitchMode = mode;
    emit stitchModeChanged(mode);
}

void CWorkflow::OnJobStarted(JobKind kind) {
    if (kind == JobKind::Render)
        emit renderStarted();
    if (kind != JobKind::Build)
        return;
    m_building = true;
    emit buildStarted();
}

void CWorkflow::OnJobFinished(JobKind kind) {
    if (kind != JobKind::Build)
        return;
    m_building = false;
    const BuildReport* report = m_document ? m_document->LastBuildReport() : nullptr;
    m_buildStatus = report ? BuildStatusFromReport(report->status) : BuildStatus::Failed;
    emit buildFinished(m_buildStatus);
}
