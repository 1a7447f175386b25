// Item layout and drawing: cell sizes, the placeholder, captions, list rows
// and pictures for other windows.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "BrowserFixture.h"
#include "BrowserHost.h"
#include "BrowserSettings.h"
#include "CPaletteItem.h"
#include "CommandIds.h"
#include "ExifFixture.h"
#include "Screenshot.h"
#include "TestData.h"

using namespace Fixture;
using BrowserFixture::SettingsGuard;

namespace {

std::shared_ptr<CDibBuffer> Solid(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    auto dib = std::make_shared<CDibBuffer>();
    dib->CreateFromBitmap(&image);
    return dib;
}

class CommandHost : public IBrowserHost {
public:
    void PostMainWindowCommand(int command) override { commands.push_back(command); }
    std::vector<int> commands;
};

}  // namespace

TEST(ItemDrawing, CellSizesFollowTheZoom) {
    SettingsGuard guard;
    EXPECT_EQ(CPaletteItem::GetCellSize(100, false), QSize(232, 197));
    EXPECT_EQ(CPaletteItem::GetCellSize(57, false), QSize(137, 126));
    CPaletteItemImg item;
    g_nThumbnailSize = 100;
    EXPECT_EQ(item.GetSize(), QSize(232, 197));
    g_nThumbnailSize = 57;
    EXPECT_EQ(item.GetSize(), QSize(137, 126));
    item.m_noCaption = 1;
    EXPECT_EQ(item.GetSize(), QSize(137, 106));
    g_bThumbsListMode = 1;
    EXPECT_EQ(item.GetSize().width(), kDefaultListRowWidth);
    EXPECT_EQ(item.GetSize(700).width(), 700);
    EXPECT_EQ(CPaletteItem::ListColumn(0, 66), 160);
    EXPECT_EQ(CPaletteItem::ListColumn(3, 132), 572 + 160);
}

TEST(ItemDrawing, PlaceholderOnlyAboveZoomNineteen) {
    SettingsGuard guard;
    for (int zoom : {19, 57}) {
        g_nThumbnailSize = zoom;
        CPaletteItemImg item;
        QImage canvas(item.GetSize(), QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        item.DrawThumbnail(painter, canvas.rect(), "/p/a.jpg", false);
        painter.end();
        bool drawn = false;
        for (int y = 0; y < canvas.height() && !drawn; ++y)
            for (int x = 0; x < canvas.width() && !drawn; ++x)
                drawn = canvas.pixel(x, y) != qRgb(255, 255, 255);
        EXPECT_EQ(drawn, zoom > 19) << zoom;
    }
}

TEST(ItemDrawing, LongNamesScrollFivePixelsAndWrap) {
    SettingsGuard guard;
    g_nThumbnailSize = 57;
    CPaletteItemImg item;
    CFrameCache frames;
    QImage canvas(item.GetSize(), QImage::Format_RGB32);
    QPainter painter(&canvas);
    item.Draw(painter, QPoint(0, 0), "/p/a.jpg", true, false, frames);
    EXPECT_EQ(item.m_captionScrolling, 0);
    EXPECT_TRUE(item.ScrollCaption().isNull());
    item.Draw(painter, QPoint(0, 0), "/p/a photo with a very long name indeed.jpg", true, false, frames);
    ASSERT_EQ(item.m_captionScrolling, 1);
    const QRect area = item.ScrollCaption();
    EXPECT_EQ(item.m_captionScroll, 5);
    EXPECT_FALSE(area.isEmpty());
    while (item.m_captionScroll > 0)
        item.ScrollCaption();
    EXPECT_EQ(item.m_captionScroll, -area.width());
}

TEST(ItemDrawing, VanishedFileMakesItsRowAskForARefresh) {
    SettingsGuard guard;
    CommandHost host;
    SetBrowserHost(&host);
    g_bThumbsListMode = 1;
    CPaletteItemImg item;
    CFrameCache frames;
    QImage canvas(item.GetSize(), QImage::Format_RGB32);
    QPainter painter(&canvas);
    item.Draw(painter, QPoint(0, 0), "/no/such/file.jpg", false, false, frames);
    SetBrowserHost(nullptr);
    EXPECT_EQ(host.commands, std::vector<int>{CmdId::ReadAgain});
}

TEST(ItemDrawing, UprightPictureTurnsToFillALandscapeRectangle) {
    CPaletteItemImg item;
    item.m_thumbWidth = 100;
    item.m_thumbHeight = 200;
    item.SetBitmap(Solid(100, 200, qRgb(0, 200, 0)));
    QImage canvas(200, 100, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    item.DrawPictureLandscape(painter, canvas.rect(), "/p/a.jpg", false);
    painter.end();
    EXPECT_EQ(qGreen(canvas.pixel(2, 2)), 200);
    EXPECT_EQ(qGreen(canvas.pixel(197, 97)), 200);
}

TEST(ItemDrawing, ScreenshotOfCellsAndRows) {
    SettingsGuard guard;
    TestData::ScratchDir dir;
    g_nThumbnailSize = 57;
    CFrameCache frames;
    const std::string path = dir / "IMG_0001.JPG";
    WriteFile(path, CameraJpeg());
    CPaletteItemImg photo;
    ASSERT_EQ(photo.Load(path, false, nullptr), 1);
    CPaletteItemImg empty;

    const QSize cell = photo.GetSize();
    QImage canvas(cell.width() * 3, cell.height() + 60, QImage::Format_RGB32);
    canvas.fill(BrowserHost().Colours().background);
    QPainter painter(&canvas);
    photo.Draw(painter, QPoint(0, 0), path, false, false, frames);
    photo.Draw(painter, QPoint(cell.width(), 0), path, true, false, frames);
    empty.Draw(painter, QPoint(2 * cell.width(), 0), dir / "a long file name of a photo.tif", false, true,
               frames);
    g_bThumbsListMode = 1;
    g_nThumbnailSize = 20;
    photo.Draw(painter, QPoint(0, cell.height() + 10), path, false, false, frames);
    painter.end();
    QLabel label;
    label.setPixmap(QPixmap::fromImage(canvas));
    label.resize(canvas.size());
    SaveScreenshot(&label, "browser_items");
}
