// The main frame's menu bar: built from the menu resource over the frame's
// actions, so each item runs and is enabled exactly like its button.
#include <QKeySequence>
#include <map>

#include "CommandIds.h"
#include "MainFrame.h"
#include "MainMenu.h"

namespace {

QKeySequence SequenceOf(const MenuEx::AccelEntry& e) {
    int key = e.key;
    if (e.flags & MenuEx::AccelEntry::Alt)
        key |= Qt::ALT;
    if (e.flags & MenuEx::AccelEntry::Control)
        key |= Qt::CTRL;
    if (e.flags & MenuEx::AccelEntry::Shift)
        key |= Qt::SHIFT;
    return QKeySequence(key);
}

}  // namespace

void CMainFrame::CreateMenuBar() {
    // The shortcuts come from the same table as the texts beside the items.
    std::map<int, QList<QKeySequence>> keys;
    for (const MenuEx::AccelEntry& e : MainMenu::Accelerators())
        keys[int(e.command)] << SequenceOf(e);
    for (const auto& [id, sequences] : keys)
        if (QAction* action = Action(id))
            action->setShortcuts(sequences);
    // The task items show which task is on.
    for (int id : {CmdId::TaskAddImages, CmdId::TaskStitch, CmdId::TaskExport, CmdId::ViewThumbnails,
                   CmdId::ViewList, CmdId::ViewDetails})
        Action(id)->setCheckable(true);

    LoadFrameMenu(
        MainMenu::Template(), [this](uint32_t id) { return Action(int(id)); }, &MainMenu::Accelerators());
    for (MenuEx::CNewMenu* popup : DefaultMenu().SubMenus())
        TrackMenu(popup);
    MainMenu::AttachToolBarIcons(DefaultMenu());
}
