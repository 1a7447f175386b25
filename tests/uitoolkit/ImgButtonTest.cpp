#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "ImgButton.h"
#include "Screenshot.h"
#include "SkinAccess.h"
#include "TestSkin.h"

namespace {

// Four files of distinct colours: normal red, hot green, disabled grey,
// pressed (hover) blue.
struct FourFiles {
    QTemporaryDir dir;
    TestSkin skin{dir.path()};
    FourFiles() {
        WriteBmp(dir.path(), "n.bmp", QSize(10, 8), 0xffff0000);
        WriteBmp(dir.path(), "h.bmp", QSize(10, 8), 0xff00ff00);
        WriteBmp(dir.path(), "d.bmp", QSize(10, 8), 0xff808080);
        WriteBmp(dir.path(), "p.bmp", QSize(10, 8), 0xff0000ff);
    }
};

}  // namespace

TEST(ImgButton, ShowsTheCellOfItsState) {
    FourFiles files;
    CImgButton button;
    button.SetImageFiles("n.bmp", "h.bmp", "d.bmp", "p.bmp");
    button.resize(30, 20);
    button.EnsureImages();
    EXPECT_EQ(button.CurrentCell(), 0);
    button.SetDown(true);
    EXPECT_EQ(button.CurrentCell(), 3) << "hover shows the pressed file";
    button.SetDown(false);
    button.setDown(true);
    EXPECT_EQ(button.CurrentCell(), 1);
    EXPECT_EQ(button.CellOrigin(button.size()), QPoint(10 + 1, 6 + 1)) << "pushed moves one pixel";
    button.setDown(false);
    button.setCheckable(true);
    button.setChecked(true);
    EXPECT_EQ(button.CurrentCell(), 1);
    button.setEnabled(false);
    EXPECT_EQ(button.CurrentCell(), 2);

    const QImage shot = button.grab().toImage();
    EXPECT_EQ(shot.pixel(15, 10), 0xff808080u);
}

TEST(ImgButton, AlignmentPlacesTheCell) {
    FourFiles files;
    CImgButton button;
    button.SetImageFiles("n.bmp", "h.bmp", "d.bmp", "p.bmp");
    button.EnsureImages();
    const QSize area(40, 20);
    const int expected[] = {15, 0, 30};
    for (int alignment = 0; alignment < 3; ++alignment) {
        button.Alignment = alignment;
        EXPECT_EQ(button.CellOrigin(area), QPoint(expected[alignment], 6)) << alignment;
    }
}

TEST(ImgButton, StripIsBuiltOnceAndEmptyNameDrawsNothing) {
    FourFiles files;
    CImgButton button;
    button.resize(20, 20);
    button.grab();
    EXPECT_EQ(button.Strip(), nullptr) << "no normal file: nothing is drawn or loaded";
    button.SetImageFiles("n.bmp", "h.bmp", "d.bmp", "p.bmp");
    button.grab();
    const auto* strip = button.Strip();
    ASSERT_NE(strip, nullptr);
    button.SetImageFiles("p.bmp", "p.bmp", "p.bmp", "p.bmp");
    button.grab();
    EXPECT_EQ(button.Strip(), strip);
    EXPECT_EQ(button.grab().toImage().pixel(10, 10), 0xffff0000u) << "names changed after the first draw";
}

TEST(ImgButton, HoverEndsWhenTheCursorLeaves) {
    FourFiles files;
    CImgButton button;
    button.SetImageFiles("n.bmp", "h.bmp", "d.bmp", "p.bmp");
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&button, &enter);
    EXPECT_TRUE(button.IsHover());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.IsHover());
}

TEST(ImgButton, ZoomButtonPicturesFollowItsText) {
    EXPECT_EQ(CZoomButton("+").GetNormalImageFile(), "ZoomIn.bmp");
    EXPECT_EQ(CZoomButton("-").GetNormalImageFile(), "ZoomOut.bmp");
}

// The zoom bar's buttons from the default skin, in every state, side by side.
TEST(ImgButton, ScreenshotOfEveryStateWithTheDefaultSkin) {
    TestSkin skin(OVH_DEFAULT_SKIN_DIR);
    QWidget strip;
    strip.setAutoFillBackground(true);
    QPalette pal = strip.palette();
    pal.setColor(QPalette::Window, QColor(44, 62, 92));
    strip.setPalette(pal);
    auto* layout = new QHBoxLayout(&strip);
    const char* names[] = {"normal", "hover", "pressed", "checked", "disabled"};
    std::vector<CImgButton*> buttons;
    for (const char* file : {"ZoomIn", "ZoomOut"}) {
        for (int state = 0; state < 5; ++state) {
            auto* column = new QVBoxLayout;
            auto* button = new CImgButton(&strip);
            const QString n = QString(file) + ".bmp";
            button->SetImageFiles(n, n, QString(file) + "Disabled.bmp", QString(file) + "Hot.bmp");
            button->setFixedSize(30, 30);
            auto* label = new QLabel(names[state], &strip);
            label->setStyleSheet("color: rgb(214,224,240)");
            column->addWidget(button, 0, Qt::AlignHCenter);
            column->addWidget(label, 0, Qt::AlignHCenter);
            layout->addLayout(column);
            if (state == 1)
                button->SetDown(true);
            if (state == 2)
                button->setDown(true);
            if (state == 3) {
                button->setCheckable(true);
                button->setChecked(true);
            }
            if (state == 4)
                button->setEnabled(false);
            buttons.push_back(button);
        }
    }
    strip.resize(strip.sizeHint());
    const QString path = SaveScreenshot(&strip, "uitoolkit_button_states");
    EXPECT_TRUE(QFile::exists(path));
    for (CImgButton* b : buttons)
        EXPECT_GE(b->CurrentCell(), 0);
}
