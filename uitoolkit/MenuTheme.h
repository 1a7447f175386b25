#pragma once
// Menu themes: how an item is measured and painted and how a popup's border
// and background are drawn. Twelve theme records exist for the whole run;
// the active one (id 2) is the flat look with an icon column, which draws
// its own popup border. Measuring and painting are plain functions over a
// QPainter, so tests check them on the pixels of an offscreen QImage.

#include <QFontMetrics>
#include <QImage>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

#include "MenuLook.h"

class QPainter;

namespace MenuEx {

class CNewMenuIcons;

// What the measurer needs of an item.
struct MeasureInput {
    QString text;  // the display text (tab and accelerator text included)
    bool menuBar = false;
    bool submenu = false;
    bool separator = false;
    int iconWidth = 16, iconHeight = 15;
    int menuBarHeight = 20;
};
QSize MeasureItemXP(const MeasureInput& in, const QFontMetrics& fm);

// The height of a menu bar line for a font (the system's menu metric).
int MenuBarHeight(const QFontMetrics& fm);

// What the painter needs of an item.
struct ItemPaint {
    QRect rect;
    QString text;
    bool menuBar = false;
    bool selected = false;  // popup: highlighted; bar: hot or pressed
    bool pressed = false;   // bar: its popup is open
    bool disabled = false;
    bool checked = false;
    bool inactive = false;  // bar items of an inactive window
    bool isDefault = false;
    bool separator = false;
    bool submenu = false;
    bool hidePrefix = false;
    const CNewMenuIcons* icons = nullptr;
    int iconIndex = -1;
    int iconWidth = 16;
    QColor barColor;  // GetBarColor of the item's menu
};

class CMenuTheme {
public:
    CMenuTheme(int id, bool ownBorder) : m_id(id), m_ownBorder(ownBorder) { RefreshMetrics(); }
    virtual ~CMenuTheme() = default;

    int Id() const { return m_id; }
    bool HasOwnBorder() const { return m_ownBorder; }
    void RefreshMetrics();
    // Border sizes: left, top, right, bottom.
    QMargins Borders() const { return m_borders; }
    // The client margins of a popup drawn by this theme.
    QMargins AdjustClientRect() const;
    // The frame rectangle of a popup window of `size` (the window less its shadow).
    QRect GetFrameRect(QSize size) const;

    virtual void PaintBorder(QPainter& p, QSize size, QColor menuColor, const QRect& jointOnTop) const;
    virtual void PaintBackground(QPainter& p, const QRect& client, QColor barColor) const;
    virtual void DrawItem(QPainter& p, const ItemPaint& item) const;
    virtual QSize MeasureItem(const MeasureInput& in, const QFontMetrics& fm) const {
        return MeasureItemXP(in, fm);
    }
    // The class name (tests check the records).
    virtual const char* ClassName() const { return "CMenuTheme"; }

protected:
    int m_id;
    bool m_ownBorder;
    QMargins m_borders;
};

class CMenuThemeXP : public CMenuTheme {
public:
    using CMenuTheme::CMenuTheme;
    void PaintBorder(QPainter& p, QSize size, QColor menuColor, const QRect& jointOnTop) const override;
    void PaintBackground(QPainter& p, const QRect& client, QColor barColor) const override;
    void DrawItem(QPainter& p, const ItemPaint& item) const override;
    const char* ClassName() const override { return "CMenuThemeXP"; }
};

class CMenuTheme2003 : public CMenuThemeXP {
public:
    using CMenuThemeXP::CMenuThemeXP;
    const char* ClassName() const override { return "CMenuTheme2003"; }
};

// The twelve records in creation order, and the active one (the first with id 2).
const std::vector<std::unique_ptr<CMenuTheme>>& Themes();
const CMenuTheme& ActiveTheme();


// The shade of a pressed menu-bar item along its right edge: factor of the
// bar colour for the column at distance k (0..3) from the edge and row y.
int BarShadeFactor(int k, int y);

}  // namespace MenuEx
