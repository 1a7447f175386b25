#pragma once
// The document's place in the command chain (Save, Export and the print
// commands' enabling) and its window side for saving: the save dialog, the
// quit question and the owner of the import/export library's messages.

#include <string>

#include "COvHorizelDoc.h"
#include "CommandRouter.h"

class QWidget;

class CDocumentCommands : public ICommandTarget, public IResultSaveHost {
public:
    CDocumentCommands(QWidget* frame, COvHorizelDoc& doc) : m_frame(frame), m_doc(doc) {}

    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;

    bool PromptSaveFileName(std::string& name) override;
    bool AskYesNo(const std::string& text) override;
    void* OwnerWindow() override { return m_frame; }
    std::string ApplicationTitle() override;

private:
    QWidget* m_frame;
    COvHorizelDoc& m_doc;
};
