// What a new user meets on the real main window: every way a build ends asks
// about the photos it left out, the menu's Stitch and the export task stitch
// what the "2. Stitch" page shows, Remove All leaves no selection behind, the
// files the engine cannot take are named in one message, the loading of the
// photos can be cancelled, and the installed program names its help page
// without "bin/..".
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "CDlgPrompts.h"
#include "CEditVideoStoryboard.h"
#include "CommandIds.h"
#include "CustomDialogBar.h"
#include "CustomTabCtrl.h"
#include "CDlgSaving.h"
#include "DlgStitching.h"
#include "FrameEngineCallbacks.h"
#include "MainFrame.h"
#include "NewMenu.h"
#include "OvHorizelApp.h"
#include "Profile.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "TestData.h"
#include "UiServices.h"

namespace {

// The program on a fresh profile with the given photos on its command line; a
// watcher answers message boxes and prompts (noting their texts and the photos
// marked in the strip meanwhile) and can press Cancel while photos load.
struct Program {
    QTemporaryDir dir;
    COvHorizelApp app;
    QTimer watcher;
    QStringList messages;
    QList<QMessageBox::Icon> icons;
    QString boxShot;  // the name to save the message boxes' screenshot under
    QStringList prompts;
    QStringList markedDuringPrompt;
    QString promptAnswer = "6";
    bool cancelLoading = false;
    bool cancelWasOffered = false;
    bool cancelMatching = false;
    bool cancelledWhileMatching = false;

    explicit Program(const std::vector<std::string>& photos, int horzVert = 1,
                     const std::string& programPath = std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel") {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        AppProfile::WriteProfileInt("STITCHING", "HorzVert", horzVert);
        UiServices::SetMessageHandler([this](QWidget*, const QString& t, const QString&) { messages << t; });
        // Watching already while the start loads the photos.
        watcher.setInterval(2);
        QObject::connect(&watcher, &QTimer::timeout, [this] { Watch(); });
        watcher.start();
        app.InitInstance(programPath, photos);
        frame().showNormal();
        frame().setGeometry(0, 0, 1400, 900);
        QTest::qWait(20);
        WaitForJobs(doc());
    }
    ~Program() {
        watcher.stop();
        app.ExitInstance();
        UiServices::SetMessageHandler(nullptr);
    }
    CMainFrame& frame() { return *app.GetMainFrame(); }
    COvHorizelDoc& doc() { return frame().Document(); }
    CDlgStitching& page() { return *frame().StitchBar()->StitchPage(); }

    void Watch() {
        if (!app.GetMainFrame())
            return;
        CDlgProgressIndicator* progress = frame().Callbacks().ProgressWindow();
        if (cancelLoading && progress->isVisible() &&
            progress->TextControl()->text().startsWith("Loading images")) {
            if (progress->CancelButton()->isVisible()) {
                cancelWasOffered = true;
                SaveScreenshot(progress, "first-use-loading-with-cancel");
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
            }
            cancelLoading = false;
        }
        if (cancelMatching && progress->isVisible() &&
            progress->TextControl()->text().startsWith("Matching") && doc().Jobs().IsRunning()) {
            QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
            cancelledWhileMatching = progress->IsCancelled();
            cancelMatching = false;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages << box->text();
            icons << box->icon();
            if (!boxShot.isEmpty())
                SaveScreenshot(box, boxShot);
            box->accept();
        } else if (auto* prompt = qobject_cast<CDlgPromptBase*>(modal)) {
            prompts << prompt->Message();
            for (const auto& photo : doc().GetPhotoList())
                if (photo->IsMarked())
                    markedDuringPrompt << QString::fromStdString(photo->GetFileName());
            QTest::mouseClick(prompt->findChild<QPushButton*>(promptAnswer), Qt::LeftButton);
        }
    }
    void ClickTaskTab(int task) {
        CCustomTabCtrl* tabs = frame().TaskBar()->Tabs();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(task - 1).center());
        QTest::qWait(10);
        WaitForJobs(doc());
    }
    void ClickStart() {
        page().Poll();
        ASSERT_TRUE(page().StartButton()->isEnabled());
        QTest::mouseClick(page().StartButton(), Qt::LeftButton);
        QTest::qWait(10);
        WaitForJobs(doc());
    }
    // Opens the item's menu and clicks the item, as the user does.
    void ClickMenuItem(int id) {
        MenuEx::CNewMenu* menu = frame().NewMenuBar()->Model()->FindMenuOfItem(id);
        ASSERT_TRUE(menu) << id;
        menu->popup(frame().mapToGlobal(QPoint(40, 40)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        QAction* action = frame().Action(id);
        ASSERT_TRUE(menu->actions().contains(action)) << id;
        ASSERT_TRUE(action->isEnabled()) << id;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        QTest::qWait(10);
        WaitForJobs(doc());
    }
    void ClickStripCell(int index, Qt::KeyboardModifiers keys = {}) {
        CEditVideoStoryboard* strip = frame().PhotoStrip();
        const QPoint at = strip->ItemRect(index).center() - QPoint(strip->ScrollX(), 0);
        QTest::mouseClick(strip->viewport(), Qt::LeftButton, keys, at);
    }
};

// Half-size copies of the weir row with its distractor brought to the same
// size, in the order weir 1, weir 2, distractor, weir 3.
std::vector<std::string> WeirWithDistractor(const QTemporaryDir& dir) {
    std::vector<std::string> paths;
    for (const char* name : {"weir_1.jpg", "weir_2.jpg", "weir_noise.jpg", "weir_3.jpg"}) {
        const QString from = QString::fromStdString(TestData::Photo(std::string("weir-row-distractor/") + name));
        const QString to = dir.filePath(name);
        QImage(from).scaled(666, 375).save(to, "JPG", 95);
        paths.push_back(to.toStdString());
    }
    return paths;
}

// A display that takes a while for each paint of the window, as a busy X
// server does.
struct SlowPaint : QObject {
    QWidget* window;
    explicit SlowPaint(QWidget* w) : window(w) { window->installEventFilter(this); }
    ~SlowPaint() override { window->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window && event->type() == QEvent::Paint)
            QThread::msleep(20);
        return false;
    }
};

}  // namespace

TEST(FirstUseRoad, EveryWayABuildEndsAsksAboutThePhotosLeftUnmatched) {
    OVH_REQUIRE_PHOTOS();
    enum Trigger { Button, Menu, ExportTab };
    for (int horzVert : {1, 0}) {
        for (Trigger trigger : {Button, Menu, ExportTab}) {
            SCOPED_TRACE(testing::Message() << "model " << (horzVert ? "planar" : "tiled") << ", trigger "
                                            << trigger);
            QTemporaryDir photos;
            Program p(WeirWithDistractor(photos), horzVert);
            ASSERT_EQ(p.frame().GetTask(), 2);
            if (trigger == Button)
                p.ClickStart();
            else if (trigger == Menu)
                p.ClickMenuItem(CmdId::Stitch);
            else
                p.ClickTaskTab(3);
            ASSERT_EQ(p.prompts.size(), 1) << p.messages.join('|').toStdString();
            EXPECT_TRUE(p.prompts[0].startsWith("1 photos from 4 could not be automatically matched"))
                << p.prompts[0].toStdString();
            EXPECT_EQ(p.markedDuringPrompt, QStringList{"weir_noise.jpg"});
            EXPECT_NE(p.doc().GetDisplayResult(), nullptr) << "Ignore keeps the partial panorama";
            if (horzVert == 0 && trigger == Button)
                SaveScreenshot(&p.frame(), "first-use-tiled-after-unmatched-prompt");
        }
    }
}

TEST(FirstUseRoad, TheMenusStitchAndTheExportTaskStitchWhatThePageShows) {
    using SamplePhotos::BoatRow;
    // The last run left the tiled tab chosen; this one switches to
    // "Horizontal/Vertical" with skew.
    Program p(BoatRow(3), 0);
    ASSERT_EQ(p.page().Tabs()->currentIndex(), 1);
    QTabBar* tabs = p.page().Tabs()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    QTest::mouseClick(p.page().HVPage()->findChild<QRadioButton*>("1008"), Qt::LeftButton);
    HVPanoramaOptions used;

    p.ClickTaskTab(3);
    EXPECT_TRUE(p.doc().GetPlanarEngine()->IsBuilt()) << "the export task stitched with the page's model";
    EXPECT_FALSE(p.doc().GetTiledEngine()->IsBuilt());
    p.doc().GetPlanarEngine()->GetOptions(&used);
    EXPECT_EQ(used.motionModel, 0) << "and with its options";

    p.ClickTaskTab(2);
    QTest::mouseClick(p.page().HVPage()->findChild<QRadioButton*>("1007"), Qt::LeftButton);
    p.ClickMenuItem(CmdId::Stitch);
    EXPECT_FALSE(p.doc().GetTiledOptions());
    EXPECT_TRUE(p.doc().GetPlanarEngine()->IsBuilt());
    EXPECT_FALSE(p.doc().GetTiledEngine()->IsBuilt());
    p.doc().GetPlanarEngine()->GetOptions(&used);
    EXPECT_EQ(used.motionModel, 1) << "the menu's Stitch takes the page's options";
    EXPECT_TRUE(p.prompts.isEmpty()) << p.prompts.join('|').toStdString();
}

TEST(FirstUseRoad, RemoveAllLeavesNoSelectionForTheNextPhotos) {
    using SamplePhotos::BoatRow;
    Program p(BoatRow(4));
    p.ClickTaskTab(1);
    p.ClickStripCell(0);
    p.ClickStripCell(3, Qt::ShiftModifier);
    CSelectionManager* selection = p.frame().PhotoStrip()->Manager();
    int selected = 0;
    for (const auto& photo : p.doc().GetPhotoList())
        selected += selection->IsSelected(photo.get()) ? 1 : 0;
    ASSERT_EQ(selected, 4);

    p.ClickMenuItem(CmdId::RemoveAll);
    ASSERT_EQ(p.doc().GetPhotoList().GetCount(), 0u);
    p.frame().AddFilesToProject(BoatRow(6));
    ASSERT_EQ(p.doc().GetPhotoList().GetCount(), 6u);
    for (const auto& photo : p.doc().GetPhotoList())
        EXPECT_FALSE(selection->IsSelected(photo.get())) << photo->GetFileName();
    SaveScreenshot(p.frame().PhotoStrip(), "first-use-strip-after-remove-all-and-add");

    // Nothing chosen, so Remove Image removes nothing.
    p.ClickMenuItem(CmdId::RemoveSelected);
    EXPECT_EQ(p.doc().GetPhotoList().GetCount(), 6u);
    EXPECT_EQ(p.messages.size(), 1) << p.messages.join('|').toStdString();
}

TEST(FirstUseRoad, FilesTheEngineCannotTakeAreNamedInOneMessageWithWhy) {
    using SamplePhotos::Boat;
    QTemporaryDir files;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName().toStdString();
    };
    QFile boat(QString::fromStdString(Boat(4)));
    ASSERT_TRUE(boat.open(QIODevice::ReadOnly));
    const QByteArray whole = boat.readAll();
    QImage grey(QString::fromStdString(Boat(5)));
    grey = grey.convertToFormat(QImage::Format_Grayscale8);
    ASSERT_TRUE(grey.save(files.filePath("scan.png"), "PNG"));
    std::vector<std::string> photos = {Boat(1),
                                       write("cut.jpg", whole.left(600)),
                                       Boat(2),
                                       write("empty.jpg", {}),
                                       write("notes.jpg", "shopping list\n"),
                                       files.filePath("scan.png").toStdString(),
                                       Boat(3)};

    Program p(photos);
    ASSERT_EQ(p.messages.size(), 1) << p.messages.join("\n---\n").toStdString();
    const QString text = p.messages[0];
    EXPECT_TRUE(text.startsWith("4 files cannot be stitched")) << text.toStdString();
    for (const char* line : {"cut.jpg: The file is damaged or is not a picture.",
                             "empty.jpg: The file is damaged or is not a picture.",
                             "notes.jpg: The file is damaged or is not a picture.",
                             "scan.png: It has 8 bits per pixel: only 24-bit colour photos can be stitched."})
        EXPECT_TRUE(text.contains(line)) << line << "\n" << text.toStdString();
    EXPECT_EQ(p.doc().GetPhotoList().GetCount(), 3u);
    p.ClickStart();
    EXPECT_NE(p.doc().GetDisplayResult(), nullptr) << "the rest is stitched";
    SaveScreenshot(&p.frame(), "first-use-after-refused-files-stitch");
}

TEST(FirstUseRoad, PhotosThatAreTheSamePictureAreNamedAfterTheBuild) {
    using SamplePhotos::Boat;
    QTemporaryDir copies;
    const auto copy = [&](int i, const char* name) {
        const QString to = copies.filePath(name);
        EXPECT_TRUE(QFile::copy(QString::fromStdString(Boat(i)), to));
        return to.toStdString();
    };
    const std::string again1 = copy(1, "again1.jpg");
    const std::string again2 = copy(2, "again2.jpg");
    // The same pixels saved anew are still the same picture.
    const QString resaved = copies.filePath("resaved1.png");
    ASSERT_TRUE(QImage(QString::fromStdString(Boat(1))).save(resaved, "PNG"));
    struct Case {
        const char* name;
        int horzVert;
        std::vector<std::string> photos;
        QString told;  // empty: nothing to tell
    };
    const Case cases[] = {
        {"two copies, planar", 1, {Boat(1), again1}, "\nboat1.jpg, again1.jpg"},
        {"two copies, tiled", 0, {Boat(1), again1}, "\nboat1.jpg, again1.jpg"},
        {"two pairs among a row", 1, {Boat(1), Boat(2), again1, Boat(3), again2, resaved.toStdString()},
         "\nboat1.jpg, again1.jpg, resaved1.png\nboat2.jpg, again2.jpg"},
        {"a row of different photos", 1, {Boat(1), Boat(2), Boat(3)}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program p(c.photos, c.horzVert);
        ASSERT_TRUE(p.messages.isEmpty()) << p.messages.join('|').toStdString();
        p.boxShot = "first-use-same-pictures-message";
        p.ClickStart();
        ASSERT_NE(p.doc().GetDisplayResult(), nullptr);
        if (c.told.isEmpty()) {
            EXPECT_TRUE(p.messages.isEmpty()) << p.messages.join('|').toStdString();
            continue;
        }
        ASSERT_EQ(p.messages.size(), 1) << p.messages.join('|').toStdString();
        EXPECT_EQ(p.messages[0].toStdString(),
                  ("These photos are the same picture, so the panorama shows it only once:" + c.told).toStdString());
        EXPECT_EQ(p.icons[0], QMessageBox::Information) << "nothing went wrong";
    }
}

TEST(FirstUseRoad, TheExportTaskNamesThePrintProductsItCouldNotRead) {
    QTemporaryDir data;
    const QByteArray dataBefore = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    ASSERT_TRUE(QDir(data.path()).mkpath("ORVEXQXLOGS"));
    const std::string file = data.filePath("ORVEXQXLOGS/aspect.xml").toStdString();
    const std::string text =
        "<PRODUCTS>\n"
        "<PRODUCT w=\"30\" h=\"10\" oms_id=\"5\" name=\"Poster 30 x 10\"/>\n"
        "<PRODUCT w=\"20\" h=\"10\" name=\"Card\"/>\n"
        "<PRODUCT w=\"60\" h=\"20\" oms_id=\"7\" name=\"Canvas & frame\"/>\n"
        "<PRODUCT w=\"0\" h=\"20\" oms_id=\"8\" name=\"Strip\"/>\n"
        "</PRODUCTS>\n";
    std::ofstream(file) << text;
    const auto at = [&](const char* name) {
        return std::to_string(text.rfind("<PRODUCT ", text.find(name)));
    };
    {
        Program p({});
        p.boxShot = "first-use-skipped-products-message";
        p.ClickTaskTab(3);
        ASSERT_EQ(p.frame().GetTask(), 3);
        ASSERT_EQ(p.messages.size(), 2) << p.messages.join("\n---\n").toStdString();
        EXPECT_EQ(p.messages[0], "Please select images to add to panorama project first!");
        EXPECT_EQ(p.messages[1].toStdString(),
                  "These print products of aspect.xml could not be read and are not offered:\n" + file +
                      ": PRODUCT at byte " + at("Card") + ": w, h or oms_id missing\n" + file +
                      ": PRODUCT at byte " + at("Strip") + ": no area");
        ASSERT_EQ(p.icons.size(), 1) << "the first is no box of the program's own";
        EXPECT_EQ(p.icons[0], QMessageBox::Information);
        // The two products the file spells out are offered, the one with a bare '&' too.
        QComboBox* products = p.frame().SavePage()->AspectCombo();
        ASSERT_EQ(products->count(), 4);
        EXPECT_TRUE(products->itemText(3).startsWith("Canvas & frame")) << products->itemText(3).toStdString();
        SaveScreenshot(&p.frame(), "first-use-export-after-skipped-products");

        // Told once.
        p.ClickTaskTab(2);
        p.ClickTaskTab(3);
        EXPECT_EQ(p.messages.filter("aspect.xml").size(), 1) << p.messages.join("\n---\n").toStdString();
    }
    if (dataBefore.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", dataBefore);
}

TEST(FirstUseRoad, LoadingThePhotosCanBeCancelledAndTheStitchLoadsTheRest) {
    // Photos that take a while each to load, as a camera's do: the load runs
    // off the window's thread and would be over before the watcher looks.
    QTemporaryDir large;
    std::vector<std::string> photos;
    for (const std::string& path : SamplePhotos::BoatRow(6)) {
        const QString to = large.filePath(QFileInfo(QString::fromStdString(path)).fileName());
        const QImage photo(QString::fromStdString(path));
        photo.scaled(photo.size() * 2).save(to, "JPG", 90);
        photos.push_back(to.toStdString());
    }
    Program p({});
    p.frame().AddFilesToProject(photos);
    p.cancelLoading = true;
    p.ClickTaskTab(2);
    ASSERT_TRUE(p.cancelWasOffered) << "the progress window offers Cancel while photos load";
    EXPECT_FALSE(p.frame().Callbacks().ProgressWindow()->isVisible());
    EXPECT_EQ(p.doc().GetPhotoList().GetCount(), 6u) << "a cancelled load removes no photo";
    EXPECT_LT(p.doc().GetPhotoElements().size(), 6u) << "the load stopped";
    EXPECT_TRUE(p.messages.isEmpty()) << p.messages.join('|').toStdString();

    p.ClickStart();
    EXPECT_EQ(p.doc().GetPhotoElements().size(), 6u);
    EXPECT_NE(p.doc().GetDisplayResult(), nullptr);
}

TEST(FirstUseRoad, CancelWhileARebuildMatchesEndsTheBuild) {
    // The second build reuses the first one's analyses and goes straight to
    // the matching, which asks the window to repaint many times; on a slow
    // display each paint costs a while. The window must still take the click.
    OVH_REQUIRE_PHOTOS();
    std::vector<std::string> ring;
    for (int i = 1; i <= 12; ++i)
        ring.push_back(
            TestData::Photo(QString::asprintf("apartment-ring/small-%02d.jpg", i).toStdString()).string());
    Program p(ring, 1);
    p.ClickStart();
    ASSERT_EQ(p.doc().GetPlanarEngine()->GetBuildReport()->status, 1);

    SlowPaint slow(&p.frame());
    QTest::mouseClick(p.page().HVPage()->findChild<QRadioButton*>("1007"), Qt::LeftButton);
    p.cancelMatching = true;
    p.ClickStart();
    EXPECT_TRUE(p.cancelledWhileMatching) << "Cancel was pressed while the progress window said Matching";
    EXPECT_EQ(p.doc().GetPlanarEngine()->GetBuildReport()->status, 2) << "the build ended cancelled";
    EXPECT_EQ(p.doc().GetDisplayResult(), nullptr);
    EXPECT_FALSE(p.frame().Callbacks().ProgressWindow()->isVisible());
    SaveScreenshot(&p.frame(), "first-use-rebuild-cancelled-while-matching");
}

TEST(FirstUseRoad, TheInstalledProgramNamesItsHelpPageWithoutBinDotDot) {
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath("bin");
    QDir(prefix.path()).mkpath("share/ovhorizel/Res");
    Program p({}, 1, prefix.filePath("bin/ovhorizel").toStdString());
    p.ClickMenuItem(CmdId::HelpTopics);
    ASSERT_EQ(p.messages.size(), 1);
    const QString expected = prefix.filePath("share/ovhorizel/Res/Help/OvHorizel.html");
    EXPECT_EQ(p.messages[0].toStdString(), QStringLiteral("The help page %1 is missing.").arg(expected).toStdString());
}
