#pragma once
// An auto-reset event: Set lets one wait through and clears itself there.
// The browser's workers wait on several at once (work or quit, items free or
// stop requested); events waited on together are made on one Hub.

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>

class CEvent {
public:
    // Events that are waited on together share one lock and condition.
    struct Hub {
        std::mutex lock;
        std::condition_variable changed;
    };

    CEvent() : m_hub(std::make_shared<Hub>()) {}
    explicit CEvent(std::shared_ptr<Hub> hub) : m_hub(std::move(hub)) {}
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    // True once the event was set (and clears it); false after the time-out.
    bool Wait(std::chrono::milliseconds timeout = Infinite());
    // True when set, without clearing it.
    bool IsSet() const;

    // The index of the first set event among them (clearing that one), or -1
    // after the time-out. Every event given must be made on the same hub.
    static int WaitAny(std::initializer_list<CEvent*> events, std::chrono::milliseconds timeout = Infinite());

    static constexpr std::chrono::milliseconds Infinite() { return std::chrono::milliseconds::max(); }

private:
    std::shared_ptr<Hub> m_hub;
    bool m_set = false;
};
