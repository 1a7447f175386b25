#include "NewMenuStyle.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionMenuItem>

#include "MenuTheme.h"
#include "NewMenu.h"

namespace MenuEx {

namespace {

CNewMenu* OurMenu(const QWidget* w) {
    return qobject_cast<CNewMenu*>(const_cast<QWidget*>(w));
}

CNewMenuBar* OurBar(const QWidget* w) {
    return qobject_cast<CNewMenuBar*>(const_cast<QWidget*>(w));
}

// The part of the popup's top edge that lies under the open bar item, in
// the popup's coordinates; empty when the popup does not hang from it.
QRect JointOnTop(const CNewMenu* menu) {
    const CNewMenu* parent = menu->ParentMenu();
    if (!parent || !parent->IsMenuBar() || parent->OpenPopups() == 0)
        return {};
    const QRect bar = parent->MenubarItemRect();
    const QRect popup(menu->mapToGlobal(QPoint(0, 0)), menu->size());
    if (bar.isEmpty() || popup.top() < bar.bottom() || popup.top() > bar.bottom() + 2)
        return {};
    const int left = std::max(popup.left(), bar.left());
    const int right = std::min(popup.right(), bar.right() - 4);
    if (right <= left)
        return {};
    return QRect(left - popup.left(), 0, right - left + 1, 1);
}

}  // namespace

CNewMenuStyle::CNewMenuStyle() = default;

CNewMenuStyle* CNewMenuStyle::Instance() {
    static QPointer<CNewMenuStyle> style;
    if (!style) {
        style = new CNewMenuStyle;
        style->setParent(qApp);
    }
    return style;
}

std::map<const QMenu*, CMenuHookData>& CNewMenuStyle::HookMap() {
    static std::map<const QMenu*, CMenuHookData> map;
    return map;
}

bool CNewMenuStyle::IsBound(const QMenu* menu) {
    return HookMap().count(menu) != 0;
}

int CNewMenuStyle::BoundCount() {
    return int(HookMap().size());
}

bool CNewMenuStyle::BindPopup(CNewMenu* menu) {
    if (IsBound(menu))
        return false;
    HookMap()[menu] = CMenuHookData{menu, menu->pos(), false};
    return true;
}

void CNewMenuStyle::UnbindPopup(CNewMenu* menu) {
    if (HookMap().erase(menu))
        menu->ReleasePopup();
}

void CNewMenuStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (CNewMenu* menu = OurMenu(widget)) {
        // The theme's own border lies in the margins, before the first layout.
        menu->setContentsMargins(ActiveTheme().AdjustClientRect());
        menu->installEventFilter(this);
    }
}

void CNewMenuStyle::unpolish(QWidget* widget) {
    if (CNewMenu* menu = OurMenu(widget)) {
        menu->removeEventFilter(this);
        UnbindPopup(menu);
        menu->setContentsMargins(QMargins());
    }
    QProxyStyle::unpolish(widget);
}

bool CNewMenuStyle::eventFilter(QObject* watched, QEvent* event) {
    if (auto* menu = qobject_cast<CNewMenu*>(watched)) {
        switch (event->type()) {
            case QEvent::Show:
                BindPopup(menu);
                break;
            case QEvent::Hide:
                UnbindPopup(menu);
                break;
            case QEvent::Move:
                if (auto it = HookMap().find(menu); it != HookMap().end())
                    it->second.position = menu->pos();
                break;
            default:
                break;
        }
    }
    return QProxyStyle::eventFilter(watched, event);
}

void CNewMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
    const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuItem && mi) {
        if (CNewMenu* menu = OurMenu(widget)) {
            ItemPaint item;
            item.rect = mi->rect;
            item.text = mi->text;
            item.separator = mi->menuItemType == QStyleOptionMenuItem::Separator;
            item.submenu = mi->menuItemType == QStyleOptionMenuItem::SubMenu;
            item.isDefault = mi->menuItemType == QStyleOptionMenuItem::DefaultItem;
            item.selected = mi->state & State_Selected;
            item.disabled = !(mi->state & State_Enabled);
            item.checked = mi->checkType != QStyleOptionMenuItem::NotCheckable && mi->checked;
            item.iconWidth = menu->IconWidth();
            item.barColor = CNewMenu::GetBarColor(menu);
            if (QAction* action = menu->actionAt(mi->rect.center()))
                if (const CNewMenuItemData* record = menu->ItemOf(action)) {
                    item.icons = record->m_pMenuIcon.get();
                    item.iconIndex = record->m_nMenuIconOffset;
                }
            painter->save();
            painter->setFont(mi->font);
            ActiveTheme().DrawItem(*painter, item);
            painter->restore();
            return;
        }
    }
    if (element == CE_MenuBarItem && mi) {
        if (CNewMenuBar* bar = OurBar(widget)) {
            CNewMenu* model = bar->Model();
            ItemPaint item;
            item.menuBar = true;
            item.rect = mi->rect;
            item.text = mi->text;
            item.selected = mi->state & State_Selected;
            item.pressed = item.selected && ((mi->state & State_Sunken) || model->OpenPopups() > 0);
            item.disabled = !(mi->state & State_Enabled);
            item.barColor = CNewMenu::GetBarColor(model);
            if (item.pressed)
                model->SetMenubarItemRect(QRect(bar->mapToGlobal(mi->rect.topLeft()), mi->rect.size()));
            painter->save();
            painter->setFont(mi->font);
            ActiveTheme().DrawItem(*painter, item);
            painter->restore();
            return;
        }
    }
    if (element == CE_MenuBarEmptyArea) {
        if (CNewMenuBar* bar = OurBar(widget)) {
            painter->fillRect(option->rect, CNewMenu::GetBarColor(bar->Model()));
            return;
        }
    }
    if (element == CE_MenuEmptyArea && OurMenu(widget))
        return;
    QProxyStyle::drawControl(element, option, painter, widget);
}

void CNewMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    if (element == PE_PanelMenu) {
        if (CNewMenu* menu = OurMenu(widget)) {
            const CMenuTheme& theme = ActiveTheme();
            const QRect all = menu->rect();
            theme.PaintBackground(*painter, all.marginsRemoved(theme.AdjustClientRect()),
                                  CNewMenu::GetBarColor(menu));
            theme.PaintBorder(*painter, all.size(), CNewMenu::GetMenuColor(menu), JointOnTop(menu));
            return;
        }
    }
    if (element == PE_FrameMenu && OurMenu(widget))
        return;
    if (element == PE_PanelMenuBar) {
        if (CNewMenuBar* bar = OurBar(widget)) {
            painter->fillRect(option->rect, CNewMenu::GetBarColor(bar->Model()));
            return;
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

QSize CNewMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                      const QWidget* widget) const {
    const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type == CT_MenuItem && mi) {
        if (CNewMenu* menu = OurMenu(widget)) {
            const QFontMetrics fm(mi->font);
            MeasureInput in;
            in.text = mi->text;
            in.submenu = mi->menuItemType == QStyleOptionMenuItem::SubMenu;
            in.separator = mi->menuItemType == QStyleOptionMenuItem::Separator;
            in.iconWidth = menu->IconWidth();
            in.iconHeight = menu->IconHeight();
            in.menuBarHeight = MenuBarHeight(fm);
            const QSize measured = ActiveTheme().MeasureItem(in, fm);
            return in.separator ? measured : measured + QSize(kCheckWidth, 0);
        }
    }
    if (type == CT_MenuBarItem && mi) {
        if (CNewMenuBar* bar = OurBar(widget)) {
            const QFontMetrics fm(mi->font);
            MeasureInput in;
            in.text = mi->text;
            in.menuBar = true;
            in.iconWidth = bar->Model()->IconWidth();
            in.iconHeight = bar->Model()->IconHeight();
            in.menuBarHeight = MenuBarHeight(fm);
            return ActiveTheme().MeasureItem(in, fm) + QSize(kBarItemPadding, 0);
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int CNewMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    if (OurMenu(widget) || OurBar(widget)) {
        switch (metric) {
            case PM_MenuPanelWidth:
            case PM_MenuHMargin:
            case PM_MenuVMargin:
            case PM_MenuBarPanelWidth:
            case PM_MenuBarItemSpacing:
            case PM_MenuBarHMargin:
            case PM_MenuBarVMargin:
            case PM_MenuDesktopFrameWidth:
                return 0;
            default:
                break;
        }
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace MenuEx
