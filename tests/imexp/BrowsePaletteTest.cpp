// The browse palette beside the open dialog, on real photos through the
// shipped converters: thumbnails, the red cross, click and double click, and
// the cache a second run reads instead of decoding.

#include <QAction>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <cstdlib>

#include "BrowseModel.h"
#include "BrowsePalette.h"
#include "DialogTestSupport.h"
#include "ImExpFileDialog.h"

using namespace FormgateTest;
using formgate::CBrowsePalette;
using formgate::CImExpOpenDialog;
using formgate::CPaletteItem;

namespace {

// Runs the event loop until done() holds or ten seconds pass.
bool WaitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

class BrowsePaletteTest : public DialogTest {
protected:
    void SetUp() override {
        OVH_REQUIRE_PHOTOS();
        // The shipped converters, by their full paths, in a settings file of our own.
        const std::string shipped = std::filesystem::path(FORMGATE_LIBRARY).parent_path() / "converters";
        WriteText(Settings(),
                  "[Converters]\n0=" + shipped + "/conv_jpeg.so\n1=" + shipped + "/conv_png.so\n");
        ASSERT_TRUE(TheFormgateApp().InitInstanceIn(dir_.path().string()));
        TheFormgateApp().SetHost(&formgate::TheQtUiHost());
        const char* old = std::getenv("XDG_CACHE_HOME");
        oldCache_ = old ? old : "";
        hadCache_ = old != nullptr;
        ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
        std::filesystem::create_directory(dir_.path() / "photos");
        for (const char* name : {"small-01.jpg", "small-02.jpg"})
            std::filesystem::copy_file(TestData::Photo(std::string("apartment-ring/") + name),
                                       dir_.path() / "photos" / name);
        // A photo cut short: its reader takes it, but it cannot be read.
        const std::string whole = ReadText(TestData::Photo("apartment-ring/small-01.jpg"));
        WriteText(dir_ / "photos/cut.jpg", whole.substr(0, 3000));
        WriteText(dir_ / "photos/notes.txt", "not an image");
    }
    void TearDown() override {
        if (hadCache_)
            ::setenv("XDG_CACHE_HOME", oldCache_.c_str(), 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
        DialogTest::TearDown();
    }
    std::string Photos() const { return dir_ / "photos"; }

    std::string oldCache_;
    bool hadCache_ = false;
};

void SaveBeside(QWidget* dialog, QWidget* palette, const QString& name) {
    const QPixmap left = dialog->grab(), right = palette->grab();
    QImage both(left.width() + right.width() + 8, std::max(left.height(), right.height()),
                QImage::Format_RGB32);
    both.fill(Qt::darkGray);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, left);
    painter.drawPixmap(left.width() + 8, 0, right);
    painter.end();
    QDir().mkpath(OVH_SCREENSHOT_DIR);
    both.save(QString(OVH_SCREENSHOT_DIR) + "/" + name + ".png");
}

}  // namespace

TEST_F(BrowsePaletteTest, ShowsThumbnailsSelectsOpensAndCachesThem) {
    QStringList paths;
    QString clickedName, title, buttonText, buttonAfter;
    std::vector<std::pair<int, int>> sizes;
    std::vector<bool> dibs;
    WhenShown<CImExpOpenDialog>([&](CImExpOpenDialog* dialog) {
        dialog->setDirectory(QString::fromStdString(Photos()));
        dialog->BrowseButton()->click();
        CBrowsePalette* palette = dialog->Palette();
        ASSERT_NE(palette, nullptr);
        palette->resize(300, 280);
        ASSERT_TRUE(WaitUntil([&] { return !palette->Filling(); }));
        paths = palette->Paths();
        title = palette->windowTitle();
        buttonText = dialog->BrowseButton()->text();
        for (const QString& path : paths) {
            const CPaletteItem* item = palette->Model().Item(path.toStdString(), false);
            sizes.emplace_back(item ? item->width : -1, item ? item->height : -1);
            dibs.push_back(item && item->HasDib());
        }
        // A click on the second cell puts its name into the dialog.
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(CPaletteItem::kCellWidth + 20, 30), QPointF(),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(palette, &press);
        clickedName = dialog->FileNameEdit()->text();
        SaveBeside(dialog, palette, "formgate_open_dialog_browse");
        // A double click opens it.
        QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(CPaletteItem::kCellWidth + 20, 30), QPointF(),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(palette, &twice);
    });
    char path[260] = {};
    ASSERT_EQ(ImExp_SelectFileToRead(Window(), path), 1);

    EXPECT_EQ(paths, QStringList({QString::fromStdString(Photos() + "/cut.jpg"),
                                  QString::fromStdString(Photos() + "/small-01.jpg"),
                                  QString::fromStdString(Photos() + "/small-02.jpg")}));
    EXPECT_EQ(title.toStdString(), "Graphic files in folder " + Photos());
    EXPECT_EQ(buttonText, "&Refresh");
    EXPECT_EQ(dibs, (std::vector<bool>{false, true, true})) << "the cut photo gets the red cross";
    for (size_t i = 1; i < sizes.size(); ++i) {
        EXPECT_TRUE(sizes[i].first == 120 || sizes[i].second == 90)
            << sizes[i].first << "x" << sizes[i].second;
        EXPECT_LE(sizes[i].first, 120);
        EXPECT_LE(sizes[i].second, 90);
    }
    EXPECT_EQ(clickedName, "small-01.jpg");
    EXPECT_EQ(std::string(path), Photos() + "/small-01.jpg");

    // Closing stored the cache and the window's place; a second run decodes nothing.
    const std::string cacheFile = dir_ / "cache/ORVEX Horizel/QXBRWS.TMP";
    ASSERT_TRUE(std::filesystem::exists(cacheFile));
    Platform::IniFile ini(Settings());
    EXPECT_EQ(ini.GetInt("Browse", "SAVEDB", -1), 1);
    EXPECT_EQ(ini.GetInt("Browse", "Right", 0) - ini.GetInt("Browse", "Left", 0), 300);
    formgate::BrowseModel again(cacheFile, Settings());
    for (const QString& file : paths)
        ASSERT_NE(again.Item(file.toStdString(), true), nullptr);
    EXPECT_EQ(again.ItemsMade(), 0);
    EXPECT_EQ(again.Cache().size(), 3u);

    // A changed file is made again.
    std::filesystem::last_write_time(
        Photos() + "/small-02.jpg",
        std::filesystem::last_write_time(Photos() + "/small-02.jpg") + std::chrono::seconds(5));
    again.Item(Photos() + "/small-02.jpg", true);
    EXPECT_EQ(again.ItemsMade(), 1);
}

TEST_F(BrowsePaletteTest, RefreshRefillsOnlyWhenTheFolderChanged) {
    int before = -1, unchanged = -1, changed = -1;
    WhenShown<CImExpOpenDialog>([&](CImExpOpenDialog* dialog) {
        dialog->setDirectory(QString::fromStdString(Photos()));
        dialog->BrowseButton()->click();
        CBrowsePalette* palette = dialog->Palette();
        ASSERT_TRUE(WaitUntil([&] { return !palette->Filling(); }));
        before = static_cast<int>(palette->Paths().size());
        palette->findChild<QScrollBar*>()->setValue(0);
        dialog->BrowseButton()->click();  // "&Refresh"
        unchanged = palette->Filling() ? 1 : 0;
        std::filesystem::remove(Photos() + "/small-02.jpg");
        dialog->BrowseButton()->click();
        changed = static_cast<int>(palette->Paths().size());
        // The menu's first entry follows the save flag.
        QMenu* menu = palette->ContextMenu();
        menu->findChild<QAction*>("32771")->trigger();
        EXPECT_FALSE(palette->Model().SaveOnExit());
        palette->close();
        EXPECT_EQ(dialog->BrowseButton()->text(), "&Browse...");
        dialog->reject();
    });
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_EQ(before, 3);
    EXPECT_EQ(unchanged, 0) << "an unchanged folder is not refilled";
    EXPECT_EQ(changed, 2);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "cache/ORVEX Horizel/QXBRWS.TMP"))
        << "saving was switched off";
    EXPECT_EQ(Platform::IniFile(Settings()).GetInt("Browse", "SAVEDB", -1), 0);
}
