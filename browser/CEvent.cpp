#include "CEvent.h"

void CEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> lock(m_hub->lock);
        m_set = true;
    }
    m_hub->changed.notify_all();
}

void CEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(m_hub->lock);
    m_set = false;
}

bool CEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_hub->lock);
    return m_set;
}

bool CEvent::Wait(std::chrono::milliseconds timeout) {
    return WaitAny({this}, timeout) == 0;
}

int CEvent::WaitAny(std::initializer_list<CEvent*> events, std::chrono::milliseconds timeout) {
    Hub& hub = *(*events.begin())->m_hub;
    std::unique_lock<std::mutex> lock(hub.lock);
    CEvent* found = nullptr;
    int index = -1;
    auto anySet = [&] {
        int i = 0;
        for (CEvent* e : events) {
            if (e->m_set) {
                found = e;
                index = i;
                return true;
            }
            ++i;
        }
        return false;
    };
    if (timeout == Infinite())
        hub.changed.wait(lock, anySet);
    else if (!hub.changed.wait_for(lock, timeout, anySet))
        return -1;
    found->m_set = false;
    return index;
}
