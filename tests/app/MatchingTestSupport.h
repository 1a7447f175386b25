#pragma once
// Shared by the matching tests: a preview renderer held at a gate, synthetic
// elements, marker bitmaps and a wait that keeps the event loop running.

#include <QCoreApplication>
#include <QPoint>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EngineServices.h"
#include "MatchPreviewWorker.h"
#include "PanoramaLib.h"
#include "TestData.h"

namespace MatchingTest {

// Processes events until done() holds; false after the time-out.
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The engine's image factory for these tests; it outlives every element.
inline CDibManager& EngineImages() {
    static CDibManager manager;
    return manager;
}

inline void UseEngineImages() {
    CreateHVPanorama(&EngineImages())->Release();
}

// A 24-bit element of one grey value (count 1); UseEngineImages first.
inline PanoramaLib::IPanoElement* FlatElement(int width, int height, std::uint8_t value) {
    PanoramaLib::IPanoElement* e = CreatePanoElement(0);
    if (e->Create(24, width, height))
        std::memset(e->GetBits(), value, std::size_t(e->GetStride()) * height);
    return e;
}

// A renderer that records each call and then waits at a gate until the gate
// opens or the render is cancelled; an opened render yields a small element
// whose grey value is its call number.
class GatedRender {
public:
    PanoramaLib::IPanoElement* operator()(PanoramaLib::IPanoElement*, PanoramaLib::IPanoElement*, double* h,
                                          const std::atomic<int>* cancel) {
        std::unique_lock lock(mutex_);
        shifts_.push_back(h[2]);
        const int call = int(shifts_.size());
        cv_.notify_all();
        while (!open_ && !cancel->load())
            cv_.wait_for(lock, std::chrono::milliseconds(1));
        if (cancel->load()) {
            ++cancelled_;
            cv_.notify_all();
            return nullptr;
        }
        ++finished_;
        cv_.notify_all();
        return FlatElement(40, 30, std::uint8_t(call * 40));
    }
    MatchPreviewWorker::RenderFn Fn() {
        return [this](PanoramaLib::IPanoElement* a, PanoramaLib::IPanoElement* b, double* h,
                      const std::atomic<int>* c) { return (*this)(a, b, h, c); };
    }
    void Open(bool open) {
        std::lock_guard lock(mutex_);
        open_ = open;
        cv_.notify_all();
    }
    // Waits (without the event loop) until calls renders have started.
    bool WaitStarted(int calls) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(20), [&] { return int(shifts_.size()) >= calls; });
    }
    std::vector<double> Shifts() {
        std::lock_guard lock(mutex_);
        return shifts_;
    }
    int Cancelled() {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    int Finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
    std::vector<double> shifts_;  // H[2] of each call
    int cancelled_ = 0;
    int finished_ = 0;
};

// A 17 x 17 marker: a coloured ring with a cross through its centre, opaque
// there and transparent elsewhere; its hot point is the centre (8, 8).
inline std::string MarkerBmp(const TestData::ScratchDir& dir, const std::string& name, std::uint8_t r,
                             std::uint8_t g, std::uint8_t b) {
    const int w = 17, h = 17, stride = w * 4;
    std::vector<std::uint8_t> file(54 + stride * h, 0);
    file[0] = 'B', file[1] = 'M';
    const auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = std::uint8_t(v >> (8 * i));
    };
    put(10, 54), put(14, 40), put(18, w), put(22, h);
    file[26] = 1, file[28] = 32;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x - 8, dy = y - 8, d2 = dx * dx + dy * dy;
            const bool ring = d2 >= 36 && d2 <= 64, cross = dx == 0 || dy == 0;
            std::uint8_t* p = &file[54 + y * stride + x * 4];
            if (ring || cross) {
                // Black inside the ring, so the centre shows on light and dark photos.
                const bool inner = !ring && std::abs(dx) < 6 && std::abs(dy) < 6;
                p[0] = inner ? 0 : b, p[1] = inner ? 0 : g, p[2] = inner ? 0 : r, p[3] = 255;
            }
        }
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return path;
}

}  // namespace MatchingTest
