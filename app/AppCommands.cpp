// The application's commands for the program as a whole and the photo
// browser (About, refresh, select all, sorting, view modes, information,
// help), and the small services it offers the browser windows.

#include <QApplication>
#include <QMetaObject>

#include "BrowserGlobals.h"
#include "BrowserLocations.h"
#include "BrowserSettings.h"
#include "CAboutDlg.h"
#include "CImgThumbsBrowser.h"
#include "CJFIFDlg.h"
#include "CShellTree.h"
#include "CommandIds.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"

namespace {

enum : int {
    ID_BEGINREADFOLDER = 32779,
    ID_READ_AGAIN = 32788,
    ID_REFRESH = 32818,
    ID_SELECT_ALL = 32791,
    ID_SORT_DATE = 32793,
    ID_SORT_NAME = 32794,
    ID_SORT_FORMAT = 32795,
    ID_SORT_SIZE = 32796,
    ID_SORT_DCF = 32839,
    ID_VIEW_THUMBNAILS = 32820,
    ID_VIEW_LIST = 59411,
    ID_VIEW_DETAILS = 32821,
    ID_INFO = 32801,
};

int SortModeOf(int id) {
    switch (id) {
        case ID_SORT_DATE:
            return 2;
        case ID_SORT_NAME:
            return 0;
        case ID_SORT_FORMAT:
            return 4;
        case ID_SORT_SIZE:
            return 6;
        case ID_SORT_DCF:
            return 7;
        default:
            return -1;
    }
}

void RepaintWindowTree(QWidget* window) {
    window->repaint();
    for (QObject* child : window->children())
        if (auto* widget = qobject_cast<QWidget*>(child);
            widget && widget->isVisible() && !widget->isWindow())
            RepaintWindowTree(widget);
}

}  // namespace

bool COvHorizelApp::OnBrowserCommand(int id) {
    CImgThumbsBrowser* browser = g_pThumbsBrowser;
    if (id == CmdId::AppAbout) {
        OnAppAbout();
        return true;
    }
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
        case ID_BEGINREADFOLDER:
        case ID_READ_AGAIN:  // the browser's "read the folder again" after a delete or a vanished file
            if (browser)
                browser->RequestReadFolder();
            return true;
        case ID_REFRESH:
            RescanBrowserFolder();
            // The frame's tree through its bar; trees elsewhere as listeners.
            if (m_pMainWnd)
                m_pMainWnd->RefreshFolderTree();
            else
                NotifyFolderListeners();
            return true;
        case ID_SELECT_ALL:
            if (browser) {
                browser->SelectAll();
                browser->UpdateStatus();
            }
            return true;
        case ID_VIEW_THUMBNAILS:
        case ID_VIEW_LIST:
        case ID_VIEW_DETAILS:
            if (id == ID_VIEW_DETAILS) {
                m_settings.m_bDetailsView = true;
            } else {
                g_bThumbsListMode = id == ID_VIEW_LIST ? 1 : 0;
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
        case ID_INFO:
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

bool COvHorizelApp::OnUpdateBrowserCommand(CCmdUI& ui) {
    const bool browserTask = m_pMainWnd && m_pMainWnd->GetTask() == 1;
    CImgThumbsBrowser* browser = g_pThumbsBrowser;
    if (SortModeOf(ui.id) >= 0) {
        ui.Enable(browserTask && browser && browser->ItemCount() > 1);
        return true;
    }
    switch (ui.id) {
        case ID_REFRESH:
            ui.Enable(browserTask);
            return true;
        case ID_VIEW_THUMBNAILS:
            ui.Enable(browserTask);
            ui.SetCheck(g_bThumbsListMode == 0 && !m_settings.m_bDetailsView);
            return true;
        case ID_VIEW_LIST:
            ui.Enable(browserTask);
            ui.SetCheck(g_bThumbsListMode == 1 && !m_settings.m_bDetailsView);
            return true;
        case ID_VIEW_DETAILS:
            ui.Enable(browserTask);
            ui.SetCheck(m_settings.m_bDetailsView);
            return true;
        case ID_INFO: {
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

void COvHorizelApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    dialog.exec();
}

void COvHorizelApp::EnableBrowserWindows(bool enable) {
    for (CShellTree* tree : FolderListeners())
        if (tree->parentWidget())
            tree->parentWidget()->setEnabled(enable);
    m_bBrowserWindowsDisabled = !enable;
}

void COvHorizelApp::AddFolderListener(CShellTree* tree) {
    ::AddFolderListener(tree);
}

void COvHorizelApp::RemoveFolderListener(CShellTree* tree) {
    ::RemoveFolderListener(tree);
}

void COvHorizelApp::NotifyFolderListeners() {
    // The trees re-read their folders keeping the selection, once for all
    // the notices of one change.
    for (CShellTree* tree : FolderListeners())
        tree->RequestRefresh();
}

void COvHorizelApp::OpenBrowserFolder(const std::string& location, bool /*flag*/) {
    // The browser's own opening: the recent list and the tree follow too.
    ::OpenBrowserFolder(location, this);
}

void COvHorizelApp::SetZoomValue(int value, int /*step*/) {
    if (m_pMainWnd && m_pMainWnd->GetTask() != 1) {
        m_pMainWnd->View()->PictureView()->SetZoomIndex(value);
        return;
    }
    g_nThumbnailSize = value;
    if (g_pThumbsBrowser && g_pThumbsBrowser->View())
        g_pThumbsBrowser->View()->UpdateScrollSizes();
}

void COvHorizelApp::RepaintNow() {
    if (m_pMainWnd)
        RepaintWindowTree(m_pMainWnd.get());
}

void COvHorizelApp::RescanBrowserFolder() {
    if (g_pThumbsBrowser)
        g_pThumbsBrowser->Refresh();
}

bool COvHorizelApp::HasBrowserSelection() const {
    return g_pThumbsBrowser && g_pThumbsBrowser->HasSelection();
}
