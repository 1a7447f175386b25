// The preview pane: fit and zoom steps, centring, the scaled copy, marker
// dragging into the matcher, and the degenerate sizes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <cstring>
#include <fstream>
#include <vector>

#include "CommandIds.h"
#include "EngineServices.h"
#include "PanoramaLib.h"
#include "PictPreview.h"
#include "PictViewer.h"
#include "Screenshot.h"
#include "TestData.h"

using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

RefPtr<IPanoElement> Element(int width, int height) {
    static CDibManager manager;
    static const bool set = [] {
        CreateHVPanorama(&manager)->Release();
        return true;
    }();
    (void)set;
    RefPtr<IPanoElement> e(CreatePanoElement(0));
    if (width > 0 && height > 0) {
        EXPECT_TRUE(e->Create(24, width, height));
        std::memset(e->GetBits(), 90, std::size_t(e->GetStride()) * height);
    }
    return e;
}

// A 9 x 9 marker, opaque in a plus shape, hot point in its middle.
std::string MarkerFile(const TestData::ScratchDir& dir, const std::string& name, std::uint8_t red) {
    const int w = 9, h = 9, stride = w * 4;
    std::vector<std::uint8_t> b(54 + stride * h, 0);
    b[0] = 'B', b[1] = 'M';
    const auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = std::uint8_t(v >> (8 * i));
    };
    put(10, 54), put(14, 40), put(18, w), put(22, h);
    b[26] = 1, b[28] = 32;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &b[54 + y * stride + x * 4];
            const bool on = x == 4 || y == 4 || x == 3 || y == 3 || x == 5 || y == 5;
            p[0] = 0, p[1] = 0, p[2] = on ? red : 0, p[3] = on ? 255 : 0;
        }
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

class FakeMatcher : public PanoramaLib::IManualMatcher {
public:
    void GetMarkers(bool second, int out[6]) const override {
        std::memcpy(out, second ? points[1] : points[0], sizeof(int) * 6);
    }
    void SetMarker(bool second, const int point[2], int index) override {
        points[second][2 * index] = point[0];
        points[second][2 * index + 1] = point[1];
        ++sets;
    }
    void Reset() override {}
    void GetTransform(double out[9]) const override { std::fill(out, out + 9, 0.0); }
    bool IsTransformInvalid() const override { return false; }
    int GetMotionModel() const override { return 0; }
    void SetMotionModel(int) override {}
    bool GetOptionFlag() const override { return false; }

    int points[2][6] = {{350, 225, 200, 150, 50, 75}, {50, 225, 200, 150, 350, 75}};
    int sets = 0;
};

void Send(QWidget* w, QEvent::Type type, QPoint pos) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

}  // namespace

TEST(PictPreview, ZoomStepsBetweenFitAndMaximum) {
    CPictPreview pane;
    pane.resize(200, 150);
    pane.show();
    RefPtr<IPanoElement> e = Element(400, 300);
    pane.SetImage(e.Get(), true);
    EXPECT_DOUBLE_EQ(pane.GetMinZoom(), 50.0);
    EXPECT_DOUBLE_EQ(pane.GetZoom(), 50.0);
    EXPECT_FALSE(pane.CanZoom(false));
    EXPECT_EQ(pane.ScaledCopy().size(), QSize(200, 150));
    for (double z : {67.0, 100.0, 200.0, 400.0, 400.0}) {
        pane.ZoomIn();
        EXPECT_DOUBLE_EQ(pane.GetZoom(), z);
    }
    EXPECT_TRUE(pane.ScaledCopy().isNull());
    EXPECT_FALSE(pane.CanZoom(true));
    for (int i = 0; i < 10; ++i)
        pane.ZoomOut();
    EXPECT_DOUBLE_EQ(pane.GetZoom(), 50.0);  // stops at the fit zoom
    pane.SetCacheEnabled(false);
    EXPECT_TRUE(pane.ScaledCopy().isNull());

    int stepped = 0;
    QObject::connect(&pane, &CPictPreview::ZoomStepped, [&](bool up, CPictPreview* p) {
        EXPECT_TRUE(up);
        EXPECT_EQ(p, &pane);
        ++stepped;
    });
    pane.ZoomStep(&pane, true);
    pane.ZoomStep(nullptr, true);  // a step relayed from the other pane is not announced
    EXPECT_EQ(stepped, 1);
    pane.SetZoom(0.0, 200, 150, false);  // never a zoom of 0
    EXPECT_DOUBLE_EQ(pane.GetZoom(), 1.0);
}

TEST(PictPreview, SmallContentIsCentredAndDegenerateSizesAreHarmless) {
    CPictPreview pane;
    pane.resize(300, 200);
    pane.show();
    RefPtr<IPanoElement> e = Element(100, 50);
    pane.SetImage(e.Get(), true);
    EXPECT_DOUBLE_EQ(pane.GetZoom(), 300.0);
    EXPECT_EQ(pane.GetScrollPosition(), QPoint(0, -25));

    bool enabled = true;
    CPictPreview empty;
    empty.show();
    EXPECT_TRUE(empty.OnUpdateCommand(CmdId::ZoomIn, &enabled));
    EXPECT_FALSE(enabled);
    EXPECT_FALSE(empty.CanZoom(true));
    empty.SetCaption("No preview");
    empty.grab();
    RefPtr<IPanoElement> none = Element(0, 0);
    empty.SetImage(none.Get(), true);
    empty.OnCommand(CmdId::ZoomFitHeight);
    empty.grab();
    pane.resize(0, 0);
    EXPECT_GE(pane.GetZoom(), 1.0);
    pane.grab();
}

TEST(PictPreview, MarkersDragIntoTheMatcherAndStayOnThePicture) {
    TestData::ScratchDir dir;
    CPictPreview pane;
    pane.resize(400, 300);
    pane.InitMarkers(MarkerFile(dir, "1.bmp", 255), MarkerFile(dir, "2.bmp", 200),
                     MarkerFile(dir, "3.bmp", 150), QPoint(4, 4), QPoint(4, 4), QPoint(4, 4));
    EXPECT_EQ(pane.GetMargin(), 5);
    pane.show();
    RefPtr<IPanoElement> e = Element(400, 300);
    pane.SetImage(e.Get(), true);
    FakeMatcher matcher;
    pane.LoadMarkers(&matcher, 1);
    const CMarker* second = pane.Markers().FindByIndex(1);
    QPoint expected(200, 150);
    pane.ImageToClient(&expected);
    EXPECT_EQ(second->clientPosition, expected);

    int moved = 0;
    QObject::connect(&pane, &CPictPreview::MarkerMoved, [&] { ++moved; });
    Send(&pane, QEvent::MouseButtonPress, expected);
    Send(&pane, QEvent::MouseMove, expected + QPoint(30, -20));
    Send(&pane, QEvent::MouseButtonRelease, expected + QPoint(30, -20));
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(matcher.sets, 1);
    EXPECT_EQ(pane.Markers().First()->index, 1);  // the dragged marker is on top
    QPoint image = expected + QPoint(30, -20);
    pane.ClientToImage(&image);
    EXPECT_EQ(QPoint(matcher.points[1][2], matcher.points[1][3]), image);
    EXPECT_EQ(matcher.points[0][2], 200);  // the other photo's markers are untouched

    // Dragged far away the marker stops at the picture's last pixel.
    const QPoint at = pane.Markers().First()->clientPosition;
    Send(&pane, QEvent::MouseButtonPress, at);
    Send(&pane, QEvent::MouseMove, at + QPoint(5000, 5000));
    Send(&pane, QEvent::MouseButtonRelease, at + QPoint(5000, 5000));
    EXPECT_GE(matcher.points[1][2], 397);
    EXPECT_LE(matcher.points[1][2], 399);
    EXPECT_GE(matcher.points[1][3], 0);
    EXPECT_LE(matcher.points[1][3], 2);

    pane.ShowMarker(2, false);
    const QPoint hidden = pane.Markers().FindByIndex(2)->clientPosition;
    Send(&pane, QEvent::MouseButtonPress, hidden);
    Send(&pane, QEvent::MouseButtonRelease, hidden);
    EXPECT_EQ(matcher.sets, 2);
    SaveScreenshot(&pane, "pict-preview-markers");
}

TEST(PictPreview, ZoomToMarkersKeepsThemInView) {
    TestData::ScratchDir dir;
    CPictPreview pane;
    pane.resize(200, 150);
    const std::string file = MarkerFile(dir, "m.bmp", 255);
    pane.InitMarkers(file, file, file, QPoint(4, 4), QPoint(4, 4), QPoint(4, 4));
    pane.show();
    RefPtr<IPanoElement> e = Element(400, 300);
    pane.SetImage(e.Get(), true);
    FakeMatcher matcher;
    matcher.points[0][0] = 390;  // a marker near the right edge
    pane.LoadMarkers(&matcher, 0);
    pane.SetZoom(400, 200, 150, false);
    const double zoom = pane.ZoomToMarkers();
    EXPECT_LT(zoom, 400.0);
    // The union of the markers is scrolled so that its right edge is in view.
    QRect u;
    for (int i = 0; i < 3; ++i)
        u |= pane.Markers().At(i)->GetRect();
    EXPECT_LE(u.left() + u.width(), 200);
    EXPECT_GE(u.top(), 0);
    EXPECT_LE(u.top() + u.height(), 150);
}

TEST(PictPreview, ShowsARealPhoto) {
    OVH_REQUIRE_PHOTOS();
    TestData::ScratchDir dir;
    RefPtr<IPanoElement> photo = Element(0, 0);
    const std::string path = TestData::Photo("boat-row/boat3.jpg").string();
    ASSERT_TRUE(photo->Load(std::wstring(path.begin(), path.end())));
    CPictPreview pane;
    pane.resize(360, 240);
    pane.InitMarkers(MarkerFile(dir, "1.bmp", 255), MarkerFile(dir, "2.bmp", 255),
                     MarkerFile(dir, "3.bmp", 255), QPoint(4, 4), QPoint(4, 4), QPoint(4, 4));
    pane.show();
    pane.SetImage(photo.Get(), true);
    FakeMatcher matcher;
    int* p = matcher.points[0];
    p[0] = 525, p[1] = 300, p[2] = 300, p[3] = 200, p[4] = 75, p[5] = 100;
    pane.LoadMarkers(&matcher, 0);
    EXPECT_FALSE(pane.ScaledCopy().isNull());
    SaveScreenshot(&pane, "pict-preview-photo");
}
