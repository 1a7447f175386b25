#pragma once
// Our own folder namespace for the folder tree: what lies below the tree's
// root (Home, Pictures, Computer, removable media and the Desktop folder's
// own folders), below Computer (the file system root and the mounted
// volumes) and below any folder (its visible subfolders), each entry with
// its name, its icon and what may be done with it. Only folders appear.
// Built on std::filesystem, QStandardPaths and the mount table; no widgets.

#include <functional>
#include <string>
#include <vector>

#include "CIconExtractor.h"

struct ShellFolderEntry {
    enum class Kind { Special, Computer, Volume, Removable, Folder };
    Kind kind = Kind::Folder;
    std::string name;
    // Empty for Computer, which has no folder of its own.
    std::string path;
    CIconExtractor::Place place = CIconExtractor::Place::Folder;
    bool hasChildren = false;
    bool canRename = false;
    bool canDelete = false;
};

namespace ShellNamespace {

// The removable mount points (sorted); the tests put in their own.
using MountLister = std::function<std::vector<std::string>()>;
void SetRemovableMountLister(MountLister lister);
std::vector<std::string> RemovableMounts();

// The Desktop folder, the root's own folder; empty when the user has none.
std::string DesktopPath();
std::string HomePath();
std::string PicturesPath();

std::vector<ShellFolderEntry> RootChildren();
std::vector<ShellFolderEntry> ComputerChildren();
// The visible subfolders of path, sorted as the desktop sorts names;
// nothing for a folder that cannot be read.
std::vector<ShellFolderEntry> SubFolders(const std::string& path);

// The entry of one folder as SubFolders would list it, hidden or not;
// false when path is no folder.
bool FolderEntry(const std::string& path, ShellFolderEntry& entry);
// Whether path holds a visible subfolder; false when it cannot be entered
// (no execute permission) or read.
bool HasSubFolders(const std::string& path);
// A link inside parent that leads back to parent or one of its ancestors:
// shown, but never entered.
bool IsSymlinkLoop(const std::string& path);
// Case-insensitive, digits by value: the order of the tree's folders.
bool NameLess(const std::string& a, const std::string& b);
// The removable mount holding path, or "" when it lies on none.
std::string RemovableMountOf(const std::string& path);
// "/a/b" and "/a/b/" both give "/a/b/"; the root stays "/".
std::string WithSlash(const std::string& path);
// True when target is path itself or lies below it.
bool IsAtOrBelow(const std::string& target, const std::string& path);

}  // namespace ShellNamespace
