// The matching preview worker: a newer request cancels the render in
// progress, an unchanged transform is not rendered again, an invalid one
// drops the result, and stopping waits for the thread.
#include <gtest/gtest.h>

#include <atomic>

#include "MatchPreviewWorker.h"
#include "MatchingTestSupport.h"

using OrvexBase::RefPtr;
using PanoramaLib::IPanoElement;

namespace {

struct Shift {
    double h[9];
    explicit Shift(double dx) : h{1, 0, dx, 0, 1, 0, 0, 0, 1} {}
};

}  // namespace

TEST(MatchPreviewWorker, NewerRequestCancelsTheRenderInProgress) {
    MatchingTest::UseEngineImages();
    MatchingTest::GatedRender render;
    RefPtr<IPanoElement> a(MatchingTest::FlatElement(20, 20, 10)), b(MatchingTest::FlatElement(20, 20, 20));
    std::atomic<int> ready{0};
    MatchPreviewWorker worker(render.Fn());
    worker.SetElements(a.Get(), b.Get(), [&] { ready.fetch_add(1); });

    worker.Request(Shift(-5).h);
    ASSERT_TRUE(render.WaitStarted(1));
    worker.Request(Shift(-7).h);
    // The first render gives up; the second starts with the newer transform.
    ASSERT_TRUE(render.WaitStarted(2));
    EXPECT_EQ(render.Cancelled(), 1);
    render.Open(true);
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return ready.load() == 1; }));
    EXPECT_EQ(render.Shifts(), (std::vector<double>{-5, -7}));
    RefPtr<IPanoElement> result = worker.TakeResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->GetBits()[0], 2 * 40);  // the second call's

    // The same transform again: announced without a render.
    worker.Request(Shift(-7).h);
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return ready.load() == 2; }));
    EXPECT_EQ(render.Shifts().size(), 2u);
    EXPECT_EQ(worker.TakeResult().Get(), result.Get());

    // No transform: the result goes, and the next request renders again.
    worker.Invalidate();
    EXPECT_FALSE(worker.TakeResult());
    worker.Request(Shift(-7).h);
    ASSERT_TRUE(MatchingTest::WaitFor([&] { return ready.load() == 3; }));
    EXPECT_EQ(render.Shifts().size(), 3u);
}

TEST(MatchPreviewWorker, StopDuringARenderWaitsForItAndAnnouncesNothing) {
    MatchingTest::UseEngineImages();
    MatchingTest::GatedRender render;
    RefPtr<IPanoElement> a(MatchingTest::FlatElement(20, 20, 10)), b(MatchingTest::FlatElement(20, 20, 20));
    std::atomic<int> ready{0};
    {
        MatchPreviewWorker worker(render.Fn());
        worker.SetElements(a.Get(), b.Get(), [&] { ready.fetch_add(1); });
        worker.Request(Shift(-5).h);
        ASSERT_TRUE(render.WaitStarted(1));
        worker.Stop();
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_EQ(render.Cancelled(), 1);
        // Requests after the stop go nowhere.
        worker.Request(Shift(-6).h);
    }
    EXPECT_EQ(ready.load(), 0);
    EXPECT_EQ(render.Shifts().size(), 1u);
    // A worker that never rendered stops at once.
    MatchPreviewWorker idle(render.Fn());
}
