#include "CPopupEdit.h"

#include <QFocusEvent>
#include <QFont>
#include <QKeyEvent>

#include "CThumbsBrowser.h"
#include "GuiFont.h"
#include "PathParts.h"

std::atomic<int> g_bLabelEditing{0};

CPopupEdit::CPopupEdit(CThumbsBrowser* browser, QWidget* host) : QLineEdit(host), m_pBrowser(browser) {
    setObjectName(QStringLiteral("1"));
    setAlignment(Qt::AlignCenter);
    QFont font(GetDefaultGuiFontName());
    font.setPointSize(8);
    setFont(font);
    *m_pEditing = 1;
}

CPopupEdit::~CPopupEdit() {
    m_bDone = true;
    *m_pEditing = 0;
}

void CPopupEdit::Close() {
    // The host is taken before anything goes; it owns this editor.
    QPointer<QWidget> host = parentWidget();
    hide();
    if (host)
        host->deleteLater();
    else
        deleteLater();
}

void CPopupEdit::Cancel() {
    if (m_bDone)
        return;
    m_bDone = true;
    Close();
}

void CPopupEdit::Commit() {
    if (m_bDone)
        return;
    m_bDone = true;
    const std::string text = this->text().toStdString();
    if (m_pBrowser && !text.empty() && text != TitleOf(m_path))
        m_pBrowser->RenameFile(m_path, text);
    Close();
}

bool CPopupEdit::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void CPopupEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        if (!m_bDone) {
            if (event->key() == Qt::Key_Escape)
                Cancel();
            else
                Commit();
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CPopupEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A menu or another window taking the focus for a moment is no commit.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    Commit();
}
