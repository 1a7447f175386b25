#pragma once
// What the photo browser asks of this program (IBrowserHost), answered by
// the main window: its profile, its readable extensions, its status panes,
// the commands the browser's threads post (re-reading the folder), the
// tree and visited-folders strip following a location the browser opened,
// and the progress window of a long file operation.
// The main window installs it while it exists.

#include <QPointer>

#include "BrowserHost.h"

class CMainFrame;

class CAppBrowserHost : public IBrowserHost {
public:
    explicit CAppBrowserHost(CMainFrame* frame);
    ~CAppBrowserHost() override;

    bool HasBrowserSelection() override;
    bool IsReadableImageFile(const std::string& path) override;
    void EnableBrowserWindows(bool enable) override;
    void PostMainWindowCommand(int command) override;
    void SetStatusPanes(const std::vector<std::string>& texts, int flag) override;
    int GetProfileInt(const char* section, const char* key, int fallback) override;
    void WriteProfileInt(const char* section, const char* key, int value) override;
    void WriteProfileString(const char* section, const char* key, const std::string& value) override;
    std::string GetProfileString(const char* section, const char* key, const std::string& fallback) override;
    QWidget* MainWindow() override;
    BrowserColours Colours() override;
    bool IsFilesListMode() override;
    void OnLocationOpened(const std::string& location, const void* sender) override;
    void SelectParentFolder() override;
    void BeginFileOperation(unsigned operation) override;
    bool FileOperationProgressed(const FileOperationProgress& progress) override;
    void EndFileOperation() override;

private:
    QPointer<CMainFrame> m_frame;
};
