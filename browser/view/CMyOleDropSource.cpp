#include "CMyOleDropSource.h"

#include <QDrag>
#include <QMimeData>
#include <QWidget>

#include "CThumbsBrowser.h"

void CMyOleDropSource::OnBeginDrag() {
    // The browser learns the cursor's place from the first drag-over anew.
    if (m_pBrowser)
        m_pBrowser->DragLeave();
}

Qt::DropAction CMyOleDropSource::DoDragDrop(QWidget* source, QMimeData* data) {
    if (!source) {
        delete data;
        return Qt::IgnoreAction;
    }
    OnBeginDrag();
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    drag->deleteLater();
    return action;
}
