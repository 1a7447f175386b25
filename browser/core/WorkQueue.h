#pragma once
// Work handed from any thread to one worker thread. The queue owns its lock
// and its wake-up, so producer and worker share nothing else.
//
// Work comes in generations: Replace and Close start a new one. The worker
// takes the generation when it starts a batch and asks IsCurrent while it
// runs (a long load polls it too), so replaced work stops at the next item or
// inside its load. Item changes that name a generation (PushFor, RemoveFor)
// are dropped once it is over, so a stale batch never adds or removes work of
// the one that replaced it.
//
// A batch starts only when the queue was woken (Push, Replace and Wake wake
// it; PushQuiet and MoveToFront do not), and Close ends the worker's wait even
// with items queued.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

template <class T>
class CWorkQueue {
public:
    using Clock = std::chrono::steady_clock;

    CWorkQueue() = default;
    CWorkQueue(const CWorkQueue&) = delete;
    CWorkQueue& operator=(const CWorkQueue&) = delete;

    // ---- producers ----

    // Appends and wakes the worker; nothing once closed.
    void Push(T item) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_closed)
                return;
            m_items.push_back(std::move(item));
            m_woken = true;
        }
        m_changed.notify_all();
    }
    // Appends without waking: the item waits for the next batch.
    void PushQuiet(T item) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_closed)
            m_items.push_back(std::move(item));
    }
    // Appends unless the item is queued already; false when it was not added.
    bool PushUnique(const T& item) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_closed || std::find(m_items.begin(), m_items.end(), item) != m_items.end())
                return false;
            m_items.push_back(item);
            m_woken = true;
        }
        m_changed.notify_all();
        return true;
    }
    // Appends without waking, only while generation is current.
    bool PushFor(uint64_t generation, T item) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed || generation != m_generation)
            return false;
        m_items.push_back(std::move(item));
        return true;
    }
    // All work replaced by items in a new generation; wakes the worker.
    // Returns the new generation.
    uint64_t Replace(std::vector<T> items) {
        uint64_t generation;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_closed)
                return m_generation;
            m_items.assign(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
            generation = ++m_generation;
            m_woken = true;
        }
        m_changed.notify_all();
        return generation;
    }
    // Each item leaves its first place and all go to the head, in their
    // order (those not queued are added); wakes nothing.
    void MoveToFront(const std::vector<T>& items) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed)
            return;
        for (const T& item : items) {
            const auto it = std::find(m_items.begin(), m_items.end(), item);
            if (it != m_items.end())
                m_items.erase(it);
        }
        m_items.insert(m_items.begin(), items.begin(), items.end());
    }
    bool MoveToEnd(const T& item) {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto it = std::find(m_items.begin(), m_items.end(), item);
        if (it == m_items.end())
            return false;
        T moved = std::move(*it);
        m_items.erase(it);
        m_items.push_back(std::move(moved));
        return true;
    }
    // Removes the first occurrence.
    bool Remove(const T& item) {
        bool removed;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            removed = EraseFirst(item);
        }
        m_changed.notify_all();
        return removed;
    }
    // Lets the worker start a batch.
    void Wake() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_woken = true;
        }
        m_changed.notify_all();
    }
    // Ends the worker's waits and the running batch's generation; later
    // work is ignored. Items still queued stay (for inspection).
    void Close() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_closed = true;
            ++m_generation;
        }
        m_changed.notify_all();
    }
    // Takes work again after Close (a process that runs more than one
    // application object).
    void Reopen() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = false;
    }

    // ---- the worker ----

    // Waits until woken or closed. Woken: the batch is marked running and
    // its generation returned. Closed: nothing.
    std::optional<uint64_t> WaitBatch() {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_closed || m_woken; });
        if (m_closed)
            return std::nullopt;
        m_woken = false;
        m_busy = true;
        return m_generation.load();
    }
    // The batch has ended; idle waiters are told.
    void EndBatch() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_busy = false;
        }
        m_changed.notify_all();
    }
    // The head item of the generation, left in place; nothing when the queue
    // is empty or the generation is over.
    std::optional<T> FrontFor(uint64_t generation) const {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_items.empty() || generation != m_generation)
            return std::nullopt;
        return m_items.front();
    }
    // Takes the head item of the generation.
    std::optional<T> PopFor(uint64_t generation) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_items.empty() || generation != m_generation)
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }
    // Removes the first occurrence while generation is current.
    bool RemoveFor(uint64_t generation, const T& item) {
        bool removed;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            removed = generation == m_generation && EraseFirst(item);
        }
        m_changed.notify_all();
        return removed;
    }
    // Without the lock: cheap enough for a load's progress calls.
    bool IsCurrent(uint64_t generation) const { return generation == m_generation.load(); }

    // ---- observers ----

    uint64_t Generation() const { return m_generation.load(); }
    std::vector<T> Items() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return {m_items.begin(), m_items.end()};
    }
    bool Contains(const T& item) const {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::find(m_items.begin(), m_items.end(), item) != m_items.end();
    }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_items.empty();
    }
    bool Closed() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_closed;
    }
    // Nothing queued, no batch running and none about to start.
    bool Idle() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return IdleLocked();
    }
    // Waits for Idle; false when until passed first.
    bool WaitIdleUntil(Clock::time_point until) const {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_until(lock, until, [this] { return IdleLocked(); });
    }

private:
    bool IdleLocked() const { return m_items.empty() && !m_busy && (!m_woken || m_closed); }
    bool EraseFirst(const T& item) {
        const auto it = std::find(m_items.begin(), m_items.end(), item);
        if (it == m_items.end())
            return false;
        m_items.erase(it);
        return true;
    }

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::deque<T> m_items;
    // Written under the lock, read without it by IsCurrent.
    std::atomic<uint64_t> m_generation{0};
    bool m_woken = false;
    bool m_busy = false;
    bool m_closed = false;
};
