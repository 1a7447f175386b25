#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <set>

#include "CDlgPrompts.h"
#include "DocTestSupport.h"
#include "DocumentDialogs.h"
#include "FrameEngineCallbacks.h"
#include "Screenshot.h"

using namespace TestDoubles;

namespace {

// The program's frame side around a document with the real engines: the
// progress window, the prompts and message boxes (answered by a watcher that
// also notes every stage text shown and can press Cancel at a stage).
struct RealRig {
    RealRig() {
        frame.resize(900, 700);
        // Stands in for the result view: shows the document's result when told to.
        view = new QLabel(&frame);
        view->setAlignment(Qt::AlignCenter);
        frame.setCentralWidget(view);
        callbacks.onToggleView = [this](bool) { ShowResult(); };
        frame.show();
        doc.SetHost(&dialogs);
        callbacks.SetDocument(&doc);
        doc.CreateEngines(&callbacks, &callbacks);
        watcher.setInterval(1);
        QObject::connect(&watcher, &QTimer::timeout, [this] { Watch(); });
        watcher.start();
    }
    void Add(const std::vector<std::string>& paths) {
        doc.AddFiles(paths);
        doc.SetCurrentTask(2);
    }
    void Watch() {
        CDlgProgressIndicator* progress = callbacks.ProgressWindow();
        if (progress->isVisible()) {
            const std::string text = progress->TextControl()->text().toStdString();
            const std::string stage =
                text.substr(0, text.find(':') == std::string::npos ? text.size() : text.find(':') + 1);
            if (stages.insert(stage).second && stage == "Loading images:")
                SaveScreenshot(progress, "progress-window-loading");
            if (!cancelAt.empty() && text.rfind(cancelAt, 0) == 0) {
                cancelAt.clear();
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
            }
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            prompts.push_back(box->text().toStdString());
            box->accept();
        } else if (auto* prompt = qobject_cast<CDlgPromptBase*>(modal)) {
            prompts.push_back(prompt->Message().toStdString());
            SaveScreenshot(prompt, "real-prompt");
            QTest::mouseClick(prompt->findChild<QPushButton*>(promptAnswer), Qt::LeftButton);
        }
    }
    void ShowResult() {
        PanoramaLib::IPanoElement* result = doc.GetDisplayResult();
        if (!result || result->GetBpp() != 24) {
            view->clear();
            return;
        }
        // Bottom-up B, G, R rows.
        const QImage dib(result->GetBits(), result->GetWidth(), result->GetHeight(), result->GetStride(),
                         QImage::Format_BGR888);
        view->setPixmap(QPixmap::fromImage(dib.mirrored().scaled(880, 680, Qt::KeepAspectRatio)));
    }
    bool Built() {
        PanoramaLib::IPanoElement* result = doc.GetDisplayResult();
        return result && result->GetWidth() > 0;
    }

    DocEnvironment env;
    QMainWindow frame;
    QLabel* view;
    CFrameEngineCallbacks callbacks{&frame};
    CDocumentDialogs dialogs{&frame};
    COvHorizelDoc doc;
    QTimer watcher;
    std::set<std::string> stages;
    std::vector<std::string> prompts;
    std::string cancelAt;
    const char* promptAnswer = "6";
};

std::vector<std::string> Row(const std::string& folder, const std::string& stem, int n) {
    std::vector<std::string> paths;
    for (int i = 1; i <= n; ++i)
        paths.push_back(TestData::Photo(folder + "/" + stem + std::to_string(i) + ".jpg").string());
    return paths;
}

}  // namespace

TEST(RealStitch, BoatRowInBothModesWithItsStages) {
    OVH_REQUIRE_PHOTOS();
    RealRig rig;
    rig.Add(Row("boat-row", "boat", 6));
    EXPECT_TRUE(rig.stages.count("Loading images:"));
    for (bool tiled : {false, true}) {
        rig.stages.clear();
        rig.doc.SetTiledOptions(tiled);
        rig.doc.StartStitching();
        EXPECT_TRUE(rig.Built()) << tiled;
        SaveScreenshot(&rig.frame, tiled ? "main-window-after-stitch-boat-tiled"
                                         : "main-window-after-stitch-boat-planar");
        EXPECT_TRUE(rig.prompts.empty()) << (rig.prompts.empty() ? "" : rig.prompts[0]);
        EXPECT_TRUE(rig.stages.count("Analyzing:")) << tiled;
        EXPECT_TRUE(rig.stages.count("Matching...") || rig.stages.count("Stitching...")) << tiled;
        EXPECT_FALSE(rig.callbacks.ProgressWindow()->isVisible());
    }
}

TEST(RealStitch, CancelReturnsToAUsableProgramAndTheNextBuildWorks) {
    OVH_REQUIRE_PHOTOS();
    RealRig rig;
    rig.Add(Row("boat-row", "boat", 6));
    for (bool tiled : {false, true}) {
        for (const char* stage : {"Analyzing", "Matching...", "Stitching..."}) {
            rig.doc.SetTiledOptions(tiled);
            PanoramaLib::IPanorama* engine =
                tiled ? static_cast<PanoramaLib::IPanorama*>(rig.doc.GetTiledEngine())
                      : rig.doc.GetPlanarEngine();
            // From scratch, so that every stage does its work again.
            engine->Reset(true, true);
            rig.cancelAt = stage;
            rig.doc.StartStitching();
            // The watcher pressed Cancel when the stage showed, and the build stopped.
            EXPECT_TRUE(rig.cancelAt.empty()) << tiled << stage;
            EXPECT_FALSE(engine->IsBuilt()) << tiled << stage;
            EXPECT_EQ(engine->GetBuildReport()->status, 2) << tiled << stage;
            EXPECT_FALSE(rig.callbacks.ProgressWindow()->isVisible()) << stage;
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << stage;
            rig.cancelAt.clear();
            rig.doc.StartStitching();
            EXPECT_TRUE(rig.Built()) << tiled << stage;
        }
    }
}

TEST(RealStitch, TheWeirRowReportsItsDistractor) {
    OVH_REQUIRE_PHOTOS();
    RealRig rig;
    std::vector<std::string> paths = Row("weir-row-distractor", "weir_", 3);
    const std::string noise = TestData::Photo("weir-row-distractor/weir_noise.jpg").string();
    // As it lies the distractor has another size: the size check removes it.
    rig.Add({paths[0], paths[1], noise, paths[2]});
    rig.doc.StartStitching();
    ASSERT_EQ(rig.prompts.size(), 1u);
    EXPECT_EQ(rig.prompts[0],
              "Some images have different size and cannot be stitched\nMismatching images will be "
              "removed");
    EXPECT_EQ(rig.doc.GetPhotoList().GetCount(), 3u);

    // Brought to the row's size it reaches the engine, which leaves it unmatched.
    QImage scaled(QString::fromStdString(noise));
    const std::string sameSize = rig.env.scratch / "weir_noise.jpg";
    scaled.scaled(1333, 750).save(QString::fromStdString(sameSize), "JPG", 95);
    rig.doc.SetCurrentTask(1);
    rig.doc.AddFiles({sameSize});
    rig.doc.SetCurrentTask(2);
    rig.prompts.clear();
    rig.promptAnswer = "7";  // switch to manual matching
    rig.doc.StartStitching();
    ASSERT_EQ(rig.prompts.size(), 1u);
    EXPECT_EQ(rig.prompts[0].substr(0, 50), "1 photos from 4 could not be automatically matched");
    EXPECT_EQ(rig.doc.GetMatchingMode(), 1);
    EXPECT_TRUE(rig.Built());
    SaveScreenshot(&rig.frame, "main-window-after-stitch");
}
