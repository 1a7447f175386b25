#include "NewFrame.h"

namespace MenuEx {

bool CColorChangeThrottle::Refresh(qint64 nowMs, QColor menuColor) {
    if (m_last >= 0 && nowMs - m_last < kIntervalMs)
        return false;
    m_last = nowMs;
    CNewMenuIcons::RefreshAll(menuColor);
    return true;
}

bool CNewFrameWnd::LoadFrameMenu(const std::vector<MenuLine>& lines,
                                 const std::function<QAction*(uint32_t)>& lookup,
                                 const AccelTable* accelerators) {
    if (!m_DefaultNewMenu.LoadMenu(lines, lookup))
        return false;
    m_DefaultNewMenu.SetAccelerators(accelerators);
    // Menus of this program without a table of their own use the main window's.
    CNewMenu::SetDefaultAccelerators(accelerators);
    m_DefaultNewMenu.SetOwnerWindow(this);
    m_DefaultNewMenu.SetBackgroundBrush(MenuBrushColor());
    m_bar = new CNewMenuBar(&m_DefaultNewMenu, this);
    m_DefaultNewMenu.SetOwnerWindow(m_bar);
    for (CNewMenu* sub : m_DefaultNewMenu.SubMenus())
        sub->SetOwnerWindow(this);
    setMenuBar(m_bar);
    return true;
}

}  // namespace MenuEx
