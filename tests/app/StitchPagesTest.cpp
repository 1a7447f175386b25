// The stitch page and its option pages against a recording document.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "DlgStitching.h"
#include "Profile.h"
#include "Screenshot.h"

namespace {

struct Render {
    int surface, elevation, azimuth, tilt, keep;
};

class RecordingDoc : public IDialogCallback::IStitchingOptions {
public:
    void GetOptions(HVPanoramaOptions* o) override { *o = engine; }
    void SetOptions(const HVPanoramaOptions* o) override { engine = *o; }
    void StartStitching() override { ++starts; }
    bool HasTiledResult() override { return tiledResult; }
    bool IsRestitchNeeded(const HVPanoramaOptions* o) override {
        lastAsked = o ? *o : HVPanoramaOptions{};
        return restitch;
    }
    int GetMatchingMode() override { return matchingMode; }
    void SetMatchingMode(int mode) override { matchingMode = mode; }
    bool CanStitch() override { return canStitch; }
    void RequestTiledRender(int s, int e, int a, int t, bool, int keep) override {
        renders.push_back({s, e, a, t, keep});
        kept = {s, e, a, t, keep};
    }
    void ResetTiledCropRect() override { ++cropResets; }
    void SetTiledMode(bool t) override { tiledMode = t; }
    void SetTiledOptions(bool t) override { tiledOptions = t; }
    bool GetTiledOptions() override { return tiledOptions; }
    void GetTiledRenderParams(int* s, int* e, int* a, int* t) override {
        *s = kept.surface;
        *e = kept.elevation;
        *a = kept.azimuth;
        *t = kept.tilt;
    }
    void MarkOptionsChanged() override { ++optionsChanged; }

    HVPanoramaOptions engine, lastAsked;
    int starts = 0, matchingMode = 0, cropResets = 0, optionsChanged = 0;
    bool tiledResult = false, restitch = true, canStitch = true, tiledMode = false, tiledOptions = false;
    std::vector<Render> renders;
    Render kept{0, 0, 0, 0, 0};
};

struct PageRig {
    QTemporaryDir dir;
    RecordingDoc doc;
    std::unique_ptr<CDlgStitching> page;
    explicit PageRig(int horzVert = 1) {
        AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
        AppProfile::WriteProfileInt("STITCHING", "HorzVert", horzVert);
        page = std::make_unique<CDlgStitching>();
        page->SetDocument(&doc);
        page->UpdateControls();
        page->show();
    }
    template <class W>
    W* Hv(int id) {
        return page->HVPage()->findChild<W*>(QString::number(id));
    }
    template <class W>
    W* Tl(int id) {
        return page->TLPage()->findChild<W*>(QString::number(id));
    }
};

}  // namespace

TEST(StitchPages, TheKeptModeOpensItsTabAndTheTabChoosesTheEngine) {
    PageRig rig(0);
    EXPECT_EQ(rig.page->Tabs()->currentIndex(), 1);
    EXPECT_TRUE(rig.doc.tiledOptions);
    SaveScreenshot(rig.page.get(), "stitch_page_tiled");
    rig.page->Tabs()->setCurrentIndex(0);
    EXPECT_EQ(rig.page->Mode(), 1);
    EXPECT_FALSE(rig.doc.tiledOptions);
    EXPECT_EQ(rig.doc.starts, 0) << "a tab change starts nothing";
    SaveScreenshot(rig.page.get(), "stitch_page_hv");
    rig.page.reset();
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "HorzVert", -1), 1);
}

// The model is the workflow's: the page hands its kept model over, shows
// the workflow's changes, and takes the model back for the profile.
TEST(StitchPages, TheModelLivesInTheWorkflowThePageIsGiven) {
    PageRig rig(0);
    {
        CWorkflow workflow;
        rig.page->SetWorkflow(&workflow);
        EXPECT_EQ(workflow.GetStitchMode(), StitchMode::Tiled);
        rig.page->Tabs()->setCurrentIndex(0);
        EXPECT_EQ(workflow.GetStitchMode(), StitchMode::Planar);
        workflow.SetStitchMode(StitchMode::Tiled);
        workflow.SetStitchMode(StitchMode::Planar);
        workflow.SetStitchMode(StitchMode::Tiled);
        QCoreApplication::processEvents();
        EXPECT_EQ(rig.page->Tabs()->currentIndex(), 1) << "the tabs show the last model";
        EXPECT_EQ(workflow.GetStitchMode(), StitchMode::Tiled);
        rig.page->SetWorkflow(nullptr);
    }
    EXPECT_EQ(rig.page->StitchingMode(), StitchMode::Tiled);
    rig.page.reset();
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "HorzVert", -1), 0);
}

TEST(StitchPages, StartCopiesOnlyThePagesFieldsAndThePollFollowsTheDocument) {
    PageRig rig;
    rig.doc.engine.autoCrop = 1;
    rig.doc.engine.analysisSize = 1;
    QTest::mouseClick(rig.Hv<QRadioButton>(1008), Qt::LeftButton);
    QTest::mouseClick(rig.Hv<QCheckBox>(1009), Qt::LeftButton);
    rig.page->Poll();
    ASSERT_TRUE(rig.page->StartButton()->isEnabled());
    QTest::mouseClick(rig.page->StartButton(), Qt::LeftButton);
    EXPECT_EQ(rig.doc.starts, 1);
    EXPECT_EQ(rig.doc.engine.motionModel, 0);
    EXPECT_TRUE(rig.doc.engine.lensCompensation);
    EXPECT_EQ(rig.doc.engine.lensPresetId, 7);
    EXPECT_EQ(rig.doc.engine.autoCrop, 1) << "other fields stay as the engine had them";
    EXPECT_EQ(rig.doc.engine.analysisSize, 1);
    rig.doc.restitch = false;
    rig.page->Poll();
    EXPECT_FALSE(rig.page->StartButton()->isEnabled());
}

TEST(StitchPages, ThreeSixtyForcesScaleOnlyAndGivesTheUsersModelBack) {
    PageRig rig;
    QTest::mouseClick(rig.Hv<QRadioButton>(1007), Qt::LeftButton);
    QTest::mouseClick(rig.Hv<QCheckBox>(1031), Qt::LeftButton);
    EXPECT_TRUE(rig.Hv<QRadioButton>(1006)->isChecked());
    EXPECT_FALSE(rig.Hv<QRadioButton>(1007)->isEnabled());
    EXPECT_EQ(rig.page->HVPage()->Options().motionModel, 2);
    rig.page.reset();
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "motion model", -1), 1) << "the user's model is stored";
    EXPECT_EQ(AppProfile::GetProfileInt("STITCHING", "cyclorama", -1), 1);
}

TEST(StitchPages, WithoutEnoughPhotosEveryOptionIsDisabled) {
    PageRig rig;
    rig.doc.canStitch = false;
    rig.page->UpdateControls();
    for (int id : {1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1031})
        EXPECT_FALSE(rig.page->HVPage()->findChild<QWidget*>(QString::number(id))->isEnabled()) << id;
    EXPECT_FALSE(rig.page->Tabs()->isEnabled());
}

TEST(StitchPages, AnglesRenderWithinRangeAndTheAzimuthIsKeptNegated) {
    PageRig rig(0);
    rig.page->Poll();
    EXPECT_FALSE(rig.Tl<QSlider>(1060)->isEnabled()) << "no tiled result yet";
    rig.doc.tiledResult = true;
    rig.page->Poll();
    ASSERT_TRUE(rig.Tl<QSlider>(1060)->isEnabled());

    struct Case {
        const char* text;
        bool renders;
    } cases[] = {{"46", false}, {"-46", false}, {"-", false}, {"", false}, {"45", true}, {"45", false}};
    QLineEdit* elevation = rig.Tl<QLineEdit>(1070);
    for (const Case& c : cases) {
        const size_t before = rig.doc.renders.size();
        elevation->setText(QString::fromUtf8(c.text));
        EXPECT_EQ(rig.doc.renders.size() > before, c.renders) << c.text;
    }
    EXPECT_EQ(rig.Tl<QSlider>(1060)->value(), 45);
    EXPECT_EQ(rig.doc.renders.back().keep, 1);

    rig.Tl<QLineEdit>(1071)->setText("10");
    EXPECT_EQ(rig.doc.renders.back().azimuth, -10);
    rig.page->UpdateControls();
    EXPECT_EQ(rig.Tl<QLineEdit>(1071)->text(), "10") << "read back from the document, negated again";

    // A drag renders at every position and resets the crop once, at its end.
    QSlider* tilt = rig.Tl<QSlider>(1063);
    const int resets = rig.doc.cropResets;
    const size_t renders = rig.doc.renders.size();
    tilt->setSliderDown(true);
    for (int v : {1, 2, 3})
        tilt->setValue(v);
    EXPECT_EQ(rig.doc.renders.size(), renders + 3);
    EXPECT_EQ(rig.doc.cropResets, resets);
    tilt->setSliderDown(false);
    EXPECT_EQ(rig.doc.cropResets, resets + 1);
    EXPECT_EQ(rig.Tl<QLineEdit>(1072)->text(), "3");

    // A surface change renders without keeping the crop rectangle.
    QTest::mouseClick(rig.Tl<QRadioButton>(1069), Qt::LeftButton);
    EXPECT_EQ(rig.doc.renders.back().surface, 1);
    EXPECT_EQ(rig.doc.renders.back().keep, 0);
}

TEST(StitchPages, TheHighOrderBoxFollowsTheLensBoxButKeepsItsCheck) {
    PageRig rig(0);
    QCheckBox* lens = rig.Tl<QCheckBox>(1009);
    QCheckBox* high = rig.Tl<QCheckBox>(1065);
    QTest::mouseClick(lens, Qt::LeftButton);
    ASSERT_TRUE(high->isEnabled());
    QTest::mouseClick(high, Qt::LeftButton);
    QTest::mouseClick(lens, Qt::LeftButton);
    EXPECT_FALSE(high->isEnabled());
    EXPECT_TRUE(high->isChecked());
    EXPECT_EQ(rig.page->TLPage()->Options().lensModel, 1);
}
