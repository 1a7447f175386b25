#pragma once
// The document's windowing side: message boxes, the change prompt, the busy
// cursor, and the manual matching dialog.

#include <QPointer>
#include <QWidget>

#include "COvHorizelDoc.h"

class CDocumentDialogs : public IDocumentHost {
public:
    explicit CDocumentDialogs(QWidget* parent) : m_parent(parent) {}
    ~CDocumentDialogs() override;

    void MessageBox(const std::string& text) override;
    void Inform(const std::string& text) override;
    int AskAboutToChange(const std::string& text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void RestoreWaitCursor() override;
    int RunMatchingDialog(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                          PanoramaLib::IManualMatcher* matcher) override;

private:
    QPointer<QWidget> m_parent;
    int m_waitDepth = 0;
};
