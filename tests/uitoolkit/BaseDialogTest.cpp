#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "BaseDialog.h"
#include "Screenshot.h"
#include "StringTable.h"
#include "TestSkin.h"

namespace {

class Page : public CBaseDialog {
public:
    Page() : CBaseDialog(0) {}
    int GetTooltipStringId(int controlId) const override {
        return controlId == 7 ? 299 : CBaseDialog::GetTooltipStringId(controlId);
    }
};

}  // namespace

TEST(BaseDialog, EnterAndEscapeLeaveItOpen) {
    TestSkin skin;
    CBaseDialog dialog(0);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    dialog.reject();
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
}

TEST(BaseDialog, ColoursComeFromTheSkin) {
    {
        TestSkin skin;
        EXPECT_EQ(CBaseDialog(0).BackgroundColor(), QColor(203, 219, 244)) << "no key: the default";
        skin.Set("PANORAMA DIALOG", "BACKGROUND COLOR", "12,34");
        EXPECT_EQ(CBaseDialog(0).BackgroundColor(), QColor(203, 219, 244)) << "two numbers: the default";
    }
    TestSkin skin;
    skin.Set("PANORAMA DIALOG", "BACKGROUND COLOR", "10, 20, 30");
    CBaseDialog dialog(0);
    auto* edit = new QLineEdit(&dialog);
    dialog.resize(100, 60);
    EXPECT_EQ(dialog.BackgroundColor(), QColor(10, 20, 30));
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(dialog.grab().toImage().pixel(95, 55), qRgb(10, 20, 30));
}

TEST(BaseDialog, TooltipsShowTheFirstLineCutTo79Characters) {
    TestSkin skin;
    Page page;
    EXPECT_EQ(page.TooltipText(7), QString::fromUtf8(Res::LoadStr(299)));
    // No string of its own: the application's title (first line of 128).
    EXPECT_EQ(page.TooltipText(4242), QString::fromUtf8(Res::LoadStr(128)).section('\n', 0, 0));
    EXPECT_FALSE(page.TooltipText(4242).contains('\n'));
    EXPECT_LE(page.TooltipText(4242).size(), CBaseDialog::kTooltipMaxChars);
}

TEST(BaseDialog, ScreenshotOfASkinnedDialog) {
    TestSkin skin(OVH_DEFAULT_SKIN_DIR);
    skin.Set("PANORAMA DIALOG", "BACKGROUND COLOR", "214, 226, 244");
    CBaseDialog dialog(0);
    dialog.setWindowTitle("Skinned dialog");
    auto* group = new CMyStatic(&dialog);
    group->setGeometry(8, 8, 284, 112);
    auto* heading = new QLabel("Stitching mode", &dialog);
    heading->setGeometry(18, 14, 200, 20);
    auto* check = new QCheckBox("&360\u00b0", &dialog);
    check->setGeometry(18, 40, 120, 22);
    check->setObjectName("1031");
    auto* edit = new QLineEdit("600", &dialog);
    edit->setGeometry(18, 70, 120, 24);
    auto* list = new QListWidget(&dialog);
    list->addItems({"14mm", "18mm", "24mm", "35mm"});
    list->setGeometry(150, 40, 130, 70);
    auto* ok = new QPushButton("OK", &dialog);
    ok->setGeometry(120, 130, 80, 28);
    auto* cancel = new QPushButton("Cancel", &dialog);
    cancel->setGeometry(210, 130, 80, 28);
    dialog.resize(300, 166);
    CMyStatic* under = group;
    under->lower();
    const QImage shot = dialog.grab().toImage();
    SaveScreenshot(&dialog, "uitoolkit_skinned_dialog");
    // The group's fill stays under the controls on top of it.
    EXPECT_EQ(shot.pixel(150 + 65, 40 + 60), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(250, 100), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(4, 4), qRgb(214, 226, 244));
}

TEST(CheckDlg, DialogUnitsFollowTheFont) {
    CCheckDlg check;
    const QRect r = check.MapDialogRect(QRect(0, 0, 138, 200));
    EXPECT_GT(r.width(), 138);
    EXPECT_GT(r.height(), 200);
}
