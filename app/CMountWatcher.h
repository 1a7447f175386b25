#pragma once
// Tells the main window when removable media are mounted or unmounted: the
// mount table (/proc/self/mountinfo) is watched for changes, the folders
// under which desktops mount media (/media/$USER, /run/media/$USER) too, and
// a 2-second poll catches what neither reports. Each change compares the
// list of removable mounts with the last one.

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QSocketNotifier;

class CMountWatcher : public QObject {
    Q_OBJECT
public:
    using Lister = std::function<std::vector<std::string>()>;

    explicit CMountWatcher(QObject* parent = nullptr);
    ~CMountWatcher() override;

    // Watches the given folders and lists mounts with lister instead of the
    // system's (a test's fixture folder); the current list becomes the known one.
    void SetSource(const std::vector<std::string>& roots, Lister lister);
    // Compares the mounts now with the known ones and reports the difference.
    void Poll();
    std::vector<std::string> KnownMounts() const { return m_known; }

    // New mount points (arrival) and vanished ones (removal).
    std::function<void(const std::vector<std::string>&)> onArrival;
    std::function<void(const std::vector<std::string>&)> onRemoval;

private:
    void WatchRoots(const std::vector<std::string>& roots);

    Lister m_lister;
    std::vector<std::string> m_known;
    QFileSystemWatcher m_folders;
    QTimer m_poll;
    QSocketNotifier* m_mountTable = nullptr;
    int m_mountTableFd = -1;
};
