#pragma once
// The shell's change notices for folders changed outside the program: the
// folders the tree shows expanded and the browser's folder are watched
// (inotify), and a folder made, removed or renamed in one of them is told to
// the main window as its notice (make, remove, rename folder). The notices
// of one burst of changes are told once for each watched folder that changed,
// when the folders were quiet for a moment: a busy folder elsewhere (/tmp)
// must not hide a change in the one the user looks at.

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QSocketNotifier;

class CShellChangeWatcher : public QObject {
    Q_OBJECT
public:
    explicit CShellChangeWatcher(QObject* parent = nullptr);
    ~CShellChangeWatcher() override;

    // The folders to watch from now on; the others are no longer watched.
    void SetFolders(const std::vector<std::string>& folders);
    std::vector<std::string> Folders() const;

    // One notice a burst for each watched folder that changed: the event of
    // its last change there and that change's folder.
    std::function<void(int event, const std::string& path)> onChange;

    // A burst is told this long after its last change, at the latest this
    // long after its first.
    static constexpr int kQuietMs = 150;
    static constexpr int kMaxDelayMs = 1000;

private:
    void OnReadable();
    void Tell();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    std::map<int, std::string> m_watches;  // watch descriptor -> folder
    QTimer m_quiet;
    QTimer m_latest;
    struct Notice {
        int event = 0;
        std::string path;
    };
    std::map<std::string, Notice> m_pending;  // watched folder -> its last change
};
