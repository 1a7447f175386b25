#pragma once
// Watches the folder the browser shows and has the program re-read it when
// files in it appear, vanish or are rewritten (CmdId::BeginReadFolder to the main
// window). One thread waits in poll() on an inotify watch and on the
// doorbell of its order queue; orders (new folder, close the watch, re-read)
// are carried out in the order given, and stopping wins over all of them.

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class CThumbsBrowser;

class CFolderMonitor {
public:
    CFolderMonitor();
    virtual ~CFolderMonitor();
    CFolderMonitor(const CFolderMonitor&) = delete;
    CFolderMonitor& operator=(const CFolderMonitor&) = delete;

    void Start();
    // Watches path (one trailing '/' ignored) for browser; an empty path
    // ends the watch. The browser is told either way.
    void WatchFolder(const std::string& path, CThumbsBrowser* browser, int value);
    // Ends the current watch.
    void DropWatch();
    // Has the browser rescan its folder on the monitor's thread.
    void RequestRescan();

    // While set, changes are drained and dropped: the browser's own file
    // operations do not make it re-read.
    std::atomic<int> m_bSuspended{0};

    bool IsWatching() const { return m_bWatching; }
    std::string WatchedPath() const;

    static constexpr int kWaitMs = 2000;
    // A change is posted after the folder was quiet this long, at the latest
    // this long after the first change of a burst.
    static constexpr int kQuietMs = 150;
    static constexpr int kMaxDelayMs = 1000;

private:
    void Run();
    void OnChange();
    void CloseWatch();
    void OpenWatch();
    void Drain();

    struct COrder {
        enum Kind { NewFolder, CloseWatch, Reread } kind;
        std::string path;
        CThumbsBrowser* browser = nullptr;
        int value = 0;
    };
    // Queues an order and rings the doorbell; an order repeating the last
    // queued kind replaces it (the newest folder is the one to watch).
    void Order(COrder order);
    // Carries out the queued orders; false once stopped.
    bool CarryOutOrders(bool& changed);

    int m_doorbell = -1;
    int m_inotify = -1;
    int m_watch = -1;
    // Guards the orders, the stop flag and the watched folder below.
    mutable std::mutex m_lock;
    std::deque<COrder> m_orders;
    bool m_stop = false;
    std::string m_path;
    CThumbsBrowser* m_pBrowser = nullptr;
    int m_value = 0;
    std::atomic<bool> m_bWatching{false};
    bool m_bFirstChange = true;
    std::thread m_thread;
};
