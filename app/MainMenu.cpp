#include "MainMenu.h"

#include <QFileInfo>

#include "Bitmap32.h"
#include "CommandIds.h"
#include "SkinAccess.h"

namespace MainMenu {

namespace {

using L = MenuEx::MenuLine;
using A = MenuEx::AccelEntry;

constexpr L Popup(const char* text) {
    return {L::Popup, 0, text};
}
constexpr L Item(uint32_t id, const char* text) {
    return {L::Item, id, text};
}
constexpr L Separator{L::Separator, 0, ""};
constexpr L End{L::End, 0, ""};

}  // namespace

const std::vector<MenuEx::MenuLine>& Template() {
    static const std::vector<MenuEx::MenuLine> lines = {
        Popup("&File"),
        Item(CmdId::FileOpen, "&Add Images...\tCtrl+O"),
        Separator,
        Item(CmdId::FileSave, "&Save"),
        Item(CmdId::FileSaveAs, "Export..."),
        Separator,
        Item(CmdId::FilePrint, "&Print\tCtrl+P"),
        Item(57609, "Print Pre&view"),
        Item(57606, "P&rint Setup..."),
        Separator,
        Item(CmdId::AppExit, "E&xit"),
        End,
        Popup("&Edit"),
        Item(32791, "Select A&ll\tCtrl+A"),
        Item(CmdId::AddSelected, "Add &Selected Images"),
        Separator,
        Item(CmdId::RemoveSelected, "&Remove Image"),
        Item(CmdId::RemoveAll, "Remove All &Images"),
        Separator,
        Item(32836, "&Info..."),
        Item(32801, "&Info..."),
        End,
        Popup("&View"),
        Item(CmdId::TaskAddImages, "1. Add Images"),
        Item(CmdId::TaskStitch, "2. Stitch"),
        Item(CmdId::TaskExport, "3. Export"),
        Separator,
        Item(32823, "&Stitch"),
        Item(32822, "&Render"),
        Separator,
        Item(CmdId::ZoomIn, "Zoom &In"),
        Item(CmdId::ZoomOut, "Zoom &Out"),
        Item(CmdId::ZoomFitWindow, "&Fit Window"),
        Item(CmdId::ZoomFitHeight, "Fit &Height"),
        Item(CmdId::ZoomFitWidth, "Fit &Width"),
        Item(CmdId::ZoomActual, "&Actual(1:1)"),
        Separator,
        Item(32820, "&Thumbnails"),
        Item(59411, "&List"),
        Item(32821, "&Details"),
        Separator,
        Item(32793, "Sort by &Date"),
        Item(32794, "Sort by &Name"),
        Item(32795, "Sort by &File Format"),
        Item(32796, "Sort by File &Size"),
        Item(32839, "Sort by DCF File N&umber"),
        Separator,
        Item(32818, "&Refresh\tF5"),
        Separator,
        Item(32829, "&Options..."),
        End,
        Popup("&Help"),
        Item(57667, "&Help Topics"),
        Separator,
        Item(32850, "Check for &Updates..."),
        Item(CmdId::HomePage, "Home &Page"),
        Separator,
        Item(CmdId::AppAbout, "&About..."),
        End,
    };
    return lines;
}

const MenuEx::AccelTable& Accelerators() {
    static const MenuEx::AccelTable table = {
        {A::VirtKey | A::Control, 'O', CmdId::FileOpen}, {A::VirtKey | A::Control, 'P', CmdId::FilePrint},
        {A::VirtKey | A::Control, 'A', 32791},           {A::VirtKey, Qt::Key_F5, 32818},
        {A::VirtKey | A::Control, 'Q', CmdId::AppExit},
    };
    return table;
}

const std::vector<uint16_t>& ToolBarData() {
    static const std::vector<uint16_t> words = {
        1,
        16,
        16,
        7,
        CmdId::FileOpen,
        CmdId::FileSave,
        CmdId::FileSaveAs,
        CmdId::FilePrint,
        CmdId::ZoomIn,
        CmdId::ZoomOut,
        CmdId::HomePage,
    };
    return words;
}

bool AttachToolBarIcons(MenuEx::CNewMenu& menu) {
    const QString path = Skin::ImagePath("MENU TOOLBAR", "STANDARD");
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString twice = info.path() + "/" + info.completeBaseName() + "@2x." + info.suffix();
    return menu.LoadToolBar(path, ToolBarData(), Bitmap32::LoadSkinPicture(path),
                            QFileInfo::exists(twice) ? Bitmap32::LoadSkinPicture(twice) : QImage());
}

}  // namespace MainMenu
