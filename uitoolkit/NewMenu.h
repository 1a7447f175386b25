#pragma once
// The themed menu: a QMenu that keeps one item record per position (text,
// command id, icon from a toolbar's icon set), shows accelerator texts
// after a tab, picks the first item whose mnemonic matches a typed key, and
// is drawn by the active menu theme through the menu style. A menu loaded
// from a template is the model of a menu bar; its submenus are the popups.

#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "NewMenuIcons.h"

namespace MenuEx {

// One accelerator: the modifier flags, a key and the command it sends.
struct AccelEntry {
    enum : uint8_t { VirtKey = 0x01, Shift = 0x04, Control = 0x08, Alt = 0x10 };
    uint8_t flags = VirtKey;
    // A Qt key for virtual keys, else the character itself.
    int key = 0;
    uint32_t command = 0;
};
using AccelTable = std::vector<AccelEntry>;

// Fixed settings of the library.
inline constexpr bool kDrawAllMenus = true;
inline constexpr bool kAppendAccelerators = true;
inline constexpr int kDefaultIconWidth = 16;
inline constexpr int kDefaultIconHeight = 15;

// Menu flags of an item record, as last applied.
enum MenuFlag : uint32_t {
    MfPopup = 0x10,
    MfOwnerDraw = 0x100,
    MfByPosition = 0x400,
    MfSeparator = 0x800,
};

class CNewMenuItemData {
public:
    QString m_szMenuText;
    uint32_t m_nTitleFlags = 0;
    uint32_t m_nFlags = 0;
    uint32_t m_nID = 0;
    int m_nSyncFlag = 0;
    std::shared_ptr<CNewMenuIcons> m_pMenuIcon;
    int m_nMenuIconOffset = -1;
    uint32_t m_pData = 0;
    // The action at this position (a menu's own, or the frame's shared one).
    QPointer<QAction> m_pAction;

    // The display text; `accelerators` is the table that gives accelerator
    // texts (null for none).
    QString GetString(const AccelTable* accelerators) const;
    void SetString(const QString& text) { m_szMenuText = text; }
    bool IsSeparator() const { return (m_nFlags & MfSeparator) != 0; }
    bool IsPopup() const { return (m_nFlags & MfPopup) != 0; }
};

// The display text rule on its own: a text with a tab keeps it (or is cut
// at it without accelerators); otherwise each entry for `id` adds
// "Alt+", "Ctrl+", "Shift+" and the key's name, joined by ", ", behind one tab.
QString DisplayText(const QString& text, uint32_t id, bool popup, const AccelTable* accelerators);
// The position of the first text holding "&" + `c` (any case), or -1.
int FindMnemonic(const QStringList& displayTexts, QChar c);

// A menu template: POPUP and MENUITEM lines, each popup closed by END.
struct MenuLine {
    enum Kind { Popup, Item, Separator, End } kind;
    uint32_t id = 0;
    const char* text = "";
};

class CNewMenu : public QMenu {
    Q_OBJECT
public:
    explicit CNewMenu(CNewMenu* parentMenu = nullptr, QWidget* parent = nullptr);
    ~CNewMenu() override;

    // Builds the menu bar model from a template: a submenu per popup, the
    // action of each item from `lookup` (items without one are left out,
    // with the separators they would leave doubled). False for an empty template.
    bool LoadMenu(const std::vector<MenuLine>& lines, const std::function<QAction*(uint32_t)>& lookup);
    void DestroyMenu();
    // Brings the item records in line with the menu's actions.
    void Synchronize();

    // Attaches the icons of a toolbar to every item of its commands, here
    // and in the submenus; false (and no icons) when the set cannot be made.
    bool LoadToolBar(const QString& name, const std::vector<uint16_t>& words, const QImage& image,
                     const QImage& image2x = QImage());
    bool SetItemIcon(uint32_t id, const QString* text, const std::shared_ptr<CNewMenuIcons>& icons,
                     int index);
    CNewMenuItemData* FindItem(uint32_t id) const;
    CNewMenu* FindMenuOfItem(uint32_t id) const;
    CNewMenuItemData* ItemOf(const QAction* action) const;
    const std::vector<std::unique_ptr<CNewMenuItemData>>& Items() const { return m_MenuItemList; }
    const std::vector<CNewMenu*>& SubMenus() const { return m_SubMenus; }

    // Adds an item of its own (context menus) or one of the frame's actions.
    QAction* AppendCommand(uint32_t id, const QString& text);
    void AppendAction(QAction* action, const QString& text);

    // The mnemonic search: (2 << 16) | position for the first match, else 0.
    int OnMenuChar(QChar c);

    // Popup life: opening (records refreshed) and going away (the parent's
    // count of open popups follows). True from ReleasePopup for a menu-bar parent.
    void PreparePopup();
    bool ReleasePopup();

    bool IsMenuBar() const { return !m_bIsPopup && !m_pParentMenu; }
    bool IsPopup() const { return m_bIsPopup; }
    CNewMenu* ParentMenu() const { return m_pParentMenu; }
    int IconWidth() const { return m_iconX; }
    int IconHeight() const { return m_iconY; }
    int OpenPopups() const { return m_nOpenPopups; }
    void SetOpenPopups(int n) { m_nOpenPopups = n; }
    QRect MenubarItemRect() const { return m_rcMenuBarItem; }
    void SetMenubarItemRect(const QRect& r) { m_rcMenuBarItem = r; }
    void SetOwnerWindow(QWidget* owner) { m_hParentWnd = owner; }
    QWidget* OwnerWindow() const { return m_hParentWnd; }
    void SetAccelerators(const AccelTable* table);
    // The menu's table, else its parent's, else the main window's default
    // table (empty until a frame sets one); never null.
    const AccelTable* Accelerators() const;
    static void SetDefaultAccelerators(const AccelTable* table);
    // The background colour the frame gives its menus.
    void SetBackgroundBrush(std::optional<QColor> color);
    std::optional<QColor> BackgroundBrush() const { return m_brush; }

    static QColor GetMenuColor(const CNewMenu* menu);
    static QColor GetBarColor(const CNewMenu* menu);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<std::unique_ptr<CNewMenuItemData>> m_MenuItemList;
    std::vector<CNewMenu*> m_SubMenus;
    int m_iconX = kDefaultIconWidth;
    int m_iconY = kDefaultIconHeight;
    QRgb m_bitmapBackground = 0xFF000000;
    QPointer<QWidget> m_hParentWnd;
    CNewMenu* m_pParentMenu = nullptr;
    bool m_bIsPopup = true;
    QRect m_rcMenuBarItem;
    int m_nOpenPopups = 0;
    const AccelTable* m_pAccel = nullptr;
    std::optional<QColor> m_brush;
};

// The frame's menu bar, showing the popups of a menu bar model.
class CNewMenuBar : public QMenuBar {
    Q_OBJECT
public:
    explicit CNewMenuBar(CNewMenu* model, QWidget* parent = nullptr);
    CNewMenu* Model() const { return m_model; }

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;

private:
    CNewMenu* m_model;
};

}  // namespace MenuEx
