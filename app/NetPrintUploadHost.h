#pragma once
// The print-service upload's windows in the program: the files and login
// dialogs, message boxes, the browser, and the main frame's progress window
// (with Cancel) over every exchange with the service.

#include <QPointer>
#include <QWidget>

#include "PrintServiceUpload.h"

class IProgressIndicatorEx;

class CNetPrintUploadHost : public NetPrint::IUploadHost {
public:
    CNetPrintUploadHost(QWidget* parent, IProgressIndicatorEx* progress)
        : m_parent(parent), m_progress(progress) {}

    int ChooseFiles(std::vector<std::string>& files) override;
    bool AskLogin(std::string& login, std::string& password) override;
    void ShowMessage(const std::string& text, MessageKind kind) override;
    void OpenUrl(const std::string& url) override;
    void BeginProgress() override;
    void SetProgressText(const std::string& text) override;
    bool SetProgress(int total, int position) override;
    bool Pump() override;
    void EndProgress() override;

private:
    QPointer<QWidget> m_parent;
    IProgressIndicatorEx* m_progress;
    int m_total = 100;
    int m_position = 0;
};
