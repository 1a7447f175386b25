#include "DocumentCommands.h"

#include <QMessageBox>
#include <QWidget>

#include "CMySaveFileDlg.h"
#include "CommandIds.h"
#include "Formgate.h"

bool CDocumentCommands::OnCmdMsg(int id) {
    switch (id) {
        case CmdId::FileSave:
            m_doc.OnFileSave();
            return true;
        case CmdId::FileSaveAs:
            m_doc.OnFileExport();
            return true;
        default:
            return false;
    }
}

bool CDocumentCommands::OnUpdateCmdUI(CCmdUI& ui) {
    switch (ui.id) {
        case CmdId::FileSave:
            ui.Enable(m_doc.OnUpdateFileSave());
            return true;
        case CmdId::FileSaveAs:
            ui.Enable(m_doc.OnUpdateFileExport());
            return true;
        case CmdId::FilePrint:
        case CmdId::FilePrintDirect:
        case CmdId::FilePrintPreview:
            ui.Enable(m_doc.OnUpdateFilePrint());
            return true;
        default:
            return false;
    }
}

bool CDocumentCommands::PromptSaveFileName(std::string& name) {
    CMySaveFileDlg dialog(name, m_frame);
    dialog.SetPixelType(ImExp::PixelRgb24);
    // Replacing a file asks first; the folder must exist.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.DoModal() != 1)
        return false;
    name = dialog.GetPathName();
    return !name.empty();
}

bool CDocumentCommands::AskYesNo(const std::string& text) {
    return QMessageBox::question(m_frame, QString::fromStdString(ApplicationTitle()),
                                 QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::string CDocumentCommands::ApplicationTitle() {
    return m_frame ? m_frame->windowTitle().toStdString() : std::string();
}
