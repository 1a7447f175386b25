// The tiled engine's render thread and render requests: replaced requests,
// cancel, the hand-over of results and crop rectangles to the view, the
// full-size render, shutdown with a render pending, and a bounded stress run.
// Meant to run under ThreadSanitizer too (the tsan preset).

#include <random>

#include "TiledEngineFixture.h"

using OrvexBase::Rect;
using TiledTest::Gate;
using TiledTest::TiledEngineTest;

namespace {

TEST_F(TiledEngineTest, RequestsAreRefusedBeforeABuildOrWithoutAThread) {
    engine->built_ = false;
    EXPECT_FALSE(engine->RequestRender(0, 0, 0, 0, false, false));
    engine->built_ = true;
    // Init never ran: no thread to queue on, but the caller's thread works.
    EXPECT_FALSE(engine->RequestRender(0, 0, 0, 0, true, false));
    EXPECT_TRUE(engine->RequestRender(0, 0, 0, 0, false, false));
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
}

TEST_F(TiledEngineTest, RequestsReplacedWhileRenderingEndWithOnlyTheLatestRendered) {
    Gate gate;
    engine->RenderThread().SetSurfaceFactory(TiledTest::GatedFactory(gate));
    Start();
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, false));
    ASSERT_TRUE(gate.WaitArrivals(1));  // the first request is rendering now
    ASSERT_TRUE(engine->RequestRender(0, 10, 0, 0, true, false));
    ASSERT_TRUE(engine->RequestRender(1, 5, 20, 3, true, false));
    gate.Open();
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->RenderThread().CancelAndWaitIdle();

    // The first render stopped at the gate; the second never started.
    EXPECT_EQ(gate.Arrivals(), 2);
    EXPECT_EQ(ui.Count(0, 1), 1);
    EXPECT_LE(ui.Count(0, 0), 3) << "at most one partial result per photo";
    engine->TakeRenderResult(0, 1);
    const Rect threaded = engine->GetResult(false)->GetRect();

    // The same request on the caller's thread gives the same picture size.
    ASSERT_TRUE(engine->RequestRender(1, 5, 20, 3, false, false));
    EXPECT_EQ(engine->GetResult(false)->GetRect(), threaded);
}

TEST_F(TiledEngineTest, TheViewSeesPartialResultsThenTheFinishedOneThenTheNewCrop) {
    Start();
    ASSERT_TRUE(engine->RequestRender(1, 0, 0, 0, true, false));
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->TakeRenderResult(0, 1);
    std::vector<std::string> posts;
    for (const std::string& line : ui.log.Lines())
        if (line.rfind("PostUpdateView", 0) == 0 || line.rfind("ToggleView", 0) == 0)
            posts.push_back(line);
    // One partial result per composed photo, the finished render, then the
    // document's take shows the view and announces the new crop.
    const std::vector<std::string> want = {"PostUpdateView 0 0", "PostUpdateView 0 0", "PostUpdateView 0 0",
                                           "PostUpdateView 0 1", "ToggleView 1",       "PostUpdateView 1 1"};
    EXPECT_EQ(posts, want);
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
}

TEST_F(TiledEngineTest, TakingAResultFollowsTheKeepCropRules) {
    Start();
    const Rect kept(1, 2, 30, 40);
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, true));
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->cropRect_ = kept;
    engine->TakeRenderResult(0, 1);
    EXPECT_EQ(engine->cropRect_, kept) << "keep crop was asked for";

    engine->ResetCropRect();
    EXPECT_NE(engine->cropRect_, kept);
    engine->cropRect_ = kept;
    engine->TakeRenderResult(0, 0);
    EXPECT_EQ(engine->cropRect_, kept) << "(0, 0) never recomputes";
    engine->TakeRenderResult(0, 1);
    EXPECT_NE(engine->cropRect_, kept) << "after ResetCropRect the next take recomputes";
    EXPECT_EQ(ui.Count(1, 1), 2);
}

TEST_F(TiledEngineTest, ResultsHandedToTheViewAreNeverWrittenByTheThreadAgain) {
    Start();
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, false));
    ASSERT_TRUE(ui.WaitFor(0, 0));
    // The element the document reads stays the same object whatever arrives.
    PanoramaLib::IPanoElement* shown = engine->GetResult(false);
    engine->TakeRenderResult(0, 0);
    EXPECT_EQ(engine->GetResult(false), shown);
    PanoramaLib::IPanoElement* published = engine->RenderThread().TakeFinished();
    ASSERT_NE(published, nullptr);
    EXPECT_NE(published, shown);
    published->Release();
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->TakeRenderResult(0, 1);
    EXPECT_EQ(engine->GetResult(false), shown);
}

TEST_F(TiledEngineTest, ACancelDuringARenderStopsItAndPublishesNothing) {
    Gate gate;
    engine->RenderThread().SetSurfaceFactory(TiledTest::GatedFactory(gate));
    Start();
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, false));
    ASSERT_TRUE(gate.WaitArrivals(1));
    engine->FreeResults();  // cancels the thread's result
    engine->RenderThread().CancelAndWaitIdle();
    EXPECT_EQ(ui.Count(0, 1), 0);
    EXPECT_EQ(ui.Count(0, 0), 0);
    EXPECT_EQ(engine->RenderThread().TakeFinished(), nullptr);
}

// Cancels once the render has made a few steps.
class CancelAfter : public TestDoubles::RecordingProgress {
public:
    explicit CancelAfter(int calls) { cancelAfter = calls; }
};

TEST_F(TiledEngineTest, ACancelledSynchronousRenderKeepsTheEarlierPreview) {
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, false, false));
    const Rect before = engine->GetResult(false)->GetRect();
    CancelAfter progress(3);
    engine->SetProgressIndicator(&progress);
    EXPECT_FALSE(engine->RequestRender(1, 0, 0, 0, false, false));
    EXPECT_TRUE(engine->IsCancelled());
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
    EXPECT_EQ(engine->GetResult(false)->GetRect(), before);
    EXPECT_EQ(progress.log.Count("BeginEx"), 1);
    EXPECT_EQ(progress.log.Count("End"), 1);
}

TEST_F(TiledEngineTest, PrintRendersFullSizeOnceForTheSameRequestAndAgainForAnother) {
    TestDoubles::RecordingProgress progress;
    engine->SetProgressIndicator(&progress);
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, false, false));
    PanoramaLib::IPanoElement* full = engine->GetFullResult();

    ASSERT_TRUE(engine->RenderForPrint(0, 0, 0));
    const int firstCalls = progress.progressCalls;
    EXPECT_GT(firstCalls, 0);
    EXPECT_EQ(engine->GetResult(true), full) << "export gets the full-size picture";
    EXPECT_TRUE(full->IsValid());
    EXPECT_FALSE(engine->GetResult(false)->IsValid()) << "the preview is gone";

    ASSERT_TRUE(engine->RenderForPrint(0, 0, 0));
    EXPECT_EQ(progress.progressCalls, firstCalls) << "nothing changed: no second render";

    const Rect before = full->GetRect();
    ASSERT_TRUE(engine->RenderForPrint(0, 40, 0));
    EXPECT_GT(progress.progressCalls, firstCalls) << "other angles render again";
    EXPECT_EQ(engine->GetFullResult(), full) << "the element stays, its picture changes";
    EXPECT_TRUE(full->IsValid());
    (void)before;
}

TEST_F(TiledEngineTest, ACancelledPrintFailsAndLeavesThePreviewAlone) {
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, false, false));
    CancelAfter progress(2);
    engine->SetProgressIndicator(&progress);
    EXPECT_FALSE(engine->RenderForPrint(0, 0, 0));
    EXPECT_TRUE(engine->IsCancelled());
    EXPECT_FALSE(engine->GetFullResult()->IsValid());
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
    EXPECT_EQ(engine->GetResult(true), engine->GetResult(false));
}

TEST_F(TiledEngineTest, PrintDuringAPreviewWaitsForTheThreadAndDropsItsResult) {
    Gate gate;
    engine->RenderThread().SetSurfaceFactory(TiledTest::GatedFactory(gate));
    Start();
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, false));
    ASSERT_TRUE(gate.WaitArrivals(1));
    ASSERT_TRUE(engine->RenderForPrint(0, 0, 0));
    EXPECT_EQ(engine->RenderThread().TakeFinished(), nullptr);
    EXPECT_EQ(ui.Count(0, 1), 0);
}

TEST_F(TiledEngineTest, DestroyingTheEngineWithARenderPendingStopsTheThread) {
    Gate gate;
    engine->RenderThread().SetSurfaceFactory(TiledTest::GatedFactory(gate));
    Start();
    ASSERT_TRUE(engine->RequestRender(0, 0, 0, 0, true, false));
    ASSERT_TRUE(gate.WaitArrivals(1));
    ASSERT_TRUE(engine->RequestRender(1, 0, 0, 0, true, false));  // stays pending
    // The gate never opens: the render stops at its next progress check.
    engine->Release();
    engine = nullptr;
    EXPECT_EQ(gate.Arrivals(), 1);
    EXPECT_EQ(ui.Count(0, 1), 0);
}

TEST_F(TiledEngineTest, AnEngineNeverStartedGoesWithoutAHandshake) {
    engine->Release();
    engine = nullptr;
    SUCCEED();
}

// Random requests, takes, resets and full-size renders from the UI thread
// while the render thread works; bounded by the number of operations.
TEST_F(TiledEngineTest, StressOfRandomOperationsEndsCleanly) {
    Start();
    std::mt19937 random(7);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    int posted = 0;
    for (int op = 0; op < 500; ++op) {
        switch (pick(10)) {
            case 0:
                engine->Reset(false, false);
                engine->built_ = true;  // as if built again
                break;
            case 1:
                engine->FreeResults();
                engine->built_ = true;
                break;
            case 2:
                engine->RenderForPrint(pick(20) - 10, pick(60), 0);
                break;
            case 3:
            case 4:
                engine->TakeRenderResult(0, pick(2));
                break;
            case 5:
                engine->ResetCropRect();
                break;
            default:
                posted += engine->RequestRender(pick(2), pick(20) - 10, pick(360) - 180, pick(10) - 5, true,
                                                pick(2) == 0)
                              ? 1
                              : 0;
                break;
        }
    }
    EXPECT_GT(posted, 0);
    // The last request is rendered and handed over in the end.
    engine->RenderThread().CancelAndWaitIdle();
    ui.Drop();
    ASSERT_TRUE(engine->RequestRender(1, 0, 0, 0, true, false));
    ASSERT_TRUE(ui.WaitFor(0, 1));
    engine->TakeRenderResult(0, 1);
    EXPECT_TRUE(engine->GetResult(false)->IsValid());
}

}  // namespace
