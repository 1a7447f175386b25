#pragma once
// The browser's own progress object for file operations it runs: a cancel
// flag that a drop or a delete raises to stop a picture read in progress,
// and clears again once the operation is over.

#include <atomic>

#include "Formgate.h"

class CThumbsBrowserProgress : public CProgress {
public:
    void Begin() override { m_bCancel = false; }
    void End() override {}
    // Non-zero while no cancel was asked for.
    int Step(int /*done*/, int /*total*/) override { return m_bCancel ? 0 : 1; }

    void Cancel() { m_bCancel = true; }
    // Waits 100 ms, so a reader still polling sees the cancel, then clears it.
    void ClearCancel();
    bool IsCancelled() const { return m_bCancel; }

private:
    std::atomic<bool> m_bCancel{false};
};
