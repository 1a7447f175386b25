#include "CFolderMonitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>

#include "BrowserHost.h"
#include "CThumbsBrowser.h"
#include "CommandIds.h"

namespace {

// Names appearing or going, and files written to the end; the folder
// itself going ends the watch.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void Ring(int fd) {
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Consume(int fd) {
    uint64_t count;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace

CFolderMonitor::CFolderMonitor() {
    m_doorbell = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
}

CFolderMonitor::~CFolderMonitor() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stop = true;
        }
        Ring(m_doorbell);
        m_thread.join();
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_doorbell >= 0)
        ::close(m_doorbell);
}

void CFolderMonitor::Start() {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void CFolderMonitor::Order(COrder order) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_orders.empty() && m_orders.back().kind == order.kind)
            m_orders.back() = std::move(order);
        else
            m_orders.push_back(std::move(order));
    }
    Ring(m_doorbell);
}

void CFolderMonitor::WatchFolder(const std::string& path, CThumbsBrowser* browser, int value) {
    Order({COrder::NewFolder, path, browser, value});
}

void CFolderMonitor::DropWatch() {
    Order({COrder::CloseWatch, {}, nullptr, 0});
}

void CFolderMonitor::RequestRescan() {
    Order({COrder::Reread, {}, nullptr, 0});
}

bool CFolderMonitor::CarryOutOrders(bool& changed) {
    for (;;) {
        COrder order;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stop)
                return false;
            if (m_orders.empty())
                return true;
            order = std::move(m_orders.front());
            m_orders.pop_front();
            if (order.kind == COrder::NewFolder) {
                m_path = order.path;
                m_pBrowser = order.browser;
                m_value = order.value;
            }
        }
        switch (order.kind) {
        case COrder::CloseWatch:
            CloseWatch();
            changed = false;
            break;
        case COrder::Reread: {
            CThumbsBrowser* browser;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                browser = m_pBrowser;
            }
            if (browser)
                browser->RescanFolder(false);
            break;
        }
        case COrder::NewFolder:
            changed = false;  // the new folder is read anyway
            OpenWatch();
            break;
        }
    }
}

std::string CFolderMonitor::WatchedPath() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bWatching ? m_path : std::string();
}

void CFolderMonitor::Drain() {
    alignas(inotify_event) char buffer[4096];
    while (::read(m_inotify, buffer, sizeof buffer) > 0) {
    }
}

void CFolderMonitor::CloseWatch() {
    if (m_watch >= 0)
        ::inotify_rm_watch(m_inotify, m_watch);
    m_watch = -1;
    m_bWatching = false;
    Drain();
}

void CFolderMonitor::OpenWatch() {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // One trailing '/' names the same folder; the root keeps its own.
        if (m_path.size() > 1 && m_path.back() == '/')
            m_path.pop_back();
        path = m_path;
    }
    CloseWatch();
    if (!path.empty()) {
        m_watch = m_inotify >= 0 ? ::inotify_add_watch(m_inotify, path.c_str(), kWatchMask) : -1;
        if (m_watch < 0) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_path.clear();
        }
        m_bWatching = m_watch >= 0;
    }
    OnChange();
}

void CFolderMonitor::Run() {
    using Clock = std::chrono::steady_clock;
    // A burst of changes (files copied in, renamed, removed) makes one
    // re-read: it is posted once the folder was quiet for kQuietMs, or
    // kMaxDelayMs after the first change of a burst that goes on.
    bool changed = false;
    Clock::time_point quietAt, latest;
    for (;;) {
        pollfd fds[2] = {{m_doorbell, POLLIN, 0}, {m_inotify, POLLIN, 0}};
        int timeout = kWaitMs;
        if (changed) {
            const auto due = std::min(quietAt, latest);
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count()));
        }
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stop)
                return;
        }
        if (changed && Clock::now() >= std::min(quietAt, latest)) {
            changed = false;
            if (m_bWatching && !m_bSuspended)
                OnChange();
        }
        if (ready == 0)
            continue;
        if (fds[0].revents)
            Consume(m_doorbell);
        if (fds[1].revents) {
            // Every pending event at once; the re-read waits for the burst to end.
            Drain();
            if (m_bWatching && !m_bSuspended) {
                const auto now = Clock::now();
                if (!changed)
                    latest = now + std::chrono::milliseconds(kMaxDelayMs);
                changed = true;
                quietAt = now + std::chrono::milliseconds(kQuietMs);
            }
        }
        // Orders after the changes, as before: a new folder's read covers them.
        if (!CarryOutOrders(changed))
            return;
    }
}

void CFolderMonitor::OnChange() {
    if (m_bFirstChange) {
        m_bFirstChange = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    CThumbsBrowser* browser;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        browser = m_pBrowser;
        path = m_path;
    }
    if (!browser)
        return;
    browser->SetCurrentFolder(path);
    struct stat st;
    if (!path.empty() && ::stat(path.c_str(), &st) != 0) {
        // The folder went: the watch is dropped and nothing is re-read.
        CloseWatch();
        return;
    }
    BrowserHost().PostMainWindowCommand(CmdId::BeginReadFolder);
}
