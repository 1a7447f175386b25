#include "BrowserCommands.h"

#include "AppSettings.h"
#include "BrowserGlobals.h"
#include "BrowserLocations.h"
#include "BrowserSettings.h"
#include "CImgThumbsBrowser.h"
#include "CJFIFDlg.h"
#include "CommandIds.h"
#include "FolderListeners.h"
#include "MainFrame.h"
#include "OvHorizelView.h"
#include "PictureView.h"

namespace {

int SortModeOf(int id) {
    switch (id) {
        case CmdId::SortDate:
            return 2;
        case CmdId::SortName:
            return 0;
        case CmdId::SortFormat:
            return 4;
        case CmdId::SortSize:
            return 6;
        case CmdId::SortDcf:
            return 7;
        default:
            return -1;
    }
}

}  // namespace

CBrowserCommands::CBrowserCommands(CAppSettings& settings, CFolderListeners& listeners)
    : m_settings(settings), m_listeners(listeners) {}

bool CBrowserCommands::OnCmdMsg(int id) {
    CImgThumbsBrowser* browser = g_pThumbsBrowser;
    if (const int mode = SortModeOf(id); mode >= 0) {
        if (browser) {
            browser->LockItems();
            try {
                browser->SetSortMode(mode);
            } catch (...) {
                browser->UnlockItems();
                throw;
            }
            browser->UnlockItems();
            m_settings.m_nSortMode = mode;
        }
        return true;
    }
    switch (id) {
        case CmdId::BeginReadFolder:
        case CmdId::ReadAgain:  // the browser's "read the folder again" after a delete or a vanished file
            if (browser)
                browser->RequestReadFolder();
            return true;
        case CmdId::Refresh:
            RescanBrowserFolder();
            // The frame's tree through its bar; trees elsewhere as listeners.
            if (m_frame)
                m_frame->RefreshFolderTree();
            else
                m_listeners.Notify();
            return true;
        case CmdId::SelectAll:
            if (browser) {
                browser->SelectAll();
                browser->UpdateStatus();
            }
            return true;
        case CmdId::ViewThumbnails:
        case CmdId::ViewList:
        case CmdId::ViewDetails:
            if (id == CmdId::ViewDetails) {
                m_settings.m_bDetailsView = true;
            } else {
                g_bThumbsListMode = id == CmdId::ViewList ? 1 : 0;
                m_settings.m_bDetailsView = false;
            }
            // List mode draws the items as rows; details mode shows the file list.
            if (browser && browser->View()) {
                browser->SetListRowWidth(browser->View()->ClientSize().width());
                browser->View()->UpdateScrollSizes();
                browser->View()->Invalidate();
            }
            if (onActivateBrowserView)
                onActivateBrowserView();
            return true;
        case CmdId::Info:
            if (browser) {
                browser->LockItems();
                const std::string path = browser->GetFirstSelectedFile();
                browser->UnlockItems();
                if (!path.empty())
                    ShowImageInfoDialog(path);
            }
            return true;
        default:
            return false;
    }
}

bool CBrowserCommands::OnUpdateCmdUI(CCmdUI& ui) {
    const bool browserTask = m_frame && m_frame->CurrentTask() == Task::AddImages;
    CImgThumbsBrowser* browser = g_pThumbsBrowser;
    if (SortModeOf(ui.id) >= 0) {
        ui.Enable(browserTask && browser && browser->ItemCount() > 1);
        return true;
    }
    switch (ui.id) {
        case CmdId::Refresh:
            ui.Enable(browserTask);
            return true;
        case CmdId::ViewThumbnails:
            ui.Enable(browserTask);
            ui.SetCheck(g_bThumbsListMode == 0 && !m_settings.m_bDetailsView);
            return true;
        case CmdId::ViewList:
            ui.Enable(browserTask);
            ui.SetCheck(g_bThumbsListMode == 1 && !m_settings.m_bDetailsView);
            return true;
        case CmdId::ViewDetails:
            ui.Enable(browserTask);
            ui.SetCheck(m_settings.m_bDetailsView);
            return true;
        case CmdId::Info: {
            std::vector<std::string> selected;
            if (browser)
                browser->GetSelectedFiles(selected);
            ui.Enable(selected.size() == 1);
            return true;
        }
        default:
            return false;
    }
}

void CBrowserCommands::OpenBrowserFolder(const std::string& location) {
    // The browser's own opening: the recent list and the tree follow too.
    ::OpenBrowserFolder(location, this);
}

void CBrowserCommands::SetZoomValue(int value) {
    if (m_frame && m_frame->CurrentTask() != Task::AddImages) {
        m_frame->View()->PictureView()->SetZoomIndex(value);
        return;
    }
    g_nThumbnailSize = value;
    if (g_pThumbsBrowser && g_pThumbsBrowser->View())
        g_pThumbsBrowser->View()->UpdateScrollSizes();
}

void CBrowserCommands::RescanBrowserFolder() {
    if (g_pThumbsBrowser)
        g_pThumbsBrowser->Refresh();
}

bool CBrowserCommands::HasBrowserSelection() const {
    return g_pThumbsBrowser && g_pThumbsBrowser->HasSelection();
}
