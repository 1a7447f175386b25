#pragma once
// Helpers for tests of the tiled engine: an engine whose aligned state can be
// set directly (no feature detection), textured photos in memory, a user
// interface that queues the view-update posts of the render thread, and
// surfaces that hold a render until a test lets it go.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "DibManager.h"
#include "FreeThreading.h"
#include "RecordingCallbacks.h"
#include "TiledPanorama.h"

namespace TiledTest {

using namespace std::chrono_literals;

// Every wait of these tests is bounded, so that a deadlock fails instead of
// hanging the run.
constexpr auto kWaitLimit = 10s;

// Opens the engine's state to the tests.
class Engine : public Tiled_Panorama::CPanorama {
public:
    using CPanorama::align_;
    using CPanorama::built_;
    using CPanorama::cropRect_;
    using CPanorama::photos_;
    using CPanorama::previewResult_;
    using CPanorama::scales_;

    // The state of a build that aligned `photos` with `poses`, without
    // analysing them.
    void SetAligned(const std::vector<CPanoElement*>& photos, const std::vector<TiledImagePose>& poses) {
        photos_.clear();
        align_.placementOrder.clear();
        for (std::size_t i = 0; i < photos.size(); ++i) {
            photos[i]->AddRef();
            photos_.emplace_back(photos[i]);
            align_.placementOrder.push_back(static_cast<std::int32_t>(i));
        }
        scales_.assign(photos.size(), 1.0);
        align_.poses = poses;
        align_.sharedLens = TiledImagePose();
        built_ = true;
    }
};

// A textured in-memory photo (no file, so it is never unloaded); count 1.
inline CPanoElement* MakePhoto(int width, int height, int seed = 0) {
    auto* e = new CPanoElement(0);
    e->CreateImage(true, width, height, true);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = e->GetBits() + static_cast<std::ptrdiff_t>(y) * e->GetStride();
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + seed) * 0.05));
            row[3 * x + 1] = static_cast<std::uint8_t>(128 + 100 * std::cos(y * 0.07));
            row[3 * x + 2] = static_cast<std::uint8_t>((x * 3 + y * 5 + seed) & 255);
        }
    }
    return e;
}

inline TiledImagePose Pose(double focal, double pitch, double yaw, double roll) {
    TiledImagePose pose;
    pose.focal = focal;
    pose.pitch = pitch;
    pose.yaw = yaw;
    pose.roll = roll;
    return pose;
}

// Records every call like RecordingUserInterface and queues the view-update
// pairs, which the test's main thread (playing the UI thread) pops.
class PostQueue : public TestDoubles::RecordingUserInterface {
public:
    void PostUpdateView(PanoramaLib::WPARAM a, PanoramaLib::LPARAM b) override {
        RecordingUserInterface::PostUpdateView(a, b);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posts_.emplace_back(static_cast<int>(a), static_cast<int>(b));
        }
        cv_.notify_all();
    }
    // Pops posts until (a, b) comes; false when it did not come in time.
    bool WaitFor(int a, int b) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto until = std::chrono::steady_clock::now() + kWaitLimit;
        for (;;) {
            while (!posts_.empty()) {
                const auto p = posts_.front();
                posts_.pop_front();
                if (p == std::make_pair(a, b))
                    return true;
            }
            if (cv_.wait_until(lock, until) == std::cv_status::timeout && posts_.empty())
                return false;
        }
    }
    // Forgets the posts not popped yet.
    void Drop() {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.clear();
    }
    int Count(int a, int b) const {
        return log.Count("PostUpdateView " + std::to_string(a) + " " + std::to_string(b));
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::pair<int, int>> posts_;
};

// A gate that render-thread surfaces wait at before they render.
class Gate {
public:
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    // Called by a surface: counts the arrival, then waits until the gate is
    // open or the render was cancelled (asked through its progress).
    void Pass(PanoramaLib::IProgressIndicator* progress) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++arrivals_;
        }
        cv_.notify_all();
        const auto until = std::chrono::steady_clock::now() + kWaitLimit;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!open_ && std::chrono::steady_clock::now() < until) {
            lock.unlock();
            if (progress && progress->SetProgress(100, 0))
                return;
            lock.lock();
            cv_.wait_for(lock, 1ms);
        }
    }
    // Waits until n surfaces have arrived in all.
    bool WaitArrivals(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, kWaitLimit, [&] { return arrivals_ >= n; });
    }
    int Arrivals() {
        std::lock_guard<std::mutex> lock(mutex_);
        return arrivals_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    int arrivals_ = 0;
};

template <class Base>
class GatedSurface : public Base {
public:
    explicit GatedSurface(Gate& gate) : gate_(gate) {}
    bool Render(double scale, PanoramaLib::IProgressIndicator* progress, PanoramaLib::IWaitCursor* cursor,
                std::int32_t from, std::int32_t to) override {
        gate_.Pass(progress);
        // A cancel seen at the gate is seen again by the first progress
        // check of the real render.
        return Base::Render(scale, progress, cursor, from, to);
    }

private:
    Gate& gate_;
};

inline Tiled_Panorama::CSRThread::SurfaceFactory GatedFactory(Gate& gate) {
    return [&gate](SurfaceKind kind) -> std::unique_ptr<CCylindricalSurface> {
        if (kind == 0)
            return std::make_unique<GatedSurface<CCylindricalSurface>>(gate);
        return std::make_unique<GatedSurface<CSphericalSurface>>(gate);
    };
}

// An engine with three aligned photos, started on its render thread.
class TiledEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = g_pDibManager;
        g_pDibManager = &manager;
        engine = new Engine();
        for (int i = 0; i < 3; ++i)
            photos.push_back(MakePhoto(160, 120, 11 * i));
        engine->SetAligned(photos, {Pose(150, 0, 0, 0), Pose(150, 0, 25, 0), Pose(150, 2, 50, 1)});
    }
    void TearDown() override {
        if (engine)
            engine->Release();
        for (auto* p : photos)
            p->Release();
        g_pDibManager = previous;
    }
    void Start() { engine->Init(&threads, &cursor, &ui); }

    CDibManager manager;
    PanoramaLib::IDibManager* previous = nullptr;
    // Declared before the engine is made and outliving it: it joins the
    // render thread when it goes.
    CFreeThreading threads;
    PostQueue ui;
    TestDoubles::RecordingWaitCursor cursor;
    Engine* engine = nullptr;
    std::vector<CPanoElement*> photos;
};

}  // namespace TiledTest
