// "Tune Matching": the controls follow the matcher, a drag during a render
// restarts it, closing mid-render is clean, and the engine builds with the
// transform of the markers the user dragged (or stops on Abort).
#include <gtest/gtest.h>
#include <QCoreApplication>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "DlgMatching.h"
#include "MatchingTestSupport.h"
#include "PictPreview.h"
#include "RecordingCallbacks.h"
#include "Screenshot.h"

using OrvexBase::RefPtr;
using PanoramaLib::IManualMatcher;
using PanoramaLib::IPanoElement;

namespace {

// Markers 0 alone decide a shift; the invalid flag is the test's to set.
class ShiftMatcher : public IManualMatcher {
public:
    ShiftMatcher() { std::memcpy(initial, points, sizeof points); }
    void GetMarkers(bool second, int out[6]) const override {
        std::memcpy(out, points[second], sizeof(int) * 6);
    }
    void SetMarker(bool second, const int point[2], int index) override {
        index = std::clamp(index, 0, 2);
        points[second][2 * index] = point[0];
        points[second][2 * index + 1] = point[1];
    }
    void Reset() override {
        std::memcpy(points, initial, sizeof points);
        model = 2;
        invalid = false;
        ++resets;
    }
    void GetTransform(double out[9]) const override {
        const double h[9] = {
            1, 0, double(points[1][0] - points[0][0]), 0, 1, double(points[1][1] - points[0][1]), 0, 0, 1};
        std::copy(h, h + 9, out);
    }
    bool IsTransformInvalid() const override { return invalid; }
    int GetMotionModel() const override { return model; }
    void SetMotionModel(int m) override { model = m; }
    bool GetOptionFlag() const override { return optionFlag; }

    int points[2][6] = {{250, 150, 250, 100, 250, 50}, {50, 150, 50, 100, 50, 50}};
    int initial[2][6];
    int model = 2;
    bool invalid = false;
    bool optionFlag = false;
    int resets = 0;
};

void Send(QWidget* w, QEvent::Type type, QPoint pos) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Drags marker `index` of a pane so that it lands on the image point `to`;
// false when the marker could not be grabbed.
bool DragMarker(CPictPreview* pane, int index, QPoint to) {
    const CMarker* marker = pane->Markers().FindByIndex(index);
    if (!marker)
        return false;
    // The client pixel whose image pixel is `to` (at fractional zooms the
    // image-to-client rounding may land one pixel beside it).
    QPoint target = to;
    pane->ImageToClient(&target);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            QPoint c = target + QPoint(dx, dy), back = c;
            pane->ClientToImage(&back);
            if (back == to) {
                target = c;
                dx = dy = 3;
            }
        }
    Send(pane, QEvent::MouseButtonPress, marker->clientPosition);
    if (pane->Markers().First() != marker)
        return false;
    Send(pane, QEvent::MouseMove, (marker->clientPosition + target) / 2);
    Send(pane, QEvent::MouseMove, target);
    Send(pane, QEvent::MouseButtonRelease, target);
    return marker->imagePosition == to;
}

template <class W>
W* Control(QWidget* dialog, int id) {
    return dialog->findChild<W*>(QString::number(id));
}

class DlgMatchingTest : public ::testing::Test {
protected:
    void SetUp() override {
        MatchingTest::UseEngineImages();
        const std::uint8_t colours[3][3] = {{230, 40, 40}, {40, 170, 60}, {40, 90, 230}};
        for (int i = 0; i < 3; ++i) {
            skin.files[i] = MatchingTest::MarkerBmp(dir, "Marker" + std::to_string(i + 1) + ".bmp",
                                                    colours[i][0], colours[i][1], colours[i][2]);
            skin.hotPoints[i] = QPoint(8, 8);
        }
    }

    TestData::ScratchDir dir;
    MarkerSkin skin;
};

}  // namespace

TEST_F(DlgMatchingTest, ControlsFollowTheMatcher) {
    RefPtr<IPanoElement> a(MatchingTest::FlatElement(300, 200, 120)),
        b(MatchingTest::FlatElement(300, 200, 180));
    {
        ShiftMatcher locked;
        locked.optionFlag = true;
        CDlgMatching dialog(nullptr, skin);
        dialog.SetElements(a.Get(), b.Get());
        dialog.SetMatcher(&locked);
        dialog.show();
        for (int id : {1052, 1053, 1054})
            EXPECT_FALSE(Control<QRadioButton>(&dialog, id)->isEnabled()) << id;
    }
    ShiftMatcher matcher;
    CDlgMatching dialog(nullptr, skin);
    dialog.SetElements(a.Get(), b.Get());
    dialog.SetMatcher(&matcher);
    dialog.show();
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return dialog.ShownResult() != nullptr; }));
    EXPECT_EQ(dialog.Pane(2)->GetImage(), dialog.ShownResult());
    EXPECT_TRUE(dialog.Pane(2)->GetCaption().isEmpty());

    // Model 2: two marker pairs; the skew model shows the third.
    EXPECT_TRUE(Control<QRadioButton>(&dialog, 1052)->isChecked());
    for (int p = 0; p < 2; ++p)
        EXPECT_FALSE(dialog.Pane(p)->Markers().FindByIndex(2)->visible);
    Control<QRadioButton>(&dialog, 1054)->click();
    EXPECT_EQ(matcher.model, 0);
    for (int p = 0; p < 2; ++p)
        EXPECT_TRUE(dialog.Pane(p)->Markers().FindByIndex(2)->visible);

    // An unusable transform: no render, the text instead, "&Apply" disabled.
    matcher.invalid = true;
    ASSERT_TRUE(DragMarker(dialog.Pane(1), 0, QPoint(60, 150)));
    EXPECT_EQ(dialog.Pane(2)->GetImage(), nullptr);
    EXPECT_EQ(dialog.Pane(2)->GetCaption(), "Unable to match markers\nChange marker position or click Reset");
    EXPECT_FALSE(Control<QPushButton>(&dialog, 1)->isEnabled());
    // "&Reset": the matcher's seed again, markers, model and a new preview.
    Control<QPushButton>(&dialog, 1046)->click();
    EXPECT_EQ(matcher.resets, 1);
    EXPECT_TRUE(Control<QPushButton>(&dialog, 1)->isEnabled());
    EXPECT_EQ(dialog.Pane(1)->Markers().FindByIndex(0)->imagePosition, QPoint(50, 150));
    EXPECT_TRUE(Control<QRadioButton>(&dialog, 1052)->isChecked());
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return dialog.ShownResult() != nullptr; }));
    EXPECT_EQ(dialog.ShownResult()->GetWidth(), 500);  // 300 + 300 - 100 of overlap

    // Zoom: "+" steps both photo panes; keypad plus in one pane steps the other too.
    const double z = dialog.Pane(0)->GetZoom();
    EXPECT_EQ(Control<QLabel>(&dialog, 1057)->text(), QString("Scale: %1 %").arg(int(z + 0.5)));
    Control<QPushButton>(&dialog, 1050)->click();
    const double z2 = CPictPreview::NextZoomLevel(z, true);
    EXPECT_EQ(dialog.Pane(0)->GetZoom(), z2);
    EXPECT_EQ(dialog.Pane(1)->GetZoom(), z2);
    QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::KeypadModifier, "+");
    QApplication::sendEvent(dialog.Pane(0), &plus);
    EXPECT_EQ(dialog.Pane(0)->GetZoom(), CPictPreview::NextZoomLevel(z2, true));
    EXPECT_EQ(dialog.Pane(1)->GetZoom(), dialog.Pane(0)->GetZoom());
    EXPECT_EQ(Control<QLabel>(&dialog, 1057)->text(),
              QString("Scale: %1 %").arg(int(dialog.Pane(0)->GetZoom() + 0.5)));
    EXPECT_FALSE(Control<QLabel>(&dialog, 1058)->text().isEmpty());
}

TEST_F(DlgMatchingTest, DragDuringARenderRestartsItAndClosingMidRenderIsClean) {
    RefPtr<IPanoElement> a(MatchingTest::FlatElement(300, 200, 120)),
        b(MatchingTest::FlatElement(300, 200, 180));
    MatchingTest::GatedRender render;
    ShiftMatcher matcher;
    auto dialog = std::make_unique<CDlgMatching>(nullptr, skin, render.Fn());
    dialog->SetElements(a.Get(), b.Get());
    dialog->SetMatcher(&matcher);
    dialog->show();
    ASSERT_TRUE(render.WaitStarted(1));
    EXPECT_EQ(render.Shifts()[0], -200);

    // The first render is still running when the marker lands elsewhere.
    ASSERT_TRUE(DragMarker(dialog->Pane(1), 0, QPoint(60, 150)));
    ASSERT_TRUE(render.WaitStarted(2));
    EXPECT_EQ(render.Cancelled(), 1);
    EXPECT_EQ(render.Shifts()[1], -190);
    render.Open(true);
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return dialog->ShownResult() != nullptr; }));
    EXPECT_EQ(dialog->ShownResult()->GetBits()[0], 2 * 40);  // the second render's
    EXPECT_EQ(render.Finished(), 1);

    // Abort while a render runs: the dialog returns once the render gave up.
    render.Open(false);
    ASSERT_TRUE(DragMarker(dialog->Pane(1), 0, QPoint(70, 150)));
    ASSERT_TRUE(render.WaitStarted(3));
    Control<QPushButton>(dialog.get(), 2)->click();
    EXPECT_EQ(dialog->result(), CDlgMatching::kIdCancel);
    EXPECT_EQ(render.Cancelled(), 2);
    // A notice that arrives after closing is not shown.
    IPanoElement* shown = dialog->Pane(2)->GetImage();
    QCoreApplication::postEvent(dialog.get(), new QEvent(CDlgMatching::kPreviewReadyEvent));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->Pane(2)->GetImage(), shown);

    // Destroying a dialog whose render is still running stops it first.
    dialog = std::make_unique<CDlgMatching>(nullptr, skin, render.Fn());
    dialog->SetElements(a.Get(), b.Get());
    dialog->SetMatcher(&matcher);
    dialog->show();
    ASSERT_TRUE(render.WaitStarted(4));
    dialog.reset();
    EXPECT_EQ(render.Cancelled(), 3);
    EXPECT_EQ(render.Finished(), 1);
}

namespace {

// Two crops of one photo, the second taken kDx columns right and kDy rows
// higher in the bottom-up buffer, so the transform from the first to the
// second is the shift (-kDx, -kDy).
constexpr int kW = 320, kH = 240, kDx = 150, kDy = 14;

class EngineMatchingTest : public DlgMatchingTest {
protected:
    void SetUp() override {
        DlgMatchingTest::SetUp();
        // The crops are cut from a shared photo; without it there is nothing to set up.
        OVH_REQUIRE_PHOTOS();
        RefPtr<IPanoElement> full(CreatePanoElement(0));
        const std::string source = TestData::Photo("boat-row/boat3.jpg").string();
        ASSERT_TRUE(full->Load(std::wstring(source.begin(), source.end())));
        for (int k = 0; k < 2; ++k) {
            RefPtr<IPanoElement> crop(CreatePanoElement(0));
            ASSERT_TRUE(crop->Create(24, kW, kH));
            for (int r = 0; r < kH; ++r)
                std::memcpy(
                    crop->GetBits() + std::size_t(r) * crop->GetStride(),
                    full->GetBits() + std::size_t(60 + k * kDy + r) * full->GetStride() + 3 * (40 + k * kDx),
                    3 * kW);
            const std::string path = dir / ("crop" + std::to_string(k) + ".png");
            const std::wstring wide(path.begin(), path.end());
            ASSERT_TRUE(crop->Save(wide));
            IPanoElement* photo = CreatePanoElement(0);
            ASSERT_TRUE(photo->Load(wide));
            photos.push_back(photo);
        }
        engine = CreateHVPanorama(&MatchingTest::EngineImages());
        engine->Init(nullptr, nullptr, &ui);
        HVPanoramaOptions o;
        engine->GetOptions(&o);
        o.lensCompensation = 0;
        o.autoCrop = 0;
        o.is360 = 0;
        o.motionModel = 2;
        engine->SetOptions(&o);
    }
    void TearDown() override {
        if (engine)
            engine->Release();
        ReleaseElementVector(photos);
    }

    // Answers the engine's prompt through the dialog; `user` drives the
    // dialog once it is up.
    void AnswerWith(std::function<void(CDlgMatching*, IManualMatcher*)> user) {
        ui.onMatchManually = [this, user](IPanoElement* first, IPanoElement* second, IManualMatcher* m) {
            QTimer::singleShot(0, [user, m] {
                CDlgMatching* dialog = nullptr;
                MatchingTest::WaitFor([&] {
                    return (dialog = qobject_cast<CDlgMatching*>(QApplication::activeModalWidget()));
                });
                ASSERT_NE(dialog, nullptr);
                user(dialog, m);
                // A failed step must not leave the build waiting on the dialog.
                if (dialog->isVisible())
                    dialog->reject();
            });
            promptSizes.push_back({first->GetWidth(), first->GetHeight()});
            const int result = CDlgMatching::MatchPair(nullptr, first, second, m, skin);
            m->GetTransform(applied);
            return result == CDlgMatching::kIdOk ? 0 : 1;
        };
    }

    PanoramaLib::IHVPanorama* engine = nullptr;
    TestDoubles::RecordingUserInterface ui;
    std::vector<IPanoElement*> photos;
    std::vector<std::pair<int, int>> promptSizes;
    double applied[9] = {};
};

}  // namespace

TEST_F(EngineMatchingTest, ApplyBuildsWithTheDraggedMarkers) {
    OVH_REQUIRE_PHOTOS();
    AnswerWith([&](CDlgMatching* dialog, IManualMatcher*) {
        Control<QRadioButton>(dialog, 1054)->click();  // three marker pairs
        // Three spread spots of the overlap, and their partners on the second photo.
        const QPoint spots[3] = {QPoint(190, 40), QPoint(300, 120), QPoint(220, 210)};
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(DragMarker(dialog->Pane(0), i, spots[i])) << i;
            ASSERT_TRUE(DragMarker(dialog->Pane(1), i, spots[i] - QPoint(kDx, kDy))) << i;
        }
        // The preview of the final markers: both crops side by side (the
        // canvas may take one more pixel where the inverse rounds up).
        EXPECT_TRUE(MatchingTest::WaitFor([&] {
            IPanoElement* r = dialog->ShownResult();
            return r && std::abs(r->GetWidth() - (kW + kDx)) <= 1 &&
                   std::abs(r->GetHeight() - (kH + kDy)) <= 1;
        }));
        // Let the layout take the new scale texts before the picture is taken.
        QCoreApplication::processEvents();
        SaveScreenshot(dialog, "DlgMatching");
        EXPECT_TRUE(Control<QPushButton>(dialog, 1)->isEnabled());
        Control<QPushButton>(dialog, 1)->click();
    });
    ASSERT_TRUE(engine->BuildWithTransforms(photos, nullptr, true));
    ASSERT_EQ(promptSizes.size(), 1u);
    EXPECT_EQ(promptSizes[0], std::make_pair(kW, kH));
    EXPECT_NEAR(applied[0], 1.0, 1e-3);
    EXPECT_NEAR(applied[4], 1.0, 1e-3);
    EXPECT_NEAR(applied[1], 0.0, 1e-3);
    EXPECT_NEAR(applied[3], 0.0, 1e-3);
    EXPECT_NEAR(applied[2], -kDx, 1.0);
    EXPECT_NEAR(applied[5], -kDy, 1.0);
    const BuildReport* report = engine->GetBuildReport();
    EXPECT_EQ(report->status, 1);
    EXPECT_TRUE(report->unmatched.empty());
    IPanoElement* result = engine->GetResult(false);
    ASSERT_TRUE(result && result->IsValid());
    EXPECT_NEAR(result->GetWidth(), kW + kDx, 2);
}

TEST_F(EngineMatchingTest, AbortEndsTheBuild) {
    OVH_REQUIRE_PHOTOS();
    AnswerWith([](CDlgMatching* dialog, IManualMatcher*) { Control<QPushButton>(dialog, 2)->click(); });
    EXPECT_FALSE(engine->BuildWithTransforms(photos, nullptr, true));
    EXPECT_EQ(promptSizes.size(), 1u);
    EXPECT_EQ(engine->GetBuildReport()->status, 2);
    EXPECT_EQ(CDlgMatching::MatchPair(nullptr, photos[0], nullptr, nullptr), CDlgMatching::kIdCancel);
}
