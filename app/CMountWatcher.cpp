#include "CMountWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QSocketNotifier>

#include <algorithm>

#include "RemovableMedia.h"

namespace {

constexpr int kPollMs = 2000;

std::vector<std::string> MediaRoots() {
    const QString user = qEnvironmentVariable("USER");
    std::vector<std::string> roots = {"/media", "/run/media"};
    if (!user.isEmpty()) {
        roots.push_back(("/media/" + user).toStdString());
        roots.push_back(("/run/media/" + user).toStdString());
    }
    return roots;
}

}  // namespace

CMountWatcher::CMountWatcher(QObject* parent) : QObject(parent), m_lister(&ListRemovableMounts) {
    m_known = m_lister();
    std::sort(m_known.begin(), m_known.end());
    WatchRoots(MediaRoots());
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, [this] { Poll(); });
    // The kernel marks the mount table readable with an exception when it changes.
    m_mountTableFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_mountTableFd >= 0) {
        m_mountTable = new QSocketNotifier(m_mountTableFd, QSocketNotifier::Exception, this);
        connect(m_mountTable, &QSocketNotifier::activated, this, [this] {
            // Reading to the end re-arms the notification.
            char buffer[4096];
            ::lseek(m_mountTableFd, 0, SEEK_SET);
            while (::read(m_mountTableFd, buffer, sizeof buffer) > 0) {
            }
            Poll();
        });
    }
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_poll.start();
}

CMountWatcher::~CMountWatcher() {
    delete m_mountTable;
    if (m_mountTableFd >= 0)
        ::close(m_mountTableFd);
}

void CMountWatcher::WatchRoots(const std::vector<std::string>& roots) {
    if (!m_folders.directories().isEmpty())
        m_folders.removePaths(m_folders.directories());
    for (const std::string& root : roots)
        if (QDir(QString::fromStdString(root)).exists())
            m_folders.addPath(QString::fromStdString(root));
}

void CMountWatcher::SetSource(const std::vector<std::string>& roots, Lister lister) {
    m_lister = std::move(lister);
    m_known = m_lister ? m_lister() : std::vector<std::string>();
    std::sort(m_known.begin(), m_known.end());
    WatchRoots(roots);
}

void CMountWatcher::Poll() {
    if (!m_lister)
        return;
    std::vector<std::string> now = m_lister();
    std::sort(now.begin(), now.end());
    std::vector<std::string> added, removed;
    std::set_difference(now.begin(), now.end(), m_known.begin(), m_known.end(), std::back_inserter(added));
    std::set_difference(m_known.begin(), m_known.end(), now.begin(), now.end(), std::back_inserter(removed));
    m_known = std::move(now);
    if (!removed.empty() && onRemoval)
        onRemoval(removed);
    if (!added.empty() && onArrival)
        onArrival(added);
}
