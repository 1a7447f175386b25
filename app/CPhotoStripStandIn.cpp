#include "CPhotoStripStandIn.h"

#include <QFile>
#include <QFont>

#include "COvHorizelDoc.h"

CPhotoStripStandIn::CPhotoStripStandIn(COvHorizelDoc& document, QWidget* parent)
    : QListWidget(parent), m_document(document) {
    setObjectName("PhotoStripStandIn");
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setSpacing(4);
    m_document.AddView(this);
    Refresh();
}

CPhotoStripStandIn::~CPhotoStripStandIn() {
    m_document.RemoveView(this);
}

void CPhotoStripStandIn::OnUpdate(IDocView*, int, void*) {
    Refresh();
}

void CPhotoStripStandIn::Refresh() {
    const int row = currentRow();
    clear();
    for (const auto& photo : m_document.GetPhotoList()) {
        // File names are bytes: show them in the file system's encoding.
        auto* item = new QListWidgetItem(QFile::decodeName(photo->GetFileName().c_str()), this);
        item->setToolTip(QFile::decodeName(photo->GetPath().c_str()));
        item->setData(Qt::UserRole, photo->GetId());
        if (photo->IsMarked()) {
            QFont font = item->font();
            font.setBold(true);
            item->setFont(font);
            item->setBackground(QColor(255, 214, 120));
        }
    }
    if (row >= 0 && row < count())
        setCurrentRow(row);
}

void CPhotoStripStandIn::MarkPhotos(const std::vector<std::string>& paths, bool mark) {
    auto listed = [&](const std::string& path) {
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    for (const auto& photo : m_document.GetPhotoList()) {
        if (mark)
            photo->SetMarked(listed(photo->GetPath()));
        else if (listed(photo->GetPath()))
            photo->SetMarked(false);
    }
    Refresh();
    if (mark) {
        for (int i = 0; i < count(); ++i)
            if (item(i)->font().bold()) {
                scrollToItem(item(i));
                break;
            }
    }
    repaint();
}

CClipDescription* CPhotoStripStandIn::CurrentPhoto() const {
    const QListWidgetItem* current = currentItem();
    if (!current)
        return nullptr;
    const int id = current->data(Qt::UserRole).toInt();
    for (const auto& photo : m_document.GetPhotoList())
        if (photo->GetId() == id)
            return photo.get();
    return nullptr;
}

void CPhotoStripStandIn::DeleteCurrent() {
    CClipDescription* photo = CurrentPhoto();
    if (!photo)
        return;
    const std::vector<std::string> removed = {photo->GetPath()};
    if (!m_document.ConfirmPhotoListChange(nullptr, &removed, false))
        return;
    m_document.RemovePhoto(nullptr, photo);
    m_document.OnPhotoListEdited();
    Refresh();
}
