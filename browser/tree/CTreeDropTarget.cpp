#include "CTreeDropTarget.h"

#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include <sys/stat.h>

#include "CShellTree.h"
#include "FileOperations.h"
#include "QtFileUrls.h"

namespace {

// The device of the path's nearest existing folder; false when none exists.
bool DeviceOf(std::string path, dev_t& device) {
    struct stat st;
    while (!path.empty()) {
        if (::stat(path.c_str(), &st) == 0) {
            device = st.st_dev;
            return true;
        }
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            return false;
        path = slash == 0 ? (path == "/" ? std::string() : std::string("/")) : path.substr(0, slash);
    }
    return false;
}

}  // namespace

bool CTreeDropTarget::IsSameDrive(const std::string& a, const std::string& b) {
    if (a.empty() && b.empty())
        return true;
    dev_t da = 0, db = 0;
    const bool ha = DeviceOf(a, da), hb = DeviceOf(b, db);
    return ha == hb && (!ha || da == db);
}

std::vector<std::string> CTreeDropTarget::DroppedFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.push_back(Platform::LocalPathOfUrl(url));
    return files;
}

void CTreeDropTarget::RestoreHighlight() {
    if (m_hHighlighted && m_pTree && m_pTree->IsItem(m_hHighlighted))
        m_hHighlighted->setData(0, Qt::BackgroundRole, m_nSavedState);
    m_hHighlighted = nullptr;
    m_nSavedState = QVariant();
}

void CTreeDropTarget::Highlight(QTreeWidgetItem* item) {
    m_hHighlighted = item;
    m_nSavedState = item->data(0, Qt::BackgroundRole);
    item->setData(0, Qt::BackgroundRole, m_pTree->palette().brush(QPalette::Highlight).color().lighter(160));
}

Qt::DropAction CTreeDropTarget::OnDragOver(QWidget* window, const QMimeData* data, Qt::KeyboardModifiers keys,
                                           QPoint point) {
    if (!m_pTree || (window != m_pTree && window != m_pTree->viewport()))
        return Qt::IgnoreAction;
    QTreeWidgetItem* item = m_pTree->itemAt(point);
    RestoreHighlight();
    if (!item || !m_pTree->IsOnLabel(item, point)) {
        return Qt::IgnoreAction;
    }
    Highlight(item);
    const std::string folder = CShellTree::GetItemPath(item);
    if (folder.empty())
        return Qt::IgnoreAction;
    const std::vector<std::string> files = DroppedFiles(data);
    if (files.empty())
        return Qt::IgnoreAction;
    if (keys & Qt::ControlModifier)
        return Qt::CopyAction;
    if (keys & Qt::ShiftModifier)
        return Qt::MoveAction;
    return IsSameDrive(files.front(), folder) ? Qt::MoveAction : Qt::CopyAction;
}

bool CTreeDropTarget::OnDrop(QWidget* /*window*/, const QMimeData* data, Qt::DropAction effect,
                             QPoint point) {
    if (!m_pTree)
        return false;
    QTreeWidgetItem* item = m_pTree->itemAt(point);
    RestoreHighlight();
    if (!item || !m_pTree->IsOnLabel(item, point))
        return false;
    const std::string folder = CShellTree::GetItemPath(item);
    const std::vector<std::string> files = DroppedFiles(data);
    if (folder.empty() || files.empty())
        return false;
    // Moving a folder into itself or below it would lose it.
    for (const std::string& file : files)
        if (effect == Qt::MoveAction && (folder == file || folder.rfind(file + '/', 0) == 0))
            return false;
    const bool ok =
        ShellFileOperation(effect == Qt::MoveAction ? FO_MOVE : FO_COPY, files, folder, false, true);
    m_pTree->OnFilesDropped(item);
    return ok;
}

void CTreeDropTarget::OnDragLeave(QWidget* /*window*/) {
    RestoreHighlight();
}
