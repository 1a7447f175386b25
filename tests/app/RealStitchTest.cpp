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
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "CDlgPrompts.h"
#include "DocTestSupport.h"
#include "DocumentDialogs.h"
#include "FrameEngineCallbacks.h"
#include "Screenshot.h"
#include "WaitForJobs.h"
#include "Workflow.h"

using namespace TestDoubles;

namespace {

// The start of a progress text up to its colon, or all of it.
std::string StagePrefix(const std::string& text) {
    const std::size_t colon = text.find(':');
    return colon == std::string::npos ? text : text.substr(0, colon + 1);
}

// Between the engines (on the document's worker) and the frame's callbacks:
// notes every stage text the engines report and, at the stage Cancel is to be
// pressed at, holds the worker until the watcher has pressed it, so that no
// stage goes by unseen however fast the machine.
class StageRecorder : public IProgressIndicatorEx {
public:
    explicit StageRecorder(CFrameEngineCallbacks& callbacks) : callbacks_(callbacks) {}
    void Begin() override { callbacks_.Begin(); }
    void BeginEx() override { callbacks_.BeginEx(); }
    void End() override { callbacks_.End(); }
    void SetStage(int stageId, const std::wstring& name) override {
        callbacks_.SetStage(stageId, name);
        Note(CFrameEngineCallbacks::StageText(stageId, name));
    }
    void SetStage(int stageId) override {
        callbacks_.SetStage(stageId);
        Note(CFrameEngineCallbacks::StageText(stageId, {}));
    }
    bool SetProgress(int total, int position) override { return callbacks_.SetProgress(total, position); }
    void Show(bool hide) override { callbacks_.Show(hide); }
    void SetText(const char* text) override {
        callbacks_.SetText(text);
        Note(text ? text : "");
    }

    std::set<std::string> Stages() {
        std::lock_guard lock(mutex_);
        return stages_;
    }
    void ClearStages() {
        std::lock_guard lock(mutex_);
        stages_.clear();
    }
    void SetCancelAt(std::string stage) {
        std::lock_guard lock(mutex_);
        cancelAt_ = std::move(stage);
    }
    std::string CancelAt() {
        std::lock_guard lock(mutex_);
        return cancelAt_;
    }

private:
    void Note(const std::string& text) {
        std::unique_lock lock(mutex_);
        stages_.insert(StagePrefix(text));
        // The window shows the text meanwhile; the watcher clears the stage once it pressed Cancel.
        while (!cancelAt_.empty() && text.rfind(cancelAt_, 0) == 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
        }
    }

    CFrameEngineCallbacks& callbacks_;
    std::mutex mutex_;
    std::set<std::string> stages_;
    std::string cancelAt_;
};

// The program's frame side around a document with the real engines: the
// progress window, the prompts and message boxes (answered by a watcher that
// can press Cancel at a stage), and the stage texts the engines reported.
struct RealRig {
    RealRig() {
        frame.resize(900, 700);
        // Stands in for the result view: shows the document's result when told to.
        view = new QLabel(&frame);
        view->setAlignment(Qt::AlignCenter);
        frame.setCentralWidget(view);
        callbacks.onToggleView = [this](bool) { ShowResult(); };
        QObject::connect(
            &doc.Workflow(), &CWorkflow::resultChanged, view, [this] { ShowResult(); }, Qt::QueuedConnection);
        frame.show();
        doc.SetHost(&dialogs);
        callbacks.SetDocument(&doc);
        doc.CreateEngines(&callbacks, &recorder);
        doc.Jobs().SetThreaded(true);
        watcher.setInterval(1);
        QObject::connect(&watcher, &QTimer::timeout, [this] { Watch(); });
        watcher.start();
    }
    void Add(const std::vector<std::string>& paths) {
        doc.AddFiles(paths);
        doc.SetCurrentTask(2);
        WaitForJobs(doc);
    }
    void Watch() {
        CDlgProgressIndicator* progress = callbacks.ProgressWindow();
        if (progress->isVisible()) {
            const std::string text = progress->TextControl()->text().toStdString();
            if (!loadingShot && StagePrefix(text) == "Loading images:") {
                loadingShot = true;
                SaveScreenshot(progress, "progress-window-loading");
            }
            const std::string cancelAt = recorder.CancelAt();
            if (!cancelAt.empty() && text.rfind(cancelAt, 0) == 0) {
                QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
                recorder.SetCancelAt({});
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
    StageRecorder recorder{callbacks};
    CDocumentDialogs dialogs{&frame};
    COvHorizelDoc doc;
    QTimer watcher;
    bool loadingShot = false;
    std::vector<std::string> prompts;
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
    EXPECT_TRUE(rig.recorder.Stages().count("Loading images:"));
    for (bool tiled : {false, true}) {
        rig.recorder.ClearStages();
        rig.doc.SetTiledOptions(tiled);
        rig.doc.StartStitching();
        WaitForJobs(rig.doc);
        EXPECT_TRUE(rig.Built()) << tiled;
        SaveScreenshot(&rig.frame, tiled ? "main-window-after-stitch-boat-tiled"
                                         : "main-window-after-stitch-boat-planar");
        EXPECT_TRUE(rig.prompts.empty()) << (rig.prompts.empty() ? "" : rig.prompts[0]);
        EXPECT_TRUE(rig.recorder.Stages().count("Analyzing:")) << tiled;
        EXPECT_TRUE(rig.recorder.Stages().count("Matching...") || rig.recorder.Stages().count("Stitching..."))
            << tiled;
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
            rig.recorder.SetCancelAt(stage);
            rig.doc.StartStitching();
            WaitForJobs(rig.doc);
            // The watcher pressed Cancel when the stage showed, and the build stopped.
            EXPECT_TRUE(rig.recorder.CancelAt().empty()) << tiled << stage;
            EXPECT_FALSE(engine->IsBuilt()) << tiled << stage;
            EXPECT_EQ(engine->GetBuildReport()->status, 2) << tiled << stage;
            EXPECT_FALSE(rig.callbacks.ProgressWindow()->isVisible()) << stage;
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << stage;
            rig.recorder.SetCancelAt({});
            rig.doc.StartStitching();
            WaitForJobs(rig.doc);
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
    WaitForJobs(rig.doc);
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
    WaitForJobs(rig.doc);
    ASSERT_EQ(rig.prompts.size(), 1u);
    EXPECT_EQ(rig.prompts[0].substr(0, 50), "1 photos from 4 could not be automatically matched");
    EXPECT_EQ(rig.doc.GetMatchingMode(), 1);
    EXPECT_TRUE(rig.Built());
    SaveScreenshot(&rig.frame, "main-window-after-stitch");
}
