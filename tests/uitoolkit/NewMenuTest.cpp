// The themed menu model: display texts, mnemonics, icon sets, the colour
// rules, measuring and the theme records.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

#include "MenuLook.h"
#include "MenuTheme.h"
#include "NewFrame.h"
#include "NewMenu.h"
#include "NewMenuIcons.h"

using namespace MenuEx;

namespace {

using A = AccelEntry;

QImage Strip(int cells, QSize cell, QRgb colour = 0xff6496c8) {
    QImage image(cell.width() * cells, cell.height(), QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

std::vector<uint16_t> Words(int w, int h, std::vector<uint16_t> ids) {
    std::vector<uint16_t> words = {1, uint16_t(w), uint16_t(h), uint16_t(ids.size())};
    words.insert(words.end(), ids.begin(), ids.end());
    return words;
}

}  // namespace

TEST(MenuText, AcceleratorTexts) {
    const AccelTable table = {{A::VirtKey | A::Control, 'O', 57601},
                              {A::VirtKey, Qt::Key_F3, 57601},
                              {A::VirtKey | A::Alt | A::Control | A::Shift, 'S', 57603},
                              {A::VirtKey | A::Control, 0x01ffffff, 57604},
                              {A::VirtKey | A::Control, 'E', 57604}};
    struct Case {
        QString text;
        uint32_t id;
        bool popup;
        const AccelTable* table;
        QString expected;
    } cases[] = {
        {"&Open", 57601, false, &table, "&Open\tCtrl+O, F3"},
        {"&Save", 57603, false, &table, "&Save\tAlt+Ctrl+Shift+S"},
        {"E&xport", 57604, false, &table, "E&xport\tCtrl+E"},  // the unknown key is skipped
        {"&Own\tF9", 57601, false, &table, "&Own\tF9"},
        {"&Own\tF9", 57601, false, nullptr, "&Own"},
        {"&File", 57601, true, &table, "&File"},
        {"&Other", 1, false, &table, "&Other"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DisplayText(c.text, c.id, c.popup, c.table), c.expected) << c.text.toStdString();
}

TEST(MenuText, FirstMatchingMnemonicWhateverTheCase) {
    CNewMenu menu;
    menu.AppendCommand(1, "&File");
    menu.AppendCommand(2, "&open");
    menu.AppendCommand(3, "Save &As");
    menu.AppendCommand(4, "&Other");
    EXPECT_EQ(menu.OnMenuChar('O'), (2 << 16) | 1);
    EXPECT_EQ(menu.OnMenuChar('a'), (2 << 16) | 2);
    EXPECT_EQ(menu.OnMenuChar('x'), 0);
    // A new item is found after re-synchronising.
    menu.addAction("&Xtra");
    EXPECT_EQ(menu.OnMenuChar('x'), (2 << 16) | 4);
}

TEST(MenuText, TypedMnemonicRunsTheFirstMatch) {
    CNewMenu menu;
    QAction* first = menu.AppendCommand(1, "&Open");
    QAction* second = menu.AppendCommand(2, "&Other");
    int ran = 0;
    QObject::connect(first, &QAction::triggered, [&] { ran = 1; });
    QObject::connect(second, &QAction::triggered, [&] { ran = 2; });
    menu.popup(QPoint(10, 10));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_O, Qt::NoModifier, "o");
    QApplication::sendEvent(&menu, &key);
    EXPECT_EQ(ran, 1);
}

TEST(MenuIcons, ToolbarIdsIndexAndSharing) {
    const int before = CNewMenuIcons::SetCount();
    auto set = CNewMenuIcons::LoadToolBar("t1", Words(16, 15, {57600, 0, 57601, 57603, 57600}),
                                          Strip(4, {16, 15}), {}, Qt::lightGray);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->CommandIds(), (std::vector<uint32_t>{57600, 57601, 57603, 57600}));
    EXPECT_EQ(set->GetIndex(57601), 3);
    EXPECT_EQ(set->GetIndex(57600), 9) << "searched from the last button";
    EXPECT_EQ(set->GetIndex(1), -1);
    EXPECT_EQ(set->ImageCount(), 12);
    EXPECT_EQ(CNewMenuIcons::LoadToolBar("t1", {}, {}, {}, Qt::lightGray), set)
        << "the same resource, the same set";
    EXPECT_EQ(CNewMenuIcons::SetCount(), before + 1);
    set.reset();
    EXPECT_EQ(CNewMenuIcons::SetCount(), before) << "the last reference takes the set off the list";
    EXPECT_FALSE(CNewMenuIcons::Find("t1"));
}

TEST(MenuIcons, DamagedToolbarsGiveNoIcons) {
    const QImage ok = Strip(2, {16, 15});
    struct Case {
        const char* what;
        std::vector<uint16_t> words;
        QImage image;
    } cases[] = {
        {"truncated header", {1, 16, 15}, ok},
        {"count beyond the data", {1, 16, 15, 3, 10, 11}, ok},
        {"zero width", Words(0, 15, {10, 11}), ok},
        {"no bitmap", Words(16, 15, {10, 11}), QImage()},
        {"bitmap narrower than the buttons", Words(16, 15, {10, 11, 12}), ok},
        {"bitmap lower than the buttons", Words(16, 20, {10, 11}), ok},
    };
    for (const Case& c : cases) {
        CNewMenu menu;
        menu.AppendCommand(10, "&Ten");
        EXPECT_FALSE(menu.LoadToolBar(QString("bad-") + c.what, c.words, c.image)) << c.what;
        EXPECT_EQ(menu.FindItem(10)->m_nMenuIconOffset, -1) << c.what;
        EXPECT_EQ(menu.IconWidth(), kDefaultIconWidth) << c.what;
    }
}

TEST(MenuIcons, ACommandInTwoSubmenusGetsTheIconInBoth) {
    QAction open("Open");
    open.setObjectName("57601");
    QAction save("Save");
    save.setObjectName("57603");
    const std::vector<MenuLine> lines = {{MenuLine::Popup, 0, "&File"},
                                         {MenuLine::Item, 57601, "&Open"},
                                         {MenuLine::Item, 57603, "&Save"},
                                         {MenuLine::End},
                                         {MenuLine::Popup, 0, "&Again"},
                                         {MenuLine::Item, 57601, "&Open"},
                                         {MenuLine::End}};
    CNewMenu bar;
    ASSERT_TRUE(bar.LoadMenu(lines, [&](uint32_t id) {
        return id == 57601 ? &open : id == 57603 ? &save : nullptr;
    }));
    EXPECT_TRUE(bar.IsMenuBar());
    ASSERT_EQ(bar.SubMenus().size(), 2u);
    EXPECT_EQ(bar.IconWidth(), 16);
    EXPECT_EQ(bar.IconHeight(), 15);
    ASSERT_TRUE(bar.LoadToolBar("two", Words(20, 18, {57603, 57601}), Strip(2, {20, 18})));
    for (CNewMenu* sub : bar.SubMenus()) {
        EXPECT_EQ(sub->ParentMenu(), &bar);
        EXPECT_TRUE(sub->IsPopup());
        CNewMenuItemData* item = sub->FindItem(57601);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->m_nMenuIconOffset, 3);
        EXPECT_EQ(sub->IconWidth(), 20) << "the icon size grows to the set's";
        EXPECT_EQ(sub->IconHeight(), 18);
    }
    EXPECT_EQ(bar.FindItem(57603)->m_nMenuIconOffset, 0);
}

TEST(MenuTemplate, ItemsWithoutActionsLeaveNoGapsOrEmptyPopups) {
    QAction a("A"), b("B");
    a.setObjectName("1");
    b.setObjectName("2");
    const std::vector<MenuLine> lines = {{MenuLine::Popup, 0, "&One"},
                                         {MenuLine::Separator},
                                         {MenuLine::Item, 1, "&A"},
                                         {MenuLine::Separator},
                                         {MenuLine::Item, 99, "&Missing"},
                                         {MenuLine::Separator},
                                         {MenuLine::Item, 2, "&B"},
                                         {MenuLine::Separator},
                                         {MenuLine::End},
                                         {MenuLine::Popup, 0, "&Empty"},
                                         {MenuLine::Item, 98, "&Gone"},
                                         {MenuLine::End}};
    CNewMenu bar;
    ASSERT_TRUE(bar.LoadMenu(lines, [&](uint32_t id) { return id == 1 ? &a : id == 2 ? &b : nullptr; }));
    ASSERT_EQ(bar.SubMenus().size(), 1u);
    const auto& items = bar.SubMenus()[0]->Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->m_nID, 1u);
    EXPECT_TRUE(items[1]->IsSeparator());
    EXPECT_EQ(items[2]->m_nID, 2u);
    EXPECT_FALSE(CNewMenu().LoadMenu({}, [](uint32_t) { return nullptr; }));
}

TEST(MenuIcons, ThreePicturesPerButtonOnFixedPixels) {
    QImage cell(2, 1, QImage::Format_ARGB32);
    cell.setPixel(0, 0, qRgba(100, 150, 200, 255));
    cell.setPixel(1, 0, qRgba(30, 60, 90, 0));
    const QImage dark = CNewMenuIcons::Darkened(cell);
    EXPECT_EQ(dark.pixel(0, 0), qRgba(100 * 205 / 255, 150 * 205 / 255, 200 * 205 / 255, 255));
    EXPECT_EQ(qAlpha(dark.pixel(1, 0)), 0) << "transparency is kept";
    const QColor menu(200, 100, 0);
    const QImage off = CNewMenuIcons::Disabled(cell, menu);
    const QColor tint = Lighten(menu, 115);
    const int grey = (100 + 150 + 200) / 3;
    EXPECT_EQ(off.pixel(0, 0),
              qRgba((grey * 110 + tint.red() * 145) / 255, (grey * 110 + tint.green() * 145) / 255,
                    (grey * 110 + tint.blue() * 145) / 255, 255));
}

TEST(MenuIcons, OutOfRangeIndexDrawsNothing) {
    auto set =
        CNewMenuIcons::LoadToolBar("range", Words(4, 4, {1}), Strip(1, {4, 4}, 0xffff0000), {}, Qt::gray);
    ASSERT_TRUE(set);
    QImage target(4, 4, QImage::Format_ARGB32);
    for (int index : {-1, 3, 100}) {
        target.fill(Qt::white);
        QPainter p(&target);
        set->Draw(p, index, QRect(0, 0, 4, 4));
        p.end();
        EXPECT_EQ(target.pixel(1, 1), qRgb(255, 255, 255)) << index;
    }
}

TEST(MenuColours, Rules) {
    const QColor c(100, 200, 250), d(0, 50, 255);
    struct Case {
        const char* what;
        QColor got, expected;
    } cases[] = {
        {"lighten", Lighten(c, 115),
         QColor(100 + 155 * 115 / 255, 200 + 55 * 115 / 255, 250 + 5 * 115 / 255)},
        {"lighten full", Lighten(c, 255), QColor(255, 255, 255)},
        {"darken", Darken(c, 128), QColor(100 * 127 / 255, 200 * 127 / 255, 250 * 127 / 255)},
        {"mix86", Mix86(c, d),
         QColor((100 * 86) / 100, (200 * 86 + 50 * 14) / 100, (250 * 86 + 255 * 14) / 100)},
        {"mix70", Mix70(c, d),
         QColor((100 * 70) / 100, (200 * 70 + 50 * 30) / 100, (250 * 70 + 255 * 30) / 100)},
        {"icon shadow", IconShadow(c), QColor(70, 140, 178)},
        {"icon shadow clamps", IconShadow(QColor(255, 255, 240)), QColor(178, 178, 178)},
    };
    for (const Case& k : cases)
        EXPECT_EQ(k.got, k.expected) << k.what;
}

TEST(MenuColours, SelectionAndColumnByDisplay) {
    SystemLook base;
    base.window = QColor(255, 255, 255);
    base.btnFace = QColor(212, 208, 200);
    base.menuBar = QColor(236, 233, 216);
    const QColor light(200, 200, 100), dark(10, 36, 106);
    struct Case {
        const char* what;
        QColor highlight;
        bool highContrast, themeActive;
        int colours;
        QColor expected;
    } cases[] = {
        {"high contrast", light, true, false, 1 << 24, light},
        {"light highlight", light, false, false, 1 << 24, Mix86(base.window, light)},
        {"light highlight, styles on", light, false, true, 1 << 24, Mix70(base.window, light)},
        {"dark highlight", dark, false, false, 1 << 24, Mix70(base.window, dark)},
        {"256 colours", dark, false, false, 256, base.window},
    };
    for (const Case& c : cases) {
        SystemLook look = base;
        look.highlight = c.highlight;
        look.highContrast = c.highContrast;
        look.themeActive = c.themeActive;
        look.colorCount = c.colours;
        EXPECT_EQ(SelectionColor(look), c.expected) << c.what;
    }
    SystemLook few = base;
    few.colorCount = 256;
    EXPECT_EQ(BodyAndColumn(few, base.menuBar).column, base.btnFace) << "the column is button face";
    // Two colours the display cannot tell apart fall back to window and menu.
    const BodyColumn same = BodyAndColumn(base, base.window);
    EXPECT_EQ(same.body, base.window);
    EXPECT_EQ(same.column, base.window);
    EXPECT_EQ(BarColor(base, QColor(1, 2, 3)), QColor(1, 2, 3)) << "a menu's own brush wins";
    EXPECT_EQ(MenuColor(base, std::nullopt), base.menuBar) << "flat menus take the bar's colour";
}

TEST(MenuMeasure, ItemSizes) {
    QFont font;
    const QFontMetrics fm(font);
    const int th = fm.height();
    auto w = [&](const QString& s) { return fm.horizontalAdvance(s); };
    struct Case {
        const char* what;
        MeasureInput in;
        QSize expected;
    } cases[] = {
        {"separator", {"", false, false, true, 16, 15, 20}, QSize(3, 3)},
        {"popup item, tab as nnn",
         {"&Open\tCtrl+O", false, false, false, 16, 15, 20},
         QSize(10 + 16 + w("&OpennnnCtrl+O") + 6, std::max(22, th))},
        {"submenu item",
         {"&More", false, true, false, 16, 15, 20},
         QSize(20 + 16 + w("&More") + 6, std::max(22, th))},
        {"tall bar metric",
         {"&Open", false, false, false, 16, 15, 30},
         QSize(15 + 16 + w("&Open") + 6, std::max(30, th))},
        {"bar item with a mnemonic",
         {"&File", true, false, false, 16, 15, 20},
         QSize(w("&File") - 6, std::max({17, 20, th}))},
        {"bar item without",
         {"Help", true, false, false, 24, 24, 20},
         QSize(w("Help"), std::max({26, 20, th}))},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MeasureItemXP(c.in, fm), c.expected) << c.what;
}

TEST(MenuThemes, TwelveRecordsAndTheActiveOne) {
    const auto& themes = Themes();
    ASSERT_EQ(themes.size(), 12u);
    const int order[] = {6, 7, 0, 1, 2, 3, 8, 9, 10, 11, 4, 5};
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(themes[i]->Id(), order[i]);
        EXPECT_EQ(themes[i]->HasOwnBorder(), order[i] % 2 == 0) << order[i];
        const std::string cls = themes[i]->ClassName();
        const int id = order[i];
        const char* expected = (id == 2 || id == 3 || id == 10 || id == 11) ? "CMenuThemeXP"
                               : (id == 8 || id == 9)                       ? "CMenuTheme2003"
                                                                            : "CMenuTheme";
        EXPECT_EQ(cls, expected) << id;
    }
    EXPECT_EQ(ActiveTheme().Id(), 2);
    EXPECT_EQ(ActiveTheme().AdjustClientRect(), QMargins(2, 2, 1, 2)) << "drop shadows on";
    EXPECT_EQ(ActiveTheme().GetFrameRect(QSize(100, 50)), QRect(QPoint(2, 2), QPoint(96, 46)));
}

TEST(MenuFrame, ColourChangesRefreshIconsOnceInTwoSeconds) {
    auto set =
        CNewMenuIcons::LoadToolBar("throttle", Words(2, 1, {7}), Strip(1, {2, 1}, 0xff808080), {}, Qt::white);
    ASSERT_TRUE(set);
    const QImage before = set->Image(2);
    CColorChangeThrottle throttle;
    EXPECT_TRUE(throttle.Refresh(10000, Qt::black));
    const QImage afterFirst = set->Image(2);
    EXPECT_NE(afterFirst, before) << "the disabled picture follows the new menu colour";
    EXPECT_FALSE(throttle.Refresh(11999, Qt::red));
    EXPECT_EQ(set->Image(2), afterFirst);
    EXPECT_TRUE(throttle.Refresh(12000, Qt::red));
}
