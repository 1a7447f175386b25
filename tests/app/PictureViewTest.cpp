// The picture views as widgets: the result drawn from the engine's buffer,
// zooming, scrolling, the crop frame, tiled navigation and the context menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <cstring>
#include <memory>
#include <vector>

#include "CommandIds.h"
#include "DibImage.h"
#include "EngineServices.h"
#include "PanoramaLib.h"
#include "PictureView.h"
#include "RecordingCallbacks.h"
#include "ResultViewRouting.h"
#include "Screenshot.h"
#include "TestData.h"

using OrvexBase::Rect;
using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

// Elements take their images from the engine-wide factory, which an engine
// factory call sets.
void EnsureImageFactory() {
    static CDibManager manager;
    static const bool set = [] {
        CreateHVPanorama(&manager)->Release();
        return true;
    }();
    (void)set;
}

RefPtr<IPanoElement> MakeElement(int width, int height, int bpp = 24, std::uint8_t value = 100) {
    EnsureImageFactory();
    RefPtr<IPanoElement> e(CreatePanoElement(0));
    if (width > 0 && height > 0) {
        EXPECT_TRUE(e->Create(bpp, width, height));
        std::memset(e->GetBits(), value, std::size_t(e->GetStride()) * height);
    }
    return e;
}

struct Render {
    int surface, elevation, azimuth, tilt;
};

class FakeDocument : public IPictureViewDocument {
public:
    bool HasTiledResult() override { return tiled; }
    void GetTiledRenderParams(int* s, int* e, int* a, int* t) override {
        *s = surface;
        *e = elevation;
        *a = azimuth;
        *t = tilt;
    }
    void RequestTiledRender(int s, int e, int a, int t, bool, int) override {
        surface = s;
        elevation = e;
        azimuth = a;
        tilt = t;
        renders.push_back({s, e, a, t});
    }
    int GetCurrentTask() override { return task; }
    CropAspect GetCropAspect() override { return aspect; }

    bool tiled = false;
    int task = 3;
    CropAspect aspect;
    int surface = 1, elevation = 0, azimuth = 0, tilt = 0;
    std::vector<Render> renders;
};

void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::KeyboardModifiers mods = {}) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void DragOn(QWidget* w, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    Mouse(w, QEvent::MouseButtonPress, from, mods);
    Mouse(w, QEvent::MouseMove, to, mods);
    Mouse(w, QEvent::MouseButtonRelease, to, mods);
}

// A shown view whose client area is exactly width x height.
std::unique_ptr<CPictureView> ShownView(IPictureViewDocument* doc, int width, int height) {
    auto view = std::make_unique<CPictureView>(doc);
    view->setFrameShape(QFrame::NoFrame);
    view->resize(width, height);
    view->show();
    QApplication::processEvents();
    return view;
}

QImage Grab(CPictureView& view) {
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

const int kZoomCommands[] = {CmdId::ZoomIn,        CmdId::ZoomOut,       CmdId::ZoomActual,
                             CmdId::ZoomFitWindow, CmdId::ZoomFitHeight, CmdId::ZoomFitWidth};

}  // namespace

TEST(DibImage, WrapsTheBufferAndDrawsItUpright) {
    RefPtr<IPanoElement> e = MakeElement(7, 5, 24, 0);
    std::uint8_t* bits = e->GetBits();
    const int stride = e->GetStride();
    bits[0] = 10, bits[1] = 20, bits[2] = 30;  // bottom row, first pixel (B, G, R)
    bits[4 * stride + 0] = 200;                // top row, first pixel: blue
    const QImage image = DibImage::Wrap(e.Get());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.constBits(), bits);  // no copy of the pixels
    EXPECT_EQ(image.bytesPerLine(), stride);
    EXPECT_EQ(image.pixel(0, 0), qRgb(30, 20, 10));

    QImage target(7, 5, QImage::Format_RGB32);
    QPainter painter(&target);
    DibImage::DrawFlipped(painter, QRect(0, 0, 7, 5), image, QRect(0, 0, 7, 5));
    painter.end();
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 200));  // the top row at the top
    EXPECT_EQ(target.pixel(0, 4), qRgb(30, 20, 10));

    RefPtr<IPanoElement> grey = MakeElement(3, 2, 8, 77);
    const QImage g = DibImage::Wrap(grey.Get());
    EXPECT_EQ(g.constBits(), grey->GetBits());
    EXPECT_EQ(g.format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(DibImage::Wrap(MakeElement(0, 0).Get()).isNull());
    EXPECT_TRUE(DibImage::Wrap(static_cast<IPanoElement*>(nullptr)).isNull());
}

TEST(PictureView, ZoomCommandsNeedAPicture) {
    auto view = ShownView(nullptr, 300, 200);
    for (int id : kZoomCommands) {
        bool enabled = true;
        EXPECT_TRUE(view->OnUpdateCommand(id, &enabled));
        EXPECT_FALSE(enabled) << id;
        EXPECT_TRUE(ResultView::RouteCommand(view.get(), id));  // harmless
    }
    bool untouched = true;
    EXPECT_FALSE(ResultView::RouteUpdateCommand(nullptr, CmdId::ZoomIn, &untouched));
    EXPECT_TRUE(untouched);
    EXPECT_FALSE(ResultView::RouteCommand(nullptr, CmdId::ZoomIn));
    EXPECT_FALSE(ResultView::RouteCommand(view.get(), 1234));
    EXPECT_EQ(ResultView::ZoomText(view.get()), "");

    RefPtr<IPanoElement> e = MakeElement(400, 300);
    ResultView::ShowResult(view.get(), e.Get(), true);
    for (int id : kZoomCommands) {
        bool enabled = false;
        EXPECT_TRUE(ResultView::RouteUpdateCommand(view.get(), id, &enabled));
        EXPECT_TRUE(enabled) << id;
    }
    view->hide();
    bool enabled = true;
    view->OnUpdateCommand(CmdId::ZoomIn, &enabled);
    EXPECT_FALSE(enabled);
}

TEST(PictureView, FitsThenStepsThroughTheLevels) {
    auto view = ShownView(nullptr, 200, 200);
    int changed = 0;
    QObject::connect(view.get(), &CPictViewer::ZoomDisplayChanged, [&] { ++changed; });
    RefPtr<IPanoElement> e = MakeElement(400, 300);
    ResultView::ShowResult(view.get(), e.Get(), true);
    EXPECT_DOUBLE_EQ(view->GetZoom(), 50.0);
    EXPECT_TRUE(view->IsFitMode());
    EXPECT_FALSE(view->IsScrollable());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_EQ(ResultView::ZoomText(view.get()), "50 %");
    EXPECT_GE(changed, 1);

    const double up[] = {67, 100, 150, 200, 300, 400, 400};
    for (double z : up) {
        ResultView::RouteCommand(view.get(), CmdId::ZoomIn);
        EXPECT_DOUBLE_EQ(view->GetZoom(), z);
    }
    EXPECT_EQ(view->GetZoomIndex(), 17);
    EXPECT_TRUE(view->IsScrollable());
    EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(view->verticalScrollBar()->isVisible());
    for (int i = 0; i < 20; ++i)
        view->OnZoomOut();
    EXPECT_DOUBLE_EQ(view->GetZoom(), 1.0);
    view->SetZoomIndex(99);
    EXPECT_DOUBLE_EQ(view->GetZoom(), 400.0);

    view->OnFitHeight();
    EXPECT_FALSE(view->IsFitMode());
    EXPECT_EQ(view->GetTotalSize().cy, view->ClientSize().height());
    view->OnFitWidth();
    EXPECT_EQ(view->GetTotalSize().cx, view->ClientSize().width());
    view->OnFitWindow();
    EXPECT_TRUE(view->IsFitMode());
    view->resize(100, 100);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(view->GetZoom(), 25.0);  // fit mode follows the window
}

TEST(PictureView, SmallPictureIsCentredWithoutBars) {
    auto view = ShownView(nullptr, 300, 200);
    RefPtr<IPanoElement> e = MakeElement(50, 40);
    view->SetImage(e.Get(), true);
    view->OnActualSize();
    EXPECT_DOUBLE_EQ(view->GetZoom(), 100.0);
    EXPECT_EQ(view->GetScrollPosition(), QPoint(-124, -79));
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    QPoint topLeft(0, 40);
    view->ImageToClient(&topLeft);
    EXPECT_EQ(topLeft, QPoint(124, 79));
    const QImage shot = Grab(*view);
    EXPECT_EQ(shot.pixel(10, 10), qRgb(0xF0, 0xF0, 0xF0));
    EXPECT_EQ(shot.pixel(150, 100), qRgb(100, 100, 100));
}

TEST(PictureView, ThumbReachesPositionsBeyond32767) {
    auto view = ShownView(nullptr, 400, 300);
    RefPtr<IPanoElement> e = MakeElement(10000, 40);
    view->SetImage(e.Get(), false);
    view->SetZoomIndex(17);
    ASSERT_EQ(view->GetTotalSize().cx, 40000);
    QScrollBar* bar = view->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 32767);
    bar->setSliderPosition(35000);  // a thumb drag
    EXPECT_EQ(view->GetScrollPosition().x(), 35000);
    QPoint p(0, 0);
    view->ClientToImage(&p);
    EXPECT_EQ(p.x(), 8750);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(view->GetScrollPosition().x(), 40000 - view->ClientSize().width());
}

TEST(PictureView, DegenerateSizesAreHarmless) {
    auto view = ShownView(nullptr, 300, 200);
    RefPtr<IPanoElement> e = MakeElement(400, 300);
    ResultView::ShowResult(view.get(), e.Get(), true);
    view->resize(0, 0);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(view->GetZoom(), 1.0);
    Grab(*view);

    view->resize(300, 200);
    RefPtr<IPanoElement> empty = MakeElement(0, 0);
    ResultView::ShowResult(view.get(), empty.Get(), true);
    bool enabled = true;
    view->OnUpdateCommand(CmdId::ZoomIn, &enabled);
    EXPECT_FALSE(enabled);
    view->OnZoomIn();
    Grab(*view);
    QString text = "kept";
    view->GetZoomText(text);
    EXPECT_EQ(text, "kept");

    // Crop calls without a picture keep the rectangle and show nothing.
    ResultView::ShowResult(view.get(), nullptr, true);
    const Rect r{1, 2, 30, 40};
    view->BeginCrop(&r, true);
    EXPECT_FALSE(view->IsCropShown());
    Rect out;
    view->EndCrop(&out, true);
    EXPECT_EQ(out, r);
    Mouse(view->viewport(), QEvent::MouseButtonPress, {10, 10});
    Mouse(view->viewport(), QEvent::MouseMove, {20, 10});
    Mouse(view->viewport(), QEvent::MouseButtonRelease, {20, 10});
}

TEST(PictureView, SetCropRectFollowsTheProduct) {
    FakeDocument doc;
    auto view = ShownView(&doc, 300, 200);
    const Rect square{100, 50, 400, 350};
    const struct {
        CropAspect aspect;
        Rect crop;
        bool edges;
    } cases[] = {
        {{3, 2, 2}, {100, 100, 400, 300}, false},
        {{3, 2, 1}, {100, 50, 400, 350}, true},
        {{0, 0, 2}, {100, 50, 400, 350}, true},  // a product of size 0
    };
    for (const auto& c : cases) {
        doc.aspect = c.aspect;
        view->SetCropRect(&square);
        Rect out;
        view->GetCropRect(&out);
        EXPECT_EQ(out, c.crop);
        EXPECT_EQ((view->CropFrame().allowed & 0x10) != 0, c.edges);
        EXPECT_EQ(view->CropFrame().rect, c.crop);
        EXPECT_FALSE(view->IsCropShown());
    }
    doc.aspect = {3, 2, 0};
    const Rect other{0, 0, 10, 10};
    view->SetCropRect(&other);
    Rect out;
    view->GetCropRect(&out);
    EXPECT_EQ(out, (Rect{100, 50, 400, 350}));  // no crop changes nothing
}

// A 400 x 300 picture of grey 100 at 1:1 (not fitted: a fitted picture leaves
// room for the frame's handles) under a free crop frame over its middle.
struct CroppedPicture {
    CroppedPicture() : view(ShownView(&doc, 400, 300)), picture(MakeElement(400, 300, 24, 100)) {
        doc.aspect = {0, 0, 1};
        ResultView::ShowResult(view.get(), picture.Get(), true);
        view->OnActualSize();
        view->BeginCrop(&crop, true);
    }
    FakeDocument doc;
    std::unique_ptr<CPictureView> view;
    RefPtr<IPanoElement> picture;
    const Rect crop{100, 100, 300, 200};  // image pixels, y up: client rows 100 to 200
};

TEST(PictureView, CropShadingAndOutline) {
    CroppedPicture cropped;
    CPictureView* view = cropped.view.get();
    const Rect& crop = cropped.crop;
    ASSERT_DOUBLE_EQ(view->GetZoom(), 100.0);
    ASSERT_TRUE(view->IsCropShown());
    const QImage shot = Grab(*view);
    const int lightened = 100 + (255 - 100) * 100 / 255;
    EXPECT_NEAR(qRed(shot.pixel(20, 20)), lightened, 2);
    EXPECT_NEAR(qRed(shot.pixel(350, 150)), lightened, 2);
    EXPECT_EQ(shot.pixel(200, 150), qRgb(100, 100, 100));
    EXPECT_EQ(shot.pixel(150, 200), qRgb(255, 187, 0));  // the outline's lower side
    EXPECT_EQ(shot.pixel(100, 170), qRgb(255, 187, 0));

    Rect out;
    view->EndCrop(&out, true);
    EXPECT_EQ(out, crop);
    EXPECT_FALSE(view->IsCropShown());
    view->EndCrop(&out, true);  // hidden: the stored rectangle again
    EXPECT_EQ(out, crop);
    EXPECT_EQ(Grab(*view).pixel(20, 20), qRgb(100, 100, 100));
}

TEST(PictureView, CropFrameMovesInsideAndResizesToThePicture) {
    FakeDocument doc;
    doc.aspect = {0, 0, 1};
    auto view = ShownView(&doc, 400, 300);
    RefPtr<IPanoElement> e = MakeElement(400, 300);
    ResultView::ShowResult(view.get(), e.Get(), true);
    view->OnActualSize();  // 1:1, as above
    const Rect crop{100, 100, 300, 200};
    view->SetCropRect(&crop);
    view->BeginCrop(&crop, true);
    QWidget* vp = view->viewport();

    DragOn(vp, {200, 150}, {600, 150});  // moved right past the edge: pushed back, size kept
    Rect out;
    view->GetCropRect(&out);
    EXPECT_EQ(out, (Rect{200, 100, 400, 200}));
    DragOn(vp, {200, 150}, {-100, 150});  // the left edge past the picture's edge: clipped
    view->GetCropRect(&out);
    EXPECT_EQ(out, (Rect{0, 100, 400, 200}));
    DragOn(vp, {200, 199}, {200, 500});  // the lower edge (local top) down: clipped at row 0
    view->GetCropRect(&out);
    EXPECT_EQ(out, (Rect{0, 0, 400, 200}));
    EXPECT_FALSE(view->IsTracking());

    // A product's ratio survives a corner drag, with image rows pointing up.
    doc.aspect = {3, 2, 2};
    view->EndCrop(&out, false);
    const Rect whole{0, 0, 400, 300};
    view->SetCropRect(&whole);
    view->SetKeepAspect(true);
    view->GetCropRect(&out);
    ASSERT_EQ(out, (Rect{0, 17, 400, 283}));
    view->BeginCrop(&out, true);
    DragOn(vp, {399, 17}, {300, 17});  // the upper-right corner to the left
    view->GetCropRect(&out);
    EXPECT_EQ(out, (Rect{0, 17, 301, 217}));  // height = 301 * 2 / 3
}

TEST(PictureView, TiledNavigationAndPanning) {
    FakeDocument doc;
    doc.tiled = true;
    doc.task = 2;
    auto view = ShownView(&doc, 800, 400);
    RefPtr<IPanoElement> e = MakeElement(800, 400);
    ResultView::ShowResult(view.get(), e.Get(), true);
    ASSERT_DOUBLE_EQ(view->GetZoom(), 100.0);
    QWidget* vp = view->viewport();

    Mouse(vp, QEvent::MouseButtonPress, {650, 200});
    EXPECT_TRUE(view->IsNavigating());
    Mouse(vp, QEvent::MouseMove, {-150, 200});  // the whole image width
    ASSERT_EQ(doc.renders.size(), 1u);
    EXPECT_EQ(doc.renders[0].azimuth, 45);
    EXPECT_EQ(doc.renders[0].elevation, 0);
    EXPECT_EQ(doc.renders[0].surface, 1);
    Mouse(vp, QEvent::MouseMove, {-900, 200});  // still 45: nothing new to render
    Mouse(vp, QEvent::MouseButtonRelease, {-900, 200});
    EXPECT_EQ(doc.renders.size(), 1u);
    EXPECT_FALSE(view->IsNavigating());

    Mouse(vp, QEvent::MouseButtonPress, {20, 200});  // the border: tilt
    EXPECT_TRUE(view->IsTilting());
    Mouse(vp, QEvent::MouseButtonRelease, {20, 200});

    // With Shift the same press pans a picture larger than the window.
    view->SetZoomIndex(17);
    const QPoint before = view->GetScrollPosition();
    Mouse(vp, QEvent::MouseButtonPress, {400, 200}, Qt::ShiftModifier);
    EXPECT_TRUE(view->IsPanning());
    EXPECT_FALSE(view->IsNavigating());
    Mouse(vp, QEvent::MouseMove, {300, 150}, Qt::ShiftModifier);
    EXPECT_EQ(view->GetScrollPosition(), before + QPoint(100, 50));
    Mouse(vp, QEvent::MouseButtonRelease, {300, 150}, Qt::ShiftModifier);
    EXPECT_EQ(doc.renders.size(), 1u);

    doc.task = 3;  // no navigation outside the stitch task
    Mouse(vp, QEvent::MouseButtonPress, {400, 200});
    EXPECT_TRUE(view->IsPanning());
    Mouse(vp, QEvent::MouseButtonRelease, {400, 200});
}

TEST(PictureView, ContextMenuOffersTheZoomCommands) {
    auto view = ShownView(nullptr, 300, 200);
    std::unique_ptr<QMenu> menu(view->CreateContextMenu(nullptr));
    EXPECT_EQ(menu->title(), "Picture View");
    const char* texts[] = {"Zoom &In",   "Zoom &Out",  "&Fit Window",
                           "Fit &Heigh", "Fit &Width", "&Actual(1:1)"};
    const char* ids[] = {"32814", "32815", "32817", "32842", "32843", "32816"};
    ASSERT_EQ(menu->actions().size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(menu->actions()[i]->text(), texts[i]);
        EXPECT_EQ(menu->actions()[i]->objectName(), ids[i]);
        EXPECT_FALSE(menu->actions()[i]->isEnabled());
    }
    RefPtr<IPanoElement> e = MakeElement(400, 300);
    ResultView::ShowResult(view.get(), e.Get(), true);
    menu.reset(view->CreateContextMenu(nullptr));
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    const double before = view->GetZoom();
    menu->findChild<QAction*>("32814")->trigger();
    EXPECT_GT(view->GetZoom(), before);
}

// A real stitch shown straight from the engine's buffer, with screenshots.
TEST(PictureView, ShowsARealStitchWithoutCopyingIt) {
    OVH_REQUIRE_PHOTOS();
    EnsureImageFactory();
    CDibManager manager;
    PanoramaLib::IHVPanorama* engine = CreateHVPanorama(&manager);
    CFreeThreading threads;
    TestDoubles::RecordingUserInterface ui;
    TestDoubles::RecordingWaitCursor cursor;
    engine->Init(&threads, &cursor, &ui);
    std::vector<IPanoElement*> photos;
    for (const char* name : {"boat-row/boat2.jpg", "boat-row/boat3.jpg", "boat-row/boat4.jpg"}) {
        IPanoElement* photo = CreatePanoElement(0);
        const std::string path = TestData::Photo(name).string();
        ASSERT_TRUE(photo->Load(std::wstring(path.begin(), path.end()))) << name;
        photos.push_back(photo);
    }
    ASSERT_TRUE(engine->Build(photos, nullptr, 0, 0, 0));
    IPanoElement* result = engine->GetResult(true);
    ASSERT_TRUE(result && result->IsValid());

    FakeDocument doc;
    auto view = ShownView(&doc, 800, 500);
    ResultView::ShowResult(view.get(), result, true);
    EXPECT_EQ(view->GetImage(), result);
    EXPECT_EQ(DibImage::Wrap(view->GetImage()).constBits(), result->GetBits());
    SaveScreenshot(view.get(), "picture-view-fitted");

    view->SetZoomIndex(17);
    EXPECT_EQ(ResultView::ZoomText(view.get()), "400 %");
    SaveScreenshot(view.get(), "picture-view-400");

    view->OnFitWindow();
    const int w = result->GetWidth(), h = result->GetHeight();
    const Rect manual{w / 10, h / 5, w * 7 / 10, h * 9 / 10};
    doc.aspect = {0, 0, 1};
    view->SetCropRect(&manual);
    view->BeginCrop(&manual, true);
    SaveScreenshot(view.get(), "picture-view-manual-crop");
    Rect out;
    view->EndCrop(&out, true);

    doc.aspect = {6, 4, 2};
    view->SetKeepAspect(true);
    const Rect whole{0, 0, w, h};
    view->SetCropRect(&whole);
    view->GetCropRect(&out);
    view->BeginCrop(&out, true);
    EXPECT_NEAR(double(out.Width()) / out.Height(), 1.5, 0.01);
    SaveScreenshot(view.get(), "picture-view-product-crop");

    view.reset();
    ReleaseElementVector(photos);
    engine->Release();
    // The engines' image factory is this test's manager: take it back before it goes.
    CreateHVPanorama(nullptr);
}

TEST(PictureView, AHeldCopyPaintsOnAfterTheOwnerFreesThePictureAndKeepsTheCropFrame) {
    CroppedPicture cropped;
    CPictureView* view = cropped.view.get();
    view->HoldCopyOfImage();
    EXPECT_NE(view->GetImage(), cropped.picture.Get());
    cropped.picture->Destroy();  // the render thread frees the preview
    ASSERT_TRUE(view->IsCropShown());
    const QImage shot = Grab(*view);
    EXPECT_EQ(shot.pixel(200, 150), qRgb(100, 100, 100)) << "the copy's pixels";
    EXPECT_EQ(shot.pixel(150, 200), qRgb(255, 187, 0)) << "the frame on it";
    ResultView::ShowResult(view, nullptr, true);
    EXPECT_EQ(view->GetImage(), nullptr);
}
