#include "AppBrowserHost.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QStringList>
#include <QThread>

#include <algorithm>

#include "CDlgProgressIndicator.h"
#include "CImgThumbsBrowser.h"
#include "FileOperationJob.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "Profile.h"
#include "ReadableExtensions.h"

CAppBrowserHost::CAppBrowserHost(CMainFrame* frame) : m_frame(frame) {
    SetBrowserHost(this);
}

CAppBrowserHost::~CAppBrowserHost() {
    SetBrowserHost(nullptr);
}

bool CAppBrowserHost::HasBrowserSelection() {
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        return app->HasBrowserSelection();
    return g_pThumbsBrowser && g_pThumbsBrowser->HasSelection();
}

BrowserColours CAppBrowserHost::Colours() {
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        return app->BrowserDrawingColours();
    return {};
}

bool CAppBrowserHost::IsFilesListMode() {
    COvHorizelApp* app = COvHorizelApp::Instance();
    return app && app->m_settings.m_bDetailsView;
}

bool CAppBrowserHost::IsReadableImageFile(const std::string& path) {
    return ::IsReadableImageFile(path);
}

void CAppBrowserHost::EnableBrowserWindows(bool enable) {
    // The application's folder listeners; a window without one (tests) does it itself.
    if (COvHorizelApp* app = COvHorizelApp::Instance(); app && app->GetMainFrame() == m_frame)
        app->EnableBrowserWindows(enable);
    else if (m_frame)
        m_frame->EnableBrowserWindows(enable);
}

void CAppBrowserHost::SelectParentFolder() {
    if (m_frame)
        m_frame->FolderBar()->EnsureSelection();
}

void CAppBrowserHost::PostMainWindowCommand(int command) {
    // From any thread: the command runs later on the window's thread.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [frame = m_frame, command] {
            if (frame)
                frame->OnBrowserCommand(command);
        },
        Qt::QueuedConnection);
}

void CAppBrowserHost::SetStatusPanes(const std::vector<std::string>& texts, int /*flag*/) {
    QStringList list;
    for (const std::string& text : texts)
        list << QString::fromStdString(text);
    // The browser's texts are kept, to show again whenever task 1 returns.
    auto show = [frame = m_frame, list] {
        if (frame)
            frame->SetStatusPanes(list, true);
    };
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        show();
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::QueuedConnection);
}

int CAppBrowserHost::GetProfileInt(const char* section, const char* key, int fallback) {
    return AppProfile::GetProfileInt(section, key, fallback);
}

void CAppBrowserHost::WriteProfileInt(const char* section, const char* key, int value) {
    AppProfile::WriteProfileInt(section, key, value);
}

void CAppBrowserHost::WriteProfileString(const char* section, const char* key, const std::string& value) {
    AppProfile::WriteProfileString(section, key, value);
}

std::string CAppBrowserHost::GetProfileString(const char* section, const char* key,
                                              const std::string& fallback) {
    return AppProfile::GetProfileString(section, key, fallback);
}

QWidget* CAppBrowserHost::MainWindow() {
    return m_frame;
}

void CAppBrowserHost::OnLocationOpened(const std::string& location, const void* sender) {
    if (m_frame)
        m_frame->OnBrowserLocationOpened(location, sender);
}

void CAppBrowserHost::BeginFileOperation(unsigned /*operation*/) {
    if (m_frame)
        if (CDlgProgressIndicator* window = m_frame->Callbacks().ProgressWindow())
            window->Begin(m_frame);
}

bool CAppBrowserHost::FileOperationProgressed(const FileOperationProgress& progress) {
    CDlgProgressIndicator* window = m_frame ? m_frame->Callbacks().ProgressWindow() : nullptr;
    if (!window)
        return false;
    // The bar in thousandths: of the bytes when the operation copies, else of the files.
    const double done = progress.bytesTotal   ? double(progress.bytesDone) / double(progress.bytesTotal)
                        : progress.filesTotal ? double(progress.filesDone) / double(progress.filesTotal)
                                              : 0.0;
    window->Bar()->setRange(0, 1000);
    window->Bar()->setValue(int(std::min(1.0, done) * 1000));
    const size_t slash = progress.current.find_last_of('/');
    window->SetText(QString::fromStdString(slash == std::string::npos ? progress.current
                                                                      : progress.current.substr(slash + 1)));
    return window->IsCancelled();
}

void CAppBrowserHost::EndFileOperation() {
    if (m_frame)
        if (CDlgProgressIndicator* window = m_frame->Callbacks().ProgressWindow())
            window->End();
}
