// The file-properties list and the "Image info" dialog.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTreeWidget>

#include <filesystem>

#include "BrowserHost.h"
#include "CJFIFDlg.h"
#include "ExifFixture.h"
#include "Screenshot.h"
#include "TestData.h"

using namespace Fixture;

namespace {

class SelectionHost : public IBrowserHost {
public:
    bool HasBrowserSelection() override { return selection; }
    bool selection = true;
};

class ImageInfo : public ::testing::Test {
protected:
    void SetUp() override { SetBrowserHost(&host); }
    void TearDown() override { SetBrowserHost(nullptr); }

    static QStringList Captions(const CFilePropDlg& dlg) {
        QStringList rows;
        for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i)
            rows << dlg.List()->topLevelItem(i)->text(0);
        return rows;
    }
    static QString ValueOf(const CFilePropDlg& dlg, const QString& caption) {
        for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i)
            if (dlg.List()->topLevelItem(i)->text(0) == caption)
                return dlg.List()->topLevelItem(i)->text(1);
        return "<absent>";
    }

    SelectionHost host;
    TestData::ScratchDir dir;
};

}  // namespace

TEST_F(ImageInfo, SizeTextsChangeUnitAtOneThousand) {
    EXPECT_EQ(CFilePropDlg::SizeText(1536), "1.50KB");
    EXPECT_EQ(CFilePropDlg::SizeText(1024000), "0.98MB");
    EXPECT_EQ(CFilePropDlg::SizeText(0), "0.00KB");
    EXPECT_EQ(CFilePropDlg::SizeText(1024ull * 1024 * 1024 * 3), "3.00GB");
}

TEST_F(ImageInfo, SeveralFilesGiveTheirCountAndSizeOnly) {
    WriteFile(dir / "a.jpg", Bytes(1024, 1));
    WriteFile(dir / "b.jpg", Bytes(512, 1));
    CJFIFDlg dlg("");
    dlg.Properties().FillFromFiles({dir / "a.jpg", dir / "b.jpg"}, false);
    EXPECT_EQ(Captions(dlg.Properties()), (QStringList{"Total Files", "Size"}));
    EXPECT_EQ(ValueOf(dlg.Properties(), "Total Files"), "2");
    EXPECT_EQ(ValueOf(dlg.Properties(), "Size"), "1.50KB");
}

TEST_F(ImageInfo, CameraPhotoShowsTheThreeGroupsWhichCollapse) {
    const std::string path = dir / "IMG_0001.JPG";
    WriteFile(path, CameraJpeg());
    CJFIFDlg dlg(path);
    CFilePropDlg& props = dlg.Properties();
    const QStringList rows = Captions(props);
    for (const char* caption : {"File", "Name", "Location", "Size", "Modified", "Image Attributes", "Format",
                                "Dimensions", "Bit Depth", "EXIF Metadata", "Manufacturer", "Exposure time"})
        EXPECT_TRUE(rows.contains(caption)) << caption;
    EXPECT_EQ(ValueOf(props, "Name"), "IMG_0001.JPG");
    EXPECT_EQ(ValueOf(props, "Location"), QString::fromStdString(dir.path().string() + "/"));
    EXPECT_EQ(ValueOf(props, "Dimensions"), "64x48 (0.0 MP)");
    EXPECT_EQ(ValueOf(props, "Bit Depth"), "24");
    EXPECT_EQ(ValueOf(props, "Orientation of image"), "90 left");
    EXPECT_FALSE(rows.contains("Y and C positioning"));  // empty texts are not shown

    const int all = props.List()->topLevelItemCount();
    props.OnItemActivated(props.GroupRow(CFilePropDlg::GroupFile));
    EXPECT_FALSE(props.IsExpanded(CFilePropDlg::GroupFile));
    EXPECT_FALSE(Captions(props).contains("Name"));
    EXPECT_TRUE(Captions(props).contains("Manufacturer"));
    props.OnItemActivated(props.GroupRow(CFilePropDlg::GroupExif));
    EXPECT_FALSE(Captions(props).contains("Manufacturer"));
    EXPECT_TRUE(Captions(props).contains("EXIF Metadata"));
    props.OnItemActivated(props.GroupRow(CFilePropDlg::GroupFile));
    props.OnItemActivated(props.GroupRow(CFilePropDlg::GroupExif));
    EXPECT_EQ(props.List()->topLevelItemCount(), all);
    // A value row does nothing.
    props.OnItemActivated(1);
    EXPECT_EQ(props.List()->topLevelItemCount(), all);
}

TEST_F(ImageInfo, OnlyTheFileGroupWithoutABrowserSelection) {
    host.selection = false;
    const std::string path = dir / "IMG_0001.JPG";
    WriteFile(path, CameraJpeg());
    CJFIFDlg dlg(path);
    const QStringList rows = Captions(dlg.Properties());
    EXPECT_TRUE(rows.contains("File"));
    EXPECT_FALSE(rows.contains("Image Attributes"));
    EXPECT_FALSE(rows.contains("EXIF Metadata"));
}

TEST_F(ImageInfo, NoExifGroupForPlainOrDamagedFiles) {
    WriteFile(dir / "plain.jpg", EncodeJpeg(20, 10));
    // The EXIF directory cut short: the reader throws, the dialog still stands.
    Bytes cut = CameraJpeg();
    const size_t exifDir = Find(cut, {0x9A, 0x82, 0x05, 0x00});  // exposure time entry
    ASSERT_NE(exifDir, std::string::npos);
    cut[exifDir - 1] = 0x7F;  // the entry count jumps past the block
    WriteFile(dir / "damaged.jpg", cut);
    WriteFile(dir / "notimage.jpg", {'n', 'o'});
    for (const char* name : {"plain.jpg", "damaged.jpg", "notimage.jpg"}) {
        CJFIFDlg dlg(dir / name);
        const QStringList rows = Captions(dlg.Properties());
        EXPECT_TRUE(rows.contains("File")) << name;
        EXPECT_TRUE(rows.contains("Image Attributes")) << name;
        EXPECT_FALSE(rows.contains("EXIF Metadata")) << name;
    }
    // A file no reader knows gets defined, empty attributes.
    CJFIFDlg dlg(dir / "notimage.jpg");
    EXPECT_EQ(ValueOf(dlg.Properties(), "Format"), "");
    EXPECT_EQ(ValueOf(dlg.Properties(), "Dimensions"), "0x0 (0.0 MP)");
}

TEST_F(ImageInfo, CopyPutsEveryRowOrTheSelectedOnes) {
    WriteFile(dir / "a.jpg", Bytes(1536, 1));
    WriteFile(dir / "b.jpg", Bytes(10, 1));
    CJFIFDlg dlg("");
    CFilePropDlg& props = dlg.Properties();
    props.FillFromFiles({dir / "a.jpg", dir / "b.jpg"}, false);
    auto* copy = dlg.findChild<QPushButton*>("1043");
    ASSERT_TRUE(copy);
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "Total Files\t2\r\nSize\t1.51KB\r\n");

    host.selection = false;
    props.FillFromFiles({dir / "a.jpg"}, false);
    EXPECT_TRUE(props.RowsText().startsWith("File\t\r\nName\ta.jpg\r\n")) << props.RowsText().toStdString();
    props.List()->topLevelItem(1)->setSelected(true);
    EXPECT_EQ(props.RowsText(), "Name\ta.jpg\r\n");
}

TEST_F(ImageInfo, ScreenshotsOfOneAndTwoPhotos) {
    OVH_REQUIRE_PHOTOS();
    const std::string first = TestData::Photo("boat-row/boat1.jpg").string();
    const std::string second = TestData::Photo("boat-row/boat2.jpg").string();
    {
        CJFIFDlg dlg(first);
        dlg.show();
        QApplication::processEvents();
        const QStringList rows = Captions(dlg.Properties());
        EXPECT_TRUE(rows.contains("EXIF Metadata"));
        EXPECT_TRUE(rows.contains("Dimensions"));
        SaveScreenshot(&dlg, "image_info_one_photo");
    }
    {
        CJFIFDlg dlg(first);
        dlg.Properties().FillFromFiles({first, second}, false);
        dlg.show();
        QApplication::processEvents();
        SaveScreenshot(&dlg, "image_info_two_photos");
    }
}
