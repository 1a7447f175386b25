#pragma once
// Frame windows whose menus are themed: the frame keeps its menu bar model
// and a system-menu model, gives its menus the theme's background, and
// refreshes the menu icons when the colour scheme changes (once within any
// two seconds, however many change events arrive). The menu bar hovers and
// opens natively, so no hot-tracking timer is ever started.

#include <QDockWidget>
#include <QElapsedTimer>
#include <QEvent>
#include <QMainWindow>
#include <functional>
#include <memory>

#include "MenuLook.h"
#include "NewMenu.h"

namespace MenuEx {

// Refreshes the icon sets' colours unless the last refresh was less than
// 2000 ms before `nowMs`; true when it refreshed.
class CColorChangeThrottle {
public:
    static constexpr qint64 kIntervalMs = 2000;
    bool Refresh(qint64 nowMs, QColor menuColor);

private:
    qint64 m_last = -1;
};

template <class Base>
class CNewFrame : public Base {
public:
    using Base::Base;
    ~CNewFrame() override {
        m_DefaultNewMenu.DestroyMenu();
        m_SystemNewMenu.DestroyMenu();
    }

    CNewMenu& DefaultMenu() { return m_DefaultNewMenu; }
    CNewMenu& SystemMenu() { return m_SystemNewMenu; }
    // Always 0: the bar tracks the mouse itself.
    int HotTrackTimer() const { return 0; }
    // The active theme's background: a solid brush of the button face.
    static QColor MenuBrushColor() { return CurrentLook().btnFace; }

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::PaletteChange || e->type() == QEvent::ApplicationPaletteChange)
            OnSysColorChange();
        return Base::event(e);
    }
    void OnSysColorChange() {
        if (!m_clock.isValid())
            m_clock.start();
        m_throttle.Refresh(m_clock.elapsed(), MenuBrushColor());
        m_DefaultNewMenu.SetBackgroundBrush(MenuBrushColor());
    }

    CNewMenu m_DefaultNewMenu;
    // The window manager draws the title bar's menu here; the model stays empty.
    CNewMenu m_SystemNewMenu;

private:
    CColorChangeThrottle m_throttle;
    QElapsedTimer m_clock;
};

// The main frame's base: it loads its menu bar from a template.
class CNewFrameWnd : public CNewFrame<QMainWindow> {
public:
    explicit CNewFrameWnd(QWidget* parent = nullptr) : CNewFrame<QMainWindow>(parent) {}

    // Loads the menu template into the default menu (actions found by
    // command id), shows it as the window's menu bar and gives the menus
    // the theme's background; false when the template is empty.
    bool LoadFrameMenu(const std::vector<MenuLine>& lines, const std::function<QAction*(uint32_t)>& lookup,
                       const AccelTable* accelerators);
    CNewMenuBar* NewMenuBar() const { return m_bar; }

private:
    CNewMenuBar* m_bar = nullptr;
};

}  // namespace MenuEx
