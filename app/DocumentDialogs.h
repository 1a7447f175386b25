#pragma once
// The document's windowing side: message boxes, the change prompt, the busy
// cursor, and the manual matching dialog (a stand-in that cancels until that
// dialog exists).

#include <QPointer>
#include <QWidget>

#include "COvHorizelDoc.h"

// Stand-in for the manual matching dialog: answers "cancelled" at once, so a
// build that asks for manual matching ends as the user's cancel would end it.
class CDlgMatchingStandIn {
public:
    static int Run(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                   PanoramaLib::IManualMatcher* matcher);
};

class CDocumentDialogs : public IDocumentHost {
public:
    explicit CDocumentDialogs(QWidget* parent) : m_parent(parent) {}
    ~CDocumentDialogs() override;

    void MessageBox(const std::string& text) override;
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
