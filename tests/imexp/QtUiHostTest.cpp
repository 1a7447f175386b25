// The Qt user interface of the library: converter errors in a real message
// box only when a window is given, no dialog off the GUI thread (a worker's
// message box waits for it), the exported COVFileOpenDlg, and the companion
// library that libformgate.so loads.

#include <dlfcn.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <thread>

#include "DialogTestSupport.h"
#include "ImExpFileDialog.h"

using namespace FormgateTest;

namespace {

class QtHostTest : public DialogTest {
protected:
    void SetUp() override {
        StartUi({"conv_a", "conv_b", "conv_c"},
                "[conv_a.so]\nFilter=A\nPatterns=.tca\n[conv_b.so]\nFilter=B\nPatterns=.tcb\n"
                "[conv_c.so]\nFilter=C\nPatterns=.tcc\n");
    }
};

}  // namespace

TEST_F(QtHostTest, ConverterErrorsShowInAMessageBoxOnlyWithAWindow) {
    const std::string missing = dir_ / "missing.tca";
    RecordingSink sink;
    auto seen = AnswerMessage(QMessageBox::NoButton, "formgate_converter_error");
    EXPECT_EQ(ImExp_ReadFile(&sink, Window(), missing.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(seen->shown);
    EXPECT_EQ(seen->caption, "Converter Error");
    EXPECT_EQ(seen->text, "Cannot open file missing.tca");
    EXPECT_EQ(seen->icon, QMessageBox::Critical);

    seen = AnswerMessage();
    formgate::ClearLastReportedError();
    EXPECT_EQ(ImExp_ReadFile(&sink, nullptr, missing.c_str(), ImExp::PixelRgb24, nullptr, nullptr, 0), 0);
    EXPECT_FALSE(seen->shown);
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorCannotOpen);
}

TEST_F(QtHostTest, NothingIsShownOffTheGuiThread) {
    const std::string file = File("photo.tca", Tcv("width=4\nheight=3\n"));
    int select = -1, info = -1, setup = -1;
    RecordingSink sink;
    std::thread worker([&] {
        char path[260] = {};
        select = ImExp_SelectFileToRead(Window(), path);
        info = ImExp_ShowFileInfo(Window(), file.c_str(), 0);
        setup = ImExp_ConfigureConverters(Window());
        // A failure on the worker shows nothing there, and the cursor is left alone.
        ImExp_ReadFile(&sink, Window(), (dir_ / "missing.tca").c_str(), ImExp::PixelRgb24, nullptr, nullptr,
                       0);
    });
    worker.join();
    EXPECT_EQ(select, 0);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(setup, 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // Its message box comes once the GUI thread gets to it.
    auto seen = AnswerMessage();
    QCoreApplication::processEvents();
    EXPECT_TRUE(seen->shown);
    EXPECT_EQ(seen->text, "Cannot open file missing.tca");
}

// A failure reported from a worker whose window has gone meanwhile shows nothing.
TEST_F(QtHostTest, AWorkersMessageForAWindowGoneIsDropped) {
    auto owner = std::make_unique<QWidget>();
    RecordingSink sink;
    std::thread worker([&] {
        ImExp_ReadFile(&sink, owner.get(), (dir_ / "missing.tca").c_str(), ImExp::PixelRgb24, nullptr,
                       nullptr, 0);
    });
    worker.join();
    owner.reset();
    bool shown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = true;
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(5);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
}

TEST_F(QtHostTest, OVFileOpenDlgOffersVideoAndRemembersItAsNoReader) {
    File("clip.avi", "RIFF");
    QStringList filters;
    WhenShown<formgate::CImExpOpenDialog>([&](formgate::CImExpOpenDialog* dialog) {
        filters = dialog->nameFilters();
        dialog->setDirectory(QString::fromStdString(dir_.path().string()));
        dialog->selectNameFilter(filters.value(3));
        SaveScreenshot(dialog, "formgate_ovfileopendlg");
        dialog->FileNameEdit()->setText("clip.avi");
        dialog->accept();
    });
    Platform::IniFile(Settings()).WriteString("Settings", "OpenFormat", "Test conv_b.so");
    COVFileOpenDlg dialog(1, nullptr, nullptr, 0, nullptr, Window());
    EXPECT_EQ(dialog.m_bVideo, 0);
    dialog.m_bVideo = 1;
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(filters, QStringList({"A (*.tca)", "B (*.tcb)", "C (*.tcc)", "AVI Files (*.AVI) (*.avi)",
                                    "All Graphic Files (*.tca *.tcb *.tcc)"}));
    EXPECT_EQ(std::string(dialog.GetPathName()), dir_ / "clip.avi");
    EXPECT_EQ(Setting("OpenFormat"), "");
    EXPECT_EQ(Setting("OpenDir"), dir_.path().string() + "/");

    WhenShown<formgate::CImExpOpenDialog>([](formgate::CImExpOpenDialog* d) { d->reject(); });
    EXPECT_EQ(dialog.DoModal(), 2);
}

TEST_F(QtHostTest, OVFileOpenDlgWithoutConvertersReportsAConversionError) {
    TearDown();
    StartUi({});
    auto seen = AnswerMessage();
    COVFileOpenDlg dialog(1, nullptr, nullptr, 0, nullptr, Window());
    EXPECT_EQ(dialog.DoModal(), 0);
    EXPECT_EQ(seen->text, "General Conversion Error");
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorNoConverter);
}

// libformgate.so itself: its user interface comes from the companion library
// beside it, loaded because this process runs Qt Widgets.
TEST(FormgateLibrary, ShowsErrorsThroughItsCompanionLibrary) {
    void* library = ::dlopen(FORMGATE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using ShowInfo = int(void*, const char*, int);
    auto* show = reinterpret_cast<ShowInfo*>(::dlsym(library, "_Z18ImExp_ShowFileInfoPvPKci"));
    ASSERT_NE(show, nullptr);
    QWidget window;
    auto seen = AnswerMessage();
    EXPECT_EQ(show(&window, "/nonexistent/folder/gone.png", 0), 0);
    EXPECT_TRUE(seen->shown);
    EXPECT_EQ(seen->caption, "Converter Error");
    EXPECT_EQ(seen->text, "Cannot open file gone.png");
    EXPECT_EQ(show(nullptr, "/nonexistent/folder/gone.png", 0), 0) << "no window, no dialog";
}
