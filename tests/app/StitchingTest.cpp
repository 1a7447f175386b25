#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "DocTestSupport.h"
#include "StringTable.h"
#include "WaitForJobs.h"
#include "Workflow.h"

using namespace TestDoubles;

namespace {

std::vector<std::string> ProjectPaths(COvHorizelDoc& doc) {
    std::vector<std::string> paths;
    doc.GetPhotoList().CollectPaths(paths);
    return paths;
}

struct RecordingCropView : ICropRect {
    void SetCropRect(const OrvexBase::Rect* r) override {
        stored = *r;
        log.Add("SetCropRect " + std::to_string(r->left) + " " + std::to_string(r->top) + " " +
                std::to_string(r->right) + " " + std::to_string(r->bottom));
    }
    void GetCropRect(OrvexBase::Rect* out) override { *out = stored; }
    void BeginCrop(const OrvexBase::Rect* r, bool) override {
        stored = *r;
        log.Add("BeginCrop");
    }
    void EndCrop(OrvexBase::Rect* out, bool) override {
        *out = stored;
        log.Add("EndCrop");
    }
    void SetKeepAspect(bool keep) override { log.Add(keep ? "SetKeepAspect 1" : "SetKeepAspect 0"); }
    void GetPatchRect(OrvexBase::Rect* r) override { *r = OrvexBase::Rect(5, 6, 7, 8); }
    OrvexBase::Rect stored;
    CallLog log;
};

// A document on the stitch task with n loaded photos of one size.
struct StitchRig : DocRig {
    StitchRig(DocEnvironment& env, int n) {
        doc->SetCropView(&cropView);
        for (int i = 0; i < n; ++i)
            paths.push_back(env.Photo("p" + std::to_string(i) + ".jpg"));
        doc->AddFiles(paths);
        doc->SetCurrentTask(2);
        viewLog.Clear();
        ui.log.Clear();
        progress.log.Clear();
    }
    BuildReport& Report(FakeEngineBase<PanoramaLib::IHVPanorama>& e) { return e.scriptedReport; }
    RecordingCropView cropView;
    std::vector<std::string> paths;
};

}  // namespace

TEST(Stitching, PhotoSizesTurnedPhotosPassOthersAreRemoved) {
    DocEnvironment env;
    {
        DocRig rig;
        rig.doc->AddFiles(
            {env.Photo("a.jpg", 64, 48), env.Photo("b.jpg", 48, 64), env.Photo("c.jpg", 64, 48)});
        rig.doc->SetCurrentTask(2);
        EXPECT_TRUE(rig.doc->CheckPhotoSizes());
    }
    DocRig rig;
    const std::string a = env.Photo("a8.jpg", 80, 60), b = env.Photo("b10.jpg", 100, 76);
    const std::string c = env.Photo("c8.jpg", 80, 60), d = env.Photo("d10.jpg", 100, 76);
    rig.doc->AddFiles({a, b, c, d});
    rig.doc->SetCurrentTask(2);
    rig.viewLog.Clear();
    rig.doc->StartStitching();
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{Res::LoadStr(218)});
    EXPECT_EQ(ProjectPaths(*rig.doc), (std::vector<std::string>{a, c}));
    EXPECT_EQ(rig.doc->GetPhotoElements().size(), 2u);
    EXPECT_EQ(rig.planar->log.Count("Build"), 0);
    EXPECT_EQ(rig.ui.log.Count("MarkFiles 2 1"), 1);
    EXPECT_EQ(rig.viewLog.Lines(), (std::vector<std::string>{"view 6", "view 5", "view 5", "view 7"}));
}

TEST(Stitching, ABuildResetsTheOtherEngineNeverCropsAndShowsTheResult) {
    DocEnvironment env;
    StitchRig rig(env, 3);
    rig.planar->options.autoCrop = 1;
    QSignalSpy shown(&rig.doc->Workflow(), &CWorkflow::resultChanged);
    rig.doc->StartStitching();
    EXPECT_EQ(rig.planar->log.Count("Build 3 0 0 0"), 1);
    EXPECT_EQ(rig.tiled->log.Count("Reset"), 1);
    EXPECT_EQ(rig.planar->options.autoCrop, 0);
    EXPECT_EQ(rig.cropView.log.Count("SetCropRect 1 2 30 18"), 1);
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(rig.viewLog.Lines(), (std::vector<std::string>{"view 6", "view 7"}));
    EXPECT_NE(rig.doc->GetDisplayResult(), nullptr);

    // Unchanged options need no new stitch; another mode or model does.
    HVPanoramaOptions options = rig.planar->options;
    EXPECT_FALSE(rig.doc->IsRestitchNeeded(&options));
    options.motionModel = 1;
    EXPECT_TRUE(rig.doc->IsRestitchNeeded(&options));
    options = rig.planar->options;
    rig.doc->SetTiledOptions(true);
    EXPECT_TRUE(rig.doc->IsRestitchNeeded(&options));
    rig.doc->SetTiledOptions(false);

    // One photo: no engine call at all.
    DocRig one;
    one.doc->AddFiles({env.Photo("only.jpg")});
    one.doc->SetCurrentTask(2);
    one.doc->StartStitching();
    EXPECT_EQ(one.planar->log.Count("Build"), 0);
    EXPECT_EQ(one.tiled->log.Count("Reset"), 0);
}

TEST(Stitching, TheReportsOutcomes) {
    struct Case {
        bool tiled;
        int status;
        std::vector<std::int32_t> unmatched;
        bool answer;
        std::vector<std::string> expectedUi;  // the prompts and marks, in order
        int expectedMode;
        bool toldNoPanorama = false;
    };
    const Case cases[] = {
        {false, 3, {}, true, {}, 1, true},
        {true, 3, {}, true, {}, 0, true},
        {false, 1, {1, 3}, false, {"MarkFiles 2 1", "AskAcceptPanorama 2 5", "MarkFiles 2 0"}, 1},
        {false, 1, {1, 3}, true, {"MarkFiles 2 1", "AskAcceptPanorama 2 5", "MarkFiles 2 0"}, 0},
        {true, 1, {1, 3}, false, {"MarkFiles 2 1", "AskAcceptPanorama 2 5", "MarkFiles 2 0"}, 0},
        // Indices outside the photo list are skipped.
        {false, 1, {-1, 2, 9}, true, {"MarkFiles 1 1", "AskAcceptPanorama 1 5", "MarkFiles 1 0"}, 0},
        {false, 1, {}, true, {}, 0},
        {false, 4, {}, false, {"WarnCyclorama"}, 1},
        {false, 4, {}, true, {"WarnCyclorama"}, 0},
        {true, 4, {}, false, {}, 0},
        {false, 5, {}, false, {}, 0},
    };
    for (const Case& c : cases) {
        DocEnvironment env;
        StitchRig rig(env, 5);
        auto& engine =
            c.tiled ? static_cast<FakeEngineBase<PanoramaLib::ITiledPanorama>&>(*rig.tiled).scriptedReport
                    : rig.planar->scriptedReport;
        engine.status = c.status;
        engine.unmatched = c.unmatched;
        rig.ui.acceptPanorama = c.answer;
        rig.ui.acceptCyclorama = c.answer;
        rig.doc->SetTiledOptions(c.tiled);
        rig.doc->StartStitching();
        std::vector<std::string> prompts;
        for (const std::string& line : rig.ui.log.Lines())
            if (line.rfind("ToggleView", 0) != 0 && line.rfind("RepaintNow", 0) != 0)
                prompts.push_back(line);
        EXPECT_EQ(prompts, c.expectedUi) << c.tiled << " " << c.status;
        EXPECT_EQ(std::count(rig.host.messages.begin(), rig.host.messages.end(), Res::LoadStr(232)),
                  c.toldNoPanorama ? 1 : 0)
            << c.tiled << " " << c.status;
        EXPECT_EQ(rig.doc->GetMatchingMode(), c.expectedMode) << c.tiled << " " << c.status;
    }
}

TEST(Stitching, ManualModeBuildsWithTheMarkersAndAsksNothing) {
    DocEnvironment env;
    StitchRig rig(env, 3);
    rig.doc->SetManualMatchingPreference(1);
    rig.doc->SetMatchingMode(1);
    rig.planar->scriptedReport.status = 3;
    rig.doc->StartStitching();
    EXPECT_EQ(rig.planar->log.Count("BuildWithTransforms 1"), 1);
    EXPECT_TRUE(rig.host.messages.empty());
    // A result of the manual build always asks for a new stitch.
    HVPanoramaOptions options = rig.planar->options;
    EXPECT_TRUE(rig.doc->IsRestitchNeeded(&options));
    // Back to automatic matching off the add-images task: views hear of it.
    rig.viewLog.Clear();
    rig.doc->SetMatchingMode(0);
    EXPECT_EQ(rig.viewLog.Lines(), std::vector<std::string>{"view 4"});
}

TEST(Stitching, AnExceptionThatEscapesTheEngineIsReportedAndTheProjectKept) {
    DocEnvironment env;
    StitchRig rig(env, 3);
    rig.planar->onBuild = []() -> bool { throw std::bad_alloc(); };
    rig.doc->StartStitching();
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].rfind("The panorama could not be built:", 0), 0u);
    EXPECT_EQ(rig.doc->GetPhotoList().GetCount(), 3u);
    EXPECT_EQ(rig.progress.log.Count("End"), 1);
    EXPECT_EQ(rig.viewLog.Lines(), (std::vector<std::string>{"view 6", "view 7"}));
    EXPECT_FALSE(rig.doc->IsStitching());
    // The next build works.
    rig.planar->onBuild = nullptr;
    rig.doc->StartStitching();
    EXPECT_NE(rig.doc->GetDisplayResult(), nullptr);
}

TEST(Stitching, DuringABuildPollsAndRenderUpdatesLeaveTheEngineAlone) {
    DocEnvironment env;
    StitchRig rig(env, 3);
    rig.doc->SetTiledOptions(true);
    bool restitchDuringBuild = true, tiledResultDuringBuild = true;
    rig.tiled->onBuild = [&] {
        HVPanoramaOptions options;
        restitchDuringBuild = rig.doc->IsRestitchNeeded(&options);
        tiledResultDuringBuild = rig.doc->HasTiledResult();
        rig.doc->OnRenderUpdate(0, 1);
        return true;
    };
    rig.doc->StartStitching();
    EXPECT_FALSE(restitchDuringBuild);
    EXPECT_FALSE(tiledResultDuringBuild);
    EXPECT_EQ(rig.tiled->log.Count("TakeRenderResult"), 0);
    EXPECT_TRUE(rig.doc->HasTiledResult());
    EXPECT_EQ(rig.tiled->log.Count("Build 3 0 0 0"), 1);

    // The tiled angles go to the next build and to the render thread.
    rig.doc->RequestTiledRender(1, 10, -20, 5, true, 0);
    EXPECT_EQ(rig.tiled->log.Count("RequestRender 1 10 -20 5"), 1);
    int kind, elevation, azimuth, tilt;
    rig.doc->GetTiledRenderParams(&kind, &elevation, &azimuth, &tilt);
    EXPECT_EQ(std::vector<int>({kind, elevation, azimuth, tilt}), std::vector<int>({1, 10, -20, 5}));
    rig.doc->StartStitching();
    EXPECT_EQ(rig.tiled->log.Count("Build 3 10 -20 5"), 1);
}

TEST(Stitching, MatchManuallyHidesTheProgressAndTheStandInCancels) {
    DocEnvironment env;
    StitchRig rig(env, 2);
    auto* first = rig.doc->GetPhotoElements()[0];
    auto* second = rig.doc->GetPhotoElements()[1];
    EXPECT_TRUE(rig.doc->MatchManually(first, nullptr, nullptr));
    EXPECT_TRUE(rig.doc->MatchManually(first, second, nullptr));
    EXPECT_EQ(rig.host.matchingDialogs, 1);
    EXPECT_EQ(rig.progress.log.Count("Show hide"), 1);
    EXPECT_EQ(rig.progress.log.Count("Show show"), 1);
    EXPECT_EQ(rig.ui.log.Count("MarkFiles 2 1"), 1);
    EXPECT_EQ(rig.ui.log.Count("MarkFiles 2 0"), 1);
}

TEST(Stitching, ExportChoiceAndPrintProduct) {
    DocEnvironment env;
    StitchRig rig(env, 2);
    rig.doc->StartStitching();
    rig.cropView.log.Clear();
    rig.doc->ApplyExportChoice(2);
    EXPECT_EQ(rig.planar->options.autoCrop, 1);
    EXPECT_EQ(rig.tiled->options.autoCrop, 1);
    EXPECT_EQ(rig.cropView.log.Count("BeginCrop"), 0);  // not on the export task yet
    rig.doc->SetCurrentTask(3);
    EXPECT_EQ(rig.cropView.log.Count("BeginCrop"), 1);
    rig.doc->ApplyExportChoice(0);
    EXPECT_EQ(rig.cropView.log.Count("EndCrop"), 1);
    EXPECT_EQ(rig.planar->options.autoCrop, 0);

    NetPrint::CAspectData product;
    product.w = 3;
    product.h = 2;
    product.kind = 2;
    rig.doc->SelectPrintProduct(product);
    EXPECT_EQ(rig.cropView.log.Count("SetKeepAspect 1"), 1);
    EXPECT_EQ(rig.doc->GetNetPrintSettings()->w, 3);
    rig.doc->OnPatching();
    EXPECT_EQ(rig.planar->cropRect, OrvexBase::Rect(5, 6, 7, 8));
}

TEST(Stitching, OptionsSetWhileABuildRunsAreTheNextBuildsAndNeverReachTheRunningOne) {
    DocEnvironment env;
    StitchRig rig(env, 3);
    rig.doc->Jobs().SetThreaded(true);
    std::atomic<bool> hold{true};
    std::vector<int> seen;  // the model the engine holds at each build's end
    rig.planar->onBuild = [&] {
        while (hold)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen.push_back(rig.planar->options.motionModel);
        return true;
    };
    HVPanoramaOptions options;
    rig.doc->GetOptions(&options);
    options.motionModel = 0;
    rig.doc->SetOptions(&options);
    rig.doc->StartStitching();
    ASSERT_TRUE(rig.doc->Jobs().IsRunning());
    options.motionModel = 2;
    rig.doc->SetOptions(&options);
    HVPanoramaOptions shown;
    rig.doc->GetOptions(&shown);
    EXPECT_EQ(shown.motionModel, 2) << "the page reads back what it set";
    hold = false;
    ASSERT_TRUE(WaitForJobs(*rig.doc));
    rig.doc->StartStitching();
    ASSERT_TRUE(WaitForJobs(*rig.doc));
    EXPECT_EQ(seen, (std::vector<int>{0, 2}));
}
