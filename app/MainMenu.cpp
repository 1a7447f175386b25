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
        Item(CmdId::FilePrintPreview, "Print Pre&view"),
        Item(CmdId::FilePrintSetup, "P&rint Setup..."),
        Separator,
        Item(CmdId::AppExit, "E&xit"),
        End,
        Popup("&Edit"),
        Item(CmdId::SelectAll, "Select A&ll\tCtrl+A"),
        Item(CmdId::AddSelected, "Add &Selected Images"),
        Separator,
        Item(CmdId::RemoveSelected, "&Remove Image"),
        Item(CmdId::RemoveAll, "Remove All &Images"),
        Separator,
        Item(CmdId::PhotoInfo, "&Info..."),
        Item(CmdId::Info, "&Info..."),
        End,
        Popup("&View"),
        Item(CmdId::TaskAddImages, "1. Add Images"),
        Item(CmdId::TaskStitch, "2. Stitch"),
        Item(CmdId::TaskExport, "3. Export"),
        Separator,
        Item(CmdId::Stitch, "&Stitch"),
        Item(CmdId::Render, "&Render"),
        Separator,
        Item(CmdId::ZoomIn, "Zoom &In"),
        Item(CmdId::ZoomOut, "Zoom &Out"),
        Item(CmdId::ZoomFitWindow, "&Fit Window"),
        Item(CmdId::ZoomFitHeight, "Fit &Height"),
        Item(CmdId::ZoomFitWidth, "Fit &Width"),
        Item(CmdId::ZoomActual, "&Actual(1:1)"),
        Separator,
        Item(CmdId::ViewThumbnails, "&Thumbnails"),
        Item(CmdId::ViewList, "&List"),
        Item(CmdId::ViewDetails, "&Details"),
        Separator,
        Item(CmdId::SortDate, "Sort by &Date"),
        Item(CmdId::SortName, "Sort by &Name"),
        Item(CmdId::SortFormat, "Sort by &File Format"),
        Item(CmdId::SortSize, "Sort by File &Size"),
        Item(CmdId::SortDcf, "Sort by DCF File N&umber"),
        Separator,
        Item(CmdId::Refresh, "&Refresh\tF5"),
        Separator,
        Item(CmdId::AppOptions, "&Options..."),
        End,
        Popup("&Help"),
        Item(CmdId::HelpTopics, "&Help Topics"),
        Separator,
        Item(CmdId::CheckForUpdates, "Check for &Updates..."),
        Item(CmdId::HomePage, "Home &Page"),
        Separator,
        Item(CmdId::AppAbout, "&About..."),
        End,
    };
    return lines;
}

const MenuEx::AccelTable& Accelerators() {
    static const MenuEx::AccelTable table = {
        {A::VirtKey | A::Control, 'O', CmdId::FileOpen},  {A::VirtKey | A::Control, 'P', CmdId::FilePrint},
        {A::VirtKey | A::Control, 'A', CmdId::SelectAll}, {A::VirtKey, Qt::Key_F5, CmdId::Refresh},
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
