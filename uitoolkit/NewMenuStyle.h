#pragma once
// The style of themed menus: set on each MenuEx::CNewMenu and on the frame's
// menu bar (never application-wide, so the menus of plain controls keep the
// standard look), it measures and paints their items, borders and
// background through the active menu theme. It also binds each popup to its
// menu while it is shown.
//
// Why no window hook: the popup windows the themed menus need are QMenu
// widgets we create ourselves, not windows the system makes behind our back.
// Polishing sees each one before its first layout (its client margins are
// set there), and an event filter sees it shown and hidden, which is when
// it is bound to its menu and released again.

#include <QPoint>
#include <QProxyStyle>
#include <map>

class QMenu;

namespace MenuEx {

class CNewMenu;

// Per shown popup: what the binding keeps while the popup is on screen.
struct CMenuHookData {
    CNewMenu* menu = nullptr;
    QPoint position;
    bool firstPaintDone = false;
};

class CNewMenuStyle : public QProxyStyle {
    Q_OBJECT
public:
    // The one style of the process (owned by the application object).
    static CNewMenuStyle* Instance();

    // What the system adds to an owner-drawn item's measured width: the
    // check-mark width for popup items, the item padding for bar items.
    static constexpr int kCheckWidth = 13;
    static constexpr int kBarItemPadding = 12;

    // True while `menu` is shown and bound.
    static bool IsBound(const QMenu* menu);
    static int BoundCount();
    // A menu going away leaves the binding without being released.
    static void Forget(const QMenu* menu) { HookMap().erase(menu); }

    void polish(QWidget* widget) override;
    void unpolish(QWidget* widget) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;

private:
    CNewMenuStyle();
    static bool BindPopup(CNewMenu* menu);
    static void UnbindPopup(CNewMenu* menu);
    static std::map<const QMenu*, CMenuHookData>& HookMap();
};

}  // namespace MenuEx
