#pragma once
// Access to shell libraries (named groups of folders kept as ".library-ms"
// files) for the folder tree. Linux desktops have no such libraries, so the
// singleton stays in its inert mode: no library object, no libraries folder
// and no watcher thread; every query answers false, 0 or empty. The tree
// keeps its library paths (kind-9 locations) so that a provider could be
// added without touching it.

#include <mutex>
#include <string>
#include <vector>

// Told when library files change; called on the watcher's thread, so a
// listener only posts.
class ILibUpdate {
public:
    virtual ~ILibUpdate() = default;
    virtual void OnLibrariesChanged() = 0;
};

class CWin7Library {
public:
    CWin7Library() = default;
    virtual ~CWin7Library() = default;
    CWin7Library(const CWin7Library&) = delete;
    CWin7Library& operator=(const CWin7Library&) = delete;

    void AddListener(ILibUpdate* listener);
    // Removes every occurrence.
    void RemoveListener(ILibUpdate* listener);
    size_t ListenerCount() const;

    bool HasLibraries() const { return false; }
    bool IsLibrariesFolder(const std::string& /*parsingName*/) const { return false; }
    bool IsLibrary(const std::string& /*parsingName*/) const { return false; }
    // The name-only test: longer than ".library-ms" and ending in it, any case.
    static bool IsLibraryPath(const std::string& text);
    int GetFolderCount(const std::string& /*library*/) const { return 0; }
    std::string GetLibraryText(const std::string& /*library*/) const { return {}; }
    void CollectLibraryFolders(std::vector<std::string>& /*out*/) const {}
    bool RenameLibrary(const std::string& /*library*/, const std::string& /*newName*/) { return false; }
    bool DeleteLibrary(const std::string& /*library*/, bool /*silent*/) { return false; }
    bool RemoveFolder(const std::string& /*library*/, const std::string& /*folder*/) { return false; }
    bool ResolveFolder(const std::string& /*library*/, const std::string& /*path*/) { return false; }
    // The folder holding the library files; empty while inert.
    const std::string& LibrariesFolder() const { return m_librariesFolder; }
    // Whether a watcher thread runs; never while inert.
    bool IsWatching() const { return false; }

private:
    mutable std::mutex m_lock;
    std::vector<ILibUpdate*> m_listeners;
    std::string m_librariesFolder;
};

// The process's singleton: made by the application's start-up, before the
// main window, and deleted at its exit. False when it could not be made.
bool CreateWin7Library();
CWin7Library* GetWin7Library();
void DestroyWin7Library();
