#include "ProjectCommands.h"
#include "UiServices.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "CDlgPrompts.h"
#include "CEditVideoStoryboard.h"
#include "COvHorizelDoc.h"
#include "QtFileUrls.h"
#include "StringTable.h"

CProjectCommands::CProjectCommands(QWidget* frame, COvHorizelDoc& document)
    : m_frame(frame), m_document(document) {}

void CProjectCommands::Message(unsigned id) {
    const std::string text = Res::LoadStr(id);
    if (showMessage) {
        showMessage(text);
        return;
    }
    UiServices::RunMessageBox(m_frame, QString::fromStdString(text), AppCaption(),
                              UiServices::MessageKind::Warning);
}

bool CProjectCommands::AddFilesToProject(const std::vector<std::string>& paths) {
    if (!m_document.ConfirmPhotoListChange(&paths, nullptr, false))
        return false;
    m_document.AddFiles(paths);
    return true;
}

bool CProjectCommands::CanFileOpen() const {
    return m_document.CurrentTask() == Task::AddImages;
}

void CProjectCommands::OnFileOpen() {
    CMyOpenFileDlg dialog(m_frame, openFormats);
    if (onOpenDialog)
        onOpenDialog(dialog);
    if (dialog.DoModal() != 1)
        return;
    const std::vector<std::string> paths = dialog.GetSelectedPaths();
    if (!paths.empty())
        AddFilesToProject(paths);
}

void CProjectCommands::OnAddSelectedImages(const std::vector<std::string>& selected,
                                           const std::function<void()>& deselectAll) {
    if (selected.empty()) {
        Message(338);
        return;
    }
    if (!m_document.ConfirmPhotoListChange(&selected, nullptr, false))
        return;
    if (deselectAll)
        deselectAll();
    m_document.AddFiles(selected);
}

void CProjectCommands::OnRemoveImage() {
    if (!m_strip || m_strip->CurrentPath().empty()) {
        Message(337);
        return;
    }
    m_strip->RemoveSelectedPhotos();
    m_document.OnPhotoListEdited();
}

bool CProjectCommands::CanRemoveAllImages() const {
    return m_document.CurrentTask() == Task::AddImages;
}

void CProjectCommands::OnRemoveAllImages() {
    if (!CanRemoveAllImages())
        return;
    if (m_document.ConfirmPhotoListChange(nullptr, nullptr, false))
        m_document.ClearPhotos();
}

bool CProjectCommands::AcceptsDrop(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

std::vector<std::string> CProjectCommands::DroppedFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const std::string path = Platform::LocalPathOfUrl(url);
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            files.push_back(path);
    }
    return files;
}

void CProjectCommands::OnDropFiles(const QMimeData* data) {
    for (const std::string& path : DroppedFiles(data))
        AddFilesToProject({path});
}
