#include "CShellChangeWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "MainFrame.h"

namespace {

// Names of folders appearing, going or renamed; the watched folder itself going.
constexpr uint32_t kMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

CShellChangeWatcher::CShellChangeWatcher(QObject* parent) : QObject(parent) {
    m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    }
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    m_latest.setSingleShot(true);
    m_latest.setInterval(kMaxDelayMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] { Tell(); });
    connect(&m_latest, &QTimer::timeout, this, [this] { Tell(); });
}

CShellChangeWatcher::~CShellChangeWatcher() {
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void CShellChangeWatcher::SetFolders(const std::vector<std::string>& folders) {
    if (m_fd < 0)
        return;
    std::set<std::string> wanted;
    for (std::string folder : folders) {
        if (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (!folder.empty())
            wanted.insert(folder);
    }
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (wanted.erase(it->second)) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_fd, it->first);
        it = m_watches.erase(it);
    }
    for (const std::string& folder : wanted) {
        // A folder that cannot be watched (gone, no permission) is left out.
        const int wd = ::inotify_add_watch(m_fd, folder.c_str(), kMask);
        if (wd >= 0)
            m_watches[wd] = folder;
    }
}

std::vector<std::string> CShellChangeWatcher::Folders() const {
    std::vector<std::string> folders;
    for (const auto& [wd, folder] : m_watches)
        folders.push_back(folder);
    std::sort(folders.begin(), folders.end());
    return folders;
}

void CShellChangeWatcher::OnReadable() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            const auto watch = m_watches.find(e->wd);
            if (e->mask & IN_IGNORED) {
                if (watch != m_watches.end())
                    m_watches.erase(watch);
                continue;
            }
            if (watch == m_watches.end())
                continue;
            int event = 0;
            std::string path = watch->second;
            if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                event = CMainFrame::SHCNE_RMDIR;
            } else if (e->mask & IN_ISDIR) {
                if (e->len > 0)
                    path += "/" + std::string(e->name);
                if (e->mask & IN_CREATE)
                    event = CMainFrame::SHCNE_MKDIR;
                else if (e->mask & IN_DELETE)
                    event = CMainFrame::SHCNE_RMDIR;
                else
                    event = CMainFrame::SHCNE_RENAMEFOLDER;
            }
            if (event == 0)
                continue;  // a file: the browser's folder monitor follows files
            m_pending[watch->second] = Notice{event, path};
            m_quiet.start();
            if (!m_latest.isActive())
                m_latest.start();
        }
    }
}

void CShellChangeWatcher::Tell() {
    m_quiet.stop();
    m_latest.stop();
    // Taken first: a handler may change the watches or start a new burst.
    const std::map<std::string, Notice> pending = std::move(m_pending);
    m_pending.clear();
    if (!onChange)
        return;
    for (const auto& [folder, notice] : pending)
        onChange(notice.event, notice.path);
}
