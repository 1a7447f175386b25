// A control that refuses clicks must also look so: on the real main window,
// each control below is disabled while it does not apply, and its grab holds
// no text-black pixel, while the same control enabled does.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "CDlgPrintSetup.h"
#include "CDlgSaving.h"
#include "CommandIds.h"
#include "DlgStitching.h"
#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "PopupCloser.h"
#include "Profile.h"
#include "SamplePhotos.h"
#include "Screenshot.h"
#include "StartedProgram.h"
#include "UiServices.h"
#include "WaitForJobs.h"

namespace {

// The darkest grey level of a widget as drawn.
int Darkest(QWidget* w) {
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int darkest = 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

}  // namespace

TEST(DisabledControls, AreDrawnDisabled) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    AppProfile::WriteProfileInt("STITCHING", "HorzVert", 1);
    UiServices::SetMessageHandler([](QWidget*, const QString&, const QString&) {});
    COvHorizelApp app;
    CMainFrame& frame = StartShown(app, SamplePhotos::BoatRow());
    CDlgStitching* stitch = frame.StitchBar()->StitchPage();
    stitch->Poll();
    const auto control = [](QWidget* page, int id) { return page->findChild<QWidget*>(QString::number(id)); };
    const auto click = [](QWidget* w) {
        ASSERT_TRUE(w);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    };

    // "360°" on: the Matching choices do not apply.
    QWidget* hv = stitch->HVPage();
    auto* full = qobject_cast<QAbstractButton*>(control(hv, 1031));
    ASSERT_TRUE(full);
    if (!full->isChecked())
        click(full);
    ASSERT_TRUE(full->isChecked());
    SaveScreenshot(hv, "stitch_hv_360_matching_disabled");
    // Lens compensation off: "High order aberration" does not apply.
    QWidget* tl = stitch->TLPage();
    auto* lens = qobject_cast<QAbstractButton*>(control(tl, 1009));
    ASSERT_TRUE(lens);
    if (lens->isChecked())
        click(lens);
    ASSERT_FALSE(lens->isChecked());
    SaveScreenshot(tl, "stitch_tl_high_order_disabled");
    // Before a full-size result: the page setup of the export page.
    {
        // The export task stitches first with the page's options: "360°" is on
        // and the boat row is no ring, so the build ends asking about it.
        TestSupport::PopupCloser closer;
        frame.Router().Execute(CmdId::TaskExport);
    }
    QTest::qWait(20);
    QWidget* save = frame.SavePage();
    SaveScreenshot(save, "export_page_setup_disabled");

    const struct {
        const char* what;
        QWidget* page;
        int id;
    } cases[] = {
        {"Scale only", hv, 1006},
        {"Rotate and scale only", hv, 1007},
        {"Rotate, scale, and skew", hv, 1008},
        {"High order aberration", tl, 1065},
        {"Print over", save, CDlgPrintSetup::kPages},
        {"Fit to paper", save, CDlgPrintSetup::kFit},
        {"Manual", save, CDlgPrintSetup::kManual},
        {"Overlap", save, CDlgPrintSetup::kOverlapOn},
    };
    for (const auto& c : cases) {
        QWidget* w = control(c.page, c.id);
        ASSERT_TRUE(w) << c.what;
        EXPECT_FALSE(w->isEnabled()) << c.what;
        EXPECT_GT(Darkest(w), 90) << c.what << " is drawn like an enabled control";
        // The same control enabled shows its black text: the measure can fail.
        w->setEnabled(true);
        EXPECT_LT(Darkest(w), 60) << c.what;
        w->setEnabled(false);
    }
    app.ExitInstance();
    UiServices::SetMessageHandler(nullptr);
}
