// The thumbnail pane towards the user: keys, mouse and rubber band, the
// context menu, drops and the clipboard, the in-place rename and the delete
// to the trash, driven through the browser on an offscreen pane.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <fstream>

#include "BrowserFixture.h"
#include "BrowserSettings.h"
#include "CImgThumbsBrowser.h"
#include "CPopupEdit.h"
#include "CThumbsBrowserProgress.h"
#include "CThumbsView.h"
#include "CTreeDropTarget.h"
#include "CommandIds.h"
#include "FileOperations.h"
#include "FolderFiles.h"
#include "PopupCloser.h"
#include "Screenshot.h"
#include "SerialDragDrop.h"
#include "ShellNamespace.h"
#include "TestData.h"

using namespace BrowserFixture;
namespace fs = std::filesystem;

namespace {

// Records questions; answers them as told.
class InteractionHost : public RecordingHost {
public:
    bool AskYesNo(const std::string&) override {
        ++asked;
        return answer;
    }
    bool ConfirmPermanentDelete(const std::vector<std::string>&) override { return answer; }
    int asked = 0;
    bool answer = true;
};

// Starts drags of its own items without a platform drag loop.
class OwnDragBrowser : public CImgThumbsBrowser {
public:
    using CImgThumbsBrowser::CImgThumbsBrowser;
    using CThumbsBrowser::SetOwnDrag;
};

// A folder inside the test's scratch folder (two scratch folders of one test
// would be the same folder).
struct Folder {
    std::string root;
    std::string operator/(const std::string& name) const { return root + "/" + name; }
    fs::path path() const { return root; }
};

// A browser whose folder lies on a camera card.
class CameraBrowser : public CImgThumbsBrowser {
public:
    using CImgThumbsBrowser::CImgThumbsBrowser;

protected:
    bool IsOnRemovableMedia(const std::string&) const override { return true; }
};

class ThumbsInteraction : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCache();
        g_nThumbnailSize = 57;  // cells of 137 x 126: 5 columns, 3 rows a page
        g_bThumbsListMode = 0;
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        builder.Stop();
        ClearCache();
        QGuiApplication::clipboard()->clear();
    }
    // count files IMG_00NN.jpg, in name order.
    template <class Where>
    void Fill(int count, const Where& where) {
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.jpg", i);
            WriteFile(where / name);
        }
    }
    template <class Where>
    void Open(CThumbsBrowser& browser, const Where& where) {
        browser.SetSortMode(0);
        browser.OpenFolder("0," + where.path().string());
    }
    Folder Sub(const char* name) {
        fs::create_directories(dir.path() / name);
        return Folder{(dir.path() / name).string()};
    }
    static std::vector<int> Selection(const CThumbsBrowser& browser) {
        std::vector<int> selected;
        for (int i = 0; i < browser.ItemCount(); ++i)
            if (browser.IsSelected(i))
                selected.push_back(i);
        return selected;
    }
    static void Select(CThumbsBrowser& browser, std::initializer_list<int> indices) {
        browser.DeselectAll();
        for (int i : indices)
            browser.SetSelected(i, true);
    }
    static std::vector<std::string> Names(const CThumbsBrowser& browser) {
        std::vector<std::string> names;
        for (const CItem& item : browser.Items())
            names.push_back(fs::path(item.path).filename().string());
        return names;
    }
    // The middle of item index's picture, in the pane's client coordinates.
    static QPoint Centre(const CThumbsBrowser& browser, int index, const Pane& pane) {
        return browser.GetItemRect(index, pane.width()).translated(-pane.m_scroll).center() - QPoint(0, 15);
    }

    SettingsGuard settings;
    InteractionHost host;
    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
};

void KeyClick(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

std::vector<int> Range(int from, int to) {
    std::vector<int> r;
    for (int i = from; i <= to; ++i)
        r.push_back(i);
    return r;
}

}  // namespace

TEST_F(ThumbsInteraction, KeysMoveAndExtendTheSelection) {
    struct Case {
        std::vector<int> before;
        int key;
        bool shift;
        std::vector<int> after;
    };
    const Case cases[] = {
        {{}, Qt::Key_Right, false, {0}},  // nothing selected: item 0
        {{}, Qt::Key_End, false, {19}},
        {{19}, Qt::Key_Right, false, {19}},   // the last stays
        {{0}, Qt::Key_Left, false, {0}},      // item 0 stays
        {{4, 5}, Qt::Key_Left, false, {3}},   // one before the first
        {{4, 5}, Qt::Key_Right, false, {6}},  // one after the last
        {{7}, Qt::Key_Up, false, {2}},        // a row is five columns
        {{2}, Qt::Key_Down, false, {7}},
        {{18}, Qt::Key_Down, false, {19}},  // not beyond the last
        {{1}, Qt::Key_Up, false, {0}},
        {{0}, Qt::Key_PageDown, false, {15}},  // three rows fit in the pane
        {{19}, Qt::Key_PageUp, false, {4}},
        {{3}, Qt::Key_End, true, Range(3, 19)},  // Shift+End from item 3
        {{5}, Qt::Key_Home, true, Range(0, 5)},
        {{3, 4}, Qt::Key_Left, true, Range(2, 4)},
    };
    Fill(20, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);
    ASSERT_EQ(browser.GetColumns(pane.width()), 5);
    for (const Case& c : cases) {
        browser.DeselectAll();
        for (int i : c.before)
            browser.SetSelected(i, true);
        EXPECT_TRUE(browser.OnKeyDown(c.key, c.shift ? Qt::ShiftModifier : Qt::NoModifier));
        EXPECT_EQ(Selection(browser), c.after)
            << "key " << c.key << " from " << (c.before.empty() ? -1 : c.before[0]);
    }
    EXPECT_FALSE(browser.OnKeyDown(Qt::Key_A, Qt::NoModifier));
    // The target is scrolled into view, and the status panes follow.
    browser.DeselectAll();
    browser.SetSelected(0, true);
    browser.OnKeyDown(Qt::Key_End, Qt::NoModifier);
    EXPECT_GT(pane.m_scroll.y(), 0);
    EXPECT_EQ(host.Status().at(0), "Total 1 files");
    EXPECT_EQ(host.Status().at(4), "IMG_0019.jpg");
}

TEST_F(ThumbsInteraction, MousePressClickCtrlShiftAndBand) {
    Fill(10, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);

    // A press on one of several selected items keeps them all for a drag;
    // the release narrows the selection to it.
    Select(browser, {1, 2, 3});
    browser.OnLButtonDown(Centre(browser, 2, pane), Qt::NoModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(browser.IsTimerRunning());
    browser.OnLButtonUp(Centre(browser, 2, pane), Qt::NoModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{2}));
    EXPECT_FALSE(browser.IsTimerRunning());

    // A plain press on an unselected item selects it alone at once.
    browser.OnLButtonDown(Centre(browser, 6, pane), Qt::NoModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{6}));
    browser.OnLButtonUp(Centre(browser, 6, pane), Qt::NoModifier);

    // Ctrl toggles at the release, not at the press.
    browser.OnLButtonDown(Centre(browser, 8, pane), Qt::ControlModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{6}));
    browser.OnLButtonUp(Centre(browser, 8, pane), Qt::ControlModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{6, 8}));
    browser.OnLButtonDown(Centre(browser, 6, pane), Qt::ControlModifier);
    browser.OnLButtonUp(Centre(browser, 6, pane), Qt::ControlModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{8}));

    // Shift selects the range from the selection to the pressed item.
    browser.OnLButtonDown(Centre(browser, 5, pane), Qt::ShiftModifier);
    browser.OnLButtonUp(Centre(browser, 5, pane), Qt::ShiftModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{5, 6, 7, 8}));

    // A press on empty space clears the selection and starts a band, which
    // selects exactly the cells it touches.
    const QRect cell0 = browser.GetItemRect(0, pane.width());
    const QRect cell6 = browser.GetItemRect(6, pane.width());
    const QPoint empty(cell0.left() - 2, 2);  // left of the first column
    ASSERT_EQ(browser.HitTest(empty, pane.width(), {}), -1);
    browser.OnLButtonDown(empty, Qt::NoModifier);
    EXPECT_TRUE(Selection(browser).empty());
    browser.OnMouseMove(cell6.topLeft() + QPoint(5, 5), Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{0, 1, 5, 6}));
    EXPECT_FALSE(browser.BandRect().isEmpty());
    browser.OnMouseMove(cell0.topLeft() + QPoint(5, 5), Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(Selection(browser), (std::vector<int>{0}));
    browser.OnLButtonUp(cell0.topLeft() + QPoint(5, 5), Qt::NoModifier);
    EXPECT_TRUE(browser.BandRect().isEmpty());
    EXPECT_EQ(Selection(browser), (std::vector<int>{0}));
}

TEST_F(ThumbsInteraction, BandBelowThePaneScrollsDown) {
    Fill(30, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);
    const QRect cell0 = browser.GetItemRect(0, pane.width());
    browser.OnLButtonDown(QPoint(cell0.left() - 2, 2), Qt::NoModifier);
    browser.OnMouseMove(QPoint(300, pane.height() + 30), Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(pane.m_scroll.y(), 20);
    // The timer keeps scrolling while the cursor stays below.
    browser.OnTimer(0);
    EXPECT_EQ(pane.m_scroll.y(), 40);
    // The band's anchor stayed with the content: item 0 is still in it.
    EXPECT_EQ(Selection(browser).front(), 0);
    browser.OnMouseMove(QPoint(300, 100), Qt::NoButton, Qt::NoModifier);  // button gone
    EXPECT_TRUE(browser.BandRect().isEmpty());
    EXPECT_FALSE(browser.IsTimerRunning());
}

TEST_F(ThumbsInteraction, ContextMenuSelectsAndOffersPasteOnlyWithFiles) {
    Fill(4, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);
    auto paste = [](QMenu& menu) {
        for (QAction* a : menu.actions())
            if (a->objectName() == "57637")
                return a;
        return static_cast<QAction*>(nullptr);
    };
    auto menu = browser.CreateContextMenu(&pane);
    EXPECT_EQ(menu->objectName(), "142");
    ASSERT_TRUE(paste(*menu));
    EXPECT_FALSE(paste(*menu)->isEnabled());  // empty clipboard

    // Text without files is no paste either.
    QGuiApplication::clipboard()->setText("IMG_0001.jpg");
    EXPECT_FALSE(paste(*browser.CreateContextMenu(&pane))->isEnabled());

    Select(browser, {0, 1});
    browser.CopySelection(false);
    menu = browser.CreateContextMenu(&pane);
    EXPECT_EQ(menu->objectName(), "146");
    EXPECT_TRUE(paste(*menu)->isEnabled());

    // A right click on an unselected item selects only it (the menu is closed as soon as it shows).
    {
        TestSupport::PopupCloser closer(TestSupport::ActivePopup);
        browser.OnRButtonDown(Centre(browser, 3, pane), pane.mapToGlobal(Centre(browser, 3, pane)));
        EXPECT_TRUE(closer.Shown());
    }
    EXPECT_EQ(Selection(browser), (std::vector<int>{3}));
    EXPECT_EQ(browser.CreateContextMenu(&pane)->objectName(), "132");
    // A right click on a selected item keeps the selection.
    Select(browser, {1, 2});
    {
        TestSupport::PopupCloser closer(TestSupport::ActivePopup);
        browser.OnRButtonDown(Centre(browser, 2, pane), pane.mapToGlobal(Centre(browser, 2, pane)));
        EXPECT_TRUE(closer.Shown());
    }
    EXPECT_EQ(Selection(browser), (std::vector<int>{1, 2}));
}

TEST_F(ThumbsInteraction, OwnItemsDroppedInThePaneAreReordered) {
    Fill(5, dir);
    OwnDragBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);
    struct Own {
        OwnDragBrowser& browser;
        // What a drag of the named items over the pane and a drop at index does.
        void Drop(const std::vector<std::string>& paths, QPoint at) {
            std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData(paths));
            // A drag this browser started: its own flag is up while it runs.
            browser.SetOwnDrag(true);
            browser.DragEnter(data.get());
            browser.DragOver(data.get(), at, Qt::NoModifier);
            browser.Drop(data.get(), Qt::MoveAction, at);
        }
    } own{browser};
    const std::vector<std::string> original = Names(browser);
    const std::string path2 = dir / "IMG_0002.jpg";
    // Onto its own place: unchanged.
    own.Drop({path2}, Centre(browser, 2, pane));
    EXPECT_EQ(Names(browser), original);
    EXPECT_FALSE(browser.IsOwnDragRunning());
    EXPECT_EQ(browser.DropIndex(), -1);
    // Two items before item 0, in their dragged order, unselected.
    Select(browser, {3, 4});
    own.Drop({dir / "IMG_0004.jpg", dir / "IMG_0003.jpg"}, Centre(browser, 0, pane));
    EXPECT_EQ(Names(browser), (std::vector<std::string>{"IMG_0004.jpg", "IMG_0003.jpg", "IMG_0000.jpg",
                                                        "IMG_0001.jpg", "IMG_0002.jpg"}));
    EXPECT_TRUE(Selection(browser).empty());
    // Past the last item: to the end.
    own.Drop({dir / "IMG_0004.jpg"}, QPoint(650, 400));
    EXPECT_EQ(Names(browser).back(), "IMG_0004.jpg");
    EXPECT_EQ(browser.Paths().back(), dir / "IMG_0004.jpg");
    // The files themselves stayed where they were.
    EXPECT_TRUE(fs::exists(dir / "IMG_0004.jpg"));
}

TEST_F(ThumbsInteraction, FilesDroppedFromElsewhereAreCopiedOrMovedIn) {
    Folder other = Sub("other");
    WriteFile(other / "a.jpg", 100);
    WriteFile(other / "b.jpg", 200);
    Fill(1, dir);
    WriteFile(dir / "a.jpg", 50);  // a name already taken
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);

    std::unique_ptr<QMimeData> data(
        CThumbsBrowser::CreateFilesData({other / "a.jpg", other / "gone.jpg", other / "b.jpg"}));
    EXPECT_EQ(browser.DragEnter(data.get()), Qt::CopyAction);
    // Same file system: move; Ctrl copies, Shift moves.
    EXPECT_EQ(browser.DragOver(data.get(), {10, 10}, Qt::NoModifier), Qt::MoveAction);
    EXPECT_EQ(browser.DragOver(data.get(), {10, 10}, Qt::ControlModifier), Qt::CopyAction);
    EXPECT_EQ(browser.DragOver(data.get(), {10, 10}, Qt::ShiftModifier), Qt::MoveAction);
    QMimeData text;
    text.setText("not files");
    EXPECT_EQ(browser.DragEnter(&text), Qt::IgnoreAction);
    EXPECT_EQ(browser.DragOver(&text, {10, 10}, Qt::NoModifier), Qt::IgnoreAction);

    // A copy: the path that no longer exists is skipped, the taken name is
    // not overwritten but the copy gets a free one.
    EXPECT_TRUE(browser.Drop(data.get(), Qt::CopyAction, {10, 10}));
    EXPECT_EQ(GetFileSizeByName(dir / "a.jpg"), 50u);
    EXPECT_EQ(GetFileSizeByName(dir / "a (2).jpg"), 100u);
    EXPECT_EQ(GetFileSizeByName(dir / "b.jpg"), 200u);
    EXPECT_TRUE(fs::exists(other / "a.jpg"));
    EXPECT_EQ(browser.ItemCount(), 4);

    // A move takes the source away.
    WriteFile(other / "c.jpg", 300);
    data.reset(CThumbsBrowser::CreateFilesData({other / "c.jpg"}));
    EXPECT_TRUE(browser.Drop(data.get(), Qt::MoveAction, {10, 10}));
    EXPECT_FALSE(fs::exists(other / "c.jpg"));
    EXPECT_EQ(GetFileSizeByName(dir / "c.jpg"), 300u);

    // Data that names only vanished files does nothing.
    data.reset(CThumbsBrowser::CreateFilesData({other / "gone.jpg"}));
    EXPECT_FALSE(browser.Drop(data.get(), Qt::CopyAction, {10, 10}));
    // A folder that no longer exists takes nothing.
    Folder vanishing = Sub("vanishing");
    // (A browser registers with the builder before it is whole; the builder is left idle first.)
    ASSERT_TRUE(builder.WaitIdle(5000));
    CImgThumbsBrowser second(builder);
    second.OpenFolder("0," + vanishing.path().string());
    fs::remove_all(vanishing.path());
    data.reset(CThumbsBrowser::CreateFilesData({other / "b.jpg"}));
    EXPECT_EQ(second.DragOver(data.get(), {10, 10}, Qt::NoModifier), Qt::IgnoreAction);
}

TEST_F(ThumbsInteraction, ClipboardCopyCutPasteAndTheCutList) {
    Folder target = Sub("target");
    Fill(3, dir);
    CImgThumbsBrowser source(builder);
    Open(source, dir);
    ASSERT_TRUE(builder.WaitIdle(5000));
    CImgThumbsBrowser destination(builder);
    Open(destination, target);

    // Copy: the desktops' formats are on the clipboard; paste copies.
    Select(source, {0});
    source.CopySelection(false);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->urls().value(0).toLocalFile().toStdString(), dir / "IMG_0000.jpg");
    EXPECT_TRUE(data->data("x-special/gnome-copied-files").startsWith("copy\nfile://"));
    EXPECT_FALSE(CThumbsBrowser::IsCutData(data));
    EXPECT_TRUE(source.CutList().empty());
    EXPECT_TRUE(destination.Paste());
    EXPECT_TRUE(fs::exists(target / "IMG_0000.jpg"));
    EXPECT_TRUE(fs::exists(dir / "IMG_0000.jpg"));

    // Cut: the items are dimmed (cut list); paste moves and clears the clipboard.
    Select(source, {1, 2});
    source.CopySelection(true);
    EXPECT_TRUE(CThumbsBrowser::IsCutData(QGuiApplication::clipboard()->mimeData()));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("application/x-kde-cutselection"), "1");
    EXPECT_TRUE(source.IsCut(dir / "IMG_0001.jpg"));
    EXPECT_TRUE(destination.Paste());
    EXPECT_FALSE(fs::exists(dir / "IMG_0001.jpg"));
    EXPECT_TRUE(fs::exists(target / "IMG_0002.jpg"));
    EXPECT_FALSE(CThumbsBrowser::ClipboardHasFiles());

    // Clipboard data without files: paste does nothing.
    QGuiApplication::clipboard()->setText("/etc/passwd");
    EXPECT_FALSE(destination.Paste());
    EXPECT_EQ(std::distance(fs::directory_iterator(target.path()), fs::directory_iterator()), 3);

    // Cutting, then copying something else, clears the dimming at the next read.
    WriteFile(dir / "IMG_0005.jpg");
    source.ReadFolder();
    Select(source, {0});
    source.CopySelection(true);
    EXPECT_EQ(source.CutList().size(), 1u);
    QGuiApplication::clipboard()->setText("other data");
    EXPECT_EQ(source.CutList().size(), 1u);
    source.ReadFolder();
    EXPECT_TRUE(source.CutList().empty());
}

TEST_F(ThumbsInteraction, APasteOrDropThatFailsSaysWhyAndKeepsTheFiles) {
    Folder target = Sub("target");
    Folder other = Sub("other");
    WriteFile(other / "a.jpg", 100);
    CImgThumbsBrowser browser(builder);
    Open(browser, target);
    const std::string denied = "a.jpg: " + std::make_error_code(std::errc::permission_denied).message();
    ReadOnlyFolder locked(target.root);

    // A cut pasted into a folder that takes no files: the user is told, the
    // file stays where it was and can still be pasted elsewhere.
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData({other / "a.jpg"}, true));
    QGuiApplication::clipboard()->setMimeData(data.release());
    EXPECT_FALSE(browser.Paste());
    EXPECT_EQ(host.Errors(), std::vector<std::string>{denied});
    EXPECT_TRUE(CThumbsBrowser::ClipboardHasFiles());

    // A drop, moved or copied, the same.
    for (const Qt::DropAction action : {Qt::MoveAction, Qt::CopyAction}) {
        data.reset(CThumbsBrowser::CreateFilesData({other / "a.jpg"}));
        EXPECT_FALSE(browser.Drop(data.get(), action, {10, 10})) << action;
    }
    EXPECT_EQ(host.Errors(), (std::vector<std::string>{denied, denied, denied}));
    EXPECT_EQ(GetFileSizeByName(other / "a.jpg"), 100u);
    EXPECT_TRUE(fs::is_empty(target.path()));
    EXPECT_EQ(browser.ItemCount(), 0);
}

TEST_F(ThumbsInteraction, PopupEditRenamesKeepingTheExtension) {
    Fill(3, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    pane.show();
    Open(browser, dir);
    Select(browser, {1});
    const QPoint caption = browser.GetCaptionRect(1, pane.width()).center();
    browser.OnLButtonDown(caption, Qt::NoModifier);
    CPopupEdit* edit = browser.PopupEdit();
    ASSERT_TRUE(edit);
    EXPECT_EQ(g_bLabelEditing.load(), 1);
    EXPECT_EQ(edit->text(), "IMG_0001");
    EXPECT_EQ(edit->selectedText(), "IMG_0001");
    EXPECT_EQ(edit->parentWidget()->objectName(), "Popup");
    EXPECT_FALSE(browser.IsTimerRunning());  // nothing else happened
    // The window's shortcuts (F5, Ctrl+A, Delete) leave the editor's keys alone.
    for (int key : {int(Qt::Key_F5), int(Qt::Key_Delete), int(Qt::Key_A)}) {
        QKeyEvent shortcut(QEvent::ShortcutOverride, key,
                           key == Qt::Key_A ? Qt::ControlModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(edit, &shortcut);
        EXPECT_TRUE(shortcut.isAccepted()) << key;
    }
    edit->setText("harbour at dawn");

    KeyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(fs::exists(dir / "harbour at dawn.jpg"));
    EXPECT_FALSE(fs::exists(dir / "IMG_0001.jpg"));
    EXPECT_EQ(browser.Paths()[1], dir / "harbour at dawn.jpg");
    EXPECT_TRUE(edit->IsDone());
    // A second Return after the commit does nothing.
    edit->setText("again");
    KeyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(fs::exists(dir / "again.jpg"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(browser.PopupEdit());
    EXPECT_EQ(g_bLabelEditing.load(), 0);
}

TEST_F(ThumbsInteraction, PopupEditEscapeFocusLossAndRefusedNames) {
    Fill(2, dir);
    CImgThumbsBrowser browser(builder);
    Pane pane(browser);
    pane.show();
    Open(browser, dir);
    Select(browser, {0});
    // Escape leaves the file and removes the editor.
    CPopupEdit* edit = browser.BeginRename(0);
    ASSERT_TRUE(edit);
    edit->setText("changed");
    KeyClick(edit, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(browser.PopupEdit());
    EXPECT_TRUE(fs::exists(dir / "IMG_0000.jpg"));

    // Losing the focus commits.
    edit = browser.BeginRename(0);
    edit->setText("first");
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QCoreApplication::sendEvent(edit, &out);
    EXPECT_TRUE(fs::exists(dir / "first.jpg"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // A name with "/" is refused and changes nothing; so is one that is
    // taken, and the user is told each time; an empty name is no rename.
    const std::string first = dir / "first.jpg";
    EXPECT_FALSE(browser.RenameFile(first, "../escaped"));
    EXPECT_FALSE(browser.RenameFile(first, "sub/name"));
    EXPECT_FALSE(browser.RenameFile(first, ""));
    EXPECT_FALSE(browser.RenameFile(first, "IMG_0001"));
    const std::string invalid = std::make_error_code(std::errc::invalid_argument).message();
    EXPECT_EQ(host.Errors(), (std::vector<std::string>{
                                 "first.jpg: " + invalid, "first.jpg: " + invalid,
                                 "first.jpg: " + std::make_error_code(std::errc::file_exists).message()}));
    EXPECT_EQ(GetFileSizeByName(dir / "IMG_0001.jpg"), 64u);
    EXPECT_EQ(browser.Paths()[0], first);
    // Another case is another name: the file is renamed.
    const std::string upper = dir / "FIRST.jpg";
    EXPECT_TRUE(browser.RenameFile(first, "FIRST"));
    EXPECT_TRUE(fs::exists(upper));
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(browser.Paths()[0], upper);
    // The extension is kept whatever the new name holds.
    EXPECT_TRUE(browser.RenameFile(upper, "second.png"));
    EXPECT_TRUE(fs::exists(dir / "second.png.jpg"));
    EXPECT_EQ(host.Errors().size(), 3u);
}

TEST_F(ThumbsInteraction, DeleteToTheTrashAndItsUndoRecords) {
    Fill(3, dir);
    CImgThumbsBrowser browser(builder);
    Open(browser, dir);
    // An older record with a saved file, which no failed delete may touch.
    browser.RecordUndo(2);
    browser.RecordUndo(2);
    WriteFile(browser.UndoFolder(1) + "/saved.jpg");
    ASSERT_EQ(browser.UndoDepth(), 2);

    Select(browser, {0});
    fs::remove(dir / "IMG_0000.jpg");  // gone before the delete: it fails
    const int refreshes = host.Count(CmdId::ReadAgain);
    browser.DeleteFiles(false);
    EXPECT_EQ(browser.UndoDepth(), 2);
    EXPECT_TRUE(fs::exists(browser.UndoFolder(1) + "/saved.jpg"));
    EXPECT_EQ(host.Count(CmdId::ReadAgain), refreshes);
    EXPECT_EQ(host.asked, 0);  // not a camera medium: no question

    // The user declines a permanent delete: nothing changes either.
    host.answer = false;
    Select(browser, {0});
    ASSERT_TRUE(fs::exists(dir / "IMG_0001.jpg"));
    EXPECT_FALSE(RunFileOperation(FO_DELETE, {dir / "IMG_0001.jpg"}, {}, 0));
    EXPECT_TRUE(fs::exists(dir / "IMG_0001.jpg"));
    host.answer = true;

    // A delete that happens moves the file to the trash and records itself.
    browser.DropLastUndo();
    ASSERT_EQ(browser.UndoDepth(), 1);
    Select(browser, {0});
    browser.DeleteFiles(false);
    EXPECT_FALSE(fs::exists(dir / "IMG_0001.jpg"));
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_TRUE(data);
    EXPECT_TRUE(fs::exists(fs::path(data) / "Trash/files/IMG_0001.jpg"));
    EXPECT_EQ(browser.UndoDepth(), 2);
    EXPECT_EQ(browser.UndoKind(0), 2);
    EXPECT_EQ(host.Count(CmdId::ReadAgain), refreshes + 1);
    EXPECT_EQ(browser.ItemCount(), 1);
}

TEST_F(ThumbsInteraction, UndoRecordsShiftBetweenTheTwoFolders) {
    CImgThumbsBrowser browser(builder);
    browser.RecordUndo(2);
    WriteFile(browser.UndoFolder(0) + "/one.jpg");
    browser.RecordUndo(2);  // the newer becomes the older, with its files
    EXPECT_EQ(browser.UndoDepth(), 2);
    EXPECT_TRUE(fs::exists(browser.UndoFolder(1) + "/one.jpg"));
    browser.RecordUndo(2);  // at most two
    EXPECT_EQ(browser.UndoDepth(), 2);
    WriteFile(browser.UndoFolder(1) + "/two.jpg");
    browser.DropLastUndo();
    EXPECT_EQ(browser.UndoDepth(), 1);
    EXPECT_TRUE(fs::exists(browser.UndoFolder(0) + "/two.jpg"));
    EXPECT_EQ(browser.UndoKind(1), 0);
    browser.DropLastUndo();
    browser.DropLastUndo();
    EXPECT_EQ(browser.UndoDepth(), 0);
}

TEST_F(ThumbsInteraction, ProgressCancelsUntilCleared) {
    CThumbsBrowserProgress progress;
    progress.Begin();
    EXPECT_NE(progress.Step(1, 10), 0);
    progress.Cancel();
    EXPECT_EQ(progress.Step(2, 10), 0);
    progress.ClearCancel();
    EXPECT_NE(progress.Step(3, 10), 0);
    progress.Cancel();
    progress.Begin();
    EXPECT_NE(progress.Step(0, 10), 0);
}

TEST_F(ThumbsInteraction, DragDataNamesTheFilesVanishedOnesToo) {
    WriteFile(dir / "a b.jpg");
    WriteFile(dir / std::string("caf\xc3\xa9.jpg"));
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData(
        {dir / "a b.jpg", dir / std::string("caf\xc3\xa9.jpg"), dir / "gone.jpg"}));
    EXPECT_EQ(data->urls().size(), 3);
    // A file gone meanwhile stays named: the operation tells the user it skipped it.
    EXPECT_EQ(
        CThumbsBrowser::FilesFromData(data.get()),
        (std::vector<std::string>{dir / "a b.jpg", dir / std::string("caf\xc3\xa9.jpg"), dir / "gone.jpg"}));
    // Only the GNOME list, as some file managers offer it.
    QMimeData gnome;
    gnome.setData("x-special/gnome-copied-files",
                  "cut\n" + QUrl::fromLocalFile(QString::fromStdString(dir / "a b.jpg")).toEncoded());
    EXPECT_EQ(CThumbsBrowser::FilesFromData(&gnome), (std::vector<std::string>{dir / "a b.jpg"}));
    EXPECT_TRUE(CThumbsBrowser::IsCutData(&gnome));
    // Remote addresses are not files.
    QMimeData remote;
    remote.setUrls({QUrl("https://example.org/a.jpg")});
    EXPECT_TRUE(CThumbsBrowser::FilesFromData(&remote).empty());
    EXPECT_TRUE(CThumbsBrowser::FilesFromData(nullptr).empty());
}

TEST_F(ThumbsInteraction, EveryFileListKeepsTheBytesOfNamesThatAreNotUtf8) {
    const std::string names[] = {"caf\xe9.jpg", "\xff\xfe photo.jpg", "caf\xc3\xa9 #1%20?.jpg"};
    for (const std::string& name : names) {
        const std::string path = dir / name;
        SCOPED_TRACE(path);
        WriteFile(path);
        const std::vector<std::string> one{path};
        std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData(one, true));
        EXPECT_EQ(CThumbsBrowser::FilesFromData(data.get()), one);
        // The GNOME list alone, and the URL list alone as another program offers it.
        QMimeData gnome;
        gnome.setData("x-special/gnome-copied-files", data->data("x-special/gnome-copied-files"));
        EXPECT_EQ(CThumbsBrowser::FilesFromData(&gnome), one);
        QMimeData uris;
        uris.setData("text/uri-list", data->data("text/uri-list"));
        EXPECT_EQ(CThumbsBrowser::FilesFromData(&uris), one);
        std::vector<std::string> dropped;
        EXPECT_TRUE(CSerialDropTarget::GetDroppedFiles(&uris, dropped));
        EXPECT_EQ(dropped, one);
        EXPECT_EQ(CTreeDropTarget::DroppedFiles(&uris), one);
    }
}

TEST_F(ThumbsInteraction, RenameInProgressOverRealThumbnails) {
    OVH_REQUIRE_PHOTOS();
    CThumbsBuilderThreads realBuilder;
    for (const char* name : {"boat1.jpg", "boat2.jpg", "boat3.jpg", "boat4.jpg", "boat5.jpg", "boat6.jpg"})
        fs::copy_file(TestData::Photo(std::string("boat-row/") + name), dir.path() / name);
    g_nThumbnailSize = 80;
    CImgThumbsBrowser browser(realBuilder);
    Pane pane(browser);
    pane.resize(760, 420);
    pane.show();
    Open(browser, dir);
    ASSERT_TRUE(realBuilder.WaitIdle(30000));
    QCoreApplication::processEvents();
    browser.SelectItem(2);
    CPopupEdit* edit = browser.BeginRename(2);
    ASSERT_TRUE(edit);
    edit->setText("harbour at dawn");
    SaveScreenshot(&pane, "browser_rename_in_progress");
    edit->Cancel();
    realBuilder.Stop();
}

TEST_F(ThumbsInteraction, DeleteOnACameraCardAsksFirst) {
    Fill(2, dir);
    CameraBrowser browser(builder);
    Open(browser, dir);
    Select(browser, {0});
    host.answer = false;
    browser.DeleteFiles(false);
    EXPECT_EQ(host.asked, 1);
    EXPECT_TRUE(fs::exists(dir / "IMG_0000.jpg"));
    EXPECT_EQ(browser.UndoDepth(), 0);
    host.answer = true;
    browser.DeleteFiles(false);
    EXPECT_EQ(host.asked, 2);
    EXPECT_FALSE(fs::exists(dir / "IMG_0000.jpg"));
}

TEST_F(ThumbsInteraction, OnlyAFolderOnARemovableMountCountsAsACameraCard) {
    Folder card = Sub("media/CARD");
    Folder cardFolder = Sub("media/CARD/DCIM");
    Folder neighbour = Sub("media/CARD2");
    Fill(1, cardFolder);
    Fill(1, neighbour);
    ShellNamespace::SetRemovableMountLister([&] { return std::vector<std::string>{card.root + "/"}; });
    struct ListerReset {
        ~ListerReset() { ShellNamespace::SetRemovableMountLister({}); }
    } reset;
    struct Case {
        const Folder& folder;
        int asks;
    } cases[] = {{cardFolder, 1}, {card, 1}, {neighbour, 0}};
    host.answer = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.root);
        WriteFile(c.folder / "IMG_0000.jpg");
        ASSERT_TRUE(builder.WaitIdle(5000));
        CImgThumbsBrowser browser(builder);
        Open(browser, c.folder);
        Select(browser, {0});
        host.asked = 0;
        browser.DeleteFiles(false);
        EXPECT_EQ(host.asked, c.asks);
    }
}

TEST_F(ThumbsInteraction, LongPathsAreDroppedWhole) {
    // A source path far beyond 259 bytes arrives unshortened.
    std::string deep = dir.path().string();
    for (int i = 0; i < 6; ++i)
        deep += "/" + std::string(60, char('a' + i));
    fs::create_directories(deep);
    const std::string source = deep + "/" + std::string(120, 'p') + ".jpg";
    WriteFile(source, 77);
    ASSERT_GT(source.size(), 400u);
    Folder target = Sub("target");
    CImgThumbsBrowser browser(builder);
    Open(browser, target);
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData({source}));
    EXPECT_EQ(CThumbsBrowser::FilesFromData(data.get()), std::vector<std::string>{source});
    EXPECT_TRUE(browser.Drop(data.get(), Qt::CopyAction, {10, 10}));
    EXPECT_EQ(GetFileSizeByName(target / (std::string(120, 'p') + ".jpg")), 77u);
}

TEST_F(ThumbsInteraction, OwnDragOpensAGapInTheDropRow) {
    Fill(8, dir);
    OwnDragBrowser browser(builder);
    Pane pane(browser);
    Open(browser, dir);
    std::vector<int> x0;
    for (int i = 0; i < 8; ++i)
        x0.push_back(browser.GetItemPosition(i, pane.width()).x());
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData({dir / "IMG_0006.jpg"}));
    browser.SetOwnDrag(true);
    for (int step = 0; step < 15; ++step)
        browser.DragOver(data.get(), Centre(browser, 2, pane), Qt::NoModifier);
    auto shift = [&](int i) { return browser.GetItemPosition(i, pane.width()).x() - x0[i]; };
    // Row 0 parts at item 2 by the full 20 pixels; row 1 stays.
    EXPECT_EQ(shift(0), -20);
    EXPECT_EQ(shift(1), -20);
    EXPECT_EQ(shift(2), 20);
    EXPECT_EQ(shift(4), 20);
    EXPECT_EQ(shift(5), 0);
    // Moving to the next row opens it there and closes the first a step at a time.
    browser.DragOver(data.get(), Centre(browser, 6, pane), Qt::NoModifier);
    EXPECT_LT(std::abs(shift(0)), 20);
    EXPECT_GT(shift(6), 0);
    EXPECT_LT(shift(5), 0);
    browser.Drop(data.get(), Qt::MoveAction, Centre(browser, 6, pane));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(shift(i), 0) << i;
}

TEST_F(ThumbsInteraction, TheThumbnailViewHandsKeysDoubleClicksAndDropsToTheBrowser) {
    Fill(20, dir);
    Folder other = Sub("other");
    WriteFile(other / "x.jpg", 100);
    CImgThumbsBrowser browser(builder);
    CThumbsView view(&browser);
    view.resize(700, 420);
    view.show();
    Open(browser, dir);
    view.UpdateScrollSizes();
    QWidget* client = view.viewport();

    // Keys: End selects the last item and scrolls it into view.
    KeyClick(&view, Qt::Key_End);
    EXPECT_EQ(Selection(browser), std::vector<int>{19});
    EXPECT_GT(view.verticalScrollBar()->value(), 0);
    view.ScrollTo({0, 0});
    EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));

    // A double click on an item hands the selection on.
    std::vector<std::string> opened;
    browser.onDoubleClick = [&](const std::vector<std::string>& files) { opened = files; };
    browser.SelectItem(2);
    const QPoint item = browser.GetItemRect(2, client->width()).center();
    QMouseEvent twice(QEvent::MouseButtonDblClick, item, client->mapToGlobal(item), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client, &twice);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(fs::path(opened[0]).filename(), "IMG_0002.jpg");

    // Drops: the browser's answer to the drag-over is the one taken.
    std::unique_ptr<QMimeData> data(CThumbsBrowser::CreateFilesData({other / "x.jpg"}));
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDragMoveEvent over(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::ControlModifier);
    QCoreApplication::sendEvent(client, &over);
    EXPECT_TRUE(over.isAccepted());
    EXPECT_EQ(over.dropAction(), Qt::CopyAction);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "Ctrl held over the pane copies";
    EXPECT_TRUE(fs::exists(other / "x.jpg"));
    EXPECT_EQ(GetFileSizeByName(dir / "x.jpg"), 100u);
    EXPECT_EQ(browser.ItemCount(), 21);

    // Data without files is refused at the door.
    QMimeData text;
    text.setText("not files");
    QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client, &refused);
    EXPECT_FALSE(refused.isAccepted());
    SaveScreenshot(&view, "thumbs_view_after_drop");
}
