#pragma once
// Closes a modal dialog or a popup menu that the code under test opens and
// runs its own event loop for. A timer looks for the window every few
// milliseconds while the closer lives, so a window that opens late on a busy
// machine is still closed (the test never hangs on it); Shown() tells
// whether it came within the bound, so a late or missing one fails the test.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace TestSupport {

inline QWidget* ActiveModal() {
    return QApplication::activeModalWidget();
}
inline QWidget* ActivePopup() {
    return QApplication::activePopupWidget();
}

class PopupCloser {
public:
    using Finder = std::function<QWidget*()>;
    using Inspect = std::function<void(QWidget*)>;

    // inspect (may be empty) sees the window before it is closed.
    explicit PopupCloser(Finder find = ActiveModal, Inspect inspect = {}, int boundMs = 10000)
        : m_find(std::move(find)), m_inspect(std::move(inspect)), m_bound(boundMs) {
        m_clock.start();
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    PopupCloser(const PopupCloser&) = delete;
    PopupCloser& operator=(const PopupCloser&) = delete;

    // How many windows were closed, and whether each came within the bound.
    int Count() const { return m_count; }
    bool Shown() const { return m_count > 0 && !m_late; }

private:
    void Poll() {
        QWidget* window = m_find();
        if (!window || !window->isVisible())
            return;
        ++m_count;
        m_late = m_late || m_clock.elapsed() > m_bound;
        if (m_inspect)
            m_inspect(window);
        window->close();
        // A window that refuses to close still ends its event loop.
        if (window->isVisible())
            window->hide();
    }

    Finder m_find;
    Inspect m_inspect;
    int m_bound;
    QElapsedTimer m_clock;
    QTimer m_timer;
    int m_count = 0;
    bool m_late = false;
};

}  // namespace TestSupport
