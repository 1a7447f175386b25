#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include "CMySaveFileDlg.h"
#include "DocTestSupport.h"
#include "SaveFileChoice.h"
#include "Screenshot.h"

namespace {

const std::string kFormats("BMP files\0*.bmp\0JPEG files\0*.jpg;*.jpeg\0TIFF files\0*.tif;*.tiff\0\0", 63);

std::vector<FileFilters::Pair> Pairs() {
    return FileFilters::ParseFormatList(kFormats.data(), kFormats.size());
}

CMySaveFileDlg::FormatSource Formats(std::vector<int>* askedTypes = nullptr) {
    return [askedTypes](int type) {
        if (askedTypes)
            askedTypes->push_back(type);
        return kFormats;
    };
}

}  // namespace

TEST(SaveFileChoice, TheNamePicksTheTypeOrTakesTheFirstTypesExtension) {
    struct Case {
        const char* name;
        int index;
        const char* fileName;
        const char* ext;
    };
    const Case cases[] = {
        {"/home/ann/pano.jpg", 2, "/home/ann/pano.jpg", "jpg"},
        {"pano.JPEG", 2, "pano.JPEG", "JPEG"},
        {"pano.tiff", 3, "pano.tiff", "tiff"},
        // No writer for the extension: the first type's first pattern.
        {"/home/ann/pano.xyz", 1, "/home/ann/pano.bmp", "bmp"},
        {"/home/a.b/pano", 1, "/home/a.b/pano.bmp", "bmp"},
    };
    for (const Case& c : cases) {
        const auto choice = SaveFileChoice::Preselect(Pairs(), c.name);
        EXPECT_EQ(choice.filterIndex, c.index) << c.name;
        EXPECT_EQ(choice.fileName, c.fileName) << c.name;
        EXPECT_EQ(choice.defaultExt, c.ext) << c.name;
    }
    // A first pair of several patterns gives one extension, not the list.
    const std::string jpegFirst("JPEG\0*.jpg;*.jpeg\0\0", 19);
    EXPECT_EQ(
        SaveFileChoice::Preselect(FileFilters::ParseFormatList(jpegFirst.data(), jpegFirst.size()), "p.xyz")
            .fileName,
        "p.jpg");
    // The module's own pattern lists come without '*'.
    const std::string plain("PNG\0.png\0TIFF\0.tif;.tiff\0\0", 26);
    const auto plainPairs = FileFilters::ParseFormatList(plain.data(), plain.size());
    EXPECT_EQ(SaveFileChoice::Preselect(plainPairs, "p.TIFF").filterIndex, 2);
    EXPECT_EQ(SaveFileChoice::Preselect(plainPairs, "p.jpg").fileName, "p.png");
    EXPECT_EQ(SaveFileChoice::NameFilter(plainPairs[1]), "TIFF (*.tif *.tiff)");
    EXPECT_EQ(SaveFileChoice::NameFilter({"JPEG (*.jpg;*.jpeg)", ".jpg;.jpeg"}), "JPEG (*.jpg *.jpeg)");
    // No name yet: JPEG first, the name left empty.
    EXPECT_EQ(SaveFileChoice::Preselect(Pairs(), "").filterIndex, 2);
    EXPECT_EQ(SaveFileChoice::Preselect(Pairs(), "").fileName, "");
    // No writers: the extension goes.
    EXPECT_EQ(SaveFileChoice::Preselect({}, "/a/pano.jpg").fileName, "/a/pano");
}

TEST(CMySaveFileDlg, ModuleTypesJpegKeptTypeChangeFollowsAndFolderAfterOkOnly) {
    TestDoubles::DocEnvironment env;
    const QString folder = QString::fromStdString(env.scratch.path().string());
    std::vector<int> asked;
    {
        CMySaveFileDlg dialog("pano.jpg", nullptr, Formats(&asked));
        dialog.SetPixelType(16);
        dialog.setDirectory(folder);
        dialog.Prepare();
        EXPECT_EQ(asked, std::vector<int>{16});
        EXPECT_EQ(dialog.FilterIndex(), 2);
        EXPECT_EQ(dialog.FileNameText(), "pano.jpg");
        // Picking TIFF makes the name follow.
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText(folder + "/pano.jpg");
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        types->setCurrentIndex(2);
        emit types->textActivated(types->itemText(2));
        QCoreApplication::processEvents();
        EXPECT_EQ(dialog.FileNameText(), folder + "/pano.tif");
        EXPECT_EQ(dialog.defaultSuffix(), "tif");
        types->setCurrentIndex(1);
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText("pano.jpg");
        dialog.resize(760, 460);
        dialog.show();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        SaveScreenshot(&dialog, "save-dialog");
    }
    {
        CMySaveFileDlg dialog("pano.jpg", nullptr, Formats());
        dialog.SetPixelType(16);
        QTimer::singleShot(0, &dialog, [&] { dialog.reject(); });
        EXPECT_EQ(dialog.DoModal(), 2);
        EXPECT_EQ(AppProfile::GetProfileString("FILES", "DEFAULTSAVEDIR", "none"), "none");
    }
    {
        CMySaveFileDlg dialog("pano.jpg", nullptr, Formats());
        dialog.SetPixelType(16);
        QTimer::singleShot(0, &dialog, [&] {
            dialog.setDirectory(folder);
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText("pano.jpg");
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        EXPECT_EQ(dialog.DoModal(), 1);
        EXPECT_EQ(dialog.GetPathName(), env.scratch / "pano.jpg");
        EXPECT_EQ(AppProfile::GetProfileString("FILES", "DEFAULTSAVEDIR", ""), env.scratch.path().string());
    }
    // The module's own list for 24-bit colour offers the four writers.
    const std::string module = CMySaveFileDlg::ModuleSaveFormats(16);
    std::string all;
    for (const auto& pair : FileFilters::ParseFormatList(module.data(), module.size()))
        all += pair.patterns + ";";
    for (const char* pattern : {".jpg", ".png", ".tif", ".bmp"})
        EXPECT_NE(all.find(pattern), std::string::npos) << pattern << " in " << all;
}

TEST(CMySaveFileDlg, ANameTypedWithItsFolderIsWhereTheNextDialogStarts) {
    TestDoubles::DocEnvironment env;
    const std::filesystem::path listed = env.scratch / "listed", typed = env.scratch / "typed";
    std::filesystem::create_directories(listed);
    std::filesystem::create_directories(typed);
    const QString listedDir = QString::fromStdString(listed.string());
    const QString typedName = QString::fromStdString((typed / "pano.jpg").string());
    {
        CMySaveFileDlg dialog("", nullptr, Formats());
        dialog.SetPixelType(16);
        QTimer::singleShot(0, &dialog, [&] {
            dialog.setDirectory(listedDir);
            dialog.findChild<QLineEdit*>("fileNameEdit")->setText(typedName);
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        ASSERT_EQ(dialog.DoModal(), 1);
        EXPECT_EQ(dialog.GetPathName(), typedName.toStdString());
    }
    EXPECT_EQ(AppProfile::GetProfileString("FILES", "DEFAULTSAVEDIR", ""), typed.string());
    // A later run of the program: a new dialog from the profile.
    CMySaveFileDlg dialog("", nullptr, Formats());
    dialog.SetPixelType(16);
    dialog.Prepare();
    EXPECT_EQ(dialog.directory().absolutePath().toStdString(), typed.string());
}
