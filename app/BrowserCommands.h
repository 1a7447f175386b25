#pragma once
// The photo browser's commands (refresh, select all, sorting, view modes,
// information, the browser's own re-read requests) and the small services
// the application offers the browser windows and the zoom bar. They act on
// g_pThumbsBrowser, when there is one.

#include <functional>
#include <string>

#include "CommandRouter.h"

class CMainFrame;
class CFolderListeners;
struct CAppSettings;

class CBrowserCommands : public ICommandTarget {
public:
    CBrowserCommands(CAppSettings& settings, CFolderListeners& listeners);

    // The main window whose task and view the commands follow; null before
    // it exists.
    void SetFrame(CMainFrame* frame) { m_frame = frame; }

    bool OnCmdMsg(int id) override;
    bool OnUpdateCmdUI(CCmdUI& ui) override;

    // Opens "<kind>,<text>" in the browser: a folder (kind 0) through the
    // folder monitor when the browser has one, any other kind directly.
    void OpenBrowserFolder(const std::string& location);
    void SetZoomValue(int value);
    void RescanBrowserFolder();
    bool HasBrowserSelection() const;
    // After a view command: the browser frame shows its view in the mode.
    std::function<void()> onActivateBrowserView;

private:
    CAppSettings& m_settings;
    CFolderListeners& m_listeners;
    CMainFrame* m_frame = nullptr;
};
