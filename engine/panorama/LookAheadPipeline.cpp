// The compositing look-ahead (see LookAheadPipeline.h).

#include "LookAheadPipeline.h"

#include <algorithm>
#include <chrono>
#include <utility>

using OrvexBase::Rect;

namespace {

constexpr std::size_t kAhead = 1, kMostAhead = 4;
constexpr std::size_t kAheadBytes = std::size_t{8} << 20;
constexpr int kMaxLanes = 2;

bool Meets(const Rect& a, const Rect& b) {
    return !a.IsEmpty() && !b.IsEmpty() && a.left < b.right && b.left < a.right && a.top < b.bottom &&
           b.top < a.bottom;
}

}  // namespace

CLookAheadPipeline::CLookAheadPipeline(Config config, Hooks hooks)
    : config_(std::move(config)),
      hooks_(std::move(hooks)),
      ready_(config_.count, 0),
      bytesOf_(config_.count, 0),
      finished_(config_.count, 0),
      succeeded_(config_.count, 0),
      laneItem_(kMaxLanes, kNoItem),
      reach_(config_.count),
      laneOf_(config_.count, -1),
      laneSteps_(config_.count, 0),
      collected_(config_.count, 0),
      started_(config_.count, 0),
      lanes_(kMaxLanes) {}

// Items without a say share nothing with earlier ones.
bool CLookAheadPipeline::Barrier(std::size_t k) const {
    return k < config_.barrier.size() && config_.barrier[k];
}

CLookAheadPipeline::~CLookAheadPipeline() {
    Stop();
}

void CLookAheadPipeline::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abort_.store(true);
        quit_ = true;
    }
    changed_.notify_all();
    for (std::thread& lane : lanes_)
        if (lane.joinable())
            lane.join();
    if (preparer_.joinable())
        preparer_.join();
}

void CLookAheadPipeline::Start() {
    if (!config_.ahead)
        return;
    preparer_ = std::thread([this] {
        for (std::size_t k = 1; k < config_.count; ++k) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] {
                    const bool room = k <= turn_ + kAhead || (config_.smallItems && k <= turn_ + kMostAhead &&
                                                              heldBytes_ <= kAheadBytes);
                    return abort_.load() || (room && (!Barrier(k) || finishedBefore_ >= k));
                });
                if (abort_.load())
                    return;
            }
            const bool placeable = hooks_.placeable(k);
            bool ok = true;
            if (placeable) {
                try {
                    ok = hooks_.prepare(k, &abort_);
                } catch (...) {
                    ok = false;
                }
            }
            const std::size_t bytes = ok && placeable ? hooks_.heldBytes(k) : 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_[k] = 1;
                ++readyCount_;
                bytesOf_[k] = bytes;
                heldBytes_ += bytes;
            }
            changed_.notify_all();
            if (!ok)
                return;
        }
    });
}

bool CLookAheadPipeline::StartItem(std::size_t k) {
    started_[k] = 1;
    if (!hooks_.begin(k))
        return false;
    reach_[k] = hooks_.reach(k);
    if (!config_.ahead) {
        const bool ok = hooks_.finish(k, 0, [this](int n) { return hooks_.advance(n); });
        hooks_.release();
        if (!ok)
            return false;
        finished_[k] = succeeded_[k] = collected_[k] = 1;
        laneOf_[k] = -2;
        return true;
    }
    // Fewer items run than there are lanes: one lane is free.
    int lane = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (laneItem_[lane] != kNoItem)
            ++lane;
    }
    if (!lanes_[lane].joinable())
        lanes_[lane] = std::thread([this, lane] { LaneLoop(lane); });
    laneOf_[k] = lane;
    ++running_;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heldBytes_ -= bytesOf_[k];
        laneItem_[lane] = k;
    }
    changed_.notify_all();
    hooks_.release();
    return true;
}

void CLookAheadPipeline::LaneLoop(int lane) {
    for (;;) {
        std::size_t k = kNoItem;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return laneItem_[lane] != kNoItem || quit_; });
            // An item handed over is finished even when stopping: its step
            // answers the cancel at once.
            if (laneItem_[lane] == kNoItem)
                return;
            k = laneItem_[lane];
        }
        bool ok = false;
        try {
            ok = hooks_.finish(k, lane, [this, k](int n) {
                laneSteps_[k] += n;
                return abort_.load();
            });
        } catch (...) {
            ok = false;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            succeeded_[k] = ok ? 1 : 0;
            finished_[k] = 1;
            laneItem_[lane] = kNoItem;
        }
        changed_.notify_all();
    }
}

bool CLookAheadPipeline::Run() {
    const std::size_t count = config_.count;
    const int laneCount = std::min(std::max(config_.lanes, 1), kMaxLanes);
    if (config_.ahead) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finishedBefore_ = 1;
        }
        changed_.notify_all();
    }
    std::size_t next = 1;  // the first item not started
    std::size_t done = 1;  // every item before it is finished and counted
    std::size_t readySeen = 0;
    while (done < count) {
        // Start what may start: the first item not started once nothing
        // runs (it always can then), later ones while a lane is free and
        // their reach meets no earlier item still open.
        for (std::size_t k = next; k < count && k <= next + kMostAhead && running_ < laneCount; ++k) {
            if (started_[k])
                continue;
            if (!hooks_.placeable(k)) {
                // Nothing to do: done at once, counted in order.
                started_[k] = finished_[k] = succeeded_[k] = collected_[k] = 1;
                laneOf_[k] = -2;
                continue;
            }
            // Its preparation waits for every earlier item to finish.
            if (Barrier(k) && (running_ > 0 || done < k))
                break;
            if (config_.ahead) {
                std::unique_lock<std::mutex> lock(mutex_);
                if (k == next && turn_ != k) {
                    turn_ = k;
                    changed_.notify_all();
                }
                if (!ready_[k] && (k != next || running_ > 0))
                    break;  // later ones are not prepared either
                while (!ready_[k]) {
                    if (changed_.wait_for(lock, std::chrono::milliseconds(50),
                                          [&] { return ready_[k] != 0; }))
                        break;
                    // Keeps the window painted and the Cancel button heard meanwhile.
                    lock.unlock();
                    if (hooks_.advance(0))
                        return false;
                    lock.lock();
                }
                readySeen = readyCount_;
                if (!hooks_.preparedOk(k)) {
                    lock.unlock();
                    return StartItem(k);  // reports the failure
                }
                if (running_ > 0 || done < k) {
                    // Waits for the earlier items it meets, started or not.
                    const Rect mine = hooks_.reach(k);
                    bool blocked = mine.IsEmpty();
                    for (std::size_t j = done; j < k && !blocked; ++j) {
                        if (finished_[j])
                            continue;
                        if (started_[j]) {
                            blocked = Meets(reach_[j], mine);
                            continue;
                        }
                        blocked = !ready_[j] || !hooks_.preparedOk(j) || Meets(hooks_.reach(j), mine);
                    }
                    if (blocked)
                        continue;
                }
            } else {
                hooks_.prepare(k, nullptr);
            }
            if (!StartItem(k))
                return false;
            while (next < count && started_[next])
                ++next;
        }
        while (next < count && started_[next])
            ++next;

        // Collect what has finished, in order.
        if (config_.ahead) {
            std::unique_lock<std::mutex> lock(mutex_);
            // Later items may have started before the first one not started.
            auto anyFinished = [&] {
                for (std::size_t j = done; j < count; ++j)
                    if (laneOf_[j] >= 0 && finished_[j] && !collected_[j])
                        return true;
                return false;
            };
            auto news = [&] { return anyFinished() || readyCount_ != readySeen; };
            while (running_ > 0 && !news()) {
                if (changed_.wait_for(lock, std::chrono::milliseconds(50), news))
                    break;
                lock.unlock();
                if (hooks_.advance(0))
                    return false;
                lock.lock();
            }
            // Its lane wrote the item's state before marking it finished,
            // under the lock.
            for (std::size_t j = done; j < count; ++j)
                if (laneOf_[j] >= 0 && finished_[j] && !collected_[j]) {
                    collected_[j] = 1;
                    --running_;
                }
        }
        while (done < next && collected_[done]) {
            if (!succeeded_[done])
                return false;
            if (laneOf_[done] >= 0 && hooks_.advance(laneSteps_[done]))
                return false;
            if (hooks_.placeable(done))
                hooks_.collected(done);
            ++done;
        }
        if (config_.ahead) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finishedBefore_ = done;
                turn_ = next;
                readySeen = readyCount_;
            }
            changed_.notify_all();
        }
    }
    return true;
}
