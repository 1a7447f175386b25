#include "BrowserLocations.h"

#include <algorithm>

#include "BrowserHost.h"
#include "CFolderMonitor.h"
#include "CImgThumbsBrowser.h"
#include "CShellTree.h"

namespace {

std::vector<std::string>& Recent() {
    static std::vector<std::string> list;
    return list;
}

std::vector<CShellTree*>& Listeners() {
    static std::vector<CShellTree*> list;
    return list;
}

}  // namespace

std::string BrowserLocation::Make(int kind, const std::string& text) {
    return std::to_string(kind) + "," + text;
}

int BrowserLocation::Kind(const std::string& location) {
    if (location.size() < 2 || location[1] != ',' || location[0] < '0' || location[0] > '9')
        return -1;
    return location[0] - '0';
}

std::string BrowserLocation::Text(const std::string& location) {
    const size_t comma = location.find(',');
    return comma == std::string::npos ? std::string() : location.substr(comma + 1);
}

const std::vector<std::string>& RecentLocations() {
    return Recent();
}

void AddRecentLocation(const std::string& location) {
    auto& list = Recent();
    if (std::find(list.begin(), list.end(), location) != list.end())
        return;
    list.insert(list.begin(), location);
    if (list.size() > BrowserLocation::kMaxRecent)
        list.pop_back();
}

void ClearRecentLocations() {
    Recent().clear();
}

void OpenBrowserFolder(const std::string& location, const void* sender) {
    CImgThumbsBrowser* browser = g_pThumbsBrowser;
    if (browser)
        browser->CancelWork();
    if (location.empty())
        return;
    AddRecentLocation(location);
    if (browser) {
        if (location[0] == '0') {
            if (location.find(',') == std::string::npos)
                return;
            const std::string path = BrowserLocation::Text(location);
            if (CFolderMonitor* monitor = browser->FolderMonitor()) {
                // The monitor watches it and has the main window read it.
                browser->SetCurrentFolder(path);
                monitor->WatchFolder(path, browser, 0);
            } else {
                browser->OpenFolder(location);
            }
        } else {
            browser->OpenFolder(location);
        }
    }
    BrowserHost().OnLocationOpened(location, sender);
}

void AddFolderListener(CShellTree* tree) {
    Listeners().push_back(tree);
}

void RemoveFolderListener(CShellTree* tree) {
    auto& list = Listeners();
    list.erase(std::remove(list.begin(), list.end(), tree), list.end());
}

const std::vector<CShellTree*>& FolderListeners() {
    return Listeners();
}

// The host's plain "parent folder" is defined with the folder listeners it
// asks, so the host interface compiles without the folder tree.
void IBrowserHost::SelectParentFolder() {
    const auto& trees = FolderListeners();
    if (!trees.empty())
        trees.front()->SelectParentFolder();
}
