// The flat menu look on pixels: items, separators, check marks, the popup
// border and its joint to the bar, the pressed bar item; and the style on
// real menus: themed popups bound while shown, plain menus untouched.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPainter>
#include <QTest>

#include "MenuLook.h"
#include "MenuTheme.h"
#include "NewMenu.h"
#include "NewMenuIcons.h"
#include "NewMenuStyle.h"
#include "Screenshot.h"

using namespace MenuEx;

namespace {

// A look of distinct colours, so every pixel tells where it came from.
struct FixedLook {
    SystemLook look;
    FixedLook(bool highContrast = false) {
        look.window = QColor(255, 255, 255);
        look.windowText = QColor(0, 0, 40);
        look.menu = look.menuBar = look.btnFace = QColor(240, 240, 240);
        look.menuText = QColor(10, 10, 10);
        look.highlight = QColor(51, 102, 204);
        look.highlightText = Qt::white;
        look.grayText = QColor(109, 109, 109);
        look.btnShadow = QColor(160, 160, 160);
        look.btnText = QColor(0, 80, 0);
        look.highContrast = highContrast;
        SetLookOverride(look);
    }
    ~FixedLook() { SetLookOverride(std::nullopt); }
    QColor Menu() const { return look.menuBar; }
    QColor Body() const { return Mix86(look.window, Menu()); }
    QColor Column() const { return Mix86(Menu(), look.window); }
};

QImage Paint(QSize size, const std::function<void(QPainter&)>& draw) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter p(&image);
    QFont font;
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::NoAntialias);
    p.setFont(font);
    draw(p);
    return image;
}

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// Columns holding a pixel of colour `c` inside `area`.
std::pair<int, int> Extent(const QImage& image, const QRect& area, QColor c) {
    int left = INT_MAX, right = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (At(image, x, y) == c) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

ItemPaint PopupItem(const FixedLook& fixed, QString text = "&Open\tCtrl+O") {
    ItemPaint item;
    item.rect = QRect(0, 0, 200, 22);
    item.text = text;
    item.iconWidth = 16;
    item.barColor = fixed.Menu();
    return item;
}

}  // namespace

TEST(MenuPaint, PopupItemColumnBodyAndText) {
    FixedLook fixed;
    const QImage image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, PopupItem(fixed)); });
    EXPECT_EQ(At(image, 0, 0), fixed.Column());
    EXPECT_EQ(At(image, 23, 21), fixed.Column()) << "the column is icon width + 8";
    EXPECT_EQ(At(image, 24, 0), fixed.Body());
    EXPECT_EQ(At(image, 199, 21), fixed.Body());
    const auto [left, right] = Extent(image, QRect(0, 0, 200, 22), fixed.look.menuText);
    EXPECT_GE(left, 24 + 4) << "the text starts 4 pixels from the column";
    EXPECT_LE(left, 24 + 4 + 2);
    EXPECT_LE(right, 200 - 15 - 1) << "the accelerator ends 15 pixels from the far edge";
    EXPECT_GE(right, 200 - 15 - 4);
}

TEST(MenuPaint, ItemStates) {
    FixedLook fixed;
    const QColor select = SelectionColor(fixed.look);
    ItemPaint selected = PopupItem(fixed);
    selected.selected = true;
    QImage image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, selected); });
    EXPECT_EQ(At(image, 5, 5), select) << "the selection covers the column too";
    EXPECT_EQ(At(image, 150, 3), select);
    for (QPoint corner : {QPoint(0, 0), QPoint(199, 21), QPoint(100, 0), QPoint(0, 11)})
        EXPECT_EQ(At(image, corner.x(), corner.y()), fixed.look.highlight) << corner.x() << "," << corner.y();

    ItemPaint disabled = PopupItem(fixed);
    disabled.disabled = true;
    image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, disabled); });
    EXPECT_GE(Extent(image, image.rect(), fixed.look.grayText).second, 0);
    EXPECT_EQ(Extent(image, image.rect(), fixed.look.menuText).second, -1);

    ItemPaint checked = PopupItem(fixed, "&Grid");
    checked.checked = true;
    image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, checked); });
    EXPECT_EQ(At(image, 1, 1), fixed.look.highlight) << "the check frame's outline";
    EXPECT_EQ(At(image, 3, 3), Mix86(fixed.Column(), fixed.look.highlight));
    int marked = 0;
    for (int y = 2; y < 20; ++y)
        for (int x = 2; x < 22; ++x)
            marked += At(image, x, y) != Mix86(fixed.Column(), fixed.look.highlight);
    EXPECT_GT(marked, 8) << "a check mark inside";
}

TEST(MenuPaint, SeparatorLine) {
    FixedLook fixed;
    ItemPaint sep = PopupItem(fixed, "");
    sep.separator = true;
    sep.rect = QRect(0, 0, 200, 7);
    const QImage image = Paint({200, 7}, [&](QPainter& p) { ActiveTheme().DrawItem(p, sep); });
    EXPECT_EQ(Extent(image, QRect(0, 3, 200, 1), fixed.look.grayText), std::make_pair(28, 199));
    EXPECT_EQ(At(image, 10, 3), fixed.Column());
    EXPECT_EQ(Extent(image, QRect(0, 2, 200, 1), fixed.look.grayText).second, -1) << "one pixel high";
}

TEST(MenuPaint, IconsByState) {
    FixedLook fixed;
    QImage strip(16, 15, QImage::Format_ARGB32);
    strip.fill(qRgba(200, 40, 40, 255));
    auto set = CNewMenuIcons::LoadToolBar("paint", {1, 16, 15, 1, 9}, strip, {}, fixed.Menu());
    ASSERT_TRUE(set);
    struct Case {
        const char* what;
        bool selected, disabled;
        QColor atCentre;
    } cases[] = {
        {"normal: darkened", false, false, QColor(200 * 205 / 255, 40 * 205 / 255, 40 * 205 / 255)},
        {"selected: the picture itself", true, false, QColor(200, 40, 40)},
        {"disabled", false, true, QColor(set->Image(2).pixel(5, 5))},
    };
    for (const Case& c : cases) {
        ItemPaint item = PopupItem(fixed);
        item.icons = set.get();
        item.iconIndex = 0;
        item.selected = c.selected;
        item.disabled = c.disabled;
        const QImage image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, item); });
        EXPECT_EQ(At(image, 3 + 8, 4 + 7), c.atCentre) << c.what;
    }
    ItemPaint out = PopupItem(fixed);
    out.icons = set.get();
    out.iconIndex = 3;  // one past the set
    const QImage image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, out); });
    EXPECT_EQ(At(image, 11, 11), fixed.Column()) << "an index out of range draws no icon";
}

TEST(MenuPaint, HighContrast) {
    FixedLook fixed(true);
    ItemPaint selected = PopupItem(fixed);
    selected.selected = true;
    QImage image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, selected); });
    EXPECT_EQ(At(image, 50, 3), fixed.look.highlight) << "the selection is the highlight colour";
    EXPECT_EQ(At(image, 0, 0), fixed.look.btnText) << "framed in button text";
    image = Paint({200, 22}, [&](QPainter& p) { ActiveTheme().DrawItem(p, PopupItem(fixed)); });
    EXPECT_GE(Extent(image, image.rect(), fixed.look.windowText).second, 0);
    EXPECT_EQ(Extent(image, image.rect(), fixed.look.menuText).second, -1);
}

TEST(MenuPaint, BorderAndJoint) {
    FixedLook fixed;
    const QSize size(100, 60);
    const QImage image = Paint(
        size, [&](QPainter& p) { ActiveTheme().PaintBorder(p, size, fixed.Menu(), QRect(10, 0, 30, 1)); });
    const QColor edge = Darken(fixed.Menu(), 128);
    for (QPoint p : {QPoint(0, 30), QPoint(99, 30), QPoint(60, 59), QPoint(9, 0), QPoint(40, 0)})
        EXPECT_EQ(At(image, p.x(), p.y()), edge) << p.x() << "," << p.y();
    EXPECT_EQ(At(image, 1, 1), fixed.Body()) << "the inner rectangle";
    EXPECT_EQ(At(image, 98, 30), fixed.Body());
    EXPECT_EQ(At(image, 1, 2), fixed.Column()) << "the column line from y 2";
    EXPECT_EQ(At(image, 1, 57), fixed.Column()) << "h - 4 high";
    EXPECT_EQ(At(image, 1, 58), fixed.Body());
    const QColor joint = Mix86(fixed.Menu(), fixed.look.window);
    EXPECT_EQ(At(image, 11, 0), joint);
    EXPECT_EQ(At(image, 38, 0), joint);
    EXPECT_EQ(At(image, 50, 50), QColor(Qt::magenta)) << "the client area is left to the background";
}

TEST(MenuPaint, PressedBarItemShade) {
    FixedLook fixed;
    ItemPaint bar;
    bar.menuBar = true;
    bar.rect = QRect(0, 0, 60, 20);
    bar.text = "&File";
    bar.selected = bar.pressed = true;
    bar.barColor = fixed.Menu();
    QImage image = Paint({60, 20}, [&](QPainter& p) { ActiveTheme().DrawItem(p, bar); });
    EXPECT_EQ(At(image, 0, 0), Darken(fixed.Menu(), 128));
    EXPECT_EQ(At(image, 3, 10), fixed.Column());
    struct Shade {
        int k, y;
    } shades[] = {{0, 2}, {0, 4}, {1, 5}, {3, 7}, {2, 12}, {3, 19}};
    for (const Shade& s : shades)
        EXPECT_EQ(At(image, 59 - s.k, s.y), Scale(fixed.Menu(), BarShadeFactor(s.k, s.y)))
            << s.k << "," << s.y;
    EXPECT_EQ(BarShadeFactor(1, 5), 249 - 6 - 12);
    EXPECT_EQ(BarShadeFactor(2, 12), 225 - 60);
    bar.pressed = false;  // the popup closed under the mouse: hot
    image = Paint({60, 20}, [&](QPainter& p) { ActiveTheme().DrawItem(p, bar); });
    EXPECT_EQ(At(image, 3, 10), SelectionColor(fixed.look));
    EXPECT_EQ(At(image, 0, 0), fixed.look.highlight);
    EXPECT_EQ(At(image, 58, 10), fixed.Menu()) << "no shade when only hot";
}

TEST(MenuStyle, ThemedPopupsBindWhileShownPlainOnesKeepTheirLook) {
    FixedLook fixed;
    CNewMenu menu;
    menu.AppendCommand(1, "&Open\tCtrl+O");
    menu.addSeparator();
    auto* sub = new CNewMenu(&menu);
    sub->setTitle("&More");
    sub->AppendCommand(2, "&Deeper");
    menu.addMenu(sub);
    menu.Synchronize();
    EXPECT_EQ(sub->ParentMenu(), &menu);

    menu.popup(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    EXPECT_TRUE(CNewMenuStyle::IsBound(&menu));
    EXPECT_FALSE(CNewMenuStyle::IsBound(sub));
    EXPECT_EQ(menu.contentsMargins(), QMargins(2, 2, 1, 2));
    sub->popup(QPoint(120, 20));
    EXPECT_TRUE(CNewMenuStyle::IsBound(sub)) << "the submenu binds to its own menu";
    EXPECT_EQ(menu.OpenPopups(), 1);
    const QImage shot = menu.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(0, shot.height() / 2)), Darken(fixed.Menu(), 128));
    EXPECT_EQ(QColor(shot.pixel(4, 4)), fixed.Column());
    SaveScreenshot(&menu, "themed-popup");
    sub->hide();
    EXPECT_FALSE(CNewMenuStyle::IsBound(sub));
    EXPECT_EQ(menu.OpenPopups(), 0);
    menu.hide();
    EXPECT_FALSE(CNewMenuStyle::IsBound(&menu)) << "unbound on hide";
    menu.popup(QPoint(30, 30));
    EXPECT_TRUE(CNewMenuStyle::IsBound(&menu)) << "bound again on its next show";
    menu.hide();

    QLineEdit edit("text");
    std::unique_ptr<QMenu> standard(edit.createStandardContextMenu());
    EXPECT_NE(standard->style(), CNewMenuStyle::Instance());
    standard->popup(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(standard.get()));
    EXPECT_FALSE(CNewMenuStyle::IsBound(standard.get()));
    EXPECT_NE(QColor(standard->grab().toImage().pixel(4, 4)), fixed.Column());
    SaveScreenshot(standard.get(), "lineedit-context-menu");
    SaveScreenshotAt(standard.get(), "lineedit-context-menu@2x", 2);
    standard->hide();
}

TEST(MenuPaint, WiderBordersWithoutSystemShadows) {
    FixedLook fixed;
    fixed.look.dropShadows = false;
    SetLookOverride(fixed.look);
    EXPECT_EQ(ActiveTheme().AdjustClientRect(), QMargins(2, 2, 5, 6))
        << "the popup is 4 pixels wider and taller";
    EXPECT_EQ(ActiveTheme().GetFrameRect(QSize(100, 50)), QRect(QPoint(2, 2), QPoint(92, 42)));
}
