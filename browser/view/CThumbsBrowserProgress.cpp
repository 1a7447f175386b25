#include "CThumbsBrowserProgress.h"

#include <chrono>
#include <thread>

void CThumbsBrowserProgress::ClearCancel() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_bCancel = false;
}
