#pragma once
// The hand-off between a browser's user-interface thread and its rescan
// pass, which runs on the folder monitor's thread: the pass waits before
// each file while a command has the items, and a pause ends the pass and
// returns once it has ended. One lock and one condition hold all three
// states, so no wake-up is lost between them.

#include <condition_variable>
#include <mutex>

class CWorkerGate {
public:
    // The items are taken by a command (the pass waits) or free again.
    void SetItemsFree(bool free);
    // Ends a running pass at its next file and waits until none runs; passes
    // started before Resume end at once.
    void Pause();
    void Resume();

    // The pass's side.
    void BeginPass();
    // Waits until the items are free; false when a pause asks the pass to end.
    bool WaitForItems();
    void EndPass();

    bool PassRunning() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_itemsFree = true;
    bool m_paused = false;
    int m_passes = 0;
};
