#pragma once
// The system look the themed menus are drawn from: the system colours and
// the few display settings they depend on, and the colour rules that derive
// a menu's colours from them. Read from the application palette; tests set
// their own look to reach the high-contrast and 256-colour branches.

#include <QColor>
#include <optional>

namespace MenuEx {

struct SystemLook {
    QColor window, windowText, menu, menuBar, menuText, highlight, highlightText, grayText;
    QColor btnFace, btnShadow, btnText;
    // Compositors draw popup shadows: the one-pixel border branch.
    bool dropShadows = true;
    bool flatMenus = true;
    bool highContrast = false;
    bool keyboardCues = true;
    bool themeActive = false;
    // Number of display colours; true colour here.
    int colorCount = 1 << 24;
};

// The look menus are painted with now: the override when set, else the
// application palette.
SystemLook CurrentLook();
// Tests fix the look; nullopt returns to the palette.
void SetLookOverride(std::optional<SystemLook> look);

// Channels 0..255, results clamped to 255.
QColor Lighten(QColor c, int amount);
QColor Darken(QColor c, int amount);
QColor Mix86(QColor a, QColor b);
QColor Mix70(QColor a, QColor b);
QColor IconShadow(QColor c);
// A channel times factor / 255.
QColor Scale(QColor c, int factor);
// The nearest colour the display shows (a 6x6x6 cube with 256 colours or fewer).
QColor Nearest(QColor c, const SystemLook& look);

QColor SelectionColor(const SystemLook& look);
// The colours of a menu; `brush` is the menu's own background colour when it has one.
QColor MenuColor(const SystemLook& look, std::optional<QColor> brush);
QColor BarColor(const SystemLook& look, std::optional<QColor> brush);

// The item body and the icon column, with the rule that two colours the
// display cannot tell apart fall back to window and menu.
struct BodyColumn {
    QColor body, column;
};
BodyColumn BodyAndColumn(const SystemLook& look, QColor menu);

}  // namespace MenuEx
