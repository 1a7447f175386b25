// The main frame's menu bar: every command of the frame under it, each item
// the frame's own action (so it runs and is enabled like its button), the
// texts with their accelerators, the toolbar icons; screenshots of the open
// "File" menu and of the picture view's context menu.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "CommandIds.h"
#include "MainFrame.h"
#include "MainMenu.h"
#include "NewMenu.h"
#include "NewMenuStyle.h"
#include "OvHorizelApp.h"
#include "OvHorizelView.h"
#include "PictureView.h"
#include "Profile.h"
#include "Screenshot.h"
#include "UiServices.h"
#include "WaitForJobs.h"

namespace {

struct Started {
    QTemporaryDir dir;
    COvHorizelApp app;
    Started() {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        UiServices::SetMessageHandler([](QWidget*, const QString&, const QString&) {});
        std::vector<std::string> files;
        for (int i = 1; i <= 3; ++i)
            files.push_back(std::string(OVH_SAMPLES_DIR) + "/boat-row/boat" + std::to_string(i) + ".jpg");
        app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", files);
        WaitForJobs(app.GetMainFrame()->Document());
    }
    ~Started() {
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
};

// Command id -> item record of every command item under the bar.
std::multimap<uint32_t, const MenuEx::CNewMenuItemData*> Walk(const MenuEx::CNewMenu& menu) {
    std::multimap<uint32_t, const MenuEx::CNewMenuItemData*> items;
    for (const auto& record : menu.Items())
        if (!record->IsSeparator() && !record->IsPopup())
            items.emplace(record->m_nID, record.get());
    for (const MenuEx::CNewMenu* sub : menu.SubMenus())
        items.merge(Walk(*sub));
    return items;
}

// The frame with its open popup drawn where the screen shows it.
void SaveWithPopup(CMainFrame& frame, QMenu* popup, const QString& name) {
    const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - frame.mapToGlobal(QPoint(0, 0));
    QImage image(QSize(frame.width(), at.y() + popup->height() + 8), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    frame.render(&p);
    popup->render(&p, at);
    p.end();
    QDir().mkpath(OVH_SCREENSHOT_DIR);
    image.save(QString(OVH_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace

TEST(MainMenu, EveryCommandOnceUnderTheBarAsTheFramesAction) {
    Started s;
    CMainFrame& f = s.frame();
    MenuEx::CNewMenuBar* bar = f.NewMenuBar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(f.menuBar(), bar);
    QStringList titles;
    for (const MenuEx::CNewMenu* sub : bar->Model()->SubMenus())
        titles << sub->title();
    EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&View", "&Help"}));

    const auto items = Walk(*bar->Model());
    for (const auto& [id, record] : items) {
        EXPECT_EQ(items.count(id), 1u) << "command " << id << " appears once";
        EXPECT_EQ(record->m_pAction, f.Action(int(id))) << "command " << id << " is the frame's action";
    }
    // Every command of the frame's table; the toolbar's "Home" has its
    // menu twin "Home Page".
    for (QAction* action : f.actions()) {
        bool numeric = false;
        const int id = action->objectName().toInt(&numeric);
        if (!numeric || id == CmdId::Home)
            continue;
        EXPECT_EQ(items.count(uint32_t(id)), 1u) << "command " << id << " is under the menu bar";
    }
    // The toolbar buttons carry the very actions the items show.
    for (int id : {CmdId::FileOpen, CmdId::FilePrint})
        EXPECT_TRUE(f.MainToolBar()->actions().contains(items.find(uint32_t(id))->second->m_pAction)) << id;
}

TEST(MainMenu, ItemsAreEnabledByTheCommandRules) {
    Started s;
    CMainFrame& f = s.frame();
    for (int task : {1, 2}) {
        f.SetTask(task);
        for (MenuEx::CNewMenu* popup : f.NewMenuBar()->Model()->SubMenus()) {
            emit popup->aboutToShow();
            for (const auto& record : popup->Items()) {
                if (record->IsSeparator())
                    continue;
                const CCmdUI ui = f.Router().Update(int(record->m_nID));
                EXPECT_EQ(record->m_pAction->isEnabled(), ui.enabled)
                    << "task " << task << ", " << record->m_nID;
                if (record->m_pAction->isCheckable()) {
                    EXPECT_EQ(record->m_pAction->isChecked(), ui.checked != 0) << record->m_nID;
                }
            }
        }
        EXPECT_TRUE(f.Action(CmdId::TaskAddImages)->isChecked() == (task == 1));
    }
    // "&Render" needs a result and task 2 or 3: off after adding photos.
    EXPECT_FALSE(f.Action(CmdId::Render)->isEnabled());
}

TEST(MainMenu, TextsAcceleratorsAndIcons) {
    Started s;
    CMainFrame& f = s.frame();
    const MenuEx::CNewMenu& model = *f.NewMenuBar()->Model();
    MenuEx::CNewMenu* file = model.FindMenuOfItem(CmdId::FileOpen);
    ASSERT_TRUE(file);
    const MenuEx::AccelTable* table = file->Accelerators();
    EXPECT_EQ(file->FindItem(CmdId::FileOpen)->GetString(table), "&Add Images...\tCtrl+O");
    EXPECT_EQ(file->FindItem(CmdId::AppExit)->GetString(table), "E&xit\tCtrl+Q")
        << "from the accelerator table";
    EXPECT_EQ(f.Action(CmdId::AppExit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(f.Action(CmdId::FileOpen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    struct Icon {
        int id, index;
    } icons[] = {{CmdId::FileOpen, 0}, {CmdId::FileSave, 3}, {CmdId::FileSaveAs, 6}, {CmdId::FilePrint, 9},
                 {CmdId::ZoomIn, 12},  {CmdId::ZoomOut, 15}, {CmdId::HomePage, 18}};
    for (const Icon& icon : icons) {
        const MenuEx::CNewMenuItemData* item = model.FindItem(uint32_t(icon.id));
        ASSERT_TRUE(item) << icon.id;
        EXPECT_TRUE(item->m_pMenuIcon) << icon.id;
        EXPECT_EQ(item->m_nMenuIconOffset, icon.index) << icon.id;
    }
    EXPECT_EQ(model.FindItem(CmdId::RemoveAll)->m_nMenuIconOffset, -1);
    EXPECT_EQ(file->IconWidth(), 16);
    // The menu's mnemonic picks the first match.
    EXPECT_EQ(file->OnMenuChar('x') & 0xffff, file->actions().indexOf(f.Action(CmdId::AppExit)));
}

TEST(MainMenu, OpenFileMenuAndPictureViewMenuScreenshots) {
    Started s;
    CMainFrame& f = s.frame();
    f.resize(900, 760);
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.SetTask(1);
    MenuEx::CNewMenuBar* bar = f.NewMenuBar();
    MenuEx::CNewMenu* file = bar->Model()->SubMenus()[0];
    bar->setActiveAction(file->menuAction());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
    EXPECT_TRUE(MenuEx::CNewMenuStyle::IsBound(file));
    EXPECT_EQ(bar->Model()->OpenPopups(), 1);
    bar->repaint();
    EXPECT_FALSE(bar->Model()->MenubarItemRect().isEmpty())
        << "the open bar item keeps its place for the joint";
    SaveWithPopup(f, file, "mainframe-file-menu");
    SaveScreenshot(file, "file-menu");
    SaveScreenshotAt(file, "file-menu@2x", 2);
    file->hide();
    EXPECT_EQ(bar->Model()->OpenPopups(), 0);

    f.SetTask(2);
    std::unique_ptr<QMenu> context(f.View()->PictureView()->CreateContextMenu(&f));
    auto* themed = qobject_cast<MenuEx::CNewMenu*>(context.get());
    ASSERT_TRUE(themed);
    EXPECT_EQ(themed->FindItem(CmdId::ZoomIn)->m_nMenuIconOffset, 12) << "the same icon set as the bar's";
    context->popup(f.mapToGlobal(QPoint(300, 300)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(context.get()));
    SaveScreenshot(context.get(), "pictureview-context-menu");
    SaveScreenshotAt(context.get(), "pictureview-context-menu@2x", 2);
    context->hide();
}
