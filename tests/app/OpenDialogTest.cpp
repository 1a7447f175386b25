#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "CMyOpenFileDlg.h"
#include "DocTestSupport.h"
#include "FileFilters.h"
#include "Screenshot.h"

namespace {

const std::string kThreeFormats("BMP files\0*.bmp\0TIFF files\0*.tif;*.tiff\0JPEG files\0*.jpg;*.jpeg\0\0",
                                63);

CMyOpenFileDlg::FormatSource Formats(std::string list) {
    return [list] { return list; };
}

}  // namespace

TEST(FileFilters, OpenFilterFromTheModuleList) {
    const auto pairs = FileFilters::ParseFormatList(kThreeFormats.data(), kThreeFormats.size());
    const auto filter = FileFilters::BuildOpenFilter(pairs, "All supported files");
    ASSERT_EQ(FileFilters::CountFilters(filter), 4);
    EXPECT_EQ(filter[3].description, "All supported files");
    EXPECT_EQ(filter[3].patterns, "*.bmp;*.tif;*.tiff;*.jpg;*.jpeg");
    EXPECT_EQ(FileFilters::PreselectJpegIndex(filter), 3);
    EXPECT_EQ(FileFilters::GetFilterPatterns(2, filter), (std::vector<std::string>{"*.tif", "*.tiff"}));
    EXPECT_TRUE(FileFilters::GetFilterPatterns(5, filter).empty());
    EXPECT_EQ(FileFilters::ToNameFilter(filter[1]), "TIFF files (*.tif *.tiff)");

    // No converters: no pairs, no "All supported files", index 1.
    const auto none =
        FileFilters::BuildOpenFilter(FileFilters::ParseFormatList("\0", 1), "All supported files");
    EXPECT_EQ(FileFilters::CountFilters(none), 0);
    EXPECT_EQ(FileFilters::PreselectJpegIndex(none), 1);
    // The readable extensions the project accepts, from the same list.
    EXPECT_EQ(ProjectFiles::ExtensionsFromFormatList(kThreeFormats.data(), kThreeFormats.size()),
              ".bmp;.tif;.tiff;.jpg;.jpeg;");
    EXPECT_EQ(ProjectFiles::ExtensionsFromFormatList("\0", 1), ProjectFiles::kDefaultReadableExtensions);
    // The module's own list, with the converters built beside it, offers JPEG.
    const std::string module = CMyOpenFileDlg::ModuleReadFormats();
    const auto modulePairs = FileFilters::ParseFormatList(module.data(), module.size());
    ASSERT_FALSE(modulePairs.empty());
    const int jpeg = FileFilters::PreselectJpegIndex(modulePairs);
    EXPECT_NE(modulePairs[jpeg - 1].patterns.find("jpg"), std::string::npos);
    // The module lists bare extensions; the dialog needs wildcards to show any file.
    EXPECT_EQ(FileFilters::ToNameFilter({"JPEG", ".jpg;.jpeg"}), "JPEG (*.jpg *.jpeg)");
    for (const std::string& pattern : FileFilters::GetFilterPatterns(jpeg, modulePairs))
        EXPECT_EQ(pattern.rfind("*.", 0), 0u) << pattern;
    // A list cut short keeps its whole pairs only.
    EXPECT_EQ(FileFilters::ParseFormatList("BMP\0*.bmp\0TIF", 13).size(), 1u);
}

TEST(CMyOpenFileDlg, ShowsTheModuleFormatsWithJpegPreselected) {
    TestDoubles::DocEnvironment env;
    CMyOpenFileDlg dialog(nullptr, Formats(kThreeFormats));
    dialog.Prepare();
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog.nameFilters(),
              (QStringList{"BMP files (*.bmp)", "TIFF files (*.tif *.tiff)", "JPEG files (*.jpg *.jpeg)",
                           "All supported files (*.bmp *.tif *.tiff *.jpg *.jpeg)"}));
    EXPECT_EQ(dialog.selectedNameFilter(), "JPEG files (*.jpg *.jpeg)");
    EXPECT_EQ(dialog.FilterIndex(), 3);
    dialog.setDirectory(QString::fromStdString(env.scratch.path().string()));
    env.Photo("a.jpg");
    env.Photo("b.jpg");
    dialog.resize(760, 460);
    dialog.show();
    // The folder is listed in the background.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    SaveScreenshot(&dialog, "open-dialog");
    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    types->showPopup();
    QCoreApplication::processEvents();
    SaveScreenshot(types->view()->window(), "open-dialog-types");
    types->hidePopup();
}

TEST(CMyOpenFileDlg, OkStoresTheTypeAndFolderCancelStoresNothing) {
    TestDoubles::DocEnvironment env;
    const std::string a = env.Photo("a.jpg"), b = env.Photo("b.jpg");
    const QString folder = QString::fromStdString(env.scratch.path().string());
    {
        CMyOpenFileDlg dialog(nullptr, Formats(kThreeFormats));
        QTimer::singleShot(0, &dialog, [&] { dialog.reject(); });
        EXPECT_EQ(dialog.DoModal(), 2);
        EXPECT_EQ(AppProfile::GetProfileString("FILES", "DEFAULTOPENDIR", "none"), "none");
        EXPECT_EQ(AppProfile::GetProfileInt("FILES", "DEFAULTOPENFORMAT", -1), -1);
    }
    {
        CMyOpenFileDlg dialog(nullptr, Formats(kThreeFormats));
        QTimer::singleShot(0, &dialog, [&] {
            dialog.setDirectory(folder);
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText("\"a.jpg\" \"b.jpg\"");
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        EXPECT_EQ(dialog.DoModal(), 1);
        EXPECT_EQ(dialog.GetSelectedPaths(), (std::vector<std::string>{a, b}));
        EXPECT_EQ(AppProfile::GetProfileInt("FILES", "DEFAULTOPENFORMAT", -1), 3);
        EXPECT_EQ(AppProfile::GetProfileString("FILES", "DEFAULTOPENDIR", ""), env.scratch.path().string());
    }
    {
        // The next dialog opens in the stored folder; no converters: no types.
        CMyOpenFileDlg dialog(nullptr, Formats(std::string(1, '\0')));
        dialog.Prepare();
        EXPECT_EQ(dialog.directory().absolutePath(), folder);
        EXPECT_EQ(dialog.FilterIndex(), 1);
    }
}

TEST(CMyOpenFileDlg, AFileTypedWithItsFolderIsWhereTheNextDialogStarts) {
    TestDoubles::DocEnvironment env;
    const std::string photo = env.Photo("a.jpg");
    const QString folder = QString::fromStdString(env.scratch.path().string());
    {
        CMyOpenFileDlg dialog(nullptr, Formats(kThreeFormats));
        QTimer::singleShot(0, &dialog, [&] {
            dialog.setDirectory(QDir::tempPath());
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(photo));
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        ASSERT_EQ(dialog.DoModal(), 1);
        EXPECT_EQ(dialog.GetSelectedPaths(), std::vector<std::string>{photo});
    }
    CMyOpenFileDlg dialog(nullptr, Formats(kThreeFormats));
    dialog.Prepare();
    EXPECT_EQ(dialog.directory().absolutePath(), folder);
}
