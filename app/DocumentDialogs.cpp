#include "UiServices.h"
#include "DocumentDialogs.h"

#include <QGuiApplication>

#include "CDlgPrompts.h"
#include "DlgMatching.h"

CDocumentDialogs::~CDocumentDialogs() {
    while (m_waitDepth > 0)
        EndWaitCursor();
}

void CDocumentDialogs::MessageBox(const std::string& text) {
    UiServices::RunMessageBox(m_parent, QString::fromStdString(text), AppCaption(),
                              UiServices::MessageKind::Warning);
}

void CDocumentDialogs::Inform(const std::string& text) {
    UiServices::RunMessageBox(m_parent, QString::fromStdString(text), AppCaption(),
                              UiServices::MessageKind::Information);
}

int CDocumentDialogs::AskAboutToChange(const std::string& text) {
    CDlgAboutToChangeMessage prompt(m_parent);
    prompt.SetMessage(QString::fromStdString(text));
    const int result = prompt.DoModal();
    if (result == CDlgPromptBase::kIdYes)
        return DocResult::kYes;
    if (result == CDlgPromptBase::kIdNo)
        return DocResult::kNo;
    return DocResult::kCancel;
}

void CDocumentDialogs::BeginWaitCursor() {
    ++m_waitDepth;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CDocumentDialogs::EndWaitCursor() {
    if (m_waitDepth == 0)
        return;
    --m_waitDepth;
    QGuiApplication::restoreOverrideCursor();
}

void CDocumentDialogs::RestoreWaitCursor() {
    // A dialog may have changed the cursor: show the busy one again.
    if (m_waitDepth > 0)
        QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
}

int CDocumentDialogs::RunMatchingDialog(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                                        PanoramaLib::IManualMatcher* matcher) {
    return CDlgMatching::MatchPair(m_parent, first, second, matcher) == CDlgMatching::kIdOk
               ? DocResult::kOk
               : DocResult::kCancel;
}
