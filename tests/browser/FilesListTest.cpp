// The details list: columns, rows with sizes and dates, sorting by column,
// selection in step with the browser, rename, drag data and context menu.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <filesystem>

#include "BrowserFixture.h"
#include "BrowserSettings.h"
#include "CFilesList.h"
#include "CImgThumbsBrowser.h"
#include "CThumbsWnd.h"
#include "EventLoopWait.h"
#include "Screenshot.h"
#include "TestData.h"

using namespace BrowserFixture;
namespace fs = std::filesystem;

namespace {

class FilesList : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCache();
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        builder.Stop();
        ClearCache();
    }
    // What the thumbnail item of a file learns once its picture is read.
    static void GiveSize(const fs::path& file) {
        std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
        ThumbItemPtr item;
        ASSERT_TRUE(g_ThumbCache.Lookup(file, item) && item) << file;
        item->m_sourceWidth = 640;
        item->m_sourceHeight = 480;
        item->m_bitsPerPixel = 24;
    }
    static std::vector<std::string> Column(const CFilesList& list, int column) {
        std::vector<std::string> texts;
        for (int row = 0; row < list.Model()->rowCount(); ++row)
            texts.push_back(list.Model()->index(row, column).data().toString().toStdString());
        return texts;
    }

    RecordingHost host;
    TestData::ScratchDir dir;
    LoadScript script;
    CThumbsBuilderThreads builder{[this] { return std::make_shared<ScriptedItem>(script); }};
};

void SetTime(const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

TEST_F(FilesList, ColumnsRowsAndSizesInWholeKilobytes) {
    WriteFile(dir / "a.jpg", 1024);
    WriteFile(dir / "b.png", 1025);
    WriteFile(dir / "c.bmp", 16);
    CImgThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    browser.OpenFolder("0," + dir.path().string());
    CFilesList list(&browser);
    list.Fill();
    ASSERT_EQ(list.Model()->columnCount(), 4);
    const char* titles[] = {"Name", "Image Size", "File Size", "Date"};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(list.Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
        EXPECT_EQ(list.columnWidth(c), 150);
    }
    EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"a.jpg", "b.png", "c.bmp"}));
    EXPECT_EQ(Column(list, 2), (std::vector<std::string>{"1 KB", "2 KB", "1 KB"}));
    EXPECT_FALSE(Column(list, 3)[0].empty());
    // The picture size once the thumbnail item knows it.
    ASSERT_TRUE(builder.WaitIdle(5000));
    ASSERT_NO_FATAL_FAILURE(GiveSize(dir / "a.jpg"));
    list.Fill();
    EXPECT_EQ(Column(list, 1)[0], "640x480, 24 bits");
    // The edited text is the name without its extension.
    EXPECT_EQ(list.Model()->index(0, 0).data(Qt::EditRole).toString(), "a");
}

TEST_F(FilesList, AnArrivingThumbnailChangesOnlyItsOwnRow) {
    WriteFile(dir / "a.jpg");
    WriteFile(dir / "b.jpg");
    CImgThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    browser.OpenFolder("0," + dir.path().string());
    ASSERT_TRUE(builder.WaitIdle(5000));
    CFilesList list(&browser);
    list.Fill();
    list.setCurrentIndex(list.Model()->index(1, 0));
    int resets = 0;
    std::vector<std::pair<int, int>> changed;
    QObject::connect(list.Model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(
        list.Model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex& to) { changed.emplace_back(from.row(), to.row()); });
    ASSERT_NO_FATAL_FAILURE(GiveSize(dir / "b.jpg"));
    list.UpdateRow(dir / "b.jpg");
    list.UpdateRow(dir / "elsewhere.jpg");  // not shown here: nothing
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(changed, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::string>{"", "640x480, 24 bits"}));
    EXPECT_EQ(list.currentIndex().row(), 1) << "the row the user is on stays current";
}

TEST_F(FilesList, ThumbnailsArrivingWhileTheListShowsDoNotRefillIt) {
    const int count = 12;
    for (int i = 0; i < count; ++i)
        WriteFile(dir / ("IMG_" + std::to_string(100 + i) + ".jpg"));
    std::atomic<bool> go{false};
    script.during = [&](const std::string&, bool, CProgress*) {
        while (!go)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    CImgThumbsBrowser* const shown = g_pThumbsBrowser;
    host.filesListMode = true;
    CImgThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    g_pThumbsBrowser = &browser;
    {
        CThumbsWnd frame;
        frame.resize(700, 400);
        frame.show();
        browser.OpenFolder("0," + dir.path().string());
        CFilesList* list = frame.FilesList();
        ASSERT_TRUE(list);
        list->Fill();
        ASSERT_EQ(list->Model()->rowCount(), count);
        int resets = 0, rows = 0;
        QObject::connect(list->Model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
        QObject::connect(list->Model(), &QAbstractItemModel::dataChanged,
                         [&](const QModelIndex& from, const QModelIndex& to) {
                             EXPECT_EQ(from.row(), to.row()) << "one row at a time";
                             ++rows;
                         });
        go = true;
        ASSERT_TRUE(builder.WaitIdle(5000));
        EXPECT_TRUE(TestSupport::WaitForEvents([&] { return rows >= count; }, 5000)) << rows;
        // At most the one refill that ends a pass over the folder, never one a thumbnail.
        EXPECT_LE(resets, 1);
    }
    g_pThumbsBrowser = shown;
}

TEST_F(FilesList, ColumnClicksSortAndTheSameColumnTwiceReverses) {
    WriteFile(dir / "b.jpg", 3000);
    WriteFile(dir / "a.jpg", 1000);
    WriteFile(dir / "c.jpg", 2000);
    SetTime(dir / "a.jpg", 1700000300);
    SetTime(dir / "b.jpg", 1700000100);
    SetTime(dir / "c.jpg", 1700000200);
    CImgThumbsBrowser browser(builder);
    browser.OpenFolder("0," + dir.path().string());
    CFilesList list(&browser);
    list.Fill();
    EXPECT_EQ(CFilesList::ColumnSortMode(0), 0);
    EXPECT_EQ(CFilesList::ColumnSortMode(1), 5);
    EXPECT_EQ(CFilesList::ColumnSortMode(2), 6);
    EXPECT_EQ(CFilesList::ColumnSortMode(3), 2);
    using V = std::vector<std::string>;
    // The first sort of a new list is descending.
    emit list.header()->sectionClicked(0);
    EXPECT_EQ(Column(list, 0), (V{"c.jpg", "b.jpg", "a.jpg"}));
    emit list.header()->sectionClicked(0);
    EXPECT_EQ(Column(list, 0), (V{"a.jpg", "b.jpg", "c.jpg"}));
    // Another column keeps the direction (ascending now).
    emit list.header()->sectionClicked(2);
    EXPECT_EQ(Column(list, 0), (V{"a.jpg", "c.jpg", "b.jpg"}));
    emit list.header()->sectionClicked(3);
    EXPECT_EQ(Column(list, 0), (V{"b.jpg", "c.jpg", "a.jpg"}));
    emit list.header()->sectionClicked(3);
    EXPECT_EQ(Column(list, 0), (V{"a.jpg", "c.jpg", "b.jpg"}));
    // A refill keeps the order.
    list.Fill();
    EXPECT_EQ(Column(list, 0), (V{"a.jpg", "c.jpg", "b.jpg"}));
}

TEST_F(FilesList, SelectionFollowsTheBrowserBothWays) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        WriteFile(dir / name);
    CImgThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    browser.OpenFolder("0," + dir.path().string());
    CFilesList list(&browser);
    list.Fill();
    // The browser selects: the list follows.
    browser.SelectAll();
    EXPECT_EQ(list.SelectedPaths().size(), 4u);
    browser.DeselectAll();
    browser.SelectItem(2);
    EXPECT_EQ(list.SelectedPaths(), (std::vector<std::string>{dir / "c.jpg"}));
    // The list selects: the browser follows and the status panes say so.
    list.selectionModel()->select(list.Model()->index(0, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list.selectionModel()->select(list.Model()->index(3, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    std::vector<std::string> selected;
    browser.GetSelectedFiles(selected);
    EXPECT_EQ(selected, (std::vector<std::string>{dir / "a.jpg", dir / "d.jpg"}));
    EXPECT_EQ(host.Status().at(0), "Total 2 files");
    // The drag offers the selected files in list order.
    std::unique_ptr<QMimeData> data(list.BuildDropFiles());
    ASSERT_EQ(data->urls().size(), 2);
    EXPECT_EQ(data->urls()[1].toLocalFile().toStdString(), dir / "d.jpg");
    list.clearSelection();
    data.reset(list.BuildDropFiles());
    EXPECT_TRUE(data->urls().isEmpty());
}

TEST_F(FilesList, RenameKeepsTheExtensionAndSaysWhyItFailed) {
    WriteFile(dir / "a.jpg", 100);
    WriteFile(dir / "b.jpg", 100);
    CImgThumbsBrowser browser(builder);
    browser.SetSortMode(0);
    browser.OpenFolder("0," + dir.path().string());
    CFilesList list(&browser);
    list.Fill();
    CFilesListModel& model = *list.Model();
    EXPECT_FALSE(model.setData(model.index(0, 0), "a", Qt::EditRole));  // the same name
    EXPECT_FALSE(model.setData(model.index(0, 0), "", Qt::EditRole));
    EXPECT_TRUE(host.Errors().empty());
    EXPECT_FALSE(model.setData(model.index(0, 0), "b", Qt::EditRole));  // taken: nothing overwritten
    EXPECT_FALSE(model.setData(model.index(0, 0), "x/y", Qt::EditRole));
    EXPECT_EQ(host.Errors(), (std::vector<std::string>{
                                 "a.jpg: " + std::make_error_code(std::errc::file_exists).message(),
                                 "a.jpg: " + std::make_error_code(std::errc::invalid_argument).message()}));
    EXPECT_TRUE(fs::exists(dir / "a.jpg"));
    EXPECT_EQ(model.index(0, 0).data().toString(), "a.jpg");
    // Another case is another name here.
    EXPECT_TRUE(model.setData(model.index(0, 0), "A", Qt::EditRole));
    EXPECT_TRUE(fs::exists(dir / "A.jpg"));
    EXPECT_FALSE(fs::exists(dir / "a.jpg"));
    EXPECT_TRUE(model.setData(model.index(0, 0), "pier.txt", Qt::EditRole));
    EXPECT_TRUE(fs::exists(dir / "pier.txt.jpg"));
    EXPECT_EQ(model.index(0, 0).data().toString(), "pier.txt.jpg");
    EXPECT_EQ(browser.Paths()[0], dir / "pier.txt.jpg");
}

TEST_F(FilesList, ContextMenuBySelectionWithPasteOnlyForFiles) {
    WriteFile(dir / "a.jpg");
    WriteFile(dir / "b.jpg");
    CImgThumbsBrowser browser(builder);
    browser.OpenFolder("0," + dir.path().string());
    CFilesList list(&browser);
    list.Fill();
    auto menu = browser.CreateContextMenu(&list);
    EXPECT_EQ(menu->objectName(), "142");
    QAction* paste = nullptr;
    for (QAction* a : menu->actions())
        if (a->objectName() == "57637")
            paste = a;
    ASSERT_TRUE(paste);
    EXPECT_FALSE(paste->isEnabled());
    list.selectAll();
    EXPECT_EQ(browser.CreateContextMenu(&list)->objectName(), "146");
}

TEST_F(FilesList, DetailsListScreenshot) {
    OVH_REQUIRE_PHOTOS();
    CThumbsBuilderThreads realBuilder;
    for (const char* name : {"boat1.jpg", "boat2.jpg", "boat3.jpg", "boat4.jpg"})
        fs::copy_file(TestData::Photo(std::string("boat-row/") + name), dir.path() / name);
    CImgThumbsBrowser browser(realBuilder);
    browser.SetSortMode(0);
    browser.OpenFolder("0," + dir.path().string());
    ASSERT_TRUE(realBuilder.WaitIdle(30000));
    CFilesList list(&browser);
    list.resize(640, 200);
    list.Fill();
    browser.SelectItem(1);
    const std::vector<std::string> sizes = Column(list, 1);
    EXPECT_NE(sizes[0].find("bits"), std::string::npos) << sizes[0];
    SaveScreenshot(&list, "browser_details_list");
    realBuilder.Stop();
}
