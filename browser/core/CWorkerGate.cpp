#include "CWorkerGate.h"

void CWorkerGate::SetItemsFree(bool free) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_itemsFree = free;
    }
    m_changed.notify_all();
}

void CWorkerGate::Pause() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_itemsFree = false;
    m_paused = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_passes == 0; });
}

void CWorkerGate::Resume() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_itemsFree = true;
        m_paused = false;
    }
    m_changed.notify_all();
}

void CWorkerGate::BeginPass() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_passes;
}

bool CWorkerGate::WaitForItems() {
    std::unique_lock<std::mutex> lock(m_lock);
    // A pause wins over free items: it waits for the pass to end.
    m_changed.wait(lock, [this] { return m_paused || m_itemsFree; });
    return !m_paused;
}

void CWorkerGate::EndPass() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_passes;
    }
    m_changed.notify_all();
}

bool CWorkerGate::PassRunning() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_passes > 0;
}
