#include "MenuLook.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>

namespace MenuEx {

namespace {

std::optional<SystemLook>& Override() {
    static std::optional<SystemLook> look;
    return look;
}

int Clamp(int v) {
    return std::clamp(v, 0, 255);
}

template <class F>
QColor PerChannel(QColor c, F f) {
    return QColor(Clamp(f(c.red())), Clamp(f(c.green())), Clamp(f(c.blue())));
}

QColor Mix(QColor a, QColor b, int percentA) {
    auto m = [&](int x, int y) { return Clamp((x * percentA + y * (100 - percentA)) / 100); };
    return QColor(m(a.red(), b.red()), m(a.green(), b.green()), m(a.blue(), b.blue()));
}

}  // namespace

SystemLook CurrentLook() {
    if (Override())
        return *Override();
    const QPalette pal = QApplication::palette();
    SystemLook look;
    look.window = pal.color(QPalette::Base);
    look.windowText = pal.color(QPalette::Text);
    look.menu = pal.color(QPalette::Window);
    look.menuBar = pal.color(QPalette::Window);
    look.menuText = pal.color(QPalette::WindowText);
    look.highlight = pal.color(QPalette::Highlight);
    look.highlightText = pal.color(QPalette::HighlightedText);
    look.grayText = pal.color(QPalette::Disabled, QPalette::WindowText);
    look.btnFace = pal.color(QPalette::Button);
    look.btnShadow = pal.color(QPalette::Dark);
    look.btnText = pal.color(QPalette::ButtonText);
    return look;
}

void SetLookOverride(std::optional<SystemLook> look) {
    Override() = std::move(look);
}

QColor Lighten(QColor c, int a) {
    return PerChannel(c, [a](int v) { return v + (255 - v) * a / 255; });
}

QColor Darken(QColor c, int a) {
    return PerChannel(c, [a](int v) { return v * (255 - a) / 255; });
}

QColor Mix86(QColor a, QColor b) {
    return Mix(a, b, 86);
}

QColor Mix70(QColor a, QColor b) {
    return Mix(a, b, 70);
}

QColor IconShadow(QColor c) {
    return QColor(Clamp(c.red() * 7 / 10), Clamp(c.green() * 7 / 10), Clamp(Clamp(c.blue() + 55) * 7 / 10));
}

QColor Scale(QColor c, int factor) {
    return PerChannel(c, [factor](int v) { return v * factor / 255; });
}

QColor Nearest(QColor c, const SystemLook& look) {
    if (look.colorCount > 256)
        return QColor(c.red(), c.green(), c.blue());
    auto q = [](int v) { return (v + 25) / 51 * 51; };
    return QColor(q(c.red()), q(c.green()), q(c.blue()));
}

QColor SelectionColor(const SystemLook& look) {
    if (look.highContrast)
        return look.highlight;
    if (look.colorCount <= 256)
        return look.window;
    const QColor h = look.highlight;
    if (!look.themeActive && h.red() + h.green() + h.blue() > 384)
        return Mix86(look.window, h);
    return Mix70(look.window, h);
}

QColor MenuColor(const SystemLook& look, std::optional<QColor> brush) {
    if (brush)
        return *brush;
    // Always the newest system class here: flat menus take the bar's colour.
    return look.flatMenus ? look.menuBar : look.menu;
}

QColor BarColor(const SystemLook& look, std::optional<QColor> brush) {
    if (brush)
        return *brush;
    if (look.flatMenus || look.themeActive)
        return look.menuBar;
    return look.btnFace;
}

BodyColumn BodyAndColumn(const SystemLook& look, QColor menu) {
    BodyColumn c{Mix86(look.window, menu), look.colorCount <= 256 ? look.btnFace : Mix86(menu, look.window)};
    if (Nearest(c.body, look) == Nearest(c.column, look)) {
        c.body = look.window;
        c.column = menu;
    }
    return c;
}

}  // namespace MenuEx
