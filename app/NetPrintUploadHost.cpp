#include "NetPrintUploadHost.h"

#include "CDlgFilesToUpload.h"
#include "CDlgNetPrintLogin.h"
#include "EngineCallbacksEx.h"
#include "UiServices.h"

int CNetPrintUploadHost::ChooseFiles(std::vector<std::string>& files) {
    NetPrint::PhotoUpload::CDlgFilesToUpload dialog(files, m_parent);
    return dialog.exec();
}

bool CNetPrintUploadHost::AskLogin(std::string& login, std::string& password) {
    NetPrint::PhotoUpload::CDlgNetPrintLogin dialog(m_parent);
    dialog.m_strLogin = login;
    dialog.m_strPassword = password;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    login = dialog.m_strLogin;
    password = dialog.m_strPassword;
    return true;
}

void CNetPrintUploadHost::ShowMessage(const std::string& text, MessageKind kind) {
    const UiServices::MessageKind shown = kind == MessageKind::Information ? UiServices::MessageKind::Information
                                          : kind == MessageKind::Error     ? UiServices::MessageKind::Error
                                                                           : UiServices::MessageKind::Warning;
    UiServices::ShowMessage(m_parent, QString::fromStdString(text), {}, shown);
}

void CNetPrintUploadHost::OpenUrl(const std::string& url) {
    UiServices::OpenUrl(QString::fromStdString(url));
}

void CNetPrintUploadHost::BeginProgress() {
    m_total = 100;
    m_position = 0;
    if (m_progress) {
        m_progress->Begin();
        m_progress->SetText("");
    }
}

void CNetPrintUploadHost::SetProgressText(const std::string& text) {
    if (m_progress)
        m_progress->SetText(text.c_str());
}

bool CNetPrintUploadHost::SetProgress(int total, int position) {
    m_total = total;
    m_position = position;
    return m_progress && m_progress->SetProgress(total, position);
}

bool CNetPrintUploadHost::Pump() {
    // The progress window handles the pending events and tells of Cancel.
    return m_progress && m_progress->SetProgress(m_total, m_position);
}

void CNetPrintUploadHost::EndProgress() {
    if (m_progress)
        m_progress->End();
}
