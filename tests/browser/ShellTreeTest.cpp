// The folder tree over our own folder namespace: what it lists, selecting
// and following folders, the selection kept in the profile, vanished and
// unmounted folders, rename and delete, and files dropped on a folder.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "BrowserFixture.h"
#include "BrowserHost.h"
#include "BrowserLocations.h"
#include "CImgThumbsBrowser.h"
#include "CShellTree.h"
#include "CTreeDropTarget.h"
#include "CVisitedFolders.h"
#include "CWin7Library.h"
#include "DeviceChangeEvent.h"
#include "EventLoopWait.h"
#include "Screenshot.h"
#include "ShellNamespace.h"
#include "TestData.h"

namespace fs = std::filesystem;

namespace {

// Keeps profile strings and the locations the browser was asked to open.
class TreeHost : public IBrowserHost {
public:
    TreeHost() { SetBrowserHost(this); }
    ~TreeHost() override { SetBrowserHost(nullptr); }
    void WriteProfileString(const char* section, const char* key, const std::string& value) override {
        profile[std::string(section) + "/" + key] = value;
    }
    std::string GetProfileString(const char* section, const char* key, const std::string& fallback) override {
        const auto it = profile.find(std::string(section) + "/" + key);
        return it == profile.end() ? fallback : it->second;
    }
    void OnLocationOpened(const std::string& location, const void* sender) override {
        opened.emplace_back(location, sender);
    }
    void ReportFileOperationError(const std::string& path, const std::string& reason) override {
        errors.push_back(fs::path(path).filename().string() + ": " + reason);
    }
    void ReportSkippedFiles(const std::vector<std::pair<std::string, std::string>>& skipped) override {
        for (const auto& [path, reason] : skipped)
            ReportFileOperationError(path, reason);
    }
    std::map<std::string, std::string> profile;
    std::vector<std::pair<std::string, const void*>> opened;
    std::vector<std::string> errors;
};

void Touch(const fs::path& path, const std::string& text = "photo") {
    std::ofstream(path) << text;
}

std::vector<std::string> Names(const std::vector<ShellFolderEntry>& entries) {
    std::vector<std::string> names;
    for (const ShellFolderEntry& e : entries)
        names.push_back(e.name);
    return names;
}

QStringList ChildTexts(QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; item && i < item->childCount(); ++i)
        texts << item->child(i)->text(0);
    return texts;
}

// What a test waits for a change the 2-second check notices: the check is
// due within one interval; the rest is margin for a busy machine.
constexpr int kTimerBound = 5 * CShellTree::kCheckIntervalMs;

class ShellTree : public ::testing::Test {
protected:
    void SetUp() override {
        base = fs::canonical(dir.path()).string();
        ShellNamespace::SetRemovableMountLister([this] { return mounts; });
    }
    void TearDown() override {
        ShellNamespace::SetRemovableMountLister({});
        ClearRecentLocations();
    }
    std::string Folder(const std::string& relative) {
        const fs::path path = fs::path(base) / relative;
        fs::create_directories(path);
        return path.string();
    }

    TestData::ScratchDir dir;
    std::string base;
    std::vector<std::string> mounts;
    TreeHost host;
};

}  // namespace

TEST_F(ShellTree, OnlyVisibleFoldersAreListedInNaturalOrder) {
    Folder("a/img10");
    Folder("a/img9");
    Folder("a/Beta");
    Folder("a/.hidden");
    Touch(fs::path(base) / "a/photo.jpg");
    Touch(fs::path(base) / "a/archive.zip");
    fs::create_directory_symlink(fs::path(base) / "a/Beta", fs::path(base) / "a/link-to-beta");
    const std::vector<ShellFolderEntry> entries = ShellNamespace::SubFolders(base + "/a");
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"Beta", "img9", "img10", "link-to-beta"}));
    EXPECT_FALSE(entries[0].hasChildren);
    EXPECT_TRUE(ShellNamespace::HasSubFolders(base + "/a"));
    EXPECT_TRUE(ShellNamespace::SubFolders(base + "/missing").empty());
}

TEST_F(ShellTree, ASymlinkLoopIsShownButNeverEntered) {
    const std::string a = Folder("a/b");
    fs::create_directory_symlink(base + "/a", base + "/a/b/up");
    EXPECT_TRUE(ShellNamespace::IsSymlinkLoop(base + "/a/b/up"));
    EXPECT_FALSE(ShellNamespace::IsSymlinkLoop(base + "/a/b"));
    const std::vector<ShellFolderEntry> entries = ShellNamespace::SubFolders(base + "/a/b");
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"up"}));
    EXPECT_FALSE(entries[0].hasChildren) << "no expander leads into the loop";

    CShellTree tree;
    tree.FillRoot();
    // Walking to a path through the loop's parent ends; the loop is not followed.
    tree.SelectPath(base + "/a/b/up/b/up/b");
    EXPECT_FALSE(tree.Found());
    tree.SelectPath(base + "/a/b");
    EXPECT_TRUE(tree.Found());
    QTreeWidgetItem* up = tree.FindLoaded(base + "/a/b")->child(0);
    tree.FillChildren(up);
    EXPECT_EQ(up->childCount(), 0);
}

TEST_F(ShellTree, AFolderWithoutExecutePermissionIsChildless) {
    const std::string locked = Folder("locked");
    Folder("locked/inside");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
    const bool entersAnyFolder = ::access((locked + "/inside").c_str(), F_OK) == 0;
    const bool has = ShellNamespace::HasSubFolders(locked);
    const size_t listed = ShellNamespace::SubFolders(locked).size();
    fs::permissions(locked, fs::perms::owner_all);
    if (entersAnyFolder)
        GTEST_SKIP() << "running with permissions that enter any folder";
    EXPECT_FALSE(has);
    EXPECT_EQ(listed, 0u);
}

TEST_F(ShellTree, TheRootHoldsHomeComputerAndRemovableMedia) {
    const std::string card = Folder("media/CARD");
    Folder("media/CARD/DCIM");
    mounts = {card};
    CShellTree tree;
    tree.FillRoot();
    ASSERT_NE(tree.Root(), nullptr);
    EXPECT_EQ(tree.Root()->text(0), "Desktop");
    const QStringList top = ChildTexts(tree.Root());
    EXPECT_TRUE(top.contains("Home"));
    EXPECT_TRUE(top.contains("Computer"));
    EXPECT_TRUE(top.contains("CARD"));
    EXPECT_FALSE(top.contains("Libraries")) << "no libraries on this system";
    SaveScreenshot(&tree, "shell_tree_root");
}

TEST_F(ShellTree, SelectingAFolderOpensItAndTheTreeFollowsOthersQuietly) {
    const std::string target = Folder("photos/2024/boat");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(target);
    ASSERT_TRUE(tree.Found());
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), target);
    ASSERT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.opened[0].first, "0," + target);
    EXPECT_EQ(host.opened[0].second, &tree);
    EXPECT_EQ(RecentLocations().front(), "0," + target);

    // Following the browser (the tree as caller) selects without reopening.
    tree.SelectPath(base + "/photos", &tree);
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), base + "/photos");
    EXPECT_EQ(host.opened.size(), 1u);

    // A hidden folder appears when the browser is inside it, and stays
    // through a refresh while it exists.
    const std::string hidden = Folder(".cache/thumbs");
    tree.SelectPath(hidden, &tree);
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), hidden);
    tree.Refresh();
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), hidden);
    tree.SelectPath(base + "/photos", &tree);

    // The parent of the selection; a trailing slash names the same folder.
    EXPECT_TRUE(tree.SelectParentFolder());
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), base);
    tree.SelectPath(target + "/");
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), target);
}

TEST_F(ShellTree, TheVisitedStripsParentButtonMovesTheTreeUp) {
    const std::string child = Folder("up/child");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(child);
    CVisitedFolders strip;
    strip.Fill("0," + child);
    EXPECT_EQ(strip.Combo()->currentText().toStdString(), child) << "the tree's choice is a recent place";
    strip.ParentButton()->click();
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), base + "/up");
    EXPECT_EQ(host.opened.back().first, "0," + base + "/up");
}

TEST_F(ShellTree, TheSelectionSurvivesInTheProfileAndAStaleOneIsDropped) {
    const std::string target = Folder("kept");
    {
        CShellTree tree;
        tree.FillRoot();
        tree.SelectPath(target);
        tree.SaveSelection();
    }
    const std::string stored = host.profile["SHELLTREE/PIDL"];
    EXPECT_EQ(QByteArray::fromHex(QByteArray::fromStdString(stored)).toStdString(),
              target + std::string(2, '\0'));
    {
        CShellTree tree;
        tree.FillRoot();
        EXPECT_TRUE(tree.RestoreSelection());
        EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), target);
    }
    fs::remove(target);
    CShellTree tree;
    tree.FillRoot();
    EXPECT_FALSE(tree.RestoreSelection());
    EXPECT_EQ(tree.currentItem(), nullptr);
    host.profile.clear();
    EXPECT_FALSE(tree.RestoreSelection()) << "no value";
}

TEST_F(ShellTree, AnUnmountedCardIsNoticedByTheTimerAndNothingStaysSelected) {
    const std::string card = Folder("media/CARD");
    Folder("media/CARD/DCIM");
    mounts = {card};
    CShellTree tree;
    tree.resize(300, 400);
    tree.show();
    tree.FillRoot();
    tree.SelectPath(card);
    ASSERT_EQ(CShellTree::GetItemPath(tree.currentItem()), card);
    EXPECT_EQ(tree.currentItem()->parent(), tree.Root()) << "the card's own node";
    EXPECT_TRUE(tree.CheckTimer().isActive());
    EXPECT_LE(tree.CheckTimer().interval(), CShellTree::kCheckIntervalMs);

    // The card goes; its mount point folder stays behind, as it often does.
    mounts.clear();
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return tree.currentItem() == nullptr; }, kTimerBound));
    EXPECT_FALSE(ChildTexts(tree.Root()).contains("CARD"));
}

TEST_F(ShellTree, ACardMountedOrUnmountedAppearsOrLeavesAtTheNextCheck) {
    const std::string card = Folder("media/CARD");
    CShellTree tree;
    tree.resize(300, 400);
    tree.show();
    tree.FillRoot();
    EXPECT_FALSE(ChildTexts(tree.Root()).contains("CARD"));
    mounts = {card};
    EXPECT_TRUE(
        TestSupport::WaitForEvents([&] { return ChildTexts(tree.Root()).contains("CARD"); }, kTimerBound));
    mounts.clear();
    EXPECT_TRUE(
        TestSupport::WaitForEvents([&] { return !ChildTexts(tree.Root()).contains("CARD"); }, kTimerBound));
}

TEST_F(ShellTree, ADeviceNoticeOrAListenerRefreshShowsNewMediaAtOnce) {
    CShellTree tree;  // hidden: its own mount check does not run
    tree.FillRoot();
    const std::string card = Folder("media/CARD");
    mounts = {card};
    EXPECT_FALSE(ChildTexts(tree.Root()).contains("CARD"));
    CDeviceChangeEvent notice({card});
    QCoreApplication::sendEvent(&tree, &notice);
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return ChildTexts(tree.Root()).contains("CARD"); }, 5000));

    // The program tells its folder listeners by the slot's name.
    const std::string other = Folder("media/OTHER");
    mounts = {card, other};
    ASSERT_TRUE(QMetaObject::invokeMethod(&tree, "Refresh"));
    EXPECT_TRUE(ChildTexts(tree.Root()).contains("OTHER"));
}

TEST_F(ShellTree, OneMountChangeRefreshesTheTreeOnce) {
    const std::string card = Folder("media/CARD");
    const std::string second = Folder("media/SECOND");
    CShellTree tree;
    tree.resize(300, 400);
    tree.show();
    tree.FillRoot();
    // Two cards arrive: the device notice and a folder-change notice for
    // each card come in one burst, and the tree is re-read once.
    mounts = {card, second};
    int before = tree.RefreshCount();
    CDeviceChangeEvent notice(mounts);
    QCoreApplication::sendEvent(&tree, &notice);
    tree.RequestRefresh();
    tree.RequestRefresh();
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return tree.RefreshCount() > before; }, 5000));
    EXPECT_TRUE(ChildTexts(tree.Root()).contains("CARD"));
    EXPECT_TRUE(ChildTexts(tree.Root()).contains("SECOND"));
    TestSupport::WaitForEvents([] { return false; }, 50);
    EXPECT_EQ(tree.RefreshCount(), before + 1);

    // A card goes and the folder-change notice refreshes the tree: the
    // tree's own mount check finds nothing new afterwards.
    mounts = {card};
    before = tree.RefreshCount();
    tree.RequestRefresh();
    ASSERT_TRUE(TestSupport::WaitForEvents([&] { return tree.RefreshCount() > before; }, 5000));
    EXPECT_FALSE(ChildTexts(tree.Root()).contains("SECOND"));
    tree.CheckMounts();
    EXPECT_EQ(tree.RefreshCount(), before + 1);
    // A change nobody told the tree of is found by the check.
    mounts.clear();
    tree.CheckMounts();
    EXPECT_EQ(tree.RefreshCount(), before + 2);
    EXPECT_FALSE(ChildTexts(tree.Root()).contains("CARD"));
}

TEST_F(ShellTree, AFolderRemovedWhileShownEmptiesThePane) {
    const std::string shown = Folder("shown");
    Touch(shown + "/a.jpg", std::string(64, 'x'));
    BrowserFixture::LoadScript script;
    CThumbsBuilderThreads builder{
        [&script] { return std::make_shared<BrowserFixture::ScriptedItem>(script); }};
    {
        CImgThumbsBrowser browser(builder);
        g_pThumbsBrowser = &browser;
        CShellTree tree;
        tree.FillRoot();
        tree.SelectPath(shown);
        EXPECT_EQ(browser.ItemCount(), 1) << "the tree opened the folder in the browser";
        fs::remove_all(shown);
        tree.CheckSelection();
        EXPECT_EQ(browser.ItemCount(), 0);
        EXPECT_EQ(tree.currentItem(), nullptr);
        g_pThumbsBrowser = nullptr;
    }
    builder.Stop();
}

TEST_F(ShellTree, AFolderRemovedWhileShownLeavesTheTreeOnTheNextCheck) {
    const std::string gone = Folder("parent/gone");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(gone);
    fs::remove(gone);
    tree.CheckSelection();
    EXPECT_EQ(tree.currentItem(), nullptr);
    EXPECT_EQ(tree.FindLoaded(gone), nullptr);
    EXPECT_NE(tree.FindLoaded(base + "/parent"), nullptr);
    EXPECT_EQ(tree.FindLoaded(base + "/parent")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
}

TEST_F(ShellTree, RenameTakesAFreeNameOnlyAndIgnoresEmptyText) {
    const std::string old = Folder("place/old");
    Folder("place/taken");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(old);
    QTreeWidgetItem* item = tree.currentItem();
    ASSERT_TRUE(CShellTree::CanRename(item));
    EXPECT_TRUE(item->flags() & Qt::ItemIsEditable);
    EXPECT_FALSE(tree.RenameItem(item, QString()));
    EXPECT_TRUE(host.errors.empty());
    // A failed rename changes nothing and says why.
    EXPECT_FALSE(tree.RenameItem(item, "taken"));
    EXPECT_FALSE(tree.RenameItem(item, "a/b"));
    EXPECT_EQ(host.errors, (std::vector<std::string>{
                               "old: " + std::make_error_code(std::errc::file_exists).message(),
                               "old: " + std::make_error_code(std::errc::invalid_argument).message()}));
    EXPECT_TRUE(fs::exists(old));
    EXPECT_EQ(tree.currentItem(), item);
    EXPECT_TRUE(tree.RenameItem(item, "new"));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::is_directory(base + "/place/new"));
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), base + "/place/new");
    EXPECT_EQ(ChildTexts(tree.FindLoaded(base + "/place")), (QStringList{"new", "taken"}));

    // Places of the namespace itself cannot be renamed.
    EXPECT_FALSE(CShellTree::CanRename(tree.Root()));
    EXPECT_FALSE(tree.Root()->flags() & Qt::ItemIsEditable);
}

TEST_F(ShellTree, EscapeWhileRenamingCancelsAndAReturnCommits) {
    const std::string old = Folder("edit/old");
    CShellTree tree;
    tree.resize(400, 600);
    tree.show();
    tree.FillRoot();
    tree.SelectPath(old);
    auto edit = [&](const QString& text, int key) {
        tree.editItem(tree.currentItem(), 0);
        auto* editor = tree.findChild<QLineEdit*>();
        EXPECT_TRUE(CShellTree::IsLabelEditing());
        if (!editor)
            return;
        editor->setText(text);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QPointer<QLineEdit> open(editor);
        QCoreApplication::sendEvent(editor, &press);
        // The edit is over once the tree has removed its editor.
        EXPECT_TRUE(TestSupport::WaitForEvents([&] { return !CShellTree::IsLabelEditing() && !open; }, 5000));
    };
    edit("cancelled", Qt::Key_Escape);
    EXPECT_TRUE(fs::exists(old));
    EXPECT_FALSE(fs::exists(base + "/edit/cancelled"));
    edit("kept", Qt::Key_Return);
    EXPECT_TRUE(TestSupport::WaitForEvents([&] { return fs::is_directory(base + "/edit/kept"); }, 5000));
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), base + "/edit/kept");
}

TEST_F(ShellTree, DeleteMovesTheFolderToTheTrashAndSelectsTheNextOne) {
    const std::string data = Folder("xdg");
    const std::string doomed = Folder("work/a-doomed");
    Touch(doomed + "/photo.jpg");
    const std::string next = Folder("work/b-next");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(doomed);
    bool deleted = false;
    {
        BrowserFixture::TrashIn trash(data);
        deleted = tree.DeleteSelected();
    }
    ASSERT_TRUE(deleted);
    EXPECT_FALSE(fs::exists(doomed));
    EXPECT_TRUE(fs::exists(data + "/Trash/files/a-doomed/photo.jpg")) << "recoverable from the trash";
    EXPECT_EQ(CShellTree::GetItemPath(tree.currentItem()), next);
    EXPECT_FALSE(tree.DeleteItem(tree.Root())) << "the root cannot go";
}

TEST_F(ShellTree, AFailedDeleteKeepsTheFolderAndSaysWhy) {
    const std::string data = Folder("xdg");
    const std::string kept = Folder("locked/kept");
    CShellTree tree;
    tree.FillRoot();
    tree.SelectPath(kept);
    QTreeWidgetItem* item = tree.currentItem();
    bool deleted = true;
    {
        BrowserFixture::TrashIn trash(data);
        BrowserFixture::ReadOnlyFolder locked(base + "/locked");
        deleted = tree.DeleteSelected();
    }
    EXPECT_FALSE(deleted);
    EXPECT_TRUE(fs::is_directory(kept));
    EXPECT_EQ(tree.currentItem(), item);
    EXPECT_EQ(host.errors, std::vector<std::string>{
                               "kept: " + std::make_error_code(std::errc::permission_denied).message()});
}

TEST_F(ShellTree, DropEffectsFollowTheFileSystemAndTheKeys) {
    const std::string target = Folder("target");
    const std::string source = Folder("source");
    Touch(source + "/a.jpg");
    EXPECT_TRUE(CTreeDropTarget::IsSameDrive(source + "/a.jpg", target));
    EXPECT_TRUE(CTreeDropTarget::IsSameDrive(target + "/not-yet/x.jpg", target)) << "nearest existing folder";
    EXPECT_FALSE(CTreeDropTarget::IsSameDrive("/proc/version", target));
    EXPECT_TRUE(CTreeDropTarget::IsSameDrive("", ""));

    CShellTree tree;
    tree.resize(600, 800);
    tree.show();
    tree.FillRoot();
    tree.SelectPath(target);
    QTreeWidgetItem* node = tree.currentItem();
    ASSERT_NE(node, nullptr);
    // The tree opens every folder on the way to the scratch folder, as many
    // as the machine has there: make room below its last row, so that a point
    // off every node exists.
    int rows = 0;
    for (QTreeWidgetItem* it = tree.topLevelItem(0); it; it = tree.itemBelow(it))
        ++rows;
    tree.resize(600, std::max(800, (rows + 4) * tree.visualItemRect(node).height() + 40));
    tree.scrollToItem(node);
    const QRect rect = tree.visualItemRect(node);
    const QPoint onLabel(rect.left() + 24, rect.center().y());
    const QPoint blank(rect.left() + 24, tree.viewport()->height() - 2);
    ASSERT_EQ(tree.itemAt(blank), nullptr);
    QMimeData local, foreign;
    local.setUrls({QUrl::fromLocalFile(QString::fromStdString(source + "/a.jpg"))});
    foreign.setUrls({QUrl::fromLocalFile("/proc/version")});
    CTreeDropTarget& drop = tree.DropTarget();
    QWidget* window = tree.viewport();
    struct Case {
        const QMimeData* data;
        Qt::KeyboardModifiers keys;
        Qt::DropAction effect;
    };
    const Case cases[] = {
        {&local, {}, Qt::MoveAction},
        {&local, Qt::ControlModifier, Qt::CopyAction},
        {&foreign, {}, Qt::CopyAction},
        {&foreign, Qt::ShiftModifier, Qt::MoveAction},
    };
    for (const Case& c : cases)
        EXPECT_EQ(drop.OnDragOver(window, c.data, c.keys, onLabel), c.effect) << int(c.keys);
    EXPECT_EQ(drop.Highlighted(), node);
    QMimeData text;
    text.setText("no files");
    EXPECT_EQ(drop.OnDragOver(window, &text, {}, onLabel), Qt::IgnoreAction);
    // Off every node: nothing highlighted; leaving restores the node's look.
    EXPECT_EQ(drop.OnDragOver(window, &local, {}, blank), Qt::IgnoreAction);
    EXPECT_EQ(drop.Highlighted(), nullptr);
    EXPECT_FALSE(node->data(0, Qt::BackgroundRole).isValid());
    EXPECT_FALSE(drop.OnDrop(window, &local, Qt::CopyAction, blank)) << "a drop on blank space does nothing";
    EXPECT_EQ(drop.OnDragOver(window, &local, {}, onLabel), Qt::MoveAction);
    SaveScreenshot(&tree, "shell_tree_drop_highlight");
    drop.OnDragLeave(window);
    EXPECT_FALSE(node->data(0, Qt::BackgroundRole).isValid());
}

TEST_F(ShellTree, DroppedFilesNeverOverwriteAndVanishedOnesAreSkipped) {
    const std::string target = Folder("target");
    const std::string source = Folder("source");
    Touch(source + "/a.jpg", "new");
    Touch(target + "/a.jpg", "old");
    CShellTree tree;
    tree.resize(600, 800);
    tree.show();
    tree.FillRoot();
    tree.SelectPath(target);
    const QRect rect = tree.visualItemRect(tree.currentItem());
    const QPoint onLabel(rect.left() + 24, rect.center().y());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(source + "/a.jpg")),
                  QUrl::fromLocalFile(QString::fromStdString(source + "/gone.jpg"))});
    EXPECT_TRUE(tree.DropTarget().OnDrop(tree.viewport(), &data, Qt::CopyAction, onLabel));
    std::ifstream old(target + "/a.jpg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old")
        << "the existing file is untouched";
    EXPECT_TRUE(fs::exists(target + "/a (2).jpg"));
    EXPECT_TRUE(fs::exists(source + "/a.jpg")) << "a copy";
    EXPECT_FALSE(fs::exists(target + "/gone.jpg"));
}

TEST(Win7Library, InertWithoutLibrariesOnThisSystem) {
    ASSERT_TRUE(CreateWin7Library());
    CWin7Library* library = GetWin7Library();
    ASSERT_NE(library, nullptr);
    EXPECT_FALSE(library->HasLibraries());
    EXPECT_FALSE(library->IsLibrary("Pictures.library-ms"));
    EXPECT_EQ(library->GetFolderCount("Pictures.library-ms"), 0);
    EXPECT_EQ(library->GetLibraryText("Pictures.library-ms"), "");
    EXPECT_FALSE(library->RenameLibrary("a.library-ms", "b"));
    EXPECT_TRUE(library->LibrariesFolder().empty());
    EXPECT_FALSE(library->IsWatching()) << "no watcher thread";
    EXPECT_FALSE(CWin7Library::IsLibraryPath(".library-ms")) << "the name must be longer";
    EXPECT_TRUE(CWin7Library::IsLibraryPath("Photos.LIBRARY-MS"));
    {
        CShellTree tree;
        EXPECT_EQ(library->ListenerCount(), 1u);
    }
    EXPECT_EQ(library->ListenerCount(), 0u);
    DestroyWin7Library();
    EXPECT_EQ(GetWin7Library(), nullptr);
}
