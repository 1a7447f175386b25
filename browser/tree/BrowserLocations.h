#pragma once
// The places the photo browser shows, as the application keeps them: the
// recent-locations list of the run (most recent first, at most 20, not
// saved), opening a location in the program's browser, and the folder trees
// that listen for folder changes. A location is a "<kind>,<text>" string:
// kind 0 a folder path, kind 9 a library text.

#include <string>
#include <vector>

class CShellTree;

namespace BrowserLocation {
constexpr int kFolder = 0;
constexpr int kLibrary = 9;
constexpr size_t kMaxRecent = 20;
// "0,<path>" or "9,<library text>".
std::string Make(int kind, const std::string& text);
// The kind digit, or -1 for a text without "<digit>,".
int Kind(const std::string& location);
// The text after the first ','; empty without one.
std::string Text(const std::string& location);
}  // namespace BrowserLocation

// The recent locations, most recent first.
const std::vector<std::string>& RecentLocations();
// Puts location at the head unless the very same text is already listed;
// the oldest goes beyond 20 entries.
void AddRecentLocation(const std::string& location);
void ClearRecentLocations();

// Shows a location in the program's photo browser (g_pThumbsBrowser): the
// browser's running pass is dropped, the location joins the recent list, a
// folder is handed to the folder monitor (which has the main window read it)
// or read at once without a monitor, a library is read as a file list; then
// the host hears of it with the sender, so the tree and the visited-folders
// strip follow. Nothing is reported on failure.
void OpenBrowserFolder(const std::string& location, const void* sender);

// The program's one list of folder-change listeners: the folder trees, each
// joining it when made and leaving it when destroyed. They refresh when
// folders change and their windows are disabled around file operations; the
// first one is the main window's tree, whose parent the visited-folders
// strip selects.
void AddFolderListener(CShellTree* tree);
// Removes every occurrence.
void RemoveFolderListener(CShellTree* tree);
const std::vector<CShellTree*>& FolderListeners();
