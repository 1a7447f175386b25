#include "ShellNamespace.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "RemovableMedia.h"

namespace fs = std::filesystem;

namespace {

ShellNamespace::MountLister& Lister() {
    static ShellNamespace::MountLister lister;
    return lister;
}

std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Leaf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A folder may be renamed or deleted when the folder holding it is writable
// and it is no mount point of its own.
bool IsChangeable(const std::string& path) {
    struct stat st, parent;
    const std::string up = Parent(path);
    if (up.empty() || path == "/" || ::stat(path.c_str(), &st) != 0 || ::stat(up.c_str(), &parent) != 0)
        return false;
    return st.st_dev == parent.st_dev && ::access(up.c_str(), W_OK | X_OK) == 0;
}

// The volumes worth showing under Computer: real mounted file systems, not
// the system's own pseudo ones.
bool IsUserVolume(const QStorageInfo& volume) {
    if (!volume.isValid() || !volume.isReady())
        return false;
    const QString root = volume.rootPath();
    if (root == "/")
        return false;
    for (const char* system :
         {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var", "/etc", "/tmp", "/usr"})
        if (root == system || root.startsWith(QString::fromLatin1(system) + '/'))
            return root.startsWith("/run/media/");
    const QByteArray type = volume.fileSystemType();
    return type != "tmpfs" && type != "overlay" && type != "squashfs" && type != "devtmpfs";
}

}  // namespace

namespace ShellNamespace {

void SetRemovableMountLister(MountLister lister) {
    Lister() = std::move(lister);
}

std::vector<std::string> RemovableMounts() {
    return Lister() ? Lister()() : ListRemovableMounts();
}

std::string DesktopPath() {
    const std::string path = Local(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    return IsFolder(path) && path != HomePath() ? path : std::string();
}

std::string HomePath() {
    return Local(QDir::homePath());
}

std::string PicturesPath() {
    const std::string path = Local(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    return IsFolder(path) && path != HomePath() ? path : std::string();
}

std::string WithSlash(const std::string& path) {
    return !path.empty() && path.back() == '/' ? path : path + '/';
}

bool IsAtOrBelow(const std::string& target, const std::string& path) {
    if (path.empty() || target.empty())
        return false;
    const std::string t = WithSlash(target), p = WithSlash(path);
    return t.compare(0, p.size(), p) == 0;
}

bool NameLess(const std::string& a, const std::string& b) {
    // Letters without case, runs of digits by their value ("img9" before
    // "img10"); equal names fall back to their bytes.
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (std::isdigit(ca) && std::isdigit(cb)) {
            size_t ei = i, ej = j;
            while (ei < a.size() && a[ei] == '0')
                ++ei;
            while (ej < b.size() && b[ej] == '0')
                ++ej;
            size_t di = ei, dj = ej;
            while (di < a.size() && std::isdigit(static_cast<unsigned char>(a[di])))
                ++di;
            while (dj < b.size() && std::isdigit(static_cast<unsigned char>(b[dj])))
                ++dj;
            if (di - ei != dj - ej)
                return di - ei < dj - ej;
            const int order = a.compare(ei, di - ei, b, ej, dj - ej);
            if (order != 0)
                return order < 0;
            i = di;
            j = dj;
            continue;
        }
        const int la = std::tolower(ca), lb = std::tolower(cb);
        if (la != lb)
            return la < lb;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

bool IsSymlinkLoop(const std::string& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return false;
    const fs::path target = fs::canonical(path, ec);
    if (ec)
        return false;
    const fs::path parent = fs::canonical(Parent(path), ec);
    if (ec)
        return false;
    return IsAtOrBelow(parent.string(), target.string());
}

bool HasSubFolders(const std::string& path) {
    if (::access(path.c_str(), R_OK | X_OK) != 0)
        return false;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    bool found = false;
    // A folder with a great many files and no folder among the first ones
    // is taken as having some: the expander then shows, and opening it
    // finds out; this keeps a large listing from reading every entry.
    int budget = 4096;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (--budget == 0) {
            found = true;
            break;
        }
        if (entry->d_type == DT_DIR || ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                                        IsFolder(WithSlash(path) + entry->d_name))) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::vector<ShellFolderEntry> SubFolders(const std::string& path) {
    std::vector<ShellFolderEntry> out;
    // A link back up the tree is never entered.
    if (path.empty() || ::access(path.c_str(), R_OK | X_OK) != 0 || IsSymlinkLoop(path))
        return out;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return out;
    const std::string base = WithSlash(path);
    while (const dirent* entry = ::readdir(dir)) {
        // Hidden folders stay hidden, as the desktop's file manager has it.
        if (entry->d_name[0] == '.')
            continue;
        const std::string child = base + entry->d_name;
        if (entry->d_type != DT_DIR &&
            !((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) && IsFolder(child)))
            continue;
        ShellFolderEntry e;
        e.kind = ShellFolderEntry::Kind::Folder;
        e.name = entry->d_name;
        e.path = child;
        e.hasChildren = entry->d_type == DT_LNK && IsSymlinkLoop(child) ? false : HasSubFolders(child);
        e.canRename = e.canDelete = IsChangeable(child);
        out.push_back(std::move(e));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(),
              [](const ShellFolderEntry& a, const ShellFolderEntry& b) { return NameLess(a.name, b.name); });
    return out;
}

bool FolderEntry(const std::string& path, ShellFolderEntry& entry) {
    if (!IsFolder(path))
        return false;
    entry = ShellFolderEntry();
    entry.kind = ShellFolderEntry::Kind::Folder;
    entry.name = Leaf(path);
    entry.path = path;
    entry.hasChildren = !IsSymlinkLoop(path) && HasSubFolders(path);
    entry.canRename = entry.canDelete = IsChangeable(path);
    return true;
}

std::vector<ShellFolderEntry> RootChildren() {
    std::vector<ShellFolderEntry> out;
    auto special = [&out](const std::string& name, const std::string& path, CIconExtractor::Place place) {
        ShellFolderEntry e;
        e.kind = ShellFolderEntry::Kind::Special;
        e.name = name;
        e.path = path;
        e.place = place;
        e.hasChildren = HasSubFolders(path);
        out.push_back(std::move(e));
    };
    const std::string home = HomePath();
    special("Home", home, CIconExtractor::Place::Home);
    if (const std::string pictures = PicturesPath(); !pictures.empty())
        special(Local(QFileInfo(QFile::decodeName(pictures.c_str())).fileName()), pictures,
                CIconExtractor::Place::Pictures);
    ShellFolderEntry computer;
    computer.kind = ShellFolderEntry::Kind::Computer;
    computer.name = "Computer";
    computer.place = CIconExtractor::Place::Computer;
    computer.hasChildren = true;
    out.push_back(computer);
    for (const std::string& mount : RemovableMounts()) {
        ShellFolderEntry e;
        e.kind = ShellFolderEntry::Kind::Removable;
        e.name = Leaf(mount);
        e.path = mount;
        e.place = CIconExtractor::Place::Removable;
        e.hasChildren = HasSubFolders(mount);
        out.push_back(std::move(e));
    }
    if (const std::string desktop = DesktopPath(); !desktop.empty())
        for (ShellFolderEntry& e : SubFolders(desktop))
            out.push_back(std::move(e));
    return out;
}

std::vector<ShellFolderEntry> ComputerChildren() {
    std::vector<ShellFolderEntry> out;
    ShellFolderEntry root;
    root.kind = ShellFolderEntry::Kind::Volume;
    root.name = "File System";
    root.path = "/";
    root.place = CIconExtractor::Place::Drive;
    root.hasChildren = true;
    out.push_back(root);
    const std::vector<std::string> removable = RemovableMounts();
    std::vector<ShellFolderEntry> volumes;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!IsUserVolume(volume))
            continue;
        ShellFolderEntry e;
        e.path = Local(volume.rootPath());
        const bool isRemovable = std::find(removable.begin(), removable.end(), e.path) != removable.end();
        e.kind = isRemovable ? ShellFolderEntry::Kind::Removable : ShellFolderEntry::Kind::Volume;
        e.name = volume.displayName().isEmpty() ? Leaf(e.path) : Local(volume.displayName());
        e.place = isRemovable ? CIconExtractor::Place::Removable : CIconExtractor::Place::Drive;
        e.hasChildren = HasSubFolders(e.path);
        volumes.push_back(std::move(e));
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const ShellFolderEntry& a, const ShellFolderEntry& b) { return a.path < b.path; });
    volumes.erase(
        std::unique(volumes.begin(), volumes.end(),
                    [](const ShellFolderEntry& a, const ShellFolderEntry& b) { return a.path == b.path; }),
        volumes.end());
    for (ShellFolderEntry& e : volumes)
        out.push_back(std::move(e));
    return out;
}

std::string RemovableMountOf(const std::string& path) {
    std::string best;
    for (const std::string& mount : RemovableMounts())
        if (IsAtOrBelow(path, mount) && mount.size() > best.size())
            best = mount;
    return best;
}

}  // namespace ShellNamespace
