#pragma once
// Helpers of the browser's tests: a host that records what workers post,
// items whose loads a test scripts (no decoding, so the thread sanitizer
// sees only our own code), small files, an offscreen pane showing a
// browser, and a guard of the browser settings a test changes.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QPainter>
#include <QWidget>

#include "BrowserHost.h"
#include "BrowserSettings.h"
#include "CPaletteItem.h"
#include "CThumbsBrowser.h"
#include "ThumbRequests.h"

namespace BrowserFixture {

// Records posted commands and status texts from any thread.
class RecordingHost : public IBrowserHost {
public:
    RecordingHost() { SetBrowserHost(this); }
    ~RecordingHost() override { SetBrowserHost(nullptr); }

    void PostMainWindowCommand(int command) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_commands.push_back(command);
        m_changed.notify_all();
    }
    bool IsFilesListMode() override { return filesListMode; }
    bool filesListMode = false;
    void SetStatusPanes(const std::vector<std::string>& texts, int) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_status = texts;
    }
    int Count(int command) const {
        std::lock_guard<std::mutex> lock(m_lock);
        int n = 0;
        for (int c : m_commands)
            n += c == command;
        return n;
    }
    // Waits until command was posted more than `already` times.
    bool WaitFor(int command, int already, int milliseconds) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            int n = 0;
            for (int c : m_commands)
                n += c == command;
            return n > already;
        });
    }
    std::vector<std::string> Status() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_status;
    }
    // Failed file operations, as "<file name>: <reason>".
    void ReportFileOperationError(const std::string& path, const std::string& reason) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_errors.push_back(path.substr(path.find_last_of('/') + 1) + ": " + reason);
    }
    void ReportSkippedFiles(const std::vector<std::pair<std::string, std::string>>& skipped) override {
        for (const auto& [path, reason] : skipped)
            ReportFileOperationError(path, reason);
    }
    std::vector<std::string> Errors() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_errors;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_commands;
    std::vector<std::string> m_status;
    std::vector<std::string> m_errors;
};

// A folder this thread cannot write into while the object lives: the
// folder loses its write bits, and a test running as root gives up, on its
// own thread only, the power to write past a folder's mode.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string path) : m_path(std::move(path)) {
        ::chmod(m_path.c_str(), 0555);
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) == 0) {
            __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
            reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
            m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
        }
    }
    ~ReadOnlyFolder() {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
        ::chmod(m_path.c_str(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    std::string m_path;
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

// The trash goes into the given data folder while the object lives
// (XDG_DATA_HOME set, then put back as it was).
class TrashIn {
public:
    explicit TrashIn(const std::string& dataHome) {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_had = old != nullptr;
        m_old = old ? old : "";
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    ~TrashIn() {
        if (m_had)
            ::setenv("XDG_DATA_HOME", m_old.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }
    TrashIn(const TrashIn&) = delete;
    TrashIn& operator=(const TrashIn&) = delete;

private:
    bool m_had = false;
    std::string m_old;
};

// What scripted loads do, shared by all items of one test.
struct LoadScript {
    std::atomic<int> quick{0};
    std::atomic<int> full{0};
    std::atomic<bool> started{false};
    // Called inside each load; may throw or wait on the progress object.
    std::function<void(const std::string& path, bool full, CProgress* progress)> during;
    // A quick load gives a provisional thumbnail unless this is set.
    bool quickIsFinal = false;
};

inline std::shared_ptr<CDibBuffer> TinyBitmap() {
    auto dib = std::make_shared<CDibBuffer>();
    dib->Create(4, 3, 24, nullptr);
    std::memset(dib->Bits(), 0x80, static_cast<size_t>(dib->Stride()) * dib->Height());
    return dib;
}

class ScriptedItem : public CPaletteItemImg {
public:
    explicit ScriptedItem(LoadScript& script) : m_script(script) {}
    int Load(const std::string& path, bool full, CProgress* progress) override {
        ++(full ? m_script.full : m_script.quick);
        m_script.started = true;
        if (m_script.during)
            m_script.during(path, full, progress);
        SetBitmap(TinyBitmap());
        m_thumbWidth = 4;
        m_thumbHeight = 3;
        m_final = full || m_script.quickIsFinal ? 1 : 0;
        return 1;
    }

private:
    LoadScript& m_script;
};

// A file of n bytes with an old time stamp (a fresh one counts as being written).
inline std::string WriteFile(const std::string& path, size_t bytes = 64) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
}

// A file's bytes as a string ("" when it cannot be read), and a file of text.
inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline time_t MTime(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

inline void ClearCache() {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    g_ThumbCache.RemoveAll();
}

inline ThumbItemPtr Cached(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    ThumbItemPtr item;
    g_ThumbCache.Lookup(path, item);
    return item;
}

template <class Pred>
bool WaitUntil(Pred pred, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A scrolling offscreen pane, as the thumbnail view shows the browser; it
// counts the thumbnails announced to it.
class Pane : public QWidget, public IThumbsView {
public:
    explicit Pane(CThumbsBrowser& browser) : m_browser(browser) {
        resize(700, 420);
        m_browser.SetView(this);
    }
    ~Pane() override { m_browser.SetView(nullptr); }
    QObject* EventTarget() override { return this; }
    void UpdateScrollSizes() override {}
    void Invalidate() override { update(); }
    QSize ClientSize() const override { return size(); }
    QPoint ScrollPosition() const override { return m_scroll; }
    QWidget* Widget() override { return this; }
    void ScrollTo(QPoint pos) override { m_scroll = pos; }
    QPoint m_scroll;
    std::atomic<int> ready{0};

protected:
    bool event(QEvent* e) override {
        if (e->type() == CThumbReadyEvent::EventType()) {
            ++ready;
            update();
            return true;
        }
        return QWidget::event(e);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), BrowserHost().Colours().background);
        m_browser.DrawPane(painter, size(), m_scroll);
    }

private:
    CThumbsBrowser& m_browser;
};

// Restores the browser settings a test changes.
struct SettingsGuard {
    int zoom = g_nThumbnailSize;
    int listMode = g_bThumbsListMode;
    ~SettingsGuard() {
        g_nThumbnailSize = zoom;
        g_bThumbsListMode = listMode;
    }
};

}  // namespace BrowserFixture
