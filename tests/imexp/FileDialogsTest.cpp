// The library's open and save dialogs: what they list and start on, what they
// remember, the names they hand back, and the entry points that read or
// write what the user chose.

#include <QComboBox>
#include <QLineEdit>

#include <cstring>

#include "DialogTestSupport.h"
#include "FileDialogs.h"
#include "ImExpFileDialog.h"
#include "ImageInfoDialog.h"

using namespace FormgateTest;
using formgate::CImExpOpenDialog;
using formgate::CImExpSaveDialog;

namespace {

const char* kReaders =
    "[conv_a.so]\nFilter=Alpha images\nPatterns=.tca\n"
    "[conv_b.so]\nFilter=Beta images\nPatterns=.tcb;.tcx\n"
    "[conv_w.so]\nFlags=2\nFilter=Write only\nPatterns=.tcw\n";

class OpenDialogTest : public DialogTest {
protected:
    void SetUp() override { StartUi({"conv_a", "conv_b", "conv_w"}, kReaders); }

    // Chooses name under filter in the open dialog once it shows.
    void Choose(const QString& filter, const QString& name, QStringList* filters = nullptr,
                QString* initial = nullptr, const QString& screenshot = {}) {
        WhenShown<CImExpOpenDialog>([=, this](CImExpOpenDialog* dialog) {
            if (filters)
                *filters = dialog->nameFilters();
            if (initial)
                *initial = dialog->ChosenNameFilter();
            if (!screenshot.isEmpty())
                SaveScreenshot(dialog, screenshot);
            if (name.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->setDirectory(QString::fromStdString(dir_.path().string()));
            dialog->selectNameFilter(filter);
            dialog->FileNameEdit()->setText(name);
            dialog->accept();
        });
    }
};

}  // namespace

TEST_F(OpenDialogTest, ListsReadersStoresItsKeysAndReadsThroughTheChosenReader) {
    const std::string file = File("photo.tcb", Tcv("width=5\nheight=2\n"));
    QStringList filters;
    QString initial;
    Choose("Beta images (*.tcb *.tcx)", "photo.tcb", &filters, &initial, "formgate_open_dialog");
    char path[260] = {};
    std::strcpy(path, (dir_.path().string() + "/").c_str());
    RecordingSink sink;
    ASSERT_EQ(ImExp_SelectFileAndRead(&sink, Window(), path, ImExp::PixelRgb24, nullptr, nullptr, 0), 1);

    EXPECT_EQ(filters, QStringList({"Alpha images (*.tca)", "Beta images (*.tcb *.tcx)",
                                    "All Graphic Files (*.tca *.tcb *.tcx)"}));
    EXPECT_EQ(initial, "All Graphic Files (*.tca *.tcb *.tcx)") << "nothing remembered yet";
    EXPECT_EQ(std::string(path), file);
    EXPECT_EQ(sink.width, 5);
    EXPECT_EQ(LogCountPrefix("conv_b.so RDReadHeader"), 1);
    EXPECT_EQ(Setting("OpenDir"), dir_.path().string() + "/");
    EXPECT_EQ(Setting("OpenFormat"), "Test conv_b.so");
}

TEST_F(OpenDialogTest, StartsOnTheReaderOfTheNameElseTheRememberedOneAndCancelStoresNothing) {
    File("photo.tca", Tcv("width=4\nheight=3\n"));
    QString initial;
    // The remembered reader when the name matches none...
    Platform::IniFile(Settings()).WriteString("Settings", "OpenFormat", "Test conv_b.so");
    Choose({}, {}, nullptr, &initial);
    char path[260] = "photo.xyz";
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_EQ(initial, "Beta images (*.tcb *.tcx)");
    EXPECT_STREQ(path, "photo.xyz") << "a cancel leaves the caller's name";
    EXPECT_EQ(Setting("OpenDir"), "<none>");

    // ...the reader whose patterns match the incoming name first...
    Choose({}, {}, nullptr, &initial);
    std::strcpy(path, "old.tca");
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_EQ(initial, "Alpha images (*.tca)");

    // ...and the first entry for a remembered name no reader has any more.
    Platform::IniFile(Settings()).WriteString("Settings", "OpenFormat", "Gone");
    Choose({}, {}, nullptr, &initial);
    path[0] = '\0';
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_EQ(initial, "Alpha images (*.tca)");
    EXPECT_EQ(Setting("OpenFormat"), "Gone");

    // All Graphic Files is remembered as an empty name.
    Choose("All Graphic Files (*.tca *.tcb *.tcx)", "photo.tca");
    char16_t wide[260] = {};
    EXPECT_EQ(ImExp_SelectFileToReadW(Window(), wide), 1);
    EXPECT_EQ(formgate::Utf8FromUtf16(wide), dir_ / "photo.tca");
    EXPECT_EQ(Setting("OpenFormat"), "");
}

TEST_F(OpenDialogTest, InfoDescribesTheNamedFileAndOpensAFolder) {
    File("photo.tca", Tcv("width=1600\nheight=1200\n"));
    std::filesystem::create_directory(dir_.path() / "sub");
    QString infoName, folderAfter;
    bool buttons = false;
    WhenShown<CImExpOpenDialog>([&](CImExpOpenDialog* dialog) {
        buttons = dialog->InfoButton() && dialog->BrowseButton() &&
                  dialog->findChild<QPushButton*>("15005") == dialog->InfoButton() &&
                  dialog->InfoButton()->text() == "&Info..." &&
                  dialog->BrowseButton()->text() == "&Browse...";
        dialog->setDirectory(QString::fromStdString(dir_.path().string()));
        dialog->FileNameEdit()->setText("sub");
        dialog->InfoButton()->click();
        folderAfter = dialog->directory().absolutePath();
        dialog->setDirectory(QString::fromStdString(dir_.path().string()));
        dialog->FileNameEdit()->setText("photo.tca");
        WhenShown<formgate::CImageInfoDialog>([&](formgate::CImageInfoDialog* info) {
            infoName = LabelText(info, 100);
            info->accept();
        });
        dialog->InfoButton()->click();
        dialog->reject();
    });
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_TRUE(buttons);
    EXPECT_EQ(infoName, "photo.tca");
    EXPECT_EQ(folderAfter.toStdString(), dir_ / "sub");
}

TEST_F(OpenDialogTest, WithoutTemplateHasNoExtraButtons) {
    bool extra = true;
    WhenShown<CImExpOpenDialog>([&](CImExpOpenDialog* dialog) {
        extra = dialog->InfoButton() || dialog->findChild<QPushButton*>("15006");
        dialog->reject();
    });
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToReadNoTemplate(Window(), path), 0);
    EXPECT_FALSE(extra);
}

TEST_F(OpenDialogTest, APathLongerThanTheCallersBufferIsRefused) {
    const std::string deep = dir_ / std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string name = std::string(80, 'n') + ".tca";
    FormgateTest::WriteText(deep + "/" + name, Tcv("width=4\nheight=3\n"));
    Choose("Alpha images (*.tca)", QString::fromStdString(deep + "/" + name));
    auto seen = AnswerMessage();
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToRead(Window(), path), 0);
    EXPECT_EQ(path[0], '\0');
    EXPECT_EQ(seen->text.toStdString(), "Cannot open file " + name);
    EXPECT_EQ(formgate::LastReportedError(), ImExp::ErrorCannotOpen);
    EXPECT_EQ(Setting("OpenDir"), "<none>");
}

TEST(FileDialogNames, SaveNameAppendsTheWritersFirstExtensionToABareName) {
    struct Case {
        const char* typed;
        const char* patterns;
        const char* result;
    };
    const Case cases[] = {
        {"/d/pano", ".png", "/d/pano.png"},         {"/d/pano", ".tif;.tiff", "/d/pano.tif"},
        {"/d/pano", "*.jpg;*.jpeg", "/d/pano.jpg"}, {"/d/pano", ".tif*", "/d/pano.tif"},
        {"/d/pano.", ".png", "/d/pano."},           {"/d/pano.bmp", ".png", "/d/pano.bmp"},
        {"/d.x/pano", ".png", "/d.x/pano.png"},     {"/d/", ".png", "/d/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formgate::SaveName(c.typed, c.patterns), c.result) << c.typed << " " << c.patterns;
    EXPECT_EQ(formgate::FolderOf("/d/e/f.png"), "/d/e/");
    EXPECT_EQ(formgate::QtNameFilter({"Desc", ".bmp;.dib"}), "Desc (*.bmp *.dib)");
    EXPECT_EQ(formgate::QtNameFilter({"All", "*.png;.tif*;"}), "All (*.png *.tif*)");
}

namespace {

const char* kWriters =
    "[conv_a.so]\nMask=0x8000\nFilter=Grey sixteen\nPatterns=.tcg\n"
    "[conv_b.so]\nMask=0x1\nFilter=Bilevel only\nPatterns=.tcc\n"
    "[conv_c.so]\nMask=0x10000\nFilter=Deep\nPatterns=.tcv;.tcd\n";

class SaveDialogTest : public DialogTest {
protected:
    void SetUp() override { StartUi({"conv_a", "conv_b", "conv_c"}, kWriters); }

    void Type(const QString& filter, const QString& name, QStringList* filters = nullptr,
              const QString& screenshot = {}) {
        WhenShown<CImExpSaveDialog>([=, this](CImExpSaveDialog* dialog) {
            if (filters)
                *filters = dialog->nameFilters();
            dialog->setDirectory(QString::fromStdString(dir_.path().string()));
            if (!screenshot.isEmpty())
                SaveScreenshot(dialog, screenshot);
            dialog->selectNameFilter(filter);
            dialog->FileNameEdit()->setText(name);
            dialog->accept();
        });
    }
};

// A 4 x 3 colour image.
class SmallSource : public CAbstractWriteWA {
public:
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int GetSize(int, int, int* w, int* h) override { return *w = 4, *h = 3, 0; }
    int GetFormat(int, int, int* type) override { return *type = pixelType, 0; }
    int GetPalette(int, int, unsigned char*) override { return 0; }
    int GetResolution(int, int, int* x, int* y) override { return *x = *y = 72, 0; }
    int GetRow(int, int, int row, void* buffer) override {
        std::memset(buffer, row * 40, 12);
        return 0;
    }
    int GetAlphaRow(int, int, int, void*) override { return 1; }
    int HasAlpha(int, int) override { return 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }
    int pixelType = ImExp::PixelRgb24;
};

}  // namespace

TEST_F(SaveDialogTest, ListsTheWritersOfTheTypeAndAppendsTheirExtension) {
    QStringList filters;
    Type("Deep (*.tcv *.tcd)", "pano", &filters, "formgate_save_dialog");
    char path[260] = {};
    ASSERT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelGrey16, path), 1);
    EXPECT_EQ(filters, QStringList({"Grey sixteen (*.tcg)", "Deep (*.tcv *.tcd)"}));
    EXPECT_EQ(std::string(path), dir_ / "pano.tcv");
    EXPECT_EQ(Setting("SaveDir"), dir_.path().string() + "/");
    EXPECT_EQ(Setting("SaveFormat"), "Test conv_c.so");

    // A trailing dot is the user's way of asking for no extension.
    Type("Grey sixteen (*.tcg)", "pano.");
    char16_t wide[260] = {};
    ASSERT_EQ(ImExp_SelectFileToWriteW(Window(), ImExp::PixelGrey16, wide), 1);
    EXPECT_EQ(formgate::Utf8FromUtf16(wide), dir_ / "pano.");
}

TEST_F(SaveDialogTest, StartsOnTheWriterOfTheNameElseTheRememberedOne) {
    QString initial;
    auto capture = [&] {
        WhenShown<CImExpSaveDialog>([&](CImExpSaveDialog* dialog) {
            initial = dialog->ChosenNameFilter();
            dialog->reject();
        });
    };
    Platform::IniFile(Settings()).WriteString("Settings", "SaveFormat", "Test conv_c.so");
    capture();
    char path[260] = "pano.tcg";
    EXPECT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelGrey16, path), 0);
    EXPECT_EQ(initial, "Grey sixteen (*.tcg)");
    capture();
    std::strcpy(path, "pano");
    EXPECT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelGrey16, path), 0);
    EXPECT_EQ(initial, "Deep (*.tcv *.tcd)");
    EXPECT_STREQ(path, "pano");
}

TEST_F(SaveDialogTest, ChangingTheTypeDropsTheTypedExtension) {
    QString after;
    WhenShown<CImExpSaveDialog>([&](CImExpSaveDialog* dialog) {
        dialog->FileNameEdit()->setText("pano.tcg");
        // What the type box does when the user picks another entry.
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        types->setCurrentIndex(1);
        emit types->textActivated(types->currentText());
        after = dialog->FileNameEdit()->text();
        dialog->reject();
    });
    char path[260] = {};
    ImExp_SelectFileToWrite(Window(), ImExp::PixelGrey16, path);
    EXPECT_EQ(after, "pano");
}

TEST_F(SaveDialogTest, TheReplacePromptNamesTheFileThatWillBeWritten) {
    WriteText(dir_ / "pano.tcv", "keep");
    std::shared_ptr<SeenMessage> prompt;
    bool stayedOpen = false;
    WhenShown<CImExpSaveDialog>([&](CImExpSaveDialog* dialog) {
        dialog->setDirectory(QString::fromStdString(dir_.path().string()));
        dialog->selectNameFilter("Deep (*.tcv *.tcd)");
        dialog->FileNameEdit()->setText("pano");
        prompt = AnswerMessage(QMessageBox::No, "formgate_save_replace_prompt");
        dialog->accept();
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelGrey16, path), 0);
    ASSERT_TRUE(prompt && prompt->shown);
    EXPECT_TRUE(prompt->text.contains("pano.tcv")) << prompt->text.toStdString();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(ReadText(dir_ / "pano.tcv"), "keep");
}

TEST_F(SaveDialogTest, NoWriterForTheTypeIsAConversionError) {
    auto seen = AnswerMessage();
    char path[260] = {};
    EXPECT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelRgb48 + 1, path), 0) << "not a pixel type";
    EXPECT_FALSE(seen->shown);
    EXPECT_EQ(ImExp_SelectFileToWrite(Window(), ImExp::PixelRgb24, path), 0);
    EXPECT_TRUE(seen->shown);
    EXPECT_EQ(seen->caption, "Converter Error");
    EXPECT_EQ(seen->text, "General Conversion Error");
}

TEST_F(SaveDialogTest, SelectFileAndWriteWritesTheChosenName) {
    TearDown();
    StartUi({"conv_a"}, "[conv_a.so]\nFilter=Test\nPatterns=.tcv\n");
    Type("Test (*.tcv)", "pano");
    SmallSource source;
    int result = 7;
    char path[260] = {};
    ASSERT_EQ(ImExp_SelectFileAndWrite(&source, Window(), path, &result, nullptr, nullptr, 0), 1);
    EXPECT_EQ(std::string(path), dir_ / "pano.tcv");
    EXPECT_EQ(result, 0);
    RecordingSink sink;
    ASSERT_EQ(ImExp_ReadFile(&sink, nullptr, path, ImExp::PixelRgb24, nullptr, nullptr, 0), 1);
    EXPECT_EQ(sink.width, 4);
    EXPECT_EQ(sink.height, 3);
}
